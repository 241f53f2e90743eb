#include "PosePlot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "math/Angles.h"

namespace kvo {
namespace app {

namespace {

struct Panel {
    cv::Rect area;
    double yMin, yMax;
    long frames;
    cv::Point at(double frame, double value) const {
        const double fx = frames > 1 ? frame / double(frames - 1) : 0.5;
        const double fy = (value - yMin) / (yMax - yMin);
        return cv::Point(area.x + static_cast<int>(std::lround(fx * area.width)),
                         area.y + area.height - static_cast<int>(std::lround(std::min(1.0, std::max(0.0, fy)) * area.height)));
    }
};

void label(cv::Mat& img, const std::string& text, cv::Point at, const cv::Scalar& colour = cv::Scalar(40, 40, 40)) {
    cv::putText(img, text, at, cv::FONT_HERSHEY_SIMPLEX, 0.42, colour, 1, cv::LINE_AA);
}

void axes(cv::Mat& img, const Panel& p, const char* unit, double step) {
    cv::rectangle(img, p.area, cv::Scalar(120, 120, 120), 1);
    char text[32];
    for (double v = std::ceil(p.yMin / step) * step; v <= p.yMax + 1e-9; v += step) {
        const cv::Point a = p.at(0, v);
        cv::line(img, a, cv::Point(p.area.x + p.area.width, a.y), cv::Scalar(225, 225, 225), 1);
        std::snprintf(text, sizeof text, "%g", std::fabs(v) < 1e-9 ? 0.0 : v);
        label(img, text, cv::Point(p.area.x - 44, a.y + 4));
    }
    label(img, unit, cv::Point(p.area.x - 44, p.area.y - 8));
    const long frames = std::max(1L, p.frames);
    const double rawStep = frames / 8.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(std::max(1.0, rawStep))));
    const double frameStep = std::max(1.0, std::ceil(rawStep / magnitude) * magnitude);
    for (double f = 0; f < frames; f += frameStep) {
        const cv::Point a = p.at(f, p.yMin);
        cv::line(img, a, cv::Point(a.x, a.y + 4), cv::Scalar(120, 120, 120), 1);
        std::snprintf(text, sizeof text, "%.0f", f);
        label(img, text, cv::Point(a.x - 10, a.y + 18));
    }
}

void series(cv::Mat& img, const Panel& p, const std::vector<double>& values, double factor, const cv::Scalar& colour) {
    bool drawing = false;
    cv::Point last;
    for (size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            drawing = false;
            continue;
        }
        const cv::Point q = p.at(static_cast<double>(i), values[i] * factor);
        if (drawing) cv::line(img, last, q, colour, 1, cv::LINE_AA);
        else cv::circle(img, q, 1, colour, -1);
        last = q;
        drawing = true;
    }
}

}  // namespace

cv::Mat renderPlot(const RunStats& stats, const std::string& title) {
    cv::Mat img(640, 1200, CV_8UC3, cv::Scalar(255, 255, 255));
    const long frames = stats.frames();
    label(img, title, cv::Point(60, 22), cv::Scalar(0, 0, 0));

    double maxAngle = 0.0;
    for (int a = 0; a < 3; ++a) {
        for (double v : stats.rotation(a)) {
            if (std::isfinite(v)) maxAngle = std::max(maxAngle, std::fabs(v * DEGREES_PER_RADIAN));
        }
    }
    const double angleRange = std::max(10.0, std::ceil(maxAngle / 10.0) * 10.0);
    Panel pose{cv::Rect(70, 50, 1100, 250), -angleRange, angleRange, frames};
    axes(img, pose, "deg", angleRange <= 30 ? 10.0 : angleRange <= 90 ? 30.0 : 60.0);
    const cv::Scalar colours[3] = {cv::Scalar(40, 40, 220), cv::Scalar(40, 160, 40), cv::Scalar(220, 80, 40)};
    const char* names[3] = {"rotation x (pitch)", "rotation y (yaw)", "rotation z (roll)"};
    for (int a = 0; a < 3; ++a) {
        series(img, pose, stats.rotation(a), DEGREES_PER_RADIAN, colours[a]);
        label(img, names[a], cv::Point(700 + 160 * (a - 1), 40), colours[a]);
    }
    label(img, "head pose (Candide fit)", cv::Point(70, 40));

    const double median = quantile(stats.updateMs(), 0.5), p95 = quantile(stats.updateMs(), 0.95);
    const double p99 = quantile(stats.updateMs(), 0.99);
    double top = std::isfinite(p99) ? p99 * 1.25 : 1.0;
    const double stepMs = top <= 5 ? 1 : top <= 25 ? 5 : top <= 50 ? 10 : top <= 250 ? 50 : 100;
    top = std::max(stepMs, std::ceil(top / stepMs) * stepMs);
    Panel time{cv::Rect(70, 360, 1100, 240), 0.0, top, frames};
    axes(img, time, "ms", stepMs);
    series(img, time, stats.updateMs(), 1.0, cv::Scalar(90, 90, 90));
    char text[128];
    if (std::isfinite(median)) {
        cv::line(img, time.at(0, median), time.at(double(std::max(1L, frames - 1)), median), cv::Scalar(0, 160, 0), 1);
        cv::line(img, time.at(0, p95), time.at(double(std::max(1L, frames - 1)), p95), cv::Scalar(0, 0, 200), 1);
        std::snprintf(text, sizeof text, "kvo_update per frame (host clock): median %.2f ms, p95 %.2f ms", median, p95);
        label(img, text, cv::Point(70, 350));
    }
    label(img, "frame", cv::Point(1130, 630));
    return img;
}

}  // namespace app
}  // namespace kvo
