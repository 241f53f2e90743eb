#pragma once
// The peers measured beside the library on the same grey frames: OpenCV's Haar cascade
// detector (the cascade the library embeds), dlib's HOG frontal face detector and its
// 68-landmark shape predictor.
// Thread safety: none; one thread.
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "OurTracker.h"
#include "eval/DlibPeer.h"
#include "eval/Overlap.h"

namespace kvoeval {

class Peers {
public:
    // Loads the cascade and the predictor; ok() tells whether both loaded.
    Peers(const std::string& cascadePath, const std::string& predictorPath, double minFace, double maxFace);
    bool ok() const { return ok_; }

    // Faces on a grey frame (pixels); the time of the call in `ms`.
    std::vector<cv::Rect> opencvFaces(const cv::Mat& grey, double* ms);
    std::vector<cv::Rect> dlibFaces(const cv::Mat& grey, double* ms);
    // dlib's 68 landmarks inside `face` (pixels).
    Shape68 dlibLandmarks(const cv::Mat& grey, const cv::Rect& face, double* ms);

private:
    cv::CascadeClassifier cascade_;
    std::unique_ptr<kvo::eval::DlibPeer> dlib_;  // null when the predictor is missing
    double minFace_, maxFace_;
    bool ok_ = false;
};

using kvo::eval::iou;  // the overlap of two boxes (eval/Overlap.h)

// The largest of `faces`, or an empty rectangle.
cv::Rect largest(const std::vector<cv::Rect>& faces);

}  // namespace kvoeval
