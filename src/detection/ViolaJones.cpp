// Detector set-up and the multi-scale cascade scan.
#include "detection/ViolaJones.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <thread>

#include "detection/IntegralImage.h"
#include "image/ImageData.h"
#include "image/ImageDataManager.h"
#include "util/CallWorkers.h"
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

// Sets the integral-image offsets of a feature rectangle's four corners (relative to the
// window's top-left offset, rows of W values) for a window scaled by (sx, sy): the
// rectangle's position and size are scaled and rounded half up.
template <class Corners>
void setCorners(Corners& c, int x, int y, int width, int height, double sx, double sy, int W) {
    const int rx = static_cast<int>(x * sx + 0.5);
    const int ry = static_cast<int>(y * sy + 0.5);
    const int rw = static_cast<int>(width * sx + 0.5);
    const int rh = static_cast<int>(height * sy + 0.5);
    c.topLeft = ry * W + rx;
    c.topRight = c.topLeft + rw;
    c.bottomLeft = (ry + rh) * W + rx;
    c.bottomRight = c.bottomLeft + rw;
}

// Windows a stage runs on at once. Eight independent windows keep more integral-image
// reads under way than four (about 8 % less scan time on 640 x 480 frames); sixteen
// measured no better than eight.
constexpr int WINDOW_GROUP = 8;

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
    for (ScanSide& side : sides_) {
        if (side.hits.size() < INITIAL_RESULT_CAPACITY) side.hits.resize(INITIAL_RESULT_CAPACITY);
        side.windows.resize(integralImage->width + 1);
        side.sigmas.resize(integralImage->width + 1);
    }
    readXML(cascadeXml);
    // Settings given before the image size was known are checked now.
    boundScanWork("ViolaJones");
}

bool ViolaJones::windowFits(double cw, double ch, int regionW, int regionH) const {
    return regionW >= cw && regionH >= ch && cw >= windowWidth && ch >= windowHeight;
}

bool ViolaJones::nextScale(double& scale, double& cw, double& ch, bool report) {
    const double previousScale = scale;
    scale += scaleIncrement;
    if (scale > maxScale) return false;
    if (!(scale != previousScale)) {
        // An increment too small to change the scale would scan the same window size
        // for ever.
        if (report && !(reportedIncrement_ == scaleIncrement)) {
            Err("ViolaJones: scale increment " + kvo::to_string(scaleIncrement) +
                " does not advance the scale " + kvo::to_string(scale) +
                "; only one window size is scanned.");
            reportedIncrement_ = scaleIncrement;
        }
        return false;
    }
    cw = windowWidth * scale;
    ch = windowHeight * scale;
    return true;
}

long ViolaJones::windowCountAtLeast(int regionW, int regionH, long limit) {
    // An upper bound per window size (rounded feature rectangles can only narrow the
    // range of positions); every size adds at least one window, so the loop is short.
    long long total = 0;
    double scale = startScale;
    double cw = windowWidth * scale;
    double ch = windowHeight * scale;
    while (windowFits(cw, ch, regionW, regionH)) {
        const int dx = stepOf(cw * stepFactor + 0.5);
        const int dy = stepOf(ch * stepFactor + 0.5);
        const long long columns = static_cast<long long>((regionW - cw) / dx) + 1;
        const long long rows = static_cast<long long>((regionH - ch) / dy) + 1;
        total += columns * rows;
        if (total >= limit) return limit;
        if (!nextScale(scale, cw, ch, false)) break;
    }
    return static_cast<long>(total);
}

long ViolaJones::windowSizeCountAtLeast(int regionW, int regionH, long limit) {
    long sizes = 0;
    double scale = startScale;
    double cw = windowWidth * scale;
    double ch = windowHeight * scale;
    while (sizes < limit && windowFits(cw, ch, regionW, regionH)) {
        ++sizes;
        if (!nextScale(scale, cw, ch, false)) break;
    }
    return sizes;
}

