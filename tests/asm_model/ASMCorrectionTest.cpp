#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "asm/ASMCorrectionExtension.h"
#include "asm/FaceLandmarks.h"
#include "support/TinyShapeModel.h"

namespace kvo {
namespace {

const int kLifted[] = {27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 41, 46, 47};

bool isLifted(int i) {
    for (int k : kLifted) {
        if (k == i) return true;
    }
    return false;
}

class CorrectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto pts = test::tinyMeanShape();
        shape.dim(static_cast<int>(pts.size()), 2);
        for (size_t i = 0; i < pts.size(); ++i) {
            shape.data[i][0] = pts[i].first;
            shape.data[i][1] = pts[i].second;
        }
        before.copyFrom(shape);
    }
    double& x(int i) { return shape.data[i][0]; }
    double& y(int i) { return shape.data[i][1]; }

    ShapeMat shape;
    ShapeMat before;
    ASMCorrectionExtension correction{shape};
};

TEST_F(CorrectionTest, PlausibleShapeOnlyMovesTheLiftedLandmarks) {
    correction.update();
    for (int i = 0; i < 68; ++i) {
        EXPECT_NEAR(before.data[i][0], shape.data[i][0], 1e-9) << "landmark " << i;
        EXPECT_NEAR(before.data[i][1] + (isLifted(i) ? 1.0 : 0.0), shape.data[i][1], 1e-9)
            << "landmark " << i;
    }
}

TEST_F(CorrectionTest, LiftedLipPointFeedsTheNextRule) {
    y(57) = -40.0;
    y(58) = -50.0;
    y(59) = -49.8;
    y(48) = -60.0;
    correction.update();
    EXPECT_DOUBLE_EQ(-39.5, y(58));
    // Compared with the lifted 58, not its old value: -39.5 + 0.5.
    EXPECT_DOUBLE_EQ(-39.0, y(59));
    // The left mouth corner then goes 1.0 above the lifted 59.
    EXPECT_DOUBLE_EQ(-38.0, y(48));
}

TEST_F(CorrectionTest, OrderRuleLeavesSatisfiedPointsAlone) {
    y(58) = y(57) + 0.75;
    const double y58 = y(58);
    correction.update();
    EXPECT_DOUBLE_EQ(y58, y(58));
}

TEST_F(CorrectionTest, JawSidesArePushedOutsideTheEyes) {
    x(1) = x(29) - 10.0;
    x(13) = x(34) + 5.0;
    x(5) = x(29) + 40.0;
    x(9) = x(34) - 40.0;
    const double eyeL = x(29), eyeR = x(34);
    correction.update();
    EXPECT_DOUBLE_EQ(eyeL - 18.0, x(1));
    EXPECT_DOUBLE_EQ(eyeR + 18.0, x(13));
    EXPECT_DOUBLE_EQ(eyeL + 27.0, x(5));
    EXPECT_DOUBLE_EQ(eyeR - 27.0, x(9));
}

TEST_F(CorrectionTest, EyebrowsAreKeptAboveTheEyes) {
    y(21) = y(28);          // needs 3 above the eye top
    y(26) = y(28) + 1.0;    // needs 5 above
    y(22) = y(26) + 2.0;    // needs 5 above the (lifted) 26
    y(17) = y(33) - 10.0;   // needs 5 above 19
    const double top = y(28);
    correction.update();
    EXPECT_DOUBLE_EQ(top + 3.0, y(21));
    EXPECT_DOUBLE_EQ(top + 5.0, y(26));
    EXPECT_DOUBLE_EQ(top + 10.0, y(22));
    EXPECT_DOUBLE_EQ(y(19) + 5.0, y(17));
}

TEST_F(CorrectionTest, JawEndRatioIsClampedToItsUpperLimit) {
    const double rx = x(29), ry = y(29), qx = x(27), qy = y(27);
    // |P - R| = 3 |Q - R|, off the ray.
    const double len = std::hypot(qx - rx, qy - ry);
    x(0) = rx + 3.0 * len * std::cos(2.0);
    y(0) = ry + 3.0 * len * std::sin(2.0);
    correction.update();
    EXPECT_NEAR(rx + 2.3 * (qx - rx), x(0), 1e-9);
    EXPECT_NEAR(ry + 2.3 * (qy - ry), y(0), 1e-9);
}

TEST_F(CorrectionTest, JawEndRatioIsClampedToItsLowerLimit) {
    const double rx = x(34), ry = y(34), qx = x(32), qy = y(32);
    x(14) = rx + 0.5 * (qx - rx);
    y(14) = ry + 0.5 * (qy - ry) + 3.0;
    // |P - R| is now below |Q - R|: t = 1.0 puts 14 onto 32.
    correction.update();
    EXPECT_NEAR(qx, x(14), 1e-9);
    EXPECT_NEAR(qy, y(14), 1e-9);
}

TEST_F(CorrectionTest, RatioInsideTheLimitsKeepsTheDistanceAndTakesTheRayDirection) {
    // Chin: 7 on the ray from 41 through 57, ratio kept when >= 0.5.
    const double rx = x(41), ry = y(41), qx = x(57), qy = y(57);
    const double len = std::hypot(qx - rx, qy - ry);
    x(7) = rx + 10.0;
    y(7) = ry - 1.5 * len;
    const double u = std::hypot(x(7) - rx, y(7) - ry) / len;
    correction.update();
    EXPECT_NEAR(rx + u * (qx - rx), x(7), 1e-9);
    EXPECT_NEAR(ry + u * (qy - ry), y(7), 1e-9);
}

