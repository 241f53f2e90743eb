#pragma once
// A video tracked as a user runs it, scored against hand-checked shapes of its frames in
// our own layout (FrameAnnotations), by feature group (OurLayoutError); dlib's detector and
// 68-point predictor scored beside it on the points both layouts share.
//
// What it represents: one run of track_eval --franck-annotations. With the embedded model
// the library is loaded through the stand-in host and driven by its named functions:
// kvo_init with the whole first frame, kvo_setFaceTrackingVars only when a finest search
// level is asked for (its first three arguments the library's defaults), then kvo_update
// on every frame, and the landmarks read back with kvo_get_faceShape_faceShapeVectices.
// With a model text or a refiner model given (candidates that are not embedded) the same
// calls go to the tracker object in this process, which those named functions wrap.
// A frame is scored when it is annotated and the tracker reports "state_face_tracking"
// after it; the run ends after the last annotated frame.
//
// Thread safety: none; the host route loads the library once per process (a second
// kvo_init in the same process would be refused), so call run once per process.
#include <string>

#include "eval/OurLayoutError.h"
#include "TrackEvalModes.h"
#include "eval/FrameAnnotations.h"

namespace kvo {
namespace trainer {

using eval::FrameShapes;

struct AnnotatedVideoOptions {
    std::string video;        // the annotated video
    std::string library;      // libKestavo.so, for the embedded model
    std::string modelText;    // a shape-model JSON text; empty: the embedded model
    // Through the host: the finest level is kvo_setFaceTrackingVars' fourth argument and the
    // refinement its fifth (called when a level is given or the refinement is on); a
    // refiner model's bytes move the run into this process.
    trackeval::TrackerSettings tracking;
    bool withDlib = true;     // also score dlib's detector + predictor on every annotated frame
    std::string perPointPath; // when set, one line per landmark: mean error, mean offset x, y
};

struct AnnotatedVideoResult {
    int framesRun = 0;   // frames fed
    int annotated = 0;   // annotated frames among them
    int tracked = 0;     // of those, in "state_face_tracking" (the scored frames)
    eval::ErrorTally ours;  // per scored frame
    int dlibFound = 0;   // annotated frames where dlib's detector found a face
    std::vector<double> dlibShared13, dlibCore17;  // dlib's error on the 13 and 17 shared points
    std::vector<double> oursCore17;                // ours on the 17 (scored frames)
    // Per landmark, the sum over scored frames of the signed offset (fit - annotation) in
    // annotated outer-eye distances, x then y (image axes): the systematic part of the error.
    std::vector<double> offsetSum = std::vector<double>(136, 0.0);
    std::vector<double> errorSum = std::vector<double>(68, 0.0);  // distance / eye distance, per landmark
};

// The 17 points our layout shares with dlib's as the same anatomical point.
const std::vector<int>& core17Points();

// Requires: the video opens; `annotations` not empty. Returns false, with `error`, when
// the video or the library cannot be opened.
bool runAnnotatedVideo(const AnnotatedVideoOptions& options, const FrameShapes& annotations,
                       AnnotatedVideoResult& result, std::string& error);

// The report: frames, then one line per group (mean, median, share above 0.10), ours and
// dlib's; with perPointPath, the per-landmark figures written there (false when it cannot be).
bool printAnnotatedVideoReport(const AnnotatedVideoOptions& options, const AnnotatedVideoResult& result);

}  // namespace trainer
}  // namespace kvo
