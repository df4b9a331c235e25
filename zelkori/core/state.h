// The host core's state: controls, clock, meshes, capture and the offscreen
// context. The outputs keep their own (zelkori/output).
#ifndef ZELKORI_STATE_H
#define ZELKORI_STATE_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "core/capture.h"
#include "zelkori_host.h"

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

struct HostState {
    std::vector<Control> controls;  // declaration order
    zk_declare_listener listener = nullptr;
    Clock clock;
    View view;
    std::map<const void *, MeshSet> meshes;  // by GL context
    zk_stats stats = {0, 0, 0};
    float color[3] = {0, 0, 0};  // the last diffuse colour
    Capture capture;
    Offscreen offscreen;
};

HostState &state();

// The current GL context (context.cpp; the page has its own); null when
// none is current.
const void *current_context();

// A GLX function by name where the process has loaded GLX (a window's
// widget links it), else null (context.cpp).
void *glx_function(const char *name);

}  // namespace zelkori

#endif
