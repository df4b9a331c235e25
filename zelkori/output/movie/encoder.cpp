// The movie's encoder and muxer, driven by its codec row.
#include "output/movie/encoder.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <thread>

namespace zelkori {
namespace {

const unsigned kQueued = 4;

std::string ffmpeg_error(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

AVPixelFormat encoder_pixels(zk_codec_pixels pixels) {
    switch (pixels) {
    case ZK_PIXELS_YUV420:
        return AV_PIX_FMT_YUV420P;
    case ZK_PIXELS_RGBA:
        return AV_PIX_FMT_RGBA;
    case ZK_PIXELS_BGRA:
        return AV_PIX_FMT_BGRA;
    case ZK_PIXELS_PALETTE:
        break;
    }
    return AV_PIX_FMT_PAL8;
}

// The movie whose FFmpeg calls this thread makes (LogScope).
thread_local Movie *tPending = nullptr;

// Which movie a log line is about: the one whose encoder or muxer logs it
// (they carry it as their opaque pointer, whatever thread they log from),
// else the one this thread works for; null when neither.
Movie *movie_of(void *context) {
    const AVClass *kind = context != nullptr ? *static_cast<const AVClass **>(context) : nullptr;
    if (kind == avcodec_get_class()) {
        return static_cast<Movie *>(static_cast<AVCodecContext *>(context)->opaque);
    }
    if (kind == avformat_get_class()) {
        return static_cast<Movie *>(static_cast<AVFormatContext *>(context)->opaque);
    }
    return tPending;
}

// FFmpeg's log is process-wide; the library prints nothing, but each movie
// keeps the last error logged for it, so that its failure carries FFmpeg's
// own words and no other movie's.
void capture_log(void *context, int level, const char *format, va_list arguments) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    Movie *movie = movie_of(context);
    if (movie == nullptr) {
        return;
    }
    char line[512] = "";
    int prefix = 0;  // FFmpeg's component tag is not for users
    av_log_format_line2(nullptr, level, format, arguments, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (!text.empty()) {
        std::lock_guard<std::mutex> lock(movie->mutex);
        movie->logged = text;
    }
}

}  // namespace

void ensure_log() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(capture_log); });
}

LogScope::LogScope(Movie *movie) : was_(tPending) { tPending = movie; }

LogScope::~LogScope() { tPending = was_; }

Movie::Movie(const FrameReader &reader)
    : frames(reader, 1, kQueued, AV_INPUT_BUFFER_PADDING_SIZE,
             [this](const QueuedFrame &frame, std::string *) { return add(frame.rows()); }) {}

Movie::~Movie() {
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

bool Movie::fail(const std::string &what, int code) {
    std::lock_guard<std::mutex> lock(mutex);
    std::string detail;
    if (code < 0) {
        detail.swap(logged);
        if (detail.empty()) {
            detail = ffmpeg_error(code);
        }
    }
    if (!failed) {
        failed = true;
        error = detail.empty() ? what : what + ": " + detail;
    }
    return false;
}

bool Movie::write_failed(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failed) {
        failed = true;
        error = ffmpeg_error(code);
    }
    return false;
}

double Movie::knob(int quality) const {
    const double top = row->max_quality, middle = row->default_quality;
    const double q = std::min(top, std::max(0.0, static_cast<double>(quality)));
    if (q <= middle) {
        return middle > 0 ? codec->low + (codec->middle - codec->low) * q / middle : codec->middle;
    }
    return codec->middle + (codec->high - codec->middle) * (q - middle) / (top - middle);
}

int64_t Movie::pts(int64_t k) const {
    return av_rescale_rnd(first + k, int64_t{rate.den} * time_base.den,
                          int64_t{rate.num} * time_base.num, AV_ROUND_NEAR_INF);
}

bool Movie::write_packets() {
    for (;;) {
        int code = avcodec_receive_packet(encoder, packet);
        if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) {
            return true;
        }
        if (code < 0) {
            return fail("the encoder failed", code);
        }
        // An encoder that never reorders decodes each frame when it shows
        // it; x265's decode time for a short movie fed slowly can be left
        // unset, and the muxer would refuse the packet.
        if (encoder->has_b_frames == 0) {
            packet->dts = packet->pts;
        }
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        code = av_interleaved_write_frame(container, packet);
        if (code < 0) {
            return write_failed(code);
        }
    }
}

