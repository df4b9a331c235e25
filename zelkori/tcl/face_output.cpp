// The Tcl face's outputs: saves, PNG data and the general writer
// commands, all over the writer interface (zk_writer_*), and the format
// table for scripts; zelkori.tcl makes movies and scenes of them. Outputs an interpreter leaves open are
// abandoned when it is deleted, and when the process ends.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tcl/face.h"
#include "zelkori/output.h"

namespace zelkori {
namespace {

const char kOutputsKey[] = "zelkori::outputs";

// The outputs an interpreter has open, by handle, and its background
// saves: the interpreter's own, so that nothing of one reaches another.
struct Outputs {
    std::map<std::string, zk_writer *> open;
    long long made = 0;
    zk_save_queue *saves = nullptr;  // made by the first save -async
    std::string program;             // how a failure at exit names the program
};

// Every interpreter's outputs, for the process's exit, and the failures
// of saves whose interpreter was deleted before they were reported.
struct AllOutputs {
    std::mutex mutex;
    std::set<Outputs *> each;
    std::vector<std::string> orphans;  // lines for standard error
};

AllOutputs &all_outputs() {
    static AllOutputs *all = new AllOutputs;  // never destroyed: the exit uses it
    return *all;
}

// Writes the queued saves and frees the queue; fails with what the wait
// reports.
int finish_saves(Outputs &outputs, const char **error) {
    zk_save_queue *saves = outputs.saves;
    outputs.saves = nullptr;
    return zk_save_queue_free(saves, error);
}

// The line a failure no caller can hear of is reported with at exit.
std::string exit_line(const Outputs &outputs, const char *error) {
    return outputs.program + ": " + error + "\n";
}

void delete_outputs(ClientData data, Tcl_Interp *) {
    Outputs *outputs = static_cast<Outputs *>(data);
    AllOutputs &all = all_outputs();
    {
        std::lock_guard<std::mutex> lock(all.mutex);
        all.each.erase(outputs);
    }
    for (auto &entry : outputs->open) {
        zk_writer_abort(entry.second);
    }
    // The saves are written; a failure waits for the process's exit.
    const char *error = "";
    if (!finish_saves(*outputs, &error)) {
        std::lock_guard<std::mutex> lock(all.mutex);
        all.orphans.push_back(exit_line(*outputs, error));
    }
    delete outputs;
}

Outputs &outputs_of(Tcl_Interp *interp) {
    return *static_cast<Outputs *>(Tcl_GetAssocData(interp, kOutputsKey, nullptr));
}

// The error code {ZELKORI CODE ?FIELD?}.
int failed(Tcl_Interp *interp, const char *message, const char *code = "WRITE",
           const char *field = nullptr) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    Tcl_SetErrorCode(interp, "ZELKORI", code, field, nullptr);
    return TCL_ERROR;
}

// The bytes of the file name `name` as the file system takes them: Tcl's
// system encoding, with no ~ expansion (a name is a name). Fills `native`,
// which the caller frees, on success only.
int native_path(Tcl_Interp *interp, Tcl_Obj *name, Tcl_DString *native) {
    Tcl_Size length = 0;
    const char *utf = Tcl_GetStringFromObj(name, &length);
    if (length == 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("no file name given", -1));
        Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", "name", nullptr);
        return TCL_ERROR;
    }
    Tcl_UtfToExternalDString(nullptr, utf, length, native);
    if (std::strlen(Tcl_DStringValue(native)) != static_cast<size_t>(Tcl_DStringLength(native))) {
        Tcl_DStringFree(native);
        return failed(interp, zk_write_error(utf, "file names cannot hold a NUL character"));
    }
    return TCL_OK;
}

