// Number formatting and reading, the splitter, the line search and the space
// normaliser used to read the embedded model texts.
#include "util/StringUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/CoutCapture.h"
#include "util/Trace.h"

using kvo_test::CoutCapture;
using Tokens = std::vector<std::string>;

TEST(ToString, DoublesUseSixSignificantDigits) {
    EXPECT_EQ("0.5", kvo::to_string(0.5));
    EXPECT_EQ("1e+06", kvo::to_string(1000000.0));
    EXPECT_EQ("1e-05", kvo::to_string(0.00001));
    EXPECT_EQ("0.0001", kvo::to_string(0.0001));
    EXPECT_EQ("123456", kvo::to_string(123456.0));
    EXPECT_EQ("1.23457e+06", kvo::to_string(1234567.0));
    EXPECT_EQ("0.333333", kvo::to_string(1.0 / 3));
    EXPECT_EQ("-2.5", kvo::to_string(-2.5));
    EXPECT_EQ("0", kvo::to_string(0.0));
    EXPECT_EQ("1.79769e+308", kvo::to_string(1.7976931348623157e308));
}

TEST(ToString, IntegersAreDecimal) {
    EXPECT_EQ("123456", kvo::to_string(123456));
    EXPECT_EQ("1234567", kvo::to_string(1234567));
    EXPECT_EQ("-42", kvo::to_string(-42));
    EXPECT_EQ("0", kvo::to_string(0));
}

TEST(StringToNumber, ReadersStopAtTheFirstForeignCharacter) {
    EXPECT_EQ(12, kvo::stringToInt("12abc"));
    EXPECT_EQ(3, kvo::stringToInt("3.7"));
    EXPECT_EQ(-8, kvo::stringToInt("  -8"));
    EXPECT_EQ(12.0, kvo::stringToDouble("12abc"));
    EXPECT_EQ(3.7, kvo::stringToDouble("3.7"));
    EXPECT_EQ(-0.25, kvo::stringToDouble("\t-2.5e-1 rest"));
}

TEST(StringToNumber, UnsignedIsHexadecimal) {
    EXPECT_EQ(255u, kvo::stringToUint("ff"));
    EXPECT_EQ(255u, kvo::stringToUint("0xff"));
    EXPECT_EQ(255u, kvo::stringToUint("FF"));
    EXPECT_EQ(0x10u, kvo::stringToUint("10"));
    EXPECT_EQ(0x80000000u, kvo::stringToUint("80000000"));
    EXPECT_EQ(0u, kvo::stringToUint("0"));
}

TEST(StringToNumber, TextWithoutANumberGivesZero) {
    for (const char* s : {"", "   ", "abc", "-", "."}) {
        EXPECT_EQ(0, kvo::stringToInt(s)) << '"' << s << '"';
        EXPECT_EQ(0.0, kvo::stringToDouble(s)) << '"' << s << '"';
    }
    EXPECT_EQ(0u, kvo::stringToUint(""));
    EXPECT_EQ(0u, kvo::stringToUint("xyz"));
}

TEST(BinaryString, MostSignificantDigitFirst) {
    EXPECT_EQ("0", kvo::uintToBinaryString(0));
    EXPECT_EQ("1", kvo::uintToBinaryString(1));
    EXPECT_EQ("101", kvo::uintToBinaryString(5));
    EXPECT_EQ("10000000", kvo::uintToBinaryString(128));
    EXPECT_EQ("11111111111111111111111111111111", kvo::uintToBinaryString(0xFFFFFFFFul));
    EXPECT_EQ("10000000000000000000000000000000", kvo::uintToBinaryString(0x80000000ul));
}

TEST(SplitString, KeepEmptyKeepsInnerButNotTrailingEmptyTokens) {
    kvo::SplitString s("a,,b,");
    EXPECT_TRUE(s.tokens.empty());
    EXPECT_EQ(Tokens({"a", "", "b"}), s.split(',', true));
    EXPECT_EQ(Tokens({"a", "b"}), s.split(',', false));
    EXPECT_EQ(Tokens({"a", "b"}), s.tokens);  // the last split replaces the first
}

TEST(SplitString, EdgeTexts) {
    EXPECT_TRUE(kvo::SplitString("").split(',', true).empty());
    EXPECT_EQ(Tokens({""}), kvo::SplitString(",").split(',', true));
    EXPECT_TRUE(kvo::SplitString(",").split(',', false).empty());
    EXPECT_EQ(Tokens({"", "x"}), kvo::SplitString(",x").split(',', true));
    EXPECT_EQ(Tokens({"abc"}), kvo::SplitString("abc").split(',', true));
    EXPECT_EQ(Tokens({"a", "b"}), kvo::SplitString("  a  b ").split(' ', false));
}

TEST(SplitString, LinesWithAnEmptyLine) {
    EXPECT_EQ(Tokens({"x", "", "y"}), kvo::SplitString("x\n\ny\n").split('\n', true));
    EXPECT_EQ(Tokens({"x", "y"}), kvo::SplitString("x\n\ny\n").split('\n', false));
    // Only the delimiter splits; other white space stays in the tokens.
    EXPECT_EQ(Tokens({"a b", " c"}), kvo::SplitString("a b\n c").split('\n', true));
}

TEST(GetLineIndexOf, FindsTheFirstLineStartingWithTheKey) {
    std::vector<std::string> lines{"# VERTEX LIST", "1 2 3", " # FACE LIST", "# FACE LIST",
                                   "# FACE LIST again"};
    CoutCapture out;
    EXPECT_EQ(3, kvo::getLineIndexOf("# FACE LIST", lines));
    EXPECT_EQ(0, kvo::getLineIndexOf("# VERTEX", lines));
    EXPECT_EQ(1, kvo::getLineIndexOf("1 2", lines));
    EXPECT_EQ("", out.text());
}

TEST(GetLineIndexOf, MissingKeyIsReportedWithTheDoubledPrefix) {
    std::vector<std::string> lines{" # FACE LIST", "# FACE"};
    CoutCapture out;
    EXPECT_EQ(-1, kvo::getLineIndexOf("# FACE LIST", lines));
    EXPECT_EQ("Error: Error: getLineIndexOf: # FACE LIST not found.\n", out.text());

    std::vector<std::string> none;
    EXPECT_EQ(-1, kvo::getLineIndexOf("x", none));
    EXPECT_EQ(2, out.lines());
}

TEST(NormalizeSpaces, CollapsesRunsAndTrims) {
    EXPECT_EQ("1 2.5 3", kvo::normalizeSpaces("  1 \t 2.5\t\t  3  "));
    EXPECT_EQ("a b", kvo::normalizeSpaces("a\r\nb\r"));
    EXPECT_EQ("word", kvo::normalizeSpaces("word"));
    EXPECT_EQ("", kvo::normalizeSpaces("     "));
    EXPECT_EQ("", kvo::normalizeSpaces(" \t \n "));
    EXPECT_EQ("", kvo::normalizeSpaces(""));
}

TEST(Trace, WritesOneFlushedLine) {
    CoutCapture out;
    kvo::trace("hello 1");
    kvo::Err("bad value 2.5");
    kvo::trace("");
    EXPECT_EQ("hello 1\nError: bad value 2.5\n\n", out.text());
}
