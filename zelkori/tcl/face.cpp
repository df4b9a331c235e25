// The host library's Tcl face, `package require zelkori`: registers the
// commands of face_controls.cpp (controls, clock, offscreen context,
// counters, framing) and face_output.cpp (saves, movies, scenes, formats).
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <initializer_list>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <string>

#include "tcl/face.h"
#include "zelkori/core.h"
#include "zelkori/output.h"

namespace zelkori {
namespace {

// std::from_chars for a double where the C++ library has it; the page's
// library does not, and there the same grammar (digits, a point, an
// exponent) is checked here and read by strtod, whose locale there is
// always "C".
std::from_chars_result read_double(const char *at, const char *end, double *out) {
#if defined(__cpp_lib_to_chars)
    return std::from_chars(at, end, *out);
#else
    auto digits = [end](const char *from) {
        while (from < end && std::isdigit(static_cast<unsigned char>(*from))) {
            ++from;
        }
        return from;
    };
    const char *stop = digits(at);
    bool any = stop > at;
    if (stop < end && *stop == '.') {
        const char *fraction = stop + 1;
        stop = digits(fraction);
        any = any || stop > fraction;
    }
    if (!any) {
        return {at, std::errc::invalid_argument};
    }
    if (stop < end && (*stop == 'e' || *stop == 'E')) {
        const char *power = stop + 1 + (stop + 1 < end && (stop[1] == '+' || stop[1] == '-'));
        const char *after = digits(power);
        stop = after > power ? after : stop;
    }
    errno = 0;
    *out = std::strtod(std::string(at, stop).c_str(), nullptr);
    return {stop, errno == ERANGE ? std::errc::result_out_of_range : std::errc()};
#endif
}

}  // namespace

// Tcl reads 010 as octal 8 and takes 0x10 or 1_0 for numbers; a number
// given to these commands is decimal, whatever its leading zeros.
int get_finite(Tcl_Interp *interp, Tcl_Obj *obj, double *out) {
    const char *text = Tcl_GetString(obj);
    const char *at = text;
    while (std::isspace(static_cast<unsigned char>(*at))) {
        ++at;
    }
    const bool negative = *at == '-';
    at += negative || *at == '+';
    const char *end = at + std::strlen(at);
    while (end > at && std::isspace(static_cast<unsigned char>(end[-1]))) {
        --end;
    }
    // from_chars takes inf and nan too, never a sign or 0x.
    const bool starts = std::isdigit(static_cast<unsigned char>(*at)) || *at == '.';
    const auto [stop, failure] = read_double(at, end, out);
    if (!starts || stop != end ||
        (failure != std::errc() && failure != std::errc::result_out_of_range)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("expected a decimal number but got \"%s\"", text));
        return TCL_ERROR;
    }
    *out = negative ? -*out : *out;
    // Out of range: Tcl's reading of it, 0 for too small, Inf for too large.
    if (failure == std::errc::result_out_of_range &&
        Tcl_GetDoubleFromObj(nullptr, obj, out) != TCL_OK) {
        *out = HUGE_VAL;
    }
    if (!std::isfinite(*out)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("expected a finite number but got \"%s\"", text));
        return TCL_ERROR;
    }
    return TCL_OK;
}

int get_bounded(Tcl_Interp *interp, Tcl_Obj *obj, double low, double high,
                double *out) {
    if (get_finite(interp, obj, out) != TCL_OK) {
        return TCL_ERROR;
    }
    if (*out < low || *out > high) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a number from %g to %g but got \"%s\"", low, high,
            Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    return TCL_OK;
}

bool get_decimal(Tcl_Obj *obj, long long low, long long high, long long *out) {
    const char *text = Tcl_GetString(obj);
    const char *at = text;
    while (std::isspace(static_cast<unsigned char>(*at))) {
        ++at;
    }
    if (*at == '+' || (*at == '-' && low < 0)) {
        ++at;
    }
    if (!std::isdigit(static_cast<unsigned char>(*at))) {
        return false;
    }
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    while (std::isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0' || errno == ERANGE || value < low || value > high) {
        return false;
    }
    *out = value;
    return true;
}

namespace {

// Every command runs through here: no C++ exception reaches Tcl.
int guarded(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    try {
        return static_cast<const FaceCommand *>(data)->proc(nullptr, interp, objc, objv);
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("not enough memory", -1));
        return TCL_ERROR;
    }
}

}  // namespace
}  // namespace zelkori

extern "C" __attribute__((visibility("default"))) int Zelkori_Init(Tcl_Interp *interp) {
    if (!zk_tcl_major_matches(interp, "libzelkori.so")) {
        return TCL_ERROR;
    }
    // The host's state (controls, clock, capture, the offscreen context)
    // is one per process, as the plug-in's calls have it: the first thread
    // to load the package has it, and any other is refused here rather
    // than failing later in GL.
    static std::atomic<Tcl_ThreadId> owner{nullptr};
    Tcl_ThreadId expected = nullptr;
    const Tcl_ThreadId self = Tcl_GetCurrentThread();
    if (!owner.compare_exchange_strong(expected, self) && expected != self) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(
            "libzelkori.so serves one thread, and another thread of this process loaded it first",
            -1));
        Tcl_SetErrorCode(interp, "ZELKORI", "THREAD", nullptr);
        return TCL_ERROR;
    }
    for (const zelkori::FaceCommand *list : {zelkori::kControlCommands, zelkori::kOutputCommands}) {
        for (const zelkori::FaceCommand *command = list; command->name != nullptr; ++command) {
            Tcl_CreateObjCommand(interp, command->name, zelkori::guarded,
                                 const_cast<zelkori::FaceCommand *>(command), nullptr);
        }
    }
    zelkori::init_controls();
    zelkori::init_output(interp);
    return Tcl_PkgProvide(interp, "zelkori", ZELKORI_VERSION);
}
