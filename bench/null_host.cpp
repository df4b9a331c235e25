// The nine host operations, doing the least a host can: the controls read
// their initial values, the clock reads what the benchmark set, and
// draw_mode_setup only resets the model-view matrix as the plug-in expects.
#include "null_host.h"

#include <GL/gl.h>

#include "host/zelkori.h"

namespace null_host {
namespace {

struct InitialValue {
    int id;
    double value;  // degrees
};
// The view sliders' initial values; every other control starts at 0.
const InitialValue kInitialValues[] = {{1, 280.0}, {2, 0.0}, {3, 35.0}};

struct Clock {
    double seconds = 0.0;
};

Clock &clock() {
    static Clock instance;
    return instance;
}

}  // namespace

void set_time(double seconds) { clock().seconds = seconds; }

double control(int id) {
    for (const InitialValue &initial : kInitialValues) {
        if (initial.id == id) {
            return initial.value;
        }
    }
    return 0.0;
}

}  // namespace null_host

extern "C" {

int scale(Tcl_Interp *, int, const char *, double, double, double, double) {
    return TCL_OK;
}
int checkbox(Tcl_Interp *, int, const char *, int) { return TCL_OK; }
double get_control_d(int id) { return null_host::control(id); }
int get_control_b(int) { return 0; }
double get_time(void) { return null_host::clock().seconds; }
void draw_mode_setup(void) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
void diffuse_color(double, double, double) {}
void sphere(double) {}
void cylinder(double, double, double) {}

}  // extern "C"
