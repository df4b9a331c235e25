// png_probe FILE X Y ?X Y ...?: prints "R G B" of each pixel (x from the
// left, y from the top), one line each. Exit 1 when the file cannot be read
// or a pixel lies outside it.
// png_probe --same A B: exit 0 when A and B hold the same picture, 1 when
// they differ or either cannot be read. png_probe --lit FILE: prints
// "X0 Y0 X1 Y1 W H", the box of the pixels with a channel over 40 and the
// picture's size ("none W H" when nothing is lit). Files of one picture need not be
// byte for byte the same: the encoder may choose other matches.
// png_probe --alpha FILE: prints "CLEAR PARTIAL OPAQUE", the counts of
// pixels whose alpha is 0, between, and full.
// png_probe --over FILE COLOUR OTHER: FILE laid over the colour #rrggbb,
// as a viewer shows it; prints the largest difference of a channel from
// OTHER's.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool read(const char *file, png_uint_32 format, png_image *image, std::vector<png_byte> *pixels) {
    *image = png_image{};
    image->version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(image, file)) {
        image->format = format;
        pixels->resize(PNG_IMAGE_SIZE(*image));
        if (png_image_finish_read(image, nullptr, pixels->data(), 0, nullptr)) {
            return true;
        }
    }
    std::fprintf(stderr, "png_probe: %s: %s\n", file, image->message);
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--same") == 0) {
        png_image a, b;
        std::vector<png_byte> pa, pb;
        if (!read(argv[2], PNG_FORMAT_RGBA, &a, &pa) || !read(argv[3], PNG_FORMAT_RGBA, &b, &pb)) {
            return 1;
        }
        return a.width == b.width && a.height == b.height && pa == pb ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--lit") == 0) {
        png_image image;
        std::vector<png_byte> pixels;
        if (!read(argv[2], PNG_FORMAT_RGB, &image, &pixels)) {
            return 1;
        }
        long x0 = long(image.width), y0 = long(image.height), x1 = -1, y1 = -1;
        for (long y = 0; y < long(image.height); ++y) {
            for (long x = 0; x < long(image.width); ++x) {
                const png_byte *p = &pixels[(size_t(y) * image.width + size_t(x)) * 3];
                if (p[0] > 40 || p[1] > 40 || p[2] > 40) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y);
                    x1 = std::max(x1, x), y1 = std::max(y1, y);
                }
            }
        }
        if (x1 < 0) {
            std::printf("none %u %u\n", image.width, image.height);
        } else {
            std::printf("%ld %ld %ld %ld %u %u\n", x0, y0, x1, y1, image.width, image.height);
        }
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--alpha") == 0) {
        png_image image;
        std::vector<png_byte> pixels;
        if (!read(argv[2], PNG_FORMAT_RGBA, &image, &pixels)) {
            return 1;
        }
        long counts[3] = {0, 0, 0};
        for (size_t i = 3; i < pixels.size(); i += 4) {
            ++counts[pixels[i] == 0 ? 0 : pixels[i] == 255 ? 2 : 1];
        }
        std::printf("%ld %ld %ld\n", counts[0], counts[1], counts[2]);
        return 0;
    }
    unsigned colour = 0;
    if (argc == 5 && std::strcmp(argv[1], "--over") == 0 &&
        std::sscanf(argv[3], "#%6x", &colour) == 1) {
        png_image a, b;
        std::vector<png_byte> pa, pb;
        if (!read(argv[2], PNG_FORMAT_RGBA, &a, &pa) || !read(argv[4], PNG_FORMAT_RGB, &b, &pb) ||
            a.width != b.width || a.height != b.height) {
            return 1;
        }
        int most = 0;
        for (size_t i = 0; i < pb.size(); ++i) {
            const png_byte *p = &pa[i / 3 * 4];
            const int under = (colour >> (16 - 8 * (i % 3))) & 0xFF;
            const double over = (p[i % 3] * p[3] + under * (255 - p[3])) / 255.0;
            most = std::max(most, std::abs(int(over + 0.5) - pb[i]));
        }
        std::printf("%d\n", most);
        return 0;
    }
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: png_probe FILE X Y ?X Y ...? | png_probe --same A B |"
                             " png_probe --lit FILE | png_probe --alpha FILE |"
                             " png_probe --over FILE #rrggbb OTHER\n");
        return 2;
    }
    png_image image;
    std::vector<png_byte> pixels;
    if (!read(argv[1], PNG_FORMAT_RGB, &image, &pixels)) {
        return 1;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const long x = std::strtol(argv[i], nullptr, 10);
        const long y = std::strtol(argv[i + 1], nullptr, 10);
        if (x < 0 || y < 0 || x >= long(image.width) || y >= long(image.height)) {
            std::fprintf(stderr, "png_probe: pixel %ld %ld outside the image\n", x, y);
            return 1;
        }
        const png_byte *p = &pixels[(size_t(y) * image.width + size_t(x)) * 3];
        std::printf("%d %d %d\n", p[0], p[1], p[2]);
    }
    return 0;
}