// A PNG level as the commands take it: zlib's 0-9, or "fast".
int get_level(Tcl_Interp *interp, Tcl_Obj *obj, int *level) {
    long long value = 0;
    if (std::string_view(Tcl_GetString(obj)) == "fast") {
        *level = ZK_PNG_FAST;
    } else if (get_decimal(obj, 0, 9, &value)) {
        *level = static_cast<int>(value);
    } else {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a level from 0 to 9 or \"fast\" but got \"%s\"", Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// ZK_KIND_* and ZK_FIELD_* as scripts see them.
const char *const kKinds[] = {"still", "sequence", "movie", "scene", "page"};
const char *const kFieldNames[] = {"", "name", "size", "fps", "frames", "quality", "first",
                                   "level", "lights", "pictures", "tag", "codec", "alpha",
                                   "target"};
// ZK_LIGHTS_* as scripts name them.
const char *const kLightNames[] = {"web", "blender", "none", nullptr};

// Output options: -size {w h} -fps F -quality Q -level L -first K -frames N
// -lights web|blender|none -pictures BOOLEAN -tag TEXT -codec NAME -alpha
// BOOLEAN, those in `allowed` only. A tag or codec points into its Tcl_Obj,
// kept for the command's call.
int get_params(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], const char *const allowed[],
               zk_writer_params *params) {
    for (int i = 0; i < objc; i += 2) {
        int option = 0;
        if (Tcl_GetIndexFromObj(interp, objv[i], allowed, "option", 0, &option) != TCL_OK) {
            return TCL_ERROR;
        }
        const std::string_view name = allowed[option];
        Tcl_Obj *value = objv[i + 1];
        long long number = 0;
        bool ok = true;
        if (name == "-fps") {
            ok = get_finite(interp, value, &params->fps) == TCL_OK;
        } else if (name == "-level") {
            ok = get_level(interp, value, &params->level) == TCL_OK;
        } else if (name == "-tag") {
            // Tcl holds a NUL as C0 80, which the library would take.
            params->tag = Tcl_GetString(value);
            ok = std::strstr(params->tag, "\xC0\x80") == nullptr;
            if (!ok) {
                Tcl_SetObjResult(interp,
                                 Tcl_NewStringObj("-tag: a tag holds no control characters", -1));
            }
        } else if (name == "-codec") {
            params->codec = Tcl_GetString(value);
        } else if (name == "-pictures") {
            ok = Tcl_GetBooleanFromObj(interp, value, &params->pictures) == TCL_OK;
        } else if (name == "-alpha") {
            ok = Tcl_GetBooleanFromObj(interp, value, &params->alpha) == TCL_OK;
        } else if (name == "-lights") {
            ok = Tcl_GetIndexFromObj(nullptr, value, kLightNames, "lights", TCL_EXACT,
                                     &params->lights) == TCL_OK;
            if (!ok) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "-lights: expected web, blender or none but got \"%s\"", Tcl_GetString(value)));
            }
        } else if (name == "-size") {
            Tcl_Size count = 0;
            Tcl_Obj **sides = nullptr;
            long long w = 0, h = 0;
            // Given, a size is a size: {0 0} would otherwise be the frame's.
            ok = Tcl_ListObjGetElements(nullptr, value, &count, &sides) == TCL_OK && count == 2 &&
                 get_decimal(sides[0], 1, INT32_MAX, &w) && get_decimal(sides[1], 1, INT32_MAX, &h);
            params->width = static_cast<int>(w);
            params->height = static_cast<int>(h);
            if (!ok) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected -size {width height} of whole numbers from 1 but got \"%s\"",
                    Tcl_GetString(value)));
            }
        } else {
            // Given, -frames counts at least one: 0 would otherwise be "not known".
            const long long least = name == "-frames" ? 1 : 0;
            ok = get_decimal(value, least, name == "-quality" ? INT32_MAX : INT64_MAX, &number);
            if (!ok) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf(
                    "expected %s to be a whole number of at least %lld but got \"%s\"",
                    allowed[option], least, Tcl_GetString(value)));
            } else if (name == "-quality") {
                params->quality = static_cast<int>(number);
            } else if (name == "-first") {
                params->first = number;
            } else {
                params->frames = number;
            }
        }
        if (!ok) {
            Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", allowed[option] + 1, nullptr);
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}

