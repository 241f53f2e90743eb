// Behaviour of the optical-flow tracker: window choice, set-up, the validity filter,
// the worker split, lost points and the final bounds test.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <limits>

#include "FlowRig.h"
#include "flow/OpticalFlow.h"
#include "util/ParkedWorkers.h"

namespace {

using kvo::OpticalFlow;
using kvo::PointPtr;
using kvotest::makePoints;
using kvotest::ManagerRig;

TEST(OpticalFlowWindow, PatchSizeIsOddAndWithinElevenToFortyOne) {
    ManagerRig rig(64, 64);
    OpticalFlow flow(rig.manager);
    const int cases[][2] = {{8, 11}, {12, 11}, {21, 21}, {22, 21}, {50, 41}, {41, 41},
                            {11, 11}, {10, 11}, {17, 17}, {-3, 11}, {42, 41}};
    for (const auto& c : cases) {
        flow.patchSize(c[0]);
        EXPECT_EQ(flow.windowSize, c[1]) << "patchSize(" << c[0] << ")";
        EXPECT_EQ(flow.halfWindow, c[1] >> 1);
        EXPECT_EQ(flow.windowArea, c[1] * c[1]);
    }
}

TEST(OpticalFlowSetup, ConstructorAndInitValues) {
    ManagerRig rig(100, 80, kvo::Rectangle(10.7, 4.2, 60, 50));
    OpticalFlow flow(rig.manager);
    EXPECT_EQ(flow.manager, &rig.manager);
    EXPECT_EQ(flow.numThreads, 2u);
    EXPECT_EQ(flow.threadingThreshold, 32);
    EXPECT_EQ(flow.levels, 4);
    EXPECT_EQ(flow.iterations, 25u);
    EXPECT_DOUBLE_EQ(flow.epsilon, 0.0006);
    EXPECT_FALSE(flow.useASMPyramid);
    EXPECT_TRUE(flow.checkPointsValidBeforeTracking);
    EXPECT_EQ(flow.lastPointCount, 0u);

    flow.patchSize(15);
    flow.init();
    EXPECT_EQ(flow.windowSize, 41);
    EXPECT_EQ(flow.halfWindow, 20);
    EXPECT_EQ(flow.windowArea, 1681);
    ASSERT_EQ(flow.workerPointsIn.size(), 2u);
    ASSERT_EQ(flow.threadArgs.size(), 2u);
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(flow.workerPatchPrevious[t].size(), 43u * 43u);
        EXPECT_EQ(flow.workerDerivX[t].size(), 41u * 41u);
        EXPECT_EQ(flow.workerRowBuffer[t].size(), 43u);
        EXPECT_EQ(flow.threadArgs[t].threadIndex, t);
    }
    EXPECT_DOUBLE_EQ(flow.validRegion.x, 15.7);
    EXPECT_DOUBLE_EQ(flow.validRegion.y, 9.2);
    EXPECT_DOUBLE_EQ(flow.validRegion.width, 50.0);
    EXPECT_DOUBLE_EQ(flow.validRegion.height, 40.0);
}

TEST(OpticalFlowUpdate, BeforeInitReportsAndTracksNothing) {
    ManagerRig rig(64, 64);
    OpticalFlow flow(rig.manager);
    auto pts = makePoints({{30, 30}});
    std::vector<bool> states;
    EXPECT_EQ(flow.update(pts, states), 0);
    EXPECT_DOUBLE_EQ(pts[0]->x, 30.0);
}

TEST(OpticalFlowUpdate, EmptyListClearsStates) {
    ManagerRig rig(64, 64);
    rig.fill(100, 100);
    OpticalFlow flow(rig.manager);
    flow.init();
    std::vector<PointPtr> pts;
    std::vector<bool> states(3, true);
    EXPECT_EQ(flow.update(pts, states), 0);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(flow.lastPointCount, 0u);
}

