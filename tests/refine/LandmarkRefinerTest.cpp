// The refinement pass: what a hand-checkable model does to a shape, what it leaves alone,
// and that it allocates nothing once loaded.
#include <gtest/gtest.h>

#include "support/CountingNew.h"

#include <cmath>
#include <vector>

#include "refine/LandmarkRefiner.h"
#include "refine/ShapeIndexedPixels.h"
#include "SyntheticRefiner.h"
#include "util/CoutCapture.h"

namespace {

constexpr int kW = 64, kH = 48;

// A frame dark everywhere but a bright column at x = `bright`.
std::vector<unsigned char> frameWithBrightColumn(int bright) {
    std::vector<unsigned char> px(kW * kH, 20);
    for (int y = 0; y < kH; ++y) px[y * kW + bright] = 220;
    return px;
}

kvo::ShapeMat shapeAt(double x0, double y0, double scale, int n = 3) {
    kvo::ShapeMat s;
    s.dim(n, 2);
    for (int i = 0; i < n; ++i) {
        s.data[i][0] = x0 + scale * i;
        s.data[i][1] = y0 + scale * (i % 2);
    }
    return s;
}

kvo::LandmarkRefiner loaded(const kvo::RefinerModel& m) {
    kvo::LandmarkRefiner r;
    EXPECT_TRUE(r.load(kvo::serializeRefinerModel(m)));
    return r;
}

TEST(ShapeIndexedPixels, SimilarityOfAScaledTurnedShape) {
    const float mean[6] = {0, 0, 1, 0, 0, 1};
    // The mean turned by 90 degrees, scaled by 3 and moved: a = 0, b = 3.
    const float shape[6] = {10, 10, 10, 13, 7, 10};
    float a = 0, b = 0;
    kvo::similarityFromMean(mean, shape, 3, a, b);
    EXPECT_NEAR(a, 0.0f, 1e-5f);
    EXPECT_NEAR(b, 3.0f, 1e-5f);
    const float collapsed[6] = {1, 1, 1, 1, 1, 1};
    kvo::similarityFromMean(collapsed, shape, 3, a, b);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 0.0f);
}

TEST(LandmarkRefiner, MovesEveryLandmarkByTheLeafItsPixelsReach) {
    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelModel());
    // The shape is the mean scaled by 4 at (30, 20): pixel 0 is read at x = 26, pixel 1 at 34.
    std::vector<unsigned char> leftBright = frameWithBrightColumn(26);
    kvo::ShapeMat s = shapeAt(30, 20, 4);
    r.refine(leftBright.data(), kW, kH, s);
    // Leaf 0: (+2, 0) steps of 0.5 mean units, 4 pixels each: +4 px in x.
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(s.data[i][0], 30 + 4 * i + 4.0, 1e-4) << i;
        EXPECT_NEAR(s.data[i][1], 20 + 4 * (i % 2), 1e-4) << i;
    }
    std::vector<unsigned char> rightBright = frameWithBrightColumn(34);
    s = shapeAt(30, 20, 4);
    r.refine(rightBright.data(), kW, kH, s);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(s.data[i][0], 30 + 4 * i, 1e-4) << i;
        EXPECT_NEAR(s.data[i][1], 20 + 4 * (i % 2) - 2.0, 1e-4) << i;  // (0, -1) steps
    }
}

TEST(LandmarkRefiner, LeavesOnABasisMoveAlongIt) {
    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelBasisModel());
    std::vector<unsigned char> leftBright = frameWithBrightColumn(26);
    kvo::ShapeMat s = shapeAt(30, 20, 4);
    r.refine(leftBright.data(), kW, kH, s);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(s.data[i][0], 30 + 4 * i + 8.0, 1e-4) << i;  // 2 units of 4 px
    std::vector<unsigned char> rightBright = frameWithBrightColumn(34);
    s = shapeAt(30, 20, 4);
    r.refine(rightBright.data(), kW, kH, s);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(s.data[i][0], 30 + 4 * i - 4.0, 1e-4) << i;
        EXPECT_NEAR(s.data[i][1], 20 + 4 * (i % 2), 1e-4) << i;
    }
}

TEST(LandmarkRefiner, PixelsOutsideTheFrameReadAsBlack) {
    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelModel(3, -100));
    // Landmark 0 at x = 1 with a scale of 4: pixel 0 lies at x = -3, outside (0); pixel 1 is
    // at 5 (20): 0 - 20 > -100 chooses leaf 0.
    std::vector<unsigned char> dark(kW * kH, 20);
    kvo::ShapeMat s = shapeAt(1, 20, 4);
    r.refine(dark.data(), kW, kH, s);
    EXPECT_NEAR(s.data[0][0], 5.0, 1e-4);
}

TEST(LandmarkRefiner, LeavesShapesItCannotRefineAlone) {
    std::vector<unsigned char> px = frameWithBrightColumn(26);
    kvo::LandmarkRefiner none;
    kvo::ShapeMat s = shapeAt(30, 20, 4);
    none.refine(px.data(), kW, kH, s);
    EXPECT_EQ(s.data[0][0], 30.0);

    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelModel());
    kvo::ShapeMat four = shapeAt(30, 20, 4, 4);
    r.refine(px.data(), kW, kH, four);
    EXPECT_EQ(four.data[0][0], 30.0) << "another landmark count";

    kvo::ShapeMat broken = shapeAt(30, 20, 4);
    broken.data[2][1] = NAN;
    r.refine(px.data(), kW, kH, broken);
    EXPECT_EQ(broken.data[0][0], 30.0) << "a non-finite coordinate";

    kvo::ShapeMat far = shapeAt(1e30, -1e30, 4);
    r.refine(px.data(), kW, kH, far);
    EXPECT_TRUE(std::isfinite(far.data[0][0]));

    s = shapeAt(30, 20, 4);
    r.refine(nullptr, kW, kH, s);
    EXPECT_EQ(s.data[0][0], 30.0) << "no pixels";
}

TEST(LandmarkRefiner, AMalformedModelIsReportedOnceAndTurnsItOff) {
    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelModel());
    ASSERT_TRUE(r.loaded());
    std::string bytes = kvo::serializeRefinerModel(kvotest::twoPixelModel());
    bytes.pop_back();
    kvo_test::CoutCapture out;
    EXPECT_FALSE(r.load(bytes));
    const std::string printed = out.text();
    EXPECT_EQ(printed.find("Error: LandmarkRefiner: "), 0u) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line: " << printed;
    EXPECT_FALSE(r.loaded());
}

TEST(LandmarkRefiner, RefiningAllocatesNothing) {
    kvo::LandmarkRefiner r = loaded(kvotest::twoPixelModel());
    std::vector<unsigned char> px = frameWithBrightColumn(26);
    kvo::ShapeMat s = shapeAt(30, 20, 4);
    const long before = kvotest::allocationCount();
    for (int k = 0; k < 10; ++k) r.refine(px.data(), kW, kH, s);
    EXPECT_EQ(kvotest::allocationCount() - before, 0);
}

}  // namespace
