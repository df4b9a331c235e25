// The viewer's own zoom and pan, loaded into the viewer from framing.so:
//
//   ::viewer::frame ZOOM PAN_X PAN_Y
//
// Multiplies the current projection matrix, from the left, by a scale of
// ZOOM and a shift of (PAN_X, PAN_Y) in normalised device coordinates, so
// that the picture the plug-in's projection makes is magnified about the
// centre of the drawing area and moved across it. Depth is untouched, so
// nothing is clipped that the plug-in's projection keeps. Call it right
// after ::model::resize, with the window's context current; leaves the
// matrix mode as it was.
#include <GL/gl.h>
#include <tcl.h>

#include <cmath>

namespace {

const double kMaxZoom = 1000.0;
const double kMaxPan = 1000.0;

int get_bounded(Tcl_Interp *interp, Tcl_Obj *obj, double low, double high,
                double *out) {
    if (Tcl_GetDoubleFromObj(interp, obj, out) != TCL_OK) {
        return TCL_ERROR;
    }
    if (!std::isfinite(*out) || *out < low || *out > high) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf(
            "expected a number from %g to %g but got \"%s\"", low, high,
            Tcl_GetString(obj)));
        return TCL_ERROR;
    }
    return TCL_OK;
}

int frame_cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "zoom panX panY");
        return TCL_ERROR;
    }
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
    return TCL_OK;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int Framing_Init(Tcl_Interp *interp) {
    Tcl_CreateObjCommand(interp, "::viewer::frame", frame_cmd, nullptr, nullptr);
    return TCL_OK;
}
