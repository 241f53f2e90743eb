// Gauss-Jordan inversion and the LU decomposition and solve of NumberMat, including
// pivoting, singular input and the refusals that protect the fixed-size scratch.
#include "math/NumberMat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "MatrixTestSupport.h"
#include "util/CoutCapture.h"

using kvo::NumberMat;
using kvo_test::CoutCapture;
using kvo_test::makeMat;

namespace {


// A random n x n matrix with entries in [-1, 1] and a dominant diagonal, so it is well
// conditioned, with rows scrambled so that pivoting has work to do.
NumberMat randomWellConditioned(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    NumberMat m(n, n, true);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) m.data[i][j] = u(gen);
        m.data[i][i] += (u(gen) < 0 ? -1.0 : 1.0) * (n + 1.0);
    }
    std::shuffle(m.data.begin(), m.data.end(), gen);
    return m;
}

double maxDeviationFromIdentity(const NumberMat& p) {
    double worst = 0.0;
    for (int i = 0; i < p.rows; ++i) {
        for (int j = 0; j < p.cols; ++j) {
            worst = std::max(worst, std::fabs(p.data[i][j] - (i == j ? 1.0 : 0.0)));
        }
    }
    return worst;
}

void expectInverse(const NumberMat& a, const NumberMat& inv, double tol) {
    NumberMat p(a.rows, a.rows, true);
    NumberMat::multiplyMats(a, inv, p);
    EXPECT_LT(maxDeviationFromIdentity(p), tol);
    NumberMat::multiplyMats(inv, a, p);
    EXPECT_LT(maxDeviationFromIdentity(p), tol);
}

std::vector<int> identityPerm(int n) {
    std::vector<int> p(n);
    for (int i = 0; i < n; ++i) p[i] = i;
    return p;
}

}  // namespace

TEST(InvertMat, OneByOneIsTheReciprocal) {
    NumberMat a = makeMat({{4.0}});
    NumberMat inv;
    NumberMat::invertMat(a, inv);
    EXPECT_EQ(0.25, inv.data[0][0]);
    EXPECT_EQ(4.0, a.data[0][0]);

    // No test for zero: the reciprocal of 0 is infinite.
    NumberMat z = makeMat({{0.0}});
    NumberMat::invertMat(z, inv);
    EXPECT_TRUE(std::isinf(inv.data[0][0]));
}

TEST(InvertMat, SwapMatrixNeedsTheFirstPivotExchange) {
    NumberMat a = makeMat({{0, 1}, {1, 0}});
    NumberMat inv;
    NumberMat::invertMat(a, inv);
    EXPECT_EQ(makeMat({{0, 1}, {1, 0}}).data, inv.data);
}

TEST(InvertMat, CyclicPermutationInvertsToItsTranspose) {
    // Several row exchanges: the column permutation must be undone correctly.
    NumberMat a = makeMat({{0, 0, 1}, {1, 0, 0}, {0, 1, 0}});
    NumberMat inv;
    NumberMat::invertMat(a, inv);
    EXPECT_EQ(makeMat({{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}).data, inv.data);
}

TEST(InvertMat, KnownTwoByTwo) {
    NumberMat a = makeMat({{2, 1}, {1, 3}});
    NumberMat inv;
    NumberMat::invertMat(a, inv);
    EXPECT_NEAR(0.6, inv.data[0][0], 1e-15);
    EXPECT_NEAR(-0.2, inv.data[0][1], 1e-15);
    EXPECT_NEAR(-0.2, inv.data[1][0], 1e-15);
    EXPECT_NEAR(0.4, inv.data[1][1], 1e-15);
}

TEST(InvertMat, RandomSixBySixAgainstIdentity) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        NumberMat a = randomWellConditioned(6, seed);
        NumberMat copy;
        copy.copyFrom(a);
        NumberMat inv;
        NumberMat::invertMat(a, inv);
        EXPECT_EQ(copy.data, a.data) << "source modified, seed " << seed;
        expectInverse(a, inv, 1e-10);
    }
}

