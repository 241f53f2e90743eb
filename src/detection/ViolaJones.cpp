// Detector set-up and the multi-scale cascade scan.
#include "detection/ViolaJones.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>

#include "detection/IntegralImage.h"
#include "image/ImageData.h"
#include "image/ImageDataManager.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// trunc(v) clamped to [lo, hi]; NaN gives lo. Host-supplied doubles pass through here
// before they become integers, so no conversion can overflow.
int clampedTrunc(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (v >= hi) return hi;
    return static_cast<int>(std::trunc(v));
}

// A window step in pixels: trunc(v), at least 1.
int stepOf(double v) { return clampedTrunc(v, 1, INT_MAX / 4); }

}  // namespace

ViolaJones::ViolaJones(ImageDataManager& imageManager)
    : manager(&imageManager),
      integralImage(&imageManager.integralImage),
      squaredIntegralImage(&imageManager.squaredIntegralImage) {}

ViolaJones::~ViolaJones() { releaseCascade(); }

void ViolaJones::reserveResults(size_t count) {
    while (rawPool_.size() < count) rawPool_.push_back(std::make_shared<VJRectangle>());
    while (facePool_.size() < count) facePool_.push_back(std::make_shared<Rectangle>());
    while (mergedPool_.size() < count) mergedPool_.push_back(std::make_shared<Rectangle>());
    if (labels_.size() < count) labels_.resize(count);
    if (classCounts_.size() < count) classCounts_.resize(count);
    if (classSums_.size() < 4 * count) classSums_.resize(4 * count);
    rawDetections.reserve(count);
    mergedFaces.reserve(count);
}

void ViolaJones::init(char* cascadeXml) {
    ImageData* image = (detectionLevel >= 1 && detectionLevel <= 3)
                           ? &manager->frameCurrent[detectionLevel]
                           : &manager->frameCurrent[0];
    manager->detectionImage = image;
    integralImage->init(image->width, image->height, image->scale);
    squaredIntegralImage->init(image->width, image->height, image->scale);
    levelScale = integralImage->scale;

    const Rectangle* roi = manager->roi;
    detectionROI = Rectangle();
    if (roi) {
        detectionROI.width = std::trunc(roi->width * levelScale);
        detectionROI.height = std::trunc(roi->height * levelScale);
    }
    reserveResults(INITIAL_RESULT_CAPACITY);
    rowWindows_.resize(integralImage->width + 1);
    rowSigmas_.resize(integralImage->width + 1);
    readXML(cascadeXml);
}

