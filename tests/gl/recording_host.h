// Test doubles of the nine host operations, linked in place of the host
// library: every call is noted in order, with the model-view matrix and
// stack depth at each primitive.
#ifndef MORVAKINE_TESTS_GL_RECORDING_HOST_H
#define MORVAKINE_TESTS_GL_RECORDING_HOST_H

#include <map>
#include <string>
#include <vector>

#include <glm/mat4x4.hpp>

#include <tcl.h>

namespace recording {

struct Call {
    std::string op;            // the host operation's name
    std::vector<double> args;  // numeric arguments in order (ids included)
    std::string label;         // scale / checkbox only
    Tcl_Interp *interp = nullptr;
    glm::dmat4 modelview{1.0};  // sphere / cylinder only
    int depth = 0;              // model-view stack depth, primitives only

    bool is_primitive() const { return op == "sphere" || op == "cylinder"; }
    std::string text() const;  // "op(a, b, ...)" for messages and diffs
};

struct Host {
    std::vector<Call> calls;
    std::map<int, double> controls;  // what get_control_d/_b report
    double time = 0.0;               // what get_time reports
    // After this many get_control_b reads, control `flip_id` toggles
    // (negative: never).
    int flip_after_reads = -1;
    int flip_id = 12;
    int b_reads = 0;
};

// The one host the doubles report to; reset() forgets calls and settings.
Host &host();
void reset();

}  // namespace recording

#endif
