#include "RunStats.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "JsonLinesWriter.h"

namespace kvo {
namespace app {

RunStats::RunStats(long expectedFrames) {
    if (expectedFrames > 0) {
        const size_t n = static_cast<size_t>(expectedFrames);
        updateMs_.reserve(n);
        gettersMs_.reserve(n);
        for (auto& r : rotation_) r.reserve(n);
    }
}

void RunStats::add(const FrameResult& r, bool candideEnabled) {
    updateMs_.push_back(r.updateMs);
    gettersMs_.push_back(r.gettersMs);
    const bool pose = hasPose(r, candideEnabled);
    for (int a = 0; a < 3; ++a) {
        rotation_[a].push_back(pose ? r.pose[3 + a] : std::numeric_limits<double>::quiet_NaN());
    }
    if (isTracked(r)) ++tracked_;
    if (r.state == "state_face_tracking_start") ++startPhase_;
    if (r.state == "state_face_tracking_start" && r.lastState == "state_face_detection") ++trackStarts_;
    if (r.state == "state_reset" && r.lastState == "state_face_tracking") ++losses_;
    if (r.state == "state_reset" && r.lastState == "state_face_tracking_start") ++rejectedStarts_;
    const bool detectionRan = r.state == "state_face_detection" || r.lastState == "state_face_detection";
    if (detectionRan && r.detectedFace.width > 0.0) {
        if (firstFaceFrame_ < 0) firstFaceFrame_ = frames() - 1;
        ++facesDetected_;
    }
}

double quantile(std::vector<double> values, double p) {
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double pos = std::min(1.0, std::max(0.0, p)) * static_cast<double>(values.size() - 1);
    const size_t lo = static_cast<size_t>(std::floor(pos));
    const size_t hi = std::min(values.size() - 1, lo + 1);
    return values[lo] + (pos - static_cast<double>(lo)) * (values[hi] - values[lo]);
}

}  // namespace app
}  // namespace kvo
