// The one way frames leave OpenGL: the viewport clipped to what is being
// drawn to, read as GL keeps it (RGBA, bottom row first) and handed to
// whichever writer. Writers and the frame queue take a reader, so that they
// can be driven without GL.
#ifndef ZELKORI_FRAME_READER_H
#define ZELKORI_FRAME_READER_H

#include "zelkori/output.h"

namespace zelkori {

// Why a writer has no frame to take, and why a frame could not be taken,
// in every writer's words.
constexpr char kNoFrame[] = "no frame to read: no OpenGL context is current";
constexpr char kCannotRead[] = "cannot read the frame back from OpenGL";

class FrameReader {
  public:
    virtual ~FrameReader() = default;
    // The size of the frame to read; false when there is none (no GL
    // context current, or an empty viewport).
    virtual bool size(int *width, int *height) const = 0;
    // Reads the width x height area at the origin into `rgba` (width *
    // height * 4 bytes, bottom row first). False when it cannot.
    virtual bool read(int width, int height, unsigned char *rgba) const = 0;
    // Why read failed, in every writer's words.
    virtual const char *cannot_read() const { return kCannotRead; }
};

// Frames of the current GL context: the offscreen framebuffer, or a
// window's back buffer before it is swapped.
const FrameReader &gl_frame_reader();

// Frames of a caller's source (zk_frame_source in zelkori/output.h).
class SourceReader : public FrameReader {
  public:
    explicit SourceReader(const zk_frame_source &source) : source_(source) {}
    bool size(int *width, int *height) const override {
        return source_.size(source_.data, width, height) != 0 && *width > 0 && *height > 0;
    }
    bool read(int width, int height, unsigned char *rgba) const override;

  private:
    const zk_frame_source source_;
};

// While one lives, the readers on its thread read the frame once, at the
// first read, and hand the same pixels to every later read of that size:
// the outputs given one frame together (zk_writers_add) share one
// read-back. Nothing may draw while one lives.
class SharedFrame {
  public:
    SharedFrame();
    ~SharedFrame();
    SharedFrame(const SharedFrame &) = delete;
    SharedFrame &operator=(const SharedFrame &) = delete;

    // Reads through `read_now` the first time, copies the kept frame after.
    static bool read(int width, int height, unsigned char *rgba,
                     bool (*read_now)(const void *reader, int width, int height,
                                      unsigned char *rgba),
                     const void *reader);

  private:
    SharedFrame *was_;
    int width_ = 0, height_ = 0;
    bool taken_ = false, ok_ = false;
};

// Frames of `inner` with their alpha unassociated, as files with alpha
// keep it: GL leaves the colour of a pixel the figure partly covers
// multiplied by that cover.
class UnassociatedReader : public FrameReader {
  public:
    explicit UnassociatedReader(const FrameReader &inner) : inner_(inner) {}
    bool size(int *width, int *height) const override { return inner_.size(width, height); }
    bool read(int width, int height, unsigned char *rgba) const override;
    const char *cannot_read() const override { return inner_.cannot_read(); }

  private:
    const FrameReader &inner_;
};

}  // namespace zelkori

#endif
