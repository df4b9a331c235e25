#include "support.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "plugin/morvakine.h"
#include "zelkori/core.h"

namespace bench {
namespace {

const double kFirstFrameSeconds = 12.0;
const double kFramesPerSecond = 30.0;
const long kFramesPerRound = 1800;

Tcl_Obj *redraw_command() {
    static Tcl_Obj *command = [] {
        Tcl_Obj *made = Tcl_NewStringObj("::model::redraw", -1);
        Tcl_IncrRefCount(made);
        return made;
    }();
    return command;
}

}  // namespace

void eval(Tcl_Interp *interp, const char *script) {
    if (Tcl_Eval(interp, script) != TCL_OK) {
        std::fprintf(stderr, "%s: %s\n", script, Tcl_GetStringResult(interp));
        std::exit(1);
    }
}

Tcl_Interp *start_model(const char *argv0, int width, int height) {
    Tcl_FindExecutable(argv0);
    Tcl_Interp *interp = Tcl_CreateInterp();
    const char *error = "";
    if (!zk_offscreen_create(width, height, &error)) {
        std::fprintf(stderr, "no offscreen OpenGL context: %s\n", error);
        std::exit(1);
    }
    Morvakine_Init(interp);
    eval(interp, "::model::setup");
    resize(interp, width, height);
    return interp;
}

void resize(Tcl_Interp *interp, int width, int height) {
    const char *error = "";
    if (!zk_offscreen_create(width, height, &error)) {
        std::fprintf(stderr, "cannot resize to %dx%d: %s\n", width, height, error);
        std::exit(1);
    }
    char script[64];
    std::snprintf(script, sizeof script, "::model::resize %d %d", width, height);
    eval(interp, script);
}

void redraw(Tcl_Interp *interp) {
    Tcl_EvalObjEx(interp, redraw_command(), 0);
}

void redraw_finished(Tcl_Interp *interp) {
    redraw(interp);
    glFinish();
}

// As the host library's frame source reads (RGBA, bottom row first), then
// packed to RGB, top row first, for the encoders measured here.
std::vector<unsigned char> read_frame(int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<unsigned char> rgba(pixels * 4), rgb(pixels * 3);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    for (size_t i = 0; i < pixels; ++i) {
        const size_t x = i % width, y = height - 1 - i / width;
        std::copy_n(&rgba[(y * width + x) * 4], 3, &rgb[i * 3]);
    }
    return rgb;
}

double frame_time(long frame) {
    return kFirstFrameSeconds + static_cast<double>(frame % kFramesPerRound) / kFramesPerSecond;
}

}  // namespace bench
