#pragma once
// The learned landmark refinement: moves a fitted shape to where a cascade of regression
// trees, trained on hand-placed faces, puts its landmarks.
//
// What it represents: a loaded RefinerModel and the scratch its per-frame pass needs. One
// pass starts from the shape it is given (the shape search's result, image pixels, x right,
// y down) and runs the cascade's levels in order: each level fits the similarity of the
// current shape to the mean shape, reads its pixel pool there in the grey frame, walks
// every tree on those pixels, sums the trees' 8-bit leaf increments exactly in integers,
// and adds the sum, scaled and carried into the image by the similarity, to the shape.
// The result depends only on the frame and the start shape: it runs on the calling thread
// and needs no state from earlier frames.
//
// Lifecycle: construct empty; load() once (at the tracker's init); then refine() per frame.
// A model that does not load leaves the refiner unloaded, and refine() then does nothing.
//
// Thread safety: none; refine() writes the refiner's scratch. Use one refiner per thread.
#include <cstdint>
#include <string>
#include <vector>

#include "math/ShapeMat.h"
#include "refine/RefinerModel.h"

namespace kvo {

class LandmarkRefiner {
public:
    // Parses `bytes` (RefinerModel's binary form) and sizes the scratch for it.
    // Ensures: true and loaded() when the model is sound; otherwise false, one "Error: "
    // line naming the fault, and the refiner unloaded (also when it held a model before).
    bool load(const std::string& bytes);

    bool loaded() const { return !model_.empty(); }
    const RefinerModel& model() const { return model_; }

    // Refines `shape` in place.
    // Requires: `grey` holds `width` x `height` bytes, rows back to back; `shape` is in
    // that frame's pixels. Ensures: with a model loaded and `shape` of the model's
    // landmark count and two columns, every landmark moved by the cascade; otherwise (no
    // model, another landmark count, no pixels, a shape with a non-finite coordinate)
    // `shape` is left as it is. Allocates nothing.
    void refine(const unsigned char* grey, int width, int height, ShapeMat& shape);

    // The same on a shape held as 2n floats (x0, y0, ...), for the trainer; `stopAfter`
    // levels at most (all when negative).
    void refine(const unsigned char* grey, int width, int height, float* shape, int stopAfter = -1);

private:
    RefinerModel model_;
    std::vector<float> current_;          // 2n
    std::vector<unsigned char> pixels_;   // the largest pool
    std::vector<std::int32_t> sums_;      // 2n leaf steps of one level
};

// Adds the leaf of every tree of `level` that `pixels` reach into `sums` (the level's leaf
// width of integers, not cleared first). Shared with the trainer, which evaluates trees the same way.
void addLevelLeaves(const RefinerModel& model, const RefinerLevel& level, const unsigned char* pixels,
                    std::int32_t* sums);

// One cascade level on `shape` (2n floats, frame pixels), as refine() runs it: the
// similarity to the mean shape, the pool pixels read into `pixels` (the level's pool size),
// the leaf sums in `sums` (2n at least), the shape moved. Shared with the trainer, so the shapes it
// trains the next level on are the ones the runtime produces.
void runRefinerLevel(const RefinerModel& model, const RefinerLevel& level, const unsigned char* grey, int width,
                     int height, float* shape, unsigned char* pixels, std::int32_t* sums);

// The leaf index (0 .. 2^depth - 1) of tree `t` of `level` for `pixels`.
int refinerLeaf(const RefinerModel& model, const RefinerLevel& level, int t, const unsigned char* pixels);

}  // namespace kvo
