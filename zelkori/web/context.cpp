// The page's one GL context is EGL's, made on the page's canvas, and the
// frame is what the viewport covers of its drawing buffer.
#include <EGL/egl.h>
#include <GL/gl.h>

#include "core/state.h"

namespace zelkori {

const void *current_context() {
    const EGLContext context = eglGetCurrentContext();
    return context != EGL_NO_CONTEXT ? context : nullptr;
}

}  // namespace zelkori

extern "C" int zk_frame_size(int *width, int *height) {
    GLint viewport[4] = {0, 0, 0, 0};
    if (zelkori::current_context() == nullptr) {
        return 0;
    }
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (viewport[2] < 1 || viewport[3] < 1) {
        return 0;
    }
    *width = viewport[2];
    *height = viewport[3];
    return 1;
}
