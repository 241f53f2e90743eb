// Fitting the Candide model to a 68-point shape: placement, pairing, pose and
// action-unit fit, the pose limits, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "CandideTestSupport.h"
#include "math/Angles.h"

using kvo::ASMCandideExtension;
using kvo::CandideModel;
using kvo::ShapeMat;
using kvo::testing_support::MiniModel;
using kvo::testing_support::readRealModelText;

namespace {

const double kDeg = M_PI / 180.0;

const std::string& realText() {
    static const std::string text = readRealModelText();
    return text;
}

// A 68-point shape spanning [x0, x0 + w] x [y0, y0 + h]; the other landmarks sit
// inside that box.
void boxShape(ShapeMat& s, double x0, double y0, double w, double h) {
    s.dim(68, 2);
    for (int i = 0; i < 68; ++i) {
        s.data[i][0] = x0 + w * 0.5;
        s.data[i][1] = y0 + h * 0.5;
    }
    s.data[0][0] = x0;
    s.data[1][0] = x0 + w;
    s.data[2][1] = y0;
    s.data[3][1] = y0 + h;
}

// Projects the real model with the given pose and action-unit weights and writes each
// paired landmark's vertex position into `s`; unpaired landmarks go to the centroid of
// the paired ones so that they do not change the shape's extent.
void projectedShape(ShapeMat& s, const double pose[6], const double weights[7]) {
    CandideModel truth;
    ASSERT_TRUE(truth.initFromText(realText()));
    for (int u = 0; u < 7; ++u) truth.actionUnits[u]->value = weights[u];
    truth.updateActionUnitVectors();
    truth.updateTransform(std::vector<double>(pose, pose + 6));
    ShapeMat unused;
    ASMCandideExtension tables(unused);  // for its landmark-vertex tables only
    std::vector<int> landmarks = tables.mapLandmarks, vertices = tables.mapVertices;
    landmarks.insert(landmarks.end(), tables.extraLandmarks.begin(), tables.extraLandmarks.end());
    vertices.insert(vertices.end(), tables.extraVertices.begin(), tables.extraVertices.end());
    s.dim(68, 2);
    std::vector<bool> paired(68, false);
    double cx = 0, cy = 0;
    int count = 0;
    for (size_t i = 0; i < landmarks.size(); ++i) {
        const int l = landmarks[i];
        if (paired[l]) continue;  // first listing wins, as in the fit
        paired[l] = true;
        s.data[l][0] = truth.vertices[vertices[i]]->transformed[0];
        s.data[l][1] = truth.vertices[vertices[i]]->transformed[1];
        cx += s.data[l][0];
        cy += s.data[l][1];
        ++count;
    }
    for (int l = 0; l < 68; ++l) {
        if (paired[l]) continue;
        s.data[l][0] = cx / count;
        s.data[l][1] = cy / count;
    }
}

std::string quietInit(ASMCandideExtension& ext, const std::string& text) {
    testing::internal::CaptureStdout();
    ext.initFromModelText(text);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CandideExtension, PlacesTheModelOnAFreshShape) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    ASSERT_EQ(quietInit(ext, realText()), "");
    ASSERT_TRUE(ext.isUsable());
    EXPECT_EQ(ext.shapeParams, (std::vector<double>{170, 200, 122, 0, 0, 0}));
    EXPECT_EQ(ext.model.transformParams, ext.shapeParams);

    // Vertex k lands at 170 * neutral + (200, 122), and so does its projection.
    const auto& v = *ext.model.vertices[5];
    EXPECT_NEAR(v.transformed[0], 170 * v.neutral[0] + 200, 1e-9);
    EXPECT_NEAR(v.transformed[1], 170 * v.neutral[1] + 122, 1e-9);
    EXPECT_NEAR(ext.model.projectedXY[10], v.transformed[0], 1e-12);
    EXPECT_NEAR(ext.model.projectedXY[11], v.transformed[1], 1e-12);

    boxShape(shape, -20, 10, 80, 60);
    ext.updateTransformByShape(shape);
    EXPECT_EQ(ext.model.transformParams, (std::vector<double>{68, 20, 28, 0, 0, 0}));
}

