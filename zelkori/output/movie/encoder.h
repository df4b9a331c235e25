// One movie being written: FFmpeg's encoder and muxer over a file of the
// file layer (output_file.h), fed on a thread of its own by a frame
// queue, so that the caller draws the next frames meanwhile. How each
// movie is coded is its container and codec rows' (codecs.h); GIF's two
// passes are in gif_palette.cpp.
#ifndef ZELKORI_MOVIE_ENCODER_H
#define ZELKORI_MOVIE_ENCODER_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "output/frame_queue.h"
#include "output/movie/codecs.h"
#include "output/output_file.h"
#include "zelkori/output.h"

namespace zelkori {

struct Movie {
    const zk_format *row = nullptr;  // the format table's
    const zk_container *muxing = nullptr;  // the row's container
    const zk_codec *codec = nullptr;  // one the container holds
    int width = 0, height = 0;
    std::string tag;  // what the frames show, the caller's words; "" none
    AVRational rate{30, 1};
    AVRational time_base{1, 30};  // of the encoder's timestamps
    zk_output *output = nullptr;
    AVFormatContext *container = nullptr;
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
    SwsContext *scaler = nullptr;
    AVFrame *frame = nullptr, *filtered = nullptr;
    AVPacket *packet = nullptr;
    int64_t first = 0;         // the first frame's number: it is shown at first / fps
    bool alpha = false;        // RGBA frames keep their alpha (formats with ZK_FORMAT_ALPHA)
    int64_t frames_added = 0;  // by the encoder's thread

    // GIF: the first pass gathers the palette from every frame while the
    // frames go, deflated, to an anonymous file; the second maps them onto
    // it. Memory stays at a few frames however long the animation.
    AVFilterGraph *gather = nullptr, *mapping = nullptr;
    AVFilterContext *gather_in = nullptr, *gather_out = nullptr;
    AVFilterContext *map_in = nullptr, *map_palette = nullptr, *map_out = nullptr;
    std::FILE *spill = nullptr;
    std::vector<unsigned char> packed, deflated, level_buffer;

    std::mutex mutex;  // over the failure and the log
    bool failed = false;
    std::string error;
    // The last error FFmpeg logged for this movie, from any thread.
    std::string logged;
    // Frames for the encoder, one thread keeping them in order; swscale's
    // vector code reads a little past the last row.
    FrameQueue frames;

    explicit Movie(const FrameReader &reader);
    // An unfinished movie is abandoned: frames still queued are dropped.
    ~Movie();

    // Opens the file, the encoder and the muxer for `path`.
    bool open(const char *path, int quality);
    // Flushes the encoder (and the palette) and ends the file.
    bool finish();

    // Records the first failure. A code of 0: not FFmpeg's, `what` says
    // it all; otherwise the codecs' own words, logged just before, say
    // more than their codes.
    bool fail(const std::string &what, int code);
    // A write of the file failed: its cause is the whole message.
    bool write_failed(int code);

    bool palette() const { return codec->pixels == ZK_PIXELS_PALETTE; }
    // The encoder's setting for the quality (codecs.h).
    double knob(int quality) const;
    // The timestamp of the movie's k-th frame (counted from `first`):
    // (first + k) / fps seconds, rounded to the time base.
    int64_t pts(int64_t k) const;
    bool encode(AVFrame *picture);
    // Row y of `image` as RGBA (red 0) or BGRA (red 2), every pixel opaque
    // unless the movie keeps alpha.
    void opaque_row(const PixelRows &image, int y, int red, unsigned char *out) const;

    // GIF's passes (gif_palette.cpp).
    bool open_gather(int quality);
    bool gather_frame(const PixelRows &image);
    bool map_frames();

  private:
    bool open_encoder(int quality);
    bool write_packets();
    bool add(const PixelRows &image);
    void pad_luma();
    void last_delay();
    bool put_packed();
    bool open_mapping(const AVFrame *colours);
    bool drain_mapping();
    int frame_source(AVFilterGraph *graph, AVFilterContext **source, const char *name, int width,
                     int height, int pixels);
};

// Sends FFmpeg's log to the movies' own, once.
void ensure_log();

// While one lives, what FFmpeg logs on this thread outside the movie's
// encoder and muxer (which name it themselves) is the movie's.
class LogScope {
  public:
    explicit LogScope(Movie *movie);
    ~LogScope();
    LogScope(const LogScope &) = delete;
    LogScope &operator=(const LogScope &) = delete;

  private:
    Movie *was_;
};

}  // namespace zelkori

#endif
