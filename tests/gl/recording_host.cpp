#include "recording_host.h"

#include <cstdio>

#include <GL/gl.h>
#include <glm/gtc/type_ptr.hpp>

#include "host/zelkori.h"

namespace recording {

std::string Call::text() const {
    std::string out = op + "(";
    if (!label.empty()) {
        out += "\"" + label + "\"";
    }
    for (size_t i = 0; i < args.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", args[i]);
        out += (i > 0 || !label.empty() ? ", " : "") + std::string(number);
    }
    return out + ")";
}

Host &host() {
    static Host instance;
    return instance;
}

void reset() { host() = Host(); }

namespace {

Call &note(const char *op, std::vector<double> args) {
    Call call;
    call.op = op;
    call.args = std::move(args);
    host().calls.push_back(std::move(call));
    return host().calls.back();
}

void note_primitive(const char *op, std::vector<double> args) {
    Call &call = note(op, std::move(args));
    glGetDoublev(GL_MODELVIEW_MATRIX, glm::value_ptr(call.modelview));
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    call.depth = depth;
}

double control(int id) {
    auto found = host().controls.find(id);
    return found == host().controls.end() ? 0.0 : found->second;
}

}  // namespace
}  // namespace recording

using recording::host;
using recording::note;

extern "C" {

int scale(Tcl_Interp *interp, int id, const char *label, double low,
          double high, double step, double initial) {
    recording::Call &call = note("scale", {double(id), low, high, step, initial});
    call.label = label;
    call.interp = interp;
    return 0;
}

int checkbox(Tcl_Interp *interp, int id, const char *label, int initial) {
    recording::Call &call = note("checkbox", {double(id), double(initial)});
    call.label = label;
    call.interp = interp;
    return 0;
}

double get_control_d(int id) {
    note("get_control_d", {double(id)});
    return recording::control(id);
}

int get_control_b(int id) {
    note("get_control_b", {double(id)});
    const int value = recording::control(id) != 0.0;
    if (++host().b_reads == host().flip_after_reads) {
        host().controls[host().flip_id] = !recording::control(host().flip_id);
    }
    return value;
}

double get_time(void) {
    note("get_time", {});
    return host().time;
}

// What the host contract promises: model-view current and identity.
void draw_mode_setup(void) {
    note("draw_mode_setup", {});
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void diffuse_color(double red, double green, double blue) {
    note("diffuse_color", {red, green, blue});
}

void sphere(double radius) { recording::note_primitive("sphere", {radius}); }

void cylinder(double length, double radius1, double radius2) {
    recording::note_primitive("cylinder", {length, radius1, radius2});
}

}  // extern "C"
