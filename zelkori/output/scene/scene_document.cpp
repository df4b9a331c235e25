// Writes a capture as a glTF 2.0 scene: one node per captured primitive in
// draw order, sharing one unit sphere mesh and one capped unit cylinder
// mesh (a unit frustum per radius ratio for cones), the figure centred on
// the origin, the camera the projection describes where the view puts it,
// and the host's lights as KHR_lights_punctual lights under the camera
// node, at the levels chosen for the scene's readers. More than one frame
// gives one animation with linear translation and rotation channels. The
// document is built first and then handed to tinygltf's writers; the scene
// output (scene_writer.cpp) writes the bytes.
#include "output/scene/scene_document.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <map>
#include <new>
#include <sstream>
#include <utility>
#include <vector>

#include "core/lighting.h"

namespace zelkori {
namespace {

// The host's materials are plain diffuse ones.
const double kMetallic = 0.0;
const double kRoughness = 0.8;
const float kScaleTolerance = 1e-4f;  // relative
// Lumens per watt at 555 nm: what a reader of physical units divides a
// light's lux by to get the irradiance it shades with (docs/scenes.md).
const double kLumensPerWatt = 683.0;
const char kLights[] = "KHR_lights_punctual";
static_assert(2 + (kFinestSlices / 2 - 1) * kFinestSlices <= 65536,
              "sphere indices fit 16 bits");

double srgb_to_linear(double c) {
    c = std::min(std::max(c, 0.0), 1.0);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The double nearest the shortest decimal that reads back as `value`, so
// that the JSON holds 1.2, not 1.2000000476837158, for a float's 1.2.
double shortest(float value) {
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text - 1, value);
    *end.ptr = '\0';
    return std::strtod(text, nullptr);
}

std::vector<double> shortest(const float *values, int count) {
    std::vector<double> out(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        out[static_cast<size_t>(i)] = shortest(values[i]);
    }
    return out;
}

struct UnitMesh {
    std::vector<float> positions, normals;
    std::vector<uint16_t> indices;

