// Whole frames offscreen: the library's primitives against the naive GLU
// host, the same figure through the same plug-in code and lighting. Also
// compares the two hosts' pictures and measures how round each draws.
//
// This program defines the four drawing operations itself, so that the
// model's calls reach whichever host is selected; the library's own
// versions are found behind them with RTLD_NEXT.
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "naive_host.h"
#include "roundness.h"
#include "support.h"
#include "zelkori/core.h"

namespace {

struct Size {
    int width, height;
};
const Size kBenchSizes[] = {{640, 480}, {1280, 720}};
// Window sizes swept by the roundness check, from a thumbnail to 4K.
const Size kRoundnessSizes[] = {{320, 240}, {640, 480}, {1280, 720},
                                {1920, 1080}, {3840, 2160}};
const int kRoundnessFrames = 6;      // random views per size
const long kCompareFrames[] = {0, 137, 555};
const int kVisibleDifference = 24;   // of 255, in any channel
// A step between neighbours that marks an outline; smooth shading of the
// figure at these sizes changes less from pixel to pixel.
const int kOutlineStep = 8;
const double kMaxErrorPx = 0.5;

struct Host {
    const char *name;
    void (*setup)();
    void (*color)(double, double, double);
    void (*sphere)(double);
    void (*cylinder)(double, double, double);
};

template <typename F>
F library_function(const char *name) {
    void *found = dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        std::fprintf(stderr, "the host library has no %s\n", name);
        std::exit(1);
    }
    return reinterpret_cast<F>(found);
}

struct Hosts {
    Host ours, naive;
    const Host *active = nullptr;
    // While set, each primitive is measured for roundness as it is drawn.
    bool measuring = false;
    roundness::Worst worst;
};

Hosts &hosts() {
    static Hosts h = [] {
        Hosts made;
        made.ours = {"ours", library_function<void (*)()>("draw_mode_setup"),
                     library_function<void (*)(double, double, double)>("diffuse_color"),
                     library_function<void (*)(double)>("sphere"),
                     library_function<void (*)(double, double, double)>("cylinder")};
        made.naive = {"naive", [] { naive_host::draw_mode_setup(hosts().ours.setup); },
                      made.ours.color, naive_host::sphere, naive_host::cylinder};
        made.active = &made.ours;
        return made;
    }();
    return h;
}

}  // namespace

extern "C" {

void draw_mode_setup(void) { hosts().active->setup(); }
void diffuse_color(double red, double green, double blue) {
    hosts().active->color(red, green, blue);
}
void sphere(double radius) {
    Hosts &h = hosts();
    if (h.measuring) {
        h.worst.add(roundness::sphere(radius, [&] { h.active->sphere(radius); }), true);
    }
    h.active->sphere(radius);
}
void cylinder(double length, double radius1, double radius2) {
    Hosts &h = hosts();
    if (h.measuring) {
        h.worst.add(roundness::cylinder(length, radius1, [&] {
                        h.active->cylinder(length, radius1, radius2);
                    }),
                    false);
    }
    h.active->cylinder(length, radius1, radius2);
}

}  // extern "C"

namespace {

long long triangles_per_frame(Tcl_Interp *interp) {
    zk_stats_reset();
    naive_host::take_triangles();
    bench::redraw_finished(interp);
    zk_stats stats;
    zk_stats_get(&stats);
    return stats.triangles + naive_host::take_triangles();
}

void BM_Frame(benchmark::State &state, Tcl_Interp *interp, const Host *host,
              Size size) {
    hosts().active = host;
    bench::resize(interp, size.width, size.height);
    long frame = 0;
    for (auto _ : state) {
        zk_clock_set(bench::frame_time(frame++));
        bench::redraw_finished(interp);
    }
    state.counters["triangles"] = static_cast<double>(triangles_per_frame(interp));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
}

// Whether the pixel at (x, y) lies on an outline in `rgb`: a neighbour
// differs from it visibly, as across the edge of a shape.
bool on_outline(const std::vector<unsigned char> &rgb, Size size, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * size.width + x) * 3;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= size.width || ny >= size.height) {
                continue;
            }
            const size_t near = (static_cast<size_t>(ny) * size.width + nx) * 3;
            for (int c = 0; c < 3; ++c) {
                if (std::abs(rgb[at + c] - rgb[near + c]) > kOutlineStep) {
                    return true;
                }
            }
        }
    }
    return false;
}

