#pragma once
// The Haar-cascade (Viola-Jones) face detector.
//
// What it represents: one cascade, loaded once from its XML text, and the scan of the
// image manager's detection image at a series of window sizes. `detect` reports every
// accepted window; `merge` groups overlapping windows into faces.
//
// Coordinates: `detectionROI` is in pixels of the detection level, relative to the image
// ROI; `rawDetections` are level-0 pixels relative to the image ROI; the rectangles that
// `detect` reports are input-image pixels (the image ROI's truncated origin added).
//
// Memory: the cascade lists, the integral images (in the manager) and every result
// object are allocated by `init`; a scan or merge reuses them. Only a scan or merge that
// produces more rectangles than ever before grows the result pools.
//
// Threads: a detector is used from one host thread; it must not be called from two
// threads at once. `detect` itself may start one worker thread for the length of the
// call: the calling thread and the worker take rows of windows from a shared counter,
// and the worker is joined before `detect` returns, so no thread outlives the call. The
// worker's buffers are made by `init` with the calling thread's.
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "detection/Cascade.h"
#include "detection/VJRectangle.h"
#include "math/Rectangle.h"

namespace kvo {

class ImageDataManager;
class ImageDataInt;

class ViolaJones {
public:
    // Requires: `imageManager` outlives the detector.
    explicit ViolaJones(ImageDataManager& imageManager);
    ~ViolaJones();
    ViolaJones(const ViolaJones&) = delete;
    ViolaJones& operator=(const ViolaJones&) = delete;

    // Chooses the detection image (frameCurrent[detectionLevel], level 0 for any level
    // outside 1...3), sizes the manager's two integral images to it, sets
    // `detectionROI` to the whole image ROI in detection-level pixels, sizes the result
    // pools and loads the cascade.
    // Requires: the manager is initialised; `cascadeXml` is a writable, zero-terminated
    // text (the XML parser works in place and modifies it).
    // Ensures: on a text that is not a usable cascade, one "Error: ..." line is written
    // and the detector holds no cascade (it then finds nothing).
    void init(char* cascadeXml);

    // Parses the cascade text (OpenCV's older Haar layout, read by element position)
    // into the stage, classifier and rectangle lists, replacing any earlier cascade.
    // Requires: `cascadeXml` writable and zero-terminated (modified in place), or null.
    // Ensures: returns true when a cascade was loaded; otherwise one "Error: ..." line
    // has been written and no cascade is held.
    bool readXML(char* cascadeXml);

    // Builds the integral images of the newest detection frame and scans it.
    // Ensures: `faces` holds the accepted windows found strictly between `startScale`
    // and `maxScale`, as input-image rectangles in scan order; `rawDetections` holds
    // every accepted window. A region partly outside the detection image is scanned
    // only where it overlaps the image; one wholly outside is not scanned.
    // Scan order: window sizes from `startScale` upwards, then rows (y), then x. Without
    // `fullScan` the scan ends at the (`minDetections` + 2)-th accepted window (when that
    // number is not negative); in any case it ends at the MAX_ACCEPTED_WINDOWS-th, with one
    // "Error: ..." line the first time after the settings were last checked. The results
    // do not depend on `numThreads`.
    void detect(std::vector<std::shared_ptr<Rectangle>>& faces);

    // Groups `faces` in one greedy pass; every class of at least `minDetections` - 1
    // rectangles becomes its mean rectangle plus one half pixel.
    // Ensures: returns `mergedFaces`, rebuilt by this call, classes in creation order.
    std::vector<std::shared_ptr<Rectangle>>& merge(std::vector<std::shared_ptr<Rectangle>>& faces);

    // Keeps the work of one scan bounded whatever the scan settings hold: over the whole
    // detection image, a scan runs at most MAX_WINDOW_SIZES window sizes and at most
    // MAX_SCAN_WINDOWS windows (any detection region lies inside the image, so it can
    // only have fewer). Settings that would exceed a bound are replaced: `scaleIncrement`
    // by the smallest step that covers the same range of sizes in MAX_WINDOW_SIZES
    // sizes, then `stepFactor` by the smallest factor (to about 1e-6) that keeps the
    // windows within MAX_SCAN_WINDOWS. Each replacement writes one "Error: ..." line
    // naming `caller`, the setting, its value and the value used.
    // Requires: nothing; before `init` (no detection image yet) it checks nothing, and
    // `init` calls it.
    // Ensures: settings within the bounds are left exactly as they are.
    void boundScanWork(const std::string& caller);

