#include "math/JacobiSVD.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Rotations whose off-diagonal product is below this fraction of the norms are skipped
// (ten times the double epsilon).
const double kRotationEps = 2.220446049250313e-15;

// A completion row whose absolute sum (relative to the unit sum it starts from) falls
// below this after removing a projection holds only rounding noise; rescaling the noise
// would give a vector that is not orthogonal at all, so the row is dropped instead.
const double kCompletionEps = 100.0 * std::numeric_limits<double>::epsilon();

// Attempts at completing one null-space row before giving up. A single attempt always
// succeeds while fewer than m rows precede it; only rows beyond m can fail.
const int kMaxCompletionAttempts = 100;

double squaredNorm(const double* row, int m) {
    double s = 0.0;
    for (int k = 0; k < m; ++k) s += row[k] * row[k];
    return s;
}

// sqrt(p*p + b*b) without overflow.
double hypotenuse(double p, double b) {
    const double ap = std::fabs(p);
    const double ab = std::fabs(b);
    if (ap > ab) {
        const double r = ab / ap;
        return ap * std::sqrt(r * r + 1.0);
    }
    if (ab > 0.0) {
        const double r = ap / ab;
        return ab * std::sqrt(r * r + 1.0);
    }
    return 0.0;
}

void rotateRows(double* ri, double* rj, int len, double c, double s) {
    for (int k = 0; k < len; ++k) {
        const double x = ri[k];
        const double y = rj[k];
        ri[k] = c * x + s * y;
        rj[k] = c * y - s * x;
    }
}

}  // namespace

JacobiSVD::JacobiSVD()
    : singularValues(6, 0.0),
      matV(36, 0.0),
      matU(36, 0.0),
      runW(6, 0.0),
      runVt(36, 0.0),
      runAt(36, 0.0) {}

JacobiSVD::~JacobiSVD() {}

void JacobiSVD::run(std::vector<double>& At, std::vector<double>& W, std::vector<double>& Vt,
                    int astep, int vstep, int m, int n, int nLeft) {
    const bool withV = !Vt.empty();
    const int atRows = std::max(n, nLeft);
    bool ok = m >= 1 && n >= 1 && nLeft >= 0 && astep >= m && W.size() >= static_cast<size_t>(n);
    if (ok) {
        ok = At.size() >= static_cast<size_t>(atRows - 1) * static_cast<size_t>(astep) +
                              static_cast<size_t>(m);
    }
    if (ok && withV) {
        ok = vstep >= n && Vt.size() >= static_cast<size_t>(n - 1) * static_cast<size_t>(vstep) +
                                            static_cast<size_t>(n);
    }
    if (!ok) {
        Err("JacobiSVD::run: arguments too small for m = " + to_string(m) + ", n = " +
            to_string(n) + ", nLeft = " + to_string(nLeft) + ".");
        return;
    }

    double* a = At.data();
    double* v = withV ? Vt.data() : nullptr;

    for (int i = 0; i < n; ++i) {
        W[i] = squaredNorm(a + i * astep, m);
        if (withV) {
            double* vi = v + i * vstep;
            for (int k = 0; k < n; ++k) vi[k] = 0.0;
            vi[i] = 1.0;
        }
    }

    const int maxIter = std::max(m, 30);
    int iter = 0;
    for (; iter < maxIter; ++iter) {
        bool changed = false;
        for (int i = 0; i < n - 1; ++i) {
            for (int j = i + 1; j < n; ++j) {
                double* ri = a + i * astep;
                double* rj = a + j * astep;
                const double wa = W[i];
                const double wb = W[j];
                double p = 0.0;
                for (int k = 0; k < m; ++k) p += ri[k] * rj[k];
                if (std::fabs(p) <= kRotationEps * std::sqrt(wa * wb)) continue;

                p *= 2.0;
                const double beta = wa - wb;
                const double gamma = hypotenuse(p, beta);
                double c, s, delta;
                if (beta < 0.0) {
                    delta = (gamma - beta) * 0.5;
                    s = std::sqrt(delta / gamma);
                    c = p / (gamma * s * 2.0);
                } else {
                    c = std::sqrt((gamma + beta) / (gamma * 2.0));
                    s = p / (gamma * c * 2.0);
                    delta = p * p * 0.5 / (gamma + beta);
                }

                rotateRows(ri, rj, m, c, s);
                if (iter % 2 != 0) {
                    W[i] += delta;
                    W[j] -= delta;
                } else {
                    W[i] = squaredNorm(ri, m);
                    W[j] = squaredNorm(rj, m);
                }
                if (withV) rotateRows(v + i * vstep, v + j * vstep, n, c, s);
                changed = true;
            }
        }
        if (!changed) break;
    }

    for (int i = 0; i < n; ++i) W[i] = std::sqrt(squaredNorm(a + i * astep, m));

    // Selection sort, descending; a later value wins only when strictly larger, so
    // equal singular values keep their order.
    for (int i = 0; i < n - 1; ++i) {
        int best = i;
        for (int j = i + 1; j < n; ++j) {
            if (W[j] > W[best]) best = j;
        }
        if (best == i) continue;
        std::swap(W[i], W[best]);
        if (withV) {
            std::swap_ranges(a + i * astep, a + i * astep + m, a + best * astep);
            std::swap_ranges(v + i * vstep, v + i * vstep + n, v + best * vstep);
        }
    }

    if (!withV) return;

    // Normalise the left singular vectors. A zero singular value has no direction of
    // its own, so its row is replaced by a reproducible pseudo-random vector made
    // orthogonal to the rows before it.
    uint32_t rng = 0;
    bool seeded = false;
    for (int i = 0; i < nLeft; ++i) {
        double* ri = a + i * astep;
        double sigma = i < n ? W[i] : 0.0;
        for (int attempt = 0; sigma == 0.0 && attempt < kMaxCompletionAttempts; ++attempt) {
            if (!seeded) {
                rng = static_cast<uint32_t>(iter) |
                      ((static_cast<uint32_t>(m + nLeft) & 0xFFu) << 8) |
                      (((static_cast<uint32_t>(m) * static_cast<uint32_t>(n)) & 0xFFu) << 16);
                seeded = true;
            }
            const double val = 1.0 / m;
            for (int k = 0; k < m; ++k) {
                rng = rng * 214013u + 2531011u;
                ri[k] = ((rng >> 24) & 1u) != 0 ? val : -val;
            }
            for (int pass = 0; pass < 2; ++pass) {
                for (int j = 0; j < i; ++j) {
                    const double* rj = a + j * astep;
                    double d = 0.0;
                    for (int k = 0; k < m; ++k) d += ri[k] * rj[k];
                    double absSum = 0.0;
                    for (int k = 0; k < m; ++k) {
                        ri[k] -= d * rj[k];
                        absSum += std::fabs(ri[k]);
                    }
                    const double scale = absSum > kCompletionEps ? 1.0 / absSum : 0.0;
                    for (int k = 0; k < m; ++k) ri[k] *= scale;
                }
            }
            sigma = std::sqrt(squaredNorm(ri, m));
        }
        if (sigma == 0.0) continue;  // no completion found: the row stays zero
        const double inv = 1.0 / sigma;
        for (int k = 0; k < m; ++k) ri[k] *= inv;
    }
}

}  // namespace kvo
