#pragma once
// Test helper: an image manager over an in-memory grey frame and a detector on it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "detection/ViolaJones.h"
#include "image/ImageDataManager.h"
#include "eval/GreyFrame.h"

namespace kvo_test {

using BufferInput = kvo::eval::GreyFrame;

struct DetectorRig {
    DetectorRig(uint32_t w, uint32_t h, const std::string& cascade, kvo::Rectangle* roi = nullptr)
        : input(w, h), text(cascade) {
        manager.init(&input, roi);
        text.push_back('\0');
        detector.init(&text[0]);
    }

    // Sets every input pixel to pixel(x, y) and refreshes the frame pyramid.
    void show(const std::function<uint8_t(uint32_t, uint32_t)>& pixel) {
        for (uint32_t y = 0; y < input.height; ++y)
            for (uint32_t x = 0; x < input.width; ++x) input.pixels[y * input.width + x] = pixel(x, y);
        manager.update(0);
    }

    void detect() { detector.detect(faces); }

    BufferInput input;
    std::string text;
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector{manager};
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
};

}  // namespace kvo_test
