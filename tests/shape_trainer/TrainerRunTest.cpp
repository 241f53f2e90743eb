// The trainer program end to end on a small set: two drawn faces and 200 MUCT shapes.
// Its output must load with ASMModel::readASM without an error line and have the
// default configuration's shape (68 landmarks, 4 levels, 136 x 136 eigenvectors).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "DlibLayoutFace.h"
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

// Trains on the faces in `dir` with `options` into `dir`/`name` and loads the result.
// Returns null, after a test failure, when training or loading fails or the model has
// not four levels.
std::unique_ptr<kvo::ASMModel> trainAndLoad(const std::string& dir, const std::string& name, const std::string& options) {
    const std::string text = runTrainer(dir, dir + "/" + name, options);
    if (text.empty()) {
        ADD_FAILURE() << "the trainer failed: " << slurp(dir + "/log.txt");
        return nullptr;
    }
    std::string messages;
    std::unique_ptr<kvo::ASMModel> model(loadModel(text, messages));
    EXPECT_EQ(messages.find("Error"), std::string::npos) << messages;
    if (!model->loaded() || model->levels.size() != 4u) {
        ADD_FAILURE() << "the trained model does not load with four levels: " << messages;
        return nullptr;
    }
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
    const std::unique_ptr<kvo::ASMModel> model = trainAndLoad(dir, "twod.json", "--twod 5:eyes,mouth");
    ASSERT_TRUE(model);
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

TEST(TrainerRun, PerLevelLengthsAndLandmarksWithoutEvidence) {
    const std::string dir = writeTwoFaces();
    ASSERT_FALSE(dir.empty());
    const std::unique_ptr<kvo::ASMModel> model = trainAndLoad(dir, "levels.json", "--len-levels 7,9,11,13 --no-evidence 3,40");
    ASSERT_TRUE(model);
    const size_t lengths[4] = {7, 9, 11, 13};
    for (int lev = 0; lev < 4; ++lev) {
        const kvo::ASMLevel& L = *model->levels[lev];
        for (size_t i = 0; i < 68; ++i) {
            ASSERT_EQ(L.profMeans[i].size(), lengths[lev]) << "level " << lev << " landmark " << i;
            // The landmarks without evidence have an all-zero distance matrix (every
            // position matches equally); the others a positive diagonal.
            const kvo::NumberMat& c = *L.covars[i];
            double diag = 0.0, any = 0.0;
            for (int r = 0; r < c.rows; ++r)
                for (int k = 0; k < c.cols; ++k) {
                    any += std::fabs(c.data[r][k]);
                    if (r == k) diag = std::min(diag == 0.0 ? c.data[r][k] : diag, c.data[r][k]);
                }
            if (i == 3 || i == 40) {
                EXPECT_EQ(any, 0.0) << "level " << lev << " landmark " << i;
            } else {
                EXPECT_GT(diag, 0.0) << "level " << lev << " landmark " << i;
            }
        }
    }
    // Three lengths for four levels, and a landmark index past the last, are refused.
    EXPECT_TRUE(runTrainer(dir, dir + "/three.json", "--len-levels 7,9,11").empty());
    EXPECT_TRUE(runTrainer(dir, dir + "/past.json", "--no-evidence 68").empty());
    // Without 300-W shapes, MUCT weight 0 leaves nothing for the shape statistics.
    EXPECT_TRUE(runTrainer(dir, dir + "/empty.json", "--muct-weight 0").empty());
    EXPECT_NE(slurp(dir + "/log.txt").find("total weight"), std::string::npos) << slurp(dir + "/log.txt");
}

// Labelled faces as the only source of the level-0 profiles, with their own length; the
// other levels mix them (here the only faces) as before.
TEST(TrainerRun, ProfileSourcesChooseLengthsPerLevel) {
    const std::string dir = writeTwoFaces();
    ASSERT_FALSE(dir.empty());
    const std::unique_ptr<kvo::ASMModel> model = trainAndLoad(
        dir, "sources.json", "--profile-source 0:all=labels --labels-len-levels 15,9,9,9 --labels-weight 3");
    ASSERT_TRUE(model);
    for (int lev = 0; lev < 4; ++lev)
        for (size_t i = 0; i < 68; ++i)
            ASSERT_EQ(model->levels[lev]->profMeans[i].size(), lev == 0 ? 15u : 9u) << lev << " " << i;
    EXPECT_NE(slurp(dir + "/log.txt").find("sampled labelled faces (weight 3)"), std::string::npos)
        << slurp(dir + "/log.txt");
    // No 300-W faces: profiles asked of them have no samples, one error and no model.
    EXPECT_TRUE(runTrainer(dir, dir + "/none.json", "--profile-source 2:eyes=300w").empty());
    EXPECT_NE(slurp(dir + "/log.txt").find("Error: level 2, landmark 27"), std::string::npos)
        << slurp(dir + "/log.txt");
    std::system(("rm -rf " + dir).c_str());
}

// A 300-W-style folder of drawn faces (<name>.jpg + 1-based <name>.pts in dlib's layout).
// Every 10th face by name is held out: the trainer must never read its image, and must
// read every training image.
TEST(TrainerRun, Faces300WFolderTrainsOnAllButTheHeldOutFaces) {
    char tmpl[] = "/tmp/kvo_trainer300w_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    for (int k = 0; k < 10; ++k) {
        const kvo::trainer::ShapeVec ours = kvotest::muctFace(0.45 + 0.02 * k, 10.0 * (k % 3), 4.0 * (k % 2));
        const kvo::trainer::ShapeVec d = kvotest::dlibFromOurs(ours);
        char name[32];
        std::snprintf(name, sizeof name, "face%02d", k);
        std::ofstream pts(dir + "/" + name + ".pts");
        pts << "version: 1\nn_points: 68\n{\n";
        for (int i = 0; i < 68; ++i) pts << d[2 * i] + 1.0 << " " << d[2 * i + 1] + 1.0 << "\n";
        pts << "}\n";
        ASSERT_TRUE(cv::imwrite(dir + "/" + name + ".jpg", kvotest::drawFace(ours, 320, 360)));
    }
    // The held-out face (face09) cannot be decoded: training must not notice.
    { std::ofstream(dir + "/face09.jpg") << "not an image"; }
    const std::string base = std::string(KVO_SHAPE_TRAINER) + " --muct " + KVO_MUCT_SHAPES +
                             " --muct-limit 200 --faces300w " + dir + " --augment 0 --seed 7";
    ASSERT_EQ(std::system((base + " --out " + dir + "/m.json > " + dir + "/log.txt 2>&1").c_str()), 0)
        << slurp(dir + "/log.txt");
    const std::string log = slurp(dir + "/log.txt");
    EXPECT_NE(log.find("10 faces listed, 1 held out for validation, 9 training"), std::string::npos) << log;
    EXPECT_EQ(log.find("face09"), std::string::npos) << log;
    EXPECT_NE(log.find("profiles: 18 sampled 300-W faces, 0 sampled labelled"), std::string::npos) << log;  // 9 and mirrors
    std::string messages;
    std::unique_ptr<kvo::ASMModel> model(loadModel(slurp(dir + "/m.json"), messages));
    EXPECT_EQ(messages.find("Error"), std::string::npos) << messages;
    EXPECT_TRUE(model->loaded());
    // A training face that cannot be decoded is reported.
    { std::ofstream(dir + "/face03.jpg") << "not an image"; }
    std::system((base + " --out " + dir + "/n.json > " + dir + "/log2.txt 2>&1").c_str());
    EXPECT_NE(slurp(dir + "/log2.txt").find("face03"), std::string::npos) << slurp(dir + "/log2.txt");
    std::system(("rm -rf " + dir).c_str());
}

