// Controls and the animation clock: the host's side of the control panel.
#include "core/state.h"

#include <algorithm>
#include <cmath>

namespace zelkori {

HostState &state() {
    static HostState host;
    return host;
}

namespace {

Control *find_control(int id) {
    for (Control &control : state().controls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

void fill(const Control &control, zk_control *out) {
    if (out == nullptr) {
        return;
    }
    out->id = control.id;
    out->is_checkbox = control.is_checkbox ? 1 : 0;
    out->label = control.label.c_str();
    out->low = control.low;
    out->high = control.high;
    out->step = control.step;
    out->initial = control.initial;
    out->value = control.value;
}

double clamp_to(const Control &control, double value) {
    if (control.is_checkbox) {
        return value != 0.0 ? 1.0 : 0.0;
    }
    return std::min(std::max(value, control.low), control.high);
}

// Declares or redeclares a control. A redeclared control keeps its current
// value (clamped to the new range), so running a plug-in's setup again
// never resets what the user has set.
void declare(Tcl_Interp *interp, Control declared) {
    if (!std::isfinite(declared.low) || !std::isfinite(declared.high) ||
        !std::isfinite(declared.initial)) {
        declared.low = declared.high = declared.initial = 0.0;
    }
    if (declared.low > declared.high) {
        std::swap(declared.low, declared.high);
    }
    if (!std::isfinite(declared.step) || declared.step < 0.0) {
        declared.step = 0.0;
    }
    Control *existing = find_control(declared.id);
    if (existing != nullptr) {
        const double value = existing->value;
        *existing = declared;
        existing->value = clamp_to(*existing, value);
        return;
    }
    declared.value = clamp_to(declared, declared.initial);
    state().controls.push_back(declared);
    if (state().listener != nullptr && interp != nullptr) {
        state().listener(interp, declared.id);
    }
}

}  // namespace
}  // namespace zelkori

using zelkori::Control;
using zelkori::state;

extern "C" {

int scale(Tcl_Interp *interp, int id, const char *label, double low,
          double high, double step, double initial) {
    Control control;
    control.id = id;
    control.label = label != nullptr ? label : "";
    control.low = low;
    control.high = high;
    control.step = step;
    control.initial = initial;
    zelkori::declare(interp, control);
    return TCL_OK;
}

int checkbox(Tcl_Interp *interp, int id, const char *label, int initial) {
    Control control;
    control.id = id;
    control.is_checkbox = true;
    control.label = label != nullptr ? label : "";
    control.high = 1.0;
    control.step = 1.0;
    control.initial = initial != 0 ? 1.0 : 0.0;
    zelkori::declare(interp, control);
    return TCL_OK;
}

double get_control_d(int id) {
    const Control *control = zelkori::find_control(id);
    return control != nullptr ? control->value : 0.0;
}

int get_control_b(int id) {
    const Control *control = zelkori::find_control(id);
    return control != nullptr && control->value != 0.0 ? 1 : 0;
}

double get_time(void) {
    const zelkori::Clock &clock = state().clock;
    if (!clock.playing) {
        return clock.base_seconds;
    }
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - clock.anchor;
    return clock.base_seconds + clock.speed * elapsed.count();
}

void zk_set_declare_listener(zk_declare_listener listener) {
    state().listener = listener;
}

int zk_control_at(int index, zk_control *out) {
    if (index < 0 || index >= static_cast<int>(state().controls.size())) {
        return 0;
    }
    zelkori::fill(state().controls[static_cast<size_t>(index)], out);
    return 1;
}

int zk_control_by_id(int id, zk_control *out) {
    const Control *control = zelkori::find_control(id);
    if (control == nullptr) {
        return 0;
    }
    zelkori::fill(*control, out);
    return 1;
}

int zk_control_by_label(const char *label, zk_control *out) {
    if (label == nullptr) {
        return 0;
    }
    for (const Control &control : state().controls) {
        if (control.label == label) {
            zelkori::fill(control, out);
            return 1;
        }
    }
    return 0;
}

int zk_control_set(int id, double value) {
    Control *control = zelkori::find_control(id);
    if (control == nullptr || !std::isfinite(value)) {
        return 0;
    }
    control->value = zelkori::clamp_to(*control, value);
    return 1;
}

void zk_controls_clear(void) {
    state().controls.clear();
}

void zk_clock_set(double seconds) {
    if (!std::isfinite(seconds)) {
        return;
    }
    state().clock.base_seconds = seconds;
    state().clock.anchor = std::chrono::steady_clock::now();
}

void zk_clock_play(int playing) {
    // Rebase so that the reading carries on from where it stands.
    const double now = get_time();
    state().clock.playing = playing != 0;
    zk_clock_set(now);
}

int zk_clock_playing(void) {
    return state().clock.playing ? 1 : 0;
}

int zk_clock_set_speed(double speed) {
    if (!std::isfinite(speed) || speed <= 0.0) {
        return 0;
    }
    const double now = get_time();
    state().clock.speed = speed;
    zk_clock_set(now);
    return 1;
}

double zk_clock_speed(void) {
    return state().clock.speed;
}

void zk_view_note(double zoom, double x, double y) {
    state().view = zelkori::View{zoom, x, y};
}

void zk_stats_get(zk_stats *out) {
    if (out != nullptr) {
        *out = state().stats;
    }
}

void zk_stats_reset(void) {
    state().stats = zk_stats{0, 0, 0};
}

void zk_background_set(double red, double green, double blue, int transparent) {
    zelkori::Background &background = state().background;
    const double rgb[3] = {red, green, blue};
    for (int i = 0; i < 3; ++i) {
        background.rgb[i] = std::isfinite(rgb[i]) ? static_cast<float>(std::clamp(rgb[i], 0.0, 1.0)) : 0.0f;
    }
    background.transparent = transparent != 0;
}

int zk_background_get(double rgb[3]) {
    const zelkori::Background &background = state().background;
    std::copy(background.rgb, background.rgb + 3, rgb);
    return background.transparent ? 1 : 0;
}

}  // extern "C"
