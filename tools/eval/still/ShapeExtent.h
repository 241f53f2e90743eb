#pragma once
// The point extent of a 68-point shape, for the evaluations that ask whether a shape lies
// on a face: x0, y0, x1, y1 ... in pixels (x right, y down).
//
// Thread safety: pure functions.
#include <algorithm>

namespace kvo {
namespace app {

struct ShapeExtent {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;  // pixels
    double width() const { return x1 - x0; }
    double centreX() const { return 0.5 * (x0 + x1); }
    double centreY() const { return 0.5 * (y0 + y1); }
    bool contains(double x, double y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

// Requires: `xy` holds 2 * points values.
inline ShapeExtent extentOf(const double* xy, int points = 68) {
    ShapeExtent e;
    for (int i = 0; i < points; ++i) {
        e.x0 = std::min(e.x0, xy[2 * i]);
        e.x1 = std::max(e.x1, xy[2 * i]);
        e.y0 = std::min(e.y0, xy[2 * i + 1]);
        e.y1 = std::max(e.y1, xy[2 * i + 1]);
    }
    return e;
}

}  // namespace app
}  // namespace kvo
