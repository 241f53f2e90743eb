// One-sided Jacobi SVD: reconstruction, orthonormality, ordering of the singular
// values, null-space completion and argument checks.
#include "math/JacobiSVD.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "util/CoutCapture.h"

using kvo::JacobiSVD;

namespace {

// A is m x n, row-major. The decomposition is stored the way run() leaves it.
struct Svd {
    int m = 0, n = 0, nLeft = 0;
    std::vector<double> At, W, Vt;
};

Svd decompose(const std::vector<double>& a, int m, int n, int nLeft = -1, bool withV = true) {
    Svd s;
    s.m = m;
    s.n = n;
    s.nLeft = nLeft < 0 ? n : nLeft;
    s.At.assign(static_cast<size_t>(std::max(n, s.nLeft)) * m, 0.0);
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < n; ++j) s.At[j * m + i] = a[i * n + j];
    }
    s.W.assign(n, -1.0);
    if (withV) s.Vt.assign(static_cast<size_t>(n) * n, 0.0);
    JacobiSVD svd;
    svd.run(s.At, s.W, s.Vt, m, n, m, n, s.nLeft);
    return s;
}

// max |A - U diag(W) V^T|, using the first `terms` singular triplets.
double reconstructionError(const std::vector<double>& a, const Svd& s, int terms) {
    double worst = 0.0;
    for (int i = 0; i < s.m; ++i) {
        for (int j = 0; j < s.n; ++j) {
            double sum = 0.0;
            for (int k = 0; k < terms; ++k) sum += s.At[k * s.m + i] * s.W[k] * s.Vt[k * s.n + j];
            worst = std::max(worst, std::fabs(a[i * s.n + j] - sum));
        }
    }
    return worst;
}

// max |R R^T - I| over the first `count` rows of length `len`, stride `len`.
double orthonormalityError(const std::vector<double>& rows, int count, int len) {
    double worst = 0.0;
    for (int i = 0; i < count; ++i) {
        for (int j = 0; j < count; ++j) {
            double d = 0.0;
            for (int k = 0; k < len; ++k) d += rows[i * len + k] * rows[j * len + k];
            worst = std::max(worst, std::fabs(d - (i == j ? 1.0 : 0.0)));
        }
    }
    return worst;
}

std::vector<double> randomMatrix(int m, int n, std::mt19937& gen) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> a(static_cast<size_t>(m) * n);
    for (double& x : a) x = u(gen);
    return a;
}

// A random m x n matrix of rank r (product of m x r and r x n random factors).
std::vector<double> randomOfRank(int m, int n, int r, std::mt19937& gen) {
    std::vector<double> b = randomMatrix(m, r, gen), c = randomMatrix(r, n, gen);
    std::vector<double> a(static_cast<size_t>(m) * n, 0.0);
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < n; ++j) {
            for (int k = 0; k < r; ++k) a[i * n + j] += b[i * r + k] * c[k * n + j];
        }
    }
    return a;
}

void expectDescending(const std::vector<double>& w) {
    for (size_t i = 0; i + 1 < w.size(); ++i) EXPECT_GE(w[i], w[i + 1]) << i;
    for (double x : w) EXPECT_GE(x, 0.0);
}

}  // namespace

TEST(JacobiSVD, MembersAreSizedForSixBySix) {
    JacobiSVD svd;
    EXPECT_EQ(std::vector<double>(6, 0.0), svd.singularValues);
    EXPECT_EQ(std::vector<double>(36, 0.0), svd.matV);
    EXPECT_EQ(std::vector<double>(36, 0.0), svd.matU);
    EXPECT_EQ(std::vector<double>(6, 0.0), svd.runW);
    EXPECT_EQ(std::vector<double>(36, 0.0), svd.runVt);
    EXPECT_EQ(std::vector<double>(36, 0.0), svd.runAt);
}

TEST(JacobiSVD, TwoByTwoKnownValues) {
    const std::vector<double> a{3, 0, 4, 5};
    Svd s = decompose(a, 2, 2);
    EXPECT_NEAR(std::sqrt(45.0), s.W[0], 1e-13);
    EXPECT_NEAR(std::sqrt(5.0), s.W[1], 1e-13);
    EXPECT_LT(reconstructionError(a, s, 2), 1e-13);
}

