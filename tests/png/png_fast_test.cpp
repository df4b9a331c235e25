// The fast PNG path against independent decoders: libpng reads every file
// back (checking chunk CRCs, with no warning allowed), and zlib inflates
// the IDAT chunks joined (checking the zlib stream and its Adler-32), each
// compared pixel for pixel with the image written.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "output/png/png_fast.h"

namespace {

typedef std::vector<unsigned char> Bytes;

bool append(void *to, const unsigned char *data, size_t size) {
    static_cast<Bytes *>(to)->insert(static_cast<Bytes *>(to)->end(), data, data + size);
    return true;
}

Bytes encode(int width, int height, const Bytes &rgb) {
    Bytes file;
    EXPECT_TRUE(zelkori::write_png_fast(width, height, rgb.data(), append, &file));
    return file;
}

uint32_t be32(const unsigned char *at) {
    return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
           static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// libpng's reading, as top-first RGB rows.
Bytes decode_libpng(const Bytes &file, int width, int height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
        ADD_FAILURE() << image.message;
        return {};
    }
    EXPECT_EQ(image.width, static_cast<png_uint_32>(width));
    EXPECT_EQ(image.height, static_cast<png_uint_32>(height));
    image.format = PNG_FORMAT_RGB;
    Bytes pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << image.message;
        return {};
    }
    EXPECT_EQ(image.warning_or_error, 0u) << image.message;
    return pixels;
}

// zlib's reading: the IDAT chunks' data joined and inflated, each row's Up
// filter undone.
Bytes decode_zlib(const Bytes &file, int width, int height) {
    Bytes stream;
    for (size_t at = 8; at + 12 <= file.size(); at += 12 + be32(&file[at])) {
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            stream.insert(stream.end(), &file[at + 8], &file[at + 8] + be32(&file[at]));
        }
    }
    const size_t stride = static_cast<size_t>(width) * 3;
    const size_t raw = (stride + 1) * static_cast<size_t>(height);
    EXPECT_LE(stream.size(), raw + raw / 1000 + 64) << "noise must not grow";
    Bytes rows(raw + 1);
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, stream.data(), stream.size()) != Z_OK ||
        size != rows.size() - 1) {
        ADD_FAILURE() << "zlib cannot inflate the image data";
        return {};
    }
    Bytes rgb(stride * static_cast<size_t>(height));
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        EXPECT_EQ(rows[y * (stride + 1)], 2) << "row " << y << " filter";
        for (size_t x = 0; x < stride; ++x) {
            rgb[y * stride + x] = static_cast<unsigned char>(
                rows[y * (stride + 1) + 1 + x] + (y > 0 ? rgb[(y - 1) * stride + x] : 0));
        }
    }
    return rgb;
}

// The image as glReadPixels gives it: RGBA, bottom row first.
Bytes as_gl_keeps_it(int width, int height, const Bytes &rgb) {
    Bytes rgba(static_cast<size_t>(width) * height * 4, 0xA5);
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
            std::memcpy(&rgba[((height - 1 - y) * width + x) * 4], &rgb[(y * width + x) * 3], 3);
        }
    }
    return rgba;
}

// Decoded exactly by both readers; the same pixels as GL keeps them make
// the same file.
void expect_round_trip(int width, int height, const Bytes &rgb) {
    const Bytes file = encode(width, height, rgb);
    EXPECT_TRUE(decode_libpng(file, width, height) == rgb) << width << "x" << height;
    EXPECT_TRUE(decode_zlib(file, width, height) == rgb) << width << "x" << height;
    const Bytes rgba = as_gl_keeps_it(width, height, rgb);
    Bytes from_gl;
    EXPECT_TRUE(zelkori::write_png_fast(zelkori::gl_rows(width, height, rgba.data()), append,
                                        &from_gl));
    EXPECT_TRUE(from_gl == file) << width << "x" << height << " from RGBA rows";
}

Bytes random_bytes(size_t size, unsigned seed, int distinct = 256) {
    std::mt19937 random(seed);
    Bytes data(size);
    for (unsigned char &byte : data) {
        byte = static_cast<unsigned char>(random() % static_cast<unsigned>(distinct));
    }
    return data;
}

