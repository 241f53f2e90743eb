#include <gtest/gtest.h>

#include <cmath>

#include "asm/ASMModel.h"
#include "asm/FaceLandmarks.h"
#include "image/ImageDataManager.h"
#include "support/TinyShapeModel.h"

namespace kvo {
namespace {

class TinyShapeModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::internal::CaptureStdout();
        model.readASM(test::tinyShapeModelJson().c_str(), config, images, false);
        output = testing::internal::GetCapturedStdout();
    }
    void TearDown() override {
        FaceLandmarks::gLandTab.clear();
        FaceLandmarks::gLand76Tab.clear();
        FaceLandmarks::nOldPoints = 0;
    }
    ImageDataManager images;
    ASMModelConfig config;
    ASMModel model;
    std::string output;
};

TEST_F(TinyShapeModelTest, LoadsWithoutAnyMessage) {
    EXPECT_EQ("", output);
    ASSERT_TRUE(model.loaded());
    EXPECT_EQ(68, model.meanShape.rows);
    EXPECT_EQ(136, model.eigVecs.rows);
    EXPECT_EQ(136, model.eigVecs.cols);
}

TEST_F(TinyShapeModelTest, EigenvectorsAreOrthonormal) {
    const NumberMat& phi = model.eigVecs;
    double worst = 0.0;
    for (int a = 0; a < 136; ++a) {
        for (int b = a; b < 136; ++b) {
            double dot = 0.0;
            for (int r = 0; r < 136; ++r) dot += phi.data[r][a] * phi.data[r][b];
            worst = std::max(worst, std::fabs(dot - (a == b ? 1.0 : 0.0)));
        }
    }
    EXPECT_LT(worst, 1e-12);
    // The first mode opens the mouth: the chin (landmark 7) moves down.
    EXPECT_LT(phi.data[2 * 7 + 1][0], 0.0);
}

TEST_F(TinyShapeModelTest, EigenvaluesDecreaseFromAUsableFirstValue) {
    const NumberMat& ev = model.levels[0]->eigVals;
    ASSERT_EQ(136, ev.rows);
    EXPECT_GE(ev.data[0][0], 0.1);
    for (int i = 1; i < 136; ++i) EXPECT_LT(ev.data[i][0], ev.data[i - 1][0]) << i;
    EXPECT_GT(ev.data[135][0], 0.0);
}

TEST_F(TinyShapeModelTest, MeanShapeIsACentredFaceOfTheReferenceWidth) {
    const ShapeMat& s = model.meanShape;
    EXPECT_DOUBLE_EQ(180.0, s.shapeWidth());
    const double cx = s.colMinElem(0) + 0.5 * s.shapeWidth();
    const double cy = s.colMinElem(1) + 0.5 * s.shapeHeight();
    EXPECT_NEAR(0.0, cx, 1e-9);
    EXPECT_NEAR(0.0, cy, 1e-9);
    for (int i = 0; i < 68; ++i) {
        EXPECT_FALSE(s.data[i][0] == 0.0 && s.data[i][1] == 0.0) << "landmark " << i << " absent";
    }
    // Layout checks of the search, in image orientation (y down).
    const double w = s.shapeWidth(), h = s.shapeHeight();
    const double minX = s.colMinElem(0), minYdown = -(s.colMinElem(1) + h);
    auto inside = [&](int i, double rx, double ry, double rw, double rh) {
        const double x = s.data[i][0], y = -s.data[i][1];
        return x >= minX + rx * w && x <= minX + (rx + rw) * w && y >= minYdown + ry * h &&
               y <= minYdown + (ry + rh) * h;
    };
    EXPECT_TRUE(inside(66, 0.125, 0.45, 0.75, 0.35));
    EXPECT_TRUE(inside(31, 0.0, 0.0, 0.55, 0.5));
    EXPECT_TRUE(inside(36, 0.45, 0.0, 0.55, 0.5));
    EXPECT_GE(w / h, 0.72);
    EXPECT_LE(w / h, 1.35);
    const double eyes = std::hypot(s.data[31][0] - s.data[36][0], s.data[31][1] - s.data[36][1]) / w;
    EXPECT_GE(eyes, 0.39);
    EXPECT_LE(eyes, 0.55);
}

TEST_F(TinyShapeModelTest, PupilsUseTwoDimensionalProfilesOnLevelTwoOnly) {
    for (int lev = 0; lev < 4; ++lev) {
        const ASMLevel& l = *model.levels[lev];
        for (int i = 0; i < 68; ++i) {
            const bool expected = lev == 2 && (i == 31 || i == 36);
            EXPECT_EQ(expected, l.is2d(i)) << "level " << lev << " landmark " << i;
            EXPECT_EQ(expected ? 25u : 9u, l.profMeans[i].size());
        }
    }
    // Both distance-matrix forms occur.
    EXPECT_EQ(1, model.levels[0]->covars[0]->rows);
    EXPECT_EQ(9, model.levels[0]->covars[1]->rows);
}

TEST(TinyShapeModelOptionsTest, OptionsChangeLevelsAndProfiles) {
    test::TinyShapeModelOptions opt;
    opt.numLevels = 2;
    opt.profileLength = 5;
    opt.pupils2dOnLevel2 = false;
    ImageDataManager images;
    ASMModelConfig config;
    config.numLevels = 2;
    ASMModel model;
    testing::internal::CaptureStdout();
    model.readASM(test::tinyShapeModelJson(opt).c_str(), config, images, false);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    ASSERT_EQ(2u, model.levels.size());
    EXPECT_EQ(5u, model.levels[1]->profMeans[31].size());
    FaceLandmarks::gLandTab.clear();
    FaceLandmarks::gLand76Tab.clear();
    FaceLandmarks::nOldPoints = 0;
}

}  // namespace
}  // namespace kvo
