#include "Peers.h"

#include <algorithm>
#include <fstream>

#include <dlib/opencv.h>

#include "OurTracker.h"

namespace kvoeval {

Peers::Peers(const std::string& cascadePath, const std::string& predictorPath, double minFace, double maxFace)
    : hog_(dlib::get_frontal_face_detector()), minFace_(minFace), maxFace_(maxFace) {
    const bool cascadeOk = cascade_.load(cascadePath);
    bool predictorOk = std::ifstream(predictorPath).good();
    if (predictorOk) dlib::deserialize(predictorPath) >> predictor_;
    ok_ = cascadeOk && predictorOk;
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
    std::vector<dlib::rectangle> found = hog_(img);
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
    dlib::full_object_detection d = predictor_(img, box);
    if (ms != nullptr) *ms = nowMs() - t0;
    Shape68 s{};
    for (unsigned i = 0; i < 68 && i < d.num_parts(); ++i) {
        s[2 * i] = d.part(i).x();
        s[2 * i + 1] = d.part(i).y();
    }
    return s;
}

double iou(double ax, double ay, double aw, double ah, double bx, double by, double bw, double bh) {
    if (aw <= 0 || ah <= 0 || bw <= 0 || bh <= 0) return 0.0;
    const double x0 = std::max(ax, bx), y0 = std::max(ay, by);
    const double x1 = std::min(ax + aw, bx + bw), y1 = std::min(ay + ah, by + bh);
    const double inter = std::max(0.0, x1 - x0) * std::max(0.0, y1 - y0);
    return inter / (aw * ah + bw * bh - inter);
}

cv::Rect largest(const std::vector<cv::Rect>& faces) {
    cv::Rect best;
    for (const cv::Rect& r : faces)
        if (r.area() > best.area()) best = r;
    return best;
}

}  // namespace kvoeval
