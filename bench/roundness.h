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

// The worst of many measures.
struct Worst {
    Measure worst;                // the largest error, with its shape's size
    double sphere_px = 0.0, cylinder_px = 0.0;  // largest error by kind
    long measured = 0;            // shapes measured (not clipped)

    void add(const Measure &measure, bool is_sphere);
};

// A unit sphere, and a cylinder of radius 0.5 and length 1 centred on the
// same point, turned at random, at distances throughout the model's depth
// range under its 30-degree projection, in a 320x240 and a 3840x2160
// window: spheres from about 5 to 800 pixels in radius. Sets the viewport
// and both matrices; draws through the given primitives.
struct Sweep {
    Worst worst;
    double smallest_px = 0.0, largest_px = 0.0;  // sphere radii swept
};
Sweep sweep(void (*sphere)(double), void (*cylinder)(double, double, double));

}  // namespace roundness

#endif
