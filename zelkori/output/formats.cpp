// The formats the host library writes, in one table: a new format is a row
// here naming its writer (writers.h) or, for a movie, its codec row
// (movie/codecs.cpp). Limits and defaults are read from here by
// every caller, the Tcl face and the applications included.
#include <strings.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/errors.h"
#include "output/movie/codecs.h"
#include "output/writers.h"
#include "zelkori_host.h"

namespace zelkori {
namespace {

const int kMaxSide = ZK_MAX_SIDE;
const int kWebpSide = 16383;  // WebP's 14-bit sizes
const long long kNoPixelLimit = 1LL * kMaxSide * kMaxSide;
const long long kSequenceFrames = 1000000000;
// Movies. Rates: at most 1000 frames a second (WebM counts milliseconds);
// at least one in 5000 s, which keeps MP4's 32-bit composition offsets in
// range. GIF counts hundredths of a second in 16 bits, and browsers show
// any delay under 0.02 s as 0.1 s; they do the same with animated PNG at
// 0.01 s. Scenes take the movies' slowest rate, which keeps 10000 sample
// times apart as floats. Limits are short decimals, so that the numbers in a refusal are
// accepted as typed. Sizes: H.264 and VP9 at their highest levels, which
// browsers play (H.264 allows 16880 a side, more than the framebuffer);
// pixels in all for a few GB at most. AV1's level 6 holds as many pixels.
// Browsers show a WebP frame of 10 ms or less for 0.1 s, and WebP counts
// milliseconds.
const double kSlowest = 0.0002;
const long long kMovieFrames = 1000000;
const long long kLevelPixels = 35651584;  // H.264 level 6.2, VP9 level 6.2
const long long kImagePixels = 100000000;
const int kQuality = 100;
const int kDefaultQuality = 50;
const double kFps = 30.0;
const double kAnyRate = HUGE_VAL;

// The writers the rows name.
const zk_format_writer kStill = {open_png};
const zk_format_writer kSequence = {open_sequence};
const zk_format_writer kStream = {open_stream};
const zk_format_writer kMovie = {open_movie};
const zk_format_writer kScene = {open_scene};
const zk_format_writer kPage = {open_page};

const int kPattern = ZK_FORMAT_PATTERN, kStdout = ZK_FORMAT_STDOUT, kJoinable = ZK_FORMAT_JOINABLE,
          kAlpha = ZK_FORMAT_ALPHA;

const zk_format kFormats[] = {
    {"png", ".png", ZK_KIND_STILL, kAlpha, "one PNG image", kMaxSide, kNoPixelLimit, 0, kAnyRate, 1,
     0, kQuality, kDefaultQuality, kFps, &kStill, nullptr},
    {"png-sequence", ".png", ZK_KIND_SEQUENCE, kPattern | kAlpha, "one PNG per frame, numbered from --first",
     kMaxSide, kNoPixelLimit, 0, kAnyRate, kSequenceFrames, 0, kQuality, kDefaultQuality, kFps,
     &kSequence, nullptr},
    {"stdout", "-", ZK_KIND_SEQUENCE, kStdout | kAlpha, "PNG data on standard output, one image a frame",
     kMaxSide, kNoPixelLimit, 0, kAnyRate, kSequenceFrames, 0, kQuality, kDefaultQuality, kFps,
     &kStream, nullptr},
    {"mp4", ".mp4", ZK_KIND_MOVIE, kJoinable, "H.264, plays in every browser and player",
     kMaxSide, kLevelPixels, kSlowest, 1000, kMovieFrames, 1, kQuality, kDefaultQuality, kFps,
     &kMovie, &kH264},
    {"webm", ".webm", ZK_KIND_MOVIE, kJoinable, "VP9, the open web format", kMaxSide,
     kLevelPixels, kSlowest, 1000, kMovieFrames, 1, kQuality, kDefaultQuality, kFps, &kMovie,
     &kVp9},
    {"gif", ".gif", ZK_KIND_MOVIE, 0, "GIF with a palette made for the animation, loops",
     kMaxSide, kImagePixels, 0.0016, 50, kMovieFrames, 1, kQuality, kDefaultQuality, kFps,
     &kMovie, &kGif},
    {"apng", ".apng", ZK_KIND_MOVIE, kAlpha, "animated PNG, lossless, loops", kMaxSide, kImagePixels,
     kSlowest, 90, kMovieFrames, 0, kQuality, kDefaultQuality, kFps, &kMovie, &kApng},
    {"webp", ".webp", ZK_KIND_MOVIE, 0, "animated WebP, loops", kWebpSide, kImagePixels,
     kSlowest, 90, kMovieFrames, 1, kQuality, kDefaultQuality, kFps, &kMovie, &kWebp},
    {"avif", ".avif", ZK_KIND_MOVIE, 0, "AV1 image sequence (AVIF), loops", kMaxSide,
     kLevelPixels, kSlowest, 1000, kMovieFrames, 1, kQuality, kDefaultQuality, kFps, &kMovie,
     &kAv1},
    {"glb", ".glb", ZK_KIND_SCENE, 0, "binary glTF scene, all frames as one animation", kMaxSide,
     kNoPixelLimit, kSlowest, 10000, 10000, 0, kQuality, kDefaultQuality, kFps, &kScene, nullptr},
    {"gltf", ".gltf", ZK_KIND_SCENE, 0, "glTF scene as JSON, all frames as one animation",
     kMaxSide, kNoPixelLimit, kSlowest, 10000, 10000, 0, kQuality, kDefaultQuality, kFps, &kScene,
     nullptr},
    {"html", ".html", ZK_KIND_PAGE, 0, "a web page that draws the figure live, posed by its controls",
     kMaxSide, kNoPixelLimit, 0, kAnyRate, 1, 0, kQuality, kDefaultQuality, kFps, &kPage, nullptr},
};
const int kFormatCount = sizeof kFormats / sizeof kFormats[0];

// The extensions, as a list for messages: ".png, .mp4, ... or .gltf".
std::string extensions() {
    std::string seen[kFormatCount];
    int count = 0;
    for (const zk_format &format : kFormats) {
        if (!(format.flags & ZK_FORMAT_STDOUT) && (count == 0 || seen[count - 1] != format.extension)) {
            seen[count++] = format.extension;
        }
    }
    std::string list = seen[0];
    for (int i = 1; i < count; ++i) {
        list += (i + 1 < count ? ", " : " or ") + seen[i];
    }
    return list;
}

bool ends_with(const char *path, const char *suffix) {
    const size_t length = std::strlen(path), size = std::strlen(suffix);
    return length >= size && strcasecmp(path + length - size, suffix) == 0;
}

// Whether `path` holds a number field (%d, %04d: flags, a width, d, i or
// u); %% is a percent sign. A name without one is taken as it is, % and
// all, whatever its format: 50%.png and 50%%.png are stills of those names.
bool is_pattern(const char *path) {
    for (const char *at = std::strchr(path, '%'); at != nullptr; at = std::strchr(at + 1, '%')) {
        if (at[1] == '%') {
            ++at;
            continue;
        }
        const char *end = at + 1 + std::strspn(at + 1, "-0 +#");
        end += std::strspn(end, "0123456789");
        if (*end != '\0' && std::strchr("diu", *end) != nullptr) {
            return true;
        }
    }
    return false;
}

bool named_like(const zk_format &format, bool pattern) {
    return ((format.flags & ZK_FORMAT_PATTERN) != 0) == pattern;
}

}  // namespace
}  // namespace zelkori

