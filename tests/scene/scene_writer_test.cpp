// The scene writer on what the figure really draws: the host library
// captures the plug-in's frames in a surfaceless Mesa context, and the
// node poses, quaternion signs and buffer layout are checked against them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/model.h"
#include "scene_writer.h"
#include "zelkori_host.h"

namespace {

const int kWidth = 64, kHeight = 48;

// Frames of the figure's clock from `start`, `step` seconds apart.
zelkori::Capture capture_clock(double start, double step, int frames) {
    zk_capture_start();
    for (int k = 0; k < frames; ++k) {
        if (k > 0) {
            zk_capture_frame();
        }
        zk_clock_set(start + k * step);
        redraw_cmd(nullptr, nullptr, 0, nullptr);
    }
    zk_capture_stop();
    zelkori::Capture capture;
    capture.frames = frames;
    capture.has_camera = true;
    // The projection of ::model::resize 64 48: 30 degrees, near 1, far 100.
    const double f = 1.0 / std::tan(15.0 * M_PI / 180.0);
    capture.projection[0] = f * kHeight / kWidth;
    capture.projection[5] = f;
    capture.projection[10] = -101.0 / 99.0;
    capture.projection[11] = -1.0;
    capture.projection[14] = -200.0 / 99.0;
    zk_primitive primitive;
    for (int i = 0; zk_capture_at(i, &primitive); ++i) {
        capture.primitives.push_back(primitive);
    }
    return capture;
}

class SceneWriter : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const char *error = "";
        ASSERT_TRUE(zk_offscreen_create(kWidth, kHeight, &error)) << error;
        setup_cmd(nullptr, nullptr, 0, nullptr);
    }
};

// Rebuilds translation * rotation * scale as a column-major matrix.
std::vector<double> compose(const zelkori::NodePose &pose) {
    const double x = pose.rotation[0], y = pose.rotation[1], z = pose.rotation[2],
                 w = pose.rotation[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
                            {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
                            {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}};
    std::vector<double> m(16, 0.0);
    for (int c = 0; c < 3; ++c) {
        for (int row = 0; row < 3; ++row) {
            m[4 * c + row] = r[c][row] * pose.scale[c];
        }
        m[12 + c] = pose.translation[c];
    }
    m[15] = 1.0;
    return m;
}

// The primitive's model-view matrix times the scale of its unit mesh.
std::vector<double> expected_matrix(const zk_primitive &p) {
    const double r = p.kind == 0 ? std::fabs(p.size[0])
                                 : std::max(std::fabs(p.size[1]), std::fabs(p.size[2]));
    const double scale[3] = {r, r, p.kind == 0 ? r : p.size[0]};
    std::vector<double> m(p.modelview, p.modelview + 16);
    for (int c = 0; c < 3; ++c) {
        for (int row = 0; row < 3; ++row) {
            m[4 * c + row] *= scale[c];
        }
    }
    return m;
}

void expect_pose_matches(const zk_primitive &primitive, const std::string &what) {
    zelkori::NodePose pose;
    ASSERT_TRUE(zelkori::node_pose(primitive, &pose)) << what;
    const std::vector<double> got = compose(pose), want = expected_matrix(primitive);
    for (int i = 0; i < 16; ++i) {
        // Single-precision output of values up to about 40.
        EXPECT_NEAR(got[i], want[i], 2e-5 * (1.0 + std::fabs(want[i]))) << what << " entry " << i;
    }
}

TEST_F(SceneWriter, NodePosesRebuildTheFiguresMatrices) {
    const zelkori::Capture capture = capture_clock(0.0, 0.7, 40);
    ASSERT_EQ(capture.primitives.size(), 40u * 101u);
    for (size_t i = 0; i < capture.primitives.size(); ++i) {
        expect_pose_matches(capture.primitives[i], "primitive " + std::to_string(i));
    }
}

TEST(NodePose, HalfTurnsAndMirrors) {
    // Half turns leave the trace at -1, where the quaternion must come from
    // the largest diagonal entry; a mirror becomes a negative z scale.
    const struct {
        const char *name;
        double m[9];  // columns
        double length;
    } cases[] = {
        {"half turn about x", {1, 0, 0, 0, -1, 0, 0, 0, -1}, 2.0},
        {"half turn about y", {-1, 0, 0, 0, 1, 0, 0, 0, -1}, 2.0},
        {"half turn about z", {-1, 0, 0, 0, -1, 0, 0, 0, 1}, 2.0},
        {"half turn about x+y", {0, 1, 0, 1, 0, 0, 0, 0, -1}, 2.0},
        {"quarter turn about z", {0, 1, 0, -1, 0, 0, 0, 0, 1}, 2.0},
        {"mirror in z", {1, 0, 0, 0, 1, 0, 0, 0, -1}, 2.0},
        {"negative length", {1, 0, 0, 0, 1, 0, 0, 0, 1}, -3.0},
        {"scaled by 2", {0, 2, 0, -2, 0, 0, 0, 0, 2}, 1.5},
    };
    for (const auto &c : cases) {
        zk_primitive primitive = {};
        primitive.kind = 1;
        primitive.size[0] = c.length;
        primitive.size[1] = primitive.size[2] = 0.25;
        for (int col = 0; col < 3; ++col) {
            for (int row = 0; row < 3; ++row) {
                primitive.modelview[4 * col + row] = c.m[3 * col + row];
            }
        }
        primitive.modelview[12] = 1.0;
        primitive.modelview[13] = -2.0;
        primitive.modelview[14] = -30.0;
        primitive.modelview[15] = 1.0;
        expect_pose_matches(primitive, c.name);
    }
}

TEST_F(SceneWriter, RotationsKeepTheirSignBetweenSamples) {
    // 300 samples of the clock, as an animation of 10 s at 30 frames/s.
    const zelkori::Capture capture = capture_clock(3.0, 1.0 / 30.0, 300);
    const size_t count = 101;
    std::vector<zelkori::NodePose> previous(count);
    for (size_t i = 0; i < capture.primitives.size(); ++i) {
        zelkori::NodePose pose;
        ASSERT_TRUE(zelkori::node_pose(capture.primitives[i], &pose));
        if (i >= count) {
            zelkori::follow_sign(previous[i % count].rotation, pose.rotation);
            const float *a = previous[i % count].rotation, *b = pose.rotation;
            // Neighbouring samples turn by a few degrees at most.
            EXPECT_GT(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3], 0.99f)
                << "primitive " << i % count << " sample " << i / count;
        }
        previous[i % count] = pose;
    }
}

