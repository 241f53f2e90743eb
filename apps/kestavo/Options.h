#pragma once
// The command line of the kestavo program, parsed and checked.
//
// What it represents: every choice the user can make — the inputs, library, tracking mode,
// the library's host parameters (left at the library's own defaults unless given),
// and the outputs. A setting that is empty was not given. parseOptions() checks each
// value's syntax and range and throws AppError ("unknown option", "bad value ...") on
// the first problem; checks that need the first frame (the image region fits the frame)
// are made by the run.
//
// Thread safety: a plain value.
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kvo {
namespace app {

enum class RunMode { FaceTracking, FaceDetection, PointTracking, EyeTracking };

// x, y, width, height (pixels).
using Region = std::array<double, 4>;

struct PointArg {
    double x = 0.0, y = 0.0;  // input pixels
};

// The arguments of kvo_setFaceDetectionVars, ...TrackingVars (the first four) and
// ...PointTrackingVars; the defaults are the library's.
struct DetectionVars {
    double startScale = 4.0, scaleIncrement = 0.5, maxScale = 12.0, stepFactor = 0.04;
    int minDetections = 12;
    bool fullScan = false;
};

// The detector options as given. kvo_setFaceDetectionVars is sent only when one of them
// is given (or set by the run), with the library's defaults for the others.
struct DetectorOptions {
    std::optional<double> startScale, scaleIncrement, maxScale, stepFactor;
    std::optional<int> minDetections;
    bool fullScan = false;
    // Face widths (pixels) to search, turned into the scales above by the run.
    // --min-face replaces --start-scale, --max-face replaces --max-scale.
    std::optional<double> minFace, maxFace;
    std::optional<Region> region;  // kvo_setFaceDetectionROI (input pixels)

    bool anyVars() const {
        return startScale || scaleIncrement || maxScale || stepFactor || minDetections || fullScan || minFace || maxFace;
    }
    DetectionVars vars() const;  // those given, the library's defaults for the others
};

struct TrackingVars {
    double minFaceSize = 50.0, maxFaceSize = 500.0;
    int strictValidation = 1;
    int fineSearchLevel = 2;  // the finest pyramid level searched once tracking, 0 to 2
};

struct PointVars {
    int window = 41, levels = 4, iterations = 25;
    double epsilon = 0.0006;
};

struct Options {
    bool help = false;

    // The inputs in the order given: images, folders and globs (one run of pictures),
    // or one video or camera. Empty: the bundled sample video.
    std::vector<std::string> inputs;
    std::string library;         // empty: next to the program, else the build's copy
    RunMode mode = RunMode::FaceTracking;
    std::optional<long> maxFrames;  // empty: all frames
    // Stills: kvo_update calls per picture after the start; with --sequence, the times
    // each still is given (1).
    std::optional<int> repeat;
    // Stills: each picture a scene of its own (the default in tracking and detection
    // modes), or all of them one sequence of frames (--sequence).
    bool sequence = false;
    // The still settings' own where empty: the picture's longer side (pixels), the border
    // (share of that side), the smallest face (picture pixels; 0: no tiles), the score
    // below which faces are left out, and the restarts from the fitted pupils.
    std::optional<int> pictureSide, restarts;
    std::optional<double> border, smallestFace, minScore, settleScale;
    bool oneFace = false;        // stills: the strongest face of a picture only

    std::optional<Region> roi;   // image region handed to kvo_init (pixels)
    DetectorOptions detector;

    std::optional<TrackingVars> tracking;  // kvo_setFaceTrackingVars when given
    // The learned landmark refinement after each shape search (kvo_setFaceTrackingVars'
    // fifth argument). On unless --no-refine: the program asks for it whether or not
    // other tracking options are given; off, the library's default search runs.
    bool refine = true;

    std::optional<PointVars> pointVars;  // kvo_setPointTrackingVars when given
    // Boolean setters, the library's default (true for all three) when empty.
    std::optional<bool> checkPointsValid, candide, candideActionUnits;

    // Point tracking: explicit points, else a grid x grid lattice over the first face.
    std::vector<PointArg> points;
    int grid = 5;

    // Eye-initialised tracking: eye A x, y and eye B x, y (pixels), and the search iterations.
    std::optional<std::array<double, 4>> eyes;
    int eyeIterations = 10;

    // Outputs (empty: not written).
    std::string video, framesDir, sheet, jsonl, plot;
    int every = 100;              // PNG frame interval
    std::optional<int> sheetTiles, sheetColumns;  // empty: the run's own choice
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
