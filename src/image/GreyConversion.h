#pragma once
// Conversion of the host's 32-bit pixels to one grey byte per pixel.
//
// Each pixel is four bytes in memory, b0 b1 b2 b3 (blue, green, red, alpha for the host's
// bitmaps); its grey value is the truncation toward zero of
//     (0.114 * b0 + 0.587 * b1) + 0.299 * b2
// evaluated in IEEE double precision, operation by operation in that order. The result
// is bit-exact with that expression for every colour, although the work is done in
// integers (the double expression is only reproduced for the rare sums that land on an
// integer, where its rounding decides the result). b3 is ignored.
//
// Thread safety: pure function of its arguments; safe to call concurrently on disjoint
// buffers.
#include <cstddef>
#include <cstdint>

namespace kvo {

// Converts `count` pixels read as one run of count x 4 bytes into `count` grey bytes.
// Requires: `pixels` holds count x 4 readable bytes, `grey` count writable bytes, and the
// two do not overlap; either may be null when count is 0.
void convertToGrey(const uint8_t* pixels, uint8_t* grey, std::size_t count);

// The same for pixels given as 32-bit words; the bytes are taken in memory order, so on
// a little-endian machine b0 is the word's lowest byte.
void convertToGrey(const uint32_t* pixels, uint8_t* grey, std::size_t count);

// Grey value of one pixel, by the same rule.
uint8_t greyValue(uint8_t b0, uint8_t b1, uint8_t b2);

}  // namespace kvo
