// The browser's host: the stand-in host runtime with the extension linked in, driven
// from JavaScript by function name.
//
// What it represents: one page's use of the library, as a native host uses it. The
// session owns the host runtime, the extension context (the library's 36-function
// table) and the frame bitmap. JavaScript values are turned into host objects for a call
// and the result back into plain values, so a page never sees a handle.
//
// Memory: every call runs in a Scope of the runtime, and everything it makes (the
// arguments, the result, the object a getter fills and the values filled into it) is made
// inside that Scope and unreachable from older objects, so it is freed at the call's end.
// (An object made by an earlier call and kept reachable by an older one would stay in
// the arena for good: the runtime frees at a Scope's end only objects younger than its
// mark. A fill target kept across calls did that, and each fill left its values behind,
// so the arena and the cost of every later call grew with the calls made.)
//
// Frames: the page copies a frame's RGBA bytes into frameBuffer() (wasm memory, sized
// for the frame) and passes the marker object {__kvoFrame: 1} where the bitmap goes.
// The bitmap is made again only when the frame size changes, so a frame loop of one
// size allocates nothing in the host after its first frame.
//
// Errors: every misuse (an unknown name, a value the host cannot convert, no frame)
// prints one "Error: ..." line on standard output, as the library's own errors do, and
// the call returns null. Nothing throws into JavaScript.
//
// Thread safety: none; JavaScript calls it on the thread that created it. The library's
// worker threads (when the module has threads) never call into the session.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/HostRuntime.h"

extern "C" {
void KestavoExtInitializer(void** extDataToSet, FREContextInitializer* ctxInitializerToSet,
                           FREContextFinalizer* ctxFinalizerToSet);
void KestavoExtFinalizer(void* extData);
}

namespace {

using emscripten::val;
using kvohost::Kind;

// Getters that fill the object given as their argument 0, and the kind of object.
struct FilledGetter {
    const char* name;
    bool rectangle;  // a Rectangle; otherwise an Array
};
const FilledGetter kFilledGetters[] = {
    {"kvo_get_pointsToTrack", false},
    {"kvo_get_pointStates", false},
    {"kvo_get_lastDetectedFace", true},
    {"kvo_get_lastDetectedFaces", false},
    {"kvo_get_faceShape_faceShapeTriangles", false},
    {"kvo_get_faceShape_candideShapeTriangles", false},
    {"kvo_get_faceShape_faceShapeVectices", false},
    {"kvo_get_faceShape_points", false},
    {"kvo_get_faceShape_bounds", true},
    {"kvo_get_faceShape_candideShapeVertices", false},
};

void errorLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class WebSession {
public:
    WebSession()
        : ext_(runtime_, &KestavoExtInitializer, &KestavoExtFinalizer, "Kestavo (linked in)") {
        holder_ = runtime_.array(1);
        for (const FilledGetter& g : kFilledGetters) {
            const FRENamedFunction* f = ext_.find(g.name);
            if (f != nullptr) filled_.push_back({f, g.rectangle});
        }
    }

    val names() const {
        val out = val::array();
        for (const std::string& n : ext_.functionNames()) out.call<void>("push", n);
        return out;
    }

    // The RGBA buffer for a width x height frame (both 1..16384), as an address in wasm
    // memory; 0 after an error line. The buffer only grows.
    uintptr_t frameBuffer(int width, int height) {
        if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
            errorLine("Error: a frame must be 1 to 16384 pixels wide and high, not " + std::to_string(width) + " x " +
                      std::to_string(height) + ".");
            return 0;
        }
        const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
        if (rgba_.size() < bytes) rgba_.resize(bytes);
        frameWidth_ = uint32_t(width);
        frameHeight_ = uint32_t(height);
        frameReady_ = false;
        return reinterpret_cast<uintptr_t>(rgba_.data());
    }

    // Marks the frame buffer as filled; the next call that takes a frame converts it.
    void frameFilled() { frameReady_ = frameWidth_ > 0; }

    // Calls the named function with `args` (a JavaScript array) and returns the result
    // as a plain value; a getter given no argument fills and returns its own object.
    val call(const std::string& name, val args) {
        try {
            const FRENamedFunction* f = ext_.find(name);
            if (f == nullptr) {
                errorLine("Error: Kestavo has no function named '" + name + "'.");
                return val::null();
            }
            kvohost::Runtime::Scope scope(runtime_);
            const unsigned n = args.isArray() ? args["length"].as<unsigned>() : 0;
            argv_.clear();
            for (unsigned i = 0; i < n; ++i) argv_.push_back(toHost(args[i], 0));
            // A getter's fill target is made in the call's Scope, like its values.
            FREObject fillTarget = nullptr;
            if (n == 0) {
                for (const Filled& g : filled_) {
                    if (g.function == f) fillTarget = g.rectangle ? runtime_.rectangle() : runtime_.array();
                }
                if (fillTarget != nullptr) argv_.push_back(fillTarget);
            }
            const uint32_t argc = uint32_t(argv_.size());
            argv_.push_back(nullptr);  // argv is never empty
            FREObject result = ext_.invoke(*f, argc, argv_.data());
            return toJs(fillTarget != nullptr ? fillTarget : result, 0);
        } catch (const std::exception& e) {
            errorLine(e.what());
            return val::null();
        }
    }

private:
    struct Filled {
        const FRENamedFunction* function;
        bool rectangle;
    };

