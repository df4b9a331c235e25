// The Tcl face's controls, clock, offscreen context and counters.
#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string_view>
#include <vector>

#include "host/zelkori.h"
#include "tcl/fit.h"
#include "tcl/face.h"
#include "zelkori/capture.h"
#include "zelkori/core.h"

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

// Decimal, whatever its leading zeros (Tcl would read 010 as 8, 0x10 as 16).
int get_size(Tcl_Interp *interp, Tcl_Obj *obj, int *out) {
    long long size = 0;
    if (!get_decimal(obj, 1, ZK_MAX_SIDE, &size)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a size from 1 to %d but got \"%s\"", ZK_MAX_SIDE, Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    *out = static_cast<int>(size);
    return TCL_OK;
}

// -samples N: samples a pixel, 1 to 64 (the GL limit takes over above
// its own); the host's default without the option.
int get_samples(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], int first,
                const char *usage, int *samples) {
    *samples = ZK_DEFAULT_SAMPLES;
    if (objc == first) {
        return TCL_OK;
    }
    long long value = 0;
    if (objc != first + 2 || std::string_view(Tcl_GetString(objv[first])) != "-samples") {
        Tcl_WrongNumArgs(interp, 1, objv, usage);
        return TCL_ERROR;
    }
    if (!get_decimal(objv[first + 1], 1, 64, &value)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "-samples: expected a whole number from 1 to 64 but got \"%s\"",
            Tcl_GetString(objv[first + 1])));
        Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", "samples", nullptr);
        return TCL_ERROR;
    }
    *samples = static_cast<int>(value);
    return TCL_OK;
}

// zelkori::offscreen width height ?-samples N? | zelkori::offscreen destroy:
// returns the samples a pixel the frames get.
int offscreen_cmd(ClientData, Tcl_Interp *interp, int objc,
                  Tcl_Obj *const objv[]) {
    if (objc == 2 && std::string_view(Tcl_GetString(objv[1])) == "destroy") {
        zk_offscreen_destroy();
        return TCL_OK;
    }
    const char *usage = "width height ?-samples n?";
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, usage);
        return TCL_ERROR;
    }
    int width = 0, height = 0, samples = 0;
    if (get_samples(interp, objc, objv, 3, usage, &samples) != TCL_OK ||
        get_size(interp, objv[1], &width) != TCL_OK ||
        get_size(interp, objv[2], &height) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    if ((samples = zk_offscreen_create_sampled(width, height, samples, &error)) == 0) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "cannot make an offscreen OpenGL context of %dx%d: %s", width,
            height, error));
        Tcl_SetErrorCode(interp, "ZELKORI", "GL", nullptr);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(samples));
    return TCL_OK;
}

// zelkori::target width height ?-samples N?: the current context (a
// window's) draws from now on into the host's framebuffer of that size;
// returns the samples a pixel.
int target_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    const char *usage = "width height ?-samples n?";
    int width = 0, height = 0, samples = 0;
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, usage);
        return TCL_ERROR;
    }
    if (get_samples(interp, objc, objv, 3, usage, &samples) != TCL_OK ||
        get_size(interp, objv[1], &width) != TCL_OK ||
        get_size(interp, objv[2], &height) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    if ((samples = zk_frame_target(width, height, samples, &error)) == 0) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "cannot draw into a framebuffer of %dx%d: %s", width, height, error));
        Tcl_SetErrorCode(interp, "ZELKORI", "GL", nullptr);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(samples));
    return TCL_OK;
}

// zelkori::finish: the frame drawn so far resolved, on its background,
// and for a window on its back buffer, ready to swap.
int finish_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, "");
        return TCL_ERROR;
    }
    zk_frame_finish();
    return TCL_OK;
}

