// morvakine-join: puts movie segments rendered in slices (each with
// --first K --frames N) together into one movie, copying the coded frames
// as they are. Every segment carries its frames' own timestamps, so the
// joined movie is the one a single run makes, key frames aside; a missing,
// repeated or mismatched segment is refused rather than joined.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "output/output_file.h"

namespace {

const char kProgram[] = "morvakine-join";
const char kUsage[] =
    "Usage: morvakine-join OUTPUT SEGMENT...\n"
    "Joins movie segments rendered in slices (morvakine-render -o SEGMENT\n"
    "--first K --frames N) into OUTPUT without encoding again. Segments are\n"
    "given in frame order and must follow one another with no frame missing\n"
    "or repeated; OUTPUT (.mp4 or .webm) has the segments' format.\n"
    "GIF and animated PNG segments cannot be joined: their palettes and\n"
    "frames depend on the whole animation.\n"
    "\n"
    "Exit status: 0 done, 2 bad usage, 1 failure while joining.";

struct Container {
    const char *extension;
    const char *muxer;
    const char *demuxer;  // a name the segments' demuxer lists
    AVCodecID codec;
};

const Container kContainers[] = {
    {".mp4", "mp4", "mp4", AV_CODEC_ID_H264},
    {".webm", "webm", "webm", AV_CODEC_ID_VP9},
};

bool ends_with(const std::string &text, const char *tail) {
    const size_t size = std::strlen(tail);
    return text.size() > size && strcasecmp(text.c_str() + text.size() - size, tail) == 0;
}

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

// Everything open while joining; whatever is left unfinished is undone.
struct Join {
    const Container *container = nullptr;
    std::string path;
    zk_output *output = nullptr;
    AVFormatContext *muxer = nullptr;
    AVFormatContext *segment = nullptr;
    AVPacket *packet = nullptr;
    const AVCodecParameters *first = nullptr;  // the first segment's, copied to the stream
    AVRational rate{0, 1};
    std::string first_name, previous_name;
    int64_t next = 0;  // the frame the next segment must start at
    // Decode stamps run on across segments, one frame apart, as deep behind
    // the frames as the deepest segment's reordering (x264 reorders less at
    // the end of a short segment than in a long one).
    int64_t delay = 0, next_dts = 0;
    std::string error;

    ~Join() {
        av_packet_free(&packet);
        avformat_close_input(&segment);
        if (muxer != nullptr) {
            avio_closep(&muxer->pb);
            avformat_free_context(muxer);
        }
        zk_output_abort(output);
    }

    bool fail(const std::string &message) {
        error = message;
        return false;
    }

    // The joined file, shaped as the movie writer shapes one run's.
    bool open_output(const AVStream *input) {
        const char *reason = "";
        output = zk_output_open(path.c_str(), &reason);
        if (output == nullptr) {
            return fail("cannot write \"" + path + "\": " + reason);
        }
        const std::string url = std::string("file:") + zk_output_temporary(output);
        int code = avformat_alloc_output_context2(&muxer, nullptr, container->muxer, url.c_str());
        AVStream *stream = code < 0 ? nullptr : avformat_new_stream(muxer, nullptr);
        if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, input->codecpar) < 0) {
            return fail("not enough memory");
        }
        stream->codecpar->codec_tag = 0;
        stream->time_base = av_inv_q(rate);
        stream->avg_frame_rate = rate;
        code = avio_open(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
        AVDictionary *options = nullptr;
        if (std::strcmp(container->muxer, "mp4") == 0) {
            av_dict_set(&options, "movflags", "+faststart", 0);
            av_dict_set_int(&options, "movie_timescale", rate.num, 0);
        }
        if (code >= 0) {
            code = avformat_write_header(muxer, &options);
        }
        av_dict_free(&options);
        return code < 0 ? fail("cannot write \"" + path + "\": " + av_text(code)) : true;
    }

