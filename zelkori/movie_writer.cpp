// Movies: MP4 (H.264), WebM (VP9), GIF and animated PNG, encoded with
// FFmpeg's libraries on a background thread while the caller draws the
// next frames. The file goes through output_file.h, so it appears whole or
// not at all. Built as a module of its own (movie_module.h), so that only
// a process that writes a movie loads FFmpeg.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "frame_queue.h"
#include "movie_module.h"
#include "output_file.h"

namespace zelkori {
namespace {

// How a format is written. Quality 0, 50 (the default) and 100 map to
// `knob` values low, middle and high, in straight lines between.
struct Format {
    const char *name;  // the format table's (formats.cpp)
    const char *muxer;
    const char *codec;
    AVPixelFormat pixels;  // what the encoder is fed
    double low, middle, high;
};

// H.264 and VP9: constant-quality factors (lower is better; H.264 stops at
// 1, since 0 is lossless, which only the High 4:4:4 profile can carry and
// browsers do not play); GIF: palette colours; APNG is lossless and
// ignores the quality.
const Format kFormats[] = {
    {"mp4", "mp4", "libx264", AV_PIX_FMT_YUV420P, 51, 23, 1},
    {"webm", "webm", "libvpx-vp9", AV_PIX_FMT_YUV420P, 63, 36, 0},
    {"gif", "gif", "gif", AV_PIX_FMT_PAL8, 4, 256, 256},
    {"apng", "apng", "apng", AV_PIX_FMT_RGB24, 0, 0, 0},
};

const unsigned kQueued = 4;
const char kWriting[] = "cannot write";  // frames read back and waiting for the encoder

double knob(const Format &format, int quality) {
    const double q = std::min(100, std::max(0, quality));
    return q <= 50 ? format.low + (format.middle - format.low) * q / 50
                   : format.middle + (format.high - format.middle) * (q - 50) / 50;
}

std::string ffmpeg_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

// FFmpeg's log is process-wide; the library prints nothing, but keeps the
// last error it logged so that a failure carries FFmpeg's own words.
struct CodecLog {
    std::mutex mutex;
    std::string last;
};

// Made on first use and kept: FFmpeg's threads may log until the end.
CodecLog &codec_log() {
    static CodecLog *log = new CodecLog;
    return *log;
}

struct Movie {
    const Format *format = nullptr;
    int width = 0, height = 0;
    AVRational rate{30, 1};
    zk_output *output = nullptr;
    AVFormatContext *container = nullptr;
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
    SwsContext *scaler = nullptr;
    AVFilterGraph *graph = nullptr;
    AVFilterContext *source = nullptr, *sink = nullptr;
    AVFrame *frame = nullptr, *filtered = nullptr;
    AVPacket *packet = nullptr;
    int64_t next_pts = 0;

    std::mutex mutex;  // over the failure
    bool failed = false;
    std::string error;
    // Frames for the encoder, one thread keeping them in order; swscale's
    // vector code reads a little past the last row.
    FrameQueue frames;

    explicit Movie(const FrameReader &reader)
        : frames(reader, 1, kQueued, AV_INPUT_BUFFER_PADDING_SIZE,
                 [this](const QueuedFrame &frame, std::string *) { return add(frame.rows()); }) {}

    // An unfinished movie is abandoned: frames still queued are dropped.
    ~Movie() {
        frames.drop();
        frames.finish();
        av_packet_free(&packet);
        av_frame_free(&frame);
        av_frame_free(&filtered);
        avfilter_graph_free(&graph);
        sws_freeContext(scaler);
        avcodec_free_context(&encoder);
        if (container != nullptr) {
            avio_closep(&container->pb);
            avformat_free_context(container);
        }
        zk_output_abort(output);  // nothing when committed
    }

    // Records the first failure. A code of 0: not FFmpeg's, `what` says
    // it all. Writes carry errno's text; the codecs' own words, logged just
    // before, say more than their codes.
    bool fail(const std::string &what, int code) {
        std::string detail;
        if (code < 0 && what != kWriting) {
            CodecLog &log = codec_log();
            std::lock_guard<std::mutex> lock(log.mutex);
            detail.swap(log.last);
        }
        if (detail.empty() && code < 0) {
            detail = ffmpeg_error(code);
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!failed) {
            failed = true;
            error = what == kWriting ? detail : detail.empty() ? what : what + ": " + detail;
        }
        return false;
    }