bool Movie::encode(AVFrame *picture) {
    const int code = avcodec_send_frame(encoder, picture);
    return code < 0 ? fail("the encoder failed", code) : write_packets();
}

// One frame into the stream.
bool Movie::add(const PixelRows &image) {
    LogScope scope(this);
    int code = av_frame_make_writable(frame);
    if (code < 0) {
        return fail("the encoder failed", code);
    }
    frame->pts = pts(frames_added++);
    switch (codec->pixels) {
    case ZK_PIXELS_YUV420: {
        const uint8_t *top = image.top;
        const int stride = static_cast<int>(image.stride);
        sws_scale(scaler, &top, &stride, 0, height, frame->data, frame->linesize);
        pad_luma();
        return encode(frame);
    }
    case ZK_PIXELS_RGBA:
    case ZK_PIXELS_BGRA:
        for (int y = 0; y < height; ++y) {
            opaque_row(image, y, codec->pixels == ZK_PIXELS_RGBA ? 0 : 2,
                       frame->data[0] + static_cast<ptrdiff_t>(frame->linesize[0]) * y);
        }
        return encode(frame);
    case ZK_PIXELS_PALETTE:
        break;
    }
    return gather_frame(image);
}

void Movie::opaque_row(const PixelRows &image, int y, int red, unsigned char *out) const {
    const unsigned char *in = image.row(y);
    for (int x = 0; x < width; ++x, in += image.pixel_bytes, out += 4) {
        out[0] = in[red];
        out[1] = in[1];
        out[2] = in[2 - red];
        out[3] = alpha && image.pixel_bytes == 4 ? in[3] : 255;
    }
}

