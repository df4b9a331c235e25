// The viewer's OpenGL drawing area, loaded from libzelkori_glwidget.so:
//
//   zelkori::glwidget PATH ?-displaycommand SCRIPT? ?-reshapecommand SCRIPT?
//                          ?frame options...?
//
// makes PATH a Tk frame with the X visual of a double-buffered RGBA GLX
// configuration with a depth buffer, and a GLX context for it. The widget
// command adds to the frame's own:
//
//   PATH render         makes the context current and runs the display
//                       script now (its error is this command's)
//   PATH postredisplay  runs it once when idle
//   PATH makecurrent    makes the context current
//   PATH swapbuffers    shows the back buffer
//
// The display script runs with PATH appended and the context current; it
// draws into the back buffer, may read it back, and calls swapbuffers. The
// reshape script runs with PATH, the width and the height appended, the
// context current, whenever the window takes a new size; a redisplay
// follows. Exposure redraws. Once another X client destroys the window,
// nothing more is drawn, `render` fails, and the widget gets the virtual
// event <<WindowLost>>. Only public Tk calls, through the stubs, so
// that one source serves Tk 8.6 and Tk 9.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <tcl.h>
#include <tk.h>

#include "tcl_compat.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Widget {
    Tcl_Interp *interp;
    Tk_Window tkwin;      // null once the window is destroyed
    Display *display;
    Display *watch = nullptr;  // a connection of its own that hears of the window's end
    Window window;
    GLXContext context;
    Tcl_Command command;
    Tcl_Obj *path;
    Tcl_Obj *frame;       // the frame's own command, renamed
    Tcl_Obj *display_script = nullptr;
    Tcl_Obj *reshape_script = nullptr;
    int width = 0;        // the size the reshape script last saw
    int height = 0;
    bool redraw_pending = false;
    bool lost = false;    // the X window destroyed by another client
};

const char *const own_options[] = {"-displaycommand", "-reshapecommand", nullptr};

Tcl_Obj **option_slot(Widget *w, int index) {
    return index == 0 ? &w->display_script : &w->reshape_script;
}

void set_script(Tcl_Obj **slot, Tcl_Obj *value) {
    Tcl_IncrRefCount(value);
    if (*slot != nullptr) {
        Tcl_DecrRefCount(*slot);
    }
    *slot = value;
}

bool window_gone(Widget *w);

// Every way into GL comes here first: Mesa reads the size of the window
// it draws into on the first GL call after the context is made current or
// the buffers swapped, and a window already gone gives it a garbage size.
void make_current(Widget *w) {
    if (window_gone(w)) {
        return;
    }
    if (glXGetCurrentContext() != w->context || glXGetCurrentDrawable() != w->window) {
        glXMakeCurrent(w->display, w->window, w->context);
    }
}

// Runs `script` with `extra` words appended at the global level, the
// context current. Empty scripts do nothing.
int run_script(Widget *w, Tcl_Obj *script, int count, Tcl_Obj *const extra[]) {
    if (script == nullptr || Tcl_GetCharLength(script) == 0) {
        return TCL_OK;
    }
    Tcl_Obj *command = Tcl_DuplicateObj(script);
    Tcl_IncrRefCount(command);
    int code = TCL_OK;
    for (int i = 0; i < count && code == TCL_OK; ++i) {
        code = Tcl_ListObjAppendElement(w->interp, command, extra[i]);
    }
    if (code == TCL_OK) {
        make_current(w);
        code = Tcl_EvalObjEx(w->interp, command, TCL_EVAL_GLOBAL);
    }
    Tcl_DecrRefCount(command);
    return code;
}

void mark_lost(Widget *w) {
    if (!w->lost) {
        w->lost = true;
        if (glXGetCurrentContext() == w->context) {
            glXMakeCurrent(w->display, None, nullptr);
        }
    }
}

