#pragma once
// The landmark error of a fitted shape against a reference shape, both in our own 68-point
// layout (a hand-checked annotation of the same frame), by feature group.
//
// What it represents: the figures every model and search setting is chosen on for a
// speaker on video: for each group, the mean point-to-point distance divided by the
// reference's outer-eye-corner distance (points 27 and 32), and their mean, median and
// share above 0.10 over many frames. The groups are the whole face, its features, the
// nose tip alone, and the 13 points a widely used peer (clmtrackr) places by the same rule.
//
// Shapes are 68 points as x0, y0, x1, y1, ... in pixels (x right, y down).
//
// Thread safety: constant tables and pure functions; ErrorTally is a plain value.
#include <array>
#include <vector>

#include "eval/ErrorSummary.h"

namespace kvo {
namespace eval {

// Report order.
enum class OurGroup { All = 0, Jaw, Brows, Eyes, Nose, Mouth, NoseTip, ClmShared };
constexpr int NUM_OUR_GROUPS = 8;

// "all 68", "jaw", "brows", "eyes", "nose", "mouth", "nose tip", "13 shared".
const char* ourGroupName(OurGroup g);
// The landmark indices of a group: jaw 0-14, brows 15-26, eyes 27-36 (pupils included),
// nose 37-47 (the tip apart), mouth 48-66, nose tip 67; the 13 shared points are the
// eye corners 27, 29, 32, 34, the nose tip 67 and base centre 41, the mouth corners 48,
// 54, the outer lip centres 51, 57, the inner lip centres 64, 61 and the chin 7.
const std::vector<int>& ourGroupPoints(OurGroup g);

using GroupErrors = std::array<double, NUM_OUR_GROUPS>;

// Requires: `fit` and `reference` hold 136 values. Ensures: on true, errors[g] is the mean
// distance over group g's points divided by the reference's distance between points 27
// and 32. False (errors untouched) when that distance is not a positive finite number or
// a coordinate of either shape is not finite.
bool ourLayoutError(const double* fit, const double* reference, GroupErrors& errors);

// The mean distance over `points` divided by the reference's distance between points 27
// and 32; only those points and 27, 32 of the reference are read, so a shape known on
// some points only (a peer's, mapped into our layout) can be scored on them. NaN when a
// coordinate read is not finite or the eye distance is not positive.
double pointSetError(const double* fit, const double* reference, const std::vector<int>& points);

// Per-frame group errors collected over a run.
class ErrorTally {
public:
    void add(const GroupErrors& e);
    int frames() const { return static_cast<int>(values_[0].size()); }
    ErrorSummary summary(OurGroup g) const;

private:
    std::array<std::vector<double>, NUM_OUR_GROUPS> values_;
};

}  // namespace eval
}  // namespace kvo
