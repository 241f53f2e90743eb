#include "PointSlots.h"

#include <algorithm>

namespace kvo {
namespace app {

PointSlots::PointSlots(const std::vector<double>& xy, double regionX, double regionY, double regionWidth,
                       double regionHeight, bool libraryDrops)
    : rx_(regionX), ry_(regionY), rw_(regionWidth), rh_(regionHeight), libraryDrops_(libraryDrops), points_(xy),
      states_(xy.size() / 2, 0) {
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        if (!inside(xy[i], xy[i + 1])) continue;
        handed_.push_back(xy[i]);
        handed_.push_back(xy[i + 1]);
        listed_.push_back(i / 2);
        states_[i / 2] = 1;  // as the library reports a point just added
    }
}

bool PointSlots::inside(double x, double y) const {
    return x >= rx_ && x <= rx_ + rw_ && y >= ry_ && y <= ry_ + rh_;
}

bool PointSlots::update(const std::vector<double>& points, const std::vector<char>& states) {
    const size_t n = states.size();
    bool matched = true;
    if (n != listed_.size()) {
        // The library dropped entries: those lost, or outside its region, before the step.
        kept_.clear();
        for (size_t k = 0; k < listed_.size(); ++k) {
            const size_t slot = listed_[k];
            const bool keep = !libraryDrops_ || (states_[slot] && inside(points_[2 * slot], points_[2 * slot + 1]));
            if (keep) kept_.push_back(slot);
            else states_[slot] = 0;  // stays where it was last seen, lost
        }
        if (kept_.size() != n) {
            matched = false;
            kept_.assign(listed_.begin(), listed_.begin() + static_cast<long>(std::min(n, listed_.size())));
        }
        listed_.swap(kept_);
    }
    for (size_t k = 0; k < listed_.size() && 2 * k + 1 < points.size(); ++k) {
        const size_t slot = listed_[k];
        points_[2 * slot] = points[2 * k];
        points_[2 * slot + 1] = points[2 * k + 1];
        states_[slot] = states[k];
    }
    return matched;
}

}  // namespace app
}  // namespace kvo