// A frame like the renderer's: black, a shaded disc, a flat bar.
Bytes scene(int width, int height) {
    Bytes rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            const int dx = x - width / 2, dy = y - height / 2, r = std::min(width, height) / 3;
            if (dx * dx + dy * dy < r * r) {
                p[0] = 0;
                p[1] = static_cast<unsigned char>(40 + (x * 3 + y) % 60);
                p[2] = static_cast<unsigned char>(120 + (dx * dx + dy * dy) * 100 / (r * r + 1));
            } else if (y > height * 3 / 4 && x % 97 < 40) {
                p[0] = p[1] = p[2] = 128;
            }
        }
    }
    return rgb;
}

// Scenes and noise (incompressible: it must not grow, and libpng must read
// it without a warning) at edge sizes, rows over the deflate window, and
// rows wider than the compressor takes at a time.
TEST(PngFast, ImagesReadBackExactly) {
    const int sizes[][2] = {{1, 1}, {1, 300}, {300, 1}, {5, 7}, {640, 480}, {1281, 3},
                            {11000, 2}, {90000, 2}};
    for (const auto &size : sizes) {
        expect_round_trip(size[0], size[1], scene(size[0], size[1]));
        expect_round_trip(size[0], size[1],
                          random_bytes(static_cast<size_t>(size[0]) * size[1] * 3, 5));
    }
}

// RGBA rows whose alpha is kept: a four-channel file, read back by libpng
// as the rows were, top row first.
TEST(PngFast, AlphaReadsBackExactly) {
    const int sizes[][2] = {{1, 1}, {5, 7}, {640, 480}, {1281, 3}};
    for (const auto &size : sizes) {
        const int width = size[0], height = size[1];
        const Bytes rgba = random_bytes(static_cast<size_t>(width) * height * 4, 8, 5);
        zelkori::PixelRows rows = zelkori::gl_rows(width, height, rgba.data());
        rows.alpha = true;
        Bytes file;
        ASSERT_TRUE(zelkori::write_png_fast(rows, append, &file));
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()));
        EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, PNG_FORMAT_FLAG_ALPHA);
        image.format = PNG_FORMAT_RGBA;
        Bytes pixels(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
        const size_t stride = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            EXPECT_EQ(0, std::memcmp(&pixels[y * stride], rows.row(y), stride))
                << width << "x" << height << " row " << y;
        }
    }
}

// Flat, noise and stripes (runs two pixels long, shifting each row) of
// width x height, RGB.
Bytes pattern(int kind, int width, int height) {
    if (kind == 1) {
        return random_bytes(static_cast<size_t>(width) * height * 3,
                            static_cast<unsigned>(width * 131 + height));
    }
    Bytes rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool dark = kind == 2 && (x / 2 + y) % 2 == 1;
            unsigned char *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = dark ? 10 : 200;
            p[1] = dark ? 250 : 30;
            p[2] = 90;
        }
    }
    return rgb;
}

// Every size up to 64x64 and the longest single row and column, each
// flat, noise and stripes, read back by libpng exactly.
TEST(PngFast, EverySmallSizeReadsBackExactly) {
    std::vector<std::array<int, 2>> sizes = {{1, 16384}, {16384, 1}};
    for (int width = 1; width <= 64; ++width) {
        for (int height = 1; height <= 64; ++height) {
            sizes.push_back({width, height});
        }
    }
    std::vector<std::string> wrong;
    for (const auto &size : sizes) {
        for (int kind = 0; kind < 3; ++kind) {
            const Bytes rgb = pattern(kind, size[0], size[1]);
            if (decode_libpng(encode(size[0], size[1], rgb), size[0], size[1]) != rgb) {
                const char *const kKinds[] = {"flat", "noise", "stripes"};
                wrong.push_back(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " " +
                                kKinds[kind]);
            }
        }
        ASSERT_LT(wrong.size(), 10u) << wrong.front() << " and more";
    }
    EXPECT_TRUE(wrong.empty()) << wrong.front();
}

// Seeded random images of random sizes and content kinds, one after
// another through the same thread's compressor.
TEST(PngFast, RandomImages) {
    std::mt19937 random(6);
    for (int round = 0; round < 60; ++round) {
        const int width = 1 + static_cast<int>(random() % 200);
        const int height = 1 + static_cast<int>(random() % 120);
        const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        Bytes rgb = round % 3 == 0 ? scene(width, height) : random_bytes(size, random(), 1 + round % 7);
        expect_round_trip(width, height, rgb);
    }
}

