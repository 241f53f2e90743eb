#pragma once
// The statistical shape model: similarity (Procrustes) alignment of training shapes,
// their mean and principal components.
//
// Shapes are 2n-vectors (x0, y0, x1, y1, ...) in the search's local orientation (x right,
// y up). The model is built in a normalised frame (mean centred on the origin, unit
// norm); `place` then scales and shifts it to where the search puts faces.
//
// Thread safety: none needed; plain values.
#include <vector>

#include "MuctShapes.h"

namespace kvo {
namespace trainer {

struct ShapeModel {
    ShapeVec mean;                         // 2n: mean shape
    std::vector<std::vector<double>> vecs;  // 2n x 2n: column j is eigenvector j (vecs[row][col])
    std::vector<double> vals;               // 2n eigenvalues, largest first, >= 0 (squared units of `mean`)
};

// Similarity transform (a, b, tx, ty) mapping `src` onto `dst` in the least-squares
// sense: x' = a x - b y + tx, y' = b x + a y + ty.
void similarityFit(const ShapeVec& src, const ShapeVec& dst, double t[4]);
// Applies a similarity transform to a shape in place.
void applySimilarity(ShapeVec& s, const double t[4]);

// Generalised Procrustes alignment of `shapes` (in place, each mapped onto the mean)
// followed by PCA of the aligned shapes. The mean is centred at the origin with unit
// Euclidean norm and oriented like the first shape. Eigenvector signs are fixed (largest
// component positive) so the result depends only on the input order and values.
// `weights` (empty: every shape counts once) gives each shape's share in the mean and the
// covariance, as if it were repeated that many times; a weight of 0 leaves a shape out
// of both (it is still aligned).
// Requires: at least two shapes of equal even length; weights empty or one >= 0 per
// shape, summing to more than 1.
ShapeModel buildShapeModel(std::vector<ShapeVec>& shapes, int iterations,
                           const std::vector<double>& weights = {});

// Scales the model by s and shifts the mean by (tx, ty): eigenvalues scale by s^2.
void placeModel(ShapeModel& model, double s, double tx, double ty);

}  // namespace trainer
}  // namespace kvo
