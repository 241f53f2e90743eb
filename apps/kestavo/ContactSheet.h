#pragma once
// A contact sheet: thumbnails of annotated frames spread over the run, in a grid.
//
// What it represents: up to `tiles` thumbnails, each `tileWidth` pixels wide with the
// frame's aspect ratio, allocated at construction. With the frame count known the
// chosen frames are the centres of `tiles` equal stretches of the run; without it
// (cameras) every frame at a multiple of a stride is kept, and the stride doubles
// (dropping every other tile) whenever the tiles are full, so the kept frames stay
// evenly spread over what has been seen.
//
// Thread safety: none.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace kvo {
namespace app {

class ContactSheet {
public:
    // Requires: tiles >= 2 and even when frameCount < 0; columns >= 1.
    ContactSheet(int frameWidth, int frameHeight, long frameCount, int tiles, int columns, int tileWidth = 320);

    // Whether frame `index` will be kept (so the caller draws the annotation for it).
    bool wants(long index) const;
    // Keeps the annotated frame `index` if wanted.
    void offer(long index, const cv::Mat& annotated);
    // The sheet image, tiles in frame order.
    cv::Mat render() const;
    int tilesKept() const { return kept_; }

private:
    long targetFrame(int tile) const;

    long frameCount_;
    int columns_;
    cv::Size tileSize_;
    std::vector<cv::Mat> tiles_;
    std::vector<long> frames_;
    int kept_ = 0;
    long stride_ = 1;  // unknown frame count only
};

}  // namespace app
}  // namespace kvo
