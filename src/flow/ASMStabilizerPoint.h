#pragma once
// One landmark's record in the shape stabiliser.
//
// What it represents: where a landmark was before optical-flow tracking (`previous`),
// the point the tracker moves (`tracked`), and the motion between them, all in pixels
// of the shape-search frame (x right, y down).
//
// Thread safety: a plain value; used on the tracker's thread only (the optical-flow
// workers move their own copies of `tracked`).
#include <memory>

#include "math/Point.h"

namespace kvo {

struct ASMStabilizerPoint {
    int index = 0;                                         // landmark (shape row)
    PointPtr previous = std::make_shared<Point>(0.0, 0.0); // before tracking
    PointPtr tracked = std::make_shared<Point>(0.0, 0.0);  // handed to the optical flow
    double dx = 0.0;                                       // tracked - previous, pixels
    double dy = 0.0;                                       // pixels
    double distanceSquared = 0.0;                          // dx^2 + dy^2, pixels^2
};

using ASMStabilizerPointPtr = std::shared_ptr<ASMStabilizerPoint>;

}  // namespace kvo
