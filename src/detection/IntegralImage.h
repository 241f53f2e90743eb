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

}  // namespace kvo
