// The scene writer on what the figure really draws: the host library
// captures the plug-in's frames in a surfaceless Mesa context, and the
// node poses, quaternion signs and the document built from them are
// checked against them; the files are read back with tinygltf's reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "model/model.h"
#include "output/scene/scene_document.h"
#include "zelkori/capture.h"
#include "zelkori/core.h"
#include "zelkori/output.h"

namespace {

const int kWidth = 64, kHeight = 48;

// Frames of the figure's clock from `start`, `step` seconds apart.
zelkori::Capture capture_clock(double start, double step, int frames) {
    zk_capture *recorded = zk_capture_start(0);
    for (int k = 0; k < frames; ++k) {
        if (k > 0) {
            zk_capture_frame(recorded);
        }
        zk_clock_set(start + k * step);
        redraw_cmd(nullptr, nullptr, 0, nullptr);
    }
    zk_capture_stop(recorded);
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
    for (int i = 0; zk_capture_at(recorded, i, &primitive); ++i) {
        capture.primitives.push_back(primitive);
    }
    zk_capture_free(recorded);
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

int nodes_named(const tinygltf::Model &model, const std::string &prefix) {
    return static_cast<int>(std::count_if(model.nodes.begin(), model.nodes.end(),
        [&](const tinygltf::Node &n) { return n.mesh >= 0 && n.name.rfind(prefix, 0) == 0; }));
}

TEST_F(SceneWriter, StillDocumentHoldsTheFigureItsCameraAndLights) {
    const zelkori::Capture capture = capture_clock(3.0, 0.0, 1);
    tinygltf::Model model;
    std::string error;
    ASSERT_TRUE(zelkori::build_scene(capture, 30.0, ZK_LIGHTS_WEB, &model, &error)) << error;
    EXPECT_EQ(nodes_named(model, "sphere "), 51);
    EXPECT_EQ(nodes_named(model, "cylinder "), 50);
    EXPECT_TRUE(model.animations.empty());
    ASSERT_EQ(model.cameras.size(), 1u);
    const tinygltf::PerspectiveCamera &lens = model.cameras[0].perspective;
    EXPECT_EQ(model.cameras[0].type, "perspective");
    EXPECT_NEAR(lens.yfov, M_PI / 6.0, 1e-12);
    EXPECT_NEAR(lens.aspectRatio, double(kWidth) / kHeight, 1e-6);
    EXPECT_EQ(lens.znear, 1.0);
    EXPECT_EQ(lens.zfar, 100.0);
    // The camera is the last node, the two lights its children.
    ASSERT_EQ(model.scenes.size(), 1u);
    const tinygltf::Node &eye = model.nodes[static_cast<size_t>(model.scenes[0].nodes.back())];
    EXPECT_EQ(eye.camera, 0);
    ASSERT_EQ(model.lights.size(), 2u);
    ASSERT_EQ(eye.children.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const tinygltf::Node &light = model.nodes[static_cast<size_t>(eye.children[i])];
        EXPECT_EQ(light.extensions.at("KHR_lights_punctual").Get("light").Get<int>(), i);
    }
    // The figure about the origin, the camera where the view has it: a
    // node's place seen from the camera is where GL drew it.
    double centre[3];
    zelkori::figure_centre(capture, centre);
    ASSERT_EQ(eye.translation.size(), 3u);
    double low[3] = {1e9, 1e9, 1e9}, high[3] = {-1e9, -1e9, -1e9};
    for (size_t i = 0; i < capture.primitives.size(); ++i) {
        const tinygltf::Node &node = model.nodes[i];
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(node.translation[size_t(c)] - eye.translation[size_t(c)],
                        capture.primitives[i].modelview[12 + c], 1e-5) << node.name;
            low[c] = std::min(low[c], node.translation[size_t(c)]);
            high[c] = std::max(high[c], node.translation[size_t(c)]);
        }
    }
    EXPECT_GT(eye.translation[2], 20.0);  // some 35 units before the figure
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(eye.translation[size_t(c)], -centre[c]);
        EXPECT_LT(std::fabs(low[c] + high[c]), 0.1 * (high[c] - low[c]) + 0.5) << "axis " << c;
    }
}

TEST_F(SceneWriter, LightsForEachReader) {
    // Web viewers at exposure 1 take lux as shading units; Blender's
    // importer divides by 683 lm/W first; none leaves the lights out.
    const zelkori::Capture capture = capture_clock(3.0, 0.0, 1);
    const struct {
        int lights;
        size_t count;
        double key_lux;
    } cases[] = {{ZK_LIGHTS_WEB, 2, M_PI * 0.69207106},
                 {ZK_LIGHTS_BLENDER, 2, 683.0 * M_PI * 0.69207106},
                 {ZK_LIGHTS_NONE, 0, 0.0}};
    for (const auto &c : cases) {
        tinygltf::Model model;
        std::string error;
        ASSERT_TRUE(zelkori::build_scene(capture, 30.0, c.lights, &model, &error)) << error;
        ASSERT_EQ(model.lights.size(), c.count) << c.lights;
        EXPECT_EQ(model.extensionsUsed.size(), c.count / 2) << c.lights;
        const tinygltf::Node &eye = model.nodes.back();
        EXPECT_EQ(eye.children.size(), c.count) << c.lights;
        if (c.count > 0) {
            EXPECT_NEAR(model.lights[0].intensity, c.key_lux, 1e-5 * c.key_lux) << c.lights;
        }
    }
}