    uint16_t vertex(double x, double y, double z, double nx, double ny, double nz) {
        positions.insert(positions.end(), {float(x), float(y), float(z)});
        normals.insert(normals.end(), {float(nx), float(ny), float(nz)});
        return uint16_t(positions.size() / 3 - 1);
    }
    void triangle(int a, int b, int c) {
        indices.insert(indices.end(), {uint16_t(a), uint16_t(b), uint16_t(c)});
    }
};

// The closed unit sphere: a vertex at each pole, `slices` a ring, smooth
// normals, faces wound counter-clockwise seen from outside.
UnitMesh sphere_mesh(int slices) {
    UnitMesh mesh;
    const int stacks = slices / 2;
    const int top = mesh.vertex(0, 0, 1, 0, 0, 1);
    for (int stack = 1; stack < stacks; ++stack) {
        const double phi = kPi * stack / stacks;
        for (int slice = 0; slice < slices; ++slice) {
            const double theta = 2.0 * kPi * slice / slices;
            const double x = std::sin(phi) * std::cos(theta),
                         y = std::sin(phi) * std::sin(theta), z = std::cos(phi);
            mesh.vertex(x, y, z, x, y, z);
        }
    }
    const int bottom = mesh.vertex(0, 0, -1, 0, 0, -1);
    auto ring = [slices](int stack, int slice) {
        return 1 + (stack - 1) * slices + slice % slices;
    };
    for (int slice = 0; slice < slices; ++slice) {
        mesh.triangle(top, ring(1, slice), ring(1, slice + 1));
        for (int stack = 1; stack + 1 < stacks; ++stack) {
            const int a0 = ring(stack, slice), a1 = ring(stack, slice + 1);
            const int b0 = ring(stack + 1, slice), b1 = ring(stack + 1, slice + 1);
            mesh.triangle(a0, b0, b1);
            mesh.triangle(a0, b1, a1);
        }
        mesh.triangle(ring(stacks - 1, slice), bottom, ring(stacks - 1, slice + 1));
    }
    return mesh;
}

// A closed frustum along +z from radius `bottom` at z = 0 to `top` at
// z = 1, capped at each end that has a radius: the unit cylinder when both
// are 1.
UnitMesh frustum_mesh(double bottom, double top, int slices) {
    UnitMesh mesh;
    const double slope = bottom - top;
    const double norm = std::sqrt(1.0 + slope * slope);
    for (int slice = 0; slice < slices; ++slice) {
        const double theta = 2.0 * kPi * slice / slices;
        const double c = std::cos(theta), s = std::sin(theta);
        mesh.vertex(top * c, top * s, 1, c / norm, s / norm, slope / norm);
        mesh.vertex(bottom * c, bottom * s, 0, c / norm, s / norm, slope / norm);
    }
    for (int slice = 0; slice < slices; ++slice) {
        const int next = (slice + 1) % slices;
        mesh.triangle(2 * slice, 2 * slice + 1, 2 * next);
        mesh.triangle(2 * next, 2 * slice + 1, 2 * next + 1);
    }
    for (const bool far_end : {false, true}) {
        const double radius = far_end ? top : bottom;
        if (radius == 0.0) {
            continue;
        }
        const int first = static_cast<int>(mesh.positions.size() / 3);
        for (int k = 0; k < slices; ++k) {
            // Seen from outside each cap runs counter-clockwise.
            const int slice = far_end ? k : (slices - k) % slices;
            const double theta = 2.0 * kPi * slice / slices;
            mesh.vertex(radius * std::cos(theta), radius * std::sin(theta),
                        far_end ? 1 : 0, 0, 0, far_end ? 1 : -1);
        }
        for (int k = 1; k + 1 < slices; ++k) {
            mesh.triangle(first, first + k, first + k + 1);
        }
    }
    return mesh;
}


// The document's one buffer, its views and accessors.
class Buffers {
public:
    explicit Buffers(tinygltf::Model &model) : model_(model) {
        model.buffers.emplace_back();
    }

    // Adds `data` (n components of `component` type each) as an accessor
    // with a buffer view of its own, 4-byte aligned; returns its index.
    template <typename T>
    int add(const std::vector<T> &data, int component, int type, int n, int target,
            bool bounds) {
        std::vector<unsigned char> &bytes = model_.buffers[0].data;
        bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = bytes.size();
        view.byteLength = data.size() * sizeof(T);
        view.target = target;
        const unsigned char *first = reinterpret_cast<const unsigned char *>(data.data());
        bytes.insert(bytes.end(), first, first + view.byteLength);
        model_.bufferViews.push_back(view);

        tinygltf::Accessor accessor;
        accessor.bufferView = static_cast<int>(model_.bufferViews.size() - 1);
        accessor.componentType = component;
        accessor.count = data.size() / static_cast<size_t>(n);
        accessor.type = type;
        if (bounds) {
            accessor.minValues.assign(static_cast<size_t>(n), INFINITY);
            accessor.maxValues.assign(static_cast<size_t>(n), -INFINITY);
            for (size_t i = 0; i < data.size(); ++i) {
                double &low = accessor.minValues[i % static_cast<size_t>(n)];
                double &high = accessor.maxValues[i % static_cast<size_t>(n)];
                low = std::min<double>(low, data[i]);
                high = std::max<double>(high, data[i]);
            }
            for (size_t c = 0; c < static_cast<size_t>(n); ++c) {
                accessor.minValues[c] = shortest(float(accessor.minValues[c]));
                accessor.maxValues[c] = shortest(float(accessor.maxValues[c]));
            }
        }
        model_.accessors.push_back(std::move(accessor));
        return static_cast<int>(model_.accessors.size() - 1);
    }