TEST(JacobiSVD, DiagonalNeedsNoRotation) {
    const std::vector<double> a{2, 0, 0, 0, -5, 0, 0, 0, 3};
    Svd s = decompose(a, 3, 3);
    EXPECT_EQ(std::vector<double>({5, 3, 2}), s.W);
    // V is the matching permutation of the identity, exactly.
    EXPECT_EQ(std::vector<double>({0, 1, 0, 0, 0, 1, 1, 0, 0}), s.Vt);
    // U carries the sign: the column for 5 is -e1.
    EXPECT_EQ(std::vector<double>({0, -1, 0, 0, 0, 1, 1, 0, 0}), s.At);
}

TEST(JacobiSVD, EqualSingularValuesKeepTheirOrder) {
    // Columns 1 and 2 have the same norm; column 1 must stay first.
    const std::vector<double> a{1, 0, 0, 0, 0, 3, 0, 3, 0};
    Svd s = decompose(a, 3, 3);
    EXPECT_EQ(std::vector<double>({3, 3, 1}), s.W);
    EXPECT_EQ(std::vector<double>({0, 1, 0, 0, 0, 1, 1, 0, 0}), s.Vt);
}

TEST(JacobiSVD, RandomSixBySix) {
    std::mt19937 gen(2024);
    for (int trial = 0; trial < 50; ++trial) {
        const std::vector<double> a = randomMatrix(6, 6, gen);
        Svd s = decompose(a, 6, 6);
        EXPECT_LT(reconstructionError(a, s, 6), 1e-12) << trial;
        EXPECT_LT(orthonormalityError(s.At, 6, 6), 1e-12) << trial;
        EXPECT_LT(orthonormalityError(s.Vt, 6, 6), 1e-12) << trial;
        expectDescending(s.W);
    }
}

TEST(JacobiSVD, RankDeficientSixBySix) {
    std::mt19937 gen(99);
    for (int rank = 1; rank <= 5; ++rank) {
        for (int trial = 0; trial < 10; ++trial) {
            const std::vector<double> a = randomOfRank(6, 6, rank, gen);
            Svd s = decompose(a, 6, 6);
            EXPECT_LT(reconstructionError(a, s, 6), 1e-12) << rank << "/" << trial;
            EXPECT_LT(orthonormalityError(s.Vt, 6, 6), 1e-12);
            expectDescending(s.W);
            // The rank shows in the values; the left vectors of the non-zero ones are
            // orthonormal. (Numerically-zero values that are not exactly 0.0 are only
            // normalised, not completed.)
            EXPECT_GT(s.W[rank - 1], 1e-6 * s.W[0]);
            for (int k = rank; k < 6; ++k) EXPECT_LT(s.W[k], 1e-13 * std::max(1.0, s.W[0]));
            EXPECT_LT(orthonormalityError(s.At, rank, 6), 1e-12);
        }
    }
}

TEST(JacobiSVD, ZeroColumnsAreCompletedToAnOrthonormalBasis) {
    std::mt19937 gen(5);
    std::vector<double> a = randomMatrix(6, 6, gen);
    for (int i = 0; i < 6; ++i) {
        a[i * 6 + 1] = 0.0;
        a[i * 6 + 4] = 0.0;
    }
    Svd s = decompose(a, 6, 6);
    EXPECT_EQ(0.0, s.W[4]);
    EXPECT_EQ(0.0, s.W[5]);
    EXPECT_GT(s.W[3], 0.0);
    EXPECT_LT(orthonormalityError(s.At, 6, 6), 1e-12);
    EXPECT_LT(orthonormalityError(s.Vt, 6, 6), 1e-12);
    EXPECT_LT(reconstructionError(a, s, 6), 1e-12);

    // The completion is reproducible.
    Svd again = decompose(a, 6, 6);
    EXPECT_EQ(s.At, again.At);
}

TEST(JacobiSVD, ZeroMatrixUsesTheSeededSignSequence) {
    // No rotation happens (iter = 0), so row 0 of U is the first batch of signs from
    // the generator seeded with 0 | ((m + nLeft) & 255) << 8 | ((m * n) & 255) << 16.
    const int m = 3, n = 3;
    Svd s = decompose(std::vector<double>(9, 0.0), m, n);
    EXPECT_EQ(std::vector<double>({0, 0, 0}), s.W);
    uint32_t x = (static_cast<uint32_t>(m + n) << 8) | (static_cast<uint32_t>(m * n) << 16);
    const double mag = 1.0 / std::sqrt(3.0);
    for (int k = 0; k < m; ++k) {
        x = x * 214013u + 2531011u;
        const double expected = ((x >> 24) & 1u) ? mag : -mag;
        EXPECT_NEAR(expected, s.At[k], 1e-15) << k;
    }
    EXPECT_LT(orthonormalityError(s.At, 3, 3), 1e-12);
}