void announce_lost(ClientData data) {
    Widget *w = static_cast<Widget *>(data);
    if (w->tkwin != nullptr) {
        Tcl_Obj *script = Tcl_ObjPrintf("event generate %s <<WindowLost>>", Tcl_GetString(w->path));
        Tcl_IncrRefCount(script);
        if (Tcl_EvalObjEx(w->interp, script, TCL_EVAL_GLOBAL) != TCL_OK) {
            Tcl_BackgroundException(w->interp, TCL_ERROR);
        }
        Tcl_DecrRefCount(script);
    }
    Tcl_Release(w);
}

// Whether the window is known to be gone. Drawing into a window another
// client destroyed can crash the GL driver (Mesa's software rasteriser
// draws into a back buffer of the size a failed XGetGeometry left unset),
// and Tk never hears of it for a window inside a toplevel. So before each
// frame, and each time the context is made current, the widget's own
// connection reads what the server has sent it, without a round trip:
// a DestroyNotify marks the window lost and announces <<WindowLost>>.
bool window_gone(Widget *w) {
    while (!w->lost && w->watch != nullptr && XEventsQueued(w->watch, QueuedAfterReading) > 0) {
        XEvent event;
        XNextEvent(w->watch, &event);
        if (event.type == DestroyNotify && event.xdestroywindow.window == w->window) {
            mark_lost(w);
            Tcl_Preserve(w);
            Tcl_DoWhenIdle(announce_lost, w);
        }
    }
    return w->lost;
}

void display_when_idle(ClientData data);

int display_now(Widget *w) {
    if (w->redraw_pending) {
        Tcl_CancelIdleCall(display_when_idle, w);
        w->redraw_pending = false;
    }
    if (w->tkwin == nullptr) {
        return TCL_OK;
    }
    if (window_gone(w)) {
        Tcl_SetObjResult(w->interp, Tcl_NewStringObj(
            "the drawing area's window was destroyed by another X client", -1));
        return TCL_ERROR;
    }
    Tcl_Preserve(w);
    int code = run_script(w, w->display_script, 1, &w->path);
    Tcl_Release(w);
    return code;
}

void display_when_idle(ClientData data) {
    Widget *w = static_cast<Widget *>(data);
    w->redraw_pending = false;
    if (display_now(w) != TCL_OK) {
        Tcl_BackgroundException(w->interp, TCL_ERROR);
    }
}

void post_redisplay(Widget *w) {
    if (!w->redraw_pending && w->tkwin != nullptr && !w->lost) {
        w->redraw_pending = true;
        Tcl_DoWhenIdle(display_when_idle, w);
    }
}

// What Tcl_EventuallyFree hands its free procedure: char * before Tcl 9.
#if TCL_MAJOR_VERSION < 9
using FreeBlock = char *;
#else
using FreeBlock = void *;
#endif

void free_widget(FreeBlock data) {
    Widget *w = reinterpret_cast<Widget *>(data);
    for (Tcl_Obj *obj : {w->path, w->frame, w->display_script, w->reshape_script}) {
        if (obj != nullptr) {
            Tcl_DecrRefCount(obj);
        }
    }
    delete w;
}

// The window is going: the context goes with it, and the command.
void release(Widget *w) {
    if (w->tkwin == nullptr) {
        return;
    }
    w->tkwin = nullptr;
    if (w->redraw_pending) {
        Tcl_CancelIdleCall(display_when_idle, w);
        w->redraw_pending = false;
    }
    if (glXGetCurrentContext() == w->context) {
        glXMakeCurrent(w->display, None, nullptr);
    }
    glXDestroyContext(w->display, w->context);
    if (w->watch != nullptr) {
        XCloseDisplay(w->watch);
        w->watch = nullptr;
    }
    Tcl_DeleteCommandFromToken(w->interp, w->command);
    Tcl_EventuallyFree(w, free_widget);
}

