#pragma once
// Test faces in dlib's (300-W) layout made from shapes in our layout.
#include <algorithm>
#include <array>

#include "LandmarkCorrespondence.h"
#include "MuctShapes.h"

namespace kvotest {

// A MUCT shape (our layout, pixels) drawn in dlib's layout: the shared points exactly, the
// rest along our outlines as dlib marks them (jaw through our temple points and chin, two
// points per lid, the brow's middle, the nose bridge to the tip, the inner lip corners).
inline kvo::trainer::ShapeVec dlibFromOurs(const kvo::trainer::ShapeVec& o) {
    using kvo::trainer::ShapeVec;
    namespace landmarks = kvo::landmarks;
    ShapeVec d(136, 0.0);
    std::array<bool, 68> known;
    landmarks::oursToDlib(o.data(), d.data(), known);
    auto set = [&](int i, double x, double y) { d[2 * i] = x; d[2 * i + 1] = y; };
    auto mix = [&](int i, int a, int b, double t) {
        set(i, o[2 * a] + t * (o[2 * b] - o[2 * a]), o[2 * a + 1] + t * (o[2 * b + 1] - o[2 * a + 1]));
    };
    // Jaw: 17 points by arc-free interpolation of our 15 (same ends).
    for (int k = 0; k <= 16; ++k) {
        const double u = k * 14.0 / 16.0;
        const int a = std::min(13, static_cast<int>(u));
        mix(k, a, a + 1, u - a);
    }
    mix(8, 7, 7, 0.0);
    // Brows: the middle upper point between our two upper-edge points.
    mix(18, 22, 22, 0.0); mix(19, 22, 23, 0.5); mix(20, 23, 23, 0.0);
    mix(25, 16, 16, 0.0); mix(24, 16, 17, 0.5); mix(23, 17, 17, 0.0);
    // Nose: bridge from between the inner eye corners down to the tip; base sides.
    for (int k = 0; k < 3; ++k) {
        const double t = k / 3.0;
        set(27 + k, (1 - t) * 0.5 * (o[2 * 29] + o[2 * 34]) + t * o[2 * 67],
            (1 - t) * 0.5 * (o[2 * 29 + 1] + o[2 * 34 + 1]) + t * o[2 * 67 + 1]);
    }
    mix(31, 39, 40, 0.5); mix(32, 40, 41, 0.5); mix(34, 41, 42, 0.5); mix(35, 42, 43, 0.5);
    // Eyes: two points per lid, a third of the way from each corner to the lid's middle.
    mix(37, 28, 27, 0.3); mix(38, 28, 29, 0.3); mix(40, 30, 29, 0.3); mix(41, 30, 27, 0.3);
    mix(43, 33, 34, 0.3); mix(44, 33, 32, 0.3); mix(46, 35, 32, 0.3); mix(47, 35, 34, 0.3);
    // Inner lips: corners between the outer corners and the mouth centre.
    mix(60, 48, 66, 0.3); mix(64, 54, 66, 0.3);
    mix(61, 65, 65, 0.0); mix(63, 63, 63, 0.0); mix(65, 62, 62, 0.0); mix(67, 60, 60, 0.0);
    return d;
}

}  // namespace kvotest
