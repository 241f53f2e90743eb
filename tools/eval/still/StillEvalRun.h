#pragma once
// What one still_eval run measures with, shared by its modes: the still settings, the
// library, whether dlib runs beside it and the refinement is asked for, and the optional
// per-picture and per-face outputs; and the tracker every mode starts the same way.
//
// Thread safety: a plain value; makeTracker() loads and starts a tracker of its own.
#include <cstdio>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "HostTracker.h"
#include "StillTracking.h"

namespace kvo {
namespace app {

struct StillEvalRun {
    StillSettings settings;
    std::string library;
    bool withDlib = true;
    bool training = false;  // a fifth of the training faces instead of the validation faces
    bool refine = true;     // ask for the landmark refinement, as kestavo does by default
    std::FILE* perPicture = nullptr;
    std::FILE* perFace = nullptr;
};

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