uint32_t u32(const std::string &s, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, s.data() + at, 4);
    return value;
}

TEST_F(SceneWriter, BinaryChunksAndViewsAreAligned) {
    const zelkori::Capture capture = capture_clock(3.0, 0.1, 7);
    std::string glb, error;
    ASSERT_TRUE(zelkori::encode_scene(capture, 10.0, true, &glb, &error)) << error;
    ASSERT_GE(glb.size(), 28u);
    EXPECT_EQ(u32(glb, 0), 0x46546C67u);
    EXPECT_EQ(u32(glb, 8), glb.size());
    const uint32_t json_length = u32(glb, 12);
    EXPECT_EQ(json_length % 4, 0u);
    const size_t bin_at = 20 + json_length;
    ASSERT_LE(bin_at + 8, glb.size());
    EXPECT_EQ(u32(glb, bin_at + 4), 0x004E4942u);
    EXPECT_EQ(u32(glb, bin_at) % 4, 0u);
    EXPECT_EQ(bin_at + 8 + u32(glb, bin_at), glb.size());
    const std::string json = glb.substr(20, json_length);
    const std::string key = "\"byteOffset\":";
    int views = 0;
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1), ++views) {
        const unsigned long offset = std::strtoul(json.c_str() + at + key.size(), nullptr, 10);
        EXPECT_EQ(offset % 4, 0u) << "view " << views;
    }
    // Three views for each of the two meshes, one for the sample times, two
    // for each node's track.
    EXPECT_EQ(views, 6 + 1 + 2 * 101);
}

TEST_F(SceneWriter, FramesThatDrawDifferentlyAreRefused) {
    zelkori::Capture capture = capture_clock(3.0, 0.1, 2);
    std::string out, error;
    zelkori::Capture fewer = capture;
    fewer.primitives.pop_back();
    EXPECT_FALSE(zelkori::encode_scene(fewer, 10.0, true, &out, &error));
    EXPECT_EQ(error, "frame 1 drew 100 primitives where the first drew 101");
    zelkori::Capture swapped = capture;
    swapped.primitives[101 + 1].kind = 0;
    EXPECT_FALSE(zelkori::encode_scene(swapped, 10.0, true, &out, &error));
    EXPECT_EQ(error, "primitive 1 of frame 1 is a sphere where the first frame drew a cylinder");
}

}  // namespace
