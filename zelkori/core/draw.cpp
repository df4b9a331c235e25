// The host's drawing primitives: lit, closed spheres and cylinders drawn
// from unit meshes compiled once per GL context, each at the coarsest
// tessellation whose silhouette stays within half a pixel of the true one.
// Mesh vertices sit slightly outside the true surface so that the outline
// strays as far outside as inside, which halves the error of a mesh that
// only touches the surface at its vertices.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "core/capture.h"
#include "core/lighting.h"
#include "core/state.h"

namespace zelkori {
namespace {

// Slice counts of the prebuilt meshes, coarsest first. A sphere at level n
// has n slices and n/2 stacks.
constexpr int kSliceLevels[] = {6, 8, 10, 12, 14, 16, 18, 20, 24, 28, 32,
                                40, 48, 64, 80, 96, 128};
const int kLevelCount = sizeof(kSliceLevels) / sizeof(kSliceLevels[0]);
static_assert(kSliceLevels[kLevelCount - 1] == kFinestSlices, "lighting.h");
static_assert(2 * kLevelCount <= 64, "one bit per display list in MeshSet::compiled");
const double kMaxErrorPx = 0.5;  // silhouette tolerance
// Drawn with several samples a pixel, an edge pixel shows how much of it
// the outline covers, and half a pixel of error shows as a wobble: a
// quarter.
const double kMaxErrorPxSampled = 0.25;

// How far in the faces of a unit mesh reach, as the distance of the nearest
// face plane from the axis or centre. A sphere's worst face is a whole
// quad of the grid (its diagonal is longer than its sides), which makes
// its error about twice a circle's of the same slice count.
double sphere_face_distance(int slices) {
    const int stacks = slices / 2;
    const double half_slice = kPi / slices;
    double nearest = 1.0;
    for (int stack = 0; stack < stacks; ++stack) {
        const double phi0 = kPi * stack / stacks;
        const double phi1 = kPi * (stack + 1) / stacks;
        // Each face is symmetric about its middle meridian and its plane
        // holds the direction along the parallels, so its distance is
        // that of the line through its edge midpoints in that meridian.
        const double x0 = std::sin(phi0) * std::cos(half_slice), z0 = std::cos(phi0);
        const double x1 = std::sin(phi1) * std::cos(half_slice), z1 = std::cos(phi1);
        nearest = std::min(nearest, std::fabs(x0 * z1 - x1 * z0) /
                                        std::hypot(x1 - x0, z1 - z0));
    }
    return nearest;
}

double circle_face_distance(int slices) { return std::cos(kPi / slices); }

// Per level: how much the vertices are pushed out, and the remaining
// outline error, both relative to the radius.
struct LevelShape {
    double grow[kLevelCount];
    double error[kLevelCount];
};

LevelShape level_shape(double (*face_distance)(int)) {
    LevelShape shape;
    for (int level = 0; level < kLevelCount; ++level) {
        const double inner = face_distance(kSliceLevels[level]);
        shape.grow[level] = 2.0 / (1.0 + inner);
        shape.error[level] = (1.0 - inner) / (1.0 + inner);
    }
    return shape;
}

const LevelShape kSphereLevels = level_shape(sphere_face_distance);
const LevelShape kCylinderLevels = level_shape(circle_face_distance);

int sphere_triangles(int slices) {
    const int stacks = slices / 2;
    return 2 * slices * (stacks - 1);
}

int cylinder_triangles(int slices) {
    return 2 * slices + 2 * (slices - 2);
}

void compile_sphere(int slices, double radius) {
    const int stacks = slices / 2;
    for (int stack = 0; stack < stacks; ++stack) {
        const double phi0 = kPi * stack / stacks;
        const double phi1 = kPi * (stack + 1) / stacks;
        glBegin(GL_TRIANGLE_STRIP);
        for (int slice = 0; slice <= slices; ++slice) {
            const double theta = 2.0 * kPi * (slice % slices) / slices;
            const double c = std::cos(theta), s = std::sin(theta);
            // Top ring first so that strips wind counter-clockwise outside.
            for (const double phi : {phi0, phi1}) {
                const double x = std::sin(phi) * c, y = std::sin(phi) * s,
                             z = std::cos(phi);
                glNormal3d(x, y, z);
                glVertex3d(x * radius, y * radius, z * radius);
            }
        }
        glEnd();
    }
}

// A capped frustum along +z from radius1 at z = 0 to radius2 at z = length.
// Also compiles the unit cylinder; cones are rare enough to tessellate on
// each call.
void draw_frustum(double length, double radius1, double radius2,
                  int slices) {
    const double slope = (radius1 - radius2) / length;
    const double norm = std::sqrt(1.0 + slope * slope);
    glBegin(GL_TRIANGLE_STRIP);
    for (int slice = 0; slice <= slices; ++slice) {
        const double theta = 2.0 * kPi * (slice % slices) / slices;
        const double c = std::cos(theta), s = std::sin(theta);
        glNormal3d(c / norm, s / norm, slope / norm);
        glVertex3d(radius2 * c, radius2 * s, length);
        glVertex3d(radius1 * c, radius1 * s, 0.0);
    }
    glEnd();
    // A negative length mirrors the shape; the caller flips the winding,
    // and the cap normals flip with the axis.
    const double axis = length > 0.0 ? 1.0 : -1.0;
    for (const bool far_end : {false, true}) {
        const double z = far_end ? length : 0.0;
        const double radius = far_end ? radius2 : radius1;
        glNormal3d(0.0, 0.0, far_end ? axis : -axis);
        glBegin(GL_TRIANGLE_FAN);
        for (int k = 0; k < slices; ++k) {
            const int slice = far_end ? k : slices - k;
            const double theta = 2.0 * kPi * (slice % slices) / slices;
            glVertex3d(radius * std::cos(theta), radius * std::sin(theta), z);
        }
        glEnd();
    }
}

// The meshes of the current context; null when no context is current.
MeshSet *meshes() {
    const void *context = current_context();
    if (context == nullptr) {
        return nullptr;
    }
    auto found = state().meshes.find(context);
    if (found != state().meshes.end()) {
        // A context destroyed behind our back may come back at the same
        // address; its lists are then gone and must be made again.
        if (glIsList(found->second.sphere_base)) {
            return &found->second;
        }
        state().meshes.erase(found);
    }
    MeshSet set;
    set.sphere_base = glGenLists(2 * kLevelCount);
    if (set.sphere_base == 0) {
        return nullptr;
    }
    set.cylinder_base = set.sphere_base + kLevelCount;
    return &state().meshes.emplace(context, set).first->second;
}

// The display list of one level, compiled the first time it is drawn: a
// figure uses a few levels, and compiling all of them would take a third
// of the renderer's start-up.
unsigned sphere_list(MeshSet &set, int level) {
    const unsigned long long bit = 1ull << level;
    if ((set.compiled & bit) == 0) {
        glNewList(set.sphere_base + level, GL_COMPILE);
        compile_sphere(kSliceLevels[level], kSphereLevels.grow[level]);
        glEndList();
        set.compiled |= bit;
    }
    return set.sphere_base + level;
}

unsigned cylinder_list(MeshSet &set, int level) {
    const unsigned long long bit = 1ull << (kLevelCount + level);
    if ((set.compiled & bit) == 0) {
        const double grown = kCylinderLevels.grow[level];
        glNewList(set.cylinder_base + level, GL_COMPILE);
        draw_frustum(1.0, grown, grown, kSliceLevels[level]);
        glEndList();
        set.compiled |= bit;
    }
    return set.cylinder_base + level;
}

struct Placement {
    double pixels;     // projected radius of the round outline
    bool mirrored;     // the transform flips the winding
    double tolerance;  // how far, in pixels, the outline may stray
};

double column_length(const GLdouble *m, int column) {
    return std::sqrt(m[4 * column] * m[4 * column] +
                     m[4 * column + 1] * m[4 * column + 1] +
                     m[4 * column + 2] * m[4 * column + 2]);
}

// How large a round outline of `radius` about the local z axis, between
// z = 0 and z = length, can appear on screen: a conservative bound that
// allows for the nearest depth and for the stretch of off-axis objects.
Placement place(double radius, double length, double sx, double sy,
                double sz) {
    GLdouble mv[16], proj[16];
    GLint viewport[4];
    GLint samples = 0;
    glGetDoublev(GL_MODELVIEW_MATRIX, mv);
    glGetDoublev(GL_PROJECTION_MATRIX, proj);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_SAMPLES, &samples);

