#include "Options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include "AppError.h"

namespace kvo {
namespace app {

namespace {

[[noreturn]] void badValue(const std::string& option, const std::string& text, const std::string& why) {
    throw AppError("bad value '" + text + "' for " + option + ": " + why);
}

double toDouble(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
        badValue(option, text, "expected a finite number");
    }
    return v;
}

long toLong(const std::string& option, const std::string& text, long lo, long hi) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE) {
        badValue(option, text, "expected a whole number");
    }
    if (v < lo || v > hi) {
        badValue(option, text, "expected a value from " + std::to_string(lo) + " to " + std::to_string(hi));
    }
    return v;
}

int toInt(const std::string& option, const std::string& text, long lo = INT_MIN, long hi = INT_MAX) {
    return static_cast<int>(toLong(option, text, lo, hi));
}

bool toSwitch(const std::string& option, const std::string& text) {
    if (text == "on" || text == "1" || text == "true" || text == "yes") return true;
    if (text == "off" || text == "0" || text == "false" || text == "no") return false;
    badValue(option, text, "expected on or off");
}

// Splits "a,b,c" into exactly `count` numbers.
void toNumbers(const std::string& option, const std::string& text, double* out, int count) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ',') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    if (static_cast<int>(parts.size()) != count) {
        badValue(option, text, "expected " + std::to_string(count) + " comma-separated numbers");
    }
    for (int i = 0; i < count; ++i) out[i] = toDouble(option, parts[static_cast<size_t>(i)]);
}

// The value of option `name`: the text after "=" when `inlineValue`, else the next
// argument (advancing `i`). A value never starts with "--": that is the next option,
// given where a value was due (a file named so can be given as ./--name).
std::string takeValue(int argc, const char* const* argv, int& i, const std::string& name, bool inlineValue,
                      const std::string& inlineText) {
    std::string value = inlineText;
    if (!inlineValue) {
        if (i + 1 >= argc) throw AppError("option " + name + " needs a value");
        value = argv[++i];
    }
    if (value.compare(0, 2, "--") == 0) {
        throw AppError("option " + name + " needs a value, not the option '" + value +
                       "' (a file so named can be given as ./" + value + ")");
    }
    return value;
}

std::string shortNumber(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

double positive(const std::string& option, const std::string& text) {
    const double v = toDouble(option, text);
    if (!(v > 0.0)) badValue(option, text, "expected a number above 0");
    return v;
}

}  // namespace

const char* runModeName(RunMode mode) {
    switch (mode) {
        case RunMode::FaceTracking: return "tracking";
        case RunMode::FaceDetection: return "detection";
        case RunMode::PointTracking: return "points";
        case RunMode::EyeTracking: return "eyes";
    }
    return "tracking";
}

