#pragma once
// Test support for the optical-flow tests: a grey frame source, smooth synthetic
// textures that can be shifted by any real offset, and an image manager fed with two
// frames (previous, current).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/ImageDataManager.h"
#include "eval/GreyFrame.h"
#include "math/Point.h"
#include "math/Rectangle.h"

namespace kvotest {

// A grey frame the image manager reads; replace `pixels` between updates.
using GreyFrame = kvo::eval::GreyFrame;

// A smooth texture: a sum of plane waves of wavelengths 7 ... 61 pixels. value(x, y)
// is the continuous intensity at a real position (grey levels, about 30 ... 225).
struct Texture {
    struct Wave {
        double kx, ky, phase, amplitude;
    };
    std::vector<Wave> waves;

    explicit Texture(unsigned seed = 1) {
        const double wavelengths[] = {61.0, 43.0, 31.0, 23.0, 17.0, 13.0, 11.0, 9.0, 7.0};
        unsigned state = seed * 2654435761u + 12345u;
        auto next = [&state]() {
            state = state * 1664525u + 1013904223u;
            return (state >> 8) / 16777216.0;  // [0, 1)
        };
        for (double lambda : wavelengths) {
            for (int k = 0; k < 2; ++k) {
                const double angle = next() * 6.283185307179586;
                const double f = 6.283185307179586 / lambda;
                waves.push_back({f * std::cos(angle), f * std::sin(angle), next() * 6.2832,
                                 11.0 * (0.6 + 0.4 * next())});
            }
        }
    }

    double value(double x, double y) const {
        double v = 128.0;
        for (const Wave& w : waves) v += w.amplitude * std::sin(w.kx * x + w.ky * y + w.phase);
        return v;
    }

    // Renders the texture shifted by (tx, ty): pixel (x, y) shows value(x - tx, y - ty).
    void render(std::vector<uint8_t>& out, int width, int height, double tx, double ty) const {
        out.resize(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double v = std::round(value(x - tx, y - ty));
                out[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(std::max(0.0, std::min(255.0, v)));
            }
        }
    }
};

// An image manager over a GreyFrame with an optional ROI.
struct ManagerRig {
    GreyFrame frame;
    kvo::Rectangle roi;
    kvo::ImageDataManager manager;

    ManagerRig(uint32_t w, uint32_t h, kvo::Rectangle r) : frame(w, h), roi(r) { manager.init(&frame, &roi); }
    ManagerRig(uint32_t w, uint32_t h) : ManagerRig(w, h, kvo::Rectangle(0, 0, w, h)) {}

    // Pushes `previous` then `current` through the frame pyramid (all four levels).
    void feed(const std::vector<uint8_t>& previous, const std::vector<uint8_t>& current) {
        frame.pixels = previous;
        manager.update(3);
        frame.pixels = current;
        manager.update(3);
    }
    void fill(uint8_t previous, uint8_t current) {
        feed(std::vector<uint8_t>(frame.pixels.size(), previous), std::vector<uint8_t>(frame.pixels.size(), current));
    }
};

inline std::vector<kvo::PointPtr> makePoints(const std::vector<std::pair<double, double>>& xy) {
    std::vector<kvo::PointPtr> pts;
    for (const auto& p : xy) pts.push_back(std::make_shared<kvo::Point>(p.first, p.second));
    return pts;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace kvotest
