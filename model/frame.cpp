#include "model.h"

#include <cmath>

#include <GL/gl.h>

#include "host/zelkori.h"

namespace {

// Control ids read every frame.
const int kXViewId = 1, kYViewId = 2, kZViewId = 3;
const int kTwistId = 10, kCurlId = 11, kManualId = 12, kSpinId = 13,
          kNodId = 14;

// The figure, in model units and degrees.
const double kCameraX = 0.0, kCameraY = -8.0, kCameraZ = -35.0;
const double kBodyRadius = 1.0;
const int kArmCount = 5;
const double kArmTurnDeg = 72.0;
const int kSegmentsPerArm = 10;
const double kFirstSegmentLength = 2.0;
const double kSegmentLengthFactor = 0.95;
const double kSegmentRadius = 0.25;
const double kJointRadiusFactor = 1.2;
const double kGrey[3] = {0.5, 0.5, 0.5};
const double kBlue[3] = {0.0, 0.3, 0.8};

// Clock-driven animation: rates are per clock unit (second).
const double kSpinDegPerPeriod = 360.0;
const double kSpinPeriod = 15.0;
const double kFullTurnDeg = 360.0;
const double kArmDelay = 1.0;
const double kPhaseDivisor = 10.0;
const double kPi = 3.141592653589793;
// Spin and arm poses all come round again after this many clock units.
const double kMotionRepeat = 840.0;
// From here on a clock reading is a whole number and the angle products
// would overflow or mean nothing: whole repeats are dropped first.
const double kWholeClock = 9007199254740992.0;  // 2^53
const double kTwistAmplitudeDeg = 45.0;
const double kCurlAmplitudeDeg = 60.0;
const double kNodAmplitudeDeg = 30.0;

struct ArmPose {
    double twist, curl, nod;  // degrees
};

// The clock pose of arm `arm` at `time`: each arm runs one delay behind the
// one before and holds the rest pose until its delay has passed.
ArmPose clock_pose(double time, int arm) {
    double t = time - arm * kArmDelay;
    if (t < 0.0) {
        t = 0.0;
    }
    const double phase = t / kPhaseDivisor * kPi;
    return {std::sin(2.0 * phase) * kTwistAmplitudeDeg,
            std::sin(phase * 4.0 / 7.0) * kCurlAmplitudeDeg,
            std::sin(phase * 3.0 / 2.0) * kNodAmplitudeDeg};
}

}  // namespace

void draw_segment(double length, double radius) {
    diffuse_color(kGrey[0], kGrey[1], kGrey[2]);
    cylinder(length, radius, radius);
    glPushMatrix();
    glTranslated(0.0, 0.0, length);
    diffuse_color(kBlue[0], kBlue[1], kBlue[2]);
    sphere(radius * kJointRadiusFactor);
    glPopMatrix();
}

// Draws one frame from the clock or the pose sliders. Ignores its arguments,
// always succeeds, and returns with the model-view stack at its entry depth
// (the matrix itself still holds the camera and spin).
int redraw_cmd(ClientData, Tcl_Interp *, int, Tcl_Obj *const[]) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw_mode_setup();
    double time = get_time();
    if (std::fabs(time) >= kWholeClock) {
        time = std::fmod(time, kMotionRepeat);
    }

    glTranslated(kCameraX, kCameraY, kCameraZ);
    glRotated(get_control_d(kXViewId), 1.0, 0.0, 0.0);
    glRotated(get_control_d(kYViewId), 0.0, 1.0, 0.0);
    glRotated(get_control_d(kZViewId), 0.0, 0.0, 1.0);

    // Every arm starts from the rest pose; should the box turn on between
    // the frame's first read and an arm's read, that arm keeps the pose of
    // the arm before it instead of reading anything undefined.
    ArmPose pose = {0.0, 0.0, 0.0};
    double spin = 0.0;
    if (get_control_b(kManualId)) {
        pose.twist = get_control_d(kTwistId);
        pose.curl = get_control_d(kCurlId);
        spin = get_control_d(kSpinId);
        pose.nod = get_control_d(kNodId);
    } else {
        // GL may rotate in single precision, where the angle of a long-running
        // clock loses whole degrees; whole turns change nothing, so drop them.
        spin = std::fmod(kSpinDegPerPeriod * time / kSpinPeriod, kFullTurnDeg);
    }

    diffuse_color(kBlue[0], kBlue[1], kBlue[2]);
    sphere(kBodyRadius);
    glRotated(spin, 0.0, 0.0, 1.0);

    for (int arm = 0; arm < kArmCount; ++arm) {
        if (!get_control_b(kManualId)) {
            pose = clock_pose(time, arm);
        }
        glRotated(kArmTurnDeg, 0.0, 0.0, 1.0);
        glPushMatrix();
        glRotated(pose.nod, 1.0, 0.0, 0.0);
        double length = kFirstSegmentLength;
        for (int segment = 0; segment < kSegmentsPerArm; ++segment) {
            glPushMatrix();
            draw_segment(length, kSegmentRadius);
            glTranslated(0.0, 0.0, length);
            length *= kSegmentLengthFactor;
            glRotated(pose.twist, 0.0, 0.0, 1.0);
            glRotated(pose.curl, 1.0, 0.0, 0.0);
        }
        for (int segment = 0; segment < kSegmentsPerArm; ++segment) {
            glPopMatrix();
        }
        glPopMatrix();
    }
    return TCL_OK;
}
