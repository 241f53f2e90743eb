#pragma once
// Test support: decodes sample media into raw frames with the ffmpeg command-line
// tool, so tests of every build variant (including 32-bit builds without OpenCV) can
// use real faces.
//
// Thread safety: none needed; call from the test's thread.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kvotest {

inline std::string mediaPath(const std::string& name) { return std::string(KVO_MEDIA_DIR) + "/" + name; }

inline bool fileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// Decodes `count` frames starting at frame `first` of `path`, scaled to width x height,
// as 32-bit host pixels (bytes blue, green, red, alpha). Returns false when ffmpeg
// fails or delivers fewer frames.
inline bool decodeBgraFrames(const std::string& path, int width, int height, int first, int count,
                             std::vector<std::vector<uint32_t>>& frames) {
    std::string cmd = "ffmpeg -v error -nostdin -i '" + path + "' -vf 'select=gte(n\\," +
                      std::to_string(first) + "),scale=" + std::to_string(width) + ":" +
                      std::to_string(height) + "' -vsync 0 -frames:v " + std::to_string(count) +
                      " -f rawvideo -pix_fmt bgra - 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return false;
    frames.clear();
    const size_t n = static_cast<size_t>(width) * height;
    for (int i = 0; i < count; ++i) {
        std::vector<uint32_t> frame(n);
        if (std::fread(frame.data(), 4, n, pipe) != n) break;
        frames.push_back(std::move(frame));
    }
    pclose(pipe);
    return static_cast<int>(frames.size()) == count;
}

// One still image scaled to width x height as 32-bit host pixels.
inline bool decodeBgraImage(const std::string& path, int width, int height, std::vector<uint32_t>& pixels) {
    std::vector<std::vector<uint32_t>> frames;
    if (!decodeBgraFrames(path, width, height, 0, 1, frames)) return false;
    pixels = std::move(frames[0]);
    return true;
}

// Grey value of a host pixel as the library converts it.
inline uint8_t greyOf(uint32_t bgra) {
    const double b = bgra & 0xff, g = (bgra >> 8) & 0xff, r = (bgra >> 16) & 0xff;
    return static_cast<uint8_t>((0.114 * b + 0.587 * g) + 0.299 * r);
}

}  // namespace kvotest
