// zk_scene_write: the last capture written as a glTF scene.
#include <exception>
#include <string>

#include "output/scene/scene_writer.h"
#include "core/state.h"

extern "C" int zk_scene_write(const char *path, double fps, int lights, const char **error) {
    static thread_local std::string message;
    const char *reason = "no file name";
    try {
        if (path != nullptr &&
            zelkori::write_scene(zelkori::state().capture, path, fps, lights, &message)) {
            return 1;
        }
        reason = path != nullptr ? message.c_str() : reason;
    } catch (const std::exception &) {  // called from C
        reason = "not enough memory to write the scene";
    }
    if (error != nullptr) {
        *error = reason;
    }
    return 0;
}
