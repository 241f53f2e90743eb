#include "Placement.h"

#include <cmath>

#include "eval/DlibLayout.h"
#include "tracker/FaceBoxFromEyes.h"

namespace kvo {
namespace trainer {

Rectangle eyeRectangle(const ShapeVec& dlib) {
    return faceBoxFromEyes(inImageOrder(eval::dlibEyeCentres(dlib.data())));
}

void PlacementTarget::add(const ShapeVec& p, const Rectangle& face) {
    const double half = std::trunc(face.width * 0.5 + 0.5);
    const double fx = face.width / config_.refWidth * config_.initScale;
    const double fy = face.height / config_.refWidth * config_.initScale;
    for (int i = 0; i < 68; ++i) {
        sum_[2 * i] += (p[2 * i] - face.x - 1.05 * half - 0.5) / fx;
        sum_[2 * i + 1] += -(p[2 * i + 1] - face.y - 1.25 * half - 0.5) / fy;
    }
    ++count_;
}

ShapeVec PlacementTarget::average() const {
    ShapeVec target = sum_;
    for (double& v : target) v /= count_;
    return target;
}

void PlacementTarget::fit(const ShapeVec& mean, double& s, double& tx, double& ty) const {
    const ShapeVec target = average();
    double mx = 0, my = 0, gx = 0, gy = 0;
    for (int i = 0; i < 68; ++i) {
        mx += mean[2 * i] / 68; my += mean[2 * i + 1] / 68;
        gx += target[2 * i] / 68; gy += target[2 * i + 1] / 68;
    }
    double num = 0, den = 0;
    for (int i = 0; i < 68; ++i) {
        const double ax = mean[2 * i] - mx, ay = mean[2 * i + 1] - my;
        num += ax * (target[2 * i] - gx) + ay * (target[2 * i + 1] - gy);
        den += ax * ax + ay * ay;
    }
    s = num / den;
    tx = gx - s * mx;
    ty = gy - s * my;
}

}  // namespace trainer
}  // namespace kvo
