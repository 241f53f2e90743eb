#include "image/ResizeImageUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "ImageTestSupport.h"

namespace {

using kvo::Matrix;
using kvo::ResizeImageUtils;

class ResizeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(ResizeImageUtils::prepareThreadRecords()); }
};

// ---- 2x2 reduction ----------------------------------------------------------------

TEST_F(ResizeTest, ReductionOfOneBlockIsTruncatedMean) {
    const uint8_t src[4] = {1, 2, 3, 4};
    uint8_t dst = 0;
    ResizeImageUtils::pyrDown(src, &dst, 1, 1);
    EXPECT_EQ(dst, 2);  // 10 >> 2
    const uint8_t bright[4] = {255, 255, 255, 254};
    ResizeImageUtils::pyrDown(bright, &dst, 1, 1);
    EXPECT_EQ(dst, 254);  // 1019 >> 2, no 8-bit overflow
}

TEST_F(ResizeTest, ReductionMatchesBoxMeansForManyWidths) {
    // Widths around the 16-pixel blocks of the vector path and their tails.
    for (int dw : {1, 2, 7, 15, 16, 17, 31, 32, 33, 80, 320}) {
        const int dh = 5;
        const std::vector<uint8_t> src = kvo_test::randomBytes(4 * dw * dh, dw);
        std::vector<uint8_t> dst(dw * dh + 1, 0xEE);
        ResizeImageUtils::pyrDown(src.data(), dst.data(), dw, dh);
        EXPECT_EQ(dst.back(), 0xEE) << "wrote past the destination, width " << dw;
        dst.pop_back();
        EXPECT_EQ(dst, kvo_test::boxMeans(src.data(), 2 * dw, dw, dh)) << "width " << dw;
    }
}

TEST_F(ResizeTest, OddSourceWidthIsReadWithItsOwnRowLength) {
    const int sw = 37, sh = 23, dw = sw / 2, dh = sh / 2;
    std::vector<uint8_t> src = kvo_test::randomBytes(sw * sh, 11);
    std::vector<uint8_t> dst(dw * dh);
    ResizeImageUtils::pyrDown(src.data(), dst.data(), dw, dh, sw);
    EXPECT_EQ(dst, kvo_test::boxMeans(src.data(), sw, dw, dh));

    // The last column (and the last row of an odd height) do not contribute.
    for (int y = 0; y < sh; ++y) src[y * sw + sw - 1] = static_cast<uint8_t>(src[y * sw + sw - 1] ^ 0xFF);
    for (int x = 0; x < sw; ++x) src[(sh - 1) * sw + x] ^= 0x55;
    std::vector<uint8_t> again(dw * dh);
    ResizeImageUtils::pyrDown(src.data(), again.data(), dw, dh, sw);
    EXPECT_EQ(again, dst);
}

TEST_F(ResizeTest, OddDestinationHeightGivesTheExtraRowToTheLastWorker) {
    const int dw = 4, dh = 5;
    const std::vector<uint8_t> src = kvo_test::randomBytes(4 * dw * dh, 5);
    std::vector<uint8_t> dst(dw * dh);
    ResizeImageUtils::pyrDown(src.data(), dst.data(), dw, dh);
    ASSERT_EQ(ResizeImageUtils::MAX_THREADS, 2);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[0]->firstRow, 0);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[0]->endRow, 2);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[1]->firstRow, 2);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[1]->endRow, 5);
    EXPECT_EQ(dst, kvo_test::boxMeans(src.data(), 2 * dw, dw, dh));
}

TEST_F(ResizeTest, SingleRowIsDoneByTheLastWorker) {
    const uint8_t src[8] = {0, 4, 8, 12, 4, 8, 12, 16};
    uint8_t dst[2] = {};
    ResizeImageUtils::pyrDown(src, dst, 2, 1);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[0]->endRow, 0);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[1]->endRow, 1);
    EXPECT_EQ(dst[0], 4);   // (0 + 4 + 4 + 8) / 4
    EXPECT_EQ(dst[1], 12);  // (8 + 12 + 12 + 16) / 4
}

TEST_F(ResizeTest, ReductionRefusesASourceNarrowerThanTwiceTheDestination) {
    std::vector<uint8_t> src(100, 9), dst(100, 0xEE);
    testing::internal::CaptureStdout();
    ResizeImageUtils::pyrDown(src.data(), dst.data(), 10, 2, 19);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
    EXPECT_EQ(dst, std::vector<uint8_t>(100, 0xEE));
}

// ---- affine nearest-neighbour resampling ------------------------------------------

struct Frame {
    int w, h;
    std::vector<uint8_t> px;
    Frame(int width, int height, unsigned seed)
        : w(width), h(height), px(kvo_test::randomBytes(static_cast<size_t>(width) * height, seed)) {
        // Keep 128 and 255 out of the source so that they can only come from the rules.
        for (auto& p : px) p = static_cast<uint8_t>(p % 120);
    }
    uint8_t at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
};

std::vector<uint8_t> resample(const Frame& f, const Matrix& m, int dw = 480, int dh = 480) {
    std::vector<uint8_t> out(static_cast<size_t>(dw) * dh, 0xEE);
    EXPECT_TRUE(ResizeImageUtils::resizeNearestNeighborGray(f.px.data(), f.w, f.h, out.data(), dw, dh, m));
    return out;
}

