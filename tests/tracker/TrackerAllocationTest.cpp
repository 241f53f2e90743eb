// Once initialised, the tracker's per-frame work must not touch the heap: detection,
// tracking with the stabiliser, the correction and the Candide fit, and point tracking.
// This file replaces the test program's global operator new to count allocations.
#include <gtest/gtest.h>

#include "support/CountingNew.h"

#include <cstdlib>

#include "tracker/TrackerTestSupport.h"


namespace {

long allocationsDuring(kvo::Kestavo& tracker, int frames) {
    const long before = kvotest::allocationCount();
    for (int i = 0; i < frames; ++i) tracker.update();
    return kvotest::allocationCount() - before;
}

TEST(TrackerAllocation, FramesAllocateNothingAfterWarmUp) {
    kvotest::GreyFrame frame(640, 480);
    const auto& face = kvotest::faceFrameBgra();
    if (face.empty()) GTEST_SKIP() << "sample media not installed";
    frame.setFromBgra(face);
    kvo::Kestavo tracker;
    const std::string model = kvo::test::tinyShapeModelJson();
    tracker.init(&frame, nullptr, model.c_str());

    // Face tracking: the warm-up covers detection, the start phase and tracking.
    allocationsDuring(tracker, 10);
    EXPECT_EQ(allocationsDuring(tracker, 10), 0) << "face tracking, last state " << tracker.state;

    tracker.setMode(kvo::KVOMode::FACE_DETECTION);
    allocationsDuring(tracker, 2);
    EXPECT_EQ(allocationsDuring(tracker, 5), 0) << "face detection";

    tracker.setMode(kvo::KVOMode::POINT_TRACKING);
    for (int i = 0; i < 40; ++i) {
        tracker.pointsToTrack.push_back(std::make_shared<kvo::Point>(200 + 5 * i, 150 + 4 * i));
        tracker.pointStates.push_back(true);
    }
    allocationsDuring(tracker, 3);
    EXPECT_EQ(allocationsDuring(tracker, 5), 0) << "point tracking";
}

TEST(TrackerAllocation, RefinedFramesAllocateNothingAfterWarmUp) {
    kvotest::GreyFrame frame(640, 480);
    const auto& face = kvotest::faceFrameBgra();
    if (face.empty()) GTEST_SKIP() << "sample media not installed";
    frame.setFromBgra(face);
    kvo::Kestavo tracker;
    tracker.init(&frame, nullptr);  // the embedded models, the refiner's among them
    ASSERT_TRUE(tracker.asmSearch.refiner.loaded());
    tracker.asmSearch.refineEnabled = true;
    allocationsDuring(tracker, 10);
    ASSERT_EQ(tracker.state, kvo::KVOState::FACE_TRACKING);
    EXPECT_EQ(allocationsDuring(tracker, 10), 0);
    const long before = kvotest::allocationCount();
    tracker.updateByEyes(std::make_shared<kvo::Point>(290, 200), std::make_shared<kvo::Point>(350, 200), 5);
    // The two eye points made above are the only allocations.
    EXPECT_EQ(kvotest::allocationCount() - before, 2);
}

}  // namespace
