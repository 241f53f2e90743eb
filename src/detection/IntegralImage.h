#pragma once
// Inclusive integral images of an 8-bit grey image, as used by the face detector.
//
// ii(x, y) is the sum of the pixels I(i, j) with i <= x and j <= y; the squared image
// sums I(i, j)^2. There is no extra zero row or column. Sums are formed in unsigned
// 32-bit arithmetic, so they wrap around modulo 2^32 (a defined overflow); a box sum of
// wrapped values is still exact modulo 2^32 and is read back as a signed 32-bit value.
//
// Thread safety: pure functions on caller-owned buffers.
#include <cstdint>

namespace kvo {

// Requires: `pixels` holds width x height bytes (rows back to back); `sum` and
// `squaredSum` hold width x height 32-bit integers each; width, height >= 0.
// Ensures: both integral images are filled as described above.
void buildIntegralImages(const uint8_t* pixels, int width, int height, int32_t* sum,
                         int32_t* squaredSum);

// The same for rows firstRow ... endRow - 1 only, so that a caller can build the images
// in bands and let a reader use the rows finished so far.
// Requires: as above, with 0 <= firstRow <= endRow <= height; rows before `firstRow` built.
void buildIntegralImageRows(const uint8_t* pixels, int width, int firstRow, int endRow,
                            int32_t* sum, int32_t* squaredSum);

// The sum over the box whose corner offsets into an integral image are given:
// ii[topLeft] - ii[topRight] - ii[bottomLeft] + ii[bottomRight], in 32-bit wrap-around
// arithmetic. With topLeft = v * W + u, topRight = topLeft + w, bottomLeft = topLeft +
// h * W and bottomRight = bottomLeft + w (W: row length) this is the sum of the pixels in
// columns u+1 ... u+w and rows v+1 ... v+h.
inline int32_t boxSum(const int32_t* ii, int topLeft, int topRight, int bottomLeft,
                      int bottomRight) {
    const uint32_t s = static_cast<uint32_t>(ii[topLeft]) - static_cast<uint32_t>(ii[topRight]) -
                       static_cast<uint32_t>(ii[bottomLeft]) +
                       static_cast<uint32_t>(ii[bottomRight]);
    return static_cast<int32_t>(s);
}

// The true sum of squared pixels of an n-pixel box, from the box's pixel sum `sum` (exact:
// 255 n < 2^31) and its squared sum `squaredSum` as boxSum reads it (the true value modulo
// 2^32, read as signed). A box of bright pixels can hold more than 2^31 - 1, which the
// signed value shows as negative or too small; the true value is found from the bounds
// sum^2 / n <= true <= 255 sum (each squared pixel is at most 255 times the pixel): it is
// the one value congruent to the wrapped sum at or above the lower bound, exactly whenever
// it lies less than 2^32 above that bound, as it always does for boxes up to 514 x 514
// pixels. Boxes whose sums stay below 2^31 (255 sum < 2^31) keep the value as read.
inline double trueSquaredSum(int32_t sum, int32_t squaredSum, int64_t n) {
    if (sum < 0 || static_cast<int64_t>(sum) * 255 <= INT32_MAX || n <= 0) return squaredSum;
    const uint64_t s = static_cast<uint64_t>(sum);
    const uint64_t lower = (s * s + static_cast<uint64_t>(n) - 1) / static_cast<uint64_t>(n);
    const uint32_t above = static_cast<uint32_t>(squaredSum) - static_cast<uint32_t>(lower);
    return static_cast<double>(lower + above);
}

}  // namespace kvo
