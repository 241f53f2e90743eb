#pragma once
// Video and picture frames decoded by the ffmpeg command-line tool, for the tools, tests
// and benchmarks of every build variant (also those without OpenCV).
//
// What it represents: one ffmpeg child process reading a media file, scaling every frame
// to one size and writing it down a pipe as 32-bit host pixels (bytes blue, green, red,
// alpha; rows top to bottom), each frame once (no frame repeated or dropped to a frame
// rate). ffmpeg's own messages are discarded: a missing or unreadable file, or a
// missing ffmpeg, simply delivers no frame, and the caller reports what it needs.
//
// Thread safety: none; one reader per object. Objects are independent.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kvo {
namespace eval {

class VideoFrames {
public:
    // Starts the decoder on `path` (a video or a still picture): frames from index
    // `first` on (0: from the first), at most `count` of them (negative: to the end),
    // each scaled to width x height pixels.
    // Requires: width, height > 0; first >= 0.
    VideoFrames(const std::string& path, int width, int height, int first = 0, int count = -1);
    ~VideoFrames();
    VideoFrames(const VideoFrames&) = delete;
    VideoFrames& operator=(const VideoFrames&) = delete;

    // Reads the next frame into `pixels`, which must hold pixelsPerFrame() values.
    // Returns false (and the contents are unspecified) when the decoder delivers no whole
    // frame: past the last frame asked for, or when it could not start or decode.
    bool next(uint32_t* pixels);
    // The same into `frame`, which is sized to pixelsPerFrame() first.
    bool next(std::vector<uint32_t>& frame);
    // Ends the decoder; next() returns false from then on.
    void close();

    size_t pixelsPerFrame() const { return pixels_; }

private:
    size_t pixels_;
    FILE* pipe_ = nullptr;
};

// Decodes `count` frames from index `first` of `path`, scaled to width x height, into
// `frames` (one vector of host pixels per frame). Returns false when fewer than `count`
// could be decoded (`frames` then holds those that were).
bool decodeBgraFrames(const std::string& path, int width, int height, int first, int count,
                      std::vector<std::vector<uint32_t>>& frames);

// One picture (or a video's first frame) scaled to width x height into `pixels`.
// Returns false when it cannot be decoded (`pixels` then unchanged).
bool decodeBgraImage(const std::string& path, int width, int height, std::vector<uint32_t>& pixels);

}  // namespace eval
}  // namespace kvo
