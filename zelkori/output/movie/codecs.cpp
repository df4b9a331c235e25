// The codec and container rows. H.264, HEVC, VP9 and AV1 take
// constant-quality factors (lower is better; H.264 stops at 1, since 0 is
// lossless, which only the High 4:4:4 profile can carry and browsers do not
// play); WebP its own 0-100 quality; GIF the palette's colours; APNG is
// lossless and ignores the quality. APNG frames carry alpha, opaque
// unless the movie is transparent: without it FFmpeg's encoder takes black
// for the background when it disposes a frame, which browsers show as
// transparent.
#include "output/movie/codecs.h"

#include <strings.h>

#include <cstring>

namespace zelkori {
namespace {

const zk_codec kH264 = {
    .name = "h264",
    .encoder = "libx264",
    .stream_tag = nullptr,
    .pixels = ZK_PIXELS_YUV420,
    .even_size = true, .min_side = 1,
    .knob_key = "crf", .low = 51, .middle = 23, .high = 1,
    // The fastest preset that keeps macroblock-tree rate control, which
    // sizes the mostly still background well.
    .options = "preset=superfast;x264-params=mbtree=1:rc-lookahead=10",
    .every_core = false};

// Tagged hvc1 (parameter sets in the sample description), the tag the
// players that play HEVC in MP4 ask for. x265 takes no picture under 16
// pixels a side, and keeps its own log quiet: the library prints nothing.
// A side under 32 pixels makes x265 code it in 16-pixel blocks, which the
// levels above 4.1 forbid; the other side then stays within 4.1's width.
// No B-frames: with them x265 gives some packets of a short movie fed
// slowly a decode time of no meaning, and the muxer refuses them.
const zk_codec kHevc = {
    .name = "hevc",
    .encoder = "libx265",
    .stream_tag = "hvc1",
    .pixels = ZK_PIXELS_YUV420,
    .even_size = true, .min_side = 16, .narrow_below = 32, .narrow_max = 4222,
    .knob_key = "crf", .low = 51, .middle = 28, .high = 1,
    .options = "preset=superfast;x265-params=log-level=none:bframes=0",
    .every_core = false};

// Realtime VP9 writes the same bytes without the 25 frames it would
// otherwise hold ahead.
const zk_codec kVp9 = {
    .name = "vp9",
    .encoder = "libvpx-vp9",
    .stream_tag = nullptr,
    .pixels = ZK_PIXELS_YUV420,
    .even_size = false, .min_side = 1,
    .knob_key = "crf", .low = 63, .middle = 36, .high = 0,
    .options = "b=0;deadline=realtime;cpu-used=8;row-mt=1;lag-in-frames=0",
    .every_core = true};

// libaom's realtime mode at its fastest.
const zk_codec kAv1 = {
    .name = "av1",
    .encoder = "libaom-av1",
    .stream_tag = nullptr,
    .pixels = ZK_PIXELS_YUV420,
    .even_size = false, .min_side = 1,
    .knob_key = "crf", .low = 63, .middle = 32, .high = 0,
    .options = "b=0;usage=realtime;cpu-used=8;row-mt=1;lag-in-frames=0",
    .every_core = true};

const zk_codec kGif = {
    .name = "gif", .encoder = "gif", .stream_tag = nullptr, .pixels = ZK_PIXELS_PALETTE,
    .even_size = false, .min_side = 1, .knob_key = nullptr, .low = 4, .middle = 256, .high = 256,
    .options = "", .every_core = false};

const zk_codec kApng = {
    .name = "apng", .encoder = "apng", .stream_tag = nullptr, .pixels = ZK_PIXELS_RGBA,
    .even_size = false, .min_side = 1, .knob_key = nullptr, .low = 0, .middle = 0, .high = 0,
    .options = "pred=paeth", .every_core = false};

// libwebp turns the BGRA into its own YUV.
const zk_codec kWebp = {
    .name = "webp", .encoder = "libwebp_anim", .stream_tag = nullptr, .pixels = ZK_PIXELS_BGRA,
    .even_size = false, .min_side = 1, .knob_key = "quality", .low = 5, .middle = 75, .high = 100,
    .options = "", .every_core = false};

const zk_codec *const kMp4Codecs[] = {&kH264, &kHevc, &kAv1, nullptr};
const zk_codec *const kWebmCodecs[] = {&kVp9, &kAv1, nullptr};
const zk_codec *const kGifCodecs[] = {&kGif, nullptr};
const zk_codec *const kApngCodecs[] = {&kApng, nullptr};
const zk_codec *const kWebpCodecs[] = {&kWebp, nullptr};
const zk_codec *const kAvifCodecs[] = {&kAv1, nullptr};

}  // namespace

// MP4 edits in the stream's own ticks, so that a movie starting at a later
// frame says exactly when (the default counts milliseconds).
const zk_container kMp4 = {.muxer = "mp4",
                           .muxer_options = "movflags=+faststart+use_metadata_tags",
                           .timescale_key = "movie_timescale",
                           .clock = 0,
                           .codecs = kMp4Codecs};
const zk_container kWebm = {
    .muxer = "webm", .muxer_options = "", .timescale_key = nullptr, .clock = 0,
    .codecs = kWebmCodecs};
// GIF counts hundredths of a second, WebP milliseconds.
const zk_container kGifFile = {
    .muxer = "gif", .muxer_options = "", .timescale_key = nullptr, .clock = 100,
    .codecs = kGifCodecs};
const zk_container kApngFile = {
    .muxer = "apng", .muxer_options = "plays=0", .timescale_key = nullptr, .clock = 0,
    .codecs = kApngCodecs};
const zk_container kWebpFile = {
    .muxer = "webp", .muxer_options = "loop=0", .timescale_key = nullptr, .clock = 1000,
    .codecs = kWebpCodecs};
const zk_container kAvifFile = {
    .muxer = "avif", .muxer_options = "", .timescale_key = nullptr, .clock = 0,
    .codecs = kAvifCodecs};

const zk_codec *codec_named(const zk_format &format, const char *name, std::string *error) {
    const zk_codec *const *codecs = format.container->codecs;
    if (name == nullptr || *name == '\0') {
        return codecs[0];
    }
    std::string held;
    for (int i = 0; codecs[i] != nullptr; ++i) {
        if (strcasecmp(codecs[i]->name, name) == 0) {
            return codecs[i];
        }
        held += (i == 0 ? "" : codecs[i + 1] != nullptr ? ", " : " or ") + std::string(codecs[i]->name);
    }
    *error = std::string("a ") + format.extension + " file holds " + held + ", not " + name;
    return nullptr;
}

}  // namespace zelkori

extern "C" const char *zk_format_codec(const zk_format *format, int index) {
    if (format == nullptr || format->container == nullptr || index < 0) {
        return nullptr;
    }
    const zk_codec *const *codecs = format->container->codecs;
    for (int i = 0; codecs[i] != nullptr; ++i) {
        if (i == index) {
            return codecs[i]->name;
        }
    }
    return nullptr;
}

extern "C" int zk_format_muxer(const zk_format *format, const char **muxer, const char **options,
                               const char **timescale_key) {
    if (format == nullptr || format->container == nullptr) {
        return 0;
    }
    *muxer = format->container->muxer;
    *options = format->container->muxer_options;
    *timescale_key = format->container->timescale_key;
    return 1;
}