Options parseOptions(int argc, const char* const* argv) {
    Options o;
    using Handler = std::function<void(const std::string& name, const std::string& value)>;
    // Options that take a value.
    std::map<std::string, Handler> valued = {
        {"--library", [&](const std::string&, const std::string& v) { o.library = v; }},
        {"--mode", [&](const std::string& n, const std::string& v) {
             if (v == "tracking") o.mode = RunMode::FaceTracking;
             else if (v == "detection") o.mode = RunMode::FaceDetection;
             else if (v == "points") o.mode = RunMode::PointTracking;
             else if (v == "eyes") o.mode = RunMode::EyeTracking;
             else badValue(n, v, "expected tracking, detection, points or eyes");
         }},
        {"--max-frames", [&](const std::string& n, const std::string& v) { o.maxFrames = toLong(n, v, 1, LONG_MAX); }},
        {"--repeat", [&](const std::string& n, const std::string& v) { o.repeat = toInt(n, v, 1, 1000); o.repeatGiven = true; }},
        {"--picture-side", [&](const std::string& n, const std::string& v) { o.pictureSide = toInt(n, v, 64, 2048); }},
        {"--smallest-face", [&](const std::string& n, const std::string& v) {
             o.smallestFace = toDouble(n, v);
             if (!(o.smallestFace == 0.0 || (o.smallestFace >= 20.0 && o.smallestFace <= 10000.0))) {
                 badValue(n, v, "expected 0 (no tile scans) or a width from 20 to 10000 pixels");
             }
         }},
        {"--restarts", [&](const std::string& n, const std::string& v) { o.restarts = toInt(n, v, 0, 5); }},
        {"--min-score", [&](const std::string& n, const std::string& v) {
             o.minScore = toDouble(n, v);
             if (!(o.minScore >= 0.0 && o.minScore <= 1e6)) badValue(n, v, "expected a score from 0 up");
         }},
        {"--border", [&](const std::string& n, const std::string& v) {
             o.border = toDouble(n, v);
             if (!(o.border >= 0.0 && o.border <= 1.0)) badValue(n, v, "expected a share from 0 to 1");
         }},
        {"--roi", [&](const std::string& n, const std::string& v) {
             toNumbers(n, v, o.roi, 4);
             if (!(o.roi[2] >= 1.0 && o.roi[3] >= 1.0)) badValue(n, v, "width and height must be at least 1");
             if (o.roi[0] < 0.0 || o.roi[1] < 0.0) badValue(n, v, "x and y must not be negative");
             o.roiGiven = true;
         }},
        {"--start-scale", [&](const std::string& n, const std::string& v) { o.startScale = positive(n, v); o.startScaleGiven = true; o.detectionVarsGiven = true; }},
        {"--scale-increment", [&](const std::string& n, const std::string& v) { o.scaleIncrement = positive(n, v); o.scaleIncrementGiven = true; o.detectionVarsGiven = true; }},
        {"--max-scale", [&](const std::string& n, const std::string& v) { o.maxScale = positive(n, v); o.maxScaleGiven = true; o.detectionVarsGiven = true; }},
        {"--min-face", [&](const std::string& n, const std::string& v) { o.minFace = positive(n, v); o.detectionVarsGiven = true; }},
        {"--max-face", [&](const std::string& n, const std::string& v) { o.maxFace = positive(n, v); o.detectionVarsGiven = true; }},
        {"--step-factor", [&](const std::string& n, const std::string& v) { o.stepFactor = positive(n, v); o.stepFactorGiven = true; o.detectionVarsGiven = true; }},
        {"--min-detections", [&](const std::string& n, const std::string& v) { o.minDetections = toInt(n, v, 1, 1000000); o.minDetectionsGiven = true; o.detectionVarsGiven = true; }},
        {"--detection-roi", [&](const std::string& n, const std::string& v) {
             toNumbers(n, v, o.detectionRoi, 4);
             if (!(o.detectionRoi[2] > 0.0 && o.detectionRoi[3] > 0.0)) badValue(n, v, "width and height must be above 0");
             o.detectionRoiGiven = true;
         }},
        {"--min-face-size", [&](const std::string& n, const std::string& v) { o.minFaceSize = positive(n, v); o.trackingVarsGiven = true; }},
        {"--max-face-size", [&](const std::string& n, const std::string& v) { o.maxFaceSize = positive(n, v); o.trackingVarsGiven = true; }},
        {"--strict-validation", [&](const std::string& n, const std::string& v) { o.strictValidation = toSwitch(n, v) ? 1 : 0; o.trackingVarsGiven = true; }},
        {"--fine-search", [&](const std::string& n, const std::string& v) { o.fineSearchLevel = toInt(n, v, 0, 2); o.trackingVarsGiven = true; }},
        {"--window", [&](const std::string& n, const std::string& v) { o.window = toInt(n, v, 11, 41); o.pointVarsGiven = true; }},
        {"--levels", [&](const std::string& n, const std::string& v) { o.levels = toInt(n, v, 1, 4); o.pointVarsGiven = true; }},
        {"--iterations", [&](const std::string& n, const std::string& v) { o.iterations = toInt(n, v, 5, 100); o.pointVarsGiven = true; }},
        {"--epsilon", [&](const std::string& n, const std::string& v) { o.epsilon = positive(n, v); o.pointVarsGiven = true; }},
        {"--check-points", [&](const std::string& n, const std::string& v) { o.checkPointsValid = toSwitch(n, v) ? 1 : 0; }},
        {"--candide", [&](const std::string& n, const std::string& v) { o.candide = toSwitch(n, v) ? 1 : 0; }},
        {"--candide-aus", [&](const std::string& n, const std::string& v) { o.candideActionUnits = toSwitch(n, v) ? 1 : 0; }},
        {"--point", [&](const std::string& n, const std::string& v) {
             double xy[2];
             toNumbers(n, v, xy, 2);
             o.points.push_back(PointArg{xy[0], xy[1]});
         }},
        {"--grid", [&](const std::string& n, const std::string& v) { o.grid = toInt(n, v, 1, 20); }},
        {"--eyes", [&](const std::string& n, const std::string& v) { toNumbers(n, v, o.eyes, 4); o.eyesGiven = true; }},
        {"--eye-iterations", [&](const std::string& n, const std::string& v) { o.eyeIterations = toInt(n, v, 1, 1000); }},
        {"--video", [&](const std::string&, const std::string& v) { o.video = v; }},
        {"--frames-dir", [&](const std::string&, const std::string& v) { o.framesDir = v; }},
        {"--every", [&](const std::string& n, const std::string& v) { o.every = toInt(n, v, 1, INT_MAX); }},
        {"--sheet", [&](const std::string&, const std::string& v) { o.sheet = v; }},
        {"--sheet-tiles", [&](const std::string& n, const std::string& v) { o.sheetTiles = toInt(n, v, 2, 400); o.sheetTilesGiven = true; }},
        {"--sheet-columns", [&](const std::string& n, const std::string& v) { o.sheetColumns = toInt(n, v, 1, 20); o.sheetColumnsGiven = true; }},
        {"--jsonl", [&](const std::string&, const std::string& v) { o.jsonl = v; }},
        {"--plot", [&](const std::string&, const std::string& v) { o.plot = v; }},
    };
    std::map<std::string, std::function<void()>> flags = {
        {"--help", [&] { o.help = true; }},
        {"-h", [&] { o.help = true; }},
        {"--full-scan", [&] { o.fullScan = true; o.fullScanGiven = true; o.detectionVarsGiven = true; }},
        {"--sequence", [&] { o.sequence = true; }},
        {"--one-face", [&] { o.oneFace = true; }},
        {"--no-refine", [&] { o.refine = false; }},
        {"--candide-vertices", [&] { o.candideVertices = true; }},
        {"--no-progress", [&] { o.progress = false; }},
        {"--quiet", [&] { o.quiet = true; }},
    };

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            std::string name = arg, value;
            bool inlineValue = false;
            const size_t eq = arg.find('=');
            if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
                inlineValue = true;
            }
            auto f = flags.find(name);
            if (f != flags.end() && !inlineValue) {
                f->second();
                continue;
            }
            auto v = valued.find(name);
            if (v == valued.end()) throw AppError("unknown option '" + arg + "' (see --help)");
            v->second(name, takeValue(argc, argv, i, name, inlineValue, value));
            continue;
        }
        o.inputs.push_back(arg);
    }
    if (o.mode == RunMode::EyeTracking && !o.eyesGiven) {
        throw AppError("--mode eyes needs --eyes AX,AY,BX,BY (the two eye centres in pixels)");
    }
    if (o.minFace > 0.0 && o.startScaleGiven) throw AppError("give --min-face or --start-scale, not both");
    if (o.maxFace > 0.0 && o.maxScaleGiven) throw AppError("give --max-face or --max-scale, not both");
    if (o.minFace > 0.0 && o.maxFace > 0.0 && o.maxFace < o.minFace) {
        throw AppError("bad value: --max-face " + shortNumber(o.maxFace) + " is below --min-face " + shortNumber(o.minFace));
    }
    if (o.maxFaceSize < o.minFaceSize) {
        throw AppError("bad value: --max-face-size " + std::to_string(o.maxFaceSize) +
                       " is below --min-face-size " + std::to_string(o.minFaceSize));
    }
    return o;
}

