// Frames as OpenGL keeps them and as image files want them. GL hands RGBA
// rows bottom up at memory speed; RGB top down costs it a conversion pass
// several times slower, so the encoders take either and convert as they go.
#ifndef ZELKORI_PIXELS_H
#define ZELKORI_PIXELS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zelkori {

// An image's rows in memory: row y, counted from the top, starts at
// top + y * stride. pixel_bytes is 3 (RGB) or 4 (RGBA, alpha ignored
// unless `alpha`: then it is kept, unassociated).
struct PixelRows {
    int width = 0, height = 0;
    int pixel_bytes = 3;
    const unsigned char *top = nullptr;
    std::ptrdiff_t stride = 0;
    bool alpha = false;

    const unsigned char *row(int y) const { return top + stride * y; }
};

// Tightly packed RGB, top row first.
inline PixelRows rgb_rows(int width, int height, const unsigned char *rgb) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 3;
    return {width, height, 3, rgb, stride};
}

// Tightly packed RGBA, bottom row first, as glReadPixels gives it.
inline PixelRows gl_rows(int width, int height, const unsigned char *rgba) {
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
    return {width, height, 4, rgba + stride * (height - 1), -stride};
}

// RGBA pixels as GL blends them over transparent black (each colour
// multiplied by its alpha) to the unassociated alpha image files keep.
inline void unassociate(unsigned char *rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, rgba += 4) {
        const unsigned alpha = rgba[3];
        if (alpha != 0 && alpha != 255) {
            for (int c = 0; c < 3; ++c) {
                const unsigned value = (rgba[c] * 255u + alpha / 2) / alpha;
                rgba[c] = static_cast<unsigned char>(value > 255 ? 255 : value);
            }
        }
    }
}

const bool kLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Two RGBA pixels read as a little-endian word, to their six RGB bytes
// (the top two bytes zero).
inline uint64_t pack_two(uint64_t rgba) {
    return (rgba & 0xFFFFFFu) | ((rgba >> 8) & 0xFFFFFF000000u);
}

// Copies `width` RGBA pixels to `rgb` as RGB. Two pixels a step through a
// 64-bit word; each 8-byte store runs two bytes into the next step's place,
// so the last pixels are copied one by one.
inline void pack_rgb(const unsigned char *rgba, int width, unsigned char *rgb) {
    int x = 0;
    if (kLittleEndian) {
        for (; x + 2 < width; x += 2) {
            uint64_t two;
            std::memcpy(&two, rgba + 4 * x, sizeof two);
            two = pack_two(two);
            std::memcpy(rgb + 3 * x, &two, sizeof two);
        }
    }
    for (; x < width; ++x) {
        std::memcpy(rgb + 3 * x, rgba + 4 * x, 3);
    }
}

// Row y of `image` as RGB in `out` (width * 3 bytes).
inline void copy_rgb_row(const PixelRows &image, int y, unsigned char *out) {
    if (image.pixel_bytes == 4) {
        pack_rgb(image.row(y), image.width, out);
    } else {
        std::memcpy(out, image.row(y), static_cast<size_t>(image.width) * 3);
    }
}

}  // namespace zelkori

#endif
