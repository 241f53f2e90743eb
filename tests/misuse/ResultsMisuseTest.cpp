// Misuse of the result functions through the stand-in host: no object to fill, a
// String, a Number, a null or a freed handle where the array or rectangle belongs, a
// Rectangle where an Array belongs and the other way round, arrays holding objects of
// other kinds, and calls before kvo_init. None may change the tracker.
#include "misuse/MisuseFixture.h"

namespace kvomisuse {
namespace {

// Each array-filling function, with one group name per function below.
class ArrayResultMisuse : public MisuseTest {
protected:
    // Calls `name` with every wrong target and checks: no argument or a null one gives
    // one error line; a value of another kind is left as it was; the tracker is
    // unchanged.
    void wrongTargets(const std::string& name) {
        const Snapshot before = snapshot();
        oneError(name);
        oneError(name, static_cast<FREObject>(nullptr));
        FREObject str = rt.string("abc");
        FREObject num = rt.number(5);
        FREObject rect = rt.rectangle(1, 2, 3, 4);
        const std::string out = captured([&] {
            ext.call(name, str);
            ext.call(name, num);
            ext.call(name, rect);
            ext.call(name, staleHandle());
            ext.call(name, rt.bitmap(2, 2));
        });
        EXPECT_LE(lines(out).size(), 5u) << out;
        for (const std::string& l : lines(out)) EXPECT_EQ(l.rfind("Error: ", 0), 0u) << l;
        EXPECT_EQ(rt.toString(str), "abc");
        EXPECT_EQ(rt.toNumber(num), 5.0);
        EXPECT_EQ(rt.toRectangle(rect).width, 3.0);
        EXPECT_EQ(snapshot(), before);
    }