// zelkori::background ?COLOUR|transparent?: sets the background, a colour
// as users type it or transparent; returns it as #rrggbb or transparent.
int background_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?colour?");
        return TCL_ERROR;
    }
    double rgb[3] = {0, 0, 0};
    if (objc == 2) {
        const char *text = Tcl_GetString(objv[1]);
        if (std::string_view(text) == "transparent") {
            zk_background_set(0, 0, 0, 1);
        } else if (parse_colour(text, rgb)) {
            zk_background_set(rgb[0], rgb[1], rgb[2], 0);
        } else {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                "unknown colour \"%s\": use a name such as white or \"light grey\", "
                "or #rrggbb", text));
            Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", "background", nullptr);
            return TCL_ERROR;
        }
    }
    if (zk_background_get(rgb)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("transparent", -1));
    } else {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("#%02x%02x%02x", int(rgb[0] * 255 + 0.5),
                                               int(rgb[1] * 255 + 0.5), int(rgb[2] * 255 + 0.5)));
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

// Folds what a primitive is (kind, sizes, colour, placement) into a
// 64-bit FNV-1a digest of what was drawn.
void add_to_digest(const zk_primitive &primitive, unsigned long long *digest) {
    auto fold = [digest](const void *data, size_t size) {
        const unsigned char *bytes = static_cast<const unsigned char *>(data);
        for (size_t i = 0; i < size; ++i) {
            *digest = (*digest ^ bytes[i]) * 1099511628211ull;
        }
    };
    fold(&primitive.kind, sizeof primitive.kind);
    fold(primitive.size, sizeof primitive.size);
    fold(primitive.color, sizeof primitive.color);
    fold(primitive.modelview, sizeof primitive.modelview);
}

// Draws with `draw` at each clock reading of `times` (or once, at the clock
// as it stands, when there are none) under a capture that only records,
// and gathers the balls that cover what was drawn. The clock is put back
// as it was. Returns the script's failure, if any.
int gather(Tcl_Interp *interp, Tcl_Obj *draw, const std::vector<double> &times, bool keep,
           const double projection[16], Extent *extent, std::vector<Ball> *kept,
           unsigned long long *digest) {
    const double start = get_time();
    const int playing = zk_clock_playing();
    if (!times.empty()) {
        zk_clock_play(0);
    }
    int code = TCL_OK;
    const size_t rounds = std::max<size_t>(times.size(), 1);
    std::vector<Ball> balls;
    for (size_t k = 0; k < rounds && code == TCL_OK; ++k) {
        zk_capture *capture = zk_capture_start(ZK_CAPTURE_QUIET);
        if (capture == nullptr) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("not enough memory", -1));
            code = TCL_ERROR;
            break;
        }
        if (!times.empty()) {
            zk_clock_set(times[k]);
        }
        code = Tcl_EvalObjEx(interp, draw, TCL_EVAL_GLOBAL);
        zk_capture_stop(capture);
        zk_primitive primitive;
        for (int i = 0; code == TCL_OK && zk_capture_at(capture, i, &primitive); ++i) {
            add_to_digest(primitive, digest);
            balls.clear();
            cover_primitive(primitive, &balls);
            for (const Ball &ball : balls) {
                if (keep) {
                    kept->push_back(ball);
                } else {
                    extend(projection, ball, false, extent);
                }
            }
        }
        zk_capture_free(capture);
    }
    if (!times.empty()) {
        zk_clock_set(start);
        zk_clock_play(playing);
    }
    if (code == TCL_RETURN || code == TCL_BREAK || code == TCL_CONTINUE) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("the draw script must end normally", -1));
        code = TCL_ERROR;
    }
    return code;
}

