#include "extension/HostValues.h"

#include <cmath>
#include <limits>

namespace kvo {
namespace host {

namespace {
const uint8_t* utf8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

uint32_t arrayLength(FREObject array) {
    uint32_t n = 0;
    if (FREGetArrayLength(array, &n) != FRE_OK) return 0;
    return n;
}

// Gives `array` the length n when it differs (or always), and returns its old length.
uint32_t prepareArray(FREObject array, uint32_t n, bool alwaysSetLength) {
    const uint32_t old = arrayLength(array);
    if (alwaysSetLength || old != n) FRESetArrayLength(array, n);
    return old;
}

void setNumberProperty(FREObject o, const char* name, double v) {
    FREObject value = nullptr;
    FRENewObjectFromDouble(v, &value);
    FRESetObjectProperty(o, utf8(name), value, nullptr);
}

void setIntProperty(FREObject o, const char* name, int32_t v) {
    FREObject value = nullptr;
    FRENewObjectFromInt32(v, &value);
    FRESetObjectProperty(o, utf8(name), value, nullptr);
}

// Element i of an object array: the existing object below the old length, otherwise a
// new instance of className that is stored at i after its properties are set (by
// `setProps`, called before storing so the host sees a complete object).
template <typename SetProps>
void fillObjectElement(FREObject array, uint32_t i, uint32_t oldLength, const char* className,
                       SetProps setProps) {
    if (i < oldLength) {
        FREObject element = nullptr;
        if (FREGetArrayElementAt(array, i, &element) == FRE_OK && element != nullptr) {
            setProps(element);
            return;
        }
    }
    FREObject created = nullptr;
    if (FRENewObject(utf8(className), 0, nullptr, &created, nullptr) != FRE_OK || created == nullptr) {
        return;
    }
    setProps(created);
    FRESetArrayElementAt(array, i, created);
}
}  // namespace

FREObject arg(uint32_t argc, FREObject argv[], uint32_t i) {
    if (argv == nullptr || i >= argc) return nullptr;
    return argv[i];
}

double readNumber(FREObject o, double fallback) {
    double v = fallback;
    if (o == nullptr || FREGetObjectAsDouble(o, &v) != FRE_OK) return fallback;
    return v;
}

int32_t readInt(FREObject o, int32_t fallback) {
    int32_t v = fallback;
    if (o == nullptr || FREGetObjectAsInt32(o, &v) != FRE_OK) return fallback;
    return v;
}

bool readBool(FREObject o) {
    uint32_t v = 0;
    if (o == nullptr || FREGetObjectAsBool(o, &v) != FRE_OK) return false;
    return v == 1;
}

std::string readString(FREObject o) {
    uint32_t length = 0;
    const uint8_t* value = nullptr;
    if (o == nullptr || FREGetObjectAsUTF8(o, &length, &value) != FRE_OK || value == nullptr) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(value), length);
}

void readPoint(FREObject o, Point& p) {
    FREObject x = nullptr, y = nullptr;
    if (o != nullptr) {
        if (FREGetObjectProperty(o, utf8("x"), &x, nullptr) != FRE_OK) x = nullptr;
        if (FREGetObjectProperty(o, utf8("y"), &y, nullptr) != FRE_OK) y = nullptr;
    }
    p.x = readNumber(x);
    p.y = readNumber(y);
}

FREObject newString(const std::string& s) {
    FREObject o = nullptr;
    FRENewObjectFromUTF8(static_cast<uint32_t>(s.size()), utf8(s.c_str()), &o);
    return o;
}

FREObject newNumber(double v) {
    FREObject o = nullptr;
    FRENewObjectFromDouble(v, &o);
    return o;
}

FREObject newBool(bool v) {
    FREObject o = nullptr;
    FRENewObjectFromBool(v ? 1u : 0u, &o);
    return o;
}

void fillNumberArray(FREObject array, const std::vector<double>& src) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    prepareArray(array, n, false);
    for (uint32_t i = 0; i < n; ++i) FRESetArrayElementAt(array, i, newNumber(src[i]));
}

void fillIntArray(FREObject array, const std::vector<int>& src) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    prepareArray(array, n, false);
    for (uint32_t i = 0; i < n; ++i) {
        FREObject o = nullptr;
        FRENewObjectFromInt32(src[i], &o);
        FRESetArrayElementAt(array, i, o);
    }
}

void fillBoolArray(FREObject array, const std::vector<bool>& src) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    prepareArray(array, n, true);
    for (uint32_t i = 0; i < n; ++i) FRESetArrayElementAt(array, i, newBool(src[i]));
}

void fillPointArray(FREObject array, const std::vector<PointPtr>& src) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    const uint32_t old = prepareArray(array, n, false);
    for (uint32_t i = 0; i < n; ++i) {
        const Point& p = *src[i];
        fillObjectElement(array, i, old, "flash.geom.Point", [&](FREObject o) {
            setNumberProperty(o, "x", p.x);
            setNumberProperty(o, "y", p.y);
        });
    }
}

void fillRectangleArray(FREObject array, const std::vector<RectanglePtr>& src) {
    const uint32_t n = static_cast<uint32_t>(src.size());
    const uint32_t old = prepareArray(array, n, false);
    for (uint32_t i = 0; i < n; ++i) {
        const Rectangle& r = *src[i];
        fillObjectElement(array, i, old, "flash.geom.Rectangle", [&](FREObject o) {
            setNumberProperty(o, "x", r.x);
            setNumberProperty(o, "y", r.y);
            setNumberProperty(o, "width", r.width);
            setNumberProperty(o, "height", r.height);
        });
    }
}

void setIntRectangle(FREObject object, const Rectangle& r) {
    setIntProperty(object, "x", truncToInt(r.x));
    setIntProperty(object, "y", truncToInt(r.y));
    setIntProperty(object, "width", truncToInt(r.width));
    setIntProperty(object, "height", truncToInt(r.height));
}

int32_t truncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace host
}  // namespace kvo
