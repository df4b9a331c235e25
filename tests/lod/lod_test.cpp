// The primitives of the host library as they reach the rasteriser: each
// sphere and cylinder, at any size on screen, within its tolerance of the
// true outline, and no finer than it has to be. The tolerance is half a
// pixel drawn one sample a pixel, a quarter with several, where edge
// pixels show how much of them the outline covers; there the finest mesh
// holds a quarter pixel up to spheres of about 480 px radius, and the
// sweep's largest, over 500 px, may stray a little more.
#include <gtest/gtest.h>

#include <map>

#include "host/zelkori.h"
#include "roundness.h"
#include "zelkori/core.h"

namespace {

struct Case {
    int samples;
    double tolerance_px;
    double most_px;  // the worst outline the sweep may show
};
const Case kCases[] = {{1, 0.5, 0.5}, {4, 0.25, 0.27}};
// A level choice that leaves every shape far inside the tolerance wastes
// triangles: the worst shape of a sweep must come at least this close.
const double kMinWorstShare = 0.6;

class LodTest : public ::testing::TestWithParam<Case> {
protected:
    // The sweep at the case's samples, measured once.
    const roundness::Sweep &sweep() {
        static std::map<int, roundness::Sweep> sweeps;
        const int samples = GetParam().samples;
        if (sweeps.count(samples) == 0) {
            const char *error = "";
            const int used = zk_offscreen_create_sampled(64, 64, samples, &error);
            EXPECT_EQ(used, samples) << error;
            draw_mode_setup();
            sweeps[samples] = roundness::sweep(sphere, cylinder);
        }
        return sweeps[samples];
    }
};

TEST_P(LodTest, SweepCoversSmallToScreenSizedShapes) {
    EXPECT_LE(sweep().smallest_px, 10.0);
    EXPECT_GE(sweep().largest_px, 500.0);
    // Nearly every shape must be measured, or the sweep proves little.
    EXPECT_GE(sweep().worst.measured, 600);
}

TEST_P(LodTest, OutlinesStayWithinTolerance) {
    EXPECT_LE(sweep().worst.sphere_px, GetParam().most_px);
    EXPECT_LE(sweep().worst.cylinder_px, GetParam().most_px);
}

TEST_P(LodTest, TessellationIsNoFinerThanItNeedsToBe) {
    EXPECT_GE(sweep().worst.sphere_px, kMinWorstShare * GetParam().tolerance_px);
    EXPECT_GE(sweep().worst.cylinder_px, kMinWorstShare * GetParam().tolerance_px);
}

INSTANTIATE_TEST_SUITE_P(Samples, LodTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return "Samples" + std::to_string(info.param.samples);
                         });

}  // namespace