    // Pads the buffer to whole 4-byte words; an empty one is dropped.
    void finish() {
        std::vector<unsigned char> &bytes = model_.buffers[0].data;
        if (bytes.empty()) {
            model_.buffers.clear();
        } else {
            bytes.resize((bytes.size() + 3) / 4 * 4, 0);
        }
    }

private:
    tinygltf::Model &model_;
};

struct Geometry {
    int position, normal, indices;
};

Geometry add_mesh(Buffers &buffers, const UnitMesh &mesh) {
    return {buffers.add(mesh.positions, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3,
                        TINYGLTF_TARGET_ARRAY_BUFFER, true),
            buffers.add(mesh.normals, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, 3,
                        TINYGLTF_TARGET_ARRAY_BUFFER, false),
            buffers.add(mesh.indices, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                        TINYGLTF_TYPE_SCALAR, 1, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, false)};
}

// GL keeps its matrices in single precision; camera values read back from
// them are rounded to five significant digits, which gives back the values
// the projection was made from (30 degrees, near 1, far 100).
double tidy(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return std::strtod(text, nullptr);
}

// The camera the projection matrix describes; the aspect ratio is the
// viewport's where the projection agrees with it.
bool describe_camera(const double *p, const int *viewport, tinygltf::Camera *camera) {
    if (p[11] == -1.0 && p[15] == 0.0 && p[0] > 0.0 && p[5] > 0.0) {
        const double near = tidy(p[14] / (p[10] - 1.0)), far = tidy(p[14] / (p[10] + 1.0));
        if (!(near > 0.0) || !(far > near) || !std::isfinite(near)) {
            return false;
        }
        double aspect = p[5] / p[0];
        if (viewport[3] > 0 && std::fabs(aspect * viewport[3] / viewport[2] - 1.0) < 1e-5) {
            aspect = double(viewport[2]) / viewport[3];
        }
        camera->type = "perspective";
        camera->perspective.yfov = tidy(2.0 * std::atan(1.0 / p[5]) * 180.0 / kPi) * kPi / 180.0;
        camera->perspective.aspectRatio = aspect;
        camera->perspective.znear = near;
        // The writer always writes zfar, so a projection without a far
        // plane gets the farthest a float can say.
        camera->perspective.zfar =
            std::isfinite(far) ? far : double(std::numeric_limits<float>::max());
        return true;
    }
    if (p[11] == 0.0 && p[15] == 1.0 && p[0] > 0.0 && p[5] > 0.0 && p[10] != 0.0) {
        const double near = tidy((p[14] + 1.0) / p[10]), far = tidy((p[14] - 1.0) / p[10]);
        if (!(near >= 0.0) || !(far > near) || !std::isfinite(far)) {
            return false;
        }
        camera->type = "orthographic";
        camera->orthographic.xmag = tidy(1.0 / p[0]);
        camera->orthographic.ymag = tidy(1.0 / p[5]);
        camera->orthographic.znear = near;
        camera->orthographic.zfar = far;
        return true;
    }
    return false;
}

// The rotation (x, y, z, w) that turns a camera looking down -z toward the
// middle of the picture of perspective projection `p`, which a shift
// across puts off the axis; false when it needs none.
bool camera_turn(const double *p, double *q) {
    if (p[11] != -1.0 || p[15] != 0.0 || !(p[0] > 0.0) || !(p[5] > 0.0) ||
        (p[8] == 0.0 && p[9] == 0.0)) {
        return false;
    }
    // The middle of the picture lies along (p8/p0, p9/p5, -1); the
    // shortest turn from -z to it is about -z x d.
    double d[3] = {p[8] / p[0], p[9] / p[5], -1.0};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double &v : d) {
        v /= length;
    }
    double r[4] = {d[1], -d[0], 0.0, 1.0 - d[2]};
    const double norm = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[3] * r[3]);
    if (!std::isfinite(norm) || norm == 0.0) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        q[i] = r[i] / norm;
    }
    return true;
}

