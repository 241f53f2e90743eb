#pragma once
// Length-limited prefix coding of model texts for the library's model decoder.
//
// What it represents: the build-time half of the embedded model store. It chooses code
// lengths that minimise the coded size of a text within a minimum and maximum length,
// assigns the codes so that the one all-zero code goes to a symbol that never occurs
// (an empty filler entry), and packs a text most significant bit first with zero
// padding. Such a stream never shows 32 zero bits at a symbol boundary before its end:
// every code of an occurring symbol has a 1 bit and lies wholly in the decoder's
// window, so the decoder stops only on the padding.
//
// Thread safety: free functions on their arguments only; safe from any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace kvo {

// A code table in the form the decoder reads: three parallel vectors.
struct PrefixCodeTable {
    std::vector<std::string> symbols;          // text each code stands for
    std::vector<std::uint32_t> codes;          // code, right-aligned
    std::vector<std::uint32_t> codeLengths;    // bits of each code
};

// Optimal code lengths for `weights` (occurrence counts) with every length in
// [minLength, maxLength] bits and a complete code (Kraft sum exactly 1).
//
// Requires: 1 <= minLength <= maxLength <= 25 and weights.size() <= 2^maxLength.
// Ensures: lengths[i] belongs to weights[i]; a heavier symbol never gets a longer code
// than a lighter one; the sum of weights[i] * lengths[i] is the least possible. When
// fewer than 2^minLength symbols are given, a complete code cannot have minLength
// bits everywhere, so the minimum is lowered to floor(log2(size)) (a single symbol gets
// minLength bits). Returns an empty vector when the requirements are not met.
std::vector<unsigned> limitedCodeLengths(const std::vector<std::uint64_t>& weights,
                                         unsigned minLength, unsigned maxLength);

// Builds the table for the bytes of `text`: one single-byte entry per byte value that
// occurs, plus a never-occurring empty entry that holds the all-zero code. Entries are
// ordered shortest code first (the decoder scans the table linearly from the top).
//
// Requires: 1 <= minLength <= maxLength <= 25 (the default keeps codes in 2..17 bits).
PrefixCodeTable buildPrefixCode(const std::string& text, unsigned minLength = 2,
                                unsigned maxLength = 17);

// Packs the codes of the bytes of `text`, most significant bit first, the last byte
// padded with zero bits.
//
// Ensures: returns false, with `error` set and `out` unspecified, when a byte of `text`
// has no single-byte entry in `table`.
bool encodeText(const std::string& text, const PrefixCodeTable& table,
                std::vector<unsigned char>& out, std::string& error);

// Checks what the decoder relies on: equal vector sizes; every length in 1..25 bits;
// codes fit their lengths; no code is a prefix of another; exactly one all-zero code,
// held by an empty symbol (one that can never occur in an encoded text).
// Ensures: returns false with `error` set at the first violation.
bool checkPrefixCodeTable(const PrefixCodeTable& table, std::string& error);

}  // namespace kvo
