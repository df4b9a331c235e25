#include "model.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace {

const double kFieldOfViewDeg = 30.0;
const double kNearPlane = 1.0;
const double kFarPlane = 100.0;

const char kWrongArgs[] = "wrong # args: should be \"width height\"";
// A zero or negative size would give a non-finite aspect or a viewport GL
// rejects, after the projection was already replaced.
const char kBadSize[] = "bad size: width and height must be at least 1";

// Tcl never writes through a TCL_STATIC result; its signature just predates
// const.
void set_static_result(Tcl_Interp *interp, const char *message) {
    Tcl_SetResult(interp, const_cast<char *>(message), TCL_STATIC);
}

}  // namespace

// Fits viewport and perspective to a width x height drawing area and sets
// the black clear colour. Leaves the projection matrix current. On any
// error no GL state has been touched.
int resize_cmd(ClientData, Tcl_Interp *interp, int objc,
               Tcl_Obj *const objv[]) {
    if (objc != 3) {
        set_static_result(interp, kWrongArgs);
        return TCL_ERROR;
    }
    int width = 0;
    if (Tcl_GetIntFromObj(interp, objv[1], &width) != TCL_OK) {
        return TCL_ERROR;
    }
    int height = 0;
    if (Tcl_GetIntFromObj(interp, objv[2], &height) != TCL_OK) {
        return TCL_ERROR;
    }
    if (width < 1 || height < 1) {
        set_static_result(interp, kBadSize);
        return TCL_ERROR;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kFieldOfViewDeg,
                   static_cast<double>(width) / static_cast<double>(height),
                   kNearPlane, kFarPlane);
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    return TCL_OK;
}