    // The frame a timestamp falls on: containers round timestamps to
    // their own clocks (WebM to milliseconds), frames lie on whole frames.
    int64_t frame_of(int64_t stamp, AVRational base) const {
        return stamp == AV_NOPTS_VALUE
                   ? stamp
                   : av_rescale_q_rnd(stamp, base, av_inv_q(rate), AV_ROUND_NEAR_INF);
    }

    bool same_coding(const AVCodecParameters *p) const {
        return p->codec_id == first->codec_id && p->width == first->width &&
               p->height == first->height && p->format == first->format &&
               p->extradata_size == first->extradata_size &&
               (p->extradata_size == 0 ||
                std::memcmp(p->extradata, first->extradata, p->extradata_size) == 0);
    }

    // Opens segment `name` and checks that it can join: one video stream
    // of the output's kind and a frame rate.
    const AVStream *open_segment(const char *name, AVRational *rate) {
        const std::string quoted = std::string("\"") + name + "\"";
        avformat_close_input(&segment);
        int code = avformat_open_input(&segment, name, nullptr, nullptr);
        if (code >= 0) {
            code = avformat_find_stream_info(segment, nullptr);
        }
        if (code < 0) {
            fail("cannot read " + quoted + ": " + av_text(code));
            return nullptr;
        }
        const AVStream *stream = segment->nb_streams == 1 ? segment->streams[0] : nullptr;
        if (stream == nullptr || std::strstr(segment->iformat->name, container->demuxer) == nullptr ||
            stream->codecpar->codec_id != container->codec) {
            fail(quoted + " is not a movie segment of this renderer's " + container->muxer +
                 " kind");
            return nullptr;
        }
        *rate = stream->avg_frame_rate;
        if (rate->num <= 0 || rate->den <= 0) {
            *rate = stream->r_frame_rate;
        }
        if (rate->num <= 0 || rate->den <= 0) {
            fail(quoted + " has no frame rate");
            return nullptr;
        }
        return stream;
    }