TEST_F(ResizeTest, IdentityCopiesTopLeftExceptRowZero) {
    const Frame f(640, 500, 1);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, 0, 0));
    for (int c = 0; c < 480; ++c) ASSERT_EQ(out[c], 128) << c;  // row start index 0 is outside
    for (int r = 1; r < 480; ++r)
        for (int c = 0; c < 480; ++c) ASSERT_EQ(out[r * 480 + c], f.at(c, r)) << r << "," << c;
}

TEST_F(ResizeTest, HalfScaleTakesEveryOtherPixel) {
    // a = d = 0.5: steps 131073, so destination (c, r) reads source (2c, 2r).
    const Frame f(960, 960, 2);
    const std::vector<uint8_t> out = resample(f, Matrix(0.5, 0, 0, 0.5, 0, 0));
    for (int r = 1; r < 480; ++r)
        for (int c = 0; c < 480; ++c) ASSERT_EQ(out[r * 480 + c], f.at(2 * c, 2 * r)) << r << "," << c;
}

TEST_F(ResizeTest, TranslationShiftsTheSourceWindow) {
    // x' = x - 30, y' = y - 20: destination (c, r) reads source (c + 30, r + 20).
    const Frame f(640, 520, 3);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, -30, -20));
    for (int r = 0; r < 480; ++r)
        for (int c = 0; c < 480; ++c) ASSERT_EQ(out[r * 480 + c], f.at(c + 30, r + 20)) << r << "," << c;
}

TEST_F(ResizeTest, RowsAboveTheImageAre128) {
    // y' = y + 10: destination rows 0..10 start at or before index 0.
    const Frame f(500, 500, 4);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, 0, 10));
    for (int r = 0; r <= 10; ++r)
        for (int c = 0; c < 480; ++c) ASSERT_EQ(out[r * 480 + c], 128) << r;
    EXPECT_EQ(out[11 * 480 + 5], f.at(5, 1));
}

TEST_F(ResizeTest, PixelsBeyondTheSourceAre255AndRowsBelowAre128) {
    const Frame f(100, 100, 5);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, 0, 0));
    // Row 50 runs off the right edge onto the next source rows (flat indexing).
    EXPECT_EQ(out[50 * 480 + 99], f.at(99, 50));
    EXPECT_EQ(out[50 * 480 + 100], f.at(0, 51));
    EXPECT_EQ(out[50 * 480 + 250], f.at(50, 52));
    // Row 99: columns past the last source pixel are 255.
    EXPECT_EQ(out[99 * 480 + 99], f.at(99, 99));
    for (int c = 100; c < 480; ++c) ASSERT_EQ(out[99 * 480 + c], 255) << c;
    // Rows whose start is past the source are 128.
    for (int r = 100; r < 480; ++r)
        for (int c = 0; c < 480; ++c) ASSERT_EQ(out[r * 480 + c], 128) << r;
}

TEST_F(ResizeTest, ColumnsLeftOfTheSourceReadTheEndOfThePreviousRow) {
    // x' = x + 5: columns 0..4 fall before the row start, at the end of the row above
    // (flat indexing); row 0 starts at a negative index and is 128.
    const Frame f(600, 600, 6);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, 5, 0));
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[1 * 480 + 0], f.at(595, 0));
    EXPECT_EQ(out[1 * 480 + 5], f.at(0, 1));
}

TEST_F(ResizeTest, OddDestinationHeightIsCoveredCompletely) {
    const Frame f(300, 300, 8);
    const std::vector<uint8_t> out = resample(f, Matrix(1, 0, 0, 1, 0, 0), 20, 7);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[1]->firstRow, 3);
    EXPECT_EQ(ResizeImageUtils::THREAD_ARGS[1]->endRow, 7);
    for (int r = 1; r < 7; ++r)
        for (int c = 0; c < 20; ++c) ASSERT_EQ(out[r * 20 + c], f.at(c, r));
}

TEST_F(ResizeTest, InvalidTransformsAreRefusedAndLeaveTheDestination) {
    const Frame f(64, 64, 9);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Matrix& m : {Matrix(0, 0, 0, 1, 0, 0), Matrix(1, 0, 0, 0, 0, 0), Matrix(nan, 0, 0, 1, 0, 0),
                            Matrix(1, 0, 0, 1, inf, 0), Matrix(1, 0, 0, 1, 0, nan)}) {
        std::vector<uint8_t> out(100, 0xEE);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(ResizeImageUtils::resizeNearestNeighborGray(f.px.data(), f.w, f.h, out.data(), 10, 10, m));
        EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
        EXPECT_EQ(out, std::vector<uint8_t>(100, 0xEE));
    }
}

TEST_F(ResizeTest, ExtremeTransformsStayInsideTheSource) {
    // Steps and offsets that do not fit 32 bits: every pixel is a source pixel or one of
    // the two fill values, and nothing outside the source is read (sanitizer build).
    const Frame f(64, 48, 10);
    for (const Matrix& m : {Matrix(1e-9, 0, 0, 1e-9, 0, 0), Matrix(1e9, 0, 0, 1e9, 0, 0),
                            Matrix(1, 0, 0, 1, 1e300, -1e300), Matrix(-1, 0, 0, -1, 0, 0),
                            Matrix(0.001, 0, 0, 0.001, 3, 3)}) {
        const std::vector<uint8_t> out = resample(f, m, 60, 60);
        for (uint8_t v : out) ASSERT_TRUE(v < 120 || v == 128 || v == 255) << int(v);
    }
}

}  // namespace
