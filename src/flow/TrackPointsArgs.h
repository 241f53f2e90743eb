#pragma once
// The record handed to one optical-flow worker.
//
// What it represents: one worker's share of a tracking pass: its three point lists, its
// scratch buffers and a copy of the tracker's parameters taken at the start of the pass
// (so parameter changes take effect on the next frame). Coordinates are level-0 pixels
// relative to the image ROI.
//
// Thread safety: owned by the OpticalFlow; exactly one worker reads and writes it during
// a pass, and the tracker's thread touches it only before starting and after joining.
#include <vector>

#include "math/Point.h"

namespace kvo {

class ImageDataManager;

struct TrackPointsArgs {
    ImageDataManager* manager = nullptr;
    std::vector<PointPtr>* pointsIn = nullptr;   // positions in the previous frame
    std::vector<PointPtr>* pointsOut = nullptr;  // tracked positions in the current frame
    std::vector<bool>* states = nullptr;         // false: lost
    double* smoothRow = nullptr;      // MAX_PATCH doubles: vertically smoothed patch row
    double* diffRow = nullptr;        // MAX_PATCH doubles: vertical difference of a patch row
    double* patchPrevious = nullptr;  // MAX_PATCH x MAX_PATCH, row stride MAX_PATCH
    double* patchCurrent = nullptr;   // MAX_PATCH x MAX_PATCH, row stride MAX_PATCH
    double* derivX = nullptr;         // MAX_WINDOW x MAX_WINDOW, row stride = patch width - 2
    double* derivY = nullptr;         // as derivX
    double* rowBuffer = nullptr;      // MAX_PATCH doubles: the sampler's row cache
    int pointCount = 0;
    int threadIndex = 0;
    int halfWindow = 20;   // pixels
    int windowSize = 41;   // pixels, 2 * halfWindow + 1
    int windowArea = 1681; // windowSize squared
    int levels = 4;        // pyramid levels used, 1 ... 4
    int iterations = 25;   // Gauss-Newton steps per level at most
    double epsilon = 0.0006;  // squared step (pixels^2) below which a level stops
    bool useASMPyramid = false;
};

}  // namespace kvo
