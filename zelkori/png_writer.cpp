// PNG files, written so that a reader never sees a partial one.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zelkori_host.h"

namespace {

// libpng reports failures through longjmp; nothing with a destructor may
// live in this frame.
bool encode(FILE *file, int width, int height, const unsigned char *rgb,
            int level) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width),
                 static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        png_write_row(png, rgb + stride * static_cast<size_t>(y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

extern "C" int zk_write_png(const char *path, int width, int height,
                            const unsigned char *rgb, int level,
                            const char **error) {
    static const char *unused = nullptr;
    if (error == nullptr) {
        error = &unused;
    }
    if (path == nullptr || *path == '\0' || width < 1 || height < 1 ||
        rgb == nullptr) {
        *error = "nothing to write";
        return 0;
    }
    if (level < 0 || level > 9) {
        level = 6;
    }
    std::string temporary = std::string(path) + ".XXXXXX";
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        *error = errno == ENOENT ? "no such directory" : "cannot create the file";
        return 0;
    }
    fchmod(fd, 0644);
    FILE *file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(name.data());
        *error = "cannot create the file";
        return 0;
    }
    const bool encoded = encode(file, width, height, rgb, level);
    const bool flushed = fflush(file) == 0;
    const bool closed = fclose(file) == 0;
    if (!encoded || !flushed || !closed) {
        unlink(name.data());
        *error = "cannot write the file (disk full?)";
        return 0;
    }
    if (rename(name.data(), path) != 0) {
        unlink(name.data());
        *error = "cannot move the file into place";
        return 0;
    }
    return 1;
}
