// What the plug-in asks of GL and of its host, checked in a real Mesa
// context with the host operations replaced by recording doubles. Every
// expectation is computed here from the figure's rules, written out anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <GL/gl.h>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include "gl_context.h"
#include "model/model.h"
#include "plugin/morvakine.h"
#include "recording_host.h"

namespace {

using recording::Call;

const int kFramebufferWidth = 64, kFramebufferHeight = 48;
// Mesa keeps its matrix stacks in single precision: a matrix read back
// matches the double-precision chain to about 1e-6 of its largest entry.
const double kMatrixTolerance = 1e-6;

const char kWrongArgs[] = "wrong # args: should be \"width height\"";
const char kBadSize[] = "bad size: width and height must be at least 1";

// ---- The figure's rules, independently of the model's code ----------------

const glm::dvec3 kX(1, 0, 0), kY(0, 1, 0), kZ(0, 0, 1);

glm::dmat4 rotated(const glm::dmat4 &m, double degrees, const glm::dvec3 &axis) {
    return glm::rotate(m, glm::radians(degrees), axis);
}

struct Pose {
    double twist = 0, curl = 0, nod = 0;  // degrees
};

// Each arm runs one clock unit behind the one before; rest pose until then.
Pose clock_pose(double time, int arm) {
    const double t = std::max(time - arm, 0.0);
    const double phase = t / 10 * 3.141592653589793;
    return {std::sin(2 * phase) * 45, std::sin(phase * 4 / 7) * 60,
            std::sin(phase * 3 / 2) * 30};
}

Call call(const char *op, std::vector<double> args) {
    Call c;
    c.op = op;
    c.args = std::move(args);
    return c;
}

Call primitive(const char *op, std::vector<double> args, const glm::dmat4 &m,
               int depth) {
    Call c = call(op, std::move(args));
    c.modelview = m;
    c.depth = depth;
    return c;
}

struct Frame {
    std::vector<Call> calls;
    glm::dmat4 final_modelview{1.0};
};

// One frame's host calls. `manual` is what the six reads of the check box
// return (before the body, then before each arm); `depth` the model-view
// stack depth on entry.
Frame expected_frame(double time, std::map<int, double> c,
                     const std::array<bool, 6> &manual, int depth) {
    Frame f;
    auto &out = f.calls;
    for (const char *op : {"draw_mode_setup", "get_time"}) {
        out.push_back(call(op, {}));
    }
    glm::dmat4 m = glm::translate(glm::dmat4(1.0), glm::dvec3(0, -8, -35));
    const glm::dvec3 view_axes[] = {kX, kY, kZ};
    for (int id = 1; id <= 3; ++id) {
        out.push_back(call("get_control_d", {double(id)}));
        m = rotated(m, c[id], view_axes[id - 1]);
    }
    out.push_back(call("get_control_b", {12}));
    Pose pose;  // an arm that finds the box newly on keeps this
    double spin = 360 * time / 15;
    if (manual[0]) {
        for (int id : {10, 11, 13, 14}) {
            out.push_back(call("get_control_d", {double(id)}));
        }
        pose = {c[10], c[11], c[14]};
        spin = c[13];
    }
    out.push_back(call("diffuse_color", {0.0, 0.3, 0.8}));
    out.push_back(primitive("sphere", {1.0}, m, depth));
    m = rotated(m, spin, kZ);
    for (int arm = 0; arm < 5; ++arm) {
        out.push_back(call("get_control_b", {12}));
        if (!manual[arm + 1]) {
            pose = clock_pose(time, arm);
        }
        m = rotated(m, 72, kZ);
        glm::dmat4 segment = rotated(m, pose.nod, kX);
        double length = 2.0;
        for (int j = 0; j < 10; ++j) {
            out.push_back(call("diffuse_color", {0.5, 0.5, 0.5}));
            out.push_back(primitive("cylinder", {length, 0.25, 0.25}, segment,
                                    depth + 2 + j));
            out.push_back(call("diffuse_color", {0.0, 0.3, 0.8}));
            segment = glm::translate(segment, glm::dvec3(0, 0, length));
            out.push_back(primitive("sphere", {0.3}, segment, depth + 3 + j));
            length *= 0.95;
            segment = rotated(rotated(segment, pose.twist, kZ), pose.curl, kX);
        }
    }
    f.final_modelview = m;
    return f;
}

// ---- Comparison -------------------------------------------------------------

::testing::AssertionResult matrices_near(const glm::dmat4 &expected,
                                         const glm::dmat4 &actual) {
    double scale = 1.0, worst = 0.0;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            scale = std::max(scale, std::abs(expected[i][j]));
            worst = std::max(worst, std::abs(expected[i][j] - actual[i][j]));
        }
    }
    if (worst <= kMatrixTolerance * scale) {
        return ::testing::AssertionSuccess();
    }
    auto show = [](const glm::dmat4 &m) {
        std::string text;
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 4; ++col) {
                text += std::to_string(m[col][row]) + (col < 3 ? " " : "\n");
            }
        }
        return text;
    };
    return ::testing::AssertionFailure()
           << "off by " << worst << "\nexpected\n" << show(expected)
           << "actual\n" << show(actual);
}

