// Per-frame fitting must not touch the heap once the model is initialised. This file
// replaces the global operator new of the test program to count allocations.
#include <gtest/gtest.h>

#include "support/CountingNew.h"

#include <cmath>
#include <cstdlib>

#include "CandideTestSupport.h"


TEST(CandideAllocation, FitsAllocateNothingAfterInit) {
    kvo::ShapeMat shape;
    shape.dim(68, 2);
    for (int i = 0; i < 68; ++i) {
        shape.data[i][0] = 200.0 + 100.0 * std::cos(i * 0.37);
        shape.data[i][1] = 240.0 + 120.0 * std::sin(i * 0.29);
    }
    const long atStart = kvotest::allocationCount();
    kvo::ASMCandideExtension ext(shape);
    ext.initFromModelText(kvo::testing_support::readRealModelText());
    ASSERT_TRUE(ext.isUsable());
    EXPECT_GT(kvotest::allocationCount() - atStart, 113) << "the counter must see the model being built";
    ext.update(true);  // first frame: nothing is sized lazily, but warm up anyway

    const long before = kvotest::allocationCount();
    for (int frame = 0; frame < 5; ++frame) {
        ext.update(true);
        ext.update(false);
    }
    ext.updateTransformByShape(shape);
    EXPECT_EQ(kvotest::allocationCount() - before, 0);
}
