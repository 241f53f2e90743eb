// The binary layout of the FRE interface types, which must match the host runtime's in
// both 32-bit and 64-bit processes.
#include <gtest/gtest.h>

#include <cstddef>

#include "extension/FREInterface.h"

namespace {

TEST(FreInterface, ResultCodesAreThirtyTwoBitsWithTheHostsValues) {
    EXPECT_EQ(sizeof(FREResult), 4u);
    EXPECT_EQ(FRE_OK, 0);
    EXPECT_EQ(FRE_NO_SUCH_NAME, 1);
    EXPECT_EQ(FRE_INVALID_OBJECT, 2);
    EXPECT_EQ(FRE_TYPE_MISMATCH, 3);
    EXPECT_EQ(FRE_ACTIONSCRIPT_ERROR, 4);
    EXPECT_EQ(FRE_INVALID_ARGUMENT, 5);
    EXPECT_EQ(FRE_READ_ONLY, 6);
    EXPECT_EQ(FRE_WRONG_THREAD, 7);
    EXPECT_EQ(FRE_ILLEGAL_STATE, 8);
    EXPECT_EQ(FRE_INSUFFICIENT_MEMORY, 9);
}

TEST(FreInterface, RecordLayouts) {
    const std::size_t p = sizeof(void*);
    EXPECT_EQ(offsetof(FRENamedFunction, name), 0u);
    EXPECT_EQ(offsetof(FRENamedFunction, functionData), p);
    EXPECT_EQ(offsetof(FRENamedFunction, function), 2 * p);
    EXPECT_EQ(sizeof(FRENamedFunction), 3 * p);

    EXPECT_EQ(offsetof(FREBitmapData, width), 0u);
    EXPECT_EQ(offsetof(FREBitmapData, height), 4u);
    EXPECT_EQ(offsetof(FREBitmapData, hasAlpha), 8u);
    EXPECT_EQ(offsetof(FREBitmapData, isPremultiplied), 12u);
    EXPECT_EQ(offsetof(FREBitmapData, lineStride32), 16u);
    // The pixel pointer follows the five words, aligned as a pointer: 20 in a 32-bit
    // process, 24 in a 64-bit one.
    EXPECT_EQ(offsetof(FREBitmapData, bits32), p == 4 ? 20u : 24u);
}

}  // namespace
