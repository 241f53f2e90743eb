#include "StillFraming.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace kvo {
namespace app {

int StillCanvas::side() const { return static_cast<int>(std::lround(pictureSide * (1.0 + 2.0 * border))); }

StillFraming::StillFraming(const StillCanvas& canvas, const cv::Mat& picture, cv::Mat& canvasImage) {
    const int side = canvas.side();
    scale_ = static_cast<double>(canvas.pictureSide) / std::max(picture.cols, picture.rows);
    const int w = std::max(1, static_cast<int>(std::lround(picture.cols * scale_)));
    const int h = std::max(1, static_cast<int>(std::lround(picture.rows * scale_)));
    const int x0 = (side - w) / 2, y0 = (side - h) / 2;
    // The rounded size is what is drawn; the map uses the scale that produced it, per axis
    // alike, so a point at the picture's far edge lands on the drawn far edge within half
    // a canvas pixel.
    offsetX_ = x0;
    offsetY_ = y0;

    canvasImage.create(side, side, CV_8UC3);
    canvasImage.setTo(cv::mean(picture));
    cv::Mat placed = canvasImage(cv::Rect(x0, y0, w, h));
    cv::resize(picture, placed, cv::Size(w, h), 0, 0, scale_ < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);

    const double b = canvas.border * canvas.pictureSide;
    const double left = std::max(0.0, x0 - b), top = std::max(0.0, y0 - b);
    const double right = std::min<double>(side, x0 + w + b), bottom = std::min<double>(side, y0 + h + b);
    scanRegion_ = cv::Rect2d(left, top, right - left, bottom - top);
}

StillFraming::StillFraming(int side, const cv::Mat& picture, double scale, double offsetX, double offsetY,
                           cv::Mat& canvasImage)
    : scale_(scale), offsetX_(offsetX), offsetY_(offsetY) {
    canvasImage.create(side, side, CV_8UC3);
    // The picture pixels the canvas shows, widened to whole pixels.
    const int px0 = std::max(0, static_cast<int>(std::floor(-offsetX / scale)));
    const int py0 = std::max(0, static_cast<int>(std::floor(-offsetY / scale)));
    const int px1 = std::min(picture.cols, static_cast<int>(std::ceil((side - offsetX) / scale)));
    const int py1 = std::min(picture.rows, static_cast<int>(std::ceil((side - offsetY) / scale)));
    if (px1 <= px0 || py1 <= py0) {
        canvasImage.setTo(cv::Scalar::all(0));
        return;
    }
    const cv::Mat shown = picture(cv::Rect(px0, py0, px1 - px0, py1 - py0));
    canvasImage.setTo(cv::mean(shown));
    // Drawn at its place: the shown pixels scaled, then cut to the canvas.
    const int x0 = static_cast<int>(std::lround(px0 * scale + offsetX));
    const int y0 = static_cast<int>(std::lround(py0 * scale + offsetY));
    const int w = std::max(1, static_cast<int>(std::lround((px1 - px0) * scale)));
    const int h = std::max(1, static_cast<int>(std::lround((py1 - py0) * scale)));
    const cv::Rect target = cv::Rect(x0, y0, w, h) & cv::Rect(0, 0, side, side);
    if (target.empty()) return;
    cv::Mat scaled;
    cv::resize(shown, scaled, cv::Size(w, h), 0, 0, scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    scaled(cv::Rect(target.x - x0, target.y - y0, target.width, target.height)).copyTo(canvasImage(target));
    scanRegion_ = cv::Rect2d(target.x, target.y, target.width, target.height);
}

Box StillFraming::toPicture(const Box& c) const {
    if (!(c.width > 0.0 && c.height > 0.0)) return c;
    return Box{toPictureX(c.x), toPictureY(c.y), c.width / scale_, c.height / scale_};
}

void StillFraming::toPicture(FrameResult& r) const {
    for (size_t i = 0; i + 1 < r.landmarks.size(); i += 2) {
        r.landmarks[i] = toPictureX(r.landmarks[i]);
        r.landmarks[i + 1] = toPictureY(r.landmarks[i + 1]);
    }
    for (size_t i = 0; i + 1 < r.candide.size(); i += 2) {
        r.candide[i] = toPictureX(r.candide[i]);
        r.candide[i + 1] = toPictureY(r.candide[i + 1]);
    }
    for (size_t i = 0; i + 1 < r.points.size(); i += 2) {
        r.points[i] = toPictureX(r.points[i]);
        r.points[i + 1] = toPictureY(r.points[i + 1]);
    }
    r.bounds = toPicture(r.bounds);
    r.detectedFace = toPicture(r.detectedFace);
    for (Box& d : r.detections) d = toPicture(d);
    // Pose: scale in pixels per model unit, translation a position in pixels.
    r.pose[0] /= scale_;
    r.pose[1] = toPictureX(r.pose[1]);
    r.pose[2] = toPictureY(r.pose[2]);
}

}  // namespace app
}  // namespace kvo