TEST(CandideExtension, PairsLandmarksWithVertices) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    ASSERT_EQ(ext.mapLandmarks.size(), 59u);
    ASSERT_EQ(ext.mapVertices.size(), 59u);
    const int poseVertices[] = {62, 61, 63, 10, 30, 28, 29, 53, 56, 20, 23, 112, 6, 111, 89, 88};
    ASSERT_EQ(ext.posePoints.size(), 16u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ext.posePoints[i], ext.model.vertices[poseVertices[i]]) << i;

    ASSERT_EQ(ext.mappedPoints.size(), 59u);
    // From table E only the vertices of landmarks not listed before enter.
    std::vector<bool> used(ext.model.vertices.size(), false);
    for (const auto& p : ext.mappedPoints)
        for (size_t k = 0; k < ext.model.vertices.size(); ++k)
            if (ext.model.vertices[k] == p) used[k] = true;
    for (int k : {40, 79, 80, 81, 82, 83, 84, 85, 86, 87}) EXPECT_TRUE(used[k]) << k;
    for (int k : {9, 21, 31, 54, 64, 67, 69, 71, 73, 90, 91}) EXPECT_FALSE(used[k]) << k;
    // Landmark 57 appears in table A (vertex 8) and first in table D (vertex 9).
    EXPECT_EQ(ext.mappedPoints[38], ext.model.vertices[8]);
}

TEST(CandideExtension, UpdateTransformRotatesWithScaledRxRyRz) {
    CandideModel m;
    ASSERT_TRUE(m.initFromText(realText()));
    const std::vector<double> pose{2.5, 3, -4, 0.3, -0.2, 0.7};
    m.updateActionUnitVectors();
    m.updateTransform(pose);
    // Build s * Rx * Ry * Rz by multiplying the three elementary rotations.
    auto mul = [](const double a[9], const double b[9], double c[9]) {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                c[3 * i + j] = 0;
                for (int k = 0; k < 3; ++k) c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
            }
    };
    const double ax = pose[3], ay = pose[4], az = pose[5];
    const double rx[9] = {1, 0, 0, 0, std::cos(ax), -std::sin(ax), 0, std::sin(ax), std::cos(ax)};
    const double ry[9] = {std::cos(ay), 0, std::sin(ay), 0, 1, 0, -std::sin(ay), 0, std::cos(ay)};
    const double rz[9] = {std::cos(az), -std::sin(az), 0, std::sin(az), std::cos(az), 0, 0, 0, 1};
    double rxy[9], r[9];
    mul(rx, ry, rxy);
    mul(rxy, rz, r);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m.rotScale[i], 2.5 * r[i], 1e-12) << i;
    const auto& v = *m.vertices[40];
    EXPECT_NEAR(v.transformed[0], m.rotScale[0] * v.animated[0] + m.rotScale[1] * v.animated[1] +
                                      m.rotScale[2] * v.animated[2] + 3, 1e-12);
    EXPECT_NEAR(v.transformed[2], m.rotScale[6] * v.animated[0] + m.rotScale[7] * v.animated[1] +
                                      m.rotScale[8] * v.animated[2], 1e-12);
}

TEST(CandideExtension, UnchangedPoseReusesTheStoredRotation) {
    CandideModel m;
    ASSERT_TRUE(m.initFromText(realText()));
    m.updateActionUnitVectors();
    // Right after init the pose in force is (1, 0, 0, 0, 0, 0) with a zero rotScale, so
    // applying exactly that pose collapses every vertex to the origin.
    m.updateTransform({1, 0, 0, 0, 0, 0});
    for (double v : m.projectedXY) EXPECT_EQ(v, 0.0);
    const std::vector<double> pose{2, 1, 1, 0.1, 0.1, 0.1};
    m.updateTransform(pose);
    m.rotScale[0] = 1000.0;  // a marker: an unchanged pose must not recompute
    m.updateTransform(pose);
    const auto& v = *m.vertices[3];
    EXPECT_NEAR(v.transformed[0], 1000.0 * v.animated[0] + m.rotScale[1] * v.animated[1] +
                                      m.rotScale[2] * v.animated[2] + 1, 1e-9);
    std::vector<double> nanPose = pose;
    nanPose[0] = std::numeric_limits<double>::quiet_NaN();
    m.updateTransform(nanPose);
    EXPECT_TRUE(std::isnan(m.transformParams[0]));
    EXPECT_TRUE(std::isnan(m.rotScale[0]));
}

TEST(CandideExtension, ActionUnitWeightsMoveTheAnimatedVertices) {
    CandideModel m;
    ASSERT_TRUE(m.initFromText(realText()));
    m.actionUnits[2]->value = 0.5;  // AUV11, jaw drop
    m.updateActionUnitVectors();
    const auto& unit = *m.actionUnits[2];
    const auto& v = *m.vertices[unit.vertexIndices[0]];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(v.animated[c], v.neutral[c] + 0.5 * unit.displacements[0][c], 1e-15);
}

