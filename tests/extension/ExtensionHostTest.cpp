// libKestavo.so loaded and driven exactly as a host does: through the stand-in host
// runtime, by function name, with 32-bit host bitmaps. Each test loads its own copy
// of the library, so each starts with a fresh tracker.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/HostRuntime.h"
#include "support/MediaFrames.h"

using kvohost::Extension;
using kvohost::Runtime;

namespace {

// Copies the built library to a file of its own, so that dlopen gives it separate
// statics (one tracker per copy).
std::string freshLibraryCopy() {
    static int n = 0;
    const std::string path = "/tmp/kvo_ext_test_" + std::to_string(getpid()) + "_" + std::to_string(n++) + ".so";
    std::ifstream src(KVO_LIBRARY_PATH, std::ios::binary);
    std::ofstream dst(path, std::ios::binary);
    dst << src.rdbuf();
    return path;
}

class ExtensionHostTest : public ::testing::Test {
protected:
    ExtensionHostTest() : path(freshLibraryCopy()), ext(rt, path) {}
    ~ExtensionHostTest() override { unlink(path.c_str()); }

    std::string state() { return rt.toString(ext.call("kvo_get_state")); }
    std::string nextState() { return rt.toString(ext.call("kvo_get_nextState")); }

    FREObject uniformBitmap(uint32_t w, uint32_t h, uint32_t bgra) {
        std::vector<uint32_t> px(static_cast<size_t>(w) * h, bgra);
        return rt.bitmap(w, h, px.data());
    }

    void initAt640x480() {
        ext.call("kvo_init", uniformBitmap(640, 480, 0xff808080u), rt.number(0), rt.number(0),
                 rt.number(640), rt.number(480));
    }

