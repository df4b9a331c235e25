#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <png.h>

#include "output/frame_queue.h"
#include "zelkori/output.h"

namespace {

// ---- the format table, through the checks every writer makes

struct CheckCase {
    const char *path;
    double fps;          // NaN: the format's default
    long long frames;
    int quality;
    long long first;
    int field;           // 0: accepted
    const char *result;  // accepted: format name and first file; refused: the message's start
};

TEST(FormatCheck, EachFormatAndLimit) {
    const double D = NAN;
    const CheckCase cases[] = {
        {"a.png", D, 0, -1, 0, 0, "png a.png"},
        {"A.PNG", D, 1, -1, 0, 0, "png A.PNG"},
        {"a.png", D, 2, -1, 0, ZK_FIELD_FRAMES, "a .png file holds one frame"},
        {"f%04d.png", D, 3, -1, 7, 0, "png-sequence f0007.png"},
        {"100%%-%d.png", D, 3, -1, 12, 0, "png-sequence 100%-12.png"},
        {"f%d%d.png", D, 2, -1, 0, ZK_FIELD_NAME, "a sequence's name holds one number field"},
        {"f%013d.png", D, 2, -1, 0, ZK_FIELD_NAME, "the number field pads to 1 to 12"},
        {"f%d%s.png", D, 2, -1, 0, ZK_FIELD_NAME, "a sequence's name holds one"},
        // No number field: the name as it is, % and all.
        {"f%s.png", D, 1, -1, 0, 0, "png f%s.png"},
        {"50%.png", D, 1, -1, 0, 0, "png 50%.png"},
        {"50%%.png", D, 1, -1, 0, 0, "png 50%%.png"},
        {"50%.mp4", D, 2, -1, 0, 0, "mp4 50%.mp4"},
        {"-", D, 5, -1, 0, 0, "stdout -"},
        {"a.bmp", D, 1, -1, 0, ZK_FIELD_NAME, "unknown format \"a.bmp\""},
        {"a.jpg", D, 1, 100, 0, 0, "jpeg a.jpg"},
        {"B.JPEG", D, 1, -1, 0, 0, "jpeg B.JPEG"},
        {"f%03d.jpeg", D, 3, 0, 2, 0, "jpeg-sequence f002.jpeg"},
        {"d/.jpeg", D, 1, -1, 0, ZK_FIELD_NAME, "\"d/.jpeg\" names no file"},
        {"dir.png/a", D, 1, -1, 0, ZK_FIELD_NAME, "unknown format"},
        {".mp4", D, 2, -1, 0, ZK_FIELD_NAME, "\".mp4\" names no file"},
        {"d/.gif", D, 2, -1, 0, ZK_FIELD_NAME, "\"d/.gif\" names no file"},
        {"m.mp4", 1000, 2, 100, 0, 0, "mp4 m.mp4"},
        {"m.mp4", 1000.5, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", 0, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", -1, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", 30, 2, 101, 0, ZK_FIELD_QUALITY, "quality runs from 0 to 100"},
        {"m.apng", 30, 2, 80, 0, ZK_FIELD_QUALITY, "a .apng file has no quality to choose"},
        {"m.gif", 50, 2, -1, 0, 0, "gif m.gif"},
        {"m.gif", 51, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from"},
        {"m.gif", 0.001, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from"},
        {"M.WEBP", 90, 2, 0, 0, 0, "webp M.WEBP"},
        {"m.webp", 91, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 90 "},
        {"m.avif", 1000, 2, 100, 0, 0, "avif m.avif"},
        {"p%05d.avif", D, 2, -1, 0, 0, "avif p%05d.avif"},
        {"s.glb", 10000, 10000, -1, 0, 0, "glb s.glb"},
        {"s.glb", 10001, 3, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 10000"},
        {"s.gltf", D, 10001, -1, 0, ZK_FIELD_FRAMES, "a .gltf file holds 1 to 10000"},
        {"s.glb", D, 0, -1, 0, ZK_FIELD_FRAMES, "a .glb file must be told how many frames it holds, 1 to 10000"},
        {"f%d.png", D, 2, -1, -1, ZK_FIELD_FIRST, "the first frame's number"},
        {"f%d.png", D, 2, -1, 999999999999LL, 0, "png-sequence f999999999999.png"},
        {"f%d.png", D, 2, -1, 1000000000000LL, ZK_FIELD_FIRST,
         "the first frame's number must be 0 to 999999999999, got 1000000000000"},
        {"m.mp4", 1, 2, -1, 999999999999LL, 0, "mp4 m.mp4"},
        {"m.mp4", 0.001, 2, -1, 999999999999LL, ZK_FIELD_FIRST,
         "frame 999999999999 at 0.001 frames per second is past the 1e+12 seconds a .mp4 file can time"},
    };
    for (const CheckCase &c : cases) {
        SCOPED_TRACE(c.path);
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.fps = c.fps;
        params.frames = c.frames;
        params.quality = c.quality;
        params.first = c.first;
        const zk_format *format = nullptr;
        const char *target = "", *error = "";
        int field = 0;
        const int ok = zk_writer_check(c.path, &params, &format, &target, &field, &error);
        EXPECT_EQ(field, c.field) << error;
        if (c.field == 0) {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(std::string(format->name) + " " + target, c.result);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(std::string(error).rfind(c.result, 0), 0u) << error;
        }
    }
}

// Each container takes the codecs it holds, by name in any case, its
// default when none is named, and refuses any other in one line naming
// what it holds.
TEST(FormatCheck, CodecsEachContainerHolds) {
    const struct { const char *path, *codec; const char *error; } cases[] = {
        {"m.mp4", nullptr, nullptr},  {"m.mp4", "h264", nullptr}, {"m.mp4", "HEVC", nullptr},
        {"m.mp4", "av1", nullptr},    {"m.webm", "", nullptr},    {"m.webm", "av1", nullptr},
        {"m.gif", "gif", nullptr},    {"m.avif", "av1", nullptr},
        {"m.webm", "h264", "a .webm file holds vp9 or av1, not h264"},
        {"m.mp4", "vp9", "a .mp4 file holds h264, hevc or av1, not vp9"},
        {"m.mp4", "h26", "a .mp4 file holds h264, hevc or av1, not h26"},
        {"m.avif", "hevc", "a .avif file holds av1, not hevc"},
        {"a.png", "h264", "only a movie has a codec to choose, not a .png file"},
        {"s.glb", "av1", "only a movie has a codec to choose, not a .glb file"},
    };
    // HEVC takes no picture under 16 a side.
    for (const int side : {15, 16}) {
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.codec = "hevc";
        params.width = side;
        params.height = 40;
        const char *error = "";
        int field = 0;
        EXPECT_EQ(zk_writer_check("m.mp4", &params, nullptr, nullptr, &field, &error), side == 16);
        EXPECT_EQ(field, side == 16 ? 0 : ZK_FIELD_SIZE) << error;
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + (c.codec != nullptr ? c.codec : "(none)"));
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.frames = 1;
        params.codec = c.codec;
        const char *error = "";
        int field = 0;
        const int ok = zk_writer_check(c.path, &params, nullptr, nullptr, &field, &error);
        EXPECT_EQ(ok != 0, c.error == nullptr) << error;
        EXPECT_EQ(field, c.error == nullptr ? 0 : ZK_FIELD_CODEC);
        if (c.error != nullptr) {
            EXPECT_STREQ(error, c.error);
        }
    }
}

TEST(FormatCheck, SizesAgainstEachFormatsLimits) {
    for (int i = 0; i < zk_format_count(); ++i) {
        const zk_format &format = *zk_format_at(i);
        SCOPED_TRACE(format.name);
        const std::string path = format.flags & ZK_FORMAT_STDOUT
                                     ? "-"
                                     : std::string(format.flags & ZK_FORMAT_PATTERN ? "f%d" : "a") +
                                           format.extension;
        const struct { int width, height; bool ok; } sizes[] = {
            {1, 1, true},
            {format.max_side, 1, true},
            {format.max_side + 1, 1, false},
            {0, 5, false},
            {format.max_side, format.max_side, 1LL * format.max_side * format.max_side <= format.max_pixels},
        };
        for (const auto &size : sizes) {
            zk_writer_params params;
            zk_writer_params_init(&params);
            params.width = size.width;
            params.height = size.height;
            params.frames = 1;
            int field = 0;
            EXPECT_EQ(zk_writer_check(path.c_str(), &params, nullptr, nullptr, &field, nullptr) != 0,
                      size.ok) << size.width << "x" << size.height;
            EXPECT_EQ(field, size.ok ? 0 : ZK_FIELD_SIZE);
        }
    }
}

// ---- the writers' shared rules, without a GL context

std::vector<std::string> files_in(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    while (dirent *entry = readdir(d)) {
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    closedir(d);
    return names;
}

TEST(Writers, NoContextRefusesFramesAndAnEmptyOutputLeavesNothing) {
    char dir_template[] = "/tmp/zk-output-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    for (const char *name : {"a.png", "f%03d.png", "m.webm", "m.mp4", "m.gif", "m.apng", "m.webp", "m.avif"}) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.width = 16;
        params.height = 16;
        const char *error = "";
        zk_writer *writer = zk_writer_open(path.c_str(), &params, &error);
        ASSERT_NE(writer, nullptr) << error;
        EXPECT_FALSE(zk_writer_add(writer, &error));
        EXPECT_NE(std::string(error).find("no OpenGL context is current"), std::string::npos)
            << error;
        EXPECT_FALSE(zk_writer_close(writer, &error));
        EXPECT_EQ(std::string(error), "cannot write \"" + path + "\": no frame was added");
        EXPECT_TRUE(files_in(dir).empty());
    }
    rmdir(dir.c_str());
}

TEST(SaveQueue, RefusesAtTheCallWhatItCannotQueueAndHasNothingToReport) {
    zk_save_queue *queue = zk_save_queue_new();
    ASSERT_NE(queue, nullptr);
    zk_writer_params params;
    zk_writer_params_init(&params);
    const struct { const char *path; int level; const char *error; } cases[] = {
        {"a.png", 6, "cannot write \"a.png\": no frame to read: no OpenGL context is current"},
        {"m.mp4", 6, "cannot write \"m.mp4\": a save writes one still image"},
        {"a.png", 10, "cannot write \"a.png\": expected a level from 0 to 9"},
    };
    for (const auto &c : cases) {
        params.level = c.level;
        const char *error = "";
        EXPECT_FALSE(zk_save_queue_add(queue, c.path, &params, &error));
        EXPECT_EQ(std::string(error).rfind(c.error, 0), 0u) << error;
    }
    const char *error = "";
    EXPECT_TRUE(zk_save_queue_wait(queue, &error));
    EXPECT_TRUE(zk_save_queue_free(queue, &error));
}

// Frames of one shade each, from a source of the test's own.
struct Frames {
    int reads = 0;
    zk_frame_source source() { return {size_of, read, this}; }
    static int size_of(void *, int *width, int *height) {
        *width = 8;
        *height = 6;
        return 1;
    }
    static int read(void *data, int width, int height, unsigned char *rgba) {
        const int shade = 40 * static_cast<Frames *>(data)->reads++;
        std::fill(rgba, rgba + width * height * 4, static_cast<unsigned char>(shade));
        return 1;
    }
};

void remove_tree(const std::string &dir) {
    nftw(dir.c_str(), [](const char *path, const struct stat *, int, FTW *) { return remove(path); },
         8, FTW_DEPTH | FTW_PHYS);
}

std::string contents(const std::string &path) {
    std::string text;
    if (FILE *file = std::fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

// An open is a target's one judgement: each refusal names its field, a
// parameter's in the check's words, the file's naming the file; nothing is
// left behind.
TEST(Writers, OpenNamesTheFieldItRefuses) {
    char dir_template[] = "/tmp/zk-refuse-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    mkdir((dir + "/taken.png").c_str(), 0700);
    mkfifo((dir + "/fifo.png").c_str(), 0600);
    const struct {
        const char *name;
        int width, frames, quality;
        const char *codec;
        int field;
        const char *error;  // its start; @ the directory
    } cases[] = {
        {"a.gif", 70000, 0, -1, nullptr, ZK_FIELD_SIZE, "width and height must be 1 to"},
        {"a.png", 0, 2, -1, nullptr, ZK_FIELD_FRAMES, "a .png file holds one frame"},
        {"m.mp4", 0, 0, 101, nullptr, ZK_FIELD_QUALITY, "quality runs from 0 to 100, got 101"},
        {"m.webm", 0, 0, -1, "h264", ZK_FIELD_CODEC, "a .webm file holds vp9 or av1, not h264"},
        {"a.txt", 0, 0, -1, nullptr, ZK_FIELD_NAME, "unknown format \"@/a.txt\""},
        {"f%d%d.png", 0, 0, -1, nullptr, ZK_FIELD_NAME, "a sequence's name"},
        {"taken.png", 0, 0, -1, nullptr, ZK_FIELD_TARGET, "cannot write \"@/taken.png\": is a directory"},
        {"no/a.png", 0, 0, -1, nullptr, ZK_FIELD_TARGET, "cannot write \"@/no/a.png\": no such directory"},
        {"fifo.png", 0, 0, -1, nullptr, ZK_FIELD_TARGET, "cannot write \"@/fifo.png\": not a regular file"},
        {"no/f%03d.png", 0, 0, -1, nullptr, ZK_FIELD_TARGET, "cannot write \"@/no/f000.png\": no such directory"},
    };
    Frames frames;
    const zk_frame_source source = frames.source();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        zk_writer_params params;
        zk_writer_params_init(&params);
        params.width = params.height = c.width;
        params.frames = c.frames;
        params.quality = c.quality;
        params.codec = c.codec;
        const std::string path = dir + "/" + c.name;
        const char *error = "";
        int field = -1;
        EXPECT_EQ(zk_writer_open_field(path.c_str(), &params, &source, &field, &error), nullptr);
        EXPECT_EQ(field, c.field);
        std::string expected = c.error;
        const size_t at = expected.find('@');
        if (at != std::string::npos) {
            expected.replace(at, 1, dir);
        }
        EXPECT_EQ(std::string(error).rfind(expected, 0), 0u) << error;
    }
    // The rate, and standard output closed.
    zk_writer_params params;
    zk_writer_params_init(&params);
    params.fps = 0;
    int field = 0;
    EXPECT_EQ(zk_writer_open_field("m.mp4", &params, &source, &field, nullptr), nullptr);
    EXPECT_EQ(field, ZK_FIELD_FPS);
    const int kept = dup(STDOUT_FILENO);
    const int closed = open("/dev/null", O_RDONLY);
    dup2(closed, STDOUT_FILENO);
    zk_writer_params_init(&params);
    const char *error = "";
    EXPECT_EQ(zk_writer_open_field("-", &params, &source, &field, &error), nullptr);
    dup2(kept, STDOUT_FILENO);
    close(kept);
    close(closed);
    EXPECT_EQ(field, ZK_FIELD_TARGET);
    EXPECT_STREQ(error, "cannot write \"-\": standard output is closed");
    std::vector<std::string> left = files_in(dir);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"fifo.png", "taken.png"}));
    remove_tree(dir);
}

// Output A is closed, aborted, or fails (its directory moved away after the
// first frame) while a sequence B and background saves C take frames beside
// it; B and C come out whole each time, each having read its own source.
TEST(Writers, EachOutputKeepsItsOwnFramesAndFailures) {
    char dir_template[] = "/tmp/zk-pair-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    const struct { const char *name, *first; long long frames; } kinds[] = {
        {"keep.png", "keep.png", 1}, {"f%02d.png", "f00.png", 4}, {"m.apng", "m.apng", 4}};
    for (const auto &kind : kinds) {
        for (const std::string how : {"close", "abort", "fail"}) {
            SCOPED_TRACE(std::string(kind.name) + " " + how);
            for (const char *sub : {"/a", "/b", "/c"}) {
                mkdir((dir + sub).c_str(), 0700);
            }
            FILE *old = std::fopen((dir + "/a/" + kind.first).c_str(), "w");
            std::fputs("precious", old);
            std::fclose(old);
            Frames a, b, c;
            const zk_frame_source sa = a.source(), sb = b.source(), sc = c.source();
            zk_writer_params params;
            zk_writer_params_init(&params);
            const char *error = "";
            zk_writer *wa = zk_writer_open_from((dir + "/a/" + kind.name).c_str(), &params, &sa, &error);
            zk_writer *wb = zk_writer_open_from((dir + "/b/f%02d.png").c_str(), &params, &sb, &error);
            zk_save_queue *saves = zk_save_queue_new_from(&sc);
            ASSERT_TRUE(wa != nullptr && wb != nullptr && saves != nullptr) << error;
            for (int k = 0; k < 4; ++k) {
                if (k < kind.frames) {
                    zk_writer_add(wa, &error);
                }
                EXPECT_TRUE(zk_writer_add(wb, &error)) << error;
                const std::string save = dir + "/c/s" + std::to_string(k) + ".png";
                EXPECT_TRUE(zk_save_queue_add(saves, save.c_str(), &params, &error)) << error;
                if (k == 0 && how == "fail") {
                    ASSERT_EQ(rename((dir + "/a").c_str(), (dir + "/gone").c_str()), 0);
                }
            }
            if (how == "abort") {
                zk_writer_abort(wa);
            } else {
                EXPECT_EQ(zk_writer_close(wa, &error) != 0, how == "close") << error;
            }
            EXPECT_TRUE(zk_writer_close(wb, &error)) << error;
            EXPECT_TRUE(zk_save_queue_free(saves, &error)) << error;
            EXPECT_EQ(files_in(dir + "/b").size(), 4u);
            EXPECT_EQ(files_in(dir + "/c").size(), 4u);
            if (how != "fail") {  // a failed sequence reads no more frames
                EXPECT_EQ(a.reads, kind.frames);
            }
            EXPECT_EQ(b.reads, 4);
            EXPECT_EQ(c.reads, 4);
            // What was at A's target before is replaced by a close alone; a
            // sequence writes each frame as it comes, so an abort or a failure
            // may find the first written or not.
            const std::string left = contents(dir + (how == "fail" ? "/gone/" : "/a/") + kind.first);
            if (std::strchr(kind.name, '%') == nullptr) {
                EXPECT_EQ(left == "precious", how != "close") << left.size();
            }
            for (const char *sub : {"/a", "/b", "/c", "/gone"}) {
                remove_tree(dir + sub);
            }
        }
    }
    rmdir(dir.c_str());
}

// A frame given to several outputs at once is read once, and each gets
// those pixels; given one by one, each output reads its own.
TEST(Writers, OutputsGivenAFrameTogetherShareOneReadBack) {
    char dir_template[] = "/tmp/zk-share-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    for (const int count : {2, 3}) {
        SCOPED_TRACE(count);
        Frames frames;
        const zk_frame_source source = frames.source();
        zk_writer_params params;
        zk_writer_params_init(&params);
        const char *error = "";
        std::vector<zk_writer *> writers;
        for (const char *name : {"/a%02d.png", "/b%02d.png", "/m.apng"}) {
            if (static_cast<int>(writers.size()) < count) {
                writers.push_back(zk_writer_open_from((dir + name).c_str(), &params, &source, &error));
                ASSERT_NE(writers.back(), nullptr) << error;
            }
        }
        EXPECT_TRUE(zk_writers_add(writers.data(), count, &error)) << error;
        EXPECT_EQ(frames.reads, 1);
        for (zk_writer *writer : writers) {
            EXPECT_TRUE(zk_writer_add(writer, &error)) << error;
        }
        EXPECT_EQ(frames.reads, 1 + count);
        for (zk_writer *writer : writers) {
            EXPECT_TRUE(zk_writer_close(writer, &error)) << error;
        }
        EXPECT_EQ(contents(dir + "/a00.png"), contents(dir + "/b00.png"));
        EXPECT_NE(contents(dir + "/a01.png"), contents(dir + "/b01.png"));
        remove_tree(dir);
        mkdir(dir.c_str(), 0700);
    }
    rmdir(dir.c_str());
}

// A sequence whose frame could not be written, closed short of its count,
// names what failed, not the count.
TEST(Writers, SequenceClosedShortNamesItsFailure) {
    char dir_template[] = "/tmp/zk-short-XXXXXX";
    const std::string dir = mkdtemp(dir_template);
    Frames frames;
    const zk_frame_source source = frames.source();
    zk_writer_params params;
    zk_writer_params_init(&params);
    params.frames = 4;
    const char *error = "";
    zk_writer *writer = zk_writer_open_from((dir + "/sub/f%02d.png").c_str(), &params, &source,
                                            &error);
    EXPECT_TRUE(writer == nullptr);  // no such directory yet
    mkdir((dir + "/sub").c_str(), 0700);
    writer = zk_writer_open_from((dir + "/sub/f%02d.png").c_str(), &params, &source, &error);
    ASSERT_TRUE(writer != nullptr) << error;
    rmdir((dir + "/sub").c_str());
    zk_writer_add(writer, &error);
    EXPECT_FALSE(zk_writer_close(writer, &error));
    EXPECT_NE(std::string(error).find("f00.png"), std::string::npos) << error;
    rmdir(dir.c_str());
}

// An image of the test's own, given as GL keeps it (RGBA, bottom row
// first); `rgb` is what a PNG of it must decode to (RGB, top row first).
struct Picture {
    int width, height;
    std::vector<unsigned char> rgb;
    zk_frame_source source() { return {size_of, read, this}; }
    static int size_of(void *data, int *width, int *height) {
        *width = static_cast<Picture *>(data)->width;
        *height = static_cast<Picture *>(data)->height;
        return 1;
    }
    static int read(void *data, int width, int height, unsigned char *rgba) {
        const Picture &picture = *static_cast<Picture *>(data);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char *from = &picture.rgb[(static_cast<size_t>(y) * width + x) * 3];
                unsigned char *to = &rgba[(static_cast<size_t>(height - 1 - y) * width + x) * 4];
                std::copy(from, from + 3, to);
                to[3] = 0x80;  // GL's alpha: not written
            }
        }
        return 1;
    }
};

