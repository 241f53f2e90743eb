#include "Options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "AppError.h"
#include "CommandLine.h"

namespace kvo {
namespace app {

namespace {

using Text = const std::string&;

[[noreturn]] void badValue(Text option, Text text, Text why) {
    throw AppError("bad value '" + text + "' for " + option + ": " + why);
}

double toDouble(Text option, Text text) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(v)) {
        badValue(option, text, "expected a finite number");
    }
    return v;
}

long toLong(Text option, Text text, long lo, long hi) {
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

int toInt(Text option, Text text, long lo, long hi) { return static_cast<int>(toLong(option, text, lo, hi)); }

// Splits "a,b,c" into exactly N numbers.
template <size_t N>
std::array<double, N> toNumbers(Text option, Text text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',') parts.emplace_back();
        else parts.back() += c;
    }
    if (parts.size() != N) badValue(option, text, "expected " + std::to_string(N) + " comma-separated numbers");
    std::array<double, N> out;
    for (size_t i = 0; i < N; ++i) out[i] = toDouble(option, parts[i]);
    return out;
}

double positive(Text option, Text text) {
    const double v = toDouble(option, text);
    if (!(v > 0.0)) badValue(option, text, "expected a number above 0");
    return v;
}

std::string shortNumber(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// A refusal of the shared parser in this program's words: an unknown option (or a switch
// given a value) quoted as typed, "=value" included, with a pointer to --help; a value
// that looks like an option, with the way to give a file so named.
AppError inOwnWords(const std::string& what, int argc, const char* const* argv) {
    const bool unknown = what.rfind("unknown option '", 0) == 0;
    if (!unknown && what.rfind("option ", 0) != 0) return AppError(what);
    const size_t quote = what.find('\''), nameEnd = what.find(' ', 7);
    const std::string name = unknown ? what.substr(quote + 1, what.size() - quote - 2) : what.substr(7, nameEnd - 7);
    const bool switchWithValue = what.compare(nameEnd, std::string::npos, " takes no value") == 0;
    if (unknown || switchWithValue) {
        std::string typed = name;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if ((!switchWithValue && a == name) || (name.rfind("--", 0) == 0 && a.rfind(name + "=", 0) == 0)) {
                typed = a;
                break;
            }
        }
        return AppError("unknown option '" + typed + "' (see --help)");
    }
    if (quote == std::string::npos) return AppError(what);  // a value missing at the end
    const std::string value = what.substr(quote + 1, what.size() - quote - 2);
    return AppError("option " + name + " needs a value, not the option '" + value +
                    "' (a file so named can be given as ./" + value + ")");
}

}  // namespace

