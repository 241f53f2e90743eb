#pragma once
// Test support: a drawn face (grey ellipses and lines at the landmarks of a MUCT shape)
// so the trainer's tests have an image whose landmarks are known exactly.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "MuctShapes.h"

namespace kvotest {

// The first complete MUCT shape, in image pixels (y down) scaled by `scale` and shifted
// by (dx, dy).
inline kvo::trainer::ShapeVec muctFace(double scale, double dx, double dy) {
    std::vector<kvo::trainer::ShapeVec> s =
        kvo::trainer::readMuctShapes(std::string(KVO_MUCT_SHAPES), 1);
    kvo::trainer::ShapeVec p = s.empty() ? kvo::trainer::ShapeVec() : s[0];
    for (size_t i = 0; i + 1 < p.size(); i += 2) {
        p[i] = p[i] * scale + dx;
        p[i + 1] = -p[i + 1] * scale + dy;  // back to y down
    }
    return p;
}

// Draws the face outline, brows, eyes, nose and lips of `p` on a textured background.
inline cv::Mat drawFace(const kvo::trainer::ShapeVec& p, int width, int height) {
    cv::Mat img(height, width, CV_8UC1);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) img.at<uint8_t>(r, c) = static_cast<uint8_t>(60 + (r * 7 + c * 3) % 40);
    auto pt = [&](int i) { return cv::Point(static_cast<int>(p[2 * i]), static_cast<int>(p[2 * i + 1])); };
    std::vector<cv::Point> jaw;
    for (int i = 0; i <= 14; ++i) jaw.push_back(pt(i));
    jaw.push_back(pt(22));
    jaw.push_back(pt(16));
    cv::fillConvexPoly(img, jaw, cv::Scalar(190));
    auto poly = [&](std::initializer_list<int> idx, int grey, bool closed) {
        std::vector<cv::Point> v;
        for (int i : idx) v.push_back(pt(i));
        cv::polylines(img, v, closed, cv::Scalar(grey), 2);
    };
    poly({15, 16, 17, 18, 19, 20}, 50, true);
    poly({21, 22, 23, 24, 25, 26}, 50, true);
    poly({27, 28, 29, 30}, 40, true);
    poly({32, 33, 34, 35}, 40, true);
    cv::circle(img, pt(31), 3, cv::Scalar(10), -1);
    cv::circle(img, pt(36), 3, cv::Scalar(10), -1);
    poly({37, 38, 39, 40, 41, 42, 43, 44, 45}, 110, false);
    poly({48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59}, 70, true);
    poly({60, 61, 62, 63, 64, 65}, 30, true);
    return img;
}

}  // namespace kvotest
