#include "host/Runtime.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "host/FreOps.h"
#include "host/HostError.h"

namespace kvohost {

namespace {

std::atomic<Runtime*> gCurrent{nullptr};

// The largest bitmap the runtime makes, in pixels (including row padding).
constexpr uint64_t MAX_BITMAP_PIXELS = uint64_t(1) << 26;

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.c_str()); }

}  // namespace

Runtime::Runtime() : owner_(pthread_self()) {
    Runtime* expected = nullptr;
    if (!gCurrent.compare_exchange_strong(expected, this)) {
        throw HostError("a host runtime already exists; destroy it before creating another");
    }
}

Runtime::~Runtime() {
    store_.clear();
    gCurrent.store(nullptr);
}

Runtime* Runtime::current() { return gCurrent.load(); }

FREObject Runtime::created(FREResult r, const FREObject& handle, const char* what) {
    if (r != FRE_OK) {
        throw HostError(std::string("cannot create ") + what + ": " + fre::resultName(r));
    }
    return handle;
}

FREObject Runtime::number(double value) {
    FREObject h = nullptr;
    return created(fre::newFromDouble(store_, value, &h), h, "a Number");
}

FREObject Runtime::integer(int32_t value) {
    FREObject h = nullptr;
    return created(fre::newFromInt32(store_, value, &h), h, "an int");
}

FREObject Runtime::boolean(bool value) {
    FREObject h = nullptr;
    return created(fre::newFromBool(store_, value ? 1u : 0u, &h), h, "a Boolean");
}

FREObject Runtime::string(const std::string& utf8) {
    const uint64_t size = utf8.size();
    if (size > UINT32_MAX) throw HostError("cannot create a String: text too long");
    FREObject h = nullptr;
    return created(fre::newFromUTF8(store_, uint32_t(utf8.size()), bytes(utf8), &h), h,
                   "a String (is the text valid UTF-8?)");
}

FREObject Runtime::array(std::size_t length) {
    if (length > fre::MAX_ARRAY_LENGTH) throw HostError("cannot create an Array: length too large");
    FREObject h = nullptr;
    created(fre::newObject(store_, bytes("Array"), 0, nullptr, &h, nullptr), h, "an Array");
    created(fre::setArrayLength(store_, h, uint32_t(length)), h, "an Array");
    return h;
}

FREObject Runtime::array(std::initializer_list<FREObject> elements) {
    const FREObject h = array(0);
    uint32_t i = 0;
    for (FREObject e : elements) setElement(h, i++, e);
    return h;
}

FREObject Runtime::numberArray(const std::vector<double>& values) {
    const FREObject h = array(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) setElement(h, uint32_t(i), number(values[i]));
    return h;
}

FREObject Runtime::object() {
    FREObject h = nullptr;
    return created(fre::newObject(store_, bytes("Object"), 0, nullptr, &h, nullptr), h, "an Object");
}

FREObject Runtime::point(double x, double y) {
    FREObject h = nullptr;
    created(fre::newObject(store_, bytes("flash.geom.Point"), 0, nullptr, &h, nullptr), h, "a Point");
    HostObject* p = store_.get(h);
    p->x = x;
    p->y = y;
    return h;
}

FREObject Runtime::rectangle(double x, double y, double width, double height) {
    FREObject h = nullptr;
    created(fre::newObject(store_, bytes("flash.geom.Rectangle"), 0, nullptr, &h, nullptr), h,
            "a Rectangle");
    HostObject* r = store_.get(h);
    r->x = x;
    r->y = y;
    r->width = width;
    r->height = height;
    return h;
}

FREObject Runtime::bitmap(uint32_t width, uint32_t height, const uint32_t* pixels, uint32_t stride,
                          uint32_t pixelStride) {
    if (stride == 0) stride = width;
    if (width == 0 || height == 0 || stride < width) {
        throw HostError("cannot create a bitmap of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels with a row stride of " +
                        std::to_string(stride));
    }
    if (uint64_t(stride) * height > MAX_BITMAP_PIXELS) {
        throw HostError("cannot create a bitmap of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels: too large");
    }
    const FREObject h = store_.create(Kind::Bitmap);
    if (h == nullptr) throw HostError("cannot create a bitmap: the arena is full");
    HostObject* b = store_.get(h);
    b->bitmapWidth = width;
    b->bitmapHeight = height;
    b->stride = stride;
    b->pixels.assign(std::size_t(stride) * height, 0u);
    if (pixels != nullptr) setBitmapPixels(h, pixels, pixelStride);
    return h;
}

void Runtime::setBitmapPixels(FREObject bitmap, const uint32_t* pixels, uint32_t pixelStride) {
    HostObject& b = expect(bitmap, Kind::Bitmap, "setBitmapPixels");
    if (pixels == nullptr) throw HostError("setBitmapPixels: no pixels given");
    if (pixelStride == 0) pixelStride = b.bitmapWidth;
    if (pixelStride < b.bitmapWidth) throw HostError("setBitmapPixels: source stride below the width");
    for (uint32_t row = 0; row < b.bitmapHeight; ++row) {
        std::memcpy(&b.pixels[std::size_t(row) * b.stride], pixels + std::size_t(row) * pixelStride,
                    std::size_t(b.bitmapWidth) * sizeof(uint32_t));
    }
}

