#include "eval/ErrorSummary.h"

#include <algorithm>

namespace kvo {
namespace eval {

ErrorSummary summariseErrors(std::vector<double> values) {
    ErrorSummary s;
    s.count = static_cast<int>(values.size());
    if (values.empty()) return s;
    double sum = 0.0;
    int above = 0;
    for (double v : values) {
        sum += v;
        above += v > 0.10;
    }
    s.mean = sum / values.size();
    s.above10 = static_cast<double>(above) / values.size();
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
    return s;
}

}  // namespace eval
}  // namespace kvo