    Runtime rt;
    std::string path;
    Extension ext;
};

TEST_F(ExtensionHostTest, HandsOverTheThirtySixFunctionsInOrder) {
    const std::vector<std::string> expected = {
        "kvo_init", "kvo_update", "kvo_updateByEyes", "kvo_reset", "kvo_get_mode", "kvo_set_mode",
        "kvo_get_lastState", "kvo_get_state", "kvo_get_nextState", "kvo_setPointTrackingVars",
        "kvo_get_pointsToTrack", "kvo_get_pointStates", "kvo_get_checkPointsValidBeforeTracking",
        "kvo_set_checkPointsValidBeforeTracking", "kvo_addPointsToTrack", "kvo_setFaceDetectionVars",
        "kvo_setFaceDetectionROI", "kvo_get_lastDetectedFace", "kvo_get_lastDetectedFaces",
        "kvo_setFaceTrackingVars", "kvo_get_faceShape_faceShapeTriangles",
        "kvo_get_faceShape_candideShapeTriangles", "kvo_get_faceShape_faceShapeVectices",
        "kvo_get_faceShape_points", "kvo_get_faceShape_bounds", "kvo_get_faceShape_candideShapeVertices",
        "kvo_get_faceShape_scale", "kvo_get_faceShape_translationX", "kvo_get_faceShape_translationY",
        "kvo_get_faceShape_rotationX", "kvo_get_faceShape_rotationY", "kvo_get_faceShape_rotationZ",
        "kvo_get_candideEnabled", "kvo_set_candideEnabled", "kvo_get_candideActionUnitsEnabled",
        "kvo_set_candideActionUnitsEnabled"};
    EXPECT_EQ(ext.functionNames(), expected);
}

TEST_F(ExtensionHostTest, InitDecodesTheModelsAndSetsTheStartState) {
    testing::internal::CaptureStdout();
    initAt640x480();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(state(), "state_reset");
    EXPECT_EQ(nextState(), "state_face_detection");
    EXPECT_EQ(rt.toString(ext.call("kvo_get_mode")), "mode_face_tracking");
    // The cascade and Candide models decode and parse without a word.
    EXPECT_EQ(out.find("cascade"), std::string::npos) << out;
    EXPECT_EQ(out.find("Candide"), std::string::npos) << out;
    FREObject tris = rt.array();
    ext.call("kvo_get_faceShape_candideShapeTriangles", tris);
    EXPECT_GT(rt.length(tris), 0u);
}

TEST_F(ExtensionHostTest, UpdateCallsTheHostInOrder) {
    initAt640x480();
    FREObject frame = uniformBitmap(640, 480, 0xff202020u);
    rt.setCallLogging(true);
    FREObject result = ext.call("kvo_update", frame);
    rt.setCallLogging(false);
    EXPECT_EQ(rt.toString(result), "state_face_detection");
    EXPECT_EQ(rt.calledFunctions(),
              (std::vector<std::string>{"FREAcquireBitmapData", "FREReleaseBitmapData", "FRENewObjectFromUTF8"}));
    EXPECT_FALSE(rt.isBitmapAcquired(frame));
}

TEST_F(ExtensionHostTest, DetectsTheSampleFace) {
    std::vector<uint32_t> face;
    if (!kvotest::decodeBgraImage(kvotest::mediaPath("franck_01829.jpg"), 640, 480, face)) {
        GTEST_SKIP() << "sample media not installed";
    }
    initAt640x480();
    ext.call("kvo_set_mode", rt.string("mode_face_detection"));
    FREObject frame = rt.bitmap(640, 480, face.data());
    EXPECT_EQ(rt.toString(ext.call("kvo_update", frame)), "state_face_detection");
    FREObject r = rt.rectangle();
    ext.call("kvo_get_lastDetectedFace", r);
    const auto box = rt.toRectangle(r);
    EXPECT_GT(box.width, 80.0);
    EXPECT_GT(box.x + box.width / 2, 200.0);
    EXPECT_LT(box.x + box.width / 2, 440.0);
    FREObject raw = rt.array();
    ext.call("kvo_get_lastDetectedFaces", raw);
    EXPECT_GE(rt.length(raw), 12u);
}

TEST_F(ExtensionHostTest, EyesGiveTheFaceRectangle) {
    initAt640x480();
    FREObject frame = uniformBitmap(640, 480, 0xff808080u);
    FREObject s = ext.call("kvo_updateByEyes", frame, rt.point(144, 120), rt.point(100, 120), rt.integer(0));
    EXPECT_EQ(rt.toString(s), "state_reset");
    EXPECT_EQ(nextState(), "state_face_detection");
    FREObject r = rt.rectangle();
    ext.call("kvo_get_lastDetectedFace", r);
    EXPECT_EQ(rt.toInt(rt.property(r, "x")), 72);
    EXPECT_EQ(rt.toInt(rt.property(r, "y")), 86);
    EXPECT_EQ(rt.toInt(rt.property(r, "width")), 100);
}

TEST_F(ExtensionHostTest, AbsurdEyeIterationCountsAreCapped) {
    initAt640x480();
    testing::internal::CaptureStdout();
    FREObject s = ext.call("kvo_updateByEyes", uniformBitmap(640, 480, 0xff808080u), rt.point(280, 200),
                           rt.point(360, 200), rt.integer(1000000000));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Error: kvo_updateByEyes: 1000000000 iterations requested; 100 are run.\n"), 0u) << out;
    // The call returned (after at most 100 steps) with a state of the machine.
    const std::string state = rt.toString(s);
    EXPECT_TRUE(state == "state_reset" || state == "state_face_tracking" || state == "state_face_tracking_start") << state;
}

TEST_F(ExtensionHostTest, DetectionRegionIsStoredInDetectorPixels) {
    ext.call("kvo_init", uniformBitmap(640, 480, 0xff808080u), rt.number(10), rt.number(0),
             rt.number(600), rt.number(480));
    // The detector runs at level scale 1 on this ROI: (50.7 - 10, 20.2, 100.9, 80.5) truncated.
    testing::internal::CaptureStdout();
    ext.call("kvo_setFaceDetectionROI", rt.number(50.7), rt.number(20.2), rt.number(100.9), rt.number(80.5));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // No face in a flat frame, but the call must not disturb the state machine.
    EXPECT_EQ(rt.toString(ext.call("kvo_update", uniformBitmap(640, 480, 0xff808080u))), "state_face_detection");
}

TEST_F(ExtensionHostTest, PointModeWithoutPointsChangesNothing) {
    initAt640x480();
    ext.call("kvo_set_mode", rt.string("mode_point_tracking"));
    FREObject frame = uniformBitmap(640, 480, 0xff808080u);
    EXPECT_EQ(rt.toString(ext.call("kvo_update", frame)), "state_point_tracking");
    ext.call("kvo_reset");
    EXPECT_EQ(state(), "state_reset");
    EXPECT_EQ(rt.toString(ext.call("kvo_update", frame)), "state_point_tracking");
    FREObject pts = rt.array();
    ext.call("kvo_get_pointsToTrack", pts);
    EXPECT_EQ(rt.length(pts), 0u);
}

// --- Bad input: no crash, one "Error: ..." line, state unchanged.

TEST_F(ExtensionHostTest, UpdateBeforeInitIsRefused) {
    testing::internal::CaptureStdout();
    FREObject s = ext.call("kvo_update", uniformBitmap(64, 48, 0));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: kvo_update: kvo_init must be called first.\n");
    EXPECT_EQ(rt.toString(s), "state_reset");
    testing::internal::CaptureStdout();
    ext.call("kvo_updateByEyes", uniformBitmap(64, 48, 0), rt.point(1, 1), rt.point(5, 1), rt.integer(2));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: kvo_updateByEyes: kvo_init must be called first.\n");
    testing::internal::CaptureStdout();
    ext.call("kvo_setFaceDetectionROI", rt.number(0), rt.number(0), rt.number(10), rt.number(10));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: kvo_setFaceDetectionROI: kvo_init must be called first.\n");
}

TEST_F(ExtensionHostTest, FrameOfAnotherSizeIsRefused) {
    initAt640x480();
    ext.call("kvo_update", uniformBitmap(640, 480, 0xff808080u));
    const std::string before = state();
    testing::internal::CaptureStdout();
    FREObject small = uniformBitmap(320, 240, 0xff808080u);
    FREObject s = ext.call("kvo_update", small);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: kvo_update: the frame is 320 x 240 pixels but kvo_init was given 640 x 480.\n");
    EXPECT_EQ(rt.toString(s), before);
    EXPECT_FALSE(rt.isBitmapAcquired(small));
}

TEST_F(ExtensionHostTest, ArgumentsOfTheWrongKindAreRefused) {
    initAt640x480();
    testing::internal::CaptureStdout();
    ext.call("kvo_update", rt.rectangle(0, 0, 640, 480));
    ext.call("kvo_update");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Error: kvo_update: argument 0 is not a bitmap that can be read.\n"
              "Error: kvo_update: argument 0 is not a bitmap that can be read.\n");
    EXPECT_EQ(state(), "state_reset");
}