// The ROI origin is the unset point: relative (0, 0) is lost whatever the images hold.
TEST(OpticalFlowLostPoints, PointAtRoiOriginIsLost) {
    ManagerRig rig(120, 100, kvo::Rectangle(20.9, 10.2, 80, 80));
    rig.fill(90, 90);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.checkPointsValidBeforeTracking = false;
    auto pts = makePoints({{20.0, 10.0}, {60.0, 50.0}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 2);
    EXPECT_FALSE(states[0]);
    EXPECT_DOUBLE_EQ(pts[0]->x, 20.0);
    EXPECT_DOUBLE_EQ(pts[0]->y, 10.0);
    EXPECT_TRUE(states[1]);
}

TEST(OpticalFlowLostPoints, NonFinitePointsAreLostAndKeptAsGiven) {
    ManagerRig rig(96, 96);
    kvotest::Texture tex;
    std::vector<uint8_t> a, b;
    tex.render(a, 96, 96, 0, 0);
    tex.render(b, 96, 96, 1, 1);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.checkPointsValidBeforeTracking = false;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto pts = makePoints({{nan, 40.0}, {40.0, inf}, {-inf, nan}, {1e300, 40.0}, {48.0, 48.0}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 5);
    EXPECT_FALSE(states[0]);
    EXPECT_FALSE(states[1]);
    EXPECT_FALSE(states[2]);
    EXPECT_FALSE(states[3]);
    EXPECT_TRUE(std::isnan(pts[0]->x));
    EXPECT_TRUE(std::isinf(pts[1]->y));
    EXPECT_DOUBLE_EQ(pts[3]->x, 1e300);
    EXPECT_TRUE(states[4]);
    EXPECT_NEAR(pts[4]->x, 49.0, 0.1);
    EXPECT_NEAR(pts[4]->y, 49.0, 0.1);

    // The validity filter drops them before tracking.
    flow.checkPointsValidBeforeTracking = true;
    auto again = makePoints({{nan, 40.0}, {48.0, 48.0}});
    std::vector<bool> s2;
    flow.lastPointCount = 0;
    ASSERT_EQ(flow.update(again, s2), 1);
    EXPECT_TRUE(s2[0]);
    EXPECT_NEAR(again[0]->x, 49.0, 0.1);
}

TEST(OpticalFlowFilter, PointsOutsideValidRegionAreDroppedOnlyWhenChecking) {
    ManagerRig rig(80, 80);
    rig.fill(70, 70);
    OpticalFlow flow(rig.manager);
    flow.init();  // valid region (5, 5, 70, 70), edges included
    auto a = std::make_shared<kvo::Point>(4.9, 40.0);
    auto b = std::make_shared<kvo::Point>(5.0, 40.0);
    auto c = std::make_shared<kvo::Point>(40.0, 75.0);
    auto d = std::make_shared<kvo::Point>(40.0, 75.1);
    std::vector<PointPtr> pts{a, b, c, d};
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 2);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0], b);
    EXPECT_EQ(pts[1], c);
    EXPECT_EQ(states.size(), 2u);

    flow.checkPointsValidBeforeTracking = false;
    std::vector<PointPtr> all{a, b, c, d};
    std::vector<bool> s2;
    ASSERT_EQ(flow.update(all, s2), 4);
    EXPECT_EQ(all.size(), 4u);
    EXPECT_TRUE(s2[0]);  // textureless: stays where it was, inside the image
    EXPECT_DOUBLE_EQ(a->x, 4.9);
}

TEST(OpticalFlowFilter, LostPointsAreDroppedAfterTheFirstTrackedFrame) {
    ManagerRig rig(80, 80);
    rig.fill(70, 70);
    OpticalFlow flow(rig.manager);
    flow.init();
    auto pts = makePoints({{20, 20}, {30, 30}, {40, 40}});
    std::vector<bool> states{true, false, true};
    // First frame: lastPointCount is 0, so the states are not consulted.
    ASSERT_EQ(flow.update(pts, states), 3);
    EXPECT_EQ(flow.lastPointCount, 3u);
    states = {true, false, true};
    ASSERT_EQ(flow.update(pts, states), 2);
    EXPECT_DOUBLE_EQ(pts[0]->x, 20.0);
    EXPECT_DOUBLE_EQ(pts[1]->x, 40.0);
    // New points appended by the host start valid.
    pts.push_back(std::make_shared<kvo::Point>(50, 50));
    ASSERT_EQ(flow.update(pts, states), 3);
    EXPECT_EQ(states, std::vector<bool>({true, true, true}));
}