uint32_t* Runtime::bitmapPixels(FREObject bitmap) {
    return expect(bitmap, Kind::Bitmap, "bitmapPixels").pixels.data();
}

uint32_t Runtime::bitmapStride(FREObject bitmap) const {
    return expect(bitmap, Kind::Bitmap, "bitmapStride").stride;
}

bool Runtime::isBitmapAcquired(FREObject bitmap) const {
    return expect(bitmap, Kind::Bitmap, "isBitmapAcquired").acquired;
}

bool Runtime::isValid(FREObject handle) const { return store_.get(handle) != nullptr; }

Kind Runtime::kind(FREObject handle) const {
    const HostObject* o = store_.get(handle);
    if (o == nullptr) throw HostError("kind: " + describe(handle) + " is not a live object");
    return o->kind;
}

namespace {

void check(FREResult r, const char* what, const std::string& subject) {
    if (r != FRE_OK) throw HostError(std::string(what) + " of " + subject + ": " + fre::resultName(r));
}

}  // namespace

double Runtime::toNumber(FREObject handle) {
    double d = 0;
    check(fre::getAsDouble(store_, handle, &d), "toNumber", describe(handle));
    return d;
}

int32_t Runtime::toInt(FREObject handle) {
    int32_t i = 0;
    check(fre::getAsInt32(store_, handle, &i), "toInt", describe(handle));
    return i;
}

bool Runtime::toBool(FREObject handle) {
    uint32_t b = 0;
    check(fre::getAsBool(store_, handle, &b), "toBool", describe(handle));
    return b != 0;
}

std::string Runtime::toString(FREObject handle) {
    uint32_t n = 0;
    const uint8_t* s = nullptr;
    check(fre::getAsUTF8(store_, handle, &n, &s), "toString", describe(handle));
    return std::string(reinterpret_cast<const char*>(s), n);
}

uint32_t Runtime::length(FREObject array) {
    uint32_t n = 0;
    check(fre::getArrayLength(store_, array, &n), "length", describe(array));
    return n;
}

FREObject Runtime::element(FREObject array, uint32_t index) {
    FREObject e = nullptr;
    check(fre::getArrayElement(store_, array, index, &e), ("element " + std::to_string(index)).c_str(),
          describe(array));
    return e;
}

void Runtime::setElement(FREObject array, uint32_t index, FREObject value) {
    check(fre::setArrayElement(store_, array, index, value),
          ("setElement " + std::to_string(index)).c_str(), describe(array));
}

FREObject Runtime::property(FREObject object, const std::string& name) {
    FREObject v = nullptr;
    check(fre::getProperty(store_, object, bytes(name), &v, nullptr), ("property \"" + name + "\"").c_str(),
          describe(object));
    return v;
}

void Runtime::setProperty(FREObject object, const std::string& name, FREObject value) {
    check(fre::setProperty(store_, object, bytes(name), value, nullptr),
          ("setProperty \"" + name + "\"").c_str(), describe(object));
}

PointValue Runtime::toPoint(FREObject point) const {
    const HostObject& p = expect(point, Kind::Point, "toPoint");
    return PointValue{p.x, p.y};
}

RectangleValue Runtime::toRectangle(FREObject rectangle) const {
    const HostObject& r = expect(rectangle, Kind::Rectangle, "toRectangle");
    return RectangleValue{r.x, r.y, r.width, r.height};
}

std::vector<double> Runtime::toNumbers(FREObject array) {
    const uint32_t n = length(array);
    std::vector<double> values(n);
    for (uint32_t i = 0; i < n; ++i) values[i] = toNumber(element(array, i));
    return values;
}

std::vector<PointValue> Runtime::toPoints(FREObject array) {
    const uint32_t n = length(array);
    std::vector<PointValue> values(n);
    for (uint32_t i = 0; i < n; ++i) values[i] = toPoint(element(array, i));
    return values;
}

HostObject& Runtime::expect(FREObject handle, Kind kind, const char* what) {
    return const_cast<HostObject&>(static_cast<const Runtime*>(this)->expect(handle, kind, what));
}

const HostObject& Runtime::expect(FREObject handle, Kind kind, const char* what) const {
    const HostObject* o = store_.get(handle);
    if (o == nullptr) throw HostError(std::string(what) + ": " + describe(handle) + " is not a live object");
    if (o->kind != kind) {
        throw HostError(std::string(what) + ": " + describe(handle) + " is a " + kindName(o->kind) +
                        ", not a " + kindName(kind));
    }
    return *o;
}

std::vector<std::string> Runtime::calledFunctions() const {
    std::vector<std::string> names;
    names.reserve(log_.size());
    for (const CallRecord& r : log_) names.push_back(r.function);
    return names;
}

void Runtime::record(const char* function, std::string arguments, std::string output,
                     FREResult result) {
    if (logging_) log_.push_back(CallRecord{function, std::move(arguments), std::move(output), result});
}

std::string Runtime::describe(FREObject handle) const {
    if (handle == nullptr) return "null";
    const long index = store_.indexOf(handle);
    char text[32];
    if (index >= 0) {
        std::snprintf(text, sizeof text, "#%ld", index);
    } else {
        std::snprintf(text, sizeof text, "?%" PRIxPTR, reinterpret_cast<uintptr_t>(handle));
    }
    return text;
}

}  // namespace kvohost
