// Which GL context is current: meshes are kept per context. The library's
// own offscreen context is EGL's, the viewer's drawing area GLX's. The
// library does not link GLX: a window's widget loads it, and it is looked
// up where it is loaded, so that the headless renderer never loads GLX and
// Xlib.
#include <EGL/egl.h>
#include <dlfcn.h>

#include <atomic>

#include "core/state.h"

namespace zelkori {

void *glx_function(const char *name) {
    // glvnd's GLX, or a libGL that carries GLX itself.
    for (const char *library : {"libGLX.so.0", "libGL.so.1"}) {
        void *handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
        if (handle != nullptr) {
            void *function = dlsym(handle, name);
            // Only the reference taken here: whoever loaded it keeps it.
            dlclose(handle);
            if (function != nullptr) {
                return function;
            }
        }
    }
    return nullptr;
}

const void *current_context() {
    const void *egl = eglGetCurrentContext();
    if (egl != EGL_NO_CONTEXT) {
        return egl;
    }
    // Asked for at every primitive: looked up once GLX is there.
    using GetContext = void *(*)();
    static std::atomic<GetContext> get_context{nullptr};
    GetContext get = get_context.load(std::memory_order_acquire);
    if (get == nullptr) {
        get = reinterpret_cast<GetContext>(glx_function("glXGetCurrentContext"));
        if (get == nullptr) {
            return nullptr;
        }
        get_context.store(get, std::memory_order_release);
    }
    return get();
}

}  // namespace zelkori
