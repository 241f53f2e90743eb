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
//   An unknown option, an option without its value or a value that is not a number where
//   one is needed stops the run with one "Error: ..." line (exit status 2). Each mode is
//   a file of its own (TrackVideoMode, TrackLabelsMode, Track300WMode; the annotated video
//   is AnnotatedVideoEval); this file reads the options and runs them.
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
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "AnnotatedVideoEval.h"
#include "CommandLine.h"
#include "TrackEvalModes.h"
#include "eval/Files.h"
#include "eval/FrameAnnotations.h"
#include "refine/RefinerModel.h"

using namespace kvo;
using namespace kvo::trainer;
using namespace trackeval;

int main(int argc, char** argv) {
    std::string modelPath, labels, media, refinerPath;
    Faces300WOptions f;
    f.muctPath = KVO_MUCT_SHAPES;
    VideoOptions o;
    TrackerSettings settings;
    std::string annotationsDir, perPointPath, library = KVO_LIBRARY_PATH;
    cli::CommandLine cl;
    cl.flag("--trace-still", [&] { o.traceStill = true; })
        .flag("--no-refine", [&] { settings.refine = false; })
        .flag("--no-dlib", [&] { f.withDlib = false; })
        .flag("--shapes-only", [&] { f.shapesOnly = true; })
        .text("--video", o.video)
        .text("--model", modelPath)
        .integer("--step", o.step, 1, 1000000)
        .integer("--frames", o.maxFrames, 0, 100000000)
        .text("--dlib-cache", o.cachePath)
        .text("--draw", o.drawDir)
        .integer("--still-feeds", o.stillFeeds, 2, 1000000)
        .text("--labels", labels)
        .text("--media", media)
        .text("--faces300w", f.dir)
        .text("--per-face", f.perFacePath)
        .text("--contact-sheet", f.sheetPath)
        .text("--muct", f.muctPath)
        .integer("--frame", f.side, -1000000, 1000000)
        .number("--face-width", f.faceWidth, -1e6, 1e6)
        .integer("--min-detections", f.minDetections, -1000000, 1000000)
        .text("--franck-annotations", annotationsDir)
        .text("--per-point", perPointPath)
        .text("--library", library)
        .text("--refiner", refinerPath)
        .option("--fine-search", [&](const std::string&, const std::string& v) {
            if (v != "0" && v != "1" && v != "2") throw cli::UsageError("--fine-search must be 0, 1 or 2");
            settings.finestLevel = std::atoi(v.c_str());
        })
        .option("--still-frames", [&](const std::string& option, const std::string& v) {
            std::stringstream ss(v);
            std::string item;
            while (std::getline(ss, item, ','))
                o.stillFrames.push_back(static_cast<int>(cli::toInteger(option, item, 0, 100000000)));
        });
    try {
        cl.parse(argc, argv);
    } catch (const cli::UsageError& e) {
        return cli::reportUsageError(e);
    }
    if (!refinerPath.empty()) {
        settings.refinerModel = eval::readFile(refinerPath);
        RefinerModel parsed;
        std::string why;
        if (settings.refinerModel.empty()) {
            std::fprintf(stderr, "Error: cannot read the refiner model %s\n", refinerPath.c_str());
            return 1;
        }
        if (!parseRefinerModel(settings.refinerModel, parsed, why)) {
            std::fprintf(stderr, "Error: %s: %s\n", refinerPath.c_str(), why.c_str());
            return 1;
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
        if (!eval::readFrameAnnotationsDir(annotationsDir, annotations, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        AnnotatedVideoOptions a;
        a.video = o.video.empty() ? std::string(KVO_MEDIA_DIR) + "/franck.mp4" : o.video;
        a.library = library;
        a.modelText = o.model;
        a.tracking = settings;
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
        return faces300wMode(f, settings);
    }
    if (!labels.empty()) return labelsMode(labels, media, o.model, settings);
    if (o.video.empty()) {
        std::fprintf(stderr, "usage: track_eval --video FILE [--model JSON] ... | --labels TSV --media DIR | --faces300w DIR\n");
        return 2;
    }
    return videoMode(o, settings);
}
