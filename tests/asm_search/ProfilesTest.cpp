// Profile routines and the profile-matching worker on hand-made levels and images.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "asm/ASMLevel.h"
#include "asm/ASMSearch.h"
#include "asm/FaceLandmarks.h"
#include "asm/Profiles.h"
#include "asm/SearchThreadArgs.h"
#include "image/ImageData.h"

namespace kvo {
namespace {

std::shared_ptr<NumberMat> identity(int n) {
    auto m = std::make_shared<NumberMat>(n, n, true);
    for (int i = 0; i < n; ++i) m->data[i][i] = 1.0;
    return m;
}

ShapeMat makeShape(const std::vector<std::pair<double, double> >& pts) {
    ShapeMat s;
    s.dim(static_cast<int>(pts.size()), 2);
    for (size_t i = 0; i < pts.size(); ++i) {
        s.data[i][0] = pts[i].first;
        s.data[i][1] = pts[i].second;
    }
    return s;
}

TEST(CalcProfile, CompactFormWeighsSquaredDifferencesAndKeepsThem) {
    NumberMat covar(1, 3, true);
    covar.data[0] = {-9999.0, 2.5, 4.0};
    std::vector<double> mean = {1.0, 2.0};
    std::vector<double> prof = {2.0, 4.0};
    EXPECT_DOUBLE_EQ(Profiles::CalcProfile(mean, prof, covar), 1.0 * 2.5 + 4.0 * 4.0);
    EXPECT_DOUBLE_EQ(prof[0], 1.0);  // overwritten by prof - mean
    EXPECT_DOUBLE_EQ(prof[1], 2.0);
}

TEST(CalcProfile, FullFormUsesDiagonalAndUpperTriangleOnly) {
    NumberMat covar(2, 2, true);
    covar.data[0] = {2.0, 1.0};
    covar.data[1] = {100.0, 3.0};  // the lower triangle must be ignored
    std::vector<double> mean = {0.0, 0.0};
    std::vector<double> prof = {1.0, 2.0};
    EXPECT_DOUBLE_EQ(Profiles::CalcProfile(mean, prof, covar), 2.0 * 1 + 3.0 * 4 + 2.0 * 1.0 * 2);
}

TEST(CalcProfile, MatricesShorterThanTheProfileAreNotOverrun) {
    NumberMat compact(1, 2, true);
    compact.data[0] = {-9999.0, 3.0};
    std::vector<double> mean = {0.0};
    std::vector<double> prof = {2.0, 5.0, 7.0};
    EXPECT_DOUBLE_EQ(Profiles::CalcProfile(mean, prof, compact), 12.0);
    EXPECT_DOUBLE_EQ(prof[1], 5.0);  // no mean value there: unchanged
    NumberMat full(1 + 1, 2, true);
    full.data[0] = {1.0, 0.0};
    full.data[1] = {0.0, 1.0};
    std::vector<double> prof3 = {1.0, 1.0, 9.0};
    EXPECT_DOUBLE_EQ(Profiles::CalcProfile(std::vector<double>{0, 0, 0}, prof3, full), 2.0);
}

TEST(GetBisector, StraightCornerAndFoldedOutlines) {
    Profiles p;
    std::vector<double> a = {-1, 0}, o = {0, 0}, c = {1, 0}, up = {0, 1};
    std::vector<double>& d = p.GetBisector(a, o, c);
    EXPECT_NEAR(d[0], 0.0, 1e-15);
    EXPECT_NEAR(d[1], -1.0, 1e-15);
    p.GetBisector(a, o, up);  // right-angle corner: the normals (0,-1) and (1,0) average
    EXPECT_NEAR(p.d[0], std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(p.d[1], -std::sqrt(0.5), 1e-15);
    p.GetBisector(a, o, a);  // the outline folds back: the incoming direction is used
    EXPECT_NEAR(p.d[0], 1.0, 1e-15);
    EXPECT_NEAR(p.d[1], 0.0, 1e-15);
}

TEST(GetProfStepSize, LargerComponentIsOneStep) {
    Profiles p;
    ShapeMat s = makeShape({{-2, 0}, {0, 0}, {2, 1}});
    const double* step = p.GetProfStepSize(0, 0, s, 1, FaceLandmarks::gLandTab, false);
    // Normals (0,-1) and (1,-2)/sqrt(5): their sum (0.447, -1.894) scaled to |y| = 1.
    EXPECT_NEAR(step[0], (1 / std::sqrt(5.0)) / (1 + 2 / std::sqrt(5.0)), 1e-12);
    EXPECT_DOUBLE_EQ(step[1], -1.0);
}

TEST(GetProfStepSize, CollapsedNeighbourhoodGivesNoStep) {
    Profiles p;
    ShapeMat s = makeShape({{3, 3}, {3, 3}, {3, 3}});
    const double* step = p.GetProfStepSize(0, 0, s, 1, FaceLandmarks::gLandTab, false);
    EXPECT_EQ(step[0], 0.0);
    EXPECT_EQ(step[1], 0.0);
}

TEST(GetProfStepSize, NeighboursComeFromTheLandmarkTable) {
    if (FaceLandmarks::gLandTab.empty()) FaceLandmarks::initGLandTab();
    ShapeMat s;
    s.dim(68, 2);
    for (int i = 0; i < 68; ++i) s.data[i] = {100.0 + i, 50.0 - i};
    s.data[0] = {0, 0};
    s.data[1] = {0, 1};
    s.data[21] = {-1, 0};   // the table's previous neighbour of landmark 0
    s.data[67] = {0, -1};   // the previous index of landmark 0
    Profiles p;
    const double* byTable = p.GetProfStepSize(0, 0, s, 0, FaceLandmarks::gLandTab, true);
    EXPECT_DOUBLE_EQ(byTable[0], 1.0);
    EXPECT_DOUBLE_EQ(byTable[1], -1.0);
    const double* byIndex = p.GetProfStepSize(0, 0, s, 0, FaceLandmarks::gLandTab, false);
    EXPECT_DOUBLE_EQ(byIndex[0], 1.0);
    EXPECT_NEAR(byIndex[1], 0.0, 1e-15);
}

TEST(IGetPixel, CentredCoordinatesWithYUpAndClamping) {
    std::vector<uint8_t> img(16);
    for (int i = 0; i < 16; ++i) img[i] = static_cast<uint8_t>(i);  // value = row * 4 + col
    EXPECT_EQ(Profiles::iGetPixel(img.data(), 4, 4, 0, 0), 10);     // column 2, row 2
    EXPECT_EQ(Profiles::iGetPixel(img.data(), 4, 4, 1, 1), 7);      // column 3, row 1
    EXPECT_EQ(Profiles::iGetPixel(img.data(), 4, 4, -100, 0), 8);   // column clamped to 0
    EXPECT_EQ(Profiles::iGetPixel(img.data(), 4, 4, 0, 100), 2);    // row clamped to 0
    EXPECT_EQ(Profiles::iGetPixel(img.data(), 4, 4, 100, -100), 15);
    EXPECT_EQ(Profiles::iGetPixel(nullptr, 4, 4, 0, 0), 0);
}

TEST(NearestPixel, RoundsHalfAwayFromZeroAndStaysDefined) {
    EXPECT_EQ(nearestPixel(2.5), 3);
    EXPECT_EQ(nearestPixel(-2.5), -3);
    EXPECT_EQ(nearestPixel(-0.4), 0);
    EXPECT_EQ(nearestPixel(1.49), 1);
    EXPECT_EQ(nearestPixel(1e300), 1000000000);
    EXPECT_EQ(nearestPixel(std::numeric_limits<double>::quiet_NaN()), -1000000000);
}

// A level of three landmarks on a 40 x 40 image; landmark 1 at the origin has its
// whisker pointing down the image (step (0, -1) in the local frame).
class MatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        image.init(40, 40, 0.25);
        gradient.init(40, 40, 0.25);
        level = std::make_shared<ASMLevel>(2, &image, &gradient);
        shape = makeShape({{-10, 0}, {0, 0}, {10, 0}});
        suggested = makeShape({{0, 0}, {0, 0}, {0, 0}});
        for (int i = 0; i < 3; ++i) {
            level->profMeans.push_back({0.0, 3.0, 0.0});
            level->profWork.push_back(std::vector<double>(3, 0.0));
            level->covars.push_back(identity(3));
            level->profSpecs.push_back(0);
        }
        args.suggested = &suggested;
        args.shape = &shape;
        args.level = level.get();
        args.landmarks = &FaceLandmarks::gLandTab;
        args.nPixSearch = 3;
        args.nPixSearch2d = 1;
        args.sigmoidScale = 1000.0;
        args.useLandmarkNeighbours = false;
        args.first = 1;
        args.last = 2;
        args.profiles = &profiles;
    }

