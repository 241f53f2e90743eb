#pragma once
// A tracker's published landmarks (KVOFaceShape::points) as the flat x0, y0, x1, y1, ...
// values the evaluations score and compare.
//
// Thread safety: a pure function; callable from any thread while the points stay unchanged.
#include <vector>

#include "math/Point.h"

namespace kvo {
namespace eval {

// Ensures: 2 * points.size() values in the points' order and units (pixels).
inline std::vector<double> flatXY(const std::vector<PointPtr>& points) {
    std::vector<double> xy;
    xy.reserve(2 * points.size());
    for (const PointPtr& p : points) {
        xy.push_back(p->x);
        xy.push_back(p->y);
    }
    return xy;
}

}  // namespace eval
}  // namespace kvo