    // First pass: how far the segment's first decode stamp lies behind its
    // first frame.
    bool peek(const char *name) {
        AVRational rate{0, 1};
        const AVStream *stream = open_segment(name, &rate);
        if (stream == nullptr) {
            return false;
        }
        const int code = av_read_frame(segment, packet);
        if (code < 0) {
            return fail(std::string("\"") + name + "\" holds no frames");
        }
        if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE) {
            const int64_t behind = av_rescale_q_rnd(packet->pts - packet->dts, stream->time_base,
                                                    av_inv_q(rate), AV_ROUND_NEAR_INF);
            delay = std::max(delay, behind);
        }
        av_packet_unref(packet);
        return true;
    }

    bool add(const char *name) {
        const std::string quoted = std::string("\"") + name + "\"";
        AVRational rate{0, 1};
        const AVStream *stream = open_segment(name, &rate);
        if (stream == nullptr) {
            return false;
        }
        int code = 0;
        if (first == nullptr) {
            this->rate = rate;
            first = stream->codecpar;
            first_name = name;
            if (!open_output(stream)) {
                return false;
            }
            first = muxer->streams[0]->codecpar;
        } else if (av_cmp_q(rate, this->rate) != 0 || !same_coding(stream->codecpar)) {
            return fail(quoted + " was rendered with other options than \"" + first_name +
                        "\" (frame rate, size or quality): join slices of one render");
        }
        AVStream *out = muxer->streams[0];
        int64_t start = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE, count = 0;
        while ((code = av_read_frame(segment, packet)) >= 0) {
            const int64_t pts = frame_of(packet->pts, stream->time_base);
            if (pts == AV_NOPTS_VALUE) {
                av_packet_unref(packet);
                return fail(quoted + " has a frame without a timestamp");
            }
            if (start == AV_NOPTS_VALUE) {
                start = pts;
                if (!(packet->flags & AV_PKT_FLAG_KEY)) {
                    av_packet_unref(packet);
                    return fail(quoted + " does not start with a key frame");
                }
                if (previous_name.empty()) {
                    next = start;
                    next_dts = start - delay;
                } else if (start > next) {
                    av_packet_unref(packet);
                    return fail("frames " + std::to_string(next) + " to " +
                                std::to_string(start - 1) + " are missing between \"" +
                                previous_name + "\" and " + quoted);
                } else if (start < next) {
                    av_packet_unref(packet);
                    return fail(quoted + " starts at frame " + std::to_string(start) +
                                ", which \"" + previous_name +
                                "\" already holds: give the segments once each, in frame order");
                }
            }
            if (next_dts > pts) {
                av_packet_unref(packet);
                return fail(quoted + " shows frame " + std::to_string(pts) +
                            " before it can be decoded");
            }
            last = std::max(last, pts);
            ++count;
            packet->pts = pts;
            packet->dts = next_dts++;
            packet->duration = 1;
            packet->stream_index = 0;
            packet->pos = -1;
            av_packet_rescale_ts(packet, av_inv_q(this->rate), out->time_base);
            code = av_interleaved_write_frame(muxer, packet);
            if (code < 0) {
                return fail("cannot write \"" + path + "\": " + av_text(code));
            }
        }
        if (code != AVERROR_EOF) {
            return fail("cannot read " + quoted + ": " + av_text(code));
        }
        if (count == 0) {
            return fail(quoted + " holds no frames");
        }
        if (last - start + 1 != count) {
            return fail(quoted + " does not hold frames " + std::to_string(start) + " to " +
                        std::to_string(last) + " once each");
        }
        next = last + 1;
        previous_name = name;
        return true;
    }

    bool finish() {
        int code = av_write_trailer(muxer);
        if (code >= 0) {
            code = avio_closep(&muxer->pb);
        }
        if (code < 0) {
            return fail("cannot write \"" + path + "\": " + av_text(code));
        }
        const char *reason = "";
        const bool committed = zk_output_commit(output, &reason) != 0;
        output = nullptr;
        return committed ? true : fail("cannot write \"" + path + "\": " + reason);
    }
};

int usage_error(const std::string &message) {
    std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::puts(kUsage);
        return 0;
    }
    if (argc < 3) {
        return usage_error("needs an output file and at least one segment");
    }
    Join join;
    join.path = argv[1];
    for (const Container &container : kContainers) {
        if (ends_with(join.path, container.extension)) {
            join.container = &container;
        }
    }
    if (join.container == nullptr) {
        if (ends_with(join.path, ".gif") || ends_with(join.path, ".apng")) {
            return usage_error(
                "GIF and animated PNG segments cannot be joined without encoding again: render "
                "PNG slices and make the animation from them, or render it in one run");
        }
        return usage_error("the output must end in .mp4 or .webm, got \"" + join.path + "\"");
    }
    for (int i = 2; i < argc; ++i) {
        if (!ends_with(argv[i], join.container->extension)) {
            return usage_error(std::string("segments of ") + join.container->extension +
                               " movies end in " + join.container->extension + ", got \"" +
                               argv[i] + "\"");
        }
    }
    const char *reason = "";
    if (!zk_output_check(join.path.c_str(), &reason)) {
        std::fprintf(stderr, "%s: cannot write \"%s\": %s\n", kProgram, argv[1], reason);
        return 1;
    }
    av_log_set_level(AV_LOG_QUIET);  // failures are reported here, in one line
    join.packet = av_packet_alloc();
    bool joined = join.packet != nullptr || join.fail("not enough memory");
    for (int i = 2; joined && i < argc; ++i) {
        joined = join.peek(argv[i]);
    }
    for (int i = 2; joined && i < argc; ++i) {
        joined = join.add(argv[i]);
    }
    if (!joined || !join.finish()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, join.error.c_str());
        return 1;
    }
    return 0;
}
