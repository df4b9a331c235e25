/* What differs between the Tcl 8.6 and Tcl 9 C interfaces, for code built
 * against either. */
#ifndef ZELKORI_TCL_COMPAT_H
#define ZELKORI_TCL_COMPAT_H

#include <stdio.h>
#include <tcl.h>

#if TCL_MAJOR_VERSION < 9
typedef int Tcl_Size;
#endif

/* Whether the running Tcl is of the major version this code was built
 * for. A library built for one loads into the other without a word, but
 * their structures differ, so nothing else may run: on a mismatch this
 * sets the result to a line saying so, through calls both majors share,
 * and returns 0. `what` names the library. */
static inline int zk_tcl_major_matches(Tcl_Interp *interp, const char *what) {
    int major = 0, minor = 0;
    Tcl_GetVersion(&major, &minor, NULL, NULL);
    if (major == TCL_MAJOR_VERSION) {
        return 1;
    }
    char running[32];
    snprintf(running, sizeof running, "%d.%d", major, minor);
    Tcl_AppendResult(interp, what, " was built for Tcl " TCL_VERSION
                     " and cannot run in Tcl ", running, (char *)NULL);
    return 0;
}

#endif