void ViolaJones::boundScanWork(const std::string& caller) {
    reportedAcceptedBound_ = false;
    const int W = static_cast<int>(integralImage->width);
    const int H = static_cast<int>(integralImage->height);
    if (W <= 0 || H <= 0 || windowWidth <= 0 || windowHeight <= 0) return;

    if (windowSizeCountAtLeast(W, H, MAX_WINDOW_SIZES + 1) > MAX_WINDOW_SIZES) {
        // The sizes run from startScale towards the largest scale that still fits (or,
        // with a negative step, down to the cascade's own window); the same range in
        // MAX_WINDOW_SIZES sizes. More sizes than the bound means the step is finite and
        // non-zero and the range holds more than MAX_WINDOW_SIZES - 1 steps.
        const double requested = scaleIncrement;
        const double largest = std::min(maxScale, std::min(static_cast<double>(W) / windowWidth,
                                                           static_cast<double>(H) / windowHeight));
        const double range = requested > 0.0 ? largest - startScale : startScale - 1.0;
        scaleIncrement = std::copysign(range / (MAX_WINDOW_SIZES - 1), requested);
        // Rounding in the scale's running sum could leave one size too many.
        for (int i = 0; i < 64 && windowSizeCountAtLeast(W, H, MAX_WINDOW_SIZES + 1) > MAX_WINDOW_SIZES; ++i)
            scaleIncrement *= 1.001;
        Err(caller + ": a scale increment of " + kvo::to_string(requested) + " gives more than " +
            kvo::to_string(MAX_WINDOW_SIZES) + " window sizes per scan; " + kvo::to_string(scaleIncrement) +
            " is used.");
    }

    if (windowCountAtLeast(W, H, MAX_SCAN_WINDOWS + 1) > MAX_SCAN_WINDOWS) {
        // The window count only falls as the factor grows (each size's step is
        // trunc(size x factor + 0.5), at least 1); at a factor of 1e9 every size has
        // one window, and there are at most MAX_WINDOW_SIZES sizes.
        const double requested = stepFactor;
        double low = requested > 0.0 ? requested : 0.0;
        double high = 1e9;
        while (high - low > 1e-6 * high) {
            stepFactor = low + (high - low) / 2;
            if (windowCountAtLeast(W, H, MAX_SCAN_WINDOWS + 1) > MAX_SCAN_WINDOWS) low = stepFactor; else high = stepFactor;
        }
        stepFactor = high;
        Err(caller + ": a step factor of " + kvo::to_string(requested) + " gives more than " +
            kvo::to_string(MAX_SCAN_WINDOWS) + " windows per scan of the " + kvo::to_string(W) + " x " +
            kvo::to_string(H) + " detection image; " + kvo::to_string(stepFactor) + " is used.");
    }
}

