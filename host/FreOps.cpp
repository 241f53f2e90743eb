#include "host/FreOps.h"

#include <cmath>
#include <cstring>
#include <string>

namespace kvohost {
namespace fre {

namespace {

const char* cstr(const uint8_t* s) { return reinterpret_cast<const char*>(s); }

// True when bytes [p, p + n) are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(const uint8_t* p, uint32_t n) {
    uint32_t i = 0;
    while (i < n) {
        const uint8_t c = p[i];
        uint32_t extra;
        uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1Fu; }
        else if (c >= 0xE0 && c <= 0xEF) { extra = 2; cp = c & 0x0Fu; }
        else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07u; }
        else return false;
        if (n - i <= extra) return false;
        for (uint32_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000)) return false;
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
        i += extra + 1;
    }
    return true;
}

// Reads a Number or int as a double. Null is a type mismatch (numeric parameters
// here accept numbers only).
FREResult numeric(ObjectStore& s, FREObject o, double* d) {
    if (o == nullptr) return FRE_TYPE_MISMATCH;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind == Kind::Number) { *d = obj->number; return FRE_OK; }
    if (obj->kind == Kind::Int) { *d = obj->integer; return FRE_OK; }
    return FRE_TYPE_MISMATCH;
}

FREResult newNumber(ObjectStore& s, double d, FREObject* o) {
    const FREObject h = s.create(Kind::Number);
    if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
    s.get(h)->number = d;
    *o = h;
    return FRE_OK;
}

FREResult newString(ObjectStore& s, const std::string& text, FREObject* o) {
    const FREObject h = s.create(Kind::String);
    if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
    s.get(h)->text = text;
    *o = h;
    return FRE_OK;
}

// Creates an "Error" object whose "message" is `message`, stores it in
// *thrownException when given, and returns FRE_ACTIONSCRIPT_ERROR.
FREResult thrown(ObjectStore& s, const std::string& message, FREObject* thrownException) {
    if (thrownException != nullptr) {
        FREObject text = nullptr;
        const FREObject error = s.create(Kind::Object);
        if (error != nullptr && newString(s, message, &text) == FRE_OK) {
            HostObject* e = s.get(error);
            e->className = "Error";
            e->properties.emplace_back("message", text);
            *thrownException = error;
        }
    }
    return FRE_ACTIONSCRIPT_ERROR;
}

// Validates a non-null handle; null is allowed (the managed null).
bool isNullOrKnown(ObjectStore& s, FREObject o) { return o == nullptr || s.get(o) != nullptr; }

FREResult resize(HostObject* array, uint64_t length) {
    if (length > MAX_ARRAY_LENGTH) return FRE_INSUFFICIENT_MEMORY;
    try {
        array->elements.resize(std::size_t(length), nullptr);
    } catch (const std::bad_alloc&) {
        return FRE_INSUFFICIENT_MEMORY;
    }
    return FRE_OK;
}

// Reads up to `count` numeric constructor arguments into `out` (defaults kept).
FREResult numericArgs(ObjectStore& s, uint32_t argc, FREObject argv[], uint32_t count,
                      double* out[], const char* className, FREObject* thrownException) {
    if (argc > count) {
        return thrown(s, std::string("ArgumentError: Error #1063: Argument count mismatch on ") +
                             className + ". Expected no more than " + std::to_string(count) +
                             ", got " + std::to_string(argc) + ".",
                      thrownException);
    }
    for (uint32_t i = 0; i < argc; ++i) {
        const FREResult r = numeric(s, argv[i], out[i]);
        if (r != FRE_OK) return r;
    }
    return FRE_OK;
}

}  // namespace

int32_t toInt32(double d) { return int32_t(toUint32(d)); }

