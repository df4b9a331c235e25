// Seeded random argument lists for the three ::model commands, run in a
// real offscreen context with the stand-in host library, each call checked
// by command_surface.h. Set MORVAKINE_FUZZ_SEED to replay a failing seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "command_surface.h"
#include "plugin/morvakine.h"
#include "zelkori/core.h"

namespace {

const std::uint32_t kDefaultSeed = 20261209;
const int kCalls = 12000;
const int kMaxArgs = 6;
const int kMaxLongArg = 100000;   // bytes
const int kMaxLongDigits = 3000;
// Small, so that even a resize to the largest viewport renders cheaply:
// drawing is clipped to the framebuffer.
const int kSurfaceWidth = 32, kSurfaceHeight = 24;
// Extra model-view levels a host may hold when it calls redraw; the frame
// pushes up to 12 more and GL guarantees 32.
const int kMaxHostDepth = 8;
const int kControlIds[] = {1, 2, 3, 10, 11, 12, 13, 14};

// Integers at and around every limit Tcl or int could trip over.
const long double kEdges[] = {
    0, 1, -1, 2, 16384, 16385, 32767, 32768, 65535, 65536,
    2147483647.0L, 2147483648.0L, -2147483648.0L, -2147483649.0L,
    4294967295.0L, 4294967296.0L, -4294967295.0L, -4294967296.0L,
    9223372036854775807.0L, 9223372036854775808.0L,
    -9223372036854775808.0L, 18446744073709551615.0L,
    18446744073709551616.0L, 1e30L};

const char *const kOddStrings[] = {
    "", " ", "\t", "-", "+", "0x", "0b", "0o", "08", "09", "0b2", "0o8",
    "1.0", "1.", ".5", "1e3", "-2.5e-3", "inf", "-Inf", "NaN", "-nan(7f)", "0x1p3",
    "1 2", "1,2", "12px", "abc", "true", "640x480", "{1}", "[1]", "$x",
    "1_000", "0d12", "\xc3\xa9t\xc3\xa9", "\xef\xbc\x91\xef\xbc\x92",
    "\xd9\xa3", "\xf0\x9f\x98\x80", "12\xc2\xa0", "\xc2\xa0" "12", "\\", "\"",
    "-0", "+0", "00", "0X1F", "-0b1", "+0o17", "\v12\f", "\r\n7\n",
};

using Engine = std::mt19937;

int pick(Engine &engine, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(engine);
}

// An integer in decimal, hex, octal or binary, with an optional sign.
std::string spell_integer(Engine &engine, long double value) {
    const bool negative = value < 0;
    const long double magnitude_ld = negative ? -value : value;
    std::string digits;
    if (magnitude_ld >= 18446744073709551616.0L) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.0Lf", magnitude_ld);
        digits = buffer;
    } else {
        const auto magnitude = static_cast<unsigned long long>(magnitude_ld);
        char buffer[80];
        switch (pick(engine, 0, 5)) {
        case 0:
            std::snprintf(buffer, sizeof buffer, "0x%llx", magnitude);
            break;
        case 1:
            std::snprintf(buffer, sizeof buffer, "0X%llX", magnitude);
            break;
        case 2:
            std::snprintf(buffer, sizeof buffer, "%s%llo",
                          pick(engine, 0, 1) ? "0o" : "0", magnitude);
            break;
        case 3: {
            std::string bits;
            for (unsigned long long m = magnitude; m != 0; m >>= 1) {
                bits.insert(bits.begin(), static_cast<char>('0' + (m & 1)));
            }
            std::snprintf(buffer, sizeof buffer, "0b%s",
                          bits.empty() ? "0" : bits.c_str());
            break;
        }
        default:
            std::snprintf(buffer, sizeof buffer, "%llu", magnitude);
        }
        digits = buffer;
    }
    if (negative) {
        return "-" + digits;
    }
    return pick(engine, 0, 4) == 0 ? "+" + digits : digits;
}

