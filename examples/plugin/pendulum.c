/* A plug-in for morvakine-view and morvakine-render: a pendulum swinging
 * on the host's clock. Build it against the installed host library (see
 * CMakeLists.txt beside it) and draw it with --plugin pendulum.so. */
#include <GL/gl.h>
#include <math.h>
#include <zelkori.h>

enum { LENGTH = 1, SWING = 2, RED = 3 };

static int setup(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    (void)data, (void)objc, (void)objv;
    scale(interp, LENGTH, "length", 1.0, 4.0, 0.1, 2.5);
    scale(interp, SWING, "swing", 0.0, 80.0, 1.0, 40.0);
    checkbox(interp, RED, "red bob", 1);
    return TCL_OK;
}

static int resize(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    int width = 0, height = 0;
    (void)data;
    if (objc != 3 || Tcl_GetIntFromObj(interp, objv[1], &width) != TCL_OK
        || Tcl_GetIntFromObj(interp, objv[2], &height) != TCL_OK || width < 1 || height < 1) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("usage: ::model::resize width height", -1));
        return TCL_ERROR;
    }
    double aspect = (double)width / height;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.5 * aspect, 0.5 * aspect, -0.5, 0.5, 1.0, 100.0);
    glClearColor(0.1f, 0.1f, 0.15f, 1.0f);
    return TCL_OK;
}

static int redraw(ClientData data, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    (void)data, (void)interp, (void)objc, (void)objv;
    double length = get_control_d(LENGTH);
    double angle = get_control_d(SWING) * sin(get_time() * 2.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw_mode_setup();
    glTranslated(0.0, 1.5, -8.0);
    glRotated(angle, 0.0, 0.0, 1.0);
    glRotated(90.0, 1.0, 0.0, 0.0); /* the rod hangs down, along +z */
    diffuse_color(0.8, 0.8, 0.8);
    sphere(0.1);
    cylinder(length, 0.04, 0.04);
    glTranslated(0.0, 0.0, length);
    if (get_control_b(RED)) {
        diffuse_color(0.9, 0.2, 0.1);
    } else {
        diffuse_color(0.2, 0.5, 0.9);
    }
    sphere(0.35);
    return TCL_OK;
}

/* The entry point `load` finds: the library's name, capitalised, + _Init. */
__attribute__((visibility("default"))) int Pendulum_Init(Tcl_Interp *interp) {
    Tcl_CreateObjCommand(interp, "::model::setup", setup, NULL, NULL);
    Tcl_CreateObjCommand(interp, "::model::resize", resize, NULL, NULL);
    Tcl_CreateObjCommand(interp, "::model::redraw", redraw, NULL, NULL);
    return TCL_OK;
}
