#pragma once
// Where and at what scale kestavo scans a picture for faces.
//
// What it represents: the detector scans the tracker's fixed square canvas. A picture of
// any size is scanned in two kinds of pass:
// - whole: the picture scaled to StillCanvas::pictureSide on its longer side and centred
//   on a border (StillFraming), windows from the still start scale up to larger than the
//   picture, so a face that fills the picture is found;
// - tiles: the picture at a finer scale, cut into canvas-sized tiles that overlap by more
//   than the largest window, scanned for small windows only. The finest scale puts a face
//   minFace pixels wide at the smallest window; each coarser one divides it by the ratio
//   of the largest window to the smallest, until the whole pass covers the rest. A pass
//   never scales the picture up beyond what the finest needs, and when the whole pass
//   already finds faces minFace wide there are no tiles.
// So every face from minFace pixels wide to the whole picture lies in the window range of
// some pass, and a small face is scanned at full sharpness.
//
// Coordinates: a tile's `region` is in picture pixels; canvas = picture * scale + offset.
//
// Thread safety: pure functions and plain values.
#include <vector>

#include <opencv2/core.hpp>

namespace kvo {
namespace app {

// The small-window scan of the tiles: kvo_setFaceDetectionVars arguments.
struct TileWindows {
    double startScale = 1.5, scaleIncrement = 0.25, maxScale = 6.5;  // reports 42 to 150 px
    double stepFactor = 0.06;
    // The finest pass's step: its faces are the smallest, and at the coarser step many of
    // them make no group that scores (the pasted 300-W faces found: 173 of 200 at 0.06, 180
    // at 0.05, 181 at 0.04; a group of two windows instead of three at 0.06 finds none
    // more). The finest pass costs most, in proportion to its window positions: 0.05
    // takes 1.44 times those of 0.06, 0.04 2.25 times.
    double finestStepFactor = 0.05;
};

struct ScanTile {
    double scale = 1.0;      // canvas pixels per picture pixel
    cv::Rect2d region;       // the part of the picture this tile scans, picture pixels
    double offsetX = 0.0, offsetY = 0.0;  // canvas = picture * scale + offset
};

struct ScanPlan {
    std::vector<ScanTile> tiles;  // tile passes, finest scale first
    double smallestFace = 0.0;    // picture pixels: the smallest face a pass reports
};

// Requires: picture width and height >= 1, canvasSide > the largest tile window + 1,
// minFace > 0, wholeSmallest (the smallest window the whole pass reports, canvas pixels)
// > 0, wholeScale (canvas pixels per picture pixel in the whole pass) > 0.
// Ensures: tiles that together cover the picture at every scale of the plan, overlapping
// by at least the largest tile window; none when the whole pass reaches minFace.
ScanPlan planTiles(int pictureWidth, int pictureHeight, int canvasSide, double minFace, double wholeScale,
                   double wholeSmallest, const TileWindows& windows);

}  // namespace app
}  // namespace kvo
