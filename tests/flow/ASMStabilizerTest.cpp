// The shape stabiliser: set-up, the prediction input, the motion statistics with their
// outlier rule, and one full predict cycle on the shape-search pyramid.
#include <gtest/gtest.h>

#include <cmath>

#include "FlowRig.h"
#include "flow/ASMStabilizerExtension.h"
#include "math/Matrix.h"
#include "math/ShapeMat.h"

namespace {

using kvo::ASMStabilizerExtension;

double expectedFactor(int i) {
    if (i >= 27 && i <= 36) return 2.0;
    if (i == 49 || i == 53) return 1.25;
    if (i == 50 || i == 52 || i == 56 || i == 58) return 1.5;
    if (i == 51 || i == 57) return 2.0;
    return 1.0;
}

class Stabilizer : public ::testing::Test {
protected:
    Stabilizer() : rig(300, 200, kvo::Rectangle(12.8, 7.4, 260, 180)), stabilizer(rig.manager, shape) {
        rig.manager.initASM();
        shape.dim(68, 2);
        // 17 landmarks in each quadrant of the centred, y-up frame, none on an axis.
        for (int i = 0; i < 68; ++i) {
            const int q = i % 4;
            const double r = 10.0 + i;
            shape.data[i][0] = (q == 1 || q == 3) ? r : -r;
            shape.data[i][1] = (q >= 2) ? 0.5 * r : -0.5 * r;
        }
        original.copyFrom(shape);
        stabilizer.init();
    }

    // Simulates the optical flow: moves landmark i's tracked point by (dx, dy) pixels
    // (frame pixels, y down).
    void move(int i, double dx, double dy) {
        stabilizer.trackedPoints[i]->x += dx;
        stabilizer.trackedPoints[i]->y += dy;
    }

