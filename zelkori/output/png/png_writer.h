// PNG encoding for the writers: from rows as GL keeps them or as RGB.
#ifndef ZELKORI_PNG_WRITER_H
#define ZELKORI_PNG_WRITER_H

#include <cstddef>
#include <string>
#include <vector>

#include "output/frame_reader.h"
#include "output/pixels.h"

namespace zelkori {

// Writes `image` to `path` whole or not at all. Returns 0 with *error
// (the cause alone) on failure.
int write_png(const char *path, const PixelRows &image, int level, const char **error);

// Encodes `image` in memory: *data, *size bytes, freed with free().
int encode_png(const PixelRows &image, int level, unsigned char **data, size_t *size,
               const char **error);

class FrameQueue;
// The queue of background saves, made on first use.
FrameQueue &save_queue();

// Reads the reader's current frame into `rgba` (gl_rows' layout).
bool read_frame(const FrameReader &reader, std::vector<unsigned char> &rgba, int *width,
                int *height, std::string *error);

}  // namespace zelkori

#endif
