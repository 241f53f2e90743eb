#include "Charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace kvoeval {
namespace {

const int W = 900, H = 480, LEFT = 80, RIGHT = 20, TOP = 50, BOTTOM = 110;
const cv::Scalar COLOURS[] = {{200, 110, 30}, {40, 140, 240}, {60, 170, 60}, {60, 60, 200},
                              {160, 80, 160}, {120, 120, 120}};

std::string format(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

double maxValue(const std::vector<Series>& series) {
    double m = 0.0;
    for (const Series& s : series)
        for (double v : s.values)
            if (std::isfinite(v)) m = std::max(m, v);
    return m > 0.0 ? m * 1.1 : 1.0;
}

void frame(cv::Mat& img, const std::string& title, const std::string& unit, double top) {
    cv::putText(img, title, {LEFT, 30}, cv::FONT_HERSHEY_SIMPLEX, 0.65, {0, 0, 0}, 1, cv::LINE_AA);
    cv::line(img, {LEFT, TOP}, {LEFT, H - BOTTOM}, {0, 0, 0});
    cv::line(img, {LEFT, H - BOTTOM}, {W - RIGHT, H - BOTTOM}, {0, 0, 0});
    for (int i = 0; i <= 4; ++i) {
        const int y = H - BOTTOM - (H - BOTTOM - TOP) * i / 4;
        cv::line(img, {LEFT - 4, y}, {W - RIGHT, y}, {225, 225, 225});
        cv::putText(img, format(top * i / 4), {5, y + 4}, cv::FONT_HERSHEY_SIMPLEX, 0.4, {0, 0, 0}, 1, cv::LINE_AA);
    }
    cv::putText(img, unit, {5, TOP - 8}, cv::FONT_HERSHEY_SIMPLEX, 0.4, {0, 0, 0}, 1, cv::LINE_AA);
}

void legend(cv::Mat& img, const std::vector<Series>& series) {
    int x = LEFT;
    for (size_t s = 0; s < series.size(); ++s) {
        cv::rectangle(img, cv::Rect(x, H - 25, 12, 12), COLOURS[s % 6], cv::FILLED);
        cv::putText(img, series[s].name, {x + 16, H - 14}, cv::FONT_HERSHEY_SIMPLEX, 0.45, {0, 0, 0}, 1, cv::LINE_AA);
        x += 30 + 9 * static_cast<int>(series[s].name.size());
    }
}

}  // namespace

bool barChart(const std::string& path, const std::string& title, const std::string& unit,
              const std::vector<std::string>& categories, const std::vector<Series>& series) {
    cv::Mat img(H, W, CV_8UC3, cv::Scalar(255, 255, 255));
    const double top = maxValue(series);
    frame(img, title, unit, top);
    const int plotW = W - LEFT - RIGHT;
    const int groupW = categories.empty() ? plotW : plotW / static_cast<int>(categories.size());
    const int barW = std::max(2, (groupW - 10) / std::max<int>(1, static_cast<int>(series.size())));
    for (size_t c = 0; c < categories.size(); ++c) {
        const int gx = LEFT + static_cast<int>(c) * groupW + 5;
        for (size_t s = 0; s < series.size(); ++s) {
            if (c >= series[s].values.size() || !std::isfinite(series[s].values[c])) continue;
            const double v = series[s].values[c];
            const int h = static_cast<int>((H - BOTTOM - TOP) * v / top);
            const int x = gx + static_cast<int>(s) * barW;
            cv::rectangle(img, cv::Rect(x, H - BOTTOM - h, barW - 2, std::max(h, 1)), COLOURS[s % 6], cv::FILLED);
            cv::putText(img, format(v), {x, H - BOTTOM - h - 3}, cv::FONT_HERSHEY_SIMPLEX, 0.33, {0, 0, 0}, 1, cv::LINE_AA);
        }
        cv::putText(img, categories[c], {gx, H - BOTTOM + 18 + 14 * static_cast<int>(c % 2)},
                    cv::FONT_HERSHEY_SIMPLEX, 0.4, {0, 0, 0}, 1, cv::LINE_AA);
    }
    legend(img, series);
    return cv::imwrite(path, img);
}

bool lineChart(const std::string& path, const std::string& title, const std::string& unit,
               const std::string& xLabel, double xStep, const std::vector<Series>& series) {
    cv::Mat img(H, W, CV_8UC3, cv::Scalar(255, 255, 255));
    const double top = maxValue(series);
    frame(img, title, unit, top);
    size_t n = 1;
    for (const Series& s : series) n = std::max(n, s.values.size());
    const double dx = static_cast<double>(W - LEFT - RIGHT) / std::max<size_t>(1, n - 1);
    for (size_t s = 0; s < series.size(); ++s) {
        cv::Point prev(-1, -1);
        for (size_t i = 0; i < series[s].values.size(); ++i) {
            const double v = series[s].values[i];
            if (!std::isfinite(v)) { prev = cv::Point(-1, -1); continue; }
            const cv::Point p(LEFT + static_cast<int>(dx * i), H - BOTTOM - static_cast<int>((H - BOTTOM - TOP) * v / top));
            if (prev.x >= 0) cv::line(img, prev, p, COLOURS[s % 6], 2, cv::LINE_AA);
            cv::circle(img, p, 2, COLOURS[s % 6], cv::FILLED);
            prev = p;
        }
    }
    for (int i = 0; i <= 4; ++i) {
        const size_t k = (n - 1) * i / 4;
        cv::putText(img, format(k * xStep), {LEFT + static_cast<int>(dx * k) - 10, H - BOTTOM + 18},
                    cv::FONT_HERSHEY_SIMPLEX, 0.4, {0, 0, 0}, 1, cv::LINE_AA);
    }
    cv::putText(img, xLabel, {W / 2 - 60, H - BOTTOM + 45}, cv::FONT_HERSHEY_SIMPLEX, 0.45, {0, 0, 0}, 1, cv::LINE_AA);
    legend(img, series);
    return cv::imwrite(path, img);
}

}  // namespace kvoeval
