#include "image/ImageData.h"

#include <cstring>

#include "image/FastMalloc.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// Allocates a zeroed buffer of width x height elements of `elementSize` bytes, or returns
// null (after reporting) when it cannot be allocated or its size does not fit size_t.
void* allocateZeroed(uint32_t width, uint32_t height, std::size_t elementSize) {
    const uint64_t elements = static_cast<uint64_t>(width) * height;  // < 2^64
    if (elements > static_cast<uint64_t>(SIZE_MAX / elementSize)) {
        Err("Failed to allocate memory");
        return nullptr;
    }
    const std::size_t bytes = static_cast<std::size_t>(elements) * elementSize;
    void* data = fastMalloc(bytes);
    if (data != nullptr) {
        std::memset(data, 0, bytes);
    }
    return data;
}

template <typename Image, typename Element>
void initImage(Image& image, uint32_t width, uint32_t height, double scale) {
    if (image.initialized) {
        trace("Already initialized ImageData!");
        return;
    }
    void* data = allocateZeroed(width, height, sizeof(Element));
    if (data == nullptr) {
        return;  // stays uninitialised: null data and zero size
    }
    image.data = static_cast<Element*>(data);
    image.width = width;
    image.height = height;
    image.scale = scale;
    image.initialized = true;
}

template <typename Image>
void releaseImage(Image& image) {
    fastFree(image.data);
    image.data = nullptr;
    image.width = 0;
    image.height = 0;
    image.scale = 0.0;
    image.initialized = false;
}

}  // namespace

ImageData::~ImageData() { release(); }

void ImageData::init(uint32_t w, uint32_t h, double s) { initImage<ImageData, uint8_t>(*this, w, h, s); }

void ImageData::release() { releaseImage(*this); }

ImageDataInt::~ImageDataInt() { release(); }

void ImageDataInt::init(uint32_t w, uint32_t h, double s) {
    initImage<ImageDataInt, int32_t>(*this, w, h, s);
}

void ImageDataInt::release() { releaseImage(*this); }

}  // namespace kvo
