// morvakine-join: puts movie segments rendered in slices (each with
// --first K --frames N) together into one movie, copying the coded frames
// as they are. Every segment carries its frames' own timestamps, so the
// joined movie is the one a single run makes, key frames aside. Every
// segment is read through and decoded before anything is written: a
// missing, repeated, mismatched, truncated or corrupt segment is refused
// and nothing is touched.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "zelkori_host.h"

namespace {

const char kProgram[] = "morvakine-join";
const char kUsage[] =
    "Usage: morvakine-join OUTPUT SEGMENT...\n"
    "       morvakine-join --probe MOVIE\n"
    "       morvakine-join --formats\n"
    "Joins movie segments rendered in slices (morvakine-render -o SEGMENT\n"
    "--first K --frames N) into OUTPUT without encoding again. Segments are\n"
    "given in frame order and must follow one another with no frame missing\n"
    "or repeated, rendered with the same options; each is read through and\n"
    "decoded first, and a truncated or corrupt one is refused. OUTPUT (a\n"
    "format --formats marks joinable: .mp4 or .webm) has the segments' format\n"
    "and may not be one of them. Other movies (GIF, animated PNG, WebP, AVIF)\n"
    "cannot be joined: their palettes and frames depend on the whole animation.\n"
    "\n"
    "--probe checks MOVIE as a segment and prints its frames, first frame,\n"
    "rate and end time: frames=N first=K rate=NUM/DEN end=SECONDS.\n"
    "--formats prints the renderer's formats, one a line: name, extension,\n"
    "kind (still, sequence, movie, scene, page), joinable or -, and the other\n"
    "extension the format is known by (.jpeg) or -.\n"
    "\n"
    "Exit status: 0 done, 2 bad usage, 1 failure while joining.";

// A format that joins: a row of the table marked joinable, its container
// (the container row's muxer, which the segments' demuxer lists by name
// too) and the codecs its segments may carry.
struct Container {
    const zk_format *row;
    const char *format;
    const char *muxer;
    const char *demuxer;
    const char *muxer_options;  // key=value;...
    const char *timescale_key;  // the muxer option taking the ticks a second
    std::vector<AVCodecID> codecs;
};
const char kRenderedWith[] = "rendered-with";  // the movie writer's tag

const std::vector<Container> &containers() {
    static const std::vector<Container> joinable = [] {
        std::vector<Container> rows;
        for (int i = 0; i < zk_format_count(); ++i) {
            const zk_format *row = zk_format_at(i);
            const char *muxer = nullptr, *options = nullptr, *timescale = nullptr;
            if ((row->flags & ZK_FORMAT_JOINABLE) &&
                zk_format_muxer(row, &muxer, &options, &timescale)) {
                // The table names codecs as FFmpeg does.
                std::vector<AVCodecID> codecs;
                for (int k = 0; zk_format_codec(row, k) != nullptr; ++k) {
                    const AVCodecDescriptor *codec =
                        avcodec_descriptor_get_by_name(zk_format_codec(row, k));
                    codecs.push_back(codec != nullptr ? codec->id : AV_CODEC_ID_NONE);
                }
                rows.push_back({row, row->name, muxer, muxer, options, timescale, codecs});
            }
        }
        return rows;
    }();
    return joinable;
}

const Container *container_of(const zk_format *format) {
    for (const Container &container : containers()) {
        if (container.row == format) {
            return &container;
        }
    }
    return nullptr;
}

// The joinable extensions, for messages: ".mp4 or .webm".
std::string joinable_list() {
    std::string list;
    const std::vector<Container> &all = containers();
    for (size_t i = 0; i < all.size(); ++i) {
        list += (i == 0 ? "" : i + 1 < all.size() ? ", " : " or ") + std::string(all[i].row->extension);
    }
    return list;
}

std::string av_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

// `cannot write "FILE": cause`, worded by the host library as its writers' failures.
std::string write_error(const std::string &file, const std::string &cause) {
    return zk_write_error(file.c_str(), cause.c_str());
}

// What one segment holds, as read through: frames start to last, each
// once, and how it was encoded.
struct Segment {
    std::string name;
    AVRational rate{0, 1};
    std::string rendered;
    AVCodecParameters *coding = nullptr;
    int64_t start = 0, last = 0, count = 0;
    int64_t delay = 0;  // the first decode stamp's frames behind the first frame
    double end = 0;  // the container's end time, seconds

