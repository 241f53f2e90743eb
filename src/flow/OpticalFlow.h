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
// Thread safety: not thread-safe. update() starts one or two workers and joins them
// before returning; the workers only read the pyramid images and write their own
// scratch.
#include <pthread.h>

#include <memory>
#include <vector>

#include "image/ImageDataManager.h"
#include "math/Point.h"
#include "math/Rectangle.h"

namespace kvo {

struct TrackPointsArgs;

class OpticalFlow {
public:
    static const int MAX_WINDOW = 41;               // pixels
    static const int MAX_PATCH = MAX_WINDOW + 2;    // window plus the derivatives' border

    explicit OpticalFlow(ImageDataManager& manager);
    ~OpticalFlow();
    OpticalFlow(const OpticalFlow&) = delete;
    OpticalFlow& operator=(const OpticalFlow&) = delete;

    // Requires: the manager is initialised. Ensures: a 41 x 41 window, every worker's
    // buffers allocated, validRegion = the manager's ROI inset by 5 pixels.
    void init();

    // Chooses the window: the size becomes odd and stays within 11 ... 41 pixels.
    void patchSize(int size);

    // Tracks `points` (input pixels) from the previous into the current frame, moving
    // the point objects in place and rewriting `states`. With
    // checkPointsValidBeforeTracking, points outside validRegion or already lost are
    // dropped first. Returns the number of points tracked.
    int update(std::vector<PointPtr>& points, std::vector<bool>& states);

    // Worker body; `args` is a TrackPointsArgs. Returns null.
    static void* trackPoints(void* args);

    ImageDataManager* manager;
    unsigned numThreads = 2;
    int threadingThreshold = 32;
    int halfWindow = 20;
    int windowSize = 41;
    int windowArea = 1681;
    std::vector<std::vector<PointPtr>> workerPointsIn;
    std::vector<std::vector<PointPtr>> workerPointsOut;
    std::vector<std::vector<bool>> workerStates;
    unsigned lastPointCount = 0;
    Rectangle validRegion;
    int levels = 4;
    unsigned iterations = 25;
    double epsilon = 0.0006;
    bool useASMPyramid = false;
    bool checkPointsValidBeforeTracking = true;
};

}  // namespace kvo