    bool write_packets() {
        for (;;) {
            int code = avcodec_receive_packet(encoder, packet);
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) {
                return true;
            }
            if (code < 0) {
                return fail("the encoder failed", code);
            }
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            code = av_interleaved_write_frame(container, packet);
            if (code < 0) {
                return fail(kWriting, code);
            }
        }
    }

    bool encode(AVFrame *picture) {
        const int code = avcodec_send_frame(encoder, picture);
        return code < 0 ? fail("the encoder failed", code) : write_packets();
    }

    // Frames the palette filters have let through go to the encoder.
    bool drain_filters() {
        for (;;) {
            const int code = av_buffersink_get_frame(sink, filtered);
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) {
                return true;
            }
            if (code < 0) {
                return fail("the palette filters failed", code);
            }
            const bool encoded = encode(filtered);
            av_frame_unref(filtered);
            if (!encoded) {
                return false;
            }
        }
    }

    // One frame into the stream.
    bool add(const PixelRows &image) {
        int code = av_frame_make_writable(frame);
        if (code < 0) {
            return fail("the encoder failed", code);
        }
        frame->pts = next_pts++;
        if (format->pixels == AV_PIX_FMT_YUV420P) {
            const uint8_t *top = image.top;
            const int stride = static_cast<int>(image.stride);
            sws_scale(scaler, &top, &stride, 0, height, frame->data, frame->linesize);
            pad_luma();
            return encode(frame);
        }
        for (int y = 0; y < height; ++y) {
            copy_rgb_row(image, y, frame->data[0] + static_cast<ptrdiff_t>(frame->linesize[0]) * y);
        }
        if (graph == nullptr) {
            return encode(frame);
        }
        code = av_buffersrc_add_frame_flags(source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
        return code < 0 ? fail("the palette filters failed", code) : drain_filters();
    }

    // H.264's 4:2:0 needs an even size: an odd last column or row repeats
    // its neighbour (the chroma planes already cover it).
    void pad_luma() {
        uint8_t *y = frame->data[0];
        const int pitch = frame->linesize[0];
        if (frame->width > width) {
            for (int row = 0; row < height; ++row) {
                y[row * pitch + width] = y[row * pitch + width - 1];
            }
        }
        if (frame->height > height) {
            std::memcpy(y + height * pitch, y + (height - 1) * pitch, frame->width);
        }
    }

    // Flushes the encoder (and the palette filters) and ends the file.
    bool finish() {
        if (graph != nullptr) {
            const int code = av_buffersrc_add_frame_flags(source, nullptr, 0);
            if (code < 0) {
                return fail("the palette filters failed", code);
            }
            if (!drain_filters()) {
                return false;
            }
        }
        if (!encode(nullptr)) {
            return false;
        }
        int code = av_write_trailer(container);
        if (code < 0) {
            return fail(kWriting, code);
        }
        code = avio_closep(&container->pb);
        if (code < 0) {
            return fail(kWriting, code);
        }
        return true;
    }
};

namespace {

void capture_log(void *, int level, const char *format, va_list arguments) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512] = "";
    int prefix = 0;  // FFmpeg's component tag is not for users
    av_log_format_line2(nullptr, level, format, arguments, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return;
    }
    CodecLog &log = codec_log();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.last = text;
}

int set(void *object, const char *key, const char *value) {
    return av_opt_set(object, key, value, AV_OPT_SEARCH_CHILDREN);
}