// A parameter the format table refused: a usage error naming the option,
// when the caller gave one.
int refused(Tcl_Interp *interp, int field, const char *error, const char *const options[]) {
    const char *field_name = kFieldNames[field];
    std::string option;
    for (int i = 0; options[i] != nullptr; ++i) {
        if (std::strcmp(options[i] + 1, field_name) == 0) {
            option = options[i];
        }
    }
    Tcl_SetObjResult(interp, option.empty() ? Tcl_NewStringObj(error, -1)
                                            : Tcl_ObjPrintf("%s: %s", option.c_str(), error));
    Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", field_name, nullptr);
    return TCL_ERROR;
}

const char *const kOutputOptions[] = {"-size",   "-fps",    "-quality", "-level",
                                      "-first",  "-frames", "-lights",  "-pictures",
                                      "-tag",    "-codec",  "-alpha",   nullptr};

// Opens a writer on objv[0] with the options after it; *writer on success.
int open_output(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[], const char *const options[],
                zk_writer_params *params, zk_writer **writer) {
    if (get_params(interp, objc - 1, objv + 1, options, params) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_DString native;
    if (native_path(interp, objv[0], &native) != TCL_OK) {
        return TCL_ERROR;
    }
    // The one judgement of the target: a parameter refused is a usage
    // error, a file that cannot be written a write error, both naming it.
    const char *error = "";
    int field = 0;
    params->name = Tcl_GetString(objv[0]);
    *writer = zk_writer_open_field(Tcl_DStringValue(&native), params, nullptr, &field, &error);
    Tcl_DStringFree(&native);
    return *writer != nullptr              ? TCL_OK
           : field == 0                    ? failed(interp, error)
           : field == ZK_FIELD_TARGET      ? failed(interp, error, "WRITE", "target")
                                           : refused(interp, field, error, options);
}

// zelkori::output check FILE ?options? | open FILE ?options? | add H ?H ...? |
// close H | abort H | frames H | fps H. check, a query that touches
// nothing, returns {format NAME kind KIND target FIRST-FILE}; open judges
// the target itself, once. A parameter either refuses has the error code
// {ZELKORI USAGE field}; a file open cannot write {ZELKORI WRITE target}.
int output_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    static const char *const subcommands[] = {"check", "open",   "add", "close",
                                              "abort", "frames", "fps", nullptr};
    enum { kCheck, kOpen, kAdd, kClose, kAbort, kFrames, kFps };
    int option = 0;
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option file-or-handle ?arg ...?");
        return TCL_ERROR;
    }
    if (Tcl_GetIndexFromObj(interp, objv[1], subcommands, "option", 0, &option) != TCL_OK) {
        return TCL_ERROR;
    }
    Outputs &outputs = outputs_of(interp);
    if (option == kCheck || option == kOpen) {
        if (objc % 2 == 0) {
            Tcl_WrongNumArgs(interp, 2, objv, "file ?-option value ...?");
            return TCL_ERROR;
        }
        zk_writer_params params;
        zk_writer_params_init(&params);
        if (option == kOpen) {
            zk_writer *writer = nullptr;
            if (open_output(interp, objc - 2, objv + 2, kOutputOptions, &params, &writer) !=
                TCL_OK) {
                return TCL_ERROR;
            }
            const std::string handle = "output" + std::to_string(++outputs.made);
            outputs.open[handle] = writer;
            Tcl_SetObjResult(interp, Tcl_NewStringObj(handle.c_str(), -1));
            return TCL_OK;
        }
        Tcl_DString native;
        if (get_params(interp, objc - 3, objv + 3, kOutputOptions, &params) != TCL_OK ||
            native_path(interp, objv[2], &native) != TCL_OK) {
            return TCL_ERROR;
        }
        const zk_format *format = nullptr;
        const char *target = "", *error = "";
        int field = 0;
        const int code =
            zk_writer_check(Tcl_DStringValue(&native), &params, &format, &target, &field, &error)
                ? TCL_OK
                : refused(interp, field, error, kOutputOptions);
        if (code == TCL_OK) {
            Tcl_DString utf;
            Tcl_ExternalToUtfDString(nullptr, target, -1, &utf);
            Tcl_Obj *result = Tcl_NewListObj(0, nullptr);
            for (Tcl_Obj *item : {Tcl_NewStringObj("format", -1), Tcl_NewStringObj(format->name, -1),
                                  Tcl_NewStringObj("kind", -1),
                                  Tcl_NewStringObj(kKinds[format->kind], -1),
                                  Tcl_NewStringObj("target", -1),
                                  Tcl_NewStringObj(Tcl_DStringValue(&utf), -1)}) {
                Tcl_ListObjAppendElement(nullptr, result, item);
            }
            Tcl_DStringFree(&utf);
            // A name with one number field says where it is, whatever its row.
            const char *before = "", *field = "", *after = "", *why = "";
            if (zk_sequence_field(Tcl_DStringValue(&native), &before, &field, &after, &why)) {
                for (const auto &[key, text] : {std::pair<const char *, const char *>{"before", before},
                                                {"field", field}, {"after", after}}) {
                    Tcl_ExternalToUtfDString(nullptr, text, -1, &utf);
                    Tcl_ListObjAppendElement(nullptr, result, Tcl_NewStringObj(key, -1));
                    Tcl_ListObjAppendElement(nullptr, result,
                                             Tcl_NewStringObj(Tcl_DStringValue(&utf), -1));
                    Tcl_DStringFree(&utf);
                }
            }
            Tcl_SetObjResult(interp, result);
        }
        Tcl_DStringFree(&native);
        return code;
    }
    if (option == kAdd) {
        // One frame to every handle given, read back once.
        std::vector<zk_writer *> writers;
        for (int i = 2; i < objc; ++i) {
            const auto found = outputs.open.find(Tcl_GetString(objv[i]));
            if (found == outputs.open.end()) {
                Tcl_SetObjResult(interp, Tcl_ObjPrintf("no output \"%s\" is open", Tcl_GetString(objv[i])));
                return TCL_ERROR;
            }
            writers.push_back(found->second);
        }
        const char *error = "";
        return zk_writers_add(writers.data(), static_cast<int>(writers.size()), &error)
                   ? TCL_OK
                   : failed(interp, error);
    }
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 2, objv, "handle");
        return TCL_ERROR;
    }
    const auto found = outputs.open.find(Tcl_GetString(objv[2]));
    if (found == outputs.open.end()) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("no output \"%s\" is open", Tcl_GetString(objv[2])));
        return TCL_ERROR;
    }
    zk_writer *writer = found->second;
    const char *error = "";
    switch (option) {
    case kFrames:
        Tcl_SetObjResult(interp, Tcl_NewWideIntObj(zk_writer_frames(writer)));
        return TCL_OK;
    case kFps:
        Tcl_SetObjResult(interp, Tcl_NewDoubleObj(zk_writer_fps(writer)));
        return TCL_OK;
    case kClose:
        outputs.open.erase(found);
        return zk_writer_close(writer, &error) ? TCL_OK : failed(interp, error);
    default:
        outputs.open.erase(found);
        zk_writer_abort(writer);
        return TCL_OK;
    }
}

