#include "extension/BitmapData.h"

#include "image/FastMalloc.h"

BitmapData::BitmapData(uint32_t w, uint32_t h)
    : kvo::InputData(w, h),
      data(static_cast<unsigned char*>(kvo::fastMalloc(static_cast<std::size_t>(w) * h))) {}

BitmapData::~BitmapData() { kvo::fastFree(data); }
