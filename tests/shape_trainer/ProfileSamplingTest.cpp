// The trainer samples profiles exactly as the search compares them: a model trained on
// one drawn face brings every landmark of that face back to its true position when the
// search's own matcher starts from a shape shifted along the landmark's whisker (1-D)
// or by one pixel (2-D).
#include <cmath>

#include <gtest/gtest.h>

#include "ModelWriter.h"
#include "ProfileTrainer.h"
#include "ShapeStatistics.h"
#include "SyntheticFace.h"
#include "asm/ASMModel.h"
#include "asm/ASMSearch.h"

using namespace kvo;
using namespace kvo::trainer;

namespace {

struct TrainedOnOneFace : ::testing::Test {
    void SetUp() override {
        std::vector<ShapeVec> shapes = readMuctShapes(std::string(KVO_MUCT_SHAPES), 40);
        shape = buildShapeModel(shapes, 3);
        placeModel(shape, 200.0, 0.0, 0.0);
        layout = ProfileLayout::uniform(9);
        for (int i : {27, 29, 31, 32, 34, 36, 48, 54}) layout.spec[2][i] = ProfileSpec{true, 7};
        trainer.reset(new ProfileTrainer(layout));
        face = kvotest::muctFace(0.55, 10, 0);
        image = kvotest::drawFace(face, 300, 320);
        ASSERT_TRUE(trainer->addFace(image, face));
        json = writeModelJson(shape, *trainer, ModelWriterOptions());
        testing::internal::CaptureStdout();
        model.readASM(json.c_str(), config, *trainer->lastManager(), false);
        ASSERT_EQ(testing::internal::GetCapturedStdout(), "");
        ASSERT_TRUE(model.loaded());
    }

    // Runs the search's matcher on level `lev` from `start` (level pixels, local frame).
    ShapeMat match(int lev, const ShapeMat& start) {
        ShapeMat suggested;
        suggested.dim(68, 2);
        Profiles profiles;
        SearchThreadArgs a;
        a.suggested = &suggested;
        a.shape = const_cast<ShapeMat*>(&start);
        a.level = model.levels[lev].get();
        a.landmarks = &FaceLandmarks::gLandTab;
        a.nPixSearch = config.nPixSearch;
        a.nPixSearch2d = config.nPixSearch2d;
        a.sigmoidScale = config.sigmoidScale;
        a.useLandmarkNeighbours = true;
        a.first = 0;
        a.last = 68;
        a.profiles = &profiles;
        ASMSearch::GetSuggestedShape_thread(&a);
        return suggested;
    }

    ShapeMat trueShape(int lev) {
        ShapeMat s;
        s.copyFrom(*trainer->lastShape());
        s.multiplyByScalar(1.0 / (1 << lev));
        return s;
    }

    ShapeModel shape;
    ProfileLayout layout;
    std::unique_ptr<ProfileTrainer> trainer;
    ShapeVec face;
    cv::Mat image;
    std::string json;
    ASMModelConfig config;
    ASMModel model;
};

}  // namespace

TEST_F(TrainedOnOneFace, TrueShapeIsAFixedPoint) {
    for (int lev : {2, 3}) {
        const ShapeMat truth = trueShape(lev);
        const ShapeMat out = match(lev, truth);
        for (int i = 0; i < 68; ++i) {
            EXPECT_EQ(out.data[i][0], truth.data[i][0]) << "level " << lev << " landmark " << i;
            EXPECT_EQ(out.data[i][1], truth.data[i][1]) << "level " << lev << " landmark " << i;
        }
    }
}

TEST_F(TrainedOnOneFace, OneDimensionalLandmarksReturnAlongTheirWhisker) {
    for (int lev : {2, 3}) {
        const ShapeMat truth = trueShape(lev);
        Profiles prof;
        int returned = 0, tried = 0;
        for (int i = 0; i < 68; ++i) {
            if (layout.spec[lev][i].twoD) continue;
            // Translate the whole shape by two whisker steps of landmark i: the whiskers
            // do not change, and landmark i must come back by offset -2.
            const double* st = prof.GetProfStepSize(0, 0, truth, i, FaceLandmarks::gLandTab, true);
            const double sx = st[0], sy = st[1];
            ShapeMat moved;
            moved.copyFrom(truth);
            moved.addScalarToCol(0, 2 * sx);
            moved.addScalarToCol(1, 2 * sy);
            const ShapeMat out = match(lev, moved);
            ++tried;
            returned += std::fabs(out.data[i][0] - truth.data[i][0]) < 1e-9 &&
                        std::fabs(out.data[i][1] - truth.data[i][1]) < 1e-9;
        }
        // A landmark on a flat stretch of the drawing may match an equal profile
        // elsewhere; the drawn features give nearly all of them a unique profile.
        EXPECT_GE(returned, tried * 9 / 10) << "level " << lev;
    }
}

TEST_F(TrainedOnOneFace, TwoDimensionalLandmarksReturnFromOnePixelAway) {
    const ShapeMat truth = trueShape(2);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy) {
            ShapeMat moved;
            moved.copyFrom(truth);
            moved.addScalarToCol(0, dx);
            moved.addScalarToCol(1, dy);
            const ShapeMat out = match(2, moved);
            for (int i : {27, 29, 31, 32, 34, 36, 48, 54}) {
                EXPECT_NEAR(out.data[i][0], truth.data[i][0], 1e-9) << i << " moved " << dx << "," << dy;
                EXPECT_NEAR(out.data[i][1], truth.data[i][1], 1e-9) << i << " moved " << dx << "," << dy;
            }
        }
}
