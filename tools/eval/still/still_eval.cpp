// still_eval: kestavo's still settings measured on pictures, through the host.
//
//   still_eval --faces300w DIR [settings] [--no-dlib] [--per-picture FILE]
//   still_eval --stills DIR|GLOB [settings] [--no-dlib] [--per-picture FILE]
//   still_eval --group-photos DIR [settings] [--no-dlib] [--per-picture FILE] [--per-face FILE]
//   still_eval --pasted-groups DIR [settings] [--per-face FILE] [--keep-picture FILE]
//
// Every picture goes through trackStill(), the routine the kestavo program uses for
// stills, with one tracker for the whole run (as the program has): framed into the
// canvas, kvo_reset, scanned, handed again until the shape is confirmed, mapped back.
//
// --faces300w: the held-out validation faces of the 300-W folder (every 10th by sorted
//   name), each crop as given (a face about half the crop wide), against its hand-placed
//   points: the share tracked, and the error of the tracked shapes on the 17 core points
//   divided by the hand-placed outer-eye-corner distance (mean, median, share above 0.10).
// --stills: a folder or glob of photos without annotations. A tracked shape counts as on
//   the face when its centre lies inside the face dlib's detector finds (the largest) and
//   its width is within half to twice that face's width; the figure is the share of the
//   pictures where dlib finds a face.
// --group-photos: whole photos with every annotated face (GroupPhotos.h): the annotated
//   faces found with a shape within 0.10, the shapes on no annotated face, dlib beside.
// --pasted-groups: the 300-W validation faces pasted ten at a time at 40 to 400 px into
//   12 MP pictures (PastedGroups.h): faces found, and their error beside the same faces
//   given alone.
// dlib's frontal face detector runs on the same pictures in the same run (--no-dlib: not).
//
// Settings (default: kestavo's still settings): --picture-side PX, --border F,
// --start-scale S, --scale-increment S, --max-scale S, --step-factor F,
// --min-detections N, --full-scan on|off, --start-searches N, --frames N, --face-scale F,
// --smallest-face PX, --tile-start-scale S, --tile-scale-increment S, --tile-max-scale S,
// --tile-step-factor F, --face-side PX, --face-enlargement F, --max-faces N,
// --min-score S, --settle-scale F, --one-face, --library PATH; --no-refine leaves out the learned landmark refinement after the shape
// search, which is on by default as in the kestavo program (kvo_setFaceTrackingVars
// argument 4; the report says whether the library took it); --library-merge starts from the
// library's own merged face instead of the strongest group of windows; --split training
// measures a fifth of the training faces instead (for choosing settings without the
// validation faces).
#include <glob.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "AppError.h"
#include "CommandLine.h"
#include "Faces300W.h"
#include "FrameSource.h"
#include "GroupPhotos.h"
#include "PastedGroups.h"
#include "ShapeExtent.h"
#include "StillEvalRun.h"
#include "HostTracker.h"
#include "LandmarkCorrespondence.h"
#include "eval/OurLayoutError.h"
#include "StillTracking.h"
#include "eval/DlibLayout.h"
#include "host/HostError.h"
#include "tracker/FaceBoxFromEyes.h"

using namespace kvo;
using namespace kvo::app;

namespace {

// dlib's largest detection, or an empty rectangle.
dlib::rectangle dlibFace(dlib::frontal_face_detector& detector, const cv::Mat& bgr) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    dlib::cv_image<dlib::rgb_pixel> image(rgb);
    dlib::rectangle best;
    for (const dlib::rectangle& r : detector(image)) {
        if (r.area() > best.area()) best = r;
    }
    return best;
}

std::vector<std::string> listPictures(const std::string& spec) {
    std::vector<std::string> out;
    glob_t g;
    std::memset(&g, 0, sizeof g);
    const std::string pattern = spec.find_first_of("*?[") == std::string::npos ? spec + "/*" : spec;
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) out.push_back(g.gl_pathv[i]);
    }
    globfree(&g);
    std::sort(out.begin(), out.end());
    return out;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

using Run = StillEvalRun;

