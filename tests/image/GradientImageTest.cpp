#include "image/GradientImage.h"

#include <gtest/gtest.h>

#include <functional>

#include "ImageTestSupport.h"

namespace {

struct GradientCase {
    kvo::ImageData image;
    kvo::ImageDataInt gradient;
    kvo::ImageDataInt row;
    int w, h;
    GradientCase(int width, int height, const std::function<int(int, int)>& pixel) : w(width), h(height) {
        image.init(width, height, 1.0);
        gradient.init(width, height, 1.0);
        row.init(1920, 1, 1.0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) image.data[y * w + x] = static_cast<uint8_t>(pixel(x, y));
        // A sentinel shows which elements the pass writes.
        for (int i = 0; i < w * h; ++i) gradient.data[i] = 7777;
    }
    int I(int x, int y) const { return image.data[y * w + x]; }
    int G(int x, int y) const { return gradient.data[y * w + x]; }
    void build() { kvo::buildGradientImage(image, gradient, row, w, h); }
};

TEST(GradientImage, ConstantImageHasZeroGradientAndLastRowIsNotWritten) {
    GradientCase t(60, 60, [](int, int) { return 93; });
    t.build();
    for (int y = 0; y < 59; ++y)
        for (int x = 0; x < 60; ++x) ASSERT_EQ(t.G(x, y), 0) << x << "," << y;
    for (int x = 0; x < 60; ++x) EXPECT_EQ(t.G(x, 59), 7777);
}

TEST(GradientImage, HorizontalRampGivesOneExceptLastColumn) {
    GradientCase t(120, 120, [](int x, int) { return x; });
    t.build();
    for (int y = 0; y < 119; ++y) {
        for (int x = 0; x < 119; ++x) ASSERT_EQ(t.G(x, y), 1) << x << "," << y;
        ASSERT_EQ(t.G(119, y), 0);
    }
}

TEST(GradientImage, MatchesForwardDifferencesOnNoise) {
    const std::vector<uint8_t> noise = kvo_test::randomBytes(240 * 240, 21);
    GradientCase t(240, 240, [&](int x, int y) { return noise[y * 240 + x]; });
    t.build();
    for (int y = 0; y < 239; ++y)
        for (int x = 0; x < 239; ++x)
            ASSERT_EQ(t.G(x, y), t.I(x + 1, y) - t.I(x, y) + t.I(x, y + 1) - t.I(x, y)) << x << "," << y;
}

TEST(GradientImage, ExtremesReachPlusMinus510) {
    GradientCase low(3, 3, [](int x, int y) { return (x == 0 && y == 0) ? 0 : 255; });
    low.build();
    EXPECT_EQ(low.G(0, 0), 510);
    GradientCase high(3, 3, [](int x, int y) { return (x == 0 && y == 0) ? 255 : 0; });
    high.build();
    EXPECT_EQ(high.G(0, 0), -510);
}

TEST(GradientImage, SubRegionUsesEachImagesRowLength) {
    // A 10 x 6 gradient of a 16 x 8 image: rows are 16 pixels apart in both images.
    GradientCase t(16, 8, [](int x, int y) { return 3 * x + 5 * y; });
    kvo::buildGradientImage(t.image, t.gradient, t.row, 10, 6);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 9; ++x) ASSERT_EQ(t.G(x, y), 8);
        ASSERT_EQ(t.G(9, y), 0);
        ASSERT_EQ(t.G(10, y), 7777);
    }
    EXPECT_EQ(t.G(0, 5), 7777);
}

TEST(GradientImage, OversizedRequestIsRefused) {
    GradientCase t(8, 8, [](int x, int) { return x; });
    testing::internal::CaptureStdout();
    kvo::buildGradientImage(t.image, t.gradient, t.row, 9, 8);
    kvo::ImageDataInt shortRow;
    shortRow.init(4, 1, 1.0);
    kvo::buildGradientImage(t.image, t.gradient, shortRow, 8, 8);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Error: ", 0), 0u);
    EXPECT_NE(out.find("\nError: "), std::string::npos);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(t.gradient.data[i], 7777);
}

TEST(GradientImage, SingleRowWritesNothing) {
    GradientCase t(5, 1, [](int x, int) { return x; });
    t.build();
    for (int x = 0; x < 5; ++x) EXPECT_EQ(t.G(x, 0), 7777);
}

}  // namespace
