#pragma once
// Still pictures as separate scenes: the host settings kestavo uses for photos, and
// the tracking of one picture with them.
//
// What it represents: a photo is not a video frame. Nothing confirms a shape over time,
// the face may fill the picture or be small in a large one, and there is no next frame
// to find it in. So each picture is framed into the tracker's fixed square canvas
// (StillFraming), the tracker is reset and the detector scans the picture and its
// border in full, from small windows to windows larger than the picture. The host
// picks the face from all the windows the scan accepted (WindowGroups: the strongest
// group, not the first one the library's merge completes), starts the shape there
// with kvo_updateByEyes (two eye positions that place the shape in exactly that
// rectangle), and hands the picture again until the library has confirmed the shape
// or rejected it. Every coordinate reported is mapped back onto the picture.
//
// The settings are ordinary host calls (kvo_set_mode, kvo_reset,
// kvo_setFaceDetectionVars, kvo_setFaceDetectionROI, kvo_update, kvo_get_lastDetectedFaces,
// kvo_updateByEyes): a host that tracks photos can copy them. describe() states them.
//
// Thread safety: none; uses the caller's HostTracker.
#include <string>

#include <opencv2/core.hpp>

#include "HostTracker.h"
#include "StillFraming.h"

namespace kvo {
namespace app {

struct StillSettings {
    StillCanvas canvas;
    // kvo_setFaceDetectionVars for every picture: a full scan from 48 px windows to the
    // whole canvas.
    double startScale = 2.0, scaleIncrement = 0.5, maxScale = 30.0, stepFactor = 0.04;
    int minDetections = 3;  // also the fewest windows a group needs to count as a face
    bool fullScan = true;
    // Searches kvo_updateByEyes runs on the picture (the start phase is five), then the
    // kvo_update calls that confirm the shape and let it settle.
    int startSearches = 20;
    // false: take the library's own merged face (kvo_get_lastDetectedFace) instead of the
    // strongest group; kept to measure the difference.
    bool hostGrouping = true;
    // The chosen face is scaled about its centre by this factor before the start.
    double faceScale = 0.9;
    int framesPerPicture = 5;

    // The settings as one paragraph for the summary and the README.
    std::string describe() const;
};

// What became of one picture.
enum class StillOutcome {
    Tracked,   // the library confirmed a shape ("state_face_tracking")
    Rejected,  // a face was found but its shape failed the library's check
    NotFound,  // no face detected
    Detected,  // detection mode only: a face was found
};
const char* stillOutcomeName(StillOutcome o);

struct StillResult {
    StillOutcome outcome = StillOutcome::NotFound;
    FrameResult last;        // the last frame's results, in picture pixels
    FrameResult detection;   // the detection pass, in picture pixels, with `detectedFace`
                             // the face the host chose (zero: none)
    int windows = 0;         // raw windows in the chosen group
    int frames = 0;          // kvo_update and kvo_updateByEyes calls made
    double updateMs = 0.0;   // their total, host clock
};

// Requires: `tracker` initialised with a canvas.side() square frame and the whole frame
// as its image region, and the still detection settings set (setStillDetection).
// `picture` CV_8UC3, non-empty.
// Ensures: the tracker was reset first, so the picture is a new scene; one detection
// pass; unless `detectionOnly` or no face was found, kvo_updateByEyes and up to
// settings.framesPerPicture kvo_update calls (fewer when the shape is rejected). The
// tracker is left in face tracking mode, or face detection mode when `detectionOnly`.
StillResult trackStill(HostTracker& tracker, const StillSettings& settings, bool detectionOnly,
                       const cv::Mat& picture, cv::Mat& canvasScratch);

// Hands the still detection settings to the tracker.
void setStillDetection(HostTracker& tracker, const StillSettings& settings);

}  // namespace app
}  // namespace kvo
