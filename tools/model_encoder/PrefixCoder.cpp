#include "PrefixCoder.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace kvo {

namespace {

const std::uint64_t kInfinite = std::numeric_limits<std::uint64_t>::max();

}  // namespace

std::vector<unsigned> limitedCodeLengths(const std::vector<std::uint64_t>& weights,
                                         unsigned minLength, unsigned maxLength) {
    const std::size_t n = weights.size();
    if (minLength < 1 || minLength > maxLength || maxLength > 25 || n == 0 ||
        n > (std::size_t(1) << maxLength)) {
        return {};
    }
    if (n == 1) return {minLength};
    unsigned minLen = minLength;
    while ((std::size_t(1) << minLen) > n) --minLen;

    // Heaviest first; an optimal code never gives a heavier symbol a longer code, so
    // the symbols are placed on the levels of the code tree in this order.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return weights[a] > weights[b]; });
    // rest[p]: total weight of the symbols from sorted position p on. Every symbol not
    // yet placed when the tree is entered one level deeper costs its weight once more.
    std::vector<std::uint64_t> rest(n + 1, 0);
    for (std::size_t p = n; p-- > 0;) rest[p] = rest[p + 1] + weights[order[p]];

    // State at depth d: p symbols placed on shallower levels, a open nodes on level d.
    // A complete code needs a <= n - p. pred records the p of the best predecessor.
    const std::size_t side = n + 1;
    std::vector<std::uint64_t> cost(side * side, kInfinite), next(side * side);
    std::vector<std::uint16_t> pred((maxLength + 2) * side * side, 0);
    cost[0 * side + 2] = rest[0];
    std::uint64_t best = kInfinite;
    unsigned bestDepth = 0;
    for (unsigned d = 1; d <= maxLength; ++d) {
        std::fill(next.begin(), next.end(), kInfinite);
        for (std::size_t p = 0; p < n; ++p) {
            const std::size_t r = n - p;
            for (std::size_t a = 1; a <= r; ++a) {
                const std::uint64_t c0 = cost[p * side + a];
                if (c0 == kInfinite) continue;
                // k leaves on this level; the other a - k nodes split into two each,
                // and no more nodes may open than symbols remain.
                std::size_t kMin = 2 * a > r ? 2 * a - r : 0;
                std::size_t kMax = a;
                if (d < minLen) kMax = 0;
                if (d == maxLength) kMin = a;
                if (d == maxLength && a != r) continue;
                for (std::size_t k = kMin; k <= kMax; ++k) {
                    const std::size_t p2 = p + k;
                    const std::size_t a2 = 2 * (a - k);
                    const std::uint64_t c = c0 + rest[p2];
                    std::uint64_t& slot = next[p2 * side + a2];
                    if (c < slot) {
                        slot = c;
                        pred[((d + 1) * side + p2) * side + a2] = static_cast<std::uint16_t>(p);
                    }
                }
            }
        }
        if (next[n * side + 0] < best) {
            best = next[n * side + 0];
            bestDepth = d + 1;
        }
        cost.swap(next);
    }
    if (best == kInfinite) return {};

    std::vector<unsigned> lengths(n, 0);
    std::size_t p2 = n, a2 = 0;
    for (unsigned d = bestDepth; d > 1; --d) {
        const std::size_t p = pred[(d * side + p2) * side + a2];
        const std::size_t k = p2 - p;
        for (std::size_t q = p; q < p2; ++q) lengths[order[q]] = d - 1;
        a2 = a2 / 2 + k;
        p2 = p;
    }
    return lengths;
}