// Same calls, same arguments, same order; at primitives the same depth and
// (within GL's precision) the same matrix.
::testing::AssertionResult same_calls(const std::vector<Call> &expected,
                                      const std::vector<Call> &actual) {
    for (size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        const std::string want = i < expected.size() ? expected[i].text() : "(end)";
        const std::string got = i < actual.size() ? actual[i].text() : "(end)";
        if (want != got) {
            return ::testing::AssertionFailure()
                   << "call " << i << ": expected " << want << ", got " << got;
        }
        if (!expected[i].is_primitive()) {
            continue;
        }
        if (expected[i].depth != actual[i].depth) {
            return ::testing::AssertionFailure()
                   << "call " << i << " " << got << ": stack depth "
                   << actual[i].depth << ", expected " << expected[i].depth;
        }
        auto near = matrices_near(expected[i].modelview, actual[i].modelview);
        if (!near) {
            return near << "at call " << i << " " << got;
        }
    }
    return ::testing::AssertionSuccess();
}

// ---- GL state ---------------------------------------------------------------

struct GlState {
    glm::dmat4 projection{1.0};
    std::array<GLint, 4> viewport{};
    std::array<GLfloat, 4> clear{};
    GLint mode = 0;
};

GlState gl_state() {
    GlState s;
    glGetDoublev(GL_PROJECTION_MATRIX, glm::value_ptr(s.projection));
    glGetIntegerv(GL_VIEWPORT, s.viewport.data());
    glGetFloatv(GL_COLOR_CLEAR_VALUE, s.clear.data());
    glGetIntegerv(GL_MATRIX_MODE, &s.mode);
    return s;
}

int modelview_depth() {
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    return depth;
}

// ---- Fixture ----------------------------------------------------------------

class ModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Tcl_FindExecutable(nullptr);
        context_error_ = testgl::make_current(kFramebufferWidth, kFramebufferHeight);
    }

    void SetUp() override {
        ASSERT_EQ(context_error_, "");
        recording::reset();
        interp_ = Tcl_CreateInterp();
        ASSERT_EQ(Morvakine_Init(interp_), TCL_OK);
    }

    void TearDown() override {
        if (interp_ != nullptr) {
            Tcl_DeleteInterp(interp_);
        }
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    int eval(const std::string &script) { return Tcl_Eval(interp_, script.c_str()); }
    std::string result() const { return Tcl_GetStringResult(interp_); }

    // Runs `script` on a fresh record and returns what the host saw.
    std::vector<Call> record(const std::string &script, int code = TCL_OK) {
        recording::host().calls.clear();
        recording::host().b_reads = 0;
        EXPECT_EQ(eval(script), code) << script << ": " << result();
        return recording::host().calls;
    }

    // Calls a handler directly with a preset result, to see that it is
    // left alone.
    int call_with_result(Tcl_ObjCmdProc *handler, std::vector<const char *> words) {
        std::vector<Tcl_Obj *> objv;
        for (const char *word : words) {
            objv.push_back(Tcl_NewStringObj(word, -1));
            Tcl_IncrRefCount(objv.back());
        }
        Tcl_SetResult(interp_, const_cast<char *>("untouched"), TCL_STATIC);
        const int code = handler(nullptr, interp_, int(objv.size()), objv.data());
        for (Tcl_Obj *obj : objv) {
            Tcl_DecrRefCount(obj);
        }
        return code;
    }

    Tcl_Interp *interp_ = nullptr;
    static std::string context_error_;
};

std::string ModelTest::context_error_;

// ---- Registration -----------------------------------------------------------

TEST_F(ModelTest, RegistersExactlyThreeCommandsAndLeavesResult) {
    ASSERT_EQ(eval("lsort [info commands ::model::*]"), TCL_OK);
    EXPECT_EQ(result(), "::model::redraw ::model::resize ::model::setup");
    Tcl_SetResult(interp_, const_cast<char *>("before"), TCL_STATIC);
    EXPECT_EQ(Morvakine_Init(interp_), TCL_OK);
    EXPECT_EQ(result(), "before");
}

