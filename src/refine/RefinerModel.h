#pragma once
// The learned landmark refinement's model: a cascade of regression-tree ensembles.
//
// What it represents: the read-only data the refinement runs on, as parsed from its binary
// form. Each cascade level holds a pool of pixel positions, each fixed relative to one
// landmark of the mean shape (an offset in mean-shape units), and a list of trees of one
// depth. A tree's inner nodes compare the grey values of two pool pixels against a
// threshold; its leaves hold 8-bit shape increments that the level's scale turns into
// mean-shape units. The mean shape fixes the frame the offsets and increments are
// expressed in: the current shape's similarity transform from the mean shape carries
// them into image pixels.
//
// Binary form (little-endian throughout; what the trainer writes and parseRefinerModel
// reads):
//   "KVRF", u32 version (1), u32 landmarks n (1..255), u32 levels L (1..64),
//   u32 depth D (1..8); f32 mean shape, 2n values (x0, y0, x1, y1, ...);
//   then per level: f32 leaf scale (finite, > 0), u32 pool size P (1..65535),
//   P x (u16 anchor landmark, f32 dx, f32 dy), u32 basis size K (0..2n),
//   K > 0: 2n x K f32 basis (row v holds value v's K coefficients' weights),
//   u32 trees T (0..100000),
//   T x ((2^D - 1) x (u16 pixel a, u16 pixel b, i16 threshold),
//        2^D x W x i8 increment), W = 2n when K = 0, else K.
// A level with a basis stores each leaf as K coefficients: its increment in mean-shape
// units is basis x (scale x coefficients), which keeps a long cascade small.
// Inner node k has children 2k + 1 (grey[a] - grey[b] > threshold) and 2k + 2
// (otherwise); the leaves follow the 2^D - 1 inner nodes in that numbering.
//
// Thread safety: a parsed model is immutable; any number of threads may read it.
#include <cstdint>
#include <string>
#include <vector>

namespace kvo {

struct RefinerSplit {
    std::uint16_t a = 0;         // pool pixel read first
    std::uint16_t b = 0;         // pool pixel subtracted
    std::int16_t threshold = 0;  // grey levels: go to child 2k + 1 when grey[a] - grey[b] > it
};

struct RefinerLevel {
    float leafScale = 1.0f;                // mean-shape units per leaf step
    std::vector<std::uint16_t> anchors;    // P: landmark each pool pixel follows
    std::vector<float> offsets;            // 2P: dx, dy in mean-shape units
    int basisSize = 0;                     // K: 0, or coefficients per leaf
    std::vector<float> basis;              // 2n x K, row-major
    std::vector<RefinerSplit> splits;      // T x (2^D - 1)
    std::vector<std::int8_t> leaves;       // T x 2^D x W
    int trees = 0;
};

struct RefinerModel {
    static constexpr std::uint32_t VERSION = 1;
    static constexpr int MAX_LANDMARKS = 255;
    static constexpr int MAX_LEVELS = 64;
    static constexpr int MAX_DEPTH = 8;
    static constexpr int MAX_POOL = 65535;
    static constexpr int MAX_TREES = 100000;

    int landmarks = 0;
    int depth = 0;
    std::vector<float> meanShape;  // 2n, mean-shape units
    std::vector<RefinerLevel> levels;

    // True once a model has been parsed into this object.
    bool empty() const { return levels.empty(); }
    int innerNodes() const { return (1 << depth) - 1; }
    int leavesPerTree() const { return 1 << depth; }
    // Values one leaf of `level` holds: K with a basis, else 2n.
    int leafWidth(const RefinerLevel& level) const { return level.basisSize > 0 ? level.basisSize : 2 * landmarks; }
    // Largest pool over the levels (the refiner's pixel scratch).
    int largestPool() const;
};

// Parses the binary form above into `model`.
// Ensures: true with `model` filled when `bytes` is a complete, consistent model (every
// count within its limit, every anchor below n, every pool index below P, every float
// finite, nothing left over); otherwise false with `error` saying what is wrong first and
// `model` emptied. Never reads past `bytes`' end; throws nothing but std::bad_alloc.
bool parseRefinerModel(const std::string& bytes, RefinerModel& model, std::string& error);

// The binary form of `model` (the trainer's writer; parseRefinerModel reads it back).
// Requires: a model within the limits above.
std::string serializeRefinerModel(const RefinerModel& model);

}  // namespace kvo
