// The host library's Tcl face, `package require zelkori`: controls, clock,
// offscreen context and frame capture for host scripts.
#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "output_file.h"
#include "zelkori_host.h"

namespace {

const char kPackageName[] = "zelkori";
const char kPackageVersion[] = ZELKORI_VERSION;
const char kDeclareHookKey[] = "zelkori::ondeclare";
const int kDefaultPngLevel = 6;

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

// Resolves a control named by id or, failing that, by label.
int find_control(Tcl_Interp *interp, Tcl_Obj *name, zk_control *out) {
    int id = 0;
    if (Tcl_GetIntFromObj(nullptr, name, &id) == TCL_OK &&
        zk_control_by_id(id, out)) {
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
        } else if (Tcl_GetDoubleFromObj(interp, objv[3], &value) != TCL_OK) {
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
        int length = 0;
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

int get_finite(Tcl_Interp *interp, Tcl_Obj *obj, double *out) {
    if (Tcl_GetDoubleFromObj(interp, obj, out) != TCL_OK) {
        return TCL_ERROR;
    }
    if (!std::isfinite(*out)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a finite number but got \"%s\"", Tcl_GetString(obj)));
        return TCL_ERROR;
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

// The bytes of the file name `name` as the file system takes them: Tcl's
// system encoding, with no ~ expansion (a name is a name). Fills `native`,
// which the caller frees, on success only.
int native_path(Tcl_Interp *interp, Tcl_Obj *name, Tcl_DString *native) {
    int length = 0;
    const char *utf = Tcl_GetStringFromObj(name, &length);
    if (length == 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("no file name given", -1));
        return TCL_ERROR;
    }
    Tcl_UtfToExternalDString(nullptr, utf, length, native);
    if (std::strlen(Tcl_DStringValue(native)) !=
        static_cast<size_t>(Tcl_DStringLength(native))) {
        Tcl_DStringFree(native);
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "cannot write \"%s\": file names cannot hold a NUL character", utf));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// A file that could not be written, as an error of the command.
int write_failed(Tcl_Interp *interp, const char *file, const char *error) {
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("cannot write \"%s\": %s", file, error));
    Tcl_SetErrorCode(interp, "ZELKORI", "WRITE", nullptr);
    return TCL_ERROR;
}

// Reports the first failed background save, if any.
int collect_saves(Tcl_Interp *interp) {
    const char *path = "", *error = "";
    return zk_save_wait(&path, &error) ? TCL_OK : write_failed(interp, path, error);
}

const char kReadFailed[] = "cannot read the frame back from OpenGL";
const char kNoMemory[] = "not enough memory to save the frame";

// The size of the frame a command reads (zk_frame_size); sets the result
// when no context is current. `what` says what the frame was wanted for.
int current_frame_size(Tcl_Interp *interp, const char *what, int *width, int *height) {
    if (!zk_frame_size(width, height)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "no frame to %s: no OpenGL context is current", what));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Reads the current width x height frame into `rgb`; sets the result on
// failure.
int read_now(Tcl_Interp *interp, int width, int height, std::vector<unsigned char> &rgb) {
    try {
        rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    } catch (const std::bad_alloc &) {  // Tcl calls this from C
        Tcl_SetObjResult(interp, Tcl_NewStringObj(kNoMemory, -1));
        return TCL_ERROR;
    }
    if (!zk_read_frame(width, height, rgb.data())) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(kReadFailed, -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Reads the current frame and writes it to `path`, named `file` in messages.
int save_now(Tcl_Interp *interp, Tcl_Obj *file, const char *path, int width,
             int height, int level) {
    std::vector<unsigned char> rgb;
    if (read_now(interp, width, height, rgb) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    return zk_write_png(path, width, height, rgb.data(), level, &error)
               ? TCL_OK
               : write_failed(interp, Tcl_GetString(file), error);
}

// Reads the current frame now and queues it for the background writers.
int save_later(Tcl_Interp *interp, const char *path, int width, int height,
               int level) {
    const int queued = zk_save_frame_async(path, width, height, level);
    if (queued < 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(queued == -1 ? kReadFailed : kNoMemory, -1));
        return TCL_ERROR;
    }
    return queued > 0 ? TCL_OK : collect_saves(interp);
}

// A PNG level as the commands take it: zlib's 0-9, or "fast".
int get_level(Tcl_Interp *interp, Tcl_Obj *obj, int *level) {
    if (std::string_view(Tcl_GetString(obj)) == "fast") {
        *level = ZK_PNG_FAST;
        return TCL_OK;
    }
    if (Tcl_GetIntFromObj(nullptr, obj, level) != TCL_OK || *level < 0 || *level > 9) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a level from 0 to 9 or \"fast\" but got \"%s\"", Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// zelkori::save ?-async? file ?level?: writes the current viewport as a
// PNG at zlib's level 0-9, or "fast" (ISA-L, for sequences); with -async
// the frame is read now and encoded in the background, and an earlier
// background failure is reported instead.
int save_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    const bool async = objc >= 3 && std::string_view(Tcl_GetString(objv[1])) == "-async";
    Tcl_Obj *const *args = async ? objv + 1 : objv;  // args[1] is the file
    const int nargs = async ? objc - 1 : objc;
    if (nargs != 2 && nargs != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "?-async? file ?level?");
        return TCL_ERROR;
    }
    int level = kDefaultPngLevel;
    if (nargs == 3 && get_level(interp, args[2], &level) != TCL_OK) {
        return TCL_ERROR;
    }
    int width = 0, height = 0;
    if (current_frame_size(interp, "save", &width, &height) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_DString native;
    if (native_path(interp, args[1], &native) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *path = Tcl_DStringValue(&native);
    const int code = async ? save_later(interp, path, width, height, level)
                           : save_now(interp, args[1], path, width, height, level);
    Tcl_DStringFree(&native);
    return code;
}

// zelkori::png ?level?: the current viewport as PNG data (a byte array).
int png_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?level?");
        return TCL_ERROR;
    }
    int level = kDefaultPngLevel;
    if (objc == 2 && get_level(interp, objv[1], &level) != TCL_OK) {
        return TCL_ERROR;
    }
    int width = 0, height = 0;
    if (current_frame_size(interp, "encode", &width, &height) != TCL_OK) {
        return TCL_ERROR;
    }
    std::vector<unsigned char> rgb;
    if (read_now(interp, width, height, rgb) != TCL_OK) {
        return TCL_ERROR;
    }
    unsigned char *data = nullptr;
    size_t size = 0;
    const char *error = "";
    if (!zk_encode_png(width, height, rgb.data(), level, &data, &size, &error)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("cannot encode the frame: %s", error));
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewByteArrayObj(data, static_cast<int>(size)));
    free(data);
    return TCL_OK;
}

// zelkori::writable file: fails, as a save to `file` would, when it cannot
// be written; creates nothing.
int writable_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "file");
        return TCL_ERROR;
    }
    Tcl_DString native;
    if (native_path(interp, objv[1], &native) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    const int ok = zk_output_check(Tcl_DStringValue(&native), &error);
    Tcl_DStringFree(&native);
    return ok ? TCL_OK : write_failed(interp, Tcl_GetString(objv[1]), error);
}

