#pragma once
// Steadies the landmark refinement in video: a One Euro filter on its correction.
//
// What it represents: the correction the refinement makes to each landmark (refined minus
// searched position), held in the face's own frame (the searched shape's outer eye
// corners: unit distance apart, x along the line through them) and smoothed over the
// frames of one track with a One Euro filter (Casiez, Roussel and Vogel, CHI 2012): a low
// cut-off while a correction holds still, rising with the speed at which it changes, so a
// still face keeps still points while an opening mouth is followed within a few frames.
// Only the correction is filtered: the searched shape, which the stabiliser already
// steadies, carries the face's motion into the output without lag.
//
// Units: time in calls (one call a frame), so cut-offs are in cycles per frame and speeds
// in outer-eye distances per frame. The first call after reset() passes its input through.
//
// Lifecycle: init() once with the landmark count (sizes every buffer); reset() whenever a
// track starts; apply() once per refined frame. Allocates nothing after init().
//
// Thread safety: none; one filter per tracker, on the tracker's calling thread.
#include <vector>

#include "math/ShapeMat.h"

namespace kvo {

class RefinementFilter {
public:
    struct Settings {
        // Chosen on franck.mp4 and the 300-W validation faces: smoothing the correction
        // harder than this steadied the stillest second no further (2.84 to 2.97 per
        // mille of the eye distance for cut-offs 0.01 to 0.1, against 4.07 unfiltered)
        // and began to cost accuracy; a large `beta` brought the trembling back.
        double minCutoff = 0.05;        // cycles per frame while a correction holds still
        double beta = 1.0;              // cut-off added per outer-eye distance per frame of speed
        double derivativeCutoff = 0.1;  // cycles per frame, for the speed estimate
    };
    Settings settings;

    // The landmarks of our layout whose distance sets the face frame.
    static constexpr int OUTER_EYE_A = 27;
    static constexpr int OUTER_EYE_B = 32;

    // Ensures: buffers for `landmarks` points; the filter reset.
    void init(int landmarks);
    // Ensures: the next apply() starts a new track and passes its input through.
    void reset() { started_ = false; }

    // Replaces `refined` by `searched` plus the smoothed correction.
    // Requires: both shapes in the same image frame. Ensures: when both have the landmark
    // count given to init() (at least 33) and two columns, the searched outer eye corners
    // are apart and every value is finite, `refined` moved as described; otherwise
    // `refined` is left as it is and the filter reset. Allocates nothing.
    void apply(const ShapeMat& searched, ShapeMat& refined);

private:
    int n_ = 0;
    bool started_ = false;
    std::vector<double> value_;  // 2n: the filtered correction, face frame
    std::vector<double> speed_;  // 2n: the filtered speed of the correction
};

}  // namespace kvo
