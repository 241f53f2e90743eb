#include "PointShapeModel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <sstream>

namespace kvo {
namespace labeller {

namespace {

const int DIM = 2 * NUM_POINTS;
const int PROCRUSTES_ITERATIONS = 8;
const int FIT_ITERATIONS = 30;

// Similarity map p -> [a -b; b a] p + t.
struct Similarity {
    double a = 1.0, b = 0.0, tx = 0.0, ty = 0.0;
    dlib::dpoint apply(const dlib::dpoint& p) const {
        return dlib::dpoint(a * p.x() - b * p.y() + tx, b * p.x() + a * p.y() + ty);
    }
    dlib::dpoint inverse(const dlib::dpoint& q) const {
        const double d = a * a + b * b;
        const double x = q.x() - tx, y = q.y() - ty;
        return dlib::dpoint((a * x + b * y) / d, (-b * x + a * y) / d);
    }
};

// Least-squares similarity taking `from` onto `to` over the points in `use`.
// Returns false if the `from` points coincide (no scale can be found).
bool solveSimilarity(const Shape68& from, const Shape68& to, const PointMask& use, Similarity& s) {
    dlib::dpoint cf(0, 0), ct(0, 0);
    int n = 0;
    for (int i = 0; i < NUM_POINTS; ++i) {
        if (!use[i]) continue;
        cf += from[i];
        ct += to[i];
        ++n;
    }
    if (n < 2) return false;
    cf /= n;
    ct /= n;
    double ss = 0.0, dot = 0.0, cross = 0.0;
    for (int i = 0; i < NUM_POINTS; ++i) {
        if (!use[i]) continue;
        const dlib::dpoint f = from[i] - cf, t = to[i] - ct;
        ss += f.x() * f.x() + f.y() * f.y();
        dot += f.x() * t.x() + f.y() * t.y();
        cross += f.x() * t.y() - f.y() * t.x();
    }
    if (!(ss > 1e-12)) return false;
    s.a = dot / ss;
    s.b = cross / ss;
    s.tx = ct.x() - (s.a * cf.x() - s.b * cf.y());
    s.ty = ct.y() - (s.b * cf.x() + s.a * cf.y());
    return true;
}

// Centres on the centroid and scales to unit Frobenius norm.
void normalise(Shape68& s) {
    dlib::dpoint c(0, 0);
    for (const auto& p : s) c += p;
    c /= NUM_POINTS;
    double ss = 0.0;
    for (auto& p : s) {
        p -= c;
        ss += p.x() * p.x() + p.y() * p.y();
    }
    const double k = 1.0 / std::sqrt(ss);
    for (auto& p : s) p *= k;
}

dlib::matrix<double, 0, 1> toVector(const Shape68& s) {
    dlib::matrix<double, 0, 1> v(DIM);
    for (int i = 0; i < NUM_POINTS; ++i) {
        v(2 * i) = s[i].x();
        v(2 * i + 1) = s[i].y();
    }
    return v;
}

}  // namespace

bool loadMuctShapes(const std::string& path, std::vector<MuctShape>& shapes, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read MUCT shapes from " + path;
        return false;
    }
    std::string line;
    std::getline(in, line);  // header
    int lineNo = 1;
    shapes.clear();
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ',')) cells.push_back(cell);
        if (cells.size() < 2 + DIM) {
            error = path + ":" + std::to_string(lineNo) + ": expected " + std::to_string(2 + DIM) +
                    " columns, found " + std::to_string(cells.size());
            return false;
        }
        MuctShape m;
        m.name = cells[0];
        for (int i = 0; i < NUM_POINTS; ++i) {
            double xy[2];
            for (int k = 0; k < 2; ++k) {
                const std::string& c = cells[2 + 2 * i + k];
                char* end = nullptr;
                xy[k] = std::strtod(c.c_str(), &end);
                if (c.empty() || *end != '\0' || !std::isfinite(xy[k])) {
                    error = path + ":" + std::to_string(lineNo) + ": bad number '" + c + "'";
                    return false;
                }
            }
            m.points[i] = dlib::dpoint(xy[0], xy[1]);
            m.present[i] = !(xy[0] == 0.0 && xy[1] == 0.0);
        }
        shapes.push_back(m);
    }
    if (shapes.empty()) {
        error = "no shapes in " + path;
        return false;
    }
    return true;
}

