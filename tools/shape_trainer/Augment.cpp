#include "Augment.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "asm/FaceLandmarks.h"

namespace kvo {
namespace trainer {

std::vector<int> mirrorPartners() {
    std::vector<int> partner(68);
    for (int i = 0; i < 68; ++i) {
        const int p = i < static_cast<int>(FaceLandmarks::gLandTab.size()) && FaceLandmarks::gLandTab[i]
                          ? FaceLandmarks::gLandTab[i]->partner
                          : -1;
        partner[i] = (p >= 0 && p < 68) ? p : i;
    }
    return partner;
}

void applyVariation(const cv::Mat& grey, const ShapeVec& points, const Variation& v,
                    cv::Mat& outGrey, ShapeVec& outPoints) {
    const size_t n = points.size() / 2;
    double minX = points[0], maxX = points[0], minY = points[1], maxY = points[1];
    for (size_t i = 0; i < n; ++i) {
        minX = std::min(minX, points[2 * i]); maxX = std::max(maxX, points[2 * i]);
        minY = std::min(minY, points[2 * i + 1]); maxY = std::max(maxY, points[2 * i + 1]);
    }
    const double cx = 0.5 * (minX + maxX), cy = 0.5 * (minY + maxY);
    // Forward map: optional mirror about cx, then rotation and scale about (cx, cy).
    // In image coordinates (y down) a counter-clockwise turn is (c, s; -s, c).
    const double c = std::cos(v.rotation) * v.scale, s = std::sin(v.rotation) * v.scale;
    const double m = v.mirror ? -1.0 : 1.0;
    // x' = c*m*(x-cx) + s*(y-cy) + cx ; y' = -s*m*(x-cx) + c*(y-cy) + cy
    cv::Mat fwd = (cv::Mat_<double>(2, 3) << c * m, s, cx - c * m * cx - s * cy,
                   -s * m, c, cy + s * m * cx - c * cy);
    cv::Mat warped;
    cv::warpAffine(grey, warped, fwd, grey.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    if (v.gain != 1.0 || v.gamma != 1.0 || v.offset != 0.0) {
        cv::Mat lut(1, 256, CV_8U);
        for (int g = 0; g < 256; ++g) {
            const double t = std::min(1.0, v.gain * g / 255.0);
            const double out = 255.0 * std::pow(t, v.gamma) + v.offset;
            lut.at<uint8_t>(g) = static_cast<uint8_t>(std::max(0.0, std::min(255.0, std::floor(out + 0.5))));
        }
        cv::LUT(warped, lut, outGrey);
    } else {
        outGrey = warped;
    }
    std::vector<int> partner;
    if (v.mirror) partner = mirrorPartners();
    outPoints.assign(points.size(), 0.0);
    for (size_t i = 0; i < n; ++i) {
        const double x = points[2 * i], y = points[2 * i + 1];
        const double nx = fwd.at<double>(0, 0) * x + fwd.at<double>(0, 1) * y + fwd.at<double>(0, 2);
        const double ny = fwd.at<double>(1, 0) * x + fwd.at<double>(1, 1) * y + fwd.at<double>(1, 2);
        const size_t dst = v.mirror ? static_cast<size_t>(partner[i]) : i;
        outPoints[2 * dst] = nx;
        outPoints[2 * dst + 1] = ny;
    }
}

cv::Mat videoLike(const cv::Mat& grey, const ShapeVec& points, double faceWidth, int quality) {
    double x0 = 1e300, x1 = -1e300;
    for (size_t i = 0; i + 1 < points.size(); i += 2) x0 = std::min(x0, points[i]), x1 = std::max(x1, points[i]);
    const double f = x1 > x0 ? std::min(1.0, faceWidth / (x1 - x0)) : 1.0;
    cv::Mat small;
    cv::resize(grey, small, cv::Size(std::max(1, static_cast<int>(std::lround(grey.cols * f))),
                                     std::max(1, static_cast<int>(std::lround(grey.rows * f)))),
               0, 0, cv::INTER_AREA);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", small, jpeg, {cv::IMWRITE_JPEG_QUALITY, quality});
    const cv::Mat decoded = cv::imdecode(jpeg, cv::IMREAD_GRAYSCALE);
    cv::Mat out;
    cv::resize(decoded, out, grey.size(), 0, 0, cv::INTER_LINEAR);
    return out;
}

}  // namespace trainer
}  // namespace kvo
