#pragma once
// The plausibility checks that the shape search applies to a searched shape before it
// keeps tracking (ASMSearch::isValid), each evaluated on its own, so that a tool can also
// tell which of them a shape fails.
//
// What it represents: the size, frame and layout checks on a 68-landmark shape in our
// layout (image pixels, y down); the Candide pose limits are the Candide extension's.
//
// Thread safety: pure functions on plain values; callable from any thread.
#include "math/Rectangle.h"
#include "math/ShapeMat.h"

namespace kvo {

// The limits a shape is checked against.
struct ShapeLimits {
    double minFaceSize = 0.0;  // pixels: the smallest width and height accepted
    double maxFaceSize = 0.0;  // pixels: the largest width and height accepted
    Rectangle validRegion;     // pixels: where the shape's centre must lie (edges included)
    bool strict = true;        // also check the layout (the search's strictValidation == 1)
};

// Which checks a shape fails (true: failed). The layout checks are false when not asked for.
struct ShapeChecks {
    bool size = false;          // width or height outside [minFaceSize, maxFaceSize]
    bool region = false;        // the centre of the extent outside validRegion
    bool fewPoints = false;     // layout asked for, but fewer than 67 landmarks
    bool mouth = false;         // landmark 66 outside the mouth box of the extent
    bool leftPupil = false;     // landmark 31 outside the extent's upper-left box
    bool rightPupil = false;    // landmark 36 outside the extent's upper-right box
    bool ratio = false;         // width / height outside [0.72, 1.35]
    bool pupilSpan = false;     // |31 - 36| / width outside [0.39, 0.55]

    bool layoutFailed() const { return fewPoints || mouth || leftPupil || rightPupil || ratio || pupilSpan; }
    bool anyFailed() const { return size || region || layoutFailed(); }
};

// Requires: `shape` has 2 columns (x, y; pixels) and finite values.
// Ensures: every check of `limits` evaluated on `shape`; anyFailed() is false exactly when
// the search's size, frame and layout tests accept the shape.
ShapeChecks checkShape(const ShapeMat& shape, const ShapeLimits& limits);

}  // namespace kvo
