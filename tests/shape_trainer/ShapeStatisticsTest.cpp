// The shape statistics: similarity fit, Procrustes mean and principal components of the
// MUCT shapes, model placement, and the mirror augmentation's landmark partners.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "Augment.h"
#include "MuctShapes.h"
#include "ShapeStatistics.h"
#include "SyntheticFace.h"
#include "asm/FaceLandmarks.h"

using namespace kvo::trainer;

namespace {

std::vector<ShapeVec> muct(int limit) {
    return readMuctShapes(std::string(KVO_MUCT_SHAPES), limit);
}

}  // namespace

TEST(ShapeStatistics, SimilarityFitRecoversAKnownTransform) {
    ShapeVec a = muct(1).at(0);
    ShapeVec b = a;
    const double t[4] = {0.8 * std::cos(0.3), 0.8 * std::sin(0.3), 12.5, -40.0};
    applySimilarity(b, t);
    double fit[4];
    similarityFit(a, b, fit);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(fit[k], t[k], 1e-9) << k;
}

TEST(ShapeStatistics, ModelIsCentredOrthonormalAndSorted) {
    std::vector<ShapeVec> shapes = muct(300);
    ASSERT_EQ(shapes.size(), 300u);
    ShapeModel m = buildShapeModel(shapes, 5);
    ASSERT_EQ(m.mean.size(), 136u);
    double cx = 0, cy = 0, norm = 0;
    for (int i = 0; i < 68; ++i) {
        cx += m.mean[2 * i];
        cy += m.mean[2 * i + 1];
        norm += m.mean[2 * i] * m.mean[2 * i] + m.mean[2 * i + 1] * m.mean[2 * i + 1];
    }
    EXPECT_NEAR(cx, 0.0, 1e-9);
    EXPECT_NEAR(cy, 0.0, 1e-9);
    EXPECT_NEAR(norm, 1.0, 1e-9);
    // Upright face in the y-up frame: brows above the chin.
    EXPECT_GT(m.mean[2 * 17 + 1], m.mean[2 * 7 + 1]);
    for (size_t j = 1; j < m.vals.size(); ++j) EXPECT_LE(m.vals[j], m.vals[j - 1] + 1e-15) << j;
    for (int a = 0; a < 136; a += 17)
        for (int b = 0; b < 136; b += 13) {
            double dot = 0;
            for (int r = 0; r < 136; ++r) dot += m.vecs[r][a] * m.vecs[r][b];
            EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-9) << a << "," << b;
        }
    // The aligned shapes are spread mostly along the first components.
    double first = 0, total = 0;
    for (size_t j = 0; j < m.vals.size(); ++j) {
        total += m.vals[j];
        if (j < 11) first += m.vals[j];
    }
    EXPECT_GT(first / total, 0.7);
}

TEST(ShapeStatistics, PlacementScalesEigenvaluesBySquare) {
    std::vector<ShapeVec> shapes = muct(50);
    ShapeModel m = buildShapeModel(shapes, 3);
    const ShapeModel before = m;
    placeModel(m, 200.0, 3.0, -7.0);
    EXPECT_NEAR(m.vals[0], before.vals[0] * 40000.0, 1e-9 * m.vals[0]);
    EXPECT_NEAR(m.mean[10], before.mean[10] * 200.0 + 3.0, 1e-9);
    EXPECT_NEAR(m.mean[11], before.mean[11] * 200.0 - 7.0, 1e-9);
}