    Segment() = default;
    Segment(const Segment &) = delete;
    Segment &operator=(const Segment &) = delete;
    ~Segment() { avcodec_parameters_free(&coding); }
};

// The frame a timestamp falls on: containers round timestamps to their
// own clocks (WebM to milliseconds), frames lie on whole frames.
int64_t frame_of(int64_t stamp, AVRational base, AVRational rate) {
    return stamp == AV_NOPTS_VALUE ? stamp
                                   : av_rescale_q_rnd(stamp, base, av_inv_q(rate),
                                                      AV_ROUND_NEAR_INF);
}

// One segment open for reading.
struct Reader {
    const Container *container;
    AVFormatContext *input = nullptr;
    AVCodecContext *decoder = nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::string error;

    explicit Reader(const Container *kind) : container(kind) {}
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    ~Reader() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
    }

    bool fail(const std::string &message) {
        error = message;
        return false;
    }

    // One video stream of the container's kind, with a frame rate and the
    // tag the movie writer leaves.
    bool open(Segment &segment) {
        const std::string name = quoted(segment.name);
        if (packet == nullptr || frame == nullptr) {
            return fail("not enough memory");
        }
        int code = avformat_open_input(&input, segment.name.c_str(), nullptr, nullptr);
        if (code == AVERROR(ENOENT) || code == AVERROR(EACCES) || code == AVERROR(EISDIR)) {
            return fail("cannot read " + name + ": " + av_text(code));
        }
        if (code >= 0) {
            code = avformat_find_stream_info(input, nullptr);
        }
        if (code < 0) {
            return fail(name + " is truncated or corrupt: " + av_text(code));
        }
        const AVStream *stream = input->nb_streams == 1 ? input->streams[0] : nullptr;
        if (stream == nullptr || std::strstr(input->iformat->name, container->demuxer) == nullptr ||
            std::find(container->codecs.begin(), container->codecs.end(),
                      stream->codecpar->codec_id) == container->codecs.end()) {
            return fail(name + " is not a movie segment of this renderer's " +
                        container->format + " kind");
        }
        segment.rate = stream->avg_frame_rate;
        if (segment.rate.num <= 0 || segment.rate.den <= 0) {
            segment.rate = stream->r_frame_rate;
        }
        if (segment.rate.num <= 0 || segment.rate.den <= 0) {
            return fail(name + " has no frame rate");
        }
        const AVDictionaryEntry *tag = av_dict_get(input->metadata, kRenderedWith, nullptr, 0);
        segment.rendered = tag != nullptr ? tag->value : "";
        return true;
    }

    // An index (MP4's sample table) that places frames past the end of
    // the file: the file was cut short.
    bool whole(AVStream *stream, const std::string &name) {
        const int entries = avformat_index_get_entries_count(stream);
        const AVIndexEntry *last = entries > 0 ? avformat_index_get_entry(stream, entries - 1) : nullptr;
        const int64_t size = avio_size(input->pb);
        if (last != nullptr && size >= 0 && last->pos + last->size > size) {
            return fail(name + " is truncated: its frames run past its end, at " +
                        std::to_string(size) + " bytes");
        }
        return true;
    }

    // A decoder that fails on the first damaged frame.
    bool open_decoder(const AVStream *stream, const std::string &name) {
        const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoder = codec == nullptr ? nullptr : avcodec_alloc_context3(codec);
        if (decoder == nullptr) {
            return fail("no decoder for " + name + " in this FFmpeg");
        }
        int code = avcodec_parameters_to_context(decoder, stream->codecpar);
        decoder->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CRCCHECK;
        decoder->thread_count = 0;
        if (code >= 0) {
            code = avcodec_open2(decoder, codec, nullptr);
        }
        return code < 0 ? fail("cannot decode " + name + ": " + av_text(code)) : true;
    }

