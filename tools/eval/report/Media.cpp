#include "Media.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace kvoeval {

cv::Mat letterbox(const cv::Mat& image) {
    cv::Mat bgra;
    if (image.channels() == 4) bgra = image;
    else if (image.channels() == 3) cv::cvtColor(image, bgra, cv::COLOR_BGR2BGRA);
    else cv::cvtColor(image, bgra, cv::COLOR_GRAY2BGRA);
    const double s = std::min(static_cast<double>(FRAME_W) / bgra.cols, static_cast<double>(FRAME_H) / bgra.rows);
    const int w = std::max(1, std::min(FRAME_W, static_cast<int>(bgra.cols * s + 0.5)));
    const int h = std::max(1, std::min(FRAME_H, static_cast<int>(bgra.rows * s + 0.5)));
    cv::Mat out(FRAME_H, FRAME_W, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    cv::Mat scaled;
    cv::resize(bgra, scaled, cv::Size(w, h), 0, 0, s < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    scaled.copyTo(out(cv::Rect((FRAME_W - w) / 2, (FRAME_H - h) / 2, w, h)));
    return out;
}

VideoFrames::VideoFrames(const std::string& path) : capture_(path) {}

double VideoFrames::fps() const {
    const double f = capture_.get(cv::CAP_PROP_FPS);
    return f > 1.0 ? f : 25.0;
}

bool VideoFrames::next(cv::Mat& bgra) {
    if (!capture_.read(raw_) || raw_.empty()) return false;
    bgra = letterbox(raw_);
    return true;
}

}  // namespace kvoeval
