// How far a drawn sphere or cylinder strays from the true shape on screen:
// the primitive is drawn in feedback mode, and the outline of what GL would
// rasterise is compared with the exact outline of the true shape under the
// same matrices and viewport.
#ifndef MORVAKINE_BENCH_ROUNDNESS_H
#define MORVAKINE_BENCH_ROUNDNESS_H

#include <functional>

namespace roundness {

struct Measure {
    double error_px = 0.0;   // Hausdorff distance between the two outlines
    double size_px = 0.0;    // the true outline's largest half-width
    bool clipped = false;    // not wholly in the viewport: not measured
};

// `draw` draws a sphere of `radius` centred on the current origin.
Measure sphere(double radius, const std::function<void()> &draw);
// `draw` draws a capped cylinder along +z from the origin to z = length.
Measure cylinder(double length, double radius,
                 const std::function<void()> &draw);

}  // namespace roundness

#endif
