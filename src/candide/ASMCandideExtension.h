#pragma once
// Fits the Candide-3 face model to the 68-point shape found by the shape search.
//
// What it represents: the pairing of shape landmarks with Candide vertices and the
// two-stage fit run after each search: the pose (scale, x and y translation in
// input-image pixels, rotations about x, y and z in radians) by Levenberg-Marquardt
// on 16 landmark-vertex pairs, then the seven action-unit weights by a coarse-to-fine
// grid search. It owns the CandideModel whose `projectedXY`, `triangles` and
// `transformParams` the tracker publishes, and answers the pose-limit part of the
// search's plausibility test.
//
// Every table and matrix is sized by `init`; `update` allocates nothing. A shape with
// too few rows or non-finite coordinates, and a fit that turns non-finite, keep the
// last good pose (reported once per track).
//
// Thread safety: not synchronised; runs on the tracker's calling thread, inside the
// shape search.
#include <memory>
#include <string>
#include <vector>

#include "candide/CandideModel.h"
#include "math/Rectangle.h"
#include "math/ShapeMat.h"

namespace kvo {

class ASMCandideExtension {
public:
    // Keeps a reference to `shape` (the search's result shape, image frame, one row
    // (x, y) per landmark) and builds the landmark-vertex tables.
    explicit ASMCandideExtension(ShapeMat& shape);

    // Decodes and parses the embedded Candide model, then pairs the tables with its
    // vertices and places it on `shape`. Called once when the tracker initialises.
    void init();
    // As `init`, with the Candide text given.
    void initFromModelText(const std::string& text);

    // Places the model on a fresh shape: pose = (0.85 * width, min x + 0.5 * width,
    // min y + 0.3 * height, 0, 0, 0) of `s`; the action-unit weights keep their values.
    // Starts a new track as far as the once-per-track reports are concerned.
    void updateTransformByShape(ShapeMat& s);

    // One fit against the current shape: the pose, composed onto the pose in force, and
    // with `fitActionUnits` the three grid passes over the action units.
    void update(bool fitActionUnits);

    // One pass of the action-unit grid search over `units` (the model's action units)
    // with grid step `step` and half-width `range` (weights in [-1, 1]). The first weight
    // tried for a unit updates the whole model; each further one updates only the
    // vertices that unit moves (the others cannot change) and sums the kept squared
    // errors of the rest in vertex order, so every error is the whole-model sum bit for
    // bit.
    void updateActionUnitVectors(const std::vector<ActionUnitVectorPtr>& units, double step,
                                 double range);

    // Pose limits of the plausibility test: true when `validRegion` contains the pose's
    // translation (edges inclusive) and the rotations in degrees lie within [-20, 20]
    // about x, [-48, 48] about y and [-30, 30] about z. An unusable model never vetoes
    // the track, so this is true then.
    bool isPoseValid(const Rectangle& validRegion) const;

    // True when init found a usable model; otherwise every fit is a no-op.
    bool isUsable() const { return usable; }

    ShapeMat& shape;
    CandideModel model;
    std::vector<int> mapLandmarks;
    std::vector<int> mapVertices;
    std::vector<int> poseLandmarks;
    std::vector<int> extraLandmarks;
    std::vector<int> extraVertices;
    std::vector<CandidePointPtr> mappedPoints;
    std::vector<CandidePointPtr> posePoints;
    std::vector<double> poseParams;
    std::vector<double> shapeParams;

private:
    bool shapeUsable(ShapeMat& s, int minRows);
    void reportOnce(const std::string& message);

    std::vector<double> errorTerms;  // per vertex: squared distance to its target

    bool usable = false;
    bool initialised = false;
    bool reportedThisTrack = false;
    int minShapeRows = 0;  // 1 + the largest landmark number of the tables
};

}  // namespace kvo