// `v` turned by the rotation `q` (x, y, z, w).
void turn_by(const double *q, const double *v, double *out) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    // v + 2w (u x v) + 2 u x (u x v), u = (x, y, z).
    const double c[3] = {y * v[2] - z * v[1], z * v[0] - x * v[2], x * v[1] - y * v[0]};
    const double cc[3] = {y * c[2] - z * c[1], z * c[0] - x * c[2], x * c[1] - y * c[0]};
    for (int i = 0; i < 3; ++i) {
        out[i] = v[i] + 2.0 * w * c[i] + 2.0 * cc[i];
    }
}

// `v` turned by the inverse of the rotation `q`.
void turn_back(const double *q, const float *v, float *out) {
    const double inverse[4] = {-q[0], -q[1], -q[2], q[3]};
    const double in[3] = {v[0], v[1], v[2]};
    double turned[3];
    turn_by(inverse, in, turned);
    for (int i = 0; i < 3; ++i) {
        out[i] = float(turned[i]);
    }
}

// A directional light, shining along its node's -z, turned so that it
// comes from `toward` as the host's light does; returns its node.
tinygltf::Node add_light(tinygltf::Model &model, const char *name, const float *toward,
                         const float *diffuse, int lights) {
    tinygltf::Light light;
    light.name = name;
    light.type = "directional";
    light.color = {1.0, 1.0, 1.0};
    light.intensity = shortest(float(light_lux(diffuse[0], lights)));
    model.lights.push_back(light);

    const double length = std::sqrt(toward[0] * toward[0] + toward[1] * toward[1] +
                                    toward[2] * toward[2]);
    const double d[3] = {toward[0] / length, toward[1] / length, toward[2] / length};
    // The rotation taking +z to d, about the axis z x d.
    double q[4] = {-d[1], d[0], 0.0, 1.0 + d[2]};
    const double qn = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[3] * q[3]);
    tinygltf::Node node;
    node.name = name;
    for (double v : q) {
        node.rotation.push_back(shortest(float(v / qn)));
    }
    tinygltf::Value::Object use;
    use["light"] = tinygltf::Value(static_cast<int>(model.lights.size() - 1));
    node.extensions[kLights] = tinygltf::Value(std::move(use));
    return node;
}

const char *kind_name(int kind) { return kind == 0 ? "sphere" : "cylinder"; }

bool fail(std::string *error, const std::string &message) {
    *error = message;
    return false;
}

// Checks that every frame draws the first frame's primitives, and gives
// each its node pose, rotations following their previous sample.
bool check_frames(const Capture &capture, double fps, const double origin[3],
                  std::vector<NodePose> *poses, size_t *per_frame, std::string *error) {
    if (capture.out_of_memory) {
        return fail(error, "not enough memory for the capture");
    }
    if (!capture.has_camera) {
        return fail(error, "nothing was captured: no OpenGL context was current");
    }
    const std::vector<zk_primitive> &all = capture.primitives;
    const int frames = std::max(capture.frames, 1);
    // Sample times must be finite floats, each after the one before.
    if (frames > 1 && !(std::isfinite(fps) && fps > 0.0 &&
                        std::isfinite(float((frames - 1) / fps)) &&
                        float((frames - 1) / fps) > float((frames - 2) / fps))) {
        return fail(error, "the frame rate must be above 0 and keep the " +
                               std::to_string(frames) + " sample times apart as floats");
    }
    // Primitives are kept in frame order; each frame draws the first's.
    const size_t count = static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const zk_primitive &p) { return p.frame == 0; }));
    for (int frame = 1; frame < frames; ++frame) {
        const size_t drawn = static_cast<size_t>(std::count_if(
            all.begin(), all.end(), [frame](const zk_primitive &p) { return p.frame == frame; }));
        if (drawn != count) {
            return fail(error, "frame " + std::to_string(frame) + " drew " +
                                   std::to_string(drawn) + " primitives where the first drew " +
                                   std::to_string(count));
        }
    }
    for (size_t i = count; i < all.size(); ++i) {
        if (all[i].kind != all[i % count].kind) {
            return fail(error, "primitive " + std::to_string(i % count) + " of frame " +
                                   std::to_string(i / count) + " is a " + kind_name(all[i].kind) +
                                   " where the first frame drew a " +
                                   kind_name(all[i % count].kind));
        }
    }
    poses->resize(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        NodePose &pose = (*poses)[i];
        bool finite = node_pose(all[i], &pose);
        for (int c = 0; c < 3; ++c) {
            pose.translation[c] = float(all[i].modelview[12 + c] - origin[c]);
            finite = finite && std::isfinite(pose.translation[c]) && std::isfinite(pose.scale[c]);
        }
        if (!finite) {
            return fail(error, "primitive " + std::to_string(i % count) + " of frame " +
                                   std::to_string(i / count) +
                                   " was drawn under a matrix that is not finite or flattens it");
        }
        if (i >= count) {
            follow_sign((*poses)[i - count].rotation, (*poses)[i].rotation);
        }
    }
    *per_frame = count;
    return true;
}

