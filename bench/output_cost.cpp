// Writing image sequences: the fast path and libpng's settings on typical
// frames at two sizes, and 300-frame sequences rendered and read back
// alone, saved in the foreground, and saved in the background as the
// renderer does, on disk also as new files and as files replaced (each
// flushed, and the directory once at the end).
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/png/png_fast.h"
#include "support.h"
#include "zelkori/core.h"
#include "zelkori/output.h"

extern "C" int Zelkori_Init(Tcl_Interp *interp);

namespace {

const int kWidth = 640, kHeight = 480;
const long kSequenceFrames = 300;

struct Frame {
    int width, height;
    std::vector<unsigned char> rgb;
};

struct Setting {
    const char *name;
    int level;
    int filters;   // PNG_FILTER_* mask, or PNG_ALL_FILTERS
    int strategy;  // zlib's
};
// libpng's defaults and zlib's fast settings, against the fast path.
const Setting kSettings[] = {
    {"level6_adaptive", 6, PNG_ALL_FILTERS, Z_FILTERED},
    {"level1_adaptive", 1, PNG_ALL_FILTERS, Z_FILTERED},
    {"level1_none", 1, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY},
    {"level1_up", 1, PNG_FILTER_UP, Z_FILTERED},
    {"level3_up", 3, PNG_FILTER_UP, Z_FILTERED},
    {"rle_none", 1, PNG_FILTER_NONE, Z_RLE},
    {"rle_up", 1, PNG_FILTER_UP, Z_RLE},
    {"rle_paeth", 1, PNG_FILTER_PAETH, Z_RLE},
};

void append(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flush(png_structp) {}

// libpng reports failures through longjmp; nothing with a destructor may
// live in this frame.
bool encode_to_memory(const Setting &setting, const Frame &frame,
                      std::vector<unsigned char> *out) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append, flush);
    png_set_compression_level(png, setting.level);
    png_set_compression_strategy(png, setting.strategy);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, setting.filters);
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width),
                 static_cast<png_uint_32>(frame.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < frame.height; ++y) {
        png_write_row(png, frame.rgb.data() + static_cast<size_t>(y) * frame.width * 3);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void BM_Encode(benchmark::State &state, const Setting *setting, const Frame *frame) {
    std::vector<unsigned char> out;
    for (auto _ : state) {
        out.clear();
        encode_to_memory(*setting, *frame, &out);
    }
    state.counters["bytes"] = static_cast<double>(out.size());
}

bool append_bytes(void *to, const unsigned char *data, size_t size) {
    auto *out = static_cast<std::vector<unsigned char> *>(to);
    out->insert(out->end(), data, data + size);
    return true;
}

void BM_EncodeFast(benchmark::State &state, const Frame *frame) {
    std::vector<unsigned char> out;
    for (auto _ : state) {
        out.clear();
        zelkori::write_png_fast(frame->width, frame->height, frame->rgb.data(),
                                append_bytes, &out);
    }
    state.counters["bytes"] = static_cast<double>(out.size());
}

enum class Output { kReadBack, kForeground, kBackground };

// Where the files go. In memory (tmpfs) a sequence costs what the library
// does; on disk it also costs what the file system does, which varies: a
// file system without a journal, for one, skips every inode freed in the
// last minutes when it makes a file, so each directory on disk is written
// once and removed only at the end. Replacing, the files of one directory
// are written over in every repetition.
enum class Place { kMemory, kDisk, kDiskReplacing };

struct Sequence {
    const char *name;
    Output output;
    const char *level;  // as zelkori::save takes it
    Place place;
};
const Sequence kSequences[] = {
    {"render_readback", Output::kReadBack, "", Place::kMemory},
    {"save_background_fast", Output::kBackground, "fast", Place::kMemory},
    {"save_background_fast_disk", Output::kBackground, "fast", Place::kDisk},
    {"save_background_fast_disk_replacing", Output::kBackground, "fast",
     Place::kDiskReplacing},
    {"save_foreground_fast", Output::kForeground, "fast", Place::kMemory},
    {"save_foreground_level1", Output::kForeground, "1", Place::kMemory},
    {"save_foreground_level6", Output::kForeground, "6", Place::kMemory},
};

struct Places {
    std::string memory, disk;  // directories made for the run
    std::vector<std::string> written;  // disk directories, each used once
};

double process_cpu_seconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

long long file_bytes(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// 300 frames at 640x480 as the renderer makes them: clock, redraw, then
// the frame read back alone or saved through zelkori::save.
void BM_Sequence(benchmark::State &state, Tcl_Interp *interp,
                 const Sequence *sequence, Places *places) {
    std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    std::string directory = places->memory;
    if (sequence->place == Place::kDisk) {
        directory = places->disk + "/" + std::to_string(places->written.size());
        mkdir(directory.c_str(), 0700);
        places->written.push_back(directory);
    } else if (sequence->place == Place::kDiskReplacing) {
        directory = places->disk + "/replacing";
        if (mkdir(directory.c_str(), 0700) == 0) {
            places->written.push_back(directory);
        }
    }
    std::vector<std::string> files;
    for (long frame = 0; frame < kSequenceFrames; ++frame) {
        files.push_back(directory + "/f" + std::to_string(frame) + ".png");
        if (sequence->place == Place::kDiskReplacing) {
            if (FILE *file = std::fopen(files.back().c_str(), "ab")) {
                std::fclose(file);
            }
        }
    }
    if (sequence->place == Place::kDiskReplacing) {
        sync();  // the old files settled, as they would be
    }
    const std::string mode = sequence->output == Output::kBackground ? "-async " : "";
    long long bytes = 0;
    double cpu = 0.0;
    for (auto _ : state) {
        const double cpu_start = process_cpu_seconds();
        for (long frame = 0; frame < kSequenceFrames; ++frame) {
            zk_clock_set(bench::frame_time(frame));
            bench::redraw(interp);
            if (sequence->output == Output::kReadBack) {
                rgb = bench::read_frame(kWidth, kHeight);
                continue;
            }
            const std::string save = "zelkori::save " + mode + files[frame] + " " +
                                     sequence->level;
            bench::eval(interp, save.c_str());
        }
        bench::eval(interp, "zelkori::wait");
        state.PauseTiming();
        cpu += process_cpu_seconds() - cpu_start;
        bytes = 0;
        for (const std::string &file : files) {
            bytes += file_bytes(file);
            if (sequence->place == Place::kMemory) {
                unlink(file.c_str());
            }
        }
        state.ResumeTiming();
    }
    state.counters["fps"] = benchmark::Counter(
        static_cast<double>(kSequenceFrames * state.iterations()),
        benchmark::Counter::kIsRate);
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / kSequenceFrames;
    // All threads' time, GL's and the encoders' included: on free cores the
    // sequence can go no faster than this spread over them.
    state.counters["cpu_ms_per_frame"] =
        1e3 * cpu / static_cast<double>(kSequenceFrames * state.iterations());
}

// One frame, drawn, given to `count` open outputs (stills, whose add is
// the read-back alone) one by one or together (zk_writers_add, one
// read-back for them all); the outputs are aborted, nothing is written.
void BM_Outputs(benchmark::State &state, Tcl_Interp *interp, int count, bool together,
                const Places *places) {
    zk_writer_params params;
    zk_writer_params_init(&params);
    std::vector<zk_writer *> writers(static_cast<size_t>(count));
    const char *error = "";
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < count; ++i) {
            const std::string name = places->memory + "/o" + std::to_string(i) + ".png";
            writers[static_cast<size_t>(i)] = zk_writer_open(name.c_str(), &params, &error);
        }
        bench::redraw_finished(interp);  // the drawing is not the read-back's
        state.ResumeTiming();
        if (together) {
            zk_writers_add(writers.data(), count, &error);
        } else {
            for (zk_writer *writer : writers) {
                zk_writer_add(writer, &error);
            }
        }
        state.PauseTiming();
        for (zk_writer *writer : writers) {
            zk_writer_abort(writer);
        }
        state.ResumeTiming();
    }
}

