// The glTF scene document: a capture (capture.h) made into a glTF 2.0
// document, and that document as binary glTF or as JSON with the buffer
// embedded. The scene output (scene_writer.cpp) writes its own capture
// through these, on their own so that the tests can reach them.
#ifndef ZELKORI_SCENE_DOCUMENT_H
#define ZELKORI_SCENE_DOCUMENT_H

#include <tiny_gltf.h>

#include <string>

#include "core/capture.h"
#include "zelkori/output.h"

namespace zelkori {

// A node's translation, rotation (unit quaternion x, y, z, w) and scale.
struct NodePose {
    float translation[3];
    float rotation[4];
    float scale[3];
};

// The pose of a primitive's node: its model-view matrix times the scale
// that makes the unit mesh the primitive's size. False when the matrix is
// not finite or flattens a direction.
bool node_pose(const zk_primitive &primitive, NodePose *pose);

// Negates q when it lies on the far side of `previous`, so that linear
// interpolation between the two takes the short way.
void follow_sign(const float previous[4], float q[4]);

// Intensity in lux of a directional light standing for one of the host's
// lights, whose diffuse level is `diffuse` (display value, 0 to 1), for
// the readers `lights` (ZK_LIGHTS_WEB or ZK_LIGHTS_BLENDER) names.
double light_lux(double diffuse, int lights);

// The middle of the box that holds every primitive of the capture, in the
// camera's coordinates: the scene's origin.
void figure_centre(const Capture &capture, double centre[3]);

// The document a capture describes, frame k of an animation at k / fps
// seconds, with the lights `lights` (ZK_LIGHTS_*) names. False with
// *error set when the capture cannot be a scene.
bool build_scene(const Capture &capture, double fps, int lights, tinygltf::Model *model,
                 std::string *error);

// The capture's document as binary glTF (binary) or as glTF JSON with the
// buffer embedded. False with *error set when it cannot be written as a
// scene. Throws nothing.
bool encode_scene(const Capture &capture, double fps, int lights, bool binary,
                  std::string *out, std::string *error);

}  // namespace zelkori

#endif
