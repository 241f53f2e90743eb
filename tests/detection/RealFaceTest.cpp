// Detection on real face stills from the sample media, checked against OpenCV's own
// detector running the same cascade file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OpenCvCascadeText.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "DetectorRig.h"
#include "image/GreyConversion.h"
#endif

namespace {

#ifdef KVO_HAVE_OPENCV

double iou(const kvo::Rectangle& a, const cv::Rect& b) {
    const double x0 = std::max(a.x, double(b.x)), y0 = std::max(a.y, double(b.y));
    const double x1 = std::min(a.x + a.width, double(b.x + b.width));
    const double y1 = std::min(a.y + a.height, double(b.y + b.height));
    const double inter = std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0);
    return inter / (a.width * a.height + double(b.area()) - inter);
}

class RealFace : public ::testing::TestWithParam<const char*> {};

TEST_P(RealFace, MergedFaceMatchesOpenCvsDetection) {
    const std::string path = std::string(KVO_MEDIA_DIR) + "/" + GetParam();
    const cv::Mat colour = cv::imread(path, cv::IMREAD_COLOR);
    if (colour.empty()) GTEST_SKIP() << "sample still not installed: " << path;
    std::string cascade;
    try {
        cascade = kvo_test::oldLayoutCascadeFromOpenCv(kvo_test::defaultCascadePath());
    } catch (const std::exception& e) {
        GTEST_SKIP() << e.what();
    }

    // The library's own grey conversion of the host's BGRA pixels.
    cv::Mat bgra;
    cv::cvtColor(colour, bgra, cv::COLOR_BGR2BGRA);
    std::vector<uint8_t> grey(bgra.total());
    kvo::convertToGrey(bgra.ptr<uint8_t>(), grey.data(), grey.size());

    kvo_test::DetectorRig rig(bgra.cols, bgra.rows, cascade);
    rig.input.pixels = grey;
    rig.manager.update(0);
    rig.detect();
    ASSERT_GE(rig.faces.size(), size_t(rig.detector.minDetections)) << "too few raw windows";
    const auto& merged = rig.detector.merge(rig.faces);
    ASSERT_FALSE(merged.empty());

    cv::CascadeClassifier reference(kvo_test::defaultCascadePath());
    ASSERT_FALSE(reference.empty());
    const cv::Mat greyMat(bgra.rows, bgra.cols, CV_8UC1, grey.data());
    std::vector<cv::Rect> found;
    reference.detectMultiScale(greyMat, found, 1.1, 3, 0, cv::Size(96, 96));
    ASSERT_FALSE(found.empty()) << "OpenCV finds no face here";
    const cv::Rect largest = *std::max_element(found.begin(), found.end(),
        [](const cv::Rect& a, const cv::Rect& b) { return a.area() < b.area(); });
    EXPECT_GE(iou(*merged[0], largest), 0.5)
        << "ours (" << merged[0]->x << ", " << merged[0]->y << ", " << merged[0]->width << ", "
        << merged[0]->height << "), OpenCV (" << largest.x << ", " << largest.y << ", "
        << largest.width << ", " << largest.height << ")";
}

// Frontal faces well inside the scanned window sizes. (With the early stop, a face whose
// first hits fall at the first or last window size, such as franck_02683.jpg at about
// 12 cascade windows, can end with fewer than minDetections reported windows.)
INSTANTIATE_TEST_SUITE_P(SampleStills, RealFace,
                         ::testing::Values("franck_01829.jpg", "franck_02045.jpg", "franck_03909.jpg"));

TEST(RealFaceScan, EarlyStopKeepsThePrefixOfTheFullScan) {
    const cv::Mat colour = cv::imread(std::string(KVO_MEDIA_DIR) + "/franck_01829.jpg", cv::IMREAD_GRAYSCALE);
    if (colour.empty()) GTEST_SKIP() << "sample still not installed";
    kvo_test::DetectorRig rig(colour.cols, colour.rows,
                              kvo_test::oldLayoutCascadeFromOpenCv(kvo_test::defaultCascadePath()));
    std::copy(colour.datastart, colour.dataend, rig.input.pixels.begin());
    rig.manager.update(0);
    rig.detector.fullScan = true;
    rig.detect();
    std::vector<kvo::VJRectangle> full;
    for (const auto& d : rig.detector.rawDetections) full.push_back(*d);
    ASSERT_GT(full.size(), 14u);

    rig.detector.fullScan = false;
    rig.detect();
    ASSERT_EQ(rig.detector.rawDetections.size(), 14u);
    for (size_t i = 0; i < 14; ++i) {
        EXPECT_EQ(rig.detector.rawDetections[i]->x, full[i].x);
        EXPECT_EQ(rig.detector.rawDetections[i]->y, full[i].y);
        EXPECT_EQ(rig.detector.rawDetections[i]->scale, full[i].scale);
    }
}

#else

TEST(RealFace, NeedsOpenCvToDecodeStills) { GTEST_SKIP() << "OpenCV not found"; }

#endif

}  // namespace
