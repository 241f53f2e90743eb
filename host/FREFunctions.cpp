// The FRE functions exported by the stand-in host runtime. Each one finds the current
// Runtime, refuses calls from other threads, applies the semantics of FreOps.h and
// appends the call to the runtime's call log. An extension loaded with dlopen binds to
// these definitions from the process's global symbol scope.
#include <cinttypes>
#include <cstdio>
#include <new>
#include <string>

#include "extension/FREInterface.h"
#include "host/FreOps.h"
#include "host/Runtime.h"

namespace {

using kvohost::Runtime;
using kvohost::ObjectStore;
namespace fre = kvohost::fre;

std::string num(double d) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", d);
    return text;
}

std::string quoted(const uint8_t* s) {
    return s == nullptr ? std::string("null") : "\"" + std::string(reinterpret_cast<const char*>(s)) + "\"";
}

std::string quoted(const uint8_t* s, uint32_t n) {
    return s == nullptr ? std::string("null")
                        : "\"" + std::string(reinterpret_cast<const char*>(s), n) + "\"";
}

std::string ptr(const void* p) { return p == nullptr ? "null" : "ptr"; }

// Runs one FRE call: `describeArgs(rt)` and `describeOutput(rt)` make the log texts
// (only when logging), `op(store)` does the work.
template <class Args, class Op, class Output>
FREResult run(const char* name, bool isRelease, Args describeArgs, Op op, Output describeOutput) {
    Runtime* rt = Runtime::current();
    if (rt == nullptr) return FRE_ILLEGAL_STATE;
    if (!rt->onOwnerThread()) {
        rt->noteWrongThread();
        return FRE_WRONG_THREAD;
    }
    try {
        const bool logging = rt->callLogging();
        std::string args = logging ? describeArgs(*rt) : std::string();
        FREResult r;
        if (!isRelease && rt->strictBitmapAccess() && rt->store().acquiredBitmaps() > 0) {
            r = FRE_ILLEGAL_STATE;
        } else {
            r = op(rt->store());
        }
        if (logging) rt->record(name, std::move(args), r == FRE_OK ? describeOutput(*rt) : std::string(), r);
        return r;
    } catch (const std::bad_alloc&) {
        return FRE_INSUFFICIENT_MEMORY;
    }
}

std::string none(Runtime&) { return std::string(); }

std::string handleOut(Runtime& rt, const FREObject* o) { return o ? rt.describe(*o) : std::string(); }

}  // namespace

extern "C" {

FRE_API FREResult FREGetObjectAsInt32(FREObject object, int32_t* value) {
    return run("FREGetObjectAsInt32", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(value); },
               [&](ObjectStore& s) { return fre::getAsInt32(s, object, value); },
               [&](Runtime&) { return std::to_string(*value); });
}

FRE_API FREResult FREGetObjectAsUint32(FREObject object, uint32_t* value) {
    return run("FREGetObjectAsUint32", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(value); },
               [&](ObjectStore& s) { return fre::getAsUint32(s, object, value); },
               [&](Runtime&) { return std::to_string(*value); });
}

FRE_API FREResult FREGetObjectAsDouble(FREObject object, double* value) {
    return run("FREGetObjectAsDouble", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(value); },
               [&](ObjectStore& s) { return fre::getAsDouble(s, object, value); },
               [&](Runtime&) { return num(*value); });
}

FRE_API FREResult FREGetObjectAsBool(FREObject object, uint32_t* value) {
    return run("FREGetObjectAsBool", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(value); },
               [&](ObjectStore& s) { return fre::getAsBool(s, object, value); },
               [&](Runtime&) { return std::to_string(*value); });
}

FRE_API FREResult FREGetObjectAsUTF8(FREObject object, uint32_t* length, const uint8_t** value) {
    return run("FREGetObjectAsUTF8", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(length) + ", " + ptr(value); },
               [&](ObjectStore& s) { return fre::getAsUTF8(s, object, length, value); },
               [&](Runtime&) { return std::to_string(*length) + ", " + quoted(*value, *length); });
}

