// The viewer's X error guard, loaded into the viewer from xerrors.so:
//
//   ::viewer::on_x_error SCRIPT LOST
//
// Xlib's own handler prints several lines and ends the process on any X
// error Tk does not expect, such as drawing into a window another client
// destroyed. Once this command has run, such an error instead runs SCRIPT,
// with the error's text appended, as idle work at the global level; the
// first error alone is reported. A connection lost for good (the client
// killed, the server gone) runs the script LOST at once, from inside
// Xlib, in place of Xlib's report: it must not touch the window, and is
// meant to end the process (finishing its files); should it return, Xlib
// ends the process with status 1.
//
//   ::viewer::on_signal SCRIPT
//
// SIGTERM, SIGHUP and SIGINT, where they still have their default action
// (not ignored, as under nohup), run SCRIPT with the signal's number
// appended, as an event at the global level, instead of ending the process
// at once: the script finishes what is open and exits. A second signal
// while the first still waits for the event loop (a hung frame) ends the
// process as the signal would have.
#include <X11/Xlib.h>
#include <tcl.h>
#include <tk.h>

#include "zelkori/tcl_compat.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

Tcl_Interp *lost_interp = nullptr;
Tcl_Obj *lost_script = nullptr;

int on_lost_connection(Display *) {
    // Once only: ending the process may meet the lost connection again.
    static bool lost = false;
    if (!lost && lost_script != nullptr) {
        lost = true;
        if (Tcl_EvalObjEx(lost_interp, lost_script, TCL_EVAL_GLOBAL) != TCL_OK) {
            std::fprintf(stderr, "%s\n", Tcl_GetString(Tcl_GetObjResult(lost_interp)));
        }
    }
    return 0;
}

struct Guard {
    Tcl_Interp *interp;
    Tcl_Obj *script;
    std::string text;  // the first error's text; empty until one comes
    Tk_ErrorHandler handler;
};

void report(ClientData data) {
    Guard *guard = static_cast<Guard *>(data);
    Tcl_Obj *command = Tcl_DuplicateObj(guard->script);
    Tcl_IncrRefCount(command);
    Tcl_ListObjAppendElement(nullptr, command,
                             Tcl_NewStringObj(guard->text.c_str(), -1));
    if (Tcl_EvalObjEx(guard->interp, command, TCL_EVAL_GLOBAL) != TCL_OK) {
        Tcl_BackgroundException(guard->interp, TCL_ERROR);
    }
    Tcl_DecrRefCount(command);
}

// Called from inside Xlib: records the error and leaves the Tcl work for
// later. Returning 0 tells Tk the error is handled.
int on_error(ClientData data, XErrorEvent *event) {
    Guard *guard = static_cast<Guard *>(data);
    // Tk itself lets a BadWindow pass for a window it still knows, which
    // another client destroyed: Tk cleans up after it.
    if (event->error_code == BadWindow &&
        Tk_IdToWindow(event->display, event->resourceid) != nullptr) {
        return 0;
    }
    if (guard->text.empty()) {
        char text[256] = "";
        XGetErrorText(event->display, event->error_code, text, sizeof text);
        guard->text = text[0] != '\0' ? text : "unknown X error";
        Tcl_DoWhenIdle(report, guard);
    }
    return 0;
}

int on_x_error_cmd(ClientData, Tcl_Interp *interp, int objc,
                   Tcl_Obj *const objv[]) {
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "script lost");
        return TCL_ERROR;
    }
    if (lost_script != nullptr) {
        Tcl_DecrRefCount(lost_script);
    }
    lost_interp = interp;
    lost_script = objv[2];
    Tcl_IncrRefCount(lost_script);
    XSetIOErrorHandler(on_lost_connection);
    Tk_Window main = Tk_MainWindow(interp);
    if (main == nullptr) {
        return TCL_ERROR;
    }
    // One guard for the life of the process: Tk may report errors until
    // its very last request.
    static Guard *guard = nullptr;
    if (guard == nullptr) {
        guard = new Guard{interp, objv[1], std::string(), nullptr};
        guard->handler =
            Tk_CreateErrorHandler(Tk_Display(main), -1, -1, -1, on_error, guard);
    } else {
        Tcl_DecrRefCount(guard->script);
        guard->script = objv[1];
    }
    Tcl_IncrRefCount(guard->script);
    return TCL_OK;
}

// The handler only writes the signal's number into a pipe; the event loop
// reads it and runs the script.
int signal_pipe[2] = {-1, -1};
Tcl_Interp *signal_interp = nullptr;
Tcl_Obj *signal_script = nullptr;

volatile sig_atomic_t signal_waiting = 0;

void on_signal(int number) {
    if (signal_waiting) {
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    signal_waiting = 1;
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(number);
    ssize_t written = write(signal_pipe[1], &byte, 1);
    (void)written;  // a full pipe already holds a signal to act on
    errno = saved;
}

void on_signal_readable(ClientData, int) {
    unsigned char byte = 0;
    if (read(signal_pipe[0], &byte, 1) != 1 || signal_script == nullptr) {
        return;
    }
    signal_waiting = 0;
    Tcl_Obj *command = Tcl_DuplicateObj(signal_script);
    Tcl_IncrRefCount(command);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewIntObj(byte));
    if (Tcl_EvalObjEx(signal_interp, command, TCL_EVAL_GLOBAL) != TCL_OK) {
        Tcl_BackgroundException(signal_interp, TCL_ERROR);
    }
    Tcl_DecrRefCount(command);
}

int on_signal_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "script");
        return TCL_ERROR;
    }
    if (signal_pipe[0] < 0) {
        if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("cannot make a pipe: %s",
                                                   Tcl_PosixError(interp)));
            return TCL_ERROR;
        }
        Tcl_CreateFileHandler(signal_pipe[0], TCL_READABLE, on_signal_readable, nullptr);
        for (int number : {SIGTERM, SIGHUP, SIGINT}) {
            struct sigaction current;
            if (sigaction(number, nullptr, &current) == 0 &&
                current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO)) {
                struct sigaction action = {};
                action.sa_handler = on_signal;
                action.sa_flags = SA_RESTART;
                sigemptyset(&action.sa_mask);
                sigaction(number, &action, nullptr);
            }
        }
    }
    if (signal_script != nullptr) {
        Tcl_DecrRefCount(signal_script);
    }
    signal_interp = interp;
    signal_script = objv[1];
    Tcl_IncrRefCount(signal_script);
    return TCL_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int Xerrors_Init(Tcl_Interp *interp) {
    if (!zk_tcl_major_matches(interp, "xerrors.so")) {
        return TCL_ERROR;
    }
    Tcl_CreateObjCommand(interp, "::viewer::on_x_error", on_x_error_cmd, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "::viewer::on_signal", on_signal_cmd, nullptr, nullptr);
    return TCL_OK;
}
