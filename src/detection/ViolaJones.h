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
// Thread safety: none; one detector is used from the host's calling thread only.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
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
    void detect(std::vector<std::shared_ptr<Rectangle>>& faces);

    // Groups `faces` in one greedy pass; every class of at least `minDetections` - 1
    // rectangles becomes its mean rectangle plus one half pixel.
    // Ensures: returns `mergedFaces`, rebuilt by this call, classes in creation order.
    std::vector<std::shared_ptr<Rectangle>>& merge(std::vector<std::shared_ptr<Rectangle>>& faces);

    // True when a cascade is loaded.
    bool hasCascade() const { return firstStage != nullptr; }

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

    // Result objects made by `init`: enough for any scan of that many accepted windows
    // before a pool has to grow.
    static const size_t INITIAL_RESULT_CAPACITY = 2048;

private:
    // The cascade copied into contiguous arrays for the scan's inner loop (same order and
    // values as the lists; the rectangles' corner offsets are rewritten per window size).
    struct ScanRect {
        int topLeft, topRight, bottomLeft, bottomRight;
        double weight;
    };
    struct ScanStump {
        double threshold;
        double votes[2];  // [0] the right value, [1] the left value: indexed by the test
        int firstRect, endRect;
    };
    struct ScanStage {
        double threshold;
        int firstStump, endStump;
    };

    void releaseCascade();
    void buildScanCascade();
    void reserveResults(size_t count);
    double stageSum(const ScanStage& stage, const int32_t* window, double norm, double sigma) const;
    void stageSum2(const ScanStage& stage, const int32_t* a, const int32_t* b, double norm,
                   double sigmaA, double sigmaB, bool passes[2]) const;
    void scanScale(const int32_t* ii, const int32_t* squares, int rowLength, int x0, int y0,
                   int xEnd, int yEnd, int boxWidth, int boxHeight, double cw, double ch,
                   int dx, int dy, long long stopCount, size_t& count, bool& stop);

    std::vector<ScanStage> scanStages_;
    std::vector<ScanStump> scanStumps_;
    std::vector<ScanRect> scanRects_;
    std::vector<int> rowWindows_;       // x of the windows of one row still in the cascade
    std::vector<double> rowSigmas_;     // their standard deviations
    std::vector<std::shared_ptr<VJRectangle>> rawPool_;
    std::vector<std::shared_ptr<Rectangle>> facePool_;
    std::vector<std::shared_ptr<Rectangle>> mergedPool_;
    std::vector<int> labels_;           // class of each rectangle during a merge
    std::vector<int> classCounts_;
    std::vector<double> classSums_;     // x, y, width, height sums per class
    double reportedIncrement_ = std::numeric_limits<double>::quiet_NaN();  // last unusable increment reported
    bool reportedNoCascade_ = false;
};

}  // namespace kvo
