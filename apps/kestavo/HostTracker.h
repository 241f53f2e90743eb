#pragma once
// libKestavo.so driven the way a host application drives it.
//
// What it represents: one loaded extension in the stand-in host runtime, called only
// through its named functions with 32-bit host bitmaps (bytes blue, green, red, alpha),
// and the results of the latest frame as the getters deliver them. The functions are
// resolved by name once and the frame bitmap is made once and refilled; every other
// host value of a frame (arguments, result arrays and what the getters put in them) is
// made inside the frame's runtime Scope and released at its end, so the host's memory
// stays flat over any number of frames.
//
// Times are what a host can measure: the whole kvo_update (or kvo_updateByEyes) call
// and the getter calls after it, in milliseconds. The library exposes no stage timings.
//
// Thread safety: none; the runtime belongs to the thread that created the tracker.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "Options.h"
#include "host/HostRuntime.h"

namespace kvo {
namespace app {

struct Box {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;  // pixels
};

// What the getters report after one frame.
struct FrameResult {
    std::string state, lastState, nextState;
    bool faceFitted = false;        // a search step ran this frame (tracking states)
    std::vector<double> landmarks;  // x0, y0, x1, y1, ... (pixels), 68 landmarks
    Box bounds;                     // landmark bounds, whole pixels (truncated by the library)
    double pose[6] = {1, 0, 0, 0, 0, 0};  // scale, tx, ty (pixels), rx, ry, rz (radians)
    std::vector<double> candide;    // projected Candide vertices x, y (pixels)
    Box detectedFace;               // first merged detection of the last pass (zeros: none)
    std::vector<Box> detections;    // raw detections of the last pass
    std::vector<double> points;     // tracked points x, y (pixels)
    std::vector<char> pointStates;  // 1 while a point is validly tracked
    double updateMs = 0.0;          // the kvo_update / kvo_updateByEyes call
    double gettersMs = 0.0;         // the getter calls after it
};

// What became of the learned landmark refinement the options asked for.
enum class Refinement {
    Off,      // not asked for (--no-refine): the library's default search
    On,       // asked for, and the library took it (no error line when asked)
    NoModel,  // asked for, and the library refused it with an error line: it has no
              // refiner model, so the refinement stays off
    Asked,    // asked for, but what the library said could not be read
};

// The refinement as the run summaries state it, e.g. "the landmark refinement is on
// (kvo_setFaceTrackingVars argument 4 true)".
std::string refinementSummary(Refinement r);

class HostTracker {
public:
    // Loads `libraryPath`. Throws AppError when it cannot be loaded.
    explicit HostTracker(const std::string& libraryPath);
    ~HostTracker();

    // kvo_init with `firstFrame` (CV_8UC3) and the image ROI, then the setters the
    // options ask for, then the mode. kvo_setFaceTrackingVars is called when a tracking
    // option is given or the refinement is asked for (the default), with the refinement
    // as its fifth argument; what the library writes during that call is passed on to
    // standard output unchanged and read for its refusal (refinement()).
    // Requires: roi inside the frame.
    void init(const cv::Mat& firstFrame, const double roi[4], const Options& options);

    // Converts `bgr` (the init size) into the host bitmap and calls kvo_update, or
    // kvo_updateByEyes when `byEyes`; then reads the results into result().
    void update(const cv::Mat& bgr, bool byEyes = false);

    // kvo_updateByEyes with two eye positions (pixels) and a number of searches, then
    // reads the results as update() does.
    void updateByEyes(const cv::Mat& bgr, double ax, double ay, double bx, double by, int iterations);

    // Reads the results again (after a setter that changes them, e.g. addPoints).
    void refresh();
    // kvo_set_mode with one of the library's mode names.
    void setMode(const char* modeName);
    // kvo_reset: the next frame starts with a detection pass.
    void reset();
    // kvo_setFaceDetectionVars.
    void setDetectionVars(double startScale, double scaleIncrement, double maxScale, double stepFactor,
                          int minDetections, bool fullScan);
    // kvo_setFaceDetectionROI (input pixels).
    void setDetectionRegion(double x, double y, double width, double height);
    // kvo_addPointsToTrack with x, y pairs (pixels).
    void addPoints(const std::vector<double>& xy);

    const FrameResult& result() const { return result_; }
    // The same, for the caller to merge what two calls on one frame reported.
    FrameResult& result() { return result_; }
    // The landmark triangulation (three indices per triangle) and the Candide triangles.
    const std::vector<int>& faceTriangles() const { return faceTriangles_; }
    const std::vector<int>& candideTriangles() const { return candideTriangles_; }
    bool candideEnabled() const { return candideEnabled_; }
    // What init() found of the refinement.
    Refinement refinement() const { return refinement_; }
    const std::string& libraryPath() const { return path_; }

private:
    FREObject call(const FRENamedFunction* f, uint32_t argc = 0, FREObject* argv = nullptr);
    // kvo_updateByEyes with `eyes` (ax, ay, bx, by) when given, else kvo_update.
    void updateWith(const cv::Mat& bgr, const double* eyes, int iterations);
    const FRENamedFunction* resolve(const char* name);
    void readResults();
    void readNumbers(FREObject array, std::vector<double>& out);
    Box readBox(FREObject rect);

    kvohost::Runtime runtime_;
    std::string path_;
    std::unique_ptr<kvohost::Extension> ext_;
    cv::Mat bgra_;
    FREObject bitmap_ = nullptr;
    double eyes_[4] = {0, 0, 0, 0};
    int eyeIterations_ = 10;
    const FRENamedFunction *fUpdate_ = nullptr, *fUpdateByEyes_ = nullptr, *fLastState_ = nullptr,
                           *fNextState_ = nullptr, *fVertices_ = nullptr, *fBounds_ = nullptr,
                           *fCandide_ = nullptr, *fFace_ = nullptr, *fFaces_ = nullptr,
                           *fPoints_ = nullptr, *fPointStates_ = nullptr;
    const FRENamedFunction* fPose_[6] = {};
    std::vector<int> faceTriangles_, candideTriangles_;
    bool candideEnabled_ = true;
    Refinement refinement_ = Refinement::Off;
    FrameResult result_;
};

// True for the states in which the library ran a shape search this frame.
bool isTrackingState(const std::string& state);

// True when the frame counts as tracked: the library is in "state_face_tracking", its
// shape having passed the check that the start phase ("state_face_tracking_start")
// has not yet made.
inline bool isTracked(const FrameResult& r) { return r.state == "state_face_tracking"; }

}  // namespace app
}  // namespace kvo
