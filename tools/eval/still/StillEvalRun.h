#pragma once
// What one still_eval run measures with, shared by its modes: the still settings, the
// library, whether dlib runs beside it and the refinement is asked for, and the optional
// per-picture and per-face outputs; and the tracker every mode starts the same way.
//
// Thread safety: a plain value; makeTracker() loads and starts a tracker of its own.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "Faces300W.h"
#include "HostTracker.h"
#include "StillTracking.h"

namespace kvo {
namespace app {

struct StillEvalRun {
    StillSettings settings;
    std::string library;
    bool withDlib = true;
    bool training = false;  // every TRAINING_EVERY-th training face instead of the validation faces
    bool refine = true;     // ask for the landmark refinement, as kestavo does by default
    std::FILE* perPicture = nullptr;
    std::FILE* perFace = nullptr;
};

// Training runs (for choosing settings without the validation faces) take every
// TRAINING_EVERY-th face outside the validation split, in the faces' order.
constexpr int TRAINING_EVERY = 5;

// The 300-W faces the run measures, in their order: the validation split, or with
// `training` every TRAINING_EVERY-th of the others.
inline std::vector<const trainer::Face300W*> measuredFaces(const StillEvalRun& run,
                                                           const std::vector<trainer::Face300W>& faces) {
    std::vector<const trainer::Face300W*> picked;
    int trainingSeen = 0;
    for (const trainer::Face300W& f : faces) {
        if (run.training ? (!f.validation && trainingSeen++ % TRAINING_EVERY == 0) : f.validation) picked.push_back(&f);
    }
    return picked;
}

// A tracker on a canvas-sized frame with the still detection settings, as kestavo starts
// one for pictures. Throws AppError when the library cannot be loaded.
inline std::unique_ptr<HostTracker> makeTracker(const StillEvalRun& run) {
    std::unique_ptr<HostTracker> t(new HostTracker(run.library));
    const int side = run.settings.canvas.side();
    const double roi[4] = {0, 0, double(side), double(side)};
    Options options;
    options.refine = run.refine;
    t->init(cv::Mat(side, side, CV_8UC3, cv::Scalar::all(0)), roi, options);
    setStillDetection(*t, run.settings);
    return t;
}

}  // namespace app
}  // namespace kvo
