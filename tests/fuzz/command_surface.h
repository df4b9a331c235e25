// What the three ::model commands must do with any argument list, checked
// against live GL state. Shared by the seeded GoogleTest fuzzer and the
// libFuzzer target so both hold the commands to the same rules.
#ifndef MORVAKINE_TESTS_FUZZ_COMMAND_SURFACE_H
#define MORVAKINE_TESTS_FUZZ_COMMAND_SURFACE_H

#include <GL/gl.h>
#include <tcl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace surface {

enum class Command { kSetup, kResize, kRedraw };

inline const char *command_name(Command command) {
    switch (command) {
    case Command::kSetup:
        return "::model::setup";
    case Command::kResize:
        return "::model::resize";
    case Command::kRedraw:
        return "::model::redraw";
    }
    return "";
}

// Messages a caller sees; Tcl's own are those of Tcl 8.6.
const char kWrongArgs[] = "wrong # args: should be \"width height\"";
const char kBadSize[] = "bad size: width and height must be at least 1";
const char kResultSentinel[] = "result before the call";
const double kFieldOfViewDeg = 30.0;
const double kPi = 3.141592653589793;
const double kMatrixTolerance = 1e-6;  // relative: GL keeps matrices as float

enum class IntKind { kNotInteger, kTooLarge, kValue };

struct ParsedInt {
    IntKind kind;
    int value;  // valid for kValue
};

inline bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// Tcl 8.6 reads "nan", optionally with a parenthesised payload of 1 to 13
// hex digits (blanks allowed among them), as a number, and then calls it
// an integer too large to represent.
inline bool is_tcl_nan(const std::string &body) {
    if (body.size() < 3 || (body[0] | 0x20) != 'n' || (body[1] | 0x20) != 'a' ||
        (body[2] | 0x20) != 'n') {
        return false;
    }
    if (body.size() == 3) {
        return true;
    }
    if (body[3] != '(' || body.back() != ')') {
        return false;
    }
    int digits = 0;
    for (size_t i = 4; i + 1 < body.size(); ++i) {
        if (is_hex_digit(body[i])) {
            ++digits;
        } else if (std::strchr(" \t\n\v\f\r", body[i]) == nullptr ||
                   body[i] == '\0') {
            return false;
        }
    }
    return digits >= 1 && digits <= 13;
}

// Reads `text` the way Tcl_GetIntFromObj does, written out independently:
// optional ASCII white space around, optional sign, then decimal, 0x hex,
// 0o or leading-zero octal, or 0b binary digits. Magnitudes up to
// UINT32_MAX are accepted and wrap to int, as Tcl does; beyond that the
// value is too large. Tcl's NaN quirk is kept (see is_tcl_nan).
inline ParsedInt parse_tcl_int(const std::string &text) {
    const char *kSpace = " \t\n\v\f\r";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) {
        return {IntKind::kNotInteger, 0};
    }
    const size_t last = text.find_last_not_of(kSpace);
    std::string body = text.substr(first, last - first + 1);
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.erase(0, 1);
    }
    if (is_tcl_nan(body)) {
        return {IntKind::kTooLarge, 0};
    }
    unsigned base = 10;
    if (body.size() >= 2 && body[0] == '0') {
        const char marker = static_cast<char>(body[1] | 0x20);
        if (marker == 'x' || marker == 'o' || marker == 'b') {
            base = marker == 'x' ? 16 : marker == 'o' ? 8 : 2;
            body.erase(0, 2);
        } else {
            base = 8;
        }
    }
    if (body.empty()) {
        return {IntKind::kNotInteger, 0};
    }
    const std::uint64_t kLimit = 0xFFFFFFFFull;
    std::uint64_t magnitude = 0;
    bool too_large = false;
    for (const char c : body) {
        unsigned digit = 99;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
        }
        if (digit >= base) {
            return {IntKind::kNotInteger, 0};
        }
        if (!too_large) {
            magnitude = magnitude * base + digit;
            too_large = magnitude > kLimit;
        }
    }
    if (too_large) {
        return {IntKind::kTooLarge, 0};
    }
    const std::uint32_t bits = static_cast<std::uint32_t>(
        negative ? (~magnitude + 1) : magnitude);
    int value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return {IntKind::kValue, value};
}