std::string random_argument(Engine &engine) {
    switch (pick(engine, 0, 9)) {
    case 0:
    case 1:  // the common case: a plausible window size
        return std::to_string(pick(engine, 1, 2000));
    case 2:
        return spell_integer(engine, kEdges[pick(engine, 0, sizeof kEdges /
                                                                sizeof kEdges[0] - 1)]);
    case 3: {  // near a limit, either side
        const long double edge =
            kEdges[pick(engine, 0, sizeof kEdges / sizeof kEdges[0] - 1)];
        return spell_integer(engine, edge + pick(engine, -2, 2));
    }
    case 4:
        return spell_integer(engine, pick(engine, INT_MIN, INT_MAX));
    case 5: {  // white space around is fine, inside is not
        const char *const space[] = {" ", "\t", "\n", "  "};
        std::string text = std::to_string(pick(engine, -5, 3000));
        if (pick(engine, 0, 2) == 0) {
            text.insert(static_cast<size_t>(pick(engine, 0, static_cast<int>(text.size()))), " ");
        }
        return space[pick(engine, 0, 3)] + text + space[pick(engine, 0, 3)];
    }
    case 6: {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*g", pick(engine, 1, 17),
                      std::uniform_real_distribution<double>(-1e10, 1e10)(engine));
        return buffer;
    }
    case 7:
        return kOddStrings[pick(engine, 0, sizeof kOddStrings / sizeof kOddStrings[0] - 1)];
    case 8: {  // very long: zero-padded octal stays valid, the rest do not
        const int length = pick(engine, 100, kMaxLongArg);
        // Tcl reads long digit strings as bignums in quadratic time.
        const int digits = std::min(length, kMaxLongDigits);
        switch (pick(engine, 0, 3)) {
        case 0:
            return std::string(static_cast<size_t>(digits), '0') + "17";
        case 1:
            return std::string(static_cast<size_t>(digits), '9');
        case 2:
            return std::string(static_cast<size_t>(length), 'x');
        default: {
            std::string text;
            while (text.size() < static_cast<size_t>(length)) {
                text += "\xc3\xa9";
            }
            return text;
        }
        }
    }
    default: {  // printable junk
        std::string text(static_cast<size_t>(pick(engine, 1, 12)), ' ');
        for (char &c : text) {
            c = static_cast<char>(pick(engine, 32, 126));
        }
        return text;
    }
    }
}

std::uint32_t fuzz_seed() {
    const char *text = std::getenv("MORVAKINE_FUZZ_SEED");
    return text != nullptr ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0))
                           : kDefaultSeed;
}

std::string describe(surface::Command command, const std::vector<std::string> &args) {
    std::string text = surface::command_name(command);
    for (const std::string &arg : args) {
        text += " {" + (arg.size() > 40 ? arg.substr(0, 40) + "...(" +
                                              std::to_string(arg.size()) + " bytes)"
                                        : arg) + "}";
    }
    return text;
}

class CommandFuzz : public ::testing::Test {
protected:
    void SetUp() override {
        const char *error = "";
        ASSERT_TRUE(zk_offscreen_create(kSurfaceWidth, kSurfaceHeight, &error)) << error;
        interp_ = Tcl_CreateInterp();
        ASSERT_EQ(TCL_OK, Morvakine_Init(interp_));
    }
    void TearDown() override {
        if (interp_ != nullptr) {
            Tcl_DeleteInterp(interp_);
        }
        zk_controls_clear();
        zk_offscreen_destroy();
    }
    Tcl_Interp *interp_ = nullptr;
};

