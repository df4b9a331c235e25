// The writers of PNG files, sequences, standard output and scenes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "output/frame_queue.h"
#include "output/output_file.h"
#include "output/png/png_writer.h"
#include "core/state.h"
#include "output/writers.h"

namespace zelkori {
namespace {

const int kMaxPadding = 12;

bool writable(const std::string &path, Failure *failure) {
    const char *reason = "";
    if (zk_output_check(path.c_str(), &reason)) {
        return true;
    }
    failure->cause = reason;
    return false;
}

// One PNG, encoded in the foreground from the rows as GL keeps them.
class PngWriter : public Writer {
  public:
    PngWriter(const OpenRequest &request, const FrameReader &reader)
        : path_(request.path), level_(request.level), reader_(reader) {}

    bool add(Failure *failure) override {
        int width = 0, height = 0;
        if (!read_frame(reader_, rgba_, &width, &height, &failure->cause)) {
            return false;
        }
        const char *reason = "";
        if (!write_png(path_.c_str(), gl_rows(width, height, rgba_.data()), level_, &reason)) {
            failure->cause = reason;
            return false;
        }
        return true;
    }
    bool close(Failure *) override { return true; }

  private:
    const std::string path_;
    const int level_;
    const FrameReader &reader_;
    std::vector<unsigned char> rgba_;
};

// One PNG a frame, numbered from the first frame's number, encoded in the
// background (png_writer.cpp's queue).
class SequenceWriter : public Writer {
  public:
    SequenceWriter(const OpenRequest &request, const FrameReader &reader)
        : pattern_(request.path), level_(request.level), next_(request.first),
          reader_(reader) {}
    ~SequenceWriter() override {
        if (!closed_) {
            save_queue().drop();
            const char *path = "", *reason = "";
            save_queue().wait(&path, &reason);
        }
    }

    bool add(Failure *failure) override {
        std::string name;
        if (!sequence_name(pattern_, next_, &name, &failure->cause)) {
            return false;
        }
        int width = 0, height = 0;
        if (!reader_.size(&width, &height)) {
            failure->cause = kNoFrame;
            return false;
        }
        const int queued = save_queue().push(width, height, name, level_);
        if (queued < 0) {
            failure->cause = "cannot read the frame back from OpenGL";
            return false;
        }
        if (queued == 0) {
            return collect(failure);
        }
        ++next_;
        return true;
    }
    bool close(Failure *failure) override {
        closed_ = true;
        return collect(failure);
    }

  private:
    bool collect(Failure *failure) {
        const char *path = "", *reason = "";
        if (save_queue().wait(&path, &reason)) {
            return true;
        }
        failure->file = path;
        failure->cause = reason;
        return false;
    }

    const std::string pattern_;
    const int level_;
    long long next_;
    const FrameReader &reader_;
    bool closed_ = false;
};

// PNG data on standard output, one image a frame.
class StreamWriter : public Writer {
  public:
    StreamWriter(const OpenRequest &request, const FrameReader &reader)
        : level_(request.level), reader_(reader) {}

    bool add(Failure *failure) override {
        int width = 0, height = 0;
        if (!read_frame(reader_, rgba_, &width, &height, &failure->cause)) {
            return false;
        }
        unsigned char *data = nullptr;
        size_t size = 0;
        const char *reason = "";
        if (!encode_png(gl_rows(width, height, rgba_.data()), level_, &data, &size, &reason)) {
            failure->cause = reason;
            return false;
        }
        size_t done = 0;
        while (done < size) {
            const ssize_t wrote = write(STDOUT_FILENO, data + done, size - done);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote <= 0) {
                failure->cause = zk_errno_text(wrote < 0 ? errno : EIO);
                break;
            }
            done += static_cast<size_t>(wrote);
        }
        free(data);
        return done == size;
    }
    bool close(Failure *) override { return true; }

