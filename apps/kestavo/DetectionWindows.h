#pragma once
// The face widths the library's detector searches, from its scale settings.
//
// What it represents: the scan's arithmetic as a host sees it. The embedded cascade
// (OpenCV's frontal-face cascade) has a 24 x 24 pixel window; the detector scans
// square windows of 24 x scale pixels for scale = start, start + increment, ... while
// the scale does not exceed the last scale and the window fits the detection region,
// and reports only windows whose scale lies strictly between the start and the last
// scale. So with the defaults (4, 0.5, 12) it reports faces 108 to 276 pixels wide.
//
// Thread safety: pure functions.
#include "Options.h"

namespace kvo {
namespace app {

// Width and height of the cascade's window, pixels.
const double kCascadeWindow = 24.0;
// Window sizes one scan of the library runs at most; it widens a smaller increment.
const long kMaxWindowSizes = 1000;

struct WindowRange {
    double smallest = 0.0, largest = 0.0;  // reported window widths, pixels
    long sizes = 0;                         // reported window sizes (0: none fits)
};

// The windows a scan with these settings reports in a `regionWidth` x `regionHeight`
// detection region (pixels), simulated with the detector's own steps and its bound on
// the number of window sizes.
WindowRange reportedWindows(double startScale, double scaleIncrement, double maxScale, double regionWidth,
                            double regionHeight);

// Turns --min-face / --max-face (when given) into detector.startScale / detector.maxScale,
// so that the first window reported is minFace pixels wide and the last one at least
// maxFace. Requires: the region of the detection (pixels). Throws AppError when a
// width cannot be searched: below the smallest window the scan can report, above the
// region, or beyond the other end of the range.
void applyFaceWidths(DetectorOptions& detector, double regionWidth, double regionHeight);

}  // namespace app
}  // namespace kvo
