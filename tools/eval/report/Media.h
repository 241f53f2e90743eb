#pragma once
// Frames fitted into the 640 x 480 frame that every detector and tracker of the report is
// given (the media themselves: eval/SampleMedia.h).
//
// Frames are letterboxed: scaled to fit 640 x 480 with their aspect ratio kept and
// centred on black, so faces are not distorted. Pixels are 32-bit host pixels (bytes
// blue, green, red, alpha), as a host bitmap delivers them.
// Thread safety: none needed; one thread.
#include <string>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace kvoeval {

const int FRAME_W = 640;
const int FRAME_H = 480;

// `image` (BGR or BGRA, any size) letterboxed into a FRAME_W x FRAME_H BGRA frame.
cv::Mat letterbox(const cv::Mat& image);

// A video read frame by frame, each letterboxed.
class VideoFrames {
public:
    explicit VideoFrames(const std::string& path);
    bool ok() const { return capture_.isOpened(); }
    double fps() const;
    // Reads the next frame into `bgra` (FRAME_W x FRAME_H, CV_8UC4); false at the end.
    bool next(cv::Mat& bgra);

private:
    cv::VideoCapture capture_;
    cv::Mat raw_;
};

}  // namespace kvoeval
