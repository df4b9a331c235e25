// The Tcl face's controls, clock, offscreen context and counters.
#include <GL/gl.h>

#include <climits>
#include <string_view>

#include "tcl/face.h"
#include "zelkori_host.h"

namespace zelkori {
namespace {

const char kDeclareHookKey[] = "zelkori::ondeclare";

Tcl_Obj *describe(const zk_control &control) {
    Tcl_Obj *dict = Tcl_NewDictObj();
    auto put = [dict](const char *key, Tcl_Obj *value) {
        Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj(key, -1), value);
    };
    put("id", Tcl_NewIntObj(control.id));
    put("kind", Tcl_NewStringObj(control.is_checkbox ? "checkbox" : "scale", -1));
    put("label", Tcl_NewStringObj(control.label, -1));
    put("low", Tcl_NewDoubleObj(control.low));
    put("high", Tcl_NewDoubleObj(control.high));
    put("step", Tcl_NewDoubleObj(control.step));
    put("initial", Tcl_NewDoubleObj(control.initial));
    put("value", control.is_checkbox ? Tcl_NewIntObj(control.value != 0.0)
                                     : Tcl_NewDoubleObj(control.value));
    return dict;
}

// Resolves a control named by its decimal id (012 is 12) or, failing
// that, by label.
int find_control(Tcl_Interp *interp, Tcl_Obj *name, zk_control *out) {
    long long id = 0;
    if (get_decimal(name, 0, INT_MAX, &id) && zk_control_by_id(static_cast<int>(id), out)) {
        return TCL_OK;
    }
    if (zk_control_by_label(Tcl_GetString(name), out)) {
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("unknown control \"%s\"",
                                           Tcl_GetString(name)));
    Tcl_SetErrorCode(interp, "ZELKORI", "CONTROL", Tcl_GetString(name),
                     nullptr);
    return TCL_ERROR;
}

void free_hook(ClientData data, Tcl_Interp *) {
    Tcl_DecrRefCount(static_cast<Tcl_Obj *>(data));
}

// Runs the interpreter's declaration hook with the new id appended. The
// declaring command's result is preserved; hook errors go to the
// background error handler.
void on_declare(Tcl_Interp *interp, int id) {
    Tcl_Obj *hook =
        static_cast<Tcl_Obj *>(Tcl_GetAssocData(interp, kDeclareHookKey, nullptr));
    if (hook == nullptr) {
        return;
    }
    Tcl_InterpState saved = Tcl_SaveInterpState(interp, TCL_OK);
    Tcl_Obj *command = Tcl_DuplicateObj(hook);
    Tcl_IncrRefCount(command);
    Tcl_ListObjAppendElement(nullptr, command, Tcl_NewIntObj(id));
    const int code = Tcl_EvalObjEx(interp, command, TCL_EVAL_GLOBAL);
    if (code != TCL_OK) {
        Tcl_BackgroundException(interp, code);
    }
    Tcl_DecrRefCount(command);
    Tcl_RestoreInterpState(interp, saved);
}

int control_cmd(ClientData, Tcl_Interp *interp, int objc,
                Tcl_Obj *const objv[]) {
    static const char *const options[] = {"list", "get", "set", "info",
                                          "ondeclare", "clear", nullptr};
    enum { kList, kGet, kSet, kInfo, kOnDeclare, kClear };
    static const char *const usage[] = {"", "control", "control value",
                                        "control", "?script?", ""};
    static const int arities[] = {2, 3, 4, 3, -1, 2};
    int option = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg ...?");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], options, "option", 0, &option) !=
        TCL_OK) {
        return TCL_ERROR;
    }
    const bool arity_ok = arities[option] < 0 ? objc <= 3 : objc == arities[option];
    if (!arity_ok) {
        Tcl_WrongNumArgs(interp, 2, objv, usage[option]);
        return TCL_ERROR;
    }
    zk_control control;
    switch (option) {
    case kList: {
        Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
        for (int i = 0; zk_control_at(i, &control); ++i) {
            Tcl_ListObjAppendElement(nullptr, list, describe(control));
        }
        Tcl_SetObjResult(interp, list);
        return TCL_OK;
    }
    case kGet:
    case kInfo:
        if (find_control(interp, objv[2], &control) != TCL_OK) {
            return TCL_ERROR;
        }
        if (option == kInfo) {
            Tcl_SetObjResult(interp, describe(control));
        } else if (control.is_checkbox) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(control.value != 0.0));
        } else {
            Tcl_SetObjResult(interp, Tcl_NewDoubleObj(control.value));
        }
        return TCL_OK;
    case kSet: {
        if (find_control(interp, objv[2], &control) != TCL_OK) {
            return TCL_ERROR;
        }
        double value = 0.0;
        if (control.is_checkbox) {
            int ticked = 0;
            if (Tcl_GetBooleanFromObj(interp, objv[3], &ticked) != TCL_OK) {
                return TCL_ERROR;
            }
            value = ticked;
        } else if (get_finite(interp, objv[3], &value) != TCL_OK) {
            return TCL_ERROR;
        }
        if (!zk_control_set(control.id, value)) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                "expected a finite number but got \"%s\"", Tcl_GetString(objv[3])));
            return TCL_ERROR;
        }
        zk_control_by_id(control.id, &control);
        Tcl_SetObjResult(interp, control.is_checkbox
                                     ? Tcl_NewIntObj(control.value != 0.0)
                                     : Tcl_NewDoubleObj(control.value));
        return TCL_OK;
    }
    case kOnDeclare: {
        Tcl_Obj *hook = static_cast<Tcl_Obj *>(
            Tcl_GetAssocData(interp, kDeclareHookKey, nullptr));
        if (objc == 2) {
            Tcl_SetObjResult(interp, hook != nullptr ? hook : Tcl_NewObj());
            return TCL_OK;
        }
        Tcl_DeleteAssocData(interp, kDeclareHookKey);
        Tcl_Size length = 0;
        Tcl_GetStringFromObj(objv[2], &length);
        if (length > 0) {
            Tcl_IncrRefCount(objv[2]);
            Tcl_SetAssocData(interp, kDeclareHookKey, free_hook, objv[2]);
        }
        return TCL_OK;
    }
    case kClear:
        zk_controls_clear();
        return TCL_OK;
    }
    return TCL_OK;
}

