// The writer interface every format implements: opened on a target with
// its parameters, given frames, then closed or abandoned. The C face is
// zk_writer_* in zelkori/output.h (output.cpp), which adds what every output
// shares: the checks against the format table, the frame count, and the
// wording of failures.
#ifndef ZELKORI_WRITERS_H
#define ZELKORI_WRITERS_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "output/directories.h"
#include "output/frame_reader.h"
#include "output/pixels.h"
#include "zelkori/output.h"

struct zk_codec;

namespace zelkori {

struct OpenRequest {
    std::string path;  // in the file system's encoding
    const zk_format *format = nullptr;
    int width = 0, height = 0;
    double fps = 0;
    int quality = 0;
    int level = 0;
    long long first = 0;
    long long frames = 0;  // 0: not known
    int lights = ZK_LIGHTS_WEB;  // a scene's
    bool pictures = true;        // a scene's primitives draw while recorded
    std::string tag;             // a movie's picture, for its rendered-with tag
    const zk_codec *codec = nullptr;  // a movie's, one its container holds
    bool alpha = false;          // the frame's alpha kept (formats with ZK_FORMAT_ALPHA)
};

// Why a writer failed: the cause, and the file when it is not the
// target's name (a sequence's frame).
struct Failure {
    std::string cause;
    std::string file;
};

class Writer {
  public:
    // Destroying a writer that was not closed leaves nothing unfinished.
    virtual ~Writer() = default;
    // Reads the current frame from the reader given at opening and takes
    // it. False with *failure.
    virtual bool add(Failure *failure) = 0;
    // Finishes the output. False with *failure; nothing unfinished is left.
    virtual bool close(Failure *failure) = 0;

    // Where the files this output renamed into place went, flushed when it
    // closes; close() runs with its thread noting into it (directories.h).
    DirectorySet directories;
};

typedef std::unique_ptr<Writer> WriterPtr;

// The writers, one per kind of output; each returns null with *failure.
// Each is opened on a target open_writer has judged writable. A still's
// and a sequence's images are written by their row's encoder.
WriterPtr open_still(const OpenRequest &request, const FrameReader &reader, Failure *failure);
WriterPtr open_sequence(const OpenRequest &request, const FrameReader &reader,
                        Failure *failure);
WriterPtr open_stream(const OpenRequest &request, const FrameReader &reader, Failure *failure);
WriterPtr open_scene(const OpenRequest &request, const FrameReader &reader, Failure *failure);
// Movies load FFmpeg on first use (movie_module.h).
WriterPtr open_movie(const OpenRequest &request, const FrameReader &reader, Failure *failure);
// A web page, from the page built beside this library (page_writer.cpp).
WriterPtr open_page(const OpenRequest &request, const FrameReader &reader, Failure *failure);

// The directory this library was loaded from, ending in '/' ("" when not
// known): the files it loads when first needed sit there.
const std::string &library_directory();

// zk_writer_open with frames from `reader`; zk_writer_close, with the
// directories noted into `directories` for the caller to flush (null: the
// writer's own, flushed).
// *field (where not null) as zk_writer_open_field sets it, with its wording.
zk_writer *open_writer(const char *path, const zk_writer_params &params, const FrameReader &reader,
                       int *field, const char **error);
int close_writer(zk_writer *writer, DirectorySet *directories, const char **error);

// A relative name means the directory current when the output is opened
// (or a save is asked for), whatever the process does later: the directory
// to put before it; "" for an absolute name and for standard output.
std::string anchor(const zk_format &format, const char *path);

// Writes the file at `path` the safe way (output_file.h): `encode` fills
// the stream and closes it, false with *error (the cause) when it or a
// write failed, which leaves what was at `path`.
bool write_stream_file(const char *path,
                       const std::function<bool(std::FILE *file, std::string *error)> &encode,
                       std::string *error);

// The frame's size when it has the one asked for (none asked: any);
// false with the cause otherwise. `what` names the output in the cause.
bool frame_size(const FrameReader &reader, const OpenRequest &request, const char *what,
                int *width, int *height, std::string *cause);

// Whether standard output takes data; false with *cause.
bool stdout_writable(std::string *cause);

// A sequence's name split at its number field: the name before and after
// it (%% read as a percent sign) and the field as printf writes an int
// ("%05d"). False with *error for a name that holds not exactly one.
struct SequenceField {
    std::string before, field, after;
};
bool sequence_field(const std::string &pattern, SequenceField *split, std::string *error);

// The file a sequence's frame `number` goes to, from its printf pattern
// (one integer field). False with *error for a pattern that is not one.
bool sequence_name(const std::string &pattern, long long number, std::string *name,
                   std::string *error);

}  // namespace zelkori

namespace zelkori {

// PNG's level when none is given (the rows' default_level): zlib's own.
const int kDefaultPngLevel = 6;

// The image encoders still and sequence rows name: each writes `image` to
// `path` whole or not at all, at the request's level (PNG) or quality
// (JPEG). False with *error, the cause alone.
typedef bool ImageEncoder(const char *path, const PixelRows &image, const OpenRequest &request,
                          std::string *error);
ImageEncoder write_png_image;   // png/png_writer.cpp
ImageEncoder write_jpeg_image;  // jpeg/jpeg_writer.cpp

}  // namespace zelkori

// A format row's writer (zk_format.writer): what opens its files, and for
// a still or a sequence what encodes each image.
struct zk_format_writer {
    zelkori::WriterPtr (*open)(const zelkori::OpenRequest &request,
                               const zelkori::FrameReader &reader, zelkori::Failure *failure);
    zelkori::ImageEncoder *image;
};

#endif
