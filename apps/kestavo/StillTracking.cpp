#include "StillTracking.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "DetectionWindows.h"
#include "WindowGroups.h"
#include "tracker/FaceBoxFromEyes.h"

namespace kvo {
namespace app {

std::string StillSettings::describe() const {
    std::ostringstream s;
    s << "each picture scaled to " << canvas.pictureSide << " px on its longer side and centred in a " << canvas.side()
      << " x " << canvas.side() << " frame on a border of its mean colour (" << canvas.border * 100
      << " % of that side each way); per picture: kvo_reset, kvo_setFaceDetectionROI(picture + border), "
      << "in \"mode_face_detection\" one kvo_update with kvo_setFaceDetectionVars(" << startScale << ", "
      << scaleIncrement << ", " << maxScale << ", " << stepFactor << ", " << minDetections << ", "
      << (fullScan ? "true" : "false") << ")";
    if (minFace > 0.0) {
        s << ", then, for faces from " << minFace << " px, one kvo_update per " << canvas.side() << " px tile of the "
          << "picture at finer scales with kvo_setFaceDetectionVars(" << tileWindows.startScale << ", "
          << tileWindows.scaleIncrement << ", " << tileWindows.maxScale << ", " << tileWindows.stepFactor
          << ", ...), the finest scale with step " << tileWindows.finestStepFactor;
    }
    s << "; the faces = the distinct groups of kvo_get_lastDetectedFaces (at least " << minDetections
      << " windows each), strongest first";
    if (onlyStrongest) s << " (the strongest alone)";
    else s << " (at most " << maxFaces << ")";
    if (minScore > 0.0) s << ", scoring at least " << minScore;
    s << ", each scaled by " << faceScale << " about its centre; per face: kvo_reset, ";
    if (faceSide > 0.0) {
        s << "the picture around it scaled so that the face is " << faceSide << " px wide (enlarged at most "
          << maxFaceEnlargement << " times), ";
    }
    s << "in \"mode_face_tracking\" kvo_updateByEyes(eyes at (0.28, 0.34) and (0.72, 0.34) of that face, "
      << startSearches << ") and " << framesPerPicture << " kvo_update calls";
    if (restarts > 0) {
        s << ", then " << restarts << (restarts == 1 ? " time" : " times") << " again: kvo_reset, kvo_updateByEyes(the "
          << "confirmed shape's pupils, landmarks 31 and 36, " << restartSearches << ") and the kvo_update calls";
        if (restartSettled > 0.0) {
            s << " (no more once the pupils move less than " << restartSettled << " of their distance)";
        }
        if (settleScale > 0.0) {
            s << "; a face's score is then divided by 1 + m / " << settleScale << ", m the pupils' move at the last "
              << "restart in pupil distances, and a face below " << minScore << " is left out";
        }
    }
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

namespace {

// The windows of one scan with the framing's positions mapped back onto the picture.
void collect(const StillFraming& framing, const std::vector<Box>& canvasWindows, std::vector<Box>& windows) {
    for (const Box& d : canvasWindows) windows.push_back(framing.toPicture(d));
}

// The candidates of one scan's windows (canvas pixels), mapped onto the picture. A scan
// with window steps `stepFactor` of the window tries (stepFactor / kScoreStep)^2 fewer
// positions than one on the score's grid; its windows count that much more, so that
// scores of scans with different steps compare.
const double kScoreStep = 0.04;

void addCandidates(const StillFraming& framing, const std::vector<Box>& canvasWindows, int minWindows,
                   double stepFactor, std::vector<FaceCandidate>& out) {
    const double weight = (stepFactor / kScoreStep) * (stepFactor / kScoreStep);
    for (const WindowGroup& g : distinctGroups(canvasWindows, minWindows)) {
        FaceCandidate c;
        c.face = framing.toPicture(g.face);
        c.score = g.score * weight;
        c.windows = g.windows;
        out.push_back(c);
    }
}

// `face` scaled by `factor` about its centre.
Box scaledAbout(const Box& face, double factor) {
    const double cx = face.x + 0.5 * face.width, cy = face.y + 0.5 * face.height;
    const double w = face.width * factor, h = face.height * factor;
    return Box{cx - 0.5 * w, cy - 0.5 * h, w, h};
}

// Pupils of our layout: the eyes kvo_updateByEyes places a shape by.
const int kLeftPupil = 31, kRightPupil = 36;

// kvo_updateByEyes from the two eyes (canvas pixels), then kvo_update calls until the
// library has confirmed the shape or rejected it.
void startAndSettle(HostTracker& tracker, const StillSettings& settings, const cv::Mat& canvas, double ax, double ay,
                    double bx, double by, int searches, StillResult& out) {
    tracker.setMode("mode_face_tracking");
    tracker.updateByEyes(canvas, ax, ay, bx, by, searches);
    ++out.frames;
    out.updateMs += tracker.result().updateMs;
    for (int k = 0; k < settings.framesPerPicture && isTrackingState(tracker.result().state); ++k) {
        tracker.update(canvas);
        ++out.frames;
        out.updateMs += tracker.result().updateMs;
    }
}

// Tracks one face from its start box `start` (canvas pixels of `framing`'s canvas).
void trackFace(HostTracker& tracker, const StillSettings& settings, const StillFraming& framing, const cv::Mat& canvas,
               const Box& start, StillResult& out) {
    // The eye positions from which the library places the shape in `start`.
    const EyeCentres eyes = eyesFromFaceBox(Rectangle(start.x, start.y, start.width, start.height));
    startAndSettle(tracker, settings, canvas, eyes.leftX, eyes.leftY, eyes.rightX, eyes.rightY, settings.startSearches,
                   out);
    out.last = tracker.result();
    for (int k = 0; k < settings.restarts && isTracked(out.last); ++k) {
        // Again from the pupils the fit found: a start the size of the face rather than of
        // the window group, which is often larger or smaller than the face.
        const std::vector<double>& xy = out.last.landmarks;
        if (xy.size() <= 2 * kRightPupil + 1) break;
        const double ax = xy[2 * kLeftPupil], ay = xy[2 * kLeftPupil + 1];
        const double bx = xy[2 * kRightPupil], by = xy[2 * kRightPupil + 1];
        tracker.reset();
        startAndSettle(tracker, settings, canvas, ax, ay, bx, by, settings.restartSearches, out);
        // A restart the library rejects leaves the face with the shape it had confirmed.
        if (!isTracked(tracker.result())) break;
        out.last = tracker.result();  // xy is now the restart's shape
        if (xy.size() <= 2 * kRightPupil + 1) break;
        const double moved = std::max(std::hypot(xy[2 * kLeftPupil] - ax, xy[2 * kLeftPupil + 1] - ay),
                                      std::hypot(xy[2 * kRightPupil] - bx, xy[2 * kRightPupil + 1] - by));
        out.settle = moved / std::hypot(bx - ax, by - ay);
        if (out.settle < settings.restartSettled) break;
    }
    framing.toPicture(out.last);
    out.outcome = isTracked(out.last) ? StillOutcome::Tracked : StillOutcome::Rejected;
}

}  // namespace

PictureResult trackPicture(HostTracker& tracker, const StillSettings& settings, bool detectionOnly,
                           const cv::Mat& picture, cv::Mat& canvas) {
    PictureResult out;
    const int side = settings.canvas.side();
    tracker.reset();
    tracker.setMode("mode_face_detection");
    setStillDetection(tracker, settings);

    // The whole picture on its border, every window size.
    const StillFraming whole(settings.canvas, picture, canvas);
    const cv::Rect2d region = whole.scanRegion();
    tracker.setDetectionRegion(region.x, region.y, region.width, region.height);
    tracker.update(canvas);
    ++out.scans;
    out.findMs += tracker.result().updateMs;
    FrameResult detection = tracker.result();
    std::vector<FaceCandidate> candidates;
    if (settings.hostGrouping) {
        addCandidates(whole, detection.detections, settings.minDetections, settings.stepFactor, candidates);
    } else if (detection.detectedFace.width > 0.0) {
        // The library's own merged face, as the one candidate.
        FaceCandidate c;
        c.face = whole.toPicture(detection.detectedFace);
        c.windows = static_cast<int>(detection.detections.size());
        c.score = c.windows;
        candidates.push_back(c);
    }
    // The whole scan's state and getters, in picture pixels, are what the records of the
    // picture report beside each face (and alone when it has none).
    whole.toPicture(detection);
    std::vector<Box> windows = detection.detections;

    // Tiles at finer scales for the faces the whole scan is too coarse for.
    const WindowRange wholeRange =
        reportedWindows(settings.startScale, settings.scaleIncrement, settings.maxScale, region.width, region.height);
    const ScanPlan plan = settings.hostGrouping && wholeRange.sizes > 0
                              ? planTiles(picture.cols, picture.rows, side, settings.minFace, whole.scale(),
                                          wholeRange.smallest, settings.tileWindows)
                              : ScanPlan();
    if (!plan.tiles.empty()) {
        const TileWindows& t = settings.tileWindows;
        double step = 0.0;
        for (const ScanTile& tile : plan.tiles) {
            const double tileStep = tile.scale == plan.tiles.front().scale ? t.finestStepFactor : t.stepFactor;
            if (tileStep != step) {
                step = tileStep;
                tracker.setDetectionVars(t.startScale, t.scaleIncrement, t.maxScale, step, settings.minDetections,
                                         settings.fullScan);
            }
            const StillFraming framing(side, picture, tile.scale, tile.offsetX, tile.offsetY, canvas);
            const cv::Rect2d r = framing.scanRegion();
            if (r.width < 2.0 || r.height < 2.0) continue;
            tracker.setDetectionRegion(r.x, r.y, r.width, r.height);
            tracker.update(canvas);
            ++out.scans;
            out.findMs += tracker.result().updateMs;
            addCandidates(framing, tracker.result().detections, settings.minDetections, step, candidates);
            collect(framing, tracker.result().detections, windows);
        }
        setStillDetection(tracker, settings);
    }
    keepDistinct(candidates);
    out.candidates = static_cast<int>(candidates.size());
    detection.detections = windows;
    detection.detectedFace = Box();

    std::vector<FaceCandidate> kept;
    for (const FaceCandidate& c : candidates) {
        if (c.score < settings.minScore) {
            ++out.belowScore;
        } else if (static_cast<int>(kept.size()) < (settings.onlyStrongest ? 1 : settings.maxFaces)) {
            kept.push_back(c);
        }
    }
    // The record of a picture with no face kept.
    const auto none = [&] {
        StillResult r;
        r.outcome = StillOutcome::NotFound;
        r.detection = detection;
        r.last = detection;
        r.frames = out.scans;
        r.updateMs = out.findMs;
        return r;
    };
    if (kept.empty()) {
        out.faces.push_back(none());
        if (!detectionOnly) tracker.setMode("mode_face_tracking");
        return out;
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        StillResult r;
        r.face = static_cast<int>(i);
        r.score = r.windowScore = kept[i].score;
        r.windows = kept[i].windows;
        r.detection = detection;
        const Box start = scaledAbout(kept[i].face, settings.faceScale);
        r.detection.detectedFace = start;
        r.last = r.detection;
        if (detectionOnly) {
            r.outcome = StillOutcome::Detected;
            out.faces.push_back(r);
            continue;
        }
        tracker.reset();
        // With faceSide, the face at the size the shape model fits best, from the original
        // pixels; without, the whole picture framed as for the whole scan.
        const double scale = std::min(settings.faceSide / start.width, settings.maxFaceEnlargement);
        const StillFraming framing = settings.faceSide > 0.0
                                         ? StillFraming::centredOn(side, picture, scale, start.x + 0.5 * start.width,
                                                                   start.y + 0.5 * start.height, canvas)
                                         : StillFraming(settings.canvas, picture, canvas);
        const cv::Rect2d fr = framing.scanRegion();
        tracker.setDetectionRegion(fr.x, fr.y, fr.width, fr.height);
        trackFace(tracker, settings, framing, canvas, framing.toCanvas(start), r);
        out.trackMs += r.updateMs;
        if (settings.settleScale > 0.0 && std::isfinite(r.settle)) {
            r.score = r.windowScore / (1.0 + r.settle / settings.settleScale);
        }
        if (r.outcome == StillOutcome::Tracked && r.score < settings.minScore) {
            ++out.belowScore;
            continue;
        }
        out.faces.push_back(r);
    }
    if (out.faces.empty()) {
        out.faces.push_back(none());
        return out;
    }
    // Strongest first by the final score, numbered again.
    std::stable_sort(out.faces.begin(), out.faces.end(),
                     [](const StillResult& a, const StillResult& b) { return a.score > b.score; });
    for (size_t i = 0; i < out.faces.size(); ++i) out.faces[i].face = static_cast<int>(i);
    return out;
}

}  // namespace app
}  // namespace kvo