// Nothing of one image reaches the next: not from a larger one, not from a
// write that failed halfway, not from another thread.
TEST(PngFast, KeptStateLeavesNoTrace) {
    const Bytes small = scene(320, 240), big = random_bytes(1000 * 800 * 3, 7);
    const Bytes first = encode(320, 240, small);
    encode(1000, 800, big);
    const zelkori::PngSink fail_later = [](void *calls, const unsigned char *, size_t) {
        return ++*static_cast<int *>(calls) < 2;
    };
    int calls = 0;
    EXPECT_FALSE(zelkori::write_png_fast(1000, 800, big.data(), fail_later, &calls));
    EXPECT_EQ(calls, 2);  // nothing more after the failed write
    EXPECT_TRUE(encode(320, 240, small) == first);
    Bytes elsewhere;
    std::thread([&] { elsewhere = encode(320, 240, small); }).join();
    EXPECT_TRUE(elsewhere == first);
    EXPECT_FALSE(zelkori::write_png_fast(0, 5, small.data(), append, &elsewhere));
}

// A width x height noise image in little memory: kPeriod bytes of noise
// mapped again and again. The period is far beyond deflate's window, so
// to the compressor it is noise throughout.
class RepeatedNoise {
  public:
    static const size_t kPeriod = 16 << 20;

    explicit RepeatedNoise(size_t size) : mapped_((size + kPeriod - 1) / kPeriod * kPeriod) {
        const int fd = memfd_create("noise", 0);
        EXPECT_EQ(ftruncate(fd, kPeriod), 0);
        void *noise = mmap(nullptr, kPeriod, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        std::mt19937 random(8);
        for (size_t i = 0; i < kPeriod / 4; ++i) {
            static_cast<uint32_t *>(noise)[i] = random();
        }
        munmap(noise, kPeriod);
        void *base = mmap(nullptr, mapped_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        base_ = static_cast<unsigned char *>(base);
        for (size_t at = 0; at < mapped_; at += kPeriod) {
            EXPECT_NE(mmap(base_ + at, kPeriod, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0), MAP_FAILED);
        }
        close(fd);
    }
    ~RepeatedNoise() { munmap(base_, mapped_); }
    const unsigned char *data() const { return base_; }

  private:
    size_t mapped_;
    unsigned char *base_;
};

// Any libpng warning or error fails the test.
void on_error(png_structp png, png_const_charp message) {
    ADD_FAILURE() << "libpng: " << message;
    png_longjmp(png, 1);
}
void on_warning(png_structp, png_const_charp message) {
    ADD_FAILURE() << "libpng warns: " << message;
}

// libpng reads the file from `file` row by row; *differing counts the rows
// unlike `rgb`'s. libpng reports failures through longjmp; nothing with a
// destructor may live in this frame.
bool read_rows(FILE *file, int width, int height, const unsigned char *rgb,
               unsigned char *row, long *differing) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != static_cast<png_uint_32>(width) ||
        png_get_image_height(png, info) != static_cast<png_uint_32>(height)) {
        png_error(png, "wrong size");
    }
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        *differing += std::memcmp(row, rgb + stride * static_cast<size_t>(y), stride) != 0;
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// Over a gigabyte of noise, streamed through a pipe to libpng while it is
// written, so that the test holds only the noise's period in memory.
TEST(PngFast, HugeNoiseImageReadsBackExactly) {
    const int width = 20000, height = 18000;
    const RepeatedNoise rgb(static_cast<size_t>(width) * height * 3);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the writer
    bool written = false;
    std::thread writer([&] {
        const zelkori::PngSink to_pipe = [](void *fd, const unsigned char *data, size_t size) {
            for (ssize_t done = 0; size > 0; data += done, size -= static_cast<size_t>(done)) {
                if ((done = write(*static_cast<int *>(fd), data, size)) <= 0) {
                    return false;
                }
            }
            return true;
        };
        written = zelkori::write_png_fast(width, height, rgb.data(), to_pipe, &pipe_ends[1]);
        close(pipe_ends[1]);
    });
    FILE *file = fdopen(pipe_ends[0], "rb");
    std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
    long differing = 0;
    EXPECT_TRUE(read_rows(file, width, height, rgb.data(), row.data(), &differing));
    EXPECT_EQ(std::fgetc(file), EOF);  // nothing after IEND
    std::fclose(file);
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(differing, 0);
}

}  // namespace