// zelkori::wait: waits for background saves; reports the first failure.
int wait_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    return collect_saves(interp);
}

const int kMaxSceneFrames = 10000;
const double kMaxSceneFps = 10000.0;

// zelkori::scene file ?-frames n? ?-fps f? ?-draw script?: captures what
// the draw script (default ::model::redraw) draws and writes it as a glTF
// scene, binary unless the name ends in .gltf. With -frames the clock is
// stopped and set to start + k / fps before the k-th draw, then put back.
int scene_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const options[] = {"-frames", "-fps", "-draw", nullptr};
    enum { kFrames, kFps, kDraw };
    if (objc < 2 || objc % 2 != 0) {
        Tcl_WrongNumArgs(interp, 1, objv, "file ?-frames n? ?-fps f? ?-draw script?");
        return TCL_ERROR;
    }
    int frames = 1;
    double fps = 30.0;
    Tcl_Obj *draw = Tcl_NewStringObj("::model::redraw", -1);
    Tcl_IncrRefCount(draw);
    for (int i = 2; i < objc; i += 2) {
        int option = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], options, "option", 0, &option) != TCL_OK) {
            Tcl_DecrRefCount(draw);
            return TCL_ERROR;
        }
        bool ok = true;
        if (option == kFrames) {
            ok = Tcl_GetIntFromObj(interp, objv[i + 1], &frames) == TCL_OK;
            if (ok && (frames < 1 || frames > kMaxSceneFrames)) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected -frames from 1 to %d but got \"%s\"", kMaxSceneFrames,
                    Tcl_GetString(objv[i + 1])));
                ok = false;
            }
        } else if (option == kFps) {
            ok = get_finite(interp, objv[i + 1], &fps) == TCL_OK;
            if (ok && !(fps > 0.0 && fps <= kMaxSceneFps)) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected -fps above 0 and at most %g but got \"%s\"", kMaxSceneFps,
                    Tcl_GetString(objv[i + 1])));
                ok = false;
            }
        } else {
            Tcl_DecrRefCount(draw);
            draw = objv[i + 1];
            Tcl_IncrRefCount(draw);
        }
        if (!ok) {
            Tcl_DecrRefCount(draw);
            return TCL_ERROR;
        }
    }
    // The name is checked before anything is drawn.
    Tcl_DString native;
    const char *error = "";
    if (native_path(interp, objv[1], &native) != TCL_OK) {
        Tcl_DecrRefCount(draw);
        return TCL_ERROR;
    }
    if (!zk_output_check(Tcl_DStringValue(&native), &error)) {
        Tcl_DStringFree(&native);
        Tcl_DecrRefCount(draw);
        return write_failed(interp, Tcl_GetString(objv[1]), error);
    }
    const double start = get_time();
    const int playing = zk_clock_playing();
    if (frames > 1) {
        zk_clock_play(0);
    }
    zk_capture_start();
    int code = TCL_OK;
    for (int k = 0; k < frames && code == TCL_OK; ++k) {
        if (k > 0) {
            zk_capture_frame();
        }
        if (frames > 1) {
            zk_clock_set(start + k / fps);
        }
        code = Tcl_EvalObjEx(interp, draw, TCL_EVAL_GLOBAL);
    }
    zk_capture_stop();
    Tcl_DecrRefCount(draw);
    if (frames > 1) {
        zk_clock_set(start);
        zk_clock_play(playing);
    }
    if (code != TCL_OK) {
        Tcl_DStringFree(&native);
        return code;
    }
    Tcl_ResetResult(interp);
    const int written = zk_scene_write(Tcl_DStringValue(&native), fps, &error);
    Tcl_DStringFree(&native);
    return written ? TCL_OK : write_failed(interp, Tcl_GetString(objv[1]), error);
}