    const double det =
        mv[0] * (mv[5] * mv[10] - mv[9] * mv[6]) -
        mv[4] * (mv[1] * mv[10] - mv[9] * mv[2]) +
        mv[8] * (mv[1] * mv[6] - mv[5] * mv[2]);
    Placement placement;
    placement.mirrored = det * sx * sy * sz < 0.0;
    placement.tolerance = samples > 1 ? kMaxErrorPxSampled : kMaxErrorPx;

    const double scale = std::max(column_length(mv, 0) * std::fabs(sx),
                                  column_length(mv, 1) * std::fabs(sy));
    const double eye_radius = std::fabs(radius) * scale;
    const double focal_px =
        std::max(std::fabs(proj[0]) * viewport[2],
                 std::fabs(proj[5]) * viewport[3]) / 2.0;
    if (proj[11] == 0.0) {  // orthographic
        placement.pixels = eye_radius * focal_px;
        return placement;
    }
    double nearest = INFINITY, farthest = 0.0;
    for (const double z : {0.0, length * sz}) {
        const double ex = mv[8] * z + mv[12], ey = mv[9] * z + mv[13],
                     ez = mv[10] * z + mv[14];
        nearest = std::min(nearest, -ez);
        farthest = std::max(farthest, std::sqrt(ex * ex + ey * ey + ez * ez));
    }
    const double gap = nearest - eye_radius;
    if (!(gap > 1e-6)) {
        placement.pixels = INFINITY;  // reaches the eye plane
        return placement;
    }
    placement.pixels = focal_px * eye_radius * (farthest / nearest) / gap;
    return placement;
}

// The coarsest level whose outline stays within `tolerance` pixels at a
// radius of `pixels`.
int level_for(const LevelShape &shape, double pixels, double tolerance) {
    for (int level = 0; level < kLevelCount; ++level) {
        if (pixels * shape.error[level] <= tolerance) {
            return level;
        }
    }
    return kLevelCount - 1;
}

// Draws display list `list` scaled by (sx, sy, sz), keeping the model-view
// matrix and the winding the caller had.
void draw_scaled(unsigned list, double sx, double sy, double sz,
                 bool mirrored) {
    if (mirrored) {
        glFrontFace(GL_CW);
    }
    glPushMatrix();
    glScaled(sx, sy, sz);
    glCallList(list);
    glPopMatrix();
    if (mirrored) {
        glFrontFace(GL_CCW);
    }
}

}  // namespace

}  // namespace zelkori