TEST(CandideExtension, SecondUnitStartsAtMinusAQuarterOfTheFirstUnitsBest) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    CandideModel& m = ext.model;
    // Targets: every vertex where AUV9 = 0.6 (all other units 0) puts it.
    m.actionUnits[0]->value = 0.6;
    m.updateActionUnitVectors();
    m.updateTransform(m.transformParams);
    for (auto& v : m.vertices) {
        v->point->x = v->transformed[0];
        v->point->y = v->transformed[1];
    }
    m.actionUnits[0]->value = 0.0;
    ext.updateActionUnitVectors(m.actionUnits, 0.1, 1.0);
    EXPECT_NEAR(m.actionUnits[0]->value, 0.6, 1e-9);
    // AUV0's grid is -0.15, -0.05, 0.05, ...: it cannot reach its true 0 and settles
    // at the grid value nearest to it. A grid from -1 would have held 0 (to rounding).
    EXPECT_NEAR(std::fabs(m.actionUnits[1]->value), 0.05, 1e-9);
    for (int u = 2; u < 7; ++u) EXPECT_NEAR(m.actionUnits[u]->value, 0.0, 1e-9) << u;
}

TEST(CandideExtension, WeightOutsideTheRangeIsClampedBeforeTheSearch) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    CandideModel& m = ext.model;
    m.updateActionUnitVectors();
    m.updateTransform(m.transformParams);
    for (auto& v : m.vertices) {
        v->point->x = v->transformed[0];
        v->point->y = v->transformed[1];
    }
    m.actionUnits[2]->value = 3.0;  // AUV11: clamped to 1, searched over [0.9, 1]
    ext.updateActionUnitVectors(m.actionUnits, 0.01, 0.1);
    EXPECT_NEAR(m.actionUnits[2]->value, 0.9, 1e-9);
}

// Fits `frames` times against the projection of `pose` and `weights`.
ASMCandideExtension* fitProjection(ShapeMat& shape, const double pose[6], const double weights[7],
                                   bool fitActionUnits, int frames) {
    projectedShape(shape, pose, weights);
    ASMCandideExtension* ext = new ASMCandideExtension(shape);
    EXPECT_EQ(quietInit(*ext, realText()), "");
    for (int frame = 0; frame < frames; ++frame) ext->update(fitActionUnits);
    return ext;
}

void expectPose(const std::vector<double>& p, const double pose[6], double relative) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], pose[k], relative * pose[k]) << "parameter " << k;
    for (int r = 3; r < 6; ++r) EXPECT_NEAR(p[r], pose[r], 0.5 * kDeg) << "rotation " << r - 3;
}

// The fit counts target x in whole pixels (truncated toward zero around the face
// centre), which shrinks the fitted scale by roughly half a pixel over the face's
// half-width: about 0.4 % for a 200-pixel face, 0.08 % for a 1000-pixel one.
TEST(CandideExtension, RecoversPoseFromAProjectedShape) {
    const double pose[6] = {850.0, 900.0, 700.0, 6 * kDeg, -10 * kDeg, 4 * kDeg};
    const double weights[7] = {0, 0, 0, 0, 0, 0, 0};
    ShapeMat shape;
    std::unique_ptr<ASMCandideExtension> ext(fitProjection(shape, pose, weights, false, 30));
    expectPose(ext->model.transformParams, pose, 1e-3);
}

TEST(CandideExtension, RecoversPoseOfATypicalFaceWithinTheWholePixelBias) {
    const double pose[6] = {170.0, 320.0, 240.0, 6 * kDeg, -10 * kDeg, 4 * kDeg};
    const double weights[7] = {0, 0, 0, 0, 0, 0, 0};
    ShapeMat shape;
    std::unique_ptr<ASMCandideExtension> ext(fitProjection(shape, pose, weights, false, 30));
    const std::vector<double>& p = ext->model.transformParams;
    EXPECT_NEAR(p[0], pose[0], 5e-3 * pose[0]);
    EXPECT_LT(p[0], pose[0]);  // the bias shrinks
    EXPECT_NEAR(p[1], pose[1], 1e-3 * pose[1]);
    EXPECT_NEAR(p[2], pose[2], 1e-3 * pose[2]);
    for (int r = 3; r < 6; ++r) EXPECT_NEAR(p[r], pose[r], 0.5 * kDeg) << "rotation " << r - 3;
}

TEST(CandideExtension, RecoversPoseAndActionUnitsFromAProjectedShape) {
    const double pose[6] = {850.0, 1000.0, 800.0, -5 * kDeg, 12 * kDeg, -6 * kDeg};
    const double weights[7] = {0.0, 0.2, 0.4, 0.0, 0.0, 0.0, 0.3};
    ShapeMat shape;
    std::unique_ptr<ASMCandideExtension> ext(fitProjection(shape, pose, weights, true, 30));
    expectPose(ext->model.transformParams, pose, 1e-3);
    // AUV11 (jaw drop) moves the mouth and chin far enough to be recovered closely.
    EXPECT_NEAR(ext->model.actionUnits[2]->value, 0.4, 0.05);
}

