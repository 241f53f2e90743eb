// The decoder on hand-made tables and streams: where decoding stops, first-match table
// order, and that no byte beyond the length word is ever read.
#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

// The decoder's rule written as plainly as it reads: at each symbol boundary, scan the
// table from its first entry for a code equal to the window's top bits.
std::string scanningDecode(const std::vector<unsigned char>& bytes, const Table& t) {
    std::string out;
    const std::size_t n = std::min(t.symbols.size(), std::min(t.codes.size(), t.lengths.size()));
    std::uint64_t window = 0;
    for (std::uint32_t k = 0; k < 4; ++k) window |= static_cast<std::uint64_t>(k < bytes.size() ? bytes[k] : 0) << (24 - 8 * k);
    std::size_t next = 4;
    std::uint32_t pending = 0;
    for (;;) {
        if ((window & 0xffffffffu) == 0) return out;
        std::size_t i = 0;
        for (; i < n; ++i) {
            const std::uint32_t w = t.lengths[i];
            if (w >= 1 && w <= 32 && ((window & 0xffffffffu) >> (32 - w)) == t.codes[i]) break;
        }
        if (i == n) return out;
        out += t.symbols[i];
        window = (window << t.lengths[i]) & 0xffffffffu;
        std::uint32_t bits = t.lengths[i] + pending;
        while (bits >= 8) {
            if (next < bytes.size()) window += static_cast<std::uint64_t>(bytes[next++]) << (bits - 8);
            bits -= 8;
        }
        pending = bits;
    }
}

// Random tables (prefix codes or not: repeated codes, codes wider than their length,
// lengths of 0 and above 32, long codes sharing short ones' bits) on random streams give
// what the plain scan gives.
TEST(ModelDecoder, AgreesWithThePlainScanOnArbitraryTables) {
    std::uint64_t state = 12345;
    auto rnd = [&state](std::uint32_t below) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>((state >> 33) % below);
    };
    for (int round = 0; round < 2000; ++round) {
        Table t;
        const int entries = 1 + static_cast<int>(rnd(40));
        for (int e = 0; e < entries; ++e) {
            const std::uint32_t w = rnd(10) == 0 ? rnd(40) : 1 + rnd(20);
            const std::uint32_t code = w == 0 ? rnd(4) : (w >= 32 ? rnd(0xffffffffu) : rnd(1u << w) + (rnd(12) == 0 ? (1u << w) : 0));
            t.symbols.push_back(std::string(1 + rnd(2), static_cast<char>('a' + e % 26)));
            t.codes.push_back(code);
            t.lengths.push_back(w);
        }
        if (rnd(2) == 0) {
            // Longest codes first: a long code is then the first to match windows that a
            // later short code would also match.
            std::vector<std::size_t> order(t.codes.size());
            for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
            std::stable_sort(order.begin(), order.end(),
                             [&t](std::size_t a, std::size_t b) { return t.lengths[a] > t.lengths[b]; });
            Table sorted;
            for (std::size_t k : order) {
                sorted.symbols.push_back(t.symbols[k]);
                sorted.codes.push_back(t.codes[k]);
                sorted.lengths.push_back(t.lengths[k]);
            }
            t = sorted;
        }
        if (rnd(5) == 0) t.symbols.pop_back();  // vectors of different lengths
        // Mostly the table's own codes back to back (so long codes do come up), with some
        // random bits between them.
        std::vector<unsigned char> bytes;
        std::uint64_t bits = 0;
        int held = 0;
        for (int k = rnd(40); k > 0; --k) {
            const std::size_t e = rnd(static_cast<std::uint32_t>(t.codes.size()));
            std::uint32_t w = std::min<std::uint32_t>(t.lengths[e], 32);
            std::uint64_t code = t.codes[e] & ((1ULL << w) - 1);
            if (w == 0 || rnd(8) == 0) {
                w = 1 + rnd(8);
                code = rnd(1u << w);
            }
            bits = (bits << w) | code;
            held += static_cast<int>(w);
            while (held >= 8) {
                bytes.push_back(static_cast<unsigned char>(bits >> (held - 8)));
                held -= 8;
            }
        }
        if (held > 0) bytes.push_back(static_cast<unsigned char>(bits << (8 - held)));
        ASSERT_EQ(decodeExact(bytes, t), scanningDecode(bytes, t)) << "round " << round;
    }
}

}  // namespace