// A material for one of the host's diffuse colours.
tinygltf::Material material_for(const std::array<float, 3> &color) {
    // The host's ambient light reflects a share of the colour everywhere.
    const double ambient = kGlobalAmbient[0] * kAmbientShare;
    tinygltf::Material material;
    material.pbrMetallicRoughness.baseColorFactor = {1, 1, 1, 1};
    material.emissiveFactor = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        material.pbrMetallicRoughness.baseColorFactor[c] =
            shortest(float(srgb_to_linear(color[c])));
        material.emissiveFactor[c] = shortest(float(srgb_to_linear(ambient * color[c])));
    }
    material.pbrMetallicRoughness.metallicFactor = kMetallic;
    material.pbrMetallicRoughness.roughnessFactor = kRoughness;
    return material;
}

// One animation of every node's samples: translation and rotation always,
// scale only where a primitive changes size between frames beyond the
// rounding of GL's single-precision matrices.
void add_animation(tinygltf::Model &model, Buffers &buffers, const std::vector<NodePose> &poses,
                   size_t count, int frames, double fps) {
    std::vector<float> times(static_cast<size_t>(frames));
    for (int k = 0; k < frames; ++k) {
        times[static_cast<size_t>(k)] = float(k / fps);
    }
    const int input = buffers.add(times, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_SCALAR, 1,
                                  0, true);
    tinygltf::Animation animation;
    animation.name = "clock";
    auto channel = [&](size_t node, const char *path, int output) {
        tinygltf::AnimationSampler sampler;
        sampler.input = input;
        sampler.output = output;
        sampler.interpolation = "LINEAR";
        animation.samplers.push_back(sampler);
        tinygltf::AnimationChannel target;
        target.sampler = static_cast<int>(animation.samplers.size() - 1);
        target.target_node = static_cast<int>(node);
        target.target_path = path;
        animation.channels.push_back(target);
    };
    // Each track gathers one member of the node's pose in every frame.
    std::vector<float> track;
    auto gather = [&](size_t node, int n, const float *(*member)(const NodePose &)) {
        track.clear();
        for (int k = 0; k < frames; ++k) {
            const float *values = member(poses[node + size_t(k) * count]);
            track.insert(track.end(), values, values + n);
        }
    };
    for (size_t i = 0; i < count; ++i) {
        gather(i, 3, [](const NodePose &p) -> const float * { return p.translation; });
        channel(i, "translation", buffers.add(track, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                              TINYGLTF_TYPE_VEC3, 3, 0, false));
        gather(i, 4, [](const NodePose &p) -> const float * { return p.rotation; });
        channel(i, "rotation", buffers.add(track, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                           TINYGLTF_TYPE_VEC4, 4, 0, false));
        gather(i, 3, [](const NodePose &p) -> const float * { return p.scale; });
        bool changes = false;
        for (size_t v = 3; v < track.size() && !changes; ++v) {
            const float first = track[v % 3];
            changes = std::fabs(track[v] - first) > kScaleTolerance * std::fabs(first);
        }
        if (changes) {
            channel(i, "scale", buffers.add(track, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                            TINYGLTF_TYPE_VEC3, 3, 0, false));
        }
    }
    model.animations.push_back(std::move(animation));
}

}  // namespace

