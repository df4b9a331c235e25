/* Handlers of the ::model commands and the arm-segment primitive. */
#ifndef MORVAKINE_MODEL_H
#define MORVAKINE_MODEL_H

#include <tcl.h>

/* ::model::setup: declares the eight controls in the host's panel. */
int setup_cmd(ClientData client_data, Tcl_Interp *interp, int objc,
              Tcl_Obj *const objv[]);
/* ::model::resize width height: viewport, projection and clear colour. */
int resize_cmd(ClientData client_data, Tcl_Interp *interp, int objc,
               Tcl_Obj *const objv[]);
/* ::model::redraw: draws one frame of the figure. */
int redraw_cmd(ClientData client_data, Tcl_Interp *interp, int objc,
               Tcl_Obj *const objv[]);

/* One arm segment: a cylinder along +z and a joint sphere at its far end.
 * Leaves the model-view matrix as it found it. */
void draw_segment(double length, double radius);

#endif
