// The Levenberg-Marquardt pose solver and the error it minimises.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "candide/CandideModel.h"
#include "candide/LevenbergMarquardt.h"

using kvo::CandideModel;
using kvo::CandidePoint;
using kvo::CandidePointPtr;
using kvo::LevenbergMarquardt;

namespace {

CandidePointPtr vertexAt(double X, double Y, double Z, double px, double py) {
    CandidePointPtr v = std::make_shared<CandidePoint>();
    v->transformed[0] = X;
    v->transformed[1] = Y;
    v->transformed[2] = Z;
    v->point = std::make_shared<kvo::Point>(px, py);
    return v;
}

const double kIdentity[6] = {1, 0, 0, 0, 0, 0};

}  // namespace

TEST(PoseError, TargetXIsTruncatedTowardZero) {
    std::vector<CandidePointPtr> pts{vertexAt(0, 0, 0, 12.9, 2.5)};
    double p[6] = {1, 12, 2.5, 0, 0, 0};
    EXPECT_EQ(CandideModel::poseError(pts, p), 0.0);
    p[1] = 12.9;
    EXPECT_NEAR(CandideModel::poseError(pts, p), 0.81, 1e-12);

    pts[0]->point->x = -3.7;
    p[1] = -3.0;
    EXPECT_EQ(CandideModel::poseError(pts, p), 0.0);
    p[1] = -4.0;
    EXPECT_DOUBLE_EQ(CandideModel::poseError(pts, p), 1.0);
}

TEST(PoseError, UsesScaledRotationOfTheTransformedCoordinates) {
    // Rotation about z by 90 degrees maps (X, Y) to (-Y, X); scale 2; then translate.
    std::vector<CandidePointPtr> pts{vertexAt(3, 1, 5, 0, 0)};
    const double p[6] = {2, 10, 20, 0, 0, M_PI / 2};
    pts[0]->point->x = 2 * -1 + 10;  // 8
    pts[0]->point->y = 2 * 3 + 20;   // 26
    EXPECT_NEAR(CandideModel::poseError(pts, p), 0.0, 1e-20);
    // Rotation about y by 90 degrees maps x to Z (x' = sy * Z).
    const double q[6] = {1, 0, 0, 0, M_PI / 2, 0};
    pts[0]->point->x = 5;
    pts[0]->point->y = 1;
    EXPECT_NEAR(CandideModel::poseError(pts, q), 0.0, 1e-20);
}

TEST(PoseSolver, ExactTargetsEndAfterOneStepWithTheStartParameters) {
    CandideModel m;
    std::vector<CandidePointPtr> pts{vertexAt(-30, 10, 2, -30, 10.25), vertexAt(40, -20, 1, 40, -20.5),
                                     vertexAt(5, 30, -3, 5, 30)};
    for (auto& v : pts) v->point->y = v->transformed[1];
    std::vector<double> pose(kIdentity, kIdentity + 6);
    m.calculateTransformMatrix(pts, pose, 10);
    EXPECT_EQ(pose, std::vector<double>(kIdentity, kIdentity + 6));
    EXPECT_EQ(m.lm.iterations, 1);
    EXPECT_EQ(m.lm.state, LevenbergMarquardt::STATE_DONE);
    EXPECT_EQ(m.lm.error, 0.0);
    EXPECT_EQ(m.lm.lambdaExp, -4);  // accepted once, so divided by ten for the next step
}

TEST(PoseSolver, MaxIterationsOneEndsAfterTheFirstAcceptedStep) {
    CandideModel m;
    std::vector<CandidePointPtr> pts{vertexAt(0, 0, 0, 12, 0)};
    std::vector<double> pose(kIdentity, kIdentity + 6);
    m.calculateTransformMatrix(pts, pose, 1);
    EXPECT_EQ(m.lm.iterations, 1);
    EXPECT_EQ(m.lm.lambdaExp, -3);
    // One Newton step on E = (12 - tx)^2 toward E = 0 halves the distance.
    EXPECT_NEAR(pose[1], 6.0, 1e-3);
    EXPECT_NEAR(m.lm.damped[7] - m.lm.jtj[7], 1e-3, 1e-9);  // lambda of the step, at (tx, tx)
}