void on_event(ClientData data, XEvent *event) {
    Widget *w = static_cast<Widget *>(data);
    switch (event->type) {
    case Expose:
        if (event->xexpose.count == 0) {
            post_redisplay(w);
        }
        break;
    case ConfigureNotify: {
        int width = Tk_Width(w->tkwin);
        int height = Tk_Height(w->tkwin);
        if (width != w->width || height != w->height) {
            w->width = width;
            w->height = height;
            Tcl_Obj *size[] = {Tcl_NewIntObj(width), Tcl_NewIntObj(height)};
            Tcl_IncrRefCount(size[0]);
            Tcl_IncrRefCount(size[1]);
            Tcl_Obj *words[] = {w->path, size[0], size[1]};
            Tcl_Preserve(w);
            if (run_script(w, w->reshape_script, 3, words) != TCL_OK) {
                Tcl_BackgroundException(w->interp, TCL_ERROR);
            }
            post_redisplay(w);
            Tcl_Release(w);
            Tcl_DecrRefCount(size[0]);
            Tcl_DecrRefCount(size[1]);
        }
        break;
    }
    case DestroyNotify:
        // Tk tells its handlers before it destroys the X window.
        if (((Tk_FakeWin *)w->tkwin)->flags & TK_ALREADY_DEAD) {
            Tk_DeleteEventHandler(w->tkwin, ExposureMask | StructureNotifyMask, on_event, w);
            release(w);
        }
        break;
    default:
        break;
    }
}

// The widget command deleted (renamed away or `rename PATH {}`): the
// window goes too, as for any Tk widget.
void on_command_deleted(ClientData data) {
    Widget *w = static_cast<Widget *>(data);
    if (w->tkwin != nullptr) {
        Tk_DestroyWindow(w->tkwin);
    }
}

// Passes objv[1..] (configure or cget) to the frame's own command.
int forward(Widget *w, int objc, Tcl_Obj *const objv[]) {
    Tcl_Obj *command = Tcl_NewListObj(objc - 1, objv + 1);
    Tcl_IncrRefCount(command);
    Tcl_ListObjReplace(nullptr, command, 0, 0, 1, &w->frame);
    Tcl_Preserve(w);
    int code = Tcl_EvalObjEx(w->interp, command, 0);
    Tcl_Release(w);
    Tcl_DecrRefCount(command);
    return code;
}

// configure and cget: this widget's own options here, the rest the frame's.
int configure(Widget *w, bool cget, int objc, Tcl_Obj *const objv[]) {
    if (cget && objc == 3) {
        int index;
        if (Tcl_GetIndexFromObj(nullptr, objv[2], own_options, "option", 0, &index) == TCL_OK) {
            Tcl_Obj *value = *option_slot(w, index);
            Tcl_SetObjResult(w->interp, value != nullptr ? value : Tcl_NewObj());
            return TCL_OK;
        }
    }
    if (cget || objc < 4 || objc % 2 != 0) {
        return forward(w, objc, objv);
    }
    std::vector<Tcl_Obj *> rest(objv, objv + 2);
    std::vector<std::pair<int, Tcl_Obj *>> own;
    for (int i = 2; i < objc; i += 2) {
        int index;
        if (Tcl_GetIndexFromObj(nullptr, objv[i], own_options, "option", 0, &index) == TCL_OK) {
            own.emplace_back(index, objv[i + 1]);
        } else {
            rest.push_back(objv[i]);
            rest.push_back(objv[i + 1]);
        }
    }
    if (rest.size() > 2 && forward(w, static_cast<int>(rest.size()), rest.data()) != TCL_OK) {
        return TCL_ERROR;
    }
    for (auto &[index, value] : own) {
        set_script(option_slot(w, index), value);
    }
    Tcl_ResetResult(w->interp);
    return TCL_OK;
}

