// The fast PNG path for rendered frames: rows through PNG's Up filter, then
// ISA-L's deflate at its level 1 (a standard zlib stream). Files come out
// about as small as zlib's level 1 makes them, many times quicker; they
// are ordinary PNG.
#ifndef ZELKORI_PNG_FAST_H
#define ZELKORI_PNG_FAST_H

#include <cstddef>

#include "output/pixels.h"

namespace zelkori {

// Takes the file's bytes in order; returns false to give up (a failed write).
typedef bool (*PngSink)(void *context, const unsigned char *data, size_t size);

// Writes `image` as a whole 8-bit RGB PNG through `sink`, in pieces of at
// most a few hundred KiB. Each thread keeps its compressor and buffers for
// its next image. Returns false when the sink fails or the size is below
// 1; may throw std::bad_alloc.
bool write_png_fast(const PixelRows &image, PngSink sink, void *context);

// The same for RGB rows, top first.
inline bool write_png_fast(int width, int height, const unsigned char *rgb,
                           PngSink sink, void *context) {
    return write_png_fast(rgb_rows(width, height, rgb), sink, context);
}

}  // namespace zelkori

#endif
