// The scene output: a capture of its own, recorded from opening to
// closing, made into a glTF document (scene_document.h) and written whole
// as binary glTF or JSON, as the format's row says.
#include <memory>
#include <string>

#include "core/capture.h"
#include "output/output_file.h"
#include "output/scene/scene_document.h"
#include "output/writers.h"

namespace zelkori {
namespace {

// A glTF scene: from opening to closing the primitives are captured into
// the scene's own capture as they are drawn, a frame between adds; other
// scenes open meanwhile capture the same drawing into theirs.
class SceneWriter : public Writer {
  public:
    SceneWriter(const OpenRequest &request, const FrameReader &reader)
        : request_(request), reader_(reader),
          expected_(request.frames > 0 ? request.frames : 1) {}
    ~SceneWriter() override { stop_capture(capture_); }

    bool start(Failure *failure) {
        if (!start_capture(capture_)) {
            failure->cause = "not enough memory";
            return false;
        }
        capture_.draws = request_.pictures;
        return true;
    }

    bool add(Failure *failure) override {
        // A size given is kept to, as by every output. A frame refused has
        // its primitives recorded already, so the scene fails from then on.
        int width = 0, height = 0;
        if (!refused_.empty() || (request_.width > 0 &&
                                  !frame_size(reader_, request_, "scene", &width, &height, &refused_))) {
            failure->cause = refused_;
            return false;
        }
        if (added_ == expected_) {
            failure->cause = "the scene was opened for " + std::to_string(expected_) + " frames";
            return false;
        }
        if (++added_ < expected_) {
            next_frame(capture_);
        }
        return true;
    }
    bool close(Failure *failure) override {
        stop_capture(capture_);
        if (!refused_.empty()) {
            failure->cause = refused_;
            return false;
        }
        if (added_ != expected_) {
            failure->cause = "the scene got " + std::to_string(added_) + " of its " +
                             std::to_string(expected_) + " frames";
            return false;
        }
        // The row says which form: JSON where it is a text format.
        const bool binary = !(request_.format->flags & ZK_FORMAT_TEXT);
        std::string bytes;
        if (!encode_scene(capture_, request_.fps, request_.lights, binary, &bytes,
                          &failure->cause)) {
            return false;
        }
        const char *message = "";
        if (!zk_output_write(request_.path.c_str(), bytes.data(), bytes.size(), &message)) {
            failure->cause = message;
            return false;
        }
        return true;
    }

  private:
    const OpenRequest request_;
    const FrameReader &reader_;
    Capture capture_;
    std::string refused_;  // why a frame was refused
    const long long expected_;
    long long added_ = 0;
};

}  // namespace

WriterPtr open_scene(const OpenRequest &request, const FrameReader &reader, Failure *failure) {
    std::unique_ptr<SceneWriter> scene(new SceneWriter(request, reader));
    return scene->start(failure) ? WriterPtr(scene.release()) : nullptr;
}

}  // namespace zelkori