// zelkori::formats ?file?: the format table, a dict per format; with a
// file, the dict of the format its name makes, looked up and no more (an
// unknown one has the error code {ZELKORI USAGE name}).
int formats_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?file?");
        return TCL_ERROR;
    }
    const zk_format *named = nullptr;
    if (objc == 2) {
        const char *error = "";
        named = zk_format_of(Tcl_GetString(objv[1]), &error);
        if (named == nullptr) {
            return failed(interp, error, "USAGE", "name");
        }
    }
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < zk_format_count(); ++i) {
        const zk_format &format = *zk_format_at(i);
        if (named != nullptr && named != &format) {
            continue;
        }
        Tcl_Obj *dict = Tcl_NewDictObj();
        auto put = [dict](const char *key, Tcl_Obj *value) {
            Tcl_DictObjPut(nullptr, dict, Tcl_NewStringObj(key, -1), value);
        };
        put("name", Tcl_NewStringObj(format.name, -1));
        put("extension", Tcl_NewStringObj(format.extension, -1));
        put("kind", Tcl_NewStringObj(kKinds[format.kind], -1));
        put("summary", Tcl_NewStringObj(format.summary, -1));
        put("max-side", Tcl_NewIntObj(format.max_side));
        put("max-pixels", Tcl_NewWideIntObj(format.max_pixels));
        put("min-fps", Tcl_NewDoubleObj(format.min_fps));
        put("max-fps", Tcl_NewDoubleObj(format.max_fps));
        put("max-frames", Tcl_NewWideIntObj(format.max_frames));
        put("takes-quality", Tcl_NewBooleanObj(format.takes_quality));
        put("max-quality", Tcl_NewIntObj(format.max_quality));
        put("default-quality", Tcl_NewIntObj(format.default_quality));
        put("default-fps", Tcl_NewDoubleObj(format.default_fps));
        put("alias", Tcl_NewStringObj(format.alias != nullptr ? format.alias : "", -1));
        put("takes-level", Tcl_NewBooleanObj(format.takes_level));
        // Levels as the commands take them: 0-9 or "fast"; "" for none.
        for (const auto &[key, level] : {std::pair<const char *, int>{"default-level", format.default_level},
                                         {"drawn-level", format.drawn_level}}) {
            put(key, level == ZK_PNG_FAST ? Tcl_NewStringObj("fast", -1)
                     : level == ZK_PNG_LEVEL_UNSET ? Tcl_NewStringObj("", 0)
                                                   : Tcl_NewIntObj(level));
        }
        put("pattern", Tcl_NewBooleanObj(format.flags & ZK_FORMAT_PATTERN));
        put("stdout", Tcl_NewBooleanObj(format.flags & ZK_FORMAT_STDOUT));
        put("joinable", Tcl_NewBooleanObj(format.flags & ZK_FORMAT_JOINABLE));
        Tcl_Obj *codecs = Tcl_NewListObj(0, nullptr);
        for (int k = 0; zk_format_codec(&format, k) != nullptr; ++k) {
            Tcl_ListObjAppendElement(nullptr, codecs, Tcl_NewStringObj(zk_format_codec(&format, k), -1));
        }
        put("codecs", codecs);
        put("alpha", Tcl_NewBooleanObj(format.flags & ZK_FORMAT_ALPHA));
        if (named != nullptr) {
            Tcl_IncrRefCount(list);
            Tcl_DecrRefCount(list);
            Tcl_SetObjResult(interp, dict);
            return TCL_OK;
        }
        Tcl_ListObjAppendElement(nullptr, list, dict);
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

// zelkori::save ?-async? file ?level?: writes the current viewport as a
// still image of the format file names (a PNG at zlib's level 0-9, or
// "fast", ISA-L, for sequences; a JPEG at its default quality); with
// -async the frame is read now and written by the interpreter's save
// queue, whose failures zelkori::wait reports.
int save_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    const bool async = objc >= 2 && std::string_view(Tcl_GetString(objv[1])) == "-async";
    Tcl_Obj *const *args = async ? objv + 1 : objv;  // args[1] is the file
    const int nargs = async ? objc - 1 : objc;
    if (nargs != 2 && nargs != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "?-async? file ?level?");
        return TCL_ERROR;
    }
    int level = ZK_PNG_LEVEL_UNSET;
    if (nargs == 3 && get_level(interp, args[2], &level) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *error = "";
    const zk_format *format = zk_format_of(Tcl_GetString(args[1]), &error);
    if (format == nullptr || format->kind != ZK_KIND_STILL) {
        std::string stills;
        for (int i = 0; i < zk_format_count(); ++i) {
            const zk_format *row = zk_format_at(i);
            if (row->kind == ZK_KIND_STILL) {
                stills += std::string(stills.empty() ? "" : " or ") + row->extension;
            }
        }
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("a save writes one still image: the name must end in %s, got \"%s\"",
                                               stills.c_str(), Tcl_GetString(args[1])));
        Tcl_SetErrorCode(interp, "ZELKORI", "USAGE", "name", nullptr);
        return TCL_ERROR;
    }
    Tcl_DString native;
    if (native_path(interp, args[1], &native) != TCL_OK) {
        return TCL_ERROR;
    }
    const char *path = Tcl_DStringValue(&native);
    int done = 0;
    if (!async) {
        done = zk_save_frame(path, Tcl_GetString(args[1]), level, &error);
    } else {
        Outputs &outputs = outputs_of(interp);
        if (outputs.saves == nullptr) {
            outputs.saves = zk_save_queue_new();
        }
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.level = level;
        params.name = Tcl_GetString(args[1]);
        error = "not enough memory to save the frame";
        done = outputs.saves != nullptr && zk_save_queue_add(outputs.saves, path, &params, &error);
    }
    Tcl_DStringFree(&native);
    return done ? TCL_OK : failed(interp, error);
}