// Stills at every level, of flat, noise and stripes at the edge sizes,
// read back by libpng exactly.
TEST(Writers, StillsAtEveryLevelReadBackExactly) {
    char dir_template[] = "/tmp/zk-levels-XXXXXX";
    const std::string path = std::string(mkdtemp(dir_template)) + "/still.png";
    const int sizes[][2] = {{1, 1}, {1, 16384}, {16384, 1}, {7, 5}, {63, 17}, {64, 64}};
    for (int level = ZK_PNG_FAST; level <= 9; ++level) {
        for (const auto &size : sizes) {
            for (int kind = 0; kind < 3; ++kind) {
                SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]) + " kind " +
                             std::to_string(kind) + " level " + std::to_string(level));
                Picture picture{size[0], size[1], {}};
                unsigned seed = static_cast<unsigned>(size[0] * 7 + size[1] + level);
                for (int y = 0; y < size[1]; ++y) {
                    for (int x = 0; x < size[0]; ++x) {
                        const bool dark = (x / 2 + y) % 2 == 1;
                        for (int channel = 0; channel < 3; ++channel) {
                            seed = seed * 1103515245u + 12345u;
                            picture.rgb.push_back(static_cast<unsigned char>(
                                kind == 1 ? seed >> 16 : kind == 2 && dark ? 20 * channel : 200 - channel));
                        }
                    }
                }
                const zk_frame_source source = picture.source();
                zk_writer_params params;
                zk_writer_params_init(&params);
                params.level = level;
                const char *error = "";
                zk_writer *writer = zk_writer_open_from(path.c_str(), &params, &source, &error);
                ASSERT_TRUE(writer != nullptr) << error;
                ASSERT_TRUE(zk_writer_add(writer, &error)) << error;
                ASSERT_TRUE(zk_writer_close(writer, &error)) << error;
                png_image image{};
                image.version = PNG_IMAGE_VERSION;
                ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
                image.format = PNG_FORMAT_RGB;
                std::vector<unsigned char> decoded(PNG_IMAGE_SIZE(image));
                ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr));
                EXPECT_EQ(image.warning_or_error, 0u) << image.message;
                EXPECT_TRUE(decoded == picture.rgb);
            }
        }
    }
    remove_tree(path.substr(0, path.rfind('/')));
}

