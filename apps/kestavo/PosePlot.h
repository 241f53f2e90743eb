#pragma once
// The plot of a run: head rotations (degrees) over the frames in the upper panel, the
// host-measured milliseconds of kvo_update per frame in the lower one (with its median
// and 95th percentile as lines). Frames without a pose leave gaps.
//
// Thread safety: a pure function.
#include <opencv2/core.hpp>

#include "RunStats.h"

namespace kvo {
namespace app {

// Ensures: a 1200 x 640 BGR image.
cv::Mat renderPlot(const RunStats& stats, const std::string& title);

}  // namespace app
}  // namespace kvo
