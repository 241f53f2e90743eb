#include "ContactSheet.h"

#include <algorithm>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace kvo {
namespace app {

ContactSheet::ContactSheet(int frameWidth, int frameHeight, long frameCount, int tiles, int columns, int tileWidth)
    : frameCount_(frameCount), columns_(std::max(1, columns)) {
    if (frameCount_ > 0) tiles = static_cast<int>(std::min<long>(tiles, frameCount_));
    else if (tiles % 2 != 0) ++tiles;
    const int h = std::max(1, static_cast<int>(static_cast<double>(tileWidth) * frameHeight / frameWidth + 0.5));
    tileSize_ = cv::Size(tileWidth, h);
    tiles_.resize(static_cast<size_t>(tiles));
    for (cv::Mat& t : tiles_) t.create(tileSize_, CV_8UC3);
    frames_.assign(static_cast<size_t>(tiles), -1);
}

long ContactSheet::targetFrame(int tile) const {
    const double n = static_cast<double>(frameCount_), k = static_cast<double>(tiles_.size());
    return static_cast<long>((tile + 0.5) * n / k);
}

bool ContactSheet::wants(long index) const {
    if (frameCount_ > 0) {
        return kept_ < static_cast<int>(tiles_.size()) && index == targetFrame(kept_);
    }
    // Unknown length: after compaction the next kept frame is a multiple of the new stride.
    const long stride = kept_ == static_cast<int>(tiles_.size()) ? 2 * stride_ : stride_;
    return index % stride == 0;
}

void ContactSheet::offer(long index, const cv::Mat& annotated) {
    if (!wants(index)) return;
    if (frameCount_ <= 0 && kept_ == static_cast<int>(tiles_.size())) {
        // Keep the tiles at multiples of twice the stride: 0, 2, 4, ...
        for (int i = 0; 2 * i < kept_; ++i) {
            std::swap(tiles_[static_cast<size_t>(i)], tiles_[static_cast<size_t>(2 * i)]);
            frames_[static_cast<size_t>(i)] = frames_[static_cast<size_t>(2 * i)];
        }
        kept_ /= 2;
        stride_ *= 2;
    }
    cv::resize(annotated, tiles_[static_cast<size_t>(kept_)], tileSize_, 0, 0, cv::INTER_AREA);
    frames_[static_cast<size_t>(kept_)] = index;
    ++kept_;
}

cv::Mat ContactSheet::render() const {
    const int n = std::max(1, kept_);
    const int cols = std::min(columns_, n);
    const int rows = (n + cols - 1) / cols;
    const int gap = 4;
    cv::Mat sheet(rows * (tileSize_.height + gap) + gap, cols * (tileSize_.width + gap) + gap, CV_8UC3,
                  cv::Scalar(32, 32, 32));
    for (int i = 0; i < kept_; ++i) {
        const int x = gap + (i % cols) * (tileSize_.width + gap), y = gap + (i / cols) * (tileSize_.height + gap);
        tiles_[static_cast<size_t>(i)].copyTo(sheet(cv::Rect(x, y, tileSize_.width, tileSize_.height)));
    }
    return sheet;
}

}  // namespace app
}  // namespace kvo
