#include "flow/ASMStabilizerExtension.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "util/Trace.h"

namespace kvo {

namespace {

// Weight factor of a landmark: the eyes and the lip centres follow the search more.
double factorOf(int landmark) {
    if (landmark >= 27 && landmark <= 36) return 2.0;  // the eyes
    switch (landmark) {
        case 49: case 53: return 1.25;
        case 50: case 52: case 56: case 58: return 1.5;
        case 51: case 57: return 2.0;
        default: return 1.0;
    }
}

// Motion used for ordering and thresholds: a non-finite motion counts as the largest.
double motionKey(double distanceSquared) {
    return std::isfinite(distanceSquared) ? distanceSquared : std::numeric_limits<double>::infinity();
}

}  // namespace

ASMStabilizerExtension::ASMStabilizerExtension(ImageDataManager& m, ShapeMat& s)
    : manager(&m), shape(&s), opticalFlow(m) {}

void ASMStabilizerExtension::init() {
    factors.resize(NUM_LANDMARKS);
    for (int i = 0; i < NUM_LANDMARKS; ++i) factors[i] = factorOf(i);
    weights.assign(NUM_LANDMARKS, INITIAL_WEIGHT);
    landmarkIndices.resize(NUM_LANDMARKS);
    for (int i = 0; i < NUM_LANDMARKS; ++i) landmarkIndices[i] = i;

    points.clear();
    trackedPoints.clear();
    for (int index : landmarkIndices) {
        ASMStabilizerPointPtr p = std::make_shared<ASMStabilizerPoint>();
        p->index = index;
        points.push_back(p);
        trackedPoints.push_back(p->tracked);
    }
    sortedPoints.assign(points.size(), nullptr);
    sortedPoints.reserve(points.size());
    pointStates.assign(points.size(), true);

    opticalFlow.init();
    opticalFlow.patchSize(17);
    opticalFlow.levels = 4;
    opticalFlow.iterations = 15;
    opticalFlow.epsilon = 0.006;
    opticalFlow.useASMPyramid = true;
    opticalFlow.checkPointsValidBeforeTracking = false;
}

void ASMStabilizerExtension::frameCentre(double& cx, double& cy) const {
    cx = static_cast<double>(manager->asmCurrent[0].width >> 1);
    cy = static_cast<double>(manager->asmCurrent[0].height >> 1);
}

void ASMStabilizerExtension::roiOrigin(double& ox, double& oy) const {
    ox = manager->roi != nullptr ? std::trunc(manager->roi->x) : 0.0;
    oy = manager->roi != nullptr ? std::trunc(manager->roi->y) : 0.0;
}

int ASMStabilizerExtension::quadrantOf(double x, double y) {
    if (x < 0.0 && y < 0.0) return 0;
    if (x >= 0.0 && y < 0.0) return 1;
    if (x < 0.0 && y >= 0.0) return 2;
    return 3;
}

std::vector<PointPtr>& ASMStabilizerExtension::prepareOpticalFlowContraint() {
    double cx, cy, ox, oy;
    frameCentre(cx, cy);
    roiOrigin(ox, oy);
    // The optical flow may have dropped entries of the list it was handed; the records
    // still own the points, so the list is rebuilt in place (its capacity stays).
    if (trackedPoints.size() != points.size()) {
        trackedPoints.clear();
        for (const ASMStabilizerPointPtr& p : points) trackedPoints.push_back(p->tracked);
    }
    const ShapeMat& s = *shape;
    for (const ASMStabilizerPointPtr& p : points) {
        if (p->index < s.rows && s.cols >= 2) {
            p->previous->x = s.data[p->index][0] + cx;
            p->previous->y = cy - s.data[p->index][1];
            p->tracked->x = p->previous->x + ox;
            p->tracked->y = p->previous->y + oy;
        } else {
            // Unset: relative (0, 0) is never tracked.
            p->previous->x = 0.0;
            p->previous->y = 0.0;
            p->tracked->x = ox;
            p->tracked->y = oy;
        }
        p->dx = 0.0;
        p->dy = 0.0;
        p->distanceSquared = 0.0;
    }
    return trackedPoints;
}

void ASMStabilizerExtension::followFlow(const ASMStabilizerPoint& p, double cx, double cy) {
    shape->data[p.index][0] = p.tracked->x - cx;
    shape->data[p.index][1] = cy - p.tracked->y;
    const double w = std::min(0.5, 0.0625 * p.distanceSquared * 0.4 + 0.1);
    weights[p.index] = std::min(1.0, w * factors[p.index]);
}

bool ASMStabilizerExtension::calcOpticalFlowContraint() {
    ShapeMat& s = *shape;
    const size_t n = points.size();
    if (n == 0) return false;
    int needed = 0;
    for (const ASMStabilizerPointPtr& p : points) needed = std::max(needed, p->index + 1);
    if (s.rows < needed || s.cols < 2) {
        Err("Stabiliser needs a shape of " + std::to_string(needed) + " landmarks, got " +
            std::to_string(s.rows) + "; prediction not used");
        return false;
    }
    double cx, cy, ox, oy;
    frameCentre(cx, cy);
    roiOrigin(ox, oy);

    // Motions, ordered by size; equal motions keep landmark order.
    sortedPoints.clear();
    for (const ASMStabilizerPointPtr& p : points) {
        p->tracked->x -= ox;
        p->tracked->y -= oy;
        p->dx = p->tracked->x - p->previous->x;
        p->dy = p->tracked->y - p->previous->y;
        p->distanceSquared = p->dx * p->dx + p->dy * p->dy;
        const double key = motionKey(p->distanceSquared);
        auto at = std::find_if(sortedPoints.begin(), sortedPoints.end(),
                               [key](const ASMStabilizerPointPtr& q) { return motionKey(q->distanceSquared) > key; });
        sortedPoints.insert(at, p);
    }

    const size_t m = static_cast<size_t>(static_cast<double>(n) * SMALLEST_SHARE);
    double sumX[QUADRANTS] = {0.0, 0.0, 0.0, 0.0};
    double sumY[QUADRANTS] = {0.0, 0.0, 0.0, 0.0};
    int count[QUADRANTS] = {0, 0, 0, 0};
    for (size_t k = 0; k < m; ++k) {
        const ASMStabilizerPoint& p = *sortedPoints[k];
        const int q = quadrantOf(s.data[p.index][0], s.data[p.index][1]);
        sumX[q] += p.dx;
        sumY[q] += p.dy;
        count[q] += 1;
        followFlow(p, cx, cy);
    }
    const double threshold = m > 0 ? motionKey(sortedPoints[m - 1]->distanceSquared) : 0.0;

    double meanX[QUADRANTS], meanY[QUADRANTS];
    double allX = 0.0, allY = 0.0;
    for (int q = 0; q < QUADRANTS; ++q) {
        meanX[q] = count[q] > 0 ? sumX[q] / count[q] : 0.0;
        meanY[q] = count[q] > 0 ? sumY[q] / count[q] : 0.0;
        allX += meanX[q];
        allY += meanY[q];
    }
    for (int q = 0; q < QUADRANTS; ++q) {
        if (meanX[q] == 0.0 && meanY[q] == 0.0) {
            meanX[q] = allX;
            meanY[q] = allY;
        }
    }

    for (size_t k = m; k < n; ++k) {
        const ASMStabilizerPoint& p = *sortedPoints[k];
        if (motionKey(p.distanceSquared) < 2.0 * threshold || 2.0 * threshold < 1.0) {
            followFlow(p, cx, cy);
        } else {
            const int q = quadrantOf(s.data[p.index][0], s.data[p.index][1]);
            s.data[p.index][0] += meanX[q];
            s.data[p.index][1] -= meanY[q];
            weights[p.index] = std::min(1.0, 0.5 * factors[p.index]);
        }
    }
    return threshold < MAX_THRESHOLD;
}

}  // namespace kvo