using zelkori::state;

extern "C" {

void draw_mode_setup(void) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glShadeModel(GL_SMOOTH);
    // Closed shapes only: the back faces can never be seen.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    // Cylinders are scaled unevenly, which only full renormalisation
    // handles.
    glEnable(GL_NORMALIZE);
    glEnable(GL_LIGHTING);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zelkori::kGlobalAmbient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);
    // Lights are placed under the identity so they stay with the camera.
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_POSITION, zelkori::kKeyDirection);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, zelkori::kKeyDiffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, zelkori::kNoLight);
    glLightfv(GL_LIGHT0, GL_SPECULAR, zelkori::kNoLight);
    glEnable(GL_LIGHT1);
    glLightfv(GL_LIGHT1, GL_POSITION, zelkori::kFillDirection);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, zelkori::kFillDiffuse);
    glLightfv(GL_LIGHT1, GL_AMBIENT, zelkori::kNoLight);
    glLightfv(GL_LIGHT1, GL_SPECULAR, zelkori::kNoLight);
}

void diffuse_color(double red, double green, double blue) {
    const GLfloat diffuse[] = {static_cast<GLfloat>(red),
                               static_cast<GLfloat>(green),
                               static_cast<GLfloat>(blue), 1.0f};
    const GLfloat ambient[] = {diffuse[0] * zelkori::kAmbientShare,
                               diffuse[1] * zelkori::kAmbientShare,
                               diffuse[2] * zelkori::kAmbientShare, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    std::copy(diffuse, diffuse + 3, state().color);
}

void sphere(double radius) {
    if (!std::isfinite(radius) || radius == 0.0) {
        return;
    }
    if (zelkori::capturing()) {
        zelkori::capture_primitive(0, radius, 0.0, 0.0);
        if (!zelkori::capture_draws()) {
            return;
        }
    }
    zelkori::MeshSet *set = zelkori::meshes();
    if (set == nullptr) {
        return;
    }
    const double r = std::fabs(radius);
    const zelkori::Placement placement =
        zelkori::place(r, 0.0, 1.0, 1.0, 1.0);
    const int level = zelkori::level_for(zelkori::kSphereLevels, placement.pixels,
                                         placement.tolerance);
    zelkori::draw_scaled(zelkori::sphere_list(*set, level), r, r, r,
                         placement.mirrored);
    state().stats.spheres += 1;
    state().stats.triangles +=
        zelkori::sphere_triangles(zelkori::kSliceLevels[level]);
}

void cylinder(double length, double radius1, double radius2) {
    if (!std::isfinite(length) || !std::isfinite(radius1) ||
        !std::isfinite(radius2) || length == 0.0 ||
        (radius1 == 0.0 && radius2 == 0.0)) {
        return;
    }
    if (zelkori::capturing()) {
        zelkori::capture_primitive(1, length, radius1, radius2);
        if (!zelkori::capture_draws()) {
            return;
        }
    }
    zelkori::MeshSet *set = zelkori::meshes();
    if (set == nullptr) {
        return;
    }
    const double r1 = std::fabs(radius1), r2 = std::fabs(radius2);
    const double r = std::max(r1, r2);
    const zelkori::Placement placement =
        zelkori::place(r, length, 1.0, 1.0, length);
    const int level = zelkori::level_for(zelkori::kCylinderLevels, placement.pixels,
                                         placement.tolerance);
    const int slices = zelkori::kSliceLevels[level];
    const double grow = zelkori::kCylinderLevels.grow[level];
    if (r1 == r2) {
        zelkori::draw_scaled(zelkori::cylinder_list(*set, level), r, r, length,
                             placement.mirrored);
    } else {
        if (placement.mirrored) {
            glFrontFace(GL_CW);
        }
        zelkori::draw_frustum(length, r1 * grow, r2 * grow, slices);
        if (placement.mirrored) {
            glFrontFace(GL_CCW);
        }
    }
    state().stats.cylinders += 1;
    state().stats.triangles += zelkori::cylinder_triangles(slices);
}

}  // extern "C"
