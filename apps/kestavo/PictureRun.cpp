#include "PictureRun.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "Annotator.h"
#include "AppError.h"
#include "ContactSheet.h"
#include "DetectionWindows.h"
#include "HostTracker.h"
#include "JsonLinesWriter.h"
#include "OutputPaths.h"
#include "PosePlot.h"
#include "Progress.h"
#include "RunOutputs.h"
#include "RunStats.h"

namespace kvo {
namespace app {

namespace {

// Tiles of a picture sheet when --sheet-tiles is not given: one per picture up to this.
const int kMaxPictureTiles = 100;
// Side of a picture's square tile on the sheet, pixels.
const int kTileSide = 240;

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// `image` scaled to fit `size` with its aspect ratio kept, centred on dark grey.
cv::Mat letterboxed(const cv::Mat& image, cv::Size size) {
    cv::Mat out(size, CV_8UC3, cv::Scalar(32, 32, 32));
    const double s = std::min(double(size.width) / image.cols, double(size.height) / image.rows);
    const int w = std::max(1, static_cast<int>(image.cols * s + 0.5)), h = std::max(1, static_cast<int>(image.rows * s + 0.5));
    cv::Mat placed = out(cv::Rect((size.width - w) / 2, (size.height - h) / 2, w, h));
    cv::resize(image, placed, cv::Size(w, h), 0, 0, s < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
    return out;
}

std::string joinNames(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += (s.empty() ? "" : ", ") + n;
    return s;
}

}  // namespace

StillSettings stillSettingsFor(const Options& o) {
    StillSettings s;
    const DetectorOptions& d = o.detector;
    if (o.pictureSide) s.canvas.pictureSide = *o.pictureSide;
    if (o.border) s.canvas.border = *o.border;
    if (o.smallestFace) s.minFace = *o.smallestFace;
    if (o.minScore) s.minScore = *o.minScore;
    s.onlyStrongest = o.oneFace;
    if (o.restarts) s.restarts = *o.restarts;
    if (o.repeat) s.framesPerPicture = *o.repeat;
    // The scales include those applyFaceWidths() set for --min-face and --max-face.
    if (d.startScale) s.startScale = *d.startScale;
    if (d.maxScale) s.maxScale = *d.maxScale;
    if (d.scaleIncrement) s.scaleIncrement = *d.scaleIncrement;
    if (d.stepFactor) s.stepFactor = *d.stepFactor;
    if (d.minDetections) s.minDetections = *d.minDetections;
    if (d.fullScan) s.fullScan = true;
    return s;
}

int runPictures(const Options& o, FrameSource& source, const std::string& library, int videoFourcc,
                const volatile std::sig_atomic_t& stopRequested) {
    // --min-face and --max-face are widths in the tracker's frame, where every picture
    // is pictureSide pixels on its longer side.
    Options scaled = o;
    const int canvasSide = stillSettingsFor(o).canvas.side();
    applyFaceWidths(scaled.detector, canvasSide, canvasSide);
    const StillSettings settings = stillSettingsFor(scaled);
    const bool detectionOnly = o.mode == RunMode::FaceDetection;
    const int side = settings.canvas.side();
    const long count = static_cast<long>(source.pictureCount());
    const long expected = o.maxFrames ? std::min(count, *o.maxFrames) : count;

    // Every output name is checked, and every output opened, before the first picture.
    RunWriters outputs(o, source.files(), library);

    // The tracker works on the canvas; the picture-specific settings come per picture.
    HostTracker tracker(library);
    Options trackerOptions = o;
    trackerOptions.detector = DetectorOptions();
    cv::Mat canvas(side, side, CV_8UC3, cv::Scalar::all(0));
    const double roi[4] = {0, 0, double(side), double(side)};
    tracker.init(canvas, roi, trackerOptions);
    setStillDetection(tracker, settings);

    const int tiles = o.sheetTiles.value_or(static_cast<int>(std::min<long>(expected, kMaxPictureTiles)));
    const int columns = o.sheetColumns.value_or(std::max(1, std::min(8, static_cast<int>(std::ceil(std::sqrt(tiles))))));
    outputs.open(videoFourcc, 1.0, cv::Size(side, side),
                 [&] { return new ContactSheet(1, 1, expected, std::max(2, tiles), columns, kTileSide); });
    const Annotator annotator(tracker.faceTriangles(), tracker.candideTriangles());

    RunStats stats(expected);
    Progress progress(o.progress, expected);
    std::vector<std::string> notFound, rejected, skipped;
    // Faces: tracked, detected (detection mode), rejected, and all candidates kept.
    long tracked = 0, detected = 0, rejectedFaces = 0, belowScore = 0, index = 0;
    long picturesTracked = 0, picturesDetected = 0;
    std::vector<double> pictureMs, findMs, trackMs, scans;
    cv::Mat picture, annotated;
    std::string path, why;
    const auto start = std::chrono::steady_clock::now();
    while (!stopRequested && index < expected && source.readPicture(picture, path, why)) {
        if (picture.empty()) {
            // Counted among the pictures and named with the reason, but nothing to track.
            skipped.push_back(path + " (" + why + ")");
            if (outputs.json()) outputs.json()->writeSkippedPicture(index, path, why);
            ++index;
            progress.update(index);
            continue;
        }
        const PictureResult pr = trackPicture(tracker, settings, detectionOnly, picture, canvas);
        bool anyTracked = false, anyDetected = false;
        double ms = pr.findMs + pr.trackMs;
        std::vector<FrameResult> drawn;
        std::vector<std::string> labels;
        for (const StillResult& r : pr.faces) {
            switch (r.outcome) {
                case StillOutcome::Tracked: ++tracked; anyTracked = true; break;
                case StillOutcome::Detected: ++detected; anyDetected = true; break;
                case StillOutcome::Rejected: ++rejectedFaces; break;
                case StillOutcome::NotFound: break;
            }
            FrameResult shown = r.last;
            shown.updateMs = r.updateMs;
            if (r.last.state != "state_face_tracking" && r.last.state != "state_face_tracking_start") {
                // Nothing was fitted: show the face's start box.
                shown.detectedFace = r.detection.detectedFace;
                shown.detections.clear();
            }
            if (!r.last.faceFitted) shown.state = "state_face_detection";
            stats.add(shown, tracker.candideEnabled());
            if (outputs.json()) {
                const bool isFace = r.outcome != StillOutcome::NotFound;
                outputs.json()->writePicture(index, path, picture.cols, picture.rows, isFace ? r.face : -1, r.score,
                                             stillOutcomeName(r.outcome), r.frames, r.updateMs, r.last, r.detection);
            }
            if (r.outcome == StillOutcome::NotFound) continue;
            drawn.push_back(shown);
            char label[64];
            std::snprintf(label, sizeof label, "%d: %.1f%s", r.face, r.score,
                          r.outcome == StillOutcome::Rejected ? " rejected" : "");
            labels.push_back(label);
        }
        belowScore += pr.belowScore;
        if (anyTracked) {
            ++picturesTracked;
        } else if (anyDetected) {
            ++picturesDetected;
        } else if (drawn.empty()) {
            notFound.push_back(baseName(path));
        } else {
            rejected.push_back(baseName(path));
        }
        pictureMs.push_back(ms);
        findMs.push_back(pr.findMs);
        trackMs.push_back(pr.trackMs);
        scans.push_back(pr.scans);
        if (outputs.wantsDrawing(index)) {
            picture.copyTo(annotated);
            char caption[160];
            std::snprintf(caption, sizeof caption, "#%ld  %zu face%s  %.1f ms", index, drawn.size(),
                          drawn.size() == 1 ? "" : "s", ms);
            annotator.drawFaces(annotated, drawn, labels, caption);
            outputs.offer(index, annotated, letterboxed(annotated, cv::Size(side, side)),
                          letterboxed(annotated, cv::Size(kTileSide, kTileSide)));
        }
        ++index;
        progress.update(index);
    }
    progress.finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool interrupted = stopRequested != 0;

    std::string written;
    if (index > 0) {
        char title[128];
        std::snprintf(title, sizeof title, " (%ld faces tracked in %ld of %ld pictures)", tracked, picturesTracked, index);
        written = outputs.finish(stats, "kestavo: " + source.description() + title);
    }
    if (o.quiet) return interrupted ? 130 : 0;

    std::printf("kestavo summary%s\n", interrupted ? " (interrupted)" : "");
    std::printf("  input:       %s (%ld pictures, each a scene of its own)\n", source.description().c_str(), count);
    std::printf("  library:     %s\n", tracker.libraryPath().c_str());
    std::printf("  mode:        %s\n", runModeName(o.mode));
    std::printf("  stills:      %s\n", settings.describe().c_str());
    if (!detectionOnly) {
        std::printf("  refinement:  %s\n", refinementSummary(tracker.refinement()).c_str());
    }
    std::printf("  pictures:    %ld in %.1f s\n", index, seconds);
    if (detectionOnly) {
        std::printf("  detected %ld face%s in %ld of %ld pictures", detected, detected == 1 ? "" : "s", picturesDetected,
                    index);
    } else {
        std::printf("  tracked %ld face%s in %ld of %ld pictures", tracked, tracked == 1 ? "" : "s", picturesTracked,
                    index);
        if (rejectedFaces > 0) std::printf(" (%ld more faces found, shape rejected)", rejectedFaces);
    }
    if (belowScore > 0) std::printf("; %ld candidates below --min-score", belowScore);
    if (!skipped.empty()) {
        std::printf("; %ld skipped: %s", static_cast<long>(skipped.size()), joinNames(skipped).c_str());
    }
    if (!notFound.empty()) std::printf("; not found: %s", joinNames(notFound).c_str());
    if (!rejected.empty()) std::printf("; every shape rejected: %s", joinNames(rejected).c_str());
    std::printf("\n");
    if (!pictureMs.empty()) {
        std::printf("  per picture: median %.1f ms, max %.1f ms (all its kvo_update calls: finding and tracking "
                    "every face, host clock); finding median %.1f ms in %.0f scans, tracking median %.1f ms\n",
                    quantile(pictureMs, 0.5), quantile(pictureMs, 1.0), quantile(findMs, 0.5), quantile(scans, 0.5),
                    quantile(trackMs, 0.5));
    }
    std::printf("  wrote:       %s\n", written.empty() ? "no files" : written.c_str());
    std::fflush(stdout);
    return interrupted ? 130 : 0;
}

}  // namespace app
}  // namespace kvo
