// The fast PNG encoder against independent decoders: zlib inflates every
// stream (checking its Adler-32) and libpng reads every file back (checking
// chunk CRCs), on content that drives each of the encoder's paths.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "png_fast.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes inflate_all(const Bytes &stream, size_t expected_size) {
    Bytes out(expected_size + 1);
    uLongf size = out.size();
    const int result = uncompress(out.data(), &size, stream.data(), stream.size());
    EXPECT_EQ(result, Z_OK);
    out.resize(result == Z_OK ? size : 0);
    return out;
}

void expect_round_trip(const Bytes &data, size_t row_bytes) {
    Bytes stream;
    zelkori::deflate_runs(data.data(), data.size(), row_bytes, &stream);
    EXPECT_TRUE(inflate_all(stream, data.size()) == data) << data.size() << " bytes";
}

Bytes random_bytes(size_t size, unsigned seed, int distinct = 256) {
    std::mt19937 random(seed);
    Bytes data(size);
    for (unsigned char &byte : data) {
        byte = static_cast<unsigned char>(random() % static_cast<unsigned>(distinct));
    }
    return data;
}

TEST(DeflateRuns, EdgeSizes) {
    expect_round_trip({}, 0);
    expect_round_trip({42}, 1);
    expect_round_trip({7, 7}, 3);
    expect_round_trip(Bytes(3, 9), 3);
    expect_round_trip(Bytes(259, 0), 0);  // one byte past the longest match
}

TEST(DeflateRuns, RunsRowsAndNoise) {
    expect_round_trip(Bytes(1000000, 0), 1921);           // zero runs, many blocks
    expect_round_trip(Bytes(1000000, 0xff), 0);           // Adler sums at their largest
    expect_round_trip(random_bytes(300000, 1), 1921);     // literals only, several blocks
    Bytes rows = random_bytes(40000, 2, 4);
    for (size_t i = 1000; i < rows.size(); ++i) {
        rows[i] = rows[i - 1000];  // every row repeats the one above
    }
    expect_round_trip(rows, 1000);
    expect_round_trip(rows, 40000);  // distance too far back to be used
    Bytes pixels;
    for (int i = 0; i < 20000; ++i) {  // flat pixels of a few colours
        const unsigned char pixel[3] = {static_cast<unsigned char>(i / 700), 80, 200};
        pixels.insert(pixels.end(), pixel, pixel + 3);
    }
    expect_round_trip(pixels, 0);
}

// Byte counts in Fibonacci proportion make the plain Huffman tree deeper
// than the 15 bits deflate allows, so the encoder must limit it.
TEST(DeflateRuns, SkewedCountsKeepCodesShort) {
    Bytes data;
    uint64_t a = 1, b = 1;
    for (int symbol = 0; symbol < 26; ++symbol) {
        data.insert(data.end(), static_cast<size_t>(a), static_cast<unsigned char>(symbol * 7));
        const uint64_t next = a + b;
        a = b;
        b = next;
    }
    std::shuffle(data.begin(), data.end(), std::mt19937(3));
    expect_round_trip(data, 0);
}

TEST(DeflateRuns, AdlerMatchesZlib) {
    Bytes mixed(20000, 0);
    for (size_t i = 0; i < mixed.size(); i += 997) {
        std::fill_n(mixed.begin() + static_cast<long>(i), std::min<size_t>(13, mixed.size() - i), 0xff);
    }
    for (const Bytes &data : {mixed, random_bytes(5553, 4), Bytes(5552 * 3 + 5, 0xff), Bytes()}) {
        EXPECT_EQ(zelkori::adler32_runs(data.data(), data.size()),
                  adler32(1, data.data(), static_cast<uInt>(data.size())));
    }
}

// libpng's reading of a file the encoder wrote, as top-first RGB rows.
Bytes decode(const Bytes &file, int width, int height) {
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
    return pixels;
}

void expect_image_round_trip(int width, int height, const Bytes &rgb) {
    const Bytes file = zelkori::encode_png_fast(width, height, rgb.data());
    EXPECT_TRUE(decode(file, width, height) == rgb) << width << "x" << height;
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

TEST(EncodePngFast, ImagesReadBackExactly) {
    const int sizes[][2] = {{1, 1}, {1, 300}, {300, 1}, {5, 7}, {640, 480}, {1281, 3}};
    for (const auto &size : sizes) {
        expect_image_round_trip(size[0], size[1], scene(size[0], size[1]));
        expect_image_round_trip(size[0], size[1],
                                random_bytes(static_cast<size_t>(size[0]) * size[1] * 3, 5));
    }
    // Rows longer than the deflate window: the row above is out of reach.
    expect_image_round_trip(11000, 2, scene(11000, 2));
}

// Seeded random images of random sizes and content kinds.
TEST(EncodePngFast, RandomImages) {
    std::mt19937 random(6);
    for (int round = 0; round < 60; ++round) {
        const int width = 1 + static_cast<int>(random() % 200);
        const int height = 1 + static_cast<int>(random() % 120);
        const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
        Bytes rgb = round % 3 == 0 ? scene(width, height) : random_bytes(size, random(), 1 + round % 7);
        expect_image_round_trip(width, height, rgb);
    }
}

}  // namespace
