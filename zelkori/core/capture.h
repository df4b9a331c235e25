// Scene capture: while a capture records, the sphere and cylinder
// primitives record what they are asked to draw (primitive, sizes, colour,
// model-view matrix) and, once, the camera, as well as drawing it. Each
// capture belongs to whoever made it (a scene output); several record at
// once, each everything drawn while it records. The core lists the ones
// recording, nothing more. It holds numbers only; the scene writer decides
// what they become. The C face is zk_capture_* in zelkori/capture.h.
#ifndef ZELKORI_CAPTURE_H
#define ZELKORI_CAPTURE_H

#include <vector>

#include "zelkori/capture.h"

namespace zelkori {

struct Capture {
    bool draws = true;  // the primitives draw as well as record
    bool alone = false;  // while it records, no other capture does
    int frames = 0;  // frames begun so far
    bool out_of_memory = false;  // a primitive could not be kept
    std::vector<zk_primitive> primitives;  // in frame order
    bool has_camera = false;  // projection and viewport read
    double projection[16] = {};  // at the first primitive
    int viewport[4] = {0, 0, 0, 0};
};

// Starts `capture` recording from its first frame, forgetting what it
// held (its draws and alone settings stay); it records until
// stop_capture, and must outlive that. False when there is no memory to
// list it.
bool start_capture(Capture &capture);
// Begins the capture's next frame (animation sample).
void next_frame(Capture &capture);
// Stops it recording (reading the camera if no primitive did); what it
// holds stays. Nothing for one not recording.
void stop_capture(Capture &capture);

// Whether a primitive is to be recorded, and whether drawn: drawn unless
// every capture recording only records, or the last one recording alone
// does.
bool capturing();
bool capture_draws();

// Records a primitive (kind and sizes as in zk_primitive) into every
// capture recording, under GL's current model-view matrix and the last
// diffuse colour; nothing without a current GL context. Called from C: a
// primitive that cannot be kept marks its capture out of memory.
void capture_primitive(int kind, double a, double b, double c) noexcept;

}  // namespace zelkori

#endif
