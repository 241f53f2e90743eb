#pragma once
// The semantics of each FRE call over an ObjectStore.
//
// What it represents: the result codes and conversions of the host runtime, kept apart
// from the exported C functions (which add the runtime lookup, the thread check and the
// call log) so that the C++ API reads values with exactly the same rules.
//
// Result codes, for every call: FRE_INVALID_ARGUMENT for a null out-pointer or name,
// FRE_INVALID_OBJECT for a null or unknown handle where an object is needed,
// FRE_TYPE_MISMATCH for an object of the wrong kind, FRE_NO_SUCH_NAME for an unknown
// class or property, FRE_READ_ONLY for a read-only property, FRE_ILLEGAL_STATE for a
// nested bitmap acquire or a release without acquire, FRE_INSUFFICIENT_MEMORY when the
// arena or an array cannot grow. Out-parameters are written only on FRE_OK (except
// thrownException, which is set to null, or to an "Error" object on
// FRE_ACTIONSCRIPT_ERROR).
//
// Thread safety: none; use from the store's thread.
#include <cstdint>

#include "extension/FREInterface.h"
#include "host/ObjectStore.h"

namespace kvohost {
namespace fre {

// Largest array length the runtime stores (arrays are dense here).
constexpr uint32_t MAX_ARRAY_LENGTH = 1u << 24;

// The managed runtime's number-to-integer conversions: truncation toward zero, then
// modulo 2^32; NaN and infinities give 0.
int32_t toInt32(double d);
uint32_t toUint32(double d);

FREResult getAsInt32(ObjectStore& s, FREObject o, int32_t* value);
FREResult getAsUint32(ObjectStore& s, FREObject o, uint32_t* value);
FREResult getAsDouble(ObjectStore& s, FREObject o, double* value);
FREResult getAsBool(ObjectStore& s, FREObject o, uint32_t* value);
FREResult getAsUTF8(ObjectStore& s, FREObject o, uint32_t* length, const uint8_t** value);

FREResult newFromInt32(ObjectStore& s, int32_t value, FREObject* o);
FREResult newFromUint32(ObjectStore& s, uint32_t value, FREObject* o);
FREResult newFromDouble(ObjectStore& s, double value, FREObject* o);
FREResult newFromBool(ObjectStore& s, uint32_t value, FREObject* o);
FREResult newFromUTF8(ObjectStore& s, uint32_t length, const uint8_t* value, FREObject* o);

FREResult newObject(ObjectStore& s, const uint8_t* className, uint32_t argc, FREObject argv[],
                    FREObject* o, FREObject* thrownException);
FREResult getProperty(ObjectStore& s, FREObject o, const uint8_t* name, FREObject* value,
                      FREObject* thrownException);
FREResult setProperty(ObjectStore& s, FREObject o, const uint8_t* name, FREObject value,
                      FREObject* thrownException);

FREResult acquireBitmap(ObjectStore& s, FREObject o, FREBitmapData* descriptor);
FREResult releaseBitmap(ObjectStore& s, FREObject o);

FREResult getArrayLength(ObjectStore& s, FREObject o, uint32_t* length);
FREResult setArrayLength(ObjectStore& s, FREObject o, uint32_t length);
FREResult getArrayElement(ObjectStore& s, FREObject o, uint32_t index, FREObject* value);
FREResult setArrayElement(ObjectStore& s, FREObject o, uint32_t index, FREObject value);

// The name of a result code ("FRE_OK", ...).
const char* resultName(FREResult r);

}  // namespace fre
}  // namespace kvohost
