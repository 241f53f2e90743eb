#include "FramePipe.h"

#include <sys/wait.h>

#include <utility>

namespace soak {

FramePipe::FramePipe(std::vector<std::string> videos, uint32_t width, uint32_t height)
    : videos_(std::move(videos)), width_(width), height_(height), frame_(static_cast<size_t>(width) * height) {}

FramePipe::~FramePipe() { close(); }

bool FramePipe::open(size_t index) {
    close();
    current_ = index;
    const std::string cmd = "ffmpeg -v error -nostdin -i '" + videos_[index] + "' -vf scale=" +
                            std::to_string(width_) + ":" + std::to_string(height_) +
                            " -f rawvideo -pix_fmt bgra - 2>/dev/null";
    pipe_ = popen(cmd.c_str(), "r");
    return pipe_ != nullptr;
}

void FramePipe::close() {
    if (pipe_ != nullptr) pclose(pipe_);
    pipe_ = nullptr;
}

bool FramePipe::next() {
    // Tries every video at most once (plus the current one) before giving up.
    for (size_t attempts = 0; attempts <= videos_.size(); ++attempts) {
        if (pipe_ == nullptr) {
            if (!open(current_)) return false;
        }
        if (std::fread(frame_.data(), 4, frame_.size(), pipe_) == frame_.size()) return true;
        const size_t following = (current_ + 1) % videos_.size();
        if (following == 0) ++loops_;
        close();
        current_ = following;
    }
    return false;
}

}  // namespace soak
