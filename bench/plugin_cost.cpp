// What ::model::redraw costs beyond the GL matrix calls it must make: the
// plug-in through Tcl over a null host, against the floor, the same calls
// issued straight from C++ in the same process and context.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

#include "null_host.h"
#include "support.h"

namespace {

const int kWidth = 640, kHeight = 480;

// The figure's constants, as the floor needs them to issue the same calls.
const double kCamera[3] = {0.0, -8.0, -35.0};
const int kArms = 5, kSegments = 10;
const double kArmTurnDeg = 72.0;
const double kFirstLength = 2.0, kLengthFactor = 0.95;
const double kSpinDeg = 360.0, kSpinPeriod = 15.0;
const double kPi = 3.141592653589793;

// The plug-in's frame without the plug-in: clear, reset, camera, body,
// and fifty segments each with its joint, the primitives left out because
// the null host draws nothing for them either.
void floor_frame(double time) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(kCamera[0], kCamera[1], kCamera[2]);
    glRotated(null_host::control(1), 1.0, 0.0, 0.0);
    glRotated(null_host::control(2), 0.0, 1.0, 0.0);
    glRotated(null_host::control(3), 0.0, 0.0, 1.0);
    glRotated(std::fmod(kSpinDeg * time / kSpinPeriod, kSpinDeg), 0.0, 0.0, 1.0);
    for (int arm = 0; arm < kArms; ++arm) {
        const double t = std::fmax(time - arm, 0.0);
        const double phase = t / 10.0 * kPi;
        const double twist = std::sin(2.0 * phase) * 45.0;
        const double curl = std::sin(phase * 4.0 / 7.0) * 60.0;
        const double nod = std::sin(phase * 3.0 / 2.0) * 30.0;
        glRotated(kArmTurnDeg, 0.0, 0.0, 1.0);
        glPushMatrix();
        glRotated(nod, 1.0, 0.0, 0.0);
        double length = kFirstLength;
        for (int segment = 0; segment < kSegments; ++segment) {
            glPushMatrix();
            glPushMatrix();
            glTranslated(0.0, 0.0, length);
            glPopMatrix();
            glTranslated(0.0, 0.0, length);
            length *= kLengthFactor;
            glRotated(twist, 0.0, 0.0, 1.0);
            glRotated(curl, 1.0, 0.0, 0.0);
        }
        for (int segment = 0; segment < kSegments; ++segment) {
            glPopMatrix();
        }
        glPopMatrix();
    }
}

struct Snapshot {
    GLdouble modelview[16];
    GLint depth;
};

Snapshot snapshot() {
    Snapshot s;
    glGetDoublev(GL_MODELVIEW_MATRIX, s.modelview);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.depth);
    return s;
}

// The floor is only a floor if it ends where the plug-in ends: same matrix,
// same stack depth, for a few poses (GL keeps matrices in single
// precision).
bool floor_matches(Tcl_Interp *interp) {
    for (const long frame : {0L, 95L, 400L}) {
        const double time = bench::frame_time(frame);
        null_host::set_time(time);
        bench::redraw(interp);
        const Snapshot plugin = snapshot();
        floor_frame(time);
        const Snapshot direct = snapshot();
        if (plugin.depth != direct.depth) {
            return false;
        }
        for (int i = 0; i < 16; ++i) {
            if (std::fabs(plugin.modelview[i] - direct.modelview[i]) > 1e-5) {
                return false;
            }
        }
    }
    return glGetError() == GL_NO_ERROR;
}

void BM_PluginRedraw(benchmark::State &state, Tcl_Interp *interp) {
    long frame = 0;
    for (auto _ : state) {
        null_host::set_time(bench::frame_time(frame++));
        bench::redraw(interp);
    }
    glFinish();
}

void BM_FloorDirectGL(benchmark::State &state) {
    long frame = 0;
    for (auto _ : state) {
        const double time = bench::frame_time(frame++);
        null_host::set_time(time);
        floor_frame(time);
    }
    glFinish();
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Tcl_Interp *interp = bench::start_model(argv[0], kWidth, kHeight);
    if (!floor_matches(interp)) {
        std::fprintf(stderr, "the floor does not end in the plug-in's state\n");
        return 1;
    }
    std::printf("check: floor ends in the plug-in's matrix and stack depth\n");
    benchmark::RegisterBenchmark("plugin/redraw_via_tcl", BM_PluginRedraw, interp)
        ->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::RegisterBenchmark("plugin/floor_direct_gl", BM_FloorDirectGL)
        ->Unit(benchmark::kMicrosecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Tcl_DeleteInterp(interp);
    return 0;
}
