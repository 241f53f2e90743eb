#include "candide/ASMCandideExtension.h"

#include <algorithm>
#include <cmath>

#include "math/Angles.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Landmark-vertex pairs. A: landmarks, B: the vertices paired with them.
const int kTableA[] = {0,  2,  4,  6,  7,  8,  10, 12, 14, 15, 16, 18, 20, 21, 22, 24, 26, 27, 28,
                       29, 30, 32, 33, 34, 35, 37, 40, 41, 42, 45, 46, 47, 48, 50, 51, 52, 54, 57};
const int kTableB[] = {62, 61, 63, 65, 10, 32, 30, 28, 29, 15, 16, 17, 18,  48, 49, 50, 51, 53, 52,
                       56, 57, 20, 19, 23, 24, 93, 112, 6, 111, 92, 76, 75, 89, 66, 7,  33, 88, 8};
// P: the landmarks that determine the pose.
const int kTableP[] = {0, 2, 4, 7, 10, 12, 14, 27, 29, 32, 34, 40, 41, 42, 48, 54};
// D, E: further pairs, appended at init.
const int kTableD[] = {57, 33, 54, 61, 28, 48, 33, 28, 33, 28, 53, 49, 63, 65, 62, 60, 56, 58, 64, 54, 48};
const int kTableE[] = {9,  21, 31, 40, 54, 64, 67, 69, 71, 73, 79, 80, 81, 82, 83, 84, 85, 86, 87, 90, 91};

const double kLargest = 1.7976931348623157e308;
const int kPoseMaxIterations = 10;

// Grid passes over the action units: (step, range), coarse to fine.
const double kGridPasses[3][2] = {{0.1, 1.0}, {0.05, 0.25}, {0.01, 0.1}};

double clampUnit(double v) { return std::min(1.0, std::max(-1.0, v)); }

template <size_t N>
std::vector<int> tableOf(const int (&t)[N]) {
    return std::vector<int>(t, t + N);
}

// Position of the first occurrence of `value` in `v`, or -1.
int firstIndexOf(const std::vector<int>& v, int value) {
    for (size_t i = 0; i < v.size(); ++i)
        if (v[i] == value) return static_cast<int>(i);
    return -1;
}