TEST(CandideExtension, WithoutActionUnitsTheWeightsStayZero) {
    const double pose[6] = {170.0, 320.0, 240.0, 0, 0, 0};
    const double weights[7] = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
    ShapeMat shape;
    projectedShape(shape, pose, weights);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    for (int frame = 0; frame < 3; ++frame) ext.update(false);
    for (const auto& u : ext.model.actionUnits) EXPECT_EQ(u->value, 0.0);
    for (const auto& v : ext.model.vertices)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(v->animated[c], v->neutral[c]);
    ext.update(true);
    double sum = 0;
    for (const auto& u : ext.model.actionUnits) sum += std::fabs(u->value);
    EXPECT_GT(sum, 0.0);
    std::vector<double> frozen;
    for (const auto& u : ext.model.actionUnits) frozen.push_back(u->value);
    ext.update(false);
    for (int u = 0; u < 7; ++u) EXPECT_EQ(ext.model.actionUnits[u]->value, frozen[u]);
}

TEST(CandideExtension, PoseLimits) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    const kvo::Rectangle region(30, 30, 580, 420);
    std::vector<double>& p = ext.model.transformParams;
    p = {170, 200, 122, 0, 0, 0};
    EXPECT_TRUE(ext.isPoseValid(region));
    p[1] = 30;  // on the edge
    EXPECT_TRUE(ext.isPoseValid(region));
    p[1] = 29.9;
    EXPECT_FALSE(ext.isPoseValid(region));
    p[1] = 200;
    struct Case {
        int index;
        double degrees;
        bool valid;
    } cases[] = {{3, 20, true}, {3, 20.01, false}, {3, -20.01, false}, {4, 48, true}, {4, -48.01, false},
                 {5, -30, true}, {5, 30.01, false}};
    for (const Case& c : cases) {
        p[3] = p[4] = p[5] = 0;
        p[c.index] = c.degrees / kvo::DEGREES_PER_RADIAN;
        EXPECT_EQ(ext.isPoseValid(region), c.valid) << c.index << " " << c.degrees;
    }
    p[3] = p[4] = p[5] = 0;
    p[4] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(ext.isPoseValid(region));
}

TEST(CandideExtension, UnusableModelTurnsFittingOffWithoutVetoingTheTrack) {
    MiniModel mm;
    mm.drop("# FACE LIST:");
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    const std::string out = quietInit(ext, mm.text());
    EXPECT_EQ(out, "Error: Error: getLineIndexOf: # FACE LIST not found.\n");
    EXPECT_FALSE(ext.isUsable());
    testing::internal::CaptureStdout();
    ext.updateTransformByShape(shape);
    ext.update(true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(ext.model.projectedXY.empty());
    EXPECT_TRUE(ext.isPoseValid(kvo::Rectangle(0, 0, 1, 1)));
}

TEST(CandideExtension, ModelTooSmallForThePairingIsUnusable) {
    // The mini model parses but has 5 vertices; the pairing names vertices up to 112.
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    const std::string out = quietInit(ext, MiniModel().text());
    EXPECT_EQ(out.rfind("Error: ", 0), 0u);
    EXPECT_NE(out.find("113"), std::string::npos);
    EXPECT_FALSE(ext.isUsable());
    ext.update(true);  // must not touch the missing vertices
}

TEST(CandideExtension, ShortOrNonFiniteShapeKeepsThePoseAndSaysSoOncePerTrack) {
    ShapeMat shape;
    boxShape(shape, 100, 50, 200, 240);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    const std::vector<double> before = ext.model.transformParams;

    shape.data[40][1] = std::numeric_limits<double>::quiet_NaN();
    testing::internal::CaptureStdout();
    ext.update(true);
    ext.update(true);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(out.rfind("Error: ", 0), 0u);
    EXPECT_EQ(ext.model.transformParams, before);

    // A new track may report again; a shape of 20 rows is too short for the pairing.
    shape.dim(20, 2);
    testing::internal::CaptureStdout();
    ext.updateTransformByShape(shape);  // fine: only the extent is used
    ext.update(true);
    ext.update(false);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("20 rows"), std::string::npos);
}

TEST(CandideExtension, DivergingFitKeepsTheLastGoodPose) {
    // Two pose landmarks at the largest double overflow the mean offset, so the
    // composed translation would be infinite.
    const double pose[6] = {170.0, 320.0, 240.0, 0, 0, 0};
    const double weights[7] = {0, 0, 0, 0, 0, 0, 0};
    ShapeMat shape;
    projectedShape(shape, pose, weights);
    ASMCandideExtension ext(shape);
    quietInit(ext, realText());
    ext.update(false);
    const std::vector<double> good = ext.model.transformParams;
    const std::vector<double> projected = ext.model.projectedXY;
    shape.data[0][0] = std::numeric_limits<double>::max();
    shape.data[2][0] = std::numeric_limits<double>::max();
    testing::internal::CaptureStdout();
    ext.update(false);
    ext.update(false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(ext.model.transformParams, good);
    EXPECT_EQ(ext.model.projectedXY, projected);
}