// H.264's 4:2:0 needs an even size: an odd last column or row repeats
// its neighbour (the chroma planes already cover it).
void Movie::pad_luma() {
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
void Movie::last_delay() {
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

bool Movie::finish() {
    LogScope scope(this);
    if (palette() && frames_added > 0 && !map_frames()) {
        return false;
    }
    if (!encode(nullptr)) {
        return false;
    }
    last_delay();
    int code = av_write_trailer(container);
    if (code < 0) {
        return write_failed(code);
    }
    code = avio_closep(&container->pb);
    return code < 0 ? write_failed(code) : true;
}

// The encoder, its options and the colour tags of the stream.
bool Movie::open_encoder(int quality) {
    const AVCodec *found = avcodec_find_encoder_by_name(codec->encoder);
    if (found == nullptr) {
        return fail(std::string("no ") + codec->encoder + " encoder in this FFmpeg", 0);
    }
    encoder = avcodec_alloc_context3(found);
    stream = avformat_new_stream(container, nullptr);
    if (encoder == nullptr || stream == nullptr) {
        return fail("not enough memory", 0);
    }
    encoder->opaque = this;  // its log is this movie's
    const bool even = codec->even_size;
    encoder->width = even ? (width + 1) & ~1 : width;
    encoder->height = even ? (height + 1) & ~1 : height;
    encoder->pix_fmt = encoder_pixels(codec->pixels);
    encoder->time_base = time_base;
    encoder->framerate = rate;
    encoder->sample_aspect_ratio = AVRational{1, 1};
    if (container->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (codec->pixels == ZK_PIXELS_YUV420) {
        encoder->color_primaries = AVCOL_PRI_BT709;
        encoder->color_trc = AVCOL_TRC_BT709;
        encoder->colorspace = AVCOL_SPC_BT709;
        encoder->color_range = AVCOL_RANGE_MPEG;
    }
    if (codec->every_core) {
        encoder->thread_count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }
    AVDictionary *options = nullptr;
    int code = av_dict_parse_string(&options, codec->options, "=", ";", 0);
    if (code >= 0 && codec->knob_key != nullptr) {
        code = av_dict_set_int(&options, codec->knob_key, std::lround(knob(quality)), 0);
    }
    if (code >= 0) {
        code = avcodec_open2(encoder, found, &options);
    }
    av_dict_free(&options);
    if (code < 0) {
        return fail(std::string("cannot start the ") + codec->encoder + " encoder", code);
    }
    code = avcodec_parameters_from_context(stream->codecpar, encoder);
    if (code < 0) {
        return fail("not enough memory", 0);
    }
    if (codec->stream_tag != nullptr) {
        const char *t = codec->stream_tag;
        stream->codecpar->codec_tag = MKTAG(t[0], t[1], t[2], t[3]);
    }
    stream->time_base = encoder->time_base;
    stream->avg_frame_rate = rate;
    return true;
}

bool Movie::open(const char *path, int quality) {
    LogScope scope(this);
    const char *reason = "";
    output = zk_output_open(path, &reason);
    if (output == nullptr) {
        return fail(reason, 0);
    }
    // By name: the MP4 muxer reopens the file to move its index to the front.
    const std::string url = std::string("file:") + zk_output_temporary(output);
    int code = avformat_alloc_output_context2(&container, nullptr, muxing->muxer, url.c_str());
    if (code < 0) {
        return fail("cannot start the file", code);
    }
    container->opaque = this;  // its log is this movie's
    // The same frames give the same bytes (WebM's identifiers are otherwise
    // random), as the join's do.
    container->flags |= AVFMT_FLAG_BITEXACT;
    if (!open_encoder(quality) || (palette() && !open_gather(quality))) {
        return false;
    }
    frame = av_frame_alloc();
    filtered = av_frame_alloc();
    packet = av_packet_alloc();
    if (frame == nullptr || filtered == nullptr || packet == nullptr) {
        return fail("not enough memory", 0);
    }
    frame->format = palette() ? AV_PIX_FMT_RGB32 : encoder->pix_fmt;
    frame->width = encoder->width;
    frame->height = encoder->height;
    frame->color_primaries = encoder->color_primaries;
    frame->color_trc = encoder->color_trc;
    frame->colorspace = encoder->colorspace;
    frame->color_range = encoder->color_range;
    code = av_frame_get_buffer(frame, 0);
    if (code < 0) {
        return fail("not enough memory", 0);
    }
    if (codec->pixels == ZK_PIXELS_YUV420) {
        // Limited-range BT.709 from full-range RGB, as the stream is tagged.
        // Chroma from every pixel, then filtered: also swscale's faster path.
        const int flags = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP;
        scaler = sws_getContext(width, height, AV_PIX_FMT_RGB0, width, height, AV_PIX_FMT_YUV420P,
                                flags, nullptr, nullptr, nullptr);
        if (scaler == nullptr) {
            return fail("cannot convert colours", 0);
        }
        const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    }
    // What the movie was encoded with and what it shows, for
    // morvakine-join, which refuses to put together segments that differ
    // in any of it.
    const std::string rendered = std::string(row->name) + " " + std::to_string(encoder->width) +
                                 "x" + std::to_string(encoder->height) + " " +
                                 std::to_string(rate.num) + "/" + std::to_string(rate.den) +
                                 " fps, " + codec->name + ", quality " + std::to_string(quality) +
                                 ", " + codec->encoder + " " + codec->options +
                                 (tag.empty() ? "" : ", " + tag);
    code = av_dict_set(&container->metadata, "rendered-with", rendered.c_str(), 0);
    if (code < 0) {
        return fail("not enough memory", 0);
    }
    code = avio_open(&container->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) {
        return write_failed(code);
    }
    AVDictionary *options = nullptr;
    code = av_dict_parse_string(&options, muxing->muxer_options, "=", ";", 0);
    if (code >= 0 && muxing->timescale_key != nullptr) {
        code = av_dict_set_int(&options, muxing->timescale_key, time_base.den, 0);
    }
    if (code >= 0) {
        code = avformat_write_header(container, &options);
    }
    av_dict_free(&options);
    return code < 0 ? write_failed(code) : true;
}

}  // namespace zelkori
