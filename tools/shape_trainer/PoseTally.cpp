#include "PoseTally.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "math/Angles.h"

namespace kvo {
namespace trainer {

namespace {

// The tracker's pose limits in degrees (about x, y, z; bounds inclusive).
constexpr double kLimit[3] = {20.0, 48.0, 30.0};

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentileAbs(std::vector<double> v, double q) {
    if (v.empty()) return NAN;
    for (double& x : v) x = std::fabs(x);
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))];
}

}  // namespace

void PoseTally::addTracked(double rx, double ry, double rz) {
    rx_.push_back(rx * DEGREES_PER_RADIAN);
    ry_.push_back(ry * DEGREES_PER_RADIAN);
    rz_.push_back(rz * DEGREES_PER_RADIAN);
}

void PoseTally::addTilt(double referenceTiltDeg, double ownTiltDeg) {
    if (rz_.empty()) return;
    pairedRz_.push_back(rz_.back());
    refTilt_.push_back(referenceTiltDeg);
    ownTilt_.push_back(ownTiltDeg);
}

double PoseTally::correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = std::min(a.size(), b.size());
    if (n < 3) return NAN;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    if (saa <= 0.0 || sbb <= 0.0) return NAN;
    return sab / std::sqrt(saa * sbb);
}

double PoseTally::tiltDeg(double x0, double y0, double x1, double y1) {
    return std::atan2(y1 - y0, x1 - x0) * DEGREES_PER_RADIAN;
}

std::string PoseTally::summary() const {
    size_t within = 0;
    for (size_t i = 0; i < rz_.size(); ++i)
        within += std::fabs(rx_[i]) <= kLimit[0] && std::fabs(ry_[i]) <= kLimit[1] && std::fabs(rz_[i]) <= kLimit[2];
    char buf[512];
    std::string out;
    std::snprintf(buf, sizeof buf, "pose: %zu tracked frames, %zu within the limits (|x| <= 20, |y| <= 48, |z| <= 30 deg)\n",
                  rz_.size(), within);
    out += buf;
    const std::vector<double>* axes[3] = {&rx_, &ry_, &rz_};
    const char* names[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
        std::snprintf(buf, sizeof buf, "pose: rotation about %s: median %.2f deg; |deg| median %.2f, 99th percentile %.2f, largest %.2f\n",
                      names[a], median(*axes[a]), percentileAbs(*axes[a], 0.5), percentileAbs(*axes[a], 0.99), percentileAbs(*axes[a], 1.0));
        out += buf;
    }
    // The Candide vertices are projected as image = s R v + t with the model's y already
    // pointing down, so a positive rotation about z lowers the image-right pupil: the
    // eye-line tilt (image y down) and the rotation about z share their sign.
    std::snprintf(buf, sizeof buf,
                  "pose: rotation about z vs eye-line tilt, %zu frames: correlation %.4f with dlib's eye centres, "
                  "%.4f with our pupils\n",
                  pairedRz_.size(), correlation(pairedRz_, refTilt_), correlation(pairedRz_, ownTilt_));
    out += buf;
    std::vector<double> diff;
    for (size_t i = 0; i < pairedRz_.size(); ++i) diff.push_back(pairedRz_[i] - refTilt_[i]);
    std::snprintf(buf, sizeof buf, "pose: |rotation z - tilt| against dlib: median %.2f deg, 95th percentile %.2f deg\n",
                  percentileAbs(diff, 0.5), percentileAbs(diff, 0.95));
    out += buf;
    return out;
}

}  // namespace trainer
}  // namespace kvo
