// Framing what was drawn (fit.h).
#include "tcl/fit.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zelkori {
namespace {

// The share of each half of the picture left free around what is drawn.
const double kMargin = 0.05;
// zelkori::frame's bounds.
const double kMaxZoom = 1000.0, kMaxShift = 1000.0;
// Slices of the surface samples; stacks are half as many.
const int kCoarseSlices = 12, kFineSlices = 32;
const double kPi = 3.141592653589793;

double column_length(const double *m, int column) {
    return std::sqrt(m[4 * column] * m[4 * column] + m[4 * column + 1] * m[4 * column + 1] +
                     m[4 * column + 2] * m[4 * column + 2]);
}

void transform(const double *m, const double p[3], double out[3]) {
    for (int row = 0; row < 3; ++row) {
        out[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row];
    }
}

void add_point(const double *p, const double e[3], Extent *extent) {
    const double w = p[3] * e[0] + p[7] * e[1] + p[11] * e[2] + p[15];
    if (!(w > 1e-9)) {
        return;
    }
    for (int axis = 0; axis < 2; ++axis) {
        const double v = (p[axis] * e[0] + p[4 + axis] * e[1] + p[8 + axis] * e[2] +
                          p[12 + axis]) / w;
        if (std::isfinite(v)) {
            extent->low[axis] = std::min(extent->low[axis], v);
            extent->high[axis] = std::max(extent->high[axis], v);
        }
    }
}

}  // namespace

void cover_primitive(const zk_primitive &primitive, std::vector<Ball> *out) {
    const double *m = primitive.modelview;
    const double scale = std::max({column_length(m, 0), column_length(m, 1), column_length(m, 2)});
    const double origin[3] = {0.0, 0.0, 0.0};
    Ball ball;
    if (primitive.kind == 0) {
        transform(m, origin, ball.centre);
        ball.radius = std::fabs(primitive.size[0]) * scale;
        out->push_back(ball);
        return;
    }
    const double far_end[3] = {0.0, 0.0, primitive.size[0]};
    transform(m, origin, ball.centre);
    ball.radius = std::fabs(primitive.size[1]) * scale;
    out->push_back(ball);
    transform(m, far_end, ball.centre);
    ball.radius = std::fabs(primitive.size[2]) * scale;
    out->push_back(ball);
}

void extend(const double projection[16], const Ball &ball, bool fine, Extent *extent) {
    if (!std::isfinite(ball.radius) || !std::isfinite(ball.centre[0]) ||
        !std::isfinite(ball.centre[1]) || !std::isfinite(ball.centre[2])) {
        return;
    }
    // Vertices of a latitude-longitude grid pushed out so far that its
    // faces, whose corners are at most sqrt(2) pi / slices from their
    // middle, stay outside the ball.
    const int slices = fine ? kFineSlices : kCoarseSlices;
    const int stacks = slices / 2;
    const double reach = ball.radius / std::cos(std::sqrt(2.0) * kPi / slices);
    for (int stack = 0; stack <= stacks; ++stack) {
        const double phi = kPi * stack / stacks;
        const int around = stack == 0 || stack == stacks ? 1 : slices;
        for (int slice = 0; slice < around; ++slice) {
            const double theta = 2.0 * kPi * slice / slices;
            const double e[3] = {ball.centre[0] + reach * std::sin(phi) * std::cos(theta),
                                 ball.centre[1] + reach * std::sin(phi) * std::sin(theta),
                                 ball.centre[2] + reach * std::cos(phi)};
            add_point(projection, e, extent);
        }
    }
}

Ball enclosing(const std::vector<Ball> &balls) {
    Ball whole = {{0.0, 0.0, 0.0}, 0.0};
    if (balls.empty()) {
        return whole;
    }
    for (const Ball &ball : balls) {
        for (int axis = 0; axis < 3; ++axis) {
            whole.centre[axis] += ball.centre[axis] / double(balls.size());
        }
    }
    // From the mean, steps toward the farthest reach of any ball, each
    // shorter than the last (Badoiu and Clarkson's approximation of the
    // smallest enclosing ball). Every step depends on distances alone, so
    // the ball turns with the figure.
    auto farthest = [&balls](const double c[3], double *reach) {
        const Ball *far_ball = &balls[0];
        double far_distance = -1.0, far_norm = 0.0;
        for (const Ball &ball : balls) {
            const double d = std::sqrt((ball.centre[0] - c[0]) * (ball.centre[0] - c[0]) +
                                       (ball.centre[1] - c[1]) * (ball.centre[1] - c[1]) +
                                       (ball.centre[2] - c[2]) * (ball.centre[2] - c[2]));
            if (d + ball.radius > far_distance) {
                far_distance = d + ball.radius;
                far_ball = &ball;
                far_norm = d;
            }
        }
        *reach = far_distance;
        return std::make_pair(far_ball, far_norm);
    };
    const int kSteps = 100;
    double reach = 0.0;
    for (int step = 1; step <= kSteps; ++step) {
        const auto [ball, norm] = farthest(whole.centre, &reach);
        for (int axis = 0; axis < 3; ++axis) {
            const double toward = ball->centre[axis] - whole.centre[axis];
            const double point = ball->centre[axis] + (norm > 0.0 ? toward / norm * ball->radius : 0.0);
            whole.centre[axis] += (point - whole.centre[axis]) / (step + 1.0);
        }
    }
    farthest(whole.centre, &reach);
    whole.radius = reach;
    return whole;
}

Framing fit_extent(const Extent &extent) {
    Framing framing;
    if (extent.empty()) {
        return framing;
    }
    // Each way the box may fill the picture less the margin; the tighter
    // way decides. A box of no size (a point) takes the largest zoom.
    const double room = 2.0 * (1.0 - kMargin);
    const double width = extent.high[0] - extent.low[0];
    const double height = extent.high[1] - extent.low[1];
    const double zoom = room / std::max({width, height, room / kMaxZoom});
    framing.zoom = std::min(std::max(zoom, 1.0 / kMaxZoom), kMaxZoom);
    framing.x = std::min(std::max(-framing.zoom * (extent.low[0] + extent.high[0]) / 2.0, -kMaxShift), kMaxShift);
    framing.y = std::min(std::max(-framing.zoom * (extent.low[1] + extent.high[1]) / 2.0, -kMaxShift), kMaxShift);
    // No -0: the shifts are written into commands and tags.
    framing.x += 0.0;
    framing.y += 0.0;
    return framing;
}

}  // namespace zelkori
