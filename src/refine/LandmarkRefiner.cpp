#include "refine/LandmarkRefiner.h"

#include <algorithm>
#include <cmath>

#include "refine/ShapeIndexedPixels.h"
#include "util/Trace.h"

namespace kvo {

bool LandmarkRefiner::load(const std::string& bytes) {
    std::string error;
    if (!parseRefinerModel(bytes, model_, error)) {
        Err("LandmarkRefiner: " + error + "; the landmark refinement stays off.");
        current_.clear();
        pixels_.clear();
        sums_.clear();
        return false;
    }
    current_.assign(2 * static_cast<std::size_t>(model_.landmarks), 0.0f);
    // Leaf sums: 2n values, or K coefficients (K <= 2n) on a level with a basis.
    sums_.assign(2 * static_cast<std::size_t>(model_.landmarks), 0);
    pixels_.assign(static_cast<std::size_t>(model_.largestPool()), 0);
    return true;
}

int refinerLeaf(const RefinerModel& model, const RefinerLevel& level, int t, const unsigned char* pixels) {
    const int inner = model.innerNodes();
    const RefinerSplit* splits = &level.splits[static_cast<std::size_t>(t) * inner];
    int node = 0;
    for (int d = 0; d < model.depth; ++d) {
        const RefinerSplit& s = splits[node];
        const int diff = static_cast<int>(pixels[s.a]) - static_cast<int>(pixels[s.b]);
        node = 2 * node + (diff > s.threshold ? 1 : 2);
    }
    return node - inner;
}

void addLevelLeaves(const RefinerModel& model, const RefinerLevel& level, const unsigned char* pixels,
                    std::int32_t* sums) {
    const int values = model.leafWidth(level);
    const std::size_t treeLeaves = static_cast<std::size_t>(model.leavesPerTree()) * values;
    for (int t = 0; t < level.trees; ++t) {
        const int leaf = refinerLeaf(model, level, t, pixels);
        const std::int8_t* inc = &level.leaves[t * treeLeaves + static_cast<std::size_t>(leaf) * values];
        // Integer sums: exact and independent of order, and a loop the compiler vectorises.
        for (int i = 0; i < values; ++i) sums[i] += inc[i];
    }
}

void runRefinerLevel(const RefinerModel& model, const RefinerLevel& level, const unsigned char* grey, int width,
                     int height, float* shape, unsigned char* pixels, std::int32_t* sums) {
    const int n = model.landmarks;
    float a = 1.0f, b = 0.0f;
    similarityFromMean(model.meanShape.data(), shape, n, a, b);
    readPoolPixels(grey, width, height, shape, level.anchors.data(), level.offsets.data(),
                   static_cast<int>(level.anchors.size()), a, b, pixels);
    const int leafWidth = model.leafWidth(level);
    for (int i = 0; i < leafWidth; ++i) sums[i] = 0;
    addLevelLeaves(model, level, pixels, sums);
    const float k = level.leafScale;
    const int K = level.basisSize;
    for (int i = 0; i < n; ++i) {
        float dx, dy;
        if (K == 0) {
            dx = k * static_cast<float>(sums[2 * i]);
            dy = k * static_cast<float>(sums[2 * i + 1]);
        } else {
            const float* bx = &level.basis[static_cast<std::size_t>(2 * i) * K];
            const float* by = bx + K;
            float sx = 0.0f, sy = 0.0f;
            for (int c = 0; c < K; ++c) {
                const float coefficient = static_cast<float>(sums[c]);
                sx += bx[c] * coefficient;
                sy += by[c] * coefficient;
            }
            dx = k * sx;
            dy = k * sy;
        }
        shape[2 * i] += a * dx - b * dy;
        shape[2 * i + 1] += b * dx + a * dy;
    }
}

void LandmarkRefiner::refine(const unsigned char* grey, int width, int height, float* shape, int stopAfter) {
    const int levels = static_cast<int>(model_.levels.size());
    const int last = stopAfter < 0 ? levels : std::min(stopAfter, levels);
    for (int l = 0; l < last; ++l) {
        runRefinerLevel(model_, model_.levels[l], grey, width, height, shape, pixels_.data(), sums_.data());
    }
}

void LandmarkRefiner::refine(const unsigned char* grey, int width, int height, ShapeMat& shape) {
    const int n = model_.landmarks;
    if (!loaded() || grey == nullptr || width <= 0 || height <= 0) return;
    if (shape.rows != n || shape.cols < 2) return;
    for (int i = 0; i < n; ++i) {
        const double x = shape.data[i][0], y = shape.data[i][1];
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        current_[2 * i] = static_cast<float>(x);
        current_[2 * i + 1] = static_cast<float>(y);
    }
    refine(grey, width, height, current_.data());
    for (int i = 0; i < n; ++i) {
        shape.data[i][0] = current_[2 * i];
        shape.data[i][1] = current_[2 * i + 1];
    }
}

}  // namespace kvo
