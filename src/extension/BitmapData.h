#pragma once
// The frame source fed by the host: the grey pixels of the newest host bitmap.
//
// What it represents: a width x height buffer of 8-bit grey pixels (rows back to
// back), allocated once by kvo_init and refilled by every kvo_update and
// kvo_updateByEyes before the tracker runs.
//
// Thread safety: written on the host's calling thread only; the image pipeline's
// workers read it inside a single pipeline call.
#include <cstdint>

#include "image/InputData.h"

class BitmapData : public kvo::InputData {
public:
    // Ensures: data holds width x height bytes (16-byte aligned), or is null when the
    // allocation failed (reported).
    BitmapData(uint32_t w, uint32_t h);
    ~BitmapData() override;
    BitmapData(const BitmapData&) = delete;
    BitmapData& operator=(const BitmapData&) = delete;

    unsigned char* getData() override { return data; }

    unsigned char* data = nullptr;
};
