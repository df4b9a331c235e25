#include "morvakine.h"

#include <string>

#include "model/model.h"

namespace {

// A plug-in built for one major version of Tcl loads into the other without
// a word, but their structures differ, so nothing else may run there. Says
// so through calls both majors share.
bool built_for_running_tcl(Tcl_Interp *interp) {
    int major = 0, minor = 0;
    Tcl_GetVersion(&major, &minor, nullptr, nullptr);
    if (major != TCL_MAJOR_VERSION) {
        const std::string running = std::to_string(major) + "." + std::to_string(minor);
        Tcl_AppendResult(interp, "morvakine.so was built for Tcl " TCL_VERSION
                         " and cannot run in Tcl ", running.c_str(), nullptr);
    }
    return major == TCL_MAJOR_VERSION;
}

struct CommandEntry {
    const char *name;
    Tcl_ObjCmdProc *proc;
};

// Registration order is part of the contract with hosts that trace it.
// Names are fully qualified so the commands land in ::model whatever
// namespace is current during `load`.
const CommandEntry kCommands[] = {
    {"::model::resize", resize_cmd},
    {"::model::redraw", redraw_cmd},
    {"::model::setup", setup_cmd},
};

}  // namespace

// Registers the three commands; nothing else happens at load time. The
// result of the interpreter is left as it was, unless the running Tcl is
// of another major version than the one built for.
extern "C" int Morvakine_Init(Tcl_Interp *interp) {
    if (!built_for_running_tcl(interp)) {
        return TCL_ERROR;
    }
    for (const CommandEntry &command : kCommands) {
        Tcl_CreateObjCommand(interp, command.name, command.proc, nullptr,
                             nullptr);
    }
    return TCL_OK;
}
