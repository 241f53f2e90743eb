// Named functions that initialise the tracker, feed it frames, switch its mode and
// set its parameters.
#include <cmath>

#include "extension/ExtensionGlobals.h"
#include "extension/HostValues.h"
#include "extension/NamedFunctions.h"
#include "image/GreyConversion.h"
#include "util/StringUtils.h"
#include "util/Trace.h"

using namespace kvo;
using namespace kvo::host;

namespace {

// Search steps that one kvo_updateByEyes call runs at most.
const int MAX_EYE_ITERATIONS = 100;

// Points the tracker's optical flow follows at most. 400 points with the largest window,
// 4 levels and 100 iterations took 19 ms a frame (median; 41 ms at the 95th percentile)
// on a 2-core desktop processor, so 2,000 keep a frame of point tracking to about 0.1 to
// 0.2 s; a host array of billions of points would not even fit in memory.
const uint32_t MAX_TRACKED_POINTS = 2000;

// Longest frame side kvo_init accepts, pixels: above 8K video (7680 x 4320). Every frame
// is converted, filtered and built into pyramids whole, so the frame size bounds the
// work of each kvo_update.
const uint32_t MAX_FRAME_SIDE = 8192;

FREObject stateResult() { return newString(extension::tracker().state); }

// Reads the host bitmap into the input's grey buffer. Returns false, after one error
// line naming `caller`, when the library is not initialised, the bitmap cannot be
// acquired, or its size differs from the one given to kvo_init; the input then keeps
// its previous pixels.
bool intakeFrame(const char* caller, FREObject bitmap) {
    BitmapData* in = extension::input();
    if (in == nullptr) {
        Err(std::string(caller) + ": kvo_init must be called first.");
        return false;
    }
    FREBitmapData desc = {};
    if (bitmap == nullptr || FREAcquireBitmapData(bitmap, &desc) != FRE_OK) {
        Err(std::string(caller) + ": argument 0 is not a bitmap that can be read.");
        return false;
    }
    bool ok = false;
    if (desc.width != in->width || desc.height != in->height) {
        Err(std::string(caller) + ": the frame is " + to_string(desc.width) + " x " +
            to_string(desc.height) + " pixels but kvo_init was given " + to_string(in->width) +
            " x " + to_string(in->height) + ".");
    } else if (desc.bits32 == nullptr || desc.lineStride32 < desc.width) {
        Err(std::string(caller) + ": the bitmap has no pixels or a row stride below its width.");
    } else {
        // Host rows are normally contiguous; a padded row stride is honoured row by row
        // rather than read as if it were contiguous.
        if (desc.lineStride32 == desc.width) {
            convertToGrey(desc.bits32, in->getData(), static_cast<size_t>(desc.width) * desc.height);
        } else {
            for (uint32_t row = 0; row < desc.height; ++row) {
                convertToGrey(desc.bits32 + static_cast<size_t>(row) * desc.lineStride32,
                              in->getData() + static_cast<size_t>(row) * desc.width, desc.width);
            }
        }
        ok = true;
    }
    FREReleaseBitmapData(bitmap);
    return ok;
}

}  // namespace

FREObject kvo_init(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (extension::input() != nullptr) {
        // The tracker's buffers are sized for the first frame and it keeps working on it;
        // re-sizing everything under the host would lose the state it relies on.
        Err("kvo_init: the tracker is already initialised; it keeps its first frame size.");
        return nullptr;
    }
    FREObject bitmap = arg(argc, argv, 0);
    FREBitmapData desc = {};
    if (bitmap == nullptr || FREAcquireBitmapData(bitmap, &desc) != FRE_OK) {
        Err("kvo_init: argument 0 is not a bitmap that can be read.");
        return nullptr;
    }
    const double x = readNumber(arg(argc, argv, 1), 0.0);
    const double y = readNumber(arg(argc, argv, 2), 0.0);
    const double width = readNumber(arg(argc, argv, 3), 240.0);
    const double height = readNumber(arg(argc, argv, 4), 320.0);
    if (desc.width == 0 || desc.height == 0) {
        Err("kvo_init: the bitmap is empty.");
        FREReleaseBitmapData(bitmap);
        return nullptr;
    }
    if (desc.width > MAX_FRAME_SIDE || desc.height > MAX_FRAME_SIDE) {
        Err("kvo_init: the bitmap is " + to_string(desc.width) + " x " + to_string(desc.height) +
            " pixels; frames of at most " + to_string(MAX_FRAME_SIDE) + " pixels a side are tracked.");
        FREReleaseBitmapData(bitmap);
        return nullptr;
    }
    BitmapData* in = new BitmapData(desc.width, desc.height);
    if (in->getData() == nullptr) {
        delete in;
        FREReleaseBitmapData(bitmap);
        return nullptr;
    }
    Rectangle* roi = new Rectangle(x, y, width, height);
    extension::setInitialized(in, roi);
    extension::tracker().init(in, roi);
    FREReleaseBitmapData(bitmap);
    return nullptr;
}

