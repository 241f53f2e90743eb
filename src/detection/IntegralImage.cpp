#include "detection/IntegralImage.h"

#include <cstddef>

namespace kvo {

void buildIntegralImages(const uint8_t* pixels, int width, int height, int32_t* sum,
                         int32_t* squaredSum) {
    buildIntegralImageRows(pixels, width, 0, height, sum, squaredSum);
}

void buildIntegralImageRows(const uint8_t* pixels, int width, int firstRow, int endRow,
                            int32_t* sum, int32_t* squaredSum) {
    if (width <= 0 || firstRow >= endRow) return;
    // Unsigned accumulation: a bright frame's squared sum exceeds 2^32, and signed
    // overflow would be undefined behaviour.
    uint32_t rowSum = 0;
    uint32_t rowSquares = 0;
    int y = firstRow;
    if (y == 0) {
        for (int x = 0; x < width; ++x) {
            const uint32_t v = pixels[x];
            rowSum += v;
            rowSquares += v * v;
            sum[x] = static_cast<int32_t>(rowSum);
            squaredSum[x] = static_cast<int32_t>(rowSquares);
        }
        y = 1;
    }
    for (; y < endRow; ++y) {
        const uint8_t* row = pixels + static_cast<std::size_t>(y) * width;
        const int32_t* above = sum + static_cast<std::size_t>(y - 1) * width;
        const int32_t* aboveSquares = squaredSum + static_cast<std::size_t>(y - 1) * width;
        int32_t* out = sum + static_cast<std::size_t>(y) * width;
        int32_t* outSquares = squaredSum + static_cast<std::size_t>(y) * width;
        rowSum = 0;
        rowSquares = 0;
        for (int x = 0; x < width; ++x) {
            const uint32_t v = row[x];
            rowSum += v;
            rowSquares += v * v;
            out[x] = static_cast<int32_t>(static_cast<uint32_t>(above[x]) + rowSum);
            outSquares[x] = static_cast<int32_t>(static_cast<uint32_t>(aboveSquares[x]) + rowSquares);
        }
    }
}

}  // namespace kvo
