#pragma once
// Labelled training faces: the labels file and the grey images it refers to.
//
// Labels file: one line per face, "<source>\t<frame>\t<x0> <y0> ... <x67> <y67>", source
// relative to the media root (or to its parent folder), frame the 0-based video frame or
// -1 for a still, coordinates in that image's pixels (x right, y down).
//
// Grey images are made exactly as the library makes them from a host bitmap: the decoded
// colour pixels as blue, green, red, alpha bytes through kvo::convertToGrey.
//
// Thread safety: none needed; plain values.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "MuctShapes.h"

namespace kvo {
namespace trainer {

struct LabelledFace {
    std::string source;
    int frame = -1;
    ShapeVec points;  // 136: image pixels, y down
};

// Reads the labels file; lines that do not hold a source, a frame and 136 numbers are
// reported and skipped. Order is kept.
std::vector<LabelledFace> readLabels(const std::string& path);

// Grey image of a colour image (BGR, 8 bits) by the library's conversion.
cv::Mat toLibraryGrey(const cv::Mat& bgr);

// Loads the grey images of the labelled faces (stills directly, video frames by decoding
// each video once from its start). images[i] is the image of faces[i]; empty when the
// media could not be read (reported).
std::vector<cv::Mat> loadImages(const std::vector<LabelledFace>& faces, const std::string& mediaRoot);

// Decodes video frames in order, as grey images by the library's conversion.
class GreyVideo {
public:
    explicit GreyVideo(const std::string& path);
    bool isOpen() const;
    // Next frame; false at the end.
    bool next(cv::Mat& grey);
    // Colour of the last frame (BGR).
    const cv::Mat& colour() const { return bgr_; }

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
    cv::Mat bgr_;
};

}  // namespace trainer
}  // namespace kvo