TEST(InvertMat, RandomWithoutDominantDiagonal) {
    // Plain random entries: small pivots in place, so the pivot search matters.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int trial = 0; trial < 20; ++trial) {
        NumberMat a(6, 6, true);
        for (auto& row : a.data) {
            for (double& x : row) x = u(gen);
        }
        a.data[0][0] = 0.0;
        NumberMat inv;
        NumberMat::invertMat(a, inv);
        expectInverse(a, inv, 1e-9);
    }
}

TEST(InvertMat, LargestSupportedSize) {
    NumberMat a = randomWellConditioned(50, 3);
    NumberMat inv;
    NumberMat::invertMat(a, inv);
    expectInverse(a, inv, 1e-10);
}

TEST(InvertMat, ZeroColumnStopsSilently) {
    NumberMat a = makeMat({{1, 0, 2}, {3, 0, 4}, {5, 0, 6}});
    NumberMat inv;
    CoutCapture out;
    NumberMat::invertMat(a, inv);
    EXPECT_EQ("", out.text());
    EXPECT_EQ(3, inv.rows);
    EXPECT_EQ(makeMat({{1, 0, 2}, {3, 0, 4}, {5, 0, 6}}).data, a.data);
}

TEST(InvertMat, SingularStopsPartlyEliminatedAfterFirstMaximumPivot) {
    // Rows of equal magnitude in column 0: the first one is the pivot. One step turns
    // the rows into [2, 1] and [0, 1], then the zero pivot ends the elimination.
    NumberMat a = makeMat({{1, 2}, {-1, -2}});
    NumberMat out;
    NumberMat::invertMat(a, out);
    EXPECT_EQ(makeMat({{2, 1}, {0, 1}}).data, out.data);
}

TEST(InvertMat, EmptyMatrixIsReported) {
    NumberMat a;
    NumberMat inv = makeMat({{1, 2}, {3, 4}});
    CoutCapture out;
    NumberMat::invertMat(a, inv);
    EXPECT_EQ("Error: Mat.selfInvert(): dim == 0\n", out.text());
    EXPECT_EQ(0, inv.rows);
    EXPECT_EQ(0, inv.cols);
}

TEST(InvertMat, OversizeAndNonSquareAreRefusedWithoutTouchingTheOutput) {
    NumberMat big = randomWellConditioned(51, 5);
    NumberMat rect(3, 4, true);
    NumberMat inv = makeMat({{7, 8}, {9, 10}});
    std::vector<int> nosBefore = NumberMat::_nos;
    CoutCapture out;
    NumberMat::invertMat(big, inv);
    EXPECT_EQ(1, out.lines());
    NumberMat::invertMat(rect, inv);
    EXPECT_EQ(2, out.lines());
    EXPECT_EQ(0u, out.text().find("Error: "));
    EXPECT_EQ(makeMat({{7, 8}, {9, 10}}).data, inv.data);
    EXPECT_EQ(nosBefore, NumberMat::_nos);
}

TEST(LuDecomposition, SolvesAKnownFourByFourSystem) {
    // A needs pivoting (zero in the corner); x = (1, -2, 3, 0.5).
    NumberMat a = makeMat({{0, 2, 1, 4}, {3, 1, -1, 2}, {1, 0, 2, -3}, {2, -1, 1, 1}});
    const std::vector<double> x{1, -2, 3, 0.5};
    std::vector<double> b(4, 0.0);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) b[i] += a.data[i][j] * x[j];
    }
    NumberMat::_pLU.copyFrom(a);
    NumberMat::_permVec = identityPerm(4);
    NumberMat::gsl_linalg_LU_decomp(NumberMat::_pLU, NumberMat::_permVec);
    NumberMat::gsl_linalg_LU_solve(NumberMat::_pLU, NumberMat::_permVec, b);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(x[i], b[i], 1e-12) << i;
}