// zelkori::wait: waits for background saves; reports the first failure.
int wait_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    zk_save_queue *saves = outputs_of(interp).saves;
    const char *error = "";
    return saves == nullptr || zk_save_queue_wait(saves, &error) ? TCL_OK : failed(interp, error);
}

// Background saves finish before the process goes; outputs never closed
// are incomplete and leave nothing. Where the process ends by Tcl_Exit, a
// save that failed is reported on standard error, one line naming the
// program, and a status of 0 becomes 1: there is no caller left to tell.
// Elsewhere (Tcl_Finalize alone) the saves are written all the same.
Tcl_ExitProc *previous_exit = nullptr;

void finish_all(int *status) {
    AllOutputs &all = all_outputs();
    std::lock_guard<std::mutex> lock(all.mutex);
    for (Outputs *outputs : all.each) {
        const char *error = "";
        if (!finish_saves(*outputs, &error)) {
            all.orphans.push_back(exit_line(*outputs, error));
        }
    }
    if (status == nullptr) {
        return;
    }
    for (const std::string &line : all.orphans) {
        if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
            // standard error is gone: the status still says it
        }
        *status = *status == 0 ? 1 : *status;
    }
    all.orphans.clear();
}

void finish_outputs(ClientData) {
    finish_all(nullptr);
    AllOutputs &all = all_outputs();
    std::lock_guard<std::mutex> lock(all.mutex);
    for (Outputs *outputs : all.each) {
        for (auto &entry : outputs->open) {
            zk_writer_abort(entry.second);
        }
        outputs->open.clear();
    }
}