uint32_t toUint32(double d) {
    if (!std::isfinite(d)) return 0;
    double m = std::fmod(std::trunc(d), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return uint32_t(m);
}

FREResult getAsInt32(ObjectStore& s, FREObject o, int32_t* value) {
    if (value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind == Kind::Int) { *value = obj->integer; return FRE_OK; }
    if (obj->kind == Kind::Number) { *value = toInt32(obj->number); return FRE_OK; }
    return FRE_TYPE_MISMATCH;
}

FREResult getAsUint32(ObjectStore& s, FREObject o, uint32_t* value) {
    if (value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind == Kind::Int) { *value = uint32_t(obj->integer); return FRE_OK; }
    if (obj->kind == Kind::Number) { *value = toUint32(obj->number); return FRE_OK; }
    return FRE_TYPE_MISMATCH;
}

FREResult getAsDouble(ObjectStore& s, FREObject o, double* value) {
    if (value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind == Kind::Number) { *value = obj->number; return FRE_OK; }
    if (obj->kind == Kind::Int) { *value = obj->integer; return FRE_OK; }
    return FRE_TYPE_MISMATCH;
}

FREResult getAsBool(ObjectStore& s, FREObject o, uint32_t* value) {
    if (value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Boolean) return FRE_TYPE_MISMATCH;
    *value = obj->boolean ? 1u : 0u;
    return FRE_OK;
}

FREResult getAsUTF8(ObjectStore& s, FREObject o, uint32_t* length, const uint8_t** value) {
    if (length == nullptr || value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::String) return FRE_TYPE_MISMATCH;
    *length = uint32_t(obj->text.size());
    *value = reinterpret_cast<const uint8_t*>(obj->text.c_str());  // NUL-terminated
    return FRE_OK;
}

FREResult newFromInt32(ObjectStore& s, int32_t value, FREObject* o) {
    if (o == nullptr) return FRE_INVALID_ARGUMENT;
    const FREObject h = s.create(Kind::Int);
    if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
    s.get(h)->integer = value;
    *o = h;
    return FRE_OK;
}

FREResult newFromUint32(ObjectStore& s, uint32_t value, FREObject* o) {
    if (o == nullptr) return FRE_INVALID_ARGUMENT;
    // The managed runtime keeps a uint above the int range as a Number.
    if (value > uint32_t(INT32_MAX)) return newNumber(s, double(value), o);
    return newFromInt32(s, int32_t(value), o);
}

FREResult newFromDouble(ObjectStore& s, double value, FREObject* o) {
    if (o == nullptr) return FRE_INVALID_ARGUMENT;
    return newNumber(s, value, o);
}

FREResult newFromBool(ObjectStore& s, uint32_t value, FREObject* o) {
    if (o == nullptr) return FRE_INVALID_ARGUMENT;
    const FREObject h = s.create(Kind::Boolean);
    if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
    s.get(h)->boolean = value != 0;
    *o = h;
    return FRE_OK;
}

FREResult newFromUTF8(ObjectStore& s, uint32_t length, const uint8_t* value, FREObject* o) {
    if (o == nullptr || value == nullptr) return FRE_INVALID_ARGUMENT;
    if (!isValidUtf8(value, length)) return FRE_INVALID_ARGUMENT;
    return newString(s, std::string(cstr(value), length), o);
}

FREResult newObject(ObjectStore& s, const uint8_t* className, uint32_t argc, FREObject argv[],
                    FREObject* o, FREObject* thrownException) {
    if (thrownException != nullptr) *thrownException = nullptr;
    if (className == nullptr || o == nullptr || (argc > 0 && argv == nullptr)) {
        return FRE_INVALID_ARGUMENT;
    }
    for (uint32_t i = 0; i < argc; ++i) {
        if (!isNullOrKnown(s, argv[i])) return FRE_INVALID_OBJECT;
    }
    const std::string name = cstr(className);
    if (name == "flash.geom.Point") {
        double x = 0, y = 0;
        double* out[] = {&x, &y};
        const FREResult r = numericArgs(s, argc, argv, 2, out, name.c_str(), thrownException);
        if (r != FRE_OK) return r;
        const FREObject h = s.create(Kind::Point);
        if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
        HostObject* p = s.get(h);
        p->x = x;
        p->y = y;
        *o = h;
        return FRE_OK;
    }
    if (name == "flash.geom.Rectangle") {
        double x = 0, y = 0, w = 0, h = 0;
        double* out[] = {&x, &y, &w, &h};
        const FREResult r = numericArgs(s, argc, argv, 4, out, name.c_str(), thrownException);
        if (r != FRE_OK) return r;
        const FREObject handle = s.create(Kind::Rectangle);
        if (handle == nullptr) return FRE_INSUFFICIENT_MEMORY;
        HostObject* rect = s.get(handle);
        rect->x = x;
        rect->y = y;
        rect->width = w;
        rect->height = h;
        *o = handle;
        return FRE_OK;
    }
    if (name == "Object") {
        if (argc != 0) {
            return thrown(s, "ArgumentError: Object takes no arguments here.", thrownException);
        }
        const FREObject h = s.create(Kind::Object);
        if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
        s.get(h)->className = "Object";
        *o = h;
        return FRE_OK;
    }
    if (name == "Array") {
        // As in the managed runtime: new Array(n) gives n empty slots, any other
        // argument list gives those elements.
        uint64_t length = argc;
        bool lengthOnly = false;
        double n = 0;
        if (argc == 1 && numeric(s, argv[0], &n) == FRE_OK) {
            if (!(n >= 0) || n != std::floor(n) || n > 4294967295.0) {
                return thrown(s, "RangeError: Error #1005: Array index is not a positive integer (" +
                                     std::to_string(n) + ").",
                              thrownException);
            }
            length = uint64_t(n);
            lengthOnly = true;
        }
        if (length > MAX_ARRAY_LENGTH) return FRE_INSUFFICIENT_MEMORY;
        const FREObject h = s.create(Kind::Array);
        if (h == nullptr) return FRE_INSUFFICIENT_MEMORY;
        HostObject* array = s.get(h);
        if (resize(array, length) != FRE_OK) return FRE_INSUFFICIENT_MEMORY;
        if (!lengthOnly) {
            for (uint32_t i = 0; i < argc; ++i) array->elements[i] = argv[i];
        }
        *o = h;
        return FRE_OK;
    }
    return FRE_NO_SUCH_NAME;
}

FREResult getProperty(ObjectStore& s, FREObject o, const uint8_t* name, FREObject* value,
                      FREObject* thrownException) {
    if (thrownException != nullptr) *thrownException = nullptr;
    if (name == nullptr || value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    const std::string key = cstr(name);
    switch (obj->kind) {
        case Kind::Object:
            for (const auto& p : obj->properties) {
                if (p.first == key) {
                    *value = p.second;
                    return FRE_OK;
                }
            }
            return FRE_NO_SUCH_NAME;
        case Kind::Point:
            if (key == "x") return newNumber(s, obj->x, value);
            if (key == "y") return newNumber(s, obj->y, value);
            if (key == "length") return newNumber(s, std::sqrt(obj->x * obj->x + obj->y * obj->y), value);
            return FRE_NO_SUCH_NAME;
        case Kind::Rectangle:
            if (key == "x") return newNumber(s, obj->x, value);
            if (key == "y") return newNumber(s, obj->y, value);
            if (key == "width") return newNumber(s, obj->width, value);
            if (key == "height") return newNumber(s, obj->height, value);
            return FRE_NO_SUCH_NAME;
        case Kind::Array:
            if (key == "length") return newFromUint32(s, uint32_t(obj->elements.size()), value);
            return FRE_NO_SUCH_NAME;
        case Kind::Bitmap:
            if (key == "width") return newFromInt32(s, int32_t(obj->bitmapWidth), value);
            if (key == "height") return newFromInt32(s, int32_t(obj->bitmapHeight), value);
            if (key == "transparent") return newFromBool(s, obj->hasAlpha ? 1 : 0, value);
            return FRE_NO_SUCH_NAME;
        default:
            return FRE_TYPE_MISMATCH;
    }
}

FREResult setProperty(ObjectStore& s, FREObject o, const uint8_t* name, FREObject value,
                      FREObject* thrownException) {
    if (thrownException != nullptr) *thrownException = nullptr;
    if (name == nullptr) return FRE_INVALID_ARGUMENT;
    HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (!isNullOrKnown(s, value)) return FRE_INVALID_OBJECT;
    const std::string key = cstr(name);
    double d = 0;
    switch (obj->kind) {
        case Kind::Object:
            for (auto& p : obj->properties) {
                if (p.first == key) {
                    p.second = value;
                    return FRE_OK;
                }
            }
            obj->properties.emplace_back(key, value);
            return FRE_OK;
        case Kind::Point:
        case Kind::Rectangle: {
            double* field = nullptr;
            if (key == "x") field = &obj->x;
            else if (key == "y") field = &obj->y;
            else if (obj->kind == Kind::Rectangle && key == "width") field = &obj->width;
            else if (obj->kind == Kind::Rectangle && key == "height") field = &obj->height;
            else if (obj->kind == Kind::Point && key == "length") return FRE_READ_ONLY;
            else return FRE_NO_SUCH_NAME;
            const FREResult r = numeric(s, value, &d);
            if (r != FRE_OK) return r;
            *field = d;
            return FRE_OK;
        }
        case Kind::Array: {
            if (key != "length") return FRE_NO_SUCH_NAME;
            const FREResult r = numeric(s, value, &d);
            if (r != FRE_OK) return r;
            if (!(d >= 0) || d != std::floor(d) || d > 4294967295.0) {
                return thrown(s, "RangeError: Error #1005: Array index is not a positive integer (" +
                                     std::to_string(d) + ").",
                              thrownException);
            }
            return resize(obj, uint64_t(d));
        }
        case Kind::Bitmap:
            if (key == "width" || key == "height" || key == "transparent") return FRE_READ_ONLY;
            return FRE_NO_SUCH_NAME;
        default:
            return FRE_TYPE_MISMATCH;
    }
}

FREResult acquireBitmap(ObjectStore& s, FREObject o, FREBitmapData* descriptor) {
    if (descriptor == nullptr) return FRE_INVALID_ARGUMENT;
    HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Bitmap) return FRE_TYPE_MISMATCH;
    if (obj->acquired) return FRE_ILLEGAL_STATE;
    obj->acquired = true;
    s.noteAcquired(true);
    descriptor->width = obj->bitmapWidth;
    descriptor->height = obj->bitmapHeight;
    descriptor->hasAlpha = obj->hasAlpha ? 1u : 0u;
    descriptor->isPremultiplied = obj->premultiplied ? 1u : 0u;
    descriptor->lineStride32 = obj->stride;
    descriptor->bits32 = obj->pixels.data();
    return FRE_OK;
}

FREResult releaseBitmap(ObjectStore& s, FREObject o) {
    HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Bitmap) return FRE_TYPE_MISMATCH;
    if (!obj->acquired) return FRE_ILLEGAL_STATE;
    obj->acquired = false;
    s.noteAcquired(false);
    return FRE_OK;
}

