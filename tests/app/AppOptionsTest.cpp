// kestavo's command line on the shared parser: the parser's refusals keep the program's
// own wording (the argument quoted as typed, the way to give a file named like an
// option), and options that were not given stay empty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppError.h"
#include "Options.h"

namespace {

kvo::app::Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "kestavo");
    return kvo::app::parseOptions(static_cast<int>(args.size()), args.data());
}

std::string refusal(std::vector<const char*> args) {
    try {
        parse(args);
    } catch (const kvo::app::AppError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(AppOptionsTest, RefusalsQuoteTheArgumentAsTyped) {
    EXPECT_EQ(refusal({"--frobnicate=3"}), "unknown option '--frobnicate=3' (see --help)");
    EXPECT_EQ(refusal({"--frobnicate"}), "unknown option '--frobnicate' (see --help)");
    EXPECT_EQ(refusal({"-x"}), "unknown option '-x' (see --help)");
    // A switch given a value is no option the program knows; the switch before it was fine.
    EXPECT_EQ(refusal({"--quiet", "--quiet=yes"}), "unknown option '--quiet=yes' (see --help)");
    EXPECT_EQ(refusal({"--max-frames"}), "option --max-frames needs a value");
    EXPECT_EQ(refusal({"--jsonl", "--quiet"}),
              "option --jsonl needs a value, not the option '--quiet' (a file so named can be given as ./--quiet)");
    EXPECT_EQ(refusal({"--library=--x"}),
              "option --library needs a value, not the option '--x' (a file so named can be given as ./--x)");
    EXPECT_EQ(refusal({"--candide", "maybe"}), "bad value 'maybe' for --candide: expected on or off");
}

TEST(AppOptionsTest, WhatIsNotGivenStaysEmpty) {
    const kvo::app::Options none = parse({});
    EXPECT_FALSE(none.maxFrames || none.repeat || none.roi || none.eyes || none.tracking || none.pointVars);
    EXPECT_FALSE(none.detector.anyVars() || none.detector.region || none.checkPointsValid || none.sheetTiles);
    EXPECT_EQ(none.detector.vars().startScale, 4.0);  // the library's default is what is sent

    const kvo::app::Options given =
        parse({"--max-frames=7", "--step-factor", "0.05", "--window", "21", "--check-points", "off", "clip.mp4"});
    EXPECT_EQ(given.maxFrames.value_or(0), 7);
    EXPECT_TRUE(given.detector.anyVars());
    EXPECT_EQ(given.detector.vars().stepFactor, 0.05);
    EXPECT_EQ(given.detector.vars().minDetections, 12);
    ASSERT_TRUE(given.pointVars.has_value());
    EXPECT_EQ(given.pointVars->window, 21);
    EXPECT_EQ(given.pointVars->levels, 4);
    EXPECT_EQ(given.checkPointsValid, std::optional<bool>(false));
    EXPECT_EQ(given.inputs, std::vector<std::string>{"clip.mp4"});
}

}  // namespace
