// End to end: a face-like frame rendered from a known shape; the search, started from a
// displaced detection, must move the shape onto it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SearchFixture.h"
#include "asm/FaceLandmarks.h"

namespace kvo {
namespace {

using test::SearchFixture;

// Even-odd point-in-polygon test over the landmarks `idx` of `s`.
bool inside(const ShapeMat& s, const std::vector<int>& idx, double x, double y) {
    bool in = false;
    for (size_t a = 0, b = idx.size() - 1; a < idx.size(); b = a++) {
        const double xa = s.data[idx[a]][0], ya = s.data[idx[a]][1];
        const double xb = s.data[idx[b]][0], yb = s.data[idx[b]][1];
        if ((ya > y) != (yb > y) && x < (xb - xa) * (y - ya) / (yb - ya) + xa) in = !in;
    }
    return in;
}

std::vector<int> range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
}

double meanError(const ShapeMat& a, const ShapeMat& b) {
    double sum = 0.0;
    for (int i = 0; i < a.rows; ++i) {
        sum += std::hypot(a.data[i][0] - b.data[i][0], a.data[i][1] - b.data[i][1]);
    }
    return sum / a.rows;
}

class SyntheticFace : public SearchFixture {
protected:
    void SetUp() override {
        test::TinyShapeModelOptions options;
        options.pupils2dOnLevel2 = false;
        load(options);
        search.candideEnabled = false;

        // The true shape: the mean with one standard deviation of the first mode, 1.1 times
        // the model size, centred in the frame (image frame, y down).
        const double sd = std::sqrt(search.model.levels[0]->eigVals.data[0][0]);
        truth.copyFrom(search.model.meanShape);
        for (int i = 0; i < 68; ++i) {
            const double x = truth.data[i][0] + sd * search.model.eigVecs.data[2 * i][0];
            const double y = truth.data[i][1] + sd * search.model.eigVecs.data[2 * i + 1][0];
            truth.data[i][0] = 320.0 + 1.1 * x;
            truth.data[i][1] = 240.0 - 1.1 * y;
        }
        render();
        train();
    }

    // Skin on a dark background, dark eyes and brows, a lighter nose, lips and mouth
    // opening, softened by two 3 x 3 box blurs.
    void render() {
        std::vector<int> face = range(0, 14);
        for (int i : {15, 16, 17, 18, 24, 23, 22, 21}) face.push_back(i);
        const struct {
            std::vector<int> polygon;
            int grey;
        } parts[] = {{face, 180},          {range(15, 20), 70}, {range(21, 26), 70},
                     {range(27, 30), 40},  {range(32, 35), 40}, {range(37, 45), 140},
                     {range(48, 59), 100}, {range(60, 65), 30}};
        std::vector<uint8_t>& px = input.pixels;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                int grey = 50;
                for (const auto& part : parts) {
                    if (inside(truth, part.polygon, x + 0.5, y + 0.5)) grey = part.grey;
                }
                px[y * 640 + x] = static_cast<uint8_t>(grey);
            }
        }
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<uint8_t> src = px;
            for (int y = 1; y < 479; ++y) {
                for (int x = 1; x < 639; ++x) {
                    int sum = 0;
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) sum += src[(y + dy) * 640 + x + dx];
                    }
                    px[y * 640 + x] = static_cast<uint8_t>(sum / 9);
                }
            }
        }
    }

    // Profile means sampled from the frame at the true shape on the searched levels, with
    // the matcher itself (no search range, zero mean: the working profile is the sample).
    void train() {
        search.prepareShape(Rectangle(230, 150, 180, 180));
        for (int i = 0; i < 68; ++i) {
            search.shape.data[i][0] = (truth.data[i][0] - 240.5 - search.offsetX) * search.scale;
            search.shape.data[i][1] = -(truth.data[i][1] - 240.5 - search.offsetY) * search.scale;
        }
        manager.updateASMPyramid(search.prepareMatrix());
        for (int lev = 2; lev <= 3; ++lev) {
            ASMLevel& level = *search.model.levels[lev];
            ShapeMat scaled;
            scaled.copyFrom(search.shape);
            scaled.multiplyByScalar(1.0 / (1 << lev));
            ShapeMat out;
            out.copyFrom(scaled);
            for (auto& m : level.profMeans) m.assign(m.size(), 0.0);
            Profiles profiles;
            SearchThreadArgs args;
            args.suggested = &out;
            args.shape = &scaled;
            args.level = &level;
            args.landmarks = &FaceLandmarks::gLandTab;
            args.nPixSearch = 0;
            args.useLandmarkNeighbours = search.config.useLandmarkNeighbours;
            args.first = 0;
            args.last = 68;
            args.profiles = &profiles;
            ASMSearch::GetSuggestedShape_thread(&args);
            for (int i = 0; i < 68; ++i) level.profMeans[i] = level.profWork[i];
        }
    }

    ShapeMat truth;
};

TEST_F(SyntheticFace, SearchConvergesOntoTheRenderedShape) {
    // A detection 8 pixels right of and 6 above the face, about 5 % too small.
    search.prepareShape(Rectangle(216, 101, 200, 200));
    const double before = meanError(search.globalShape, truth);
    ASSERT_GT(before, 8.0);
    for (int frame = 0; frame < 12; ++frame) search.doSearch();
    const double after = meanError(search.globalShape, truth);
    // The finest level searched is level 2: one of its pixels is 4 image pixels here.
    EXPECT_LT(after, 4.0) << "mean landmark error before " << before;
    EXPECT_LT(after, 0.4 * before);
    EXPECT_FALSE(search.inStartPhase);
    EXPECT_TRUE(search.isValid());
}

TEST_F(SyntheticFace, SearchStaysOnTheShapeOnceThere) {
    search.prepareShape(Rectangle(216, 101, 200, 200));
    for (int frame = 0; frame < 12; ++frame) search.doSearch();
    const double settled = meanError(search.globalShape, truth);
    for (int frame = 0; frame < 10; ++frame) search.doSearch();
    EXPECT_LT(meanError(search.globalShape, truth), std::max(4.0, settled + 1.0));
}

}  // namespace
}  // namespace kvo
