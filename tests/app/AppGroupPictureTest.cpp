// Every face of a picture through the kestavo program: a face pasted three times at
// different sizes into one large picture (one of them small in it) gets one record per
// face, each face's points on that face, in picture pixels; the small face needs the
// tile scans; the summary counts faces and pictures; a picture left without a face still
// gets its one record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

using kvotest::landmarksOf;
using kvotest::readRecords;
using kvotest::ScratchDir;

struct Placed {
    double scale, dx, dy;  // picture = source * scale + (dx, dy)
    double width;          // the face's landmark width in the picture, pixels
};

class AppGroupPictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        const cv::Mat frame = cv::imread(kvotest::mediaPath("franck_01829.jpg"), cv::IMREAD_COLOR);
        if (frame.empty()) GTEST_SKIP() << "sample media not installed";
        // The face's own shape in the frame, from the program on the frame alone.
        ASSERT_TRUE(cv::imwrite(inputs / "frame.png", frame));
        auto records = run({inputs / "frame.png"});
        ASSERT_EQ(records.size(), 1u);
        source = landmarksOf(*records[0]);
        ASSERT_EQ(source.size(), 136u) << "the face of the sample frame was not tracked";
        double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
        for (size_t i = 0; i < 136; i += 2) {
            x0 = std::min(x0, source[i]), x1 = std::max(x1, source[i]);
            y0 = std::min(y0, source[i + 1]), y1 = std::max(y1, source[i + 1]);
        }
        sourceWidth = x1 - x0;
        // A crop twice the face's width around it, pasted into a 3000 x 2000 picture on a
        // soft gradient at three widths: 60, 150 and 340 pixels.
        const double side = 2.0 * sourceWidth, cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
        const cv::Rect crop = cv::Rect(int(cx - side / 2), int(cy - side / 2), int(side), int(side)) &
                              cv::Rect(0, 0, frame.cols, frame.rows);
        group.create(2000, 3000, CV_8UC3);
        for (int y = 0; y < group.rows; ++y) group.row(y).setTo(cv::Scalar(90 + y / 40, 110, 130 - y / 40));
        const double widths[3] = {60.0, 150.0, 340.0};
        const cv::Point at[3] = {cv::Point(2500, 1500), cv::Point(600, 400), cv::Point(1500, 900)};
        for (int k = 0; k < 3; ++k) {
            const double s = widths[k] / sourceWidth;
            cv::Mat scaled;
            cv::resize(frame(crop), scaled, cv::Size(), s, s, s < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
            scaled.copyTo(group(cv::Rect(at[k], scaled.size())));
            // cv::resize maps pixel centres: out + 0.5 = (in + 0.5) * s (per axis).
            placed.push_back(Placed{double(scaled.cols) / crop.width, at[k].x - crop.x * double(scaled.cols) / crop.width,
                                    at[k].y - crop.y * double(scaled.rows) / crop.height, widths[k]});
            placed.back().dx += 0.5 * placed.back().scale - 0.5;
            placed.back().dy += 0.5 * placed.back().scale - 0.5;
        }
        ASSERT_TRUE(cv::imwrite(pictures / "group.png", group));
    }

    std::vector<std::unique_ptr<rapidjson::Document>> run(std::vector<std::string> args) {
        args.insert(args.end(), {"--jsonl", "g.jsonl"});
        result = kvotest::runApp(args, dir.path());
        EXPECT_EQ(result.status, 0) << result.err;
        return readRecords(dir / "g.jsonl");
    }

    // Mean distance of `shape` from the source shape as placed, in outer-eye distances
    // of the placed face.
    double offPlaced(const std::vector<double>& shape, const Placed& p) const {
        if (shape.size() != 136) return INFINITY;
        double sum = 0.0;
        for (size_t i = 0; i < 136; i += 2) {
            sum += std::hypot(shape[i] - (source[i] * p.scale + p.dx), shape[i + 1] - (source[i + 1] * p.scale + p.dy));
        }
        const double eyes = kvo::landmarks::outerEyeDistance(source.data(), kvo::landmarks::Layout::Ours) * p.scale;
        return sum / 68 / eyes;
    }

    ScratchDir dir, inputs, pictures;
    kvotest::AppResult result;
    std::vector<double> source;
    double sourceWidth = 0.0;
    cv::Mat group;
    std::vector<Placed> placed;
};

TEST_F(AppGroupPictureTest, EveryFaceGetsItsRecordWithItsPointsOnIt) {
    const auto records = run({pictures / "group.png"});
    ASSERT_GE(records.size(), 3u) << result.out;
    std::vector<int> matched(placed.size(), 0);
    double lastScore = INFINITY;
    int tracked = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const rapidjson::Value& r = *records[i];
        EXPECT_EQ(r["picture"].GetInt(), 0);
        EXPECT_EQ(r["width"].GetInt(), 3000);
        ASSERT_TRUE(r["face_index"].IsInt());
        EXPECT_EQ(r["face_index"].GetInt(), static_cast<int>(i));
        EXPECT_LE(r["score"].GetDouble(), lastScore) << "faces not strongest first";
        lastScore = r["score"].GetDouble();
        if (std::string(r["outcome"].GetString()) != "tracked") continue;
        ++tracked;
        const std::vector<double> shape = landmarksOf(r);
        for (size_t k = 0; k < placed.size(); ++k) {
            if (offPlaced(shape, placed[k]) < 0.15) ++matched[k];
        }
    }
    for (size_t k = 0; k < placed.size(); ++k) {
        EXPECT_EQ(matched[k], 1) << "the face pasted " << placed[k].width << " px wide: " << matched[k]
                                 << " shapes on it";
    }
    EXPECT_NE(result.out.find("tracked " + std::to_string(tracked) + " faces in 1 of 1 pictures"),
              std::string::npos)
        << result.out;
}

