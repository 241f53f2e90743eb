// The kestavo program and the learned landmark refinement: on by default, off with
// --no-refine, and the summary says which, in agreement with what the library itself
// reported when it was asked. The tests hold whether or not the built library embeds a
// refiner model: without one the library refuses the refinement with one error line, the
// summary says so, and the landmarks are those of the default search; with one the
// summary says it is on and the landmarks move.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "AppError.h"
#include "AppChecks.h"
#include "AppRunner.h"
#include "Options.h"
#include "support/MediaFrames.h"

namespace {

using kvotest::AppResult;
using kvotest::readRecords;
using kvotest::ScratchDir;

const char* const kOnWords = "refinement:  the landmark refinement is on (kvo_setFaceTrackingVars argument 4 true)";
const char* const kOffWords = "refinement:  the landmark refinement is off (--no-refine)";
const char* const kNoModelWords =
    "refinement:  the landmark refinement is off: asked for (kvo_setFaceTrackingVars argument 4 true), but the "
    "library has no refiner model";

kvo::app::Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "kestavo");
    return kvo::app::parseOptions(static_cast<int>(args.size()), args.data());
}

// The library's error lines about the refinement in a run's standard output.
std::vector<std::string> refinementErrors(const std::string& out) {
    std::vector<std::string> found;
    for (const std::string& line : kvotest::lines(out)) {
        if (line.rfind("Error: ", 0) == 0 && line.find("refine") != std::string::npos) found.push_back(line);
    }
    return found;
}

// Whether the library took the refinement, as the default run's summary says; checks
// that the summary and the library's own lines agree, and that the refusal line comes
// before the summary (passed through where the library wrote it).
bool expectSummaryAgreesWithTheLibrary(const AppResult& r) {
    const std::vector<std::string> errors = refinementErrors(r.out);
    const bool on = r.out.find(kOnWords) != std::string::npos;
    const bool noModel = r.out.find(kNoModelWords) != std::string::npos;
    EXPECT_NE(on, noModel) << "the summary must say one of the two:\n" << r.out;
    if (on) {
        EXPECT_TRUE(errors.empty()) << "the summary says on, but the library said:\n" << r.out;
    } else {
        EXPECT_EQ(errors.size(), 1u) << r.out;
        EXPECT_LT(r.out.find("Error: "), r.out.find("kestavo summary")) << r.out;
    }
    return on;
}

TEST(AppRefineOptionsTest, OnByDefaultOffWithNoRefine) {
    EXPECT_TRUE(parse({}).refine);
    EXPECT_TRUE(parse({"--fine-search", "0"}).refine);
    const kvo::app::Options off = parse({"--no-refine", "--fine-search", "1"});
    EXPECT_FALSE(off.refine);
    ASSERT_TRUE(off.tracking.has_value());
    EXPECT_EQ(off.tracking->fineSearchLevel, 1);
    // --no-refine alone is no tracking option: the other four arguments stay unsent.
    EXPECT_FALSE(parse({"--no-refine"}).tracking.has_value());
    // A switch takes no value.
    EXPECT_THROW(parse({"--no-refine=on"}), kvo::app::AppError);
}

TEST(AppRefineOptionsTest, HelpNamesTheOptionAndTheDefault) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--help"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--no-refine             no learned landmark refinement after the shape search"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("without it the refinement is on"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kvo_setFaceTrackingVars argument 4 true"), std::string::npos) << r.out;
}

TEST(AppRefineOptionsTest, NoRefineWithAValueIsOneError) {
    ScratchDir dir;
    const AppResult r = kvotest::runApp({"--no-refine=off"}, dir.path());
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> err = kvotest::lines(r.err);
    ASSERT_EQ(err.size(), 1u) << r.err;
    EXPECT_EQ(err[0], "Error: unknown option '--no-refine=off' (see --help)");
}

class AppRefineRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvotest::fileExists(kvotest::mediaPath("franck.mp4"))) GTEST_SKIP() << "sample media not installed";
    }
    ScratchDir dir;
};

