#pragma once
// What a run measured, frame by frame, and the summary drawn from it.
//
// What it represents: per-frame series (host-measured milliseconds of kvo_update and of
// the getters; the head rotations in radians, NaN where there is no pose) and counts:
// frames; frames tracked, that is in "state_face_tracking" (a shape that passed the
// library's check); frames in the start phase ("state_face_tracking_start", a shape not
// yet checked); detections that started a track (the first and the re-detections after
// a loss); starts whose shape was rejected; tracks lost after being tracked; frames
// with a detected face and the first of them. Times are the host's view: the library
// exposes no stage timings.
//
// Thread safety: none.
#include <string>
#include <vector>

#include "HostTracker.h"

namespace kvo {
namespace app {

class RunStats {
public:
    // Reserves room for `expectedFrames` (when > 0).
    explicit RunStats(long expectedFrames);
    void add(const FrameResult& r, bool candideEnabled);

    long frames() const { return static_cast<long>(updateMs_.size()); }
    long tracked() const { return tracked_; }
    long startPhase() const { return startPhase_; }
    long trackStarts() const { return trackStarts_; }
    long rejectedStarts() const { return rejectedStarts_; }
    long losses() const { return losses_; }
    long facesDetected() const { return facesDetected_; }
    long firstFaceFrame() const { return firstFaceFrame_; }  // -1: no face detected
    const std::vector<double>& updateMs() const { return updateMs_; }
    const std::vector<double>& gettersMs() const { return gettersMs_; }
    const std::vector<double>& rotation(int axis) const { return rotation_[axis]; }

private:
    std::vector<double> updateMs_, gettersMs_, rotation_[3];
    long tracked_ = 0, startPhase_ = 0, trackStarts_ = 0, rejectedStarts_ = 0, losses_ = 0, facesDetected_ = 0;
    long firstFaceFrame_ = -1;
};

// The p-quantile (0..1) of `values` by linear interpolation between order statistics;
// NaN when empty.
double quantile(std::vector<double> values, double p);

}  // namespace app
}  // namespace kvo
