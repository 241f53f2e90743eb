#pragma once
// Helpers shared by the image pipeline tests: an in-memory frame source and images
// filled from functions.
#include <cstdint>
#include <random>
#include <vector>

#include "image/ImageData.h"
#include "eval/GreyFrame.h"

namespace kvo_test {

// A grey frame held in a vector; getData() returns null when the vector is empty.
class FrameInput : public kvo::eval::GreyFrame {
public:
    using GreyFrame::GreyFrame;

    uint8_t& at(uint32_t x, uint32_t y) { return pixels[static_cast<size_t>(y) * width + x]; }

    // Fills the frame with reproducible noise.
    void fillRandom(unsigned seed) {
        std::mt19937 rng(seed);
        for (auto& p : pixels) p = static_cast<uint8_t>(rng() & 0xFF);
    }
};

inline std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& p : v) p = static_cast<uint8_t>(rng() & 0xFF);
    return v;
}

// Copy of an image's pixels, so that later frames can be compared with it.
inline std::vector<uint8_t> snapshot(const kvo::ImageData& image) {
    return std::vector<uint8_t>(image.data, image.data + static_cast<size_t>(image.width) * image.height);
}

// 2x2 box means of the top-left (2 dw) x (2 dh) pixels of a source with row length
// sourceWidth, written straight from the definition.
inline std::vector<uint8_t> boxMeans(const uint8_t* src, int sourceWidth, int dw, int dh) {
    std::vector<uint8_t> out(static_cast<size_t>(dw) * dh);
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x) {
            auto s = [&](int xx, int yy) { return static_cast<int>(src[yy * sourceWidth + xx]); };
            const int sum = s(2 * x, 2 * y) + s(2 * x + 1, 2 * y) + s(2 * x, 2 * y + 1) + s(2 * x + 1, 2 * y + 1);
            out[y * dw + x] = static_cast<uint8_t>(sum / 4);
        }
    return out;
}

inline bool isAligned16(const void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

}  // namespace kvo_test
