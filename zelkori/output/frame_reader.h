// The one way frames leave OpenGL: the viewport clipped to what is being
// drawn to, read as GL keeps it (RGBA, bottom row first) and handed to
// whichever writer. Writers and the frame queue take a reader, so that they
// can be driven without GL.
#ifndef ZELKORI_FRAME_READER_H
#define ZELKORI_FRAME_READER_H

namespace zelkori {

class FrameReader {
  public:
    virtual ~FrameReader() = default;
    // The size of the frame to read; false when there is none (no GL
    // context current, or an empty viewport).
    virtual bool size(int *width, int *height) const = 0;
    // Reads the width x height area at the origin into `rgba` (width *
    // height * 4 bytes, bottom row first). False when it cannot.
    virtual bool read(int width, int height, unsigned char *rgba) const = 0;
};

// Why a writer has no frame to take, in every writer's words.
constexpr char kNoFrame[] = "no frame to read: no OpenGL context is current";

// Frames of the current GL context: the offscreen framebuffer, or a
// window's back buffer before it is swapped.
const FrameReader &gl_frame_reader();

}  // namespace zelkori

#endif
