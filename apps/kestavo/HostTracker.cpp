#include "HostTracker.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "AppError.h"

namespace kvo {
namespace app {

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Standard output sent to an unnamed file for the length of one library call, so that
// the host can read what the library wrote (its diagnostics go to standard output);
// finish() puts standard output back and writes the text to it unchanged, so the user
// sees the library's lines where they would have appeared. When the file or the
// redirection cannot be made, nothing is captured and the call writes as usual.
class CapturedStdout {
public:
    CapturedStdout() {
        std::cout.flush();
        std::fflush(stdout);
        file_ = std::tmpfile();
        if (file_ == nullptr) return;
        saved_ = dup(STDOUT_FILENO);
        if (saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
            if (saved_ >= 0) close(saved_);
            saved_ = -1;
            std::fclose(file_);
            file_ = nullptr;
        }
    }
    ~CapturedStdout() { finish(); }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    // True when the call's output was captured.
    bool captured() const { return captured_; }

    // Restores standard output, passes the captured text on and returns it.
    std::string finish() {
        if (file_ == nullptr) return text_;
        std::cout.flush();
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        std::rewind(file_);
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text_.append(buf, n);
        std::fclose(file_);
        file_ = nullptr;
        captured_ = true;
        std::fwrite(text_.data(), 1, text_.size(), stdout);
        std::fflush(stdout);
        return text_;
    }

private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
    bool captured_ = false;
    std::string text_;
};

// True when `text` holds the library's refusal of the refinement: an error line about it.
bool refinementRefused(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 7, "Error: ") == 0 && line.find("refine") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

std::string refinementSummary(Refinement r) {
    switch (r) {
        case Refinement::Off: return "the landmark refinement is off (--no-refine)";
        case Refinement::On: return "the landmark refinement is on (kvo_setFaceTrackingVars argument 4 true)";
        case Refinement::NoModel:
            return "the landmark refinement is off: asked for (kvo_setFaceTrackingVars argument 4 true), but the "
                   "library has no refiner model (its Error line above)";
        case Refinement::Asked:
            return "the landmark refinement was asked for (kvo_setFaceTrackingVars argument 4 true); whether the "
                   "library took it could not be read";
    }
    return "the landmark refinement is off";
}

bool isTrackingState(const std::string& state) {
    return state == "state_face_tracking" || state == "state_face_tracking_start";
}

HostTracker::HostTracker(const std::string& libraryPath) : path_(libraryPath) {
    try {
        ext_.reset(new kvohost::Extension(runtime_, libraryPath));
    } catch (const kvohost::HostError& e) {
        std::string what = e.what();
        if (what.compare(0, 7, "Error: ") == 0) what = what.substr(7);
        throw AppError("cannot load the library '" + libraryPath + "': " + what);
    }
    fUpdate_ = resolve("kvo_update");
    fUpdateByEyes_ = resolve("kvo_updateByEyes");
    fLastState_ = resolve("kvo_get_lastState");
    fNextState_ = resolve("kvo_get_nextState");
    fVertices_ = resolve("kvo_get_faceShape_faceShapeVectices");
    fBounds_ = resolve("kvo_get_faceShape_bounds");
    fCandide_ = resolve("kvo_get_faceShape_candideShapeVertices");
    fFace_ = resolve("kvo_get_lastDetectedFace");
    fFaces_ = resolve("kvo_get_lastDetectedFaces");
    fPoints_ = resolve("kvo_get_pointsToTrack");
    fPointStates_ = resolve("kvo_get_pointStates");
    const char* const poseNames[6] = {"kvo_get_faceShape_scale",     "kvo_get_faceShape_translationX",
                                      "kvo_get_faceShape_translationY", "kvo_get_faceShape_rotationX",
                                      "kvo_get_faceShape_rotationY",   "kvo_get_faceShape_rotationZ"};
    for (int i = 0; i < 6; ++i) fPose_[i] = resolve(poseNames[i]);
}

HostTracker::~HostTracker() = default;

const FRENamedFunction* HostTracker::resolve(const char* name) {
    const FRENamedFunction* f = ext_->find(name);
    if (f == nullptr) throw AppError("the library '" + path_ + "' has no function " + name);
    return f;
}

FREObject HostTracker::call(const FRENamedFunction* f, uint32_t argc, FREObject* argv) {
    FREObject none[1] = {nullptr};
    return ext_->invoke(*f, argc, argv != nullptr ? argv : none);
}

void HostTracker::init(const cv::Mat& firstFrame, const double roi[4], const Options& o) {
    cv::cvtColor(firstFrame, bgra_, cv::COLOR_BGR2BGRA);
    const uint32_t w = static_cast<uint32_t>(bgra_.cols), h = static_cast<uint32_t>(bgra_.rows);
    bitmap_ = runtime_.bitmap(w, h, reinterpret_cast<const uint32_t*>(bgra_.data));

    kvohost::Runtime::Scope scope(runtime_);
    kvohost::Runtime& rt = runtime_;
    ext_->call("kvo_init", bitmap_, rt.number(roi[0]), rt.number(roi[1]), rt.number(roi[2]), rt.number(roi[3]));
    if (o.detector.anyVars()) {
        const DetectionVars v = o.detector.vars();
        ext_->call("kvo_setFaceDetectionVars", rt.number(v.startScale), rt.number(v.scaleIncrement),
                   rt.number(v.maxScale), rt.number(v.stepFactor), rt.integer(v.minDetections), rt.boolean(v.fullScan));
    }
    if (const std::optional<Region>& r = o.detector.region) {
        ext_->call("kvo_setFaceDetectionROI", rt.number((*r)[0]), rt.number((*r)[1]), rt.number((*r)[2]),
                   rt.number((*r)[3]));
    }
    // The refinement is asked for by default, so the call is made without any tracking
    // option too (with the library's own defaults for the other four arguments); with
    // --no-refine and no tracking option it is not made, and the library's defaults stay.
    refinement_ = Refinement::Off;
    if (o.tracking || o.refine) {
        const TrackingVars t = o.tracking.value_or(TrackingVars());
        CapturedStdout said;
        ext_->call("kvo_setFaceTrackingVars", rt.number(t.minFaceSize), rt.number(t.maxFaceSize),
                   rt.integer(t.strictValidation), rt.integer(t.fineSearchLevel), rt.boolean(o.refine));
        const std::string text = said.finish();
        if (o.refine) {
            if (!said.captured()) refinement_ = Refinement::Asked;
            else refinement_ = refinementRefused(text) ? Refinement::NoModel : Refinement::On;
        }
    }
    if (const std::optional<PointVars>& p = o.pointVars) {
        ext_->call("kvo_setPointTrackingVars", rt.integer(p->window), rt.integer(p->levels), rt.integer(p->iterations),
                   rt.number(p->epsilon));
    }
    if (o.checkPointsValid) ext_->call("kvo_set_checkPointsValidBeforeTracking", rt.boolean(*o.checkPointsValid));
    if (o.candide) ext_->call("kvo_set_candideEnabled", rt.boolean(*o.candide));
    if (o.candideActionUnits) ext_->call("kvo_set_candideActionUnitsEnabled", rt.boolean(*o.candideActionUnits));
    candideEnabled_ = rt.toBool(ext_->call("kvo_get_candideEnabled"));

    FREObject tris = rt.array();
    ext_->call("kvo_get_faceShape_faceShapeTriangles", tris);
    faceTriangles_.resize(rt.length(tris));
    for (uint32_t i = 0; i < faceTriangles_.size(); ++i) faceTriangles_[i] = rt.toInt(rt.element(tris, i));
    FREObject ctris = rt.array();
    ext_->call("kvo_get_faceShape_candideShapeTriangles", ctris);
    candideTriangles_.resize(rt.length(ctris));
    for (uint32_t i = 0; i < candideTriangles_.size(); ++i) candideTriangles_[i] = rt.toInt(rt.element(ctris, i));

    eyeIterations_ = o.eyeIterations;
    const std::array<double, 4> eyes = o.eyes.value_or(std::array<double, 4>{});
    std::copy(eyes.begin(), eyes.end(), eyes_);
    result_.landmarks.reserve(2 * 68);
    result_.candide.reserve(candideTriangles_.size() * 2);
}

void HostTracker::setMode(const char* modeName) {
    kvohost::Runtime::Scope scope(runtime_);
    ext_->call("kvo_set_mode", runtime_.string(modeName));
}

void HostTracker::reset() {
    kvohost::Runtime::Scope scope(runtime_);
    ext_->call("kvo_reset");
}

void HostTracker::setDetectionVars(double startScale, double scaleIncrement, double maxScale, double stepFactor,
                                   int minDetections, bool fullScan) {
    kvohost::Runtime::Scope scope(runtime_);
    kvohost::Runtime& rt = runtime_;
    ext_->call("kvo_setFaceDetectionVars", rt.number(startScale), rt.number(scaleIncrement), rt.number(maxScale),
               rt.number(stepFactor), rt.integer(minDetections), rt.boolean(fullScan));
}

void HostTracker::setDetectionRegion(double x, double y, double width, double height) {
    kvohost::Runtime::Scope scope(runtime_);
    kvohost::Runtime& rt = runtime_;
    ext_->call("kvo_setFaceDetectionROI", rt.number(x), rt.number(y), rt.number(width), rt.number(height));
}

void HostTracker::addPoints(const std::vector<double>& xy) {
    kvohost::Runtime::Scope scope(runtime_);
    FREObject list = runtime_.array();
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        runtime_.setElement(list, static_cast<uint32_t>(i / 2), runtime_.point(xy[i], xy[i + 1]));
    }
    ext_->call("kvo_addPointsToTrack", list);
}

void HostTracker::update(const cv::Mat& bgr, bool byEyes) {
    if (byEyes) updateWith(bgr, eyes_, eyeIterations_);
    else updateWith(bgr, nullptr, 0);
}

void HostTracker::updateByEyes(const cv::Mat& bgr, double ax, double ay, double bx, double by, int iterations) {
    const double eyes[4] = {ax, ay, bx, by};
    updateWith(bgr, eyes, iterations);
}

void HostTracker::updateWith(const cv::Mat& bgr, const double* eyes, int iterations) {
    cv::cvtColor(bgr, bgra_, cv::COLOR_BGR2BGRA);
    runtime_.setBitmapPixels(bitmap_, reinterpret_cast<const uint32_t*>(bgra_.data));

    kvohost::Runtime::Scope scope(runtime_);
    FREObject state;
    const auto start = std::chrono::steady_clock::now();
    if (eyes != nullptr) {
        FREObject argv[4] = {bitmap_, runtime_.point(eyes[0], eyes[1]), runtime_.point(eyes[2], eyes[3]),
                             runtime_.integer(iterations)};
        state = call(fUpdateByEyes_, 4, argv);
    } else {
        FREObject argv[1] = {bitmap_};
        state = call(fUpdate_, 1, argv);
    }
    result_.updateMs = millisecondsSince(start);
    result_.state = runtime_.toString(state);
    const auto gettersStart = std::chrono::steady_clock::now();
    readResults();
    result_.gettersMs = millisecondsSince(gettersStart);
}

void HostTracker::refresh() {
    kvohost::Runtime::Scope scope(runtime_);
    readResults();
}

void HostTracker::readNumbers(FREObject array, std::vector<double>& out) {
    const uint32_t n = runtime_.length(array);
    out.resize(n);
    for (uint32_t i = 0; i < n; ++i) out[i] = runtime_.toNumber(runtime_.element(array, i));
}

Box HostTracker::readBox(FREObject rect) {
    const kvohost::RectangleValue r = runtime_.toRectangle(rect);
    return Box{r.x, r.y, r.width, r.height};
}

void HostTracker::readResults() {
    kvohost::Runtime& rt = runtime_;
    FrameResult& r = result_;
    r.lastState = rt.toString(call(fLastState_));
    r.nextState = rt.toString(call(fNextState_));
    r.faceFitted = isTrackingState(r.state);

    FREObject args[1];
    args[0] = rt.array();
    call(fVertices_, 1, args);
    readNumbers(args[0], r.landmarks);
    args[0] = rt.rectangle();
    call(fBounds_, 1, args);
    r.bounds = readBox(args[0]);
    for (int i = 0; i < 6; ++i) r.pose[i] = rt.toNumber(call(fPose_[i]));
    if (candideEnabled_) {
        args[0] = rt.array();
        call(fCandide_, 1, args);
        readNumbers(args[0], r.candide);
    } else {
        r.candide.clear();
    }

    args[0] = rt.rectangle();
    call(fFace_, 1, args);
    r.detectedFace = readBox(args[0]);
    args[0] = rt.array();
    call(fFaces_, 1, args);
    const uint32_t nf = rt.length(args[0]);
    r.detections.resize(nf);
    for (uint32_t i = 0; i < nf; ++i) r.detections[i] = readBox(rt.element(args[0], i));

    args[0] = rt.array();
    call(fPoints_, 1, args);
    const uint32_t np = rt.length(args[0]);
    r.points.resize(2 * np);
    for (uint32_t i = 0; i < np; ++i) {
        const kvohost::PointValue p = rt.toPoint(rt.element(args[0], i));
        r.points[2 * i] = p.x;
        r.points[2 * i + 1] = p.y;
    }
    args[0] = rt.array();
    call(fPointStates_, 1, args);
    const uint32_t ns = rt.length(args[0]);
    r.pointStates.resize(ns);
    for (uint32_t i = 0; i < ns; ++i) r.pointStates[i] = rt.toBool(rt.element(args[0], i)) ? 1 : 0;
}

}  // namespace app
}  // namespace kvo