// zelkori::movie open FILE ?-fps F? ?-quality Q? ?-first K? | add | close |
// abort: a movie of the viewport's size, its format named by FILE's
// extension; its first frame is frame K of the clock (at K / F seconds).
int movie_open(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc < 3 || objc % 2 == 0) {
        Tcl_WrongNumArgs(interp, 2, objv, "file ?-fps fps? ?-quality quality? ?-first frame?");
        return TCL_ERROR;
    }
    static const char *const options[] = {"-fps", "-quality", "-first", nullptr};
    double fps = 30.0;
    int quality = -1;
    Tcl_WideInt first = 0;
    for (int i = 3; i < objc; i += 2) {
        int option = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], options, "option", 0, &option) != TCL_OK) {
            return TCL_ERROR;
        }
        if (option == 0) {
            if (get_finite(interp, objv[i + 1], &fps) != TCL_OK) {
                return TCL_ERROR;
            }
            if (fps <= 0 || fps > 1000) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected frames per second above 0 and up to 1000 but got \"%s\"",
                    Tcl_GetString(objv[i + 1])));
                return TCL_ERROR;
            }
        } else if (option == 2) {
            if (Tcl_GetWideIntFromObj(interp, objv[i + 1], &first) != TCL_OK) {
                return TCL_ERROR;
            }
            if (first < 0 || first > 1000000000) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected a first frame from 0 to 1000000000 but got \"%s\"",
                    Tcl_GetString(objv[i + 1])));
                return TCL_ERROR;
            }
        } else {
            if (Tcl_GetIntFromObj(interp, objv[i + 1], &quality) != TCL_OK) {
                return TCL_ERROR;
            }
            if (quality < 0 || quality > 100) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected a quality from 0 to 100 but got \"%s\"",
                    Tcl_GetString(objv[i + 1])));
                return TCL_ERROR;
            }
        }
    }
    const char *file = Tcl_GetString(objv[2]);
    const int format = zk_movie_format(file);
    if (format < 0) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "unknown movie format \"%s\": use .mp4, .webm, .gif or .apng", file));
        return TCL_ERROR;
    }
    int width = 0, height = 0;
    if (current_frame_size(interp, "record", &width, &height) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_DString native;
    if (native_path(interp, objv[2], &native) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    const int opened = zk_movie_open(Tcl_DStringValue(&native), format, width, height,
                                     fps, quality, first, &error);
    Tcl_DStringFree(&native);
    return opened ? TCL_OK : write_failed(interp, file, error);
}

int movie_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const options[] = {"open", "add", "close", "abort", nullptr};
    enum { kOpen, kAdd, kClose, kAbort };
    int option = 0;
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg ...?");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], options, "option", 0, &option) != TCL_OK) {
        return TCL_ERROR;
    }
    if (option == kOpen) {
        return movie_open(interp, objc, objv);
    }
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 2, objv, nullptr);
        return TCL_ERROR;
    }
    const char *error = "";
    int done = 1;
    switch (option) {
    case kAdd:
        done = zk_movie_add_frame(&error);
        break;
    case kClose:
        done = zk_movie_close(&error);
        break;
    case kAbort:
        zk_movie_abort();
        break;
    }
    if (!done) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(error, -1));
        Tcl_SetErrorCode(interp, "ZELKORI", "MOVIE", nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

// Background saves finish before the process goes; a movie never closed
// is incomplete and leaves nothing.
void finish_saves(ClientData) {
    zk_save_shutdown();
    zk_movie_abort();
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

struct FaceCommand {
    const char *name;
    Tcl_ObjCmdProc *proc;
};

const FaceCommand kFaceCommands[] = {
    {"::zelkori::control", control_cmd}, {"::zelkori::clock", clock_cmd},
    {"::zelkori::offscreen", offscreen_cmd}, {"::zelkori::save", save_cmd},
    {"::zelkori::stats", stats_cmd}, {"::zelkori::glerror", glerror_cmd},
    {"::zelkori::wait", wait_cmd}, {"::zelkori::writable", writable_cmd},
    {"::zelkori::png", png_cmd}, {"::zelkori::scene", scene_cmd},
    {"::zelkori::movie", movie_cmd},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int Zelkori_Init(
    Tcl_Interp *interp) {
    for (const FaceCommand &command : kFaceCommands) {
        Tcl_CreateObjCommand(interp, command.name, command.proc, nullptr, nullptr);
    }
    zk_set_declare_listener(on_declare);
    Tcl_DeleteExitHandler(finish_saves, nullptr);  // once, however many interps
    Tcl_CreateExitHandler(finish_saves, nullptr);
    return Tcl_PkgProvide(interp, kPackageName, kPackageVersion);
}