int faces300w(const Run& run, const std::string& dir) {
    std::vector<trainer::Face300W> faces;
    std::string error;
    if (!trainer::listFaces300W(dir, faces, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    std::unique_ptr<HostTracker> tracker = makeTracker(run);
    cv::Mat canvas;
    std::vector<double> core, ms, findMs, faceMs;
    long faceCalls = 0;
    int n = 0, tracked = 0, rejected = 0, dlibFound = 0, extraFaces = 0, offFaceChosen = 0;
    for (const trainer::Face300W* face : measuredFaces(run, faces)) {
        const trainer::Face300W& f = *face;
        const cv::Mat crop = cv::imread(dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        if (crop.empty()) {
            std::fprintf(stderr, "Error: cannot read %s/%s.jpg (face skipped)\n", dir.c_str(), f.name.c_str());
            continue;
        }
        ++n;
        const PictureResult pr = trackPicture(*tracker, run.settings, false, crop, canvas);
        ms.push_back(pr.findMs + pr.trackMs);
        findMs.push_back(pr.findMs);
        for (const StillResult& face : pr.faces) {
            if (face.outcome != StillOutcome::Tracked && face.outcome != StillOutcome::Rejected) continue;
            faceMs.push_back(face.updateMs);
            faceCalls += face.frames;
        }
        // The face of the crop is the tracked shape nearest the hand-placed one; the other
        // faces found are counted.
        double e = NAN;
        const StillResult* best = nullptr;
        bool anyRejected = false;
        for (const StillResult& face : pr.faces) {
            anyRejected = anyRejected || face.outcome == StillOutcome::Rejected;
            if (face.outcome != StillOutcome::Tracked) continue;
            const double fe = landmarks::landmarkError(face.last.landmarks.data(), landmarks::Layout::Ours,
                                                       f.dlib.data(), landmarks::PointSet::Core)
                                  .mean;
            if (run.perFace) {
                std::fprintf(run.perFace, "%s\t%d\t%.3f\t%d\t%.1f\t%.4f\n", f.name.c_str(), face.face, face.score,
                             face.windows, face.detection.detectedFace.width, fe);
            }
            if (best == nullptr || fe < e) {
                best = &face;
                e = fe;
            }
        }
        const StillResult& r = best != nullptr ? *best : pr.faces.empty() ? StillResult() : pr.faces.front();
        if (best != nullptr) {
            ++tracked;
            core.push_back(e);
            if (e > 0.10 && pr.faces.size() > 1) ++offFaceChosen;
            extraFaces += static_cast<int>(pr.faces.size()) - 1;
        }
        rejected += best == nullptr && anyRejected;
        bool dlibHit = false;
        if (run.withDlib) {
            const dlib::rectangle d = dlibFace(detector, crop);
            const ShapeExtent e = extentOf(f.dlib.data());
            dlibHit = !d.is_empty() && d.contains(dlib::point(long(e.centreX()), long(e.centreY())));
            dlibFound += dlibHit;
        }
        if (run.perPicture) {
            // The detected face beside the face the hand-placed eyes imply (the rectangle a
            // start from those eyes places the shape in): how far off in size and place.
            const Rectangle eyes = faceBoxFromEyes(inImageOrder(eval::dlibEyeCentres(f.dlib.data())));
            const Box& d = r.detection.detectedFace;
            std::fprintf(run.perPicture, "%s\t%s\t%d\t%.4f\t%s\t%.1f\t%zu\t%.3f\t%.3f\t%.3f\n", f.name.c_str(),
                         stillOutcomeName(r.outcome), r.frames, e, dlibHit ? "dlib" : "-", r.updateMs,
                         r.detection.detections.size(), d.width > 0 ? d.width / eyes.width : NAN,
                         d.width > 0 ? (d.x + 0.5 * d.width - eyes.x - 0.5 * eyes.width) / eyes.width : NAN,
                         d.width > 0 ? (d.y + 0.5 * d.height - eyes.y - 0.5 * eyes.height) / eyes.width : NAN);
        }
    }
    const eval::ErrorSummary s = eval::summariseErrors(core);
    std::printf("still settings: %s\n", run.settings.describe().c_str());
    std::printf("refinement: %s\n", refinementSummary(tracker->refinement()).c_str());
    if (run.training) {
        std::printf("300-W training faces: %d (every %dth of those outside the validation split), each crop as given\n",
                    n, TRAINING_EVERY);
    } else {
        std::printf("300-W validation faces: %d (every %dth by sorted name), each crop as given\n", n,
                    trainer::VALIDATION_EVERY);
    }
    std::printf("  tracked: %d of %d (%.1f %%); shape rejected: %d; not found: %d\n", tracked, n,
                n ? 100.0 * tracked / n : 0.0, rejected, n - tracked - rejected);
    std::printf("  core error of the tracked (17 points / hand-placed outer-eye distance; the shape nearest the "
                "hand-placed one): mean %.4f, median %.4f, above 0.10 %.1f %%\n",
                s.mean, s.median, 100.0 * s.above10);
    std::printf("  other faces found in the crops: %d; crops whose nearest shape is still above 0.10 with several "
                "faces found: %d\n",
                extraFaces, offFaceChosen);
    std::printf("  time per picture: median %.1f ms (all its kvo_update calls, host clock)\n", eval::summariseErrors(ms).median);
    std::printf("  of which finding: median %.1f ms; tracking a face: median %.1f ms, %.2f kvo_update and "
                "kvo_updateByEyes calls on average (%zu faces)\n",
                eval::summariseErrors(findMs).median, eval::summariseErrors(faceMs).median,
                faceMs.empty() ? 0.0 : double(faceCalls) / faceMs.size(), faceMs.size());
    if (run.withDlib) {
        std::printf("  dlib's detector, same crops: a face on the hand-placed shape in %d of %d (%.1f %%)\n", dlibFound,
                    n, n ? 100.0 * dlibFound / n : 0.0);
    }
    return 0;
}

int stills(const Run& run, const std::string& spec) {
    const std::vector<std::string> paths = listPictures(spec);
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    std::unique_ptr<HostTracker> tracker = makeTracker(run);
    cv::Mat canvas;
    int n = 0, tracked = 0, dlibFaces = 0, onDlibFace = 0, trackedWithoutDlib = 0;
    std::vector<std::string> missed;
    for (const std::string& path : paths) {
        const cv::Mat picture = cv::imread(path, cv::IMREAD_COLOR);
        if (picture.empty()) continue;
        ++n;
        const PictureResult pr = trackPicture(*tracker, run.settings, false, picture, canvas);
        const StillResult& r = pr.faces.empty() ? StillResult() : pr.faces.front();
        const bool ok = r.outcome == StillOutcome::Tracked;
        tracked += ok;
        const dlib::rectangle d = run.withDlib ? dlibFace(detector, picture) : dlib::rectangle();
        bool onFace = false;
        if (ok && !d.is_empty()) {
            const ShapeExtent e = extentOf(r.last.landmarks.data());
            const double dw = double(d.width());
            onFace = d.contains(dlib::point(long(e.centreX()), long(e.centreY()))) && e.width() > 0.5 * dw &&
                     e.width() < 2.0 * dw;
        }
        if (!d.is_empty()) {
            ++dlibFaces;
            onDlibFace += onFace;
            if (!onFace) missed.push_back(baseName(path) + (ok ? " (elsewhere)" : " (" + std::string(stillOutcomeName(r.outcome)) + ")"));
        } else {
            trackedWithoutDlib += ok;
        }
        if (run.perPicture) {
            std::fprintf(run.perPicture, "%s\t%s\t%d\t%s\t%.1f\n", baseName(path).c_str(), stillOutcomeName(r.outcome),
                         r.frames, d.is_empty() ? "no-dlib-face" : (onFace ? "on-dlib-face" : "off-dlib-face"),
                         r.updateMs);
        }
    }
    std::printf("still settings: %s\n", run.settings.describe().c_str());
    std::printf("refinement: %s\n", refinementSummary(tracker->refinement()).c_str());
    std::printf("pictures: %d; tracked: %d\n", n, tracked);
    if (run.withDlib) {
        std::printf("  dlib finds a face in %d; ours tracked on that face in %d of them (%.1f %%); tracked where dlib "
                    "finds none: %d\n",
                    dlibFaces, onDlibFace, dlibFaces ? 100.0 * onDlibFace / dlibFaces : 0.0, trackedWithoutDlib);
        std::string list;
        for (const std::string& m : missed) list += (list.empty() ? "" : ", ") + m;
        std::printf("  not on dlib's face: %s\n", list.empty() ? "none" : list.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Run run;
    run.library = KVO_LIBRARY_PATH;
    std::string faces, photos, groups, pasted, keepPicture, perPicturePath, perFacePath;
    StillSettings& s = run.settings;
    cli::CommandLine cl;
    bool fullScan = s.fullScan;
    cl.text("--faces300w", faces)
        .text("--stills", photos)
        .text("--group-photos", groups)
        .text("--pasted-groups", pasted)
        .text("--keep-picture", keepPicture)
        .text("--library", run.library)
        .text("--per-picture", perPicturePath)
        .text("--per-face", perFacePath)
        .flag("--no-dlib", [&] { run.withDlib = false; })
        .flag("--library-merge", [&] { s.hostGrouping = false; })
        .flag("--no-refine", [&] { run.refine = false; })
        .integer("--picture-side", s.canvas.pictureSide, 64, 2048)
        .number("--border", s.canvas.border, 0.0, 1.0)
        .number("--start-scale", s.startScale, 1.0, 1000.0)
        .number("--scale-increment", s.scaleIncrement, 0.001, 1000.0)
        .number("--max-scale", s.maxScale, 1.0, 1000.0)
        .number("--step-factor", s.stepFactor, 0.001, 1.0)
        .integer("--min-detections", s.minDetections, 1, 100000)
        .option("--full-scan", [&](const std::string& o, const std::string& v) { fullScan = cli::toSwitch(o, v); })
        .integer("--start-searches", s.startSearches, 5, 100)
        .number("--face-scale", s.faceScale, 0.25, 4.0)
        .number("--smallest-face", s.minFace, 0.0, 10000.0)
        .number("--tile-start-scale", s.tileWindows.startScale, 1.0, 100.0)
        .number("--tile-scale-increment", s.tileWindows.scaleIncrement, 0.01, 10.0)
        .number("--tile-max-scale", s.tileWindows.maxScale, 1.0, 100.0)
        .number("--tile-step-factor", s.tileWindows.stepFactor, 0.001, 1.0)
        .number("--finest-step-factor", s.tileWindows.finestStepFactor, 0.001, 1.0)
        .number("--face-side", s.faceSide, 0.0, 2048.0)
        .number("--face-enlargement", s.maxFaceEnlargement, 0.25, 16.0)
        .integer("--max-faces", s.maxFaces, 1, 1000)
        .integer("--restarts", s.restarts, 0, 5)
        .integer("--restart-searches", s.restartSearches, 5, 100)
        .number("--restart-settled", s.restartSettled, 0.0, 1.0)
        .number("--min-score", s.minScore, 0.0, 1e6)
        .number("--settle-scale", s.settleScale, 0.0, 10.0)
        .flag("--one-face", [&] { s.onlyStrongest = true; })
        .option("--split", [&](const std::string& o, const std::string& v) {
            if (v != "validation" && v != "training") throw cli::UsageError("bad value '" + v + "' for " + o + ": validation or training");
            run.training = v == "training";
        })
        .integer("--frames", s.framesPerPicture, 1, 1000);
    try {
        cl.parse(argc, argv);
        if (int(!faces.empty()) + int(!photos.empty()) + int(!groups.empty()) + int(!pasted.empty()) != 1) {
            throw cli::UsageError("give one of --faces300w DIR, --stills DIR|GLOB, --group-photos DIR or --pasted-groups DIR");
        }
    } catch (const cli::UsageError& e) {
        return cli::reportUsageError(e);
    }
    s.fullScan = fullScan;
    if (!perPicturePath.empty()) {
        run.perPicture = std::fopen(perPicturePath.c_str(), "w");
        if (run.perPicture == nullptr) {
            std::fprintf(stderr, "Error: cannot write '%s'\n", perPicturePath.c_str());
            return 2;
        }
    }
    if (!perFacePath.empty()) {
        run.perFace = std::fopen(perFacePath.c_str(), "w");
        if (run.perFace == nullptr) {
            std::fprintf(stderr, "Error: cannot write '%s'\n", perFacePath.c_str());
            return 2;
        }
    }
    int rc = 0;
    try {
        if (!pasted.empty()) {
            rc = pastedGroups(run, pasted, keepPicture);
        } else if (!groups.empty()) {
            rc = groupPhotos(run, groups);
        } else {
            rc = faces.empty() ? stills(run, photos) : faces300w(run, faces);
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "Error: %s\n", e.what());
        rc = 2;
    } catch (const kvohost::HostError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        rc = 2;
    }
    if (run.perPicture) std::fclose(run.perPicture);
    if (run.perFace) std::fclose(run.perFace);
    return rc;
}
