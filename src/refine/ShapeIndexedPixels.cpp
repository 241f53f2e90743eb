#include "refine/ShapeIndexedPixels.h"

#include <cmath>

namespace kvo {

void similarityFromMean(const float* mean, const float* shape, int n, float& a, float& b) {
    a = 1.0f;
    b = 0.0f;
    if (n <= 0) return;
    double mx = 0, my = 0, sx = 0, sy = 0;
    for (int i = 0; i < n; ++i) {
        mx += mean[2 * i];
        my += mean[2 * i + 1];
        sx += shape[2 * i];
        sy += shape[2 * i + 1];
    }
    mx /= n;
    my /= n;
    sx /= n;
    sy /= n;
    double dot = 0, cross = 0, norm = 0;
    for (int i = 0; i < n; ++i) {
        const double px = mean[2 * i] - mx, py = mean[2 * i + 1] - my;
        const double qx = shape[2 * i] - sx, qy = shape[2 * i + 1] - sy;
        dot += px * qx + py * qy;
        cross += px * qy - py * qx;
        norm += px * px + py * py;
    }
    if (!(norm > 0.0)) return;
    const double ra = dot / norm, rb = cross / norm;
    if (!std::isfinite(ra) || !std::isfinite(rb)) return;
    a = static_cast<float>(ra);
    b = static_cast<float>(rb);
}

void readPoolPixels(const unsigned char* grey, int width, int height, const float* shape,
                    const std::uint16_t* anchors, const float* offsets, int count, float a, float b,
                    unsigned char* out) {
    for (int p = 0; p < count; ++p) {
        const float dx = offsets[2 * p], dy = offsets[2 * p + 1];
        const float x = shape[2 * anchors[p]] + a * dx - b * dy;
        const float y = shape[2 * anchors[p] + 1] + b * dx + a * dy;
        // Compared as floats first: a shape far outside the frame must not overflow the
        // integer conversion.
        const float fx = std::floor(x + 0.5f), fy = std::floor(y + 0.5f);
        if (fx >= 0.0f && fy >= 0.0f && fx < static_cast<float>(width) && fy < static_cast<float>(height)) {
            out[p] = grey[static_cast<long>(fy) * width + static_cast<long>(fx)];
        } else {
            out[p] = 0;
        }
    }
}

}  // namespace kvo