class WorkerSplit : public ::testing::TestWithParam<std::pair<int, std::pair<size_t, size_t>>> {};

TEST_P(WorkerSplit, PointsAreSplitIntoContiguousChunks) {
    const int n = GetParam().first;
    ManagerRig rig(200, 200);
    rig.fill(50, 50);
    OpticalFlow flow(rig.manager);
    flow.init();
    std::vector<PointPtr> pts;
    for (int i = 0; i < n; ++i) pts.push_back(std::make_shared<kvo::Point>(20 + 4 * i, 30 + 2 * i));
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), n);
    EXPECT_EQ(flow.workerPointsIn[0].size(), GetParam().second.first);
    EXPECT_EQ(flow.workerPointsIn[1].size(), GetParam().second.second);
    // Every point comes back to its own slot.
    for (int i = 0; i < n; ++i) {
        EXPECT_DOUBLE_EQ(pts[i]->x, 20 + 4 * i);
        EXPECT_DOUBLE_EQ(pts[i]->y, 30 + 2 * i);
        EXPECT_TRUE(states[i]);
    }
    if (GetParam().second.second > 0) {
        EXPECT_DOUBLE_EQ(flow.workerPointsIn[1][0]->x, 20 + 4 * (n / 2));
    }
}

INSTANTIATE_TEST_SUITE_P(OpticalFlow, WorkerSplit,
                         ::testing::Values(std::make_pair(31, std::make_pair(size_t{31}, size_t{0})),
                                           std::make_pair(32, std::make_pair(size_t{16}, size_t{16})),
                                           std::make_pair(33, std::make_pair(size_t{16}, size_t{17}))));

