#pragma once
// The peers measured beside the library on the same grey frames: OpenCV's Haar cascade
// detector (the cascade the library embeds), dlib's HOG frontal face detector and its
// 68-landmark shape predictor.
// Thread safety: none; one thread.
#include <string>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "LandmarkMap.h"

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
    dlib::frontal_face_detector hog_;
    dlib::shape_predictor predictor_;
    double minFace_, maxFace_;
    bool ok_ = false;
};

// Intersection over union of two rectangles (pixels); 0 when either is empty.
double iou(double ax, double ay, double aw, double ah, double bx, double by, double bw, double bh);

// The largest of `faces`, or an empty rectangle.
cv::Rect largest(const std::vector<cv::Rect>& faces);

}  // namespace kvoeval
