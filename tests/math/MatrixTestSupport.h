#pragma once
// Test support for the matrix tests: a NumberMat built from rows written inline.
#include <vector>

#include "math/NumberMat.h"

namespace kvo_test {

// Requires: every row as long as the first.
inline kvo::NumberMat makeMat(const std::vector<std::vector<double> >& rows) {
    kvo::NumberMat m(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()),
                     true);
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t j = 0; j < rows[i].size(); ++j) m.data[i][j] = rows[i][j];
    }
    return m;
}

}  // namespace kvo_test
