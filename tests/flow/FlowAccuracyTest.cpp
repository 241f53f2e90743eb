// Tracking accuracy on synthetic textured frames shifted by known translations, with
// and without an ROI offset, and near the frame edge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "FlowRig.h"
#include "flow/OpticalFlow.h"

namespace {

using kvo::OpticalFlow;
using kvo::PointPtr;
using kvotest::ManagerRig;
using kvotest::Texture;

struct Shift {
    double tx, ty;
    int window;
};

class TranslationAccuracy : public ::testing::TestWithParam<Shift> {};

// Pure translation: the median error over a grid of points is at most 0.05 pixel.
TEST_P(TranslationAccuracy, MedianErrorWithinFiveHundredthsOfAPixel) {
    const Shift sh = GetParam();
    const int w = 320, h = 240;
    ManagerRig rig(w, h);
    Texture tex(7);
    std::vector<uint8_t> a, b;
    tex.render(a, w, h, 0, 0);
    tex.render(b, w, h, sh.tx, sh.ty);
    rig.feed(a, b);

    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(sh.window);
    std::vector<PointPtr> pts;
    std::vector<std::pair<double, double>> start;
    for (double y = 40.3; y < h - 40; y += 16) {
        for (double x = 40.6; x < w - 40; x += 16) {
            pts.push_back(std::make_shared<kvo::Point>(x, y));
            start.emplace_back(x, y);
        }
    }
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), static_cast<int>(start.size()));
    std::vector<double> errors;
    int valid = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        if (!states[i]) continue;
        ++valid;
        errors.push_back(std::hypot(pts[i]->x - (start[i].first + sh.tx), pts[i]->y - (start[i].second + sh.ty)));
    }
    EXPECT_EQ(valid, static_cast<int>(pts.size()));
    const double med = kvotest::median(errors);
    EXPECT_LE(med, 0.05) << "shift (" << sh.tx << ", " << sh.ty << "), window " << sh.window;
    std::printf("shift (%.2f, %.2f) window %d: median error %.4f px over %d points\n", sh.tx, sh.ty,
                sh.window, med, valid);
}

INSTANTIATE_TEST_SUITE_P(OpticalFlow, TranslationAccuracy,
                         ::testing::Values(Shift{0.3, -0.2, 21}, Shift{0.5, 0.5, 21}, Shift{1.7, 2.4, 21},
                                           Shift{-6.5, 4.25, 21}, Shift{12.3, -9.6, 21}, Shift{0.3, -0.2, 41},
                                           Shift{-3.75, 7.1, 41}, Shift{2.2, -1.4, 11}, Shift{0.0, 0.0, 21}));

// One level only: the guess starts at the previous position and a small shift is found.
TEST(OpticalFlowAccuracy, SingleLevelTracksASmallShift) {
    const int w = 200, h = 160;
    ManagerRig rig(w, h);
    Texture tex(11);
    std::vector<uint8_t> a, b;
    tex.render(a, w, h, 0, 0);
    tex.render(b, w, h, 1.5, -0.75);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    flow.levels = 1;
    auto pts = kvotest::makePoints({{100.2, 80.4}, {60.0, 50.0}, {140.5, 110.5}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 3);
    EXPECT_NEAR(pts[0]->x, 101.7, 0.08);
    EXPECT_NEAR(pts[0]->y, 79.65, 0.08);
    EXPECT_NEAR(pts[2]->x, 142.0, 0.08);
    EXPECT_NEAR(pts[2]->y, 109.75, 0.08);
}

// Points are given in input pixels; tracking happens relative to the ROI's truncated
// origin and the result comes back in input pixels.
TEST(OpticalFlowAccuracy, RoiOffsetIsAppliedBothWays) {
    const int w = 260, h = 200;
    ManagerRig rig(w, h, kvo::Rectangle(17.6, 9.3, 200, 160));
    Texture tex(5);
    std::vector<uint8_t> a, b;
    tex.render(a, w, h, 0, 0);
    tex.render(b, w, h, 2.25, 1.5);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    auto pts = kvotest::makePoints({{110.0, 90.0}, {60.5, 70.25}, {170.0, 130.0}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 3);
    EXPECT_NEAR(pts[0]->x, 112.25, 0.08);
    EXPECT_NEAR(pts[0]->y, 91.5, 0.08);
    EXPECT_NEAR(pts[1]->x, 62.75, 0.08);
    EXPECT_NEAR(pts[1]->y, 71.75, 0.08);
    EXPECT_NEAR(pts[2]->x, 172.25, 0.08);
    EXPECT_NEAR(pts[2]->y, 131.5, 0.08);
}

// Points moving towards and past the right edge: the current window is clipped by the
// border; points that stay inside are still found, points that leave are lost.
TEST(OpticalFlowAccuracy, PointsMovingOffTheRightEdge) {
    const int w = 240, h = 160;
    ManagerRig rig(w, h);
    Texture tex(9);
    std::vector<uint8_t> a, b;
    const double tx = 5.0, ty = 0.4;
    tex.render(a, w, h, 0, 0);
    tex.render(b, w, h, tx, ty);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    flow.checkPointsValidBeforeTracking = false;
    std::vector<double> xs;
    for (double x = w - 20.0; x <= w - 0.5; x += 1.5) xs.push_back(x);
    std::vector<PointPtr> pts;
    for (double x : xs) pts.push_back(std::make_shared<kvo::Point>(x, 80.0));
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), static_cast<int>(xs.size()));
    int outside = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
        const double truth = xs[i] + tx;
        // Clipped windows still pair every pixel at its offset from the point, so the
        // match stays accurate up to and past the edge ...
        EXPECT_NEAR(pts[i]->x, truth, 0.06) << "x " << xs[i];
        EXPECT_NEAR(pts[i]->y, 80.0 + ty, 0.06) << "x " << xs[i];
        // ... and the bounds test decides the state.
        EXPECT_EQ(states[i], pts[i]->x <= w) << "x " << xs[i];
        if (truth > w + 0.1) ++outside;
    }
    EXPECT_GE(outside, 2);
}

// The same at the top-left corner, moving up and left.
TEST(OpticalFlowAccuracy, PointsMovingOffTheTopLeftCorner) {
    const int w = 200, h = 160;
    ManagerRig rig(w, h);
    Texture tex(13);
    std::vector<uint8_t> a, b;
    tex.render(a, w, h, 0, 0);
    tex.render(b, w, h, -3.0, -2.5);
    rig.feed(a, b);
    OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    flow.checkPointsValidBeforeTracking = false;
    auto pts = kvotest::makePoints({{14.0, 40.0}, {40.0, 12.0}, {12.5, 12.5}, {1.0, 60.0}});
    std::vector<bool> states;
    ASSERT_EQ(flow.update(pts, states), 4);
    const double truth[4][2] = {{11.0, 37.5}, {37.0, 9.5}, {9.5, 10.0}, {-2.0, 57.5}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(pts[k]->x, truth[k][0], 0.06) << "point " << k;
        EXPECT_NEAR(pts[k]->y, truth[k][1], 0.06) << "point " << k;
    }
    EXPECT_TRUE(states[0] && states[1] && states[2]);
    EXPECT_FALSE(states[3]);  // its match left the image
}

}  // namespace
