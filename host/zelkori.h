/* Operations of the host modelling library that a plug-in calls.
 *
 * C linkage so that any host shipping a libzelkori.so with these symbols can
 * load the plug-in. Every call runs on the thread of the Tcl interpreter that
 * loaded the plug-in, with the host's OpenGL context current. Labels are
 * NUL-terminated strings that outlive the library; the host may keep the
 * pointers but never writes through them. */
#ifndef ZELKORI_HOST_H
#define ZELKORI_HOST_H

#include <tcl.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Exported even from a build that hides everything else. */
#pragma GCC visibility push(default)

/* Declares a slider; declaring an id again never makes a second control. */
int scale(Tcl_Interp *interp, int id, const char *label, double low,
          double high, double step, double initial);
/* Declares a check box, ticked at start when initial is non-zero. */
int checkbox(Tcl_Interp *interp, int id, const char *label, int initial);

/* Current value of a control; an id never declared reads 0. */
double get_control_d(int id);
int get_control_b(int id);

/* The host's animation time in seconds. */
double get_time(void);

/* Prepares a frame: model-view matrix current and identity, depth test and
 * lighting on. */
void draw_mode_setup(void);
/* Diffuse (and matching ambient) colour of what is drawn next. */
void diffuse_color(double red, double green, double blue);
/* A sphere centred on the current origin. Leaves the model-view matrix. */
void sphere(double radius);
/* A capped cylinder along +z from the origin to z = length. Leaves the
 * model-view matrix. */
void cylinder(double length, double radius1, double radius2);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
