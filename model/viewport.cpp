#include "model.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace {

const double kFieldOfViewDeg = 30.0;
const double kNearPlane = 1.0;
const double kFarPlane = 100.0;

char kWrongArgs[] = "wrong # args: should be \"width height\"";
// A zero or negative size would give a non-finite aspect or a viewport GL
// rejects, after the projection was already replaced.
char kBadSize[] = "bad size: width and height must be at least 1";

}  // namespace

// Fits viewport and perspective to a width x height drawing area and sets
// the black clear colour. Leaves the projection matrix current. On any
// error no GL state has been touched.
int resize_cmd(ClientData, Tcl_Interp *interp, int objc,
               Tcl_Obj *const objv[]) {
    if (objc != 3) {
        Tcl_SetResult(interp, kWrongArgs, TCL_STATIC);
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
        Tcl_SetResult(interp, kBadSize, TCL_STATIC);
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
