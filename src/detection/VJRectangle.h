#pragma once
// One window accepted by the face detector.
//
// What it represents: position and size in level-0 pixels relative to the image ROI,
// and the scale factor (window size / cascade window size) at which it was accepted.
//
// Thread safety: a plain value; not synchronised.
#include <memory>

namespace kvo {

struct VJRectangle {
    double x = 0.0;       // pixels
    double y = 0.0;       // pixels
    double width = 0.0;   // pixels
    double height = 0.0;  // pixels
    double scale = 0.0;   // window size in units of the cascade window

    VJRectangle() = default;
    VJRectangle(double px, double py, double w, double h, double s)
        : x(px), y(py), width(w), height(h), scale(s) {}
};

using VJRectanglePtr = std::shared_ptr<VJRectangle>;

}  // namespace kvo
