// The Tcl face's shared parts: the subcommand files (face_*.cpp) register
// through face.cpp and parse their arguments with these.
#ifndef ZELKORI_FACE_H
#define ZELKORI_FACE_H

#include <tcl.h>

#include "tcl_compat.h"

namespace zelkori {

struct FaceCommand {
    const char *name;
    Tcl_ObjCmdProc *proc;
};

// The commands of each file, ending with a null name.
extern const FaceCommand kControlCommands[];
extern const FaceCommand kOutputCommands[];

// Called for each interpreter the package is loaded into.
void init_controls();
void init_output(Tcl_Interp *interp);

// A finite double; sets the result otherwise.
int get_finite(Tcl_Interp *interp, Tcl_Obj *obj, double *out);

// A finite double from `low` to `high`; sets the result otherwise.
int get_bounded(Tcl_Interp *interp, Tcl_Obj *obj, double low, double high,
                double *out);

// A whole number as users type it: decimal, leading zeros meaning
// nothing, from `low` to `high`. Sets no result.
bool get_decimal(Tcl_Obj *obj, long long low, long long high, long long *out);

// A colour as users type it (colours.cpp): a name Tk knows or #rrggbb
// and the like, to red, green and blue from 0 to 1. Sets no result.
bool parse_colour(const char *text, double rgb[3]);

}  // namespace zelkori

#endif
