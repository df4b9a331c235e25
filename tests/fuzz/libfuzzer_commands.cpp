// libFuzzer over the ::model command surface: input bytes become one call
// (command, the host's model-view depth and clock, then arguments split at
// NUL bytes) checked by the same rules as the seeded fuzz test. Any broken
// rule aborts with the rule and the call.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_surface.h"
#include "plugin/morvakine.h"
#include "zelkori/core.h"

namespace {

const int kSurfaceWidth = 32, kSurfaceHeight = 24;
const int kMaxArgs = 6;
const int kMaxHostDepth = 8;        // see fuzz_commands.cpp
const double kClockSecondsPerStep = 2.5;  // one signed input byte

Tcl_Interp *g_interp = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *error = "";
    if (!zk_offscreen_create(kSurfaceWidth, kSurfaceHeight, &error)) {
        std::fprintf(stderr, "no offscreen context: %s\n", error);
        std::abort();
    }
    g_interp = Tcl_CreateInterp();
    Morvakine_Init(g_interp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const auto command = static_cast<surface::Command>(data[0] % 3);
    const int host_depth = data[1] % (kMaxHostDepth + 1);
    zk_clock_set(static_cast<std::int8_t>(data[2]) * kClockSecondsPerStep);
    std::vector<std::string> args;
    if (size > 3) {
        const std::string rest(reinterpret_cast<const char *>(data + 3), size - 3);
        size_t start = 0;
        while (static_cast<int>(args.size()) < kMaxArgs) {
            const size_t end = rest.find('\0', start);
            args.push_back(rest.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    glMatrixMode(GL_MODELVIEW);
    for (int level = 0; level < host_depth; ++level) {
        glPushMatrix();
    }
    const std::string fault = surface::run_and_check(g_interp, command, args);
    if (!fault.empty()) {
        std::fprintf(stderr, "%s with %zu arguments: %s\n",
                     surface::command_name(command), args.size(), fault.c_str());
        std::abort();
    }
    glMatrixMode(GL_MODELVIEW);
    for (int level = 0; level < host_depth; ++level) {
        glPopMatrix();
    }
    return 0;
}
