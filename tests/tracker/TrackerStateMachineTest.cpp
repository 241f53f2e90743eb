// The tracker's state machine, driven directly on the core library: which component
// runs for each mode and next state, and which state follows.
#include <gtest/gtest.h>

#include <string>

#include "tracker/FaceBoxFromEyes.h"
#include "tracker/TrackerTestSupport.h"

using kvo::Kestavo;
using kvo::KVOMode;
using kvo::KVOState;
using kvotest::GreyFrame;

namespace {

class TrackerTest : public ::testing::Test {
protected:
    TrackerTest() : frame(640, 480) {}

    void initWithTinyModel() {
        model = kvo::test::tinyShapeModelJson();
        tracker.init(&frame, nullptr, model.c_str());
    }

    bool loadFace() {
        const auto& bgra = kvotest::faceFrameBgra();
        if (bgra.empty()) return false;
        frame.setFromBgra(bgra);
        return true;
    }

    GreyFrame frame;
    Kestavo tracker;
    std::string model;
};

TEST_F(TrackerTest, ConstructionDefaults) {
    EXPECT_EQ(tracker.mode, "mode_face_tracking");
    EXPECT_EQ(tracker.lastState, "state_reset");
    EXPECT_EQ(tracker.state, "state_reset");
    EXPECT_EQ(tracker.nextState, "state_reset");
    EXPECT_DOUBLE_EQ(tracker.violaJones.startScale, 4.0);
    EXPECT_DOUBLE_EQ(tracker.violaJones.scaleIncrement, 0.5);
    EXPECT_DOUBLE_EQ(tracker.violaJones.maxScale, 12.0);
    EXPECT_DOUBLE_EQ(tracker.violaJones.stepFactor, 0.04);
    EXPECT_EQ(tracker.violaJones.minDetections, 12);
    EXPECT_FALSE(tracker.violaJones.fullScan);
    EXPECT_DOUBLE_EQ(tracker.asmSearch.minFaceSize, 50.0);
    EXPECT_DOUBLE_EQ(tracker.asmSearch.maxFaceSize, 500.0);
    EXPECT_EQ(tracker.asmSearch.strictValidation, 1);
    EXPECT_TRUE(tracker.asmSearch.candideEnabled);
    EXPECT_TRUE(tracker.asmSearch.candideActionUnitsEnabled);
    EXPECT_TRUE(tracker.asmSearch.stabilizerEnabled);
    EXPECT_TRUE(tracker.asmSearch.correctionEnabled);
    EXPECT_EQ(tracker.opticalFlow.levels, 4);
    EXPECT_EQ(tracker.opticalFlow.iterations, 25u);
    EXPECT_DOUBLE_EQ(tracker.opticalFlow.epsilon, 0.0006);
    EXPECT_TRUE(tracker.opticalFlow.checkPointsValidBeforeTracking);
    EXPECT_TRUE(tracker.pointsToTrack.empty());
    EXPECT_EQ(tracker.faceShape.points.size(), 0u);
}

TEST_F(TrackerTest, InitSizesTheResultFromTheMeanShape) {
    initWithTinyModel();
    EXPECT_EQ(tracker.nextState, "state_face_detection");
    EXPECT_EQ(tracker.state, "state_reset");
    EXPECT_EQ(tracker.lastState, "state_reset");
    EXPECT_EQ(tracker.opticalFlow.windowSize, 41);
    ASSERT_EQ(tracker.faceShape.points.size(), 68u);
    ASSERT_EQ(tracker.faceShape.faceShapeVertices.size(), 136u);
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (size_t i = 0; i < 68; ++i) {
        const auto& p = *tracker.faceShape.points[i];
        EXPECT_EQ(p.x, tracker.faceShape.faceShapeVertices[2 * i]);
        EXPECT_EQ(p.y, tracker.faceShape.faceShapeVertices[2 * i + 1]);
        EXPECT_EQ(p.x, tracker.asmSearch.globalShape.data[i][0]);
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    EXPECT_DOUBLE_EQ(tracker.faceShape.bounds.x, minX);
    EXPECT_DOUBLE_EQ(tracker.faceShape.bounds.y, minY);
    EXPECT_DOUBLE_EQ(tracker.faceShape.bounds.width, maxX - minX);
    EXPECT_DOUBLE_EQ(tracker.faceShape.bounds.height, maxY - minY);
    // The Candide mesh is sized from the embedded model.
    EXPECT_GT(tracker.faceShape.candideShapeTriangles.size(), 0u);
    EXPECT_EQ(tracker.faceShape.candideShapeTriangles.size() % 3, 0u);
    EXPECT_EQ(tracker.faceShape.candideShapeVertices.size() % 2, 0u);
}

TEST_F(TrackerTest, NoFaceKeepsDetecting) {
    initWithTinyModel();
    frame.fill(90);
    EXPECT_EQ(tracker.update(), "state_face_detection");
    EXPECT_EQ(tracker.nextState, "state_face_detection");
    EXPECT_EQ(tracker.lastState, "state_reset");
    EXPECT_EQ(tracker.lastDetectedFace.width, 0.0);
    EXPECT_TRUE(tracker.lastDetectedFaces.empty());
}

TEST_F(TrackerTest, FaceDetectionModeFillsTheFaceButNeverTheShape) {
    initWithTinyModel();
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    tracker.setMode(KVOMode::FACE_DETECTION);
    const double x0 = tracker.faceShape.points[0]->x;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(tracker.update(), "state_face_detection");
        EXPECT_EQ(tracker.nextState, "state_face_detection");
        EXPECT_GT(tracker.lastDetectedFace.width, 60.0);
        EXPECT_GE(static_cast<int>(tracker.lastDetectedFaces.size()), tracker.violaJones.minDetections);
    }
    EXPECT_EQ(tracker.faceShape.points[0]->x, x0);
}

// Detects the face and runs the three start-phase frames after it, with the shape test
// reduced to the face-size limits and the centre region (which the shape on the face
// found meets). Returns the face.
kvo::Rectangle runStartPhaseTestedOnSizeOnly(Kestavo& tracker) {
    tracker.asmSearch.strictValidation = 0;
    tracker.asmSearch.candideEnabled = false;
    // The face is found, the mean shape placed and one search step run in one call;
    // setState ran twice, so lastState is the detection state.
    EXPECT_EQ(tracker.update(), "state_face_tracking_start");
    EXPECT_EQ(tracker.lastState, "state_face_detection");
    EXPECT_EQ(tracker.nextState, "state_face_tracking_start");
    const kvo::Rectangle face = tracker.lastDetectedFace;
    EXPECT_GT(face.width, 60.0);
    // The frame of detection and the three following report the start phase.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tracker.update(), "state_face_tracking_start");
        EXPECT_EQ(tracker.nextState, "state_face_tracking_start");
    }
    return face;
}