using namespace zelkori;

extern "C" {

int zk_format_count(void) { return kFormatCount; }

const zk_format *zk_format_at(int index) {
    return index >= 0 && index < kFormatCount ? &kFormats[index] : nullptr;
}

const zk_format *zk_format_of(const char *path, const char **error) {
    if (path == nullptr || *path == '\0') {
        zelkori::fail("no file name given", error);
        return nullptr;
    }
    if (std::strcmp(path, "-") == 0) {
        for (const zk_format &format : kFormats) {
            if (format.flags & ZK_FORMAT_STDOUT) {
                return &format;
            }
        }
    }
    // The last name in the path; "x.png/" is a PNG's name, which writing
    // refuses as a directory's.
    std::string base(path);
    base.erase(base.find_last_not_of('/') + 1);
    base.erase(0, base.rfind('/') + 1);
    const bool pattern = is_pattern(path);
    const zk_format *found = nullptr;
    for (const zk_format &format : kFormats) {
        if ((format.flags & ZK_FORMAT_STDOUT) || !ends_with(base.c_str(), format.extension)) {
            continue;
        }
        if (base.size() == std::strlen(format.extension)) {
            zelkori::fail("\"" + std::string(path) + "\" names no file before its extension",
                          error);
            return nullptr;
        }
        // The row whose names look like this one, else the extension's first.
        if (found == nullptr || (!named_like(*found, pattern) && named_like(format, pattern))) {
            found = &format;
        }
    }
    if (found != nullptr) {
        return found;
    }
    zelkori::fail("unknown format \"" + std::string(path) + "\": the name must end in " +
                      extensions() + ", or be - for standard output",
                  error);
    return nullptr;
}

}  // extern "C"