// zelkori::fit ?-times LIST? ?-turns BOOL? ?-draw SCRIPT?: the framing
// (a dict of zoom, x and y for zelkori::frame; box, what was drawn as x0
// y0 x1 y1 in normalised device coordinates; and drawn, a digest of every
// primitive drawn, its kind, sizes, colour and placement) that brings what
// SCRIPT (default ::model::redraw) draws at each clock reading of LIST
// into the picture with a small margin, under the projection as it stands
// (call it right after ::model::resize). With -turns the framing holds a
// ball around all of it instead of its box, so that it stays whole however
// the view turns the figure. Nothing drawn gives zoom 1 and no shift.
int fit_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const options[] = {"-times", "-turns", "-draw", nullptr};
    if (objc % 2 == 0) {
        Tcl_WrongNumArgs(interp, 1, objv, "?-times list? ?-turns boolean? ?-draw script?");
        return TCL_ERROR;
    }
    std::vector<double> times;
    int turns = 0;
    Tcl_Obj *draw = Tcl_NewStringObj("::model::redraw", -1);
    Tcl_IncrRefCount(draw);
    auto done = [draw](int code) {
        Tcl_DecrRefCount(draw);
        return code;
    };
    for (int i = 1; i < objc; i += 2) {
        int option = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], options, "option", 0, &option) != TCL_OK) {
            return done(TCL_ERROR);
        }
        if (option == 0) {
            Tcl_Size count = 0;
            Tcl_Obj **items = nullptr;
            if (Tcl_ListObjGetElements(interp, objv[i + 1], &count, &items) != TCL_OK) {
                return done(TCL_ERROR);
            }
            times.clear();
            for (Tcl_Size k = 0; k < count; ++k) {
                double t = 0.0;
                if (get_finite(interp, items[k], &t) != TCL_OK) {
                    return done(TCL_ERROR);
                }
                times.push_back(t);
            }
        } else if (option == 1) {
            if (Tcl_GetBooleanFromObj(interp, objv[i + 1], &turns) != TCL_OK) {
                return done(TCL_ERROR);
            }
        } else {
            Tcl_DecrRefCount(draw);
            draw = objv[i + 1];
            Tcl_IncrRefCount(draw);
        }
    }
    int width = 0, height = 0;
    if (!zk_frame_size(&width, &height)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("no drawing context: open a window or zelkori::offscreen first", -1));
        return done(TCL_ERROR);
    }
    double projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    Extent extent;
    std::vector<Ball> balls;
    unsigned long long digest = 14695981039346656037ull;
    if (gather(interp, draw, times, turns != 0, projection, &extent, &balls, &digest) != TCL_OK) {
        return done(TCL_ERROR);
    }
    if (turns && !balls.empty()) {
        extend(projection, enclosing(balls), true, &extent);
    }
    const Framing framing = fit_extent(extent);
    Tcl_Obj *result = Tcl_NewDictObj();
    auto put = [interp, result](const char *key, Tcl_Obj *value) {
        Tcl_DictObjPut(interp, result, Tcl_NewStringObj(key, -1), value);
    };
    put("zoom", Tcl_NewDoubleObj(framing.zoom));
    put("x", Tcl_NewDoubleObj(framing.x));
    put("y", Tcl_NewDoubleObj(framing.y));
    Tcl_Obj *box = Tcl_NewListObj(0, nullptr);
    if (!extent.empty()) {
        for (const double v : {extent.low[0], extent.low[1], extent.high[0], extent.high[1]}) {
            Tcl_ListObjAppendElement(interp, box, Tcl_NewDoubleObj(v));
        }
    }
    put("box", box);
    char drawn[17];
    std::snprintf(drawn, sizeof drawn, "%016llx", digest);
    put("drawn", Tcl_NewStringObj(drawn, -1));
    Tcl_SetObjResult(interp, result);
    return done(TCL_OK);
}

}  // namespace

const FaceCommand kControlCommands[] = {
    {"::zelkori::control", control_cmd}, {"::zelkori::clock", clock_cmd},
    {"::zelkori::offscreen", offscreen_cmd}, {"::zelkori::stats", stats_cmd},
    {"::zelkori::glerror", glerror_cmd}, {"::zelkori::frame", frame_cmd},
    {"::zelkori::fit", fit_cmd},
    {"::zelkori::target", target_cmd}, {"::zelkori::finish", finish_cmd},
    {"::zelkori::background", background_cmd},
    {nullptr, nullptr},
};

void init_controls() { zk_set_declare_listener(on_declare); }

}  // namespace zelkori
