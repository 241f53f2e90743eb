#include "Peers.h"

#include <algorithm>
#include <fstream>

#include <dlib/opencv.h>

#include "OurTracker.h"

namespace kvoeval {

Peers::Peers(const std::string& cascadePath, const std::string& predictorPath, double minFace, double maxFace)
    : minFace_(minFace), maxFace_(maxFace) {
    const bool cascadeOk = cascade_.load(cascadePath);
    if (std::ifstream(predictorPath).good()) dlib_.reset(new kvo::eval::DlibPeer(predictorPath));
    ok_ = cascadeOk && dlib_ != nullptr;
}

std::vector<cv::Rect> Peers::opencvFaces(const cv::Mat& grey, double* ms) {
    std::vector<cv::Rect> faces;
    const double t0 = nowMs();
    cascade_.detectMultiScale(grey, faces, 1.1, 3, 0, cv::Size(int(minFace_), int(minFace_)),
                              cv::Size(int(maxFace_), int(maxFace_)));
    if (ms != nullptr) *ms = nowMs() - t0;
    return faces;
}

std::vector<cv::Rect> Peers::dlibFaces(const cv::Mat& grey, double* ms) {
    dlib::cv_image<unsigned char> img(grey);
    const double t0 = nowMs();
    std::vector<dlib::rectangle> found = dlib_->faces(img);
    if (ms != nullptr) *ms = nowMs() - t0;
    std::vector<cv::Rect> faces;
    for (const dlib::rectangle& r : found)
        faces.emplace_back(int(r.left()), int(r.top()), int(r.width()), int(r.height()));
    return faces;
}

Shape68 Peers::dlibLandmarks(const cv::Mat& grey, const cv::Rect& face, double* ms) {
    dlib::cv_image<unsigned char> img(grey);
    const dlib::rectangle box(face.x, face.y, face.x + face.width - 1, face.y + face.height - 1);
    const double t0 = nowMs();
    const std::vector<double> xy = dlib_->landmarks(img, box);
    if (ms != nullptr) *ms = nowMs() - t0;
    Shape68 s{};
    std::copy(xy.begin(), xy.begin() + std::min(xy.size(), s.size()), s.begin());
    return s;
}

cv::Rect largest(const std::vector<cv::Rect>& faces) {
    cv::Rect best;
    for (const cv::Rect& r : faces)
        if (r.area() > best.area()) best = r;
    return best;
}

}  // namespace kvoeval
