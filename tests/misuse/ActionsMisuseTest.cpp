// Misuse of the action functions (kvo_init, kvo_update, kvo_updateByEyes, kvo_reset)
// through the stand-in host: missing and mistyped arguments, frames of another size,
// calls out of order and absurd values. Every case must return normally, write at
// most one "Error: ..." line and leave the tracker as documented.
#include "misuse/MisuseFixture.h"

namespace kvomisuse {
namespace {

using KvoInit = MisuseTest;
using KvoUpdate = MisuseTest;
using KvoUpdateByEyes = MisuseTest;
using KvoReset = MisuseTest;

// --- kvo_init ---------------------------------------------------------------------

TEST_F(KvoInit, WithoutArgumentsReportsAndStaysUninitialised) {
    oneError("kvo_init");
    // Still not initialised: a frame is refused with the "call kvo_init first" error.
    EXPECT_EQ(text(oneError("kvo_update", flatFrame())), "state_reset");
}

TEST_F(KvoInit, RefusesAStringARectangleANullAndAStaleHandleAsTheBitmap) {
    oneError("kvo_init", rt.string("bitmap"), rt.number(0), rt.number(0), rt.number(kWidth), rt.number(kHeight));
    oneError("kvo_init", rt.rectangle(0, 0, kWidth, kHeight));
    oneError("kvo_init", static_cast<FREObject>(nullptr));
    oneError("kvo_init", staleHandle());
    oneError("kvo_init", rt.array({rt.number(1)}));
    // None of them initialised the tracker: a proper init still works.
    init();
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
}

TEST_F(KvoInit, ASecondInitIsRefusedAndTheFirstSizeKept) {
    init();
    const Snapshot before = snapshot();
    oneError("kvo_init", flatFrame(2 * kWidth, 2 * kHeight), rt.number(0), rt.number(0), rt.number(2 * kWidth),
             rt.number(2 * kHeight));
    EXPECT_EQ(snapshot(), before);
    // Frames of the first size are still taken, frames of the second are not.
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
    EXPECT_EQ(text(oneError("kvo_update", flatFrame(2 * kWidth, 2 * kHeight))), "state_face_detection");
}

TEST_F(KvoInit, MistypedRegionNumbersFallBackToTheirDefaults) {
    // Strings and a point where the four Numbers belong read as 0, 0, 240, 320, which
    // reaches past this 160 x 120 frame and is clamped with one report.
    oneError("kvo_init", texturedFrame(), rt.string("x"), rt.point(), rt.string("w"), rt.object());
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
}

class KvoInitRegion : public MisuseTest,
                      public ::testing::WithParamInterface<std::vector<double>> {};

TEST_P(KvoInitRegion, AnAbsurdImageRegionIsReportedOnceAndTheTrackerWorks) {
    const std::vector<double>& r = GetParam();
    oneError("kvo_init", texturedFrame(), rt.number(r[0]), rt.number(r[1]), rt.number(r[2]), rt.number(r[3]));
    // Every mode runs on the replacement region without a further word.
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
    quiet("kvo_set_mode", rt.string("mode_point_tracking"));
    quiet("kvo_addPointsToTrack", rt.array({rt.point(10, 10), rt.point(150, 110)}));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

INSTANTIATE_TEST_SUITE_P(
    Regions, KvoInitRegion,
    ::testing::Values(std::vector<double>{kNaN, 0, kWidth, kHeight}, std::vector<double>{0, 0, kInf, kHeight},
                      std::vector<double>{0, 0, -50, -50}, std::vector<double>{1000, 1000, 100, 100},
                      std::vector<double>{-1e9, -1e9, 1e9, 1e9}, std::vector<double>{0, 0, 0, 0},
                      std::vector<double>{-kInf, kNaN, kNaN, kInf}, std::vector<double>{0, 0, 1e300, 1e300}));

TEST_F(KvoInit, APaddedBitmapIsReadRowByRow) {
    std::vector<uint32_t> px(static_cast<size_t>(kWidth) * kHeight, 0xff404040u);
    FREObject padded = rt.bitmap(kWidth, kHeight, px.data(), kWidth + 13);
    quiet("kvo_init", padded, rt.number(0), rt.number(0), rt.number(kWidth), rt.number(kHeight));
    EXPECT_EQ(text(quiet("kvo_update", padded)), "state_face_detection");
}

TEST_F(KvoInit, ReleasesTheBitmapOnEveryPath) {
    FREObject bitmap = flatFrame();
    oneError("kvo_init", bitmap, rt.number(kNaN), rt.number(0), rt.number(kWidth), rt.number(kHeight));
    EXPECT_FALSE(rt.isBitmapAcquired(bitmap));
    FREObject second = flatFrame(kWidth / 2, kHeight / 2);
    oneError("kvo_init", second);
    EXPECT_FALSE(rt.isBitmapAcquired(second));
}

// --- kvo_update -------------------------------------------------------------------

TEST_F(KvoUpdate, BeforeInitReportsAndReturnsTheResetState) {
    FREObject frame = flatFrame();
    EXPECT_EQ(text(oneError("kvo_update", frame)), "state_reset");
    EXPECT_FALSE(rt.isBitmapAcquired(frame));
    EXPECT_EQ(text(oneError("kvo_update")), "state_reset");
}

TEST_F(KvoUpdate, RefusesWhatIsNotABitmapAndKeepsTheState) {
    init();
    quiet("kvo_update", texturedFrame());
    const Snapshot before = snapshot();
    oneError("kvo_update");
    oneError("kvo_update", static_cast<FREObject>(nullptr));
    oneError("kvo_update", rt.string("frame"));
    oneError("kvo_update", rt.rectangle(0, 0, kWidth, kHeight));
    oneError("kvo_update", rt.number(3));
    oneError("kvo_update", staleHandle());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoUpdate, RefusesFramesOfAnotherSizeWithoutReadingThem) {
    initPointTracking();
    quiet("kvo_update", texturedFrame());
    const Snapshot before = snapshot();
    // Smaller frames would be read past their end, larger ones misread: both refused.
    for (auto size : {std::make_pair(kWidth - 1, kHeight), std::make_pair(kWidth, kHeight - 1),
                      std::make_pair(1u, 1u), std::make_pair(kWidth + 1, kHeight), std::make_pair(kHeight, kWidth)}) {
        FREObject frame = flatFrame(size.first, size.second);
        EXPECT_EQ(text(oneError("kvo_update", frame)), "state_point_tracking");
        EXPECT_FALSE(rt.isBitmapAcquired(frame));
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoUpdate, ExtraArgumentsAreIgnored) {
    init();
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame(), rt.string("extra"), rt.number(kNaN))), "state_face_detection");
}

TEST_F(KvoUpdate, ABitmapStillAcquiredByTheHostIsRefused) {
    init();
    FREObject frame = texturedFrame();
    FREBitmapData desc = {};
    ASSERT_EQ(FREAcquireBitmapData(frame, &desc), FRE_OK);
    oneError("kvo_update", frame);
    FREReleaseBitmapData(frame);
    EXPECT_EQ(text(quiet("kvo_update", frame)), "state_face_detection");
}

// --- kvo_updateByEyes -------------------------------------------------------------

TEST_F(KvoUpdateByEyes, BeforeInitReportsOnce) {
    EXPECT_EQ(text(oneError("kvo_updateByEyes", flatFrame(), rt.point(40, 50), rt.point(80, 50), rt.integer(3))),
              "state_reset");
}

TEST_F(KvoUpdateByEyes, RefusesABadFrameBeforeReadingTheEyes) {
    init();
    const Snapshot before = snapshot();
    oneError("kvo_updateByEyes");
    oneError("kvo_updateByEyes", rt.rectangle(), rt.point(40, 50), rt.point(80, 50), rt.integer(3));
    oneError("kvo_updateByEyes", flatFrame(kWidth * 2, kHeight), rt.point(40, 50), rt.point(80, 50), rt.integer(3));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoUpdateByEyes, NonFiniteEyesAreReportedAndIgnored) {
    init();
    const Snapshot before = snapshot();
    oneError("kvo_updateByEyes", texturedFrame(), rt.point(kNaN, 50), rt.point(80, 50), rt.integer(3));
    oneError("kvo_updateByEyes", texturedFrame(), rt.point(40, 50), rt.point(80, kInf), rt.integer(3));
    oneError("kvo_updateByEyes", texturedFrame(), rt.point(-kInf, 50), rt.point(80, 50), rt.integer(1000000000));
    EXPECT_EQ(snapshot().face.width, before.face.width);
    EXPECT_EQ(snapshot().nextState, before.nextState);
}

TEST_F(KvoUpdateByEyes, MissingOrMistypedEyesReadAsTheOrigin) {
    init();
    // No eye points and no iteration count: both eyes at (0, 0), a face of no size,
    // and the tracker resets; the shape model not being loaded is reported once.
    const std::string out = captured([&] {
        EXPECT_EQ(text(ext.call("kvo_updateByEyes", texturedFrame())), "state_reset");
        EXPECT_EQ(text(ext.call("kvo_updateByEyes", texturedFrame(), rt.string("a"), rt.array(), rt.string("3"))),
                  "state_reset");
    });
    EXPECT_LE(lines(out).size(), 1u) << out;
    FREObject face = rt.rectangle(1, 1, 1, 1);
    quiet("kvo_get_lastDetectedFace", face);
    EXPECT_EQ(rt.toRectangle(face).width, 0.0);
    EXPECT_EQ(text(quiet("kvo_get_nextState")), "state_face_detection");
}

TEST_F(KvoUpdateByEyes, AbsurdEyeDistancesAndIterationCountsReturn) {
    init();
    for (int iterations : {-5, 0, 1000000000}) {
        const std::string out = captured([&] {
            ext.call("kvo_updateByEyes", texturedFrame(), rt.point(-1e12, 1e12), rt.point(1e12, -1e12),
                     rt.integer(iterations));
        });
        EXPECT_LE(lines(out).size(), 1u) << out;
    }
    // The face rectangle saturates at the int range rather than wrapping.
    FREObject face = rt.rectangle();
    quiet("kvo_get_lastDetectedFace", face);
    EXPECT_GT(rt.toRectangle(face).width, 0.0);
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
}

TEST_F(KvoUpdateByEyes, OutsideFaceTrackingModeOnlyResets) {
    initPointTracking();
    quiet("kvo_update", texturedFrame());
    EXPECT_EQ(text(quiet("kvo_updateByEyes", texturedFrame(), rt.point(40, 50), rt.point(80, 50), rt.integer(3))),
              "state_reset");
    EXPECT_EQ(text(quiet("kvo_get_mode")), "mode_point_tracking");
}

// --- kvo_reset --------------------------------------------------------------------

TEST_F(KvoReset, BeforeInitIsHarmless) {
    quiet("kvo_reset");
    quiet("kvo_reset", rt.string("now"), rt.number(kNaN));
    EXPECT_EQ(text(quiet("kvo_get_state")), "state_reset");
    // The tracker still initialises and runs normally afterwards.
    init();
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_face_detection");
}

TEST_F(KvoReset, RepeatedResetsInPointTrackingForgetThePointsOnce) {
    initPointTracking();
    quiet("kvo_update", texturedFrame());
    for (int i = 0; i < 3; ++i) quiet("kvo_reset");
    const Snapshot s = snapshot();
    EXPECT_TRUE(s.points.empty());
    EXPECT_EQ(s.state, "state_reset");
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

}  // namespace
}  // namespace kvomisuse