FRE_API FREResult FRENewObjectFromInt32(int32_t value, FREObject* object) {
    return run("FRENewObjectFromInt32", false,
               [&](Runtime&) { return std::to_string(value) + ", " + ptr(object); },
               [&](ObjectStore& s) { return fre::newFromInt32(s, value, object); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FRENewObjectFromUint32(uint32_t value, FREObject* object) {
    return run("FRENewObjectFromUint32", false,
               [&](Runtime&) { return std::to_string(value) + ", " + ptr(object); },
               [&](ObjectStore& s) { return fre::newFromUint32(s, value, object); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FRENewObjectFromDouble(double value, FREObject* object) {
    return run("FRENewObjectFromDouble", false,
               [&](Runtime&) { return num(value) + ", " + ptr(object); },
               [&](ObjectStore& s) { return fre::newFromDouble(s, value, object); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FRENewObjectFromBool(uint32_t value, FREObject* object) {
    return run("FRENewObjectFromBool", false,
               [&](Runtime&) { return std::to_string(value) + ", " + ptr(object); },
               [&](ObjectStore& s) { return fre::newFromBool(s, value, object); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FRENewObjectFromUTF8(uint32_t length, const uint8_t* value, FREObject* object) {
    return run("FRENewObjectFromUTF8", false,
               [&](Runtime&) { return std::to_string(length) + ", " + quoted(value, length) + ", " + ptr(object); },
               [&](ObjectStore& s) { return fre::newFromUTF8(s, length, value, object); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FRENewObject(const uint8_t* className, uint32_t argc, FREObject argv[],
                               FREObject* object, FREObject* thrownException) {
    return run("FRENewObject", false,
               [&](Runtime& rt) {
                   std::string a = quoted(className) + ", " + std::to_string(argc) + ", [";
                   for (uint32_t i = 0; argv != nullptr && i < argc; ++i) {
                       a += (i ? ", " : "") + rt.describe(argv[i]);
                   }
                   return a + "], " + ptr(object) + ", " + ptr(thrownException);
               },
               [&](ObjectStore& s) { return fre::newObject(s, className, argc, argv, object, thrownException); },
               [&](Runtime& rt) { return handleOut(rt, object); });
}

FRE_API FREResult FREGetObjectProperty(FREObject object, const uint8_t* propertyName,
                                       FREObject* propertyValue, FREObject* thrownException) {
    return run("FREGetObjectProperty", false,
               [&](Runtime& rt) {
                   return rt.describe(object) + ", " + quoted(propertyName) + ", " + ptr(propertyValue) + ", " +
                          ptr(thrownException);
               },
               [&](ObjectStore& s) {
                   return fre::getProperty(s, object, propertyName, propertyValue, thrownException);
               },
               [&](Runtime& rt) { return handleOut(rt, propertyValue); });
}

FRE_API FREResult FRESetObjectProperty(FREObject object, const uint8_t* propertyName,
                                       FREObject propertyValue, FREObject* thrownException) {
    return run("FRESetObjectProperty", false,
               [&](Runtime& rt) {
                   return rt.describe(object) + ", " + quoted(propertyName) + ", " + rt.describe(propertyValue) +
                          ", " + ptr(thrownException);
               },
               [&](ObjectStore& s) {
                   return fre::setProperty(s, object, propertyName, propertyValue, thrownException);
               },
               none);
}

FRE_API FREResult FREAcquireBitmapData(FREObject object, FREBitmapData* descriptorToSet) {
    return run("FREAcquireBitmapData", false,
               [&](Runtime& rt) { return rt.describe(object) + ", " + ptr(descriptorToSet); },
               [&](ObjectStore& s) { return fre::acquireBitmap(s, object, descriptorToSet); },
               [&](Runtime&) {
                   return std::to_string(descriptorToSet->width) + " x " + std::to_string(descriptorToSet->height) +
                          ", stride " + std::to_string(descriptorToSet->lineStride32);
               });
}

FRE_API FREResult FREReleaseBitmapData(FREObject object) {
    return run("FREReleaseBitmapData", true, [&](Runtime& rt) { return rt.describe(object); },
               [&](ObjectStore& s) { return fre::releaseBitmap(s, object); }, none);
}

FRE_API FREResult FREGetArrayLength(FREObject arrayOrVector, uint32_t* length) {
    return run("FREGetArrayLength", false,
               [&](Runtime& rt) { return rt.describe(arrayOrVector) + ", " + ptr(length); },
               [&](ObjectStore& s) { return fre::getArrayLength(s, arrayOrVector, length); },
               [&](Runtime&) { return std::to_string(*length); });
}

FRE_API FREResult FRESetArrayLength(FREObject arrayOrVector, uint32_t length) {
    return run("FRESetArrayLength", false,
               [&](Runtime& rt) { return rt.describe(arrayOrVector) + ", " + std::to_string(length); },
               [&](ObjectStore& s) { return fre::setArrayLength(s, arrayOrVector, length); }, none);
}

FRE_API FREResult FREGetArrayElementAt(FREObject arrayOrVector, uint32_t index, FREObject* value) {
    return run("FREGetArrayElementAt", false,
               [&](Runtime& rt) {
                   return rt.describe(arrayOrVector) + ", " + std::to_string(index) + ", " + ptr(value);
               },
               [&](ObjectStore& s) { return fre::getArrayElement(s, arrayOrVector, index, value); },
               [&](Runtime& rt) { return handleOut(rt, value); });
}

FRE_API FREResult FRESetArrayElementAt(FREObject arrayOrVector, uint32_t index, FREObject value) {
    return run("FRESetArrayElementAt", false,
               [&](Runtime& rt) {
                   return rt.describe(arrayOrVector) + ", " + std::to_string(index) + ", " + rt.describe(value);
               },
               [&](ObjectStore& s) { return fre::setArrayElement(s, arrayOrVector, index, value); }, none);
}

}  // extern "C"
