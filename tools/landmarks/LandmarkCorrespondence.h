#pragma once
// The landmarks our 68-point layout and dlib's (iBUG 300-W) 68-point layout define as the
// same anatomical point, and the normalised landmark error measured on them.
//
// What it represents: one table, used by every tool that converts or compares shapes of
// the two layouts (labeller, trainer, track_eval, evaluate, benchmarks), so that their
// figures mean the same thing. "Left" and "right" are as seen in the image in both layouts.
//
// Which pairs are the same point, and why:
// - core (17): the four eye corners, the four brow ends, the nose tip and the nose base
//   centre, the two mouth corners, the outer lip's top and bottom centres, the inner lip's
//   upper and lower centres, and the chin. Each is a point both layouts place by the
//   same anatomical rule.
// - shared (25 = core + 8): the outer lip's other eight points; both layouts mark the
//   outer lip with 12 points in the same order (the Cupid's bow peaks at 50 and 52).
// - not shared: the jaw ends (ours stop at the temple near eye level, dlib's run on to
//   the ear; the labeller cuts dlib's jaw at our temple level), the other jaw points (15
//   against 17 spaced differently), the brows' upper-edge middle points (4 against 3) and
//   ours' lower edge, the eye lids (one point against two), pupils, nose sides, wings and
//   nostrils, dlib's bridge and inner lip corners, and the inner lip's off-centre points
//   (ours mark 3 per lip between no corners, dlib's 3 between two corners).
//
// Shapes are 68 points as x0, y0, x1, y1, ... in pixels (x right, y down).
//
// Thread safety: constant tables and pure functions; safe from any thread.
#include <array>
#include <vector>

namespace kvo {
namespace landmarks {

constexpr int NUM_POINTS = 68;

// Feature groups, in report order.
enum class Group { Chin = 0, Brows, Eyes, Nose, Mouth };
constexpr int NUM_GROUPS = 5;
const char* groupName(Group g);  // "chin", "brows", "eyes", "nose", "mouth"

struct LandmarkPair {
    int ours;   // index in our layout
    int dlib;   // index in dlib's layout
    Group group;
    bool core;  // one of the 17 core points
};

// Every shared point (25), core points first. Ensures: no index repeats on either side.
const std::vector<LandmarkPair>& sharedPairs();

// Which of the pairs a measurement uses.
enum class PointSet { Core, Shared };
constexpr int CORE_COUNT = 17;
constexpr int SHARED_COUNT = 25;

// Outer eye corners in each layout (image-left, image-right): the normalising distance.
constexpr int OURS_LEFT_EYE_OUTER = 27;
constexpr int OURS_RIGHT_EYE_OUTER = 32;
constexpr int DLIB_LEFT_EYE_OUTER = 36;
constexpr int DLIB_RIGHT_EYE_OUTER = 45;

// Which layout a shape is in.
enum class Layout { Ours, Dlib };

// Distance between the outer eye corners of a shape (pixels).
double outerEyeDistance(const double* xy, Layout layout);

struct LandmarkError {
    double mean = 0.0;                        // over the set's points, in outer-eye distances
    std::array<double, NUM_GROUPS> perGroup{};  // mean per group (NaN where the set has none)
};

// Error of `shape` against `reference` on the point set: each point's Euclidean distance
// divided by the reference's outer-eye-corner distance. `reference` is in dlib's layout
// (the hand-placed or dlib-predicted points); `shape` in `shapeLayout`.
// Requires: both point to 136 values; the reference's eye distance is positive (else
// every figure is NaN).
LandmarkError landmarkError(const double* shape, Layout shapeLayout, const double* reference, PointSet set);

// The shared points of a dlib-layout shape written at their places in our layout.
// Ensures: ours[p.ours] = dlib[p.dlib] for every shared pair, known[p.ours] = true; the
// other points untouched and known false.
void dlibToOurs(const double* dlib, double* ours, std::array<bool, NUM_POINTS>& known);

// The shared points of an our-layout shape written at their places in dlib's layout.
void oursToDlib(const double* ours, double* dlib, std::array<bool, NUM_POINTS>& known);

}  // namespace landmarks
}  // namespace kvo
