#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <unistd.h>

#include "output/frame_queue.h"
#include "zelkori_host.h"

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
        {"f%s.png", D, 2, -1, 0, ZK_FIELD_NAME, "a sequence's name holds one"},
        {"-", D, 5, -1, 0, 0, "stdout -"},
        {"a.jpg", D, 1, -1, 0, ZK_FIELD_NAME, "unknown format \"a.jpg\""},
        {"dir.png/a", D, 1, -1, 0, ZK_FIELD_NAME, "unknown format"},
        {".mp4", D, 2, -1, 0, ZK_FIELD_NAME, "\".mp4\" names no file"},
        {"d/.gif", D, 2, -1, 0, ZK_FIELD_NAME, "\"d/.gif\" names no file"},
        {"m.mp4", 1000, 2, 100, 0, 0, "mp4 m.mp4"},
        {"m.mp4", 1000.5, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", 0, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", -1, 2, -1, 0, ZK_FIELD_FPS, "the rate must be from 0.0002 to 1000 "},
        {"m.webm", 30, 2, 101, 0, ZK_FIELD_QUALITY, "quality runs from 0 to 100"},
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
        {"s.glb", D, 0, -1, 0, ZK_FIELD_FRAMES, "a .glb file holds 1 to 10000"},
        {"f%d.png", D, 2, -1, -1, ZK_FIELD_FIRST, "the first frame's number"},
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

TEST(Writers, FailuresStayOneLineForLongNames) {
    const struct { std::string name; std::string expected; } cases[] = {
        {"a.png", "cannot write \"a.png\": cause"},
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
    const char *path = "", *error = "";
    EXPECT_TRUE(queue.wait(&path, &error));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));

    EXPECT_EQ(queue.push(3, 2, "bad", 0), 1);
    ASSERT_FALSE(queue.wait(&path, &error));
    EXPECT_EQ(std::string(path) + ": " + error, "bad: disk full");
    EXPECT_TRUE(queue.wait(&path, &error));  // reported once

    EXPECT_EQ(queue.push(3, 2, "g", 0), -1);  // the reader's 7th frame fails
    EXPECT_EQ(queue.push(3, 2, "h", 0), 1);
    queue.finish();
    EXPECT_EQ(seen.back(), 7);
}

}  // namespace