    // True when a cascade is loaded.
    bool hasCascade() const { return firstStage != nullptr; }

    // Threads the last `detect` scanned with: 1 or 2; 0 when it ended before the scan (no
    // cascade, no images, or a region wholly outside the image).
    int threadsOfLastScan() const { return threadsOfLastScan_; }

    ImageDataManager* manager;
    Rectangle detectionROI;            // detection-level pixels, relative to the image ROI
    ImageDataInt* integralImage;       // the manager's integral image
    ImageDataInt* squaredIntegralImage;// the manager's integral of squared pixels
    double levelScale = 1.0;           // detection level relative to level 0
    VJStage* firstStage = nullptr;
    VJFeatureRect* allRects = nullptr; // every rectangle of the cascade, in reading order
    std::vector<std::shared_ptr<VJRectangle>> rawDetections;
    std::vector<std::shared_ptr<Rectangle>> mergedFaces;
    int windowWidth = 0;               // cascade window, pixels
    int windowHeight = 0;              // cascade window, pixels
    double currentScale = 0.0;         // window size being scanned, in cascade windows
    int detectionLevel = 0;            // frame-pyramid level scanned (0...3)

    // Host-tunable scan parameters.
    double startScale = 4.0;      // first window size, in cascade windows
    double scaleIncrement = 0.5;  // added to the scale after each window size
    double maxScale = 12.0;       // largest admissible scale
    double stepFactor = 0.04;     // window step as a fraction of the window size
    int minDetections = 12;       // accepted windows a face needs (the scan stops at this + 2)
    bool fullScan = false;        // when false the scan stops early

    // Threads a scan may use: 1 scans on the calling thread only; 2 (the default) or more
    // adds one worker thread for scans of at least MIN_PARALLEL_WINDOWS windows.
    int numThreads = 2;
    // Below this many windows (an upper bound summed over the window sizes of one scan)
    // starting and joining the worker costs about what it saves: on face crops two threads
    // broke even at about 180 windows and were 3 to 8 % faster at about 390.
    static const long MIN_PARALLEL_WINDOWS = 400;

    // Result objects made by `init`: enough for any scan of that many accepted windows
    // before a pool has to grow.
    static const size_t INITIAL_RESULT_CAPACITY = 2048;

    // Bounds on one scan's work (see boundScanWork). The defaults scan 17 window sizes and
    // about 66,000 windows of a 640 x 480 image (663,000 of 1920 x 1080); a fine search of
    // a 720 x 576 image (scale step 0.1 from 48 px windows, steps of 4 % of the window)
    // about 1.5 million.
    static constexpr long MAX_WINDOW_SIZES = 1000;
    static constexpr long MAX_SCAN_WINDOWS = 2000000;
    // A scan ends at this many accepted windows whatever `fullScan` and `minDetections`
    // say, as the early stop ends it: it bounds the result lists and the merge, whose
    // grouping compares every pair (merging 4,892 windows took 24 ms, 9,892 took 209 ms).
    // Full scans of the sample faces at the settings of tests/detection accept under 1,000.
    static constexpr long MAX_ACCEPTED_WINDOWS = 5000;

private:
    // The cascade copied into contiguous arrays for the scan's inner loop (same order and
    // values as the lists). Each scanning thread keeps its own copy of the rectangles,
    // whose corner offsets it rewrites per window size, a stage at a time when a window
    // first reaches the stage.
    struct ScanRect {
        int topLeft, topRight, bottomLeft, bottomRight;
        double weight;
    };
    struct RectGeometry {  // a rectangle at scale 1, as in the lists
        int x, y, width, height;
    };
    struct ScanStump {
        double threshold;
        double votes[2];  // [0] the right value, [1] the left value: indexed by the test
        int firstRect, endRect;
    };
    struct ScanStage {
        double threshold;
        int firstStump, endStump;
        int firstRect, endRect;  // the rectangles of its stumps
    };
    struct Span {  // a distinct (offset, length) pair of the rectangles along one axis
        int start, length;
    };

    // One accepted window as a scanning thread records it. `row` numbers the rows of
    // window positions of the whole scan in scan order (all rows of one window size
    // before those of the next), so (row, x) orders the windows of both threads.
    struct Hit {
        long long row;
        int x, y;
        double scale;
    };

    // The window size a scanning thread is at.
    struct ScanSize {
        double scale = 0.0, cw = 0.0, ch = 0.0;  // cascade windows; window width and height
        double sx = 0.0, sy = 0.0;               // rectangle scale factors
        int dx = 1, dy = 1;                      // window steps
        int boxW = 0, boxH = 0;                  // the window box, pixels
        int extentY = 0;                         // rows below a window's top that its features read
        int xEnd = 0;                            // window x positions are x0 ... < xEnd
        long long firstRow = 0, rows = 0;        // its rows in the scan's row numbering
    };

