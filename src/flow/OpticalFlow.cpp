#include "flow/OpticalFlow.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "util/CallWorkers.h"
#include "util/Trace.h"

namespace kvo {

OpticalFlow::OpticalFlow(ImageDataManager& m) : manager(&m) {}

OpticalFlow::~OpticalFlow() = default;

void OpticalFlow::init() {
    halfWindow = MAX_WINDOW >> 1;
    windowSize = MAX_WINDOW;
    windowArea = MAX_WINDOW * MAX_WINDOW;
    if (numThreads == 0) numThreads = 1;

    const size_t workers = std::min<unsigned>(numThreads, CallWorkers::MAX_WORKERS);
    workerPointsIn.resize(workers);
    workerPointsOut.resize(workers);
    workerStates.resize(workers);
    workerSmoothRow.assign(workers, std::vector<double>(MAX_PATCH, 0.0));
    workerDiffRow.assign(workers, std::vector<double>(MAX_PATCH, 0.0));
    workerPatchPrevious.assign(workers, std::vector<double>(MAX_PATCH * MAX_PATCH, 0.0));
    workerPatchCurrent.assign(workers, std::vector<double>(MAX_PATCH * MAX_PATCH, 0.0));
    workerDerivX.assign(workers, std::vector<double>(MAX_WINDOW * MAX_WINDOW, 0.0));
    workerDerivY.assign(workers, std::vector<double>(MAX_WINDOW * MAX_WINDOW, 0.0));
    workerRowBuffer.assign(workers, std::vector<double>(MAX_PATCH, 0.0));
    threadArgs.assign(workers, TrackPointsArgs());
    workerPointPool.resize(workers);
    for (size_t t = 0; t < workers; ++t) {
        TrackPointsArgs& a = threadArgs[t];
        a.manager = manager;
        a.pointsIn = &workerPointsIn[t];
        a.pointsOut = &workerPointsOut[t];
        a.states = &workerStates[t];
        a.smoothRow = workerSmoothRow[t].data();
        a.diffRow = workerDiffRow[t].data();
        a.patchPrevious = workerPatchPrevious[t].data();
        a.patchCurrent = workerPatchCurrent[t].data();
        a.derivX = workerDerivX[t].data();
        a.derivY = workerDerivY[t].data();
        a.rowBuffer = workerRowBuffer[t].data();
        a.threadIndex = static_cast<int>(t);
    }

    if (manager == nullptr || manager->roi == nullptr) {
        Err("Optical flow initialised before the image manager; no valid region");
        validRegion = Rectangle();
        return;
    }
    const Rectangle& roi = *manager->roi;
    validRegion = Rectangle(roi.x + 5.0, roi.y + 5.0, roi.width - 10.0, roi.height - 10.0);
}

void OpticalFlow::patchSize(int size) {
    int p = std::min(size, static_cast<int>(MAX_WINDOW));
    // Small sizes first: making INT_MIN odd by decrementing it would overflow.
    if (p <= 10) p = MIN_WINDOW;
    if ((p & 1) == 0) p -= 1;
    halfWindow = p >> 1;
    windowSize = 2 * halfWindow + 1;
    windowArea = windowSize * windowSize;
}

bool OpticalFlow::imagesReady(int count) const {
    if (manager == nullptr) return false;
    const ImageData* previous = useASMPyramid ? manager->asmPrevious : manager->framePrevious;
    const ImageData* current = useASMPyramid ? manager->asmCurrent : manager->frameCurrent;
    // Level 0 must hold pixels; a coarser level may be empty (a tiny ROI), which the
    // workers treat as an image no window fits into.
    if (previous[0].data == nullptr || current[0].data == nullptr) return false;
    for (int k = 0; k < count; ++k) {
        if (previous[k].width != current[k].width || previous[k].height != current[k].height) {
            return false;
        }
        const bool empty = current[k].width == 0 || current[k].height == 0;
        if (!empty && (previous[k].data == nullptr || current[k].data == nullptr)) return false;
    }
    return true;
}

void OpticalFlow::filterPoints(std::vector<PointPtr>& points, std::vector<bool>& states) const {
    const bool byState = lastPointCount != 0;
    size_t kept = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        const Point* p = points[i].get();
        const bool inside = p != nullptr && validRegion.contains(p->x, p->y);
        if (inside && (!byState || states[i])) {
            points[kept] = points[i];
            states[kept] = states[i];
            ++kept;
        }
    }
    points.resize(kept);
}

