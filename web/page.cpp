// The page's side in WebAssembly: one Tcl interpreter with the host
// library's Tcl face and the plug-in linked in and loaded as a host loads
// them, and a GL context on the page's canvas. The page's script does
// everything else by evaluating Tcl here.
#include <EGL/egl.h>
#include <emscripten/emscripten.h>
#include <tcl.h>

#include <string>

#include "plugin/morvakine.h"

extern "C" int Zelkori_Init(Tcl_Interp *interp);

namespace {

Tcl_Interp *interpreter = nullptr;
int last_code = TCL_OK;
std::string last_result;

// A WebGL context on the canvas the page gave the module, with a depth
// buffer and without multisampling, as the native renderer draws.
bool make_context(std::string *error) {
    const EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    const EGLint wanted[] = {EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                             EGL_DEPTH_SIZE, 24, EGL_SAMPLES, 0, EGL_NONE};
    const EGLint version[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglInitialize(display, &major, &minor) ||
        !eglChooseConfig(display, wanted, &config, 1, &configs) || configs < 1) {
        *error = "this browser has no WebGL";
        return false;
    }
    const EGLSurface surface = eglCreateWindowSurface(display, config, 0, nullptr);
    const EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, version);
    if (surface == EGL_NO_SURFACE || context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(display, surface, surface, context)) {
        *error = "cannot make a WebGL context on the canvas";
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

// Makes the context and the interpreter and loads both packages; 0 with
// the reason in zk_page_result() when something fails.
EMSCRIPTEN_KEEPALIVE int zk_page_open(void) {
    std::string error;
    if (!make_context(&error)) {
        last_code = TCL_ERROR;
        last_result = error;
        return 0;
    }
    Tcl_FindExecutable("morvakine-page");
    interpreter = Tcl_CreateInterp();
    Tcl_StaticPackage(nullptr, "Zelkori", Zelkori_Init, nullptr);
    Tcl_StaticPackage(nullptr, "Morvakine", Morvakine_Init, nullptr);
    last_code = Tcl_Eval(interpreter, "load {} Zelkori; load {} Morvakine");
    last_result = Tcl_GetStringResult(interpreter);
    return last_code == TCL_OK;
}

// Evaluates `script` at the global level; its code and result stay until
// the next evaluation.
EMSCRIPTEN_KEEPALIVE int zk_page_eval(const char *script) {
    if (interpreter == nullptr) {
        last_result = "the page's interpreter is not open";
        return last_code = TCL_ERROR;
    }
    last_code = Tcl_EvalEx(interpreter, script, -1, TCL_EVAL_GLOBAL);
    last_result = Tcl_GetStringResult(interpreter);
    return last_code;
}

EMSCRIPTEN_KEEPALIVE const char *zk_page_result(void) { return last_result.c_str(); }

}  // extern "C"