FREResult getArrayLength(ObjectStore& s, FREObject o, uint32_t* length) {
    if (length == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Array) return FRE_TYPE_MISMATCH;
    *length = uint32_t(obj->elements.size());
    return FRE_OK;
}

FREResult setArrayLength(ObjectStore& s, FREObject o, uint32_t length) {
    HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Array) return FRE_TYPE_MISMATCH;
    return resize(obj, length);
}

FREResult getArrayElement(ObjectStore& s, FREObject o, uint32_t index, FREObject* value) {
    if (value == nullptr) return FRE_INVALID_ARGUMENT;
    const HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Array) return FRE_TYPE_MISMATCH;
    if (index >= obj->elements.size()) return FRE_INVALID_ARGUMENT;
    *value = obj->elements[index];
    return FRE_OK;
}

FREResult setArrayElement(ObjectStore& s, FREObject o, uint32_t index, FREObject value) {
    HostObject* obj = s.get(o);
    if (obj == nullptr) return FRE_INVALID_OBJECT;
    if (obj->kind != Kind::Array) return FRE_TYPE_MISMATCH;
    if (!isNullOrKnown(s, value)) return FRE_INVALID_OBJECT;
    if (index >= obj->elements.size()) {
        const FREResult r = resize(obj, uint64_t(index) + 1);
        if (r != FRE_OK) return r;
    }
    obj->elements[index] = value;
    return FRE_OK;
}

const char* resultName(FREResult r) {
    switch (r) {
        case FRE_OK: return "FRE_OK";
        case FRE_NO_SUCH_NAME: return "FRE_NO_SUCH_NAME";
        case FRE_INVALID_OBJECT: return "FRE_INVALID_OBJECT";
        case FRE_TYPE_MISMATCH: return "FRE_TYPE_MISMATCH";
        case FRE_ACTIONSCRIPT_ERROR: return "FRE_ACTIONSCRIPT_ERROR";
        case FRE_INVALID_ARGUMENT: return "FRE_INVALID_ARGUMENT";
        case FRE_READ_ONLY: return "FRE_READ_ONLY";
        case FRE_WRONG_THREAD: return "FRE_WRONG_THREAD";
        case FRE_ILLEGAL_STATE: return "FRE_ILLEGAL_STATE";
        case FRE_INSUFFICIENT_MEMORY: return "FRE_INSUFFICIENT_MEMORY";
        default: return "FRE_(unknown)";
    }
}

}  // namespace fre
}  // namespace kvohost