bool PointShapeModel::build(const std::vector<Shape68>& shapes,
                            const std::array<int, NUM_POINTS>& partner, double varianceKept,
                            std::string& error) {
    numModes_ = 0;
    if (shapes.size() < 10) {
        error = "a shape model needs at least 10 shapes, got " + std::to_string(shapes.size());
        return false;
    }
    if (!(varianceKept > 0.0 && varianceKept < 1.0)) {
        error = "the kept variance fraction must lie in (0, 1)";
        return false;
    }
    PointMask all;
    all.fill(true);

    std::vector<Shape68> aligned(shapes);
    for (auto& s : aligned) normalise(s);

    // Generalised Procrustes. The reference is symmetrised on every pass, which fixes its
    // orientation (midline vertical) and keeps the aligned set mirror-symmetric.
    Shape68 ref = aligned[0];
    for (int it = 0; it < PROCRUSTES_ITERATIONS; ++it) {
        const Shape68 mirrored = mirrorShape(ref, partner, 0.0);
        for (int i = 0; i < NUM_POINTS; ++i) ref[i] = 0.5 * (ref[i] + mirrored[i]);
        normalise(ref);
        Shape68 sum;
        sum.fill(dlib::dpoint(0, 0));
        for (auto& s : aligned) {
            Similarity t;
            if (!solveSimilarity(s, ref, all, t)) {
                error = "a training shape has all its points on one spot";
                return false;
            }
            for (auto& p : s) p = t.apply(p);
            for (int i = 0; i < NUM_POINTS; ++i) sum[i] += s[i];
        }
        for (int i = 0; i < NUM_POINTS; ++i) ref[i] = sum[i] / static_cast<double>(aligned.size());
    }
    // Every aligned shape also enters mirrored, so that mean and modes are exactly
    // symmetric even where a set's mirrored copies are only rounded mirrors.
    const Shape68 mirroredMean = mirrorShape(ref, partner, 0.0);
    for (int i = 0; i < NUM_POINTS; ++i) mean_[i] = 0.5 * (ref[i] + mirroredMean[i]);

    // Covariance and its eigen-decomposition.
    const dlib::matrix<double, 0, 1> m = toVector(mean_);
    dlib::matrix<double> cov = dlib::zeros_matrix<double>(DIM, DIM);
    for (const auto& s : aligned) {
        const dlib::matrix<double, 0, 1> d = toVector(s) - m;
        const dlib::matrix<double, 0, 1> dm = toVector(mirrorShape(s, partner, 0.0)) - m;
        cov += d * dlib::trans(d) + dm * dlib::trans(dm);
    }
    cov /= 2.0 * static_cast<double>(aligned.size());
    dlib::eigenvalue_decomposition<dlib::matrix<double>> eig(dlib::make_symmetric(cov));
    const dlib::matrix<double, 0, 1> values = eig.get_real_eigenvalues();
    const dlib::matrix<double> vectors = eig.get_pseudo_v();
    std::vector<int> order(DIM);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int i, int j) { return values(i) > values(j); });

    double total = 0.0;
    for (int i = 0; i < DIM; ++i) total += std::max(0.0, values(i));
    int kept = 0;
    double acc = 0.0;
    while (kept < DIM && acc < varianceKept * total) acc += std::max(0.0, values(order[kept++]));
    // Alignment removes four degrees of freedom (translation, scale, rotation): the noise
    // variance is the mean of the remaining discarded eigenvalues.
    const int informative = DIM - 4;
    kept = std::min(kept, informative - 1);
    double rest = 0.0;
    for (int k = kept; k < informative; ++k) rest += std::max(0.0, values(order[k]));
    noiseVar_ = rest / (informative - kept);

    modes_.set_size(DIM, kept);
    eig_.set_size(kept);
    for (int k = 0; k < kept; ++k) {
        dlib::set_colm(modes_, k) = dlib::colm(vectors, order[k]);
        eig_(k) = values(order[k]);
    }
    numModes_ = kept;
    return true;
}

bool PointShapeModel::fit(const Shape68& points, const PointMask& known, Shape68& result) const {
    if (!built()) return false;
    std::vector<int> idx;
    for (int i = 0; i < NUM_POINTS; ++i)
        if (known[i]) idx.push_back(i);
    if (idx.size() < 3) return false;

    // Rows of the modes and mean at the known coordinates.
    const long nk = static_cast<long>(2 * idx.size());
    dlib::matrix<double> pk(nk, numModes_);
    dlib::matrix<double, 0, 1> mk(nk);
    for (size_t r = 0; r < idx.size(); ++r) {
        for (int c = 0; c < 2; ++c) {
            dlib::set_rowm(pk, 2 * r + c) = dlib::rowm(modes_, 2 * idx[r] + c);
            mk(2 * r + c) = c == 0 ? mean_[idx[r]].x() : mean_[idx[r]].y();
        }
    }
    // Posterior precision of the weights: PkᵀPk + σ² Λ⁻¹ (fixed across iterations).
    dlib::matrix<double> prec = dlib::trans(pk) * pk;
    for (int k = 0; k < numModes_; ++k) prec(k, k) += noiseVar_ / eig_(k);
    const dlib::matrix<double> precInv = dlib::inv(prec);

    dlib::matrix<double, 0, 1> b = dlib::zeros_matrix<double>(numModes_, 1);
    Shape68 model = mean_;
    Similarity t;
    for (int it = 0; it < FIT_ITERATIONS; ++it) {
        if (!solveSimilarity(model, points, known, t)) return false;
        dlib::matrix<double, 0, 1> xk(nk);
        for (size_t r = 0; r < idx.size(); ++r) {
            const dlib::dpoint q = t.inverse(points[idx[r]]);
            xk(2 * r) = q.x();
            xk(2 * r + 1) = q.y();
        }
        b = precInv * (dlib::trans(pk) * (xk - mk));
        const dlib::matrix<double, 0, 1> full = toVector(mean_) + modes_ * b;
        for (int i = 0; i < NUM_POINTS; ++i) model[i] = dlib::dpoint(full(2 * i), full(2 * i + 1));
    }
    if (!solveSimilarity(model, points, known, t)) return false;
    for (int i = 0; i < NUM_POINTS; ++i) result[i] = t.apply(model[i]);
    return true;
}

}  // namespace labeller
}  // namespace kvo