void ViolaJones::detect(std::vector<std::shared_ptr<Rectangle>>& faces) {
    faces.clear();
    rawDetections.clear();
    threadsOfLastScan_ = 0;

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
    if (regionW <= 0 || regionH <= 0) {
        buildIntegralImages(image->data, W, H, ii, squares);
        return;
    }

    long long stopCount =
        (!fullScan && static_cast<long long>(minDetections) + 2 > -1)
            ? static_cast<long long>(minDetections) + 2 : -1;
    // The count is compared after each accepted window, so 0 ends the scan at the first.
    if (stopCount == 0) stopCount = 1;
    const bool boundedByAccepted = stopCount < 0 || stopCount > MAX_ACCEPTED_WINDOWS;
    if (boundedByAccepted) stopCount = MAX_ACCEPTED_WINDOWS;

    plan_.ii = ii;
    plan_.squares = squares;
    plan_.rowLength = W;
    plan_.height = H;
    plan_.x0 = x0;
    plan_.y0 = y0;
    plan_.regionW = regionW;
    plan_.regionH = regionH;
    plan_.stopCount = stopCount;
    const bool parallel = numThreads >= 2 && windowCountAtLeast(regionW, regionH, MIN_PARALLEL_WINDOWS) >=
                                                 MIN_PARALLEL_WINDOWS;
    for (ScanSide& side : sides_) {
        if (side.windows.size() < static_cast<size_t>(W) + 1) {  // only if the images grew after init
            side.windows.resize(static_cast<size_t>(W) + 1);
            side.sigmas.resize(static_cast<size_t>(W) + 1);
        }
    }
    imageRowsReady_.store(0, std::memory_order_relaxed);  // no worker is running here

    // Normally one pass. Should a side's hit buffer fill up, the pass is repeated with
    // larger buffers (only for more accepted windows than any scan before).
    bool imagesBuilt = false;
    for (;;) {
        for (ScanSide& side : sides_) {
            side.hitCount = 0;
            side.overflowed = false;
            side.scannedAnySize = false;
            side.hitTotal.store(0, std::memory_order_relaxed);
            side.publishedHits = 0;
        }
        nextRow_.store(0, std::memory_order_relaxed);
        rowLimit_.store(LLONG_MAX, std::memory_order_relaxed);
        plan_.sides = parallel ? 2 : 1;
        CallWorkers worker;
        bool workerStarted = false;
        if (parallel) {
            // Started before the integral images are built: it takes the first rows and
            // scans each as soon as the image rows under it are ready. Should it fail to
            // start, the calling thread takes every row and the worker's scan, run
            // afterwards on this thread, finds none left.
            workerStarted = worker.start(worker_, &ViolaJones::workerMain, this);
        }
        if (!imagesBuilt) {
            const int band = workerStarted ? 8 : H;
            for (int y = 0; y < H; y += band) {
                const int end = std::min(H, y + band);
                buildIntegralImageRows(image->data, W, y, end, ii, squares);
                imageRowsReady_.store(end, std::memory_order_release);
            }
            imagesBuilt = true;
        }
        scanSide(0);
        worker.join();
        threadsOfLastScan_ = workerStarted ? 2 : 1;
        if (!sides_[0].overflowed && !sides_[1].overflowed) break;
        for (ScanSide& side : sides_) side.hits.resize(2 * side.hits.size() + 16);
    }
    // Which side takes which row varies from scan to scan: each side's buffer is made to
    // hold every window of this scan, so that a scan with no more windows than any
    // before cannot fill one.
    if (plan_.sides > 1) {
        const size_t total = sides_[0].hitCount + sides_[1].hitCount;
        for (ScanSide& side : sides_)
            if (side.hits.size() < total) side.hits.resize(total);
    }

    // The two sides' windows in scan order: each row belongs to one side, so ordering by
    // row number and, within a side, by recording order restores the single scan's order.
    const ScanSide& a = sides_[0];
    const ScanSide& b = sides_[1];
    const size_t aCount = a.hitCount;
    const size_t bCount = plan_.sides > 1 ? b.hitCount : 0;
    const bool stopped = stopCount >= 0 && static_cast<long long>(aCount + bCount) >= stopCount;
    const size_t keep = stopped ? static_cast<size_t>(stopCount) : aCount + bCount;
    while (rawPool_.size() < keep) reserveResults(2 * rawPool_.size() + 16);
    size_t i = 0, j = 0;
    double lastHitScale = 0.0;
    for (size_t n = 0; n < keep; ++n) {
        const Hit& h = (j == bCount || (i < aCount && a.hits[i].row < b.hits[j].row)) ? a.hits[i++]
                                                                                       : b.hits[j++];
        VJRectangle& hit = *rawPool_[n];
        hit.x = h.x / levelScale;
        hit.y = h.y / levelScale;
        hit.width = windowWidth * h.scale / levelScale;
        hit.height = windowHeight * h.scale / levelScale;
        hit.scale = h.scale;
        rawDetections.push_back(rawPool_[n]);
        lastHitScale = h.scale;
    }

    if (stopped && boundedByAccepted && !reportedAcceptedBound_) {
        Err("ViolaJones: the scan accepted " + kvo::to_string(MAX_ACCEPTED_WINDOWS) +
            " windows and ended there; larger window sizes and later rows were not scanned.");
        reportedAcceptedBound_ = true;
    }

    // The last window size scanned: the one of the window that ended the scan, or the last
    // of the whole series (which the calling thread always reaches when nothing stops it).
    // Its corner offsets are left in the cascade lists, and `currentScale` is the size
    // after it, as a window-size-by-window-size scan leaves them.
    const bool scannedAny = stopped || a.scannedAnySize;
    currentScale = startScale;
    if (scannedAny) {
        const double last = stopped ? lastHitScale : a.lastScale;
        const double cw = windowWidth * last;
        const double ch = windowHeight * last;
        const double sx = cw / windowWidth;
        const double sy = ch / windowHeight;
        for (VJFeatureRect* r = allRects; r; r = r->nextInCascade) {
            setCorners(*r, r->x, r->y, r->width, r->height, sx, sy, W);
        }
        currentScale = last;
        double nextCw = cw, nextCh = ch;
        nextScale(currentScale, nextCw, nextCh, true);
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

void* ViolaJones::workerMain(void* detector) {
    static_cast<ViolaJones*>(detector)->scanSide(1);
    return nullptr;
}

void ViolaJones::awaitImageRows(int rows) const {
    // Only the worker waits, at its first rows, while the calling thread builds the
    // images a band at a time; the wait is short, and yielding keeps it from taking the
    // builder's processor should both share one.
    while (imageRowsReady_.load(std::memory_order_acquire) < rows) std::this_thread::yield();
}

void ViolaJones::stopAtRow(long long row) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    if (row < rowLimit_.load(std::memory_order_relaxed)) rowLimit_.store(row, std::memory_order_relaxed);
}

void ViolaJones::publishHits(int index, size_t hits) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    ScanSide& side = sides_[index];
    const ScanSide& other = sides_[1 - index];
    side.publishedHits = hits;
    // The published windows are accepted windows of rows their side has scanned (all of
    // each row but the one a side stopped in by itself, whose window count already ended
    // its scan). Once they are as many as the stop needs, the window that ends the scan
    // lies in a row no later than the one holding the stopCount-th of them in scan order:
    // later rows cannot contribute. Earlier rows not yet scanned still are.
    const long long need = plan_.stopCount;
    const Hit* a = side.hits.data();
    const Hit* b = other.hits.data();
    const size_t aCount = side.publishedHits;
    const size_t bCount = other.publishedHits;
    if (static_cast<long long>(aCount + bCount) < need) return;
    auto windowsUpTo = [&](long long row) {
        auto notAfter = [row](const Hit& h) { return h.row <= row; };
        return (std::partition_point(a, a + aCount, notAfter) - a) +
               (std::partition_point(b, b + bCount, notAfter) - b);
    };
    // The first row up to which there are `need` windows: windowsUpTo(low) < need <=
    // windowsUpTo(high).
    long long low = -1;
    long long high = std::max(aCount ? a[aCount - 1].row : 0, bCount ? b[bCount - 1].row : 0);
    while (high - low > 1) {
        const long long middle = low + (high - low) / 2;
        if (windowsUpTo(middle) >= need) high = middle; else low = middle;
    }
    if (high < rowLimit_.load(std::memory_order_relaxed)) rowLimit_.store(high, std::memory_order_relaxed);
}

