#pragma once
// Landmark profile routines: grey-level sampling, the whisker direction of a landmark
// and the Mahalanobis distance of a sampled profile to its model.
//
// What it represents: the working storage of one profile-matching worker (the
// derivative profile `gProf`, the bisector vectors `d`, `p`, `q` and the whisker step
// `delta`) together with the routines that use it. Each matching worker owns one
// Profiles object, sized once when the search is initialised; the routines that need
// no storage (`CalcProfile`, `iGetPixel`) are static.
//
// Coordinates are those of the local search frame: origin at the centre of the search
// image, x right, y up, in pixels of the level being searched.
//
// Thread safety: an object may be used by one thread at a time; different objects and
// the static routines may be used concurrently.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "asm/FaceLandmarks.h"
#include "math/NumberMat.h"
#include "math/ShapeMat.h"

namespace kvo {

class Profiles {
public:
    // Default length of the derivative profile (doubles).
    static const int PROF_BUFFER_LENGTH = 50;

    // Ensures: gProf holds PROF_BUFFER_LENGTH zeros; d, p, q two zeros; delta zero.
    Profiles();

    // Grows gProf to at least `length` doubles (never shrinks). Call at initialisation
    // only: this is the one routine of the class that may allocate.
    void reserveProfile(size_t length);

    // Mahalanobis distance of `prof` to `mean`. First prof[i] -= mean[i] (in place,
    // giving d). A one-row `covar` is the compact form: sum of d_i^2 * covar[0][i + 1].
    // Otherwise sum of covar[i][i] * d_i^2 + 2 * sum over i < j of covar[i][j] * d_i * d_j
    // (diagonal and upper triangle only).
    // Terms beyond the end of `mean` or of `covar` are left out, so a model whose
    // matrices are shorter than the profile cannot make this read out of bounds.
    static double CalcProfile(const std::vector<double>& mean, std::vector<double>& prof,
                              const NumberMat& covar);

    // Unit profile direction at `cur` (each argument holds at least x, y): the
    // normalised sum of the unit normals (dy, -dx) of the segments prev->cur and
    // cur->next; when that sum vanishes (both components below 1e-10), the unit
    // direction of prev->cur instead. Vectors shorter than 1e-10 stay unnormalised.
    // Ensures: the result is `d` of this object, valid until the next call.
    std::vector<double>& GetBisector(const std::vector<double>& prev,
                                     const std::vector<double>& cur,
                                     const std::vector<double>& next);

    // Whisker step of landmark i of `shape`: the bisector at i divided by the larger
    // magnitude of its components, so that component is +-1 (pixels per step). The
    // neighbours come from `table` when `useTable`, else they are i - 1 and i + 1
    // (wrapping). The two leading parameters are not used. A bisector of zero length
    // (all three points equal) gives the step (0, 0).
    // Requires: 0 <= i < shape.rows, shape.cols >= 2.
    // Ensures: returns `delta` of this object (two doubles), valid until the next call.
    double* GetProfStepSize(double unusedX, double unusedY, const ShapeMat& shape, int i,
                            const LandmarkTable& table, bool useTable);

    // Grey level at local (x, y) of a width x height image: column
    // trunc(width * 0.5 + x), row trunc(height * 0.5 - y), each clamped into the image.
    // Returns 0 for an empty image.
    static int iGetPixel(const uint8_t* data, int width, int height, int x, int y);

    std::vector<double> gProf;  // derivative profile along the whisker
    std::vector<double> d;      // bisector result
    std::vector<double> p;      // scratch: incoming segment direction and normal
    std::vector<double> q;      // scratch: outgoing segment direction and normal
    double delta[2];            // whisker step (pixels per step in x and y)
};

// Rounds half away from zero and truncates toward zero, as the profile sampling does.
// Values beyond +-1e9 (and NaN) are clamped there so the conversion stays defined.
int nearestPixel(double v);

}  // namespace kvo