TEST_F(ExtensionHostTest, ASecondInitIsRefusedAndTheFirstSizeKept) {
    initAt640x480();
    testing::internal::CaptureStdout();
    ext.call("kvo_init", uniformBitmap(320, 240, 0), rt.number(0), rt.number(0), rt.number(320), rt.number(240));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: kvo_init: the tracker is already initialised; it keeps its first frame size.\n");
    EXPECT_EQ(rt.toString(ext.call("kvo_update", uniformBitmap(640, 480, 0xff808080u))), "state_face_detection");
}

TEST_F(ExtensionHostTest, EveryFunctionSurvivesMissingArguments) {
    for (const std::string& name : ext.functionNames()) {
        testing::internal::CaptureStdout();
        ext.callWith(name, std::vector<FREObject>{});
        ext.callWith(name, std::vector<FREObject>{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
        testing::internal::GetCapturedStdout();
    }
    initAt640x480();
    for (const std::string& name : ext.functionNames()) {
        testing::internal::CaptureStdout();
        ext.callWith(name, std::vector<FREObject>{});
        ext.callWith(name, std::vector<FREObject>{rt.string("x"), rt.string("y"), rt.string("z"),
                                                  rt.string("w"), rt.string("v"), rt.string("u")});
        testing::internal::GetCapturedStdout();
    }
    // Still alive and consistent.
    ext.call("kvo_set_mode", rt.string("mode_face_tracking"));
    EXPECT_EQ(rt.toString(ext.call("kvo_get_mode")), "mode_face_tracking");
}

TEST_F(ExtensionHostTest, PaddedRowsAreReadRowByRow) {
    // A 4-pixel-wide frame whose rows are 6 words apart: the padding must not be read
    // as pixels. Point tracking of a textured frame would be disturbed otherwise; here
    // the check is that the frame is accepted and the state machine runs.
    std::vector<uint32_t> px(64 * 48, 0xff0000ffu);
    FREObject bmp = rt.bitmap(64, 48, px.data(), 70);
    ext.call("kvo_init", rt.bitmap(64, 48, px.data()), rt.number(0), rt.number(0), rt.number(64), rt.number(48));
    testing::internal::CaptureStdout();
    EXPECT_EQ(rt.toString(ext.call("kvo_update", bmp)), "state_face_detection");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Threads of this process now (entries of /proc/self/task).
int processThreads() {
    int n = 0;
    DIR* d = opendir("/proc/self/task");
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// The thread count once it reaches `expected`, or after 2 s. A joined thread can stay
// listed for a moment after the join returns: qemu's user-mode emulator (which runs the
// 32-bit tests on kernels without 32-bit support) wakes the joiner before the emulating
// thread itself has exited.
int processThreadsOnceAt(int expected) {
    int n = processThreads();
    for (int waited = 0; n != expected && waited < 200; ++waited) {
        usleep(10000);
        n = processThreads();
    }
    return n;
}

// The tracker's parked worker: started by kvo_init, joined when the host finalises the
// context (the loader's destructor calls the finalisers), so none runs once the host has
// let the library go; tracking through the host keeps working meanwhile.
TEST(ExtensionWorkersTest, TheParkedWorkerStartsAtInitAndIsJoinedByTheFinalisers) {
    const int before = processThreads();
    int during = 0;
    const std::string path = freshLibraryCopy();
    {
        Runtime rt;
        Extension ext(rt, path);
        EXPECT_EQ(processThreads(), before);  // loading starts no thread
        std::vector<uint32_t> face;
        ASSERT_TRUE(kvotest::decodeBgraImage(kvotest::mediaPath("franck_01829.jpg"), 640, 480, face));
        FREObject bitmap = rt.bitmap(640, 480, face.data());
        ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(640), rt.number(480));
        // (A sanitizer's runtime may start a thread of its own with the first thread.)
        during = processThreads();
        EXPECT_GE(during, before + 1);
        std::string state;
        for (int i = 0; i < 12; ++i) state = rt.toString(ext.call("kvo_update", bitmap));
        EXPECT_EQ(state, "state_face_tracking");
        EXPECT_EQ(processThreads(), during);  // the same worker, parked between calls
    }
    EXPECT_EQ(processThreadsOnceAt(during - 1), during - 1);
    unlink(path.c_str());
}

}  // namespace
