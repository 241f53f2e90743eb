#pragma once
// An axis-aligned rectangle in pixels: x, y of the top-left corner, width, height.
//
// Thread safety: a plain value; not synchronised.
#include <memory>

namespace kvo {

struct Rectangle {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    Rectangle() = default;
    Rectangle(double px, double py, double w, double h) : x(px), y(py), width(w), height(h) {}

    // True when (px, py) lies inside or on any of the four edges.
    bool contains(double px, double py) const {
        return px >= x && px <= x + width && py >= y && py <= y + height;
    }
};

using RectanglePtr = std::shared_ptr<Rectangle>;

}  // namespace kvo