int clock_cmd(ClientData, Tcl_Interp *interp, int objc,
              Tcl_Obj *const objv[]) {
    static const char *const options[] = {"get", "set", "play", "pause",
                                          "playing", "speed", nullptr};
    enum { kGet, kSet, kPlay, kPause, kPlaying, kSpeed };
    int option = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg?");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], options, "option", 0, &option) !=
        TCL_OK) {
        return TCL_ERROR;
    }
    const bool takes_value = option == kSet || option == kSpeed;
    if (objc > (takes_value ? 3 : 2) || (option == kSet && objc != 3)) {
        Tcl_WrongNumArgs(interp, 2, objv, takes_value ? "seconds" : "");
        return TCL_ERROR;
    }
    double value = 0.0;
    switch (option) {
    case kSet:
        if (get_finite(interp, objv[2], &value) != TCL_OK) {
            return TCL_ERROR;
        }
        zk_clock_set(value);
        break;
    case kPlay:
    case kPause:
        zk_clock_play(option == kPlay);
        break;
    case kPlaying:
        Tcl_SetObjResult(interp, Tcl_NewBooleanObj(zk_clock_playing()));
        return TCL_OK;
    case kSpeed:
        if (objc == 3) {
            if (get_finite(interp, objv[2], &value) != TCL_OK) {
                return TCL_ERROR;
            }
            if (!zk_clock_set_speed(value)) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected a positive speed but got \"%s\"",
                    Tcl_GetString(objv[2])));
                return TCL_ERROR;
            }
        }
        Tcl_SetObjResult(interp, Tcl_NewDoubleObj(zk_clock_speed()));
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_NewDoubleObj(get_time()));
    return TCL_OK;
}

