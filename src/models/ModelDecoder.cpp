#include "models/ModelDecoder.h"

#include <algorithm>

namespace kvo {

namespace {

// A look-up of the table entry a window's top LOOKUP_BITS bits select, so that decoding
// does not scan the table for every symbol. It gives the same entry as the scan: a slot
// holds an entry only when that entry is the first in table order to match every window
// with those top bits; a slot that a longer code could also claim says "scan".
constexpr unsigned LOOKUP_BITS = 12;
constexpr std::int32_t NO_ENTRY = -1;  // no entry matches: decoding ends
constexpr std::int32_t SCAN = -2;      // decided by the linear scan

std::vector<std::int32_t> buildLookup(std::size_t n, const std::vector<std::uint32_t>& codes,
                                      const std::vector<std::uint32_t>& codeLengths) {
    const std::uint32_t slots = 1u << LOOKUP_BITS;
    std::vector<std::int32_t> lookup(slots, NO_ENTRY);
    std::vector<bool> decided(slots, false);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t w = codeLengths[i];
        if (w < 1 || w > 32) continue;  // never matches
        const std::uint64_t code = codes[i];
        if (code >> w != 0) continue;  // wider than its length: never matches
        if (w <= LOOKUP_BITS) {
            const std::uint32_t first = static_cast<std::uint32_t>(code << (LOOKUP_BITS - w));
            const std::uint32_t last = first + (1u << (LOOKUP_BITS - w));
            for (std::uint32_t s = first; s < last; ++s) {
                if (!decided[s]) {
                    lookup[s] = static_cast<std::int32_t>(i);
                    decided[s] = true;
                }
            }
        } else {
            const std::uint32_t s = static_cast<std::uint32_t>(code >> (w - LOOKUP_BITS));
            if (!decided[s]) {
                lookup[s] = SCAN;
                decided[s] = true;
            }
        }
    }
    return lookup;
}

}  // namespace

std::string decodeModel(const unsigned char* bytes, std::uint32_t length,
                        const std::vector<std::string>& symbols,
                        const std::vector<std::uint32_t>& codes,
                        const std::vector<std::uint32_t>& codeLengths) {
    std::string out;
    const std::size_t n = std::min(symbols.size(), std::min(codes.size(), codeLengths.size()));
    if (n == 0) return out;
    const std::vector<std::int32_t> lookup = buildLookup(n, codes, codeLengths);

    // The first four bytes, most significant first; bytes the array does not have
    // count as zero so that a short array is never over-read.
    std::uint32_t window = 0;
    for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t b = k < length ? bytes[k] : 0u;
        window += b << (24 - 8 * k);
    }
    std::uint32_t next = 4;     // index of the next unread byte
    std::uint32_t pending = 0;  // empty bit positions at the low end of the window

    while (window != 0) {
        std::int32_t found = lookup[window >> (32 - LOOKUP_BITS)];
        if (found == SCAN) {
            found = NO_ENTRY;
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint32_t w = codeLengths[i];
                // Shifts are done in 64 bits so that a 32-bit code is well defined too.
                if (w >= 1 && w <= 32 &&
                    static_cast<std::uint32_t>(static_cast<std::uint64_t>(window) >> (32 - w)) == codes[i]) {
                    found = static_cast<std::int32_t>(i);
                    break;
                }
            }
        }
        if (found == NO_ENTRY) break;
        const std::string& symbol = symbols[static_cast<std::size_t>(found)];
        if (symbol.size() == 1) {
            out.push_back(symbol[0]);
        } else {
            out += symbol;
        }
        const std::uint32_t w = codeLengths[static_cast<std::size_t>(found)];
        window = static_cast<std::uint32_t>(static_cast<std::uint64_t>(window) << w);
        std::uint32_t t = w + pending;
        while (t >= 8) {
            if (next < length) {
                window += static_cast<std::uint32_t>(bytes[next]) << (t - 8);
                ++next;
            }
            t -= 8;
        }
        pending = t;
    }
    return out;
}

}  // namespace kvo
