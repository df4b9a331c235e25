// The writers' C face: what every output shares. The parameters are
// checked against the format table before anything is opened, the frames
// an output was opened for are kept to, every failure is worded once, and
// each output flushes the directories its own files went to.
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "output/errors.h"
#include "output/movie/codecs.h"
#include "output/output_file.h"
#include "output/writers.h"
#include "zelkori/core.h"

struct zk_writer {
    std::unique_ptr<zelkori::FrameReader> source;  // a caller's, outliving the writer
    std::unique_ptr<zelkori::FrameReader> unassociated;  // over the reader, when alpha is kept
    zelkori::WriterPtr writer;
    const zk_format *format = nullptr;
    std::string name;  // as messages give it
    double fps = 0;    // as given, or the format's default
    long long frames = 0;
    long long expected = 0;  // frames it was opened for; 0: not known
    std::string anchor;  // put before a relative name when opened
};

namespace zelkori {
namespace {

// The first frame's number at most: twelve digits, so that a sequence's
// numbers and a movie's timestamps never wrap.
const long long kLastFirst = 999999999999LL;
// A movie's first timestamp, first / fps, at most: MP4 counts its times in
// 64 bits of up to 1/2000000 s.
const double kLastStart = 1e12;

// "1 frame", "2 frames".
std::string frames_text(long long count) {
    return std::to_string(count) + (count == 1 ? " frame" : " frames");
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// How messages name a format.
std::string label(const zk_format &format) {
    return format.flags & ZK_FORMAT_STDOUT ? std::string("standard output")
                                           : std::string("a ") + format.extension + " file";
}

// The limit checks, each on one parameter; false with *error.
bool check_size(const zk_format &format, const zk_codec *codec, int width, int height,
                std::string *error) {
    if (width == 0 && height == 0) {
        return true;  // the frame's own, known when opened
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const int least = codec != nullptr ? codec->min_side : 1;
    if (width < least || height < least || width > format.max_side ||
        height > format.max_side) {
        *error = "width and height must be " + std::to_string(least) + " to " +
                 std::to_string(format.max_side) + " for " +
                 (least > 1 ? std::string(codec->name) + " in " : "") + label(format) + ", got " +
                 size;
        return false;
    }
    if (codec != nullptr && codec->narrow_max > 0 &&
        std::min(width, height) < codec->narrow_below &&
        std::max(width, height) > codec->narrow_max) {
        *error = std::string(codec->name) + " takes a side under " +
                 std::to_string(codec->narrow_below) + " pixels only with the other at most " +
                 std::to_string(codec->narrow_max) + ", got " + size;
        return false;
    }
    if (1LL * width * height > format.max_pixels) {
        *error = size + " is more than the " + std::to_string(format.max_pixels) +
                 " pixels " + label(format) + " can hold";
        return false;
    }
    return true;
}

bool check_fps(const zk_format &format, double fps, std::string *error) {
    if (std::isfinite(fps) && fps > 0 && fps >= format.min_fps && fps <= format.max_fps) {
        return true;
    }
    std::string range = format.min_fps > 0 ? "from " + number(format.min_fps) : "above 0";
    if (std::isfinite(format.max_fps)) {
        range += (format.min_fps > 0 ? " to " : " and at most ") + number(format.max_fps);
    }
    *error = "the rate must be " + range + " frames per second for " + label(format) +
             ", got " + number(fps);
    return false;
}

bool check_frames(const zk_format &format, long long frames, std::string *error) {
    if (frames >= (format.kind == ZK_KIND_SCENE ? 1 : 0) && frames <= format.max_frames) {
        return true;
    }
    *error = frames == 0 ? label(format) + " must be told how many frames it holds, 1 to " +
                               std::to_string(format.max_frames)
             : format.max_frames == 1
                 ? label(format) + " holds one frame; a sequence such as f%04d.png holds many"
                 : label(format) + " holds 1 to " + std::to_string(format.max_frames) +
                       " frames, got " + std::to_string(frames);
    return false;
}

bool check_tag(const zk_format &format, const char *tag, std::string *error) {
    const size_t length = std::strlen(tag);
    if (format.kind != ZK_KIND_MOVIE) {
        *error = "only a movie carries a tag, not " + label(format);
    } else if (length > ZK_TAG_MAX) {
        *error = "a tag holds up to " + std::to_string(ZK_TAG_MAX) + " bytes, got " +
                 std::to_string(length);
    } else if (std::any_of(tag, tag + length,
                           [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
        *error = "a tag holds no control characters";
    }
    return error->empty();
}

bool check(const char *path, const zk_writer_params &params, const zk_format **format,
           const zk_codec **codec, std::string *target, int *field, std::string *error) {
    const char *reason = "";
    *format = zk_format_of(path, &reason);
    if (*format == nullptr) {
        *field = ZK_FIELD_NAME;
        *error = reason;
        return false;
    }
    const zk_format &f = **format;
    const double fps = std::isnan(params.fps) ? f.default_fps : params.fps;
    if (f.container == nullptr && params.codec != nullptr && params.codec[0] != '\0') {
        *field = ZK_FIELD_CODEC;
        *error = "only a movie has a codec to choose, not " + label(f);
    } else if (f.container != nullptr &&
               (*codec = codec_named(f, params.codec, error)) == nullptr) {
        *field = ZK_FIELD_CODEC;
    } else if (!check_size(f, *codec, params.width, params.height, error)) {
        *field = ZK_FIELD_SIZE;
    } else if (!check_fps(f, fps, error)) {
        *field = ZK_FIELD_FPS;
    } else if (!check_frames(f, params.frames, error)) {
        *field = ZK_FIELD_FRAMES;
    } else if (params.quality < -1 || params.quality > f.max_quality) {
        *field = ZK_FIELD_QUALITY;
        *error = "quality runs from 0 to " + std::to_string(f.max_quality) + ", got " +
                 std::to_string(params.quality);
    } else if (params.quality != -1 && !f.takes_quality) {
        *field = ZK_FIELD_QUALITY;
        *error = label(f) + " has no quality to choose";
    } else if (params.first < 0 || params.first > kLastFirst) {
        *field = ZK_FIELD_FIRST;
        *error = "the first frame's number must be 0 to " + std::to_string(kLastFirst) + ", got " +
                 std::to_string(params.first);
    } else if (f.kind == ZK_KIND_MOVIE && params.first / fps > kLastStart) {
        *field = ZK_FIELD_FIRST;
        *error = "frame " + std::to_string(params.first) + " at " + number(fps) +
                 " frames per second is past the " + number(kLastStart) + " seconds " + label(f) +
                 " can time";
    } else if (params.level != ZK_PNG_LEVEL_UNSET && params.level != ZK_PNG_FAST &&
               (params.level < 0 || params.level > 9)) {
        *field = ZK_FIELD_LEVEL;
        *error = "expected a level from 0 to 9 or \"fast\" but got \"" +
                 std::to_string(params.level) + "\"";
    } else if (params.level != ZK_PNG_LEVEL_UNSET && !f.takes_level) {
        *field = ZK_FIELD_LEVEL;
        *error = "only PNG output has a level, not " + label(f);
    } else if (params.lights != -1 &&
               (f.kind != ZK_KIND_SCENE || params.lights < 0 || params.lights > ZK_LIGHTS_NONE)) {
        *field = ZK_FIELD_LIGHTS;
        *error = f.kind != ZK_KIND_SCENE ? "only a scene has lights, not " + label(f)
                                         : "no such lights: " + std::to_string(params.lights);
    } else if (params.pictures != -1 && (f.kind != ZK_KIND_SCENE || (params.pictures != 0 && params.pictures != 1))) {
        *field = ZK_FIELD_PICTURES;
        *error = f.kind != ZK_KIND_SCENE ? "only a scene records without drawing, not " + label(f)
                                         : "pictures are 0 or 1, got " + std::to_string(params.pictures);
    } else if (params.tag != nullptr && params.tag[0] != '\0' && !check_tag(f, params.tag, error)) {
        *field = ZK_FIELD_TAG;
    } else if (params.alpha < -1 || params.alpha > 1) {
        *field = ZK_FIELD_ALPHA;
        *error = "alpha is 0 or 1, got " + std::to_string(params.alpha);
    } else if (params.alpha == 1 && !(f.flags & ZK_FORMAT_ALPHA)) {
        *field = ZK_FIELD_ALPHA;
        *error = label(f) + " cannot be transparent; PNG output can";
    } else if (f.flags & ZK_FORMAT_PATTERN) {
        if (!sequence_name(path, params.first, target, error)) {
            *field = ZK_FIELD_NAME;
        }
    } else {
        *target = path;
    }
    return error->empty();
}

int failed(zk_writer *writer, const Failure &failure, const char **error) {
    std::string file = failure.file.empty() ? writer->name : failure.file;
    if (!writer->anchor.empty() && file.rfind(writer->anchor, 0) == 0) {
        file.erase(0, writer->anchor.size());  // named as it was given
    }
    return fail(write_error(file, failure.cause), error);
}

}  // namespace

std::string anchor(const zk_format &format, const char *path) {
    char here[PATH_MAX];
    if ((format.flags & ZK_FORMAT_STDOUT) || path[0] == '/' ||
        getcwd(here, sizeof here) == nullptr) {
        return "";
    }
    return std::string(here) + "/";
}

zk_writer *open_writer(const char *path, const zk_writer_params &params, const FrameReader &reader,
                       int *field, const char **error) {
    const std::string name = params.name != nullptr ? params.name : path != nullptr ? path : "";
    int unused = 0;
    field = field != nullptr ? field : &unused;
    *field = 0;
    zk_writer *made = nullptr;
    try {
        std::string why, target;
        OpenRequest request;
        if (!check(path, params, &request.format, &request.codec, &target, field, &why)) {
            // A refused parameter as zk_writer_check words it, where asked.
            fail(field != &unused ? why : write_error(name, why), error);
            return nullptr;
        }
        const zk_format &format = *request.format;
        // The target, judged here once for every writer: the first file
        // (named as such where it is a sequence's), or standard output.
        const char *reason = "";
        if ((format.flags & ZK_FORMAT_STDOUT) ? !stdout_writable(&why)
                                              : !zk_output_check(target.c_str(), &reason)) {
            *field = ZK_FIELD_TARGET;
            why = (format.flags & ZK_FORMAT_STDOUT) ? why : reason;
            fail(write_error((format.flags & ZK_FORMAT_PATTERN) ? target : name, why), error);
            return nullptr;
        }
        const std::string anchor = zelkori::anchor(format, path);
        // In a sequence's pattern the directory's own % signs are literal.
        std::string before = anchor;
        for (size_t at = before.find('%'); (format.flags & ZK_FORMAT_PATTERN) && at != std::string::npos;
             at = before.find('%', at + 2)) {
            before.insert(at, 1, '%');
        }
        request.path = before + path;
        request.width = params.width;
        request.height = params.height;
        if (format.kind == ZK_KIND_MOVIE && request.width == 0) {
            if (!reader.size(&request.width, &request.height)) {
                fail(write_error(name, kNoFrame), error);
                return nullptr;
            }
            if (!check_size(format, request.codec, request.width, request.height, &why)) {
                fail(write_error(name, why), error);
                return nullptr;
            }
        }
        request.fps = std::isnan(params.fps) ? format.default_fps : params.fps;
        request.quality = params.quality < 0 ? format.default_quality : params.quality;
        request.level = params.level == ZK_PNG_LEVEL_UNSET ? format.default_level : params.level;
        request.first = params.first;
        request.frames = params.frames;
        request.lights = params.lights < 0 ? ZK_LIGHTS_WEB : params.lights;
        request.pictures = params.pictures != 0;
        request.tag = params.tag != nullptr ? params.tag : "";
        double rgb[3];
        request.alpha = params.alpha == 1 ||
                        (params.alpha == -1 && (format.flags & ZK_FORMAT_ALPHA) &&
                         zk_background_get(rgb));
        std::unique_ptr<FrameReader> unassociated;
        if (request.alpha) {
            unassociated.reset(new UnassociatedReader(reader));
        }
        Failure failure;
        WriterPtr writer = format.writer->open(request, request.alpha ? *unassociated : reader,
                                               &failure);
        made = new zk_writer;
        made->unassociated = std::move(unassociated);
        made->format = request.format;
        made->name = name;
        made->fps = request.fps;
        made->expected = request.frames;
        made->anchor = anchor;
        if (writer == nullptr) {
            failed(made, failure, error);
            delete made;
            return nullptr;
        }
        made->writer = std::move(writer);
        return made;
    } catch (const std::exception &) {  // no memory or no thread
        delete made;
        fail(write_error(name, "not enough memory"), error);
        return nullptr;
    }
}

int close_writer(zk_writer *writer, DirectorySet *directories, const char **error) {
    if (writer == nullptr) {
        return fail("no output is open", error);
    }
    int done = 1;
    try {
        Failure failure;
        if (writer->frames == 0) {
            writer->writer.reset();
            done = failed(writer, {"no frame was added", ""}, error);
        } else if (writer->expected > 0 && writer->frames < writer->expected) {
            // Each file of a sequence is a whole frame: all those added are
            // written, not as many as the queue had reached. A frame that
            // could not be written is the cause to report.
            Failure written;
            const bool kept = !(writer->format->flags & ZK_FORMAT_PATTERN) ||
                              writer->writer->close(&written);
            writer->writer.reset();
            const std::string why = "got " + std::to_string(writer->frames) + " of the " +
                                    frames_text(writer->expected) + " it was opened for";
            done = failed(writer, kept ? Failure{why, ""} : written, error);
        } else {
            DirectorySet &own = writer->writer->directories;
            bool closed = false;
            {
                CollectDirectories noting(directories != nullptr ? *directories : own);
                closed = writer->writer->close(&failure);
            }
            // The new names are made to last once, at the end.
            if (!closed || (directories == nullptr && !own.sync(&failure.file, &failure.cause))) {
                done = failed(writer, failure, error);
            }
        }
    } catch (const std::exception &) {
        done = failed(writer, {"not enough memory", ""}, error);
    }
    delete writer;
    return done;
}

}  // namespace zelkori

extern "C" {

void zk_writer_params_init(zk_writer_params *params) {
    *params = zk_writer_params();
    params->fps = NAN;
    params->quality = -1;
    params->level = ZK_PNG_LEVEL_UNSET;
    params->lights = -1;
    params->pictures = -1;
    params->alpha = -1;
}

int zk_writer_check(const char *path, const zk_writer_params *params, const zk_format **format,
                    const char **target, int *field, const char **error) {
    static thread_local std::string first;
    try {
        std::string why;
        int which = 0;
        const zk_format *found = nullptr;
        const zk_codec *codec = nullptr;
        const bool ok = zelkori::check(path, *params, &found, &codec, &first, &which, &why);
        if (field != nullptr) {
            *field = which;
        }
        if (format != nullptr) {
            *format = found;
        }
        if (!ok) {
            return zelkori::fail(why, error);
        }
        if (target != nullptr) {
            *target = first.c_str();
        }
        return 1;
    } catch (const std::exception &) {
        return zelkori::fail("not enough memory", error);
    }
}

int zk_sequence_field(const char *path, const char **before, const char **field,
                      const char **after, const char **error) {
    static thread_local zelkori::SequenceField split;
    try {
        std::string why;
        if (!zelkori::sequence_field(path, &split, &why)) {
            return zelkori::fail(why, error);
        }
    } catch (const std::exception &) {
        return zelkori::fail("not enough memory", error);
    }
    *before = split.before.c_str();
    *field = split.field.c_str();
    *after = split.after.c_str();
    return 1;
}

zk_writer *zk_writer_open(const char *path, const zk_writer_params *params, const char **error) {
    return zelkori::open_writer(path, *params, zelkori::gl_frame_reader(), nullptr, error);
}

// With frames from `source` (NULL: the current OpenGL context's).
static zk_writer *open_with(const char *path, const zk_writer_params *params,
                            const zk_frame_source *source, int *field, const char **error) {
    if (source == nullptr) {
        return zelkori::open_writer(path, *params, zelkori::gl_frame_reader(), field, error);
    }
    std::unique_ptr<zelkori::FrameReader> reader;
    try {
        reader.reset(new zelkori::SourceReader(*source));
    } catch (const std::exception &) {
        zelkori::fail("not enough memory", error);
        return nullptr;
    }
    zk_writer *writer = zelkori::open_writer(path, *params, *reader, field, error);
    if (writer != nullptr) {
        writer->source = std::move(reader);
    }
    return writer;
}

zk_writer *zk_writer_open_field(const char *path, const zk_writer_params *params,
                                const zk_frame_source *source, int *field, const char **error) {
    int which = 0;
    field = field != nullptr ? field : &which;
    *field = 0;
    return open_with(path, params, source, field, error);
}

zk_writer *zk_writer_open_from(const char *path, const zk_writer_params *params,
                               const zk_frame_source *source, const char **error) {
    return open_with(path, params, source, nullptr, error);
}

int zk_writer_add(zk_writer *writer, const char **error) {
    if (writer == nullptr) {
        return zelkori::fail("no output is open", error);
    }
    try {
        if (writer->frames >= writer->format->max_frames) {
            std::string why;
            zelkori::check_frames(*writer->format, writer->frames + 1, &why);
            return zelkori::failed(writer, {why, ""}, error);
        }
        if (writer->expected > 0 && writer->frames >= writer->expected) {
            const std::string why = "it was opened for " + zelkori::frames_text(writer->expected) +
                                    "; this is one more";
            return zelkori::failed(writer, {why, ""}, error);
        }
        zelkori::Failure failure;
        if (!writer->writer->add(&failure)) {
            return zelkori::failed(writer, failure, error);
        }
        writer->frames += 1;
        return 1;
    } catch (const std::exception &) {
        return zelkori::failed(writer, {"not enough memory", ""}, error);
    }
}

int zk_writers_add(zk_writer *const *writers, int count, const char **error) {
    if (count == 1) {
        return zk_writer_add(writers[0], error);  // nothing to share: no copy
    }
    const zelkori::SharedFrame frame;
    std::string first;
    bool done = true;
    for (int i = 0; i < count; ++i) {
        const char *why = "";
        if (!zk_writer_add(writers[i], &why) && done) {
            done = false;
            first = why;
        }
    }
    return done ? 1 : zelkori::fail(first, error);
}

int zk_writer_close(zk_writer *writer, const char **error) {
    return zelkori::close_writer(writer, nullptr, error);
}

void zk_writer_abort(zk_writer *writer) { delete writer; }

const char *zk_write_error(const char *name, const char *cause) {
    const char *kept = "";
    zelkori::fail(zelkori::write_error(name, cause), &kept);
    return kept;
}

double zk_writer_fps(const zk_writer *writer) { return writer != nullptr ? writer->fps : 0; }

long long zk_writer_frames(const zk_writer *writer) {
    return writer != nullptr ? writer->frames : 0;
}

}  // extern "C"
