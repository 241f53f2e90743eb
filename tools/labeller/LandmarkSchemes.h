#pragma once
// The two 68-point face layouts the labeller translates between, as index tables.
//
// What it represents: Kestavo's own layout (jaw 0-14, brows 15-26, eyes 27-36 with
// pupils, nose 37-47 and 67, lips 48-66) and dlib's (jaw 0-16, brows 17-26 upper edge
// only, nose 27-35, eyes 36-47 without pupils, lips 48-67). In both, "left" and "right"
// are as seen in the image. A shape is 68 points in pixels (x right, y down) or in the
// shape model's own frame.
//
// Thread safety: constant tables and pure functions; safe from any thread.
#include <array>

#include <dlib/geometry/vector.h>

namespace kvo {
namespace labeller {

constexpr int NUM_POINTS = 68;

using Shape68 = std::array<dlib::dpoint, NUM_POINTS>;
using PointMask = std::array<bool, NUM_POINTS>;

// Partner of each landmark under a left-right mirror (a point on the midline is its own).
extern const std::array<int, NUM_POINTS> OURS_PARTNER;
extern const std::array<int, NUM_POINTS> DLIB_PARTNER;

// Mirrors `s` about the vertical line x = axisX and swaps partners.
// Ensures result[i] = (2 axisX - s[p].x, s[p].y) with p = partner[i].
Shape68 mirrorShape(const Shape68& s, const std::array<int, NUM_POINTS>& partner, double axisX);

}  // namespace labeller
}  // namespace kvo
