// The strict option parser: what it accepts, what it refuses and how a refusal reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"

using kvo::cli::CommandLine;
using kvo::cli::UsageError;

namespace {

// Parses `args` (the program name is added) and returns the refusal, or "" when none.
std::string refusal(const CommandLine& line, std::vector<const char*> args) {
    args.insert(args.begin(), "prog");
    try {
        line.parse(static_cast<int>(args.size()), args.data());
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

struct Settings {
    std::string out = "out";
    int stride = 4;
    long frames = 0;
    double scale = 1.0;
    bool quiet = false;
    std::vector<std::string> inputs;
};

CommandLine lineFor(Settings& s, bool takesArguments) {
    CommandLine line;
    line.text("--out", s.out)
        .integer("--stride", s.stride, 1, 1000)
        .integer("--frames", s.frames, -5, 1000000)
        .number("--scale", s.scale, 0.25, 4.0)
        .flag("--quiet", [&s] { s.quiet = true; });
    if (takesArguments) line.arguments([&s](const std::string& a) { s.inputs.push_back(a); });
    return line;
}

}  // namespace

TEST(CommandLine, ReadsValuesInBothFormsAndFlagsAndArguments) {
    Settings s;
    const CommandLine line = lineFor(s, true);
    EXPECT_EQ(refusal(line, {"--out", "dir", "--stride=8", "a.mp4", "--frames", "-5", "--scale", "0.5",
                             "--quiet", "b.mp4"}),
              "");
    EXPECT_EQ(s.out, "dir");
    EXPECT_EQ(s.stride, 8);
    EXPECT_EQ(s.frames, -5);  // a value may be a negative number
    EXPECT_EQ(s.scale, 0.5);
    EXPECT_TRUE(s.quiet);
    EXPECT_EQ(s.inputs, (std::vector<std::string>{"a.mp4", "b.mp4"}));
}

TEST(CommandLine, RefusesWhatItDoesNotKnowOrCannotRead) {
    Settings s;
    const CommandLine line = lineFor(s, false);
    EXPECT_EQ(refusal(line, {"--strides", "4"}), "unknown option '--strides'");
    EXPECT_EQ(refusal(line, {"-x"}), "unknown option '-x'");
    EXPECT_EQ(refusal(line, {"a.mp4"}), "unexpected argument 'a.mp4' (options start with --)");
    // A trailing option without its value is not dropped silently.
    EXPECT_EQ(refusal(line, {"--out", "d", "--stride"}), "option --stride needs a value");
    // Nor does an option swallow the next option as its value.
    EXPECT_EQ(refusal(line, {"--out", "--stride", "4"}), "option --out needs a value, not '--stride'");
    EXPECT_EQ(refusal(line, {"--out=--stride"}), "option --out needs a value, not '--stride'");
    EXPECT_EQ(refusal(line, {"--quiet=yes"}), "option --quiet takes no value");
}

TEST(CommandLine, ReadsNumbersWhollyAndWithinTheirRange) {
    Settings s;
    const CommandLine line = lineFor(s, false);
    for (const char* bad : {"", "4x", "x4", " 4", "+4", "4.0", "1e2", "0x10", "99999999999999999999"}) {
        EXPECT_EQ(refusal(line, {"--stride", bad}), std::string("bad value '") + bad + "' for --stride: expected a whole number")
            << '"' << bad << '"';
    }
    EXPECT_EQ(refusal(line, {"--stride", "0"}), "bad value '0' for --stride: expected a whole number from 1 to 1000");
    EXPECT_EQ(refusal(line, {"--stride", "1001"}), "bad value '1001' for --stride: expected a whole number from 1 to 1000");
    for (const char* bad : {"", "0.5x", "nan", "inf", "-inf", " 1", "1e999", ","}) {
        EXPECT_EQ(refusal(line, {"--scale", bad}), std::string("bad value '") + bad + "' for --scale: expected a finite number")
            << '"' << bad << '"';
    }
    EXPECT_EQ(refusal(line, {"--scale", "4.5"}), "bad value '4.5' for --scale: expected a number from 0.25 to 4");
    // Nothing was stored by the refused values.
    EXPECT_EQ(s.stride, 4);
    EXPECT_EQ(s.scale, 1.0);
    EXPECT_EQ(refusal(line, {"--stride", "1000", "--scale", ".25", "--scale=-0"}), "bad value '-0' for --scale: expected a number from 0.25 to 4");
    EXPECT_EQ(s.stride, 1000);
    EXPECT_EQ(s.scale, 0.25);
}

TEST(CommandLine, SwitchesAndNumberListsAreStrict) {
    EXPECT_TRUE(kvo::cli::toSwitch("--x", "on"));
    EXPECT_FALSE(kvo::cli::toSwitch("--x", "0"));
    EXPECT_THROW(kvo::cli::toSwitch("--x", "maybe"), UsageError);
    EXPECT_EQ(kvo::cli::toNumbers("--roi", "1,2.5,-3,4", 4), (std::vector<double>{1, 2.5, -3, 4}));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,,3,4", "1,2,3,x", "1,2,3,nan"}) {
        EXPECT_THROW(kvo::cli::toNumbers("--roi", bad, 4), UsageError) << bad;
    }
}

TEST(CommandLine, AnOptionNameIsRegisteredOnce) {
    CommandLine line;
    line.flag("--quiet", [] {});
    EXPECT_THROW(line.flag("--quiet", [] {}), std::logic_error);
    EXPECT_THROW(line.option("quiet", [](const std::string&, const std::string&) {}), std::logic_error);
}

TEST(CommandLine, AMistakeIsOneErrorLineOnStandardErrorAndStatusTwo) {
    testing::internal::CaptureStderr();
    const int status = kvo::cli::reportUsageError(UsageError("option --stride needs a value"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: option --stride needs a value\n");
    EXPECT_EQ(status, 2);
}