PrefixCodeTable buildPrefixCode(const std::string& text, unsigned minLength, unsigned maxLength) {
    std::uint64_t counts[256] = {};
    for (unsigned char c : text) ++counts[c];

    // Entry 0..m-1: the occurring bytes; the last entry: the empty filler symbol.
    std::vector<int> byteOf;
    std::vector<std::uint64_t> weights;
    for (int b = 0; b < 256; ++b) {
        if (counts[b] > 0) {
            byteOf.push_back(b);
            weights.push_back(counts[b]);
        }
    }
    byteOf.push_back(-1);
    weights.push_back(0);
    const std::size_t n = weights.size();
    const std::vector<unsigned> lengths = limitedCodeLengths(weights, minLength, maxLength);
    PrefixCodeTable table;
    if (lengths.size() != n) return table;

    // Canonical order: shortest first, then most frequent, then byte value; the filler
    // (weight 0, the lightest) last of all.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (lengths[a] != lengths[b]) return lengths[a] < lengths[b];
        const bool fillerA = byteOf[a] < 0, fillerB = byteOf[b] < 0;
        if (fillerA != fillerB) return fillerB;
        if (weights[a] != weights[b]) return weights[a] > weights[b];
        return byteOf[a] < byteOf[b];
    });

    // Canonical codes count up from all zeros and end, for a complete code, on all
    // ones; complementing every code keeps the prefix property and hands the all-zero
    // code to the last entry, the filler.
    std::uint32_t code = 0;
    unsigned previousLength = lengths[order[0]];
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t e = order[j];
        const unsigned len = lengths[e];
        if (j > 0) code = (code + 1) << (len - previousLength);
        previousLength = len;
        const std::uint32_t mask = len >= 32 ? 0xffffffffu : ((1u << len) - 1u);
        table.symbols.push_back(byteOf[e] < 0 ? std::string() : std::string(1, static_cast<char>(byteOf[e])));
        table.codes.push_back(n == 1 ? 0u : (~code & mask));
        table.codeLengths.push_back(len);
    }
    return table;
}

bool encodeText(const std::string& text, const PrefixCodeTable& table,
                std::vector<unsigned char>& out, std::string& error) {
    int entryOf[256];
    std::fill(std::begin(entryOf), std::end(entryOf), -1);
    for (std::size_t i = 0; i < table.symbols.size() && i < table.codes.size() &&
                            i < table.codeLengths.size(); ++i) {
        const std::string& s = table.symbols[i];
        if (s.size() == 1 && entryOf[static_cast<unsigned char>(s[0])] < 0) {
            entryOf[static_cast<unsigned char>(s[0])] = static_cast<int>(i);
        }
    }
    out.clear();
    out.reserve(text.size() / 2 + 4);
    std::uint64_t bits = 0;  // pending bits, right-aligned
    unsigned count = 0;      // number of pending bits (< 8 between symbols)
    for (std::size_t pos = 0; pos < text.size(); ++pos) {
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        const int e = entryOf[c];
        if (e < 0) {
            error = "byte " + std::to_string(c) + " at offset " + std::to_string(pos) +
                    " has no code in the table";
            return false;
        }
        const unsigned len = table.codeLengths[e];
        bits = (bits << len) | (table.codes[e] & ((std::uint64_t(1) << len) - 1));
        count += len;
        while (count >= 8) {
            count -= 8;
            out.push_back(static_cast<unsigned char>(bits >> count));
        }
        bits &= (std::uint64_t(1) << count) - 1;
    }
    if (count > 0) out.push_back(static_cast<unsigned char>(bits << (8 - count)));
    return true;
}

bool checkPrefixCodeTable(const PrefixCodeTable& table, std::string& error) {
    const std::size_t n = table.symbols.size();
    if (table.codes.size() != n || table.codeLengths.size() != n) {
        error = "the three table vectors differ in length";
        return false;
    }
    std::size_t zeroCodes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t len = table.codeLengths[i];
        if (len < 1 || len > 25) {
            error = "entry " + std::to_string(i) + " has a code of " + std::to_string(len) + " bits";
            return false;
        }
        if ((table.codes[i] >> len) != 0) {
            error = "entry " + std::to_string(i) + " has a code wider than its length";
            return false;
        }
        if (table.codes[i] == 0) {
            ++zeroCodes;
            if (!table.symbols[i].empty()) {
                error = "the all-zero code belongs to a symbol that can occur";
                return false;
            }
        }
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint32_t lj = table.codeLengths[j];
            if (j == i || lj < 1 || lj > 25 || lj < len) continue;
            if ((table.codes[j] >> (lj - len)) == table.codes[i]) {
                error = "the code of entry " + std::to_string(i) + " is a prefix of entry " +
                        std::to_string(j) + "'s";
                return false;
            }
        }
    }
    if (zeroCodes != 1) {
        error = "the table has " + std::to_string(zeroCodes) + " all-zero codes instead of one";
        return false;
    }
    return true;
}

}  // namespace kvo
