#pragma once
// Summary statistics of measured samples (times in ms, errors), as the evaluation report
// gives them: quantiles interpolated between order statistics (eval/ErrorSummary.h is the
// landmark-error summary with its own median).
// Thread safety: pure functions; callable from any thread.
#include <algorithm>
#include <cmath>
#include <vector>

namespace kvo {
namespace eval {

// The q-quantile (0 <= q <= 1) by linear interpolation between order statistics;
// NaN for no samples.
inline double quantile(std::vector<double> v, double q) {
    if (v.empty()) return std::nan("");
    std::sort(v.begin(), v.end());
    const double pos = q * static_cast<double>(v.size() - 1);
    const size_t lo = static_cast<size_t>(std::floor(pos));
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (pos - static_cast<double>(lo)) * (v[hi] - v[lo]);
}
inline double median(const std::vector<double>& v) { return quantile(v, 0.5); }
inline double p95(const std::vector<double>& v) { return quantile(v, 0.95); }

inline double mean(const std::vector<double>& v) {
    if (v.empty()) return std::nan("");
    double s = 0.0;
    for (double x : v) s += x;
    return s / static_cast<double>(v.size());
}

// Share (0...1) of samples strictly above `limit`.
inline double shareAbove(const std::vector<double>& v, double limit) {
    if (v.empty()) return std::nan("");
    size_t n = 0;
    for (double x : v) n += x > limit ? 1 : 0;
    return static_cast<double>(n) / static_cast<double>(v.size());
}

}  // namespace eval
}  // namespace kvo
