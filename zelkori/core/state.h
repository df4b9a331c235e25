// The host core's state: controls, clock, meshes, the captures recording
// and the offscreen context. The outputs keep their own (zelkori/output),
// their captures included.
#ifndef ZELKORI_STATE_H
#define ZELKORI_STATE_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "core/capture.h"
#include "host/zelkori.h"
#include "zelkori/capture.h"
#include "zelkori/core.h"

namespace zelkori {

struct Control {
    int id = 0;
    bool is_checkbox = false;
    std::string label;
    double low = 0, high = 0, step = 0, initial = 0;
    double value = 0;
};

struct Clock {
    double base_seconds = 0.0;  // clock reading at `anchor`
    std::chrono::steady_clock::time_point anchor;
    bool playing = false;
    double speed = 1.0;
};

// Display lists of the unit meshes, one set per GL context.
struct MeshSet {
    unsigned sphere_base = 0;    // first list; one per level
    unsigned cylinder_base = 0;  // first list; one per level
    unsigned long long compiled = 0;  // a bit per list, set once compiled
};

// The framing last applied around the plug-in's projection.
struct View {
    double zoom = 1.0, x = 0.0, y = 0.0;
};

struct Offscreen {
    void *display = nullptr;  // EGLDisplay
    void *context = nullptr;  // EGLContext
    unsigned framebuffer = 0, color = 0, depth = 0;
    int width = 0, height = 0;
};

// Where a context's frames are drawn when the host, not the window or the
// offscreen context, decides it (frame.cpp): a multisampled framebuffer
// resolved into `target` (0: a window's back buffer), and for a window
// where that cannot be, a framebuffer of its own with an alpha channel,
// copied to the back buffer once the frame is finished.
struct FrameTarget {
    unsigned multi = 0, multi_color = 0, multi_depth = 0;  // samples > 1
    // multi_color a texture of color_samples a pixel, not a renderbuffer
    bool color_texture = false;
    int color_samples = 0;
    // The program that resolves such a texture, for resolver_samples (0:
    // none yet; ~0u: the driver cannot, blits resolve).
    unsigned resolver = 0;
    int resolver_samples = 0;
    unsigned own = 0, own_color = 0, own_depth = 0;        // a window's, when needed
    unsigned target = 0;  // the framebuffer the finished frame is read from
    bool window = false;  // the frame goes on to the back buffer
    int width = 0, height = 0, samples = 1;
};

// What shows where nothing is drawn: the frame is drawn over transparent
// black and this goes under it when the frame is finished.
struct Background {
    float rgb[3] = {0, 0, 0};
    bool transparent = false;
};

struct HostState {
    std::vector<Control> controls;  // declaration order
    zk_declare_listener listener = nullptr;
    Clock clock;
    View view;
    std::map<const void *, MeshSet> meshes;  // by GL context
    zk_stats stats = {0, 0, 0};
    float color[3] = {0, 0, 0};  // the last diffuse colour
    std::vector<Capture *> captures;  // those recording, each its maker's
    Offscreen offscreen;
    std::map<const void *, FrameTarget> targets;  // by GL context
    Background background;
};

HostState &state();

// The current GL context (context.cpp; the page has its own); null when
// none is current.
const void *current_context();

// A GLX function by name where the process has loaded GLX (a window's
// widget links it), else null (context.cpp).
void *glx_function(const char *name);

// The current context's frame target (frame.cpp) when what is drawn goes
// into it; null when the plug-in draws straight into the offscreen
// framebuffer or a window.
const FrameTarget *frame_target();
// Deletes `context`'s frame target, with that context current.
void release_frame_target(const void *context);
// Makes the buffers of a frame target for the current context (its
// `target` the offscreen framebuffer unless `window`); false, with
// nothing made, when they cannot be. install_frame_target puts it in
// place of the context's old one, and bind() binds it to draw into.
bool make_frame_target(int width, int height, int samples, bool window, FrameTarget *made);
void install_frame_target(const void *context, FrameTarget made);
void bind(const FrameTarget &target);
// The most samples a pixel the current context draws with (1 when none is
// current).
int samples_max();

}  // namespace zelkori

#endif
