#pragma once
// The stand-in host runtime: the object arena behind the exported FRE functions, and
// a C++ API to make and read host values.
//
// What it represents: the part of a managed host runtime that a native extension
// sees. At most one Runtime exists at a time; while it exists, the FRE functions that
// libkvohost exports (and that a dlopen'ed extension binds to) act on its objects.
// Without a Runtime they return FRE_ILLEGAL_STATE.
//
// Object lifetime: the runtime owns every object. Handles stay valid until clear(),
// until the runtime is destroyed, or until a release() (or a Scope's end) that finds
// the object both younger than the mark and unreachable from older objects. A frame
// loop keeps memory flat by opening a Scope per frame: the frame's bitmap, arguments
// and the values the extension returns are freed at its end, while objects the
// extension stored into arrays made before the Scope survive.
//
// Call log: when enabled, every FRE call on the runtime's thread is appended to the
// log (function name, arguments, result) in call order; the log grows until cleared.
//
// Errors: the typed readers and the creators throw HostError ("Error: ..."); the FRE
// functions never throw.
//
// Thread safety: none. The runtime belongs to the thread that created it; an FRE call
// from any other thread returns FRE_WRONG_THREAD without touching any state and is
// counted in wrongThreadCalls().
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "extension/FREInterface.h"
#include "host/HostObject.h"
#include "host/ObjectStore.h"

namespace kvohost {

// One FRE call as the runtime received it.
struct CallRecord {
    std::string function;   // e.g. "FREAcquireBitmapData"
    // e.g. "#3, 0, ptr": handles as #<slot> (unknown ones as ?<hex>), null handles and
    // out-pointers as "null", other out-pointers as "ptr", texts quoted.
    std::string arguments;
    std::string output;     // what the call stored on FRE_OK, e.g. "#12" or "42"; else empty
    FREResult result = FRE_OK;
};

struct PointValue {
    double x = 0.0, y = 0.0;
};

struct RectangleValue {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
};

class Runtime {
public:
    // Ensures: this runtime is current(). Throws HostError if another runtime exists.
    Runtime();
    // Frees every object; current() becomes null.
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // The live runtime, or null.
    static Runtime* current();

    // --- Creating values. Each returns a new handle; throws HostError when the arena is full.
    FREObject number(double value);
    FREObject integer(int32_t value);
    FREObject boolean(bool value);
    FREObject string(const std::string& utf8);
    FREObject array(std::size_t length = 0);  // `length` null elements
    FREObject array(std::initializer_list<FREObject> elements);
    FREObject numberArray(const std::vector<double>& values);
    FREObject object();  // a plain "Object"
    FREObject point(double x = 0.0, double y = 0.0);
    FREObject rectangle(double x = 0.0, double y = 0.0, double width = 0.0, double height = 0.0);
    // A width x height bitmap (pixels, both > 0) whose rows lie `stride` pixels apart
    // (0 means `width`; otherwise requires stride >= width). `pixels`, when given, holds
    // height rows of `width` words, `pixelStride` words apart (0 means `width`);
    // without it the bitmap is zero-filled. Padding words past `width` are zero.
    FREObject bitmap(uint32_t width, uint32_t height, const uint32_t* pixels = nullptr,
                     uint32_t stride = 0, uint32_t pixelStride = 0);
    // Copies height rows of width words (`pixelStride` apart, 0 = width) into the
    // bitmap, without reallocating.
    void setBitmapPixels(FREObject bitmap, const uint32_t* pixels, uint32_t pixelStride = 0);
    // The bitmap's first pixel word, rows bitmapStride() words apart.
    uint32_t* bitmapPixels(FREObject bitmap);
    uint32_t bitmapStride(FREObject bitmap) const;
    bool isBitmapAcquired(FREObject bitmap) const;

    // --- Reading values back (with the FRE conversions; HostError on a mismatch).
    bool isValid(FREObject handle) const;
    Kind kind(FREObject handle) const;
    double toNumber(FREObject handle);
    int32_t toInt(FREObject handle);
    bool toBool(FREObject handle);
    std::string toString(FREObject handle);
    uint32_t length(FREObject array);
    FREObject element(FREObject array, uint32_t index);
    void setElement(FREObject array, uint32_t index, FREObject value);
    FREObject property(FREObject object, const std::string& name);
    void setProperty(FREObject object, const std::string& name, FREObject value);
    PointValue toPoint(FREObject point) const;
    RectangleValue toRectangle(FREObject rectangle) const;
    std::vector<double> toNumbers(FREObject array);
    std::vector<PointValue> toPoints(FREObject array);

    // --- Object lifetime (see the class comment).
    using Mark = ObjectStore::Mark;
    Mark mark() const { return store_.mark(); }
    void release(Mark m) { store_.release(m); }
    void clear() { store_.clear(); }
    std::size_t objectCount() const { return store_.size(); }
    std::size_t arenaCapacity() const { return store_.capacity(); }  // slots, live or free

    // Releases to the mark taken at its construction when it ends.
    class Scope {
    public:
        explicit Scope(Runtime& runtime) : runtime_(runtime), mark_(runtime.mark()) {}
        ~Scope() { runtime_.release(mark_); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Runtime& runtime_;
        Mark mark_;
    };

    // --- Call log.
    void setCallLogging(bool enabled) { logging_ = enabled; }
    bool callLogging() const { return logging_; }
    const std::vector<CallRecord>& callLog() const { return log_; }
    std::vector<std::string> calledFunctions() const;  // names only, in order
    void clearCallLog() { log_.clear(); }

    // When set, every FRE call other than FREReleaseBitmapData made while a bitmap is
    // acquired returns FRE_ILLEGAL_STATE (the stricter rule of some host runtimes).
    // Off by default.
    void setStrictBitmapAccess(bool strict) { strictBitmapAccess_ = strict; }
    bool strictBitmapAccess() const { return strictBitmapAccess_; }

    // FRE calls refused because they came from another thread.
    std::size_t wrongThreadCalls() const { return wrongThreadCalls_.load(); }

    // --- For the exported FRE functions.
    ObjectStore& store() { return store_; }
    bool onOwnerThread() const { return pthread_equal(pthread_self(), owner_) != 0; }
    void noteWrongThread() { ++wrongThreadCalls_; }
    void record(const char* function, std::string arguments, std::string output, FREResult result);
    // "#<slot>" for a live handle, "null", or "?<hex>" for an unknown value.
    std::string describe(FREObject handle) const;

private:
    HostObject& expect(FREObject handle, Kind kind, const char* what);
    const HostObject& expect(FREObject handle, Kind kind, const char* what) const;
    // Returns `handle` when `r` is FRE_OK (read after the call that set it); throws otherwise.
    FREObject created(FREResult r, const FREObject& handle, const char* what);

    ObjectStore store_;
    pthread_t owner_;
    bool logging_ = false;
    bool strictBitmapAccess_ = false;
    std::vector<CallRecord> log_;
    std::atomic<std::size_t> wrongThreadCalls_{0};
};

}  // namespace kvohost
