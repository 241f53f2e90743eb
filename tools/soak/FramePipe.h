#pragma once
// An endless supply of video frames as 32-bit host pixels.
//
// What it represents: the given videos decoded one after another by the evaluation
// library's ffmpeg decoder (scaled to one frame size, bytes blue, green, red, alpha), starting again
// with the first video after the last. Frames are decoded in batches: when the batch
// is used up, `next` decodes the following `batch` frames at once, so that between
// refills the decoder sits blocked on its full pipe and takes no processor time from
// the frames being timed. The batch buffer is sized once.
//
// Thread safety: none; one reader.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "eval/VideoFrames.h"

namespace soak {

class FramePipe {
public:
    // Requires: at least one video path; width, height in pixels; batch >= 1 frames.
    FramePipe(std::vector<std::string> videos, uint32_t width, uint32_t height, size_t batch = 256);
    ~FramePipe();
    FramePipe(const FramePipe&) = delete;
    FramePipe& operator=(const FramePipe&) = delete;

    // Moves to the next frame (decoding a new batch when the current one is used up).
    // Returns false when no video delivers a frame (every one is missing or unreadable).
    bool next();
    const uint32_t* pixels() const { return &frames_[(position_ - 1) * frameSize_]; }
    // Index of the video the current frame comes from, and how many times the list
    // had been started when it was decoded.
    size_t videoIndex() const { return videoOf_[position_ - 1]; }
    long loops() const { return loopOf_[position_ - 1]; }
    // Frames handed out since the last batch was decoded (0 for the first of a batch).
    size_t positionInBatch() const { return position_ - 1; }

private:
    void open(size_t index);
    void close();
    bool decode(uint32_t* into);
    void refill();

    std::vector<std::string> videos_;
    uint32_t width_, height_;
    size_t frameSize_;              // pixels per frame
    std::vector<uint32_t> frames_;  // the batch, frame after frame
    std::vector<size_t> videoOf_;
    std::vector<long> loopOf_;
    size_t filled_ = 0;             // frames decoded into the batch
    size_t position_ = 0;           // frames of the batch handed out
    std::unique_ptr<kvo::eval::VideoFrames> video_;
    size_t current_ = 0;
    long loops_ = 0;
};

}  // namespace soak
