// JPEG files through libjpeg-turbo: the encoder still and sequence rows of
// JPEG name (formats.cpp). Quality 0-100 is libjpeg's own scale (0 reads
// as 1, its lowest); 4:2:0 chroma, as every viewer expects. Frames go in
// as GL keeps them (RGBX rows), with no copy.
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

#include "output/output_file.h"
#include "output/writers.h"

namespace zelkori {
namespace {

// libjpeg's own handlers print and exit; the library never does, and its
// callers report the failure instead, with libjpeg's message.
struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

void on_jpeg_error(j_common_ptr jpeg) {
    JpegFailure *failure = reinterpret_cast<JpegFailure *>(jpeg->err);
    jpeg->err->format_message(jpeg, failure->message);
    std::longjmp(failure->jump, 1);
}
void on_jpeg_message(j_common_ptr, int) {}

// libjpeg reports failures through longjmp; nothing with a destructor may
// live in this frame. A failed write leaves errno set by the stream.
bool compress(std::FILE *file, const PixelRows &image, int quality, JpegFailure &failure) {
    jpeg_compress_struct jpeg;
    jpeg.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = on_jpeg_error;
    failure.manager.emit_message = on_jpeg_message;
    if (setjmp(failure.jump)) {
        jpeg_destroy_compress(&jpeg);
        return false;
    }
    jpeg_create_compress(&jpeg);
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = static_cast<JDIMENSION>(image.width);
    jpeg.image_height = static_cast<JDIMENSION>(image.height);
    jpeg.input_components = image.pixel_bytes;
    jpeg.in_color_space = image.pixel_bytes == 4 ? JCS_EXT_RGBX : JCS_RGB;
    jpeg_set_defaults(&jpeg);
    jpeg_set_quality(&jpeg, quality < 1 ? 1 : quality, TRUE);
    jpeg_start_compress(&jpeg, TRUE);
    while (jpeg.next_scanline < jpeg.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.row(static_cast<int>(jpeg.next_scanline)));
        jpeg_write_scanlines(&jpeg, &row, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    return true;
}

// Encodes into `file` and closes it; fills error on failure.
bool encode_to(std::FILE *file, const PixelRows &image, int quality, std::string *error) {
    errno = 0;
    JpegFailure failure;
    const bool encoded = compress(file, image, quality, failure);
    const int write_errno = errno;
    const bool write_failed = std::ferror(file) != 0;
    const bool flushed = std::fflush(file) == 0;
    const int flush_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (encoded && flushed && closed) {
        return true;
    }
    if (!encoded && !write_failed) {
        *error = std::string("libjpeg: ") + (failure.message[0] != '\0' ? failure.message : "failed");
    } else {
        *error = zk_errno_text(write_errno != 0 ? write_errno
                               : flush_errno != 0 ? flush_errno
                                                  : errno != 0 ? errno : EIO);
    }
    return false;
}

}  // namespace

bool write_jpeg_image(const char *path, const PixelRows &image, const OpenRequest &request,
                      std::string *error) {
    if (path == nullptr || *path == '\0' || image.width < 1 || image.height < 1 ||
        image.top == nullptr) {
        *error = "nothing to write";
        return false;
    }
    try {
        return write_stream_file(
            path,
            [&](std::FILE *file, std::string *why) {
                return encode_to(file, image, request.quality, why);
            },
            error);
    } catch (const std::exception &) {
        *error = zk_errno_text(ENOMEM);
        return false;
    }
}

}  // namespace zelkori
