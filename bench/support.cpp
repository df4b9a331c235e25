#include "support.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "plugin/morvakine.h"
#include "zelkori/zelkori_host.h"

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

std::vector<unsigned char> read_frame(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    zk_read_frame(width, height, rgb.data());
    return rgb;
}

double frame_time(long frame) {
    return kFirstFrameSeconds + static_cast<double>(frame % kFramesPerRound) / kFramesPerSecond;
}

}  // namespace bench