void ViolaJones::detect(std::vector<std::shared_ptr<Rectangle>>& faces) {
    faces.clear();
    rawDetections.clear();

    if (!firstStage) {
        if (!reportedNoCascade_) Err("ViolaJones: no cascade is loaded; nothing can be detected.");
        reportedNoCascade_ = true;
        return;
    }
    reportedNoCascade_ = false;
    const ImageData* image = manager->detectionImage;
    if (!image || !image->data || !integralImage->data || !squaredIntegralImage->data ||
        image->width != integralImage->width || image->height != integralImage->height ||
        squaredIntegralImage->width != integralImage->width ||
        squaredIntegralImage->height != integralImage->height || !(levelScale > 0.0)) {
        Err("ViolaJones: the detection images are not initialised; call init first.");
        return;
    }

    const int W = static_cast<int>(integralImage->width);   // integral-image row length
    const int H = static_cast<int>(integralImage->height);
    int32_t* ii = integralImage->data;
    int32_t* squares = squaredIntegralImage->data;
    buildIntegralImages(image->data, W, H, ii, squares);

    const Rectangle* roi = manager->roi;
    const double ox = roi ? static_cast<double>(clampedTrunc(roi->x, INT_MIN / 2, INT_MAX / 2)) : 0.0;
    const double oy = roi ? static_cast<double>(clampedTrunc(roi->y, INT_MIN / 2, INT_MAX / 2)) : 0.0;

    // The region actually scanned: the host's region intersected with the image. For a
    // region inside the image this is (trunc x, trunc y, trunc width, trunc height).
    const double rx0 = std::trunc(detectionROI.x);
    const double ry0 = std::trunc(detectionROI.y);
    const int x0 = clampedTrunc(rx0, 0, W);
    const int y0 = clampedTrunc(ry0, 0, H);
    const int regionW = clampedTrunc(rx0 + std::trunc(detectionROI.width), 0, W) - x0;
    const int regionH = clampedTrunc(ry0 + std::trunc(detectionROI.height), 0, H) - y0;
    if (regionW <= 0 || regionH <= 0) return;

    const long long stopCount =
        (!fullScan && static_cast<long long>(minDetections) + 2 > -1)
            ? static_cast<long long>(minDetections) + 2 : -1;

    currentScale = startScale;
    double cw = windowWidth * currentScale;
    double ch = windowHeight * currentScale;
    size_t count = 0;
    bool stop = false;
    while (regionW >= cw && regionH >= ch && cw >= windowWidth && ch >= windowHeight && !stop) {
        const double sx = cw / windowWidth;
        const double sy = ch / windowHeight;
        const int dx = stepOf(cw * stepFactor + 0.5);
        const int dy = stepOf(ch * stepFactor + 0.5);

        // Corner offsets of every feature rectangle for this window size. Rounding can
        // push a rectangle up to two pixels past the window box; the largest extent
        // bounds the window positions below so that no read leaves the images.
        const int boxW = static_cast<int>(cw);
        const int boxH = static_cast<int>(ch);
        int extentX = boxW;
        int extentY = boxH;
        // The cascade-wide list is in reading order, which is also the order of the
        // scan arrays' rectangles.
        ScanRect* flat = scanRects_.data();
        for (VJFeatureRect* r = allRects; r; r = r->nextInCascade, ++flat) {
            const int rx = static_cast<int>(r->x * sx + 0.5);
            const int ry = static_cast<int>(r->y * sy + 0.5);
            const int rw = static_cast<int>(r->width * sx + 0.5);
            const int rh = static_cast<int>(r->height * sy + 0.5);
            r->topLeft = ry * W + rx;
            r->topRight = r->topLeft + rw;
            r->bottomLeft = (ry + rh) * W + rx;
            r->bottomRight = r->bottomLeft + rw;
            flat->topLeft = r->topLeft;
            flat->topRight = r->topRight;
            flat->bottomLeft = r->bottomLeft;
            flat->bottomRight = r->bottomRight;
            extentX = std::max(extentX, rx + rw);
            extentY = std::max(extentY, ry + rh);
        }

        const int xEnd = std::min(static_cast<int>(std::trunc(x0 + regionW - cw)), W - extentX);
        const int yEnd = std::min(static_cast<int>(std::trunc(y0 + regionH - ch)), H - extentY);
        scanScale(ii, squares, W, x0, y0, xEnd, yEnd, boxW, boxH, cw, ch, dx, dy, stopCount,
                  count, stop);

        const double previousScale = currentScale;
        currentScale += scaleIncrement;
        if (currentScale > maxScale) break;
        if (!(currentScale != previousScale)) {
            // An increment too small to change the scale would scan the same window size
            // for ever.
            if (!(reportedIncrement_ == scaleIncrement)) {
                Err("ViolaJones: scale increment " + kvo::to_string(scaleIncrement) +
                    " does not advance the scale " + kvo::to_string(currentScale) +
                    "; only one window size is scanned.");
                reportedIncrement_ = scaleIncrement;
            }
            break;
        }
        cw = windowWidth * currentScale;
        ch = windowHeight * currentScale;
    }

    // Windows of the first and the last scale count towards the early stop only.
    faces.reserve(facePool_.size());
    size_t reported = 0;
    for (const std::shared_ptr<VJRectangle>& d : rawDetections) {
        if (d->scale > startScale && d->scale < maxScale) {
            Rectangle& face = *facePool_[reported++];
            face.x = ox + d->x;
            face.y = oy + d->y;
            face.width = d->width;
            face.height = d->height;
            faces.push_back(facePool_[reported - 1]);
        }
    }
}

// Sum of the stumps' votes of one stage for the window at `window` (its top-left offset
// into the integral image), in list order.
inline double ViolaJones::stageSum(const ScanStage& stage, const int32_t* window, double norm,
                                   double sigma) const {
    const ScanStump* stumps = scanStumps_.data();
    const ScanRect* rects = scanRects_.data();
    double sum = 0.0;
    const ScanStump* stumpEnd = stumps + stage.endStump;
    for (const ScanStump* c = stumps + stage.firstStump; c != stumpEnd; ++c) {
        // Haar features have two or three rectangles; the first two are unrolled. The sum
        // is formed in the same order as a plain loop from 0.0 (0.0 + w0 b0 differs from
        // w0 b0 only in the sign of a zero, which no comparison below can see).
        const ScanRect* r = rects + c->firstRect;
        const ScanRect* rectEnd = rects + c->endRect;
        double weighted = 0.0;
        if (rectEnd - r >= 2) {
            weighted = r[0].weight * boxSum(window, r[0].topLeft, r[0].topRight, r[0].bottomLeft,
                                            r[0].bottomRight);
            weighted += r[1].weight * boxSum(window, r[1].topLeft, r[1].topRight, r[1].bottomLeft,
                                             r[1].bottomRight);
            r += 2;
        }
        for (; r != rectEnd; ++r)
            weighted += r->weight * boxSum(window, r->topLeft, r->topRight, r->bottomLeft, r->bottomRight);
        const double f = norm * weighted;
        // The vote is picked by index rather than by a branch: the outcome is close to
        // random from window to window, and a mispredicted branch per stump dominated the
        // scan's time.
        sum += c->votes[sigma * c->threshold > f];
    }
    return sum;
}

