#pragma once
// Singular value decomposition of a small dense matrix by one-sided Jacobi rotations
// (Hestenes' method).
//
// What it represents: the decomposition behind the pose solver's pseudo-inverse. The
// object owns work vectors sized once for 6 x 6 problems (run's arguments in the
// solver's use, plus copies of its results), so a per-iteration decomposition
// allocates nothing. run itself works on any vectors large enough for the sizes
// passed and keeps nothing between calls.
//
// Thread safety: none; run touches only its arguments, so distinct objects (or
// distinct argument vectors) may be used from different threads.
#include <vector>

namespace kvo {

class JacobiSVD {
public:
    // Ensures: every member vector exists zero-filled with the size noted below.
    JacobiSVD();
    ~JacobiSVD();

    // Decomposes A = U * diag(W) * V^T, given At = A^T.
    //
    // At:  n rows of m values, row i at index i * astep (row i of At is column i of
    //      A). On return its first nLeft rows are unit left singular vectors (the
    //      columns of U) in the order of W; rows of a zero singular value are filled
    //      with deterministic pseudo-random vectors orthogonal to the earlier rows.
    // W:   receives the n singular values in descending order; equal values keep
    //      their original order.
    // Vt:  receives the right singular vectors as rows (row i at i * vstep, n
    //      values). If Vt is empty only W is computed, and At is left unsorted and
    //      not normalised.
    //
    // Requires: m >= 1, n >= 1, 0 <= nLeft, astep >= m, vstep >= n,
    //   At.size() >= (max(n, nLeft) - 1) * astep + m, W.size() >= n, and Vt empty or
    //   Vt.size() >= (n - 1) * vstep + n. A violation is reported with one
    //   "Error: ..." line and nothing is changed.
    // A row beyond the rank that cannot be completed (possible only for nLeft > m)
    // is left as zeros after a bounded number of attempts.
    void run(std::vector<double>& At, std::vector<double>& W, std::vector<double>& Vt,
             int astep, int vstep, int m, int n, int nLeft);

    std::vector<double> singularValues;  // 6: singular values, descending
    std::vector<double> matV;            // 36: right singular vectors as columns, row-major 6 x 6
    std::vector<double> matU;            // 36: left singular vectors as columns, row-major 6 x 6
    std::vector<double> runW;            // 6: W argument of run
    std::vector<double> runVt;           // 36: Vt argument of run
    std::vector<double> runAt;           // 36: At argument of run (input, then U^T)
};

}  // namespace kvo
