// Fuzzes the landmark refinement's model loader: the input is the binary model given to
// kvo::parseRefinerModel. A model that parses must write back to the very same bytes,
// and is then run by kvo::LandmarkRefiner::refine on a small textured grey frame from
// two start shapes of the model's landmark count (its mean shape fitted into the frame,
// and the same shape moved mostly off it), and must leave a shape of another landmark
// count untouched. A broken property stops the fuzzer (abort), as a crash does.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "math/ShapeMat.h"
#include "refine/LandmarkRefiner.h"
#include "refine/RefinerModel.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

const std::vector<unsigned char>& frameOnce() {
    static const std::vector<unsigned char> grey = [] {
        std::vector<unsigned char> g(static_cast<size_t>(kWidth) * kHeight);
        for (size_t i = 0; i < g.size(); ++i) g[i] = static_cast<unsigned char>((i * 37) ^ (i / kWidth * 11));
        return g;
    }();
    return grey;
}

// The mean shape scaled to half the frame's height and centred on (cx, cy).
void placeMeanShape(const kvo::RefinerModel& model, double cx, double cy, kvo::ShapeMat& shape) {
    const int n = model.landmarks;
    double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
    for (int i = 0; i < n; ++i) {
        x0 = std::min(x0, double(model.meanShape[2 * i]));
        x1 = std::max(x1, double(model.meanShape[2 * i]));
        y0 = std::min(y0, double(model.meanShape[2 * i + 1]));
        y1 = std::max(y1, double(model.meanShape[2 * i + 1]));
    }
    const double extent = std::max(x1 - x0, y1 - y0);
    const double scale = extent > 0.0 && std::isfinite(extent) ? 0.5 * kHeight / extent : 1.0;
    shape.dim(n, 2);
    for (int i = 0; i < n; ++i) {
        shape.data[i][0] = cx + (model.meanShape[2 * i] - 0.5 * (x0 + x1)) * scale;
        shape.data[i][1] = cy + (model.meanShape[2 * i + 1] - 0.5 * (y0 + y1)) * scale;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvofuzz::silenceStandardOutputOnce();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    kvo::RefinerModel model;
    std::string error;
    if (!kvo::parseRefinerModel(bytes, model, error)) {
        // A refused model leaves nothing behind and says why.
        if (!model.empty() || error.empty()) std::abort();
        return 0;
    }
    // Everything the loader accepts is read in full and consistently.
    if (kvo::serializeRefinerModel(model) != bytes) std::abort();

    static kvo::LandmarkRefiner refiner;  // reloaded per input, as a tracker loads once
    if (!refiner.load(bytes) || !refiner.loaded()) std::abort();
    const std::vector<unsigned char>& grey = frameOnce();
    kvo::ShapeMat shape;
    placeMeanShape(model, 0.5 * kWidth, 0.5 * kHeight, shape);
    refiner.refine(grey.data(), kWidth, kHeight, shape);
    placeMeanShape(model, 1.4 * kWidth, -0.3 * kHeight, shape);
    refiner.refine(grey.data(), kWidth, kHeight, shape);

    // A shape of another landmark count is left as it is.
    kvo::ShapeMat other;
    other.dim(model.landmarks + 1, 2);
    for (int i = 0; i < other.rows; ++i) {
        other.data[i][0] = 10.0 + i;
        other.data[i][1] = 20.0 + i;
    }
    refiner.refine(grey.data(), kWidth, kHeight, other);
    for (int i = 0; i < other.rows; ++i) {
        if (other.data[i][0] != 10.0 + i || other.data[i][1] != 20.0 + i) std::abort();
    }
    return 0;
}
