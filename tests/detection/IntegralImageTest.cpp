// The integral images: each entry against a direct sum, and a build in bands of rows
// against a build in one call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "detection/IntegralImage.h"

namespace {

std::vector<uint8_t> noise(int width, int height, uint32_t seed) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height);
    uint32_t state = seed;
    for (uint8_t& p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = static_cast<uint8_t>(state >> 24);
    }
    return pixels;
}

TEST(IntegralImages, EachEntryIsTheSumOfThePixelsAboveAndLeftModulo2To32) {
    const int W = 37, H = 23;
    const std::vector<uint8_t> pixels = noise(W, H, 7);
    std::vector<int32_t> sum(W * H), squares(W * H);
    kvo::buildIntegralImages(pixels.data(), W, H, sum.data(), squares.data());
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            uint32_t s = 0, q = 0;
            for (int j = 0; j <= y; ++j)
                for (int i = 0; i <= x; ++i) {
                    const uint32_t v = pixels[j * W + i];
                    s += v;
                    q += v * v;
                }
            ASSERT_EQ(static_cast<uint32_t>(sum[y * W + x]), s) << x << ", " << y;
            ASSERT_EQ(static_cast<uint32_t>(squares[y * W + x]), q) << x << ", " << y;
        }
    }
}

TEST(IntegralImages, BandsOfRowsGiveTheImagesOfOneCall) {
    // 300 x 300 bright pixels: the squared sums wrap around 2^32.
    const int W = 300, H = 300;
    std::vector<uint8_t> pixels = noise(W, H, 11);
    for (uint8_t& p : pixels) p = static_cast<uint8_t>(200 + p % 56);
    std::vector<int32_t> sum(W * H), squares(W * H);
    kvo::buildIntegralImages(pixels.data(), W, H, sum.data(), squares.data());
    for (int band : {1, 3, 8, 299}) {
        std::vector<int32_t> bandSum(W * H, -1), bandSquares(W * H, -1);
        for (int y = 0; y < H; y += band)
            kvo::buildIntegralImageRows(pixels.data(), W, y, std::min(H, y + band), bandSum.data(),
                                        bandSquares.data());
        EXPECT_EQ(bandSum, sum) << "bands of " << band;
        EXPECT_EQ(bandSquares, squares) << "bands of " << band;
    }
    // An empty band changes nothing.
    std::vector<int32_t> copy = sum;
    kvo::buildIntegralImageRows(pixels.data(), W, 5, 5, copy.data(), squares.data());
    EXPECT_EQ(copy, sum);
}

}  // namespace

namespace {

// Boxes of n pixels drawn from a few brightness ranges: the true squared sum from the
// pixel sum and the squared sum read modulo 2^32, against the sum counted in 64 bits.
TEST(TrueSquaredSum, RecoversSumsPastTheSignedAndUnsignedRangeForBoxesUpTo514Pixels) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const int64_t sides[] = {24, 96, 240, 288, 400, 514};
    const int ranges[][2] = {{0, 255}, {200, 255}, {250, 255}, {255, 255}, {0, 40}, {100, 160}};
    int beyondSigned = 0, beyondUnsigned = 0;
    for (int64_t side : sides) {
        const int64_t n = side * side;
        for (const auto& r : ranges) {
            uint64_t sum = 0, squares = 0;
            for (int64_t i = 0; i < n; ++i) {
                const uint64_t p = static_cast<uint64_t>(r[0]) + next() % static_cast<uint32_t>(r[1] - r[0] + 1);
                sum += p;
                squares += p * p;
            }
            beyondSigned += squares > static_cast<uint64_t>(INT32_MAX);
            beyondUnsigned += squares > UINT32_MAX;
            const int32_t readSum = static_cast<int32_t>(static_cast<uint32_t>(sum));
            const int32_t readSquares = static_cast<int32_t>(static_cast<uint32_t>(squares));
            EXPECT_EQ(kvo::trueSquaredSum(readSum, readSquares, n), static_cast<double>(squares))
                << side << " px, pixels " << r[0] << "..." << r[1];
        }
    }
    EXPECT_GT(beyondSigned, 5);  // the cases that matter are there
    EXPECT_GT(beyondUnsigned, 3);
}

TEST(TrueSquaredSum, SumsWithinTheSignedRangeAreTakenAsRead) {
    EXPECT_EQ(kvo::trueSquaredSum(1000, 250000, 4), 250000.0);
    EXPECT_EQ(kvo::trueSquaredSum(8421504, 2147483520, 33026), 2147483520.0);  // 255 x sum just below 2^31
    EXPECT_EQ(kvo::trueSquaredSum(0, 0, 0), 0.0);
}

}  // namespace
