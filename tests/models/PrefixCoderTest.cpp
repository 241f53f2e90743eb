// The model encoder's coding: optimal length-limited code lengths, table shape, and
// round trips through the library's decoder on random, repetitive and edge texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "PrefixCoder.h"
#include "StreamChecks.h"
#include "models/ModelDecoder.h"

namespace {

std::uint64_t cost(const std::vector<std::uint64_t>& w, const std::vector<unsigned>& l) {
    std::uint64_t c = 0;
    for (std::size_t i = 0; i < w.size(); ++i) c += w[i] * l[i];
    return c;
}

double kraft(const std::vector<unsigned>& l) {
    double k = 0;
    for (unsigned x : l) k += std::ldexp(1.0, -static_cast<int>(x));
    return k;
}

// Least cost over every complete code with lengths in [lo, hi], by enumeration.
std::uint64_t bruteForce(const std::vector<std::uint64_t>& w, unsigned lo, unsigned hi) {
    std::vector<unsigned> l(w.size(), lo);
    std::uint64_t best = ~std::uint64_t(0);
    for (;;) {
        if (kraft(l) == 1.0) best = std::min(best, cost(w, l));
        std::size_t i = 0;
        while (i < l.size() && l[i] == hi) l[i++] = lo;
        if (i == l.size()) break;
        ++l[i];
    }
    return best;
}

TEST(CodeLengths, MatchExhaustiveSearchOnSmallAlphabets) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t n = 4 + trial % 4;
        std::vector<std::uint64_t> w(n);
        for (auto& x : w) x = rng() % (trial % 2 ? 1000 : 5);  // some runs with ties and zeros
        const unsigned lo = trial % 3 == 0 ? 1 : 2;
        const unsigned hi = 4 + trial % 2;
        const std::vector<unsigned> l = kvo::limitedCodeLengths(w, lo, hi);
        ASSERT_EQ(l.size(), n);
        EXPECT_EQ(kraft(l), 1.0);
        for (unsigned x : l) {
            EXPECT_GE(x, lo);
            EXPECT_LE(x, hi);
        }
        EXPECT_EQ(cost(w, l), bruteForce(w, lo, hi)) << "trial " << trial;
    }
}

TEST(CodeLengths, LimitBindsOnSkewedWeights) {
    // Fibonacci weights give an unconstrained Huffman code 19 levels deep.
    std::vector<std::uint64_t> w{1, 1};
    while (w.size() < 20) w.push_back(w[w.size() - 1] + w[w.size() - 2]);
    const std::vector<unsigned> l = kvo::limitedCodeLengths(w, 2, 8);
    ASSERT_EQ(l.size(), w.size());
    EXPECT_EQ(kraft(l), 1.0);
    EXPECT_EQ(*std::max_element(l.begin(), l.end()), 8u);
    EXPECT_EQ(*std::min_element(l.begin(), l.end()), 2u);  // the heaviest would get 1 bit unconstrained
    for (std::size_t i = 0; i + 1 < w.size(); ++i) EXPECT_GE(l[i], l[i + 1]) << "heavier got a longer code";
}

TEST(CodeLengths, SmallAndImpossibleInputs) {
    EXPECT_EQ(kvo::limitedCodeLengths({5}, 2, 17), std::vector<unsigned>{2});
    EXPECT_EQ(kvo::limitedCodeLengths({5, 0}, 2, 17), (std::vector<unsigned>{1, 1}));
    const std::vector<unsigned> three = kvo::limitedCodeLengths({1, 1, 1}, 2, 17);
    EXPECT_EQ(kraft(three), 1.0);  // complete, so the minimum gives way
    EXPECT_TRUE(kvo::limitedCodeLengths({}, 2, 17).empty());
    EXPECT_TRUE(kvo::limitedCodeLengths(std::vector<std::uint64_t>(5, 1), 2, 2).empty());  // 5 > 2^2
    EXPECT_TRUE(kvo::limitedCodeLengths({1, 2}, 3, 2).empty());
    EXPECT_TRUE(kvo::limitedCodeLengths({1, 2}, 1, 26).empty());
    EXPECT_EQ(kvo::limitedCodeLengths(std::vector<std::uint64_t>(4, 9), 2, 2), std::vector<unsigned>(4, 2));
}

// Encodes `text`, checks the table and the stream, and returns the decoded text.
std::string roundTrip(const std::string& text, unsigned lo = 2, unsigned hi = 17) {
    const kvo::PrefixCodeTable table = kvo::buildPrefixCode(text, lo, hi);
    std::string error;
    EXPECT_TRUE(kvo::checkPrefixCodeTable(table, error)) << error;
    EXPECT_TRUE(kvo_test::noZeroRunPossible(table));
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(kvo::encodeText(text, table, bytes, error)) << error;
    EXPECT_EQ(kvo_test::firstZeroWindow(bytes, text, table), text.size());
    // A complete code keeps the minimum unless too few symbols exist to fill it.
    const std::size_t n = table.symbols.size();
    unsigned shortest = lo;
    while (n > 1 && (std::size_t(1) << shortest) > n) --shortest;
    for (std::uint32_t len : table.codeLengths) {
        EXPECT_GE(len, shortest);
        EXPECT_LE(len, hi);
    }
    return kvo::decodeModel(bytes.data(), static_cast<std::uint32_t>(bytes.size()), table.symbols,
                            table.codes, table.codeLengths);
}