std::string helpText(const std::string& programName, const std::string& defaultInput) {
    std::ostringstream s;
    s << "Usage: " << programName << " [options] [INPUT...]\n"
      << "\n"
      << "Runs the Kestavo face tracker (libKestavo.so, driven through the host runtime's\n"
      << "extension interface) on a video, an image, a folder or glob of images, or a camera.\n"
      << "\n"
      << "INPUT  a video file, an image, a folder of images, a quoted glob ('shots/*.png'),\n"
      << "       or camera:N (/dev/videoN). Default: " << defaultInput << "\n"
      << "       Any number of images, folders and globs make one run of pictures, in the\n"
      << "       order given (a folder's or glob's images sorted by name); a picture that\n"
      << "       cannot be read or decoded is skipped and named in the summary. A video or\n"
      << "       a camera is given on its own. Every input must exist before the run starts.\n"
      << "\n"
      << "General:\n"
      << "  --library PATH          libKestavo.so to load (default: next to this program)\n"
      << "  --mode MODE             tracking (default), detection, points, eyes\n"
      << "  --max-frames N          stop after N frames (default: all)\n"
      << "  --repeat N              stills: kvo_update calls per picture after the start (5);\n"
      << "                          with --sequence, each still is given N times (1)\n"
      << "  --sequence              stills are frames of one scene, scaled into the first one's\n"
      << "                          size (default in tracking and detection modes: each picture is\n"
      << "                          a scene of its own, framed, scanned in full and mapped back)\n"
      << "  --picture-side PX       stills: the picture's longer side in the tracker's frame (480)\n"
      << "  --border F              stills: the border around it, a share of that side (0.25)\n"
      << "  --smallest-face PX      stills: find faces from PX picture pixels wide, scanning tiles\n"
      << "                          of the picture at finer scales (40; 0: the whole-picture scan only)\n"
      << "  --min-score S           stills: leave out faces whose detection score is below S (7)\n"
      << "  --one-face              stills: track the strongest face of each picture only\n"
      << "  --restarts N            stills: start each face again from its fitted pupils N times (2)\n"
      << "  --roi X,Y,W,H           image region handed to kvo_init (default: the whole frame)\n"
      << "  --no-progress           no progress bar (it shows only when stderr is a terminal)\n"
      << "  --quiet                 no summary\n"
      << "\n"
      << "Face detection (kvo_setFaceDetectionVars; library defaults shown). Unless these are\n"
      << "given, a video is scanned from 72 px faces with window shift 0.05, and stills with\n"
      << "the still settings the summary states:\n"
      << "  --start-scale S         first detector scale (4.0)\n"
      << "  --scale-increment S     scale step between passes (0.5)\n"
      << "  --max-scale S           last detector scale (12.0)\n"
      << "  --min-face PX           search faces from PX pixels wide: sets the start scale so that\n"
      << "                          the first window reported is PX (instead of --start-scale;\n"
      << "                          the defaults search 108 to 276 px, as far as the frame allows)\n"
      << "  --max-face PX           search faces up to at least PX pixels wide: sets the last\n"
      << "                          scale (instead of --max-scale); with stills both are widths\n"
      << "                          in the tracker's frame, where the picture is --picture-side wide\n"
      << "  --step-factor F         window shift as a fraction of the window (0.04)\n"
      << "  --min-detections N      raw detections needed to accept a face (12)\n"
      << "  --full-scan             never stop a scan early (off)\n"
      << "  --detection-roi X,Y,W,H region searched, input pixels (kvo_setFaceDetectionROI;\n"
      << "                          default: the whole image region)\n"
      << "\n"
      << "Face tracking (kvo_setFaceTrackingVars, kvo_set_candide*):\n"
      << "  --min-face-size PX      smallest valid shape width and height (50)\n"
      << "  --max-face-size PX      largest valid shape width and height (500)\n"
      << "  --strict-validation on|off  proportion checks of the validity test (on)\n"
      << "  --fine-search LEVEL     finest pyramid level the shape search reaches once tracking:\n"
      << "                          2, 1 or 0 (2; 1 and 0 are finer and slower)\n"
      << "  --no-refine             no learned landmark refinement after the shape search (the\n"
      << "                          library's default search); without it the refinement is on\n"
      << "                          (kvo_setFaceTrackingVars argument 4 true), unless the library\n"
      << "                          has no refiner model: the summary says which\n"
      << "  --candide on|off        fit the Candide-3 mesh and pose (on)\n"
      << "  --candide-aus on|off    fit the Candide action units too (on)\n"
      << "\n"
      << "Point tracking (--mode points; kvo_setPointTrackingVars, kvo_addPointsToTrack):\n"
      << "  --point X,Y             a point to track, pixels (repeatable)\n"
      << "  --grid N                without --point: an N x N grid over the first detected face (5)\n"
      << "  --window N              tracking window side, made odd within 11..41 (41)\n"
      << "  --levels N              pyramid levels, 1..4 (4)\n"
      << "  --iterations N          iterations per level, 5..100 (25)\n"
      << "  --epsilon E             convergence bound (0.0006)\n"
      << "  --check-points on|off   check points before each step (kvo_set_checkPointsValidBeforeTracking; on)\n"
      << "\n"
      << "Eye-initialised tracking (--mode eyes; kvo_updateByEyes on the first frame):\n"
      << "  --eyes AX,AY,BX,BY      the two eye centres, pixels (required)\n"
      << "  --eye-iterations N      search iterations from the eyes (10)\n"
      << "\n"
      << "Outputs (any combination; each is written under a temporary name and renamed when complete):\n"
      << "  --video PATH            annotated video (.avi: MJPG, .mp4: mp4v)\n"
      << "  --frames-dir DIR        annotated PNG frames, one every --every frames (100)\n"
      << "  --sheet PATH            contact sheet PNG of --sheet-tiles (12) frames in --sheet-columns (4)\n"
      << "  --jsonl PATH            one JSON record per frame\n"
      << "  --candide-vertices      include the projected Candide vertices in the JSON records\n"
      << "  --plot PATH             PNG plot of the head pose and the time per frame\n"
      << "\n"
      << "Errors are reported as one line starting with \"Error: \" and exit status 2.\n";
    return s.str();
}

}  // namespace app
}  // namespace kvo
