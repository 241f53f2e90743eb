// Placement, alignment, model constraint, validity and worker split of the shape search.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <sstream>

#include "SearchFixture.h"
#include "util/ParkedWorkers.h"

namespace kvo {
namespace {

using test::SearchFixture;

// Least-squares similarity from `from` to `to` (closed form); returns the largest
// residual in pixels.
double similarityResidual(const ShapeMat& from, const ShapeMat& to) {
    const int n = from.rows;
    double mx = 0, my = 0, nx = 0, ny = 0;
    for (int i = 0; i < n; ++i) {
        mx += from.data[i][0];
        my += from.data[i][1];
        nx += to.data[i][0];
        ny += to.data[i][1];
    }
    mx /= n, my /= n, nx /= n, ny /= n;
    double sxx = 0, c1 = 0, c2 = 0;
    for (int i = 0; i < n; ++i) {
        const double x = from.data[i][0] - mx, y = from.data[i][1] - my;
        const double u = to.data[i][0] - nx, v = to.data[i][1] - ny;
        sxx += x * x + y * y;
        c1 += x * u + y * v;
        c2 += x * v - y * u;
    }
    const double a = c1 / sxx, b = c2 / sxx;
    double worst = 0;
    for (int i = 0; i < n; ++i) {
        const double x = from.data[i][0] - mx, y = from.data[i][1] - my;
        const double u = a * x - b * y + nx, v = b * x + a * y + ny;
        worst = std::max(worst, std::hypot(u - to.data[i][0], v - to.data[i][1]));
    }
    return worst;
}

double centreX(const ShapeMat& s) { return s.colMinElem(0) + 0.5 * s.shapeWidth(); }
double centreY(const ShapeMat& s) { return s.colMinElem(1) + 0.5 * s.shapeHeight(); }

TEST_F(SearchFixture, InitialStateComesFromTheModel) {
    load();
    EXPECT_EQ(search.shape.rows, 68);
    EXPECT_EQ(search.meanCol.rows, 136);
    EXPECT_EQ(search.b.rows, 136);
    EXPECT_TRUE(search.inStartPhase);
    EXPECT_EQ(search.frameCount, 0);
    EXPECT_DOUBLE_EQ(search.validRegion.x, 30);
    EXPECT_DOUBLE_EQ(search.validRegion.y, 30);
    EXPECT_DOUBLE_EQ(search.validRegion.width, 580);
    EXPECT_DOUBLE_EQ(search.validRegion.height, 420);
    EXPECT_EQ(search.minFaceSize, 50.0);
    EXPECT_EQ(search.maxFaceSize, 500.0);
    EXPECT_EQ(search.strictValidation, 1);
    EXPECT_TRUE(search.stabilizerEnabled && search.correctionEnabled && search.candideEnabled &&
                search.candideActionUnitsEnabled);
    for (int i = 0; i < 68; ++i) {
        EXPECT_EQ(search.globalShape.data[i][0], search.model.meanShape.data[i][0]);
        EXPECT_EQ(search.globalShape.data[i][1], search.model.meanShape.data[i][1]);
    }
}

TEST_F(SearchFixture, WorkersSplitTheLandmarksIntoContiguousRanges) {
    load();
    ASSERT_EQ(search.threadArgs.size(), 2u);
    EXPECT_EQ(search.threadArgs[0].first, 0);
    EXPECT_EQ(search.threadArgs[0].last, 34);
    EXPECT_EQ(search.threadArgs[1].first, 34);
    EXPECT_EQ(search.threadArgs[1].last, 68);
    EXPECT_NE(search.threadArgs[0].profiles, search.threadArgs[1].profiles);

    search.numThreads = 3;
    search.initSearchState();
    ASSERT_EQ(search.threadArgs.size(), 3u);
    EXPECT_EQ(search.threadArgs[1].first, 22);
    EXPECT_EQ(search.threadArgs[1].last, 44);
    EXPECT_EQ(search.threadArgs[2].first, 44);
    EXPECT_EQ(search.threadArgs[2].last, 68);  // the last worker takes the remainder
}

TEST_F(SearchFixture, PrepareShapeCentresTheScaledMeanShapeInTheFace) {
    load();
    search.prepareShape(Rectangle(100, 100, 180, 180));
    EXPECT_EQ(search.scale, 1.0);
    EXPECT_EQ(search.frameCount, 0);
    EXPECT_TRUE(search.inStartPhase);
    // The face centre (190, 190), moved 0.05 * 90 right and 0.25 * 90 down, plus the
    // half pixel of the mapping.
    EXPECT_NEAR(centreX(search.globalShape), 195.0, 1e-9);
    EXPECT_NEAR(centreY(search.globalShape), 213.0, 1e-9);
    for (int i = 0; i < 68; ++i) {
        EXPECT_NEAR(search.shape.data[i][0], 0.85 * search.model.meanShape.data[i][0], 1e-9);
        EXPECT_NEAR(search.shape.data[i][1], 0.85 * search.model.meanShape.data[i][1], 1e-9);
    }
    EXPECT_NEAR(search.globalShape.shapeWidth(), 0.85 * 180.0, 1e-9);
}

TEST_F(SearchFixture, PrepareMatrixKeepsImagePositionsAndNormalisesTheWidth) {
    load();
    search.prepareShape(Rectangle(200, 120, 240, 240));
    ShapeMat before;
    before.copyFrom(search.globalShape);
    const Matrix& m = search.prepareMatrix();
    const double w = search.shape.shapeWidth(), h = search.shape.shapeHeight();
    EXPECT_NEAR(w, (1 - (h / w - 1) * (h / w - 1)) * 180.0, 1e-9);
    EXPECT_NEAR(centreX(search.shape), 0.0, 1e-9);
    EXPECT_NEAR(centreY(search.shape), 0.0, 1e-9);
    search.updateGlobalShape(search.globalShape, search.shape);
    for (int i = 0; i < 68; ++i) {
        EXPECT_NEAR(search.globalShape.data[i][0], before.data[i][0], 1e-9);
        EXPECT_NEAR(search.globalShape.data[i][1], before.data[i][1], 1e-9);
        // The matrix maps the image position to the search-frame pixel (x + 240, 240 - y).
        EXPECT_NEAR(m.a * before.data[i][0] + m.tx, search.shape.data[i][0] + 240.0, 0.5 + 1e-9);
        EXPECT_NEAR(m.d * before.data[i][1] + m.ty, 240.0 - search.shape.data[i][1], 0.5 + 1e-9);
    }
    EXPECT_EQ(m.b, 0.0);
    EXPECT_EQ(m.c, 0.0);
}

TEST_F(SearchFixture, AlignShapeRecoversASimilarity) {
    load();
    ShapeMat src, target;
    src.copyFrom(search.model.meanShape);
    target.copyFrom(src);
    const double a = 1.3 * std::cos(0.2), b = 1.3 * std::sin(0.2);
    for (int i = 0; i < target.rows; ++i) {
        const double x = src.data[i][0], y = src.data[i][1];
        target.data[i][0] = a * x - b * y + 12.0;
        target.data[i][1] = b * x + a * y - 7.0;
    }
    target.data[5] = {0.0, 0.0};  // absent in the target: ignored by the fit
    const NumberMat& t = search.AlignShape(src, target);
    EXPECT_NEAR(t.data[0][0], a, 1e-12);
    EXPECT_NEAR(t.data[1][0], b, 1e-12);
    EXPECT_NEAR(t.data[0][1], -b, 1e-12);
    EXPECT_NEAR(t.data[0][2], 12.0, 1e-9);
    EXPECT_NEAR(t.data[1][2], -7.0, 1e-9);
    EXPECT_EQ(t.data[2][2], 1.0);
    for (int i = 0; i < src.rows; ++i) {
        if (i == 5) continue;
        EXPECT_NEAR(src.data[i][0], target.data[i][0], 1e-9);
        EXPECT_NEAR(src.data[i][1], target.data[i][1], 1e-9);
    }
}

TEST_F(SearchFixture, AlignShapeLeavesAbsentPointsAndDegenerateInputsAlone) {
    load();
    ShapeMat src, target;
    src.dim(4, 2);
    target.dim(4, 2);
    src.data = {{0, 0}, {1, 1}, {1, 1}, {1, 1}};  // one absent point, three equal ones
    target.data = {{5, 5}, {2, 3}, {4, 1}, {7, 7}};
    const NumberMat& t = search.AlignShape(src, target);
    EXPECT_EQ(t.data[0][0], 1.0);
    EXPECT_EQ(t.data[0][2], 0.0);
    EXPECT_EQ(src.data[1][0], 1.0);
    EXPECT_EQ(src.data[0][0], 0.0);

    // Distinct points but a collapsed target: no invertible similarity exists.
    src.data = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    target.data = {{3, 3}, {3, 3}, {3, 3}, {3, 3}};
    search.AlignShape(src, target);
    EXPECT_EQ(src.data[0][0], 1.0);
    EXPECT_EQ(src.data[1][1], 1.0);

    // With a transform, a point at (0, 0) in the source is not moved.
    src.data = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    target.data = {{9, 9}, {3, 0}, {2, 1}, {3, 1}};
    search.AlignShape(src, target);
    EXPECT_EQ(src.data[0][0], 0.0);
    EXPECT_EQ(src.data[0][1], 0.0);
    EXPECT_NEAR(src.data[1][0], 3.0, 1e-9);
}

TEST_F(SearchFixture, ConformKeepsModelDeformationsAndDropsTheRest) {
    load();
    ASMLevel& level = *search.model.levels[2];
    // A suggestion = a similarity of (mean + 2 * first eigenvector), level 2 scale.
    ShapeMat suggested;
    suggested.copyFrom(level.meanShape);
    for (int i = 0; i < 68; ++i) {
        suggested.data[i][0] += 2.0 * search.model.eigVecs.data[2 * i][0];
        suggested.data[i][1] += 2.0 * search.model.eigVecs.data[2 * i + 1][0];
    }
    ShapeMat expected;
    expected.copyFrom(suggested);
    for (int i = 0; i < 68; ++i) {
        const double x = suggested.data[i][0], y = suggested.data[i][1];
        suggested.data[i][0] = 0.9 * x - 0.1 * y + 3.0;
        suggested.data[i][1] = 0.1 * x + 0.9 * y - 2.0;
    }
    ShapeMat target;
    target.copyFrom(suggested);

    // All eigenvectors in use: repeated constraint (as the search iterates) converges to
    // the deformation, which the model can express exactly.
    search.eigFraction = 1.0;
    NumberMat b(136, 1, true);
    ShapeMat work;
    const ShapeMat* result = nullptr;
    for (int iter = 0; iter < 50; ++iter) {
        work.copyFrom(target);
        result = &search.ConformShapeToModel(b, work, level, search.model.eigVecs,
                                             search.model.eigVecsT, false);
    }
    const ShapeMat& kept = *result;
    for (int i = 0; i < 68; ++i) {
        EXPECT_NEAR(kept.data[i][0], target.data[i][0], 1e-6);
        EXPECT_NEAR(kept.data[i][1], target.data[i][1], 1e-6);
    }
    EXPECT_NEAR(b.data[0][0], 2.0, 1e-6);

    search.eigFraction = 0.0;  // none in use: the result is the aligned mean shape
    b.dim(136, 1);
    work.copyFrom(target);
    const ShapeMat& mean = search.ConformShapeToModel(b, work, level, search.model.eigVecs,
                                                      search.model.eigVecsT, true);
    EXPECT_LT(similarityResidual(level.meanShape, mean), 1e-9);
    for (int i = 0; i < 136; ++i) EXPECT_EQ(b.data[i][0], 0.0);
}

TEST_F(SearchFixture, ConformLimitsParametersToTheirRange) {
    load();
    ASMLevel& level = *search.model.levels[2];
    ShapeMat suggested;
    suggested.copyFrom(level.meanShape);
    const double amplitude = 50.0;  // far beyond the limit of the first mode
    for (int i = 0; i < 68; ++i) {
        suggested.data[i][0] += amplitude * search.model.eigVecs.data[2 * i][0];
        suggested.data[i][1] += amplitude * search.model.eigVecs.data[2 * i + 1][0];
    }
    search.eigFraction = 1.0;
    NumberMat b(136, 1, true);
    search.ConformShapeToModel(b, suggested, level, search.model.eigVecs, search.model.eigVecsT,
                               false);
    const double limit = std::sqrt(level.eigVals.data[0][0]) * level.BMax;
    EXPECT_NEAR(b.data[0][0], limit, 1e-9);
    EXPECT_LT(limit, amplitude);
}

TEST_F(SearchFixture, FirstThreeSearchesGiveTheAlignedMeanShape) {
    load();
    search.correctionEnabled = false;
    search.candideEnabled = false;
    // Any texture will do: the first searches use no eigenvectors at all.
    for (size_t i = 0; i < input.pixels.size(); ++i) {
        input.pixels[i] = static_cast<uint8_t>((i * 7919u) % 251u);
    }
    search.prepareShape(Rectangle(220, 140, 200, 200));
    for (int frame = 1; frame <= 3; ++frame) {
        search.doSearch();
        EXPECT_EQ(search.frameCount, frame);
        EXPECT_TRUE(search.inStartPhase);
        EXPECT_LT(similarityResidual(search.model.meanShape, search.shape), 1e-6) << frame;
    }
    search.doSearch();
    search.doSearch();
    EXPECT_FALSE(search.inStartPhase);  // the fifth search ends the start phase
    EXPECT_NEAR(search.eigFraction, 0.25, 1e-15);
}

TEST_F(SearchFixture, ValidityChecksSizeCentreAndLayout) {
    load();
    search.candideEnabled = false;
    search.globalShape.copyFrom(meanInImage(1.0, 320, 240));
    EXPECT_TRUE(search.isValid());

    search.globalShape.copyFrom(meanInImage(600.0 / 180.0, 320, 240));  // wider than 500
    EXPECT_FALSE(search.isValid());
    search.globalShape.copyFrom(meanInImage(45.0 / 180.0, 320, 240));  // narrower than 50
    EXPECT_FALSE(search.isValid());
    search.globalShape.copyFrom(meanInImage(1.0, 20, 240));  // centre left of validRegion
    EXPECT_FALSE(search.isValid());

    // Width / height 0.7: invalid under the layout checks, fine without them.
    ShapeMat tall = meanInImage(1.0, 320, 240);
    const double h = tall.shapeHeight(), w = tall.shapeWidth();
    const double k = w / (0.7 * h);
    for (int i = 0; i < 68; ++i) tall.data[i][1] = 240 + (tall.data[i][1] - 240) * k;
    search.globalShape.copyFrom(tall);
    EXPECT_FALSE(search.isValid());
    search.strictValidation = 0;
    EXPECT_TRUE(search.isValid());
    search.strictValidation = 1;

    // An eye moved into the mouth breaks the layout.
    ShapeMat moved = meanInImage(1.0, 320, 240);
    moved.data[31] = moved.data[66];
    search.globalShape.copyFrom(moved);
    EXPECT_FALSE(search.isValid());

    ShapeMat broken = meanInImage(1.0, 320, 240);
    broken.data[3][0] = std::numeric_limits<double>::quiet_NaN();
    search.globalShape.copyFrom(broken);
    EXPECT_FALSE(search.isValid());
}

TEST_F(SearchFixture, ValidityConsultsTheCandidePoseAfterTheStartPhase) {
    load();
    search.globalShape.copyFrom(meanInImage(1.0, 320, 240));
    search.inStartPhase = false;
    search.candideEnabled = true;
    if (!search.candide.model.isUsable()) GTEST_SKIP() << "no Candide model available";
    std::vector<double>& pose = search.candide.model.transformParams;
    pose = {150.0, 320.0, 240.0, 0.0, 0.0, 0.0};
    EXPECT_TRUE(search.isValid());
    pose[3] = 25.0 * ASMSearch::TO_RADIAN;  // head pitched beyond 20 degrees
    EXPECT_FALSE(search.isValid());
    search.inStartPhase = true;  // not consulted during the start phase
    EXPECT_TRUE(search.isValid());
    search.inStartPhase = false;
    search.candideEnabled = false;
    EXPECT_TRUE(search.isValid());
}

TEST_F(SearchFixture, AnEmptyModelLeavesTheSearchInactive) {
    manager.init(&input, &roi);
    manager.initASM();
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    search.initSearchState();
    std::cout.rdbuf(old);
    EXPECT_FALSE(search.isActive());
    EXPECT_NE(captured.str().find("Error: ASMSearch: no shape model is loaded"), std::string::npos);
    search.prepareShape(Rectangle(100, 100, 180, 180));
    ShapeMat& result = search.doSearch();
    EXPECT_EQ(result.rows, 0);
    EXPECT_EQ(search.frameCount, 0);
    EXPECT_FALSE(search.isValid());
}

// The matching of a pass gives the same suggested shape bit for bit whether its two
// landmark ranges run on the calling thread or one on a parked worker.
TEST_F(SearchFixture, MatchingOnTheCallerOrAParkedWorkerGivesTheSameShape) {
    load();
    ParkedWorkers workers;
    ASSERT_EQ(workers.start(1), 1);
    search.prepareShape(Rectangle(220, 130, 200, 200));
    search.doSearch();
    ASMLevel& level = *search.model.levels[2];
    search.workers = nullptr;
    search.matchProfiles(level);
    ShapeMat alone;
    alone.copyFrom(search.suggestedShape);
    search.workers = &workers;
    search.parallelMinWork = 0;  // split whatever the size
    for (int i = 0; i < search.suggestedShape.rows; ++i) search.suggestedShape.data[i] = {0.0, 0.0};
    search.matchProfiles(level);
    EXPECT_EQ(workers.lastParked(), 1);
    for (int i = 0; i < alone.rows; ++i) {
        EXPECT_EQ(search.suggestedShape.data[i][0], alone.data[i][0]) << i;
        EXPECT_EQ(search.suggestedShape.data[i][1], alone.data[i][1]) << i;
    }
    search.parallelMinWork = INT64_MAX;  // below the size: on the caller
    search.matchProfiles(level);
    EXPECT_EQ(workers.lastParked(), 1);  // unchanged: no run was handed over
}

// Gradient images are built only for levels whose profiles are 2-D: the test model has
// 2-D pupils on level 2 only, so levels 0 and 1 keep what they held.
TEST_F(SearchFixture, GradientImagesOnlyForLevelsWith2dProfiles) {
    load();
    EXPECT_FALSE(search.levelReadsGradient(0));
    EXPECT_FALSE(search.levelReadsGradient(1));
    EXPECT_TRUE(search.levelReadsGradient(2));
    for (int k = 0; k < 3; ++k) {
        ImageDataInt& g = manager.asmGradient[k];
        for (uint32_t i = 0; i < g.width * g.height; ++i) g.data[i] = 12345;
    }
    for (size_t i = 0; i < input.pixels.size(); ++i) input.pixels[i] = static_cast<uint8_t>(i * 7);
    search.prepareShape(Rectangle(220, 130, 200, 200));
    search.doSearch();
    EXPECT_EQ(manager.asmGradient[0].data[100], 12345);
    EXPECT_EQ(manager.asmGradient[1].data[100], 12345);
    int untouched = 0;
    const ImageDataInt& g2 = manager.asmGradient[2];
    for (uint32_t i = 0; i < g2.width * (g2.height - 1); ++i) untouched += g2.data[i] == 12345;
    EXPECT_EQ(untouched, 0);

    test::TinyShapeModelOptions oneD;
    oneD.pupils2dOnLevel2 = false;
    ASMSearch plain(manager);
    const std::string text = test::tinyShapeModelJson(oneD);
    plain.model.readASM(text.c_str(), plain.config, manager, false);
    plain.initSearchState();
    ASSERT_TRUE(plain.isActive());
    for (int k = 0; k < 4; ++k) EXPECT_FALSE(plain.levelReadsGradient(k)) << k;
}

}  // namespace
}  // namespace kvo
