#include "image/GreyConversion.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvo {

namespace {

// --- Exact reproduction of the double expression -------------------------------------
//
// Every quantity of (0.114 b0 + 0.587 b1) + 0.299 b2 is a non-negative multiple of 2^-56
// below 256 once rounded to double (the smallest non-zero term, 0.114, already has an
// ulp of 2^-56), so each can be held exactly as a 64-bit integer count of 2^-56 units.
// Rounding such a count to 53 significant bits, ties to even, is then exactly what an
// IEEE double operation does; this keeps the result independent of the compiler's
// floating-point evaluation (x87 extended precision on 32-bit x86, contraction to FMA).

constexpr int kFractionBits = 56;

constexpr double kUnitsPerOne = 72057594037927936.0;  // 2^56

// The three weights in 2^-56 units. Scaling by a power of two is exact, and each weight
// is an integer number of units (its own ulp is 2^-56 or coarser).
constexpr uint64_t kWeightUnits[3] = {
    static_cast<uint64_t>(0.114 * kUnitsPerOne),
    static_cast<uint64_t>(0.587 * kUnitsPerOne),
    static_cast<uint64_t>(0.299 * kUnitsPerOne),
};
static_assert(static_cast<double>(kWeightUnits[0]) == 0.114 * kUnitsPerOne, "0.114 is a whole number of units");
static_assert(static_cast<double>(kWeightUnits[1]) == 0.587 * kUnitsPerOne, "0.587 is a whole number of units");
static_assert(static_cast<double>(kWeightUnits[2]) == 0.299 * kUnitsPerOne, "0.299 is a whole number of units");

// Rounds a count of units to the nearest value with 53 significant bits, ties to even.
uint64_t roundToDouble(uint64_t v) {
    if (v < (uint64_t{1} << 53)) {
        return v;
    }
    const int bits = 64 - __builtin_clzll(v);
    if (bits <= 53) {
        return v;
    }
    const int drop = bits - 53;
    const uint64_t mask = (uint64_t{1} << drop) - 1;
    const uint64_t half = uint64_t{1} << (drop - 1);
    const uint64_t rest = v & mask;
    uint64_t kept = v >> drop;
    if (rest > half || (rest == half && (kept & 1) != 0)) {
        ++kept;
    }
    return kept << drop;
}

// trunc((0.114 b0 + 0.587 b1) + 0.299 b2) with every operation rounded as in double.
uint8_t exactGrey(uint32_t b0, uint32_t b1, uint32_t b2) {
    const uint64_t p0 = roundToDouble(b0 * kWeightUnits[0]);
    const uint64_t p1 = roundToDouble(b1 * kWeightUnits[1]);
    const uint64_t p2 = roundToDouble(b2 * kWeightUnits[2]);
    const uint64_t sum = roundToDouble(roundToDouble(p0 + p1) + p2);
    return static_cast<uint8_t>(sum >> kFractionBits);
}

// --- Fast path -------------------------------------------------------------------------
//
// The exact value of the expression is S / 1000 with S = 114 b0 + 587 b1 + 299 b2. The
// double evaluation is off by less than 1e-12, so when S is not a multiple of 1000 (the
// fractional part is then at least 0.001) its truncation is S / 1000 in integers. Only
// when S is a multiple of 1000 can the double result fall just below the integer, and
// there the exact reproduction above decides.

inline uint8_t greyOf(uint32_t b0, uint32_t b1, uint32_t b2) {
    const uint32_t s = 114 * b0 + 587 * b1 + 299 * b2;
    const uint32_t q = s / 1000;
    if (q * 1000 != s || s == 0) {
        return static_cast<uint8_t>(q);
    }
    return exactGrey(b0, b1, b2);
}

void convertScalar(const uint8_t* px, uint8_t* grey, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, px += 4) {
        grey[i] = greyOf(px[0], px[1], px[2]);
    }
}

#if defined(__SSE2__)

// S = 114 b0 + 587 b1 + 299 b2 of four pixels (16 bytes) as four 32-bit lanes.
inline __m128i weightedSums(__m128i pixels, __m128i weights) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);
    const __m128i second = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    // first = [A0 B0 A1 B1], second = [A2 B2 A3 B3] with A = 114 b0 + 587 b1, B = 299 b2.
    const __m128 f = _mm_castsi128_ps(first);
    const __m128 g = _mm_castsi128_ps(second);
    const __m128i a = _mm_castps_si128(_mm_shuffle_ps(f, g, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i b = _mm_castps_si128(_mm_shuffle_ps(f, g, _MM_SHUFFLE(3, 1, 3, 1)));
    return _mm_add_epi32(a, b);
}

// Eight pixels (32 bytes): S / 1000 as eight 16-bit lanes, and in `exact` 0xFFFF where S
// is a non-zero multiple of 1000. S < 2^18, so S / 1000 = (S >> 3) / 125 with S >> 3 < 2^15, and
// x / 125 = (x * 33555) >> 22 for every x < 59074.
inline __m128i quotients(const uint8_t* px, __m128i weights, __m128i* exact) {
    const __m128i s0 = weightedSums(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px)), weights);
    const __m128i s1 =
        weightedSums(_mm_loadu_si128(reinterpret_cast<const __m128i*>(px + 16)), weights);
    const __m128i x = _mm_packs_epi32(_mm_srli_epi32(s0, 3), _mm_srli_epi32(s1, 3));
    const __m128i seven = _mm_set1_epi32(7);
    const __m128i low = _mm_packs_epi32(_mm_and_si128(s0, seven), _mm_and_si128(s1, seven));
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(static_cast<short>(33555))), 6);
    const __m128i rest = _mm_sub_epi16(x, _mm_mullo_epi16(q, _mm_set1_epi16(125)));
    // S = 0 (black) is exact as it stands; leave it out of the slow path.
    const __m128i zero = _mm_setzero_si128();
    *exact = _mm_andnot_si128(_mm_cmpeq_epi16(x, zero), _mm_cmpeq_epi16(_mm_or_si128(rest, low), zero));
    return q;
}

void convertSse2(const uint8_t* px, uint8_t* grey, std::size_t count) {
    const __m128i weights = _mm_setr_epi16(114, 587, 299, 0, 114, 587, 299, 0);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16, px += 64) {
        __m128i exact0;
        __m128i exact1;
        const __m128i q0 = quotients(px, weights, &exact0);
        const __m128i q1 = quotients(px + 32, weights, &exact1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + i), _mm_packus_epi16(q0, q1));
        int pending = _mm_movemask_epi8(_mm_packs_epi16(exact0, exact1));
        while (pending != 0) {
            const int lane = __builtin_ctz(static_cast<unsigned>(pending));
            pending &= pending - 1;
            const uint8_t* p = px + 4 * lane;
            grey[i + lane] = exactGrey(p[0], p[1], p[2]);
        }
    }
    convertScalar(px, grey + i, count - i);
}

#endif

}  // namespace

uint8_t greyValue(uint8_t b0, uint8_t b1, uint8_t b2) { return greyOf(b0, b1, b2); }

void convertToGrey(const uint8_t* pixels, uint8_t* grey, std::size_t count) {
    if (count == 0) {
        return;
    }
#if defined(__SSE2__)
    convertSse2(pixels, grey, count);
#else
    convertScalar(pixels, grey, count);
#endif
}

void convertToGrey(const uint32_t* pixels, uint8_t* grey, std::size_t count) {
    convertToGrey(reinterpret_cast<const uint8_t*>(pixels), grey, count);
}

}  // namespace kvo
