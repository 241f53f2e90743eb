// The trainer program end to end on a small set: two drawn faces and 200 MUCT shapes.
// Its output must load with ASMModel::readASM without an error line and have the
// default configuration's shape (68 landmarks, 4 levels, 136 x 136 eigenvectors).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "SyntheticFace.h"
#include "asm/ASMModel.h"
#include "image/ImageDataManager.h"
#include "image/InputData.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string runTrainer(const std::string& dir, const std::string& out, const std::string& extra = "") {
    const std::string cmd = std::string(KVO_SHAPE_TRAINER) + " --muct " + KVO_MUCT_SHAPES +
                            " --muct-limit 200 --labels " + dir +
                            "/labels.tsv --media " + dir + " --augment 1 --seed 7 " + extra + " --out " + out +
                            " > " + dir + "/log.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    return rc == 0 ? slurp(out) : std::string();
}

// A temporary folder with two drawn faces and their labels.
std::string writeTwoFaces() {
    char tmpl[] = "/tmp/kvo_trainer_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return std::string();
    const std::string dir = tmpl;
    {
        std::ofstream labels(dir + "/labels.tsv");
        for (int k = 0; k < 2; ++k) {
            const kvo::trainer::ShapeVec p = kvotest::muctFace(0.5 + 0.1 * k, 15.0 * k, 5.0);
            const std::string name = "face" + std::to_string(k) + ".png";
            if (!cv::imwrite(dir + "/" + name, kvotest::drawFace(p, 320, 360))) return std::string();
            labels << name << "\t-1\t";
            for (size_t i = 0; i < p.size(); ++i) labels << (i ? " " : "") << p[i];
            labels << "\n";
        }
    }
    return dir;
}

kvo::ASMModel* loadModel(const std::string& text, std::string& messages) {
    static kvo::ImageDataManager images;
    static bool ready = false;
    if (!ready) images.initASM();
    ready = true;
    kvo::ASMModelConfig config;
    kvo::ASMModel* model = new kvo::ASMModel;
    testing::internal::CaptureStdout();
    model->readASM(text.c_str(), config, images, false);
    messages = testing::internal::GetCapturedStdout();
    return model;
}

}  // namespace

TEST(TrainerRun, SmallSetGivesALoadableDefaultShapedModelTwiceTheSame) {
    const std::string dir = writeTwoFaces();
    ASSERT_FALSE(dir.empty());
    const std::string a = runTrainer(dir, dir + "/a.json");
    ASSERT_FALSE(a.empty()) << slurp(dir + "/log.txt");
    const std::string b = runTrainer(dir, dir + "/b.json");
    EXPECT_EQ(a, b) << "the same inputs and seed must give the same text";

    kvo::InputData input(640, 480);
    std::vector<unsigned char> none;
    kvo::ImageDataManager images;
    images.initASM();
    kvo::ASMModelConfig config;
    kvo::ASMModel model;
    testing::internal::CaptureStdout();
    model.readASM(a.c_str(), config, images, false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    ASSERT_TRUE(model.loaded());
    EXPECT_EQ(model.meanShape.rows, 68);
    EXPECT_EQ(model.eigVecs.rows, 136);
    EXPECT_EQ(model.eigVecs.cols, 136);
    ASSERT_EQ(model.levels.size(), 4u);
    for (int lev = 0; lev < 4; ++lev) {
        const kvo::ASMLevel& L = *model.levels[lev];
        EXPECT_EQ(L.profSpecs.size(), 68u);
        EXPECT_EQ(L.nEigs, 11);
        EXPECT_EQ(L.nEigsFinal, 7);
        for (int i = 0; i < 68; ++i) {
            ASSERT_FALSE(L.profMeans[i].empty());
            const kvo::NumberMat& c = *L.covars[i];
            // A full matrix as long as the profile, or the compact row.
            EXPECT_TRUE((c.rows == static_cast<int>(L.profMeans[i].size()) && c.cols == c.rows) ||
                        (c.rows == 1 && c.cols == static_cast<int>(L.profMeans[i].size()) + 1))
                << lev << "/" << i;
        }
    }
    // The first eigenvalue is in squared level-0 pixels of a face some 150-250 wide.
    EXPECT_GT(model.levels[0]->eigVals.data[0][0], 10.0);
    const double w = model.meanShape.shapeWidth();
    EXPECT_GT(w, 100.0);
    EXPECT_LT(w, 400.0);
}

TEST(TrainerRun, TwoDPatchesGoToTheChosenGroupsOnLevelsZeroToTwoOnly) {
    const std::string dir = writeTwoFaces();
    ASSERT_FALSE(dir.empty());
    const std::string text = runTrainer(dir, dir + "/twod.json", "--twod 5:eyes,mouth");
    ASSERT_FALSE(text.empty()) << slurp(dir + "/log.txt");
    std::string messages;
    std::unique_ptr<kvo::ASMModel> model(loadModel(text, messages));
    EXPECT_EQ(messages.find("Error"), std::string::npos) << messages;
    ASSERT_TRUE(model->loaded());
    ASSERT_EQ(model->levels.size(), 4u);
    for (int lev = 0; lev < 4; ++lev) {
        const kvo::ASMLevel& L = *model->levels[lev];
        for (size_t i = 0; i < 68; ++i) {
            const bool chosen = (i >= 27 && i <= 36) || (i >= 48 && i <= 66);
            const bool twoD = chosen && lev <= 2;
            EXPECT_EQ(L.is2d(i), twoD) << "level " << lev << " landmark " << i;
            EXPECT_EQ(L.profMeans[i].size(), twoD ? 25u : 9u) << "level " << lev << " landmark " << i;
        }
    }
    // An even side cannot centre a patch on the landmark.
    EXPECT_TRUE(runTrainer(dir, dir + "/even.json", "--twod 4:eyes").empty());
}
