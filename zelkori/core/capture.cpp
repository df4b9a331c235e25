// The scene capture kept in the host state, and its C face.
#include "core/capture.h"

#include <GL/gl.h>

#include <algorithm>
#include <new>

#include "core/state.h"

namespace zelkori {
namespace {

// The camera: the projection and viewport when first asked.
void read_camera(Capture &capture) {
    if (!capture.has_camera && current_context() != nullptr) {
        glGetDoublev(GL_PROJECTION_MATRIX, capture.projection);
        glGetIntegerv(GL_VIEWPORT, capture.viewport);
        capture.has_camera = true;
    }
}

}  // namespace

void capture_primitive(int kind, double a, double b, double c) noexcept {
    if (current_context() == nullptr) {
        return;
    }
    Capture &capture = state().capture;
    zk_primitive primitive;
    primitive.kind = kind;
    primitive.frame = capture.frames - 1;
    primitive.size[0] = a;
    primitive.size[1] = b;
    primitive.size[2] = c;
    std::copy(state().color, state().color + 3, primitive.color);
    glGetDoublev(GL_MODELVIEW_MATRIX, primitive.modelview);
    read_camera(capture);
    try {
        capture.primitives.push_back(primitive);
    } catch (const std::bad_alloc &) {
        capture.out_of_memory = true;
    }
}

}  // namespace zelkori

using zelkori::state;

extern "C" {

int zk_capture_start(const char **error) {
    zelkori::Capture &capture = state().capture;
    if (capture.on) {
        // One started inside another's drawing would take the outer
        // capture's primitives and stop it.
        if (error != nullptr) {
            *error = "a scene capture is already running";
        }
        return 0;
    }
    capture = zelkori::Capture();
    capture.on = true;
    capture.frames = 1;
    return 1;
}

void zk_capture_draw(int draw) {
    state().capture.draws = draw != 0;
}

void zk_capture_frame(void) {
    if (state().capture.on) {
        state().capture.frames += 1;
    }
}

void zk_capture_stop(void) {
    zelkori::Capture &capture = state().capture;
    if (capture.on) {
        zelkori::read_camera(capture);
    }
    capture.on = false;
}

int zk_capture_count(void) {
    return static_cast<int>(state().capture.primitives.size());
}

int zk_capture_at(int index, zk_primitive *out) {
    if (index < 0 || index >= zk_capture_count() || out == nullptr) {
        return 0;
    }
    *out = state().capture.primitives[static_cast<size_t>(index)];
    return 1;
}

}  // extern "C"
