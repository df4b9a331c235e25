// A fast PNG encoder for rendered frames: mostly flat background with a
// figure in it. It trades a little size for encoding several times faster
// than zlib's fastest setting, and its files are ordinary PNG.
#ifndef ZELKORI_PNG_FAST_H
#define ZELKORI_PNG_FAST_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelkori {

// The whole file for a width x height 8-bit RGB image, rows top first.
// May throw std::bad_alloc.
std::vector<unsigned char> encode_png_fast(int width, int height,
                                           const unsigned char *rgb);

// A zlib stream of data[0, size), appended to *out. Matches are looked
// for only at distances 1 and 3 (flat runs of bytes and pixels) and at
// row_bytes (the same byte a row above); 0 leaves the last one out.
void deflate_runs(const unsigned char *data, size_t size, size_t row_bytes,
                  std::vector<unsigned char> *out);

// zlib's Adler-32 of data[0, size), quick over runs of zero bytes.
uint32_t adler32_runs(const unsigned char *data, size_t size);

}  // namespace zelkori

#endif
