#include "image/FastMalloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ImageTestSupport.h"

namespace {

TEST(FastMalloc, BlocksAreAlignedAndFullyUsable) {
    const std::vector<size_t> sizes = {0, 1, 3, 15, 16, 17, 255, 4096, 640 * 480, 1 << 22};
    std::vector<unsigned char*> blocks;
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto* p = static_cast<unsigned char*>(kvo::fastMalloc(sizes[i]));
        ASSERT_NE(p, nullptr) << sizes[i];
        EXPECT_TRUE(kvo_test::isAligned16(p)) << sizes[i];
        std::memset(p, static_cast<int>(i + 1), sizes[i]);  // every byte writable
        blocks.push_back(p);
    }
    // No block overlaps another: each still holds its own fill.
    for (size_t i = 0; i < sizes.size(); ++i) {
        for (size_t j = 0; j < sizes[i]; j += 97) ASSERT_EQ(blocks[i][j], i + 1);
        if (sizes[i]) {
            EXPECT_EQ(blocks[i][sizes[i] - 1], i + 1);
        }
        kvo::fastFree(blocks[i]);
    }
}

TEST(FastMalloc, ManySmallBlocksKeepTheirRawPointer) {
    // Different malloc offsets exercise every rounding distance to the alignment.
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 200; ++i) {
        auto* p = static_cast<unsigned char*>(kvo::fastMalloc(static_cast<size_t>(i % 37)));
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(kvo_test::isAligned16(p));
        if (i % 37) p[i % 37 - 1] = static_cast<unsigned char>(i);
        blocks.push_back(p);
    }
    for (int i = 0; i < 200; ++i) {
        if (i % 37) {
            EXPECT_EQ(blocks[i][i % 37 - 1], static_cast<unsigned char>(i));
        }
        kvo::fastFree(blocks[i]);
    }
}

TEST(FastMalloc, ReleasingNullIsHarmless) { kvo::fastFree(nullptr); }

TEST(FastMalloc, ImpossibleSizeReportsAndReturnsNull) {
    testing::internal::CaptureStdout();
    void* p = kvo::fastMalloc(SIZE_MAX - 4);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(out, "Error: Failed to allocate memory\n");
}

}  // namespace
