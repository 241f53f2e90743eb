#include "refine/RefinementFilter.h"

#include <cmath>

namespace kvo {

namespace {

// The smoothing factor of a first-order low-pass at `cutoff` cycles per sample.
double smoothingFactor(double cutoff) {
    const double tau = 1.0 / (2.0 * M_PI * cutoff);
    return 1.0 / (1.0 + tau);
}

}  // namespace

void RefinementFilter::init(int landmarks) {
    n_ = landmarks > 0 ? landmarks : 0;
    value_.assign(2 * static_cast<size_t>(n_), 0.0);
    speed_.assign(2 * static_cast<size_t>(n_), 0.0);
    started_ = false;
}

void RefinementFilter::apply(const ShapeMat& searched, ShapeMat& refined) {
    if (n_ <= OUTER_EYE_B || searched.rows != n_ || refined.rows != n_ || searched.cols < 2 ||
        refined.cols < 2) {
        started_ = false;
        return;
    }
    const std::vector<double>& a = searched.data[OUTER_EYE_A];
    const std::vector<double>& b = searched.data[OUTER_EYE_B];
    // The face frame: unit vector (c, s) along the eye line, `scale` pixels per unit.
    const double ex = b[0] - a[0], ey = b[1] - a[1];
    const double scale = std::sqrt(ex * ex + ey * ey);
    if (!std::isfinite(scale) || scale < 1e-6) {
        started_ = false;
        return;
    }
    const double c = ex / scale, s = ey / scale;
    for (int i = 0; i < n_; ++i) {
        const double dx = refined.data[i][0] - searched.data[i][0];
        const double dy = refined.data[i][1] - searched.data[i][1];
        if (!std::isfinite(dx) || !std::isfinite(dy)) {
            started_ = false;
            return;
        }
    }
    const double speedAlpha = smoothingFactor(settings.derivativeCutoff);
    for (int i = 0; i < n_; ++i) {
        const double dx = refined.data[i][0] - searched.data[i][0];
        const double dy = refined.data[i][1] - searched.data[i][1];
        // The correction in the face frame (rotated onto the eye line, in eye distances).
        const double u[2] = {(c * dx + s * dy) / scale, (-s * dx + c * dy) / scale};
        for (int k = 0; k < 2; ++k) {
            double& v = value_[2 * i + k];
            double& sp = speed_[2 * i + k];
            if (!started_) {
                v = u[k];
                sp = 0.0;
                continue;
            }
            sp += speedAlpha * ((u[k] - v) - sp);
            const double cutoff = settings.minCutoff + settings.beta * std::fabs(sp);
            v += smoothingFactor(cutoff) * (u[k] - v);
        }
        // Back into the image: searched position plus the smoothed correction.
        const double fx = value_[2 * i], fy = value_[2 * i + 1];
        refined.data[i][0] = searched.data[i][0] + scale * (c * fx - s * fy);
        refined.data[i][1] = searched.data[i][1] + scale * (s * fx + c * fy);
    }
    started_ = true;
}

}  // namespace kvo
