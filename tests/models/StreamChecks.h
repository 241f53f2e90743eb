#pragma once
// Checks of encoded streams that do not go through the decoder: they read the packed
// bits directly, so a fault shared by encoder and decoder still shows.
#include <cstdint>
#include <string>
#include <vector>

#include "PrefixCoder.h"

namespace kvo_test {

// The 32 bits starting at bit `pos` of `bytes` (most significant bit first, zeros
// beyond the end).
inline std::uint32_t windowAt(const std::vector<unsigned char>& bytes, std::size_t pos) {
    std::uint32_t w = 0;
    for (std::size_t k = 0; k < 32; ++k) {
        const std::size_t bit = pos + k;
        const std::size_t byte = bit / 8;
        const unsigned v = byte < bytes.size() ? (bytes[byte] >> (7 - bit % 8)) & 1u : 0u;
        w = (w << 1) | v;
    }
    return w;
}

// The index of the first symbol of `text` at whose start the stream shows 32 zero
// bits, or text.size() when there is none.
inline std::size_t firstZeroWindow(const std::vector<unsigned char>& bytes, const std::string& text,
                                   const kvo::PrefixCodeTable& table) {
    unsigned lengthOf[256] = {};
    for (std::size_t i = 0; i < table.symbols.size(); ++i) {
        if (table.symbols[i].size() == 1) lengthOf[static_cast<unsigned char>(table.symbols[i][0])] = table.codeLengths[i];
    }
    std::size_t pos = 0;
    for (std::size_t s = 0; s < text.size(); ++s) {
        if (windowAt(bytes, pos) == 0) return s;
        pos += lengthOf[static_cast<unsigned char>(text[s])];
    }
    return text.size();
}

// True when no run of the table's symbols can present 32 zero bits at a symbol
// boundary: every code of a symbol that can occur has a 1 bit and fits the 25 bits a
// window always holds at a boundary.
inline bool noZeroRunPossible(const kvo::PrefixCodeTable& table) {
    for (std::size_t i = 0; i < table.symbols.size(); ++i) {
        if (table.symbols[i].empty()) continue;
        if (table.codes[i] == 0 || table.codeLengths[i] > 25) return false;
    }
    return true;
}

}  // namespace kvo_test