int widget_cmd(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    Widget *w = static_cast<Widget *>(data);
    static const char *const own[] = {"render", "postredisplay", "makecurrent",
                                      "swapbuffers", "configure", "cget", nullptr};
    enum { RENDER, POSTREDISPLAY, MAKECURRENT, SWAPBUFFERS, CONFIGURE, CGET };
    int index;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg ...?");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], own, "option", 0, &index) != TCL_OK) {
        return TCL_ERROR;
    }
    if (w->tkwin == nullptr) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("the window is gone", -1));
        return TCL_ERROR;
    }
    if (index <= SWAPBUFFERS && objc != 2) {
        Tcl_WrongNumArgs(interp, 2, objv, nullptr);
        return TCL_ERROR;
    }
    switch (index) {
    case RENDER:
        return display_now(w);
    case POSTREDISPLAY:
        post_redisplay(w);
        return TCL_OK;
    case MAKECURRENT:
        make_current(w);
        return TCL_OK;
    case SWAPBUFFERS:
        if (!w->lost) {
            glXSwapBuffers(w->display, w->window);
        }
        return TCL_OK;
    default:
        return configure(w, index == CGET, objc, objv);
    }
}

// The first double-buffered RGBA configuration with a depth buffer whose
// visual is TrueColor at the screen's own depth (not a 32-bit visual with
// alpha, which a compositor would blend).
GLXFBConfig choose_config(Display *display, int screen, XVisualInfo **visual) {
    const int wanted[] = {GLX_X_RENDERABLE, True, GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT,
                          GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_X_VISUAL_TYPE, GLX_TRUE_COLOR,
                          GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                          GLX_DEPTH_SIZE, 16, GLX_DOUBLEBUFFER, True, None};
    int count = 0;
    GLXFBConfig *configs = glXChooseFBConfig(display, screen, wanted, &count);
    GLXFBConfig chosen = nullptr;
    for (int i = 0; i < count && chosen == nullptr; ++i) {
        XVisualInfo *info = glXGetVisualFromFBConfig(display, configs[i]);
        if (info != nullptr && info->depth == DefaultDepth(display, screen)) {
            chosen = configs[i];
            *visual = info;
        } else if (info != nullptr) {
            XFree(info);
        }
    }
    if (configs != nullptr) {
        XFree(configs);
    }
    return chosen;
}

// Frames swapped no faster than the screen refreshes, where the driver
// lets the interval be set.
void sync_to_refresh(Display *display, int screen, Window window) {
    const char *extensions = glXQueryExtensionsString(display, screen);
    if (extensions == nullptr) {
        return;
    }
    auto address = [](const char *name) {
        return glXGetProcAddressARB(reinterpret_cast<const GLubyte *>(name));
    };
    if (std::strstr(extensions, "GLX_EXT_swap_control") != nullptr) {
        auto set = reinterpret_cast<void (*)(Display *, GLXDrawable, int)>(
            address("glXSwapIntervalEXT"));
        if (set != nullptr) {
            set(display, window, 1);
        }
    } else if (std::strstr(extensions, "GLX_MESA_swap_control") != nullptr) {
        auto set = reinterpret_cast<int (*)(unsigned)>(address("glXSwapIntervalMESA"));
        if (set != nullptr) {
            set(1);
        }
    }
}

int fail(Tcl_Interp *interp, const std::string &message) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message.c_str(), -1));
    return TCL_ERROR;
}