double light_lux(double diffuse, int lights) {
    // The host lights in display values; a renderer of glTF sums light in
    // linear values and divides the diffuse reflection by pi, a web
    // viewer at exposure 1 taking lux as it finds it, Blender's importer
    // first turning lux into watts.
    const double units = lights == ZK_LIGHTS_BLENDER ? kLumensPerWatt : 1.0;
    return units * kPi * srgb_to_linear(diffuse);
}

void figure_centre(const Capture &capture, double centre[3]) {
    double low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const zk_primitive &p : capture.primitives) {
        const double *m = p.modelview;
        // A sphere reaches its radius from its centre; a cylinder its
        // larger radius from either end of its axis, scaled as drawn.
        const double radius = p.kind == 0 ? std::fabs(p.size[0])
                                          : std::max(std::fabs(p.size[1]), std::fabs(p.size[2]));
        const double length = p.kind == 0 ? 0.0 : p.size[0];
        double reach = 0.0;
        for (int c = 0; c < 2; ++c) {
            reach = std::max(reach, radius * std::sqrt(m[4 * c] * m[4 * c] +
                                                       m[4 * c + 1] * m[4 * c + 1] +
                                                       m[4 * c + 2] * m[4 * c + 2]));
        }
        for (int axis = 0; axis < 3; ++axis) {
            for (const double end : {m[12 + axis], m[12 + axis] + length * m[8 + axis]}) {
                if (std::isfinite(end) && std::isfinite(reach)) {
                    low[axis] = std::min(low[axis], end - reach);
                    high[axis] = std::max(high[axis], end + reach);
                }
            }
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        // A float that reads back as itself, so that the camera's place
        // and the nodes' agree to the last digit written.
        centre[axis] = low[axis] <= high[axis] ? shortest(float((low[axis] + high[axis]) / 2)) : 0.0;
    }
}

