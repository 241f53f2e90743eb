// How the kestavo program reads its input: a path is opened as given even when its
// name holds glob characters, and stills that cannot be decoded are skipped alike
// wherever they come in a folder.
#include <gtest/gtest.h>

#include <fstream>

#include "AppRunner.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::ScratchDir;

class AppInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(kvotest::mediaPath("audrey.jpg"))) GTEST_SKIP() << "sample media not installed";
    }
    void link(const std::string& media, const std::string& name) {
        ASSERT_EQ(symlink(kvotest::mediaPath(media).c_str(), (inputs / name).c_str()), 0) << name;
    }
    void junk(const std::string& name) { std::ofstream(inputs / name) << "not an image\n"; }
    ScratchDir dir, inputs;
};

TEST_F(AppInputTest, ExistingPathWithGlobCharactersIsOpenedAsGiven) {
    link("audrey.jpg", "clip[1].jpg");
    link("cage.jpg", "what?.jpg");
    for (const char* name : {"clip[1].jpg", "what?.jpg"}) {
        const AppResult r = kvotest::runApp({inputs / name, "--mode", "detection"}, dir.path());
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_NE(r.out.find("pictures:    1 in"), std::string::npos) << name << ": " << r.out;
    }
    // A pattern that names no file is still a pattern.
    const AppResult r = kvotest::runApp({inputs / "*.jpg", "--mode", "detection"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("pictures:    2 in"), std::string::npos) << r.out;
}

TEST_F(AppInputTest, UndecodableStillsAreSkippedFirstOrLater) {
    junk("a_first.png");
    link("audrey.jpg", "b.jpg");
    junk("c_later.jpg");
    link("cage.jpg", "d.jpg");
    const AppResult r = kvotest::runApp({inputs.path(), "--mode", "detection"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    // The skipped stills count among the pictures, so the summary's figures add up.
    EXPECT_NE(r.out.find("pictures:    4 in"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" of 4 pictures; 2 skipped: " + inputs.path() + "/a_first.png (cannot be decoded), " +
                         inputs.path() + "/c_later.jpg (cannot be decoded)"),
              std::string::npos)
        << r.out;
    const std::vector<std::string> warnings = kvotest::lines(r.err);
    ASSERT_EQ(warnings.size(), 2u) << r.err;
    EXPECT_NE(warnings[0].find("Warning: skipping '" + inputs.path() + "/a_first.png'"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("Warning: skipping '" + inputs.path() + "/c_later.jpg'"), std::string::npos) << warnings[1];
}

TEST_F(AppInputTest, FolderWithNoDecodableStillIsOneError) {
    junk("a.png");
    junk("b.jpg");
    const AppResult r = kvotest::runApp({inputs.path()}, dir.path());
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> errLines = kvotest::lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_EQ(errLines[0].compare(0, 7, "Error: "), 0) << errLines[0];
    EXPECT_NE(errLines[0].find(inputs.path()), std::string::npos) << errLines[0];
}

}  // namespace