// Options are read strictly: a bad number, a missing value or an unknown option is one
// "Error:" line and exit status 2, before any training starts.
TEST(TrainerRun, MistakenOptionsAreOneErrorLineAndExitTwo) {
    const std::string base = std::string(KVO_SHAPE_TRAINER) + " --muct " + KVO_MUCT_SHAPES +
                             " --faces300w /nonexistent --out /tmp/kvo_never_written.json ";
    const char* mistakes[] = {"--len1d 9x", "--ridge", "--augment -1", "--stride 0", "--colour red",
                              "--labels --media", "--profile-source 4:all=labels", "--profile-source 0:lips=both",
                              "--labels-weight 0", "--labels-placement maybe", "--labels-len-levels 15,15"};
    for (const char* m : mistakes) {
        char tmpl[] = "/tmp/kvo_trainer_opts_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        const std::string log = std::string(tmpl) + "/log.txt";
        const int rc = std::system((base + m + " > " + log + " 2>&1").c_str());
        ASSERT_TRUE(WIFEXITED(rc)) << m;
        EXPECT_EQ(WEXITSTATUS(rc), 2) << m;
        const std::string text = slurp(log);
        EXPECT_EQ(text.rfind("Error: ", 0), 0u) << m << ": " << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << m << ": " << text;
        std::remove(log.c_str());
        rmdir(tmpl);
    }
}
