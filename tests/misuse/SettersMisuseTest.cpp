// Misuse of the mode and parameter functions through the stand-in host: missing and
// mistyped arguments, unknown modes, absurd values (NaN, infinity, negative sizes,
// regions outside the frame, point-tracking windows of 0 and 10^9). Setters never
// reset the tracker; the frames after an absurd setting must still run.
#include "misuse/MisuseFixture.h"

namespace kvomisuse {
namespace {

using KvoSetMode = MisuseTest;
using KvoGetMode = MisuseTest;
using KvoGetLastState = MisuseTest;
using KvoGetState = MisuseTest;
using KvoGetNextState = MisuseTest;
using KvoSetPointTrackingVars = MisuseTest;
using KvoSetCheckPointsValidBeforeTracking = MisuseTest;
using KvoGetCheckPointsValidBeforeTracking = MisuseTest;
using KvoAddPointsToTrack = MisuseTest;
using KvoSetFaceDetectionVars = MisuseTest;
using KvoSetFaceDetectionROI = MisuseTest;
using KvoSetFaceTrackingVars = MisuseTest;
using KvoSetCandideEnabled = MisuseTest;
using KvoGetCandideEnabled = MisuseTest;
using KvoSetCandideActionUnitsEnabled = MisuseTest;
using KvoGetCandideActionUnitsEnabled = MisuseTest;

// --- kvo_set_mode / kvo_get_mode --------------------------------------------------

TEST_F(KvoSetMode, UnknownMissingOrMistypedModesAreReportedOnceAndIgnored) {
    init();
    quiet("kvo_set_mode", rt.string("mode_point_tracking"));
    const Snapshot before = snapshot();
    oneError("kvo_set_mode", rt.string("mode_face"));
    oneError("kvo_set_mode", rt.string("MODE_FACE_TRACKING"));
    oneError("kvo_set_mode", rt.string(""));
    oneError("kvo_set_mode", rt.string(std::string("mode_face_tracking\0x", 20)));
    oneError("kvo_set_mode", rt.string(std::string(100000, 'm')));
    oneError("kvo_set_mode");
    oneError("kvo_set_mode", rt.number(1));
    oneError("kvo_set_mode", static_cast<FREObject>(nullptr));
    oneError("kvo_set_mode", staleHandle());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoSetMode, BeforeInitSwitchesWithoutTouchingTheImages) {
    quiet("kvo_set_mode", rt.string("mode_point_tracking"));
    EXPECT_EQ(text(quiet("kvo_get_mode")), "mode_point_tracking");
    EXPECT_EQ(text(oneError("kvo_update", flatFrame())), "state_reset");
    init();
    // init always leaves face detection as the next state; the first frame moves on.
    quiet("kvo_update", texturedFrame());
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

TEST_F(KvoGetMode, IgnoresArgumentsAndWorksBeforeInit) {
    EXPECT_EQ(text(quiet("kvo_get_mode", rt.string("x"), rt.number(kNaN))), "mode_face_tracking");
}

TEST_F(KvoGetState, NameBeforeInitAndAfterRefusedFrames) {
    EXPECT_EQ(text(quiet("kvo_get_state", rt.rectangle())), "state_reset");
    init();
    oneError("kvo_update", rt.string("frame"));
    EXPECT_EQ(text(quiet("kvo_get_state", static_cast<FREObject>(nullptr))), "state_reset");
}

TEST_F(KvoGetLastState, NameBeforeInitAndWithStrayArguments) {
    EXPECT_EQ(text(quiet("kvo_get_lastState", rt.string("x"), staleHandle())), "state_reset");
}

TEST_F(KvoGetNextState, NameBeforeAndAfterInit) {
    EXPECT_EQ(text(quiet("kvo_get_nextState", static_cast<FREObject>(nullptr))), "state_reset");
    init();
    EXPECT_EQ(text(quiet("kvo_get_nextState", rt.number(kNaN))), "state_face_detection");
}

// --- kvo_setPointTrackingVars -----------------------------------------------------

TEST_F(KvoSetPointTrackingVars, AbsurdWindowsLevelsAndIterationsAreClampedAndTrackingRuns) {
    initPointTracking();
    const std::vector<std::vector<double>> settings = {
        {0, 4, 25, 0.0006},           {1e9, 4, 25, 0.0006},  {-7, -3, -100, 0.0006},
        {41, 1000000, 1000000, 0.0006}, {21, 2, 5, kNaN},     {21, 2, 5, -1},
        {21, 2, 5, kInf},             {21, 2, 5, 0},         {-2147483648.0, -2147483648.0, -2147483648.0, -kInf}};
    for (const auto& v : settings) {
        quiet("kvo_setPointTrackingVars", rt.integer(static_cast<int32_t>(v[0] > 2147483647.0 ? 2147483647 : v[0])),
              rt.integer(static_cast<int32_t>(v[1])), rt.integer(static_cast<int32_t>(v[2])), rt.number(v[3]));
        EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
        const Snapshot s = snapshot();
        ASSERT_EQ(s.points.size(), 3u);
        ASSERT_EQ(s.pointStates.size(), 3u);
    }
}

TEST_F(KvoSetPointTrackingVars, MissingAndMistypedArgumentsUseTheClampsOfZero) {
    initPointTracking();
    quiet("kvo_setPointTrackingVars");
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
    quiet("kvo_setPointTrackingVars", rt.string("21"), rt.point(), rt.rectangle(), rt.string("0.1"));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
    // A Number where an int belongs.
    quiet("kvo_setPointTrackingVars", rt.number(1e300), rt.number(kNaN), rt.number(-kInf), rt.integer(1));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
    EXPECT_EQ(snapshot().points.size(), 3u);
}

TEST_F(KvoSetPointTrackingVars, BeforeInitIsStoredAndUsedAfterInit) {
    quiet("kvo_setPointTrackingVars", rt.integer(1000000000), rt.integer(0), rt.integer(0), rt.number(kNaN));
    initPointTracking();
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

// --- kvo_get/set_checkPointsValidBeforeTracking -------------------------------------

TEST_F(KvoSetCheckPointsValidBeforeTracking, OnlyTheBooleanTrueSetsIt) {
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking", rt.string("x"))));  // the default
    quiet("kvo_set_checkPointsValidBeforeTracking", rt.boolean(false));
    EXPECT_FALSE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking")));
    quiet("kvo_set_checkPointsValidBeforeTracking", rt.boolean(true));
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking")));
    for (FREObject notTrue : {rt.string("true"), rt.number(1), rt.integer(2), rt.rectangle(),
                              static_cast<FREObject>(nullptr), staleHandle()}) {
        quiet("kvo_set_checkPointsValidBeforeTracking", rt.boolean(true));
        quiet("kvo_set_checkPointsValidBeforeTracking", notTrue);
        EXPECT_FALSE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking")));
    }
    quiet("kvo_set_checkPointsValidBeforeTracking");
    EXPECT_FALSE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking")));
}

TEST_F(KvoSetCheckPointsValidBeforeTracking, CheckingDropsPointsOutsideTheFrameQuietly) {
    initPointTracking();
    quiet("kvo_set_checkPointsValidBeforeTracking", rt.boolean(true));
    quiet("kvo_addPointsToTrack", rt.array({rt.point(-50, -50), rt.point(1e9, 3), rt.point(kNaN, 10),
                                            rt.point(kInf, kInf)}));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
    const Snapshot s = snapshot();
    ASSERT_EQ(s.points.size(), 3u);
    ASSERT_EQ(s.pointStates.size(), 3u);
    EXPECT_EQ(s.points[0].x, 40.0);  // the three good points stay, in order
    EXPECT_EQ(s.points[2].x, 120.0);
}

// --- kvo_addPointsToTrack ---------------------------------------------------------

TEST_F(KvoAddPointsToTrack, WhatIsNotAnArrayIsReportedOnceAndAddsNothing) {
    initPointTracking();
    const Snapshot before = snapshot();
    oneError("kvo_addPointsToTrack");
    oneError("kvo_addPointsToTrack", static_cast<FREObject>(nullptr));
    oneError("kvo_addPointsToTrack", rt.string("1,2"));
    oneError("kvo_addPointsToTrack", rt.point(1, 2));
    oneError("kvo_addPointsToTrack", rt.rectangle(1, 2, 3, 4));
    oneError("kvo_addPointsToTrack", staleHandle());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoAddPointsToTrack, ElementsThatAreNotPointsReadAsTheOrigin) {
    initPointTracking();
    quiet("kvo_addPointsToTrack",
          rt.array({rt.string("p"), rt.number(4), static_cast<FREObject>(nullptr), rt.array({rt.number(1)})}));
    Snapshot s = snapshot();
    ASSERT_EQ(s.points.size(), 7u);
    for (size_t i = 3; i < 7; ++i) {
        EXPECT_EQ(s.points[i].x, 0.0);
        EXPECT_EQ(s.points[i].y, 0.0);
    }
    // A rectangle has x and y and counts as its corner; an object with a String "x"
    // reads x as 0.
    FREObject odd = rt.object();
    rt.setProperty(odd, "x", rt.string("12"));
    rt.setProperty(odd, "y", rt.number(5));
    quiet("kvo_addPointsToTrack", rt.array({rt.rectangle(9, 8, 7, 6), odd}));
    s = snapshot();
    ASSERT_EQ(s.points.size(), 9u);
    EXPECT_EQ(s.points[7].x, 9.0);
    EXPECT_EQ(s.points[8].x, 0.0);
    EXPECT_EQ(s.points[8].y, 5.0);
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

TEST_F(KvoAddPointsToTrack, NonFiniteAndFarAwayPointsAreTrackedWithoutFaults) {
    initPointTracking();
    // Unchecked, so that the tracker itself meets the bad points.
    quiet("kvo_set_checkPointsValidBeforeTracking", rt.boolean(false));
    quiet("kvo_addPointsToTrack",
          rt.array({rt.point(kNaN, kNaN), rt.point(kInf, -kInf), rt.point(-1e300, 1e300), rt.point(1e9, 1e9),
                    rt.point(-0.5, -0.5), rt.point(kWidth, kHeight), rt.point(kWidth - 0.5, kHeight - 0.5)}));
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(text(quiet("kvo_update", texturedFrame(kWidth, kHeight, 7 + frame))), "state_point_tracking");
    }
    const Snapshot s = snapshot();
    ASSERT_EQ(s.points.size(), 10u);
    ASSERT_EQ(s.pointStates.size(), 10u);
    // Points that cannot be followed are marked invalid.
    EXPECT_EQ(s.pointStates[3], 0.0);
    EXPECT_EQ(s.pointStates[4], 0.0);
    EXPECT_EQ(s.pointStates[5], 0.0);
    EXPECT_EQ(s.pointStates[6], 0.0);
}

TEST_F(KvoAddPointsToTrack, AnEmptyArrayAndAddingBeforeInitAreHarmless) {
    quiet("kvo_addPointsToTrack", rt.array({rt.point(10, 10)}));
    quiet("kvo_addPointsToTrack", rt.array());
    init();
    quiet("kvo_set_mode", rt.string("mode_point_tracking"));
    const Snapshot s = snapshot();
    EXPECT_EQ(s.points.size(), 1u);  // switching into point tracking keeps the points
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

// --- kvo_setFaceDetectionVars -----------------------------------------------------

TEST_F(KvoSetFaceDetectionVars, AbsurdScalesAndStepsNeverHangOrFault) {
    init();
    const std::vector<std::vector<double>> settings = {
        {4, 0, 12, 0.04},     {4, -0.5, 12, 0.04}, {4, 1e-300, 12, 0.04}, {4, 0.5, 12, 0},
        {4, 0.5, 12, -1},     {0, 0.5, 12, 0.04},  {-4, 0.5, 12, 0.04},  {kNaN, kNaN, kNaN, kNaN},
        {kInf, 0.5, kInf, 0.04}, {1, kInf, 12, 0.04}, {1, 0.5, kInf, 1e-300}, {1e-300, 1e-300, 1e300, 0.04},
        {1, 0.5, 12, 1e300},  {4, 0.5, -12, 0.04}};
    for (const auto& v : settings) {
        quiet("kvo_setFaceDetectionVars", rt.number(v[0]), rt.number(v[1]), rt.number(v[2]), rt.number(v[3]),
              rt.integer(-2147483647 - 1), rt.boolean(true));
        const std::string out = captured([&] {
            EXPECT_EQ(text(ext.call("kvo_update", texturedFrame())), "state_face_detection");
        });
        EXPECT_LE(lines(out).size(), 1u) << out;
        FREObject faces = rt.array();
        quiet("kvo_get_lastDetectedFaces", faces);
    }
}

TEST_F(KvoSetFaceDetectionVars, MissingAndMistypedArgumentsAreStoredAsZero) {
    init();
    quiet("kvo_setFaceDetectionVars");
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
    quiet("kvo_setFaceDetectionVars", rt.string("4"), rt.point(), rt.rectangle(), rt.array(), rt.string("3"),
          rt.integer(1));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
}

// --- kvo_setFaceDetectionROI ------------------------------------------------------

TEST_F(KvoSetFaceDetectionROI, BeforeInitIsReportedOnce) { oneError("kvo_setFaceDetectionROI", rt.number(0)); }

TEST_F(KvoSetFaceDetectionROI, RegionsOutsideTheFrameOrNotFiniteScanNothingOutside) {
    init();
    const std::vector<std::vector<double>> regions = {
        {-1000, -1000, 100, 100}, {1000, 1000, 100, 100}, {-50, -50, 1e9, 1e9}, {10, 10, -100, -100},
        {kNaN, 0, 100, 100},      {0, 0, kInf, kInf},     {-kInf, -kInf, kInf, kInf}, {0, 0, 0, 0},
        {1e300, -1e300, 1e300, 1e300}, {kWidth - 1, kHeight - 1, 2, 2}};
    for (const auto& r : regions) {
        quiet("kvo_setFaceDetectionROI", rt.number(r[0]), rt.number(r[1]), rt.number(r[2]), rt.number(r[3]));
        const std::string out =
            captured([&] { EXPECT_EQ(text(ext.call("kvo_update", texturedFrame())), "state_face_detection"); });
        EXPECT_LE(lines(out).size(), 1u) << out;
    }
}

TEST_F(KvoSetFaceDetectionROI, MissingAndMistypedArgumentsGiveAnEmptyRegion) {
    init();
    quiet("kvo_setFaceDetectionROI");
    quiet("kvo_setFaceDetectionROI", rt.string("0"), rt.point(), rt.rectangle(0, 0, 10, 10), rt.array());
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
    FREObject faces = rt.array({rt.rectangle()});
    quiet("kvo_get_lastDetectedFaces", faces);
    EXPECT_EQ(rt.length(faces), 0u);
}

// --- kvo_setFaceTrackingVars ------------------------------------------------------

TEST_F(KvoSetFaceTrackingVars, AbsurdSizesAndMistypedArgumentsKeepTheTrackerRunning) {
    init();
    const Snapshot before = snapshot();
    quiet("kvo_setFaceTrackingVars", rt.number(kNaN), rt.number(-kInf), rt.integer(-2147483647 - 1));
    quiet("kvo_setFaceTrackingVars", rt.number(-100), rt.number(-200), rt.integer(2147483647));
    quiet("kvo_setFaceTrackingVars", rt.string("50"), rt.rectangle(), rt.string("1"));
    quiet("kvo_setFaceTrackingVars");
    EXPECT_EQ(snapshot(), before);  // setters never touch the state
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
    const std::string out = captured([&] {
        ext.call("kvo_updateByEyes", texturedFrame(), rt.point(50, 50), rt.point(100, 50), rt.integer(2));
    });
    EXPECT_LE(lines(out).size(), 1u) << out;
}

// --- kvo_get/set_candideEnabled, kvo_get/set_candideActionUnitsEnabled --------------

TEST_F(KvoSetCandideEnabled, OnlyTheBooleanTrueEnables) {
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_candideEnabled", rt.string("ignored"))));
    for (FREObject notTrue : {rt.string("true"), rt.number(1), rt.integer(1), rt.point(),
                              static_cast<FREObject>(nullptr), staleHandle()}) {
        quiet("kvo_set_candideEnabled", rt.boolean(true));
        quiet("kvo_set_candideEnabled", notTrue);
        EXPECT_FALSE(rt.toBool(quiet("kvo_get_candideEnabled")));
    }
    quiet("kvo_set_candideEnabled", rt.boolean(true));
    quiet("kvo_set_candideEnabled");
    EXPECT_FALSE(rt.toBool(quiet("kvo_get_candideEnabled")));
}

TEST_F(KvoSetCandideActionUnitsEnabled, OnlyTheBooleanTrueEnables) {
    quiet("kvo_set_candideActionUnitsEnabled", rt.boolean(true));
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_candideActionUnitsEnabled")));
    for (FREObject notTrue : {rt.string("1"), rt.number(1), rt.rectangle(), static_cast<FREObject>(nullptr)}) {
        quiet("kvo_set_candideActionUnitsEnabled", rt.boolean(true));
        quiet("kvo_set_candideActionUnitsEnabled", notTrue);
        EXPECT_FALSE(rt.toBool(quiet("kvo_get_candideActionUnitsEnabled")));
    }
}

TEST_F(KvoGetCheckPointsValidBeforeTracking, DefaultBeforeInitAndStrayArgumentsIgnored) {
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_checkPointsValidBeforeTracking", rt.boolean(false), rt.string("x"))));
}

TEST_F(KvoGetCandideEnabled, DefaultBeforeInitAndStrayArgumentsIgnored) {
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_candideEnabled", rt.boolean(false))));
    init();
    EXPECT_TRUE(rt.toBool(quiet("kvo_get_candideEnabled", staleHandle())));
}

TEST_F(KvoGetCandideActionUnitsEnabled, StrayArgumentsDoNotChangeIt) {
    const bool initial = rt.toBool(quiet("kvo_get_candideActionUnitsEnabled"));
    EXPECT_EQ(rt.toBool(quiet("kvo_get_candideActionUnitsEnabled", rt.boolean(!initial), rt.integer(1))), initial);
}

}  // namespace
}  // namespace kvomisuse
