// Loading a native extension as the host does, calling its named functions, and the
// call log of the FRE calls it makes.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <string>
#include <vector>

#include "host/HostRuntime.h"

namespace {

class ExtensionLoading : public ::testing::Test {
protected:
    kvohost::Runtime rt;
};

std::string errorOf(kvohost::Runtime& rt, const std::string& path, const std::string& prefix) {
    try {
        kvohost::Extension ext(rt, path, prefix);
    } catch (const kvohost::HostError& e) {
        return e.what();
    }
    return "";
}

TEST_F(ExtensionLoading, HandsOverTheFunctionTableInOrder) {
    kvohost::Extension ext(rt, KVO_TEST_EXTENSION_PATH, "Test");
    EXPECT_EQ(ext.functionNames(), (std::vector<std::string>{"test_sum", "test_bitmapBlue"}));
    ASSERT_NE(ext.find("test_sum"), nullptr);
    EXPECT_EQ(ext.find("test_sum")->functionData != nullptr, true);
    EXPECT_EQ(ext.find("kvo_update"), nullptr);
}

TEST_F(ExtensionLoading, CallPassesArgumentsAndFunctionData) {
    kvohost::Extension ext(rt, KVO_TEST_EXTENSION_PATH, "Test");
    // The function data of test_sum holds 100.
    EXPECT_EQ(rt.toNumber(ext.call("test_sum")), 100.0);
    EXPECT_EQ(rt.toNumber(ext.call("test_sum", rt.number(1.5), rt.integer(2), rt.number(-0.25))), 103.25);
    EXPECT_EQ(rt.toNumber(ext.callWith("test_sum", {rt.number(1), rt.number(2)})), 103.0);
    // An argument the extension cannot read counts as 0 there.
    EXPECT_EQ(rt.toNumber(ext.call("test_sum", rt.string("5"), nullptr)), 100.0);
    EXPECT_THROW(ext.call("test_nothing"), kvohost::HostError);
}

TEST_F(ExtensionLoading, BitmapAccessHonoursTheStride) {
    kvohost::Extension ext(rt, KVO_TEST_EXTENSION_PATH, "Test");
    const uint32_t pixels[] = {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u};
    FREObject contiguous = rt.bitmap(2, 2, pixels);
    FREObject padded = rt.bitmap(2, 2, pixels, 7);
    EXPECT_EQ(rt.toNumber(ext.call("test_bitmapBlue", contiguous)), 10.0);
    EXPECT_EQ(rt.toNumber(ext.call("test_bitmapBlue", padded)), 10.0);
    EXPECT_FALSE(rt.isBitmapAcquired(padded));
    // Not a bitmap: the acquire fails and the extension returns null.
    EXPECT_EQ(ext.call("test_bitmapBlue", rt.number(1)), nullptr);
}

TEST_F(ExtensionLoading, CallLogRecordsTheExtensionsHostCallsInOrder) {
    kvohost::Extension ext(rt, KVO_TEST_EXTENSION_PATH, "Test");
    FREObject bitmap = rt.bitmap(1, 1);
    FREObject n = rt.number(2);
    rt.setCallLogging(true);
    const FREObject result = ext.call("test_bitmapBlue", bitmap);
    ext.call("test_sum", n);
    EXPECT_EQ(rt.calledFunctions(),
              (std::vector<std::string>{"FREAcquireBitmapData", "FREReleaseBitmapData", "FRENewObjectFromDouble",
                                        "FREGetObjectAsDouble", "FRENewObjectFromDouble"}));
    const std::vector<kvohost::CallRecord>& log = rt.callLog();
    EXPECT_EQ(log[0].arguments, rt.describe(bitmap) + ", ptr");
    EXPECT_EQ(log[0].output, "1 x 1, stride 1");
    EXPECT_EQ(log[2].arguments, "0, ptr");
    EXPECT_EQ(log[2].output, rt.describe(result));
    EXPECT_EQ(log[3].output, "2");
    for (const kvohost::CallRecord& r : log) EXPECT_EQ(r.result, FRE_OK) << r.function;

    rt.clearCallLog();
    ext.call("test_bitmapBlue", n);  // a failing acquire is logged with its code
    ASSERT_EQ(rt.callLog().size(), 1u);
    EXPECT_EQ(rt.callLog()[0].result, FRE_TYPE_MISMATCH);
    EXPECT_EQ(rt.callLog()[0].output, "");

    rt.setCallLogging(false);
    ext.call("test_sum", n);
    EXPECT_EQ(rt.callLog().size(), 1u);
}

TEST_F(ExtensionLoading, DestructionFinalizesTheContext) {
    int (*finalizerCalls)() = nullptr;
    {
        kvohost::Extension ext(rt, KVO_TEST_EXTENSION_PATH, "Test");
        void* lib = dlopen(KVO_TEST_EXTENSION_PATH, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(lib, nullptr);
        finalizerCalls = reinterpret_cast<int (*)()>(dlsym(lib, "TestContextFinalizerCalls"));
        dlclose(lib);
        ASSERT_NE(finalizerCalls, nullptr);
    }
    const int after = finalizerCalls();
    { kvohost::Extension again(rt, KVO_TEST_EXTENSION_PATH, "Test"); }
    EXPECT_EQ(finalizerCalls(), after + 1);
    EXPECT_GE(after, 1);
}

TEST_F(ExtensionLoading, MissingFileIsOneErrorLine) {
    const std::string e = errorOf(rt, "/nonexistent/libNothing.so", "Kestavo");
    EXPECT_EQ(e.rfind("Error: cannot load extension /nonexistent/libNothing.so", 0), 0u) << e;
    EXPECT_EQ(e.find('\n'), std::string::npos);
}

TEST_F(ExtensionLoading, MissingInitializerIsOneErrorLine) {
    const std::string e = errorOf(rt, KVO_TEST_EXTENSION_PATH, "Kestavo");
    EXPECT_EQ(e.rfind("Error: ", 0), 0u) << e;
    EXPECT_NE(e.find("KestavoExtInitializer"), std::string::npos) << e;
    EXPECT_EQ(e.find('\n'), std::string::npos);
}

}  // namespace
