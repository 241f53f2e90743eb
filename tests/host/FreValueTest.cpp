// Primitive values through the exported FRE functions: creation, reading back, the
// managed runtime's numeric conversions, UTF-8 texts and the error codes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "host/HostRuntime.h"

namespace {

const uint8_t* u8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

class FreValue : public ::testing::Test {
protected:
    kvohost::Runtime rt;
};

TEST_F(FreValue, NumbersRoundTripAndReadAsIntegersByTruncation) {
    FREObject o = nullptr;
    ASSERT_EQ(FRENewObjectFromDouble(-2.75, &o), FRE_OK);
    double d = 0;
    ASSERT_EQ(FREGetObjectAsDouble(o, &d), FRE_OK);
    EXPECT_EQ(d, -2.75);
    int32_t i = 0;
    ASSERT_EQ(FREGetObjectAsInt32(o, &i), FRE_OK);
    EXPECT_EQ(i, -2);  // toward zero, not floor
    EXPECT_EQ(rt.kind(o), kvohost::Kind::Number);

    struct Case { double in; int32_t out; } cases[] = {
        {2.999, 2}, {-0.5, 0}, {std::nan(""), 0}, {std::numeric_limits<double>::infinity(), 0},
        {-std::numeric_limits<double>::infinity(), 0}, {2147483648.0, INT32_MIN}, {4294967297.0, 1},
        {-2147483649.0, INT32_MAX}};
    for (const Case& c : cases) {
        ASSERT_EQ(FRENewObjectFromDouble(c.in, &o), FRE_OK);
        ASSERT_EQ(FREGetObjectAsInt32(o, &i), FRE_OK);
        EXPECT_EQ(i, c.out) << "from " << c.in;
    }
}

TEST_F(FreValue, IntsAndUintsConvert) {
    FREObject o = nullptr;
    ASSERT_EQ(FRENewObjectFromInt32(-7, &o), FRE_OK);
    EXPECT_EQ(rt.kind(o), kvohost::Kind::Int);
    double d = 0;
    ASSERT_EQ(FREGetObjectAsDouble(o, &d), FRE_OK);
    EXPECT_EQ(d, -7.0);
    uint32_t u = 0;
    ASSERT_EQ(FREGetObjectAsUint32(o, &u), FRE_OK);
    EXPECT_EQ(u, 0xFFFFFFF9u);

    // A uint above the int range is held as a Number and keeps its value.
    ASSERT_EQ(FRENewObjectFromUint32(3000000000u, &o), FRE_OK);
    EXPECT_EQ(rt.kind(o), kvohost::Kind::Number);
    ASSERT_EQ(FREGetObjectAsUint32(o, &u), FRE_OK);
    EXPECT_EQ(u, 3000000000u);
    ASSERT_EQ(FRENewObjectFromUint32(5u, &o), FRE_OK);
    EXPECT_EQ(rt.kind(o), kvohost::Kind::Int);
    int32_t i = 0;
    ASSERT_EQ(FREGetObjectAsInt32(o, &i), FRE_OK);
    EXPECT_EQ(i, 5);
}

TEST_F(FreValue, BooleansReadAsOneOrZero) {
    FREObject t = nullptr, f = nullptr;
    ASSERT_EQ(FRENewObjectFromBool(7, &t), FRE_OK);  // any non-zero is true
    ASSERT_EQ(FRENewObjectFromBool(0, &f), FRE_OK);
    uint32_t b = 99;
    ASSERT_EQ(FREGetObjectAsBool(t, &b), FRE_OK);
    EXPECT_EQ(b, 1u);
    ASSERT_EQ(FREGetObjectAsBool(f, &b), FRE_OK);
    EXPECT_EQ(b, 0u);
    double d = 0;
    EXPECT_EQ(FREGetObjectAsDouble(t, &d), FRE_TYPE_MISMATCH);
}

TEST_F(FreValue, Utf8LengthExcludesTheTerminatorAndTextIsTerminated) {
    const char text[] = "mode_face_tracking \xC3\xA9\xE2\x82\xAC";  // e-acute and the euro sign
    const uint32_t n = uint32_t(std::strlen(text));
    FREObject o = nullptr;
    ASSERT_EQ(FRENewObjectFromUTF8(n, u8(text), &o), FRE_OK);
    uint32_t length = 0;
    const uint8_t* value = nullptr;
    ASSERT_EQ(FREGetObjectAsUTF8(o, &length, &value), FRE_OK);
    EXPECT_EQ(length, n);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value[length], 0);
    EXPECT_EQ(std::memcmp(value, text, n), 0);
    EXPECT_EQ(rt.toString(o), text);

    // A length that wrongly counts the NUL keeps it as a character of the text.
    ASSERT_EQ(FRENewObjectFromUTF8(n + 1, u8(text), &o), FRE_OK);
    EXPECT_EQ(rt.toString(o).size(), n + 1);

    // Only the given bytes are taken.
    ASSERT_EQ(FRENewObjectFromUTF8(4, u8(text), &o), FRE_OK);
    EXPECT_EQ(rt.toString(o), "mode");
    ASSERT_EQ(FRENewObjectFromUTF8(0, u8(""), &o), FRE_OK);
    EXPECT_EQ(rt.toString(o), "");
}

