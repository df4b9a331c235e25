// The writers of still images, sequences and standard output.
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
#include "output/writers.h"

namespace zelkori {
namespace {

const int kMaxPadding = 12;
const size_t kFileBufferBytes = 64 * 1024;

}  // namespace

bool frame_size(const FrameReader &reader, const OpenRequest &request, const char *what,
                int *width, int *height, std::string *cause) {
    if (!reader.size(width, height)) {
        *cause = kNoFrame;
        return false;
    }
    if (request.width > 0 && (*width != request.width || *height != request.height)) {
        *cause = "the frame is " + std::to_string(*width) + "x" + std::to_string(*height) +
                 " but the " + what + " is " + std::to_string(request.width) + "x" +
                 std::to_string(request.height);
        return false;
    }
    return true;
}

namespace {

// One still image: the frame is read at add and kept; the file is written
// at close by the row's encoder, so that nothing reaches the target before
// it, and an abort leaves what was there.
class StillWriter : public Writer {
  public:
    StillWriter(const OpenRequest &request, const FrameReader &reader)
        : request_(request), reader_(reader) {}

    bool add(Failure *failure) override {
        if (!frame_size(reader_, request_, "image", &width_, &height_, &failure->cause)) {
            return false;
        }
        return read_frame(reader_, rgba_, width_, height_, &failure->cause);
    }
    bool close(Failure *failure) override {
        return request_.format->writer->image(request_.path.c_str(), rows(), request_,
                                              &failure->cause);
    }

  private:
    PixelRows rows() const {
        PixelRows rows = gl_rows(width_, height_, rgba_.data());
        rows.alpha = request_.alpha;
        return rows;
    }

    const OpenRequest request_;
    const FrameReader &reader_;
    int width_ = 0, height_ = 0;
    std::vector<unsigned char> rgba_;
};

// One image a frame, numbered from the first frame's number, encoded by
// the row's encoder in the background by a queue of the sequence's own:
// what happens to it (a failure, an abort) happens to no other output.
class SequenceWriter : public Writer {
  public:
    SequenceWriter(const OpenRequest &request, const FrameReader &reader)
        : request_(request), next_(request.first), reader_(reader),
          frames_(png_queue(reader, [this](const QueuedFrame &frame, std::string *error) {
              const CollectDirectories noting(directories);
              PixelRows rows = frame.rows();
              rows.alpha = request_.alpha;
              return request_.format->writer->image(frame.path.c_str(), rows, request_, error);
          })) {}
    // Abandoned: frames not yet taken are dropped, those being written
    // finish.
    ~SequenceWriter() override { frames_->drop(); }

    bool add(Failure *failure) override {
        if (broken_) {
            *failure = failure_;
            return false;
        }
        std::string name;
        int width = 0, height = 0;
        if (!sequence_name(request_.path, next_, &name, &failure->cause) ||
            !frame_size(reader_, request_, "sequence", &width, &height, &failure->cause)) {
            return false;
        }
        const int queued = frames_->push(width, height, name, request_.level);
        if (queued < 0) {
            failure->cause = reader_.cannot_read();
            return false;
        }
        if (queued == 0) {
            return collect(failure);
        }
        ++next_;
        return true;
    }
    bool close(Failure *failure) override { return collect(failure); }

  private:
    // A frame that failed is lost: the sequence fails from then on, at
    // every add and at its close, with that frame's failure.
    bool collect(Failure *failure) {
        broken_ = broken_ || !frames_->wait(&failure_.file, &failure_.cause);
        *failure = failure_;
        return !broken_;
    }

    const OpenRequest request_;
    long long next_;
    bool broken_ = false;
    Failure failure_;  // the first frame that failed
    const FrameReader &reader_;
    const std::unique_ptr<FrameQueue> frames_;
};

// PNG data on standard output, one image a frame.
class StreamWriter : public Writer {
  public:
    StreamWriter(const OpenRequest &request, const FrameReader &reader)
        : request_(request), level_(request.level), reader_(reader) {}

    bool add(Failure *failure) override {
        int width = 0, height = 0;
        if (!frame_size(reader_, request_, "frame", &width, &height, &failure->cause) ||
            !read_frame(reader_, rgba_, width, height, &failure->cause)) {
            return false;
        }
        unsigned char *data = nullptr;
        size_t size = 0;
        PixelRows rows = gl_rows(width, height, rgba_.data());
        rows.alpha = request_.alpha;
        if (!encode_png(rows, level_, &data, &size, &failure->cause)) {
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
    const OpenRequest request_;
    const int level_;
    const FrameReader &reader_;
    std::vector<unsigned char> rgba_;
};

}  // namespace

bool sequence_field(const std::string &pattern, SequenceField *split, std::string *error) {
    SequenceField out;
    std::string *part = &out.before;
    int fields = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            *part += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            *part += '%';
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
        // %i and %u write what %d does for the numbers a frame has.
        out.field = "%" + pattern.substr(flags, digits - flags) + width + "d";
        part = &out.after;
        i = j;
    }
    if (fields != 1) {
        *error = "a sequence's name holds one number field such as %04d, got \"" + pattern + "\"";
        return false;
    }
    *split = out;
    return true;
}

bool sequence_name(const std::string &pattern, long long number, std::string *name,
                   std::string *error) {
    SequenceField split;
    if (!sequence_field(pattern, &split, error)) {
        return false;
    }
    const std::string field = split.field.substr(0, split.field.size() - 1) + "lld";
    char text[64];
    std::snprintf(text, sizeof text, field.c_str(), number);
    *name = split.before + text + split.after;
    return true;
}

// The writers' opens: the target was judged by open_writer.
WriterPtr open_still(const OpenRequest &request, const FrameReader &reader, Failure *) {
    return WriterPtr(new StillWriter(request, reader));
}

WriterPtr open_sequence(const OpenRequest &request, const FrameReader &reader,
                        Failure *) {
    return WriterPtr(new SequenceWriter(request, reader));
}

bool write_stream_file(const char *path,
                       const std::function<bool(std::FILE *file, std::string *error)> &encode,
                       std::string *error) {
    const char *reason = "";
    zk_output *output = zk_output_open(path, &reason);
    if (output == nullptr) {
        *error = reason;
        return false;
    }
    // A stream of its own over a copy of the descriptor, which
    // zk_output_commit closes.
    const int fd = dup(zk_output_fd(output));
    std::FILE *file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        *error = zk_errno_text(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        zk_output_abort(output);
        return false;
    }
    setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);  // a frame in a few writes
    if (!encode(file, error)) {
        zk_output_abort(output);
        return false;
    }
    if (!zk_output_commit(output, &reason)) {
        *error = reason;
        return false;
    }
    return true;
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

WriterPtr open_stream(const OpenRequest &request, const FrameReader &reader, Failure *) {
    return WriterPtr(new StreamWriter(request, reader));
}

}  // namespace zelkori