bool allFinite(const std::vector<double>& v) {
    for (double x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

}  // namespace

ASMCandideExtension::ASMCandideExtension(ShapeMat& s)
    : shape(s),
      mapLandmarks(tableOf(kTableA)),
      mapVertices(tableOf(kTableB)),
      poseLandmarks(tableOf(kTableP)),
      extraLandmarks(tableOf(kTableD)),
      extraVertices(tableOf(kTableE)),
      poseParams{1.0, 0.0, 0.0, 0.0, 0.0, 0.0},
      shapeParams{1.0, 0.0, 0.0, 0.0, 0.0, 0.0} {}

void ASMCandideExtension::initFromModelText(const std::string& text) {
    if (initialised) return;
    initialised = true;
    model.initFromText(text);

    mapLandmarks.insert(mapLandmarks.end(), extraLandmarks.begin(), extraLandmarks.end());
    mapVertices.insert(mapVertices.end(), extraVertices.begin(), extraVertices.end());
    int largestLandmark = 0;
    int largestVertex = 0;
    for (int l : mapLandmarks) largestLandmark = std::max(largestLandmark, l);
    for (int v : mapVertices) largestVertex = std::max(largestVertex, v);
    minShapeRows = largestLandmark + 1;

    if (!model.isUsable()) return;  // the parser has reported why
    if (model.vertices.size() <= static_cast<size_t>(largestVertex)) {
        Err("Candide model: " + to_string(static_cast<int>(model.vertices.size())) +
            " vertices, the landmark pairing needs " + to_string(largestVertex + 1) +
            "; Candide fitting is off.");
        return;
    }
    usable = true;
    errorTerms.assign(model.vertices.size(), 0.0);

    posePoints.resize(poseLandmarks.size());
    for (size_t i = 0; i < poseLandmarks.size(); ++i) {
        const int p = firstIndexOf(mapLandmarks, poseLandmarks[i]);
        posePoints[i] = model.vertices[mapVertices[p]];
    }

    // A search without a shape model has an empty shape: nothing to place the mesh on.
    if (shape.rows > 0) updateTransformByShape(shape);

    // A landmark listed twice keeps the vertex of its first listing.
    mappedPoints.resize(mapLandmarks.size());
    for (size_t i = 0; i < mapLandmarks.size(); ++i) {
        const int p = firstIndexOf(mapLandmarks, mapLandmarks[i]);
        mappedPoints[i] = model.vertices[mapVertices[p]];
    }
}

bool ASMCandideExtension::shapeUsable(ShapeMat& s, int minRows) {
    if (s.rows < minRows || s.cols < 2) {
        reportOnce("Candide fit: the shape has " + to_string(static_cast<int>(s.rows)) + " rows, " +
                   to_string(minRows) + " needed; the pose is kept.");
        return false;
    }
    for (int i = 0; i < s.rows; ++i) {
        if (!std::isfinite(s.data[i][0]) || !std::isfinite(s.data[i][1])) {
            reportOnce("Candide fit: the shape holds a non-finite coordinate; the pose is kept.");
            return false;
        }
    }
    return true;
}

void ASMCandideExtension::reportOnce(const std::string& message) {
    if (reportedThisTrack) return;
    reportedThisTrack = true;
    Err(message);
}

void ASMCandideExtension::updateTransformByShape(ShapeMat& s) {
    reportedThisTrack = false;  // a fresh shape starts a new track
    if (!usable || !shapeUsable(s, 1)) return;
    const double w = s.shapeWidth();
    const double h = s.shapeHeight();
    shapeParams[0] = 0.85 * w;
    shapeParams[1] = s.colMinElem(0) + 0.5 * w;
    shapeParams[2] = s.colMinElem(1) + 0.3 * h;
    shapeParams[3] = 0.0;
    shapeParams[4] = 0.0;
    shapeParams[5] = 0.0;
    model.updateActionUnitVectors();
    model.updateTransform(shapeParams);
}

void ASMCandideExtension::update(bool fitActionUnits) {
    if (!usable || !shapeUsable(shape, minShapeRows)) return;
    const std::vector<std::vector<double> >& rows = shape.data;
    const size_t n = posePoints.size();

    // 1-2. Mean offset of the pose landmarks from their vertices, and the centre of
    // the vertices' bounding box.
    double sumDx = 0.0, sumDy = 0.0;
    double minX = kLargest, maxX = -kLargest, minY = kLargest, maxY = -kLargest;
    for (size_t i = 0; i < n; ++i) {
        CandidePoint& v = *posePoints[i];
        const std::vector<double>& row = rows[poseLandmarks[i]];
        v.point->x = row[0];
        v.point->y = row[1];
        v.matched = false;
        sumDx += row[0] - v.transformed[0];
        sumDy += row[1] - v.transformed[1];
        minX = std::min(minX, v.transformed[0]);
        maxX = std::max(maxX, v.transformed[0]);
        minY = std::min(minY, v.transformed[1]);
        maxY = std::max(maxY, v.transformed[1]);
    }
    const double meanX = sumDx / static_cast<double>(n);
    const double meanY = sumDy / static_cast<double>(n);
    const double centreX = minX + 0.5 * (maxX - minX);
    const double centreY = minY + 0.5 * (maxY - minY);

    // 3. Centre targets and vertices so that the fitted pose is a small correction.
    for (size_t i = 0; i < n; ++i) {
        CandidePoint& v = *posePoints[i];
        if (v.matched) continue;
        v.matched = true;
        const std::vector<double>& row = rows[poseLandmarks[i]];
        v.point->x = row[0] - meanX - centreX;
        v.point->y = row[1] - meanY - centreY;
        v.transformed[0] -= centreX;
        v.transformed[1] -= centreY;
    }

    // 4-5. Fit the correction and compose it with the pose in force.
    const double identity[6] = {1.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    poseParams.assign(identity, identity + 6);
    model.calculateTransformMatrix(posePoints, poseParams, kPoseMaxIterations);
    const std::vector<double>& current = model.transformParams;
    poseParams[0] = poseParams[0] * current[0];
    poseParams[1] = poseParams[1] + meanX + current[1];
    poseParams[2] = poseParams[2] + meanY + current[2];
    for (int r = 3; r < 6; ++r) poseParams[r] += current[r];
    if (!allFinite(poseParams)) {
        // Restore the vertices moved in step 3 and keep the last good pose.
        model.updateTransform(model.transformParams);
        reportOnce("Candide fit: the pose fit did not converge to finite values; the last pose is kept.");
        return;
    }

    // 6-7. Apply the pose; every vertex then aims at where it is, the paired ones at
    // their landmarks.
    model.updateTransform(poseParams);
    for (const CandidePointPtr& vp : model.vertices) {
        vp->point->x = vp->transformed[0];
        vp->point->y = vp->transformed[1];
    }
    for (size_t i = 0; i < mappedPoints.size(); ++i) {
        const std::vector<double>& row = rows[mapLandmarks[i]];
        mappedPoints[i]->point->x = row[0];
        mappedPoints[i]->point->y = row[1];
    }

    // 8. Coarse-to-fine grid search of the action-unit weights.
    if (fitActionUnits) {
        for (const double* pass : kGridPasses) updateActionUnitVectors(model.actionUnits, pass[0], pass[1]);
    }
}

void ASMCandideExtension::updateActionUnitVectors(const std::vector<ActionUnitVectorPtr>& units,
                                                  double step, double range) {
    if (!usable) return;
    poseParams = model.transformParams;
    double best = 0.0;  // carried over from one unit to the next
    for (size_t i = 0; i < units.size(); ++i) {
        ActionUnitVector& u = *units[i];
        const double w = clampUnit(u.value);
        const double end = clampUnit(w + range);
        // The second unit (AUV0) starts opposite to a quarter of the first's (AUV9's)
        // best weight.
        const double start = (i == 1) ? -0.25 * best : clampUnit(w - range);
        double bestErr = kLargest;
        bool whole = true;  // the first weight of a unit updates the whole model
        for (double g = start; g <= end; g += step) {
            u.value = g;
            if (whole) {
                model.updateActionUnitVectors();
                model.updateTransform(poseParams);
                for (size_t v = 0; v < model.vertices.size(); ++v) {
                    const CandidePoint& p = *model.vertices[v];
                    const double dx = p.transformed[0] - p.point->x;
                    const double dy = p.transformed[1] - p.point->y;
                    errorTerms[v] = dx * dx + dy * dy;
                }
                whole = false;
            } else {
                // The pose is the one just applied (poseParams is transformParams), so
                // rotScale holds; only u's vertices move.
                for (int v : u.vertexIndices) {
                    model.updateVertex(static_cast<size_t>(v));
                    const CandidePoint& p = *model.vertices[v];
                    const double dx = p.transformed[0] - p.point->x;
                    const double dy = p.transformed[1] - p.point->y;
                    errorTerms[v] = dx * dx + dy * dy;
                }
            }
            double err = 0.0;
            for (double t : errorTerms) err += t;
            if (err < bestErr) {
                bestErr = err;
                best = g;
            }
        }
        u.value = best;
    }
    model.updateActionUnitVectors();
    model.updateTransform(poseParams);
}

bool ASMCandideExtension::isPoseValid(const Rectangle& validRegion) const {
    if (!usable) return true;
    const std::vector<double>& p = model.transformParams;
    if (!validRegion.contains(p[1], p[2])) return false;
    const double rx = p[3] * DEGREES_PER_RADIAN, ry = p[4] * DEGREES_PER_RADIAN, rz = p[5] * DEGREES_PER_RADIAN;
    // Written so that a NaN angle fails.
    return rx >= -20.0 && rx <= 20.0 && ry >= -48.0 && ry <= 48.0 && rz >= -30.0 && rz <= 30.0;
}

}  // namespace kvo