int OpticalFlow::update(std::vector<PointPtr>& points, std::vector<bool>& states) {
    if (threadArgs.empty()) {
        Err("Optical flow used before init; points not tracked");
        return 0;
    }
    // The window fields are public; a window outside what the buffers hold is repaired
    // rather than trusted.
    if (halfWindow < (MIN_WINDOW >> 1) || halfWindow > (MAX_WINDOW >> 1) ||
        windowSize != 2 * halfWindow + 1 || windowArea != windowSize * windowSize) {
        const int given = windowSize;
        patchSize(windowSize);
        Err("Optical-flow window " + std::to_string(given) + " is invalid; using " +
            std::to_string(windowSize));
    }
    const int levelCount = std::max(1, std::min(levels, static_cast<int>(ImageDataManager::FRAME_LEVELS)));
    if (!imagesReady(levelCount)) {
        Err("Optical flow has no images to track on; points not tracked");
        return 0;
    }

    size_t n = points.size();
    if (n > 0) {
        states.resize(n, true);
        if (checkPointsValidBeforeTracking) filterPoints(points, states);
    }
    n = points.size();
    states.resize(n, true);

    if (n > 0) {
        const double ox = manager->roi != nullptr ? std::trunc(manager->roi->x) : 0.0;
        const double oy = manager->roi != nullptr ? std::trunc(manager->roi->y) : 0.0;

        const size_t available = threadArgs.size();
        const size_t workers =
            static_cast<long long>(n) < threadingThreshold ? 1 : std::min<size_t>(numThreads, available);
        const size_t chunk = n / std::max<size_t>(workers, 1);
        const int iterationCount = static_cast<int>(std::min<unsigned>(iterations, 1u << 20));

        for (size_t t = 0; t < workers; ++t) {
            const size_t start = t * chunk;
            const size_t end = (t + 1 == workers) ? n : start + chunk;
            const size_t count = end - start;
            std::vector<PointPtr>& in = workerPointsIn[t];
            std::vector<PointPtr>& out = workerPointsOut[t];
            std::vector<bool>& st = workerStates[t];
            // The lists take their point objects from the worker's pool; new ones are
            // created only when the worker has never held this many points.
            std::vector<PointPtr>& pool = workerPointPool[t];
            while (pool.size() < 2 * count) pool.push_back(std::make_shared<Point>(0.0, 0.0));
            const size_t old = std::min(in.size(), out.size());
            in.resize(count);
            out.resize(count);
            for (size_t j = old; j < count; ++j) {
                in[j] = pool[2 * j];
                out[j] = pool[2 * j + 1];
                in[j]->x = in[j]->y = out[j]->x = out[j]->y = 0.0;
            }
            st.resize(count, true);
            for (size_t j = 0; j < count; ++j) {
                const Point* p = points[start + j].get();
                if (p != nullptr) {
                    in[j]->x = p->x - ox;
                    in[j]->y = p->y - oy;
                } else {
                    // A missing host point is tracked as unset.
                    in[j]->x = 0.0;
                    in[j]->y = 0.0;
                }
            }
            TrackPointsArgs& a = threadArgs[t];
            a.manager = manager;
            a.pointCount = static_cast<int>(count);
            a.halfWindow = halfWindow;
            a.windowSize = windowSize;
            a.windowArea = windowArea;
            a.levels = levelCount;
            a.iterations = iterationCount;
            a.epsilon = epsilon;
            a.useASMPyramid = useASMPyramid;
        }
        // The calling thread tracks range 0 (it would only wait otherwise); the others run
        // on the parked workers, or here after it when there are none.
        const int64_t work = static_cast<int64_t>(n) * windowArea * iterationCount;
        if (workers > 1 && this->workers != nullptr && work >= parallelMinWork) {
            void* parts[CallWorkers::MAX_WORKERS];
            for (size_t t = 0; t < workers; ++t) parts[t] = &threadArgs[t];
            this->workers->run(&OpticalFlow::trackPoints, parts, static_cast<int>(workers));
        } else {
            for (size_t t = 0; t < workers; ++t) trackPoints(&threadArgs[t]);
        }
        for (size_t t = 0; t < workers; ++t) {
            const size_t start = t * chunk;
            const std::vector<PointPtr>& out = workerPointsOut[t];
            const std::vector<bool>& st = workerStates[t];
            for (size_t j = 0; j < out.size(); ++j) {
                Point* p = points[start + j].get();
                if (p == nullptr) {
                    states[start + j] = false;
                    continue;
                }
                p->x = out[j]->x + ox;
                p->y = out[j]->y + oy;
                states[start + j] = st[j];
            }
        }
    }
    lastPointCount = static_cast<unsigned>(n);
    return static_cast<int>(n);
}

}  // namespace kvo
