#include "roundness.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace roundness {
namespace {

const int kOutlineSamples = 1024;    // per circle of the true shape
// The sweep: the model's projection, window sizes and distances.
const double kFovYDeg = 30.0, kNear = 1.0, kFar = 100.0;
const int kSweepWindows[][2] = {{320, 240}, {3840, 2160}};
const double kSweepFarthest = 90.0, kSweepNearest = 5.0;  // model units
const int kSweepSteps = 40, kSweepTurns = 4;
const int kFeedbackFloats = 1 << 22;  // enough for the finest mesh
const double kPi = 3.141592653589793;

struct Point {
    double x, y;
};

struct View {
    GLdouble modelview[16], projection[16];
    GLint viewport[4];
};

View current_view() {
    View view;
    glGetDoublev(GL_MODELVIEW_MATRIX, view.modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, view.projection);
    glGetIntegerv(GL_VIEWPORT, view.viewport);
    return view;
}

void transform(const GLdouble *m, const double in[4], double out[4]) {
    for (int row = 0; row < 4; ++row) {
        out[row] = m[row] * in[0] + m[4 + row] * in[1] + m[8 + row] * in[2] +
                   m[12 + row] * in[3];
    }
}

Point to_window(const View &view, double x, double y, double z) {
    const double object[4] = {x, y, z, 1.0};
    double eye[4], clip[4];
    transform(view.modelview, object, eye);
    transform(view.projection, eye, clip);
    return {view.viewport[0] + (clip[0] / clip[3] + 1.0) * view.viewport[2] / 2.0,
            view.viewport[1] + (clip[1] / clip[3] + 1.0) * view.viewport[3] / 2.0};
}

// The eye in object coordinates, for a model-view matrix made of rotations,
// translations and uniform scales only.
void eye_in_object(const GLdouble *m, double eye[3]) {
    const double scale2 = m[0] * m[0] + m[1] * m[1] + m[2] * m[2];
    for (int i = 0; i < 3; ++i) {
        // Transpose of the rotation times minus the translation.
        eye[i] = -(m[4 * i] * m[12] + m[4 * i + 1] * m[13] + m[4 * i + 2] * m[14]) /
                 scale2;
    }
}

// Points on the circle about `centre` of radius `radius` in the plane
// normal to `axis`.
void circle(const View &view, const double centre[3], const double axis[3],
            double radius, std::vector<Point> &out) {
    double u[3] = {0.0, 0.0, 0.0};
    u[std::fabs(axis[0]) < 0.9 ? 0 : 1] = 1.0;
    const double along = u[0] * axis[0] + u[1] * axis[1] + u[2] * axis[2];
    for (int i = 0; i < 3; ++i) u[i] -= along * axis[i];
    const double norm = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    for (double &c : u) c /= norm;
    const double v[3] = {axis[1] * u[2] - axis[2] * u[1],
                         axis[2] * u[0] - axis[0] * u[2],
                         axis[0] * u[1] - axis[1] * u[0]};
    for (int k = 0; k < kOutlineSamples; ++k) {
        const double a = 2.0 * kPi * k / kOutlineSamples;
        const double c = std::cos(a) * radius, s = std::sin(a) * radius;
        out.push_back(to_window(view, centre[0] + c * u[0] + s * v[0],
                                centre[1] + c * u[1] + s * v[1],
                                centre[2] + c * u[2] + s * v[2]));
    }
}

double cross(const Point &o, const Point &a, const Point &b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Counter-clockwise convex hull (Andrew's monotone chain).
std::vector<Point> hull(std::vector<Point> points) {
    std::sort(points.begin(), points.end(), [](const Point &a, const Point &b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    if (points.size() < 3) {
        return points;
    }
    std::vector<Point> h(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(h[k - 2], h[k - 1], points[i]) <= 0) --k;
        h[k++] = points[i];
    }
    for (size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(h[k - 2], h[k - 1], points[i - 1]) <= 0) --k;
        h[k++] = points[i - 1];
    }
    h.resize(k - 1);
    return h;
}

double segment_distance(const Point &p, const Point &a, const Point &b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0;
    t = std::min(1.0, std::max(0.0, t));
    return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

// Distance from p to the filled convex polygon (0 inside).
double distance_to(const Point &p, const std::vector<Point> &polygon) {
    bool inside = true;
    double nearest = INFINITY;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const Point &a = polygon[i], &b = polygon[(i + 1) % polygon.size()];
        if (cross(a, b, p) < 0) inside = false;
        nearest = std::min(nearest, segment_distance(p, a, b));
    }
    return inside ? 0.0 : nearest;
}

// For convex outlines the Hausdorff distance is reached at a vertex.
double hausdorff(const std::vector<Point> &a, const std::vector<Point> &b) {
    double worst = 0.0;
    for (const Point &p : a) worst = std::max(worst, distance_to(p, b));
    for (const Point &p : b) worst = std::max(worst, distance_to(p, a));
    return worst;
}

// Window positions of every polygon vertex `draw` sends to the rasteriser.
std::vector<Point> drawn_points(const std::function<void()> &draw) {
    static std::vector<GLfloat> buffer(kFeedbackFloats);
    glFeedbackBuffer(kFeedbackFloats, GL_2D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint count = glRenderMode(GL_RENDER);
    std::vector<Point> points;
    for (GLint i = 0; i < count;) {
        const GLint token = static_cast<GLint>(buffer[i++]);
        if (token == GL_POLYGON_TOKEN) {
            const GLint n = static_cast<GLint>(buffer[i++]);
            for (GLint k = 0; k < n; ++k, i += 2) {
                points.push_back({buffer[i], buffer[i + 1]});
            }
        } else if (token == GL_PASS_THROUGH_TOKEN) {
            i += 1;
        } else if (token == GL_POINT_TOKEN || token == GL_BITMAP_TOKEN ||
                   token == GL_DRAW_PIXEL_TOKEN || token == GL_COPY_PIXEL_TOKEN) {
            i += 2;
        } else {  // lines
            i += 4;
        }
    }
    return points;
}

bool inside(const View &view, const std::vector<Point> &points) {
    for (const Point &p : points) {
        if (p.x < view.viewport[0] || p.y < view.viewport[1] ||
            p.x > view.viewport[0] + view.viewport[2] ||
            p.y > view.viewport[1] + view.viewport[3]) {
            return false;
        }
    }
    return true;
}

// Shapes the viewport cuts are left out: GL clips what it sends back.
Measure compare(const View &view, const std::vector<Point> &truth,
                const std::function<void()> &draw) {
    Measure measure;
    if (!inside(view, truth)) {
        measure.clipped = true;
        return measure;
    }
    const std::vector<Point> outline = hull(truth);
    const std::vector<Point> drawn = hull(drawn_points(draw));
    if (drawn.size() < 3 || outline.size() < 3) {
        measure.clipped = true;  // beyond the depth range
        return measure;
    }
    measure.error_px = hausdorff(outline, drawn);
    double min_x = INFINITY, max_x = -INFINITY, min_y = INFINITY, max_y = -INFINITY;
    for (const Point &p : outline) {
        min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
    measure.size_px = std::max(max_x - min_x, max_y - min_y) / 2.0;
    return measure;
}

}  // namespace

Measure sphere(double radius, const std::function<void()> &draw) {
    const View view = current_view();
    double eye[3];
    eye_in_object(view.modelview, eye);
    const double d2 = eye[0] * eye[0] + eye[1] * eye[1] + eye[2] * eye[2];
    const double r2 = radius * radius;
    if (d2 <= r2) {
        Measure measure;
        measure.clipped = true;
        return measure;
    }
    // The outline is the circle where the eye's rays touch the sphere.
    const double d = std::sqrt(d2);
    const double axis[3] = {eye[0] / d, eye[1] / d, eye[2] / d};
    const double centre[3] = {eye[0] * r2 / d2, eye[1] * r2 / d2, eye[2] * r2 / d2};
    std::vector<Point> truth;
    circle(view, centre, axis, radius * std::sqrt(1.0 - r2 / d2), truth);
    return compare(view, truth, draw);
}

Measure cylinder(double length, double radius,
                 const std::function<void()> &draw) {
    const View view = current_view();
    // A cylinder's outline is the hull of its two rims.
    const double axis[3] = {0.0, 0.0, 1.0};
    const double bottom[3] = {0.0, 0.0, 0.0}, top[3] = {0.0, 0.0, length};
    std::vector<Point> truth;
    circle(view, bottom, axis, radius, truth);
    circle(view, top, axis, radius, truth);
    return compare(view, truth, draw);
}

void Worst::add(const Measure &measure, bool is_sphere) {
    if (measure.clipped) {
        return;
    }
    ++measured;
    double &of_kind = is_sphere ? sphere_px : cylinder_px;
    of_kind = std::max(of_kind, measure.error_px);
    if (measure.error_px > worst.error_px) {
        worst = measure;
    }
}

Sweep sweep(void (*draw_sphere)(double), void (*draw_cylinder)(double, double, double)) {
    Sweep result;
    result.smallest_px = INFINITY;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> angle(0.0, 360.0), axis(-1.0, 1.0);
    for (const auto &window : kSweepWindows) {
        const int width = window[0], height = window[1];
        glViewport(0, 0, width, height);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(kFovYDeg, static_cast<double>(width) / height, kNear, kFar);
        glMatrixMode(GL_MODELVIEW);
        const double focal_px = height / 2.0 / std::tan(kFovYDeg / 2.0 * kPi / 180.0);
        result.smallest_px = std::min(result.smallest_px, focal_px / kSweepFarthest);
        result.largest_px = std::max(result.largest_px, focal_px / kSweepNearest);
        for (int step = 0; step <= kSweepSteps; ++step) {
            const double distance =
                kSweepFarthest * std::pow(kSweepNearest / kSweepFarthest,
                                          static_cast<double>(step) / kSweepSteps);
            for (int turn = 0; turn < kSweepTurns; ++turn) {
                glLoadIdentity();
                glTranslated(0.0, 0.0, -distance);
                glRotated(angle(random), axis(random), axis(random), axis(random) + 2.0);
                result.worst.add(sphere(1.0, [&] { draw_sphere(1.0); }), true);
                glTranslated(0.0, 0.0, -0.5);
                result.worst.add(cylinder(1.0, 0.5, [&] { draw_cylinder(1.0, 0.5, 0.5); }),
                                 false);
            }
        }
    }
    return result;
}

}  // namespace roundness