    // The host value of a JavaScript value; throws HostError for one it cannot convert.
    FREObject toHost(const val& v, int depth) {
        if (depth > 8) throw kvohost::HostError("arguments nest deeper than 8 arrays.");
        const std::string type = v.typeOf().as<std::string>();
        if (v.isNull() || v.isUndefined()) return nullptr;
        if (type == "boolean") return runtime_.boolean(v.as<bool>());
        if (type == "number") return runtime_.number(v.as<double>());
        if (type == "string") return runtime_.string(v.as<std::string>());
        if (v.isArray()) {
            const unsigned n = v["length"].as<unsigned>();
            FREObject a = runtime_.array(n);
            for (unsigned i = 0; i < n; ++i) runtime_.setElement(a, i, toHost(v[i], depth + 1));
            return a;
        }
        if (type == "object") {
            if (v.hasOwnProperty("__kvoFrame")) return frameBitmap();
            const bool hasXY = v.hasOwnProperty("x") && v.hasOwnProperty("y");
            if (hasXY && v.hasOwnProperty("width") && v.hasOwnProperty("height")) {
                return runtime_.rectangle(v["x"].as<double>(), v["y"].as<double>(), v["width"].as<double>(),
                                          v["height"].as<double>());
            }
            if (hasXY) return runtime_.point(v["x"].as<double>(), v["y"].as<double>());
        }
        throw kvohost::HostError("an argument of type " + type +
                                 " cannot be passed to Kestavo (numbers, booleans, strings, arrays, points, "
                                 "rectangles and frames can).");
    }

    // The bitmap holding the frame buffer's pixels in the host's ARGB words.
    FREObject frameBitmap() {
        if (!frameReady_) throw kvohost::HostError("no frame was handed over for this call.");
        if (bitmap_ == nullptr || bitmapWidth_ != frameWidth_ || bitmapHeight_ != frameHeight_) {
            bitmap_ = makeLastingBitmap();
            bitmapWidth_ = frameWidth_;
            bitmapHeight_ = frameHeight_;
        }
        uint32_t* out = runtime_.bitmapPixels(bitmap_);
        const uint32_t stride = runtime_.bitmapStride(bitmap_);
        const uint8_t* in = rgba_.data();
        for (uint32_t y = 0; y < frameHeight_; ++y) {
            uint32_t* row = out + std::size_t(y) * stride;
            for (uint32_t x = 0; x < frameWidth_; ++x, in += 4) {
                row[x] = uint32_t(in[3]) << 24 | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | uint32_t(in[2]);
            }
        }
        return bitmap_;
    }

    // A bitmap of the frame size that outlives the call's scope, for the next frames.
    FREObject makeLastingBitmap() {
        // A handle made now is younger than the open scope's mark and would be freed at
        // its end; the session's holder array, older than every scope, keeps it reachable.
        // (A bitmap of an earlier size stays in the arena: sizes change rarely.)
        FREObject b = runtime_.bitmap(frameWidth_, frameHeight_);
        runtime_.setElement(holder_, 0, b);
        return b;
    }

    val toJs(FREObject o, int depth) {
        if (o == nullptr || !runtime_.isValid(o) || depth > 8) return val::null();
        switch (runtime_.kind(o)) {
            case Kind::Number: return val(runtime_.toNumber(o));
            case Kind::Int: return val(runtime_.toInt(o));
            case Kind::Boolean: return val(runtime_.toBool(o));
            case Kind::String: return val(runtime_.toString(o));
            case Kind::Point: {
                const kvohost::PointValue p = runtime_.toPoint(o);
                val out = val::object();
                out.set("x", p.x);
                out.set("y", p.y);
                return out;
            }
            case Kind::Rectangle: {
                const kvohost::RectangleValue r = runtime_.toRectangle(o);
                val out = val::object();
                out.set("x", r.x);
                out.set("y", r.y);
                out.set("width", r.width);
                out.set("height", r.height);
                return out;
            }
            case Kind::Array: {
                const uint32_t n = runtime_.length(o);
                val out = val::array();
                for (uint32_t i = 0; i < n; ++i) out.call<void>("push", toJs(runtime_.element(o, i), depth + 1));
                return out;
            }
            case Kind::Object:
            case Kind::Bitmap: return val::null();
        }
        return val::null();
    }

    kvohost::Runtime runtime_;
    kvohost::Extension ext_;
    std::vector<Filled> filled_;
    std::vector<FREObject> argv_;
    std::vector<uint8_t> rgba_;
    uint32_t frameWidth_ = 0, frameHeight_ = 0;
    bool frameReady_ = false;
    FREObject bitmap_ = nullptr;
    FREObject holder_ = nullptr;
    uint32_t bitmapWidth_ = 0, bitmapHeight_ = 0;
};

}  // namespace

EMSCRIPTEN_BINDINGS(kestavo_web) {
    emscripten::class_<WebSession>("WebSession")
        .constructor<>()
        .function("names", &WebSession::names)
        .function("frameBuffer", &WebSession::frameBuffer)
        .function("frameFilled", &WebSession::frameFilled)
        .function("call", &WebSession::call);
}
