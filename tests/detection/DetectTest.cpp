// The multi-scale scan on synthetic frames and cascades: initialisation, window
// normalisation, early stop, reporting and the scanned region.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "DetectorRig.h"
#include "SyntheticCascade.h"

namespace {

using kvo_test::DetectorRig;

uint8_t grey128(uint32_t, uint32_t) { return 128; }
uint8_t checker(uint32_t x, uint32_t y) { return ((x + y) & 1) ? 255 : 0; }

TEST(DetectorInit, SizesTheIntegralImagesAndRegionToTheImageRoi) {
    kvo::Rectangle roi(10, 20, 320, 240);
    DetectorRig rig(400, 300, kvo_test::acceptAllCascade(), &roi);
    EXPECT_EQ(rig.manager.detectionImage, &rig.manager.frameCurrent[0]);
    EXPECT_EQ(rig.detector.integralImage, &rig.manager.integralImage);
    EXPECT_EQ(rig.manager.integralImage.width, 320u);
    EXPECT_EQ(rig.manager.integralImage.height, 240u);
    EXPECT_EQ(rig.manager.squaredIntegralImage.width, 320u);
    EXPECT_EQ(rig.manager.squaredIntegralImage.height, 240u);
    EXPECT_EQ(rig.detector.levelScale, 1.0);
    EXPECT_EQ(rig.detector.detectionROI.x, 0.0);
    EXPECT_EQ(rig.detector.detectionROI.y, 0.0);
    EXPECT_EQ(rig.detector.detectionROI.width, 320.0);
    EXPECT_EQ(rig.detector.detectionROI.height, 240.0);
    EXPECT_TRUE(rig.detector.hasCascade());
    EXPECT_EQ(rig.detector.startScale, 4.0);
    EXPECT_EQ(rig.detector.scaleIncrement, 0.5);
    EXPECT_EQ(rig.detector.maxScale, 12.0);
    EXPECT_EQ(rig.detector.stepFactor, 0.04);
    EXPECT_EQ(rig.detector.minDetections, 12);
    EXPECT_FALSE(rig.detector.fullScan);
}

TEST(DetectorInit, HonoursAnotherDetectionLevel) {
    kvo::ImageDataManager manager;
    kvo_test::BufferInput input(320, 240);
    manager.init(&input, nullptr);
    kvo::ViolaJones detector(manager);
    detector.detectionLevel = 2;
    std::string text = kvo_test::acceptAllCascade();
    detector.init(&text[0]);
    EXPECT_EQ(manager.detectionImage, &manager.frameCurrent[2]);
    EXPECT_EQ(manager.integralImage.width, 80u);
    EXPECT_EQ(detector.levelScale, 0.25);
    EXPECT_EQ(detector.detectionROI.width, 80.0);
    EXPECT_EQ(detector.detectionROI.height, 60.0);
}

// 200 x 100 frame, default scan: only the start scale (96-pixel windows) fits, in one
// row of x = 0, 4, ..., 100 (26 windows, since x < trunc(200 - 96)).
TEST(DetectScan, TheFourteenthAcceptedWindowEndsTheScanMidRow) {
    DetectorRig rig(200, 100, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detector.fullScan = true;
    rig.detect();
    ASSERT_EQ(rig.detector.rawDetections.size(), 26u);
    EXPECT_EQ(rig.detector.rawDetections.back()->x, 100.0);

    rig.detector.fullScan = false;
    rig.detect();
    ASSERT_EQ(rig.detector.rawDetections.size(), 14u);
    for (size_t i = 0; i < 14; ++i) {
        EXPECT_EQ(rig.detector.rawDetections[i]->x, 4.0 * i);
        EXPECT_EQ(rig.detector.rawDetections[i]->y, 0.0);
        EXPECT_EQ(rig.detector.rawDetections[i]->width, 96.0);
        EXPECT_EQ(rig.detector.rawDetections[i]->scale, 4.0);
    }
}

TEST(DetectScan, StopThresholdFollowsMinDetections) {
    DetectorRig rig(200, 100, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detector.minDetections = 3;
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 5u);
    rig.detector.minDetections = -2;  // stops at the first hit
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 1u);
    rig.detector.minDetections = -3;  // never stops early
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 26u);
    rig.detector.minDetections = 2147483647;  // no overflow in the stop count
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 26u);
}