struct Expected {
    bool ok;
    std::string message;  // the error result when !ok, unless...
    int bad_arg;          // ...Tcl's conversion of this argument failed
    int width, height;    // the size set when a resize succeeds
};

// Only resize looks at its arguments: exactly two integers, both at least
// 1. Width is converted before height, so a bad width is reported first.
inline Expected expected_result(Command command,
                                const std::vector<std::string> &args) {
    if (command != Command::kResize) {
        return {true, "", -1, 0, 0};
    }
    if (args.size() != 2) {
        return {false, kWrongArgs, -1, 0, 0};
    }
    int size[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const ParsedInt parsed = parse_tcl_int(args[static_cast<size_t>(i)]);
        if (parsed.kind != IntKind::kValue) {
            return {false, "", i, 0, 0};
        }
        size[i] = parsed.value;
    }
    if (size[0] < 1 || size[1] < 1) {
        return {false, kBadSize, -1, 0, 0};
    }
    return {true, "", -1, size[0], size[1]};
}

// The message Tcl itself gives when `text` is no int: the handler must
// pass it on unchanged (whatever Tcl makes of odd UTF-8 in it).
inline std::string tcl_conversion_message(Tcl_Interp *interp,
                                          const std::string &text) {
    Tcl_Obj *obj = Tcl_NewStringObj(text.data(), static_cast<int>(text.size()));
    Tcl_IncrRefCount(obj);
    int value = 0;
    std::string message = "(Tcl converted it)";
    if (Tcl_GetIntFromObj(interp, obj, &value) != TCL_OK) {
        message = Tcl_GetStringResult(interp);
    }
    Tcl_DecrRefCount(obj);
    Tcl_ResetResult(interp);
    return message;
}

// Every piece of GL state a command may touch or must leave alone.
struct GlState {
    GLdouble projection[16], modelview[16];
    GLint viewport[4];
    GLfloat clear_color[4];
    GLint matrix_mode, modelview_depth, projection_depth;
};

inline GlState gl_state() {
    GlState state;
    glGetDoublev(GL_PROJECTION_MATRIX, state.projection);
    glGetDoublev(GL_MODELVIEW_MATRIX, state.modelview);
    glGetIntegerv(GL_VIEWPORT, state.viewport);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, state.clear_color);
    glGetIntegerv(GL_MATRIX_MODE, &state.matrix_mode);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &state.modelview_depth);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &state.projection_depth);
    return state;
}

inline bool same_bits(const void *a, const void *b, size_t size) {
    return std::memcmp(a, b, size) == 0;
}

// Field by field: the struct's padding is never written.
inline bool same_state(const GlState &a, const GlState &b) {
    return same_bits(a.projection, b.projection, sizeof a.projection) &&
           same_bits(a.modelview, b.modelview, sizeof a.modelview) &&
           same_bits(a.viewport, b.viewport, sizeof a.viewport) &&
           same_bits(a.clear_color, b.clear_color, sizeof a.clear_color) &&
           a.matrix_mode == b.matrix_mode &&
           a.modelview_depth == b.modelview_depth &&
           a.projection_depth == b.projection_depth;
}

