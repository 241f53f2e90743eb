#include "FramePipe.h"

#include <utility>

namespace soak {

FramePipe::FramePipe(std::vector<std::string> videos, uint32_t width, uint32_t height, size_t batch)
    : videos_(std::move(videos)),
      width_(width),
      height_(height),
      frameSize_(static_cast<size_t>(width) * height),
      frames_(frameSize_ * (batch > 0 ? batch : 1)),
      videoOf_(batch > 0 ? batch : 1),
      loopOf_(batch > 0 ? batch : 1) {}

FramePipe::~FramePipe() { close(); }

void FramePipe::open(size_t index) {
    close();
    current_ = index;
    video_.reset(new kvo::eval::VideoFrames(videos_[index], static_cast<int>(width_), static_cast<int>(height_)));
}

void FramePipe::close() { video_.reset(); }

bool FramePipe::next() {
    if (position_ == filled_) refill();
    if (position_ == filled_) return false;
    ++position_;
    return true;
}

void FramePipe::refill() {
    filled_ = 0;
    position_ = 0;
    while (filled_ < videoOf_.size()) {
        if (!decode(&frames_[filled_ * frameSize_])) break;
        // decode() may have moved on to the next video before it found a frame.
        videoOf_[filled_] = current_;
        loopOf_[filled_] = loops_;
        ++filled_;
    }
}

bool FramePipe::decode(uint32_t* into) {
    // Tries every video at most once (plus the current one) before giving up.
    for (size_t attempts = 0; attempts <= videos_.size(); ++attempts) {
        if (!video_) open(current_);
        if (video_->next(into)) return true;
        const size_t following = (current_ + 1) % videos_.size();
        if (following == 0) ++loops_;
        close();
        current_ = following;
    }
    return false;
}

}  // namespace soak