    kvotest::ManagerRig rig;
    kvo::ShapeMat shape;
    kvo::ShapeMat original;
    ASMStabilizerExtension stabilizer;
};

TEST_F(Stabilizer, InitSetsTablesRecordsAndItsOpticalFlow) {
    ASSERT_EQ(stabilizer.points.size(), 68u);
    ASSERT_EQ(stabilizer.trackedPoints.size(), 68u);
    ASSERT_EQ(stabilizer.sortedPoints.size(), 68u);
    for (int i = 0; i < 68; ++i) {
        EXPECT_EQ(stabilizer.landmarkIndices[i], i);
        EXPECT_EQ(stabilizer.points[i]->index, i);
        EXPECT_EQ(stabilizer.trackedPoints[i], stabilizer.points[i]->tracked);
        EXPECT_EQ(stabilizer.factors[i], expectedFactor(i)) << i;
        EXPECT_EQ(stabilizer.weights[i], 0.35);
    }
    const kvo::OpticalFlow& f = stabilizer.opticalFlow;
    EXPECT_EQ(f.windowSize, 17);
    EXPECT_EQ(f.halfWindow, 8);
    EXPECT_EQ(f.levels, 4);
    EXPECT_EQ(f.iterations, 15u);
    EXPECT_DOUBLE_EQ(f.epsilon, 0.006);
    EXPECT_TRUE(f.useASMPyramid);
    EXPECT_FALSE(f.checkPointsValidBeforeTracking);
}

TEST_F(Stabilizer, PrepareMapsShapeToFramePixelsPlusRoiOrigin) {
    std::vector<kvo::PointPtr>& tracked = stabilizer.prepareOpticalFlowContraint();
    EXPECT_EQ(&tracked, &stabilizer.trackedPoints);
    for (int i = 0; i < 68; ++i) {
        const kvo::ASMStabilizerPoint& p = *stabilizer.points[i];
        EXPECT_DOUBLE_EQ(p.previous->x, shape.data[i][0] + 240.0);
        EXPECT_DOUBLE_EQ(p.previous->y, 240.0 - shape.data[i][1]);
        EXPECT_DOUBLE_EQ(p.tracked->x, p.previous->x + 12.0);
        EXPECT_DOUBLE_EQ(p.tracked->y, p.previous->y + 7.0);
    }
}

TEST_F(Stabilizer, AllStill) {
    stabilizer.prepareOpticalFlowContraint();
    EXPECT_TRUE(stabilizer.calcOpticalFlowContraint());
    for (int i = 0; i < 68; ++i) {
        EXPECT_DOUBLE_EQ(shape.data[i][0], original.data[i][0]);
        EXPECT_DOUBLE_EQ(shape.data[i][1], original.data[i][1]);
        EXPECT_DOUBLE_EQ(stabilizer.weights[i], 0.1 * expectedFactor(i)) << i;
        // Equal motions keep landmark order.
        EXPECT_EQ(stabilizer.sortedPoints[i]->index, i);
    }
}

TEST_F(Stabilizer, AllShiftedByThree) {
    stabilizer.prepareOpticalFlowContraint();
    for (int i = 0; i < 68; ++i) move(i, 3.0, 0.0);
    EXPECT_TRUE(stabilizer.calcOpticalFlowContraint());
    for (int i = 0; i < 68; ++i) {
        EXPECT_DOUBLE_EQ(stabilizer.points[i]->distanceSquared, 9.0);
        EXPECT_DOUBLE_EQ(shape.data[i][0], original.data[i][0] + 3.0);
        EXPECT_DOUBLE_EQ(shape.data[i][1], original.data[i][1]);
        EXPECT_NEAR(stabilizer.weights[i], std::min(1.0, 0.325 * expectedFactor(i)), 1e-12) << i;
    }
    EXPECT_NEAR(stabilizer.weights[30], 0.65, 1e-12);
}

TEST_F(Stabilizer, AllShiftedByFiveIsTooMuchMotion) {
    stabilizer.prepareOpticalFlowContraint();
    for (int i = 0; i < 68; ++i) move(i, 0.0, -5.0);  // up in the frame
    EXPECT_FALSE(stabilizer.calcOpticalFlowContraint());
    for (int i = 0; i < 68; ++i) {
        EXPECT_DOUBLE_EQ(shape.data[i][1], original.data[i][1] + 5.0);  // y up in the shape
        EXPECT_DOUBLE_EQ(stabilizer.weights[i], std::min(1.0, 0.5 * expectedFactor(i)));
    }
}

TEST_F(Stabilizer, FarLandmarkFollowsTheFlowWhenAllOthersAreStill) {
    stabilizer.prepareOpticalFlowContraint();
    move(40, 30.0, -40.0);
    EXPECT_TRUE(stabilizer.calcOpticalFlowContraint());
    EXPECT_DOUBLE_EQ(shape.data[40][0], original.data[40][0] + 30.0);
    EXPECT_DOUBLE_EQ(shape.data[40][1], original.data[40][1] + 40.0);
    EXPECT_DOUBLE_EQ(stabilizer.weights[40], 0.5);
    EXPECT_EQ(stabilizer.sortedPoints.back()->index, 40);
}

TEST_F(Stabilizer, OutlierMovesByItsQuadrantMean) {
    stabilizer.prepareOpticalFlowContraint();
    for (int i = 0; i < 68; ++i) move(i, 0.0, 1.0);  // 1 pixel down: threshold 1
    move(33, 9.0, 0.0);   // distanceSquared 82: an outlier (factor 2)
    move(41, 0.0, 0.4);   // distanceSquared 1.96 < 2: follows the flow
    EXPECT_TRUE(stabilizer.calcOpticalFlowContraint());
    // Landmark 33 is in the lower-right quadrant (i % 4 == 1); that quadrant's mean
    // motion is (0, 1) in frame pixels, i.e. one pixel down, so y drops by 1.
    EXPECT_DOUBLE_EQ(shape.data[33][0], original.data[33][0]);
    EXPECT_DOUBLE_EQ(shape.data[33][1], original.data[33][1] - 1.0);
    EXPECT_DOUBLE_EQ(stabilizer.weights[33], 1.0);
    EXPECT_NEAR(shape.data[41][1], original.data[41][1] - 1.4, 1e-9);
    EXPECT_NEAR(stabilizer.weights[41], 0.0625 * 1.96 * 0.4 + 0.1, 1e-12);
    EXPECT_DOUBLE_EQ(shape.data[0][1], original.data[0][1] - 1.0);
}

TEST_F(Stabilizer, EmptyQuadrantTakesTheSumOfTheOtherMeans) {
    stabilizer.prepareOpticalFlowContraint();
    // The lower-left quadrant (i % 4 == 0) holds 17 landmarks; 11 of them (15 % of 68
    // rounded up) move far, the rest of the shape moves by (1, 0).
    int far = 0;
    for (int i = 0; i < 68; ++i) {
        if (i % 4 == 0 && far < 11) {
            move(i, 0.0, 30.0);
            ++far;
        } else {
            move(i, 1.0, 0.0);
        }
    }
    // Put the remaining lower-left landmarks into other quadrants so the quadrant is
    // empty among the 57 smallest motions.
    for (int i = 44; i < 68; i += 4) shape.data[i][0] = -shape.data[i][0];
    original.copyFrom(shape);
    EXPECT_TRUE(stabilizer.calcOpticalFlowContraint());
    // Means: lower-right, upper-left, upper-right (1, 0) each; lower-left empty, so it
    // gets (3, 0).
    for (int i = 0; i < 44; i += 4) {
        EXPECT_DOUBLE_EQ(shape.data[i][0], original.data[i][0] + 3.0) << i;
        EXPECT_DOUBLE_EQ(shape.data[i][1], original.data[i][1]) << i;
        EXPECT_DOUBLE_EQ(stabilizer.weights[i], std::min(1.0, 0.5 * expectedFactor(i))) << i;
    }
}

TEST_F(Stabilizer, ShapeWithTooFewLandmarksIsRefused) {
    stabilizer.prepareOpticalFlowContraint();
    shape.dim(10, 2);
    EXPECT_FALSE(stabilizer.calcOpticalFlowContraint());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(shape.data[i][0], 0.0);
    // Preparing on the short shape leaves the missing landmarks unset.
    stabilizer.prepareOpticalFlowContraint();
    EXPECT_DOUBLE_EQ(stabilizer.points[50]->tracked->x, 12.0);
    EXPECT_DOUBLE_EQ(stabilizer.points[50]->tracked->y, 7.0);
}

// One full cycle on real pyramid images: the shape-search frame shows a texture that
// moves by (2.5, -1.5) pixels between frames; every landmark follows it.
TEST_F(Stabilizer, PredictsTheShapeMotionOnTheShapeSearchPyramid) {
    kvotest::GreyFrame frame(480, 480);
    kvo::ImageDataManager manager;
    manager.init(&frame, nullptr);
    manager.initASM();
    kvo::ShapeMat s;
    s.copyFrom(original);
    ASMStabilizerExtension stab(manager, s);
    stab.init();
    kvotest::Texture tex(21);
    kvo::Matrix identity;
    tex.render(frame.pixels, 480, 480, 0, 0);
    manager.updateASMPyramid(identity);
    tex.render(frame.pixels, 480, 480, 2.5, -1.5);
    manager.updateASMPyramid(identity);

    stab.opticalFlow.update(stab.prepareOpticalFlowContraint(), stab.pointStates);
    EXPECT_TRUE(stab.calcOpticalFlowContraint());
    std::vector<double> errors;
    for (int i = 0; i < 68; ++i) {
        errors.push_back(std::hypot(s.data[i][0] - (original.data[i][0] + 2.5),
                                    s.data[i][1] - (original.data[i][1] + 1.5)));
    }
    EXPECT_LE(kvotest::median(errors), 0.05);
    EXPECT_LE(*std::max_element(errors.begin(), errors.end()), 0.3);
    EXPECT_EQ(stab.trackedPoints.size(), 68u);
}

}  // namespace
