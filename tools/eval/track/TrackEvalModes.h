#pragma once
// The modes of track_eval (track_eval.cpp says what each measures) and the tracker they
// drive: kvo::Kestavo in this process on grey frames, set up as the run's options say.
//
// Thread safety: a mode runs on the calling thread; a Tracker is used by one thread.
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "eval/GreyFrame.h"
#include "eval/PointValues.h"
#include "math/Point.h"
#include "tracker/Kestavo.h"

namespace trackeval {

// What every tracker of a run is set to: the finest pyramid level searched once tracking
// (--fine-search; -1: the library's default), the landmark refinement (on unless
// --no-refine) and a refiner model to use instead of the embedded one (--refiner).
struct TrackerSettings {
    int finestLevel = -1;
    bool refine = true;
    std::string refinerModel;
};

// A tracker on a frame size, with the model given or the embedded one.
struct Tracker {
    // Requires: w, h > 0 (pixels); `model` a shape-model document or empty for the
    // embedded model.
    Tracker(int w, int h, const std::string& model, const TrackerSettings& settings) : input(w, h) {
        kestavo.init(&input, nullptr, model.empty() ? nullptr : model.c_str());
        if (settings.finestLevel >= 0) kestavo.asmSearch.finestTrackingLevel = settings.finestLevel;
        if (!settings.refinerModel.empty()) kestavo.asmSearch.refiner.load(settings.refinerModel);
        kestavo.asmSearch.refineEnabled = settings.refine && kestavo.asmSearch.refiner.loaded();
    }
    const std::string& feed(const cv::Mat& grey) {
        input.setRows(grey.data, grey.step[0]);
        return kestavo.update();
    }
    // Starts a track from two eye positions (input pixels), as a host would with
    // kvo_updateByEyes, and runs `searches` searches on this frame.
    const std::string& startByEyes(const cv::Mat& grey, double x0, double y0, double x1, double y1, int searches) {
        input.setRows(grey.data, grey.step[0]);
        return kestavo.updateByEyes(std::make_shared<kvo::Point>(x0, y0), std::make_shared<kvo::Point>(x1, y1), searches);
    }
    std::vector<double> shape() const { return kvo::eval::flatXY(kestavo.faceShape.points); }
    kvo::eval::GreyFrame input;
    kvo::Kestavo kestavo;
};

struct VideoOptions {
    std::string video, model, cachePath, drawDir;
    int step = 4, maxFrames = 0;
    std::vector<int> stillFrames;
    int stillFeeds = 50;      // feeds of each still frame
    bool traceStill = false;  // print every feed's largest move
};

struct Faces300WOptions {
    std::string dir, model, perFacePath, sheetPath, muctPath;
    bool withDlib = true;
    bool shapesOnly = false;  // contact-sheet tiles without the photograph
    int side = 400;           // frame side, pixels
    double faceWidth = 160;   // hand-placed points' width in the frame, pixels
    int minDetections = 12;   // the detector's, for the detector-started tracks
};

// Each mode prints its report on standard output and returns the exit status (0 on
// success; "Error: ..." lines on standard error otherwise).
int videoMode(const VideoOptions& o, const TrackerSettings& settings);
int labelsMode(const std::string& labelsPath, const std::string& media, const std::string& model,
               const TrackerSettings& settings);
int faces300wMode(const Faces300WOptions& o, const TrackerSettings& settings);

}  // namespace trackeval
