// The baseline host: the obvious implementation of the drawing primitives,
// a GLU quadric per call at one tessellation fine enough for 720p.
#ifndef MORVAKINE_BENCH_NAIVE_HOST_H
#define MORVAKINE_BENCH_NAIVE_HOST_H

namespace naive_host {

// The library's lighting without back-face culling.
void draw_mode_setup(void (*library_setup)());
void sphere(double radius);
void cylinder(double length, double radius1, double radius2);
// Triangles drawn since the last call.
long long take_triangles();

}  // namespace naive_host

#endif
