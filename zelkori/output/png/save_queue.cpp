// Background saves: each save is a still's writer, opened, given its frame
// and closed on the queue's threads, the frame having been read at the
// call. A save's failure is kept for the wait and stops no other save.
#include "output/png/save_queue.h"

#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "output/errors.h"
#include "output/frame_queue.h"
#include "output/output_file.h"
#include "output/png/png_writer.h"
#include "output/writers.h"

struct zk_save_queue {
    std::unique_ptr<zelkori::FrameReader> source;  // a caller's, outliving the frames
    zelkori::DirectorySet directories;  // of the files written since the last wait
    std::mutex mutex;        // over the failures
    std::string failure;     // the first since the last wait
    long long failures = 0;  // since the last wait
    std::unique_ptr<zelkori::FrameQueue> frames;

    void note(const std::string &message) {
        std::lock_guard<std::mutex> lock(mutex);
        if (failures++ == 0) {
            failure = message;
        }
    }
};

namespace zelkori {
namespace {

// The frame a save read at its call, for the save's writer.
class KeptFrame : public FrameReader {
  public:
    explicit KeptFrame(const QueuedFrame &frame) : frame_(frame) {}
    bool size(int *width, int *height) const override {
        *width = frame_.width;
        *height = frame_.height;
        return true;
    }
    bool read(int width, int height, unsigned char *rgba) const override {
        if (width != frame_.width || height != frame_.height) {
            return false;
        }
        std::memcpy(rgba, frame_.rgba.data(), static_cast<size_t>(width) * height * 4);
        return true;
    }

  private:
    const QueuedFrame &frame_;
};

// One save, on a queue thread; its failure goes to the queue.
void save(zk_save_queue &queue, const QueuedFrame &frame) {
    try {
        const KeptFrame kept(frame);
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.level = frame.level;
        params.quality = frame.quality;
        params.name = frame.name.c_str();
        const char *error = "";
        zk_writer *writer = open_writer(frame.path.c_str(), params, kept, nullptr, &error);
        if (writer != nullptr) {
            if (!zk_writer_add(writer, &error)) {
                zk_writer_abort(writer);
            } else if (close_writer(writer, &queue.directories, &error)) {
                return;
            }
        }
        queue.note(error);
    } catch (const std::exception &) {
        queue.note(write_error(frame.name, "not enough memory"));
    }
}

}  // namespace

zk_save_queue *new_save_queue(const FrameReader &reader) {
    try {
        std::unique_ptr<zk_save_queue> queue(new zk_save_queue);
        zk_save_queue *kept = queue.get();
        queue->frames = png_queue(reader, [kept](const QueuedFrame &frame, std::string *) {
            save(*kept, frame);
            return true;  // a failed save stops no other
        });
        return queue.release();
    } catch (const std::exception &) {
        return nullptr;
    }
}

}  // namespace zelkori

extern "C" {

zk_save_queue *zk_save_queue_new(void) { return zelkori::new_save_queue(zelkori::gl_frame_reader()); }

zk_save_queue *zk_save_queue_new_from(const zk_frame_source *source) {
    try {
        std::unique_ptr<zelkori::FrameReader> reader(new zelkori::SourceReader(*source));
        zk_save_queue *queue = zelkori::new_save_queue(*reader);
        if (queue != nullptr) {
            queue->source = std::move(reader);
        }
        return queue;
    } catch (const std::exception &) {
        return nullptr;
    }
}

int zk_save_queue_add(zk_save_queue *queue, const char *path, const zk_writer_params *params,
                      const char **error) {
    const char *name = params->name != nullptr ? params->name : path;
    const char *why = "";
    const zk_format *format = zk_format_of(path, &why);
    if (format != nullptr && format->kind != ZK_KIND_STILL) {
        return zelkori::fail(zelkori::write_error(name, "a save writes one still image"), error);
    }
    if (!zk_writer_check(path, params, &format, nullptr, nullptr, &why)) {
        return zelkori::fail(zelkori::write_error(name != nullptr ? name : "", why), error);
    }
    try {
        zelkori::FrameQueue &frames = *queue->frames;
        int width = 0, height = 0;
        if (!frames.reader().size(&width, &height)) {
            return zelkori::fail(zelkori::write_error(name, zelkori::kNoFrame), error);
        }
        // Written later, where the name meant when the save was asked for.
        const std::string target = zelkori::anchor(*format, path) + path;
        if (frames.push(width, height, target, params->level, name, params->quality) < 0) {
            return zelkori::fail(zelkori::write_error(name, frames.reader().cannot_read()), error);
        }
        return 1;
    } catch (const std::exception &) {  // no memory for the frame, or no thread
        return zelkori::fail(zelkori::write_error(name, "not enough memory"), error);
    }
}

int zk_save_queue_wait(zk_save_queue *queue, const char **error) {
    std::string path, reason;
    queue->frames->wait(&path, &reason);  // the saves keep their own failures
    std::string directory, cause;
    if (!queue->directories.sync(&directory, &cause)) {
        queue->note(zelkori::write_error(directory, cause));
    }
    std::string message;
    long long failures = 0;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        message.swap(queue->failure);
        failures = queue->failures;
        queue->failures = 0;
    }
    if (failures == 0) {
        return 1;
    }
    if (failures > 1) {
        message += "; " + std::to_string(failures - 1) + " more " +
                   (failures == 2 ? "save" : "saves") + " failed";
    }
    return zelkori::fail(message, error);
}

int zk_save_queue_free(zk_save_queue *queue, const char **error) {
    if (queue == nullptr) {
        return 1;
    }
    const int done = zk_save_queue_wait(queue, error);
    queue->frames->finish();
    delete queue;
    return done;
}

}  // extern "C"