void ViolaJones::setSize(ScanSide& side, double scale, double cw, double ch, long long firstRow) const {
    const ScanPlan& plan = plan_;
    ScanSize& z = side.size;
    z.scale = scale;
    z.cw = cw;
    z.ch = ch;
    z.sx = cw / windowWidth;
    z.sy = ch / windowHeight;
    z.dx = stepOf(cw * stepFactor + 0.5);
    z.dy = stepOf(ch * stepFactor + 0.5);
    z.boxW = static_cast<int>(cw);
    z.boxH = static_cast<int>(ch);
    // Rounding can push a feature rectangle up to two pixels past the window box; the
    // largest extent bounds the window positions so that no read leaves the images.
    int extentX = z.boxW;
    int extentY = z.boxH;
    for (const Span& s : spansX_)
        extentX = std::max(extentX, static_cast<int>(s.start * z.sx + 0.5) + static_cast<int>(s.length * z.sx + 0.5));
    for (const Span& s : spansY_)
        extentY = std::max(extentY, static_cast<int>(s.start * z.sy + 0.5) + static_cast<int>(s.length * z.sy + 0.5));
    z.extentY = extentY;
    z.xEnd = std::min(static_cast<int>(std::trunc(plan.x0 + plan.regionW - cw)), plan.rowLength - extentX);
    const int yEnd = std::min(static_cast<int>(std::trunc(plan.y0 + plan.regionH - ch)), plan.height - extentY);
    z.firstRow = firstRow;
    z.rows = (z.xEnd > plan.x0 && yEnd > plan.y0) ? (yEnd - 1 - plan.y0) / z.dy + 1 : 0;
    side.preparedStages = 0;
}

// Corner offsets of one stage's rectangles for the side's window size.
void ViolaJones::prepareStage(ScanSide& side, size_t stageIndex) const {
    const ScanStage& stage = scanStages_[stageIndex];
    const int W = plan_.rowLength;
    const double sx = side.size.sx;
    const double sy = side.size.sy;
    const RectGeometry* geometry = rectGeometry_.data();
    ScanRect* rects = side.rects.data();
    for (int k = stage.firstRect; k < stage.endRect; ++k) {
        const RectGeometry& g = geometry[k];
        setCorners(rects[k], g.x, g.y, g.width, g.height, sx, sy, W);
    }
    side.preparedStages = stageIndex + 1;
}