TEST(LuDecomposition, FactorsReproduceThePermutedMatrix) {
    NumberMat a = randomWellConditioned(4, 11);
    NumberMat lu;
    lu.copyFrom(a);
    std::vector<int> perm = identityPerm(4);
    NumberMat::gsl_linalg_LU_decomp(lu, perm);

    // perm is a permutation and L * U == rows of a in the order of perm.
    std::vector<int> sorted = perm;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(identityPerm(4), sorted);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                const double l = k < i ? lu.data[i][k] : (k == i ? 1.0 : 0.0);
                const double u = k <= j ? lu.data[k][j] : 0.0;
                sum += l * u;
            }
            EXPECT_NEAR(a.data[perm[i]][j], sum, 1e-12) << i << "," << j;
        }
    }
    // Partial pivoting keeps every multiplier at most 1 in magnitude.
    for (int i = 1; i < 4; ++i) {
        for (int k = 0; k < i; ++k) EXPECT_LE(std::fabs(lu.data[i][k]), 1.0);
    }
}

TEST(LuDecomposition, SmallerSystemsUseFewerScratchEntries) {
    NumberMat a = makeMat({{2, 1, 0}, {4, 3, 1}, {0, 1, 5}});
    std::vector<int> perm = identityPerm(3);
    std::vector<double> b{3, 8, 6};  // x = (1, 1, 1)
    NumberMat lu;
    lu.copyFrom(a);
    NumberMat::gsl_linalg_LU_decomp(lu, perm);
    NumberMat::gsl_linalg_LU_solve(lu, perm, b);
    for (double v : b) EXPECT_NEAR(1.0, v, 1e-14);
}

TEST(LuDecomposition, EqualMagnitudesKeepTheEarlierPivotRow) {
    NumberMat a = makeMat({{1, 2}, {-1, 3}});
    std::vector<int> perm = identityPerm(2);
    NumberMat::gsl_linalg_LU_decomp(a, perm);
    EXPECT_EQ(identityPerm(2), perm);
    EXPECT_EQ(makeMat({{1, 2}, {-1, 5}}).data, a.data);
}

TEST(LuDecomposition, ZeroPivotColumnIsSkippedSilently) {
    NumberMat a = makeMat({{0, 1, 2}, {0, 3, 4}, {0, 5, 7}});
    std::vector<int> perm = identityPerm(3);
    CoutCapture out;
    NumberMat::gsl_linalg_LU_decomp(a, perm);
    EXPECT_EQ("", out.text());
    // Column 0 stays zero and the second column was still eliminated (pivot 5).
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0.0, a.data[i][0]);
    EXPECT_EQ(5.0, a.data[1][1]);
    EXPECT_EQ(2, perm[1]);
}

TEST(LuDecomposition, OversizeSolveIsRefusedWithoutTouchingB) {
    NumberMat lu = randomWellConditioned(5, 2);
    std::vector<int> perm = identityPerm(5);
    NumberMat::gsl_linalg_LU_decomp(lu, perm);
    std::vector<double> b{1, 2, 3, 4, 5};
    const std::vector<double> xTmpBefore = NumberMat::_xTmp;
    CoutCapture out;
    NumberMat::gsl_linalg_LU_solve(lu, perm, b);
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(0u, out.text().find("Error: "));
    EXPECT_EQ(std::vector<double>({1, 2, 3, 4, 5}), b);
    EXPECT_EQ(xTmpBefore, NumberMat::_xTmp);
    EXPECT_EQ(4u, NumberMat::_xTmp.size());
}

TEST(LuDecomposition, InconsistentArgumentsAreRefused) {
    NumberMat lu = makeMat({{1, 0}, {0, 1}});
    std::vector<double> b{1, 2};
    CoutCapture out;
    std::vector<int> badPerm{0, 7};
    NumberMat::gsl_linalg_LU_solve(lu, badPerm, b);
    std::vector<double> shortB{1};
    std::vector<int> perm = identityPerm(2);
    NumberMat::gsl_linalg_LU_solve(lu, perm, shortB);
    NumberMat rect(2, 3, true);
    NumberMat::gsl_linalg_LU_decomp(rect, perm);
    std::vector<int> shortPerm{0};
    NumberMat::gsl_linalg_LU_decomp(lu, shortPerm);
    EXPECT_EQ(4, out.lines());
    EXPECT_EQ(std::vector<double>({1, 2}), b);
    EXPECT_EQ(std::vector<double>({1}), shortB);
}
