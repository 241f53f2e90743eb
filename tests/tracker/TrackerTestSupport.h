#pragma once
// Test support for the tracker: an in-memory frame source and tracker set-up helpers.
#include <cstdint>
#include <cstring>
#include <vector>

#include "eval/GreyFrame.h"
#include "support/MediaFrames.h"
#include "support/TinyShapeModel.h"
#include "tracker/Kestavo.h"

namespace kvotest {

// A grey frame source whose pixels the test sets directly.
class GreyFrame : public kvo::eval::GreyFrame {
public:
    GreyFrame(uint32_t w, uint32_t h, uint8_t value = 128) : kvo::eval::GreyFrame(w, h, value) {}
    void setFromBgra(const std::vector<uint32_t>& bgra) {
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = greyOf(bgra[i]);
    }
};

// A 640 x 480 still of a frontal face from the sample video, or empty when the media
// is not installed.
inline const std::vector<uint32_t>& faceFrameBgra() {
    static std::vector<uint32_t> frame;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (!decodeBgraImage(mediaPath("franck_01829.jpg"), 640, 480, frame)) frame.clear();
    }
    return frame;
}

}  // namespace kvotest