// The fifth search ends the start phase and tests the shape: a plausible one is tracked.
TEST_F(TrackerTest, StartPhaseEndsInTrackingWhenTheShapePassesTheTest) {
    initWithTinyModel();
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    const kvo::Rectangle face = runStartPhaseTestedOnSizeOnly(tracker);
    EXPECT_EQ(tracker.update(), "state_face_tracking_start");
    EXPECT_EQ(tracker.nextState, "state_face_tracking");
    // The published shape lies on the face found.
    const auto& b = tracker.faceShape.bounds;
    EXPECT_GT(b.x + b.width, face.x);
    EXPECT_LT(b.x, face.x + face.width);
    // Tracking goes on.
    EXPECT_EQ(tracker.update(), "state_face_tracking");
}

// ... and one that fails it is dropped for a new detection.
TEST_F(TrackerTest, StartPhaseEndsInResetWhenTheShapeFailsTheTest) {
    initWithTinyModel();
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    const kvo::Rectangle face = runStartPhaseTestedOnSizeOnly(tracker);
    // No shape as wide as this face is accepted any more.
    tracker.asmSearch.maxFaceSize = 0.5 * face.width;
    EXPECT_EQ(tracker.update(), "state_reset");
    EXPECT_EQ(tracker.nextState, "state_face_detection");
}