TEST(PoseSolver, LambdaFallsTenfoldPerAcceptedStep) {
    CandideModel m;
    std::vector<CandidePointPtr> pts{vertexAt(0, 0, 0, 12, 0)};
    std::vector<double> pose(kIdentity, kIdentity + 6);
    m.calculateTransformMatrix(pts, pose, 3);
    EXPECT_EQ(m.lm.iterations, 3);
    EXPECT_EQ(m.lm.lambdaExp, -5);
    EXPECT_NEAR(m.lm.damped[7] - m.lm.jtj[7], 1e-5, 1e-9);  // third step used 1e-5
    EXPECT_NEAR(pose[1], 12.0 - 12.0 / 8.0, 1e-2);
}

TEST(PoseSolver, RejectedStepsRaiseLambdaTenfoldUntilOneIsAccepted) {
    // Two targets 0 and 10 for one vertex: E(tx) = tx^2 + (10 - tx)^2 has its minimum 50
    // at 5. From tx = 4 (E = 52, dE/dtx = -4) the undamped step aims for E = 0 and
    // lands at 17; only steps of at most 2 are accepted, which needs lambda >= 88.
    CandideModel m;
    std::vector<CandidePointPtr> pts{vertexAt(0, 0, 0, 0, 0), vertexAt(0, 0, 0, 10, 0)};
    std::vector<double> pose{1, 4, 0, 0, 0, 0};
    m.calculateTransformMatrix(pts, pose, 1);
    EXPECT_EQ(m.lm.iterations, 1);
    EXPECT_EQ(m.lm.lambdaExp, 2);
    EXPECT_NEAR(m.lm.damped[7] - m.lm.jtj[7], 100.0, 1e-9);
    const double d = -4.0, e = 52.0;
    EXPECT_NEAR(pose[1], 4.0 - d * e / (d * d + 100.0), 1e-3);
    EXPECT_LT(m.lm.error, 52.0);
}

TEST(PoseSolver, RepeatedFitsNeverRaiseTheErrorAndRecoverScaleAndRotation) {
    // Twelve non-coplanar vertices, centred as the shape fit centres them, moved by a
    // known scale and rotation. One residual (the total error) makes each fit a damped
    // Newton step toward zero error, so it takes several fits to settle.
    const double truth[6] = {1.2, 0.0, 0.0, 0.08, -0.12, 0.05};
    std::vector<CandidePointPtr> pts;
    for (int i = 0; i < 12; ++i) {
        const double X = 60.0 * std::cos(i * 0.52), Y = 70.0 * std::sin(i * 0.52), Z = 20.0 * ((i % 3) - 1);
        pts.push_back(vertexAt(X, Y, Z, 0, 0));
        const double s = truth[0];
        const double cx = std::cos(truth[3]), sx = std::sin(truth[3]);
        const double cy = std::cos(truth[4]), sy = std::sin(truth[4]);
        const double cz = std::cos(truth[5]), sz = std::sin(truth[5]);
        pts.back()->point->x = s * (cy * cz * X - cy * sz * Y + sy * Z) + truth[1];
        pts.back()->point->y = s * ((sx * sy * cz + cx * sz) * X + (cx * cz - sx * sy * sz) * Y - sx * cy * Z) + truth[2];
    }
    std::vector<double> pose(kIdentity, kIdentity + 6);
    CandideModel m;
    double error = CandideModel::poseError(pts, pose.data());
    const double startError = error;
    for (int fit = 0; fit < 20; ++fit) {
        m.calculateTransformMatrix(pts, pose, 10);
        const double e = CandideModel::poseError(pts, pose.data());
        // Accepted steps never raise the error beyond rounding (x87 excess precision in
        // 32-bit builds can differ from the recomputation in the last bits).
        EXPECT_LE(e, error * (1.0 + 1e-12)) << "fit " << fit;
        error = e;
    }
    EXPECT_LT(error, 0.01 * startError);
    EXPECT_NEAR(pose[0], truth[0], 0.01 * truth[0]);
    for (int r = 3; r < 6; ++r) EXPECT_NEAR(pose[r], truth[r], 0.5 * M_PI / 180) << "rotation " << r - 3;
}
