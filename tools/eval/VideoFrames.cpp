#include "eval/VideoFrames.h"

#include <utility>

namespace kvo {
namespace eval {

VideoFrames::VideoFrames(const std::string& path, int width, int height, int first, int count)
    : pixels_(static_cast<size_t>(width) * height) {
    // The frames are selected by index before scaling; -vsync 0 hands each decoded frame
    // on once, whatever the file's timestamps.
    std::string filter = "scale=" + std::to_string(width) + ":" + std::to_string(height);
    if (first > 0) filter = "select=gte(n\\," + std::to_string(first) + ")," + filter;
    std::string cmd = "ffmpeg -v error -nostdin -i '" + path + "' -vf '" + filter + "' -vsync 0";
    if (count >= 0) cmd += " -frames:v " + std::to_string(count);
    cmd += " -f rawvideo -pix_fmt bgra - 2>/dev/null";
    pipe_ = popen(cmd.c_str(), "r");
}

VideoFrames::~VideoFrames() { close(); }

bool VideoFrames::next(uint32_t* pixels) {
    return pipe_ != nullptr && std::fread(pixels, 4, pixels_, pipe_) == pixels_;
}

bool VideoFrames::next(std::vector<uint32_t>& frame) {
    frame.resize(pixels_);
    return next(frame.data());
}

void VideoFrames::close() {
    if (pipe_ != nullptr) pclose(pipe_);
    pipe_ = nullptr;
}

bool decodeBgraFrames(const std::string& path, int width, int height, int first, int count,
                      std::vector<std::vector<uint32_t>>& frames) {
    VideoFrames video(path, width, height, first, count);
    frames.clear();
    std::vector<uint32_t> frame;
    while (static_cast<int>(frames.size()) < count && video.next(frame)) frames.push_back(std::move(frame));
    return static_cast<int>(frames.size()) == count;
}

bool decodeBgraImage(const std::string& path, int width, int height, std::vector<uint32_t>& pixels) {
    std::vector<std::vector<uint32_t>> frames;
    if (!decodeBgraFrames(path, width, height, 0, 1, frames)) return false;
    pixels = std::move(frames[0]);
    return true;
}

}  // namespace eval
}  // namespace kvo