TEST_F(CommandFuzz, RandomArgumentListsKeepEveryRule) {
    const std::uint32_t seed = fuzz_seed();
    SCOPED_TRACE("MORVAKINE_FUZZ_SEED=" + std::to_string(seed));
    Engine engine(seed);
    int counts[3][2] = {};  // [command][failed]
    for (int call = 0; call < kCalls; ++call) {
        // The host changes the clock and the controls between calls.
        zk_clock_set(std::uniform_real_distribution<double>(-50.0, 500.0)(engine));
        if (pick(engine, 0, 3) == 0) {
            const int id = kControlIds[pick(engine, 0, 7)];
            zk_control_set(id, std::uniform_real_distribution<double>(-400.0, 400.0)(engine));
        }
        const auto command = static_cast<surface::Command>(pick(engine, 0, 2));
        std::vector<std::string> args(static_cast<size_t>(pick(engine, 0, kMaxArgs)));
        // Resize gets two arguments most of the time so that the
        // conversions, not just the count check, are exercised.
        if (command == surface::Command::kResize && pick(engine, 0, 3) != 0) {
            args.resize(2);
        }
        for (std::string &arg : args) {
            arg = random_argument(engine);
        }
        const int host_depth = pick(engine, 0, kMaxHostDepth);
        glMatrixMode(GL_MODELVIEW);
        for (int level = 0; level < host_depth; ++level) {
            glPushMatrix();
        }
        SCOPED_TRACE("call " + std::to_string(call) + ": " + describe(command, args));
        const std::string fault = surface::run_and_check(interp_, command, args);
        ASSERT_EQ("", fault);
        glMatrixMode(GL_MODELVIEW);
        for (int level = 0; level < host_depth; ++level) {
            glPopMatrix();
        }
        ASSERT_EQ(static_cast<GLenum>(GL_NO_ERROR), glGetError());
        const bool failed = surface::expected_result(command, args).ok == false;
        ++counts[static_cast<int>(command)][failed ? 1 : 0];
    }
    std::printf("fuzz: seed %u, %d calls: setup %d, redraw %d, resize %d ok + %d refused\n",
                seed, kCalls, counts[0][0], counts[2][0], counts[1][0], counts[1][1]);
    EXPECT_GT(counts[1][0], kCalls / 20);
    EXPECT_GT(counts[1][1], kCalls / 20);
}

// The oracle itself against cases whose meaning in Tcl 8.6 was checked by
// hand; without this a wrong oracle could agree with a wrong handler.
TEST(TclIntOracle, ReadsIntegersAsTclDoes) {
    using surface::IntKind;
    struct Case {
        const char *text;
        IntKind kind;
        int value;
    } const cases[] = {
        {"4294967295", IntKind::kValue, -1},
        {"-4294967295", IntKind::kValue, 1},
        {"4294967296", IntKind::kTooLarge, 0},
        {"2147483648", IntKind::kValue, INT_MIN},
        {" 12 ", IntKind::kValue, 12},
        {"\t0x1F\n", IntKind::kValue, 31},
        {"\v12\f", IntKind::kValue, 12},
        {"010", IntKind::kValue, 8},
        {"08", IntKind::kNotInteger, 0},
        {"0o17", IntKind::kValue, 15},
        {"0b101", IntKind::kValue, 5},
        {"-0b1", IntKind::kValue, -1},
        {"0d12", IntKind::kNotInteger, 0},
        {"0x", IntKind::kNotInteger, 0},
        {"- 1", IntKind::kNotInteger, 0},
        {"1e3", IntKind::kNotInteger, 0},
        {"", IntKind::kNotInteger, 0},
        {"99999999999999999999999999", IntKind::kTooLarge, 0},
        {"12\xc2\xa0", IntKind::kNotInteger, 0},
        {" -NaN ", IntKind::kTooLarge, 0},
        {"nan( 1 f)", IntKind::kTooLarge, 0},
        {"nan(00000000000001)", IntKind::kNotInteger, 0},
        {"NaN()", IntKind::kNotInteger, 0},
        {"inf", IntKind::kNotInteger, 0},
    };
    for (const Case &c : cases) {
        const surface::ParsedInt parsed = surface::parse_tcl_int(c.text);
        EXPECT_EQ(c.kind, parsed.kind) << c.text;
        if (c.kind == IntKind::kValue) {
            EXPECT_EQ(c.value, parsed.value) << c.text;
        }
    }
}

}  // namespace