// A new directory under `parent`, or "" after saying why not.
std::string make_directory(const std::string &parent) {
    std::string pattern = parent + "/morvakine-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        std::perror(("bench_output: " + parent).c_str());
        return "";
    }
    return pattern;
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Tcl_Interp *interp = bench::start_model(argv[0], kWidth, kHeight);
    // The encoders are compared on a frame from the middle of the
    // sequences, with all five arms out, at two sizes; the context is left
    // at the sequences' size.
    zk_clock_set(bench::frame_time(kSequenceFrames / 2));
    static std::vector<Frame> frames;
    const int sizes[][2] = {{1280, 720}, {kWidth, kHeight}};
    for (const auto &size : sizes) {
        bench::resize(interp, size[0], size[1]);
        bench::redraw_finished(interp);
        frames.push_back({size[0], size[1], bench::read_frame(size[0], size[1])});
    }
    Zelkori_Init(interp);
    // Memory is /dev/shm where it is there; disk is $TMPDIR, or /tmp.
    const char *tmpdir = std::getenv("TMPDIR");
    static Places places;
    places.disk = make_directory(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp");
    places.memory = access("/dev/shm", W_OK) == 0 ? make_directory("/dev/shm") : places.disk;
    if (places.disk.empty() || places.memory.empty()) {
        return 1;
    }
    for (const Sequence &sequence : kSequences) {
        benchmark::RegisterBenchmark((std::string("sequence/") + sequence.name).c_str(),
                                     BM_Sequence, interp, &sequence, &places)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->UseRealTime();
    }
    for (const int count : {1, 2, 3}) {
        for (const bool together : {false, true}) {
            if (count > 1 || !together) {
                const std::string name = "outputs/" + std::to_string(count) +
                                         (together ? "/together" : "/one-by-one");
                benchmark::RegisterBenchmark(name.c_str(), BM_Outputs, interp, count, together,
                                             &places)
                    ->Unit(benchmark::kMillisecond)->UseRealTime();
            }
        }
    }
    for (const Frame &frame : frames) {
        const std::string size =
            std::to_string(frame.width) + "x" + std::to_string(frame.height) + "/";
        benchmark::RegisterBenchmark(("png/" + size + "fast").c_str(), BM_EncodeFast, &frame)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        for (const Setting &setting : kSettings) {
            benchmark::RegisterBenchmark(("png/" + size + setting.name).c_str(), BM_Encode,
                                         &setting, &frame)
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const std::string &directory : places.written) {
        for (long frame = 0; frame < kSequenceFrames; ++frame) {
            unlink((directory + "/f" + std::to_string(frame) + ".png").c_str());
        }
        rmdir(directory.c_str());
    }
    rmdir(places.memory.c_str());
    rmdir(places.disk.c_str());
    return 0;
}
