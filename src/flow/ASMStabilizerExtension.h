#pragma once
// The shape stabiliser: optical-flow prediction of the 68-landmark shape between frames.
//
// What it represents: before each shape search, it tracks every landmark from the
// previous shape-search frame to the current one with its own OpticalFlow on the
// shape-search pyramid, moves the search's shape to the tracked positions (landmarks
// whose motion is an outlier move by the mean motion of their quadrant instead), and
// sets a blend weight per landmark; it reports whether the motion is small enough for
// the prediction to be used. After the search, the search mixes each landmark's
// predicted and searched positions with `weights` (weight 0: all prediction).
//
// Coordinates: the search's shape is centred on the shape-search frame with y up; with
// (cx, cy) = (width >> 1, height >> 1) of the frame's level 0, shape point (x, y) is
// frame pixel (x + cx, cy - y). Motions are in frame pixels.
//
// Calling order per frame: prepareOpticalFlowContraint(), then
// opticalFlow.update(trackedPoints, pointStates), then calcOpticalFlowContraint().
//
// Thread safety: none; use on the tracker's thread. Only the embedded optical flow
// starts (and joins) workers.
#include <vector>

#include "flow/ASMStabilizerPoint.h"
#include "flow/OpticalFlow.h"
#include "image/ImageDataManager.h"
#include "math/Point.h"
#include "math/ShapeMat.h"

namespace kvo {

class ASMStabilizerExtension {
public:
    static constexpr int NUM_LANDMARKS = 68;
    static constexpr double INITIAL_WEIGHT = 0.35;
    static constexpr double SMALLEST_SHARE = 0.85;      // share of motions that set the threshold
    static constexpr double MAX_THRESHOLD = 20.0;       // pixels^2: largest usable motion
    static constexpr int QUADRANTS = 4;

    // Requires: `manager` and `shape` outlive the stabiliser. Ensures: its lists are
    // empty; init() sizes them.
    ASMStabilizerExtension(ImageDataManager& manager, ShapeMat& shape);
    ASMStabilizerExtension(const ASMStabilizerExtension&) = delete;
    ASMStabilizerExtension& operator=(const ASMStabilizerExtension&) = delete;

    // Requires: the manager's shape-search pyramid exists. Ensures: the factor table,
    // weights 0.35 each, one record per landmark 0 ... 67, and the optical flow set up
    // for a 17 x 17 window, 4 levels, 15 iterations, epsilon 0.006, on the shape-search
    // pyramid, without the validity filter. Calling it again starts over.
    void init();

    // Sets each record's `previous` to its landmark's frame pixel and `tracked` to the
    // same point in input pixels (plus the ROI's truncated origin, which the optical flow
    // subtracts again). Returns `trackedPoints` for the optical flow.
    // A landmark missing from `shape` (fewer rows than records) is left unset, so the
    // optical flow marks it lost without reading pixels.
    std::vector<PointPtr>& prepareOpticalFlowContraint();

    // After the optical flow: computes each landmark's motion, moves the shape to the
    // tracked positions (outliers by their quadrant's mean motion) and sets `weights`.
    // Returns true when the motion at the 85 % point (the 57th smallest of 68) is below
    // 20 squared pixels, i.e. the prediction may be used.
    // Requires: prepareOpticalFlowContraint ran on this shape. A shape with fewer rows
    // than records is reported and left unchanged (returns false).
    bool calcOpticalFlowContraint();

    ImageDataManager* manager;
    ShapeMat* shape;
    OpticalFlow opticalFlow;
    std::vector<int> landmarkIndices;
    std::vector<ASMStabilizerPointPtr> points;
    std::vector<ASMStabilizerPointPtr> sortedPoints;  // by distanceSquared, stable
    std::vector<double> factors;                      // per landmark
    std::vector<double> weights;                      // per landmark, 0 ... 1
    std::vector<PointPtr> trackedPoints;              // records' `tracked`, in `points` order
    std::vector<bool> pointStates;                    // optical-flow states (not consulted)

private:
    // Quadrant 0 lower-left, 1 lower-right, 2 upper-left, 3 upper-right (y up).
    static int quadrantOf(double x, double y);
    // Moves the landmark of `p` to its tracked position and sets its weight from its motion.
    void followFlow(const ASMStabilizerPoint& p, double cx, double cy);
    // The frame centre (cx, cy) in pixels.
    void frameCentre(double& cx, double& cy) const;
    // The ROI's truncated origin in input pixels.
    void roiOrigin(double& ox, double& oy) const;
};

}  // namespace kvo