    // What one scanning thread owns: the calling thread is side 0, the worker side 1.
    // The two take rows one at a time from a shared counter, so the worker starts on the
    // first rows while the calling thread is still building the integral images, and
    // neither waits for the other between window sizes.
    struct alignas(64) ScanSide {
        std::vector<ScanRect> rects;     // corner offsets for this side's window size
        std::vector<int> windows;        // x of the windows of one row still in the cascade
        std::vector<double> sigmas;      // their standard deviations
        std::vector<Hit> hits;           // accepted windows in scan order; its size is the capacity
        ScanSize size;
        size_t preparedStages = 0;       // stages whose corner offsets are set for `size`
        size_t hitCount = 0;             // hits recorded by the last scan
        bool overflowed = false;         // `hits` was full: the scan has to be repeated
        bool scannedAnySize = false;     // the scan reached at least one window size
        double lastScale = 0.0;          // the last window size it reached
        // Shared with the other side when the scan can stop early. `hitTotal` is read
        // without the lock, to tell when the windows of both sides may be enough to stop;
        // `publishedHits` is guarded by `progressMutex_`: hits[0, publishedHits) may be
        // read by the other side under the lock.
        std::atomic<long long> hitTotal{0};
        size_t publishedHits = 0;
    };

    // What both sides read during one scan; written by the calling thread before the
    // worker starts.
    struct ScanPlan {
        const int32_t* ii = nullptr;
        const int32_t* squares = nullptr;
        int rowLength = 0, height = 0;
        int x0 = 0, y0 = 0, regionW = 0, regionH = 0;
        long long stopCount = -1;  // the scan ends at this many accepted windows; -1: never
        int sides = 1;
    };

    void releaseCascade();
    void buildScanCascade();
    void reserveResults(size_t count);
    bool windowFits(double cw, double ch, int regionW, int regionH) const;
    bool nextScale(double& scale, double& cw, double& ch, bool report);
    long windowCountAtLeast(int regionW, int regionH, long limit);
    long windowSizeCountAtLeast(int regionW, int regionH, long limit);
    void setSize(ScanSide& side, double scale, double cw, double ch, long long firstRow) const;
    void prepareStage(ScanSide& side, size_t stage) const;
    template <int N>
    void stageSums(const ScanStage& stage, const ScanRect* rects, const int32_t* const w[N],
                   double norm, const double sigma[N], bool passes[N]) const;
    template <int N>
    void stageGroup(const ScanStage& stage, const ScanRect* rects, const int32_t* row, double norm,
                    int* windows, double* sigmas, size_t i, size_t& kept) const;
    size_t scanRow(ScanSide& side, int y) const;
    void scanSide(int index);
    void publishHits(int index, size_t hits);
    void stopAtRow(long long row);
    void awaitImageRows(int rows) const;
    static void* workerMain(void* detector);

    std::vector<ScanStage> scanStages_;
    std::vector<ScanStump> scanStumps_;
    std::vector<RectGeometry> rectGeometry_;  // every rectangle at scale 1, in scan-array order
    std::vector<double> rectWeights_;         // their weights
    std::vector<Span> spansX_, spansY_;       // the distinct (x, width) and (y, height) pairs
    ScanSide sides_[2];
    ScanPlan plan_;
    alignas(64) std::atomic<long long> nextRow_{0};   // the next row not yet taken by a side
    alignas(64) std::atomic<long long> rowLimit_{0};  // no side starts a row after this one
    alignas(64) std::atomic<int> imageRowsReady_{0};  // integral-image rows built so far
    std::mutex progressMutex_;
    pthread_t worker_{};
    int threadsOfLastScan_ = 0;
    std::vector<std::shared_ptr<VJRectangle>> rawPool_;
    std::vector<std::shared_ptr<Rectangle>> facePool_;
    std::vector<std::shared_ptr<Rectangle>> mergedPool_;
    std::vector<int> labels_;           // class of each rectangle during a merge
    std::vector<int> classCounts_;
    std::vector<double> classSums_;     // x, y, width, height sums per class
    double reportedIncrement_ = std::numeric_limits<double>::quiet_NaN();  // last unusable increment reported
    bool reportedNoCascade_ = false;
    bool reportedAcceptedBound_ = false;  // since the settings were last checked
};

}  // namespace kvo