// Mean and largest channel difference, and the share of pixels that
// differ visibly, between the two hosts' pictures of the same frames; and
// the largest difference away from outlines, where meshes that differ by
// a fraction of a pixel cannot move an edge.
void compare_images(Tcl_Interp *interp) {
    Hosts &h = hosts();
    for (const Size size : kBenchSizes) {
        bench::resize(interp, size.width, size.height);
        double sum = 0.0;
        int largest = 0, largest_inside = 0;
        long visible = 0, channels = 0;
        for (const long frame : kCompareFrames) {
            zk_clock_set(bench::frame_time(frame));
            h.active = &h.ours;
            bench::redraw_finished(interp);
            const std::vector<unsigned char> ours = bench::read_frame(size.width, size.height);
            h.active = &h.naive;
            bench::redraw_finished(interp);
            const std::vector<unsigned char> naive = bench::read_frame(size.width, size.height);
            for (size_t i = 0; i < ours.size(); i += 3) {
                int pixel = 0;
                for (size_t c = i; c < i + 3; ++c) {
                    const int d = std::abs(ours[c] - naive[c]);
                    sum += d;
                    pixel = std::max(pixel, d);
                }
                largest = std::max(largest, pixel);
                visible += pixel > kVisibleDifference;
                const int x = static_cast<int>(i / 3 % size.width);
                const int y = static_cast<int>(i / 3 / size.width);
                if (pixel > largest_inside && !on_outline(ours, size, x, y) &&
                    !on_outline(naive, size, x, y)) {
                    largest_inside = pixel;
                }
            }
            channels += static_cast<long>(ours.size());
        }
        std::printf("check: image %dx%d ours vs naive: mean difference %.4f/255, "
                    "largest %d/255 (%d/255 away from outlines), %.3f%% of pixels "
                    "differ by more than %d\n",
                    size.width, size.height, sum / channels, largest, largest_inside,
                    100.0 * visible / (channels / 3.0), kVisibleDifference);
    }
    h.active = &h.ours;
}

// Draws frames at random views and times across window sizes, measuring
// every primitive's outline against the true shape's.
bool check_roundness(Tcl_Interp *interp) {
    Hosts &h = hosts();
    bool round = true;
    for (const Host *host : {&h.ours, &h.naive}) {
        h.active = host;
        for (const Size size : kRoundnessSizes) {
            bench::resize(interp, size.width, size.height);
            std::mt19937 random(7);
            std::uniform_real_distribution<double> angle(0.0, 360.0), time(0.0, 60.0);
            h.worst = roundness::Worst{};
            h.measuring = true;
            for (int k = 0; k < kRoundnessFrames; ++k) {
                for (const int view : {1, 2, 3}) {
                    zk_control_set(view, angle(random));
                }
                zk_clock_set(time(random));
                bench::redraw(interp);
            }
            h.measuring = false;
            std::printf("check: roundness %-5s %4dx%-4d largest outline error "
                        "%.3f px (spheres %.3f, cylinders %.3f; worst at a %.1f px "
                        "shape; %ld shapes)\n",
                        host->name, size.width, size.height, h.worst.worst.error_px,
                        h.worst.sphere_px, h.worst.cylinder_px, h.worst.worst.size_px,
                        h.worst.measured);
            round = round && (host != &h.ours || h.worst.worst.error_px <= kMaxErrorPx);
        }
        const roundness::Sweep sweep = roundness::sweep(host->sphere, host->cylinder);
        std::printf("check: roundness %-5s single shapes, sphere radius %.0f to %.0f px: "
                    "largest outline error %.3f px (spheres %.3f, cylinders %.3f; "
                    "%ld shapes)\n",
                    host->name, sweep.smallest_px, sweep.largest_px,
                    sweep.worst.worst.error_px, sweep.worst.sphere_px,
                    sweep.worst.cylinder_px, sweep.worst.measured);
        round = round && (host != &h.ours || sweep.worst.worst.error_px <= kMaxErrorPx);
    }
    // Back to the panel's own view.
    zk_control_set(1, 280.0);
    zk_control_set(2, 0.0);
    zk_control_set(3, 35.0);
    h.active = &h.ours;
    return round;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    const bool skip_checks = std::getenv("BENCH_NO_CHECKS") != nullptr;
    Tcl_Interp *interp = bench::start_model(argv[0], kBenchSizes[0].width,
                                            kBenchSizes[0].height);
    Hosts &h = hosts();
    if (!skip_checks) {
        compare_images(interp);
        if (!check_roundness(interp)) {
            std::printf("check: FAILED: an outline strays more than %.1f px\n", kMaxErrorPx);
        }
    }
    for (const Size size : kBenchSizes) {
        for (const Host *host : {&h.ours, &h.naive}) {
            char name[64];
            std::snprintf(name, sizeof name, "frame/%s/%dx%d", host->name,
                          size.width, size.height);
            benchmark::RegisterBenchmark(name, BM_Frame, interp, host, size)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
