#pragma once
// Test support: where the sample media is, and its frames decoded into raw host pixels
// by the evaluation library's ffmpeg decoder, so tests of every build variant (including
// 32-bit builds without OpenCV) can use real faces.
//
// Thread safety: none needed; call from the test's thread.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "eval/VideoFrames.h"

namespace kvotest {

inline std::string mediaPath(const std::string& name) { return std::string(KVO_MEDIA_DIR) + "/" + name; }

inline bool fileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// `count` frames from frame `first` of `path`, and one still picture, scaled to
// width x height as 32-bit host pixels (eval/VideoFrames.h).
using kvo::eval::decodeBgraFrames;
using kvo::eval::decodeBgraImage;

// Grey value of a host pixel as the library converts it.
inline uint8_t greyOf(uint32_t bgra) {
    const double b = bgra & 0xff, g = (bgra >> 8) & 0xff, r = (bgra >> 16) & 0xff;
    return static_cast<uint8_t>((0.114 * b + 0.587 * g) + 0.299 * r);
}

}  // namespace kvotest
