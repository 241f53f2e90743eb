// The scan on two threads against a plain sequential scan written here from the scan's
// rules: window sizes from startScale upwards by scaleIncrement, rows (y) outer, x inner,
// every window evaluated directly from the cascade lists and the integral images, and
// the early stop at the (minDetections + 2)-th accepted window. The accepted windows and
// their order must be identical, whether the scan runs on one thread or two, for every
// early stop (within a row, within a window size), with and without a detection region.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "DetectorRig.h"
#include "SyntheticCascade.h"
#include "models/EmbeddedModels.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/imgcodecs.hpp>
#endif

namespace {

struct Window {
    double x, y, width, height, scale;
    int row;  // y in detection-level pixels
};

int32_t boxOf(const int32_t* img, int W, int p, int w, int h) {
    return static_cast<int32_t>(static_cast<uint32_t>(img[p]) - static_cast<uint32_t>(img[p + w]) -
                                static_cast<uint32_t>(img[p + h * W]) +
                                static_cast<uint32_t>(img[p + h * W + w]));
}

int truncClamped(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (v >= hi) return hi;
    return static_cast<int>(std::trunc(v));
}

// Every accepted window of the whole scan (no early stop), one window at a time. Reads
// the integral images the detector's last `detect` built.
std::vector<Window> sequentialScan(const kvo::ViolaJones& d, const kvo::ImageDataManager& m) {
    const int W = static_cast<int>(m.integralImage.width);
    const int H = static_cast<int>(m.integralImage.height);
    const int32_t* ii = m.integralImage.data;
    const int32_t* sq = m.squaredIntegralImage.data;
    const double rx = std::trunc(d.detectionROI.x), ry = std::trunc(d.detectionROI.y);
    const int x0 = truncClamped(rx, 0, W), y0 = truncClamped(ry, 0, H);
    const int regionW = truncClamped(rx + std::trunc(d.detectionROI.width), 0, W) - x0;
    const int regionH = truncClamped(ry + std::trunc(d.detectionROI.height), 0, H) - y0;
    std::vector<Window> out;
    double scale = d.startScale;
    for (;;) {
        const double cw = d.windowWidth * scale, ch = d.windowHeight * scale;
        if (!(regionW >= cw && regionH >= ch && cw >= d.windowWidth && ch >= d.windowHeight)) break;
        const double sx = cw / d.windowWidth, sy = ch / d.windowHeight;
        const int dx = std::max(1, static_cast<int>(cw * d.stepFactor + 0.5));
        const int dy = std::max(1, static_cast<int>(ch * d.stepFactor + 0.5));
        // Feature rectangles at this size; the window range keeps every one in the image.
        struct Box { int u, v, w, h; double weight; };
        std::vector<std::vector<std::vector<Box>>> stages;
        int extentX = static_cast<int>(cw), extentY = static_cast<int>(ch);
        for (const kvo::VJStage* s = d.firstStage; s; s = s->next) {
            stages.emplace_back();
            for (const kvo::VJClassifier* c = s->firstClassifier; c; c = c->next) {
                stages.back().emplace_back();
                for (const kvo::VJFeatureRect* r = c->firstRect; r; r = r->nextInFeature) {
                    Box b{static_cast<int>(r->x * sx + 0.5), static_cast<int>(r->y * sy + 0.5),
                          static_cast<int>(r->width * sx + 0.5), static_cast<int>(r->height * sy + 0.5),
                          r->weight};
                    extentX = std::max(extentX, b.u + b.w);
                    extentY = std::max(extentY, b.v + b.h);
                    stages.back().back().push_back(b);
                }
            }
        }
        const int xEnd = std::min(static_cast<int>(std::trunc(x0 + regionW - cw)), W - extentX);
        const int yEnd = std::min(static_cast<int>(std::trunc(y0 + regionH - ch)), H - extentY);
        const double area = cw * ch, norm = 1.0 / (255.0 * area), normSq = 1.0 / (65025.0 * area);
        for (int y = y0; y < yEnd; y += dy) {
            for (int x = x0; x < xEnd; x += dx) {
                const int p = y * W + x;
                const double mean = boxOf(ii, W, p, int(cw), int(ch)) * norm;
                const double variance = boxOf(sq, W, p, int(cw), int(ch)) * normSq - mean * mean;
                const double sigma = variance > 0 ? std::sqrt(variance) : 1.0;
                bool pass = true;
                size_t stageIndex = 0;
                for (const kvo::VJStage* s = d.firstStage; s && pass; s = s->next, ++stageIndex) {
                    double sum = 0;
                    size_t stumpIndex = 0;
                    for (const kvo::VJClassifier* c = s->firstClassifier; c; c = c->next, ++stumpIndex) {
                        double f = 0;
                        for (const Box& b : stages[stageIndex][stumpIndex])
                            f += b.weight * boxOf(ii, W, p + b.v * W + b.u, b.w, b.h);
                        sum += sigma * c->threshold > norm * f ? c->leftValue : c->rightValue;
                    }
                    pass = !(s->threshold > sum);
                }
                if (pass)
                    out.push_back(Window{x / d.levelScale, y / d.levelScale, cw / d.levelScale,
                                         ch / d.levelScale, scale, y});
            }
        }
        const double previous = scale;
        scale += d.scaleIncrement;
        if (scale > d.maxScale || !(scale != previous)) break;
    }
    return out;
}

// What the detector's last scan reported against the first `count` windows of `all`.
void expectWindows(const kvo::ViolaJones& d, const std::vector<Window>& all, size_t count,
                   const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(d.rawDetections.size(), count);
    for (size_t i = 0; i < count; ++i) {
        const kvo::VJRectangle& r = *d.rawDetections[i];
        const Window& w = all[i];
        if (r.x != w.x || r.y != w.y || r.width != w.width || r.height != w.height || r.scale != w.scale) {
            ADD_FAILURE() << "window " << i << ": (" << r.x << ", " << r.y << ", " << r.width << ", "
                          << r.height << ", scale " << r.scale << ") instead of (" << w.x << ", " << w.y
                          << ", " << w.width << ", " << w.height << ", scale " << w.scale << ")";
            return;
        }
    }
}

// Where the early stops of a run ended, over all cases: the test is only worth something
// if some stops cut a row short and some end a row of a window size with more rows.
struct StopCoverage {
    int withinRow = 0;    // the next accepted window is in the same row
    int atRowEnd = 0;     // ... in a later row of the same window size
    int atSizeEnd = 0;    // ... at another window size
};

// Stop counts for a scan of `all`: fixed ones, fractions, and ones that end exactly at the
// last accepted window of a row and of a window size.
std::vector<long long> stopCounts(const std::vector<Window>& all) {
    const long long n = static_cast<long long>(all.size());
    std::vector<long long> out = {1, 2, 5, 14, n / 3, n / 2, n - 1, n, n + 1};
    int rowEnds = 0, sizeEnds = 0;
    for (size_t i = 0; i + 1 < all.size(); ++i) {
        const bool newSize = all[i + 1].scale != all[i].scale;
        if (newSize && sizeEnds < 2) {
            out.push_back(static_cast<long long>(i) + 1);
            ++sizeEnds;
        } else if (!newSize && all[i + 1].row != all[i].row && rowEnds < 2 && i % 3 == 1) {
            out.push_back(static_cast<long long>(i) + 1);
            ++rowEnds;
        }
    }
    return out;
}

// Runs the detector on its current frame and region with one and with two threads, with
// the full scan and with early stops, against the sequential scan.
void compareScans(kvo_test::DetectorRig& rig, const std::string& name, StopCoverage& coverage,
                  bool expectTwoThreads = true) {
    kvo::ViolaJones& d = rig.detector;
    d.fullScan = true;
    d.numThreads = 1;
    rig.detect();  // builds the integral images the sequential scan reads
    const std::vector<Window> all = sequentialScan(d, rig.manager);
    ASSERT_FALSE(all.empty()) << name << ": a case without accepted windows shows nothing";
    // Every scan ends at the bound on accepted windows, wherever that falls.
    const size_t bound = static_cast<size_t>(kvo::ViolaJones::MAX_ACCEPTED_WINDOWS);
    const size_t full = std::min(all.size(), bound);
    expectWindows(d, all, full, name + ", full scan, 1 thread");

    for (int threads : {2, 1}) {
        d.numThreads = threads;
        const std::string label = name + ", " + std::to_string(threads) + " thread(s)";
        d.fullScan = true;
        for (int repeat = 0; repeat < 3; ++repeat) {  // timing differs from run to run
            rig.detect();
            expectWindows(d, all, full, label + ", full scan");
        }
        EXPECT_EQ(d.threadsOfLastScan(), threads == 2 && expectTwoThreads ? 2 : 1) << label;

        d.fullScan = false;
        const long long n = static_cast<long long>(all.size());
        for (long long stopAt : stopCounts(all)) {
            if (stopAt < 1) continue;
            d.minDetections = static_cast<int>(stopAt - 2);
            const size_t expected = std::min(static_cast<size_t>(std::min(stopAt, n)), bound);
            for (int repeat = 0; repeat < 3; ++repeat) {
                rig.detect();
                expectWindows(d, all, expected, label + ", stop at " + std::to_string(stopAt));
            }
            if (threads == 2 && stopAt < n) {
                const Window& last = all[expected - 1];
                const Window& next = all[expected];
                if (next.scale != last.scale) ++coverage.atSizeEnd;
                else if (next.row == last.row) ++coverage.withinRow;
                else ++coverage.atRowEnd;
            }
        }
        d.minDetections = -3;  // a negative stop count: never stops
        rig.detect();
        expectWindows(d, all, full, label + ", negative stop count");
        d.minDetections = 12;
    }
    d.numThreads = 2;
}

// Brightness and contrast that vary smoothly over the frame, with pixel noise: the
// mean-below cascade accepts windows in patches, so rows hold several accepted windows.
void showTexture(kvo_test::DetectorRig& rig, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    rig.show([&state, seed](uint32_t x, uint32_t y) {
        state = state * 1664525u + 1013904223u;
        const double noise = ((state >> 24) & 0xff) / 255.0 - 0.5;
        const double level = 110 + 70 * std::sin(x / (17.0 + seed) + seed) * std::cos(y / 23.0);
        const double contrast = 40 + 150 * (0.5 + 0.5 * std::sin((x + 2.0 * y) / (41.0 + 3 * seed)));
        return static_cast<uint8_t>(std::clamp(level + contrast * noise, 0.0, 255.0));
    });
}

// Two stages: a window of high contrast for its brightness, then a stage of two stumps
// on features of two and three rectangles; about one window in nine passes both.
std::string twoStageCascade() {
    using kvo_test::StageText;
    using kvo_test::StumpText;
    return kvo_test::cascadeText(
        "24 24", {StageText{{{StumpText{{"0 0 24 24 1."}, "2.2", "1.", "0."}}}, "0.5"},
                  StageText{{{StumpText{{"0 0 12 24 -1.", "12 0 12 24 1."}, "0.02", "1.", "0."}},
                             {StumpText{{"0 0 24 8 1.", "0 8 24 8 -2.", "0 16 24 8 1."}, "0.02", "0.", "1."}}},
                            "1.5"}});
}

// As above, with a stump whose feature has no rectangles (its value is 0, so it always
// gives its left vote here) in the second stage.
std::string cascadeWithAnEmptyFeature() {
    using kvo_test::StageText;
    using kvo_test::StumpText;
    return kvo_test::cascadeText(
        "24 24", {StageText{{{StumpText{{"0 0 24 24 1."}, "2.2", "1.", "0."}}}, "0.5"},
                  StageText{{{StumpText{{}, "0.1", "0.5", "-3."}},
                             {StumpText{{"0 0 24 8 1.", "0 8 24 8 -2.", "0 16 24 8 1."}, "0.02", "0.", "1."}}},
                            "0.9"}});
}

TEST(ParallelScan, MatchesTheSequentialScanOnTextures) {
    StopCoverage coverage;
    const std::string cascades[] = {kvo_test::meanBelowCascade("2.0"), twoStageCascade(),
                                    cascadeWithAnEmptyFeature()};
    for (size_t c = 0; c < 3; ++c) {
        kvo_test::DetectorRig rig(320, 240, cascades[c]);
        for (uint32_t seed : {1u, 2u, 3u}) {
            showTexture(rig, seed);
            const std::string name = "cascade " + std::to_string(c) + ", texture " + std::to_string(seed);
            rig.detector.detectionROI = kvo::Rectangle(0, 0, 320, 240);
            compareScans(rig, name, coverage);
            // A detection region: offsets rows and columns and cuts both ends.
            rig.detector.detectionROI = kvo::Rectangle(23, 17, 251, 197);
            compareScans(rig, name + ", region", coverage);
        }
    }
    EXPECT_GT(coverage.withinRow, 0);
    EXPECT_GT(coverage.atRowEnd, 0);
    EXPECT_GT(coverage.atSizeEnd, 0);
}

// Built only with OpenCV, which decodes the stills.
#ifdef KVO_HAVE_OPENCV
TEST(ParallelScan, MatchesTheSequentialScanOnSampleFrames) {
    StopCoverage coverage;
    int frames = 0;
    for (const char* file : {"franck_01829.jpg", "franck_02045.jpg", "franck_03909.jpg"}) {
        const cv::Mat grey = cv::imread(std::string(KVO_MEDIA_DIR) + "/" + file, cv::IMREAD_GRAYSCALE);
        if (grey.empty()) continue;
        ++frames;
        kvo_test::DetectorRig rig(grey.cols, grey.rows, kvo::decodeCascadeModel());
        std::copy(grey.datastart, grey.dataend, rig.input.pixels.begin());
        rig.manager.update(0);
        compareScans(rig, file, coverage);
        // A region around the accepted windows, cut at odd offsets.
        double left = grey.cols, top = grey.rows, right = 0, bottom = 0;
        for (const auto& w : rig.detector.rawDetections) {
            left = std::min(left, w->x);
            top = std::min(top, w->y);
            right = std::max(right, w->x + w->width);
            bottom = std::max(bottom, w->y + w->height);
        }
        rig.detector.detectionROI = kvo::Rectangle(std::max(0.0, left - 13), std::max(0.0, top - 7),
                                                   right - left + 29, bottom - top + 17);
        compareScans(rig, std::string(file) + ", region", coverage);
    }
    if (frames == 0) GTEST_SKIP() << "sample stills not installed";
    EXPECT_GT(coverage.withinRow, 0);
    EXPECT_GT(coverage.atRowEnd, 0);
}
#endif

// A cascade whose cost depends on the row: the first stage passes every window whose top
// four pixel rows are bright, or whose contrast is high for its brightness; the second
// stage, 400 stumps, passes everything; the third keeps the windows of high contrast.
std::string rowCostCascade() {
    using kvo_test::StageText;
    using kvo_test::StumpText;
    const StumpText brightTop{{"0 0 24 1 1."}, "0.07", "0.", "1."};
    const StumpText contrast{{"0 0 24 24 1."}, "1.93", "1.", "0."};
    std::vector<std::vector<StumpText>> heavy(400, {StumpText{{"0 0 24 24 1."}, "100.", "0.01", "0."}});
    return kvo_test::cascadeText("24 24", {StageText{{{brightTop}, {contrast}}, "0.5"},
                                           StageText{heavy, "0.005"}, StageText{{{contrast}}, "0.5"}});
}

// Stripes of four bright and four dark pixel rows: with 96-pixel windows and a step of 4,
// windows in every other row have a bright top and run the 400 stumps, the others mostly
// end after the first stage. One thread gets the dear rows, so the other runs far ahead
// of it; `phase` chooses which.
void showStripes(kvo_test::DetectorRig& rig, uint32_t phase, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    rig.show([&state, phase, seed](uint32_t x, uint32_t y) {
        state = state * 1664525u + 1013904223u;
        const double noise = ((state >> 24) & 0xff) / 255.0 - 0.5;
        const double stripe = ((y + phase) % 8 < 4) ? 190 : 70;
        const double contrast = 20 + 120 * (0.5 + 0.5 * std::sin((x + 2.0 * y) / 47.0 + seed));
        return static_cast<uint8_t>(std::clamp(stripe + contrast * noise, 0.0, 255.0));
    });
}

TEST(ParallelScan, MatchesTheSequentialScanWhenOneThreadRunsFarAhead) {
    StopCoverage coverage;
    kvo_test::DetectorRig rig(400, 300, rowCostCascade());
    for (uint32_t phase : {0u, 4u}) {
        for (double maxScale : {4.0, 12.0}) {  // one window size, then the default series
            rig.detector.maxScale = maxScale;
            showStripes(rig, phase, 1 + phase);
            compareScans(rig, "phase " + std::to_string(phase) + ", max scale " + std::to_string(maxScale),
                         coverage);
        }
    }
    EXPECT_GT(coverage.withinRow, 0);
    EXPECT_GT(coverage.atRowEnd, 0);
}

TEST(ParallelScan, MoreAcceptedWindowsThanTheBuffersHoldRepeatTheScanWithLargerOnes) {
    // Every window accepted: about 7,000 windows, more than the buffers made by init and
    // more than the bound on accepted windows, where every scan ends.
    kvo_test::DetectorRig rig(320, 240, kvo_test::acceptAllCascade());
    showTexture(rig, 4);
    StopCoverage coverage;
    testing::internal::CaptureStdout();
    compareScans(rig, "accept all", coverage);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.find("Error: ViolaJones: the scan accepted 5000 windows"), 0u) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;  // once
    EXPECT_EQ(rig.detector.rawDetections.size(), size_t(kvo::ViolaJones::MAX_ACCEPTED_WINDOWS));
    EXPECT_GT(rig.detector.rawDetections.size(), 2 * kvo::ViolaJones::INITIAL_RESULT_CAPACITY);
}

TEST(ParallelScan, ASmallScanStaysOnTheCallingThread) {
    // 200 x 100: 26 windows of one size.
    kvo_test::DetectorRig rig(200, 100, kvo_test::acceptAllCascade());
    showTexture(rig, 5);
    StopCoverage coverage;
    compareScans(rig, "small", coverage, false);
    EXPECT_EQ(rig.detector.rawDetections.size(), 26u);
}

}  // namespace
