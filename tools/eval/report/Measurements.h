#pragma once
// What one evaluation run measures: its settings and every figure the report is made of.
//
// What it represents: plain records, filled by the measuring functions of evaluate.cpp
// in the order they run and read by the report writer. Times in ms, memory in KiB.
// Thread safety: plain values.
#include <cmath>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kvoeval {

struct Options {
    bool help = false;
    std::string out = "out/report";
    std::string extra;
    std::string shapeModel;  // empty: the embedded model
    int stride = 4;
    int stageFrames = 400;
    int consistencyFrames = 400;
    int memoryFrames = 10000;
    int maxFrames = 0;  // 0: whole videos
    bool refine = true;  // the landmark refinement in every tracker of ours (--no-refine: off)
};

struct DetectionTally {
    int frames = 0;
    int ours = 0, opencv = 0, dlib = 0;
    std::vector<double> oursMs, opencvMs, dlibMs;
    std::vector<double> iouOursOpencv, iouOursDlib, iouOpencvDlib;
};

struct VideoResult {
    std::string name;
    int frames = 0;
    int tracked = 0;
    int redetections = 0;
    DetectionTally detection;
    std::vector<double> error;                      // per compared frame
    std::vector<std::vector<double>> groupError;    // per group, per compared frame
    std::vector<double> windowError;                // mean error per 100-frame window
    int comparedFrames = 0, dlibFaceFrames = 0;
    // Stage times (ms) on tracked frames.
    std::vector<double> greyMs, pyramidMs, detectMs, searchMs, searchNoCandideMs, searchNoStabMs;
    std::vector<double> candidePairedMs, totalMs;
    // Stability and consistency.
    double jitterOn = NAN, jitterOff = NAN, jitterDlib = NAN, stillJitterOn = NAN, stillJitterOff = NAN,
           stillJitterDlib = NAN;
    int stillStart = 0, stillFrames = 0;
    std::map<std::string, std::vector<double>> disagreement;
};

// kvo_init and kvo_update through the stand-in host (NaN when not measured).
struct HostFigures {
    std::string libraryPath;
    double initMs = NAN, updateMedianMs = NAN, updateP95Ms = NAN;
};

// The detector's window range in frame pixels, given to OpenCV's detector too.
struct DetectorWindow {
    double minFace = 96, maxFace = 288;
};

// Kestavo::init of five trackers.
struct InitFigures {
    std::vector<double> initMs;
    bool modelLoaded = false;
};

// 100 points tracked by ours and by OpenCV on the same frames.
struct PointTrackingFigures {
    std::vector<double> oursMs, opencvMs;
    std::vector<double> gapPx;  // distance between the two trackers' points
};

// One tracker looped over the kept frames.
struct MemoryFigures {
    size_t allocations = 0;
    int countedFrames = 0;
    long rss100Kb = 0, rssEndKb = 0;
    size_t keptFrames = 0;
};

struct Results {
    double runMinutes = NAN;
    HostFigures host;
    DetectorWindow window;
    InitFigures init;
    std::vector<VideoResult> videos;  // franck.mp4 first
    std::vector<std::pair<std::string, DetectionTally>> stills;
    PointTrackingFigures points;
    MemoryFigures memory;
};

}  // namespace kvoeval
