// Framing: the zoom and shift (zelkori::frame's) that bring what was drawn
// into the picture with a small margin. What a primitive covers is taken as
// balls in eye space: a sphere is one, a cylinder lies within the hull of
// one at each end, and a box in normalised device coordinates holds the
// hull when it holds the balls.
#ifndef ZELKORI_TCL_FIT_H
#define ZELKORI_TCL_FIT_H

#include <vector>

#include "zelkori/capture.h"

namespace zelkori {

struct Ball {
    double centre[3];
    double radius;
};

// The balls that cover one captured primitive, appended to `out`.
void cover_primitive(const zk_primitive &primitive, std::vector<Ball> *out);

// A box in normalised device coordinates; empty while low > high.
struct Extent {
    double low[2] = {1.0, 1.0};
    double high[2] = {-1.0, -1.0};
    bool empty() const { return low[0] > high[0]; }
};

// Widens `extent` to hold `ball` as the projection (column-major) shows
// it; `fine` samples the surface closely, for one ball that is the whole
// figure. Parts at or behind the eye are left out.
void extend(const double projection[16], const Ball &ball, bool fine, Extent *extent);

// A small ball holding every one of `balls`, found by steps that depend
// on distances alone: a turn of all of them turns it with them and keeps
// its radius, so a framing of it holds the figure however it is turned.
Ball enclosing(const std::vector<Ball> &balls);

struct Framing {
    double zoom = 1.0, x = 0.0, y = 0.0;
};

// The framing that centres `extent` and fits it inside the picture less
// the margin, within zelkori::frame's limits; none for an empty extent.
Framing fit_extent(const Extent &extent);

}  // namespace zelkori

#endif
