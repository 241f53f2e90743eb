#pragma once
// The Candide-3 wire-frame face: vertices, triangles, shape units and action units,
// with the pose last applied to it.
//
// What it represents: a 3-D face mesh parsed from the library's line-oriented Candide
// text. The four shape units are applied once when the text is parsed; the seven
// action units deform the neutral face at run time (`updateActionUnitVectors`), and
// the pose (scale, translation in input-image pixels, rotations about x, y and z in
// radians) places it in the image (`updateTransform`). `projectedXY` and `triangles`
// are what the face-shape result publishes; `transformParams` is the pose.
//
// A text with a missing section or a malformed record leaves the model unusable
// (`isUsable()` false, every list empty); the fitting code then does nothing.
//
// Everything is sized when the text is parsed; the update and fit routines allocate
// nothing. The model is neither copyable nor movable, since each vertex points at the
// model's own `projectedXY`.
//
// Thread safety: not synchronised; used only on the tracker's calling thread.
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "candide/ActionUnitVector.h"
#include "candide/CandidePoint.h"
#include "candide/LevenbergMarquardt.h"
#include "math/Point.h"

namespace kvo {

class CandideModel {
public:
    // Ensures: an empty model (no vertices, faces or units), `transformParams` and
    // `rotScale` all 0.0, the solver in its initial state, `isUsable()` false.
    CandideModel();
    ~CandideModel();
    CandideModel(const CandideModel&) = delete;
    CandideModel& operator=(const CandideModel&) = delete;

    // Decodes the embedded Candide text and parses it (see `initFromText`).
    void init();

    // Discards any earlier model, splits `text` into lines (empty lines kept) and parses the vertex list, the face
    // list, the seven action units and the four shape units, in that order; then sets
    // `transformParams` to (1, 0, 0, 0, 0, 0).
    // Ensures: on success `isUsable()`; on a missing section or a malformed record one
    // "Error: ..." line has been written and the model is empty and unusable.
    // Returns isUsable().
    bool initFromText(const std::string& text);

    // Parsers of the sections. Each returns false after reporting a missing header,
    // a count beyond the text, a record with too few or non-numeric fields, or a vertex
    // number outside the vertex list; the caller then discards the model.
    bool parseVertices(std::vector<std::string>& lines);
    bool parseFaceList(std::vector<std::string>& lines);
    // Returns the unit read from the section that starts with `header`, with the given
    // weight, or null after reporting a problem.
    ActionUnitVectorPtr parseActionUnitVector(const std::string& header,
                                              std::vector<std::string>& lines, double value);
    bool parseActionUnitVectors(std::vector<std::string>& lines);
    // Reads the four shape units and applies each to `neutral` once.
    bool parseShapeUnits(std::vector<std::string>& lines);

    // True when a complete model has been parsed.
    bool isUsable() const { return usable; }

    // Ensures: every vertex's `animated` = `neutral` + sum over the action units, in
    // list order, of weight x displacement.
    void updateActionUnitVectors();

    // Requires: `pose` holds six values (scale, tx, ty, rx, ry, rz; pixels, radians).
    // Ensures: if `pose` differs from `transformParams` (or holds a NaN), it becomes
    // `transformParams` and `rotScale` = s * Rx(rx) * Ry(ry) * Rz(rz); then for every
    // vertex `transformed` = rotScale * animated + (tx, ty, 0) and its projection is
    // written into `projectedXY`.
    void updateTransform(const std::vector<double>& pose);

    // Recomputes vertex `v` alone as updateActionUnitVectors and updateTransform would,
    // with the pose and `rotScale` in force: `animated` = `neutral` plus its action-unit
    // displacements (the same additions in the same order), then `transformed` and its
    // projection. So after changing one unit's weight, updating the unit's vertices gives
    // every vertex bit for bit what the two whole-model calls give.
    // Requires: v < vertices.size(); the model parsed (the per-vertex lists exist).
    void updateVertex(size_t v);

    // Fits the six pose parameters so that `points`, moved from their `transformed`
    // coordinates by the pose, land on their `point` targets (target x truncated toward
    // zero), by the Levenberg-Marquardt solver with at most `maxIterations` accepted
    // steps.
    // Requires: `pose` holds six start values. Ensures: `pose` holds the result.
    void calculateTransformMatrix(std::vector<CandidePointPtr>& points, std::vector<double>& pose,
                                  int maxIterations);

    std::vector<CandidePointPtr> vertices;
    std::vector<PointPtr> points;            // vertex k's `point`, shared
    std::vector<double> projectedXY;         // x, y of vertex k at 2k, 2k + 1 (pixels)
    std::vector<std::array<int, 3>> faces;
    std::vector<int> triangles;              // faces flattened, 3 indices per face
    std::vector<ActionUnitVectorPtr> actionUnits;
    std::vector<ActionUnitVectorPtr> shapeUnits;
    std::vector<double> transformParams;     // scale, tx, ty, rx, ry, rz
    LevenbergMarquardt lm;
    double rotScale[9];                      // row-major 3 x 3: scale x rotation

    // Total squared 2-D error of `pts` under the pose `p` (six values): the sum over
    // the points of (trunc(point x) - x')^2 + (point y - y')^2, where (x', y') is the
    // point's `transformed` coordinates scaled, rotated and translated by `p`.
    static double poseError(const std::vector<CandidePointPtr>& pts, const double* p);

private:
    // One displacement of one action unit on a vertex.
    struct UnitEntry {
        const ActionUnitVector* unit;
        const std::array<double, 3>* displacement;
    };
    // Builds vertexUnits from actionUnits (unit order, then entry order).
    void buildVertexUnits();
    // Per vertex: the displacements that move it, in the order updateActionUnitVectors
    // adds them.
    std::vector<std::vector<UnitEntry>> vertexUnits;
    // transformed = rotScale * animated + (tx, ty, 0) for one vertex, and its projection.
    void transformVertex(CandidePoint& v, double tx, double ty) const;

    // Forward-difference derivatives of the error into lm.gradient and lm.jtj.
    void poseDerivatives(const std::vector<CandidePointPtr>& pts, double e);
    void clear();

    bool usable;
};

}  // namespace kvo
