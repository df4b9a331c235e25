// The formats the host library writes, in one table: a new format is a row
// here and a writer (writers.h). Limits and defaults are read from here by
// every caller, the Tcl face and the applications included.
#include <strings.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "output/errors.h"
#include "zelkori_host.h"

namespace {

const int kMaxSide = 16384;  // the offscreen framebuffer's limit
const long long kNoPixelLimit = 1LL * kMaxSide * kMaxSide;
const long long kSequenceFrames = 1000000000;
// Movies. Rates: at most 1000 frames a second (WebM counts milliseconds);
// at least one in 5000 s, which keeps MP4's 32-bit composition offsets in
// range. GIF counts hundredths of a second in 16 bits, and browsers show
// any delay under 0.02 s as 0.1 s; they do the same with animated PNG at
// 0.01 s. Limits are short decimals, so that the numbers in a refusal are
// accepted as typed. Sizes: H.264 and VP9 at their highest levels, which
// browsers play (H.264 allows 16880 a side, more than the framebuffer);
// pixels in all for a few GB at most.
const double kSlowest = 0.0002;
const long long kMovieFrames = 1000000;
const long long kLevelPixels = 35651584;  // H.264 level 6.2, VP9 level 6.2
const long long kImagePixels = 100000000;
const int kQuality = 100;
const int kDefaultQuality = 50;
const double kFps = 30.0;
const double kAnyRate = HUGE_VAL;

const zk_format kFormats[] = {
    {"png", ".png", ZK_KIND_STILL, "one PNG image", kMaxSide, kNoPixelLimit, 0, kAnyRate, 1,
     0, kQuality, kDefaultQuality, kFps},
    {"png-sequence", ".png", ZK_KIND_SEQUENCE, "one PNG per frame, numbered from --first",
     kMaxSide, kNoPixelLimit, 0, kAnyRate, kSequenceFrames, 0, kQuality, kDefaultQuality, kFps},
    {"stdout", "-", ZK_KIND_SEQUENCE, "PNG data on standard output, one image a frame",
     kMaxSide, kNoPixelLimit, 0, kAnyRate, kSequenceFrames, 0, kQuality, kDefaultQuality, kFps},
    {"mp4", ".mp4", ZK_KIND_MOVIE, "H.264, plays in every browser and player", kMaxSide,
     kLevelPixels, kSlowest, 1000, kMovieFrames, 1, kQuality, kDefaultQuality, kFps},
    {"webm", ".webm", ZK_KIND_MOVIE, "VP9, the open web format", kMaxSide, kLevelPixels,
     kSlowest, 1000, kMovieFrames, 1, kQuality, kDefaultQuality, kFps},
    {"gif", ".gif", ZK_KIND_MOVIE, "GIF with a palette made for the animation, loops",
     kMaxSide, kImagePixels, 0.0016, 50, kMovieFrames, 1, kQuality, kDefaultQuality, kFps},
    {"apng", ".apng", ZK_KIND_MOVIE, "animated PNG, lossless, loops", kMaxSide, kImagePixels,
     kSlowest, 90, kMovieFrames, 0, kQuality, kDefaultQuality, kFps},
    {"glb", ".glb", ZK_KIND_SCENE, "binary glTF scene, all frames as one animation", kMaxSide,
     kNoPixelLimit, 0, 10000, 10000, 0, kQuality, kDefaultQuality, kFps},
    {"gltf", ".gltf", ZK_KIND_SCENE, "glTF scene as JSON, all frames as one animation",
     kMaxSide, kNoPixelLimit, 0, 10000, 10000, 0, kQuality, kDefaultQuality, kFps},
};
const int kFormatCount = sizeof kFormats / sizeof kFormats[0];

const zk_format *by_name(const char *name) {
    for (const zk_format &format : kFormats) {
        if (std::strcmp(format.name, name) == 0) {
            return &format;
        }
    }
    return nullptr;
}

// The extensions, as a list for messages: ".png, .mp4, ... or .gltf".
std::string extensions() {
    std::string seen[kFormatCount];
    int count = 0;
    for (const zk_format &format : kFormats) {
        if (format.extension[0] == '.' && (count == 0 || seen[count - 1] != format.extension)) {
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

}  // namespace

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
        return by_name("stdout");
    }
    // The last name in the path; "x.png/" is a PNG's name, which writing
    // refuses as a directory's.
    std::string base(path);
    base.erase(base.find_last_not_of('/') + 1);
    base.erase(0, base.rfind('/') + 1);
    for (const zk_format &format : kFormats) {
        if (format.extension[0] != '.' || !ends_with(base.c_str(), format.extension)) {
            continue;
        }
        if (base.size() == std::strlen(format.extension)) {
            zelkori::fail("\"" + std::string(path) + "\" names no file before its extension",
                          error);
            return nullptr;
        }
        if (format.kind == ZK_KIND_STILL || format.kind == ZK_KIND_SEQUENCE) {
            // A pattern holds a % other than %%.
            std::string bare(path);
            for (size_t at = bare.find("%%"); at != std::string::npos; at = bare.find("%%")) {
                bare.erase(at, 2);
            }
            return by_name(bare.find('%') != std::string::npos ? "png-sequence" : "png");
        }
        return &format;
    }
    zelkori::fail("unknown format \"" + std::string(path) + "\": the name must end in " +
                      extensions() + ", or be - for standard output",
                  error);
    return nullptr;
}

}  // extern "C"
