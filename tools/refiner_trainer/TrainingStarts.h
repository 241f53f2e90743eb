#pragma once
// The refinement's training samples: 300-W faces framed as the tracker meets them, the
// shape search's own results on them as starting shapes, and the hand-placed targets.
//
// What it represents: for every training face, a few framings (the face scaled to a random
// width, turned by a small random angle, some mirrored), each tracked from perturbed eye
// positions by the tracker in this process (refinement off: kvo_updateByEyes' search and
// five updates, as a still is tracked), giving one start shape; each start is also copied
// with small similarity jitter. Targets are the hand-placed points in our layout (the
// labeller's conversion), moved with the framing.
//
// Shapes are 68 points as x0, y0, ... in frame pixels (x right, y down), floats.
//
// Thread safety: collectStarts runs one tracker on the calling thread; the result is a
// plain value.
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "Faces300W.h"

namespace kvo {
namespace refiner {

constexpr int LANDMARKS = 68;
constexpr int VALUES = 2 * LANDMARKS;

// A small deterministic generator (splitmix64), so a seed gives the same samples on any
// standard library.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    double uniform();                        // [0, 1)
    double uniform(double lo, double hi);    // [lo, hi)
    double normal();                         // standard normal (Box-Muller)
    int below(int n);                        // 0 .. n - 1
private:
    std::uint64_t state_;
};

struct StartSettings {
    int framingsPerFace = 2;     // framings of each face (every second one mirrored)
    int jitterCopies = 1;        // jittered copies of each start
    double minWidth = 110;       // face width (points' x-extent) in the frame, pixels
    double maxWidth = 220;
    double maxAngle = 10;        // degrees, framing rotation
    double eyeShift = 0.05;      // eye start perturbation, outer-eye distances (sd)
    double jitterShift = 0.03;   // jitter translation, outer-eye distances (sd)
    double jitterScale = 0.03;   // jitter scale (sd)
    double jitterAngle = 3;      // jitter rotation, degrees (sd)
    int frameSide = 400;         // square frame, pixels
    // Faces labelled by dlib's predictor in our layout (a labels file of the shape trainer,
    // made by scripts/make_labels.sh; franck never), with `labelFramings` framings each.
    std::string labels, media;
    int labelFramings = 1;
    std::uint64_t seed = 1;
};

struct SampleSet {
    std::vector<cv::Mat> images;       // grey frames (library conversion)
    std::vector<int> image;            // per sample: its frame
    std::vector<float> start;          // per sample: VALUES
    std::vector<float> target;         // per sample: VALUES
    int size() const { return static_cast<int>(image.size()); }
};

// Our layout's left-right mirror: point i of a mirrored face is point mirrorIndex(i).
int mirrorIndex(int i);

// Builds the training samples from the non-validation faces of `faces` (folder `dir`) and
// the labelled faces of the settings.
// Faces whose picture cannot be read, or whose points do not convert, are skipped and
// counted in `skipped`; a start the tracker loses is dropped and counted in `lost`.
SampleSet collectStarts(const std::string& dir, const std::vector<trainer::Face300W>& faces,
                        const trainer::Converter300W& converter, const StartSettings& s, int& skipped, int& lost);

// Writes `set` and `validation`-free sample data to `path` / reads it back, tagged with
// `key` (the settings that made it): a cached set saves the tracking of every start when
// only the cascade's settings change. load returns false when the file is absent, cut
// short or made with another key.
bool saveSamples(const std::string& path, const std::string& key, const SampleSet& set);
bool loadSamples(const std::string& path, const std::string& key, SampleSet& set);

// One validation face framed as the evaluation frames it (points 160 px wide, centred in a
// 400 x 400 frame), with the search's start shape from the hand-placed eye centres and
// its hand-placed points (dlib's layout, for scoring) and converted targets.
struct ValidationFace {
    cv::Mat grey;
    std::vector<float> start;     // VALUES; empty when the tracker lost the face
    std::vector<double> dlib;     // 136, framed
    std::vector<float> target;    // VALUES, our layout
};
std::vector<ValidationFace> collectValidation(const std::string& dir, const std::vector<trainer::Face300W>& faces,
                                              const trainer::Converter300W& converter);

}  // namespace refiner
}  // namespace kvo
