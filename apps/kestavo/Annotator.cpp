#include "Annotator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "JsonLinesWriter.h"

namespace kvo {
namespace app {

namespace {

// Fixed-point drawing (4 fractional bits) keeps sub-pixel landmark positions visible.
const int kShift = 4;
const double kOne = 1 << kShift;

cv::Point fixedPoint(double x, double y) {
    return cv::Point(static_cast<int>(std::lround(x * kOne)), static_cast<int>(std::lround(y * kOne)));
}

bool drawable(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e5 && std::fabs(y) < 1e5;
}

void drawMesh(cv::Mat& image, const std::vector<double>& xy, const std::vector<int>& triangles,
              const cv::Scalar& colour) {
    const int n = static_cast<int>(xy.size() / 2);
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        for (int e = 0; e < 3; ++e) {
            const int a = triangles[t + e], b = triangles[t + (e + 1) % 3];
            if (a < 0 || b < 0 || a >= n || b >= n) continue;
            const double ax = xy[2 * a], ay = xy[2 * a + 1], bx = xy[2 * b], by = xy[2 * b + 1];
            if (!drawable(ax, ay) || !drawable(bx, by)) continue;
            cv::line(image, fixedPoint(ax, ay), fixedPoint(bx, by), colour, 1, cv::LINE_AA, kShift);
        }
    }
}

}  // namespace

Annotator::Annotator(const std::vector<int>& faceTriangles, const std::vector<int>& candideTriangles)
    : faceTriangles_(faceTriangles), candideTriangles_(candideTriangles) {}

void Annotator::draw(cv::Mat& image, long frame, const FrameResult& r) const {
    drawResult(image, r);
    char caption[160];
    std::snprintf(caption, sizeof caption, "#%ld  %s  %.1f ms", frame, r.state.c_str(), r.updateMs);
    drawCaption(image, caption);
}

void Annotator::drawFaces(cv::Mat& image, const std::vector<FrameResult>& faces, const std::vector<std::string>& labels,
                          const std::string& caption) const {
    // Text scaled with the picture, so that it can be read on a sheet tile.
    const double textScale = std::max(0.45, std::max(image.cols, image.rows) / 1200.0);
    const int thickness = std::max(1, static_cast<int>(std::lround(textScale * 1.5)));
    for (size_t i = 0; i < faces.size(); ++i) {
        const FrameResult& r = faces[i];
        drawResult(image, r);
        const Box& b = r.faceFitted ? r.bounds : r.detectedFace;
        if (i < labels.size() && b.width > 0.0 && drawable(b.x, b.y)) {
            const cv::Point at(static_cast<int>(b.x), static_cast<int>(std::max(12.0, b.y - 4.0)));
            cv::putText(image, labels[i], at, cv::FONT_HERSHEY_SIMPLEX, textScale, cv::Scalar(0, 0, 0), thickness + 2,
                        cv::LINE_AA);
            cv::putText(image, labels[i], at, cv::FONT_HERSHEY_SIMPLEX, textScale, cv::Scalar(0, 255, 255), thickness,
                        cv::LINE_AA);
        }
    }
    drawCaption(image, caption);
}

void Annotator::drawCaption(cv::Mat& image, const std::string& caption) const {
    cv::putText(image, caption, cv::Point(6, 16), cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(0, 0, 0), 3, cv::LINE_AA);
    cv::putText(image, caption, cv::Point(6, 16), cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(255, 255, 255), 1,
                cv::LINE_AA);
}

void Annotator::drawResult(cv::Mat& image, const FrameResult& r) const {
    const bool detectionRan = r.state == "state_face_detection" || r.lastState == "state_face_detection";
    if (detectionRan) {
        for (const Box& d : r.detections) {
            cv::rectangle(image, cv::Rect2d(d.x, d.y, d.width, d.height), cv::Scalar(160, 160, 160), 1);
        }
        const Box& f = r.detectedFace;
        if (f.width > 0 && f.height > 0) {
            cv::rectangle(image, cv::Rect2d(f.x, f.y, f.width, f.height), cv::Scalar(0, 220, 255), 2);
        }
    }
    if (r.faceFitted) {
        if (hasPose(r, !r.candide.empty())) {
            drawMesh(image, r.candide, candideTriangles_, cv::Scalar(200, 60, 200));
        }
        drawMesh(image, r.landmarks, faceTriangles_, cv::Scalar(60, 200, 60));
        for (size_t i = 0; i + 1 < r.landmarks.size(); i += 2) {
            if (!drawable(r.landmarks[i], r.landmarks[i + 1])) continue;
            cv::circle(image, fixedPoint(r.landmarks[i], r.landmarks[i + 1]), 2 << kShift, cv::Scalar(0, 255, 255),
                       -1, cv::LINE_AA, kShift);
        }
        const Box& b = r.bounds;
        cv::rectangle(image, cv::Rect2d(b.x, b.y, b.width, b.height), cv::Scalar(255, 120, 0), 1);
        if (hasPose(r, !r.candide.empty())) {
            // Axes of the Candide frame, scaled like the mesh: image = s R v + t, rows 0 and 1.
            const double s = r.pose[0], tx = r.pose[1], ty = r.pose[2];
            const double cx = std::cos(r.pose[3]), sx = std::sin(r.pose[3]);
            const double cy = std::cos(r.pose[4]), sy = std::sin(r.pose[4]);
            const double cz = std::cos(r.pose[5]), sz = std::sin(r.pose[5]);
            const double row0[3] = {cy * cz, -cy * sz, sy};
            const double row1[3] = {sx * sy * cz + cx * sz, cx * cz - sx * sy * sz, -sx * cy};
            const cv::Scalar colours[3] = {cv::Scalar(0, 0, 255), cv::Scalar(0, 255, 0), cv::Scalar(255, 0, 0)};
            const double length = 0.6 * s;
            if (drawable(tx, ty)) {
                for (int k = 0; k < 3; ++k) {
                    const double ex = tx + length * row0[k], ey = ty + length * row1[k];
                    if (!drawable(ex, ey)) continue;
                    cv::arrowedLine(image, fixedPoint(tx, ty), fixedPoint(ex, ey), colours[k], 2, cv::LINE_AA,
                                    kShift, 0.15);
                }
            }
        }
    }
    for (size_t i = 0; i < r.pointStates.size(); ++i) {
        const double x = r.points[2 * i], y = r.points[2 * i + 1];
        if (!drawable(x, y)) continue;
        const cv::Scalar colour = r.pointStates[i] ? cv::Scalar(0, 230, 0) : cv::Scalar(0, 0, 255);
        cv::circle(image, fixedPoint(x, y), 3 << kShift, colour, -1, cv::LINE_AA, kShift);
    }
}

}  // namespace app
}  // namespace kvo