TEST(ShapeStatistics, WeightsCountAsRepeatsAndZeroLeavesAShapeOut) {
    const std::vector<ShapeVec> base = muct(60);
    // The first 20 shapes with weight 3 and the rest with 1 against the first 20 written
    // three times.
    std::vector<ShapeVec> weighted = base, repeated = base;
    std::vector<double> w(base.size(), 1.0);
    for (size_t k = 0; k < 20; ++k) {
        w[k] = 3.0;
        repeated.push_back(base[k]);
        repeated.push_back(base[k]);
    }
    const ShapeModel a = buildShapeModel(weighted, 6, w);
    const ShapeModel b = buildShapeModel(repeated, 6);
    // Eigenvalues agree up to the covariance's divisor (weight sum - 1 against count - 1:
    // both 99 here).
    for (int j = 0; j < 5; ++j) EXPECT_NEAR(a.vals[j], b.vals[j], 1e-9 * b.vals[0]) << j;
    for (size_t k = 0; k < 136; ++k) EXPECT_NEAR(a.mean[k], b.mean[k], 1e-9) << k;
    // And it differs from the unweighted model.
    std::vector<ShapeVec> plain = base;
    const ShapeModel c = buildShapeModel(plain, 6);
    EXPECT_GT(std::fabs(c.vals[0] - a.vals[0]), 1e-4 * a.vals[0]);
    // Weight 0 on the last 30 shapes: the model of the first 30 alone.
    std::vector<ShapeVec> all = base, first(base.begin(), base.begin() + 30);
    std::vector<double> half(base.size(), 1.0);
    for (size_t k = 30; k < base.size(); ++k) half[k] = 0.0;
    const ShapeModel d = buildShapeModel(all, 6, half);
    const ShapeModel e = buildShapeModel(first, 6);
    for (int j = 0; j < 5; ++j) EXPECT_NEAR(d.vals[j], e.vals[j], 1e-9 * e.vals[0]) << j;
    for (size_t k = 0; k < 136; ++k) EXPECT_NEAR(d.mean[k], e.mean[k], 1e-9) << k;
}

TEST(Augment, MirrorPartnersMatchMuctMirroredRows) {
    if (kvo::FaceLandmarks::gLandTab.empty()) kvo::FaceLandmarks::initGLandTab();
    const std::vector<int> partner = mirrorPartners();
    for (int i = 0; i < 68; ++i) EXPECT_EQ(partner[partner[i]], i) << i;
    // Mirroring a drawn face and its landmarks twice gives both back.
    const ShapeVec p = kvotest::muctFace(0.5, 20, 0);
    const cv::Mat img = kvotest::drawFace(p, 320, 330);
    Variation v;
    v.mirror = true;
    cv::Mat once, twice;
    ShapeVec p1, p2;
    applyVariation(img, p, v, once, p1);
    applyVariation(once, p1, v, twice, p2);
    for (size_t k = 0; k < p.size(); ++k) EXPECT_NEAR(p2[k], p[k], 1e-9) << k;
    // After one mirror, the left eye's outer corner takes the right one's place.
    EXPECT_LT(p1[2 * 27], p1[2 * 32]);
    EXPECT_LT(p1[2 * 21], p1[2 * 15]);
}

TEST(Augment, MirrorMatchesTheMuctMirrorRows) {
    // Row 2 of the file (i000qa-fn's mirror "ir000qa-fn") is the mirror of row 1 with
    // partners swapped: check our partner table against it.
    std::ifstream in(std::string(KVO_MUCT_SHAPES));
    std::string line, orig, mirr, name;
    std::getline(in, line);
    std::map<std::string, std::string> rows;
    while (std::getline(in, line) && true) rows[line.substr(0, line.find(','))] = line;
    auto parse = [](const std::string& l) {
        std::vector<double> v;
        std::stringstream ss(l);
        std::string cell;
        int k = 0;
        while (std::getline(ss, cell, ',')) if (k++ >= 2) v.push_back(std::atof(cell.c_str()));
        return v;
    };
    if (kvo::FaceLandmarks::gLandTab.empty()) kvo::FaceLandmarks::initGLandTab();
    const std::vector<int> partner = mirrorPartners();
    int compared = 0;
    std::vector<double> err(68, 0.0);
    for (const auto& kv : rows) {
        if (kv.first.rfind("ir", 0) == 0) continue;
        auto it = rows.find("ir" + kv.first.substr(1));
        if (it == rows.end()) continue;
        const std::vector<double> a = parse(kv.second), b = parse(it->second);
        bool complete = true;
        for (int i = 0; i < 68; ++i) complete &= !(a[2 * i] == 0 && a[2 * i + 1] == 0) && !(b[2 * i] == 0 && b[2 * i + 1] == 0);
        if (!complete) continue;
        // The mirrored rows are marked on the mirrored photograph, so they agree with
        // the original only to within marking noise; a wrong partner would be off by
        // the width of a feature (tens of pixels).
        const double c = a[2 * 7] + b[2 * partner[7]];  // 2 x the mirror axis
        for (int i = 0; i < 68; ++i) {
            err[i] += std::fabs(a[2 * i] + b[2 * partner[i]] - c) + std::fabs(a[2 * i + 1] - b[2 * partner[i] + 1]);
        }
        if (++compared == 20) break;
    }
    EXPECT_EQ(compared, 20);
    for (int i = 0; i < 68; ++i) EXPECT_LT(err[i] / compared, 12.0) << "landmark " << i;
}
