#pragma once
// The command line of the kestavo program, parsed and checked.
//
// What it represents: every choice the user can make — the inputs, library, tracking mode,
// the library's host parameters (left at the library's own defaults unless given),
// and the outputs. parseOptions() checks each value's syntax and range and throws
// AppError ("unknown option", "bad value ...") on the first problem; checks that need
// the first frame (the image region fits the frame) are made by the run.
//
// Thread safety: a plain value.
#include <string>
#include <vector>

namespace kvo {
namespace app {

enum class RunMode { FaceTracking, FaceDetection, PointTracking, EyeTracking };

struct PointArg {
    double x = 0.0, y = 0.0;  // input pixels
};

struct Options {
    bool help = false;

    // The inputs in the order given: images, folders and globs (one run of pictures),
    // or one video or camera. Empty: the bundled sample video.
    std::vector<std::string> inputs;
    std::string library;         // empty: next to the program, else the build's copy
    RunMode mode = RunMode::FaceTracking;
    long maxFrames = 0;          // 0: all frames
    int repeat = 1;              // each still image is given this many times
    bool repeatGiven = false;
    // Stills: each picture a scene of its own (the default in tracking and detection
    // modes), or all of them one sequence of frames (--sequence).
    bool sequence = false;
    int pictureSide = 0;         // 0: the still settings' own (pixels, the picture's longer side)
    double border = -1.0;        // < 0: the still settings' own (share of the picture side)
    double smallestFace = -1.0;  // < 0: the still settings' own (picture pixels; 0: no tiles)
    double minScore = -1.0;      // < 0: the still settings' own; stills: faces scoring below are left out
    bool oneFace = false;        // stills: the strongest face of a picture only
    int restarts = -1;           // < 0: the still settings' own; stills: starts from the fitted pupils

    bool roiGiven = false;       // image region handed to kvo_init (pixels)
    double roi[4] = {0, 0, 0, 0};

    // kvo_setFaceDetectionVars, sent only when one of them is given.
    bool detectionVarsGiven = false;
    double startScale = 4.0, scaleIncrement = 0.5, maxScale = 12.0, stepFactor = 0.04;
    int minDetections = 12;
    bool fullScan = false;
    // Face widths (pixels) to search, turned into the scales above by the run
    // (0: not given). --min-face replaces --start-scale, --max-face replaces --max-scale.
    double minFace = 0.0, maxFace = 0.0;
    bool startScaleGiven = false, maxScaleGiven = false, scaleIncrementGiven = false, stepFactorGiven = false,
         minDetectionsGiven = false, fullScanGiven = false;
    bool detectionRoiGiven = false;  // kvo_setFaceDetectionROI (input pixels)
    double detectionRoi[4] = {0, 0, 0, 0};

    // kvo_setFaceTrackingVars.
    bool trackingVarsGiven = false;
    double minFaceSize = 50.0, maxFaceSize = 500.0;
    int strictValidation = 1;
    int fineSearchLevel = 2;  // the finest pyramid level searched once tracking, 0 to 2
    // The learned landmark refinement after each shape search (kvo_setFaceTrackingVars'
    // fifth argument). On unless --no-refine: the program asks for it whether or not
    // other tracking options are given; off, the library's default search runs.
    bool refine = true;

    // kvo_setPointTrackingVars.
    bool pointVarsGiven = false;
    int window = 41, levels = 4, iterations = 25;
    double epsilon = 0.0006;

    // Boolean setters: -1 leaves the library's default (true for all three).
    int checkPointsValid = -1, candide = -1, candideActionUnits = -1;

    // Point tracking: explicit points, else a grid x grid lattice over the first face.
    std::vector<PointArg> points;
    int grid = 5;

    // Eye-initialised tracking: eye A, eye B (pixels) and the search iterations.
    bool eyesGiven = false;
    double eyes[4] = {0, 0, 0, 0};
    int eyeIterations = 10;

    // Outputs (empty: not written).
    std::string video, framesDir, sheet, jsonl, plot;
    int every = 100;              // PNG frame interval
    int sheetTiles = 12, sheetColumns = 4;
    bool sheetTilesGiven = false, sheetColumnsGiven = false;
    bool candideVertices = false; // Candide vertices in the JSON Lines
    bool progress = true;         // when standard error is a terminal
    bool quiet = false;           // no summary
};

// Parses argv[1..argc-1]. Throws AppError on an unknown option or a bad value.
Options parseOptions(int argc, const char* const* argv);

// The --help text, showing the library's defaults.
std::string helpText(const std::string& programName, const std::string& defaultInput);

// The name of a mode as the user types it ("tracking", ...).
const char* runModeName(RunMode mode);

}  // namespace app
}  // namespace kvo