int get_size(Tcl_Interp *interp, Tcl_Obj *obj, int *out) {
    if (Tcl_GetIntFromObj(interp, obj, out) != TCL_OK) {
        return TCL_ERROR;
    }
    if (*out < 1) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a size of at least 1 but got \"%s\"", Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// zelkori::offscreen width height | zelkori::offscreen destroy
int offscreen_cmd(ClientData, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
    if (objc == 2 && std::string_view(Tcl_GetString(objv[1])) == "destroy") {
        zk_offscreen_destroy();
        return TCL_OK;
    }
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "width height");
        return TCL_ERROR;
    }
    int width = 0, height = 0;
    if (get_size(interp, objv[1], &width) != TCL_OK ||
        get_size(interp, objv[2], &height) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    if (!zk_offscreen_create(width, height, &error)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "cannot make an offscreen OpenGL context of %dx%d: %s", width,
            height, error));
        Tcl_SetErrorCode(interp, "ZELKORI", "GL", nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// zelkori::stats ?reset?: what the primitives drew.
int stats_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc > 2 || (objc == 2 && std::string_view(Tcl_GetString(objv[1])) != "reset")) {
        Tcl_WrongNumArgs(interp, 1, objv, "?reset?");
        return TCL_ERROR;
    }
    zk_stats stats;
    zk_stats_get(&stats);
    if (objc == 2) {
        zk_stats_reset();
    }
    Tcl_Obj *dict = Tcl_NewDictObj();
    Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj("spheres", -1),
                   Tcl_NewWideIntObj(stats.spheres));
    Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj("cylinders", -1),
                   Tcl_NewWideIntObj(stats.cylinders));
    Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj("triangles", -1),
                   Tcl_NewWideIntObj(stats.triangles));
    Tcl_SetObjResult(interp, dict);
    return TCL_OK;
}

// zelkori::glerror: the pending GL error as a number, 0 for none.
int glerror_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, "");
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(static_cast<int>(glGetError())));
    return TCL_OK;
}

// zelkori::frame ZOOM PAN_X PAN_Y: multiplies the projection from the left
// by a scale of ZOOM and a shift of (PAN_X, PAN_Y) in normalised device
// coordinates, magnifying the picture about the drawing area's centre and
// moving it across. Depth is untouched, so nothing the projection keeps is
// clipped. Call it right after ::model::resize with a context current;
// leaves the matrix mode as it was.
int frame_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "zoom panX panY");
        return TCL_ERROR;
    }
    const double kMaxZoom = 1000.0;
    const double kMaxPan = 1000.0;
    double zoom = 1.0, pan_x = 0.0, pan_y = 0.0;
    if (get_bounded(interp, objv[1], 1.0 / kMaxZoom, kMaxZoom, &zoom) != TCL_OK ||
        get_bounded(interp, objv[2], -kMaxPan, kMaxPan, &pan_x) != TCL_OK ||
        get_bounded(interp, objv[3], -kMaxPan, kMaxPan, &pan_y) != TCL_OK) {
        return TCL_ERROR;
    }
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    GLdouble projection[16];
    glMatrixMode(GL_PROJECTION);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    // Column-major: x' = zoom x + pan_x w, y' = zoom y + pan_y w.
    const GLdouble view[16] = {zoom, 0, 0, 0, 0, zoom, 0, 0,
                               0,    0, 1, 0, pan_x, pan_y, 0, 1};
    glLoadMatrixd(view);
    glMultMatrixd(projection);
    glMatrixMode(static_cast<GLenum>(mode));
    zk_view_note(zoom, pan_x, pan_y);
    return TCL_OK;
}

}  // namespace

const FaceCommand kControlCommands[] = {
    {"::zelkori::control", control_cmd}, {"::zelkori::clock", clock_cmd},
    {"::zelkori::offscreen", offscreen_cmd}, {"::zelkori::stats", stats_cmd},
    {"::zelkori::glerror", glerror_cmd}, {"::zelkori::frame", frame_cmd},
    {nullptr, nullptr},
};

void init_controls() { zk_set_declare_listener(on_declare); }

}  // namespace zelkori
