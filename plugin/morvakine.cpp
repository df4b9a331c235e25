#include "morvakine.h"

#include "model/model.h"
#include "zelkori/tcl_compat.h"

namespace {

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
    if (!zk_tcl_major_matches(interp, "morvakine.so")) {
        return TCL_ERROR;
    }
    for (const CommandEntry &command : kCommands) {
        Tcl_CreateObjCommand(interp, command.name, command.proc, nullptr,
                             nullptr);
    }
    return TCL_OK;
}
