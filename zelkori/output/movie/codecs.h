// How movies are coded, as data for the movie module (encoder.cpp): a
// container row (the format row's, formats.cpp) names FFmpeg's muxer and
// the codecs the container holds, its default first; a codec row names
// FFmpeg's encoder and its knobs. Neither holds limits: those are the
// format row's, checked before a movie is opened. Plain data, with no
// FFmpeg type, so that the rows live in the host library beside the table.
#ifndef ZELKORI_MOVIE_CODECS_H
#define ZELKORI_MOVIE_CODECS_H

#include <string>

#include "zelkori/output.h"

// What the encoder is fed.
enum zk_codec_pixels {
    ZK_PIXELS_YUV420,   // BT.709, limited range, from swscale
    ZK_PIXELS_RGBA,     // every pixel opaque
    ZK_PIXELS_BGRA,     // every pixel opaque
    ZK_PIXELS_PALETTE   // one palette for the animation (gif_palette.cpp)
};

struct zk_codec {
    const char *name;      // as users give it: "h264", "hevc", ...
    const char *encoder;   // FFmpeg's encoder
    const char *stream_tag;  // the stream's four-character code; nullptr: the muxer's
    zk_codec_pixels pixels;
    bool even_size;        // an odd width or height is padded by one pixel
    int min_side;          // width and height, pixels, at least
    // A picture with a side under narrow_below pixels has its other side
    // at most narrow_max (0: no such limit).
    int narrow_below = 0, narrow_max = 0;
    // The encoder option the quality sets (nullptr: none, or the palette's
    // colours), and its value at quality 0, at the format's default and at
    // its highest, in straight lines between.
    const char *knob_key;
    double low, middle, high;
    const char *options;  // encoder options, key=value;...
    bool every_core;      // one encoder thread per core
};

struct zk_container {
    const char *muxer;          // FFmpeg's muxer; morvakine-join's too
    const char *muxer_options;  // key=value;...
    const char *timescale_key;  // muxer option set to the stream's ticks a second
    int clock;  // ticks a second that timestamps are rounded to, frame by
                // frame; 0: the frame rate's own
    const zk_codec *const *codecs;  // those it holds, its default first; nullptr ends
};

namespace zelkori {

extern const zk_container kMp4, kWebm, kGifFile, kApngFile, kWebpFile, kAvifFile;

// The codec `name` (nullptr or "": the default) of a movie format; null
// with *error naming what the format holds.
const zk_codec *codec_named(const zk_format &format, const char *name, std::string *error);

}  // namespace zelkori

#endif
