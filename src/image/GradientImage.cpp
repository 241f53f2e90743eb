#include "image/GradientImage.h"

#include "util/Trace.h"

namespace kvo {

void buildGradientImage(const ImageData& image, ImageDataInt& gradient, ImageDataInt& rowBuffer,
                        int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t h = static_cast<uint32_t>(height);
    if (image.data == nullptr || gradient.data == nullptr || rowBuffer.data == nullptr ||
        w > image.width || h > image.height || w > gradient.width || h > gradient.height ||
        static_cast<uint64_t>(w) > static_cast<uint64_t>(rowBuffer.width) * rowBuffer.height) {
        Err("Gradient image: the images do not hold " + std::to_string(width) + " x " +
            std::to_string(height) + " pixels");
        return;
    }
    int32_t* previousRow = rowBuffer.data;  // row y - 1 of the image, overwritten as we go
    const uint8_t* row = image.data;
    for (uint32_t x = 0; x < w; ++x) {
        previousRow[x] = row[x];
    }
    for (uint32_t y = 1; y < h; ++y) {
        row = image.data + static_cast<std::size_t>(y) * image.width;
        int32_t* out = gradient.data + static_cast<std::size_t>(y - 1) * gradient.width;
        for (uint32_t x = 0; x + 1 < w; ++x) {
            // I(x, y) - I(x, y-1) + I(x+1, y-1) - I(x, y-1); previousRow[x + 1] is still row y-1.
            const int32_t below = row[x];
            out[x] = below + previousRow[x + 1] - 2 * previousRow[x];
            previousRow[x] = below;
        }
        previousRow[w - 1] = row[w - 1];
        out[w - 1] = 0;
    }
}

}  // namespace kvo
