#pragma once
// Geometric repair of a fitted 68-landmark face shape.
//
// What it represents: a fixed list of rules that pull implausible landmark
// configurations back into shape (jaw ends on the eye line, ordered lip contours,
// eyebrows above the eyes, jaw sides outside the eyes). It works in place on the
// shape search's working shape in the local search frame (x right, y up, level-0
// pixels of the normalised frame, where a face is about 180 pixels wide).
//
// Thread safety: none; runs on the search's calling thread after the matching
// workers have been joined. Holds no state besides the reference to the shape.
#include "math/ShapeMat.h"

namespace kvo {

class ASMCorrectionExtension {
public:
    // Number of landmarks the rules are written for.
    static constexpr int NUM_LANDMARKS = 68;

    // Requires: `shape` outlives this object.
    explicit ASMCorrectionExtension(ShapeMat& shape);

    // Applies every rule in its fixed order, in place.
    // Requires: the shape has at least 68 rows and 2 columns; otherwise the call is
    // reported through kvo::Err and the shape is left unchanged. Only the first 68
    // landmarks are touched.
    // Ensures: finite coordinates stay finite (no rule divides by a zero length).
    void update();

private:
    // Moves P onto the ray from R through Q at t * |Q - R| from R, with
    // t = |P - R| / |Q - R| clamped to [lo, hi]. Leaves P alone when Q and R coincide.
    void ratioRule(int p, int q, int r, double lo, double hi);
    // coordinate 0 = x, 1 = y. B.c becomes at least A.c + offset.
    void atLeast(int a, double offset, int b, int coordinate);
    // B.c becomes at most A.c + offset.
    void atMost(int a, double offset, int b, int coordinate);

    ShapeMat& shape;
};

}  // namespace kvo