FREObject kvo_update(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (intakeFrame("kvo_update", arg(argc, argv, 0))) extension::tracker().update();
    return stateResult();
}

FREObject kvo_updateByEyes(FREContext, void*, uint32_t argc, FREObject argv[]) {
    if (!intakeFrame("kvo_updateByEyes", arg(argc, argv, 0))) return stateResult();
    PointPtr& a = extension::eyePointA();
    PointPtr& b = extension::eyePointB();
    readPoint(arg(argc, argv, 1), *a);
    readPoint(arg(argc, argv, 2), *b);
    if (!std::isfinite(a->x) || !std::isfinite(a->y) || !std::isfinite(b->x) || !std::isfinite(b->y)) {
        Err("kvo_updateByEyes: the eye positions must be finite numbers.");
        return stateResult();
    }
    int iterations = readInt(arg(argc, argv, 3));
    if (iterations > MAX_EYE_ITERATIONS) {
        // Each iteration is a full search step (milliseconds); an absurd count would block
        // the host's thread for hours.
        Err("kvo_updateByEyes: " + to_string(iterations) + " iterations requested; " +
            to_string(MAX_EYE_ITERATIONS) + " are run.");
        iterations = MAX_EYE_ITERATIONS;
    }
    extension::tracker().updateByEyes(a, b, iterations);
    return stateResult();
}

FREObject kvo_reset(FREContext, void*, uint32_t, FREObject[]) {
    extension::tracker().reset();
    return nullptr;
}

FREObject kvo_get_mode(FREContext, void*, uint32_t, FREObject[]) {
    return newString(extension::tracker().mode);
}

FREObject kvo_set_mode(FREContext, void*, uint32_t argc, FREObject argv[]) {
    extension::tracker().setMode(readString(arg(argc, argv, 0)));
    return nullptr;
}

FREObject kvo_get_lastState(FREContext, void*, uint32_t, FREObject[]) {
    return newString(extension::tracker().lastState);
}

FREObject kvo_get_state(FREContext, void*, uint32_t, FREObject[]) { return stateResult(); }

FREObject kvo_get_nextState(FREContext, void*, uint32_t, FREObject[]) {
    return newString(extension::tracker().nextState);
}

FREObject kvo_setPointTrackingVars(FREContext, void*, uint32_t argc, FREObject argv[]) {
    const int window = readInt(arg(argc, argv, 0));
    int levels = readInt(arg(argc, argv, 1));
    int iterations = readInt(arg(argc, argv, 2));
    const double epsilon = readNumber(arg(argc, argv, 3));
    if (levels > 4) levels = 4;
    if (levels <= 0) levels = 1;
    if (iterations > 100) iterations = 100;
    if (iterations <= 4) iterations = 5;
    OpticalFlow& flow = extension::tracker().opticalFlow;
    flow.patchSize(window);
    flow.levels = levels;
    flow.iterations = iterations;
    flow.epsilon = epsilon;
    return nullptr;
}

FREObject kvo_get_checkPointsValidBeforeTracking(FREContext, void*, uint32_t, FREObject[]) {
    return newBool(extension::tracker().opticalFlow.checkPointsValidBeforeTracking);
}

FREObject kvo_set_checkPointsValidBeforeTracking(FREContext, void*, uint32_t argc, FREObject argv[]) {
    extension::tracker().opticalFlow.checkPointsValidBeforeTracking = readBool(arg(argc, argv, 0));
    return nullptr;
}

FREObject kvo_addPointsToTrack(FREContext, void*, uint32_t argc, FREObject argv[]) {
    FREObject array = arg(argc, argv, 0);
    uint32_t n = 0;
    if (array == nullptr || FREGetArrayLength(array, &n) != FRE_OK) {
        Err("kvo_addPointsToTrack: argument 0 is not an array of points.");
        return nullptr;
    }
    Kestavo& t = extension::tracker();
    const size_t m = t.pointsToTrack.size();
    const size_t room = m < MAX_TRACKED_POINTS ? MAX_TRACKED_POINTS - m : 0;
    if (n > room) {
        Err("kvo_addPointsToTrack: " + to_string(n) + " points given with " + to_string(m) +
            " tracked; at most " + to_string(MAX_TRACKED_POINTS) + " are tracked, so only the first " +
            to_string(room) + " were added.");
        n = static_cast<uint32_t>(room);
    }
    t.pointsToTrack.resize(m + n);
    t.pointStates.resize(m + n, false);
    for (uint32_t i = 0; i < n; ++i) {
        FREObject element = nullptr;
        if (FREGetArrayElementAt(array, i, &element) != FRE_OK) element = nullptr;
        PointPtr p = std::make_shared<Point>();
        readPoint(element, *p);
        t.pointsToTrack[m + i] = p;
        t.pointStates[m + i] = true;
    }
    return nullptr;
}

