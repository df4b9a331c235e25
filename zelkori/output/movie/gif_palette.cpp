// GIF's two passes: one palette gathered from every frame of the
// animation while the frames wait, deflated, in a file with no name; then
// every kept frame mapped onto it and encoded.
#include <fcntl.h>
#include <unistd.h>
#include <isa-l/igzip_lib.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <cerrno>
#include <cmath>
#include <cstring>

#include "output/movie/encoder.h"

namespace zelkori {

// A buffer source for frames of `width` x `height` in `pixels`.
int Movie::frame_source(AVFilterGraph *graph, AVFilterContext **source, const char *name,
                        int source_width, int source_height, int pixels) {
    char arguments[128];
    std::snprintf(arguments, sizeof arguments,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1", source_width,
                  source_height, pixels, time_base.num, time_base.den);
    return avfilter_graph_create_filter(source, avfilter_get_by_name("buffer"), name, arguments,
                                        nullptr, graph);
}

// The first pass: one palette from every frame of the animation, exactly
// as many colours as the quality asks.
bool Movie::open_gather(int quality) {
    AVFilterGraph *graph = gather = avfilter_graph_alloc();
    if (graph == nullptr) {
        return fail("not enough memory", 0);
    }
    char arguments[96];
    std::snprintf(arguments, sizeof arguments,
                  "max_colors=%d:reserve_transparent=0:stats_mode=full",
                  static_cast<int>(std::lround(knob(quality))));
    AVFilterContext *palette = nullptr;
    int code = frame_source(graph, &gather_in, "in", width, height, AV_PIX_FMT_RGB32);
    if (code >= 0) {
        code = avfilter_graph_create_filter(&palette, avfilter_get_by_name("palettegen"), "palette",
                                            arguments, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_graph_create_filter(&gather_out, avfilter_get_by_name("buffersink"), "out",
                                            nullptr, nullptr, graph);
    }
    if (code >= 0) {
        code = avfilter_link(gather_in, 0, palette, 0);
    }
    if (code >= 0) {
        code = avfilter_link(palette, 0, gather_out, 0);
    }
    if (code >= 0) {
        code = avfilter_graph_config(graph, nullptr);
    }
    if (code < 0) {
        return fail("the palette filters failed", code);
    }
    // Frames wait beside the movie's temporary file, in a file with no name
    // that goes with the process.
    const std::string beside = zk_output_target(output);
    const size_t slash = beside.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : beside.substr(0, slash + 1);
    const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    spill = fd >= 0 ? fdopen(fd, "w+b") : std::tmpfile();
    if (spill == nullptr) {
        const int cause = errno;
        if (fd >= 0) {
            close(fd);
        }
        return fail(std::string("cannot keep the frames for the palette: ") + zk_errno_text(cause),
                    0);
    }
    // Deflate's stored blocks add 5 bytes in 65535 at worst.
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    packed.resize(bytes);
    deflated.resize(bytes + bytes / 8192 + 4096);
    level_buffer.resize(ISAL_DEF_LVL1_DEFAULT);
    return true;
}

// The first pass for one frame: the palette sees it, the spill file keeps
// it. The filters take BGRA, so that nothing converts it twice.
bool Movie::gather_frame(const PixelRows &image) {
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
        return fail(zk_errno_text(errno), 0);  // as any write of the movie
    }
    return true;
}

// The packed frame into `frame`, whose rows may be padded.
bool Movie::put_packed() {
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

// Frames the palette mapping has let through go to the encoder.
bool Movie::drain_mapping() {
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

// The second pass: the palette is complete; every kept frame is mapped
// onto it and encoded.
bool Movie::map_frames() {
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
    // The last kept frames reach the file here: a full disk is a write's
    // failure, as any write of the movie.
    if (std::fflush(spill) != 0) {
        return fail(zk_errno_text(errno), 0);
    }
    if (std::fseek(spill, 0, SEEK_SET) != 0) {
        return fail(std::string("cannot read the kept frames: ") + zk_errno_text(errno), 0);
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

// The mapping of each frame onto the gathered palette.
bool Movie::open_mapping(const AVFrame *colours) {
    AVFilterGraph *graph = mapping = avfilter_graph_alloc();
    if (graph == nullptr) {
        return fail("not enough memory", 0);
    }
    AVFilterContext *use = nullptr;
    int code = frame_source(graph, &map_in, "in", width, height, AV_PIX_FMT_RGB32);
    if (code >= 0) {
        code = frame_source(graph, &map_palette, "palette", colours->width, colours->height,
                            colours->format);
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

}  // namespace zelkori
