// The primitives of the host library as they reach the rasteriser: each
// sphere and cylinder, at any size on screen, within half a pixel of the
// true outline, and no finer than it has to be.
#include <gtest/gtest.h>

#include "roundness.h"
#include "zelkori/zelkori_host.h"

namespace {

const double kMaxErrorPx = 0.5;
// A level choice that leaves every shape far inside the tolerance wastes
// triangles: the worst shape of a sweep must come at least this close.
const double kMinWorstShare = 0.6;

class LodTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char *error = "";
        ASSERT_TRUE(zk_offscreen_create(64, 64, &error)) << error;
        draw_mode_setup();
        sweep_ = roundness::sweep(sphere, cylinder);
    }
    static roundness::Sweep sweep_;
};

roundness::Sweep LodTest::sweep_;

TEST_F(LodTest, SweepCoversSmallToScreenSizedShapes) {
    EXPECT_LE(sweep_.smallest_px, 10.0);
    EXPECT_GE(sweep_.largest_px, 500.0);
    // Nearly every shape must be measured, or the sweep proves little.
    EXPECT_GE(sweep_.worst.measured, 600);
}

TEST_F(LodTest, OutlinesStayWithinHalfAPixel) {
    EXPECT_LE(sweep_.worst.sphere_px, kMaxErrorPx);
    EXPECT_LE(sweep_.worst.cylinder_px, kMaxErrorPx);
}

TEST_F(LodTest, TessellationIsNoFinerThanItNeedsToBe) {
    EXPECT_GE(sweep_.worst.sphere_px, kMinWorstShare * kMaxErrorPx);
    EXPECT_GE(sweep_.worst.cylinder_px, kMinWorstShare * kMaxErrorPx);
}

}  // namespace