void ViolaJones::stageSum2(const ScanStage& stage, const int32_t* a, const int32_t* b, double norm,
                           double sigmaA, double sigmaB, bool passes[2]) const {
    const ScanStump* stumps = scanStumps_.data();
    const ScanRect* rects = scanRects_.data();
    double sumA = 0.0, sumB = 0.0;
    const ScanStump* stumpEnd = stumps + stage.endStump;
    for (const ScanStump* c = stumps + stage.firstStump; c != stumpEnd; ++c) {
        const ScanRect* r = rects + c->firstRect;
        const ScanRect* rectEnd = rects + c->endRect;
        double wa = 0.0, wb = 0.0;
        if (rectEnd - r >= 2) {
            wa = r[0].weight * boxSum(a, r[0].topLeft, r[0].topRight, r[0].bottomLeft, r[0].bottomRight);
            wb = r[0].weight * boxSum(b, r[0].topLeft, r[0].topRight, r[0].bottomLeft, r[0].bottomRight);
            wa += r[1].weight * boxSum(a, r[1].topLeft, r[1].topRight, r[1].bottomLeft, r[1].bottomRight);
            wb += r[1].weight * boxSum(b, r[1].topLeft, r[1].topRight, r[1].bottomLeft, r[1].bottomRight);
            r += 2;
        }
        for (; r != rectEnd; ++r) {
            wa += r->weight * boxSum(a, r->topLeft, r->topRight, r->bottomLeft, r->bottomRight);
            wb += r->weight * boxSum(b, r->topLeft, r->topRight, r->bottomLeft, r->bottomRight);
        }
        sumA += c->votes[sigmaA * c->threshold > norm * wa];
        sumB += c->votes[sigmaB * c->threshold > norm * wb];
    }
    passes[0] = !(stage.threshold > sumA);
    passes[1] = !(stage.threshold > sumB);
}

void ViolaJones::scanScale(const int32_t* ii, const int32_t* squares, int rowLength, int x0,
                           int y0, int xEnd, int yEnd, int boxWidth, int boxHeight, double cw,
                           double ch, int dx, int dy, long long stopCount, size_t& count,
                           bool& stop) {
    const double area = cw * ch;
    const double norm = 1.0 / (255.0 * area);
    const double normSq = 1.0 / (65025.0 * area);
    const int boxRight = boxWidth;
    const int boxBottom = boxHeight * rowLength;
    const int boxBottomRight = boxBottom + boxWidth;
    if (xEnd <= x0) return;
    const size_t positions = static_cast<size_t>((xEnd - 1 - x0) / dx) + 1;
    if (rowWindows_.size() < positions) {  // only if the images grew after init
        rowWindows_.resize(positions);
        rowSigmas_.resize(positions);
    }
    int* windows = rowWindows_.data();
    double* sigmas = rowSigmas_.data();

    // A row of window positions at a time, stage by stage: each stage runs over the
    // row's surviving windows, which keeps the stage's stumps and the integral-image rows
    // they read hot in the cache. Every window gets exactly the evaluation it would get
    // alone; the survivors are then taken in x order, so the early stop ends at the same
    // window as a window-by-window scan.
    for (int y = y0; y < yEnd; y += dy) {
        size_t alive = 0;
        for (int x = x0; x < xEnd; x += dx) {
            const int p = y * rowLength + x;
            const int32_t s = boxSum(ii, p, p + boxRight, p + boxBottom, p + boxBottomRight);
            const int32_t q = boxSum(squares, p, p + boxRight, p + boxBottom, p + boxBottomRight);
            // Pixels count as values in 0...1.
            const double mean = s * norm;
            const double variance = q * normSq - mean * mean;
            windows[alive] = x;
            sigmas[alive] = variance > 0.0 ? std::sqrt(variance) : 1.0;
            ++alive;
        }
        const int32_t* row = ii + static_cast<ptrdiff_t>(y) * rowLength;
        for (const ScanStage& stage : scanStages_) {
            size_t kept = 0;
            size_t i = 0;
            for (; i + 1 < alive; i += 2) {
                // Two windows at once give the processor two independent chains of work.
                bool passes[2];
                stageSum2(stage, row + windows[i], row + windows[i + 1], norm, sigmas[i],
                          sigmas[i + 1], passes);
                const int xa = windows[i + 1];
                const double sa = sigmas[i + 1];
                windows[kept] = windows[i];
                sigmas[kept] = sigmas[i];
                kept += passes[0];
                windows[kept] = xa;
                sigmas[kept] = sa;
                kept += passes[1];
            }
            for (; i < alive; ++i) {
                // Branch-free compaction: every window is copied, only survivors advance.
                const bool passes = !(stage.threshold > stageSum(stage, row + windows[i], norm, sigmas[i]));
                windows[kept] = windows[i];
                sigmas[kept] = sigmas[i];
                kept += passes;
            }
            alive = kept;
            if (alive == 0) break;
        }

        for (size_t i = 0; i < alive; ++i) {
            if (count == rawPool_.size()) reserveResults(2 * rawPool_.size() + 16);
            VJRectangle& hit = *rawPool_[count];
            hit.x = windows[i] / levelScale;
            hit.y = y / levelScale;
            hit.width = cw / levelScale;
            hit.height = ch / levelScale;
            hit.scale = currentScale;
            rawDetections.push_back(rawPool_[count]);
            ++count;
            if (stopCount >= 0 && static_cast<long long>(count) >= stopCount) {
                stop = true;
                return;
            }
        }
    }
}

}  // namespace kvo
