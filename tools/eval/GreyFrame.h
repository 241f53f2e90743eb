#pragma once
// The grey frame that the tools, tests and benchmarks hand to the library's pipeline.
//
// What it represents: a width x height grey image owned as one vector (rows back to
// back, row length = width), which the caller fills between updates; the library reads
// it through InputData. getData() is null for an empty frame.
//
// Thread safety: a plain value; the library reads it only inside the calls of the
// tracker or pipeline it was given to, on the caller's thread.
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/InputData.h"

namespace kvo {
namespace eval {

class GreyFrame : public InputData {
public:
    // Ensures: width x height pixels, each `value`.
    GreyFrame(uint32_t w, uint32_t h, uint8_t value = 0) : InputData(w, h), pixels(static_cast<size_t>(w) * h, value) {}

    unsigned char* getData() override { return pixels.empty() ? nullptr : pixels.data(); }

    // Copies `height` rows of `width` grey bytes into the frame, row r from
    // first + r * stride. Requires: stride >= width; all those bytes readable.
    void setRows(const uint8_t* first, size_t stride) {
        for (size_t r = 0; r < height; ++r) std::memcpy(&pixels[r * width], first + r * stride, width);
    }
    void fill(uint8_t value) { std::memset(pixels.data(), value, pixels.size()); }

    std::vector<uint8_t> pixels;
};

}  // namespace eval
}  // namespace kvo
