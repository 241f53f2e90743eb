// Host values that would make one call run for minutes or exhaust memory, through the
// stand-in host: each is bounded, reported with one "Error: ..." line when it is given
// (not on every frame), and the tracker keeps working. Without the bounds the detection
// cases below run for tens of seconds to hours on a 640 x 480 frame.
#include "misuse/MisuseFixture.h"

namespace kvomisuse {
namespace {

constexpr uint32_t kBigWidth = 640;
constexpr uint32_t kBigHeight = 480;

class ScanBoundsMisuse : public MisuseTest {
protected:
    void initBig() {
        quiet("kvo_init", texturedFrame(kBigWidth, kBigHeight), rt.number(0), rt.number(0), rt.number(kBigWidth),
              rt.number(kBigHeight));
    }
    FREObject setDetection(int errors, double start, double increment, double maxScale, double step, bool full) {
        return expectErrors(errors, "kvo_setFaceDetectionVars", rt.number(start), rt.number(increment),
                            rt.number(maxScale), rt.number(step), rt.integer(12), rt.boolean(full));
    }
    // A detection frame (a full scan: no face ends it early), which may say nothing more.
    void detect() {
        EXPECT_EQ(text(quiet("kvo_update", texturedFrame(kBigWidth, kBigHeight, 11))), "state_face_detection");
    }
};

TEST_F(ScanBoundsMisuse, ATinyScaleIncrementIsReportedWhenSetAndTheScanStaysShort) {
    initBig();
    setDetection(1, 4.0, 1e-6, 12.0, 0.1, true);  // eight million window sizes
    detect();
    detect();
    setDetection(1, 4.0, 1e-6, 12.0, 0.1, true);  // given again, said again
    setDetection(0, 4.0, 0.5, 12.0, 0.04, true);  // back to the defaults: nothing to say
    detect();
}

TEST_F(ScanBoundsMisuse, ADenseStepIsReportedWhenSetAndTheScanStaysShort) {
    initBig();
    setDetection(1, 1.0, 0.05, 20.0, 0.0, true);  // steps of one pixel from 24 px windows
    detect();
}

TEST_F(ScanBoundsMisuse, BothAtOnceGiveOneLineEach) {
    initBig();
    setDetection(2, 1.0, 1e-7, 20.0, 1e-9, true);
    detect();
}

TEST_F(ScanBoundsMisuse, SettingsGivenBeforeInitAreReportedByInit) {
    setDetection(0, 4.0, 1e-6, 12.0, 0.1, false);  // no frame size yet to check against
    expectErrors(1, "kvo_init", texturedFrame(kBigWidth, kBigHeight), rt.number(0), rt.number(0),
                 rt.number(kBigWidth), rt.number(kBigHeight));
    detect();
}

using PointCountMisuse = MisuseTest;

TEST_F(PointCountMisuse, PointsBeyondTheBoundAreNotAddedAndSaidSo) {
    initPointTracking();  // three points
    FREObject many = rt.array(3000);
    for (uint32_t i = 0; i < 3000; ++i) rt.setElement(many, i, rt.point(10 + i % 140, 10 + (i / 140) % 100));
    oneError("kvo_addPointsToTrack", many);
    EXPECT_EQ(snapshot().points.size(), 2000u);
    EXPECT_EQ(snapshot().points[0].x, 40.0);  // the host's earlier points are kept
    oneError("kvo_addPointsToTrack", rt.array({rt.point(5, 5)}));
    EXPECT_EQ(snapshot().points.size(), 2000u);
    // The bounded list is tracked.
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame())), "state_point_tracking");
}

using FrameSizeMisuse = MisuseTest;

TEST_F(FrameSizeMisuse, AFrameWiderOrHigherThan8192PixelsIsRefusedByInit) {
    oneError("kvo_init", flatFrame(8193, 4), rt.number(0), rt.number(0), rt.number(8193), rt.number(4));
    oneError("kvo_init", flatFrame(4, 8193), rt.number(0), rt.number(0), rt.number(4), rt.number(8193));
    // Not initialised: a frame is refused with the "call kvo_init first" error.
    EXPECT_EQ(text(oneError("kvo_update", flatFrame(8193, 4))), "state_reset");
    // The largest side accepted is tracked.
    quiet("kvo_init", texturedFrame(8192, 32), rt.number(0), rt.number(0), rt.number(8192), rt.number(32));
    EXPECT_EQ(text(quiet("kvo_update", texturedFrame(8192, 32))), "state_face_detection");
}

}  // namespace
}  // namespace kvomisuse
