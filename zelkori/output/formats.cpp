// The formats the host library writes, in one table: a new format is a row
// here naming its writer (writers.h) and, for a movie, its container row,
// which names the codecs it holds (movie/codecs.cpp). Limits and defaults
// are read from here by every caller, the Tcl face and the applications
// included.
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/errors.h"
#include "output/movie/codecs.h"
#include "output/writers.h"
#include "zelkori/core.h"
#include "zelkori/output.h"

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
const int kJpegQuality = 90;  // libjpeg's own scale; 50 shows its blocks
const double kFps = 30.0;
const double kAnyRate = HUGE_VAL;

// The writers the rows name; a still's and a sequence's with the encoder
// that writes each image.
const zk_format_writer kPngStill = {.open = open_still, .image = write_png_image};
const zk_format_writer kPngSequence = {.open = open_sequence, .image = write_png_image};
const zk_format_writer kJpegStill = {.open = open_still, .image = write_jpeg_image};
const zk_format_writer kJpegSequence = {.open = open_sequence, .image = write_jpeg_image};
const zk_format_writer kStream = {.open = open_stream, .image = nullptr};
const zk_format_writer kMovie = {.open = open_movie, .image = nullptr};
const zk_format_writer kScene = {.open = open_scene, .image = nullptr};
const zk_format_writer kPage = {.open = open_page, .image = nullptr};

// PNG's levels: zlib's 6 when none is given, the fast path for frames
// written as they are drawn. Other formats take none.
#define kPngLevels .takes_level = 1, .default_level = kDefaultPngLevel, .drawn_level = ZK_PNG_FAST
#define kNoLevel .takes_level = 0, .default_level = ZK_PNG_LEVEL_UNSET, .drawn_level = ZK_PNG_LEVEL_UNSET

const int kPattern = ZK_FORMAT_PATTERN, kStdout = ZK_FORMAT_STDOUT, kJoinable = ZK_FORMAT_JOINABLE,
          kText = ZK_FORMAT_TEXT, kAlpha = ZK_FORMAT_ALPHA;

const zk_format kFormats[] = {
    {.name = "png", .extension = ".png", .alias = nullptr, .kind = ZK_KIND_STILL, .flags = kAlpha,
     .summary = "one PNG image",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = 1, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kPngLevels, .default_fps = kFps,
     .writer = &kPngStill, .container = nullptr},
    {.name = "png-sequence", .extension = ".png", .alias = nullptr, .kind = ZK_KIND_SEQUENCE, .flags = kPattern | kAlpha,
     .summary = "one PNG per frame, numbered from --first",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = kSequenceFrames, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kPngLevels, .default_fps = kFps,
     .writer = &kPngSequence, .container = nullptr},
    {.name = "jpeg", .extension = ".jpg", .alias = ".jpeg", .kind = ZK_KIND_STILL, .flags = 0,
     .summary = "one JPEG image",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = 1, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kJpegQuality, kNoLevel, .default_fps = kFps,
     .writer = &kJpegStill, .container = nullptr},
    {.name = "jpeg-sequence", .extension = ".jpg", .alias = ".jpeg", .kind = ZK_KIND_SEQUENCE, .flags = kPattern,
     .summary = "one JPEG per frame, numbered from --first",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = kSequenceFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kJpegQuality, kNoLevel, .default_fps = kFps,
     .writer = &kJpegSequence, .container = nullptr},
    {.name = "stdout", .extension = "-", .alias = nullptr, .kind = ZK_KIND_SEQUENCE, .flags = kStdout | kAlpha,
     .summary = "PNG data on standard output, one image a frame",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = kSequenceFrames, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kPngLevels, .default_fps = kFps,
     .writer = &kStream, .container = nullptr},
    {.name = "mp4", .extension = ".mp4", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = kJoinable,
     .summary = "MP4 movie, plays in every browser and player",
     .max_side = kMaxSide, .max_pixels = kLevelPixels, .min_fps = kSlowest, .max_fps = 1000,
     .max_frames = kMovieFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kMp4},
    {.name = "webm", .extension = ".webm", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = kJoinable,
     .summary = "WebM movie, the open web format",
     .max_side = kMaxSide, .max_pixels = kLevelPixels, .min_fps = kSlowest, .max_fps = 1000,
     .max_frames = kMovieFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kWebm},
    {.name = "gif", .extension = ".gif", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = 0,
     .summary = "GIF with a palette made for the animation, loops",
     .max_side = kMaxSide, .max_pixels = kImagePixels, .min_fps = 0.0016, .max_fps = 50,
     .max_frames = kMovieFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kGifFile},
    {.name = "apng", .extension = ".apng", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = kAlpha,
     .summary = "animated PNG, lossless, loops",
     .max_side = kMaxSide, .max_pixels = kImagePixels, .min_fps = kSlowest, .max_fps = 90,
     .max_frames = kMovieFrames, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kApngFile},
    {.name = "webp", .extension = ".webp", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = 0,
     .summary = "animated WebP, loops",
     .max_side = kWebpSide, .max_pixels = kImagePixels, .min_fps = kSlowest, .max_fps = 90,
     .max_frames = kMovieFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kWebpFile},
    {.name = "avif", .extension = ".avif", .alias = nullptr, .kind = ZK_KIND_MOVIE, .flags = 0,
     .summary = "AV1 image sequence (AVIF), loops",
     .max_side = kMaxSide, .max_pixels = kLevelPixels, .min_fps = kSlowest, .max_fps = 1000,
     .max_frames = kMovieFrames, .takes_quality = 1, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kMovie, .container = &kAvifFile},
    {.name = "glb", .extension = ".glb", .alias = nullptr, .kind = ZK_KIND_SCENE, .flags = 0,
     .summary = "binary glTF scene, all frames as one animation",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = kSlowest, .max_fps = 10000,
     .max_frames = 10000, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kScene, .container = nullptr},
    {.name = "gltf", .extension = ".gltf", .alias = nullptr, .kind = ZK_KIND_SCENE, .flags = kText,
     .summary = "glTF scene as JSON, all frames as one animation",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = kSlowest, .max_fps = 10000,
     .max_frames = 10000, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kScene, .container = nullptr},
    {.name = "html", .extension = ".html", .alias = nullptr, .kind = ZK_KIND_PAGE, .flags = 0,
     .summary = "a web page that draws the figure live, posed by its controls",
     .max_side = kMaxSide, .max_pixels = kNoPixelLimit, .min_fps = 0, .max_fps = kAnyRate,
     .max_frames = 1, .takes_quality = 0, .max_quality = kQuality,
     .default_quality = kDefaultQuality, kNoLevel, .default_fps = kFps,
     .writer = &kPage, .container = nullptr},
};
const int kFormatCount = sizeof kFormats / sizeof kFormats[0];
#undef kPngLevels
#undef kNoLevel

// The extensions, as a list for messages: ".png, .jpg, .jpeg, ... or .gltf".
std::string extensions() {
    std::string seen[2 * kFormatCount];
    int count = 0;
    for (const zk_format &format : kFormats) {
        for (const char *extension : {format.extension, format.alias}) {
            if (extension != nullptr && !(format.flags & ZK_FORMAT_STDOUT) &&
                std::find(seen, seen + count, extension) == seen + count) {
                seen[count++] = extension;
            }
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
        const char *extension = format.alias != nullptr && ends_with(base.c_str(), format.alias)
                                    ? format.alias
                                    : format.extension;
        if ((format.flags & ZK_FORMAT_STDOUT) || !ends_with(base.c_str(), extension)) {
            continue;
        }
        if (base.size() == std::strlen(extension)) {
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