    // Sends `next` (NULL: the end) to the decoder and counts the frames
    // that come out.
    bool decode(const AVPacket *next, int64_t *decoded, const std::string &name) {
        int code = avcodec_send_packet(decoder, next);
        while (code >= 0) {
            code = avcodec_receive_frame(decoder, frame);
            if (code >= 0) {
                const bool damaged =
                    frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT);
                av_frame_unref(frame);
                if (damaged) {
                    return fail(name + " is corrupt: a frame decodes with errors");
                }
                ++*decoded;
            }
        }
        if (code != AVERROR(EAGAIN) && code != AVERROR_EOF) {
            return fail(name + " is corrupt: a frame cannot be decoded (" + av_text(code) + ")");
        }
        return true;
    }

    // Reads and decodes every frame, checking that the segment holds
    // whole frames start to last once each, as long as its container says.
    bool inspect(Segment &segment) {
        const std::string name = quoted(segment.name);
        if (!open(segment)) {
            return false;
        }
        AVStream *stream = input->streams[0];
        if (!whole(stream, name) || !open_decoder(stream, name)) {
            return false;
        }
        segment.coding = avcodec_parameters_alloc();
        if (segment.coding == nullptr || avcodec_parameters_copy(segment.coding, stream->codecpar) < 0) {
            return fail("not enough memory");
        }
        int64_t decoded = 0, start = AV_NOPTS_VALUE, last = AV_NOPTS_VALUE;
        int code = 0;
        while ((code = av_read_frame(input, packet)) >= 0) {
            const int64_t pts = frame_of(packet->pts, stream->time_base, segment.rate);
            const bool key = packet->flags & AV_PKT_FLAG_KEY;
            const bool corrupt = packet->flags & AV_PKT_FLAG_CORRUPT;
            if (start == AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE) {
                segment.delay = std::max<int64_t>(
                    0, frame_of(packet->pts - packet->dts, stream->time_base, segment.rate));
            }
            if (!corrupt && pts != AV_NOPTS_VALUE && !(start == AV_NOPTS_VALUE && !key) &&
                !decode(packet, &decoded, name)) {
                av_packet_unref(packet);
                return false;
            }
            av_packet_unref(packet);
            if (corrupt) {
                return fail(name + " is truncated: frame " + std::to_string(pts) +
                            " is cut short");
            }
            if (pts == AV_NOPTS_VALUE) {
                return fail(name + " is corrupt: a frame has no timestamp");
            }
            if (start == AV_NOPTS_VALUE) {
                if (!key) {
                    // Every slice starts with one; a damaged one reads as none.
                    return fail(name + " is corrupt: its first frame is not a key frame");
                }
                start = pts;
            }
            last = std::max(last, pts);
            ++segment.count;
        }
        if (code != AVERROR_EOF) {
            return fail(name + " is " + (code == AVERROR_INVALIDDATA ? "truncated or corrupt" : "unreadable") +
                        ": " + av_text(code));
        }
        if (!decode(nullptr, &decoded, name)) {
            return false;
        }
        if (segment.count == 0) {
            return fail(name + " holds no frames");
        }
        segment.start = start;
        segment.last = last;
        if (last - start + 1 != segment.count) {
            return fail(name + " does not hold frames " + std::to_string(start) + " to " +
                        std::to_string(last) + " once each");
        }
        // The container's own count or length, written when the segment
        // was finished: a file cut short holds fewer frames.
        // (libavformat's duration runs from time 0 to the end).
        int64_t listed = stream->nb_frames;
        if (listed <= 0 && input->duration > 0) {
            listed = frame_of(input->duration, AV_TIME_BASE_Q, segment.rate) - start;
        }
        if (listed > segment.count) {
            return fail(name + " is truncated: it holds " + std::to_string(segment.count) +
                        " of its " + std::to_string(listed) + " frames");
        }
        if (decoded != segment.count) {
            return fail(name + " is corrupt: " + std::to_string(segment.count - decoded) +
                        " of its frames cannot be decoded");
        }
        if (segment.rendered.empty()) {
            return fail(name + " does not say how it was rendered: render it with this "
                        "morvakine-render");
        }
        segment.end = input->duration > 0 ? input->duration / double(AV_TIME_BASE) : 0;
        return true;
    }
};

