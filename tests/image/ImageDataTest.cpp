#include "image/ImageData.h"

#include <gtest/gtest.h>

#include "ImageTestSupport.h"

namespace {

TEST(ImageData, DefaultIsEmpty) {
    kvo::ImageData image;
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
    EXPECT_EQ(image.scale, 0.0);
    EXPECT_FALSE(image.initialized);
    kvo::ImageDataInt ints;
    EXPECT_EQ(ints.data, nullptr);
    EXPECT_FALSE(ints.initialized);
}

TEST(ImageData, InitAllocatesZeroedAlignedBuffer) {
    kvo::ImageData image;
    image.init(641, 3, 0.5);
    ASSERT_TRUE(image.initialized);
    EXPECT_EQ(image.width, 641u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(image.scale, 0.5);
    EXPECT_TRUE(kvo_test::isAligned16(image.data));
    for (size_t i = 0; i < 641u * 3u; ++i) ASSERT_EQ(image.data[i], 0) << i;
}

TEST(ImageData, IntImageHoldsSignedValues) {
    kvo::ImageDataInt image;
    image.init(60, 60, 0.125);
    ASSERT_TRUE(image.initialized);
    EXPECT_TRUE(kvo_test::isAligned16(image.data));
    for (size_t i = 0; i < 3600; ++i) ASSERT_EQ(image.data[i], 0);
    image.data[3599] = -510;  // the last element is inside the buffer
    EXPECT_EQ(image.data[3599], -510);
}

TEST(ImageData, SecondInitKeepsBufferAndReports) {
    kvo::ImageData image;
    image.init(10, 10, 1.0);
    uint8_t* first = image.data;
    testing::internal::CaptureStdout();
    image.init(20, 30, 0.5);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Already initialized ImageData!\n");
    EXPECT_EQ(image.data, first);
    EXPECT_EQ(image.width, 10u);
    EXPECT_EQ(image.height, 10u);
    EXPECT_EQ(image.scale, 1.0);

    kvo::ImageDataInt ints;
    ints.init(4, 4, 1.0);
    testing::internal::CaptureStdout();
    ints.init(8, 8, 1.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Already initialized ImageData!\n");
    EXPECT_EQ(ints.width, 4u);
}

TEST(ImageData, UnrepresentableSizeLeavesImageUninitialised) {
    kvo::ImageDataInt image;
    testing::internal::CaptureStdout();
    image.init(0xFFFFFFFFu, 0xFFFFFFFFu, 1.0);  // 2^66 bytes
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: Failed to allocate memory\n");
    EXPECT_FALSE(image.initialized);
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
}

TEST(ImageData, ReleaseReturnsToDefaultAndAllowsNewInit) {
    kvo::ImageData image;
    image.init(8, 8, 1.0);
    image.release();
    EXPECT_EQ(image.data, nullptr);
    EXPECT_FALSE(image.initialized);
    image.init(4, 2, 0.25);
    EXPECT_TRUE(image.initialized);
    EXPECT_EQ(image.width, 4u);
}

}  // namespace
