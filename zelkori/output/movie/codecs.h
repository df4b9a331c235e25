// How each movie format is coded: FFmpeg's encoder and muxer, driven as
// data by the movie module (encoder.cpp). A movie's format row
// (formats.cpp) points at its codec row, which holds no limits: those are
// the format row's, checked before a movie is opened. Plain data, with no
// FFmpeg type, so that the rows live in the host library beside the table.
#ifndef ZELKORI_MOVIE_CODECS_H
#define ZELKORI_MOVIE_CODECS_H

// What the encoder is fed.
enum zk_codec_pixels {
    ZK_PIXELS_YUV420,   // BT.709, limited range, from swscale
    ZK_PIXELS_RGBA,     // every pixel opaque
    ZK_PIXELS_BGRA,     // every pixel opaque
    ZK_PIXELS_PALETTE   // one palette for the animation (gif_palette.cpp)
};

struct zk_codec {
    const char *encoder;   // FFmpeg's encoder
    const char *muxer;     // and muxer; morvakine-join's too
    zk_codec_pixels pixels;
    bool even_size;        // an odd width or height is padded by one pixel
    // The encoder option the quality sets (nullptr: none, or the palette's
    // colours), and its value at quality 0, at the format's default and at
    // its highest, in straight lines between.
    const char *knob_key;
    double low, middle, high;
    const char *options;        // encoder options, key=value;...
    const char *muxer_options;  // the same for the muxer
    const char *timescale_key;  // muxer option set to the stream's ticks a second
    int clock;  // ticks a second that timestamps are rounded to, frame by
                // frame; 0: the frame rate's own
    bool every_core;  // one encoder thread per core
};

namespace zelkori {
extern const zk_codec kH264, kVp9, kGif, kApng, kWebp, kAv1;
}

#endif
