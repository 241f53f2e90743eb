#pragma once
// The frame and image manager the loader targets run against.
//
// What it represents: one small grey frame and the image manager sized on it, made on
// the first input and kept for the process (a fuzzer runs many inputs; the manager is
// meant to be initialised once). Not thread-safe (a fuzzer runs one input at a time).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/ImageDataManager.h"
#include "eval/GreyFrame.h"
#include "math/Rectangle.h"

namespace kvofuzz {

// A width x height grey frame, textured (so that detector features see contrast) or
// flat mid-grey.
class FuzzFrame : public kvo::eval::GreyFrame {
public:
    FuzzFrame(uint32_t width, uint32_t height, bool textured) : GreyFrame(width, height, 128) {
        if (!textured) return;
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<unsigned char>((i * 37) ^ (i / width * 11));
    }
};

// The image manager on a frame made by the first call, the shape-search pyramid
// allocated too when `searchPyramid`. Later calls return the same manager whatever
// they pass: each target calls it with one set of arguments.
inline kvo::ImageDataManager& imagesOnce(uint32_t width, uint32_t height, bool textured, bool searchPyramid) {
    static FuzzFrame* frame = new FuzzFrame(width, height, textured);
    static kvo::Rectangle* roi = new kvo::Rectangle(0, 0, width, height);
    static kvo::ImageDataManager* images = [&] {
        auto* m = new kvo::ImageDataManager();
        m->init(frame, roi);
        if (searchPyramid) m->initASM();
        return m;
    }();
    return *images;
}

}  // namespace kvofuzz