TEST_F(AppGroupPictureTest, TheSmallFaceNeedsTheTileScansAndOneFaceKeepsTheStrongest) {
    // Without the tile scans, the whole scan of a 3000 px picture starts at faces wider
    // than 300 px: the 60 px face is missed.
    auto records = run({pictures / "group.png", "--smallest-face", "0"});
    for (const auto& r : records) {
        EXPECT_GT(offPlaced(landmarksOf(*r), placed[0]), 0.15) << "the small face found without tiles";
    }
    records = run({pictures / "group.png", "--one-face"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ((*records[0])["face_index"].GetInt(), 0);
    const int framesWithRestarts = (*records[0])["frames"].GetInt();
    // Without the restarts from the fitted pupils: fewer calls, the same face.
    records = run({pictures / "group.png", "--one-face", "--restarts", "0"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_LT((*records[0])["frames"].GetInt(), framesWithRestarts);
    bool onAFace = false;
    for (const Placed& p : placed) onAFace = onAFace || offPlaced(landmarksOf(*records[0]), p) < 0.15;
    EXPECT_TRUE(onAFace);
}

TEST_F(AppGroupPictureTest, SettleScaleLowersTheScoreOfAFitThatWanders) {
    // Each tracked face reports how far its pupils moved at the last restart; with
    // --settle-scale F its score is divided by 1 + that / F, the faces are ordered by it,
    // and a face that falls below --min-score is left out. The fits themselves are the same.
    const auto plain = run({pictures / "group.png"});
    ASSERT_GE(plain.size(), 3u);
    // A threshold just below the weakest face's score: every face passes it as found, and
    // the weakest, lowered by any move at all, no longer does.
    double minScore = 1e9;
    for (const auto& a : plain) minScore = std::min(minScore, (*a)["score"].GetDouble() - 0.001);
    const double F = 0.03;
    const auto sure = run({pictures / "group.png", "--settle-scale", "0.03", "--min-score", std::to_string(minScore)});
    size_t expected = 0;
    for (const auto& a : plain) {
        ASSERT_STREQ((*a)["outcome"].GetString(), "tracked");
        ASSERT_TRUE((*a)["settle"].IsNumber()) << "a face tracked with restarts reports its settle";
        const double settle = (*a)["settle"].GetDouble();
        EXPECT_GE(settle, 0.0);
        const double lowered = (*a)["score"].GetDouble() / (1.0 + settle / F);
        const auto same = std::find_if(sure.begin(), sure.end(), [&](const auto& b) { return (*b)["face"] == (*a)["face"]; });
        if (lowered < minScore) {
            EXPECT_EQ(same, sure.end()) << "a face scoring " << lowered << " is left out";
            continue;
        }
        ++expected;
        ASSERT_NE(same, sure.end()) << "the face scoring " << lowered << " is kept";
        EXPECT_NEAR((**same)["score"].GetDouble(), lowered, 0.002 + 0.002 * lowered);
        EXPECT_EQ(landmarksOf(**same), landmarksOf(*a));
    }
    ASSERT_EQ(sure.size(), expected);
    EXPECT_LT(expected, plain.size()) << "the weakest face is left out";
    for (size_t i = 0; i < sure.size(); ++i) {
        EXPECT_EQ((*sure[i])["face_index"].GetInt(), static_cast<int>(i));
        if (i > 0) {
            EXPECT_LE((*sure[i])["score"].GetDouble(), (*sure[i - 1])["score"].GetDouble());
        }
    }
    kvotest::AppResult bad = kvotest::runApp({pictures / "group.png", "--settle-scale", "-0.5"}, dir.path());
    EXPECT_NE(bad.status, 0);
    kvotest::expectOneErrorLine(bad, "--settle-scale");
}

TEST_F(AppGroupPictureTest, APictureLeftWithoutFacesStillHasItsRecord) {
    // Every candidate below the score asked for: the picture gets one record, no face,
    // and the summary says how many were left out.
    const auto records = run({pictures / "group.png", "--min-score", "1000000"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_STREQ((*records[0])["outcome"].GetString(), "not_found");
    EXPECT_TRUE((*records[0])["face_index"].IsNull());
    EXPECT_TRUE((*records[0])["landmarks"].IsNull());
    EXPECT_NE(result.out.find("candidates below --min-score"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("tracked 0 faces in 0 of 1 pictures"), std::string::npos) << result.out;
    kvotest::AppResult bad = kvotest::runApp({pictures / "group.png", "--min-score", "-1"}, dir.path());
    EXPECT_NE(bad.status, 0);
    kvotest::expectOneErrorLine(bad, "--min-score");
}

}  // namespace
