#pragma once
// A statistical 68-point shape model (Kestavo layout) that completes partly known shapes.
//
// What it represents: the mean and principal modes of a set of complete face shapes after
// similarity alignment (generalised Procrustes to a left-right symmetric reference, so the
// model is mirror-symmetric when the training set holds every shape's mirror). `fit`
// finds the similarity transform and mode weights that best explain the known points of
// a shape, with a Gaussian prior on the weights (probabilistic PCA: the discarded
// variance becomes isotropic point noise), and returns the whole shape.
//
// Model-frame units: each aligned shape is centred on its centroid and has unit
// Frobenius norm (the 136 coordinates' root sum of squares is 1).
//
// Thread safety: `build` and `loadMuctShapes` mutate or allocate; once built, the const
// members may be called from several threads at once.
#include <string>
#include <vector>

#include <dlib/matrix.h>

#include "LandmarkSchemes.h"

namespace kvo {
namespace labeller {

// One row of the MUCT shape file.
struct MuctShape {
    std::string name;  // e.g. "i000qa-fn"; mirrored copies start with "ir"
    Shape68 points;    // pixels, x right, y down
    PointMask present; // false where the file marks the point missing with (0, 0)
};

// Reads the MUCT shape CSV (header `name,tag,x00,y00,...,x67,y67`).
// Ensures: returns false with `error` set if the file cannot be read or a row is malformed.
bool loadMuctShapes(const std::string& path, std::vector<MuctShape>& shapes, std::string& error);

class PointShapeModel {
public:
    // Builds the model from complete shapes (pixels or any frame).
    // Requires: at least 10 shapes; 0 < varianceKept < 1 (fraction of the total variance
    // the retained modes explain); `partner` the layout's mirror table (the reference is
    // made symmetric under it).
    // Ensures: built() is true on success; false with `error` set otherwise.
    bool build(const std::vector<Shape68>& shapes, const std::array<int, NUM_POINTS>& partner,
               double varianceKept, std::string& error);

    bool built() const { return numModes_ > 0; }
    int numModes() const { return numModes_; }
    // Mean shape in the model frame: the mean of the aligned unit-norm shapes (centred,
    // norm just under 1, y down like the input), exactly mirror-symmetric.
    const Shape68& mean() const { return mean_; }
    // Per-coordinate variance of the discarded modes (model-frame units squared).
    double noiseVariance() const { return noiseVar_; }

    // Completes a shape from its known points.
    // Requires: built(); at least 3 known points not all on one spot.
    // Ensures: returns all 68 points in the frame of `known` (the model's best explanation;
    // known points are returned as fitted, not copied). Returns false if the known points
    // cannot fix a similarity transform.
    bool fit(const Shape68& points, const PointMask& known, Shape68& result) const;

private:
    int numModes_ = 0;
    Shape68 mean_{};
    dlib::matrix<double> modes_;    // 136 x numModes_, columns are unit eigenvectors
    dlib::matrix<double, 0, 1> eig_; // numModes_ eigenvalues, descending
    double noiseVar_ = 0.0;
};

}  // namespace labeller
}  // namespace kvo
