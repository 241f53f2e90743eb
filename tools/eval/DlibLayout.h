#pragma once
// Measures on a shape in dlib's (iBUG 300-W) 68-point layout that the evaluations share.
//
// Thread safety: pure functions; callable from any thread.
#include "tracker/FaceBoxFromEyes.h"

namespace kvo {
namespace eval {

// Requires: `shape` holds 68 points x0, y0, x1, y1, ... (pixels) in dlib's layout.
// Ensures: the eye centres, each the mean of its eye's six points: points 36-41 as
// `left`, 42-47 as `right` (the image's left and right eye of an upright frontal face).
EyeCentres dlibEyeCentres(const double* shape);

}  // namespace eval
}  // namespace kvo
