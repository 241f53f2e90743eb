#pragma once
// Where the search puts the mean shape: prepareShape scales the model's mean by
// initScale * width / refWidth and shifts it by 0.05 and 0.25 of the rectangle's half
// width, from the detector's rectangle or from the one updateByEyes derives from two eye
// positions. The trainer scales and shifts the mean so that, placed this way, it lands on
// the average hand-placed shape.
//
// What it represents: a running sum of labelled shapes expressed in the model frame of
// their start rectangles, and the similarity (scale and shift, no rotation) that maps the
// mean shape onto their average.
//
// Thread safety: a plain value; one thread at a time.
#include "MuctShapes.h"
#include "ShapeStatistics.h"
#include "asm/ASMModelConfig.h"
#include "math/Rectangle.h"

namespace kvo {
namespace trainer {

// The rectangle updateByEyes places for a shape in dlib's 68-point layout (image
// pixels, y down): from the two eye centres, each the mean of its six points (36-41 and
// 42-47), as the evaluation starts its tracks.
// Requires: 136 values with the eyes apart horizontally.
Rectangle eyeRectangle(const ShapeVec& dlib);

class PlacementTarget {
public:
    explicit PlacementTarget(const ASMModelConfig& config) : config_(config), sum_(136, 0.0) {}
    // Adds a labelled shape (our layout, image pixels, y down) started from `face`.
    void add(const ShapeVec& points, const Rectangle& face);
    int count() const { return count_; }
    // The average shape in the model frame (y up). Requires: count() > 0.
    ShapeVec average() const;
    // The scale s and shift (tx, ty) that bring `mean` closest to the average in the
    // least-squares sense. Requires: count() > 0.
    void fit(const ShapeVec& mean, double& s, double& tx, double& ty) const;

private:
    ASMModelConfig config_;
    ShapeVec sum_;
    int count_ = 0;
};

}  // namespace trainer
}  // namespace kvo