// The joined file, shaped as the movie writer shapes one run's, taking
// the first segment's tag: a joined file joins again.
struct Writer {
    const Container *container;
    std::string path;
    zk_output *output = nullptr;
    AVFormatContext *muxer = nullptr;
    std::string error;

    Writer(const Container *kind, const std::string &target) : container(kind), path(target) {}
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;
    ~Writer() {
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

    bool open(const Segment &first) {
        const char *reason = "";
        output = zk_output_open(path.c_str(), &reason);
        if (output == nullptr) {
            return fail(write_error(path, reason));
        }
        const std::string url = std::string("file:") + zk_output_temporary(output);
        int code = avformat_alloc_output_context2(&muxer, nullptr, container->muxer, url.c_str());
        AVStream *stream = code < 0 ? nullptr : avformat_new_stream(muxer, nullptr);
        if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, first.coding) < 0 ||
            av_dict_set(&muxer->metadata, kRenderedWith, first.rendered.c_str(), 0) < 0) {
            return fail("not enough memory");
        }
        // The same segments give the same bytes (WebM's identifiers are
        // otherwise random), so a resumed render is an uninterrupted one.
        muxer->flags |= AVFMT_FLAG_BITEXACT;
        // The segments' own tag (HEVC's hvc1) where the muxer takes it.
        const AVCodecParameters *coding = stream->codecpar;
        if (av_codec_get_id(muxer->oformat->codec_tag, coding->codec_tag) != coding->codec_id) {
            stream->codecpar->codec_tag = 0;
        }
        stream->time_base = av_inv_q(first.rate);
        stream->avg_frame_rate = first.rate;
        code = avio_open(&muxer->pb, url.c_str(), AVIO_FLAG_WRITE);
        // The muxer's options as the movie writer sets them.
        AVDictionary *options = nullptr;
        if (code >= 0) {
            code = av_dict_parse_string(&options, container->muxer_options, "=", ";", 0);
        }
        if (code >= 0 && container->timescale_key != nullptr) {
            code = av_dict_set_int(&options, container->timescale_key, first.rate.num, 0);
        }
        if (code >= 0) {
            code = avformat_write_header(muxer, &options);
        }
        av_dict_free(&options);
        return code < 0 ? fail(write_error(path, av_text(code))) : true;
    }

    // Copies the segment's frames; decode stamps run on across segments,
    // one frame apart, `delay` frames behind the first.
    bool copy(Reader &reader, const Segment &segment, int64_t *next_dts) {
        const AVStream *in = reader.input->streams[0];
        AVStream *out = muxer->streams[0];
        AVPacket *packet = reader.packet;
        int code = 0;
        while ((code = av_read_frame(reader.input, packet)) >= 0) {
            packet->pts = frame_of(packet->pts, in->time_base, segment.rate);
            if (*next_dts > packet->pts) {
                av_packet_unref(packet);
                return fail(quoted(segment.name) + " shows frame " + std::to_string(packet->pts) +
                            " before it can be decoded");
            }
            packet->dts = (*next_dts)++;
            packet->duration = 1;
            packet->stream_index = 0;
            packet->pos = -1;
            av_packet_rescale_ts(packet, av_inv_q(segment.rate), out->time_base);
            code = av_interleaved_write_frame(muxer, packet);
            if (code < 0) {
                return fail(write_error(path, av_text(code)));
            }
        }
        return code == AVERROR_EOF ? true
                                   : fail("cannot read " + quoted(segment.name) + ": " + av_text(code));
    }

    bool finish() {
        int code = av_write_trailer(muxer);
        if (code >= 0) {
            code = avio_closep(&muxer->pb);
        }
        if (code < 0) {
            return fail(write_error(path, av_text(code)));
        }
        const char *reason = "";
        const bool committed = zk_output_commit(output, &reason) != 0;
        output = nullptr;
        return committed ? true : fail(write_error(path, reason));
    }
};

