// track_eval: measures a shape model through the tracker as a host drives it.
//
//   track_eval --video franck.mp4 [--model model.json] [--step N] [--frames N]
//              [--dlib-cache FILE] [--draw DIR] [--still-frames F1,F2,...]
//              [--still-feeds N] [--trace-still]
//   track_eval --labels validation.tsv --media DIR [--model model.json]
//   track_eval --faces300w DIR [--model model.json] [--per-face FILE] [--no-dlib]
//              [--frame SIDE] [--face-width PX] [--contact-sheet PNG] [--shapes-only]
//              [--min-detections N] [--muct CSV]
//   track_eval --franck-annotations DIR [--video FILE] [--model model.json] [--library SO]
//              [--no-dlib] [--per-point FILE] [--faces300w DIR ...]
//   every mode: [--fine-search LEVEL] (the finest pyramid level searched once tracking)
//               [--no-refine] (the landmark refinement is on by default) [--refiner FILE]
//               (a refiner model to use instead of the embedded one)
//
// Annotated-video mode (--franck-annotations): the video (default the sample franck.mp4)
// tracked as a user runs it, kvo_update on every frame with the library's defaults (the
// embedded model through the stand-in host; a --model through the tracker in this
// process), scored on every annotated frame it tracks against the hand-checked shapes of
// DIR (our layout, AnnotatedVideoEval.h): all 68 points and by group, mean, median and
// share above 0.10 of the error / outer-eye distance (27-32), the systematic part (each
// landmark's mean offset; --per-point FILE writes them per landmark); dlib beside it on the
// points both layouts share. With --faces300w as well, the 300-W validation report follows in the
// same run, so every model choice is seen on both.
//
// Video mode: every frame goes through kvo::Kestavo (face-tracking mode, grey by the
// library's own conversion). Prints the share of frames in "state_face_tracking"; on
// every `step`-th frame that is tracked, the distance of the shared landmarks to dlib's
// 68-point predictor divided by dlib's outer-eye-corner distance, per feature group and
// per 100-frame window; and, for a few frames each fed 50 times to a fresh tracker, the
// largest landmark movement between consecutive feeds after the start phase.
// Labels mode: the validation faces; each still, and the first frame of each labelled
// video block, starts a track from its labelled pupils (as kvo_updateByEyes does) with
// 10 searches; the block's later frames are tracked in order. Prints the mean landmark
// error over all 68 points divided by the outer-eye-corner distance (27-32).
// 300-W mode: the validation faces of the 300-W folder (every 10th by sorted name), each
// with a fresh tracker, against the hand-placed points (dlib's layout), on the 17 core
// and the 25 shared points / the hand-placed outer-eye-corner distance:
//   eye-started: kvo_updateByEyes from the hand-placed eye centres (mean of each eye's six
//     points) with 10 iterations, then 5 kvo_update calls;
//   detector-started: 30 kvo_update calls on the still; the share in
//     "state_face_tracking" after the last call and the error of those tracked (the
//     detector's minDetections as a host would set it with --min-detections; default 12);
//   dlib: its frontal face detector and 68-point predictor on the same crops (the
//     detection nearest the hand-placed shape's centre).
// Each face is first framed as a user's photo would be: scaled so that the hand-placed
// points are 160 px wide (--face-width) and centred in a 400 x 400 frame (--frame; the
// crop's border replicated), the points moved with it.
// The hand-placed shapes, converted to our layout (shape model of --muct, default the
// repository's MUCT shapes), also go through the size, frame and strict layout checks: how
// often the validity test would reject a correct shape.
// Prints mean, median and share above 0.10 for each; --per-face writes one line per face
// (and FILE.fits the eye-started fits beside the hand-placed points);
// --contact-sheet PNG draws the first 24 validation faces with the eye-started fit (green:
// all 68 points; red: the hand-placed 17 core points), 6 x 4 tiles of 128 px; with
// --shapes-only the tiles are blank, so the sheet carries no pixel of the photographs
// (whose owners allow research use only) and may be published.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "AnnotatedVideoEval.h"
#include "Faces300W.h"
#include "FrameAnnotations.h"
#include "LandmarkCorrespondence.h"
#include "PoseTally.h"
#include "TrainingSet.h"
#include "eval/DlibLayout.h"
#include "eval/Files.h"
#include "eval/GreyFrame.h"
#include "asm/ASMSearch.h"
#include "asm/ShapePlausibility.h"
#include "math/Angles.h"
#include "math/Rectangle.h"
#include "tracker/KVOModeState.h"
#include "tracker/Kestavo.h"
#include "refine/RefinerModel.h"

using namespace kvo;
using namespace kvo::trainer;

