#include "image/GreyConversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImageTestSupport.h"

namespace {

// The defining expression, each operation rounded to double (the volatile stores force
// that rounding where the compiler would otherwise keep extended precision).
int referenceGrey(int b0, int b1, int b2) {
    volatile double p0 = 0.114 * b0;
    volatile double p1 = 0.587 * b1;
    volatile double s = p0 + p1;
    volatile double p2 = 0.299 * b2;
    volatile double t = s + p2;
    return static_cast<int>(t);
}

uint8_t convertOne(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3 = 255) {
    const uint8_t px[4] = {b0, b1, b2, b3};
    uint8_t grey = 0;
    kvo::convertToGrey(px, &grey, 1);
    return grey;
}

TEST(GreyConversion, KnownColours) {
    EXPECT_EQ(convertOne(255, 255, 255), 255);
    EXPECT_EQ(convertOne(0, 0, 0), 0);
    EXPECT_EQ(convertOne(0, 0, 255), 76);   // red
    EXPECT_EQ(convertOne(0, 255, 0), 149);  // green
    EXPECT_EQ(convertOne(255, 0, 0), 29);   // blue
}

TEST(GreyConversion, NeutralGreysTruncatedInDoubleComeOutOneLower) {
    EXPECT_EQ(convertOne(23, 23, 23), 22);
    EXPECT_EQ(convertOne(127, 127, 127), 126);
    EXPECT_EQ(kvo::greyValue(23, 23, 23), 22);
    EXPECT_EQ(kvo::greyValue(127, 127, 127), 126);
}

TEST(GreyConversion, AlphaIsIgnored) {
    for (int alpha : {0, 1, 128, 255}) {
        EXPECT_EQ(convertOne(10, 200, 90, static_cast<uint8_t>(alpha)), convertOne(10, 200, 90, 0));
    }
}

// All 2^24 colours, through the bulk routine (vector and scalar paths alike: each run of
// 65536 pixels is split into full blocks with no tail, so a second pass with an odd
// count covers the tail code too).
TEST(GreyConversion, BitExactWithDoubleExpressionForEveryColour) {
    std::vector<uint8_t> px(65536 * 4);
    std::vector<uint8_t> grey(65536);
    std::vector<uint8_t> greyOdd(65536);
    long mismatches = 0;
    for (int b2 = 0; b2 < 256; ++b2) {
        for (int i = 0; i < 65536; ++i) {
            px[4 * i] = static_cast<uint8_t>(i & 0xFF);
            px[4 * i + 1] = static_cast<uint8_t>(i >> 8);
            px[4 * i + 2] = static_cast<uint8_t>(b2);
            px[4 * i + 3] = static_cast<uint8_t>(i * 7);
        }
        kvo::convertToGrey(px.data(), grey.data(), 65536);
        // Start one pixel late with 65535 pixels: every colour moves to another lane.
        kvo::convertToGrey(px.data() + 4, greyOdd.data() + 1, 65535);
        greyOdd[0] = kvo::greyValue(px[0], px[1], px[2]);
        for (int i = 0; i < 65536; ++i) {
            const int expected = referenceGrey(i & 0xFF, i >> 8, b2);
            if (grey[i] != expected || greyOdd[i] != expected) {
                if (++mismatches <= 5) {
                    ADD_FAILURE() << "colour (" << (i & 0xFF) << ", " << (i >> 8) << ", " << b2
                                  << "): got " << int(grey[i]) << " / " << int(greyOdd[i])
                                  << ", expected " << expected;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(GreyConversion, WordsAreReadInMemoryOrder) {
    const std::vector<uint8_t> bytes = kvo_test::randomBytes(4 * 50, 7);
    std::vector<uint32_t> words(50);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    std::vector<uint8_t> fromBytes(50), fromWords(50);
    kvo::convertToGrey(bytes.data(), fromBytes.data(), 50);
    kvo::convertToGrey(words.data(), fromWords.data(), 50);
    EXPECT_EQ(fromBytes, fromWords);
}

TEST(GreyConversion, WritesExactlyCountBytesAtAnyAlignment) {
    const std::vector<uint8_t> px = kvo_test::randomBytes(4 * 80 + 16, 3);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (size_t count = 0; count <= 70; ++count) {
            std::vector<uint8_t> grey(count + 2, 0xEE);
            kvo::convertToGrey(px.data() + offset, grey.data() + 1, count);
            EXPECT_EQ(grey.front(), 0xEE);
            EXPECT_EQ(grey.back(), 0xEE) << "count " << count;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* p = px.data() + offset + 4 * i;
                ASSERT_EQ(grey[i + 1], referenceGrey(p[0], p[1], p[2])) << count << " " << i;
            }
        }
    }
    kvo::convertToGrey(static_cast<const uint8_t*>(nullptr), nullptr, 0);
}

}  // namespace
