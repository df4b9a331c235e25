// PNG files, written so that a reader never sees a partial one.
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/errors.h"
#include "output/frame_queue.h"
#include "output/png/png_writer.h"
#include "output/output_file.h"
#include "output/png/png_fast.h"
#include "output/writers.h"
#include "zelkori/output.h"

namespace {

// ZK_PNG_FAST, the setting image sequences use, is png_fast.h's path;
// levels 0-9 go through libpng with its adaptive filtering.
const int kFastLevel = ZK_PNG_FAST;
const int kDefaultLevel = zelkori::kDefaultPngLevel;

enum class Encoded { kDone, kWriteFailed, kNoMemory, kEncoderFailed };

// libpng's own handlers print; the library never does, and its callers
// report the failure instead, with libpng's message.
struct PngFailure {
    char message[128] = "";
};

void on_png_error(png_structp png, png_const_charp message) {
    PngFailure *failure = static_cast<PngFailure *>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}
void on_png_warning(png_structp, png_const_charp) {}

// libpng reports failures through longjmp; nothing with a destructor may
// live in this frame. A failed write leaves errno set by the stream.
Encoded encode(FILE *file, const zelkori::PixelRows &image, int level,
               PngFailure &failure) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure,
                                              on_png_error, on_png_warning);
    if (png == nullptr) {
        return Encoded::kNoMemory;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return ferror(file) ? Encoded::kWriteFailed
               : info == nullptr || std::strstr(failure.message, "memory") != nullptr
                   ? Encoded::kNoMemory
                   : Encoded::kEncoderFailed;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8,
                 image.alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (image.pixel_bytes == 4 && !image.alpha) {
        png_set_filler(png, 0, PNG_FILLER_AFTER);  // on writing: drop the fourth byte
    }
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, image.row(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return Encoded::kDone;
}

Encoded encode_fast(FILE *file, const zelkori::PixelRows &image) {
    const zelkori::PngSink to_file = [](void *to, const unsigned char *data, size_t size) {
        return std::fwrite(data, 1, size, static_cast<FILE *>(to)) == size;
    };
    try {
        return zelkori::write_png_fast(image, to_file, file) ? Encoded::kDone
                                                             : Encoded::kWriteFailed;
    } catch (const std::bad_alloc &) {
        return Encoded::kNoMemory;
    }
}

// Encodes into `file` and closes it; fills error on failure.
bool encode_to(FILE *file, const zelkori::PixelRows &image, int level, std::string *error) {
    errno = 0;
    PngFailure failure;
    const Encoded encoded = level == kFastLevel
                                ? encode_fast(file, image)
                                : encode(file, image, level, failure);
    const int write_errno = errno;
    const bool flushed = fflush(file) == 0;
    const int flush_errno = errno;
    const bool closed = fclose(file) == 0;
    if (encoded == Encoded::kDone && flushed && closed) {
        return true;
    }
    if (encoded == Encoded::kEncoderFailed) {
        *error = std::string("libpng: ") + (failure.message[0] != '\0' ? failure.message : "failed");
    } else {
        *error = zk_errno_text(encoded == Encoded::kNoMemory ? ENOMEM
                               : write_errno != 0            ? write_errno
                               : flush_errno != 0            ? flush_errno
                                                             : errno);
    }
    return false;
}

bool write_png_file(const char *path, const zelkori::PixelRows &image, int level,
                    std::string *error) {
    if (path == nullptr || *path == '\0' || image.width < 1 || image.height < 1 ||
        image.top == nullptr) {
        *error = "nothing to write";
        return false;
    }
    if (level != kFastLevel && (level < 0 || level > 9)) {
        level = kDefaultLevel;
    }
    return zelkori::write_stream_file(
        path, [&](FILE *file, std::string *why) { return encode_to(file, image, level, why); },
        error);
}

}  // namespace

namespace zelkori {

// write_png_file for the C interface and the background threads:
// exceptions stop here. Nothing is on disk yet where an allocation can fail.
bool write_png(const char *path, const PixelRows &image, int level, std::string *error) {
    try {
        return write_png_file(path, image, level, error);
    } catch (const std::exception &) {
        *error = zk_errno_text(ENOMEM);
        return false;
    }
}

bool write_png_image(const char *path, const PixelRows &image, const OpenRequest &request,
                     std::string *error) {
    return write_png(path, image, request.level, error);
}

bool encode_png(const PixelRows &image, int level, unsigned char **data, size_t *size,
                std::string *error) {
    *data = nullptr;
    *size = 0;
    if (image.width < 1 || image.height < 1 || image.top == nullptr) {
        *error = "nothing to write";
        return false;
    }
    char *buffer = nullptr;
    FILE *file = open_memstream(&buffer, size);
    if (file == nullptr) {
        *error = zk_errno_text(errno);
        return false;
    }
    try {
        if (!encode_to(file, image,
                       level != kFastLevel && (level < 0 || level > 9) ? kDefaultLevel : level,
                       error)) {
            free(buffer);
            *size = 0;
            return false;
        }
    } catch (const std::exception &) {
        *error = zk_errno_text(ENOMEM);
        return false;
    }
    *data = reinterpret_cast<unsigned char *>(buffer);
    return true;
}

bool read_frame(const FrameReader &reader, std::vector<unsigned char> &rgba, int width,
                int height, std::string *error) {
    try {
        rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    } catch (const std::exception &) {
        *error = "not enough memory for the frame";
        return false;
    }
    if (!reader.read(width, height, rgba.data())) {
        *error = reader.cannot_read();
        return false;
    }
    return true;
}

}  // namespace zelkori

extern "C" int zk_save_frame(const char *path, const char *name, int level,
                             const char **error) {
    zk_writer_params params;
    zk_writer_params_init(&params);
    params.level = level;
    params.name = name;
    const zk_format *format = zk_format_of(path, error);
    if (format == nullptr) {
        return 0;
    }
    if (format->kind != ZK_KIND_STILL) {
        return zelkori::fail(zelkori::write_error(name != nullptr ? name : path,
                                                  "a save writes one still image"),
                             error);
    }
    zk_writer *writer = zk_writer_open(path, &params, error);
    if (writer == nullptr) {
        return 0;
    }
    if (!zk_writer_add(writer, error)) {
        zk_writer_abort(writer);
        return 0;
    }
    return zk_writer_close(writer, error);
}

namespace zelkori {
namespace {

const unsigned kMaxSavers = 4;       // encoder threads at most
const unsigned kQueuedPerSaver = 2;  // frames waiting per thread
const unsigned kMinQueued = 4;       // frames waiting, however few threads

}  // namespace

// Encoding costs about as much as drawing a frame, so a renderer that
// hands frames to other cores keeps its own pace.
std::unique_ptr<FrameQueue> png_queue(const FrameReader &reader, FrameQueue::Work work) {
    // One core is left to the thread that renders, which is the one that
    // sets the pace; the encoders share the rest, and are at least two, so
    // that one encodes while another waits for the disk to take a file
    // that replaces one.
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned threads = std::max(2u, std::min(kMaxSavers, std::max(1u, cores) - 1));
    return std::unique_ptr<FrameQueue>(new FrameQueue(
        reader, threads, std::max(kMinQueued, threads * kQueuedPerSaver), 0, std::move(work)));
}

}  // namespace zelkori
