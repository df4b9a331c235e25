// png_probe FILE X Y ?X Y ...?: prints "R G B" of each pixel (x from the
// left, y from the top), one line each. Exit 1 when the file cannot be read
// or a pixel lies outside it.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: png_probe FILE X Y ?X Y ...?\n");
        return 2;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, argv[1])) {
        std::fprintf(stderr, "png_probe: %s\n", image.message);
        return 1;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "png_probe: %s\n", image.message);
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