void exiting(ClientData data) {
    int status = static_cast<int>(reinterpret_cast<intptr_t>(data));
    finish_all(&status);
    Tcl_SetExitProc(previous_exit);
    Tcl_Exit(status);
}

}  // namespace

const FaceCommand kOutputCommands[] = {
    {"::zelkori::save", save_cmd},
    {"::zelkori::wait", wait_cmd},
    {"::zelkori::output", output_cmd}, {"::zelkori::formats", formats_cmd},
    {nullptr, nullptr},
};

void init_output(Tcl_Interp *interp) {
    if (Tcl_GetAssocData(interp, kOutputsKey, nullptr) == nullptr) {
        Outputs *outputs = new Outputs;
        // The script the program runs, or the program itself for an
        // interpreter that runs none.
        const char *script = Tcl_GetVar(interp, "argv0", TCL_GLOBAL_ONLY);
        script = script != nullptr ? script : Tcl_GetNameOfExecutable();
        const char *slash = script != nullptr ? std::strrchr(script, '/') : nullptr;
        outputs->program = slash != nullptr ? slash + 1 : script != nullptr ? script : "zelkori";
        Tcl_SetAssocData(interp, kOutputsKey, delete_outputs, outputs);
        AllOutputs &all = all_outputs();
        std::lock_guard<std::mutex> lock(all.mutex);
        all.each.insert(outputs);
    }
    Tcl_DeleteExitHandler(finish_outputs, nullptr);  // once, however many interps
    Tcl_CreateExitHandler(finish_outputs, nullptr);
    static std::once_flag once;
    std::call_once(once, [] { previous_exit = Tcl_SetExitProc(exiting); });
}

}  // namespace zelkori
