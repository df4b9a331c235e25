#include "model.h"

#include "host/zelkori.h"

namespace {

enum class ControlKind { kSlider, kCheckBox };

struct ControlSpec {
    int id;
    ControlKind kind;
    const char *label;
    double low, high, step, initial;  // degrees; unused for the check box
};

// Creation order, not id order: the check box sits between the view and the
// pose sliders.
const ControlSpec kControls[] = {
    {1, ControlKind::kSlider, "x view", 0, 360, 1, 280},
    {2, ControlKind::kSlider, "y view", 0, 360, 1, 0},
    {3, ControlKind::kSlider, "z view", 0, 360, 1, 35},
    {12, ControlKind::kCheckBox, "manual control", 0, 0, 0, 0},
    {10, ControlKind::kSlider, "twist", -45, 45, 0.5, 0},
    {11, ControlKind::kSlider, "curl", -90, 90, 0.5, 0},
    {13, ControlKind::kSlider, "spin", 0, 360, 1, 0},
    {14, ControlKind::kSlider, "nod", -60, 60, 0.5, 0},
};

}  // namespace

// Declares every control in table order. Arguments are ignored and whatever
// the host leaves in the interpreter result stays there.
int setup_cmd(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[]) {
    for (const ControlSpec &control : kControls) {
        if (control.kind == ControlKind::kSlider) {
            scale(interp, control.id, control.label, control.low,
                  control.high, control.step, control.initial);
        } else {
            checkbox(interp, control.id, control.label, 0);
        }
    }
    return TCL_OK;
}
