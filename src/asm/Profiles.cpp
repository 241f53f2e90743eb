#include "asm/Profiles.h"

#include <algorithm>
#include <cmath>

namespace kvo {

Profiles::Profiles() : gProf(PROF_BUFFER_LENGTH, 0.0), d(2, 0.0), p(2, 0.0), q(2, 0.0) {
    delta[0] = 0.0;
    delta[1] = 0.0;
}

void Profiles::reserveProfile(size_t length) {
    if (gProf.size() < length) gProf.resize(length, 0.0);
}

double Profiles::CalcProfile(const std::vector<double>& mean, std::vector<double>& prof,
                             const NumberMat& covar) {
    const size_t n = prof.size();
    const size_t nMean = std::min(n, mean.size());
    for (size_t i = 0; i < nMean; ++i) prof[i] -= mean[i];

    if (covar.rows == 1) {
        // Compact form: element 0 is the marker, element i + 1 weighs d_i.
        const std::vector<double>& w = covar.data[0];
        const size_t m = w.empty() ? 0 : std::min(n, w.size() - 1);
        double sum = 0.0;
        for (size_t i = 0; i < m; ++i) sum += prof[i] * prof[i] * w[i + 1];
        return sum;
    }

    size_t m = std::min(n, static_cast<size_t>(std::max(covar.rows, 0)));
    m = std::min(m, static_cast<size_t>(std::max(covar.cols, 0)));
    double diag = 0.0;
    double upper = 0.0;
    for (size_t i = 0; i < m; ++i) {
        const std::vector<double>& row = covar.data[i];
        diag += row[i] * prof[i] * prof[i];
        for (size_t j = i + 1; j < m; ++j) upper += row[j] * prof[i] * prof[j];
    }
    return diag + 2.0 * upper;
}

std::vector<double>& Profiles::GetBisector(const std::vector<double>& prev,
                                           const std::vector<double>& cur,
                                           const std::vector<double>& next) {
    // Unit normal of the incoming segment.
    p[0] = cur[0] - prev[0];
    p[1] = cur[1] - prev[1];
    NumberMat::normalizeMe(p);
    const double px = p[0];
    p[0] = p[1];
    p[1] = -px;

    // Unit normal of the outgoing segment.
    q[0] = next[0] - cur[0];
    q[1] = next[1] - cur[1];
    NumberMat::normalizeMe(q);
    const double qx = q[0];
    q[0] = q[1];
    q[1] = -qx;

    d[0] = p[0] + q[0];
    d[1] = p[1] + q[1];
    NumberMat::normalizeMe(d);
    if (std::fabs(d[0]) < 1e-10 && std::fabs(d[1]) < 1e-10) {
        // The two normals cancel (the outline folds back on itself): use the incoming
        // direction.
        d[0] = cur[0] - prev[0];
        d[1] = cur[1] - prev[1];
        NumberMat::normalizeMe(d);
    }
    return d;
}

double* Profiles::GetProfStepSize(double, double, const ShapeMat& shape, int i,
                                  const LandmarkTable& table, bool useTable) {
    const int n = shape.rows;
    int previous;
    int next;
    if (useTable) {
        previous = FaceLandmarks::previousNeighbour(table, i, n);
        next = FaceLandmarks::nextNeighbour(table, i, n);
    } else {
        previous = (i == 0) ? n - 1 : i - 1;
        next = (i == n - 1) ? 0 : i + 1;
    }
    const std::vector<double>& e = GetBisector(shape.data[previous], shape.data[i],
                                               shape.data[next]);
    const double larger = std::max(std::fabs(e[0]), std::fabs(e[1]));
    if (larger > 0.0) {
        delta[0] = e[0] / larger;
        delta[1] = e[1] / larger;
    } else {
        delta[0] = 0.0;
        delta[1] = 0.0;
    }
    return delta;
}

int Profiles::iGetPixel(const uint8_t* data, int width, int height, int x, int y) {
    if (data == nullptr || width <= 0 || height <= 0) return 0;
    int col = static_cast<int>(width * 0.5 + x);
    int row = static_cast<int>(height * 0.5 - y);
    col = std::min(std::max(col, 0), width - 1);
    row = std::min(std::max(row, 0), height - 1);
    return data[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)];
}

int nearestPixel(double v) {
    const double limit = 1e9;
    if (!(v > -limit)) return -static_cast<int>(limit);
    if (!(v < limit)) return static_cast<int>(limit);
    return static_cast<int>(v < 0.0 ? v - 0.5 : v + 0.5);
}

}  // namespace kvo
