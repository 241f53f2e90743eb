#pragma once
// Pyramidal Lucas-Kanade point tracker.
//
// What it represents: moves a list of 2-D points (input pixels) from the previous
// frame to the current one, coarse to fine over a four-level pyramid (the frame
// pyramid, or the shape-search pyramid when `useASMPyramid`), matching a window
// around each point by Gauss-Newton steps on the brightness difference, with 3-10-3
// smoothed derivatives and bilinear sampling. Each point keeps a validity flag.
//
// Lifecycle: construct with the image manager; init() once after the manager is
// initialised (sizes every buffer for the largest window); then update() per frame.
// patchSize() and the public parameters may change between frames.
//
// Thread safety: not thread-safe. update() splits at least threadingThreshold points
// into numThreads contiguous ranges, one per worker record (fewer points form one range);
// the calling thread tracks the first range and parked workers (`workers`) the others,
// or the calling thread tracks them all when no worker runs. Every range is
// finished when update() returns; the workers only read the pyramid images and write
// their own lists, scratch and argument record.
#include <pthread.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "flow/TrackPointsArgs.h"
#include "image/ImageDataManager.h"
#include "math/Point.h"
#include "math/Rectangle.h"
#include "util/ParkedWorkers.h"

namespace kvo {

class OpticalFlow {
public:
    static const int MAX_WINDOW = 41;               // pixels
    static const int MIN_WINDOW = 11;               // pixels
    static const int MAX_PATCH = MAX_WINDOW + 2;    // window plus the derivatives' border

    explicit OpticalFlow(ImageDataManager& manager);
    ~OpticalFlow();
    OpticalFlow(const OpticalFlow&) = delete;
    OpticalFlow& operator=(const OpticalFlow&) = delete;

    // Requires: the manager is initialised. Ensures: a 41 x 41 window, every worker's
    // lists, buffers, thread handle and argument record allocated, validRegion = the
    // manager's ROI inset by 5 pixels on each side. May be called again (re-sizes).
    void init();

    // Chooses the window: min(size, 41), an even size minus one, 10 or less becomes 11.
    // Ensures: windowSize odd in 11 ... 41, halfWindow = windowSize >> 1,
    // windowArea = windowSize^2.
    void patchSize(int size);

    // Tracks `points` (input pixels) from the previous into the current frame, moving
    // the point objects in place and rewriting `states` (one per remaining point; false:
    // lost). With checkPointsValidBeforeTracking, points outside validRegion or (after
    // the first tracked frame) already lost are removed from `points` first.
    // A point at the ROI origin or with a non-finite coordinate is marked lost and not
    // read as pixels. Returns the number of points tracked.
    // Requires: init done and the pyramid in use refreshed for this frame; otherwise
    // reports and returns 0 leaving the points where they are.
    int update(std::vector<PointPtr>& points, std::vector<bool>& states);

    // Worker body; `args` is a TrackPointsArgs. Returns null (0).
    static void* trackPoints(void* args);

    ImageDataManager* manager;
    unsigned numThreads = 2;
    // The fewest points split into numThreads ranges; fewer form one range.
    int threadingThreshold = 32;
    // The least work, in points x window pixels x iterations, whose ranges are handed to
    // the parked workers; less is tracked on the calling thread, range after range.
    // Measured on the shared 2-core development machine: the stabiliser's 68 points
    // (17 x 17, 15 iterations: 295,000) made a whole kvo_update slower split (1.12 ms
    // against 1.03 to 1.05 ms, bench_face_tracking_vs_dlib, two runs each), while 100
    // host points (21 x 21, 25 iterations: 1,100,000) were faster split (1,145 and
    // 1,372 us against 1,513 and 1,607 us, bench_point_tracking, its parked_worker:0 row
    // for the calling thread).
    int64_t parallelMinWork = 600000;
    ParkedWorkers* workers = nullptr;  // not owned; null: every point on the calling thread
    int halfWindow = 20;
    int windowSize = 41;
    int windowArea = 1681;
    std::vector<std::vector<PointPtr>> workerPointsIn;   // ROI-relative, one list per worker
    std::vector<std::vector<PointPtr>> workerPointsOut;  // ROI-relative, one list per worker
    std::vector<std::vector<bool>> workerStates;
    unsigned lastPointCount = 0;
    std::vector<std::vector<double>> workerSmoothRow;      // MAX_PATCH each
    std::vector<std::vector<double>> workerDiffRow;        // MAX_PATCH each
    std::vector<std::vector<double>> workerPatchPrevious;  // MAX_PATCH^2 each, row-major
    std::vector<std::vector<double>> workerPatchCurrent;   // MAX_PATCH^2 each, row-major
    std::vector<std::vector<double>> workerDerivX;         // MAX_WINDOW^2 each
    std::vector<std::vector<double>> workerDerivY;         // MAX_WINDOW^2 each
    std::vector<std::vector<double>> workerRowBuffer;      // MAX_PATCH each
    Rectangle validRegion;  // input pixels
    int levels = 4;
    unsigned iterations = 25;
    double epsilon = 0.0006;  // pixels^2
    bool useASMPyramid = false;
    bool checkPointsValidBeforeTracking = true;
    std::vector<TrackPointsArgs> threadArgs; // one per worker

private:
    // True when the images of `count` levels of the pyramid in use are ready.
    bool imagesReady(int count) const;
    // Drops the points outside validRegion or already lost (keeps order).
    void filterPoints(std::vector<PointPtr>& points, std::vector<bool>& states) const;

    // Per worker: every point object its in and out lists have held (in first, out
    // second, interleaved), so lists that shrink and grow again reuse them.
    std::vector<std::vector<PointPtr>> workerPointPool;
};

}  // namespace kvo