TEST(TrackerEyeSpan, IsTheFractionTheFaceBoxHasAlwaysUsed) {
    // The divisor of the eye distance, as the shipped tracker computes it; a change of
    // the expression that moves its last bit moves every eye-placed face box.
    EXPECT_EQ(Kestavo::EYE_SPAN, 0.43999999999999995);
    EXPECT_NE(Kestavo::EYE_SPAN, 0.44);
}

TEST_F(TrackerTest, UpdateByEyesPlacesTheFaceFromTheEyeDistance) {
    initWithTinyModel();
    auto a = std::make_shared<kvo::Point>(144, 120);
    auto b = std::make_shared<kvo::Point>(100, 120);
    EXPECT_EQ(tracker.updateByEyes(a, b, 0), "state_reset");
    EXPECT_EQ(tracker.nextState, "state_face_detection");
    EXPECT_DOUBLE_EQ(tracker.lastDetectedFace.x, 72.0);
    EXPECT_DOUBLE_EQ(tracker.lastDetectedFace.y, 86.0);
    EXPECT_EQ(tracker.lastDetectedFace.width, 100.00000000000001);
    EXPECT_EQ(tracker.lastDetectedFace.height, 100.00000000000001);
    // The caller's points are not reordered.
    EXPECT_EQ(a->x, 144.0);
    EXPECT_EQ(tracker.updateByEyes(b, a, 0), "state_reset");
    EXPECT_DOUBLE_EQ(tracker.lastDetectedFace.x, 72.0);
}

// The tracker places exactly the box the function gives, whichever eye comes first.
TEST_F(TrackerTest, UpdateByEyesPlacesTheBoxOfTheSharedRule) {
    initWithTinyModel();
    const kvo::EyeCentres eyes{203.25, 151.5, 287.75, 160.125};
    const kvo::Rectangle expected = kvo::faceBoxFromEyes(eyes);
    for (bool swapped : {false, true}) {
        auto a = std::make_shared<kvo::Point>(eyes.leftX, eyes.leftY);
        auto b = std::make_shared<kvo::Point>(eyes.rightX, eyes.rightY);
        tracker.updateByEyes(swapped ? b : a, swapped ? a : b, 0);
        EXPECT_EQ(tracker.lastDetectedFace.x, expected.x) << swapped;
        EXPECT_EQ(tracker.lastDetectedFace.y, expected.y) << swapped;
        EXPECT_EQ(tracker.lastDetectedFace.width, expected.width) << swapped;
        EXPECT_EQ(tracker.lastDetectedFace.height, expected.height) << swapped;
    }
}

TEST_F(TrackerTest, UpdateByEyesRunsTheSearchSteps) {
    initWithTinyModel();
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    auto a = std::make_shared<kvo::Point>(280, 200);
    auto b = std::make_shared<kvo::Point>(360, 200);
    EXPECT_EQ(tracker.updateByEyes(a, b, 3), "state_face_tracking_start");
    EXPECT_EQ(tracker.nextState, "state_face_tracking_start");
    EXPECT_EQ(tracker.asmSearch.frameCount, 3);
}

TEST_F(TrackerTest, UpdateByEyesOutsideFaceTrackingOnlyResets) {
    initWithTinyModel();
    tracker.setMode(KVOMode::FACE_DETECTION);
    auto a = std::make_shared<kvo::Point>(100, 120);
    auto b = std::make_shared<kvo::Point>(144, 120);
    EXPECT_EQ(tracker.updateByEyes(a, b, 5), "state_reset");
    EXPECT_EQ(tracker.nextState, "state_reset");
    frame.fill(90);
    // The next update does no detection, only moves on to detection.
    EXPECT_EQ(tracker.update(), "state_reset");
    EXPECT_EQ(tracker.nextState, "state_face_detection");
}

