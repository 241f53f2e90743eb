#pragma once
// The library's own face detector on grey images, run through the tracker in detection
// mode exactly as a host would: one update per image, the first merged face.
//
// Thread safety: none; owns a tracker per image size.
#include <map>
#include <memory>
#include <utility>

#include <opencv2/core.hpp>

#include "math/Rectangle.h"

namespace kvo {
class Kestavo;
namespace trainer {

class FaceDetections {
public:
    FaceDetections();
    ~FaceDetections();
    // The first merged face of `grey` (input pixels); false when none was found.
    bool detect(const cv::Mat& grey, Rectangle& face);

private:
    struct Tracker;
    std::map<std::pair<int, int>, std::unique_ptr<Tracker>> trackers_;
};

}  // namespace trainer
}  // namespace kvo
