#include "PictureRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "Annotator.h"
#include "ContactSheet.h"
#include "DetectionWindows.h"
#include "FrameLoop.h"
#include "HostTracker.h"
#include "RunOutputs.h"

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
    if (o.settleScale) s.settleScale = *o.settleScale;
    s.onlyStrongest = o.oneFace;
    if (o.restarts) s.restarts = *o.restarts;
    if (o.repeat) s.framesPerPicture = *o.repeat;
    if (d.startScale) s.startScale = *d.startScale;
    if (d.maxScale) s.maxScale = *d.maxScale;
    if (d.scaleIncrement) s.scaleIncrement = *d.scaleIncrement;
    if (d.stepFactor) s.stepFactor = *d.stepFactor;
    if (d.minDetections) s.minDetections = *d.minDetections;
    if (d.fullScan) s.fullScan = true;
    return s;
}

namespace {

// The pictures of the stills, each tracked as a scene of its own; the tracker works on
// the canvas, with the still detection settings set for every picture.
class PictureFrames : public FrameKind {
public:
    PictureFrames(const Options& o, FrameSource& source, const std::string& library, const StillSettings& settings)
        : o_(o), source_(source), settings_(settings), side_(settings.canvas.side()), tracker_(library),
          canvas_(side_, side_, CV_8UC3, cv::Scalar::all(0)) {
        Options trackerOptions = o;
        trackerOptions.detector = DetectorOptions();
        const double roi[4] = {0, 0, double(side_), double(side_)};
        tracker_.init(canvas_, roi, trackerOptions);
        setStillDetection(tracker_, settings);
        annotator_.reset(new Annotator(tracker_.faceTriangles(), tracker_.candideTriangles()));
    }
    int side() const { return side_; }

