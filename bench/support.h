// Shared by the benchmarks: an offscreen GL context and an interpreter in
// which the model's commands (linked in, not loaded) are registered.
#ifndef MORVAKINE_BENCH_SUPPORT_H
#define MORVAKINE_BENCH_SUPPORT_H

#include <tcl.h>

#include <vector>

namespace bench {

// Makes a width x height offscreen context current and an interpreter with
// ::model::* registered, controls declared and the projection fitted.
// Leaves the process with a message when either cannot be made.
Tcl_Interp *start_model(const char *argv0, int width, int height);
// Resizes the offscreen framebuffer and refits the projection.
void resize(Tcl_Interp *interp, int width, int height);
// Evaluates a script that must succeed.
void eval(Tcl_Interp *interp, const char *script);
// Draws one frame through ::model::redraw.
void redraw(Tcl_Interp *interp);
// Draws and waits until the rasteriser is done with the frame.
void redraw_finished(Tcl_Interp *interp);
// The current frame as RGB, top row first.
std::vector<unsigned char> read_frame(int width, int height);

// Clock times of a benchmark's frames: 30 per second from 12 s, so that
// all five arms move, over one full minute of animation and round again.
double frame_time(long frame);

}  // namespace bench

#endif