TEST(Writers, FailuresStayOneLineForLongNames) {
    const struct { std::string name; std::string expected; } cases[] = {
        {"a.png", "cannot write \"a.png\": cause"},
        {"a\nb\r.png", "cannot write \"a?b?.png\": cause"},
        {std::string(160, 'n'), "cannot write \"" + std::string(160, 'n') + "\": cause"},
        // 330 bytes, a two-byte character across the cut.
        {std::string(59, 'h') + "\xc3\xa9" + std::string(189, 'm') + std::string(80, 't'),
         "cannot write \"" + std::string(59, 'h') + "..." + std::string(80, 't') + "\": cause"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(zk_write_error(c.name.c_str(), "cause"), c.expected);
    }
}

// ---- the frame queue, fed by a fake reader

// Fills every byte of a frame with the number of frames read before it.
class CountingReader : public zelkori::FrameReader {
  public:
    mutable int reads = 0;
    int fail_at = -1;
    bool size(int *width, int *height) const override {
        *width = 3;
        *height = 2;
        return true;
    }
    bool read(int width, int height, unsigned char *rgba) const override {
        const int number = reads++;
        std::fill(rgba, rgba + width * height * 4, static_cast<unsigned char>(number));
        return number != fail_at;
    }
};

TEST(FrameQueue, KeepsOrderReportsTheFirstFailureOnceAndRefusesUnreadFrames) {
    CountingReader reader;
    reader.fail_at = 6;
    std::vector<int> seen;
    zelkori::FrameQueue queue(reader, 1, 2, 0,
                              [&seen](const zelkori::QueuedFrame &frame, std::string *error) {
        seen.push_back(frame.rows().row(0)[0]);
        if (frame.path == "bad") {
            *error = "disk full";
            return false;
        }
        return true;
    });
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(queue.push(3, 2, "f" + std::to_string(k), 0), 1);
    }
    std::string path, error;
    EXPECT_TRUE(queue.wait(&path, &error));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));

    EXPECT_EQ(queue.push(3, 2, "bad", 0), 1);
    ASSERT_FALSE(queue.wait(&path, &error));
    EXPECT_EQ(path + ": " + error, "bad: disk full");
    EXPECT_TRUE(queue.wait(&path, &error));  // reported once

    EXPECT_EQ(queue.push(3, 2, "g", 0), -1);  // the reader's 7th frame fails
    EXPECT_EQ(queue.push(3, 2, "h", 0), 1);
    queue.finish();
    EXPECT_EQ(seen.back(), 7);
}

}  // namespace
