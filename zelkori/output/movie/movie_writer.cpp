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

#include <fcntl.h>
#include <unistd.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "output/frame_queue.h"
#include "output/movie/movie_module.h"
#include "output/output_file.h"

namespace zelkori {
namespace {

// How a format is written: how FFmpeg is driven (its limits are the
// format table's, checked before a movie is opened). Quality 0, 50 (the default) and 100 map to `knob`
// values low, middle and high, in straight lines between.
struct Format {
    const char *name;       // the format table's (formats.cpp), which holds the limits
    const char *codec;      // FFmpeg's encoder
    bool even_size;         // an odd width or height is padded by one pixel
    const char *muxer;
    AVPixelFormat pixels;   // what the encoder is fed; PAL8 goes through a palette
    const char *knob_key;   // the encoder option the quality sets, if any
    double low, middle, high;
    const char *options;    // encoder options, key=value;...
    const char *muxer_options;
    int clock;              // ticks a second that timestamps are rounded to, frame
                            // by frame; 0: the frame rate's own
    bool every_core;        // one encoder thread per core
};

// H.264 and VP9: constant-quality factors (lower is better; H.264 stops at
// 1, since 0 is lossless, which only the High 4:4:4 profile can carry and
// browsers do not play); GIF: palette colours; APNG is lossless and
// ignores the quality. APNG frames carry alpha, always opaque: without it
// FFmpeg's encoder takes black for the background when it disposes a
// frame, which browsers show as transparent.
const Format kFormats[] = {
    {"mp4", "libx264", true, "mp4", AV_PIX_FMT_YUV420P, "crf", 51, 23, 1,
     // The fastest preset that keeps macroblock-tree rate control, which
     // sizes the mostly still background well.
     "preset=superfast;x264-params=mbtree=1:rc-lookahead=10", "movflags=+faststart+use_metadata_tags", 0,
     false},
    {"webm", "libvpx-vp9", false, "webm", AV_PIX_FMT_YUV420P, "crf", 63, 36, 0,
     // Realtime VP9 writes the same bytes without the 25 frames it would
     // otherwise hold ahead.
     "b=0;deadline=realtime;cpu-used=8;row-mt=1;lag-in-frames=0", "", 0, true},
    {"gif", "gif", false, "gif", AV_PIX_FMT_PAL8, nullptr, 4, 256, 256, "", "", 100, false},
    {"apng", "apng", false, "apng", AV_PIX_FMT_RGBA, nullptr, 0, 0, 0, "pred=paeth", "plays=0", 0,
     false},
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
    AVRational time_base{1, 30};  // of the encoder's timestamps
    zk_output *output = nullptr;
    AVFormatContext *container = nullptr;
    AVCodecContext *encoder = nullptr;
    AVStream *stream = nullptr;
    SwsContext *scaler = nullptr;
    AVFrame *frame = nullptr, *filtered = nullptr;
    AVPacket *packet = nullptr;
    int64_t first = 0;         // the first frame's number: it is shown at first / fps
    int64_t frames_added = 0;  // by the encoder's thread

    // GIF: the first pass gathers the palette from every frame while the
    // frames go, deflated, to an anonymous file; the second maps them onto
    // it. Memory stays at a few frames however long the animation.
    AVFilterGraph *gather = nullptr, *mapping = nullptr;
    AVFilterContext *gather_in = nullptr, *gather_out = nullptr;
    AVFilterContext *map_in = nullptr, *map_palette = nullptr, *map_out = nullptr;
    std::FILE *spill = nullptr;
    std::vector<unsigned char> packed, deflated, level_buffer;

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
        avfilter_graph_free(&gather);
        avfilter_graph_free(&mapping);
        if (spill != nullptr) {
            std::fclose(spill);
        }
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

    bool palette() const { return format->pixels == AV_PIX_FMT_PAL8; }

    // The timestamp of the movie's k-th frame (counted from `first`):
    // (first + k) / fps seconds, rounded to the time base.
    int64_t pts(int64_t k) const {
        return av_rescale_rnd(first + k, int64_t{rate.den} * time_base.den,
                              int64_t{rate.num} * time_base.num, AV_ROUND_NEAR_INF);
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

    // Frames the palette mapping has let through go to the encoder.
    bool drain_mapping() {
        for (;;) {
            const int code = av_buffersink_get_frame(map_out, filtered);
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
        frame->pts = pts(frames_added++);
        if (format->pixels == AV_PIX_FMT_YUV420P) {
            const uint8_t *top = image.top;
            const int stride = static_cast<int>(image.stride);
            sws_scale(scaler, &top, &stride, 0, height, frame->data, frame->linesize);
            pad_luma();
            return encode(frame);
        }
        if (format->pixels == AV_PIX_FMT_RGBA) {
            for (int y = 0; y < height; ++y) {
                opaque_row(image, y, 0, frame->data[0] + static_cast<ptrdiff_t>(frame->linesize[0]) * y);
            }
            return encode(frame);
        }
        return gather_frame(image);
    }

    // Row y of `image` as RGBA (red 0) or BGRA (red 2), every pixel opaque.
    void opaque_row(const PixelRows &image, int y, int red, unsigned char *out) const {
        const unsigned char *in = image.row(y);
        for (int x = 0; x < width; ++x, in += image.pixel_bytes, out += 4) {
            out[0] = in[red];
            out[1] = in[1];
            out[2] = in[2 - red];
            out[3] = 255;
        }
    }

    // GIF, first pass: the palette sees the frame, the spill file keeps it.
    // The filters take BGRA, so that nothing converts it twice.
    bool gather_frame(const PixelRows &image) {
        const size_t row = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            opaque_row(image, y, 2, packed.data() + row * y);
        }
        if (!put_packed()) {
            return false;
        }
        // Pushed through at once: the palette keeps counts, not frames.
        int code = av_buffersrc_add_frame_flags(gather_in, frame,
                                                AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
        if (code < 0) {
            return fail("the palette filters failed", code);
        }
        isal_zstream stream{};  // zeroed: the stateless call reads fields init leaves
        isal_deflate_stateless_init(&stream);
        stream.level = 1;
        stream.level_buf = level_buffer.data();
        stream.level_buf_size = static_cast<uint32_t>(level_buffer.size());
        stream.next_in = packed.data();
        stream.avail_in = static_cast<uint32_t>(packed.size());
        stream.next_out = deflated.data();
        stream.avail_out = static_cast<uint32_t>(deflated.size());
        stream.end_of_stream = 1;
        if (isal_deflate_stateless(&stream) != COMP_OK) {
            return fail("not enough memory", 0);
        }
        const uint64_t length = stream.total_out;
        if (std::fwrite(&length, sizeof length, 1, spill) != 1 ||
            std::fwrite(deflated.data(), 1, length, spill) != length) {
            return fail(std::strerror(errno), 0);  // as any write of the movie
        }
        return true;
    }

    // The packed frame into `frame`, whose rows may be padded.
    bool put_packed() {
        const int code = av_frame_make_writable(frame);
        if (code < 0) {
            return fail("not enough memory", 0);
        }
        const size_t row = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(frame->linesize[0]) * y,
                        packed.data() + row * y, row);
        }
        return true;
    }

    // GIF, second pass: the palette is complete; every kept frame is
    // mapped onto it and encoded.
    bool map_frames() {
        int code = av_buffersrc_add_frame_flags(gather_in, nullptr, 0);
        AVFrame *colours = filtered;
        if (code >= 0) {
            code = av_buffersink_get_frame(gather_out, colours);
        }
        if (code < 0) {
            return fail("the palette filters failed", code);
        }
        const bool opened = open_mapping(colours);
        colours->pts = 0;
        code = opened ? av_buffersrc_add_frame_flags(map_palette, colours, 0) : 0;
        av_frame_unref(colours);
        if (!opened) {
            return false;
        }
        if (code >= 0) {
            code = av_buffersrc_add_frame_flags(map_palette, nullptr, 0);
        }
        if (code < 0) {
            return fail("the palette filters failed", code);
        }
        if (std::fflush(spill) != 0 || std::fseek(spill, 0, SEEK_SET) != 0) {
            return fail(std::string("cannot read the kept frames: ") + std::strerror(errno), 0);
        }
        for (int64_t k = 0; k < frames_added; ++k) {
            uint64_t length = 0;
            inflate_state inflater{};
            isal_inflate_init(&inflater);
            if (std::fread(&length, sizeof length, 1, spill) != 1 || length > deflated.size() ||
                std::fread(deflated.data(), 1, length, spill) != length) {
                return fail("cannot read the kept frames back", 0);
            }
            inflater.next_in = deflated.data();
            inflater.avail_in = static_cast<uint32_t>(length);
            inflater.next_out = packed.data();
            inflater.avail_out = static_cast<uint32_t>(packed.size());
            if (isal_inflate_stateless(&inflater) != ISAL_DECOMP_OK ||
                inflater.total_out != packed.size()) {
                return fail("cannot read the kept frames back", 0);
            }
            if (!put_packed()) {
                return false;
            }
            frame->pts = pts(k);
            code = av_buffersrc_add_frame_flags(map_in, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
            if (code < 0) {
                return fail("the palette filters failed", code);
            }
            if (!drain_mapping()) {
                return false;
            }
        }
        code = av_buffersrc_add_frame_flags(map_in, nullptr, 0);
        return code < 0 ? fail("the palette filters failed", code) : drain_mapping();
    }

    bool open_mapping(const AVFrame *colours);

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

    // The last frame is shown until k / fps of the frame after it; GIF's
    // and APNG's muxers otherwise repeat the delay before it, whatever the
    // rounding. GIF takes the delay in its own ticks, APNG in seconds.
    void last_delay() {
        const AVOption *option = av_opt_find(container->priv_data, "final_delay", nullptr, 0, 0);
        if (option == nullptr || frames_added < 1) {
            return;
        }
        const int64_t delay = pts(frames_added) - pts(frames_added - 1);
        if (option->type == AV_OPT_TYPE_INT) {
            av_opt_set_int(container->priv_data, "final_delay", delay, 0);
        } else {
            AVRational seconds;
            av_reduce(&seconds.num, &seconds.den, delay * time_base.num, time_base.den, 65535);
            av_opt_set_q(container->priv_data, "final_delay", seconds, 0);
        }
    }

    // Flushes the encoder (and the palette) and ends the file.
    bool finish() {
        if (palette() && frames_added > 0 && !map_frames()) {
            return false;
        }
        if (!encode(nullptr)) {
            return false;
        }
        last_delay();
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
    const int even = format.even_size;
    encoder->width = even ? (movie.width + 1) & ~1 : movie.width;
    encoder->height = even ? (movie.height + 1) & ~1 : movie.height;
    encoder->pix_fmt = format.pixels;
    encoder->time_base = movie.time_base;
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
    if (format.every_core) {
        encoder->thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }
    AVDictionary *options = nullptr;
    int code = av_dict_parse_string(&options, format.options, "=", ";", 0);
    if (code >= 0 && format.knob_key != nullptr) {
        code = av_dict_set_int(&options, format.knob_key, std::lround(knob(format, quality)), 0);
    }
    if (code >= 0) {
        code = avcodec_open2(encoder, codec, &options);
    }
    av_dict_free(&options);
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

// A buffer source for frames of `width` x `height` in `pixels`.
int frame_source(Movie &movie, AVFilterGraph *graph, AVFilterContext **source, const char *name,
                 int width, int height, int pixels) {
    char arguments[128];
    std::snprintf(arguments, sizeof arguments,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1", width, height,
                  pixels, movie.time_base.num, movie.time_base.den);
    return avfilter_graph_create_filter(source, avfilter_get_by_name("buffer"), name, arguments,
                                        nullptr, graph);
}

// GIF's first pass: one palette from every frame of the animation, exactly
// as many colours as the quality asks.
bool open_gather(Movie &movie, int quality) {
    AVFilterGraph *graph = movie.gather = avfilter_graph_alloc();
    if (graph == nullptr) {
        return movie.fail("not enough memory", 0);
    }
    char arguments[96];
    std::snprintf(arguments, sizeof arguments,
                  "max_colors=%d:reserve_transparent=0:stats_mode=full",
                  static_cast<int>(std::lround(knob(*movie.format, quality))));
    AVFilterContext *palette = nullptr;
    int code = frame_source(movie, graph, &movie.gather_in, "in", movie.width, movie.height,
                            AV_PIX_FMT_RGB32);
    if (code >= 0) {
        code = avfilter_graph_create_filter(&palette, avfilter_get_by_name("palettegen"), "palette",
                                            arguments, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_graph_create_filter(&movie.gather_out, avfilter_get_by_name("buffersink"),
                                            "out", nullptr, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_link(movie.gather_in, 0, palette, 0);
    }
    if (code >= 0) {
        code = avfilter_link(palette, 0, movie.gather_out, 0);
    }
    if (code >= 0) {
        code = avfilter_graph_config(graph, nullptr);
    }
    if (code < 0) {
        return movie.fail("the palette filters failed", code);
    }
    // Frames wait beside the movie's temporary file, in a file with no name
    // that goes with the process.
    const std::string beside = zk_output_temporary(movie.output);
    const size_t slash = beside.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : beside.substr(0, slash + 1);
    const int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    movie.spill = fd >= 0 ? fdopen(fd, "w+b") : std::tmpfile();
    if (movie.spill == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        return movie.fail(std::string("cannot keep the frames for the palette: ") +
                          std::strerror(errno), 0);
    }
    // Deflate's stored blocks add 5 bytes in 65535 at worst.
    const size_t bytes = static_cast<size_t>(movie.width) * movie.height * 4;
    movie.packed.resize(bytes);
    movie.deflated.resize(bytes + bytes / 8192 + 4096);
    movie.level_buffer.resize(ISAL_DEF_LVL1_DEFAULT);
    return true;
}

}  // namespace

// GIF's second pass: each frame onto the gathered palette.
bool Movie::open_mapping(const AVFrame *colours) {
    AVFilterGraph *graph = mapping = avfilter_graph_alloc();
    if (graph == nullptr) {
        return fail("not enough memory", 0);
    }
    AVFilterContext *use = nullptr;
    int code = frame_source(*this, graph, &map_in, "in", width, height, AV_PIX_FMT_RGB32);
    if (code >= 0) {
        code = frame_source(*this, graph, &map_palette, "palette", colours->width,
                            colours->height, colours->format);
    }
    if (code >= 0) {
        code = avfilter_graph_create_filter(&use, avfilter_get_by_name("paletteuse"), "use",
                                            nullptr, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_graph_create_filter(&map_out, avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_link(map_in, 0, use, 0);
    }
    if (code >= 0) {
        code = avfilter_link(map_palette, 0, use, 1);
    }
    if (code >= 0) {
        code = avfilter_link(use, 0, map_out, 0);
    }
    if (code >= 0) {
        code = avfilter_graph_config(graph, nullptr);
    }
    return code < 0 ? fail("the palette filters failed", code) : true;
}

namespace {

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
    if (!open_encoder(movie, quality) || (movie.palette() && !open_gather(movie, quality))) {
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
    frame->format = movie.palette() ? AV_PIX_FMT_RGB32 : movie.format->pixels;
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
    // What the movie was encoded with, for morvakine-join, which refuses
    // to put together segments that differ in any of it.
    const std::string rendered = std::string(movie.format->name) + " " +
                                 std::to_string(movie.encoder->width) + "x" +
                                 std::to_string(movie.encoder->height) + " " +
                                 std::to_string(movie.rate.num) + "/" +
                                 std::to_string(movie.rate.den) + " fps, quality " +
                                 std::to_string(quality) + ", " + movie.format->codec + " " +
                                 movie.format->options;
    code = av_dict_set(&movie.container->metadata, "rendered-with", rendered.c_str(), 0);
    if (code < 0) {
        return movie.fail("not enough memory", 0);
    }
    AVDictionary *options = nullptr;
    code = av_dict_parse_string(&options, movie.format->muxer_options, "=", ";", 0);
    if (code >= 0 && std::strcmp(movie.format->muxer, "mp4") == 0) {
        // Edits in the stream's own ticks, so that a movie starting at a
        // later frame says exactly when (the default counts milliseconds).
        code = av_dict_set_int(&options, "movie_timescale", movie.time_base.den, 0);
    }
    if (code >= 0) {
        code = avformat_write_header(movie.container, &options);
    }
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
        // The rate as a fraction; timestamps count 1/num (or the format's
        // clock), den of them a frame, so rates under one a second keep
        // whole ticks.
        movie->rate = av_d2q(request.fps, 1000000);
        movie->time_base = {1, format->clock > 0 ? format->clock : movie->rate.num};
        movie->first = request.first;
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
