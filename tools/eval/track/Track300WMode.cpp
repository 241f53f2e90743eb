// track_eval --faces300w: the 300-W validation faces, eye-started, detector-started and by dlib,
// and the hand-placed shapes through the validity checks.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <dlib/opencv.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Faces300W.h"
#include "LandmarkCorrespondence.h"
#include "eval/OurLayoutError.h"
#include "TrackEvalModes.h"
#include "TrainingSet.h"
#include "asm/ASMSearch.h"
#include "asm/ShapePlausibility.h"
#include "eval/DlibLayout.h"
#include "eval/DlibPeer.h"
#include "math/Angles.h"
#include "math/Rectangle.h"
#include "tracker/KVOModeState.h"

using namespace kvo;
using namespace kvo::trainer;
using namespace kvo::eval;

namespace trackeval {
namespace {

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

}  // namespace

int faces300wMode(const Faces300WOptions& o, const TrackerSettings& settings) {
    const int kTile = 128, kCols = 6, kRows = 4;
    cv::Mat sheet;
    if (!o.sheetPath.empty()) sheet = cv::Mat(kRows * kTile, kCols * kTile, CV_8UC3, cv::Scalar(255, 255, 255));
    int sheetCount = 0;
    std::vector<Face300W> faces;
    std::string error;
    if (!listFaces300W(o.dir, faces, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<eval::DlibPeer> dlibPeer;
    if (o.withDlib) dlibPeer.reset(new eval::DlibPeer());
    std::FILE* perFace = o.perFacePath.empty() ? nullptr : std::fopen(o.perFacePath.c_str(), "w");
    if (perFace)
        std::fprintf(perFace, "name\tside\teyes_state\teyes_core\teyes_shared\tdet_state\tdet_core\tdet_shared\t"
                              "dlib_core\tdlib_shared\n");
    std::vector<double> eyeCore, eyeShared, detCore, detShared, dlibCore, dlibShared;
    DropTally drops;
    // The hand-placed shapes, converted to our layout, through the same layout checks.
    const Converter300W converter(o.muctPath);
    std::map<std::string, int> truthFails;
    int truthChecked = 0, truthRejected = 0;
    std::FILE* dropLog = o.perFacePath.empty() ? nullptr : std::fopen((o.perFacePath + ".drops").c_str(), "w");
    // The eye-started fits beside the hand-placed points, for looking at where they differ:
    // name, then our 68 points, then dlib's 68 (x y pairs, frame pixels, y down).
    std::FILE* fitLog = o.perFacePath.empty() ? nullptr : std::fopen((o.perFacePath + ".fits").c_str(), "w");
    int n = 0, eyeTracked = 0, detTracked = 0, dlibFound = 0;
    for (const Face300W& f : faces) {
        if (!f.validation) continue;
        const cv::Mat crop = cv::imread(o.dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        if (crop.empty()) {
            std::fprintf(stderr, "Error: cannot read %s/%s.jpg (face skipped)\n", o.dir.c_str(), f.name.c_str());
            continue;
        }
        ++n;
        ShapeVec framed = f.dlib;
        const cv::Mat bgr = o.side > 0 ? frameFace(crop, framed, o.side, o.faceWidth) : crop;
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
                Tracker probe(grey.cols, grey.rows, o.model, settings);
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
            Tracker t(grey.cols, grey.rows, o.model, settings);
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
            Tracker t(grey.cols, grey.rows, o.model, settings);
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
        if (o.withDlib) {
            dlib::cv_image<dlib::bgr_pixel> img(bgr);
            const std::vector<dlib::rectangle> dets = dlibPeer->faces(img);
            const int best = eval::DlibPeer::nearestFace(dets, ref);
            if (best >= 0) {
                ++dlibFound;
                const std::vector<double> p = dlibPeer->landmarks(img, dets[best]);
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
    if (!sheet.empty() && !cv::imwrite(o.sheetPath, sheet, {cv::IMWRITE_PNG_COMPRESSION, 9})) {
        std::fprintf(stderr, "Error: cannot write %s\n", o.sheetPath.c_str());
        return 1;
    }
    std::printf("300-W validation faces: %d (every %dth by sorted name), framed %d x %d with the face %.0f px wide\n",
                n, VALIDATION_EVERY, o.side, o.side, o.faceWidth);
    std::printf("landmark refinement: %s\n", settings.refine ? (settings.refinerModel.empty() ? "on, the embedded model"
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
    if (o.withDlib) {
        std::printf("dlib detector + 68-point predictor: %d of %d found\n", dlibFound, n);
        printSummary("dlib, found", dlibCore, dlibShared);
    }
    return 0;
}

}  // namespace trackeval