    // Grey level of the image rows below (p > 0) and above the centre row 20.
    void setRows(int (*value)(int p)) {
        for (int row = 0; row < 40; ++row) {
            for (int col = 0; col < 40; ++col) image.data[row * 40 + col] = value(row - 20);
        }
    }

    void make2d(int landmark, const std::vector<double>& mean) {
        level->profSpecs[landmark] = ASMLevel::PROFILE_2D_BIT;
        level->profMeans[landmark] = mean;
        level->profWork[landmark].assign(mean.size(), 0.0);
        level->covars[landmark] = identity(static_cast<int>(mean.size()));
    }

    ImageData image;
    ImageDataInt gradient;
    std::shared_ptr<ASMLevel> level;
    ShapeMat shape, suggested;
    Profiles profiles;
    SearchThreadArgs args;
};

TEST_F(MatcherTest, OneDimensionalTieBetweenMinusOneAndPlusOneKeepsMinusOne) {
    // Equal steps at p = -1 and p = +1: both windows match the mean profile exactly.
    setRows([](int p) { return p <= -2 ? 100 : (p <= 0 ? 110 : 120); });
    ASMSearch::GetSuggestedShape_thread(&args);
    // Offset -1 along the step (0, -1) moves the landmark up by one pixel (y up).
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 0.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], 1.0);
    // Only this worker's range is written.
    EXPECT_DOUBLE_EQ(suggested.data[0][0], 0.0);
    EXPECT_DOUBLE_EQ(suggested.data[2][0], 0.0);
}

