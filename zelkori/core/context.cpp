// Which GL context is current: meshes are kept per context. The library's
// own offscreen context is EGL's, the viewer's drawing area GLX's.
#include <EGL/egl.h>
#include <GL/glx.h>

#include "core/state.h"

namespace zelkori {

const void *current_context() {
    const void *egl = eglGetCurrentContext();
    if (egl != EGL_NO_CONTEXT) {
        return egl;
    }
    return glXGetCurrentContext();
}

}  // namespace zelkori
