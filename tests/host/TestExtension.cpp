// A two-function native extension used to test extension loading and the host calls
// an extension makes. It exports TestExtInitializer, TestExtFinalizer and a counter of
// finalizer calls; everything else is hidden.
//   "test_sum":        the sum of all arguments read as doubles, plus the double that
//                      the function data points to; an argument that cannot be read
//                      counts as 0.
//   "test_bitmapBlue": acquires the bitmap in argument 0, sums the blue byte of each
//                      pixel row by row (honouring the line stride), releases it and
//                      returns the sum as a Number; null if the acquire fails.
#include <stdint.h>

#include "extension/FREInterface.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

double gSumOffset = 100.0;
int gContextFinalizerCalls = 0;

FREObject sum(FREContext, void* functionData, uint32_t argc, FREObject argv[]) {
    double total = *static_cast<const double*>(functionData);
    for (uint32_t i = 0; i < argc; ++i) {
        double v = 0.0;
        if (FREGetObjectAsDouble(argv[i], &v) == FRE_OK) total += v;
    }
    FREObject result = nullptr;
    FRENewObjectFromDouble(total, &result);
    return result;
}

FREObject bitmapBlue(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (argc < 1) return nullptr;
    FREBitmapData bitmap;
    if (FREAcquireBitmapData(argv[0], &bitmap) != FRE_OK) return nullptr;
    double total = 0.0;
    for (uint32_t y = 0; y < bitmap.height; ++y) {
        const uint32_t* row = bitmap.bits32 + static_cast<uint64_t>(y) * bitmap.lineStride32;
        for (uint32_t x = 0; x < bitmap.width; ++x) total += row[x] & 0xFFu;
    }
    FREReleaseBitmapData(argv[0]);
    FREObject result = nullptr;
    FRENewObjectFromDouble(total, &result);
    return result;
}

const FRENamedFunction gFunctions[] = {
    {reinterpret_cast<const uint8_t*>("test_sum"), &gSumOffset, &sum},
    {reinterpret_cast<const uint8_t*>("test_bitmapBlue"), nullptr, &bitmapBlue},
};

void contextInitializer(void*, const uint8_t*, FREContext, uint32_t* numFunctionsToSet,
                        const FRENamedFunction** functionsToSet) {
    *numFunctionsToSet = sizeof gFunctions / sizeof gFunctions[0];
    *functionsToSet = gFunctions;
}

void contextFinalizer(FREContext) { ++gContextFinalizerCalls; }

}  // namespace

TEST_EXPORT void TestExtInitializer(void** extDataToSet, FREContextInitializer* ctxInitializerToSet,
                                    FREContextFinalizer* ctxFinalizerToSet) {
    *extDataToSet = nullptr;
    *ctxInitializerToSet = &contextInitializer;
    *ctxFinalizerToSet = &contextFinalizer;
}

TEST_EXPORT void TestExtFinalizer(void*) {}

TEST_EXPORT int TestContextFinalizerCalls() { return gContextFinalizerCalls; }
