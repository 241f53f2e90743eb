#include "ScanPlan.h"

#include <algorithm>
#include <cmath>

#include "DetectionWindows.h"

namespace kvo {
namespace app {

namespace {

// A face at the edge of two passes' ranges is found by both when their ranges overlap by
// this factor.
const double kRangeOverlap = 1.15;

// Start positions along one axis of length `length` (scaled pixels) for tiles `tile`
// long that overlap by `overlapPx`: evenly spread, the last ending at the far edge.
std::vector<double> starts(double length, double tile, double overlapPx) {
    if (length <= tile) return {0.0};
    const double stride = tile - overlapPx;
    const int n = static_cast<int>(std::ceil((length - tile) / stride)) + 1;
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = n == 1 ? 0.0 : (length - tile) * i / (n - 1);
    return s;
}

}  // namespace

ScanPlan planTiles(int pw, int ph, int side, double minFace, double wholeScale, double wholeSmallest,
                   const TileWindows& win) {
    ScanPlan plan;
    const WindowRange range = reportedWindows(win.startScale, win.scaleIncrement, win.maxScale, side, side);
    plan.smallestFace = wholeSmallest / wholeScale;
    if (!(minFace > 0.0) || plan.smallestFace <= minFace || range.sizes == 0) return plan;
    const double lo = range.smallest, hi = range.largest;
    // Finest first: a face minFace wide meets the smallest window.
    double scale = lo / minFace;
    for (;;) {
        const double w = pw * scale, h = ph * scale;
        const double overlapPx = std::ceil(hi) + 2.0;
        for (double y : starts(h, side, overlapPx)) {
            for (double x : starts(w, side, overlapPx)) {
                ScanTile t;
                t.scale = scale;
                const double tw = std::min<double>(side, w), th = std::min<double>(side, h);
                t.region = cv::Rect2d(x / scale, y / scale, tw / scale, th / scale);
                t.offsetX = -x;
                t.offsetY = -y;
                plan.tiles.push_back(t);
            }
        }
        plan.smallestFace = std::min(plan.smallestFace, lo / scale);
        // The whole pass finds faces from wholeSmallest / wholeScale up; stop once this
        // pass's largest window reaches them.
        if (hi / scale >= kRangeOverlap * wholeSmallest / wholeScale) break;
        // The next pass's smallest face is this pass's largest, less the overlap; it never
        // goes coarser than the whole pass, whose windows then reach it.
        scale = std::max(scale * lo * kRangeOverlap / hi, wholeScale);
    }
    return plan;
}

}  // namespace app
}  // namespace kvo
