#pragma once
// The shape model at one level of the shape-search pyramid.
//
// What it represents: everything the profile search needs at one resolution (level 0
// is the full 480 x 480 search frame, each further level is pyrRatio times smaller):
// the per-landmark profile models (mean profile, distance matrix, profile flag
// bits), the mean shape and eigenvalues scaled to the level, the derived search
// parameters, and borrowed pointers to the level's search and gradient images.
//
// Ownership: a level owns its matrices and profile vectors and shares its distance
// matrices through shared pointers; the two images belong to the image manager,
// which outlives the model.
//
// Thread safety: read-only after loading, except `profWork`: during a search each
// matching worker writes only the `profWork` entries of its own landmarks.
#include <cstdint>
#include <memory>
#include <vector>

#include "math/NumberMat.h"
#include "math/ShapeMat.h"

namespace kvo {

class ImageData;
class ImageDataInt;

class ASMLevel {
public:
    // Bit 31 of a landmark's profile flags: the landmark has a 2-D profile.
    static constexpr uint32_t PROFILE_2D_BIT = 0x80000000u;

    // Ensures: all counts zero, both limits 0.0, empty vectors and empty matrices.
    ASMLevel(int level, ImageData* image, ImageDataInt* gradient);

    // True when landmark i (< profSpecs.size()) has a 2-D profile.
    bool is2d(size_t i) const { return (profSpecs[i] & PROFILE_2D_BIT) != 0; }

    int32_t level;
    ImageData* image;         // the level's current search image (borrowed)
    ImageDataInt* gradient;   // the level's gradient image (borrowed)
    int32_t nMaxSearchIters;  // search iterations at this level
    int32_t nQualifyingDisp;  // carried from the configuration; not consulted
    int32_t nEigs;            // eigenvectors used in all but the last iteration
    int32_t nEigsFinal;       // eigenvectors used in the last iteration
    double BMax;              // parameter limit (standard deviations), all but the last iteration
    double BMaxFinal;         // parameter limit in the last iteration
    std::vector<std::shared_ptr<NumberMat> > covars;  // profile distance matrix per landmark
    std::vector<std::vector<double> > profMeans;      // mean profile per landmark
    std::vector<std::vector<double> > profWork;       // working profile per landmark (search scratch)
    std::vector<uint32_t> profSpecs;                  // profile flags per landmark
    ShapeMat meanShape;  // n x 2, mean shape at this level's scale (local frame, pixels)
    NumberMat eigVals;   // 2n x 1, eigenvalues at this level's scale (pixels squared)
};

using ASMLevelPtr = std::shared_ptr<ASMLevel>;

}  // namespace kvo
