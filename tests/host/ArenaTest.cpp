// The object arena: handles stay valid until released or cleared, released handles
// are recognised as stale, and per-frame releases keep memory flat while keeping the
// objects that older arrays and objects refer to.
#include <gtest/gtest.h>

#include "host/HostRuntime.h"

namespace {

const uint8_t* u8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

class Arena : public ::testing::Test {
protected:
    kvohost::Runtime rt;
};

TEST_F(Arena, ReleaseFreesOnlyObjectsYoungerThanTheMark) {
    FREObject kept = rt.number(1);
    const kvohost::Runtime::Mark m = rt.mark();
    FREObject temp = rt.number(2);
    FREObject tempString = rt.string("t");
    EXPECT_EQ(rt.objectCount(), 3u);
    rt.release(m);
    EXPECT_EQ(rt.objectCount(), 1u);
    EXPECT_TRUE(rt.isValid(kept));
    EXPECT_FALSE(rt.isValid(temp));
    EXPECT_FALSE(rt.isValid(tempString));
    double d = 0;
    EXPECT_EQ(FREGetObjectAsDouble(temp, &d), FRE_INVALID_OBJECT);
}

TEST_F(Arena, StaleHandlesStayInvalidAfterTheirSlotIsReused) {
    const kvohost::Runtime::Mark m = rt.mark();
    FREObject old = rt.number(1);
    rt.release(m);
    // Fill well past the freed slot so it is certainly reused.
    for (int i = 0; i < 10; ++i) rt.integer(i);
    EXPECT_FALSE(rt.isValid(old));
    int32_t v = 0;
    EXPECT_EQ(FREGetObjectAsInt32(old, &v), FRE_INVALID_OBJECT);
}

TEST_F(Arena, ObjectsStoredIntoOlderContainersSurvive) {
    FREObject results = rt.array();
    FREObject holder = rt.object();
    {
        kvohost::Runtime::Scope frame(rt);
        FREObject p = nullptr;
        ASSERT_EQ(FRENewObject(u8("flash.geom.Point"), 0, nullptr, &p, nullptr), FRE_OK);
        ASSERT_EQ(FRESetArrayElementAt(results, 0, p), FRE_OK);
        // A chain: older object -> young array -> young string.
        FREObject inner = rt.array({rt.string("deep")});
        ASSERT_EQ(FRESetObjectProperty(holder, u8("inner"), inner, nullptr), FRE_OK);
        rt.number(5);  // an unreferenced temporary
    }
    EXPECT_EQ(rt.objectCount(), 5u);  // results, holder, point, inner array, string
    EXPECT_EQ(rt.kind(rt.element(results, 0)), kvohost::Kind::Point);
    EXPECT_EQ(rt.toString(rt.element(rt.property(holder, "inner"), 0)), "deep");
}

TEST_F(Arena, AnAcquiredBitmapIsNotReleasedUnderTheExtension) {
    const kvohost::Runtime::Mark m = rt.mark();
    FREObject b = rt.bitmap(2, 2);
    FREBitmapData d{};
    ASSERT_EQ(FREAcquireBitmapData(b, &d), FRE_OK);
    rt.release(m);
    EXPECT_TRUE(rt.isValid(b));
    ASSERT_EQ(FREReleaseBitmapData(b), FRE_OK);
    rt.release(m);
    EXPECT_FALSE(rt.isValid(b));
}

TEST_F(Arena, ClearInvalidatesEverything) {
    FREObject a = rt.array({rt.number(1)});
    rt.clear();
    EXPECT_EQ(rt.objectCount(), 0u);
    EXPECT_FALSE(rt.isValid(a));
    FREObject n = rt.number(2);  // usable again afterwards
    EXPECT_EQ(rt.toNumber(n), 2.0);
}

TEST_F(Arena, AFrameLoopKeepsTheObjectCountFlat) {
    // 100,000 frames of the usual traffic: a frame bitmap, number arguments, a result
    // array refilled in place and a returned string. Nothing accumulates.
    FREObject points = rt.array();
    std::vector<uint32_t> pixels(8 * 8, 0xFF808080u);
    std::size_t capacityAfterTenFrames = 0;
    for (int frame = 0; frame < 100000; ++frame) {
        kvohost::Runtime::Scope scope(rt);
        FREObject bitmap = rt.bitmap(8, 8, pixels.data());
        FREBitmapData d{};
        ASSERT_EQ(FREAcquireBitmapData(bitmap, &d), FRE_OK);
        ASSERT_EQ(FREReleaseBitmapData(bitmap), FRE_OK);
        FREObject state = nullptr;
        ASSERT_EQ(FRENewObjectFromUTF8(5, u8("state"), &state), FRE_OK);
        for (uint32_t i = 0; i < 3; ++i) {
            FREObject p = nullptr;
            if (FREGetArrayElementAt(points, i, &p) != FRE_OK) {
                ASSERT_EQ(FRENewObject(u8("flash.geom.Point"), 0, nullptr, &p, nullptr), FRE_OK);
                ASSERT_EQ(FRESetArrayElementAt(points, i, p), FRE_OK);
            }
            FREObject x = nullptr;
            ASSERT_EQ(FRENewObjectFromDouble(frame, &x), FRE_OK);
            ASSERT_EQ(FRESetObjectProperty(p, u8("x"), x, nullptr), FRE_OK);
        }
        if (frame == 10) capacityAfterTenFrames = rt.arenaCapacity();
    }
    EXPECT_EQ(rt.objectCount(), 4u);  // the array and its three points
    EXPECT_EQ(rt.arenaCapacity(), capacityAfterTenFrames);
    EXPECT_LT(rt.arenaCapacity(), 32u);
    EXPECT_EQ(rt.toPoints(points)[2].x, 99999.0);
}

}  // namespace
