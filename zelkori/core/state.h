// The one place where the host library keeps its state.
#ifndef ZELKORI_STATE_H
#define ZELKORI_STATE_H

#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/capture.h"
#include "zelkori_host.h"

namespace zelkori {

struct Control {
    int id = 0;
    bool is_checkbox = false;
    std::string label;
    double low = 0, high = 0, step = 0, initial = 0;
    double value = 0;
};

struct Clock {
    double base_seconds = 0.0;  // clock reading at `anchor`
    std::chrono::steady_clock::time_point anchor;
    bool playing = false;
    double speed = 1.0;
};

// Display lists of the unit meshes, one set per GL context.
struct MeshSet {
    unsigned sphere_base = 0;    // first list; one per level
    unsigned cylinder_base = 0;  // first list; one per level
    unsigned long long compiled = 0;  // a bit per list, set once compiled
};

struct Offscreen {
    void *display = nullptr;  // EGLDisplay
    void *context = nullptr;  // EGLContext
    unsigned framebuffer = 0, color = 0, depth = 0;
    int width = 0, height = 0;
};

class FrameQueue;  // frames for background threads, frame_queue.h

// Temporary output files not yet renamed into place, for the signal
// handler that removes them (output_file.cpp): fixed storage, since a
// handler can neither allocate nor lock.
struct TemporaryList {
    enum { kFree, kFilling, kActive };
    static const int kSlots = 64;
    struct Slot {
        std::atomic<int> state{kFree};
        char path[PATH_MAX];
    };
    Slot slots[kSlots];
    std::atomic<int> creating{0};   // threads between listing and creating
    std::atomic<bool> dying{false};  // a signal is removing the files
};

// Directories that took an output since the last zk_output_sync_dirs,
// noted by the writers' threads (output_file.cpp).
struct DirectoryList {
    std::mutex mutex;
    std::set<std::string> directories;
};

struct HostState {
    std::vector<Control> controls;  // declaration order
    zk_declare_listener listener = nullptr;
    Clock clock;
    std::map<const void *, MeshSet> meshes;  // by GL context
    zk_stats stats = {0, 0, 0};
    float color[3] = {0, 0, 0};  // the last diffuse colour
    Capture capture;
    Offscreen offscreen;
    TemporaryList temporaries;
    DirectoryList unsynced;
    // Made on first use; deleting it finishes the queue and joins the
    // threads.
    std::unique_ptr<FrameQueue, void (*)(FrameQueue *)> saving{nullptr, nullptr};
    // Outputs open now (output.cpp), abandoned when the process ends.
    std::vector<zk_writer *> writers;
};

HostState &state();

// The current EGL or GLX context (draw.cpp); null when none is current.
const void *current_context();

}  // namespace zelkori

#endif
