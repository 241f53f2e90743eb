#pragma once
// The summary every evaluation reports of a set of normalised landmark errors (each a
// distance divided by an outer-eye distance, so unitless).
//
// Thread safety: a pure function on its argument; callable from any thread.
#include <vector>

namespace kvo {
namespace eval {

// Mean, median and share above 0.10 of a set of errors.
struct ErrorSummary {
    int count = 0;
    double mean = 0.0, median = 0.0;
    double above10 = 0.0;  // share (0 to 1) of the values above 0.10
};

// Ensures: the summary of `values`, the mean summed in the given order; the median of an
// even count is the mean of the two middle values. Empty: count 0 and all zeros.
ErrorSummary summariseErrors(std::vector<double> values);

}  // namespace eval
}  // namespace kvo