  private:
    const int level_;
    const FrameReader &reader_;
    std::vector<unsigned char> rgba_;
};

// A glTF scene: from opening to closing the primitives are captured as
// they are drawn, a frame between adds. Made once the capture has
// started.
class SceneWriter : public Writer {
  public:
    SceneWriter(const OpenRequest &request)
        : path_(request.path), fps_(request.fps), lights_(request.lights),
          expected_(request.frames > 0 ? request.frames : 1) {}
    ~SceneWriter() override { zk_capture_stop(); }

    bool add(Failure *failure) override {
        if (added_ == expected_) {
            failure->cause = "the scene was opened for " + std::to_string(expected_) + " frames";
            return false;
        }
        if (++added_ < expected_) {
            zk_capture_frame();
        }
        return true;
    }
    bool close(Failure *failure) override {
        zk_capture_stop();
        if (added_ != expected_) {
            failure->cause = "the scene got " + std::to_string(added_) + " of its " +
                             std::to_string(expected_) + " frames";
            return false;
        }
        const char *reason = "";
        if (!zk_scene_write(path_.c_str(), fps_, lights_, &reason)) {
            failure->cause = reason;
            return false;
        }
        return true;
    }

  private:
    const std::string path_;
    const double fps_;
    const int lights_;
    const long long expected_;
    long long added_ = 0;
};

}  // namespace

bool sequence_name(const std::string &pattern, long long number, std::string *name,
                   std::string *error) {
    std::string out;
    int fields = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        const size_t flags = j;
        while (j < pattern.size() && std::strchr("-0 +#", pattern[j]) != nullptr) {
            ++j;
        }
        const size_t digits = j;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
            ++j;
        }
        if (j >= pattern.size() || std::strchr("diu", pattern[j]) == nullptr || ++fields > 1) {
            *error = "a sequence's name holds one number field such as %04d, got \"" +
                     pattern + "\"";
            return false;
        }
        const std::string width = pattern.substr(digits, j - digits);
        if (!width.empty() && (width.size() > 2 || std::atoi(width.c_str()) > kMaxPadding ||
                               std::atoi(width.c_str()) < 1)) {
            *error = "the number field pads to 1 to " + std::to_string(kMaxPadding) +
                     " digits, got \"" + pattern + "\"";
            return false;
        }
        const std::string field = "%" + pattern.substr(flags, digits - flags) + width + "lld";
        char text[64];
        std::snprintf(text, sizeof text, field.c_str(), number);
        out += text;
        i = j;
    }
    if (fields != 1) {
        *error = "a sequence's name holds one number field such as %04d, got \"" + pattern + "\"";
        return false;
    }
    *name = out;
    return true;
}

WriterPtr open_png(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    return writable(request.path, failure) ? WriterPtr(new PngWriter(request, reader)) : nullptr;
}

WriterPtr open_sequence(const OpenRequest &request, const FrameReader &reader,
                        Failure *failure) {
    std::string first;
    if (!sequence_name(request.path, request.first, &first, &failure->cause)) {
        return nullptr;
    }
    if (!writable(first, failure)) {
        failure->file = first;
        return nullptr;
    }
    return WriterPtr(new SequenceWriter(request, reader));
}

bool stdout_writable(std::string *cause) {
    // A closed one is held open read-only (by the file layer and the
    // launchers), so that writing to it fails as on a closed one.
    const int mode = fcntl(STDOUT_FILENO, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) == O_RDONLY) {
        *cause = "standard output is closed";
        return false;
    }
    return true;
}

WriterPtr open_stream(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    return stdout_writable(&failure->cause) ? WriterPtr(new StreamWriter(request, reader))
                                            : nullptr;
}

WriterPtr open_scene(const OpenRequest &request, const FrameReader &, Failure *failure) {
    if (!writable(request.path, failure)) {
        return nullptr;
    }
    const char *error = "";
    if (!zk_capture_start(&error)) {
        failure->cause = error;
        return nullptr;
    }
    zk_capture_draw(request.pictures ? 1 : 0);
    return WriterPtr(new SceneWriter(request));
}

}  // namespace zelkori
