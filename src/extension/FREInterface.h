#ifndef KVO_EXTENSION_FREINTERFACE_H
#define KVO_EXTENSION_FREINTERFACE_H
/*
 * The host runtime's native-extension (FRE) interface, as the library sees it.
 *
 * What it represents: the C types and functions through which a managed host runtime
 * and a native extension exchange values. The host defines the functions; the library
 * only declares and calls them, and they are resolved at load time from the process's
 * global symbol scope. The layouts and values below must match the host's binary
 * interface exactly (they are shared with C code and with 32-bit builds), so nothing
 * here may be reordered, resized or renumbered.
 *
 * Thread safety: the host allows these calls only on the thread that invoked the
 * current named function, one call at a time.
 *
 * Handles (FREObject) are opaque references owned by the host; an extension never
 * frees them and never looks inside them.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Declared with default visibility so that an extension compiled with hidden
 * visibility still leaves these references to be bound by the host process. */
#if defined(__GNUC__)
#define FRE_API __attribute__((visibility("default")))
#else
#define FRE_API
#endif

typedef void* FREContext;
typedef void* FREObject;

typedef enum {
    FRE_OK = 0,
    FRE_NO_SUCH_NAME = 1,
    FRE_INVALID_OBJECT = 2,
    FRE_TYPE_MISMATCH = 3,
    FRE_ACTIONSCRIPT_ERROR = 4,
    FRE_INVALID_ARGUMENT = 5,
    FRE_READ_ONLY = 6,
    FRE_WRONG_THREAD = 7,
    FRE_ILLEGAL_STATE = 8,
    FRE_INSUFFICIENT_MEMORY = 9,
    FREResult_ENUMPADDING = 0xfffff /* keeps the enum 32 bits wide */
} FREResult;

/* A named function: receives the context, the function data given in its table
 * record, the argument count and the argument handles; returns a result handle
 * (null for none). */
typedef FREObject (*FREFunction)(FREContext ctx, void* functionData, uint32_t argc,
                                 FREObject argv[]);

/* One record of the function table that a context initializer hands to the host.
 * `name` is NUL-terminated UTF-8. */
typedef struct FRENamedFunction_ {
    const uint8_t* name;
    void* functionData;
    FREFunction function;
} FRENamedFunction;

/* Called by the host when it creates a context: sets the number of functions and
 * the table (which must stay valid while the context lives). */
typedef void (*FREContextInitializer)(void* extData, const uint8_t* ctxType, FREContext ctx,
                                      uint32_t* numFunctionsToSet,
                                      const FRENamedFunction** functionsToSet);

typedef void (*FREContextFinalizer)(FREContext ctx);

/* The extension's exported entry point, `<prefix>ExtInitializer`: sets the extension
 * data and the context initializer and finalizer. */
typedef void (*FREInitializer)(void** extDataToSet, FREContextInitializer* ctxInitializerToSet,
                               FREContextFinalizer* ctxFinalizerToSet);

typedef void (*FREFinalizer)(void* extData);

/* Filled by FREAcquireBitmapData. Sizes in pixels; lineStride32 counts 32-bit pixels
 * from the start of one row to the next; bits32 stays valid until the matching
 * FREReleaseBitmapData. */
typedef struct {
    uint32_t width;
    uint32_t height;
    uint32_t hasAlpha;
    uint32_t isPremultiplied;
    uint32_t lineStride32;
    uint32_t* bits32;
} FREBitmapData;

/* Reading host values. */
FRE_API FREResult FREGetObjectAsInt32(FREObject object, int32_t* value);
FRE_API FREResult FREGetObjectAsUint32(FREObject object, uint32_t* value);
FRE_API FREResult FREGetObjectAsDouble(FREObject object, double* value);
FRE_API FREResult FREGetObjectAsBool(FREObject object, uint32_t* value);
/* `length` receives the byte count without the terminating NUL; `value` stays
 * valid until the current named function returns. */
FRE_API FREResult FREGetObjectAsUTF8(FREObject object, uint32_t* length, const uint8_t** value);

/* Creating host values. `length` of a UTF-8 text excludes the NUL. */
FRE_API FREResult FRENewObjectFromInt32(int32_t value, FREObject* object);
FRE_API FREResult FRENewObjectFromUint32(uint32_t value, FREObject* object);
FRE_API FREResult FRENewObjectFromDouble(double value, FREObject* object);
FRE_API FREResult FRENewObjectFromBool(uint32_t value, FREObject* object);
FRE_API FREResult FRENewObjectFromUTF8(uint32_t length, const uint8_t* value, FREObject* object);

/* Host objects: creation by class name, and properties by name. `thrownException`
 * may be null. */
FRE_API FREResult FRENewObject(const uint8_t* className, uint32_t argc, FREObject argv[],
                               FREObject* object, FREObject* thrownException);
FRE_API FREResult FREGetObjectProperty(FREObject object, const uint8_t* propertyName,
                                       FREObject* propertyValue, FREObject* thrownException);
FRE_API FREResult FRESetObjectProperty(FREObject object, const uint8_t* propertyName,
                                       FREObject propertyValue, FREObject* thrownException);

/* Bitmaps: pixel access between acquire and release. */
FRE_API FREResult FREAcquireBitmapData(FREObject object, FREBitmapData* descriptorToSet);
FRE_API FREResult FREReleaseBitmapData(FREObject object);

/* Arrays. */
FRE_API FREResult FREGetArrayLength(FREObject arrayOrVector, uint32_t* length);
FRE_API FREResult FRESetArrayLength(FREObject arrayOrVector, uint32_t length);
FRE_API FREResult FREGetArrayElementAt(FREObject arrayOrVector, uint32_t index, FREObject* value);
FRE_API FREResult FRESetArrayElementAt(FREObject arrayOrVector, uint32_t index, FREObject value);

#ifdef __cplusplus
}
#endif

#endif /* KVO_EXTENSION_FREINTERFACE_H */
