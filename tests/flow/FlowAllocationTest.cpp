// Per-frame tracking must not touch the heap once the lists have their size. This file
// replaces the global operator new of the test program to count allocations.
#include <gtest/gtest.h>

#include "support/CountingNew.h"

#include <cstdlib>

#include "FlowRig.h"
#include "flow/ASMStabilizerExtension.h"
#include "flow/OpticalFlow.h"
#include "math/Matrix.h"


namespace {

TEST(FlowAllocation, TrackingAllocatesNothingOnceTheListsHaveGrown) {
    kvotest::ManagerRig rig(160, 120);
    kvotest::Texture tex(2);
    std::vector<uint8_t> a, b;
    tex.render(a, 160, 120, 0, 0);
    tex.render(b, 160, 120, 1.25, -0.5);
    rig.feed(a, b);
    kvo::OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(15);
    std::vector<kvo::PointPtr> pts;
    for (int i = 0; i < 40; ++i) pts.push_back(std::make_shared<kvo::Point>(20 + 3 * i, 20 + 2 * i));
    std::vector<bool> states;
    const long first = kvotest::allocationCount();
    ASSERT_EQ(flow.update(pts, states), 40);
    EXPECT_GT(kvotest::allocationCount(), first) << "the counter must see the worker lists grow";

    const long before = kvotest::allocationCount();
    for (int frame = 0; frame < 4; ++frame) {
        for (int i = 0; i < 40; ++i) {
            pts[i]->x = 20 + 3 * i;
            pts[i]->y = 20 + 2 * i;
        }
        flow.update(pts, states);
    }
    // Fewer points (one worker) and back: the lists shrink and regrow into their capacity
    // and keep their point objects.
    std::vector<kvo::PointPtr> few(pts.begin(), pts.begin() + 10);
    const long beforeFew = kvotest::allocationCount();
    flow.update(few, states);
    flow.update(pts, states);
    EXPECT_EQ(kvotest::allocationCount(), beforeFew);
    EXPECT_EQ(beforeFew - 1, before);  // the test's own list `few`
    EXPECT_NEAR(pts[20]->x, 20 + 60 + 2.5, 0.1);  // tracked twice since the reset
}

TEST(FlowAllocation, StabiliserCycleAllocatesNothingAfterInit) {
    kvotest::GreyFrame frame(480, 480);
    kvo::ImageDataManager manager;
    manager.init(&frame, nullptr);
    manager.initASM();
    kvo::ShapeMat shape;
    shape.dim(68, 2);
    for (int i = 0; i < 68; ++i) {
        shape.data[i][0] = 80.0 * std::cos(i * 0.4);
        shape.data[i][1] = 90.0 * std::sin(i * 0.3);
    }
    kvo::ASMStabilizerExtension stab(manager, shape);
    stab.init();
    kvotest::Texture tex(4);
    kvo::Matrix identity;
    tex.render(frame.pixels, 480, 480, 0, 0);
    manager.updateASMPyramid(identity);
    tex.render(frame.pixels, 480, 480, 0.5, 1.0);
    manager.updateASMPyramid(identity);
    stab.opticalFlow.update(stab.prepareOpticalFlowContraint(), stab.pointStates);  // lists grow
    stab.calcOpticalFlowContraint();

    const long before = kvotest::allocationCount();
    for (int cycle = 0; cycle < 3; ++cycle) {
        stab.opticalFlow.update(stab.prepareOpticalFlowContraint(), stab.pointStates);
        stab.calcOpticalFlowContraint();
    }
    EXPECT_EQ(kvotest::allocationCount(), before);
}

}  // namespace