bool build_scene(const Capture &capture, double fps, int lights, tinygltf::Model *out,
                 std::string *error) {
    std::vector<NodePose> poses;
    size_t count = 0;
    double origin[3];
    figure_centre(capture, origin);
    if (!check_frames(capture, fps, origin, &poses, &count, error)) {
        return false;
    }
    tinygltf::Camera camera;
    if (!describe_camera(capture.projection, capture.viewport, &camera)) {
        return fail(error, "the projection is neither a perspective nor an orthographic one");
    }
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "zelkori scene writer";
    if (lights != ZK_LIGHTS_NONE) {
        model.extensionsUsed.push_back(kLights);
    }
    model.cameras.push_back(camera);
    Buffers buffers(model);
    // The two meshes and every node's tracks, so that the buffer grows once.
    model.buffers[0].data.reserve((size_t(1) << 19) + poses.size() * 7 * sizeof(float));

    std::map<std::array<float, 3>, int> material_of;
    std::map<std::pair<double, double>, Geometry> geometry_of;  // by end radii
    std::map<std::pair<int, int>, int> mesh_of;                 // by accessor, material
    tinygltf::Scene scene;
    for (size_t i = 0; i < count; ++i) {
        const zk_primitive &primitive = capture.primitives[i];
        const std::array<float, 3> color = {primitive.color[0], primitive.color[1],
                                            primitive.color[2]};
        auto material = material_of.find(color);
        if (material == material_of.end()) {
            model.materials.push_back(material_for(color));
            material = material_of.emplace(color, int(model.materials.size() - 1)).first;
        }
        // Spheres have the key (-1, -1); cylinders their end radii over the larger.
        std::pair<double, double> shape(-1.0, -1.0);
        if (primitive.kind == 1) {
            const double r1 = std::fabs(primitive.size[1]), r2 = std::fabs(primitive.size[2]);
            shape = {r1 / std::max(r1, r2), r2 / std::max(r1, r2)};
        }
        auto geometry = geometry_of.find(shape);
        if (geometry == geometry_of.end()) {
            const UnitMesh mesh = primitive.kind == 0
                                      ? sphere_mesh(kFinestSlices)
                                      : frustum_mesh(shape.first, shape.second, kFinestSlices);
            geometry = geometry_of.emplace(shape, add_mesh(buffers, mesh)).first;
        }
        const std::pair<int, int> key(geometry->second.position, material->second);
        auto mesh = mesh_of.find(key);
        if (mesh == mesh_of.end()) {
            tinygltf::Primitive part;
            part.attributes["POSITION"] = geometry->second.position;
            part.attributes["NORMAL"] = geometry->second.normal;
            part.indices = geometry->second.indices;
            part.material = material->second;
            part.mode = TINYGLTF_MODE_TRIANGLES;
            model.meshes.emplace_back();
            model.meshes.back().primitives.push_back(part);
            mesh = mesh_of.emplace(key, int(model.meshes.size() - 1)).first;
        }
        tinygltf::Node node;
        node.name = std::string(kind_name(primitive.kind)) + " " + std::to_string(i);
        node.mesh = mesh->second;
        node.translation = shortest(poses[i].translation, 3);
        node.rotation = shortest(poses[i].rotation, 4);
        node.scale = shortest(poses[i].scale, 3);
        model.nodes.push_back(std::move(node));
        scene.nodes.push_back(static_cast<int>(i));
    }

    // The camera where the view puts it, looking down -z, or turned toward
    // the middle of a projection shifted across (a framing): a glTF camera
    // has no shift. The lights turn with it, and back by as much, so that
    // they light the figure from where the host's do.
    tinygltf::Node eye;
    eye.name = "camera";
    eye.camera = 0;
    if (origin[0] != 0.0 || origin[1] != 0.0 || origin[2] != 0.0) {
        eye.translation = {0.0 - origin[0], 0.0 - origin[1], 0.0 - origin[2]};  // no -0
    }
    double turn[4] = {0.0, 0.0, 0.0, 1.0};
    if (camera_turn(capture.projection, turn)) {
        const float rotation[4] = {float(turn[0]), float(turn[1]), float(turn[2]), float(turn[3])};
        eye.rotation = shortest(rotation, 4);
    }
    if (lights != ZK_LIGHTS_NONE) {
        float key[3], fill[3];
        turn_back(turn, kKeyDirection, key);
        turn_back(turn, kFillDirection, fill);
        model.nodes.push_back(add_light(model, "key light", key, kKeyDiffuse, lights));
        model.nodes.push_back(add_light(model, "fill light", fill, kFillDiffuse, lights));
        eye.children = {static_cast<int>(count), static_cast<int>(count + 1)};
    }
    scene.nodes.push_back(static_cast<int>(model.nodes.size()));
    model.nodes.push_back(eye);
    model.scenes.push_back(scene);
    model.defaultScene = 0;

    const int frames = std::max(capture.frames, 1);
    if (frames > 1 && count > 0) {
        add_animation(model, buffers, poses, count, frames, fps);
    }
    buffers.finish();
    *out = std::move(model);
    return true;
}

