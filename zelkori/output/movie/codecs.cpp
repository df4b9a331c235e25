// The codec rows. H.264, VP9 and AV1 take constant-quality factors (lower
// is better; H.264 stops at 1, since 0 is lossless, which only the High
// 4:4:4 profile can carry and browsers do not play); WebP its own 0-100
// quality; GIF the palette's colours; APNG is lossless and ignores the
// quality. APNG frames carry alpha, opaque unless the movie is transparent:
// without it FFmpeg's encoder takes black for the background when it
// disposes a frame, which browsers show as transparent.
#include "output/movie/codecs.h"

namespace zelkori {

const zk_codec kH264 = {
    "libx264", "mp4", ZK_PIXELS_YUV420, true, "crf", 51, 23, 1,
    // The fastest preset that keeps macroblock-tree rate control, which
    // sizes the mostly still background well.
    "preset=superfast;x264-params=mbtree=1:rc-lookahead=10", "movflags=+faststart+use_metadata_tags",
    // Edits in the stream's own ticks, so that a movie starting at a later
    // frame says exactly when (the default counts milliseconds).
    "movie_timescale", 0, false};

// Realtime VP9 writes the same bytes without the 25 frames it would
// otherwise hold ahead.
const zk_codec kVp9 = {"libvpx-vp9", "webm", ZK_PIXELS_YUV420, false, "crf", 63, 36, 0,
                       "b=0;deadline=realtime;cpu-used=8;row-mt=1;lag-in-frames=0", "",
                       nullptr, 0, true};

const zk_codec kGif = {"gif", "gif", ZK_PIXELS_PALETTE, false, nullptr, 4, 256, 256, "", "",
                       nullptr, 100, false};

const zk_codec kApng = {"apng", "apng", ZK_PIXELS_RGBA, false, nullptr, 0, 0, 0, "pred=paeth",
                        "plays=0", nullptr, 0, false};

// WebP counts milliseconds; libwebp turns the BGRA into its own YUV.
const zk_codec kWebp = {"libwebp_anim", "webp", ZK_PIXELS_BGRA, false, "quality", 5, 75, 100,
                        "", "loop=0", nullptr, 1000, false};

// AV1 in an AVIF image sequence; libaom's realtime mode at its fastest.
const zk_codec kAv1 = {"libaom-av1", "avif", ZK_PIXELS_YUV420, false, "crf", 63, 32, 0,
                       "b=0;usage=realtime;cpu-used=8;row-mt=1;lag-in-frames=0", "", nullptr,
                       0, true};

}  // namespace zelkori