// What a successful resize must have set, given the state before it.
inline std::string check_resized(const GlState &before, const GlState &after,
                                 const Expected &expected) {
    GLint max_viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, max_viewport);
    const GLint want_w = expected.width < max_viewport[0] ? expected.width
                                                          : max_viewport[0];
    const GLint want_h = expected.height < max_viewport[1] ? expected.height
                                                           : max_viewport[1];
    if (after.viewport[0] != 0 || after.viewport[1] != 0 ||
        after.viewport[2] != want_w || after.viewport[3] != want_h) {
        return "viewport not the requested size";
    }
    for (const GLfloat c : after.clear_color) {
        if (c != 0.0f) {
            return "clear colour not black";
        }
    }
    if (after.matrix_mode != GL_PROJECTION) {
        return "projection matrix not left current";
    }
    // gluPerspective: p[5] = cot(fov / 2), p[0] = p[5] / aspect.
    const double f = 1.0 / std::tan(kFieldOfViewDeg / 2.0 * kPi / 180.0);
    const double aspect = static_cast<double>(expected.width) /
                          static_cast<double>(expected.height);
    if (std::fabs(after.projection[5] - f) > kMatrixTolerance * f ||
        std::fabs(after.projection[0] - f / aspect) >
            kMatrixTolerance * (f / aspect)) {
        return "projection is not the 30 degree perspective for the aspect";
    }
    if (!same_bits(before.modelview, after.modelview, sizeof before.modelview) ||
        before.modelview_depth != after.modelview_depth ||
        before.projection_depth != after.projection_depth) {
        return "resize touched the model-view matrix or a stack depth";
    }
    return "";
}

// Runs one command with `args` through Tcl_EvalObjv and checks its result
// and what it left in GL. Returns an empty string when all is well, else
// what went wrong.
inline std::string run_and_check(Tcl_Interp *interp, Command command,
                                 const std::vector<std::string> &args) {
    Expected expected = expected_result(command, args);
    if (expected.bad_arg >= 0) {
        expected.message = tcl_conversion_message(
            interp, args[static_cast<size_t>(expected.bad_arg)]);
    }
    std::vector<Tcl_Obj *> objv;
    objv.push_back(Tcl_NewStringObj(command_name(command), -1));
    for (const std::string &arg : args) {
        objv.push_back(
            Tcl_NewStringObj(arg.data(), static_cast<int>(arg.size())));
    }
    for (Tcl_Obj *obj : objv) {
        Tcl_IncrRefCount(obj);
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(kResultSentinel, -1));
    const GlState before = gl_state();
    const int code =
        Tcl_EvalObjv(interp, static_cast<int>(objv.size()), objv.data(), 0);
    const GlState after = gl_state();
    const GLenum gl_error = glGetError();
    const std::string result = Tcl_GetStringResult(interp);
    for (Tcl_Obj *obj : objv) {
        Tcl_DecrRefCount(obj);
    }

    if (gl_error != GL_NO_ERROR) {
        return "GL error " + std::to_string(gl_error);
    }
    if (after.modelview_depth != before.modelview_depth) {
        return "model-view stack depth " + std::to_string(before.modelview_depth) +
               " -> " + std::to_string(after.modelview_depth);
    }
    if (code != (expected.ok ? TCL_OK : TCL_ERROR)) {
        return "code " + std::to_string(code) + ", expected " +
               (expected.ok ? "TCL_OK" : "TCL_ERROR \"" + expected.message + "\"") +
               "; result \"" + result.substr(0, 200) + "\"";
    }
    if (!expected.ok) {
        if (result != expected.message) {
            return "error message \"" + result.substr(0, 200) +
                   "\", expected \"" + expected.message.substr(0, 200) + "\"";
        }
        if (!same_state(before, after)) {
            return "GL state changed by a failing call";
        }
        return "";
    }
    // Successful commands leave the interpreter's result to the caller
    // (Tcl itself may have reset it before the call).
    if (!result.empty() && result != kResultSentinel) {
        return "result set to \"" + result.substr(0, 200) + "\"";
    }
    switch (command) {
    case Command::kSetup:
        if (!same_state(before, after)) {
            return "setup changed GL state";
        }
        return "";
    case Command::kResize:
        return check_resized(before, after, expected);
    case Command::kRedraw:
        return "";
    }
    return "";
}

}  // namespace surface

#endif
