// The captures recording, listed in the host state, and the C face.
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

bool start_capture(Capture &capture) {
    stop_capture(capture);
    const bool draws = capture.draws, alone = capture.alone;
    capture = Capture();
    capture.draws = draws;
    capture.alone = alone;
    capture.frames = 1;
    try {
        state().captures.push_back(&capture);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void next_frame(Capture &capture) { capture.frames += 1; }

void stop_capture(Capture &capture) {
    std::vector<Capture *> &recording = state().captures;
    const auto found = std::find(recording.begin(), recording.end(), &capture);
    if (found != recording.end()) {
        read_camera(capture);
        recording.erase(found);
    }
}

bool capturing() { return !state().captures.empty(); }

namespace {

// The last capture recording alone, if any.
Capture *alone() {
    const std::vector<Capture *> &recording = state().captures;
    const auto found = std::find_if(recording.rbegin(), recording.rend(),
                                    [](const Capture *c) { return c->alone; });
    return found != recording.rend() ? *found : nullptr;
}

}  // namespace

bool capture_draws() {
    const std::vector<Capture *> &recording = state().captures;
    if (const Capture *only = alone()) {
        return only->draws;
    }
    return recording.empty() || std::any_of(recording.begin(), recording.end(),
                                            [](const Capture *c) { return c->draws; });
}

void capture_primitive(int kind, double a, double b, double c) noexcept {
    if (current_context() == nullptr) {
        return;
    }
    zk_primitive primitive;
    primitive.kind = kind;
    primitive.size[0] = a;
    primitive.size[1] = b;
    primitive.size[2] = c;
    std::copy(state().color, state().color + 3, primitive.color);
    glGetDoublev(GL_MODELVIEW_MATRIX, primitive.modelview);
    Capture *const only = alone();
    for (Capture *capture : state().captures) {
        if (only != nullptr && capture != only) {
            continue;
        }
        primitive.frame = capture->frames - 1;
        read_camera(*capture);
        try {
            capture->primitives.push_back(primitive);
        } catch (const std::bad_alloc &) {
            capture->out_of_memory = true;
        }
    }
}

}  // namespace zelkori

// A capture made through the C face.
struct zk_capture {
    zelkori::Capture capture;
};

extern "C" {

zk_capture *zk_capture_start(int flags) {
    zk_capture *made = new (std::nothrow) zk_capture;
    if (made != nullptr) {
        made->capture.draws = !(flags & ZK_CAPTURE_QUIET);
        made->capture.alone = (flags & ZK_CAPTURE_QUIET) != 0;
    }
    if (made != nullptr && !zelkori::start_capture(made->capture)) {
        delete made;
        return nullptr;
    }
    return made;
}

void zk_capture_frame(zk_capture *capture) { zelkori::next_frame(capture->capture); }

void zk_capture_stop(zk_capture *capture) { zelkori::stop_capture(capture->capture); }

int zk_capture_at(const zk_capture *capture, int index, zk_primitive *out) {
    const std::vector<zk_primitive> &primitives = capture->capture.primitives;
    if (index < 0 || static_cast<size_t>(index) >= primitives.size() || out == nullptr) {
        return 0;
    }
    *out = primitives[static_cast<size_t>(index)];
    return 1;
}

void zk_capture_free(zk_capture *capture) {
    if (capture != nullptr) {
        zelkori::stop_capture(capture->capture);
        delete capture;
    }
}

}  // extern "C"