int glwidget_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc < 2 || objc % 2 != 0) {
        Tcl_WrongNumArgs(interp, 1, objv, "path ?-option value ...?");
        return TCL_ERROR;
    }
    Tk_Window main = Tk_MainWindow(interp);
    if (main == nullptr) {
        return TCL_ERROR;
    }
    Display *display = Tk_Display(main);
    int screen = Tk_ScreenNumber(main);
    int error_base, event_base;
    if (!glXQueryExtension(display, &error_base, &event_base)) {
        return fail(interp, std::string("the X server ") + DisplayString(display) +
                                " has no GLX extension");
    }
    XVisualInfo *visual = nullptr;
    GLXFBConfig config = choose_config(display, screen, &visual);
    if (config == nullptr) {
        return fail(interp, "the X server offers no double-buffered RGBA GLX visual "
                            "with a depth buffer at the screen's depth");
    }
    VisualID visual_id = visual->visualid;
    XFree(visual);

    // Our own options come out; the frame gets the rest, and then the
    // visual, which must be ours.
    auto *w = new Widget{};
    w->interp = interp;
    w->path = objv[1];
    Tcl_IncrRefCount(w->path);
    Tcl_Obj *frame = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(frame);
    Tcl_ListObjAppendElement(nullptr, frame, Tcl_NewStringObj("::frame", -1));
    Tcl_ListObjAppendElement(nullptr, frame, objv[1]);
    for (int i = 2; i < objc; i += 2) {
        int index;
        if (Tcl_GetIndexFromObj(nullptr, objv[i], own_options, "option", 0, &index) == TCL_OK) {
            set_script(option_slot(w, index), objv[i + 1]);
        } else {
            Tcl_ListObjAppendElement(nullptr, frame, objv[i]);
            Tcl_ListObjAppendElement(nullptr, frame, objv[i + 1]);
        }
    }
    char visual_text[32];
    std::snprintf(visual_text, sizeof visual_text, "%lu", static_cast<unsigned long>(visual_id));
    for (const char *word : std::initializer_list<const char *>{"-visual", visual_text, "-colormap", "new", "-background", "",
                             "-class", "GLWidget"}) {
        Tcl_ListObjAppendElement(nullptr, frame, Tcl_NewStringObj(word, -1));
    }
    int code = Tcl_EvalObjEx(interp, frame, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(frame);
    if (code != TCL_OK) {
        free_widget(reinterpret_cast<FreeBlock>(w));
        return TCL_ERROR;
    }
    w->tkwin = Tk_NameToWindow(interp, Tcl_GetString(w->path), main);
    Tk_MakeWindowExist(w->tkwin);
    w->display = display;
    w->window = Tk_WindowId(w->tkwin);
    w->context = glXCreateNewContext(display, config, GLX_RGBA_TYPE, nullptr, True);
    if (w->context == nullptr) {
        Tk_DestroyWindow(w->tkwin);
        free_widget(reinterpret_cast<FreeBlock>(w));
        return fail(interp, "cannot create a GLX context");
    }
    // The frame's command moves aside for this widget's, which passes on
    // what it does not do itself.
    w->frame = Tcl_ObjPrintf("::zelkori::glframe::%s", Tcl_GetString(w->path));
    Tcl_IncrRefCount(w->frame);
    Tcl_Obj *rename[] = {Tcl_NewStringObj("::rename", -1), w->path, w->frame};
    for (Tcl_Obj *word : rename) {
        Tcl_IncrRefCount(word);
    }
    code = Tcl_EvalObjv(interp, 3, rename, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(rename[0]);
    Tcl_DecrRefCount(rename[1]);
    Tcl_DecrRefCount(rename[2]);
    if (code != TCL_OK) {
        glXDestroyContext(display, w->context);
        Tk_DestroyWindow(w->tkwin);
        free_widget(reinterpret_cast<FreeBlock>(w));
        return TCL_ERROR;
    }
    w->command = Tcl_CreateObjCommand(interp, Tcl_GetString(w->path), widget_cmd, w,
                                      on_command_deleted);
    Tk_CreateEventHandler(w->tkwin, ExposureMask | StructureNotifyMask, on_event, w);
    w->watch = XOpenDisplay(DisplayString(display));
    if (w->watch != nullptr) {
        XSelectInput(w->watch, w->window, StructureNotifyMask);
        XFlush(w->watch);
    }
    glXMakeCurrent(display, w->window, w->context);
    sync_to_refresh(display, screen, w->window);
    Tcl_SetObjResult(interp, w->path);
    return TCL_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int Glwidget_Init(Tcl_Interp *interp) {
    if (Tcl_InitStubs(interp, TCL_VERSION, 0) == nullptr ||
        !zk_tcl_major_matches(interp, "libzelkori_glwidget.so") ||
        Tk_InitStubs(interp, TK_VERSION, 0) == nullptr) {
        return TCL_ERROR;
    }
    Tcl_Eval(interp, "namespace eval ::zelkori::glframe {}");
    Tcl_CreateObjCommand(interp, "::zelkori::glwidget", glwidget_cmd, nullptr, nullptr);
    return TCL_OK;
}
