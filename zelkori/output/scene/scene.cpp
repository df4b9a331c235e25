// zk_scene_write: the last capture written as a glTF scene.
#include <exception>
#include <string>

#include "output/errors.h"
#include "output/scene/scene_writer.h"
#include "core/state.h"

extern "C" int zk_scene_write(const char *path, double fps, int lights, const char **error) {
    try {
        if (path == nullptr) {
            return zelkori::fail("no file name", error);
        }
        std::string message;
        if (zelkori::write_scene(zelkori::state().capture, path, fps, lights, &message)) {
            return 1;
        }
        return zelkori::fail(message, error);
    } catch (const std::exception &) {  // called from C
        return zelkori::fail("not enough memory to write the scene", error);
    }
}