TEST(DetectScan, WindowsOfTheFirstAndLastScaleAreCountedButNotReported) {
    // 130 x 130: scales 4 (96), 4.5 (108), 5 (120) fit; maxScale 5 makes 5 the last.
    DetectorRig rig(130, 130, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detector.fullScan = true;
    rig.detector.maxScale = 5.0;
    rig.detect();
    size_t first = 0, middle = 0, last = 0;
    for (const auto& d : rig.detector.rawDetections) {
        if (d->scale == 4.0) ++first;
        else if (d->scale == 4.5) ++middle;
        else if (d->scale == 5.0) ++last;
    }
    // Scale 4: x, y in {0, 4, ..., 32} (x < 34): 9 x 9; 4.5: step 4, x < 22: 6 x 6;
    // 5: step 5, x < 10: 2 x 2.
    EXPECT_EQ(first, 81u);
    EXPECT_EQ(middle, 36u);
    EXPECT_EQ(last, 4u);
    ASSERT_EQ(rig.faces.size(), middle);
    EXPECT_EQ(rig.faces[0]->width, 108.0);
    EXPECT_EQ(rig.faces[5]->x, 20.0);
}

TEST(DetectScan, ReportedFacesAreShiftedByTheImageRoiOrigin) {
    kvo::Rectangle roi(30.9, 7.2, 130, 130);
    DetectorRig rig(200, 150, kvo_test::acceptAllCascade(), &roi);
    rig.show(grey128);
    rig.detector.fullScan = true;
    rig.detect();
    ASSERT_FALSE(rig.faces.empty());
    EXPECT_EQ(rig.faces[0]->x, 30.0);
    EXPECT_EQ(rig.faces[0]->y, 7.0);
    EXPECT_EQ(rig.faces[0]->width, 108.0);
}

TEST(DetectScan, AUniformWindowHasUnitDeviation) {
    // Accepted when sigma * 0.6 > mean. Uniform grey 128: mean 0.502, sigma 1.
    DetectorRig rig(120, 120, kvo_test::meanBelowCascade("0.6"));
    rig.show(grey128);
    rig.detect();
    EXPECT_FALSE(rig.detector.rawDetections.empty());
    // A checkerboard has mean 0.5 and deviation 0.5: 0.3 < 0.5, rejected.
    rig.show(checker);
    rig.detect();
    EXPECT_TRUE(rig.detector.rawDetections.empty());
}

TEST(DetectScan, LargeBrightWindowsKeepTheirTrueDeviation) {
    // Checkerboard windows: mean 0.5 and true deviation 0.5 (rejected, 0.3 < 0.5). From
    // about 256 pixels on, the squared sum 65025 * side^2 / 2 passes 2^31 - 1, where the
    // 32-bit integral image wraps; read as it is, the variance came out negative (sigma 1,
    // accepted), so large faces in bright light were scanned with the wrong contrast.
    DetectorRig rig(300, 300, kvo_test::meanBelowCascade("0.6"));
    rig.show(checker);
    rig.detector.fullScan = true;
    for (double scale : {10.0, 11.0, 12.0}) {  // 240 px: 1.87e9; 264: 2.27e9; 288: 2.70e9
        rig.detector.startScale = rig.detector.maxScale = scale;
        rig.detect();
        EXPECT_TRUE(rig.detector.rawDetections.empty()) << scale;
    }
}

TEST(DetectScan, AHostRegionIsClampedToTheImage) {
    DetectorRig rig(200, 100, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detector.fullScan = true;
    rig.detector.detectionROI = kvo::Rectangle(-50, -50, 1000, 1000);
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 26u);

    // Partly outside on the right: x 100...200 remains, one 96-pixel window at x = 100.
    rig.detector.detectionROI = kvo::Rectangle(100, 0, 500, 100);
    rig.detect();
    ASSERT_EQ(rig.detector.rawDetections.size(), 1u);
    EXPECT_EQ(rig.detector.rawDetections[0]->x, 100.0);

    const kvo::Rectangle outside[] = {{300, 0, 50, 50}, {0, -500, 200, 100}, {-1e300, 0, 1e300, 100},
                                      {std::nan(""), 0, 200, 100}, {0, 0, -200, 100}};
    for (const kvo::Rectangle& r : outside) {
        rig.detector.detectionROI = r;
        rig.detect();
        EXPECT_TRUE(rig.detector.rawDetections.empty());
        EXPECT_TRUE(rig.faces.empty());
    }
}

TEST(DetectScan, AFeatureRoundedPastTheImageEdgeIsNotEvaluated) {
    // At scale 4.5 the rectangle (1, 1, 23, 23) becomes (5, 5, 104, 104): it reaches pixel
    // 109 of a 108-pixel window. In a 109 x 109 frame the only window (0, 0) would read
    // one row and column past the integral image, so it is skipped; in 110 x 110 it fits.
    for (uint32_t size : {109u, 110u}) {
        DetectorRig rig(size, size, kvo_test::acceptAllCascade("1 1 23 23 0."));
        rig.show(grey128);
        rig.detector.startScale = rig.detector.maxScale = 4.5;
        rig.detect();
        EXPECT_EQ(rig.detector.rawDetections.size(), size == 109u ? 0u : 1u) << size;
    }
}

TEST(DetectScan, NoWindowFitsAndOddParametersEndTheScan) {
    DetectorRig rig(90, 90, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detect();  // 96 > 90
    EXPECT_TRUE(rig.detector.rawDetections.empty());

    rig.detector.startScale = 1.0;
    rig.detector.fullScan = true;
    rig.detector.scaleIncrement = 0.0;
    testing::internal::CaptureStdout();
    rig.detect();
    rig.detect();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("Error: ", 0), 0u);
    EXPECT_EQ(said.find('\n'), said.size() - 1);  // reported once
    EXPECT_FALSE(rig.detector.rawDetections.empty());

    rig.detector.scaleIncrement = 0.5;
    rig.detector.stepFactor = std::nan("");  // steps of one pixel
    rig.detector.maxScale = 1.0;
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections.size(), 66u * 66u);
    rig.detector.startScale = std::nan("");
    rig.detect();
    EXPECT_TRUE(rig.detector.rawDetections.empty());
}

TEST(DetectScan, WithoutACascadeNothingIsFound) {
    DetectorRig rig(200, 100, "<opencv_storage><cascade>");
    rig.show(grey128);
    testing::internal::CaptureStdout();
    rig.detect();
    rig.detect();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // said once
    EXPECT_TRUE(rig.detector.rawDetections.empty());
    EXPECT_TRUE(rig.faces.empty());
}

TEST(DetectScan, ResultObjectsAreReusedBetweenScans) {
    DetectorRig rig(200, 100, kvo_test::acceptAllCascade());
    rig.show(grey128);
    rig.detector.fullScan = true;
    rig.detect();
    const kvo::VJRectangle* first = rig.detector.rawDetections[0].get();
    rig.detect();
    EXPECT_EQ(rig.detector.rawDetections[0].get(), first);
}

}  // namespace
