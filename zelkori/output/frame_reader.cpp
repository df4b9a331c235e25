#include "output/frame_reader.h"

#include <EGL/egl.h>
#include <GL/gl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/capture.h"
#include "core/state.h"
#include "output/pixels.h"

namespace zelkori {
namespace {

bool context_current() {
    return current_context() != nullptr;
}

// Only scenes that record without drawing are open: what is on the
// framebuffer is not the frame, and reading it fails rather than handing
// on a blank picture.
bool frame_undrawn() {
    return !capture_draws();
}

// Makes the frame drawn so far readable, finished (zk_frame_finish): the
// host's frame target, the offscreen attachment or the back buffer of a
// window before it is swapped.
void begin_read() {
    zk_frame_finish();
    GLint read_framebuffer = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read_framebuffer);
    if (read_framebuffer == 0) {
        glReadBuffer(GL_BACK);
    }
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
}

// The shared frame of this thread, if one lives, and the pixels it keeps
// (kept from frame to frame: a new buffer a frame costs more in page
// faults than the read-back it saves).
thread_local SharedFrame *tShared = nullptr;
thread_local std::vector<unsigned char> tKept;
const size_t kKeptBytes = 64u << 20;  // more is given back after each frame

bool read_gl(const void *, int width, int height, unsigned char *rgba) {
    while (glGetError() != GL_NO_ERROR) {
    }
    begin_read();
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return glGetError() == GL_NO_ERROR;
}

bool read_source(const void *source, int width, int height, unsigned char *rgba) {
    const zk_frame_source &from = *static_cast<const zk_frame_source *>(source);
    return from.read(from.data, width, height, rgba) != 0;
}

class GlReader : public FrameReader {
  public:
    bool size(int *width, int *height) const override {
        return context_current() && zk_frame_size(width, height);
    }
    bool read(int width, int height, unsigned char *rgba) const override {
        if (width < 1 || height < 1 || rgba == nullptr || !context_current() || frame_undrawn()) {
            return false;
        }
        return SharedFrame::read(width, height, rgba, read_gl, nullptr);
    }
    const char *cannot_read() const override {
        return frame_undrawn() ? "nothing is drawn while a scene records without pictures"
                               : kCannotRead;
    }
};

}  // namespace

bool UnassociatedReader::read(int width, int height, unsigned char *rgba) const {
    if (!inner_.read(width, height, rgba)) {
        return false;
    }
    unassociate(rgba, static_cast<size_t>(width) * static_cast<size_t>(height));
    return true;
}

const FrameReader &gl_frame_reader() {
    static const GlReader reader;
    return reader;
}

bool SourceReader::read(int width, int height, unsigned char *rgba) const {
    return SharedFrame::read(width, height, rgba, read_source, &source_);
}

SharedFrame::SharedFrame() : was_(tShared) { tShared = this; }

SharedFrame::~SharedFrame() {
    tShared = was_;
    if (tKept.size() > kKeptBytes) {
        std::vector<unsigned char>().swap(tKept);
    }
}

bool SharedFrame::read(int width, int height, unsigned char *rgba,
                       bool (*read_now)(const void *, int, int, unsigned char *),
                       const void *reader) {
    SharedFrame *shared = tShared;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (shared == nullptr || (shared->taken_ && (shared->width_ != width ||
                                                 shared->height_ != height))) {
        return read_now(reader, width, height, rgba);
    }
    if (!shared->taken_) {
        shared->taken_ = true;
        shared->width_ = width;
        shared->height_ = height;
        shared->ok_ = read_now(reader, width, height, rgba);
        if (shared->ok_) {
            tKept.resize(bytes);  // throws for want of memory
            std::memcpy(tKept.data(), rgba, bytes);
        }
        return shared->ok_;
    }
    if (shared->ok_) {
        std::memcpy(rgba, tKept.data(), bytes);
    }
    return shared->ok_;
}

}  // namespace zelkori

using zelkori::state;

extern "C" {

int zk_frame_size(int *width, int *height) {
    if (!zelkori::context_current()) {
        return 0;
    }
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] < 1 || viewport[3] < 1) {
        return 0;  // an empty viewport
    }
    int limit_w = viewport[2], limit_h = viewport[3];
    GLint draw_framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_framebuffer);
    const zelkori::Offscreen &offscreen = state().offscreen;
    if (const zelkori::FrameTarget *target = zelkori::frame_target()) {
        limit_w = target->width;
        limit_h = target->height;
    } else if (draw_framebuffer != 0 &&
        static_cast<unsigned>(draw_framebuffer) == offscreen.framebuffer &&
        eglGetCurrentContext() == offscreen.context) {
        limit_w = offscreen.width;
        limit_h = offscreen.height;
    } else if (draw_framebuffer == 0) {
        // A window: its drawable's size (GLX's declarations, so that
        // Xlib's headers stay out).
        using GetDisplay = void *(*)();
        using GetDrawable = unsigned long (*)();
        using QueryDrawable = void (*)(void *, unsigned long, int, unsigned *);
        const int kGlxWidth = 0x801D, kGlxHeight = 0x801E;
        auto get_display = reinterpret_cast<GetDisplay>(
            zelkori::glx_function("glXGetCurrentDisplay"));
        auto get_drawable = reinterpret_cast<GetDrawable>(
            zelkori::glx_function("glXGetCurrentDrawable"));
        auto query = reinterpret_cast<QueryDrawable>(
            zelkori::glx_function("glXQueryDrawable"));
        void *display = get_display != nullptr ? get_display() : nullptr;
        unsigned long drawable = get_drawable != nullptr ? get_drawable() : 0;
        unsigned side[2] = {0, 0};
        if (display != nullptr && drawable != 0 && query != nullptr) {
            query(display, drawable, kGlxWidth, &side[0]);
            query(display, drawable, kGlxHeight, &side[1]);
            if (side[0] > 0 && side[1] > 0) {
                limit_w = static_cast<int>(side[0]);
                limit_h = static_cast<int>(side[1]);
            }
        }
    }
    *width = std::min(viewport[2], limit_w);
    *height = std::min(viewport[3], limit_h);
    return 1;
}

}  // extern "C"
