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

#include "core/state.h"

namespace zelkori {
namespace {

// Beyond any renderbuffer Mesa allows here; every format's limit too.
const int kMaxSide = ZK_MAX_SIDE;

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

// Binds what the offscreen context draws into: its frame target, or its
// framebuffer when it has none.
void bind_offscreen(const Offscreen &offscreen) {
    auto found = state().targets.find(offscreen.context);
    if (found != state().targets.end() && found->second.target == offscreen.framebuffer) {
        bind(found->second);
    } else if (offscreen.framebuffer != 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, offscreen.framebuffer);
    }
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

}  // namespace

}  // namespace zelkori

using zelkori::state;

extern "C" {

int zk_offscreen_create_sampled(int width, int height, int samples, const char **error) {
    static const char *unused = nullptr;
    if (error == nullptr) {
        error = &unused;
    }
    if (width < 1 || height < 1 || width > zelkori::kMaxSide ||
        height > zelkori::kMaxSide || samples < 1) {
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
    // The new framebuffers are made beside the old ones, which go only
    // once the new ones are complete.
    samples = std::min(samples, zelkori::samples_max());
    zelkori::Offscreen made = offscreen;
    zelkori::FrameTarget target;
    const bool framebuffer_made = zelkori::make_framebuffer(made, width, height);
    if (!framebuffer_made ||
        (samples > 1 && !zelkori::make_frame_target(width, height, samples, false, &target))) {
        if (framebuffer_made) {
            zelkori::release_framebuffer(made);
        }
        zelkori::bind_offscreen(offscreen);
        *error = "not enough memory for the framebuffer";
        return 0;
    }
    target.target = made.framebuffer;
    zelkori::release_frame_target(offscreen.context);
    zelkori::release_framebuffer(offscreen);
    offscreen = made;
    glBindFramebuffer(GL_FRAMEBUFFER, offscreen.framebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    if (samples > 1) {
        zelkori::install_frame_target(offscreen.context, target);
    }
    return samples;
}

int zk_offscreen_create(int width, int height, const char **error) {
    return zk_offscreen_create_sampled(width, height, 1, error) != 0;
}

void zk_offscreen_destroy(void) {
    zelkori::Offscreen &offscreen = state().offscreen;
    if (offscreen.context == nullptr) {
        return;
    }
    eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                   offscreen.context);
    zelkori::release_frame_target(offscreen.context);
    zelkori::release_framebuffer(offscreen);
    state().meshes.erase(offscreen.context);
    eglMakeCurrent(offscreen.display, EGL_NO_SURFACE, EGL_NO_SURFACE,
                   EGL_NO_CONTEXT);
    eglDestroyContext(offscreen.display, offscreen.context);
    offscreen.context = nullptr;
}

}  // extern "C"