// One side's share of the scan: rows taken one at a time in scan order (from the shared
// counter when there are two sides), each scanned at its window size.
void ViolaJones::scanSide(int index) {
    ScanSide& side = sides_[index];
    const ScanSide& other = sides_[1 - index];
    const ScanPlan& plan = plan_;
    const bool shared = plan.sides > 1;
    // With two sides and an early stop, each side reports its windows once those of both
    // might be enough, so that both stop soon after the stopping window.
    const bool coordinated = shared && plan.stopCount >= 0;
    const long long stopCount = plan.stopCount;
    Hit* hits = side.hits.data();
    const size_t capacity = side.hits.size();
    size_t count = 0;
    long long ownNextRow = 0;  // one side: the rows in order
    bool haveSize = false;
    double scale = startScale;
    double cw = windowWidth * scale;
    double ch = windowHeight * scale;
    const ScanSize& z = side.size;

    for (;;) {
        const long long row = shared ? nextRow_.fetch_add(1, std::memory_order_relaxed) : ownNextRow++;
        if (shared && row > rowLimit_.load(std::memory_order_relaxed)) break;
        // Move on to the window size this row belongs to.
        while (!haveSize || row >= z.firstRow + z.rows) {
            long long firstRow = 0;
            if (haveSize) {
                firstRow = z.firstRow + z.rows;
                if (!nextScale(scale, cw, ch, false)) goto done;
            }
            if (!windowFits(cw, ch, plan.regionW, plan.regionH)) goto done;
            setSize(side, scale, cw, ch, firstRow);
            haveSize = true;
            side.scannedAnySize = true;
            side.lastScale = scale;
        }

        const int y = plan.y0 + static_cast<int>(row - z.firstRow) * z.dy;
        const int rowsRead = y + z.extentY + 1;  // image rows the windows of this row read
        if (imageRowsReady_.load(std::memory_order_acquire) < rowsRead) awaitImageRows(rowsRead);
        const size_t alive = scanRow(side, y);
        for (size_t i = 0; i < alive; ++i) {
            if (count == capacity) {
                // The other side stops too: the scan is repeated with larger buffers.
                side.overflowed = true;
                if (shared) stopAtRow(-1);
                goto done;
            }
            hits[count++] = Hit{row, side.windows[i], y, z.scale};
            if (stopCount >= 0 && static_cast<long long>(count) >= stopCount) {
                // This side alone has the windows needed: rows after this one cannot hold
                // any of them.
                if (shared) stopAtRow(row);
                goto done;
            }
        }
        if (coordinated && alive > 0) side.hitTotal.store(static_cast<long long>(count), std::memory_order_relaxed);
        if (coordinated && static_cast<long long>(count) + other.hitTotal.load(std::memory_order_relaxed) >= stopCount)
            publishHits(index, count);
    }
done:
    side.hitCount = count;
    if (coordinated) {
        side.hitTotal.store(static_cast<long long>(count), std::memory_order_relaxed);
        publishHits(index, count);
    }
}

// Runs one stage on `N` windows at once (their top-left offsets into the integral image
// in `w`): independent chains of work for the processor, and N windows' worth of reads
// under way at a time. Each window's vote sum is formed exactly as for a window alone:
// the feature's weighted rectangle sums in list order, then the stumps' votes in list
// order; the vote is picked by index rather than by a branch, since the outcome is close
// to random from window to window and a mispredicted branch per stump dominated the
// scan's time. Every stump has at least one rectangle (see buildScanCascade).
template <int N>
void ViolaJones::stageSums(const ScanStage& stage, const ScanRect* rects, const int32_t* const w[N],
                           double norm, const double sigma[N], bool passes[N]) const {
    const ScanStump* stumps = scanStumps_.data();
    double sum[N];
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) sum[j] = 0.0;
    const ScanStump* stumpEnd = stumps + stage.endStump;
    for (const ScanStump* c = stumps + stage.firstStump; c != stumpEnd; ++c) {
        const ScanRect* r = rects + c->firstRect;
        const ScanRect* rectEnd = rects + c->endRect;
        double f[N];
        // w0 b0 rather than 0.0 + w0 b0: they differ only in the sign of a zero, which no
        // comparison below can see.
#pragma GCC unroll 16
        for (int j = 0; j < N; ++j)
            f[j] = r->weight * boxSum(w[j], r->topLeft, r->topRight, r->bottomLeft, r->bottomRight);
        for (++r; r != rectEnd; ++r) {
#pragma GCC unroll 16
            for (int j = 0; j < N; ++j)
                f[j] += r->weight * boxSum(w[j], r->topLeft, r->topRight, r->bottomLeft, r->bottomRight);
        }
        const double t = c->threshold;
#pragma GCC unroll 16
        for (int j = 0; j < N; ++j) sum[j] += c->votes[sigma[j] * t > norm * f[j]];
    }
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) passes[j] = !(stage.threshold > sum[j]);
}

