// Stills through the kestavo program, each a scene of its own: the tracker is reset
// between pictures, every coordinate lands on the picture it belongs to (whatever its
// size, border or crop), and the summary names what was not tracked.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <rapidjson/document.h>

#include "LandmarkCorrespondence.h"
#include "AppChecks.h"
#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::landmarksOf;
using kvotest::readRecords;
using kvotest::ScratchDir;

// Mean distance between two shapes after moving `b` by (dx, dy) and scaling it by `s`,
// in units of a's outer-eye-corner distance (landmarks 27 and 32).
double shapeDistance(const std::vector<double>& a, const std::vector<double>& b, double s = 1.0, double dx = 0.0,
                     double dy = 0.0) {
    if (a.size() != 136 || b.size() != 136) return INFINITY;
    double sum = 0.0;
    for (size_t i = 0; i < 136; i += 2) sum += std::hypot(a[i] - (b[i] * s + dx), a[i + 1] - (b[i + 1] * s + dy));
    return sum / 68 / kvo::landmarks::outerEyeDistance(a.data(), kvo::landmarks::Layout::Ours);
}

class AppPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        face = cv::imread(kvotest::mediaPath("franck_01829.jpg"), cv::IMREAD_COLOR);
        if (face.empty()) GTEST_SKIP() << "sample media not installed";
    }
    std::string write(const std::string& name, const cv::Mat& image) {
        const std::string path = inputs / name;
        EXPECT_TRUE(cv::imwrite(path, image)) << path;
        return path;
    }
    // Runs the program on the `inputs` folder and returns its records.
    std::vector<std::unique_ptr<rapidjson::Document>> run(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {inputs.path(), "--jsonl", "p.jsonl"};
        args.insert(args.end(), extra.begin(), extra.end());
        result = kvotest::runApp(args, dir.path());
        EXPECT_EQ(result.status, 0) << result.err;
        return readRecords(dir / "p.jsonl");
    }
    cv::Mat face;  // a clear frontal face, 720 x 576
    ScratchDir dir, inputs;
    AppResult result;
};

TEST_F(AppPictureTest, EachPictureIsANewScene) {
    // The same face before and after a picture with no face: the tracker starts afresh
    // each time, so the third picture gets exactly the first one's shape, and the
    // faceless picture reports no shape at all.
    write("a.png", face);
    write("b.png", cv::Mat(200, 300, CV_8UC3, cv::Scalar(128, 128, 128)));
    write("c.png", face);
    const auto records = run();
    ASSERT_EQ(records.size(), 3u);
    const rapidjson::Value& a = *records[0];
    const rapidjson::Value& b = *records[1];
    const rapidjson::Value& c = *records[2];
    EXPECT_STREQ(a["outcome"].GetString(), "tracked");
    EXPECT_TRUE(a["tracked"].GetBool());
    EXPECT_EQ(a["width"].GetInt(), 720);
    EXPECT_EQ(a["height"].GetInt(), 576);
    EXPECT_STREQ(b["outcome"].GetString(), "not_found");
    EXPECT_FALSE(b["tracked"].GetBool());
    EXPECT_TRUE(b["landmarks"].IsNull());
    EXPECT_TRUE(b["face"].IsNull());
    EXPECT_EQ(b["frames"].GetInt(), 1);
    EXPECT_STREQ(c["outcome"].GetString(), "tracked");
    const std::vector<double> la = landmarksOf(a), lc = landmarksOf(c);
    ASSERT_EQ(la.size(), 136u);
    ASSERT_EQ(lc.size(), 136u);
    for (size_t i = 0; i < la.size(); ++i) EXPECT_NEAR(la[i], lc[i], 1e-6) << "coordinate " << i;

    EXPECT_NE(result.out.find("tracked 2 faces in 2 of 3 pictures; not found: b.png\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("kvo_setFaceDetectionVars("), std::string::npos) << "the still settings are not stated";
}

TEST_F(AppPictureTest, PointsLandOnTheOriginalPicture) {
    // The face at its own size, at half size, shifted by a border, and cropped so tightly
    // that it fills the picture: each shape, mapped back, lies where the face is in that
    // picture.
    write("1_full.png", face);
    cv::Mat half;
    cv::resize(face, half, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
    write("2_half.png", half);
    cv::Mat shifted;
    cv::copyMakeBorder(face, shifted, 100, 0, 200, 0, cv::BORDER_CONSTANT, cv::Scalar(90, 90, 90));
    write("3_shifted.png", shifted);
    const auto records = run();
    ASSERT_EQ(records.size(), 3u);
    const std::vector<double> full = landmarksOf(*records[0]);
    ASSERT_EQ(full.size(), 136u) << "the full picture was not tracked";

    // The crop: the shape's own bounds, so the face fills the picture edge to edge.
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (size_t i = 0; i < 136; i += 2) {
        x0 = std::min(x0, full[i]);
        x1 = std::max(x1, full[i]);
        y0 = std::min(y0, full[i + 1]);
        y1 = std::max(y1, full[i + 1]);
    }
    const cv::Rect crop(int(x0), int(y0) - 20, int(x1 - x0), int(y1 - y0) + 20);
    write("4_closeup.png", face(crop).clone());
    const auto again = run();
    ASSERT_EQ(again.size(), 4u);
    for (size_t i = 0; i < again.size(); ++i) {
        EXPECT_STREQ((*again[i])["outcome"].GetString(), "tracked") << "picture " << i;
    }
    // The half-size picture shows the same canvas content: nearly the same shape.
    EXPECT_LT(shapeDistance(full, landmarksOf(*again[1]), 2.0), 0.02);
    // A border moves the picture's content: the shape moves with it (and the face is
    // smaller on the canvas, so the fit differs a little more).
    EXPECT_LT(shapeDistance(full, landmarksOf(*again[2]), 1.0, -200.0, -100.0), 0.05);
    // The close-up is found only because of the border around it.
    EXPECT_LT(shapeDistance(full, landmarksOf(*again[3]), 1.0, crop.x, crop.y), 0.08);
    EXPECT_EQ((*again[3])["width"].GetInt(), crop.width);
}

TEST_F(AppPictureTest, DetectionModeAndOptionsThatNeedASequence) {
    write("a.png", face);
    write("b.png", cv::Mat(120, 160, CV_8UC3, cv::Scalar(20, 200, 20)));
    const auto records = run({"--mode", "detection"});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_STREQ((*records[0])["outcome"].GetString(), "detected");
    ASSERT_TRUE((*records[0])["face"].IsArray());
    // The detected face lies on the picture's face (its centre near the image centre
    // column, where franck sits), in picture pixels.
    const auto& f = (*records[0])["face"];
    EXPECT_GT(f[0].GetDouble() + 0.5 * f[2].GetDouble(), 250.0);
    EXPECT_LT(f[0].GetDouble() + 0.5 * f[2].GetDouble(), 470.0);
    EXPECT_STREQ((*records[1])["outcome"].GetString(), "not_found");
    EXPECT_NE(result.out.find("detected 1 face in 1 of 2 pictures; not found: b.png"), std::string::npos) << result.out;

    const AppResult r = kvotest::runApp({inputs.path(), "--roi", "0,0,100,100"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Error: --roi and --detection-roi apply to a sequence"), std::string::npos) << r.err;
}

}  // namespace
