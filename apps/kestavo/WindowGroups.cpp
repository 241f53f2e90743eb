#include "WindowGroups.h"

#include <cmath>

namespace kvo {
namespace app {

namespace {

const double kCentreShare = 0.25;  // centres within this share of the window's width
const double kSizeRatio = 1.25;    // widths within this factor of each other

bool near(const Box& a, const Box& b) {
    const double ax = a.x + 0.5 * a.width, ay = a.y + 0.5 * a.height;
    const double bx = b.x + 0.5 * b.width, by = b.y + 0.5 * b.height;
    const double reach = kCentreShare * a.width;
    return std::fabs(ax - bx) <= reach && std::fabs(ay - by) <= reach && b.width <= a.width * kSizeRatio &&
           a.width <= b.width * kSizeRatio;
}

}  // namespace

WindowGroup strongestGroup(const std::vector<Box>& raw) {
    WindowGroup best;
    size_t bestIndex = raw.size();
    for (size_t i = 0; i < raw.size(); ++i) {
        double score = 0.0;
        for (const Box& b : raw) {
            if (near(raw[i], b)) score += raw[i].width / b.width;
        }
        if (score > best.score) {
            best.score = score;
            bestIndex = i;
        }
    }
    if (bestIndex == raw.size()) return best;
    Box sum;
    for (const Box& b : raw) {
        if (!near(raw[bestIndex], b)) continue;
        sum.x += b.x;
        sum.y += b.y;
        sum.width += b.width;
        sum.height += b.height;
        ++best.windows;
    }
    const double n = best.windows;
    best.face = Box{sum.x / n, sum.y / n, sum.width / n, sum.height / n};
    return best;
}

}  // namespace app
}  // namespace kvo
