#include "models/ModelDecoder.h"

#include <algorithm>

namespace kvo {

std::string decodeModel(const unsigned char* bytes, std::uint32_t length,
                        const std::vector<std::string>& symbols,
                        const std::vector<std::uint32_t>& codes,
                        const std::vector<std::uint32_t>& codeLengths) {
    std::string out;
    const std::size_t n = std::min(symbols.size(), std::min(codes.size(), codeLengths.size()));

    // The first four bytes, most significant first; bytes the array does not have
    // count as zero so that a short array is never over-read.
    std::uint32_t window = 0;
    for (std::uint32_t k = 0; k < 4; ++k) {
        const std::uint32_t b = k < length ? bytes[k] : 0u;
        window += b << (24 - 8 * k);
    }
    std::uint32_t next = 4;     // index of the next unread byte
    std::uint32_t pending = 0;  // empty bit positions at the low end of the window

    std::size_t i = 0;
    while (i < n && window != 0) {
        const std::uint32_t w = codeLengths[i];
        // Shifts are done in 64 bits so that a 32-bit code is well defined too.
        if (w >= 1 && w <= 32 &&
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(window) >> (32 - w)) == codes[i]) {
            out += symbols[i];
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
            i = 0;
        } else {
            ++i;
        }
    }
    return out;
}

}  // namespace kvo