TEST_F(AppRefineRunTest, SummarySaysWhetherTheRefinementIsOn) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    const AppResult byDefault = kvotest::runApp({clip, "--max-frames", "3", "--no-progress"}, dir.path());
    ASSERT_EQ(byDefault.status, 0) << byDefault.err;
    expectSummaryAgreesWithTheLibrary(byDefault);
    EXPECT_EQ(byDefault.out.find(kOffWords), std::string::npos) << byDefault.out;

    const AppResult off = kvotest::runApp({clip, "--max-frames", "3", "--no-progress", "--no-refine"}, dir.path());
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_NE(off.out.find(kOffWords), std::string::npos) << off.out;
    EXPECT_EQ(off.out.find("Error: "), std::string::npos) << off.out;
    EXPECT_TRUE(off.err.empty()) << off.err;

    // Other tracking options do not change it: the refinement still goes with them.
    const AppResult fine = kvotest::runApp({clip, "--max-frames", "3", "--no-progress", "--fine-search", "1"}, dir.path());
    ASSERT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(expectSummaryAgreesWithTheLibrary(fine), byDefault.out.find(kOnWords) != std::string::npos);
}

TEST_F(AppRefineRunTest, OnlyModesThatFitAShapeStateIt) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    const AppResult detection = kvotest::runApp({clip, "--max-frames", "2", "--no-progress", "--mode", "detection"},
                                                dir.path());
    ASSERT_EQ(detection.status, 0) << detection.err;
    EXPECT_EQ(detection.out.find("refinement:"), std::string::npos) << detection.out;
    const AppResult eyes = kvotest::runApp(
        {clip, "--max-frames", "2", "--no-progress", "--mode", "eyes", "--eyes", "160,130,205,130"}, dir.path());
    ASSERT_EQ(eyes.status, 0) << eyes.err;
    expectSummaryAgreesWithTheLibrary(eyes);
}

TEST_F(AppRefineRunTest, StillsSummaryStatesItToo) {
    const std::string still = kvotest::mediaPath("franck_01829.jpg");
    if (!kvotest::fileExists(still)) GTEST_SKIP() << "sample media not installed";
    const AppResult on = kvotest::runApp({still, "--no-progress"}, dir.path());
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_NE(on.out.find("each a scene of its own"), std::string::npos) << on.out;
    expectSummaryAgreesWithTheLibrary(on);
    const AppResult off = kvotest::runApp({still, "--no-progress", "--no-refine"}, dir.path());
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_NE(off.out.find(kOffWords), std::string::npos) << off.out;
    const AppResult detection = kvotest::runApp({still, "--no-progress", "--mode", "detection"}, dir.path());
    ASSERT_EQ(detection.status, 0) << detection.err;
    EXPECT_EQ(detection.out.find("refinement:"), std::string::npos) << detection.out;
}

// The fifth argument reaches the library: with a refiner model the tracked landmarks move
// against --no-refine on the same frames; without one (the library refused it) they are
// the default search's, bit for bit.
TEST_F(AppRefineRunTest, LandmarksMoveExactlyWhenTheLibraryTookIt) {
    const std::string clip = kvotest::mediaPath("franck.mp4");
    const AppResult byDefault =
        kvotest::runApp({clip, "--max-frames", "40", "--no-progress", "--jsonl", "on.jsonl"}, dir.path());
    ASSERT_EQ(byDefault.status, 0) << byDefault.err;
    const bool on = expectSummaryAgreesWithTheLibrary(byDefault);
    const AppResult off =
        kvotest::runApp({clip, "--max-frames", "40", "--no-progress", "--no-refine", "--jsonl", "off.jsonl"}, dir.path());
    ASSERT_EQ(off.status, 0) << off.err;
    const auto a = readRecords(dir / "on.jsonl"), b = readRecords(dir / "off.jsonl");
    ASSERT_EQ(a.size(), 40u);
    ASSERT_EQ(b.size(), 40u);
    int compared = 0, moved = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const rapidjson::Value& la = (*a[i])["landmarks"];
        const rapidjson::Value& lb = (*b[i])["landmarks"];
        if (!la.IsArray() || !lb.IsArray()) {
            EXPECT_EQ(la.IsArray(), lb.IsArray()) << "frame " << i;
            continue;
        }
        ASSERT_EQ(la.Size(), lb.Size());
        ++compared;
        bool same = true;
        for (rapidjson::SizeType k = 0; k < la.Size(); ++k) {
            same = same && la[k][0].GetDouble() == lb[k][0].GetDouble() && la[k][1].GetDouble() == lb[k][1].GetDouble();
        }
        moved += same ? 0 : 1;
    }
    ASSERT_GT(compared, 20) << "too few frames with a shape in both runs to compare";
    if (on) {
        EXPECT_GT(moved, 0) << "the refinement is on, yet no landmark moved in " << compared << " frames";
    } else {
        EXPECT_EQ(moved, 0) << "refused, yet " << moved << " of " << compared << " frames differ from --no-refine";
    }
}

}  // namespace
