// PoseTally: the head-pose figures of one tracked video, gathered frame by frame.
//
// Represents: the Candide pose the tracker published on every frame it was tracking
// (rotations in degrees), how many of those lie within the tracker's pose limits, and,
// on the frames that have reference landmarks, the pairing of the rotation about z
// with the in-plane tilt of the eye line (pupil to pupil, in degrees, image y down).
// Thread safety: none; one tally per evaluation loop.
#pragma once

#include <string>
#include <vector>

namespace kvo {
namespace trainer {

class PoseTally {
public:
    // Requires: rotations in radians as the tracker publishes them.
    void addTracked(double rx, double ry, double rz);
    // Requires: addTracked was called for this frame; tilt in degrees.
    // Pairs the frame's rotation about z with a reference eye-line tilt (dlib's eyes)
    // and with the tracker's own pupils' tilt.
    void addTilt(double referenceTiltDeg, double ownTiltDeg);

    // Ensures: a few lines of figures, each starting with "pose:".
    std::string summary() const;

    // Pearson correlation of two equally long series; NaN below 3 pairs or for a
    // constant series.
    static double correlation(const std::vector<double>& a, const std::vector<double>& b);
    // Tilt of the line from (x0, y0) to (x1, y1) in degrees, image y down.
    static double tiltDeg(double x0, double y0, double x1, double y1);

private:
    std::vector<double> rx_, ry_, rz_;          // degrees, every tracked frame
    std::vector<double> pairedRz_, refTilt_, ownTilt_;
};

}  // namespace trainer
}  // namespace kvo
