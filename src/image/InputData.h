#pragma once
// The frame source that the image pipeline reads.
//
// What it represents: a width x height grey image, rows stored back to back (row
// length = width), refreshed by the extension layer for every host frame.
//
// Thread safety: read by the pipeline on the host's calling thread and by the
// pipeline's workers only inside a single pipeline call.
#include <cstdint>

namespace kvo {

class InputData {
public:
    InputData() = default;
    InputData(uint32_t w, uint32_t h) : width(w), height(h) {}
    virtual ~InputData() = default;

    // First byte of width x height grey pixels; the base class has none and returns null.
    virtual unsigned char* getData() { return nullptr; }

    uint32_t width = 0;   // pixels
    uint32_t height = 0;  // pixels
};

}  // namespace kvo