FREObject kvo_setFaceDetectionVars(FREContext, void*, uint32_t argc, FREObject argv[]) {
    const double startScale = readNumber(arg(argc, argv, 0));
    const double scaleIncrement = readNumber(arg(argc, argv, 1));
    const double maxScale = readNumber(arg(argc, argv, 2));
    const double stepFactor = readNumber(arg(argc, argv, 3));
    const int minDetections = readInt(arg(argc, argv, 4));
    const bool fullScan = readBool(arg(argc, argv, 5));
    ViolaJones& vj = extension::tracker().violaJones;
    vj.startScale = startScale;
    vj.scaleIncrement = scaleIncrement;
    vj.maxScale = maxScale;
    vj.stepFactor = stepFactor;
    vj.minDetections = minDetections;
    vj.fullScan = fullScan;
    // A tiny increment or step would make one detection call run for minutes.
    vj.boundScanWork("kvo_setFaceDetectionVars");
    return nullptr;
}

FREObject kvo_setFaceDetectionROI(FREContext, void*, uint32_t argc, FREObject argv[]) {
    const double x = readNumber(arg(argc, argv, 0));
    const double y = readNumber(arg(argc, argv, 1));
    const double width = readNumber(arg(argc, argv, 2));
    const double height = readNumber(arg(argc, argv, 3));
    const Rectangle* roi = extension::imageRoi();
    if (roi == nullptr) {
        Err("kvo_setFaceDetectionROI: kvo_init must be called first.");
        return nullptr;
    }
    ViolaJones& vj = extension::tracker().violaJones;
    const double s = vj.levelScale;
    // Host region in input-bitmap pixels, stored in the detector's own image pixels.
    vj.detectionROI = Rectangle(std::trunc((x - roi->x) * s), std::trunc((y - roi->y) * s),
                                std::trunc(width * s), std::trunc(height * s));
    return nullptr;
}

// The finest pyramid level the shape search reaches after its start phase, from the
// optional fourth argument of kvo_setFaceTrackingVars: absent (or null), the default 2;
// 0, 1 or 2 as given; anything else (another type, or out of range) the default, after
// one error line.
static int32_t readFinestTrackingLevel(uint32_t argc, FREObject argv[]) {
    const int32_t fallback = ASMSearch::DEFAULT_FINEST_LEVEL;
    FREObject given = arg(argc, argv, 3);
    if (given == nullptr) return fallback;
    int32_t level = fallback;
    if (FREGetObjectAsInt32(given, &level) != FRE_OK) {
        Err("kvo_setFaceTrackingVars: argument 3, the finest level searched, is not an int, so 2 is used.");
        return fallback;
    }
    if (level < 0 || level > fallback) {
        Err("kvo_setFaceTrackingVars: argument 3, the finest level searched, is " + to_string(level) +
            "; it must be 0, 1 or 2, so 2 is used.");
        return fallback;
    }
    return level;
}

// The optional fifth argument of kvo_setFaceTrackingVars: the learned landmark refinement,
// on exactly when the host gives the Boolean 1; absent, null or anything else: off. Asked
// for without a usable refiner model it stays off, with one error line.
static bool readRefinement(uint32_t argc, FREObject argv[], const ASMSearch& search) {
    if (!readBool(arg(argc, argv, 4))) return false;
    if (!search.refiner.loaded()) {
        Err("kvo_setFaceTrackingVars: argument 4 asks for the landmark refinement, but no refiner "
            "model is loaded, so it stays off.");
        return false;
    }
    return true;
}

FREObject kvo_setFaceTrackingVars(FREContext, void*, uint32_t argc, FREObject argv[]) {
    const double minFaceSize = readNumber(arg(argc, argv, 0));
    const double maxFaceSize = readNumber(arg(argc, argv, 1));
    int strict = readInt(arg(argc, argv, 2));
    if (strict != 0) strict = 1;
    const int32_t finest = readFinestTrackingLevel(argc, argv);
    ASMSearch& search = extension::tracker().asmSearch;
    search.minFaceSize = minFaceSize;
    search.maxFaceSize = maxFaceSize;
    search.strictValidation = strict;
    search.finestTrackingLevel = finest;
    search.refineEnabled = readRefinement(argc, argv, search);
    return nullptr;
}

FREObject kvo_get_candideEnabled(FREContext, void*, uint32_t, FREObject[]) {
    return newBool(extension::tracker().asmSearch.candideEnabled);
}

FREObject kvo_set_candideEnabled(FREContext, void*, uint32_t argc, FREObject argv[]) {
    extension::tracker().asmSearch.candideEnabled = readBool(arg(argc, argv, 0));
    return nullptr;
}

FREObject kvo_get_candideActionUnitsEnabled(FREContext, void*, uint32_t, FREObject[]) {
    return newBool(extension::tracker().asmSearch.candideActionUnitsEnabled);
}

FREObject kvo_set_candideActionUnitsEnabled(FREContext, void*, uint32_t argc, FREObject argv[]) {
    extension::tracker().asmSearch.candideActionUnitsEnabled = readBool(arg(argc, argv, 0));
    return nullptr;
}
