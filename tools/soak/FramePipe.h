#pragma once
// An endless supply of video frames as 32-bit host pixels.
//
// What it represents: the given videos decoded one after another by an ffmpeg child
// process (scaled to one frame size, bytes blue, green, red, alpha), starting again
// with the first video after the last. The frame buffer is sized once.
//
// Thread safety: none; one reader.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace soak {

class FramePipe {
public:
    // Requires: at least one video path; width, height in pixels.
    FramePipe(std::vector<std::string> videos, uint32_t width, uint32_t height);
    ~FramePipe();
    FramePipe(const FramePipe&) = delete;
    FramePipe& operator=(const FramePipe&) = delete;

    // Decodes the next frame into pixels(). Returns false when no video delivers a
    // frame (every one is missing or unreadable).
    bool next();
    const uint32_t* pixels() const { return frame_.data(); }
    // Index of the video the current frame comes from, and how many times the list
    // has been started.
    size_t videoIndex() const { return current_; }
    long loops() const { return loops_; }

private:
    bool open(size_t index);
    void close();

    std::vector<std::string> videos_;
    uint32_t width_, height_;
    std::vector<uint32_t> frame_;
    FILE* pipe_ = nullptr;
    size_t current_ = 0;
    long loops_ = 0;
};

}  // namespace soak
