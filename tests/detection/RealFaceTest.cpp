// Detection on real face stills from the sample media, checked against OpenCV's own
// detector running the same cascade file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
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

// Every window of one window size evaluated directly from the cascade lists and the
// integral images, as the plain formulas read, against the detector's optimised scan.
TEST(RealFaceScan, ScanMatchesADirectEvaluationOfEveryWindow) {
    const cv::Mat grey = cv::imread(std::string(KVO_MEDIA_DIR) + "/franck_02045.jpg", cv::IMREAD_GRAYSCALE);
    if (grey.empty()) GTEST_SKIP() << "sample still not installed";
    kvo_test::DetectorRig rig(grey.cols, grey.rows,
                              kvo_test::oldLayoutCascadeFromOpenCv(kvo_test::defaultCascadePath()));
    std::copy(grey.datastart, grey.dataend, rig.input.pixels.begin());
    rig.manager.update(0);
    kvo::ViolaJones& d = rig.detector;
    d.fullScan = true;
    size_t accepted = 0;
    for (double scale : {4.0, 5.5, 7.0, 8.5, 10.0, 11.5}) {
        SCOPED_TRACE(scale);
        d.startScale = d.maxScale = scale;
        rig.detect();  // also leaves the corner offsets of this scale in the lists

        const int W = int(rig.manager.integralImage.width), H = int(rig.manager.integralImage.height);
        const int32_t* ii = rig.manager.integralImage.data;
        const int32_t* sq = rig.manager.squaredIntegralImage.data;
        auto box = [W](const int32_t* img, int p, int w, int h) {
            return int32_t(uint32_t(img[p]) - uint32_t(img[p + w]) - uint32_t(img[p + h * W]) +
                           uint32_t(img[p + h * W + w]));
        };
        const double cw = 24 * scale, ch = 24 * scale, area = cw * ch;
        const double norm = 1.0 / (255.0 * area), normSq = 1.0 / (65025.0 * area);
        const int step = std::max(1, int(cw * d.stepFactor + 0.5));
        std::vector<std::pair<int, int>> expected;
        for (int y = 0; y < int(H - ch); y += step) {
            for (int x = 0; x < int(W - cw); x += step) {
                const int p = y * W + x;
                const double mean = box(ii, p, int(cw), int(ch)) * norm;
                const double var = box(sq, p, int(cw), int(ch)) * normSq - mean * mean;
                const double sigma = var > 0 ? std::sqrt(var) : 1.0;
                bool pass = true;
                for (const kvo::VJStage* s = d.firstStage; s && pass; s = s->next) {
                    double sum = 0;
                    for (const kvo::VJClassifier* c = s->firstClassifier; c; c = c->next) {
                        double f = 0;
                        for (const kvo::VJFeatureRect* r = c->firstRect; r; r = r->nextInFeature)
                            f += r->weight * box(ii, p + r->topLeft, r->topRight - r->topLeft,
                                                 (r->bottomLeft - r->topLeft) / W);
                        sum += sigma * c->threshold > norm * f ? c->leftValue : c->rightValue;
                    }
                    pass = !(s->threshold > sum);
                }
                if (pass) expected.emplace_back(x, y);
            }
        }
        accepted += expected.size();
        ASSERT_EQ(d.rawDetections.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(d.rawDetections[i]->x, expected[i].first);
            EXPECT_EQ(d.rawDetections[i]->y, expected[i].second);
        }
    }
    EXPECT_GT(accepted, 10u);  // the comparison covered real faces, not only rejections
}

#endif

}  // namespace
