#pragma once
// How much two face boxes overlap, as every evaluation compares one detector's faces with
// another's: intersection over union.
//
// Thread safety: a pure function; callable from any thread.
#include <algorithm>

namespace kvo {
namespace eval {

// Requires nothing. Ensures: the area both axis-aligned boxes (x, y, width, height in
// pixels, y down) cover over the area either covers, 0 to 1; 0 when either is empty.
inline double iou(double ax, double ay, double aw, double ah, double bx, double by, double bw, double bh) {
    if (aw <= 0 || ah <= 0 || bw <= 0 || bh <= 0) return 0.0;
    const double x0 = std::max(ax, bx), y0 = std::max(ay, by);
    const double x1 = std::min(ax + aw, bx + bw), y1 = std::min(ay + ah, by + bh);
    const double inter = std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0);
    return inter / (aw * ah + bw * bh - inter);
}

}  // namespace eval
}  // namespace kvo
