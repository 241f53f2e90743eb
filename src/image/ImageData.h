#pragma once
// Single-channel images with one aligned buffer each.
//
// What they represent: kvo::ImageData is a grey image of 8-bit pixels; kvo::ImageDataInt
// holds signed 32-bit values (integral images, gradient images, the gradient row buffer).
// Pixels are stored row after row with a row length of exactly `width` elements. `scale`
// is the image's scale relative to pyramid level 0 (1, 0.5, 0.25, 0.125).
// The buffer is allocated once by init (16-byte aligned, zero-filled) and released by the
// destructor; afterwards only its contents change, or its pointer is exchanged with the
// buffer of an image of the same size (previous/current frame roles).
//
// Thread safety: none. Workers may read or write disjoint rows of `data` inside one
// pipeline call; everything else happens on the host's calling thread.
#include <cstdint>

namespace kvo {

class ImageData {
public:
    ImageData() = default;
    ~ImageData();
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    // Allocates width x height zeroed bytes and records the size and scale.
    // Requires: nothing. An image that is already initialised stays unchanged and the
    // call traces "Already initialized ImageData!". If the allocation fails the image
    // stays uninitialised (null data, zero size) and the failure is reported.
    void init(uint32_t width, uint32_t height, double scale);

    // Frees the buffer and returns the image to its default-constructed state.
    void release();

    uint8_t* data = nullptr;  // width x height bytes, 16-byte aligned; owned
    uint32_t width = 0;       // pixels
    uint32_t height = 0;      // pixels
    double scale = 0.0;       // relative to pyramid level 0
    bool initialized = false;
};

class ImageDataInt {
public:
    ImageDataInt() = default;
    ~ImageDataInt();
    ImageDataInt(const ImageDataInt&) = delete;
    ImageDataInt& operator=(const ImageDataInt&) = delete;

    // Allocates width x height zeroed 32-bit integers; otherwise as ImageData::init.
    void init(uint32_t width, uint32_t height, double scale);

    // Frees the buffer and returns the image to its default-constructed state.
    void release();

    int32_t* data = nullptr;  // width x height values, 16-byte aligned; owned
    uint32_t width = 0;       // elements per row
    uint32_t height = 0;      // rows
    double scale = 0.0;       // relative to pyramid level 0
    bool initialized = false;
};

}  // namespace kvo