TEST_F(CorrectionTest, LowerJawUsesTheMouthAndNoseBaseLines) {
    // 3 close to the right mouth corner: pushed to 1.33 times the corner distance.
    x(3) = x(54) - 1.0;
    y(3) = y(54);
    // 12 close to the left nose base: pushed to 1.66 times the base width (a wide
    // base, so that the result also lies outside the right eye's jaw limit).
    x(40) = -30.0;
    x(42) = 30.0;
    x(12) = x(40) + 2.0;
    y(12) = y(40);
    const double r3x = x(54), q3x = x(48), r12x = x(40), q12x = x(42);
    correction.update();
    EXPECT_NEAR(r3x + 1.33 * (q3x - r3x), x(3), 1e-9);
    EXPECT_NEAR(before.data[54][1], y(3), 1e-9);
    EXPECT_NEAR(r12x + 1.66 * (q12x - r12x), x(12), 1e-9);
}

TEST_F(CorrectionTest, CoincidingReferencePointsLeaveThePointUnchanged) {
    x(27) = x(29);
    y(27) = y(29);
    const double px = x(0) + 7.0, py = y(0) - 3.0;
    x(0) = px;
    y(0) = py;
    correction.update();
    EXPECT_DOUBLE_EQ(px, x(0));
    EXPECT_DOUBLE_EQ(py, y(0));
}

TEST_F(CorrectionTest, NoNotANumberComesOutOfFiniteOrDegenerateInput) {
    x(27) = x(29);
    y(27) = y(29);  // degenerate jaw-end rule
    x(41) = x(57);
    y(41) = y(57);  // degenerate chin rule
    x(48) = x(54);
    y(48) = y(54);  // degenerate lower-jaw rules
    correction.update();
    for (int i = 0; i < 68; ++i) {
        EXPECT_TRUE(std::isfinite(x(i)) && std::isfinite(y(i))) << "landmark " << i;
    }
}

TEST_F(CorrectionTest, NotANumberInAMovedPointIsReplacedByAFinitePosition) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    x(0) = nan;
    y(0) = nan;
    const double rx = x(29), ry = y(29), qx = x(27), qy = y(27);
    correction.update();
    EXPECT_NEAR(rx + 2.3 * (qx - rx), x(0), 1e-9);
    EXPECT_NEAR(ry + 2.3 * (qy - ry), y(0), 1e-9);
}

TEST_F(CorrectionTest, OrderRuleAgainstNotANumberChangesNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    y(28) = nan;  // target of the brow rules is not a number
    y(21) = y(33) - 50.0;
    const double y21 = y(21);
    correction.update();
    EXPECT_DOUBLE_EQ(y21, y(21));
}

TEST_F(CorrectionTest, RulesAreMirrorSymmetric) {
    FaceLandmarks::gLandTab.clear();
    FaceLandmarks::gLand76Tab.clear();
    FaceLandmarks::initGLandTab();
    // Perturb the face, then mirror it: x -> -x and landmark -> partner.
    unsigned seed = 12345u;
    auto noise = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 16) % 2001) / 100.0 - 10.0;  // -10 ... 10
    };
    for (int i = 0; i < 68; ++i) {
        x(i) += noise();
        y(i) += noise();
    }
    ShapeMat mirrored;
    mirrored.dim(68, 2);
    for (int i = 0; i < 68; ++i) {
        const int p = FaceLandmarks::gLandTab[i]->partner;
        const int j = p < 0 ? i : p;
        mirrored.data[j][0] = -x(i);
        mirrored.data[j][1] = y(i);
    }
    ASMCorrectionExtension mirroredCorrection(mirrored);
    correction.update();
    mirroredCorrection.update();
    for (int i = 0; i < 68; ++i) {
        const int p = FaceLandmarks::gLandTab[i]->partner;
        const int j = p < 0 ? i : p;
        EXPECT_NEAR(-x(i), mirrored.data[j][0], 1e-9) << "landmark " << i;
        EXPECT_NEAR(y(i), mirrored.data[j][1], 1e-9) << "landmark " << i;
    }
    FaceLandmarks::gLandTab.clear();
    FaceLandmarks::gLand76Tab.clear();
}

TEST(CorrectionInputTest, ShapeWithTooFewLandmarksIsReportedAndUntouched) {
    ShapeMat small;
    small.dim(40, 2);
    small.data[3][0] = 5.0;
    ASMCorrectionExtension correction(small);
    testing::internal::CaptureStdout();
    correction.update();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find("Error: "));
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n'));
    EXPECT_EQ(5.0, small.data[3][0]);
    EXPECT_EQ(0.0, small.data[27][1]);
}

TEST(CorrectionInputTest, OnlyTheFirst68LandmarksOfALargerShapeAreTouched) {
    ShapeMat big;
    big.dim(76, 2);
    for (int i = 68; i < 76; ++i) big.data[i][1] = 3.0;
    ASMCorrectionExtension correction(big);
    correction.update();
    for (int i = 68; i < 76; ++i) EXPECT_EQ(3.0, big.data[i][1]);
    EXPECT_EQ(1.0, big.data[27][1]);
}

}  // namespace
}  // namespace kvo
