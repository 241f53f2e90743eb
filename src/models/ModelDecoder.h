#pragma once
// Decoder of the library's prefix-coded model texts.
//
// What it represents: the inverse of the build-time model encoder. A stored model is a
// byte array (codes packed most significant bit first, the last byte padded with zero
// bits) and a code table of three parallel vectors: the text each code stands for, the
// code right-aligned in a 32-bit word, and the code's length in bits.
//
// Thread safety: `decodeModel` keeps no state between calls and may be called from any
// thread; the tables it reads must not change while it runs.
#include <cstdint>
#include <string>
#include <vector>

namespace kvo {

// Decodes `length` bytes at `bytes` with the code table (`symbols`, `codes`,
// `codeLengths`).
//
// The bits are read through a 32-bit window. At each symbol boundary the table is
// scanned from its first entry; the first entry whose code equals the window's top
// bits contributes its symbol, its bits leave the window and whole bytes refill it
// from the low end. Decoding ends when every bit in view is zero (the padding after
// the last code, and the zeros that enter once the bytes are used up) or when no
// entry matches.
//
// Requires: `bytes` points to at least `length` readable bytes (it may be null when
// `length` is 0). For a sound stream the table is a prefix code of codes 1 to 25 bits
// long and the stream never shows 32 zero bits at a symbol boundary before its end.
// Ensures: no byte at or beyond `bytes + length` is read, also when `length` < 4 (the
// missing bytes of the first window count as zero); an entry whose length is 0 or
// above 32 never matches; when the three vectors differ in length only the entries
// they all have are used. Never throws other than std::bad_alloc.
std::string decodeModel(const unsigned char* bytes, std::uint32_t length,
                        const std::vector<std::string>& symbols,
                        const std::vector<std::uint32_t>& codes,
                        const std::vector<std::uint32_t>& codeLengths);

}  // namespace kvo
