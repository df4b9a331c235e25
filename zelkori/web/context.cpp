// The page's one GL context is EGL's, made on the page's canvas.
#include <EGL/egl.h>

#include "core/state.h"

namespace zelkori {

const void *current_context() {
    const EGLContext context = eglGetCurrentContext();
    return context != EGL_NO_CONTEXT ? context : nullptr;
}

}  // namespace zelkori