// Runs one stage on the windows [i, i + N) of a row and keeps the survivors, in order, at
// the front of the row's lists: every window is copied, only survivors advance `kept`.
template <int N>
void ViolaJones::stageGroup(const ScanStage& stage, const ScanRect* rects, const int32_t* row,
                            double norm, int* windows, double* sigmas, size_t i, size_t& kept) const {
    const int32_t* w[N];
    int xs[N];
    double ss[N];
    bool passes[N];
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
        xs[j] = windows[i + j];
        ss[j] = sigmas[i + j];
        w[j] = row + xs[j];
    }
    stageSums<N>(stage, rects, w, norm, ss, passes);
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
        windows[kept] = xs[j];
        sigmas[kept] = ss[j];
        kept += passes[j];
    }
}

size_t ViolaJones::scanRow(ScanSide& side, int y) const {
    const ScanSize& z = side.size;
    const int32_t* ii = plan_.ii;
    const int32_t* squares = plan_.squares;
    const int rowLength = plan_.rowLength;
    const double area = z.cw * z.ch;
    const double norm = 1.0 / (255.0 * area);
    const double normSq = 1.0 / (65025.0 * area);
    const int boxRight = z.boxW;
    const int boxBottom = z.boxH * rowLength;
    const int boxBottomRight = boxBottom + z.boxW;
    const int64_t boxPixels = static_cast<int64_t>(z.boxW) * z.boxH;
    const int xEnd = z.xEnd;
    const int dx = z.dx;
    int* windows = side.windows.data();
    double* sigmas = side.sigmas.data();
    const ScanRect* rects = side.rects.data();

    // A row of window positions at a time, stage by stage: each stage runs over the
    // row's surviving windows, which keeps the stage's stumps and the integral-image rows
    // they read hot in the cache. Every window gets exactly the evaluation it would get
    // alone; the survivors stay in x order, so the early stop ends at the same window as
    // a window-by-window scan.
    size_t alive = 0;
    for (int x = plan_.x0; x < xEnd; x += dx) {
        const int p = y * rowLength + x;
        const int32_t s = boxSum(ii, p, p + boxRight, p + boxBottom, p + boxBottomRight);
        const int32_t q = boxSum(squares, p, p + boxRight, p + boxBottom, p + boxBottomRight);
        // Pixels count as values in 0...1.
        const double mean = s * norm;
        const double variance = trueSquaredSum(s, q, boxPixels) * normSq - mean * mean;
        windows[alive] = x;
        sigmas[alive] = variance > 0.0 ? std::sqrt(variance) : 1.0;
        ++alive;
    }
    const int32_t* row = ii + static_cast<ptrdiff_t>(y) * rowLength;
    for (size_t s = 0, stages = scanStages_.size(); s < stages; ++s) {
        if (s == side.preparedStages) prepareStage(side, s);
        const ScanStage& stage = scanStages_[s];
        size_t kept = 0;
        size_t i = 0;
        for (; i + WINDOW_GROUP <= alive; i += WINDOW_GROUP) stageGroup<WINDOW_GROUP>(stage, rects, row, norm, windows, sigmas, i, kept);
        for (; i + 4 <= alive; i += 4) stageGroup<4>(stage, rects, row, norm, windows, sigmas, i, kept);
        for (; i + 2 <= alive; i += 2) stageGroup<2>(stage, rects, row, norm, windows, sigmas, i, kept);
        for (; i < alive; ++i) stageGroup<1>(stage, rects, row, norm, windows, sigmas, i, kept);
        alive = kept;
        if (alive == 0) break;
    }
    return alive;
}

}  // namespace kvo
