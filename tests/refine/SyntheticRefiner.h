#pragma once
// Test support: small refiner models whose effect can be worked out by hand.
#include <cstdint>
#include <string>

#include "refine/RefinerModel.h"

namespace kvotest {

// A model of `n` landmarks (mean shape: landmark i at (i, i mod 2) in mean-shape units)
// with one level of one depth-1 tree over a two-pixel pool: pixel 0 is read 1 unit left of
// landmark 0, pixel 1 one unit right of it. When pixel 0 is brighter than pixel 1 by more
// than `threshold`, every landmark moves by (+2, 0) leaf steps, otherwise by (0, -1); a
// step is `scale` mean-shape units.
inline kvo::RefinerModel twoPixelModel(int n = 3, std::int16_t threshold = 10, float scale = 0.5f) {
    kvo::RefinerModel m;
    m.landmarks = n;
    m.depth = 1;
    for (int i = 0; i < n; ++i) {
        m.meanShape.push_back(static_cast<float>(i));
        m.meanShape.push_back(static_cast<float>(i % 2));
    }
    kvo::RefinerLevel level;
    level.leafScale = scale;
    level.anchors = {0, 0};
    level.offsets = {-1.0f, 0.0f, 1.0f, 0.0f};
    level.trees = 1;
    level.splits.push_back(kvo::RefinerSplit{0, 1, threshold});
    for (int i = 0; i < n; ++i) {  // leaf 0: child 2k + 1, the brighter-left side
        level.leaves.push_back(2);
        level.leaves.push_back(0);
    }
    for (int i = 0; i < n; ++i) {  // leaf 1
        level.leaves.push_back(0);
        level.leaves.push_back(-1);
    }
    m.levels.push_back(level);
    return m;
}

// The same model with its leaves on a one-vector basis that moves every landmark along x:
// leaf 0 holds coefficient 4 (+2 mean-shape units with the scale 0.5), leaf 1 holds -2.
inline kvo::RefinerModel twoPixelBasisModel(int n = 3) {
    kvo::RefinerModel m = twoPixelModel(n);
    kvo::RefinerLevel& level = m.levels[0];
    level.basisSize = 1;
    level.basis.clear();
    for (int i = 0; i < n; ++i) {
        level.basis.push_back(1.0f);  // x
        level.basis.push_back(0.0f);  // y
    }
    level.leaves = {4, -2};
    return m;
}

}  // namespace kvotest
