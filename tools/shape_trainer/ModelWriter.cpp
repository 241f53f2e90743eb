#include "ModelWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/core.hpp>

namespace kvo {
namespace trainer {

void profileModel(const ProfileStats& stats, double ridge, bool diagonalOnly,
                  std::vector<double>& mean, std::vector<double>& inverse) {
    const size_t n = stats.sum.size();
    const double count = static_cast<double>(stats.count);
    mean.assign(n, 0.0);
    for (size_t i = 0; i < n; ++i) mean[i] = stats.sum[i] / count;
    cv::Mat cov(static_cast<int>(n), static_cast<int>(n), CV_64F);
    double trace = 0.0;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i; j < n; ++j) {
            const double v = stats.outer[i * n + j] / count - mean[i] * mean[j];
            cov.at<double>(i, j) = v;
            cov.at<double>(j, i) = v;
            if (i == j) trace += v;
        }
    const double add = ridge * trace / static_cast<double>(n) + 1e-6;
    if (diagonalOnly) {
        inverse.assign(n, 0.0);
        for (size_t i = 0; i < n; ++i) inverse[i] = 1.0 / (cov.at<double>(i, i) + add);
        return;
    }
    for (size_t i = 0; i < n; ++i) cov.at<double>(i, i) += add;
    cv::Mat inv;
    cv::invert(cov, inv, cv::DECOMP_CHOLESKY);
    inverse.assign(n * n, 0.0);
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) {
            // Symmetrise against rounding so the upper triangle the search reads is exact.
            inverse[i * n + j] = 0.5 * (inv.at<double>(i, j) + inv.at<double>(j, i));
        }
}

namespace {

void num(std::string& s, double v, const char* fmt) {
    char buf[64];
    if (v == 0.0) v = 0.0;  // no negative zero
    std::snprintf(buf, sizeof buf, fmt, v);
    s += buf;
}

}  // namespace

std::string writeModelJson(const ShapeModel& shape, const ProfileTrainer& profiles,
                           const ModelWriterOptions& options) {
    const size_t d = shape.mean.size();
    std::string s;
    s.reserve(4 << 20);
    s += "{\n\"AvShape\": [";
    for (size_t i = 0; i < d / 2; ++i) {
        double x = shape.mean[2 * i], y = shape.mean[2 * i + 1];
        if (x == 0.0 && y == 0.0) x = 1e-6;  // (0, 0) would mean "absent"
        s += i ? ",[" : "[";
        num(s, x, "%.6f");
        s += ",";
        num(s, y, "%.6f");
        s += "]";
    }
    s += "],\n\"EigVals\": [";
    for (size_t i = 0; i < d; ++i) {
        s += i ? ",[" : "[";
        num(s, shape.vals[i], "%.9g");
        s += "]";
    }
    s += "],\n\"EigVecs\": [\n";
    for (size_t r = 0; r < d; ++r) {
        s += "[";
        for (size_t c = 0; c < d; ++c) {
            if (c) s += ",";
            num(s, shape.vecs[r][c], "%.9g");
        }
        s += r + 1 < d ? "],\n" : "]\n";
    }
    s += "]";
    const ProfileLayout& layout = profiles.layout();
    for (int lev = 0; lev < kLevels; ++lev) {
        s += ",\n\"Lev_" + std::to_string(lev) + "\": {\n\"ProfSpecs\": [";
        for (int i = 0; i < kLandmarks; ++i) {
            if (i) s += ",";
            s += layout.spec[lev][i].twoD ? "80000000" : "0";
        }
        std::string profs = "\"Profs\": [\n", covars = "\"Covars\": [\n";
        for (int i = 0; i < kLandmarks; ++i) {
            const bool twoD = layout.spec[lev][i].twoD;
            std::vector<double> mean, inv;
            profileModel(profiles.stats(lev, i), twoD ? options.ridge2d : options.ridge1d, twoD, mean, inv);
            if (static_cast<size_t>(i) < options.noEvidence.size() && options.noEvidence[i])
                std::fill(inv.begin(), inv.end(), 0.0);
            profs += "[";
            for (size_t j = 0; j < mean.size(); ++j) {
                if (j) profs += ",";
                num(profs, mean[j], "%.6g");
            }
            profs += i + 1 < kLandmarks ? "],\n" : "]\n";
            covars += "[";
            const size_t n = mean.size();
            if (twoD) {
                covars += "[0,0,-9999]";
                for (size_t j = 0; j < n; ++j) {
                    covars += ",[0,0,";
                    num(covars, inv[j], "%.6g");
                    covars += "]";
                }
            } else {
                for (size_t r = 0; r < n; ++r) {
                    covars += r ? ",[" : "[";
                    for (size_t c = 0; c < n; ++c) {
                        if (c) covars += ",";
                        num(covars, inv[r * n + c], "%.6g");
                    }
                    covars += "]";
                }
            }
            covars += i + 1 < kLandmarks ? "],\n" : "]\n";
        }
        s += "],\n" + profs + "],\n" + covars + "]\n}";
    }
    s += "\n}\n";
    return s;
}

}  // namespace trainer
}  // namespace kvo
