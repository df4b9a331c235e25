// Writes a capture as a glTF 2.0 scene: one node per captured primitive in
// draw order, sharing one unit sphere mesh and one capped unit cylinder
// mesh (a unit frustum per radius ratio for cones), the camera the
// projection describes at the origin, and the host's lights as
// KHR_lights_punctual lights under the camera node. More than one frame
// gives one animation with linear translation and rotation channels.
#include "scene_writer.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "lighting.h"
#include "output_file.h"

namespace zelkori {
namespace {

const double kPi = 3.141592653589793;
// The host's materials are plain diffuse ones.
const float kMetallic = 0.0f;
const float kRoughness = 0.8f;
const float kScaleTolerance = 1e-4f;  // relative
const int kFloat = 5126, kUnsignedShort = 5123;
const int kArrayBuffer = 34962, kElementArrayBuffer = 34963;
const uint32_t kGlbMagic = 0x46546C67, kGlbVersion = 2;
const uint32_t kJsonChunk = 0x4E4F534A, kBinChunk = 0x004E4942;
static_assert(2 + (kFinestSlices / 2 - 1) * kFinestSlices <= 65536,
              "sphere indices fit 16 bits");

double srgb_to_linear(double c) {
    c = std::min(std::max(c, 0.0), 1.0);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

void put_number(std::string &s, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    s += text;
}

template <typename T>
void put_numbers(std::string &s, const T *values, int count) {
    s += '[';
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            s += ',';
        }
        put_number(s, values[i]);
    }
    s += ']';
}

// Appends `item` to a JSON array held without its brackets.
void put_item(std::string &array, const std::string &item) {
    if (!array.empty()) {
        array += ',';
    }
    array += item;
}

struct Mesh {
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
Mesh sphere_mesh(int slices) {
    Mesh mesh;
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
Mesh frustum_mesh(double bottom, double top, int slices) {
    Mesh mesh;
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

// The binary buffer and the JSON arrays that describe it.
struct Buffers {
    std::string bin;
    std::string views, accessors;
    int count = 0;

    // Adds `count` elements of `type` (n components each) as an accessor
    // with a buffer view of its own, 4-byte aligned; returns its index.
    template <typename T>
    int add(const std::vector<T> &data, int component, const char *type,
            int n, int target, bool bounds) {
        while (bin.size() % 4 != 0) {
            bin += '\0';
        }
        const size_t offset = bin.size(), bytes = data.size() * sizeof(T);
        bin.append(reinterpret_cast<const char *>(data.data()), bytes);
        std::string view = "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                           ",\"byteLength\":" + std::to_string(bytes);
        if (target != 0) {
            view += ",\"target\":" + std::to_string(target);
        }
        put_item(views, view + "}");
        std::string accessor = "{\"bufferView\":" + std::to_string(count) +
                               ",\"componentType\":" + std::to_string(component) +
                               ",\"count\":" + std::to_string(data.size() / n) +
                               ",\"type\":\"" + type + "\"";
        if (bounds) {
            std::vector<double> low(n, INFINITY), high(n, -INFINITY);
            for (size_t i = 0; i < data.size(); ++i) {
                low[i % n] = std::min<double>(low[i % n], data[i]);
                high[i % n] = std::max<double>(high[i % n], data[i]);
            }
            accessor += ",\"min\":";
            put_numbers(accessor, low.data(), n);
            accessor += ",\"max\":";
            put_numbers(accessor, high.data(), n);
        }
        put_item(accessors, accessor + "}");
        return count++;
    }
};

struct Geometry {
    int position, normal, indices;
};

Geometry add_mesh(Buffers &buffers, const Mesh &mesh) {
    return {buffers.add(mesh.positions, kFloat, "VEC3", 3, kArrayBuffer, true),
            buffers.add(mesh.normals, kFloat, "VEC3", 3, kArrayBuffer, false),
            buffers.add(mesh.indices, kUnsignedShort, "SCALAR", 1,
                        kElementArrayBuffer, false)};
}

// GL keeps its matrices in single precision; camera values read back from
// them are rounded to five significant digits, which gives back the values
// the projection was made from (30 degrees, near 1, far 100).
double tidy(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return std::strtod(text, nullptr);
}

// The camera the projection matrix describes, as a glTF camera object;
// the aspect ratio is the viewport's where the projection agrees with it.
bool describe_camera(const double *p, const int *viewport, std::string *camera) {
    std::string &s = *camera;
    if (p[11] == -1.0 && p[15] == 0.0 && p[0] > 0.0 && p[5] > 0.0) {
        const double near = tidy(p[14] / (p[10] - 1.0)), far = tidy(p[14] / (p[10] + 1.0));
        if (!(near > 0.0) || !(far > near) || !std::isfinite(near)) {
            return false;
        }
        double aspect = p[5] / p[0];
        if (viewport[3] > 0 && std::fabs(aspect * viewport[3] / viewport[2] - 1.0) < 1e-5) {
            aspect = double(viewport[2]) / viewport[3];
        }
        s = "{\"type\":\"perspective\",\"perspective\":{\"yfov\":";
        put_number(s, tidy(2.0 * std::atan(1.0 / p[5]) * 180.0 / kPi) * kPi / 180.0);
        s += ",\"aspectRatio\":";
        put_number(s, aspect);
        s += ",\"znear\":";
        put_number(s, near);
        if (std::isfinite(far)) {
            s += ",\"zfar\":";
            put_number(s, far);
        }
        s += "}}";
        return true;
    }
    if (p[11] == 0.0 && p[15] == 1.0 && p[0] > 0.0 && p[5] > 0.0 && p[10] != 0.0) {
        const double near = tidy((p[14] + 1.0) / p[10]), far = tidy((p[14] - 1.0) / p[10]);
        if (!(near >= 0.0) || !(far > near) || !std::isfinite(far)) {
            return false;
        }
        s = "{\"type\":\"orthographic\",\"orthographic\":{\"xmag\":";
        put_number(s, tidy(1.0 / p[0]));
        s += ",\"ymag\":";
        put_number(s, tidy(1.0 / p[5]));
        s += ",\"znear\":";
        put_number(s, near);
        s += ",\"zfar\":";
        put_number(s, far);
        s += "}}";
        return true;
    }
    return false;
}

// A directional light, shining along its node's -z, turned so that it
// comes from `toward` as the host's light does.
void add_light(std::string &lights, std::string &nodes, int index,
               const char *name, const float *toward, const float *diffuse) {
    // The host lights in display values; a renderer of glTF sums light in
    // linear values and divides the diffuse reflection by pi.
    std::string light = std::string("{\"name\":\"") + name +
                        "\",\"type\":\"directional\",\"color\":[1,1,1],\"intensity\":";
    put_number(light, kPi * srgb_to_linear(diffuse[0]));
    put_item(lights, light + "}");
    const double length = std::sqrt(toward[0] * toward[0] + toward[1] * toward[1] +
                                    toward[2] * toward[2]);
    const double d[3] = {toward[0] / length, toward[1] / length, toward[2] / length};
    // The rotation taking +z to d, about the axis z x d.
    double q[4] = {-d[1], d[0], 0.0, 1.0 + d[2]};
    const double qn = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[3] * q[3]);
    for (double &v : q) {
        v /= qn;
    }
    std::string node = std::string("{\"name\":\"") + name + "\",\"rotation\":";
    put_numbers(node, q, 4);
    node += ",\"extensions\":{\"KHR_lights_punctual\":{\"light\":" +
            std::to_string(index) + "}}}";
    put_item(nodes, node);
}

std::string base64(const std::string &bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
        if (left > 1) group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (left > 2) group |= uint32_t(uint8_t(bytes[i + 2]));
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        out += left > 2 ? kDigits[group & 63] : '=';
    }
    return out;
}

void put_u32(std::string &s, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        s += char((value >> shift) & 0xff);
    }
}

const char *kind_name(int kind) { return kind == 0 ? "sphere" : "cylinder"; }

bool fail(std::string *error, const std::string &message) {
    *error = message;
    return false;
}

// Writes all of `bytes` to `fd`.
bool write_all(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

bool encode(const Capture &capture, double fps, bool binary, std::string *out,
            std::string *error) {
    if (capture.out_of_memory) {
        return fail(error, "not enough memory for the capture");
    }
    if (!capture.has_camera) {
        return fail(error, "nothing was captured: no OpenGL context was current");
    }
    const std::vector<zk_primitive> &all = capture.primitives;
    const int frames = std::max(capture.frames, 1);
    if (frames > 1 && !(std::isfinite(fps) && fps > 0.0)) {
        return fail(error, "the frame rate must be above 0");
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
    std::vector<NodePose> poses(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        if (!node_pose(all[i], &poses[i])) {
            return fail(error, "primitive " + std::to_string(i % count) + " of frame " +
                                   std::to_string(i / count) +
                                   " was drawn under a matrix that is not finite or flattens it");
        }
        if (i >= count) {
            follow_sign(poses[i - count].rotation, poses[i].rotation);
        }
    }
    std::string camera;
    if (!describe_camera(capture.projection, capture.viewport, &camera)) {
        return fail(error, "the projection is neither a perspective nor an orthographic one");
    }

    Buffers buffers;
    // The two meshes and every node's tracks, so that the buffer grows once.
    buffers.bin.reserve((size_t(1) << 19) + all.size() * 7 * sizeof(float));
    std::string nodes, meshes, materials, scene_nodes;
    std::map<std::array<float, 3>, int> material_of;
    std::map<std::pair<double, double>, Geometry> geometry_of;  // by end radii
    std::map<std::pair<int, int>, int> mesh_of;                 // by accessor, material
    for (size_t i = 0; i < count; ++i) {
        const zk_primitive &primitive = all[i];
        const std::array<float, 3> color = {primitive.color[0], primitive.color[1],
                                            primitive.color[2]};
        auto material = material_of.find(color);
        if (material == material_of.end()) {
            // The host's ambient light reflects a share of the colour everywhere.
            const double ambient = kGlobalAmbient[0] * kAmbientShare;
            double base[4] = {1, 1, 1, 1}, glow[3];
            for (int c = 0; c < 3; ++c) {
                base[c] = srgb_to_linear(color[c]);
                glow[c] = srgb_to_linear(ambient * color[c]);
            }
            std::string m = "{\"pbrMetallicRoughness\":{\"baseColorFactor\":";
            put_numbers(m, base, 4);
            m += ",\"metallicFactor\":";
            put_number(m, kMetallic);
            m += ",\"roughnessFactor\":";
            put_number(m, kRoughness);
            m += "},\"emissiveFactor\":";
            put_numbers(m, glow, 3);
            put_item(materials, m + "}");
            material = material_of.emplace(color, int(material_of.size())).first;
        }
        // Spheres have the key (-1, -1); cylinders their end radii over the larger.
        std::pair<double, double> shape(-1.0, -1.0);
        if (primitive.kind == 1) {
            const double r1 = std::fabs(primitive.size[1]), r2 = std::fabs(primitive.size[2]);
            shape = {r1 / std::max(r1, r2), r2 / std::max(r1, r2)};
        }
        auto geometry = geometry_of.find(shape);
        if (geometry == geometry_of.end()) {
            const Mesh mesh = primitive.kind == 0
                                  ? sphere_mesh(kFinestSlices)
                                  : frustum_mesh(shape.first, shape.second, kFinestSlices);
            geometry = geometry_of.emplace(shape, add_mesh(buffers, mesh)).first;
        }
        const std::pair<int, int> key(geometry->second.position, material->second);
        auto mesh = mesh_of.find(key);
        if (mesh == mesh_of.end()) {
            const Geometry &g = geometry->second;
            put_item(meshes, "{\"primitives\":[{\"attributes\":{\"POSITION\":" +
                                 std::to_string(g.position) + ",\"NORMAL\":" +
                                 std::to_string(g.normal) + "},\"indices\":" +
                                 std::to_string(g.indices) + ",\"material\":" +
                                 std::to_string(material->second) + "}]}");
            mesh = mesh_of.emplace(key, int(mesh_of.size())).first;
        }
        const NodePose &pose = poses[i];
        std::string node = std::string("{\"name\":\"") + kind_name(primitive.kind) + " " +
                           std::to_string(i) + "\",\"mesh\":" + std::to_string(mesh->second) +
                           ",\"translation\":";
        put_numbers(node, pose.translation, 3);
        node += ",\"rotation\":";
        put_numbers(node, pose.rotation, 4);
        node += ",\"scale\":";
        put_numbers(node, pose.scale, 3);
        put_item(nodes, node + "}");
        put_item(scene_nodes, std::to_string(i));
    }

    // The camera at the origin looking down -z, the lights turning with it.
    std::string lights;
    add_light(lights, nodes, 0, "key light", kKeyDirection, kKeyDiffuse);
    add_light(lights, nodes, 1, "fill light", kFillDirection, kFillDiffuse);
    put_item(nodes, "{\"name\":\"camera\",\"camera\":0,\"children\":[" +
                        std::to_string(count) + "," + std::to_string(count + 1) + "]}");
    put_item(scene_nodes, std::to_string(count + 2));

    std::string animation;
    if (frames > 1 && count > 0) {
        std::vector<float> times(static_cast<size_t>(frames));
        for (int k = 0; k < frames; ++k) {
            times[static_cast<size_t>(k)] = float(k / fps);
        }
        const int input = buffers.add(times, kFloat, "SCALAR", 1, 0, true);
        std::string channels, samplers;
        int sampler = 0;
        auto channel = [&](size_t node, const char *path, int output) {
            put_item(samplers, "{\"input\":" + std::to_string(input) + ",\"output\":" +
                                   std::to_string(output) + ",\"interpolation\":\"LINEAR\"}");
            put_item(channels, "{\"sampler\":" + std::to_string(sampler++) +
                                   ",\"target\":{\"node\":" + std::to_string(node) +
                                   ",\"path\":\"" + path + "\"}}");
        };
        std::vector<float> track;
        for (size_t i = 0; i < count; ++i) {
            track.clear();
            for (int k = 0; k < frames; ++k) {
                const float *t = poses[i + k * count].translation;
                track.insert(track.end(), t, t + 3);
            }
            channel(i, "translation", buffers.add(track, kFloat, "VEC3", 3, 0, false));
            track.clear();
            for (int k = 0; k < frames; ++k) {
                const float *r = poses[i + k * count].rotation;
                track.insert(track.end(), r, r + 4);
            }
            channel(i, "rotation", buffers.add(track, kFloat, "VEC4", 4, 0, false));
            // Scale only where a primitive changes size between frames,
            // beyond the rounding of GL's single-precision matrices.
            track.clear();
            bool changes = false;
            for (int k = 0; k < frames; ++k) {
                const float *s = poses[i + k * count].scale;
                for (int c = 0; c < 3; ++c) {
                    const float first = poses[i].scale[c];
                    changes = changes || std::fabs(s[c] - first) > kScaleTolerance * std::fabs(first);
                }
                track.insert(track.end(), s, s + 3);
            }
            if (changes) {
                channel(i, "scale", buffers.add(track, kFloat, "VEC3", 3, 0, false));
            }
        }
        animation = ",\"animations\":[{\"name\":\"clock\",\"channels\":[" + channels +
                    "],\"samplers\":[" + samplers + "]}]";
    }
    while (buffers.bin.size() % 4 != 0) {
        buffers.bin += '\0';
    }

    // A scene of nothing but the camera has no meshes and no buffer.
    std::string data;
    if (count > 0) {
        std::string buffer = "{\"byteLength\":" + std::to_string(buffers.bin.size());
        if (!binary) {
            buffer += ",\"uri\":\"data:application/octet-stream;base64," + base64(buffers.bin) + "\"";
        }
        data = ",\"meshes\":[" + meshes + "],\"materials\":[" + materials +
               "],\"accessors\":[" + buffers.accessors + "],\"bufferViews\":[" + buffers.views +
               "],\"buffers\":[" + buffer + "}]";
    }
    std::string json =
        "{\"asset\":{\"version\":\"2.0\",\"generator\":\"zelkori scene writer\"},"
        "\"extensionsUsed\":[\"KHR_lights_punctual\"],"
        "\"extensions\":{\"KHR_lights_punctual\":{\"lights\":[" + lights + "]}},"
        "\"scene\":0,\"scenes\":[{\"nodes\":[" + scene_nodes + "]}],"
        "\"nodes\":[" + nodes + "],\"cameras\":[" + camera + "]" + data + animation + "}";
    if (!binary) {
        *out = std::move(json);
        return true;
    }
    while (json.size() % 4 != 0) {
        json += ' ';
    }
    const size_t bin_chunk = count > 0 ? 8 + buffers.bin.size() : 0;
    out->clear();
    out->reserve(20 + json.size() + bin_chunk);
    put_u32(*out, kGlbMagic);
    put_u32(*out, kGlbVersion);
    put_u32(*out, uint32_t(20 + json.size() + bin_chunk));
    put_u32(*out, uint32_t(json.size()));
    put_u32(*out, kJsonChunk);
    *out += json;
    if (count > 0) {
        put_u32(*out, uint32_t(buffers.bin.size()));
        put_u32(*out, kBinChunk);
        *out += buffers.bin;
    }
    return true;
}

}  // namespace

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

bool encode_scene(const Capture &capture, double fps, bool binary, std::string *out,
                  std::string *error) {
    try {
        return encode(capture, fps, binary, out, error);
    } catch (const std::bad_alloc &) {  // reached from C
        return fail(error, "not enough memory to write the scene");
    }
}

bool write_scene(const Capture &capture, const char *path, double fps,
                 std::string *error) {
    const size_t length = std::strlen(path);
    const bool json = length >= 5 && strcasecmp(path + length - 5, ".gltf") == 0;
    std::string bytes;
    if (!encode_scene(capture, fps, !json, &bytes, error)) {
        return false;
    }
    const char *message = "";
    zk_output *output = zk_output_open(path, &message);
    if (output == nullptr) {
        return fail(error, message);
    }
    if (!write_all(zk_output_fd(output), bytes)) {
        const int cause = errno;
        zk_output_abort(output);
        return fail(error, zk_errno_text(cause));
    }
    if (!zk_output_commit(output, &message)) {
        return fail(error, message);
    }
    return true;
}

}  // namespace zelkori