DetectionVars DetectorOptions::vars() const {
    DetectionVars v;
    v.startScale = startScale.value_or(v.startScale);
    v.scaleIncrement = scaleIncrement.value_or(v.scaleIncrement);
    v.maxScale = maxScale.value_or(v.maxScale);
    v.stepFactor = stepFactor.value_or(v.stepFactor);
    v.minDetections = minDetections.value_or(v.minDetections);
    v.fullScan = fullScan;
    return v;
}

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
    DetectorOptions& d = o.detector;
    // Handlers that store a checked value.
    auto whole = [](auto& target, long lo, long hi) {
        return [&target, lo, hi](Text n, Text v) { target = toInt(n, v, lo, hi); };
    };
    auto above0 = [](auto& target) { return [&target](Text n, Text v) { target = positive(n, v); }; };
    auto onOff = [](auto& target) { return [&target](Text n, Text v) { target = cli::toSwitch(n, v); }; };
    // A tracking or point tracking option: the call is made with the defaults for the others.
    auto tracking = [&]() -> TrackingVars& { return o.tracking ? *o.tracking : o.tracking.emplace(); };
    auto pointVars = [&]() -> PointVars& { return o.pointVars ? *o.pointVars : o.pointVars.emplace(); };
    auto region = [](Text n, Text v) { return toNumbers<4>(n, v); };

    cli::CommandLine line;
    line.text("--library", o.library)
        .option("--mode", [&](Text n, Text v) {
            for (RunMode m : {RunMode::FaceTracking, RunMode::FaceDetection, RunMode::PointTracking, RunMode::EyeTracking}) {
                if (v == runModeName(m)) { o.mode = m; return; }
            }
            badValue(n, v, "expected tracking, detection, points or eyes");
        })
        .option("--max-frames", [&](Text n, Text v) { o.maxFrames = toLong(n, v, 1, LONG_MAX); })
        .option("--repeat", whole(o.repeat, 1, 1000))
        .option("--picture-side", whole(o.pictureSide, 64, 2048))
        .option("--smallest-face", [&](Text n, Text v) {
            o.smallestFace = toDouble(n, v);
            if (!(o.smallestFace == 0.0 || (o.smallestFace >= 20.0 && o.smallestFace <= 10000.0))) {
                badValue(n, v, "expected 0 (no tile scans) or a width from 20 to 10000 pixels");
            }
        })
        .option("--restarts", whole(o.restarts, 0, 5))
        .option("--min-score", [&](Text n, Text v) {
            o.minScore = toDouble(n, v);
            if (!(o.minScore >= 0.0 && o.minScore <= 1e6)) badValue(n, v, "expected a score from 0 up");
        })
        .option("--settle-scale", [&](Text n, Text v) {
            o.settleScale = toDouble(n, v);
            if (!(o.settleScale >= 0.0 && o.settleScale <= 10.0)) badValue(n, v, "expected a scale from 0 to 10");
        })
        .option("--border", [&](Text n, Text v) {
            o.border = toDouble(n, v);
            if (!(o.border >= 0.0 && o.border <= 1.0)) badValue(n, v, "expected a share from 0 to 1");
        })
        .option("--roi", [&](Text n, Text v) {
            const Region r = region(n, v);
            if (!(r[2] >= 1.0 && r[3] >= 1.0)) badValue(n, v, "width and height must be at least 1");
            if (r[0] < 0.0 || r[1] < 0.0) badValue(n, v, "x and y must not be negative");
            o.roi = r;
        })
        .option("--start-scale", above0(d.startScale))
        .option("--scale-increment", above0(d.scaleIncrement))
        .option("--max-scale", above0(d.maxScale))
        .option("--min-face", above0(d.minFace))
        .option("--max-face", above0(d.maxFace))
        .option("--step-factor", above0(d.stepFactor))
        .option("--min-detections", whole(d.minDetections, 1, 1000000))
        .flag("--full-scan", [&] { d.fullScan = true; })
        .option("--detection-roi", [&](Text n, Text v) {
            d.region = region(n, v);
            if (!((*d.region)[2] > 0.0 && (*d.region)[3] > 0.0)) badValue(n, v, "width and height must be above 0");
        })
        .option("--min-face-size", [&](Text n, Text v) { tracking().minFaceSize = positive(n, v); })
        .option("--max-face-size", [&](Text n, Text v) { tracking().maxFaceSize = positive(n, v); })
        .option("--strict-validation", [&](Text n, Text v) { tracking().strictValidation = cli::toSwitch(n, v); })
        .option("--fine-search", [&](Text n, Text v) { tracking().fineSearchLevel = toInt(n, v, 0, 2); })
        .flag("--no-refine", [&] { o.refine = false; })
        .option("--window", [&](Text n, Text v) { pointVars().window = toInt(n, v, 11, 41); })
        .option("--levels", [&](Text n, Text v) { pointVars().levels = toInt(n, v, 1, 4); })
        .option("--iterations", [&](Text n, Text v) { pointVars().iterations = toInt(n, v, 5, 100); })
        .option("--epsilon", [&](Text n, Text v) { pointVars().epsilon = positive(n, v); })
        .option("--check-points", onOff(o.checkPointsValid))
        .option("--candide", onOff(o.candide))
        .option("--candide-aus", onOff(o.candideActionUnits))
        .option("--point", [&](Text n, Text v) {
            const std::array<double, 2> xy = toNumbers<2>(n, v);
            o.points.push_back(PointArg{xy[0], xy[1]});
        })
        .option("--grid", whole(o.grid, 1, 20))
        .option("--eyes", [&](Text n, Text v) { o.eyes = toNumbers<4>(n, v); })
        .option("--eye-iterations", whole(o.eyeIterations, 1, 1000))
        .text("--video", o.video)
        .text("--frames-dir", o.framesDir)
        .option("--every", whole(o.every, 1, INT_MAX))
        .text("--sheet", o.sheet)
        .option("--sheet-tiles", whole(o.sheetTiles, 2, 400))
        .option("--sheet-columns", whole(o.sheetColumns, 1, 20))
        .text("--jsonl", o.jsonl)
        .text("--plot", o.plot)
        .flag("--help", [&] { o.help = true; })
        .flag("-h", [&] { o.help = true; })
        .flag("--sequence", [&] { o.sequence = true; })
        .flag("--one-face", [&] { o.oneFace = true; })
        .flag("--candide-vertices", [&] { o.candideVertices = true; })
        .flag("--no-progress", [&] { o.progress = false; })
        .flag("--quiet", [&] { o.quiet = true; })
        .arguments([&](Text input) { o.inputs.push_back(input); });
    try {
        line.parse(argc, argv);
    } catch (const cli::UsageError& e) {
        throw inOwnWords(e.what(), argc, argv);
    }

    if (o.mode == RunMode::EyeTracking && !o.eyes) {
        throw AppError("--mode eyes needs --eyes AX,AY,BX,BY (the two eye centres in pixels)");
    }
    if (d.minFace && d.startScale) throw AppError("give --min-face or --start-scale, not both");
    if (d.maxFace && d.maxScale) throw AppError("give --max-face or --max-scale, not both");
    if (d.minFace && d.maxFace && *d.maxFace < *d.minFace) {
        throw AppError("bad value: --max-face " + shortNumber(*d.maxFace) + " is below --min-face " + shortNumber(*d.minFace));
    }
    const TrackingVars t = o.tracking.value_or(TrackingVars{});
    if (t.maxFaceSize < t.minFaceSize) {
        throw AppError("bad value: --max-face-size " + std::to_string(t.maxFaceSize) +
                       " is below --min-face-size " + std::to_string(t.minFaceSize));
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
      << "  --min-score S           stills: leave out faces whose score is below S (7)\n"
      << "  --settle-scale F        stills: divide a tracked face's score by 1 + m / F, m how far its\n"
      << "                          pupils moved when its fit restarted (pupil distances); fits on\n"
      << "                          textures wander, so with --min-score this leaves them out\n"
      << "                          (0, off; 0.03 keeps 92 % of the AFW faces found, 15 % of the rest)\n"
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
