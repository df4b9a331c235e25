// The primitives of the host library as they reach the rasteriser: each
// sphere and cylinder, at any size on screen, within its tolerance of the
// true outline, and no finer than it has to be. The tolerance is half a
// pixel drawn one sample a pixel, a quarter with several, where edge
// pixels show how much of them the outline covers; there the finest mesh
// holds a quarter pixel up to spheres of about 480 px radius, and the
// sweep's largest, over 500 px, may stray a little more. And the samples'
// resolve: the host's program gives each pixel what a blit's resolve does.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

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

// The frame zk_frame_finish resolved, and the same samples resolved again
// by a blit, byte for byte, over a frame with many partly covered pixels.
TEST(Resolve, ProgramGivesWhatABlitGives) {
    const int width = 97, height = 61;
    const char *error = "";
    ASSERT_EQ(zk_offscreen_create_sampled(width, height, 4, &error), 4) << error;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-width / 2.0, width / 2.0, -height / 2.0, height / 2.0, -100, 100);
    draw_mode_setup();
    for (int k = 0; k < 12; ++k) {
        glLoadIdentity();
        glTranslated(-40 + 7.3 * k, -20 + 3.7 * k, 0);
        diffuse_color(0.1 + 0.07 * k, 0.9 - 0.06 * k, 0.5);
        sphere(2.0 + 1.3 * k);
    }
    zk_frame_finish();
    GLint multi = 0, target = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &multi);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &target);
    ASSERT_NE(multi, target);
    std::vector<unsigned char> by_program(width * height * 4), by_blit(by_program.size());
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, by_program.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, multi);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, by_blit.data());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    std::set<unsigned char> partial;
    for (size_t k = 3; k < by_blit.size(); k += 4) {
        partial.insert(by_blit[k]);
    }
    EXPECT_GE(partial.size(), 4u);  // edges: 0, 1 to 3 of 4 samples, all
    EXPECT_TRUE(by_program == by_blit);
}

}  // namespace
