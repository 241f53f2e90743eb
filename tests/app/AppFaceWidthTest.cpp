// Face widths on the kestavo command line: --min-face and --max-face set the
// detector's scales so that faces of those widths are searched, nonsense widths are
// refused, and a run that finds no face says which widths it searched.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

// cap13_edit2.mp4: 400 x 300, a face about 95 px wide, below the default range.
std::string smallFaceClip() { return kvotest::mediaPath("cap13_edit2.mp4"); }

class AppFaceWidthTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(smallFaceClip())) GTEST_SKIP() << "sample media not installed";
    }
    ScratchDir dir;
};

TEST_F(AppFaceWidthTest, VideoSettingsFindTheSmallFace) {
    // Without detector options the program scans video from 72 px faces.
    const AppResult r = kvotest::runApp({smallFaceClip(), "--max-frames", "40"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("faces 72 to 276 px wide"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("the tool's video settings: kvo_setFaceDetectionVars(2.5, 0.5, 12, 0.05, 12, false)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("tracked:     35 frames"), std::string::npos) << r.out;
}

TEST_F(AppFaceWidthTest, NoFaceFoundNamesTheWidthsSearchedAndTheOption) {
    // The library's own smallest scale: the face is below the range.
    const AppResult r = kvotest::runApp({smallFaceClip(), "--max-frames", "100", "--mode", "detection", "--start-scale", "4"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("detected in 0 frames"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no face found in the first 100 frames"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("faces 108 to 276 px wide"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--min-face"), std::string::npos) << r.out;
}

TEST_F(AppFaceWidthTest, MinFaceFindsTheSmallFace) {
    const AppResult r = kvotest::runApp({smallFaceClip(), "--max-frames", "40", "--mode", "detection", "--min-face", "80",
                                         "--jsonl", "d.jsonl"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    // From 80 px in steps of 12 px, the last below scale 12 (288 px).
    EXPECT_NE(r.out.find("faces 80 to 284 px wide"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("no face found"), std::string::npos) << r.out;
    long faces = 0;
    for (const std::string& line : kvotest::lines(kvotest::readText(dir / "d.jsonl"))) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        ASSERT_FALSE(d.HasParseError());
        if (!d["face"].IsArray()) continue;
        ++faces;
        // Merged from windows of 80 px and more (the merge adds half a pixel).
        EXPECT_GE(d["face"][2].GetDouble(), 80.0);
    }
    EXPECT_GE(faces, 30) << r.out;
}

TEST_F(AppFaceWidthTest, MaxFaceEndsTheRangeAtTheNextWindowSize) {
    // From 80 px in steps of 12 px (0.5 x 24): 80, 92, 104, 116, 128, 140.
    const AppResult r = kvotest::runApp({smallFaceClip(), "--max-frames", "2", "--mode", "detection", "--min-face", "80",
                                         "--max-face", "130"},
                                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("faces 80 to 140 px wide (6 window sizes)"), std::string::npos) << r.out;
}

TEST_F(AppFaceWidthTest, NonsenseWidthsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--min-face", "0"},   {"--min-face", "-80"}, {"--min-face", "eighty"}, {"--max-face", "inf"},
        {"--min-face", "20"},  {"--min-face", "5000"}, {"--max-face", "50"},    {"--min-face", "100", "--max-face", "90"},
        {"--min-face", "80", "--start-scale", "3"},    {"--max-face", "200", "--max-scale", "9"},
        {"--min-face", "290"},
    };
    for (const std::vector<std::string>& c : cases) {
        std::vector<std::string> args = {smallFaceClip(), "--max-frames", "2", "--jsonl", "x.jsonl"};
        args.insert(args.end(), c.begin(), c.end());
        const AppResult r = kvotest::runApp(args, dir.path());
        const std::string what = c[0] + " " + c[1];
        EXPECT_EQ(r.status, 2) << what;
        const std::vector<std::string> errLines = kvotest::lines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << what << ": " << r.err;
        EXPECT_EQ(errLines[0].compare(0, 7, "Error: "), 0) << errLines[0];
        EXPECT_NE(errLines[0].find("-face"), std::string::npos) << errLines[0];
        EXPECT_TRUE(dir.files(true).empty()) << what;
    }
}

TEST(AppFaceWidthHelpTest, ShownBesideTheScaleOptions) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--help"}, dir.path());
    ASSERT_EQ(r.status, 0);
    const size_t scale = r.out.find("--max-scale S"), minFace = r.out.find("--min-face PX"),
                 maxFace = r.out.find("--max-face PX"), step = r.out.find("--step-factor F");
    ASSERT_NE(minFace, std::string::npos) << r.out;
    ASSERT_NE(maxFace, std::string::npos) << r.out;
    EXPECT_LT(scale, minFace);
    EXPECT_LT(maxFace, step);
}

}  // namespace

namespace {

// A scale increment so small that the scan would run millions of window sizes: the
// library widens it, says so once, and the summary shows the sizes actually scanned.
TEST(AppScanBoundTest, ATinyScaleIncrementIsSaidOnceAndTheRunGoesOn) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    if (!kvotest::fileExists(clip)) GTEST_SKIP() << "sample media not installed";
    ScratchDir dir;
    const AppResult r =
        kvotest::runApp({clip, "--max-frames", "2", "--scale-increment", "0.000001", "--start-scale", "4", "--no-progress",
                         "--no-refine"},  // no refiner-model line, whichever library is built
                        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> errors;
    for (const std::string& line : kvotest::lines(r.out + r.err))
        if (line.rfind("Error: ", 0) == 0) errors.push_back(line);
    ASSERT_EQ(errors.size(), 1u) << r.out << r.err;
    EXPECT_NE(errors[0].find("a scale increment of 1e-06 gives more than 1000 window sizes"), std::string::npos);
    // franck.mp4 is 360 x 288: scales 4 to 12 in under 1,000 sizes, the first and last not
    // reported.
    EXPECT_NE(r.out.find("faces 96 to 287 px wide (993 window sizes)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames:      2"), std::string::npos) << r.out;
}

}  // namespace
