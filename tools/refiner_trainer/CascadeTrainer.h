#pragma once
// Trains the refinement's cascade of regression-tree ensembles (gradient boosting of
// shape-indexed pixel-difference trees, after Kazemi & Sullivan) on a SampleSet.
//
// What it represents: the settings of one training run and the run itself. Each level
// draws a pool of pixel positions around the mean shape (each anchored to its nearest
// mean landmark), reads them in every sample's frame at its current shape, and fits trees
// one after another to the residuals (target minus current shape in mean-shape units):
// each node tries random pixel pairs (favouring near pairs) with thresholds taken from a
// sample's own difference, keeps the split that explains most of the residuals, and each
// leaf stores the shrunk mean residual of its samples, quantised to 8 bits at the level's
// scale; the residuals are updated by the quantised leaves, so later trees correct the
// rounding of earlier ones. After a level the samples' shapes are moved by the library's
// own level pass, so the next level trains on the shapes the runtime produces.
//
// Deterministic: a seed gives the same model byte for byte, whatever the thread count
// (each thread sums a fixed share of the samples and the shares are added in order).
//
// Thread safety: train() starts and joins its own threads; nothing is shared between calls.
#include <cstdint>
#include <functional>
#include <string>

#include "TrainingStarts.h"
#include "refine/RefinerModel.h"

namespace kvo {
namespace refiner {

struct CascadeSettings {
    int levels = 6;
    int trees = 100;          // per level
    int depth = 4;
    int pool = 400;           // pixels per level
    int splits = 20;          // candidate splits per node
    double shrinkage = 0.1;   // nu
    double lambda = 1.5;      // prior on a pair's distance, per outer-eye distance
    double padding = 0.1;     // pool region beyond the mean shape's box, share of its size
    int basis = 0;            // leaf coefficients on a per-level basis; 0: 136 values a leaf
    int threads = 2;
    std::uint64_t seed = 7;
};

// Called after each level with the level index and the samples' current shapes.
using LevelReport = std::function<void(int level, const RefinerModel& model)>;

// Requires: a non-empty sample set. Ensures: a model of settings.levels levels.
RefinerModel trainCascade(const SampleSet& samples, const CascadeSettings& settings, const LevelReport& report);

// The mean of the targets after similarity alignment, centred, with an outer-eye distance
// (points 27 to 32) of 1.
std::vector<float> meanShapeOf(const SampleSet& samples);

}  // namespace refiner
}  // namespace kvo