TEST_F(FreValue, MalformedUtf8IsRejected) {
    FREObject o = nullptr;
    const char* bad[] = {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80", "a\x80"};
    for (const char* b : bad) {
        EXPECT_EQ(FRENewObjectFromUTF8(uint32_t(std::strlen(b)), u8(b), &o), FRE_INVALID_ARGUMENT) << b;
    }
    EXPECT_EQ(FRENewObjectFromUTF8(1, nullptr, &o), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(rt.objectCount(), 0u);
}

TEST_F(FreValue, ReadingTheWrongTypeIsAMismatch) {
    FREObject s = rt.string("3.5"), b = rt.boolean(true), a = rt.array(), n = rt.number(1);
    double d;
    int32_t i;
    uint32_t u, len;
    const uint8_t* text;
    EXPECT_EQ(FREGetObjectAsDouble(s, &d), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetObjectAsInt32(s, &i), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetObjectAsUint32(b, &u), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetObjectAsBool(n, &u), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetObjectAsUTF8(n, &len, &text), FRE_TYPE_MISMATCH);
    EXPECT_EQ(FREGetObjectAsDouble(a, &d), FRE_TYPE_MISMATCH);
    EXPECT_THROW(rt.toNumber(s), kvohost::HostError);
}

TEST_F(FreValue, NullAndUnknownHandlesAreInvalidObjects) {
    double d;
    int32_t i;
    uint32_t u, len;
    const uint8_t* text;
    FREObject bogus = reinterpret_cast<FREObject>(uintptr_t(0x7777));
    for (FREObject o : {FREObject(nullptr), bogus}) {
        EXPECT_EQ(FREGetObjectAsDouble(o, &d), FRE_INVALID_OBJECT);
        EXPECT_EQ(FREGetObjectAsInt32(o, &i), FRE_INVALID_OBJECT);
        EXPECT_EQ(FREGetObjectAsUint32(o, &u), FRE_INVALID_OBJECT);
        EXPECT_EQ(FREGetObjectAsBool(o, &u), FRE_INVALID_OBJECT);
        EXPECT_EQ(FREGetObjectAsUTF8(o, &len, &text), FRE_INVALID_OBJECT);
    }
}

TEST_F(FreValue, NullOutPointersAreInvalidArguments) {
    FREObject n = rt.number(1), s = rt.string("x"), b = rt.boolean(false);
    uint32_t len;
    const uint8_t* text;
    EXPECT_EQ(FREGetObjectAsDouble(n, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectAsInt32(n, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectAsUint32(n, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectAsBool(b, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectAsUTF8(s, nullptr, &text), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FREGetObjectAsUTF8(s, &len, nullptr), FRE_INVALID_ARGUMENT);
    const std::size_t before = rt.objectCount();
    EXPECT_EQ(FRENewObjectFromDouble(1, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObjectFromInt32(1, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObjectFromUint32(1, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObjectFromBool(1, nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(FRENewObjectFromUTF8(1, u8("x"), nullptr), FRE_INVALID_ARGUMENT);
    EXPECT_EQ(rt.objectCount(), before);
}

TEST_F(FreValue, FailedReadsLeaveTheOutputUntouched) {
    int32_t i = 1234;
    EXPECT_EQ(FREGetObjectAsInt32(rt.string("5"), &i), FRE_TYPE_MISMATCH);
    EXPECT_EQ(i, 1234);
}

TEST(FreWithoutRuntime, EveryCallIsAnIllegalState) {
    ASSERT_EQ(kvohost::Runtime::current(), nullptr);
    FREObject o = nullptr;
    double d;
    EXPECT_EQ(FRENewObjectFromDouble(1, &o), FRE_ILLEGAL_STATE);
    EXPECT_EQ(FREGetObjectAsDouble(o, &d), FRE_ILLEGAL_STATE);
    EXPECT_EQ(FRESetArrayLength(o, 1), FRE_ILLEGAL_STATE);
}

TEST(FreRuntime, OnlyOneRuntimeAtATime) {
    kvohost::Runtime first;
    EXPECT_EQ(kvohost::Runtime::current(), &first);
    EXPECT_THROW(kvohost::Runtime second, kvohost::HostError);
    EXPECT_EQ(kvohost::Runtime::current(), &first);
}

TEST_F(FreValue, CallsFromAnotherThreadAreRefusedAndCounted) {
    FREObject n = rt.number(2.5);
    rt.setCallLogging(true);
    FREResult read = FRE_OK, make = FRE_OK;
    double d = -1;
    FREObject made = nullptr;
    std::thread worker([&] {
        read = FREGetObjectAsDouble(n, &d);
        make = FRENewObjectFromInt32(1, &made);
    });
    worker.join();
    EXPECT_EQ(read, FRE_WRONG_THREAD);
    EXPECT_EQ(make, FRE_WRONG_THREAD);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(rt.wrongThreadCalls(), 2u);
    EXPECT_TRUE(rt.callLog().empty());
    EXPECT_EQ(rt.objectCount(), 1u);
}

}  // namespace