TEST_F(MatcherTest, OneDimensionalStrictlyBetterPositiveOffsetWins) {
    setRows([](int p) { return p <= 0 ? 100 : 120; });
    ASMSearch::GetSuggestedShape_thread(&args);
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 0.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], -1.0);
}

TEST_F(MatcherTest, OneDimensionalFlatImageKeepsThePoint) {
    setRows([](int) { return 77; });
    shape.data[1] = {2.0, -3.0};
    ASMSearch::GetSuggestedShape_thread(&args);
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 2.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], -3.0);
}

TEST_F(MatcherTest, TwoDimensionalAllEqualCandidatesKeepThePoint) {
    make2d(1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    shape.data[1] = {3.0, -2.0};
    ASMSearch::GetSuggestedShape_thread(&args);  // zero gradient: every patch is all zero
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 3.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], -2.0);
}

TEST_F(MatcherTest, TwoDimensionalMovesToTheMatchingPatch) {
    make2d(1, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    // The patch centre of the origin is column 20, row 19 (one above the pixel row).
    gradient.data[19 * 40 + 21] = 50;  // one pixel to the right
    ASMSearch::GetSuggestedShape_thread(&args);
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 1.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], 0.0);

    gradient.data[19 * 40 + 21] = 0;
    gradient.data[20 * 40 + 20] = -50;  // one pixel down, negative gradient
    args.sigmoidScale = 0.0;            // no equalisation: the impulse keeps its sign
    level->profMeans[1] = {0, 0, 0, 0, -9, 0, 0, 0, 0};
    ASMSearch::GetSuggestedShape_thread(&args);
    EXPECT_DOUBLE_EQ(suggested.data[1][0], 0.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], -1.0);
}

TEST_F(MatcherTest, TwoDimensionalPatchOutsideTheImageReadsZeros) {
    make2d(1, {0, 0, 0, 0, 1, 0, 0, 0, 0});
    for (int i = 0; i < 40 * 40; ++i) gradient.data[i] = 7;
    shape.data[1] = {-100.0, 100.0};  // every candidate patch lies outside the image
    ASMSearch::GetSuggestedShape_thread(&args);
    EXPECT_DOUBLE_EQ(suggested.data[1][0], -100.0);
    EXPECT_DOUBLE_EQ(suggested.data[1][1], 100.0);
    // The working profile of the last candidate is the all-zero patch minus the mean.
    EXPECT_DOUBLE_EQ(level->profWork[1][4], -1.0);
}

}  // namespace
}  // namespace kvo
