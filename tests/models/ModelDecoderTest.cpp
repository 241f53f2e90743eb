// The decoder on hand-made tables and streams: where decoding stops, first-match table
// order, and that no byte beyond the length word is ever read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "models/ModelDecoder.h"

namespace {

struct Table {
    std::vector<std::string> symbols;
    std::vector<std::uint32_t> codes;
    std::vector<std::uint32_t> lengths;
};

// Entry 0: "A" with the 1-bit code 0; entry 1: "B" with the 1-bit code 1.
Table twoEntries() { return {{"A", "B"}, {0u, 1u}, {1u, 1u}}; }

std::string decode(const std::vector<unsigned char>& bytes, const Table& t) {
    return kvo::decodeModel(bytes.data(), static_cast<std::uint32_t>(bytes.size()), t.symbols, t.codes, t.lengths);
}

// Exactly `bytes.size()` bytes on the heap, so that an over-read is caught by the
// address sanitizer in that build.
std::string decodeExact(const std::vector<unsigned char>& bytes, const Table& t) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    return kvo::decodeModel(bytes.empty() ? nullptr : exact.get(), static_cast<std::uint32_t>(bytes.size()),
                            t.symbols, t.codes, t.lengths);
}

TEST(ModelDecoder, LeadingOneBitDecodesOneSymbolThenStopsOnZeroWindow) {
    EXPECT_EQ(decode({0x80, 0x00, 0x00, 0x00}, twoEntries()), "B");
}

TEST(ModelDecoder, ZeroCodeMatchesBeforeTheOneCode) {
    EXPECT_EQ(decode({0x40, 0x00, 0x00, 0x00}, twoEntries()), "AB");
}

TEST(ModelDecoder, AllZeroFirstWordGivesEmptyText) {
    EXPECT_EQ(decode({0x00, 0x00, 0x00, 0x00, 0xff, 0xff}, twoEntries()), "");
}

TEST(ModelDecoder, RefillsTheWindowByteByByte) {
    // 40 one-bits then zeros: the window must be refilled to see the last 8 of them.
    EXPECT_EQ(decode({0xff, 0xff, 0xff, 0xff, 0xff, 0x00}, twoEntries()), std::string(40, 'B'));
    // A zero code between ones, straddling the first refill: 31 ones, 0, 1.
    EXPECT_EQ(decode({0xff, 0xff, 0xff, 0xfe, 0x80}, twoEntries()), std::string(31, 'B') + "AB");
}

TEST(ModelDecoder, ScansTheTableFromTheFirstEntryForEverySymbol) {
    // Not a prefix code: "a" (1) shadows "b" (11), so the top bits 11 give "aa".
    const Table shadow{{"a", "b"}, {1u, 3u}, {1u, 2u}};
    EXPECT_EQ(decode({0xc0, 0, 0, 0}, shadow), "aa");
    // Variable lengths: x = 1, y = 01, z = 001; bits 1 01 001 1 -> 1010 0110.
    const Table xyz{{"x", "y", "z"}, {1u, 1u, 1u}, {1u, 2u, 3u}};
    EXPECT_EQ(decode({0xa6, 0, 0, 0}, xyz), "xyzx");
}

TEST(ModelDecoder, StopsWhenNoEntryMatches) {
    const Table onlyOne{{"B"}, {1u}, {1u}};
    EXPECT_EQ(decode({0xc0, 0x40, 0, 0}, onlyOne), "BB");
}

TEST(ModelDecoder, SymbolsMayBeLongerThanOneByte) {
    const Table crlf{{"\r\n", "x"}, {1u, 1u}, {1u, 2u}};
    EXPECT_EQ(decode({0xa0, 0, 0, 0}, crlf), "\r\nx");
}

TEST(ModelDecoder, NeverReadsPastTheLengthWord) {
    // Forty ones inside the length word, then bytes that would decode to sixteen more
    // symbols if the window were refilled from them.
    std::vector<unsigned char> bytes(7, 0xff);
    const Table t = twoEntries();
    EXPECT_EQ(kvo::decodeModel(bytes.data(), 5, t.symbols, t.codes, t.lengths), std::string(40, 'B'));
    // The refill that needs byte 4 happens after 32 bits; a length word of 4 leaves
    // zeros there, so the poison in bytes 4.. never shows.
    std::vector<unsigned char> full{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    EXPECT_EQ(kvo::decodeModel(full.data(), 4, t.symbols, t.codes, t.lengths), std::string(32, 'B'));
    EXPECT_EQ(decodeExact({0xff, 0xff, 0xff, 0xff, 0xf0}, t), std::string(36, 'B'));
}

TEST(ModelDecoder, ShortArraysReadOnlyTheirOwnBytes) {
    const Table t = twoEntries();
    EXPECT_EQ(decodeExact({}, t), "");
    EXPECT_EQ(decodeExact({0x80}, t), "B");
    // Bits 0100 0000 1100 0000: the zero code matches while the window is non-zero.
    EXPECT_EQ(decodeExact({0x40, 0xc0}, t), "ABAAAAAABB");
    EXPECT_EQ(kvo::decodeModel(nullptr, 0, t.symbols, t.codes, t.lengths), "");
}

TEST(ModelDecoder, InvalidTablesDecodeSafely) {
    // A zero-length entry never matches (it would shift by 32 bits).
    const Table zeroLength{{"q", "B"}, {0u, 1u}, {0u, 1u}};
    EXPECT_EQ(decode({0x80, 0, 0, 0}, zeroLength), "B");
    // Vectors of unequal length: only the entries all three have are used.
    const Table ragged{{"A", "B"}, {0u, 1u}, {1u}};
    EXPECT_EQ(decode({0x40, 0, 0, 0}, ragged), "A");
    // A 32-bit code fills the whole window.
    const Table wide{{"W"}, {0xdeadbeefu}, {32u}};
    EXPECT_EQ(decode({0xde, 0xad, 0xbe, 0xef}, wide), "W");
    // An empty table decodes nothing.
    EXPECT_EQ(decode({0xff, 0xff, 0xff, 0xff}, Table{}), "");
}

}  // namespace
