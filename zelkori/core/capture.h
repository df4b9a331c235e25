// Scene capture: while on, the sphere and cylinder primitives record what
// they are asked to draw (primitive, sizes, colour, model-view matrix) and,
// once, the camera, as well as drawing it. It holds numbers only; the scene
// writer decides what they become. The C face is zk_capture_* in
// zelkori_host.h.
#ifndef ZELKORI_CAPTURE_H
#define ZELKORI_CAPTURE_H

#include <vector>

#include "zelkori_host.h"

namespace zelkori {

struct Capture {
    bool on = false;
    bool draws = true;  // the primitives draw as well as record
    int frames = 0;  // frames begun so far
    bool out_of_memory = false;  // a primitive could not be kept
    std::vector<zk_primitive> primitives;  // in frame order
    bool has_camera = false;  // projection and viewport read
    double projection[16] = {};  // at the first primitive
    int viewport[4] = {0, 0, 0, 0};
};

// Records a primitive (kind and sizes as in zk_primitive) into the running
// capture, under GL's current model-view matrix and the last diffuse
// colour; nothing without a current GL context. Called from C: a primitive
// that cannot be kept marks the capture out of memory.
void capture_primitive(int kind, double a, double b, double c) noexcept;

}  // namespace zelkori

#endif