    bool next() override { return source_.readPicture(picture_, path_, why_); }
    bool feed(long index, RunStats& stats, JsonLinesWriter* json) override;
    Drawing draw(long index) override {
        picture_.copyTo(annotated_);
        char caption[160];
        std::snprintf(caption, sizeof caption, "#%ld  %zu face%s  %.1f ms", index, drawn_.size(),
                      drawn_.size() == 1 ? "" : "s", pictureMs_.back());
        annotator_->drawFaces(annotated_, drawn_, labels_, caption);
        return Drawing{annotated_, letterboxed(annotated_, cv::Size(side_, side_)),
                       letterboxed(annotated_, cv::Size(kTileSide, kTileSide))};
    }
    std::string title(const RunStats&, long count) const override {
        char title[128];
        std::snprintf(title, sizeof title, " (%ld faces tracked in %ld of %ld pictures)", tracked_, picturesTracked_,
                      count);
        return "kestavo: " + source_.description() + title;
    }
    void printSummary(const RunStats& stats, long count, double seconds) const override;

private:
    const Options& o_;
    FrameSource& source_;
    const StillSettings settings_;
    const bool detectionOnly_ = o_.mode == RunMode::FaceDetection;
    const int side_;
    HostTracker tracker_;
    cv::Mat canvas_, picture_, annotated_;
    std::unique_ptr<Annotator> annotator_;
    std::string path_, why_;
    // The picture in hand: its faces as drawn, and their labels.
    std::vector<FrameResult> drawn_;
    std::vector<std::string> labels_;
    std::vector<std::string> notFound_, rejected_, skipped_;
    // Faces: tracked, detected (detection mode), rejected, and all candidates kept.
    long tracked_ = 0, detected_ = 0, rejectedFaces_ = 0, belowScore_ = 0;
    long picturesTracked_ = 0, picturesDetected_ = 0;
    std::vector<double> pictureMs_, findMs_, trackMs_, scans_;
};

bool PictureFrames::feed(long index, RunStats& stats, JsonLinesWriter* json) {
    if (picture_.empty()) {
        // Counted among the pictures and named with the reason, but nothing to track.
        skipped_.push_back(path_ + " (" + why_ + ")");
        if (json) json->writeSkippedPicture(index, path_, why_);
        return false;
    }
    const PictureResult pr = trackPicture(tracker_, settings_, detectionOnly_, picture_, canvas_);
    bool anyTracked = false, anyDetected = false;
    drawn_.clear();
    labels_.clear();
    for (const StillResult& r : pr.faces) {
        switch (r.outcome) {
            case StillOutcome::Tracked: ++tracked_; anyTracked = true; break;
            case StillOutcome::Detected: ++detected_; anyDetected = true; break;
            case StillOutcome::Rejected: ++rejectedFaces_; break;
            case StillOutcome::NotFound: break;
        }
        FrameResult shown = r.last;
        shown.updateMs = r.updateMs;
        if (!isTrackingState(r.last.state)) {
            // Nothing was fitted: show the face's start box.
            shown.detectedFace = r.detection.detectedFace;
            shown.detections.clear();
        }
        if (!r.last.faceFitted) shown.state = "state_face_detection";
        stats.add(shown, tracker_.candideEnabled());
        if (json) {
            const bool isFace = r.outcome != StillOutcome::NotFound;
            json->writePicture(index, path_, picture_.cols, picture_.rows, isFace ? r.face : -1, r.score,
                               r.settle, stillOutcomeName(r.outcome), r.frames, r.updateMs, r.last, r.detection);
        }
        if (r.outcome == StillOutcome::NotFound) continue;
        drawn_.push_back(shown);
        char label[64];
        std::snprintf(label, sizeof label, "%d: %.1f%s", r.face, r.score,
                      r.outcome == StillOutcome::Rejected ? " rejected" : "");
        labels_.push_back(label);
    }
    belowScore_ += pr.belowScore;
    if (anyTracked) {
        ++picturesTracked_;
    } else if (anyDetected) {
        ++picturesDetected_;
    } else if (drawn_.empty()) {
        notFound_.push_back(baseName(path_));
    } else {
        rejected_.push_back(baseName(path_));
    }
    pictureMs_.push_back(pr.findMs + pr.trackMs);
    findMs_.push_back(pr.findMs);
    trackMs_.push_back(pr.trackMs);
    scans_.push_back(pr.scans);
    return true;
}

void PictureFrames::printSummary(const RunStats&, long count, double seconds) const {
    std::printf("  input:       %s (%ld pictures, each a scene of its own)\n", source_.description().c_str(),
                static_cast<long>(source_.pictureCount()));
    std::printf("  library:     %s\n", tracker_.libraryPath().c_str());
    std::printf("  mode:        %s\n", runModeName(o_.mode));
    std::printf("  stills:      %s\n", settings_.describe().c_str());
    if (!detectionOnly_) {
        std::printf("  refinement:  %s\n", refinementSummary(tracker_.refinement()).c_str());
    }
    std::printf("  pictures:    %ld in %.1f s\n", count, seconds);
    if (detectionOnly_) {
        std::printf("  detected %ld face%s in %ld of %ld pictures", detected_, detected_ == 1 ? "" : "s",
                    picturesDetected_, count);
    } else {
        std::printf("  tracked %ld face%s in %ld of %ld pictures", tracked_, tracked_ == 1 ? "" : "s", picturesTracked_,
                    count);
        if (rejectedFaces_ > 0) std::printf(" (%ld more faces found, shape rejected)", rejectedFaces_);
    }
    if (belowScore_ > 0) std::printf("; %ld candidates below --min-score", belowScore_);
    if (!skipped_.empty()) {
        std::printf("; %ld skipped: %s", static_cast<long>(skipped_.size()), joinNames(skipped_).c_str());
    }
    if (!notFound_.empty()) std::printf("; not found: %s", joinNames(notFound_).c_str());
    if (!rejected_.empty()) std::printf("; every shape rejected: %s", joinNames(rejected_).c_str());
    std::printf("\n");
    if (!pictureMs_.empty()) {
        std::printf("  per picture: median %.1f ms, max %.1f ms (all its kvo_update calls: finding and tracking "
                    "every face, host clock); finding median %.1f ms in %.0f scans, tracking median %.1f ms\n",
                    quantile(pictureMs_, 0.5), quantile(pictureMs_, 1.0), quantile(findMs_, 0.5), quantile(scans_, 0.5),
                    quantile(trackMs_, 0.5));
    }
}

}  // namespace

int runPictures(const Options& o, FrameSource& source, const std::string& library, int videoFourcc,
                const volatile std::sig_atomic_t& stopRequested) {
    // --min-face and --max-face are widths in the tracker's frame, where every picture
    // is pictureSide pixels on its longer side.
    Options scaled = o;
    const int canvasSide = stillSettingsFor(o).canvas.side();
    applyFaceWidths(scaled.detector, canvasSide, canvasSide);
    const long count = static_cast<long>(source.pictureCount());
    const long expected = o.maxFrames ? std::min(count, *o.maxFrames) : count;

    // Every output name is checked, and every output opened, before the first picture.
    RunWriters outputs(o, source.files(), library);
    PictureFrames pictures(o, source, library, stillSettingsFor(scaled));
    const int tiles = o.sheetTiles.value_or(static_cast<int>(std::min<long>(expected, kMaxPictureTiles)));
    const int columns = o.sheetColumns.value_or(std::max(1, std::min(8, static_cast<int>(std::ceil(std::sqrt(tiles))))));
    outputs.open(videoFourcc, 1.0, cv::Size(pictures.side(), pictures.side()),
                 [&] { return new ContactSheet(1, 1, expected, std::max(2, tiles), columns, kTileSide); });
    return runFrames(pictures, outputs, o, expected, stopRequested);
}

}  // namespace app
}  // namespace kvo
