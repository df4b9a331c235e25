// Offscreen GL: a desktop OpenGL context on Mesa's surfaceless EGL platform,
// drawing into a framebuffer object (there is no default framebuffer).
#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>

#include <algorithm>
#include <memory>
#include <new>

#include "pixels.h"
#include "state.h"

namespace zelkori {
namespace {

const int kMaxSide = 16384;  // beyond any renderbuffer Mesa allows here
const size_t kStripBytes = 256 * 1024;  // RGBA read at a time for RGB frames

void release_framebuffer(Offscreen &offscreen) {
    if (offscreen.framebuffer != 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &offscreen.framebuffer);
        glDeleteRenderbuffers(1, &offscreen.color);
        glDeleteRenderbuffers(1, &offscreen.depth);
    }
    offscreen.framebuffer = offscreen.color = offscreen.depth = 0;
    offscreen.width = offscreen.height = 0;
}

// Makes `offscreen`'s framebuffer object and its storage, bound; on
// failure deletes what it made and leaves `offscreen` as it was.
bool make_framebuffer(Offscreen &offscreen, int width, int height) {
    while (glGetError() != GL_NO_ERROR) {
    }
    Offscreen made = offscreen;
    glGenFramebuffers(1, &made.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, made.framebuffer);
    glGenRenderbuffers(1, &made.color);
    glBindRenderbuffer(GL_RENDERBUFFER, made.color);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                              GL_RENDERBUFFER, made.color);
    glGenRenderbuffers(1, &made.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, made.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                              GL_RENDERBUFFER, made.depth);
    made.width = width;
    made.height = height;
    if (glGetError() != GL_NO_ERROR ||
        glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        release_framebuffer(made);
        return false;
    }
    offscreen = made;
    return true;
}

bool make_context(Offscreen &offscreen, const char **error) {
    EGLDisplay display = eglGetPlatformDisplay(
        EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        *error = "no EGL display on the surfaceless platform";
        return false;
    }
    // Without this Mesa hands out an OpenGL ES context.
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *error = "EGL cannot bind desktop OpenGL";
        return false;
    }
    const EGLint config_attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                        EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, config_attributes, &config, 1, &count) ||
        count < 1) {
        config = nullptr;  // EGL_KHR_no_config_context
    }
    EGLContext context =
        eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    if (context == EGL_NO_CONTEXT) {
        *error = "no OpenGL context can be created";
        return false;
    }
    offscreen.display = display;
    offscreen.context = context;
    return true;
}

// Makes the frame drawn so far readable: whatever is being drawn to, the
// offscreen attachment or the back buffer of a window before it is swapped.
void begin_read() {
    GLint draw_framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_framebuffer);
    if (draw_framebuffer == 0) {
        glReadBuffer(GL_BACK);
    }
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
}

}  // namespace

bool read_gl_rows(int width, int height, unsigned char *rgba) {
    if (width < 1 || height < 1 || rgba == nullptr) {
        return false;
    }
    begin_read();
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return glGetError() == GL_NO_ERROR;
}

}  // namespace zelkori

using zelkori::state;

extern "C" {

int zk_offscreen_create(int width, int height, const char **error) {
    static const char *unused = nullptr;
    if (error == nullptr) {
        error = &unused;
    }
    if (width < 1 || height < 1 || width > zelkori::kMaxSide ||
        height > zelkori::kMaxSide) {
        *error = "size out of range";
        return 0;
    }
    zelkori::Offscreen &offscreen = state().offscreen;
    if (offscreen.context == nullptr && !zelkori::make_context(offscreen, error)) {
        return 0;
    }
    if (!eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                        offscreen.context)) {
        *error = "the offscreen context cannot be made current";
        return 0;
    }
    // The new framebuffer is made beside the old one, which goes only once
    // the new one is complete.
    zelkori::Offscreen made = offscreen;
    if (!zelkori::make_framebuffer(made, width, height)) {
        if (offscreen.framebuffer != 0) {
            glBindFramebuffer(GL_FRAMEBUFFER, offscreen.framebuffer);
        }
        *error = "not enough memory for the framebuffer";
        return 0;
    }
    zelkori::release_framebuffer(offscreen);
    offscreen = made;
    glBindFramebuffer(GL_FRAMEBUFFER, offscreen.framebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    return 1;
}

void zk_offscreen_destroy(void) {
    zelkori::Offscreen &offscreen = state().offscreen;
    if (offscreen.context == nullptr) {
        return;
    }
    eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                   offscreen.context);
    zelkori::release_framebuffer(offscreen);
    state().meshes.erase(offscreen.context);
    eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                   EGL_NO_CONTEXT);
    eglDestroyContext(offscreen.display, offscreen.context);
    offscreen.context = nullptr;
}

int zk_frame_size(int *width, int *height) {
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] < 1 || viewport[3] < 1) {
        return 0;  // no context current, or an empty viewport
    }
    int limit_w = viewport[2], limit_h = viewport[3];
    GLint draw_framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw_framebuffer);
    const zelkori::Offscreen &offscreen = state().offscreen;
    if (draw_framebuffer != 0 &&
        static_cast<unsigned>(draw_framebuffer) == offscreen.framebuffer &&
        eglGetCurrentContext() == offscreen.context) {
        limit_w = offscreen.width;
        limit_h = offscreen.height;
    } else if (draw_framebuffer == 0) {
        // A window: its drawable's size.
        Display *display = glXGetCurrentDisplay();
        GLXDrawable drawable = glXGetCurrentDrawable();
        unsigned side[2] = {0, 0};
        if (display != nullptr && drawable != 0) {
            glXQueryDrawable(display, drawable, GLX_WIDTH, &side[0]);
            glXQueryDrawable(display, drawable, GLX_HEIGHT, &side[1]);
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

int zk_read_frame(int width, int height, unsigned char *rgb) {
    if (width < 1 || height < 1 || rgb == nullptr) {
        return 0;
    }
    // Read as GL keeps it, a strip at a time, and packed to RGB top down.
    const size_t gl_stride = static_cast<size_t>(width) * 4;
    const size_t stride = static_cast<size_t>(width) * 3;
    const int strip_rows = static_cast<int>(
        std::min<size_t>(static_cast<size_t>(height), std::max<size_t>(1, zelkori::kStripBytes / gl_stride)));
    // Left uncleared: GL fills it before every use.
    const std::unique_ptr<unsigned char[]> strip(
        new (std::nothrow) unsigned char[gl_stride * static_cast<size_t>(strip_rows)]);
    if (strip == nullptr) {
        return 0;
    }
    zelkori::begin_read();
    for (int bottom = 0; bottom < height; bottom += strip_rows) {
        const int rows = std::min(strip_rows, height - bottom);
        glReadPixels(0, bottom, width, rows, GL_RGBA, GL_UNSIGNED_BYTE, strip.get());
        // The strip's top row is the image's row height - bottom - rows;
        // its rows are packed in the order they lie in memory, bottom up.
        const zelkori::PixelRows image = zelkori::gl_rows(width, rows, strip.get());
        unsigned char *top = rgb + stride * static_cast<size_t>(height - bottom - rows);
        for (int y = rows - 1; y >= 0; --y) {
            zelkori::copy_rgb_row(image, y, top + stride * static_cast<size_t>(y));
        }
    }
    return glGetError() == GL_NO_ERROR ? 1 : 0;
}

}  // extern "C"
