// What the page's Tcl face has in place of the native library's outputs
// and offscreen context: a page draws on its canvas and writes no files,
// so zelkori::output and the rest are absent and zelkori::offscreen
// refuses.
#include "tcl/face.h"
#include "zelkori/core.h"

namespace zelkori {

const FaceCommand kOutputCommands[] = {{nullptr, nullptr}};

void init_output(Tcl_Interp *) {}

}  // namespace zelkori

extern "C" {

int zk_offscreen_create(int, int, const char **error) {
    *error = "a page draws on its canvas only";
    return 0;
}

void zk_offscreen_destroy(void) {}

int zk_offscreen_create_sampled(int, int, int, const char **error) {
    *error = "a page draws on its canvas only";
    return 0;
}

// The canvas is the browser's, multisampled as it chooses.
int zk_frame_target(int, int, int, const char **error) {
    *error = "a page draws on its canvas only";
    return 0;
}

void zk_frame_finish(void) {}

}  // extern "C"