TEST_F(TrackerTest, ModeSwitches) {
    initWithTinyModel();
    testing::internal::CaptureStdout();
    tracker.setMode(KVOMode::FACE_TRACKING);  // the current mode: nothing at all
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(tracker.nextState, "state_face_detection");

    testing::internal::CaptureStdout();
    tracker.setMode("mode_dancing");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: KestavoVars.mode setter needs one of the modes of KVOModes.\n");
    EXPECT_EQ(tracker.mode, "mode_face_tracking");

    tracker.pointsToTrack.push_back(std::make_shared<kvo::Point>(10, 10));
    tracker.pointStates.push_back(true);
    tracker.setMode(KVOMode::POINT_TRACKING);  // face -> point keeps the points
    EXPECT_EQ(tracker.pointsToTrack.size(), 1u);
    EXPECT_EQ(tracker.state, "state_reset");
    EXPECT_EQ(tracker.nextState, "state_point_tracking");

    tracker.setMode(KVOMode::FACE_DETECTION);  // point -> face empties them
    EXPECT_TRUE(tracker.pointsToTrack.empty());
    EXPECT_TRUE(tracker.pointStates.empty());
    EXPECT_EQ(tracker.nextState, "state_face_detection");

    tracker.nextState = KVOState::FACE_TRACKING;  // between face modes: no reset
    tracker.setMode(KVOMode::FACE_TRACKING);
    EXPECT_EQ(tracker.nextState, "state_face_tracking");
}

TEST_F(TrackerTest, PointTrackingWithoutPoints) {
    initWithTinyModel();
    tracker.setMode(KVOMode::POINT_TRACKING);
    EXPECT_EQ(tracker.update(), "state_point_tracking");
    EXPECT_EQ(tracker.nextState, "state_point_tracking");
    tracker.reset();
    EXPECT_EQ(tracker.state, "state_reset");
    EXPECT_EQ(tracker.update(), "state_point_tracking");
}

TEST_F(TrackerTest, ResetInPointTrackingForgetsThePoints) {
    initWithTinyModel();
    tracker.setMode(KVOMode::POINT_TRACKING);
    tracker.pointsToTrack.push_back(std::make_shared<kvo::Point>(100, 100));
    tracker.pointStates.push_back(true);
    tracker.reset();
    EXPECT_TRUE(tracker.pointsToTrack.empty());
    EXPECT_EQ(tracker.nextState, "state_point_tracking");
}

TEST_F(TrackerTest, PointsFollowATranslatedFrame) {
    initWithTinyModel();
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    tracker.setMode(KVOMode::POINT_TRACKING);
    tracker.update();
    auto p = std::make_shared<kvo::Point>(320, 240);
    tracker.pointsToTrack.push_back(p);
    tracker.pointStates.push_back(true);
    // Shift the image content 3 pixels right.
    std::vector<uint8_t> shifted(frame.pixels.size());
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) shifted[y * 640 + x] = frame.pixels[y * 640 + std::max(0, x - 3)];
    frame.pixels = shifted;
    EXPECT_EQ(tracker.update(), "state_point_tracking");
    EXPECT_TRUE(tracker.pointStates[0]);
    EXPECT_NEAR(tracker.pointsToTrack[0]->x, 323.0, 0.2);
    EXPECT_NEAR(tracker.pointsToTrack[0]->y, 240.0, 0.2);
    // The host's point object itself moves.
    EXPECT_EQ(tracker.pointsToTrack[0].get(), p.get());
}

TEST_F(TrackerTest, WithoutAShapeModelFaceTrackingStaysInDetection) {
    tracker.init(&frame, nullptr, "");
    if (!loadFace()) GTEST_SKIP() << "sample media not installed";
    testing::internal::CaptureStdout();
    EXPECT_EQ(tracker.update(), "state_face_detection");
    EXPECT_EQ(tracker.update(), "state_face_detection");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: Kestavo: the shape model is not loaded; face tracking stays in face detection.\n");
    EXPECT_GT(tracker.lastDetectedFace.width, 0.0);
}

}  // namespace
