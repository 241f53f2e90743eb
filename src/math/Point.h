#pragma once
// A 2-D point in pixels (x right, y down in the image frame).
//
// What it represents: a landmark, a tracked host point or an eye position. Points are
// always held by std::shared_ptr so that the published face-shape points are the same
// objects for the tracker's whole life and move in place.
//
// Thread safety: a plain value; not synchronised.
#include <memory>

namespace kvo {

struct Point {
    double x = 0.0;
    double y = 0.0;
    Point() = default;
    Point(double px, double py) : x(px), y(py) {}
};

using PointPtr = std::shared_ptr<Point>;

}  // namespace kvo
