#include "eval/DlibPeer.h"

#include <cmath>

namespace kvo {
namespace eval {

DlibPeer::DlibPeer(const std::string& predictorPath) : detector_(dlib::get_frontal_face_detector()) {
    dlib::deserialize(predictorPath) >> predictor_;
}

int DlibPeer::nearestFace(const std::vector<dlib::rectangle>& faces, const double* shape) {
    double cx = 0, cy = 0;
    for (int i = 0; i < 68; ++i) {
        cx += shape[2 * i] / 68;
        cy += shape[2 * i + 1] / 68;
    }
    int best = -1;
    double bestDistance = 1e30;
    for (size_t k = 0; k < faces.size(); ++k) {
        const double d = std::hypot(dlib::center(faces[k]).x() - cx, dlib::center(faces[k]).y() - cy);
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(k);
        }
    }
    return best;
}

}  // namespace eval
}  // namespace kvo