bool same_coding(const AVCodecParameters *p, const AVCodecParameters *q) {
    return p->codec_id == q->codec_id && p->width == q->width && p->height == q->height &&
           p->format == q->format && p->extradata_size == q->extradata_size &&
           (p->extradata_size == 0 || std::memcmp(p->extradata, q->extradata, p->extradata_size) == 0);
}

// The first part ("quality 40") in which two tags differ; the tags are
// parts joined by ", ", and one may hold more parts than the other.
std::string first_difference(const std::string &one, const std::string &other) {
    const auto part = [](const std::string &tag, size_t at) {
        return tag.substr(at, tag.find(", ", at) - at);
    };
    size_t a = 0, b = 0;
    while (true) {
        const std::string x = part(one, a), y = part(other, b);
        a += x.size() + 2;
        b += y.size() + 2;
        if (x != y) {
            return x + ", not " + y;
        }
        if (a > one.size()) {
            return "without " + part(other, b) + ", not with it";
        }
        if (b > other.size()) {
            return part(one, a) + ", not without it";
        }
    }
}

// Segments that follow one another, rendered alike; "" when they do.
std::string mismatch(const Segment &first, const Segment &previous, const Segment &segment) {
    const std::string name = quoted(segment.name);
    if (segment.rendered != first.rendered || av_cmp_q(segment.rate, first.rate) != 0 ||
        !same_coding(segment.coding, first.coding)) {
        const std::string differ = segment.rendered != first.rendered
                                       ? first_difference(segment.rendered, first.rendered)
                                       : "its frames are coded otherwise";
        return name + " was rendered with other options than " + quoted(first.name) + " (" +
               differ + "): join slices of one render";
    }
    if (segment.start > previous.last + 1) {
        return "frames " + std::to_string(previous.last + 1) + " to " +
               std::to_string(segment.start - 1) + " are missing between " +
               quoted(previous.name) + " and " + name;
    }
    if (segment.start < previous.start) {
        return name + " (from frame " + std::to_string(segment.start) + ") comes before " +
               quoted(previous.name) + " (from frame " + std::to_string(previous.start) +
               "): give the segments in frame order";
    }
    if (segment.start <= previous.last) {
        return name + " starts at frame " + std::to_string(segment.start) + ", which " +
               quoted(previous.name) + " already holds: give the segments once each, in frame order";
    }
    return "";
}

// The output is none of the segments, by device and inode (any link to
// one, hard or symbolic, is that one); "" when it is none.
std::string overlap(const char *output, char **segments, int count) {
    struct stat target;
    if (stat(output, &target) != 0) {
        return "";
    }
    for (int i = 0; i < count; ++i) {
        struct stat input;
        if (stat(segments[i], &input) == 0 && input.st_dev == target.st_dev &&
            input.st_ino == target.st_ino) {
            return std::string("the output ") + quoted(output) + " is the segment " +
                   quoted(segments[i]) + ": name a new file for the joined movie";
        }
    }
    return "";
}

// An existing output may be replaced by the join unless it is a slice of
// the same render that the segments do not hold (the first name of a glob
// taken for the output); "" when it may.
std::string replaces_slice(const Container *container, const char *output,
                           const std::vector<Segment> &segments) {
    struct stat target;
    if (stat(output, &target) != 0) {
        return "";
    }
    Reader reader(container);
    Segment existing;
    existing.name = output;
    if (!reader.inspect(existing) || existing.rendered != segments.front().rendered ||
        (existing.start <= segments.front().start && existing.last >= segments.back().last)) {
        return "";
    }
    return "the output " + quoted(output) + " holds frames " + std::to_string(existing.start) +
           " to " + std::to_string(existing.last) +
           " of this render, which the segments do not: name a new file for the joined movie";
}

const char *kind_name(int kind) {
    switch (kind) {
    case ZK_KIND_STILL:
        return "still";
    case ZK_KIND_SEQUENCE:
        return "sequence";
    case ZK_KIND_MOVIE:
        return "movie";
    case ZK_KIND_SCENE:
        return "scene";
    default:
        return "page";
    }
}