TEST(OpticalFlowTracking, TexturelessPatchStaysAndStaysValid) {
    ManagerRig rig(120, 90);
    rig.fill(128, 128);
    OpticalFlow flow(rig.manager);
    flow.init();
    auto pts = makePoints({{60.3, 45.7}, {10.25, 80.5}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 2);
    EXPECT_EQ(pts[0]->x, 60.3);
    EXPECT_EQ(pts[0]->y, 45.7);
    EXPECT_EQ(pts[1]->x, 10.25);
    EXPECT_EQ(pts[1]->y, 80.5);
    EXPECT_TRUE(states[0]);
    EXPECT_TRUE(states[1]);
}

// The final bounds test counts the image edges as inside.
TEST(OpticalFlowTracking, BoundsTestAtTheRightAndBottomEdges) {
    ManagerRig rig(100, 80);
    rig.fill(60, 60);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.checkPointsValidBeforeTracking = false;
    auto pts = makePoints({{100.0, 40.0}, {100.5, 40.0}, {50.0, 80.0}, {50.0, 80.5}, {0.0, 5.0}, {-0.5, 5.0}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 6);
    EXPECT_TRUE(states[0]);
    EXPECT_FALSE(states[1]);
    EXPECT_TRUE(states[2]);
    EXPECT_FALSE(states[3]);
    EXPECT_TRUE(states[4]);
    EXPECT_FALSE(states[5]);
    EXPECT_DOUBLE_EQ(pts[0]->x, 100.0);
    EXPECT_DOUBLE_EQ(pts[1]->x, 100.5);
}

// A point far outside the image is lost at a fine level after a coarser level tracked
// it; its position stays in input pixels (not in the coarser level's pixels).
TEST(OpticalFlowTracking, PointLostMidPyramidKeepsItsScale) {
    ManagerRig rig(160, 160);
    rig.fill(80, 80);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    flow.checkPointsValidBeforeTracking = false;
    auto pts = makePoints({{160.0 + 16.0, 60.0}});  // the level-0 window misses the image
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 1);
    EXPECT_FALSE(states[0]);
    EXPECT_DOUBLE_EQ(pts[0]->x, 176.0);
    EXPECT_DOUBLE_EQ(pts[0]->y, 60.0);
}

TEST(OpticalFlowTracking, ImageSmallerThanTheWindowIsReadSafely) {
    ManagerRig rig(20, 14);
    kvotest::Texture tex(3);
    std::vector<uint8_t> a, b;
    tex.render(a, 20, 14, 0, 0);
    tex.render(b, 20, 14, 0.5, 0);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();  // 41 x 41 window on a 20 x 14 image (level 3: 2 x 1)
    flow.checkPointsValidBeforeTracking = false;
    auto pts = makePoints({{10, 7}, {1, 1}, {19, 13}, {0.5, 13.5}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 4);
    for (const PointPtr& p : pts) {
        EXPECT_TRUE(std::isfinite(p->x) && std::isfinite(p->y));
    }
}

TEST(OpticalFlowTracking, InvalidWindowFieldsAreRepaired) {
    ManagerRig rig(64, 64);
    rig.fill(10, 10);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.windowSize = 99;  // beyond the buffers
    auto pts = makePoints({{30, 30}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 1);
    EXPECT_EQ(flow.windowSize, 41);
    EXPECT_EQ(flow.halfWindow, 20);
}

// The same points tracked with their two ranges on the calling thread, or the second on
// a parked worker, end bit for bit in the same places with the same states.
TEST(OpticalFlowWorkers, ParkedWorkerTracksItsRangeAsTheCallingThreadWould) {
    ManagerRig rig(200, 160);
    kvotest::Texture texture(7);
    std::vector<uint8_t> previous, current;
    texture.render(previous, 200, 160, 0.0, 0.0);
    texture.render(current, 200, 160, 1.6, -0.7);
    rig.feed(previous, current);
    std::vector<PointPtr> alone, split;
    for (int i = 0; i < 60; ++i) {
        alone.push_back(std::make_shared<kvo::Point>(30 + 2.3 * i, 40 + 1.1 * i));
        split.push_back(std::make_shared<kvo::Point>(30 + 2.3 * i, 40 + 1.1 * i));
    }
    std::vector<bool> aloneStates, splitStates;
    OpticalFlow flow(rig.manager);
    flow.init();
    ASSERT_EQ(flow.update(alone, aloneStates), 60);  // no workers given: all here

    kvo::ParkedWorkers workers;
    ASSERT_EQ(workers.start(1), 1);
    flow.workers = &workers;
    flow.parallelMinWork = 0;
    ASSERT_EQ(flow.update(split, splitStates), 60);
    EXPECT_EQ(workers.lastParked(), 1);
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(split[i]->x, alone[i]->x) << i;
        EXPECT_EQ(split[i]->y, alone[i]->y) << i;
        EXPECT_EQ(splitStates[i], aloneStates[i]) << i;
    }
    EXPECT_NEAR(split[30]->x, 30 + 2.3 * 30 + 1.6, 0.05);

    // Below the work size the ranges stay on the calling thread.
    kvo::ParkedWorkers quiet;
    ASSERT_EQ(quiet.start(1), 1);
    flow.workers = &quiet;
    flow.parallelMinWork = INT64_MAX;
    std::vector<PointPtr> again;
    for (int i = 0; i < 60; ++i) again.push_back(std::make_shared<kvo::Point>(30 + 2.3 * i, 40 + 1.1 * i));
    ASSERT_EQ(flow.update(again, splitStates), 60);
    EXPECT_EQ(quiet.lastParked(), 0);
    EXPECT_EQ(again[59]->x, alone[59]->x);
}

}  // namespace
