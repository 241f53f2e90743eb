#pragma once
// The face among a detector scan's raw windows, chosen by the host.
//
// What it represents: the rule kestavo uses on stills to pick the face from every window
// a full scan accepted. The library's own merge takes the first group of windows, in
// scan order, that reaches its count; a full scan creates its groups from the smallest
// windows up, so that group is often a cluster of small windows on part of the face or
// on something else, and the shape starts at the wrong size or place. Here every window
// is scored by the windows around it (centres within a quarter of its width, widths
// within a factor of 1.25), each weighted by 1 / width: the scan steps its scale by a
// fixed increment, so it tries many more sizes per doubling of the window at large
// sizes than at small ones, and the weight counts every doubling alike. The best scored
// window's neighbours, averaged, are the face.
//
// Thread safety: pure functions.
#include <vector>

#include "HostTracker.h"

namespace kvo {
namespace app {

struct WindowGroup {
    Box face;          // mean of the group's windows (pixels); zero width when none
    int windows = 0;   // windows in the group
    double score = 0;  // the group's weighted count (windows of the best window's width)
};

// Requires: boxes with positive widths. Ensures: the best group, or windows == 0 when
// `raw` is empty.
WindowGroup strongestGroup(const std::vector<Box>& raw);

}  // namespace app
}  // namespace kvo