TEST(JacobiSVD, TallMatrix) {
    std::mt19937 gen(17);
    for (int trial = 0; trial < 10; ++trial) {
        const std::vector<double> a = randomMatrix(8, 5, gen);
        Svd s = decompose(a, 8, 5);
        EXPECT_LT(reconstructionError(a, s, 5), 1e-12);
        EXPECT_LT(orthonormalityError(s.At, 5, 8), 1e-12);
        EXPECT_LT(orthonormalityError(s.Vt, 5, 5), 1e-12);
        expectDescending(s.W);
    }
}

TEST(JacobiSVD, WideMatrix) {
    // A 4 x 7 matrix has at most 4 non-zero singular values; the left vectors of
    // those 4 are normalised (nLeft = m).
    std::mt19937 gen(23);
    for (int trial = 0; trial < 10; ++trial) {
        const std::vector<double> a = randomMatrix(4, 7, gen);
        Svd s = decompose(a, 4, 7, 4);
        EXPECT_LT(reconstructionError(a, s, 4), 1e-12);
        EXPECT_LT(orthonormalityError(s.At, 4, 4), 1e-12);
        EXPECT_LT(orthonormalityError(s.Vt, 7, 7), 1e-12);
        for (int k = 4; k < 7; ++k) EXPECT_LT(s.W[k], 1e-13);
        expectDescending(s.W);
    }
}

TEST(JacobiSVD, ValuesOnlyWhenVtIsEmpty) {
    std::mt19937 gen(8);
    const std::vector<double> a = randomMatrix(6, 6, gen);
    Svd full = decompose(a, 6, 6);
    Svd valuesOnly = decompose(a, 6, 6, 6, false);
    EXPECT_TRUE(valuesOnly.Vt.empty());
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(full.W[k], valuesOnly.W[k], 1e-12);
}

TEST(JacobiSVD, SolverConfigurationOnOwnMembers) {
    std::mt19937 gen(31);
    const std::vector<double> a = randomMatrix(6, 6, gen);
    JacobiSVD svd;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) svd.runAt[j * 6 + i] = a[i * 6 + j];
    }
    svd.run(svd.runAt, svd.runW, svd.runVt, 6, 6, 6, 6, 6);
    Svd s;
    s.m = s.n = s.nLeft = 6;
    s.At = svd.runAt;
    s.W = svd.runW;
    s.Vt = svd.runVt;
    EXPECT_LT(reconstructionError(a, s, 6), 1e-12);
    // Same arithmetic as a fresh decomposition: bit-identical results.
    Svd fresh = decompose(a, 6, 6);
    EXPECT_EQ(fresh.W, svd.runW);
    EXPECT_EQ(fresh.At, svd.runAt);
    EXPECT_EQ(fresh.Vt, svd.runVt);
}

TEST(JacobiSVD, MoreLeftVectorsThanRowsEnds) {
    // nLeft > m: the third left vector of a 2 x 3 problem cannot be orthogonal to the
    // first two; completion must give up rather than loop.
    const std::vector<double> a{1, 0, 0, 0, 1, 0};
    Svd s = decompose(a, 2, 3, 3);
    EXPECT_EQ(std::vector<double>({1, 1, 0}), s.W);
    EXPECT_LT(orthonormalityError(s.At, 2, 2), 1e-15);
    EXPECT_EQ(0.0, s.At[4]);
    EXPECT_EQ(0.0, s.At[5]);
    EXPECT_LT(reconstructionError(a, s, 3), 1e-15);
}

TEST(JacobiSVD, TooSmallArgumentsAreRefused) {
    JacobiSVD svd;
    std::vector<double> at(5, 1.0), w(3, 7.0), vt(9, 7.0);
    kvo_test::CoutCapture out;
    svd.run(at, w, vt, 2, 3, 2, 3, 3);  // At needs 3 rows of 2
    EXPECT_EQ(1, out.lines());
    EXPECT_EQ(0u, out.text().find("Error: "));
    EXPECT_EQ(std::vector<double>(3, 7.0), w);
    EXPECT_EQ(std::vector<double>(5, 1.0), at);
    std::vector<double> at6(6, 1.0), shortVt(8, 0.0);
    svd.run(at6, w, shortVt, 2, 3, 2, 3, 3);  // Vt needs 9 values
    EXPECT_EQ(2, out.lines());
    svd.run(at6, w, vt, 1, 3, 2, 3, 3);  // astep < m
    EXPECT_EQ(3, out.lines());
}
