#include "StillTracking.h"

#include <sstream>

#include "WindowGroups.h"

namespace kvo {
namespace app {

std::string StillSettings::describe() const {
    std::ostringstream s;
    s << "each picture scaled to " << canvas.pictureSide << " px on its longer side and centred in a " << canvas.side()
      << " x " << canvas.side() << " frame on a border of its mean colour (" << canvas.border * 100
      << " % of that side each way); per picture: kvo_reset, kvo_setFaceDetectionROI(picture + border), "
      << "in \"mode_face_detection\" one kvo_update with kvo_setFaceDetectionVars(" << startScale << ", "
      << scaleIncrement << ", " << maxScale << ", " << stepFactor << ", " << minDetections << ", "
      << (fullScan ? "true" : "false") << "), the face = the strongest group of kvo_get_lastDetectedFaces (at least "
      << minDetections << " windows) scaled by " << faceScale << " about its centre, then in \"mode_face_tracking\" "
      << "kvo_updateByEyes(eyes at (0.28, 0.34) and (0.72, 0.34) of that face, " << startSearches << ") and "
      << framesPerPicture << " kvo_update calls";
    return s.str();
}

const char* stillOutcomeName(StillOutcome o) {
    switch (o) {
        case StillOutcome::Tracked: return "tracked";
        case StillOutcome::Rejected: return "rejected";
        case StillOutcome::NotFound: return "not_found";
        case StillOutcome::Detected: return "detected";
    }
    return "not_found";
}

void setStillDetection(HostTracker& tracker, const StillSettings& s) {
    tracker.setDetectionVars(s.startScale, s.scaleIncrement, s.maxScale, s.stepFactor, s.minDetections, s.fullScan);
}

StillResult trackStill(HostTracker& tracker, const StillSettings& settings, bool detectionOnly,
                       const cv::Mat& picture, cv::Mat& canvas) {
    const StillFraming framing(settings.canvas, picture, canvas);
    const cv::Rect2d region = framing.scanRegion();
    tracker.reset();
    tracker.setMode("mode_face_detection");
    tracker.setDetectionRegion(region.x, region.y, region.width, region.height);

    StillResult out;
    tracker.update(canvas);
    out.frames = 1;
    out.updateMs = tracker.result().updateMs;
    const WindowGroup group = strongestGroup(tracker.result().detections);
    out.detection = tracker.result();
    if (settings.hostGrouping) {
        out.detection.detectedFace = group.windows >= settings.minDetections ? group.face : Box();
        out.windows = group.windows;
    }
    Box face = out.detection.detectedFace;
    if (face.width > 0.0) {
        const double cx = face.x + 0.5 * face.width, cy = face.y + 0.5 * face.height;
        const double w = face.width * settings.faceScale, h = face.height * settings.faceScale;
        face = Box{cx - 0.5 * w, cy - 0.5 * h, w, h};
        out.detection.detectedFace = face;
    }
    framing.toPicture(out.detection);
    out.last = out.detection;
    if (!(face.width > 0.0)) {
        out.outcome = StillOutcome::NotFound;
        return out;
    }
    if (detectionOnly) {
        out.outcome = StillOutcome::Detected;
        return out;
    }
    // The eye positions from which the library places the shape in exactly `face`.
    tracker.setMode("mode_face_tracking");
    const double eyeY = face.y + 0.34 * face.width;
    tracker.updateByEyes(canvas, face.x + 0.28 * face.width, eyeY, face.x + 0.72 * face.width, eyeY,
                         settings.startSearches);
    ++out.frames;
    out.updateMs += tracker.result().updateMs;
    for (int k = 0; k < settings.framesPerPicture && isTrackingState(tracker.result().state); ++k) {
        tracker.update(canvas);
        ++out.frames;
        out.updateMs += tracker.result().updateMs;
    }
    out.last = tracker.result();
    framing.toPicture(out.last);
    out.outcome = isTracked(out.last) ? StillOutcome::Tracked : StillOutcome::Rejected;
    return out;
}

}  // namespace app
}  // namespace kvo
