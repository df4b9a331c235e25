// The host's fixed lighting and mesh geometry, shared by the primitives
// (draw.cpp) and the scene writer, which describes the same lights and
// meshes to other renderers.
#ifndef ZELKORI_LIGHTING_H
#define ZELKORI_LIGHTING_H

namespace zelkori {

const float kGlobalAmbient[] = {0.15f, 0.15f, 0.15f, 1.0f};
// Key light from above right of the viewer, fill from the lower left; both
// directional and fixed to the camera.
const float kKeyDirection[] = {0.4f, 0.8f, 1.0f, 0.0f};
const float kKeyDiffuse[] = {0.85f, 0.85f, 0.85f, 1.0f};
const float kFillDirection[] = {-0.6f, -0.4f, 0.5f, 0.0f};
const float kFillDiffuse[] = {0.3f, 0.3f, 0.3f, 1.0f};
const float kNoLight[] = {0.0f, 0.0f, 0.0f, 1.0f};
const float kAmbientShare = 0.35f;  // of the diffuse colour

// Slice count of the finest mesh level; the scene writer's meshes use it.
constexpr int kFinestSlices = 128;
constexpr double kPi = 3.141592653589793;

}  // namespace zelkori

#endif