TEST_F(ModelTest, LoadFromAnotherNamespaceLandsInModel) {
    Tcl_StaticPackage(nullptr, "Morvakine", Morvakine_Init, nullptr);
    Tcl_Interp *other = Tcl_CreateInterp();
    ASSERT_EQ(Tcl_Eval(other, "namespace eval ::foo { load {} Morvakine }\n"
                              "list [lsort [info commands ::model::*]] "
                              "[info commands ::foo::*]"),
              TCL_OK)
        << Tcl_GetStringResult(other);
    EXPECT_EQ(std::string(Tcl_GetStringResult(other)),
              "{::model::redraw ::model::resize ::model::setup} {}");
    Tcl_DeleteInterp(other);
}

// ---- Control panel ----------------------------------------------------------

TEST_F(ModelTest, SetupMakesTheEightControlsInOrder) {
    const std::vector<std::string> expected = {
        "scale(\"x view\", 1, 0, 360, 1, 280)",
        "scale(\"y view\", 2, 0, 360, 1, 0)",
        "scale(\"z view\", 3, 0, 360, 1, 35)",
        "checkbox(\"manual control\", 12, 0)",
        "scale(\"twist\", 10, -45, 45, 0.5, 0)",
        "scale(\"curl\", 11, -90, 90, 0.5, 0)",
        "scale(\"spin\", 13, 0, 360, 1, 0)",
        "scale(\"nod\", 14, -60, 60, 0.5, 0)",
    };
    const std::vector<Call> plain = record("::model::setup");
    ASSERT_EQ(plain.size(), expected.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(plain[i].text(), expected[i]);
        EXPECT_EQ(plain[i].interp, interp_);
    }
    EXPECT_TRUE(same_calls(plain, record("::model::setup extra {more args} 3")));
    EXPECT_EQ(call_with_result(setup_cmd, {"::model::setup", "x"}), TCL_OK);
    EXPECT_EQ(result(), "untouched");
}

// ---- Viewport and projection ------------------------------------------------

TEST_F(ModelTest, ResizeFailuresReportAndTouchNothing) {
    const struct {
        const char *arguments;
        std::string message;
    } cases[] = {
        {"", kWrongArgs},
        {"640", kWrongArgs},
        {"640 480 1", kWrongArgs},
        {"640 480 1 2", kWrongArgs},
        {"abc 480", "expected integer but got \"abc\""},
        {"640 xyz", "expected integer but got \"xyz\""},
        {"abc xyz", "expected integer but got \"abc\""},
        {"0 480", kBadSize},
        {"640 0", kBadSize},
        {"-5 480", kBadSize},
        {"640 -5", kBadSize},
        {"0 -5", kBadSize},
    };
    // A state no resize would leave: another projection, viewport, colour
    // and matrix mode.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 2, -3, 4, 5, 6);
    glViewport(3, 4, 50, 60);
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
    const GlState before = gl_state();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_TRUE(record(std::string("::model::resize ") + c.arguments, TCL_ERROR).empty());
        EXPECT_EQ(result(), c.message);
        const GlState after = gl_state();
        EXPECT_EQ(after.projection, before.projection);
        EXPECT_EQ(after.viewport, before.viewport);
        EXPECT_EQ(after.clear, before.clear);
        EXPECT_EQ(after.mode, before.mode);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
}

TEST_F(ModelTest, ResizeSetsProjectionViewportAndClearColour) {
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    // The second size replaces the first outright.
    for (const std::array<int, 2> size : {std::array<int, 2>{640, 480}, {300, 500}}) {
        const std::string script = "::model::resize " + std::to_string(size[0]) +
                                   " " + std::to_string(size[1]);
        SCOPED_TRACE(script);
        EXPECT_TRUE(record(script).empty());
        EXPECT_EQ(result(), "");
        const GlState s = gl_state();
        EXPECT_TRUE(matrices_near(
            glm::perspective(glm::radians(30.0), double(size[0]) / size[1], 1.0, 100.0),
            s.projection));
        EXPECT_EQ(s.viewport, (std::array<GLint, 4>{0, 0, size[0], size[1]}));
        EXPECT_EQ(s.clear, (std::array<GLfloat, 4>{0, 0, 0, 0}));
        EXPECT_EQ(s.mode, GL_PROJECTION);
    }
}

// ---- Frames -----------------------------------------------------------------

struct FrameCase {
    const char *name;
    double time;
    std::map<int, double> controls;
    int flip_after_reads;             // check box toggles after this many reads
    std::array<bool, 6> manual;       // what the six reads then return
    int entry_depth;
    double drawn_as = NAN;            // the clock reading it draws as, if not `time`
};

