// Bitmaps through the exported FRE functions: the descriptor, row strides, and the
// acquire/release protocol.
#include <gtest/gtest.h>

#include <vector>

#include "host/HostRuntime.h"

namespace {

const uint8_t* u8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

class FreBitmap : public ::testing::Test {
protected:
    kvohost::Runtime rt;
};

TEST_F(FreBitmap, DescriptorDescribesThePixels) {
    std::vector<uint32_t> pixels(4 * 3);
    for (uint32_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | i;
    FREObject b = rt.bitmap(4, 3, pixels.data());
    FREBitmapData d{};
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    EXPECT_EQ(d.width, 4u);
    EXPECT_EQ(d.height, 3u);
    EXPECT_EQ(d.lineStride32, 4u);
    EXPECT_EQ(d.hasAlpha, 1u);
    EXPECT_EQ(d.isPremultiplied, 1u);
    ASSERT_NE(d.bits32, nullptr);
    for (uint32_t i = 0; i < pixels.size(); ++i) EXPECT_EQ(d.bits32[i], pixels[i]);
    // The host's ARGB word is blue, green, red, alpha in memory.
    d.bits32[0] = 0xFF112233u;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(d.bits32);
    EXPECT_EQ(bytes[0], 0x33);
    EXPECT_EQ(bytes[3], 0xFF);
    ASSERT_EQ(FREReleaseBitmapData(b), FRE_OK);
    EXPECT_EQ(rt.bitmapPixels(b)[0], 0xFF112233u);  // writes through bits32 reach the bitmap
}

TEST_F(FreBitmap, PaddedRowsKeepTheirStride) {
    const uint32_t w = 3, h = 2, stride = 5;
    const uint32_t src[] = {1, 2, 3, 4, 5, 6};
    FREObject b = rt.bitmap(w, h, src, stride);
    FREBitmapData d{};
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    EXPECT_EQ(d.lineStride32, stride);
    EXPECT_EQ(d.bits32[0], 1u);
    EXPECT_EQ(d.bits32[2], 3u);
    EXPECT_EQ(d.bits32[3], 0u);  // padding is zero
    EXPECT_EQ(d.bits32[stride], 4u);
    EXPECT_EQ(d.bits32[stride + 2], 6u);
    ASSERT_EQ(FREReleaseBitmapData(b), FRE_OK);

    // A new frame replaces the pixels in place.
    const uint32_t next[] = {9, 9, 9, 0, 7, 7, 7, 0};  // 4 words per source row
    const uint32_t* before = rt.bitmapPixels(b);
    rt.setBitmapPixels(b, next, 4);
    EXPECT_EQ(rt.bitmapPixels(b), before);
    EXPECT_EQ(rt.bitmapPixels(b)[stride + 2], 7u);
    EXPECT_EQ(rt.bitmapPixels(b)[3], 0u);
}

TEST_F(FreBitmap, AcquireAndReleaseMustAlternate) {
    FREObject b = rt.bitmap(2, 2);
    FREBitmapData d{};
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_ILLEGAL_STATE);  // release without acquire
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    EXPECT_TRUE(rt.isBitmapAcquired(b));
    FREBitmapData again{};
    EXPECT_EQ(FREAcquireBitmapData(b, &again), FRE_ILLEGAL_STATE);  // nested acquire
    EXPECT_EQ(again.bits32, nullptr);
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_OK);
    EXPECT_FALSE(rt.isBitmapAcquired(b));
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_ILLEGAL_STATE);
    EXPECT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);  // and again after a release
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_OK);

    // Two different bitmaps may be held at once.
    FREObject c = rt.bitmap(1, 1);
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    ASSERT_EQ(FREAcquireBitmapData(c, &again), FRE_OK);
    EXPECT_NE(d.bits32, again.bits32);
    EXPECT_EQ(FREReleaseBitmapData(c), FRE_OK);
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_OK);
}

TEST_F(FreBitmap, AcquireErrors) {
    FREBitmapData d{};
    FREObject b = rt.bitmap(1, 1);
    EXPECT_EQ(FREAcquireBitmapData(nullptr, &d), FRE_INVALID_OBJECT);
    EXPECT_EQ(FREAcquireBitmapData(rt.array(), &d), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREAcquireBitmapData(rt.number(1), &d), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREAcquireBitmapData(b, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_FALSE(rt.isBitmapAcquired(b));
    EXPECT_EQ(FREReleaseBitmapData(nullptr), FRE_INVALID_OBJECT);
    EXPECT_EQ(FREReleaseBitmapData(rt.point()), FRE_TYPE_MISMATCH);
}

TEST_F(FreBitmap, SizeAndReadOnlyProperties) {
    FREObject b = rt.bitmap(640, 480);
    EXPECT_EQ(rt.toInt(rt.property(b, "width")), 640);
    EXPECT_EQ(rt.toInt(rt.property(b, "height")), 480);
    EXPECT_EQ(FRESetObjectProperty(b, u8("width"), rt.integer(1), nullptr), FRE_READ_ONLY);
    EXPECT_THROW(rt.bitmap(0, 4), kvohost::HostError);
    EXPECT_THROW(rt.bitmap(4, 4, nullptr, 3), kvohost::HostError);  // stride below width
    EXPECT_THROW(rt.bitmap(70000, 70000), kvohost::HostError);      // would overflow 32-bit sizes
}

TEST_F(FreBitmap, StrictModeRefusesOtherCallsWhileABitmapIsHeld) {
    rt.setStrictBitmapAccess(true);
    FREObject b = rt.bitmap(2, 2), n = rt.number(3);
    FREBitmapData d{};
    double v = 0;
    EXPECT_EQ(FREGetObjectAsDouble(n, &v), FRE_OK);
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    EXPECT_EQ(FREGetObjectAsDouble(n, &v), FRE_ILLEGAL_STATE);
    EXPECT_EQ(FREReleaseBitmapData(b), FRE_OK);
    EXPECT_EQ(FREGetObjectAsDouble(n, &v), FRE_OK);
    EXPECT_EQ(v, 3.0);
}

}  // namespace