TEST_F(SceneWriter, AnimationSamplesEveryNodeInAlignedViews) {
    tinygltf::Model model;
    std::string error;
    ASSERT_TRUE(zelkori::build_scene(capture_clock(3.0, 0.1, 30), 10.0, ZK_LIGHTS_WEB, &model, &error)) << error;
    ASSERT_EQ(model.animations.size(), 1u);
    const tinygltf::Animation &clock = model.animations[0];
    std::map<std::string, int> paths;
    for (const tinygltf::AnimationChannel &channel : clock.channels) {
        paths[channel.target_path] += 1;
        const tinygltf::AnimationSampler &sampler = clock.samplers[size_t(channel.sampler)];
        EXPECT_EQ(sampler.interpolation, "LINEAR");
        EXPECT_EQ(model.accessors[size_t(sampler.output)].count, 30u);
    }
    EXPECT_EQ(paths, (std::map<std::string, int>{{"rotation", 101}, {"translation", 101}}));
    const tinygltf::Accessor &times = model.accessors[size_t(clock.samplers[0].input)];
    EXPECT_EQ(times.count, 30u);
    // The last sample's time as a float, written so that it reads back as one.
    ASSERT_EQ(times.maxValues.size(), 1u);
    EXPECT_EQ(float(times.maxValues[0]), float(29 / 10.0));
    // Three views for each of the two meshes, one for the sample times, two
    // for each node's track; every one starts on a 4-byte boundary.
    EXPECT_EQ(model.bufferViews.size(), size_t(6 + 1 + 2 * 101));
    for (const tinygltf::BufferView &view : model.bufferViews) {
        EXPECT_EQ(view.byteOffset % 4, 0u);
    }
    EXPECT_EQ(model.buffers.at(0).data.size() % 4, 0u);
}

TEST_F(SceneWriter, BothFormsReadBackAsTheDocument) {
    const zelkori::Capture capture = capture_clock(3.0, 0.1, 3);
    tinygltf::Model model;
    std::string error;
    ASSERT_TRUE(zelkori::build_scene(capture, 10.0, ZK_LIGHTS_WEB, &model, &error)) << error;
    for (const bool binary : {true, false}) {
        std::string bytes, warning;
        ASSERT_TRUE(zelkori::encode_scene(capture, 10.0, ZK_LIGHTS_WEB, binary, &bytes, &error)) << error;
        tinygltf::TinyGLTF reader;
        tinygltf::Model back;
        const bool read = binary
            ? reader.LoadBinaryFromMemory(&back, &error, &warning,
                                          reinterpret_cast<const unsigned char *>(bytes.data()),
                                          static_cast<unsigned>(bytes.size()))
            : reader.LoadASCIIFromString(&back, &error, &warning, bytes.data(),
                                         static_cast<unsigned>(bytes.size()), "");
        ASSERT_TRUE(read) << (binary ? "binary: " : "JSON: ") << error;
        EXPECT_EQ(back.nodes.size(), model.nodes.size()) << binary;
        EXPECT_EQ(back.accessors.size(), model.accessors.size()) << binary;
        ASSERT_EQ(back.buffers.size(), 1u) << binary;
        EXPECT_TRUE(back.buffers[0].data == model.buffers[0].data) << binary;
        EXPECT_EQ(back.nodes[5].rotation, model.nodes[5].rotation) << binary;
    }
}

TEST(SceneLights, ShowTheHostsLevels) {
    // A web viewer shades a white diffuse surface facing a light of E lux
    // at E / pi, Blender after its import at E / 683 / pi: both must give
    // the host's level in linear values, from the sRGB curve.
    const struct {
        double diffuse, linear;
    } cases[] = {{0.0, 0.0}, {0.3, 0.07323896}, {0.5, 0.21404114}, {0.85, 0.69207106}, {1.0, 1.0}};
    for (const auto &c : cases) {
        EXPECT_NEAR(zelkori::light_lux(c.diffuse, ZK_LIGHTS_WEB) / M_PI, c.linear, 1e-7)
            << c.diffuse;
        EXPECT_NEAR(zelkori::light_lux(c.diffuse, ZK_LIGHTS_BLENDER) / 683.0 / M_PI, c.linear,
                    1e-7) << c.diffuse;
    }
}

TEST_F(SceneWriter, FramesThatDrawDifferentlyAreRefused) {
    zelkori::Capture capture = capture_clock(3.0, 0.1, 2);
    std::string out, error;
    zelkori::Capture fewer = capture;
    fewer.primitives.pop_back();
    EXPECT_FALSE(zelkori::encode_scene(fewer, 10.0, ZK_LIGHTS_WEB, true, &out, &error));
    EXPECT_EQ(error, "frame 1 drew 100 primitives where the first drew 101");
    zelkori::Capture swapped = capture;
    swapped.primitives[101 + 1].kind = 0;
    EXPECT_FALSE(zelkori::encode_scene(swapped, 10.0, ZK_LIGHTS_WEB, true, &out, &error));
    EXPECT_EQ(error, "primitive 1 of frame 1 is a sphere where the first frame drew a cylinder");
    // Sample times a float cannot hold, or cannot tell apart.
    for (const double fps : {1e-39, 0.0, -1.0, double(NAN), 1e46}) {
        EXPECT_FALSE(zelkori::encode_scene(capture, fps, ZK_LIGHTS_WEB, true, &out, &error)) << fps;
        EXPECT_EQ(error, "the frame rate must be above 0 and keep the 2 sample times apart as "
                         "floats") << fps;
    }
}

}  // namespace
