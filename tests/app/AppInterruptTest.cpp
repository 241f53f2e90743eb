// Ctrl-C on the kestavo program: whenever it comes, the program exits with status 130
// and leaves no half-written file; outputs are complete for the frames processed, or
// absent when no frame was.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

bool anyPartFile(const ScratchDir& dir) {
    for (const std::string& f : dir.files(true)) {
        if (f.find(".part-") != std::string::npos) return true;
    }
    return false;
}

class AppInterruptTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(kvotest::mediaPath("franck.mp4"))) GTEST_SKIP() << "sample media not installed";
    }
    pid_t start() {
        return kvotest::startApp({kvotest::mediaPath("franck.mp4"), "--jsonl", "a.jsonl", "--sheet", "s.png", "--plot",
                                  "p.png", "--video", "v.avi"},
                                 dir.path());
    }
    ScratchDir dir;
};

TEST_F(AppInterruptTest, InterruptAsSoonAsTheOutputsAreOpened) {
    const pid_t pid = start();
    ASSERT_GT(pid, 0);
    // The moment the temporary files appear, before the library is initialised.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        seen = anyPartFile(dir);
        if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGINT);
    bool signalled = false;
    const AppResult r = kvotest::finishApp(pid, dir.path(), &signalled);
    ASSERT_TRUE(seen) << "the outputs were never opened: " << r.err;
    EXPECT_FALSE(signalled) << "the interrupt killed the program";
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_FALSE(anyPartFile(dir)) << "a temporary file was left behind";
    for (const std::string& f : dir.files(true)) {
        EXPECT_TRUE(f == "a.jsonl" || f == "s.png" || f == "p.png" || f == "v.avi") << f;
    }
}

TEST_F(AppInterruptTest, InterruptDuringTheRunKeepsTheFramesProcessed) {
    const pid_t pid = start();
    ASSERT_GT(pid, 0);
    // Wait for the first records, then interrupt.
    const std::string pending = dir / ("." + std::string("a.part-") + std::to_string(pid) + ".jsonl");
    for (int i = 0; i < 2000 && kvotest::readText(pending).size() < 2000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGINT);
    const AppResult r = kvotest::finishApp(pid, dir.path());
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.out.find("kestavo summary (interrupted)"), std::string::npos) << r.out;
    EXPECT_EQ(dir.files(true), (std::vector<std::string>{"a.jsonl", "p.png", "s.png", "v.avi"}));
    const size_t records = kvotest::lines(kvotest::readText(dir / "a.jsonl")).size();
    EXPECT_GT(records, 0u);
    EXPECT_LT(records, 4800u);
    EXPECT_NE(r.out.find("frames:      " + std::to_string(records) + " in"), std::string::npos) << r.out;
}

}  // namespace