void PrintTo(const FrameCase &c, std::ostream *out) { *out << c.name; }

const std::map<int, double> kInitialViews = {{1, 280}, {2, 0}, {3, 35}};
const std::map<int, double> kOtherViews = {{1, 10}, {2, 20}, {3, 30}};
const std::map<int, double> kManual = {{1, 10},  {2, 20},   {3, 30},  {10, 20},
                                       {11, -35}, {12, 1}, {13, 100}, {14, 15}};
const std::array<bool, 6> kClock = {0, 0, 0, 0, 0, 0};
const std::array<bool, 6> kAllManual = {1, 1, 1, 1, 1, 1};

const FrameCase kFrameCases[] = {
    {"ClockAtZero", 0, kInitialViews, -1, kClock, 1},
    {"ClockAtTwoAndAHalf", 2.5, kOtherViews, -1, kClock, 1},
    {"ClockNegative", -3, kInitialViews, -1, kClock, 1},
    {"ClockLarge", 1e6, kOtherViews, -1, kClock, 1},
    // Past 2^53 s whole repeats of the motion (840 s) are dropped, so these
    // draw as 6e305 mod 840 and -1e308 mod 840 do.
    {"ClockHuge", 6e305, kOtherViews, -1, kClock, 1, std::fmod(6e305, 840.0)},
    {"ClockHugeNegative", -1e308, kOtherViews, -1, kClock, 1, std::fmod(-1e308, 840.0)},
    {"ClockEnteredDeeper", 6.25, kOtherViews, -1, kClock, 3},
    {"ManualIgnoresClock", 7, kManual, -1, kAllManual, 1},
    {"ManualEnteredDeeper", -2, kManual, -1, kAllManual, 4},
    // The box turns on between the first read and arm 0's: arm 0 keeps the
    // rest pose, and every later arm keeps that.
    {"BoxOnBeforeFirstArm", 6, kOtherViews, 1, {0, 1, 1, 1, 1, 1}, 1},
    // On before arm 2: arms 2 to 4 keep arm 1's clock pose.
    {"BoxOnBeforeThirdArm", 6, kOtherViews, 3, {0, 0, 0, 1, 1, 1}, 1},
    // Off before arm 1: arms 1 to 4 take their clock pose, the slider spin
    // stays.
    {"BoxOffBeforeSecondArm", 6, kManual, 2, {1, 1, 0, 0, 0, 0}, 1},
};

class FrameTest : public ModelTest,
                  public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FrameTest, DrawsTheFigureExactly) {
    const FrameCase &c = GetParam();
    recording::host().controls = c.controls;
    recording::host().time = c.time;
    recording::host().flip_after_reads = c.flip_after_reads;
    ASSERT_EQ(eval("::model::resize 640 480"), TCL_OK);
    glMatrixMode(GL_MODELVIEW);
    for (int level = 1; level < c.entry_depth; ++level) {
        glPushMatrix();
    }
    ASSERT_EQ(modelview_depth(), c.entry_depth);

    const std::vector<Call> calls = record("::model::redraw");
    EXPECT_EQ(result(), "");
    const Frame expected = expected_frame(std::isnan(c.drawn_as) ? c.time : c.drawn_as,
                                          c.controls, c.manual, c.entry_depth);
    EXPECT_TRUE(same_calls(expected.calls, calls));
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const Call &x) { return x.op == "sphere"; }), 51);
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const Call &x) { return x.op == "cylinder"; }), 50);
    EXPECT_EQ(modelview_depth(), c.entry_depth);
    glm::dmat4 after;
    glGetDoublev(GL_MODELVIEW_MATRIX, glm::value_ptr(after));
    EXPECT_TRUE(matrices_near(expected.final_modelview, after));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // Extra arguments change nothing, to the last bit; the result is left.
    recording::host().controls = c.controls;
    const std::vector<Call> again = record("::model::redraw 1 {two words} three");
    ASSERT_EQ(again.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(again[i].text(), calls[i].text());
        EXPECT_EQ(again[i].modelview, calls[i].modelview) << i;
    }
    recording::host().controls = c.controls;
    recording::host().b_reads = 0;
    EXPECT_EQ(call_with_result(redraw_cmd, {"::model::redraw", "x"}), TCL_OK);
    EXPECT_EQ(result(), "untouched");

    for (int level = 1; level < c.entry_depth; ++level) {
        glPopMatrix();
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameTest, ::testing::ValuesIn(kFrameCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
