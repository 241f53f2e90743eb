// The named functions called directly (the extension layer linked statically, the
// stand-in host providing the FRE functions): argument reading, clamps, and the
// conventions for filling host arrays and rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "extension/ExtensionGlobals.h"
#include "extension/NamedFunctions.h"
#include "host/HostRuntime.h"

using kvohost::Runtime;

namespace {

class NamedFunctionsTest : public ::testing::Test {
protected:
    template <class... Args>
    FREObject call(FREFunction f, Args... args) {
        FREObject argv[] = {static_cast<FREObject>(args)..., nullptr};
        return f(nullptr, nullptr, uint32_t(sizeof...(Args)), argv);
    }
    kvo::Kestavo& tracker() { return kvo::extension::tracker(); }

    Runtime rt;
};

TEST_F(NamedFunctionsTest, FaceTrackingVarsClampStrictValidationToZeroOrOne) {
    call(kvo_setFaceTrackingVars, rt.number(80), rt.number(400), rt.integer(2));
    EXPECT_EQ(tracker().asmSearch.minFaceSize, 80.0);
    EXPECT_EQ(tracker().asmSearch.maxFaceSize, 400.0);
    EXPECT_EQ(tracker().asmSearch.strictValidation, 1);
    call(kvo_setFaceTrackingVars, rt.number(80), rt.number(400), rt.integer(-1));
    EXPECT_EQ(tracker().asmSearch.strictValidation, 1);
    call(kvo_setFaceTrackingVars, rt.number(80), rt.number(400), rt.integer(0));
    EXPECT_EQ(tracker().asmSearch.strictValidation, 0);
    // Restore the defaults for the other tests.
    call(kvo_setFaceTrackingVars, rt.number(50), rt.number(500), rt.integer(1));
}

TEST_F(NamedFunctionsTest, FaceTrackingVarsReadTheFinestSearchLevelWhenGiven) {
    auto& search = tracker().asmSearch;
    EXPECT_EQ(search.finestTrackingLevel, 2);  // the library's default
    const auto quietly = [&](auto... args) {
        testing::internal::CaptureStdout();
        call(kvo_setFaceTrackingVars, args...);
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(quietly(rt.number(50), rt.number(500), rt.integer(1), rt.integer(0)), "");
    EXPECT_EQ(search.finestTrackingLevel, 0);
    EXPECT_EQ(quietly(rt.number(50), rt.number(500), rt.integer(1), rt.integer(1)), "");
    EXPECT_EQ(search.finestTrackingLevel, 1);
    // Three arguments: today's search again, without a word.
    EXPECT_EQ(quietly(rt.number(50), rt.number(500), rt.integer(1)), "");
    EXPECT_EQ(search.finestTrackingLevel, 2);
    EXPECT_EQ(quietly(rt.number(50), rt.number(500), rt.integer(1), rt.integer(0)), "");
    EXPECT_EQ(quietly(rt.number(50), rt.number(500), rt.integer(1), rt.integer(2)), "");
    EXPECT_EQ(search.finestTrackingLevel, 2);
    // Out of range or not an int: one error line, and the default search.
    for (FREObject bad : {rt.integer(3), rt.integer(-1), rt.integer(-2147483647 - 1), rt.string("0")}) {
        call(kvo_setFaceTrackingVars, rt.number(50), rt.number(500), rt.integer(1), rt.integer(0));
        const std::string out = quietly(rt.number(50), rt.number(500), rt.integer(1), bad);
        EXPECT_EQ(out.rfind("Error: kvo_setFaceTrackingVars: argument 3", 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(search.finestTrackingLevel, 2);
        // The other three arguments are still stored.
        EXPECT_EQ(search.minFaceSize, 50.0);
        EXPECT_EQ(search.strictValidation, 1);
    }
}

TEST_F(NamedFunctionsTest, PointTrackingVarsClampWindowLevelsAndIterations) {
    auto& flow = tracker().opticalFlow;
    call(kvo_setPointTrackingVars, rt.integer(21), rt.integer(7), rt.integer(3), rt.number(0.001));
    EXPECT_EQ(flow.windowSize, 21);
    EXPECT_EQ(flow.levels, 4);
    EXPECT_EQ(flow.iterations, 5u);
    EXPECT_EQ(flow.epsilon, 0.001);
    call(kvo_setPointTrackingVars, rt.integer(20), rt.integer(0), rt.integer(250), rt.number(0.001));
    EXPECT_EQ(flow.windowSize, 19);
    EXPECT_EQ(flow.levels, 1);
    EXPECT_EQ(flow.iterations, 100u);
    call(kvo_setPointTrackingVars, rt.integer(41), rt.integer(4), rt.integer(25), rt.number(0.0006));
}

TEST_F(NamedFunctionsTest, FaceDetectionVarsAreStoredUnchecked) {
    auto& vj = tracker().violaJones;
    call(kvo_setFaceDetectionVars, rt.number(2.5), rt.number(0.25), rt.number(30), rt.number(0.1),
         rt.integer(-4), rt.boolean(true));
    EXPECT_EQ(vj.startScale, 2.5);
    EXPECT_EQ(vj.scaleIncrement, 0.25);
    EXPECT_EQ(vj.maxScale, 30.0);
    EXPECT_EQ(vj.stepFactor, 0.1);
    EXPECT_EQ(vj.minDetections, -4);
    EXPECT_TRUE(vj.fullScan);
    // A Boolean counts as true only when the host gives 1; an int 2 is not 1.
    call(kvo_setFaceDetectionVars, rt.number(4), rt.number(0.5), rt.number(12), rt.number(0.04),
         rt.integer(12), rt.integer(2));
    EXPECT_FALSE(vj.fullScan);
    EXPECT_EQ(vj.minDetections, 12);
}

TEST_F(NamedFunctionsTest, ArgumentsTheHostCannotConvertReadAsZero) {
    // A String where Numbers are expected, and too few arguments.
    call(kvo_setFaceTrackingVars, rt.string("eighty"));
    EXPECT_EQ(tracker().asmSearch.minFaceSize, 0.0);
    EXPECT_EQ(tracker().asmSearch.maxFaceSize, 0.0);
    EXPECT_EQ(tracker().asmSearch.strictValidation, 0);
    call(kvo_setFaceTrackingVars, rt.number(50), rt.number(500), rt.integer(1));
    EXPECT_EQ(kvo_setFaceTrackingVars(nullptr, nullptr, 0, nullptr), nullptr);
    call(kvo_setFaceTrackingVars, rt.number(50), rt.number(500), rt.integer(1));
}

TEST_F(NamedFunctionsTest, CandideSwitchesRoundTrip) {
    call(kvo_set_candideEnabled, rt.boolean(false));
    EXPECT_FALSE(rt.toBool(call(kvo_get_candideEnabled)));
    call(kvo_set_candideEnabled, rt.boolean(true));
    EXPECT_TRUE(rt.toBool(call(kvo_get_candideEnabled)));
    call(kvo_set_candideActionUnitsEnabled, rt.boolean(false));
    EXPECT_FALSE(rt.toBool(call(kvo_get_candideActionUnitsEnabled)));
    call(kvo_set_candideActionUnitsEnabled, rt.boolean(true));
    call(kvo_set_checkPointsValidBeforeTracking, rt.boolean(false));
    EXPECT_FALSE(rt.toBool(call(kvo_get_checkPointsValidBeforeTracking)));
    call(kvo_set_checkPointsValidBeforeTracking, rt.boolean(true));
    EXPECT_TRUE(rt.toBool(call(kvo_get_checkPointsValidBeforeTracking)));
}

TEST_F(NamedFunctionsTest, AddedPointsAreAppendedWithTrueFlags) {
    tracker().pointsToTrack.clear();
    tracker().pointStates.clear();
    call(kvo_addPointsToTrack, rt.array({rt.point(1, 2), rt.point(3, 4)}));
    tracker().pointStates[0] = false;
    call(kvo_addPointsToTrack, rt.array({rt.point(5, 6), rt.point(7, 8), rt.point(9, 10)}));
    ASSERT_EQ(tracker().pointsToTrack.size(), 5u);
    EXPECT_EQ(tracker().pointStates, (std::vector<bool>{false, true, true, true, true}));
    EXPECT_EQ(tracker().pointsToTrack[4]->x, 9.0);
    EXPECT_EQ(tracker().pointsToTrack[4]->y, 10.0);

    // Read back: new Point objects for an empty array; an Array of non-points reads 0.
    FREObject out = rt.array();
    call(kvo_get_pointsToTrack, out);
    auto pts = rt.toPoints(out);
    ASSERT_EQ(pts.size(), 5u);
    EXPECT_EQ(pts[2].x, 5.0);
    call(kvo_addPointsToTrack, rt.array({rt.string("not a point")}));
    EXPECT_EQ(tracker().pointsToTrack[5]->x, 0.0);
    tracker().pointsToTrack.clear();
    tracker().pointStates.clear();
}

TEST_F(NamedFunctionsTest, PointStatesAlwaysSetTheLength) {
    tracker().pointsToTrack.assign(2, std::make_shared<kvo::Point>(1, 1));
    tracker().pointStates = {true, false};
    FREObject out = rt.array({rt.boolean(false), rt.boolean(false)});
    rt.setCallLogging(true);
    call(kvo_get_pointStates, out);
    rt.setCallLogging(false);
    auto names = rt.calledFunctions();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names[0], "FREGetArrayLength");
    EXPECT_EQ(names[1], "FRESetArrayLength");
    EXPECT_TRUE(rt.toBool(rt.element(out, 0)));
    EXPECT_FALSE(rt.toBool(rt.element(out, 1)));
    tracker().pointsToTrack.clear();
    tracker().pointStates.clear();
    call(kvo_get_pointStates, out);
    EXPECT_EQ(rt.length(out), 0u);
}

TEST_F(NamedFunctionsTest, DetectedFaceIsTruncatedTowardZero) {
    tracker().lastDetectedFace = kvo::Rectangle(10.9, 20.1, 99.99, 99.99);
    FREObject r = rt.rectangle();
    call(kvo_get_lastDetectedFace, r);
    EXPECT_EQ(rt.toInt(rt.property(r, "x")), 10);
    EXPECT_EQ(rt.toInt(rt.property(r, "y")), 20);
    EXPECT_EQ(rt.toInt(rt.property(r, "width")), 99);
    EXPECT_EQ(rt.toInt(rt.property(r, "height")), 99);
    tracker().lastDetectedFace = kvo::Rectangle(-3.7, NAN, 1e30, 0);
    call(kvo_get_lastDetectedFace, r);
    EXPECT_EQ(rt.toInt(rt.property(r, "x")), -3);
    EXPECT_EQ(rt.toInt(rt.property(r, "y")), 0);  // not a number: 0
    EXPECT_EQ(rt.toInt(rt.property(r, "width")), 2147483647);
    tracker().lastDetectedFace = kvo::Rectangle();
}

TEST_F(NamedFunctionsTest, DetectedFacesReuseExistingRectanglesAndShortenTheArray) {
    auto& faces = tracker().lastDetectedFaces;
    faces = {std::make_shared<kvo::Rectangle>(1, 2, 3, 4), std::make_shared<kvo::Rectangle>(5, 6, 7, 8)};
    std::vector<FREObject> old;
    for (int i = 0; i < 5; ++i) old.push_back(rt.rectangle());
    FREObject arr = rt.array({old[0], old[1], old[2], old[3], old[4]});
    call(kvo_get_lastDetectedFaces, arr);
    ASSERT_EQ(rt.length(arr), 2u);
    EXPECT_EQ(rt.element(arr, 0), old[0]);  // updated in place, not replaced
    EXPECT_EQ(rt.element(arr, 1), old[1]);
    EXPECT_EQ(rt.toRectangle(old[1]).width, 7.0);
    EXPECT_EQ(rt.toRectangle(old[1]).x, 5.0);
    faces.clear();
}

TEST_F(NamedFunctionsTest, FaceShapePointsUpdateExistingObjectsAndCreateTheRest) {
    auto& shape = tracker().faceShape;
    const size_t before = shape.points.size();
    while (shape.points.size() < 68) {
        const double i = static_cast<double>(shape.points.size());
        shape.points.push_back(std::make_shared<kvo::Point>(i, -i));
    }
    std::vector<FREObject> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(rt.point(-1, -1));
    FREObject arr = rt.array();
    for (int i = 0; i < 10; ++i) rt.setElement(arr, i, ten[i]);
    call(kvo_get_faceShape_points, arr);
    ASSERT_EQ(rt.length(arr), 68u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rt.element(arr, i), ten[i]);
    auto pts = rt.toPoints(arr);
    EXPECT_EQ(pts[0].x, shape.points[0]->x);
    EXPECT_EQ(pts[67].x, shape.points[67]->x);
    EXPECT_EQ(pts[67].y, shape.points[67]->y);
    EXPECT_EQ(rt.kind(rt.element(arr, 40)), kvohost::Kind::Point);
    shape.points.resize(before);
}

TEST_F(NamedFunctionsTest, TrianglesAndPose) {
    FREObject arr = rt.array();
    call(kvo_get_faceShape_faceShapeTriangles, arr);
    ASSERT_EQ(rt.length(arr), 339u);
    const int first[6] = {0, 1, 27, 0, 21, 27};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rt.kind(rt.element(arr, i)), kvohost::Kind::Int);
        EXPECT_EQ(rt.toInt(rt.element(arr, i)), first[i]);
    }
    EXPECT_EQ(rt.toInt(rt.element(arr, 338)), 66);
    tracker().faceShape.rotationZ = 0.25;
    EXPECT_EQ(rt.toNumber(call(kvo_get_faceShape_rotationZ)), 0.25);
    EXPECT_EQ(rt.toNumber(call(kvo_get_faceShape_scale)), tracker().faceShape.scale);
    tracker().faceShape.rotationZ = 0.0;
}

TEST_F(NamedFunctionsTest, GettersWithoutATargetReportAndReturnNull) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(kvo_get_faceShape_points(nullptr, nullptr, 0, nullptr), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: kvo_get_faceShape_points: argument 0 must be the object to fill.\n");
}

TEST_F(NamedFunctionsTest, NameGettersAndAnUnknownMode) {
    EXPECT_EQ(rt.toString(call(kvo_get_mode)), "mode_face_tracking");
    EXPECT_EQ(rt.toString(call(kvo_get_state)), tracker().state);
    EXPECT_EQ(rt.toString(call(kvo_get_lastState)), tracker().lastState);
    EXPECT_EQ(rt.toString(call(kvo_get_nextState)), tracker().nextState);
    testing::internal::CaptureStdout();
    call(kvo_set_mode, rt.number(3));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: KestavoVars.mode setter needs one of the modes of KVOModes.\n");
    EXPECT_EQ(tracker().mode, "mode_face_tracking");
}

}  // namespace
