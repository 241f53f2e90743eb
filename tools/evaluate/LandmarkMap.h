#pragma once
// The landmarks the library's 68-point layout shares with dlib's (iBUG 300-W) layout, as
// the evaluation reads them, and the normalised landmark error measured on them.
//
// The correspondence itself is the project's one table (kvo::landmarks::sharedPairs in
// tools/landmarks): eye corners, brow ends, nose tip and base centre, outer lips, inner
// lip centres and chin (25 points). This file only presents it in the evaluation's terms.
//
// Thread safety: immutable tables and pure functions.
#include <array>
#include <string>
#include <vector>

#include "LandmarkCorrespondence.h"

namespace kvoeval {

struct LandmarkPair {
    int ours;
    int dlib;
    int group;  // index into landmarkGroups()
};

// Feature groups, in report order: "chin", "brows", "eyes", "nose", "mouth".
const std::vector<std::string>& landmarkGroups();

// Every shared point, grouped.
const std::vector<LandmarkPair>& landmarkPairs();

// The pairs as report text, by group: "chin 7->8; brows 21->17, ...".
std::string describePairs();

// Outer eye corners in each layout (image-left, image-right).
constexpr int OURS_LEFT_EYE_OUTER = kvo::landmarks::OURS_LEFT_EYE_OUTER;
constexpr int OURS_RIGHT_EYE_OUTER = kvo::landmarks::OURS_RIGHT_EYE_OUTER;
constexpr int DLIB_LEFT_EYE_OUTER = kvo::landmarks::DLIB_LEFT_EYE_OUTER;
constexpr int DLIB_RIGHT_EYE_OUTER = kvo::landmarks::DLIB_RIGHT_EYE_OUTER;

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