int list_formats() {
    for (int i = 0; i < zk_format_count(); ++i) {
        const zk_format *format = zk_format_at(i);
        std::printf("%s\t%s\t%s\t%s\t%s\n", format->name, format->extension, kind_name(format->kind),
                    container_of(format) != nullptr ? "joinable" : "-",
                    format->alias != nullptr ? format->alias : "-");
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int usage_error(const std::string &message) {
    std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, message.c_str());
    return 2;
}

int failure(const std::string &message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return 1;
}

// The joinable container `path` names, or a usage error's message.
const Container *container_named(const char *path, const char *role, std::string *message) {
    const char *reason = "";
    const zk_format *format = zk_format_of(path, &reason);
    const Container *container = container_of(format);
    if (container == nullptr) {
        *message = format != nullptr && format->kind == ZK_KIND_MOVIE
                       ? std::string(format->extension) +
                             " segments cannot be joined without encoding again: render PNG "
                             "slices and make the animation from them, or render it in one run"
                       : std::string(role) + " must be an " + joinable_list() + " movie, got " +
                             quoted(path);
    }
    return container;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::puts(kUsage);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--formats") == 0) {
        return list_formats();
    }
    av_log_set_level(AV_LOG_QUIET);  // failures are reported here, in one line
    std::string message;
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0) {
        const Container *container = container_named(argv[2], "the movie", &message);
        if (container == nullptr) {
            return usage_error(message);
        }
        Reader reader(container);
        Segment segment;
        segment.name = argv[2];
        if (!reader.inspect(segment)) {
            return failure(reader.error);
        }
        std::printf("frames=%lld first=%lld rate=%d/%d end=%.6f\n",
                    static_cast<long long>(segment.count), static_cast<long long>(segment.start),
                    segment.rate.num, segment.rate.den, segment.end);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc < 3) {
        return usage_error("needs an output file and at least one segment");
    }
    const Container *container = container_named(argv[1], "the output", &message);
    if (container == nullptr) {
        return usage_error(message);
    }
    for (int i = 2; i < argc; ++i) {
        const char *reason = "";
        if (container_of(zk_format_of(argv[i], &reason)) != container) {
            return usage_error(std::string("segments of ") + container->format +
                               " movies are " + container->format + " files, got " +
                               quoted(argv[i]));
        }
    }
    message = overlap(argv[1], argv + 2, argc - 2);
    if (!message.empty()) {
        return failure(message);
    }
    const char *reason = "";
    if (!zk_output_check(argv[1], &reason)) {
        return failure(write_error(argv[1], reason));
    }
    // Every segment read through and checked before the output is opened.
    std::vector<Segment> segments(argc - 2);
    int64_t delay = 0;
    for (int i = 2; i < argc; ++i) {
        Segment &segment = segments[i - 2];
        segment.name = argv[i];
        Reader reader(container);
        if (!reader.inspect(segment)) {
            return failure(reader.error);
        }
        if (i > 2) {
            message = mismatch(segments[0], segments[i - 3], segment);
            if (!message.empty()) {
                return failure(message);
            }
        }
        delay = std::max(delay, segment.delay);
    }
    message = replaces_slice(container, argv[1], segments);
    if (!message.empty()) {
        return failure(message);
    }
    // Decode stamps run on across segments, one frame apart, as deep behind
    // the frames as the deepest segment's reordering (x264 reorders less at
    // the end of a short segment than in a long one).
    Writer writer(container, argv[1]);
    if (!writer.open(segments[0])) {
        return failure(writer.error);
    }
    int64_t next_dts = segments[0].start - delay;
    for (const Segment &segment : segments) {
        Reader reader(container);
        Segment again;
        again.name = segment.name;
        if (!reader.open(again)) {
            return failure(reader.error);
        }
        if (!writer.copy(reader, segment, &next_dts)) {
            return failure(writer.error);
        }
    }
    return writer.finish() ? 0 : failure(writer.error);
}
