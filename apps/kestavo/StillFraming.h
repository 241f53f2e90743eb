#pragma once
// How a still picture is handed to the tracker, and how what the tracker reports is
// mapped back onto the picture.
//
// What it represents: the placement of one picture in the tracker's square working
// frame (the canvas, whose size is fixed for the tracker's life): the picture is scaled
// so that its longer side is `pictureSide` pixels and centred, and the rest of the
// canvas is a plain border of the picture's mean colour. The border lets the detector
// scan windows larger than the picture, which a close-up face that fills the picture
// needs (a window only counts when it lies wholly inside the scanned region); the
// fixed picture size puts every photo's face into the same range of window sizes,
// whatever the photo's resolution.
//
// Coordinates: canvas pixels c and picture pixels p are related by
// c = p * scale() + offset, for x and y alike (origin top-left, y down).
//
// Thread safety: a plain value; place() writes only into the caller's image.
#include <opencv2/core.hpp>

#include "HostTracker.h"

namespace kvo {
namespace app {

struct StillCanvas {
    int pictureSide = 480;     // the picture's longer side on the canvas, pixels
    double border = 0.25;      // border on each side, as a share of pictureSide

    // The canvas side, pixels: pictureSide * (1 + 2 * border), rounded.
    int side() const;
};

class StillFraming {
public:
    // Requires: canvas.pictureSide >= 16, canvas.border >= 0, picture non-empty CV_8UC3.
    // Ensures: `canvasImage` (canvas.side() square, CV_8UC3) holds the framed picture.
    StillFraming(const StillCanvas& canvas, const cv::Mat& picture, cv::Mat& canvasImage);

    // A window onto the picture at any scale: canvas = picture * scale + (offsetX, offsetY).
    // Requires: side >= 16, scale > 0, picture non-empty CV_8UC3.
    // Ensures: `canvasImage` (side square, CV_8UC3) holds the part of the picture the
    // window shows, the rest the mean colour of that part; scanRegion() is that part, in
    // canvas pixels (empty when the window shows none of the picture).
    StillFraming(int side, const cv::Mat& picture, double scale, double offsetX, double offsetY, cv::Mat& canvasImage);

    // The window that shows the picture at `scale` with picture point (x, y) at the
    // canvas centre.
    static StillFraming centredOn(int side, const cv::Mat& picture, double scale, double x, double y,
                                  cv::Mat& canvasImage) {
        return StillFraming(side, picture, scale, 0.5 * side - x * scale, 0.5 * side - y * scale, canvasImage);
    }

    double scale() const { return scale_; }
    double offsetX() const { return offsetX_; }
    double offsetY() const { return offsetY_; }
    // The picture with its border, in canvas pixels: the region worth scanning.
    cv::Rect2d scanRegion() const { return scanRegion_; }

    double toPictureX(double canvasX) const { return (canvasX - offsetX_) / scale_; }
    double toPictureY(double canvasY) const { return (canvasY - offsetY_) / scale_; }
    Box toPicture(const Box& canvasBox) const;
    // A box in picture pixels on the canvas.
    Box toCanvas(const Box& p) const {
        return Box{p.x * scale_ + offsetX_, p.y * scale_ + offsetY_, p.width * scale_, p.height * scale_};
    }
    // Maps every position and size of `r` from canvas to picture pixels: landmarks,
    // bounds, the pose's translation and scale, Candide vertices, the detected face,
    // the raw detections and the points. Zero-sized boxes (nothing detected) stay zero.
    void toPicture(FrameResult& r) const;

private:
    double scale_ = 1.0, offsetX_ = 0.0, offsetY_ = 0.0;
    cv::Rect2d scanRegion_;
};

}  // namespace app
}  // namespace kvo
