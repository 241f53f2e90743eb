// Objects through the exported FRE functions: creation by class name, properties of
// points, rectangles, arrays and plain objects, and array length and elements.
#include <gtest/gtest.h>

#include "host/HostRuntime.h"

namespace {

const uint8_t* u8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

class FreObject_ : public ::testing::Test {
protected:
    FREObject make(const char* className, std::vector<FREObject> args = {}) {
        FREObject o = nullptr, thrown = rt.number(-1);
        const FREResult r = FRENewObject(u8(className), uint32_t(args.size()), args.data(), &o, &thrown);
        EXPECT_EQ(r, FRE_OK) << className;
        EXPECT_EQ(thrown, nullptr);
        return o;
    }
    double numberProperty(FREObject o, const char* name) {
        FREObject v = nullptr;
        EXPECT_EQ(FREGetObjectProperty(o, u8(name), &v, nullptr), FRE_OK) << name;
        double d = -999;
        EXPECT_EQ(FREGetObjectAsDouble(v, &d), FRE_OK) << name;
        return d;
    }
    kvohost::Runtime rt;
};

TEST_F(FreObject_, GeometryClassesStartAtZeroAndTakeConstructorArguments) {
    FREObject p = make("flash.geom.Point");
    EXPECT_EQ(rt.kind(p), kvohost::Kind::Point);
    EXPECT_EQ(numberProperty(p, "x"), 0.0);
    EXPECT_EQ(numberProperty(p, "y"), 0.0);
    FREObject r = make("flash.geom.Rectangle");
    for (const char* name : {"x", "y", "width", "height"}) EXPECT_EQ(numberProperty(r, name), 0.0);

    p = make("flash.geom.Point", {rt.number(3), rt.integer(4)});
    EXPECT_EQ(numberProperty(p, "x"), 3.0);
    EXPECT_EQ(numberProperty(p, "y"), 4.0);
    EXPECT_EQ(numberProperty(p, "length"), 5.0);
    r = make("flash.geom.Rectangle", {rt.number(1), rt.number(2), rt.number(30)});
    const kvohost::RectangleValue v = rt.toRectangle(r);
    EXPECT_EQ(v.x, 1);
    EXPECT_EQ(v.y, 2);
    EXPECT_EQ(v.width, 30);
    EXPECT_EQ(v.height, 0);
}

TEST_F(FreObject_, ArraysAndPlainObjectsByClassName) {
    FREObject a = make("Array");
    EXPECT_EQ(rt.length(a), 0u);
    a = make("Array", {rt.integer(3)});  // one number: a length
    EXPECT_EQ(rt.length(a), 3u);
    EXPECT_EQ(rt.element(a, 2), nullptr);
    FREObject s = rt.string("s");
    a = make("Array", {s, rt.number(1)});  // otherwise: the elements
    EXPECT_EQ(rt.length(a), 2u);
    EXPECT_EQ(rt.element(a, 0), s);
    FREObject o = make("Object");
    EXPECT_EQ(rt.kind(o), kvohost::Kind::Object);
}

TEST_F(FreObject_, CreationErrors) {
    FREObject o = nullptr, thrown = nullptr;
    EXPECT_EQ(FRENewObject(u8("flash.geom.Vector3D"), 0, nullptr, &o, nullptr), FRE_NO_SUCH_NAME);
    EXPECT_EQ(FRENewObject(u8("flash.geom.point"), 0, nullptr, &o, nullptr), FRE_NO_SUCH_NAME);
    EXPECT_EQ(FRENewObject(nullptr, 0, nullptr, &o, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObject(u8("flash.geom.Point"), 0, nullptr, nullptr, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObject(u8("flash.geom.Point"), 1, nullptr, &o, nullptr), FRE_INVALID_ARGUMENT);
    FREObject bad[] = {reinterpret_cast<FREObject>(uintptr_t(0x5555))};
    EXPECT_EQ(FRENewObject(u8("flash.geom.Point"), 1, bad, &o, nullptr), FRE_INVALID_OBJECT);
    FREObject text[] = {rt.string("1")};
    EXPECT_EQ(FRENewObject(u8("flash.geom.Point"), 1, text, &o, nullptr), FRE_TYPE_MISMATCH);
    EXPECT_EQ(o, nullptr);

    // Too many constructor arguments: the managed constructor throws.
    FREObject three[] = {rt.number(1), rt.number(2), rt.number(3)};
    EXPECT_EQ(FRENewObject(u8("flash.geom.Point"), 3, three, &o, &thrown), FRE_ACTIONSCRIPT_ERROR);
    ASSERT_NE(thrown, nullptr);
    EXPECT_NE(rt.toString(rt.property(thrown, "message")).find("ArgumentError"), std::string::npos);
    FREObject negative[] = {rt.number(-1)};
    EXPECT_EQ(FRENewObject(u8("Array"), 1, negative, &o, &thrown), FRE_ACTIONSCRIPT_ERROR);
    EXPECT_EQ(o, nullptr);
}

TEST_F(FreObject_, GeometryPropertiesAreSetAndTyped) {
    FREObject r = make("flash.geom.Rectangle");
    EXPECT_EQ(FRESetObjectProperty(r, u8("x"), rt.number(1.5), nullptr), FRE_OK);
    EXPECT_EQ(FRESetObjectProperty(r, u8("y"), rt.integer(-2), nullptr), FRE_OK);
    EXPECT_EQ(FRESetObjectProperty(r, u8("width"), rt.number(640), nullptr), FRE_OK);
    EXPECT_EQ(FRESetObjectProperty(r, u8("height"), rt.number(480), nullptr), FRE_OK);
    const kvohost::RectangleValue v = rt.toRectangle(r);
    EXPECT_EQ(v.x, 1.5);
    EXPECT_EQ(v.y, -2);
    EXPECT_EQ(v.width, 640);
    EXPECT_EQ(v.height, 480);

    FREObject p = rt.point(1, 2);
    EXPECT_EQ(FRESetObjectProperty(p, u8("width"), rt.number(1), nullptr), FRE_NO_SUCH_NAME);
    EXPECT_EQ(FRESetObjectProperty(p, u8("length"), rt.number(1), nullptr), FRE_READ_ONLY);
    EXPECT_EQ(FRESetObjectProperty(p, u8("x"), rt.string("7"), nullptr), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FRESetObjectProperty(p, u8("x"), nullptr, nullptr), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FRESetObjectProperty(p, u8("x"), reinterpret_cast<FREObject>(uintptr_t(9)), nullptr),
              FRE_INVALID_OBJECT);
    EXPECT_EQ(rt.toPoint(p).x, 1);  // unchanged by the failed sets
    FREObject v2 = nullptr;
    EXPECT_EQ(FREGetObjectProperty(p, u8("z"), &v2, nullptr), FRE_NO_SUCH_NAME);
    EXPECT_EQ(FREGetObjectProperty(r, u8("X"), &v2, nullptr), FRE_NO_SUCH_NAME);
}

TEST_F(FreObject_, PlainObjectsHoldAnyValueIncludingNull) {
    FREObject o = rt.object(), s = rt.string("v");
    FREObject v = nullptr;
    EXPECT_EQ(FREGetObjectProperty(o, u8("name"), &v, nullptr), FRE_NO_SUCH_NAME);
    EXPECT_EQ(FRESetObjectProperty(o, u8("name"), s, nullptr), FRE_OK);
    EXPECT_EQ(FREGetObjectProperty(o, u8("name"), &v, nullptr), FRE_OK);
    EXPECT_EQ(v, s);
    EXPECT_EQ(FRESetObjectProperty(o, u8("name"), nullptr, nullptr), FRE_OK);
    v = s;
    EXPECT_EQ(FREGetObjectProperty(o, u8("name"), &v, nullptr), FRE_OK);
    EXPECT_EQ(v, nullptr);
}

TEST_F(FreObject_, PropertyCallErrors) {
    FREObject p = rt.point(), v = nullptr, thrown = rt.number(0);
    EXPECT_EQ(FREGetObjectProperty(nullptr, u8("x"), &v, nullptr), FRE_INVALID_OBJECT);
    EXPECT_EQ(FREGetObjectProperty(p, nullptr, &v, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectProperty(p, u8("x"), nullptr, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectProperty(rt.number(1), u8("x"), &v, &thrown), FRE_TYPE_MISMATCH);
    EXPECT_EQ(thrown, nullptr);
    EXPECT_EQ(FRESetObjectProperty(nullptr, u8("x"), rt.number(1), nullptr), FRE_INVALID_OBJECT);
    EXPECT_EQ(FRESetObjectProperty(p, nullptr, rt.number(1), nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRESetObjectProperty(rt.string("s"), u8("x"), rt.number(1), nullptr), FRE_TYPE_MISMATCH);
}

TEST_F(FreObject_, ArrayLengthGrowsWithNullsAndShrinks) {
    FREObject a = rt.array({rt.number(0), rt.number(1), rt.number(2)});
    uint32_t n = 0;
    ASSERT_EQ(FREGetArrayLength(a, &n), FRE_OK);
    EXPECT_EQ(n, 3u);
    ASSERT_EQ(FRESetArrayLength(a, 5), FRE_OK);
    ASSERT_EQ(FREGetArrayLength(a, &n), FRE_OK);
    EXPECT_EQ(n, 5u);
    FREObject e = rt.number(0);
    ASSERT_EQ(FREGetArrayElementAt(a, 4, &e), FRE_OK);
    EXPECT_EQ(e, nullptr);
    ASSERT_EQ(FREGetArrayElementAt(a, 2, &e), FRE_OK);
    EXPECT_EQ(rt.toNumber(e), 2.0);
    ASSERT_EQ(FRESetArrayLength(a, 1), FRE_OK);
    ASSERT_EQ(FREGetArrayLength(a, &n), FRE_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(FREGetArrayElementAt(a, 1, &e), FRE_INVALID_ARGUMENT);
    ASSERT_EQ(FRESetArrayLength(a, 0), FRE_OK);
    EXPECT_EQ(rt.toNumbers(a).size(), 0u);
    // The managed "length" property agrees.
    ASSERT_EQ(FRESetObjectProperty(a, u8("length"), rt.integer(2), nullptr), FRE_OK);
    EXPECT_EQ(rt.toInt(rt.property(a, "length")), 2);
}

TEST_F(FreObject_, ArrayElementWritesAppendAndGrow) {
    FREObject a = rt.array(), x = rt.number(10), y = rt.number(20);
    ASSERT_EQ(FRESetArrayElementAt(a, 0, x), FRE_OK);  // index == length appends
    EXPECT_EQ(rt.length(a), 1u);
    ASSERT_EQ(FRESetArrayElementAt(a, 4, y), FRE_OK);  // far past the end: nulls between
    EXPECT_EQ(rt.length(a), 5u);
    for (uint32_t i = 1; i < 4; ++i) EXPECT_EQ(rt.element(a, i), nullptr);
    EXPECT_EQ(rt.element(a, 4), y);
    ASSERT_EQ(FRESetArrayElementAt(a, 0, y), FRE_OK);  // overwrite keeps the length
    EXPECT_EQ(rt.length(a), 5u);
    EXPECT_EQ(rt.element(a, 0), y);
    ASSERT_EQ(FRESetArrayElementAt(a, 1, nullptr), FRE_OK);
}

TEST_F(FreObject_, ArrayCallErrors) {
    FREObject a = rt.array(2), n = rt.number(1), e = nullptr;
    uint32_t len = 0;
    EXPECT_EQ(FREGetArrayLength(nullptr, &len), FRE_INVALID_OBJECT);
    EXPECT_EQ(FREGetArrayLength(n, &len), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetArrayLength(a, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRESetArrayLength(nullptr, 1), FRE_INVALID_OBJECT);
    EXPECT_EQ(FRESetArrayLength(rt.point(), 1), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FRESetArrayLength(a, 0xFFFFFFFFu), FRE_INSUFFICIENT_MEMORY);
    EXPECT_EQ(rt.length(a), 2u);
    EXPECT_EQ(FREGetArrayElementAt(a, 2, &e), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetArrayElementAt(a, 0xFFFFFFFFu, &e), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetArrayElementAt(a, 0, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetArrayElementAt(n, 0, &e), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FRESetArrayElementAt(n, 0, n), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FRESetArrayElementAt(nullptr, 0, n), FRE_INVALID_OBJECT);
    EXPECT_EQ(FRESetArrayElementAt(a, 0, reinterpret_cast<FREObject>(uintptr_t(3))), FRE_INVALID_OBJECT);
    EXPECT_EQ(FRESetArrayElementAt(a, 0xFFFFFFFFu, n), FRE_INSUFFICIENT_MEMORY);
    EXPECT_EQ(rt.length(a), 2u);
}

TEST_F(FreObject_, FillingPointsTheWayAResultArrayIsFilled) {
    // Reuse the elements below the old length, create the rest: the host sees the
    // same objects updated and new ones appended.
    FREObject a = rt.array({rt.point(), rt.point()});
    const FREObject first = rt.element(a, 0);
    ASSERT_EQ(FRESetArrayLength(a, 3), FRE_OK);
    for (uint32_t i = 0; i < 3; ++i) {
        FREObject p = nullptr;
        if (i < 2) {
            ASSERT_EQ(FREGetArrayElementAt(a, i, &p), FRE_OK);
        } else {
            ASSERT_EQ(FRENewObject(u8("flash.geom.Point"), 0, nullptr, &p, nullptr), FRE_OK);
        }
        ASSERT_EQ(FRESetObjectProperty(p, u8("x"), rt.number(i), nullptr), FRE_OK);
        ASSERT_EQ(FRESetObjectProperty(p, u8("y"), rt.number(2.0 * i), nullptr), FRE_OK);
        if (i >= 2) {
            ASSERT_EQ(FRESetArrayElementAt(a, i, p), FRE_OK);
        }
    }
    EXPECT_EQ(rt.element(a, 0), first);
    const std::vector<kvohost::PointValue> points = rt.toPoints(a);
    ASSERT_EQ(points.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(points[i].x, i);
        EXPECT_EQ(points[i].y, 2.0 * i);
    }
}

TEST_F(FreObject_, TypedReadersReportMisuse) {
    EXPECT_THROW(rt.toPoint(rt.rectangle()), kvohost::HostError);
    EXPECT_THROW(rt.element(rt.array(1), 1), kvohost::HostError);
    EXPECT_THROW(rt.kind(nullptr), kvohost::HostError);
    try {
        rt.toRectangle(rt.number(1));
        FAIL() << "no error";
    } catch (const kvohost::HostError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Error: ", 0), 0u) << e.what();
    }
}

}  // namespace
