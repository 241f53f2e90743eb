#pragma once
// Converts dlib's 68 face landmarks to Kestavo's 68-point layout.
//
// What it represents: the rule set that labels a face in Kestavo's layout from dlib's
// predictor output or a hand-placed 300-W annotation (the same layout). The points both
// layouts define the same way (kvo::landmarks::sharedPairs: eye corners, brow ends, nose
// tip and base centre, outer lips, inner lip centres, chin) are taken directly; others are
// read off dlib's outlines: lid midpoints (mean of dlib's two lid points), brow upper-edge
// points (by arc length along dlib's brow, at the fractions of the model's mean brow),
// jaw (cut where dlib's jaw crosses the mean model's temple level, below the eye line,
// then resampled by arc length at the mean model's spacing), the inner lips' off-centre
// points. The points dlib lacks (brow lower edges, pupils, nose sides, wings, nostrils
// and base sides) come from fitting the shape model to the direct points.
//
// Thread safety: immutable after construction; `convert` may run on several threads.
#include "LandmarkCorrespondence.h"
#include "LandmarkSchemes.h"
#include "PointShapeModel.h"

namespace kvo {
namespace labeller {

class DlibLayoutConverter {
public:
    // Requires: `model` built and outliving the converter.
    explicit DlibLayoutConverter(const PointShapeModel& model);

    // The points of our layout that follow directly from dlib's (pixels in, pixels out).
    // Ensures: direct[i] is set exactly where known[i] is true.
    void directPoints(const Shape68& dlibPoints, Shape68& direct, PointMask& known) const;

    // The full conversion: direct points kept as they are, the rest filled by the model.
    // Ensures: returns false (result untouched) if the direct points are degenerate.
    // `filled`, when given, receives true for the model-filled points.
    bool convert(const Shape68& dlibPoints, Shape68& result, PointMask* filled = nullptr) const;

    // Positions along our jaw (0..7, left temple to chin) as fractions of its arc length,
    // and the temple's drop below the outer-eye-corner line in outer-eye-corner distances,
    // both read off the model's mean shape.
    const std::array<double, 8>& jawFractions() const { return jawFrac_; }
    double templeDrop() const { return templeDrop_; }

private:
    const PointShapeModel& model_;
    std::array<double, 8> jawFrac_{};
    std::array<double, 4> browFrac_{};  // our left brow 21, 22, 23, 24 along outer -> inner
    double templeDrop_ = 0.0;
};

// The point at arc-length fraction `f` (0..1) along the polyline `pts[0..n-1]`.
dlib::dpoint pointAlong(const dlib::dpoint* pts, int n, double f);

}  // namespace labeller
}  // namespace kvo