namespace {

// A tracker on a frame size, with the model given or the embedded one.
// The finest pyramid level searched once tracking, as --fine-search sets it for every
// tracker of the run (-1: the library's default).
int gFinestLevel = -1;
// The landmark refinement for every tracker of the run: on unless --no-refine; a refiner
// model given by --refiner instead of the embedded one.
bool gRefine = true;
std::string gRefinerModel;

struct Tracker {
    Tracker(int w, int h, const std::string& model) : input(w, h) {
        kestavo.init(&input, nullptr, model.empty() ? nullptr : model.c_str());
        if (gFinestLevel >= 0) kestavo.asmSearch.finestTrackingLevel = gFinestLevel;
        if (!gRefinerModel.empty()) kestavo.asmSearch.refiner.load(gRefinerModel);
        kestavo.asmSearch.refineEnabled = gRefine && kestavo.asmSearch.refiner.loaded();
    }
    const std::string& feed(const cv::Mat& grey) {
        input.setRows(grey.data, grey.step[0]);
        return kestavo.update();
    }
    // Starts a track from two eye positions (input pixels), as a host would with
    // kvo_updateByEyes, and runs `searches` searches on this frame.
    const std::string& startByEyes(const cv::Mat& grey, double x0, double y0, double x1, double y1, int searches) {
        input.setRows(grey.data, grey.step[0]);
        return kestavo.updateByEyes(std::make_shared<Point>(x0, y0), std::make_shared<Point>(x1, y1), searches);
    }
    std::vector<double> shape() const {
        std::vector<double> s;
        for (const PointPtr& p : kestavo.faceShape.points) {
            s.push_back(p->x);
            s.push_back(p->y);
        }
        return s;
    }
    eval::GreyFrame input;
    Kestavo kestavo;
};

void draw(const std::string& path, const cv::Mat& bgr, const std::vector<double>& shape,
          const std::vector<double>& ref) {
    cv::Mat img = bgr.clone();
    for (size_t i = 0; i + 1 < ref.size(); i += 2)
        cv::circle(img, cv::Point2d(ref[i], ref[i + 1]), 2, cv::Scalar(255, 128, 0), -1);
    for (size_t i = 0; i + 1 < shape.size(); i += 2)
        cv::circle(img, cv::Point2d(shape[i], shape[i + 1]), 2, cv::Scalar(0, 255, 0), -1);
    cv::Mat big;
    cv::resize(img, big, cv::Size(), 2.0, 2.0, cv::INTER_NEAREST);
    cv::imwrite(path, big);
}

struct VideoOptions {
    std::string video, model, cachePath, drawDir;
    int step = 4, maxFrames = 0;
    std::vector<int> stillFrames;
    int stillFeeds = 50;      // feeds of each still frame
    bool traceStill = false;  // print every feed's largest move
};

int videoMode(const VideoOptions& o) {
    const std::string& video = o.video;
    const std::string& model = o.model;
    const std::string& cachePath = o.cachePath;
    const std::string& drawDir = o.drawDir;
    const std::vector<int>& stillFrames = o.stillFrames;
    const int step = o.step, maxFrames = o.maxFrames;
    // dlib's points per evaluated frame, cached (they do not depend on the model).
    std::map<int, std::vector<double>> dlibPts;
    {
        std::ifstream in(cachePath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            int f;
            ls >> f;
            std::vector<double> p;
            double v;
            while (ls >> v) p.push_back(v);
            if (p.size() == 136 || p.empty()) dlibPts[f] = p;
        }
    }
    const bool haveCache = !dlibPts.empty();
    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;
    if (!haveCache) {
        detector = dlib::get_frontal_face_detector();
        dlib::deserialize(kvo::eval::DLIB_SHAPE_PREDICTOR) >> predictor;
    }
    GreyVideo frames(video);
    if (!frames.isOpen()) {
        std::fprintf(stderr, "cannot open %s\n", video.c_str());
        return 1;
    }
    cv::Mat grey;
    std::unique_ptr<Tracker> tracker;
    std::vector<cv::Mat> stills;
    int n = 0, tracked = 0;
    std::map<std::string, std::pair<double, int>> groups;
    std::map<int, std::pair<double, int>> windows;
    std::map<int, std::pair<int, int>> windowTracked;
    double total = 0, totalShared = 0;
    int totalN = 0;
    PoseTally pose;
    for (int f = 0; (maxFrames <= 0 || f < maxFrames) && frames.next(grey); ++f) {
        if (!tracker) tracker.reset(new Tracker(grey.cols, grey.rows, model));
        const std::string state = tracker->feed(grey);
        ++n;
        const bool isTracking = state == KVOState::FACE_TRACKING;
        tracked += isTracking;
        windowTracked[f / 100].first += isTracking;
        windowTracked[f / 100].second += 1;
        if (isTracking && tracker->kestavo.asmSearch.candideEnabled) {
            const KVOFaceShape& fs = tracker->kestavo.faceShape;
            pose.addTracked(fs.rotationX, fs.rotationY, fs.rotationZ);
        }
        for (int sf : stillFrames)
            if (sf == f) stills.push_back(grey.clone());
        if (f % step != 0) continue;
        if (!haveCache) {
            dlib::cv_image<dlib::bgr_pixel> img(frames.colour());
            std::vector<dlib::rectangle> dets = detector(img);
            std::vector<double> p;
            if (!dets.empty()) {
                dlib::full_object_detection d = predictor(img, dets[0]);
                for (unsigned k = 0; k < 68; ++k) {
                    p.push_back(d.part(k).x());
                    p.push_back(d.part(k).y());
                }
            }
            dlibPts[f] = p;
        }
        const std::vector<double>& ref = dlibPts[f];
        if (ref.size() != 136 || !isTracking) continue;
        const std::vector<double> s = tracker->shape();
        const landmarks::LandmarkError core =
            landmarks::landmarkError(s.data(), landmarks::Layout::Ours, ref.data(), landmarks::PointSet::Core);
        const landmarks::LandmarkError shared =
            landmarks::landmarkError(s.data(), landmarks::Layout::Ours, ref.data(), landmarks::PointSet::Shared);
        for (int g = 0; g < landmarks::NUM_GROUPS; ++g) {
            groups[landmarks::groupName(static_cast<landmarks::Group>(g))].first += core.perGroup[g];
            groups[landmarks::groupName(static_cast<landmarks::Group>(g))].second += 1;
        }
        const double frameErr = core.mean;
        totalShared += shared.mean;
        // Eye-line tilts, each drawn from the image-left eye to the image-right one.
        const EyeCentres eyes = eval::dlibEyeCentres(ref.data());
        const bool ownLeftFirst = s[2 * 31] <= s[2 * 36];
        const int a = ownLeftFirst ? 31 : 36, b = ownLeftFirst ? 36 : 31;
        if (isTracking && tracker->kestavo.asmSearch.candideEnabled)
            pose.addTilt(PoseTally::tiltDeg(eyes.leftX, eyes.leftY, eyes.rightX, eyes.rightY),
                         PoseTally::tiltDeg(s[2 * a], s[2 * a + 1], s[2 * b], s[2 * b + 1]));
        windows[f / 100].first += frameErr;
        windows[f / 100].second += 1;
        total += frameErr;
        ++totalN;
        if (!drawDir.empty() && f % 500 == 0) {
            char name[64];
            std::snprintf(name, sizeof name, "/frame_%05d.png", f);
            draw(drawDir + name, frames.colour(), s, ref);
        }
    }
    if (!haveCache && !cachePath.empty()) {
        std::ofstream out(cachePath);
        for (const auto& kv : dlibPts) {
            out << kv.first;
            char buf[32];
            for (double v : kv.second) {
                std::snprintf(buf, sizeof buf, " %.1f", v);
                out << buf;
            }
            out << '\n';
        }
    }
    std::printf("frames %d, tracking %d (%.2f %%)\n", n, tracked, 100.0 * tracked / std::max(1, n));
    std::printf("core-point error (%d points) / outer-eye distance: mean %.4f over %d frames\n", landmarks::CORE_COUNT,
                totalN ? total / totalN : 0.0, totalN);
    std::printf("shared-point error (%d points) / outer-eye distance: mean %.4f\n", landmarks::SHARED_COUNT,
                totalN ? totalShared / totalN : 0.0);
    std::printf("core points per group:\n");
    for (const auto& g : groups)
        std::printf("  group %-6s %.4f\n", g.first.c_str(), g.second.first / std::max(1, g.second.second));
    std::printf("per 100-frame window: frames tracked %%, mean error\n");
    for (const auto& w : windowTracked) {
        const auto it = windows.find(w.first);
        std::printf("  %5d-%5d  %6.1f %%  %s\n", w.first * 100, w.first * 100 + 99,
                    100.0 * w.second.first / std::max(1, w.second.second),
                    it == windows.end() ? "-" : std::to_string(it->second.first / it->second.second).substr(0, 6).c_str());
    }
    std::printf("%s", pose.summary().c_str());
    // Steadiness: each chosen frame fed 50 times to a fresh tracker; the moves from the
    // 20th feed on are those of a tracker that has had time to settle.
    const int kSettledFeeds = 20;
    for (size_t k = 0; k < stills.size(); ++k) {
        Tracker t(stills[k].cols, stills[k].rows, model);
        std::vector<double> prev;
        double worst = 0, worstLate = 0;  // over every feed, and from the 20th on
        int trackedFeeds = 0;
        for (int r = 0; r < o.stillFeeds; ++r) {
            const std::string st = t.feed(stills[k]);
            const bool ok = st == KVOState::FACE_TRACKING;
            trackedFeeds += ok;
            std::vector<double> s = t.shape();
            double feedMax = 0;  // this feed's largest move and its landmark
            int feedArg = -1;
            if (ok && !prev.empty())
                for (size_t i = 0; i + 1 < s.size(); i += 2) {
                    const double d = std::hypot(s[i] - prev[i], s[i + 1] - prev[i + 1]);
                    if (d > feedMax) {
                        feedMax = d;
                        feedArg = static_cast<int>(i / 2);
                    }
                }
            worst = std::max(worst, feedMax);
            if (r >= kSettledFeeds) worstLate = std::max(worstLate, feedMax);
            if (o.traceStill)
                std::printf("  feed %d: %s, largest move %.3f px (landmark %d)\n", r, st.c_str(), feedMax, feedArg);
            prev = ok ? s : std::vector<double>();
        }
        std::printf("steadiness: frame %d fed %d times: %d feeds tracking, largest move between feeds %.4f px, "
                    "from feed %d on %.4f px\n",
                    stillFrames[k], o.stillFeeds, trackedFeeds, worst, kSettledFeeds, worstLate);
    }
    return 0;
}

int labelsMode(const std::string& labelsPath, const std::string& media, const std::string& model) {
    std::vector<LabelledFace> faces = readLabels(labelsPath);
    std::vector<cv::Mat> images = loadImages(faces, media);
    double sum = 0;
    int measured = 0, tracked = 0, count = 0;
    std::map<std::pair<int, int>, std::unique_ptr<Tracker>> trackers;
    std::string lastSource;
    int lastFrame = -10;
    for (size_t k = 0; k < faces.size(); ++k) {
        if (images[k].empty()) continue;
        std::unique_ptr<Tracker>& t = trackers[std::make_pair(images[k].cols, images[k].rows)];
        if (!t) t.reset(new Tracker(images[k].cols, images[k].rows, model));
        const bool still = faces[k].frame < 0;
        const bool continues = !still && faces[k].source == lastSource && faces[k].frame - lastFrame <= 10;
        const std::vector<double>& p = faces[k].points;
        // A new track starts from the labelled pupils (as kvo_updateByEyes does), so the
        // figure measures the model's search and not whether the detector finds the face.
        std::string state = continues ? t->feed(images[k])
                                      : t->startByEyes(images[k], p[2 * 31], p[2 * 31 + 1], p[2 * 36], p[2 * 36 + 1], 10);
        lastSource = faces[k].source;
        lastFrame = faces[k].frame;
        ++count;
        if (state != KVOState::FACE_TRACKING && state != KVOState::FACE_TRACKING_START) continue;
        ++tracked;
        const std::vector<double> s = t->shape();
        const double eye = landmarks::outerEyeDistance(p.data(), landmarks::Layout::Ours);
        double e = 0;
        for (int i = 0; i < 68; ++i) e += std::hypot(s[2 * i] - p[2 * i], s[2 * i + 1] - p[2 * i + 1]);
        sum += e / 68 / eye;
        ++measured;
    }
    std::printf("validation: %d faces, %d tracked, mean error / outer-eye distance %.4f\n", count, tracked,
                measured ? sum / measured : 0.0);
    return 0;
}

// Mean, median and share above 0.10 of the core and shared errors; "nan" for none.
void printSummary(const char* what, const std::vector<double>& core, const std::vector<double>& shared) {
    auto summary = [](const std::vector<double>& e) {
        ErrorSummary s = summariseErrors(e);
        if (s.count == 0) s.mean = s.median = s.above10 = NAN;
        return s;
    };
    const ErrorSummary c = summary(core), a = summary(shared);
    std::printf("  %-26s n %4d  core-17: mean %.4f median %.4f >0.10 %5.1f %%  shared-25: mean %.4f median %.4f "
                ">0.10 %5.1f %%\n",
                what, c.count, c.mean, c.median, 100.0 * c.above10, a.mean, a.median, 100.0 * a.above10);
}

// Why the tracker dropped a shape: the plausibility checks the search applies, each
// evaluated on its own (the search stops at the first that fails).
struct DropChecks : ShapeChecks {
    bool pose = false;                                 // Candide pose limits (after the start phase)
    double rx = 0, ry = 0, rz = 0;                     // pose, degrees
    bool strict() const { return layoutFailed(); }
    // Adds one to `by[name]` for each check this shape fails.
    void countFailures(std::map<std::string, int>& by) const {
        if (size) ++by["size"];
        if (region) ++by["centre outside frame"];
        if (mouth) ++by["strict: mouth centre box"];
        if (leftPupil) ++by["strict: left pupil box"];
        if (rightPupil) ++by["strict: right pupil box"];
        if (ratio) ++by["strict: width/height ratio"];
        if (pupilSpan) ++by["strict: pupil span / width"];
        if (pose) ++by["pose limits"];
    }
};

// The size, frame and strict layout checks on a shape (68 points, x0, y0, ...; pixels).
DropChecks layoutChecks(const std::vector<double>& xy, const ASMSearch& search) {
    ShapeMat shape;
    shape.dim(static_cast<int>(xy.size() / 2), 2);
    for (int i = 0; i < shape.rows; ++i) {
        shape.data[i][0] = xy[2 * i];
        shape.data[i][1] = xy[2 * i + 1];
    }
    DropChecks c;
    static_cast<ShapeChecks&>(c) =
        checkShape(shape, ShapeLimits{search.minFaceSize, search.maxFaceSize, search.validRegion, true});
    return c;
}

DropChecks dropChecks(Tracker& t) {
    ASMSearch& search = t.kestavo.asmSearch;
    DropChecks c = layoutChecks(t.shape(), search);
    c.pose = !search.candide.isPoseValid(search.validRegion);
    const std::vector<double>& p = search.candide.model.transformParams;
    c.rx = p[3] * DEGREES_PER_RADIAN;
    c.ry = p[4] * DEGREES_PER_RADIAN;
    c.rz = p[5] * DEGREES_PER_RADIAN;
    return c;
}

// Tally of the first drop of each detector-started track.
struct DropTally {
    int neverStarted = 0, dropped = 0, wrong = 0, right = 0;
    int rightStrictOnly = 0, rightPoseOnly = 0, rightBoth = 0, rightOther = 0;
    std::map<std::string, int> rightByCheck, wrongByCheck;
    void add(const DropChecks& c, double err) {
        ++dropped;
        const bool ok = err <= 0.10;
        ++(ok ? right : wrong);
        c.countFailures(ok ? rightByCheck : wrongByCheck);
        if (!ok) return;
        if (c.size || c.region) ++rightOther;
        else if (c.strict() && c.pose) ++rightBoth;
        else if (c.strict()) ++rightStrictOnly;
        else if (c.pose) ++rightPoseOnly;
        else ++rightOther;
    }
};

// The face of `crop` scaled to `faceWidth` pixels (the points' x-extent) and centred in
// a `side` x `side` frame; `pts` (dlib layout, pixels) moved with it.
cv::Mat frameFace(const cv::Mat& crop, ShapeVec& pts, int side, double faceWidth) {
    double x0 = 1e30, x1 = -1e30, y0 = 1e30, y1 = -1e30;
    for (int i = 0; i < 68; ++i) {
        x0 = std::min(x0, pts[2 * i]);
        x1 = std::max(x1, pts[2 * i]);
        y0 = std::min(y0, pts[2 * i + 1]);
        y1 = std::max(y1, pts[2 * i + 1]);
    }
    const double s = faceWidth / std::max(1.0, x1 - x0);
    const double cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1), half = 0.5 * (side - 1);
    const cv::Matx23d m(s, 0, half - s * cx, 0, s, half - s * cy);
    cv::Mat out;
    cv::warpAffine(crop, out, m, cv::Size(side, side), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    for (int i = 0; i < 68; ++i) {
        pts[2 * i] = s * pts[2 * i] + (half - s * cx);
        pts[2 * i + 1] = s * pts[2 * i + 1] + (half - s * cy);
    }
    return out;
}

// One contact-sheet tile: the middle of the framed face with the fit and the reference.
cv::Mat sheetTile(const cv::Mat& bgr, const std::vector<double>& fit, const double* ref, int tile) {
    cv::Mat img = bgr.clone();
    const int thick = std::max(1, bgr.cols / 200);
    for (size_t i = 0; i + 1 < fit.size(); i += 2)
        cv::circle(img, cv::Point2d(fit[i], fit[i + 1]), 2 * thick, cv::Scalar(0, 230, 0), -1, cv::LINE_AA);
    for (const landmarks::LandmarkPair& p : landmarks::sharedPairs()) {
        if (!p.core) continue;
        const cv::Point2d c(ref[2 * p.dlib], ref[2 * p.dlib + 1]);
        cv::line(img, c - cv::Point2d(3 * thick, 0), c + cv::Point2d(3 * thick, 0), cv::Scalar(0, 0, 255), thick);
        cv::line(img, c - cv::Point2d(0, 3 * thick), c + cv::Point2d(0, 3 * thick), cv::Scalar(0, 0, 255), thick);
    }
    // The middle 70 % of the frame holds the face.
    const int m = static_cast<int>(0.15 * img.cols);
    cv::Mat out;
    cv::resize(img(cv::Rect(m, m, img.cols - 2 * m, img.rows - 2 * m)), out, cv::Size(tile, tile), 0, 0, cv::INTER_AREA);
    return out;
}

struct Faces300WOptions {
    std::string dir, model, perFacePath, sheetPath, muctPath;
    bool withDlib = true;
    bool shapesOnly = false;  // contact-sheet tiles without the photograph
    int side = 400;           // frame side, pixels
    double faceWidth = 160;   // hand-placed points' width in the frame, pixels
    int minDetections = 12;   // the detector's, for the detector-started tracks
};

int faces300wMode(const Faces300WOptions& o) {
    const std::string& dir = o.dir;
    const std::string& model = o.model;
    const std::string& perFacePath = o.perFacePath;
    const std::string& sheetPath = o.sheetPath;
    const bool withDlib = o.withDlib;
    const int side = o.side;
    const double faceWidth = o.faceWidth;
    const int kTile = 128, kCols = 6, kRows = 4;
    cv::Mat sheet;
    if (!sheetPath.empty()) sheet = cv::Mat(kRows * kTile, kCols * kTile, CV_8UC3, cv::Scalar(255, 255, 255));
    int sheetCount = 0;
    std::vector<Face300W> faces;
    std::string error;
    if (!listFaces300W(dir, faces, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;
    if (withDlib) {
        detector = dlib::get_frontal_face_detector();
        dlib::deserialize(kvo::eval::DLIB_SHAPE_PREDICTOR) >> predictor;
    }
    std::FILE* perFace = perFacePath.empty() ? nullptr : std::fopen(perFacePath.c_str(), "w");
    if (perFace)
        std::fprintf(perFace, "name\tside\teyes_state\teyes_core\teyes_shared\tdet_state\tdet_core\tdet_shared\t"
                              "dlib_core\tdlib_shared\n");
    std::vector<double> eyeCore, eyeShared, detCore, detShared, dlibCore, dlibShared;
    DropTally drops;
    // The hand-placed shapes, converted to our layout, through the same layout checks.
    const Converter300W converter(o.muctPath);
    std::map<std::string, int> truthFails;
    int truthChecked = 0, truthRejected = 0;
    std::FILE* dropLog = perFacePath.empty() ? nullptr : std::fopen((perFacePath + ".drops").c_str(), "w");
    // The eye-started fits beside the hand-placed points, for looking at where they differ:
    // name, then our 68 points, then dlib's 68 (x y pairs, frame pixels, y down).
    std::FILE* fitLog = perFacePath.empty() ? nullptr : std::fopen((perFacePath + ".fits").c_str(), "w");
    int n = 0, eyeTracked = 0, detTracked = 0, dlibFound = 0;
    for (const Face300W& f : faces) {
        if (!f.validation) continue;
        const cv::Mat crop = cv::imread(dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        if (crop.empty()) {
            std::fprintf(stderr, "Error: cannot read %s/%s.jpg (face skipped)\n", dir.c_str(), f.name.c_str());
            continue;
        }
        ++n;
        ShapeVec framed = f.dlib;
        const cv::Mat bgr = side > 0 ? frameFace(crop, framed, side, faceWidth) : crop;
        const cv::Mat grey = toLibraryGrey(bgr);
        const double* ref = framed.data();
        const EyeCentres eyes = eval::dlibEyeCentres(ref);
        auto err = [&](const std::vector<double>& s, landmarks::Layout layout, landmarks::PointSet set) {
            return landmarks::landmarkError(s.data(), layout, ref, set).mean;
        };
        // The hand-placed shape: would the layout checks accept it?
        {
            ShapeVec ours;
            if (converter.ok() && converter.convert(framed, ours)) {
                Tracker probe(grey.cols, grey.rows, model);
                const DropChecks c = layoutChecks(ours, probe.kestavo.asmSearch);
                ++truthChecked;
                truthRejected += c.size || c.region || c.strict();
                c.countFailures(truthFails);  // layoutChecks leaves `pose` unset
            }
        }
        // Eye-started.
        std::string eyeState;
        double ec = NAN, es = NAN;
        {
            Tracker t(grey.cols, grey.rows, model);
            eyeState = t.startByEyes(grey, eyes.leftX, eyes.leftY, eyes.rightX, eyes.rightY, 10);
            for (int k = 0; k < 5; ++k) eyeState = t.feed(grey);
            if (eyeState == KVOState::FACE_TRACKING || eyeState == KVOState::FACE_TRACKING_START) {
                ++eyeTracked;
                ec = err(t.shape(), landmarks::Layout::Ours, landmarks::PointSet::Core);
                es = err(t.shape(), landmarks::Layout::Ours, landmarks::PointSet::Shared);
                eyeCore.push_back(ec);
                eyeShared.push_back(es);
                if (fitLog) {
                    std::fprintf(fitLog, "%s", f.name.c_str());
                    for (double v : t.shape()) std::fprintf(fitLog, " %.2f", v);
                    for (double v : framed) std::fprintf(fitLog, " %.2f", v);
                    std::fprintf(fitLog, "\n");
                }
            }
            if (!sheet.empty() && sheetCount < kCols * kRows) {
                const cv::Mat base = o.shapesOnly ? cv::Mat(bgr.size(), CV_8UC3, cv::Scalar(235, 235, 235)) : bgr;
                const cv::Mat tile = sheetTile(base, t.shape(), ref, kTile);
                tile.copyTo(sheet(cv::Rect((sheetCount % kCols) * kTile, (sheetCount / kCols) * kTile, kTile, kTile)));
                ++sheetCount;
            }
        }
        // Detector-started.
        std::string detState;
        double dc = NAN, ds = NAN;
        {
            Tracker t(grey.cols, grey.rows, model);
            t.kestavo.violaJones.minDetections = o.minDetections;
            bool seenDrop = false, started = false;
            for (int k = 0; k < 30; ++k) {
                detState = t.feed(grey);
                started = started || detState == KVOState::FACE_TRACKING_START;
                if (detState == KVOState::RESET && !seenDrop) {
                    // The first drop: which checks the dropped shape fails, and whether it was right.
                    seenDrop = true;
                    const DropChecks c = dropChecks(t);
                    const double e = err(t.shape(), landmarks::Layout::Ours, landmarks::PointSet::Core);
                    drops.add(c, e);
                    if (dropLog)
                        std::fprintf(dropLog, "%s\t%.4f\t%d%d%d%d%d%d%d%d\t%.1f\t%.1f\t%.1f\n", f.name.c_str(), e, c.size,
                                     c.region, c.mouth, c.leftPupil, c.rightPupil, c.ratio, c.pupilSpan, c.pose, c.rx, c.ry,
                                     c.rz);
                }
            }
            if (!started) ++drops.neverStarted;
            if (detState == KVOState::FACE_TRACKING) {
                ++detTracked;
                dc = err(t.shape(), landmarks::Layout::Ours, landmarks::PointSet::Core);
                ds = err(t.shape(), landmarks::Layout::Ours, landmarks::PointSet::Shared);
                detCore.push_back(dc);
                detShared.push_back(ds);
            }
        }
        // dlib.
        double lc = NAN, ls = NAN;
        if (withDlib) {
            dlib::cv_image<dlib::bgr_pixel> img(bgr);
            const std::vector<dlib::rectangle> dets = detector(img);
            double cx = 0, cy = 0;
            for (int i = 0; i < 68; ++i) {
                cx += ref[2 * i] / 68;
                cy += ref[2 * i + 1] / 68;
            }
            int best = -1;
            double bestD = 1e30;
            for (size_t k = 0; k < dets.size(); ++k) {
                const double d = std::hypot(dlib::center(dets[k]).x() - cx, dlib::center(dets[k]).y() - cy);
                if (d < bestD) {
                    bestD = d;
                    best = static_cast<int>(k);
                }
            }
            if (best >= 0) {
                ++dlibFound;
                const dlib::full_object_detection d = predictor(img, dets[best]);
                std::vector<double> p;
                for (unsigned k = 0; k < 68; ++k) {
                    p.push_back(d.part(k).x());
                    p.push_back(d.part(k).y());
                }
                lc = err(p, landmarks::Layout::Dlib, landmarks::PointSet::Core);
                ls = err(p, landmarks::Layout::Dlib, landmarks::PointSet::Shared);
                dlibCore.push_back(lc);
                dlibShared.push_back(ls);
            }
        }
        if (perFace)
            std::fprintf(perFace, "%s\t%d\t%s\t%.4f\t%.4f\t%s\t%.4f\t%.4f\t%.4f\t%.4f\n", f.name.c_str(), grey.cols, eyeState.c_str(),
                         ec, es, detState.c_str(), dc, ds, lc, ls);
    }
    if (perFace) std::fclose(perFace);
    if (!sheet.empty() && !cv::imwrite(sheetPath, sheet, {cv::IMWRITE_PNG_COMPRESSION, 9})) {
        std::fprintf(stderr, "Error: cannot write %s\n", sheetPath.c_str());
        return 1;
    }
    std::printf("300-W validation faces: %d (every %dth by sorted name), framed %d x %d with the face %.0f px wide\n",
                n, VALIDATION_EVERY, side, side, faceWidth);
    std::printf("landmark refinement: %s\n", gRefine ? (gRefinerModel.empty() ? "on, the embedded model"
                                                                              : "on, the given refiner model")
                                                   : "off (--no-refine)");
    std::printf("eye-started (10 iterations + 5 updates): %d tracked\n", eyeTracked);
    printSummary("eye-started, tracked", eyeCore, eyeShared);
    std::printf("detector-started (30 updates, minDetections %d): %d of %d in \"%s\" (%.1f %%)\n", o.minDetections,
                detTracked, n, KVOState::FACE_TRACKING.c_str(), 100.0 * detTracked / std::max(1, n));
    printSummary("detector-started, tracked", detCore, detShared);
    std::printf("detector-started drops: %d faces never started a track; %d tracks dropped at least once: first drop "
                "%d wrong (core error > 0.10), %d right but rejected (strict layout only %d, pose only %d, both %d, "
                "size/frame %d)\n",
                drops.neverStarted, drops.dropped, drops.wrong, drops.right, drops.rightStrictOnly, drops.rightPoseOnly,
                drops.rightBoth, drops.rightOther);
    for (const auto& kv : drops.rightByCheck) std::printf("    right but rejected, fails %-28s %d\n", kv.first.c_str(), kv.second);
    for (const auto& kv : drops.wrongByCheck) std::printf("    wrong, fails %-42s %d\n", kv.first.c_str(), kv.second);
    if (dropLog) std::fclose(dropLog);
    if (fitLog) std::fclose(fitLog);
    std::printf("hand-placed shapes (converted to our layout) through the size, frame and strict layout checks: "
                "%d of %d rejected\n",
                truthRejected, truthChecked);
    for (const auto& kv : truthFails) std::printf("    fails %-36s %d\n", kv.first.c_str(), kv.second);
    if (withDlib) {
        std::printf("dlib detector + 68-point predictor: %d of %d found\n", dlibFound, n);
        printSummary("dlib, found", dlibCore, dlibShared);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modelPath, labels, media;
    Faces300WOptions f;
    f.muctPath = KVO_MUCT_SHAPES;
    VideoOptions o;
    std::string annotationsDir, perPointPath, library = KVO_LIBRARY_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--trace-still") {
            o.traceStill = true;
            continue;
        }
        if (a == "--no-refine") {
            gRefine = false;
            continue;
        }
        if (a == "--no-dlib") {
            f.withDlib = false;
            continue;
        }
        if (a == "--shapes-only") {
            f.shapesOnly = true;
            continue;
        }
        if (i + 1 >= argc) break;
        const std::string v = argv[++i];
        if (a == "--video") o.video = v;
        else if (a == "--model") modelPath = v;
        else if (a == "--step") o.step = std::max(1, std::atoi(v.c_str()));
        else if (a == "--frames") o.maxFrames = std::atoi(v.c_str());
        else if (a == "--dlib-cache") o.cachePath = v;
        else if (a == "--draw") o.drawDir = v;
        else if (a == "--still-feeds") o.stillFeeds = std::max(2, std::atoi(v.c_str()));
        else if (a == "--labels") labels = v;
        else if (a == "--media") media = v;
        else if (a == "--faces300w") f.dir = v;
        else if (a == "--per-face") f.perFacePath = v;
        else if (a == "--contact-sheet") f.sheetPath = v;
        else if (a == "--muct") f.muctPath = v;
        else if (a == "--frame") f.side = std::atoi(v.c_str());
        else if (a == "--face-width") f.faceWidth = std::atof(v.c_str());
        else if (a == "--min-detections") f.minDetections = std::atoi(v.c_str());
        else if (a == "--franck-annotations") annotationsDir = v;
        else if (a == "--per-point") perPointPath = v;
        else if (a == "--library") library = v;
        else if (a == "--refiner") {
            gRefinerModel = eval::readFile(v);
            RefinerModel parsed;
            std::string why;
            if (gRefinerModel.empty()) {
                std::fprintf(stderr, "Error: cannot read the refiner model %s\n", v.c_str());
                return 1;
            }
            if (!parseRefinerModel(gRefinerModel, parsed, why)) {
                std::fprintf(stderr, "Error: %s: %s\n", v.c_str(), why.c_str());
                return 1;
            }
        }
        else if (a == "--fine-search") {
            if (v != "0" && v != "1" && v != "2") {
                std::fprintf(stderr, "Error: --fine-search must be 0, 1 or 2\n");
                return 2;
            }
            gFinestLevel = std::atoi(v.c_str());
        }
        else if (a == "--still-frames") {
            std::stringstream ss(v);
            std::string item;
            while (std::getline(ss, item, ',')) o.stillFrames.push_back(std::atoi(item.c_str()));
        }
    }
    o.model = modelPath.empty() ? std::string() : eval::readFile(modelPath);
    if (!modelPath.empty() && o.model.empty()) {
        std::fprintf(stderr, "Error: cannot read the model %s\n", modelPath.c_str());
        return 1;
    }
    if (!annotationsDir.empty()) {
        FrameShapes annotations;
        std::string error;
        if (!readFrameAnnotationsDir(annotationsDir, annotations, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        AnnotatedVideoOptions a;
        a.video = o.video.empty() ? std::string(KVO_MEDIA_DIR) + "/franck.mp4" : o.video;
        a.library = library;
        a.modelText = o.model;
        a.finestLevel = gFinestLevel;
        a.refine = gRefine;
        a.refinerModel = gRefinerModel;
        a.withDlib = f.withDlib;
        a.perPointPath = perPointPath;
        AnnotatedVideoResult result;
        if (!runAnnotatedVideo(a, annotations, result, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        if (!printAnnotatedVideoReport(a, result)) {
            std::fprintf(stderr, "Error: cannot write %s\n", a.perPointPath.c_str());
            return 1;
        }
        std::fflush(stdout);
        if (f.dir.empty()) return 0;
    }
    if (!f.dir.empty()) {
        if (f.side < 64 || f.side > 2000 || !(f.faceWidth >= 16 && f.faceWidth <= f.side)) {
            std::fprintf(stderr, "Error: --frame must be 64 to 2000 and --face-width 16 to the frame side\n");
            return 2;
        }
        if (f.minDetections < 1 || f.minDetections > 100) {
            std::fprintf(stderr, "Error: --min-detections must be 1 to 100\n");
            return 2;
        }
        f.model = o.model;
        return faces300wMode(f);
    }
    if (!labels.empty()) return labelsMode(labels, media, o.model);
    if (o.video.empty()) {
        std::fprintf(stderr, "usage: track_eval --video FILE [--model JSON] ... | --labels TSV --media DIR | --faces300w DIR\n");
        return 2;
    }
    return videoMode(o);
}