bool node_pose(const zk_primitive &primitive, NodePose *pose) {
    const double *m = primitive.modelview;
    double size[3];
    if (primitive.kind == 0) {
        size[0] = size[1] = size[2] = std::fabs(primitive.size[0]);
    } else {
        size[0] = size[1] = std::max(std::fabs(primitive.size[1]), std::fabs(primitive.size[2]));
        size[2] = primitive.size[0];
    }
    // Columns of the rotation, and their lengths as the scale; a mirroring
    // matrix turns into a negative scale along z.
    double r[3][3], scale[3];
    for (int c = 0; c < 3; ++c) {
        const double length = std::sqrt(m[4 * c] * m[4 * c] + m[4 * c + 1] * m[4 * c + 1] +
                                        m[4 * c + 2] * m[4 * c + 2]);
        if (!(length > 1e-12) || !std::isfinite(length) || !std::isfinite(m[12 + c])) {
            return false;
        }
        for (int row = 0; row < 3; ++row) {
            r[c][row] = m[4 * c + row] / length;
        }
        scale[c] = length * size[c];
    }
    const double det = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                       r[1][0] * (r[0][1] * r[2][2] - r[0][2] * r[2][1]) +
                       r[2][0] * (r[0][1] * r[1][2] - r[0][2] * r[1][1]);
    if (det < 0.0) {
        scale[2] = -scale[2];
        for (double &v : r[2]) {
            v = -v;
        }
    }
    // The quaternion of the rotation, from its largest component for
    // accuracy (r[c][row] is row `row` of column `c`).
    const double xx = r[0][0], yy = r[1][1], zz = r[2][2];
    double q[4];  // x, y, z, w
    const double trace = xx + yy + zz;
    if (trace > 0.0) {
        const double s = 2.0 * std::sqrt(1.0 + trace);
        q[3] = 0.25 * s;
        q[0] = (r[1][2] - r[2][1]) / s;
        q[1] = (r[2][0] - r[0][2]) / s;
        q[2] = (r[0][1] - r[1][0]) / s;
    } else if (xx > yy && xx > zz) {
        const double s = 2.0 * std::sqrt(1.0 + xx - yy - zz);
        q[3] = (r[1][2] - r[2][1]) / s;
        q[0] = 0.25 * s;
        q[1] = (r[1][0] + r[0][1]) / s;
        q[2] = (r[2][0] + r[0][2]) / s;
    } else if (yy > zz) {
        const double s = 2.0 * std::sqrt(1.0 + yy - xx - zz);
        q[3] = (r[2][0] - r[0][2]) / s;
        q[0] = (r[1][0] + r[0][1]) / s;
        q[1] = 0.25 * s;
        q[2] = (r[2][1] + r[1][2]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + zz - xx - yy);
        q[3] = (r[0][1] - r[1][0]) / s;
        q[0] = (r[2][0] + r[0][2]) / s;
        q[1] = (r[2][1] + r[1][2]) / s;
        q[2] = 0.25 * s;
    }
    const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int i = 0; i < 4; ++i) {
        pose->rotation[i] = float(q[i] / norm);
    }
    for (int i = 0; i < 3; ++i) {
        pose->translation[i] = float(m[12 + i]);
        pose->scale[i] = float(scale[i]);
    }
    return std::isfinite(size[0]) && std::isfinite(size[2]);
}

void follow_sign(const float previous[4], float q[4]) {
    const float dot = previous[0] * q[0] + previous[1] * q[1] + previous[2] * q[2] +
                      previous[3] * q[3];
    if (dot < 0.0f) {
        for (int i = 0; i < 4; ++i) {
            q[i] = -q[i];
        }
    }
}

bool encode_scene(const Capture &capture, double fps, int lights, bool binary,
                  std::string *out, std::string *error) {
    try {
        tinygltf::Model model;
        if (!build_scene(capture, fps, lights, &model, error)) {
            return false;
        }
        std::ostringstream stream;
        tinygltf::TinyGLTF writer;
        if (!writer.WriteGltfSceneToStream(&model, stream, false, binary) || !stream) {
            return fail(error, "the scene could not be encoded");
        }
        *out = stream.str();
        return true;
    } catch (const std::bad_alloc &) {  // reached from C
        return fail(error, "not enough memory to write the scene");
    } catch (const std::exception &failure) {
        return fail(error, std::string("the scene could not be encoded: ") + failure.what());
    }
}

}  // namespace zelkori
