#include "DlibLayoutConverter.h"

#include <cmath>
#include <vector>

namespace kvo {
namespace labeller {

namespace {

double length(const dlib::dpoint& p) { return std::sqrt(p.x() * p.x() + p.y() * p.y()); }

// Cumulative arc fractions of a polyline (first 0, last 1).
template <size_t N>
std::array<double, N> arcFractions(const std::array<dlib::dpoint, N>& pts) {
    std::array<double, N> f{};
    for (size_t i = 1; i < N; ++i) f[i] = f[i - 1] + length(pts[i] - pts[i - 1]);
    for (size_t i = 1; i < N; ++i) f[i] /= f[N - 1];
    return f;
}

// One side of dlib's jaw, from the chin outwards, cut at the temple level.
// `chinOut` lists dlib's jaw from the chin (8) to the side's end (0 or 16). `down` is the
// face's unit down vector and `level` the temple's projection on it (pixels).
// Ensures: returns the polyline from the temple point to the chin.
std::vector<dlib::dpoint> jawSide(const std::array<dlib::dpoint, 9>& chinOut, const dlib::dpoint& down,
                                  double level) {
    std::vector<dlib::dpoint> line{chinOut[0]};
    auto depth = [&](const dlib::dpoint& p) { return p.x() * down.x() + p.y() * down.y(); };
    bool cut = false;
    for (int k = 1; k < 9 && !cut; ++k) {
        const double d0 = depth(chinOut[k - 1]), d1 = depth(chinOut[k]);
        if (d1 <= level && d0 > level) {
            const double t = (d0 - level) / (d0 - d1);
            line.push_back(chinOut[k - 1] + t * (chinOut[k] - chinOut[k - 1]));
            cut = true;
        } else {
            line.push_back(chinOut[k]);
        }
    }
    if (!cut) {
        // dlib's jaw ends below the temple level: extend its last segment up to it, by at
        // most one segment length so that an odd last segment cannot run away.
        const dlib::dpoint a = chinOut[7], b = chinOut[8];
        const double rise = depth(a) - depth(b);
        if (rise > 1e-9) {
            const double t = std::min((depth(b) - level) / rise, 1.0);
            if (t > 0) line.back() = b + t * (b - a);
        }
    }
    return std::vector<dlib::dpoint>(line.rbegin(), line.rend());
}

}  // namespace

dlib::dpoint pointAlong(const dlib::dpoint* pts, int n, double f) {
    double total = 0.0;
    for (int i = 1; i < n; ++i) total += length(pts[i] - pts[i - 1]);
    if (n == 1 || total <= 0.0) return pts[0];
    double want = f * total;
    for (int i = 1; i < n; ++i) {
        const double seg = length(pts[i] - pts[i - 1]);
        if (want <= seg || i == n - 1) {
            const double t = seg > 0.0 ? std::min(want / seg, 1.0) : 0.0;
            return pts[i - 1] + t * (pts[i] - pts[i - 1]);
        }
        want -= seg;
    }
    return pts[n - 1];
}

DlibLayoutConverter::DlibLayoutConverter(const PointShapeModel& model) : model_(model) {
    const Shape68& m = model.mean();
    std::array<dlib::dpoint, 8> jaw;
    for (int i = 0; i < 8; ++i) jaw[i] = m[i];
    jawFrac_ = arcFractions(jaw);
    const std::array<dlib::dpoint, 4> brow{m[21], m[22], m[23], m[24]};
    browFrac_ = arcFractions(brow);
    // The model is symmetric: the temple's drop is the same on both sides.
    const dlib::dpoint eyeL = m[27], eyeR = m[32];
    const dlib::dpoint axis = eyeR - eyeL;
    const double eyeDist = length(axis);
    const dlib::dpoint down(-axis.y() / eyeDist, axis.x() / eyeDist);
    const dlib::dpoint mid = 0.5 * (eyeL + eyeR);
    const dlib::dpoint t0 = m[0] - mid, t14 = m[14] - mid;
    templeDrop_ = 0.5 * ((t0.x() * down.x() + t0.y() * down.y()) + (t14.x() * down.x() + t14.y() * down.y())) /
                  eyeDist;
}

void DlibLayoutConverter::directPoints(const Shape68& d, Shape68& o, PointMask& known) const {
    known.fill(false);
    o.fill(dlib::dpoint(0, 0));
    auto set = [&](int i, const dlib::dpoint& p) {
        o[i] = p;
        known[i] = true;
    };
    // The points both layouts define the same way: eye corners, brow ends, nose tip and
    // base centre, the outer lip and the inner lip centres, the chin.
    for (const landmarks::LandmarkPair& p : landmarks::sharedPairs()) set(p.ours, d[p.dlib]);
    // Eye lids: top and bottom as the means of dlib's two lid points.
    set(28, 0.5 * (d[37] + d[38]));
    set(30, 0.5 * (d[40] + d[41]));
    set(33, 0.5 * (d[43] + d[44]));
    set(35, 0.5 * (d[46] + d[47]));

    // Brows: dlib marks the upper edge from end to end; the ends are shared, the upper-edge
    // points in between are read at the mean brow's arc fractions.
    const dlib::dpoint browL[5] = {d[17], d[18], d[19], d[20], d[21]};  // outer -> inner
    const dlib::dpoint browR[5] = {d[26], d[25], d[24], d[23], d[22]};
    for (int k = 1; k < 3; ++k) {
        set(21 + k, pointAlong(browL, 5, browFrac_[k]));
        set(15 + k, pointAlong(browR, 5, browFrac_[k]));
    }

    // Jaw: temple level measured from the outer-eye-corner line, down the face's axis.
    const dlib::dpoint axis = d[45] - d[36];
    const double eyeDist = length(axis);
    if (eyeDist > 0.0) {
        const dlib::dpoint down(-axis.y() / eyeDist, axis.x() / eyeDist);
        const dlib::dpoint mid = 0.5 * (d[36] + d[45]);
        const double level = mid.x() * down.x() + mid.y() * down.y() + templeDrop_ * eyeDist;
        std::array<dlib::dpoint, 9> leftOut, rightOut;
        for (int k = 0; k < 9; ++k) {
            leftOut[k] = d[8 - k];
            rightOut[k] = d[8 + k];
        }
        const std::vector<dlib::dpoint> left = jawSide(leftOut, down, level);    // temple -> chin
        const std::vector<dlib::dpoint> right = jawSide(rightOut, down, level);  // temple -> chin
        for (int k = 0; k < 8; ++k) {
            set(k, pointAlong(left.data(), static_cast<int>(left.size()), jawFrac_[k]));
            set(14 - k, pointAlong(right.data(), static_cast<int>(right.size()), jawFrac_[k]));
        }
    }
    set(7, d[8]);  // the chin, shared; the resampling above lands on it as well

    // Inner lips: the off-centre points of dlib's inner contour without its corners.
    set(65, d[61]);  // upper left
    set(63, d[63]);  // upper right
    set(62, d[65]);  // lower right
    set(60, d[67]);  // lower left
    set(66, 0.5 * (d[62] + d[66]));
}

bool DlibLayoutConverter::convert(const Shape68& d, Shape68& result, PointMask* filled) const {
    Shape68 direct;
    PointMask known;
    directPoints(d, direct, known);
    Shape68 full;
    if (!model_.fit(direct, known, full)) return false;
    for (int i = 0; i < NUM_POINTS; ++i) {
        result[i] = known[i] ? direct[i] : full[i];
        if (filled) (*filled)[i] = !known[i];
    }
    return true;
}

}  // namespace labeller
}  // namespace kvo
