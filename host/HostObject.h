#pragma once
// One value or object of the stand-in host runtime.
//
// What it represents: the typed object model behind an FREObject handle. A single
// record type carries every kind; only the fields of its `kind` are meaningful:
//   Number (double), Int (int32), Boolean, String (UTF-8 bytes), Array (element
//   handles, null for an empty slot), Object (dynamic named properties; class name
//   "Object" or "Error"), Point and Rectangle ("flash.geom.Point" and
//   "flash.geom.Rectangle": x, y, width, height as doubles), Bitmap (32-bit pixels,
//   rows `stride` pixels apart, in the host's ARGB word, i.e. bytes blue, green, red,
//   alpha in memory on little-endian machines).
//
// Thread safety: none; owned and used by one ObjectStore on the host thread.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "extension/FREInterface.h"

namespace kvohost {

enum class Kind { Number, Int, Boolean, String, Array, Object, Point, Rectangle, Bitmap };

// The host class name of a kind ("Number", "int", ..., "flash.display.BitmapData").
const char* kindName(Kind kind);

struct HostObject {
    Kind kind = Kind::Number;

    double number = 0.0;   // Number
    int32_t integer = 0;   // Int
    bool boolean = false;  // Boolean
    std::string text;      // String: the bytes, without the terminating NUL

    std::vector<FREObject> elements;                             // Array
    std::string className;                                       // Object
    std::vector<std::pair<std::string, FREObject>> properties;   // Object, in creation order

    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;  // Point (x, y), Rectangle (all); pixels

    uint32_t bitmapWidth = 0, bitmapHeight = 0;  // Bitmap, pixels
    uint32_t stride = 0;                          // Bitmap, pixels from one row to the next
    bool hasAlpha = true, premultiplied = true;   // Bitmap
    bool acquired = false;                        // Bitmap: between acquire and release
    std::vector<uint32_t> pixels;                 // Bitmap, stride * bitmapHeight words

    uint64_t serial = 0;  // creation order, used by the arena's release
};

}  // namespace kvohost