// The encoder, its options and the colour tags of the stream.
bool open_encoder(Movie &movie, int quality) {
    const Format &format = *movie.format;
    const AVCodec *codec = avcodec_find_encoder_by_name(format.codec);
    if (codec == nullptr) {
        return movie.fail(std::string("no ") + format.codec + " encoder in this FFmpeg", 0);
    }
    AVCodecContext *encoder = movie.encoder = avcodec_alloc_context3(codec);
    movie.stream = avformat_new_stream(movie.container, nullptr);
    if (encoder == nullptr || movie.stream == nullptr) {
        return movie.fail("not enough memory", 0);
    }
    const bool yuv = format.pixels == AV_PIX_FMT_YUV420P;
    const bool h264 = std::strcmp(format.codec, "libx264") == 0;
    // Only H.264 needs an even size; VP9 codes odd sizes as they are.
    encoder->width = h264 ? (movie.width + 1) & ~1 : movie.width;
    encoder->height = h264 ? (movie.height + 1) & ~1 : movie.height;
    encoder->pix_fmt = format.pixels;
    encoder->time_base = av_inv_q(movie.rate);
    encoder->framerate = movie.rate;
    encoder->sample_aspect_ratio = AVRational{1, 1};
    if (movie.container->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (yuv) {
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_range = AVCOL_RANGE_MPEG;
    }
    const std::string factor = std::to_string(static_cast<int>(std::lround(knob(format, quality))));
    if (h264) {
        // The fastest preset that keeps macroblock-tree rate control, which
        // sizes the mostly still background well.
        set(encoder, "preset", "superfast");
        set(encoder, "x264-params", "mbtree=1:rc-lookahead=10");
        set(encoder, "crf", factor.c_str());
    } else if (yuv) {
        encoder->bit_rate = 0;  // constant quality
        set(encoder, "crf", factor.c_str());
        set(encoder, "deadline", "realtime");
        set(encoder, "cpu-used", "8");
        set(encoder, "row-mt", "1");
        encoder->thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    } else if (format.pixels == AV_PIX_FMT_RGB24) {
        set(encoder, "pred", "paeth");
    }
    int code = avcodec_open2(encoder, codec, nullptr);
    if (code < 0) {
        return movie.fail(std::string("cannot start the ") + format.codec + " encoder", code);
    }
    code = avcodec_parameters_from_context(movie.stream->codecpar, encoder);
    if (code < 0) {
        return movie.fail("not enough memory", 0);
    }
    movie.stream->time_base = encoder->time_base;
    movie.stream->avg_frame_rate = movie.rate;
    return true;
}

// GIF: one palette made from every frame of the animation, then each frame
// mapped onto it.
bool open_palette(Movie &movie, int quality) {
    char arguments[128];
    std::snprintf(arguments, sizeof arguments,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
                  movie.width, movie.height, AV_PIX_FMT_RGB24, movie.rate.den, movie.rate.num);
    AVFilterGraph *graph = movie.graph = avfilter_graph_alloc();
    if (graph == nullptr) {
        return movie.fail("not enough memory", 0);
    }
    int code = avfilter_graph_create_filter(&movie.source, avfilter_get_by_name("buffer"), "in",
                                            arguments, nullptr, graph);
    if (code >= 0) {
        code = avfilter_graph_create_filter(&movie.sink, avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, graph);
    }
    if (code < 0) {
        return movie.fail("the palette filters failed", code);
    }
    char description[160];
    std::snprintf(description, sizeof description,
                  "split[a][b];[a]palettegen=max_colors=%d:stats_mode=full[p];[b][p]paletteuse",
                  static_cast<int>(std::lround(knob(*movie.format, quality))));
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    if (outputs == nullptr || inputs == nullptr) {
        avfilter_inout_free(&outputs);
        avfilter_inout_free(&inputs);
        return movie.fail("not enough memory", 0);
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = movie.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = movie.sink;
    code = avfilter_graph_parse_ptr(graph, description, &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (code >= 0) {
        code = avfilter_graph_config(graph, nullptr);
    }
    return code < 0 ? movie.fail("the palette filters failed", code) : true;
}

bool open_movie(Movie &movie, const char *path, int quality) {
    const char *error = "";
    movie.output = zk_output_open(path, &error);
    if (movie.output == nullptr) {
        return movie.fail(error, 0);
    }
    // By name: the MP4 muxer reopens the file to move its index to the front.
    const std::string url = std::string("file:") + zk_output_temporary(movie.output);
    int code = avformat_alloc_output_context2(&movie.container, nullptr, movie.format->muxer,
                                              url.c_str());
    if (code < 0) {
        return movie.fail("cannot start the file", code);
    }
    if (!open_encoder(movie, quality) ||
        (movie.format->pixels == AV_PIX_FMT_PAL8 && !open_palette(movie, quality))) {
        return false;
    }
    movie.frame = av_frame_alloc();
    movie.filtered = av_frame_alloc();
    movie.packet = av_packet_alloc();
    if (movie.frame == nullptr || movie.filtered == nullptr || movie.packet == nullptr) {
        return movie.fail("not enough memory", 0);
    }
    AVFrame *frame = movie.frame;
    const bool yuv = movie.format->pixels == AV_PIX_FMT_YUV420P;
    frame->format = yuv ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_RGB24;
    frame->width = movie.encoder->width;
    frame->height = movie.encoder->height;
    frame->color_primaries = movie.encoder->color_primaries;
    frame->color_trc = movie.encoder->color_trc;
    frame->colorspace = movie.encoder->colorspace;
    frame->color_range = movie.encoder->color_range;
    code = av_frame_get_buffer(frame, 0);
    if (code < 0) {
        return movie.fail("not enough memory", 0);
    }
    if (yuv) {
        // Limited-range BT.709 from full-range RGB, as the stream is tagged.
        // Chroma from every pixel, then filtered: also swscale's faster path.
        const int flags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP;
        movie.scaler = sws_getContext(movie.width, movie.height, AV_PIX_FMT_RGB0, movie.width,
                                      movie.height, AV_PIX_FMT_YUV420P, flags, nullptr, nullptr,
                                      nullptr);
        if (movie.scaler == nullptr) {
            return movie.fail("cannot convert colours", 0);
        }
        const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(movie.scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    code = avio_open(&movie.container->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) {
        return movie.fail(kWriting, code);
    }
    AVDictionary *options = nullptr;
    if (std::strcmp(movie.format->muxer, "mp4") == 0) {
        av_dict_set(&options, "movflags", "+faststart", 0);
        // Edits in whole frames, so that a movie starting at a later frame
        // says exactly when (the default counts milliseconds).
        av_dict_set_int(&options, "movie_timescale", movie.rate.num, 0);
    } else if (std::strcmp(movie.format->muxer, "apng") == 0) {
        av_dict_set(&options, "plays", "0", 0);  // loop, as GIF does
    }
    code = avformat_write_header(movie.container, &options);
    av_dict_free(&options);
    if (code < 0) {
        return movie.fail(kWriting, code);
    }
    return true;
}

void ensure_log() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(capture_log); });
    std::lock_guard<std::mutex> lock(codec_log().mutex);
    codec_log().last.clear();
}

const Format *codec_format(const char *name) {
    for (const Format &format : kFormats) {
        if (std::strcmp(format.name, name) == 0) {
            return &format;
        }
    }
    return nullptr;
}

// The writer interface over a movie. Every frame must have the movie's
// size: a frame of another size would leave pixels of an earlier one.
class MovieWriter : public Writer {
  public:
    MovieWriter(std::unique_ptr<Movie> movie, const FrameReader &reader)
        : movie_(std::move(movie)), reader_(reader) {}

    bool add(Failure *failure) override {
        Movie &movie = *movie_;
        int width = 0, height = 0;
        if (!reader_.size(&width, &height)) {
            failure->cause = "no frame to record: no OpenGL context is current";
            return false;
        }
        if (width != movie.width || height != movie.height) {
            failure->cause = "the frame is " + std::to_string(width) + "x" + std::to_string(height) +
                             " but the movie is " + std::to_string(movie.width) + "x" +
                             std::to_string(movie.height);
            return false;
        }
        const int queued = movie.frames.push(movie.width, movie.height, "", 0);
        if (queued < 0) {
            failure->cause = "cannot read the frame back from OpenGL";
            return false;
        }
        if (queued == 0) {
            std::lock_guard<std::mutex> lock(movie.mutex);
            failure->cause = movie.error;
            return false;
        }
        return true;
    }

    bool close(Failure *failure) override {
        Movie &movie = *movie_;
        movie.frames.finish();
        bool written = !movie.failed && movie.finish();
        if (written) {
            const char *reason = "";
            written = zk_output_commit(movie.output, &reason) != 0;
            movie.output = nullptr;
            if (!written) {
                movie.fail(reason, 0);
            }
        }
        failure->cause = movie.error;
        movie_.reset();
        return written;
    }

  private:
    std::unique_ptr<Movie> movie_;  // deleting it removes an unfinished file
    const FrameReader &reader_;
};

// The module's entry (movie_module.h), inside this file's namespace.
Writer *start(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    try {
        const Format *format = codec_format(request.format->name);
        if (format == nullptr) {
            failure->cause = std::string("no movie format ") + request.format->name;
            return nullptr;
        }
        ensure_log();
        std::unique_ptr<Movie> movie(new Movie(reader));
        movie->format = format;
        movie->width = request.width;
        movie->height = request.height;
        movie->rate = av_d2q(request.fps, 100000);
        movie->next_pts = request.first;  // frame k at k / fps, whatever the slice
        if (!open_movie(*movie, request.path.c_str(), request.quality)) {
            failure->cause = movie->error;
            return nullptr;
        }
        return new MovieWriter(std::move(movie), reader);
    } catch (const std::exception &) {  // no memory or no thread
        failure->cause = "not enough memory";
        return nullptr;
    }
}

}  // namespace
}  // namespace zelkori

extern "C" __attribute__((visibility("default"))) zelkori::Writer *zelkori_open_movie(
    const zelkori::OpenRequest *request, const zelkori::FrameReader *reader,
    zelkori::Failure *failure) {
    return zelkori::start(*request, *reader, failure);
}
