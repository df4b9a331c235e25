// PNG encoding for the writers: from rows as GL keeps them or as RGB.
#ifndef ZELKORI_PNG_WRITER_H
#define ZELKORI_PNG_WRITER_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "output/frame_queue.h"
#include "output/frame_reader.h"
#include "output/pixels.h"

namespace zelkori {

// Writes `image` to `path` whole or not at all. False with *error (the
// cause alone) on failure.
bool write_png(const char *path, const PixelRows &image, int level, std::string *error);

// Encodes `image` in memory: *data, *size bytes, freed with free().
bool encode_png(const PixelRows &image, int level, unsigned char **data, size_t *size,
                std::string *error);

// A queue of frames from `reader` handled by `work` on threads of its own,
// as many as PNG encoding has use for.
std::unique_ptr<FrameQueue> png_queue(const FrameReader &reader, FrameQueue::Work work);

// Reads the reader's current frame, width x height, into `rgba`
// (gl_rows' layout).
bool read_frame(const FrameReader &reader, std::vector<unsigned char> &rgba, int width,
                int height, std::string *error);

}  // namespace zelkori

#endif