TEST(PrefixCoder, RoundTripsRandomTexts) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t size = rng() % 5000;
        const unsigned alphabet = 1 + rng() % 256;
        std::string text(size, '\0');
        for (char& c : text) c = static_cast<char>(rng() % alphabet);
        EXPECT_EQ(roundTrip(text), text) << "trial " << trial;
    }
}

TEST(PrefixCoder, RoundTripsRunsOfOneCharacter) {
    // The run that would show 32 zero bits if its symbol held the all-zero code.
    EXPECT_EQ(roundTrip(std::string(100000, ' ')), std::string(100000, ' '));
    EXPECT_EQ(roundTrip(std::string(3, '\0')), std::string(3, '\0'));
    const std::string mixed = std::string(50000, '0') + "1" + std::string(50000, '0') + "<x/>";
    EXPECT_EQ(roundTrip(mixed), mixed);
    // Dominant symbol among many: its code is held at the 2-bit minimum.
    std::string skewed(40000, 'a');
    for (int i = 0; i < 256; ++i) skewed += static_cast<char>(i);
    EXPECT_EQ(roundTrip(skewed), skewed);
}

TEST(PrefixCoder, RoundTripsEdgeTexts) {
    EXPECT_EQ(roundTrip(""), "");
    EXPECT_EQ(roundTrip("x"), "x");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(255 - i);
    EXPECT_EQ(roundTrip(all), all);
    EXPECT_EQ(roundTrip(all + all, 1, 9), all + all);  // 257 entries at most 9 bits long
    // Geometric frequencies under a tight limit.
    std::string geometric;
    for (int k = 0; k < 16; ++k) geometric += std::string(std::size_t(1) << k, static_cast<char>('a' + k));
    EXPECT_EQ(roundTrip(geometric, 2, 6), geometric);
}

TEST(PrefixCoder, TableShape) {
    const std::string text = "hello, model store";
    const kvo::PrefixCodeTable t = kvo::buildPrefixCode(text);
    ASSERT_FALSE(t.symbols.empty());
    EXPECT_TRUE(t.symbols.back().empty());  // the filler is last ...
    EXPECT_EQ(t.codes.back(), 0u);          // ... and holds the all-zero code
    for (std::size_t i = 0; i + 1 < t.codeLengths.size(); ++i) EXPECT_LE(t.codeLengths[i], t.codeLengths[i + 1]);
    // One entry per distinct byte, plus the filler.
    std::string distinct = text;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(t.symbols.size(), distinct.size() + 1);
}

TEST(PrefixCoder, EncodeRejectsBytesWithoutCode) {
    const kvo::PrefixCodeTable t = kvo::buildPrefixCode("abc");
    std::vector<unsigned char> out;
    std::string error;
    EXPECT_FALSE(kvo::encodeText("abd", t, out, error));
    EXPECT_NE(error.find("offset 2"), std::string::npos) << error;
}

TEST(PrefixCoder, TableCheckCatchesUnsoundTables) {
    const kvo::PrefixCodeTable good{{"a", "b", ""}, {1u, 1u, 0u}, {1u, 2u, 2u}};
    std::string error;
    EXPECT_TRUE(kvo::checkPrefixCodeTable(good, error)) << error;

    kvo::PrefixCodeTable t = good;
    t.codes = {1u, 3u, 0u};  // "a" = 1 is a prefix of "b" = 11
    EXPECT_FALSE(kvo::checkPrefixCodeTable(t, error));
    t = good;
    t.symbols = {"a", "b", "z"};  // the all-zero code on a symbol that occurs
    EXPECT_FALSE(kvo::checkPrefixCodeTable(t, error));
    t = good;
    t.codes = {1u, 1u, 2u};
    t.codeLengths = {1u, 2u, 3u};  // no all-zero code
    EXPECT_FALSE(kvo::checkPrefixCodeTable(t, error));
    t = good;
    t.codeLengths = {1u, 26u, 2u};  // longer than the window guarantees
    EXPECT_FALSE(kvo::checkPrefixCodeTable(t, error));
    t = good;
    t.codes.pop_back();
    EXPECT_FALSE(kvo::checkPrefixCodeTable(t, error));
}

TEST(StreamChecks, DetectAZeroRunAtABoundary) {
    // A table that gives a real symbol the all-zero code: a run of it must be caught.
    const kvo::PrefixCodeTable bad{{"0", "1", ""}, {0u, 1u, 1u}, {2u, 1u, 2u}};
    EXPECT_FALSE(kvo_test::noZeroRunPossible(bad));
    const kvo::PrefixCodeTable usable{{"0", "1"}, {0u, 1u}, {2u, 1u}};
    std::vector<unsigned char> bytes;
    std::string error;
    const std::string text = "1" + std::string(20, '0') + "1";
    ASSERT_TRUE(kvo::encodeText(text, usable, bytes, error)) << error;
    EXPECT_EQ(kvo_test::firstZeroWindow(bytes, text, usable), 1u);
}

}  // namespace
