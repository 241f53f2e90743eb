#pragma once
// Conversions between host objects and native values for the named functions.
//
// What it represents: the one place where the library reads its arguments and makes
// its results. Every reader takes the argument vector with its count, so a missing
// argument is never read past the end of argv; an argument the host cannot convert
// (missing, null, of another type) reads as the given fallback (0, false, the empty
// text), never as an uninitialised value.
//
// Thread safety: call only on the host's calling thread, inside a named function.
#include <cstdint>
#include <string>
#include <vector>

#include "extension/FREInterface.h"
#include "math/Point.h"
#include "math/Rectangle.h"

namespace kvo {
namespace host {

// Argument i, or null when the host passed fewer than i + 1 arguments.
FREObject arg(uint32_t argc, FREObject argv[], uint32_t i);

double readNumber(FREObject o, double fallback = 0.0);
int32_t readInt(FREObject o, int32_t fallback = 0);
// True exactly when the host gives the value 1.
bool readBool(FREObject o);
std::string readString(FREObject o);
// Reads the properties "x" then "y" as Numbers into `p`.
void readPoint(FREObject o, Point& p);

// New host values; null when the host cannot make one.
FREObject newString(const std::string& s);
FREObject newNumber(double v);
FREObject newBool(bool v);

// Result arrays, filled by the conventions of the named functions: the array gets
// the source's length when its current length differs (or always, with
// alwaysSetLength), then element i is a new value made from entry i.
void fillNumberArray(FREObject array, const std::vector<double>& src);
void fillIntArray(FREObject array, const std::vector<int>& src);
void fillBoolArray(FREObject array, const std::vector<bool>& src);
// Arrays of "flash.geom.Point" / "flash.geom.Rectangle": elements below the array's
// old length are updated in place, further ones are created and stored.
void fillPointArray(FREObject array, const std::vector<PointPtr>& src);
void fillRectangleArray(FREObject array, const std::vector<RectanglePtr>& src);
// Sets "x", "y", "width", "height" as ints, each truncated toward zero.
void setIntRectangle(FREObject object, const Rectangle& r);

// Truncates toward zero into the int32 range; NaN gives 0.
int32_t truncToInt(double v);

}  // namespace host
}  // namespace kvo
