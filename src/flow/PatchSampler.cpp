#include "flow/PatchSampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kvo {

namespace {

constexpr double SMOOTH_SIDE = 0.09375;   // 3 / 32
constexpr double SMOOTH_CENTRE = 0.3125;  // 10 / 32

inline int clampIndex(int v, int size) { return v < 0 ? 0 : (v >= size ? size - 1 : v); }

// The sampler for images smaller than the patch plus one pixel: every read is clamped.
void samplePatchClamped(const ImageData& image, int x0, int y0, double a, double b, int pw,
                        int ph, double* patch, int stride) {
    const int w = static_cast<int>(image.width);
    const int h = static_cast<int>(image.height);
    const double a0 = 1.0 - a;
    const double b0 = 1.0 - b;
    for (int y = 0; y < ph; ++y) {
        const uint8_t* r0 = image.data + static_cast<size_t>(clampIndex(y0 + y, h)) * w;
        const uint8_t* r1 = image.data + static_cast<size_t>(clampIndex(y0 + y + 1, h)) * w;
        double* out = patch + static_cast<size_t>(y) * stride;
        for (int x = 0; x < pw; ++x) {
            const int c0 = clampIndex(x0 + x, w);
            const int c1 = clampIndex(x0 + x + 1, w);
            out[x] = b0 * (a0 * r0[c0] + a * r0[c1]) + b * (a0 * r1[c0] + a * r1[c1]);
        }
    }
}

}  // namespace

void samplePatch(const ImageData& image, double cx, double cy, int pw, int ph, double* patch,
                 int stride, double* rowBuffer) {
    const int w = static_cast<int>(image.width);
    const int h = static_cast<int>(image.height);
    const double ox = cx - (pw - 1) * 0.5;
    const double oy = cy - (ph - 1) * 0.5;
    int x0 = static_cast<int>(ox);  // truncation toward zero
    int y0 = static_cast<int>(oy);
    const double a = std::max(ox - x0, 0.0001);
    const double b = oy - y0;
    if (x0 < 0 || y0 < 0 || x0 + pw >= w || y0 + ph >= h) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x0 = std::min(x0, w - pw - 1);
        y0 = std::min(y0, h - ph - 1);
        if (x0 < 0 || y0 < 0) {
            samplePatchClamped(image, x0, y0, a, b, pw, ph, patch, stride);
            return;
        }
    }

    // Each source row is interpolated horizontally once; the row buffer carries it to the
    // next output row.
    const double b0 = 1.0 - b;
    const double a0 = 1.0 - a;
    const uint8_t* src = image.data + static_cast<size_t>(y0) * w + x0;
    for (int x = 0; x < pw; ++x) rowBuffer[x] = a0 * src[x] + a * src[x + 1];
    for (int y = 0; y < ph; ++y) {
        src += w;
        double* out = patch + static_cast<size_t>(y) * stride;
        for (int x = 0; x < pw; ++x) {
            const double next = a0 * src[x] + a * src[x + 1];
            out[x] = b0 * rowBuffer[x] + b * next;
            rowBuffer[x] = next;
        }
    }
}

void patchDerivatives(const double* patch, int stride, int pw, int ph, double* smoothRow,
                      double* diffRow, double* derivX, double* derivY) {
    const int dw = pw - 2;
    for (int r = 1; r + 1 < ph; ++r) {
        const double* up = patch + static_cast<size_t>(r - 1) * stride;
        const double* mid = up + stride;
        const double* down = mid + stride;
        for (int c = 0; c < pw; ++c) {
            smoothRow[c] = SMOOTH_SIDE * (up[c] + down[c]) + SMOOTH_CENTRE * mid[c];
            diffRow[c] = down[c] - up[c];
        }
        double* dx = derivX + static_cast<size_t>(r - 1) * dw;
        double* dy = derivY + static_cast<size_t>(r - 1) * dw;
        for (int c = 1; c + 1 < pw; ++c) {
            dx[c - 1] = smoothRow[c + 1] - smoothRow[c - 1];
            dy[c - 1] = SMOOTH_SIDE * (diffRow[c - 1] + diffRow[c + 1]) + SMOOTH_CENTRE * diffRow[c];
        }
    }
}

}  // namespace kvo
