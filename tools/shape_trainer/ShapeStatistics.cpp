#include "ShapeStatistics.h"

#include <cmath>

#include <opencv2/core.hpp>

namespace kvo {
namespace trainer {

void similarityFit(const ShapeVec& src, const ShapeVec& dst, double t[4]) {
    const size_t n = src.size() / 2;
    double sx = 0, sy = 0, dx = 0, dy = 0;
    for (size_t i = 0; i < n; ++i) {
        sx += src[2 * i]; sy += src[2 * i + 1];
        dx += dst[2 * i]; dy += dst[2 * i + 1];
    }
    sx /= n; sy /= n; dx /= n; dy /= n;
    double sxx = 0, c1 = 0, c2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = src[2 * i] - sx, y = src[2 * i + 1] - sy;
        const double u = dst[2 * i] - dx, v = dst[2 * i + 1] - dy;
        sxx += x * x + y * y;
        c1 += x * u + y * v;
        c2 += x * v - y * u;
    }
    const double a = sxx > 0 ? c1 / sxx : 1.0;
    const double b = sxx > 0 ? c2 / sxx : 0.0;
    t[0] = a;
    t[1] = b;
    t[2] = dx - (a * sx - b * sy);
    t[3] = dy - (b * sx + a * sy);
}

void applySimilarity(ShapeVec& s, const double t[4]) {
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        const double x = s[i], y = s[i + 1];
        s[i] = t[0] * x - t[1] * y + t[2];
        s[i + 1] = t[1] * x + t[0] * y + t[3];
    }
}

namespace {

// Centres on the origin and scales to unit norm.
void normalise(ShapeVec& s) {
    const size_t n = s.size() / 2;
    double cx = 0, cy = 0;
    for (size_t i = 0; i < n; ++i) { cx += s[2 * i]; cy += s[2 * i + 1]; }
    cx /= n; cy /= n;
    double norm = 0;
    for (size_t i = 0; i < n; ++i) {
        s[2 * i] -= cx; s[2 * i + 1] -= cy;
        norm += s[2 * i] * s[2 * i] + s[2 * i + 1] * s[2 * i + 1];
    }
    norm = std::sqrt(norm);
    if (norm > 0) for (double& v : s) v /= norm;
}

}  // namespace

ShapeModel buildShapeModel(std::vector<ShapeVec>& shapes, int iterations, const std::vector<double>& weights) {
    ShapeModel model;
    const size_t d = shapes.front().size();
    const std::vector<double> w = weights.empty() ? std::vector<double>(shapes.size(), 1.0) : weights;
    double total = 0.0;
    for (double v : w) total += v;
    ShapeVec reference = shapes.front();
    normalise(reference);
    ShapeVec mean = reference;
    double t[4];
    for (int it = 0; it < iterations; ++it) {
        for (ShapeVec& s : shapes) {
            similarityFit(s, mean, t);
            applySimilarity(s, t);
        }
        ShapeVec next(d, 0.0);
        for (size_t j = 0; j < shapes.size(); ++j)
            for (size_t k = 0; k < d; ++k) next[k] += w[j] * shapes[j][k];
        for (double& v : next) v /= total;
        // Keep the mean's pose tied to the reference so it cannot drift or shrink.
        similarityFit(next, reference, t);
        applySimilarity(next, t);
        normalise(next);
        mean = next;
    }
    for (ShapeVec& s : shapes) {
        similarityFit(s, mean, t);
        applySimilarity(s, t);
    }
    cv::Mat cov = cv::Mat::zeros(static_cast<int>(d), static_cast<int>(d), CV_64F);
    std::vector<double> diff(d);
    for (size_t j = 0; j < shapes.size(); ++j) {
        if (w[j] == 0.0) continue;
        for (size_t k = 0; k < d; ++k) diff[k] = shapes[j][k] - mean[k];
        for (size_t r = 0; r < d; ++r) {
            double* row = cov.ptr<double>(static_cast<int>(r));
            const double wr = w[j] * diff[r];
            for (size_t c = r; c < d; ++c) row[c] += wr * diff[c];
        }
    }
    for (size_t r = 0; r < d; ++r)
        for (size_t c = r; c < d; ++c) {
            const double v = cov.at<double>(r, c) / (total - 1.0);
            cov.at<double>(r, c) = v;
            cov.at<double>(c, r) = v;
        }
    cv::Mat vals, vecs;  // vecs: one eigenvector per row, largest eigenvalue first
    cv::eigen(cov, vals, vecs);
    model.mean = mean;
    model.vals.resize(d);
    model.vecs.assign(d, std::vector<double>(d, 0.0));
    for (size_t j = 0; j < d; ++j) {
        model.vals[j] = std::max(0.0, vals.at<double>(static_cast<int>(j)));
        size_t big = 0;
        for (size_t r = 0; r < d; ++r)
            if (std::fabs(vecs.at<double>(j, r)) > std::fabs(vecs.at<double>(j, big)) + 1e-12) big = r;
        const double sign = vecs.at<double>(j, big) < 0 ? -1.0 : 1.0;
        for (size_t r = 0; r < d; ++r) model.vecs[r][j] = sign * vecs.at<double>(j, r);
    }
    return model;
}

void placeModel(ShapeModel& model, double s, double tx, double ty) {
    for (size_t i = 0; i + 1 < model.mean.size(); i += 2) {
        model.mean[i] = s * model.mean[i] + tx;
        model.mean[i + 1] = s * model.mean[i + 1] + ty;
    }
    for (double& v : model.vals) v *= s * s;
}

}  // namespace trainer
}  // namespace kvo
