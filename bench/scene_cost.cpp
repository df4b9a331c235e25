// The scene writer alone: 300 captured frames of the figure at 800x600
// (30 per second from 12 s) encoded as .glb and as .gltf, without the
// drawing or the file. bench/scene.tcl times capture and write together.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <string>

#include "output/scene/scene_document.h"
#include "support.h"
#include "zelkori/core.h"

namespace {

const int kFrames = 300;

zelkori::Capture capture_figure(Tcl_Interp *interp) {
    zk_capture *recorded = zk_capture_start(0);
    for (int k = 0; k < kFrames; ++k) {
        if (k > 0) {
            zk_capture_frame(recorded);
        }
        zk_clock_set(bench::frame_time(k));
        bench::redraw(interp);
    }
    zk_capture_stop(recorded);
    zelkori::Capture capture;
    capture.frames = kFrames;
    capture.has_camera = true;
    glGetDoublev(GL_PROJECTION_MATRIX, capture.projection);
    glGetIntegerv(GL_VIEWPORT, capture.viewport);
    zk_primitive primitive;
    for (int i = 0; zk_capture_at(recorded, i, &primitive); ++i) {
        capture.primitives.push_back(primitive);
    }
    zk_capture_free(recorded);
    return capture;
}

void BM_EncodeScene(benchmark::State &state, const zelkori::Capture *capture, bool binary) {
    std::string out, error;
    for (auto _ : state) {
        if (!zelkori::encode_scene(*capture, 30.0, ZK_LIGHTS_WEB, binary, &out, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.counters["bytes"] = double(out.size());
}

}  // namespace

int main(int argc, char **argv) {
    Tcl_Interp *interp = bench::start_model(argv[0], 800, 600);
    const zelkori::Capture capture = capture_figure(interp);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("scene/300 frames/glb", BM_EncodeScene, &capture, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scene/300 frames/gltf", BM_EncodeScene, &capture, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
