#pragma once
// A small, valid shape-model document for tests.
//
// What it represents: a 68-landmark face model in the JSON form that
// kvo::ASMModel::readASM reads: a mean shape in the local search frame (x right, y up,
// level-0 pixels, centred on the origin, 180 pixels wide), five hand-made deformation
// modes completed to an orthonormal 136 x 136 eigenvector basis with decreasing
// eigenvalues, and per level one simple profile model per landmark (1-D step-edge
// profiles; optionally 2-D blob profiles for the two pupils on level 2). Distance
// matrices alternate between the compact and the full form. The mean shape satisfies
// every correction rule (jaw ends on the eye-corner line, jaw points 2/12 on the
// nose-base line and 3/11 on the mouth-corner line, ordered lips, brows above eyes)
// and the search's strict layout checks.
//
// Thread safety: pure functions.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kvo {
namespace test {

struct TinyShapeModelOptions {
    int numLevels = 4;             // level objects "Lev_0" ... written
    int profileLength = 9;         // values of each 1-D profile
    bool pupils2dOnLevel2 = true;  // landmarks 31 and 36 get 5 x 5 2-D profiles on level 2
};

// The 68 mean-shape points (x, y), local frame, y up, centred on the origin.
inline std::vector<std::pair<double, double> > tinyMeanShape() {
    static const double pts[68][2] = {
        {-90, 30},  {-89, 5},   {-86, -20}, {-78, -55}, {-66, -80}, {-48, -100}, {-26, -112},
        {0, -118},  {26, -112}, {48, -100}, {66, -80},  {78, -55},  {86, -20},   {89, 5},
        {90, 30},   // jaw 0-14
        {75, 48},   {62, 56},   {40, 58},   {20, 50},   {36, 50},   {58, 48},    // brow 15-20
        {-75, 48},  {-62, 56},  {-40, 58},  {-20, 50},  {-36, 50},  {-58, 48},   // brow 21-26
        {-65, 30},  {-45, 38},  {-25, 30},  {-45, 22},  {-45, 30},               // eye 27-31
        {65, 30},   {45, 38},   {25, 30},   {45, 22},   {45, 30},                // eye 32-36
        {-10, 25},  {-14, 0},   {-20, -15}, {-15, -20}, {0, -24},   {15, -20},   {20, -15},
        {14, 0},    {10, 25},   {-8, -18},  {8, -18},                            // nose 37-47
        {-30, -55}, {-18, -48}, {-7, -45},  {0, -46},   {7, -45},   {18, -48},   {30, -55},
        {18, -64},  {8, -68},   {0, -70},   {-8, -68},  {-18, -64},              // outer lips 48-59
        {-12, -59}, {0, -60},   {12, -59},  {12, -53},  {0, -52},   {-12, -53},  {0, -56},
        {0, -10},   // inner lips 60-66, nose tip 67
    };
    // The points span y = -118 ... 58; shift so the shape's centre is the origin.
    std::vector<std::pair<double, double> > out;
    for (const auto& p : pts) out.emplace_back(p[0], p[1] + 30.0);
    return out;
}

namespace detail {

inline void appendNumber(std::string& s, double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    s += buf;
}

inline void appendRow(std::string& s, const std::vector<double>& row) {
    s += '[';
    for (size_t j = 0; j < row.size(); ++j) {
        if (j) s += ',';
        appendNumber(s, row[j]);
    }
    s += ']';
}

// Five deformation modes on disjoint coordinate sets of the shape vector
// (x0, y0, x1, y1, ...): {coordinate index, weight} pairs.
inline std::vector<std::vector<std::pair<int, double> > > modes() {
    auto X = [](int i) { return 2 * i; };
    auto Y = [](int i) { return 2 * i + 1; };
    std::vector<std::vector<std::pair<int, double> > > m(5);
    // 0: mouth opening - lower lip, inner lower lip and chin move down.
    for (int i : {55, 56, 57, 58, 59, 60, 61, 62}) m[0].push_back({Y(i), -1.0});
    for (int i : {5, 6, 7, 8, 9}) m[0].push_back({Y(i), -0.6});
    // 1: brows raised.
    for (int i = 15; i <= 26; ++i) m[1].push_back({Y(i), 1.0});
    // 2: wider jaw - jaw x moves outward (left side negative).
    for (int i = 0; i <= 14; ++i) {
        if (i != 7) m[2].push_back({X(i), i < 7 ? -1.0 : 1.0});
    }
    // 3: smile - mouth corners up and out.
    m[3] = {{X(48), -1.0}, {Y(48), 1.0}, {X(54), 1.0}, {Y(54), 1.0}};
    // 4: eyes opening - lids apart.
    m[4] = {{Y(28), 1.0}, {Y(30), -1.0}, {Y(33), 1.0}, {Y(35), -1.0}};
    return m;
}

// 136 x 136 orthonormal basis, one eigenvector per column: the five modes first,
// then, per mode, a Householder completion of its support, then unit vectors of
// the coordinates no mode touches.
inline std::vector<std::vector<double> > eigenvectors() {
    const int d = 136;
    std::vector<std::vector<double> > cols;
    std::vector<std::vector<double> > rest;
    std::vector<bool> used(d, false);
    for (const auto& mode : modes()) {
        const size_t s = mode.size();
        double norm = 0.0;
        for (const auto& e : mode) norm += e.second * e.second;
        norm = std::sqrt(norm);
        std::vector<double> u(s);
        for (size_t k = 0; k < s; ++k) u[k] = mode[k].second / norm;
        // H = I - 2 v v^T / (v^T v) with v = u - e0 maps e0 to u; its other columns
        // are orthonormal and orthogonal to u.
        std::vector<double> v(u);
        v[0] -= 1.0;
        double vv = 0.0;
        for (double x : v) vv += x * x;
        for (size_t c = 0; c < s; ++c) {
            std::vector<double> col(d, 0.0);
            for (size_t r = 0; r < s; ++r) {
                const double h = (r == c ? 1.0 : 0.0) - (vv > 0.0 ? 2.0 * v[r] * v[c] / vv : 0.0);
                col[mode[r].first] = h;
            }
            (c == 0 ? cols : rest).push_back(col);
        }
        for (const auto& e : mode) used[e.first] = true;
    }
    for (int k = 0; k < d; ++k) {
        if (used[k]) continue;
        std::vector<double> col(d, 0.0);
        col[k] = 1.0;
        rest.push_back(col);
    }
    for (auto& c : rest) cols.push_back(c);
    std::vector<std::vector<double> > rows(d, std::vector<double>(d, 0.0));
    for (int c = 0; c < d; ++c) {
        for (int r = 0; r < d; ++r) rows[r][c] = cols[c][r];
    }
    return rows;
}

// Eigenvalues (pixels squared), largest first.
inline std::vector<double> eigenvalues() {
    std::vector<double> v = {60.0, 40.0, 25.0, 15.0, 8.0};
    double x = 4.0;
    while (v.size() < 136) {
        v.push_back(x);
        x *= 0.95;
    }
    return v;
}

}  // namespace detail

// The model document as JSON text.
inline std::string tinyShapeModelJson(const TinyShapeModelOptions& opt = TinyShapeModelOptions()) {
    using detail::appendNumber;
    using detail::appendRow;
    std::string s = "{\"EigVecs\":[";
    const auto vecs = detail::eigenvectors();
    for (size_t r = 0; r < vecs.size(); ++r) {
        if (r) s += ',';
        appendRow(s, vecs[r]);
    }
    s += "],\"EigVals\":[";
    const auto vals = detail::eigenvalues();
    for (size_t i = 0; i < vals.size(); ++i) {
        if (i) s += ',';
        appendRow(s, {vals[i]});
    }
    s += "],\"AvShape\":[";
    const auto mean = tinyMeanShape();
    for (size_t i = 0; i < mean.size(); ++i) {
        if (i) s += ',';
        appendRow(s, {mean[i].first, mean[i].second});
    }
    s += ']';

    // 1-D: the derivative of a step edge, normalised to a mean magnitude of 1.
    const int L = opt.profileLength;
    std::vector<double> prof1d(L, 0.0);
    prof1d[L / 2] = 4.0;
    if (L > 2) prof1d[L / 2 - 1] = prof1d[L / 2 + 1] = 1.0;
    double sum = 0.0;
    for (double v : prof1d) sum += v;
    for (double& v : prof1d) v *= L / sum;
    // 2-D: a blob of gradient magnitude after the equalisation of the matcher
    // (values of the order of 1 / (0.1 * sigmoidScale)).
    const int side = 5;
    std::vector<double> prof2d;
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            const double dr = r - side / 2, dc = c - side / 2;
            prof2d.push_back(0.02 * std::exp(-(dr * dr + dc * dc) / 2.0));
        }
    }

    for (int lev = 0; lev < opt.numLevels; ++lev) {
        s += ",\"Lev_" + std::to_string(lev) + "\":{\"ProfSpecs\":[";
        std::vector<bool> is2d(68, false);
        if (opt.pupils2dOnLevel2 && lev == 2) is2d[31] = is2d[36] = true;
        for (int i = 0; i < 68; ++i) {
            if (i) s += ',';
            s += is2d[i] ? "80000000" : "0";
        }
        s += "],\"Profs\":[";
        for (int i = 0; i < 68; ++i) {
            if (i) s += ',';
            appendRow(s, is2d[i] ? prof2d : prof1d);
        }
        s += "],\"Covars\":[";
        for (int i = 0; i < 68; ++i) {
            if (i) s += ',';
            const int len = is2d[i] ? side * side : L;
            s += '[';
            if (is2d[i] || i % 2 == 0) {
                // Compact form: the marker row, then one weight per profile value.
                s += "[0,0,-9999]";
                for (int k = 0; k < len; ++k) s += ",[0,0,1]";
            } else {
                // Full form: identity with a weak coupling of neighbouring values.
                for (int r = 0; r < len; ++r) {
                    std::vector<double> row(len, 0.0);
                    row[r] = 1.0;
                    if (r + 1 < len) row[r + 1] = 0.25;
                    if (r > 0) row[r - 1] = 0.25;
                    if (r) s += ',';
                    appendRow(s, row);
                }
            }
            s += ']';
        }
        s += "]}";
    }
    s += '}';
    return s;
}

}  // namespace test
}  // namespace kvo
