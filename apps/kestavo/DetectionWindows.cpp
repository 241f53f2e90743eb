#include "DetectionWindows.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "AppError.h"

namespace kvo {
namespace app {

namespace {

std::string px(double v) {
    std::ostringstream s;
    s << std::round(v * 10.0) / 10.0;
    return s.str();
}

}  // namespace

WindowRange reportedWindows(double startScale, double scaleIncrement, double maxScale, double regionWidth,
                            double regionHeight) {
    const double w = std::trunc(regionWidth), h = std::trunc(regionHeight);
    // A window is scanned when at least one position fits: the region is at least one
    // pixel wider and higher than the window. The count of sizes scanned is bounded like
    // the library's scan: it ends once a tiny increment no longer advances the scale,
    // and past kMaxWindowSizes sizes the library widens the increment (below).
    auto simulate = [&](double increment, long& scanned) {
        WindowRange r;
        double scale = startScale;
        for (scanned = 0; scanned <= kMaxWindowSizes; ++scanned) {
            const double cw = kCascadeWindow * scale;
            if (!(cw >= kCascadeWindow && w - cw >= 1.0 && h - cw >= 1.0)) break;
            if (scale > startScale && scale < maxScale) {
                if (r.sizes == 0) r.smallest = cw;
                r.largest = cw;
                ++r.sizes;
            }
            const double next = scale + increment;
            if (next > maxScale || next == scale) {
                ++scanned;
                break;
            }
            scale = next;
        }
        return r;
    };
    long scanned = 0;
    WindowRange r = simulate(scaleIncrement, scanned);
    if (scanned > kMaxWindowSizes) {
        // The library then covers the same range of scales in kMaxWindowSizes sizes.
        const double largest = std::min(maxScale, std::min(w, h) / kCascadeWindow);
        const double range = scaleIncrement > 0.0 ? largest - startScale : startScale - 1.0;
        r = simulate(std::copysign(range / (kMaxWindowSizes - 1), scaleIncrement), scanned);
    }
    return r;
}

void applyFaceWidths(DetectorOptions& d, double regionWidth, double regionHeight) {
    const DetectionVars given = d.vars();
    const double inc = given.scaleIncrement;
    const double region = std::min(std::trunc(regionWidth), std::trunc(regionHeight)) - 1.0;
    double startScale = given.startScale;
    if (d.minFace) {
        const double minFace = *d.minFace;
        // The first reported window is one increment above the start scale, and the
        // start window must not be smaller than the cascade's own.
        const double smallest = kCascadeWindow * (1.0 + inc);
        if (minFace < smallest) {
            throw AppError("bad value '" + px(minFace) + "' for --min-face: the smallest face the detector reports is " +
                           px(smallest) + " px (its 24 px window, one --scale-increment " + px(inc) + " above scale 1)");
        }
        if (minFace > region) {
            throw AppError("bad value '" + px(minFace) + "' for --min-face: above the " + px(regionWidth) + " x " +
                           px(regionHeight) + " px detection region");
        }
        startScale = minFace / kCascadeWindow - inc;
        d.startScale = startScale;
    }
    const double first = kCascadeWindow * (startScale + inc);
    if (d.maxFace) {
        if (*d.maxFace < first) {
            throw AppError("bad value '" + px(*d.maxFace) + "' for --max-face: below the smallest face searched, " + px(first) +
                           " px (lower it with --min-face)");
        }
        // The last reported scale is the first on the scan's grid at or above maxFace;
        // the last scale lies half an increment beyond it, so float sums cannot drop it.
        const double steps = std::ceil((*d.maxFace - first) / (kCascadeWindow * inc) - 1e-9);
        d.maxScale = startScale + inc + std::max(0.0, steps) * inc + 0.5 * inc;
    } else if (d.minFace && !(startScale + inc < given.maxScale)) {
        throw AppError("bad value '" + px(*d.minFace) + "' for --min-face: above the largest face searched, " +
                       px(kCascadeWindow * given.maxScale) + " px (raise it with --max-face)");
    }
}

}  // namespace app
}  // namespace kvo
