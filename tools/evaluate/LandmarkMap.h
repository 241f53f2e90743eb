#pragma once
// The correspondence between the library's 68-point layout and dlib's (iBUG 300-W)
// 68-point layout, on the points both schemes define the same way, and the normalised
// landmark error measured on them.
//
// The library's layout: 0-14 jaw from the image-left temple (7 chin), 15-20 the
// image-right brow (15 outer end, 18 inner end), 21-26 the image-left brow (21 outer,
// 24 inner), 27-31 image-left eye (27 outer corner, 29 inner), 32-36 image-right eye
// (32 outer, 34 inner), 41 nose base centre, 67 nose tip, 48-59 outer lips as in dlib.
// dlib's: 0-16 jaw (8 chin), 17-21 image-left brow outer to inner, 22-26 image-right
// brow inner to outer, 30 nose tip, 33 nose base centre, 36/39 image-left eye outer and
// inner corner, 42/45 image-right eye inner and outer corner, 48-59 outer lips.
//
// Thread safety: immutable tables and pure functions.
#include <array>
#include <string>
#include <vector>

namespace kvoeval {

struct LandmarkPair {
    int ours;
    int dlib;
    int group;  // index into landmarkGroups()
};

// Feature groups, in report order: "jaw ends and chin", "brow ends", "eye corners",
// "nose", "outer lips".
const std::vector<std::string>& landmarkGroups();

// Every shared point, grouped.
const std::vector<LandmarkPair>& landmarkPairs();

// Outer eye corners in each layout (image-left, image-right).
constexpr int OURS_LEFT_EYE_OUTER = 27;
constexpr int OURS_RIGHT_EYE_OUTER = 32;
constexpr int DLIB_LEFT_EYE_OUTER = 36;
constexpr int DLIB_RIGHT_EYE_OUTER = 45;

// 68 points as x0, y0, x1, y1, ... (pixels).
using Shape68 = std::array<double, 136>;

struct LandmarkError {
    double mean = 0.0;              // over all shared points, in outer-eye distances
    std::vector<double> perGroup;   // one per group, same unit
};

// Error of `ours` against `reference` (dlib) on the shared points, each point's
// Euclidean distance divided by the reference's outer-eye-corner distance.
// Requires: the reference eye distance is positive.
LandmarkError landmarkError(const Shape68& ours, const Shape68& reference);

}  // namespace kvoeval