    // An array holding values of other kinds (Strings, nulls, Numbers, Rectangles) is
    // filled like any other: the function must not fault on its elements, and the
    // array gets the same length as an empty one does. Returns that length.
    uint32_t fillMixedArray(const std::string& name) {
        FREObject a = rt.array({rt.string("s"), static_cast<FREObject>(nullptr), rt.number(1), rt.rectangle(),
                                rt.bitmap(1, 1)});
        quiet(name, a);
        FREObject empty = rt.array();
        quiet(name, empty);
        EXPECT_EQ(rt.length(a), rt.length(empty)) << name;
        return rt.length(a);
    }
};

using KvoGetPointsToTrack = ArrayResultMisuse;
using KvoGetPointStates = ArrayResultMisuse;
using KvoGetLastDetectedFaces = ArrayResultMisuse;
using KvoGetFaceShapeFaceShapeTriangles = ArrayResultMisuse;
using KvoGetFaceShapeCandideShapeTriangles = ArrayResultMisuse;
using KvoGetFaceShapeFaceShapeVectices = ArrayResultMisuse;
using KvoGetFaceShapePoints = ArrayResultMisuse;
using KvoGetFaceShapeCandideShapeVertices = ArrayResultMisuse;
using KvoGetLastDetectedFace = MisuseTest;
using KvoGetFaceShapeBounds = MisuseTest;

TEST_F(KvoGetPointsToTrack, WrongTargetsAndMixedArrays) {
    initPointTracking();
    wrongTargets("kvo_get_pointsToTrack");
    // Existing elements are updated in place, whatever they are; an empty slot gets a
    // new point.
    FREObject str = rt.string("s");
    FREObject a = rt.array({str, static_cast<FREObject>(nullptr), rt.number(1)});
    quiet("kvo_get_pointsToTrack", a);
    ASSERT_EQ(rt.length(a), 3u);
    EXPECT_EQ(rt.toString(rt.element(a, 0)), "s");
    const kvohost::PointValue p = rt.toPoint(rt.element(a, 1));
    EXPECT_EQ(p.x, 80.0);
    EXPECT_EQ(p.y, 60.0);
}

TEST_F(KvoGetPointsToTrack, BeforeInitGivesAnEmptyArray) {
    FREObject a = rt.array({rt.point(1, 1)});
    quiet("kvo_get_pointsToTrack", a);
    EXPECT_EQ(rt.length(a), 0u);
}

TEST_F(KvoGetPointStates, WrongTargetsAndMixedArrays) {
    initPointTracking();
    wrongTargets("kvo_get_pointStates");
    EXPECT_EQ(fillMixedArray("kvo_get_pointStates"), 3u);
}

TEST_F(KvoGetLastDetectedFaces, WrongTargetsAndMixedArrays) {
    init();
    quiet("kvo_update", texturedFrame());
    wrongTargets("kvo_get_lastDetectedFaces");
    EXPECT_EQ(fillMixedArray("kvo_get_lastDetectedFaces"), 0u);
}

TEST_F(KvoGetFaceShapeFaceShapeTriangles, WrongTargetsBeforeAndAfterInit) {
    wrongTargets("kvo_get_faceShape_faceShapeTriangles");
    init();
    wrongTargets("kvo_get_faceShape_faceShapeTriangles");
    EXPECT_EQ(fillMixedArray("kvo_get_faceShape_faceShapeTriangles"), 339u);
}

TEST_F(KvoGetFaceShapeCandideShapeTriangles, WrongTargetsBeforeAndAfterInit) {
    wrongTargets("kvo_get_faceShape_candideShapeTriangles");
    init();
    wrongTargets("kvo_get_faceShape_candideShapeTriangles");
    EXPECT_GT(fillMixedArray("kvo_get_faceShape_candideShapeTriangles"), 5u);
}

TEST_F(KvoGetFaceShapeFaceShapeVectices, WrongTargetsBeforeAndAfterInit) {
    wrongTargets("kvo_get_faceShape_faceShapeVectices");
    init();
    wrongTargets("kvo_get_faceShape_faceShapeVectices");
    fillMixedArray("kvo_get_faceShape_faceShapeVectices");
}

TEST_F(KvoGetFaceShapePoints, WrongTargetsBeforeAndAfterInit) {
    wrongTargets("kvo_get_faceShape_points");
    init();
    wrongTargets("kvo_get_faceShape_points");
    fillMixedArray("kvo_get_faceShape_points");
}

TEST_F(KvoGetFaceShapeCandideShapeVertices, WrongTargetsBeforeAndAfterInit) {
    wrongTargets("kvo_get_faceShape_candideShapeVertices");
    init();
    wrongTargets("kvo_get_faceShape_candideShapeVertices");
    EXPECT_GT(fillMixedArray("kvo_get_faceShape_candideShapeVertices"), 5u);
}

TEST_F(KvoGetLastDetectedFace, WrongTargets) {
    init();
    const Snapshot before = snapshot();
    oneError("kvo_get_lastDetectedFace");
    oneError("kvo_get_lastDetectedFace", static_cast<FREObject>(nullptr));
    FREObject arr = rt.array({rt.number(1)});
    FREObject str = rt.string("r");
    const std::string out = captured([&] {
        ext.call("kvo_get_lastDetectedFace", arr);
        ext.call("kvo_get_lastDetectedFace", str);
        ext.call("kvo_get_lastDetectedFace", staleHandle());
        ext.call("kvo_get_lastDetectedFace", rt.bitmap(1, 1));
    });
    for (const std::string& l : lines(out)) EXPECT_EQ(l.rfind("Error: ", 0), 0u) << l;
    EXPECT_EQ(rt.length(arr), 1u);
    EXPECT_EQ(rt.toString(str), "r");
    // A plain object receives the four properties.
    FREObject plain = rt.object();
    quiet("kvo_get_lastDetectedFace", plain);
    EXPECT_EQ(rt.toInt(rt.property(plain, "height")), 0);
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KvoGetFaceShapeBounds, WrongTargetsBeforeAndAfterInit) {
    oneError("kvo_get_faceShape_bounds");
    FREObject r = rt.rectangle(5, 5, 5, 5);
    quiet("kvo_get_faceShape_bounds", r);  // before init: the empty shape's bounds
    EXPECT_EQ(rt.toRectangle(r).width, 0.0);
    init();
    oneError("kvo_get_faceShape_bounds", static_cast<FREObject>(nullptr));
    FREObject arr = rt.array();
    const std::string out = captured([&] {
        ext.call("kvo_get_faceShape_bounds", arr);
        ext.call("kvo_get_faceShape_bounds", rt.number(kNaN));
    });
    for (const std::string& l : lines(out)) EXPECT_EQ(l.rfind("Error: ", 0), 0u) << l;
    EXPECT_EQ(rt.length(arr), 0u);
}

// The six pose getters: a finite Number before and after init, stray arguments ignored.
#define KVO_POSE_GETTER_GROUP(Group, name)                                                        \
    using Group = MisuseTest;                                                                     \
    TEST_F(Group, AFiniteNumberBeforeAndAfterInitWhateverTheArguments) {                          \
        for (int round = 0; round < 2; ++round) {                                                 \
            FREObject v = quiet(name, rt.string("x"), static_cast<FREObject>(nullptr), staleHandle()); \
            ASSERT_NE(v, nullptr);                                                                \
            EXPECT_TRUE(std::isfinite(rt.toNumber(v)));                                           \
            if (round == 0) init();                                                               \
        }                                                                                         \
    }
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeScale, "kvo_get_faceShape_scale")
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeTranslationX, "kvo_get_faceShape_translationX")
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeTranslationY, "kvo_get_faceShape_translationY")
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeRotationX, "kvo_get_faceShape_rotationX")
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeRotationY, "kvo_get_faceShape_rotationY")
KVO_POSE_GETTER_GROUP(KvoGetFaceShapeRotationZ, "kvo_get_faceShape_rotationZ")
#undef KVO_POSE_GETTER_GROUP

}  // namespace
}  // namespace kvomisuse
