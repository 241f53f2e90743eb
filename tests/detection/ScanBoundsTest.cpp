// Bounds on one scan's work: the number of window sizes, the number of windows and the
// number of accepted windows, whatever the settings. Each replaced setting is reported
// once, and settings within the bounds are left exactly as they are.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "DetectorRig.h"
#include "SyntheticCascade.h"
#include "detection/ViolaJones.h"

namespace {

using kvo::ViolaJones;
using kvo_test::DetectorRig;

uint8_t grey128(uint32_t, uint32_t) { return 128; }

size_t lineCount(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

// Runs `f` and returns what it wrote to stdout.
template <class F>
std::string said(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// Window sizes of a full scan with one window per size: with a cascade that accepts
// everything, each size adds exactly one raw window.
std::set<double> scannedScales(DetectorRig& rig) {
    rig.detector.fullScan = true;
    rig.detector.stepFactor = 1e9;
    rig.detect();
    std::set<double> scales;
    for (const auto& r : rig.detector.rawDetections) scales.insert(r->scale);
    EXPECT_EQ(scales.size(), rig.detector.rawDetections.size());
    return scales;
}

TEST(ScanBounds, ATinyScaleIncrementIsWidenedToAThousandSizesOverTheSameRange) {
    DetectorRig rig(640, 480, kvo_test::acceptAllCascade());
    rig.show(grey128);
    ViolaJones& d = rig.detector;
    d.scaleIncrement = 1e-6;
    d.stepFactor = 0.1;  // so that only the increment is replaced
    const std::string out = said([&] { d.boundScanWork("test"); });
    EXPECT_EQ(lineCount(out), 1u) << out;
    EXPECT_EQ(out.rfind("Error: test: a scale increment of 1e-06 gives more than 1000 window sizes", 0), 0u) << out;
    EXPECT_GT(d.scaleIncrement, 0.008);
    const std::set<double> scales = scannedScales(rig);
    EXPECT_LE(scales.size(), size_t(ViolaJones::MAX_WINDOW_SIZES));
    EXPECT_GE(scales.size(), size_t(ViolaJones::MAX_WINDOW_SIZES) - 1);
    EXPECT_EQ(*scales.begin(), 4.0);
    EXPECT_GT(*scales.rbegin(), 12.0 - 2 * d.scaleIncrement);  // the same range as asked for
    // Checked again, the replacement stands without a word.
    EXPECT_EQ(said([&] { d.boundScanWork("test"); }), "");
}

TEST(ScanBounds, TheSizeRangeEndsWhereTheWindowNoLongerFitsTheImage) {
    DetectorRig rig(200, 150, kvo_test::acceptAllCascade());
    rig.show(grey128);
    ViolaJones& d = rig.detector;
    d.startScale = 1.0;
    d.maxScale = 1e300;
    d.scaleIncrement = 1e-5;
    said([&] { d.boundScanWork("test"); });
    // A window as high as the image has no position left once the rounding of its
    // features is allowed for, so the last few sizes of the range find none.
    const std::set<double> scales = scannedScales(rig);
    EXPECT_LE(scales.size(), size_t(ViolaJones::MAX_WINDOW_SIZES));
    EXPECT_GE(scales.size(), size_t(ViolaJones::MAX_WINDOW_SIZES) - 10);
    EXPECT_LE(24 * *scales.rbegin(), 150.0);
    EXPECT_GT(24 * *scales.rbegin(), 148.0);
}

TEST(ScanBounds, ANegativeIncrementScanningDownIsBoundedToo) {
    DetectorRig rig(640, 480, kvo_test::acceptAllCascade());
    rig.show(grey128);
    ViolaJones& d = rig.detector;
    d.startScale = 12.0;
    d.scaleIncrement = -1e-4;
    d.stepFactor = 0.5;  // so that only the increment is replaced
    const std::string out = said([&] { d.boundScanWork("test"); });
    EXPECT_EQ(lineCount(out), 1u) << out;
    EXPECT_NE(out.find("a scale increment of -0.0001"), std::string::npos) << out;
    EXPECT_LT(d.scaleIncrement, 0.0);
    const std::set<double> scales = scannedScales(rig);
    EXPECT_LE(scales.size(), size_t(ViolaJones::MAX_WINDOW_SIZES));
    EXPECT_GE(*scales.begin(), 1.0);
    EXPECT_LT(*scales.begin(), 1.0 - 2 * d.scaleIncrement);
}

TEST(ScanBounds, ADenseStepIsCoarsenedToTheSmallestFactorWithinTheWindowBound) {
    DetectorRig rig(640, 480, kvo_test::acceptAllCascade());
    rig.show(grey128);
    ViolaJones& d = rig.detector;
    d.startScale = 1.0;
    d.scaleIncrement = 0.05;
    d.maxScale = 20.0;
    for (double asked : {0.0, 0.001, std::nan(""), -1.0}) {
        SCOPED_TRACE(asked);
        d.stepFactor = asked;
        const std::string out = said([&] { d.boundScanWork("test"); });
        EXPECT_EQ(lineCount(out), 1u) << out;
        EXPECT_NE(out.find("windows per scan of the 640 x 480 detection image"), std::string::npos) << out;
        const double used = d.stepFactor;
        EXPECT_GT(used, 0.001);
        EXPECT_LT(used, 0.2);
        // Stable, and the smallest such factor: one a little smaller is replaced again.
        EXPECT_EQ(said([&] { d.boundScanWork("test"); }), "");
        EXPECT_EQ(d.stepFactor, used);
        d.stepFactor = used * 0.999;
        EXPECT_EQ(lineCount(said([&] { d.boundScanWork("test"); })), 1u);
    }
}

TEST(ScanBounds, OrdinaryAndOddButHarmlessSettingsAreLeftAsTheyAre) {
    DetectorRig rig(640, 480, kvo_test::acceptAllCascade());
    ViolaJones& d = rig.detector;
    struct S { double start, increment, maxScale, step; };
    const S settings[] = {{4, 0.5, 12, 0.04},  {2, 0.1, 20, 0.04}, {4, 0.0081, 12, 0.1}, {4, 0, 12, 0.04},
                          {4, -0.5, 12, 0.04}, {0, 0.5, 12, 0.04},    {-4, 0.5, 12, 0.04},   {4, 0.5, 12, 1e300},
                          {4, 1e300, 12, 0.04}, {4, 0.5, -12, 0.04}, {std::nan(""), 0.5, 12, 0.04}};
    for (const S& s : settings) {
        d.startScale = s.start;
        d.scaleIncrement = s.increment;
        d.maxScale = s.maxScale;
        d.stepFactor = s.step;
        EXPECT_EQ(said([&] { d.boundScanWork("test"); }), "") << s.start << " " << s.increment;
        EXPECT_EQ(d.scaleIncrement, s.increment);
        EXPECT_EQ(d.stepFactor, s.step);
    }
}

TEST(ScanBounds, SettingsGivenBeforeInitAreCheckedByInit) {
    kvo_test::BufferInput input(640, 480);
    kvo::ImageDataManager manager;
    manager.init(&input, nullptr);
    ViolaJones d(manager);
    d.scaleIncrement = 1e-7;
    d.stepFactor = 0.1;
    EXPECT_EQ(said([&] { d.boundScanWork("test"); }), "");  // no image yet: nothing to check against
    EXPECT_EQ(d.scaleIncrement, 1e-7);
    std::string text = kvo_test::acceptAllCascade();
    const std::string out = said([&] { d.init(&text[0]); });
    EXPECT_EQ(lineCount(out), 1u) << out;
    EXPECT_GT(d.scaleIncrement, 0.008);
}

TEST(ScanBounds, AScanEndsAtTheAcceptedWindowBoundAndSaysSoOncePerSetting) {
    DetectorRig rig(640, 480, kvo_test::acceptAllCascade());
    rig.show(grey128);
    ViolaJones& d = rig.detector;
    d.fullScan = true;  // 66,000 windows, every one accepted
    std::string out = said([&] { rig.detect(); });
    EXPECT_EQ(lineCount(out), 1u) << out;
    EXPECT_EQ(d.rawDetections.size(), size_t(ViolaJones::MAX_ACCEPTED_WINDOWS));
    EXPECT_EQ(said([&] { rig.detect(); }), "");
    EXPECT_EQ(d.rawDetections.size(), size_t(ViolaJones::MAX_ACCEPTED_WINDOWS));
    // The first windows of the unbounded scan, in scan order: the first size, row by row.
    EXPECT_EQ(d.rawDetections.front()->scale, 4.0);
    EXPECT_EQ(d.rawDetections.front()->x, 0.0);
    EXPECT_EQ(d.rawDetections[1]->x, 4.0);

    // An early stop above the bound is bounded the same way; the settings checked anew
    // report it again, once.
    d.fullScan = false;
    d.minDetections = 1 << 30;
    d.boundScanWork("test");
    out = said([&] { rig.detect(); rig.detect(); });
    EXPECT_EQ(lineCount(out), 1u) << out;
    EXPECT_EQ(d.rawDetections.size(), size_t(ViolaJones::MAX_ACCEPTED_WINDOWS));

    // Below the bound nothing is said and the early stop holds.
    d.minDetections = 12;
    EXPECT_EQ(said([&] { rig.detect(); }), "");
    EXPECT_EQ(d.rawDetections.size(), 14u);
}

}  // namespace
