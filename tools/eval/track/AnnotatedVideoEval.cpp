#include "AnnotatedVideoEval.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include <dlib/opencv.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "LandmarkCorrespondence.h"
#include "TrainingSet.h"
#include "host/HostRuntime.h"
#include "eval/DlibPeer.h"

namespace kvo {
namespace trainer {

// The landmark error in our layout and its summaries.
using namespace eval;

namespace {

const char* const kTracking = "state_face_tracking";

// The tracker fed one way or the other; shape() is the 68 landmarks after the last frame.
class FrameTracker {
public:
    virtual ~FrameTracker() = default;
    // Feeds one BGR frame (the first one's size throughout); returns the state name.
    virtual std::string feed(const cv::Mat& bgr) = 0;
    virtual std::vector<double> shape() = 0;
};

// The library loaded through the stand-in host, driven by its named functions.
class HostFrameTracker : public FrameTracker {
public:
    HostFrameTracker(const std::string& library, int finestLevel, bool refine)
        : ext_(rt_, library), finestLevel_(finestLevel), refine_(refine) {
        update_ = ext_.find("kvo_update");
        vertices_ = ext_.find("kvo_get_faceShape_faceShapeVectices");
    }
    std::string feed(const cv::Mat& bgr) override {
        cv::cvtColor(bgr, bgra_, cv::COLOR_BGR2BGRA);
        if (!bgra_.isContinuous()) bgra_ = bgra_.clone();
        const uint32_t* pixels = reinterpret_cast<const uint32_t*>(bgra_.data);
        if (bitmap_ == nullptr) {
            bitmap_ = rt_.bitmap(static_cast<uint32_t>(bgr.cols), static_cast<uint32_t>(bgr.rows), pixels);
            kvohost::Runtime::Scope scope(rt_);
            ext_.call("kvo_init", bitmap_, rt_.number(0), rt_.number(0), rt_.number(bgr.cols), rt_.number(bgr.rows));
            if (finestLevel_ >= 0 || refine_)
                ext_.call("kvo_setFaceTrackingVars", rt_.number(50), rt_.number(500), rt_.integer(1),
                          rt_.integer(finestLevel_ >= 0 ? finestLevel_ : 2), rt_.boolean(refine_));
        } else {
            rt_.setBitmapPixels(bitmap_, pixels);
        }
        kvohost::Runtime::Scope scope(rt_);
        FREObject argv[1] = {bitmap_};
        return rt_.toString(ext_.invoke(*update_, 1, argv));
    }
    std::vector<double> shape() override {
        kvohost::Runtime::Scope scope(rt_);
        FREObject argv[1] = {rt_.array()};
        ext_.invoke(*vertices_, 1, argv);
        return rt_.toNumbers(argv[0]);
    }

private:
    kvohost::Runtime rt_;
    kvohost::Extension ext_;
    int finestLevel_;
    bool refine_;
    const FRENamedFunction* update_ = nullptr;
    const FRENamedFunction* vertices_ = nullptr;
    FREObject bitmap_ = nullptr;
    cv::Mat bgra_;
};

// The tracker object in this process with a model text that is not embedded; the same
// grey conversion and calls the named functions make.
class InProcessFrameTracker : public FrameTracker {
public:
    InProcessFrameTracker(const std::string& modelText, const trackeval::TrackerSettings& settings)
        : model_(modelText), settings_(settings) {}
    std::string feed(const cv::Mat& bgr) override {
        const cv::Mat grey = toLibraryGrey(bgr);
        if (!tracker_) tracker_.reset(new trackeval::Tracker(grey.cols, grey.rows, model_, settings_));
        return tracker_->feed(grey);
    }
    std::vector<double> shape() override { return tracker_->shape(); }

private:
    std::string model_;
    trackeval::TrackerSettings settings_;
    std::unique_ptr<trackeval::Tracker> tracker_;
};

void printLine(const char* what, const ErrorSummary& s) {
    std::printf("  %-22s %5d  %.4f  %.4f  %5.1f %%\n", what, s.count, s.mean, s.median, 100.0 * s.above10);
}

}  // namespace

const std::vector<int>& core17Points() {
    static const std::vector<int> points = [] {
        std::vector<int> v;
        for (const landmarks::LandmarkPair& p : landmarks::sharedPairs())
            if (p.core) v.push_back(p.ours);
        return v;
    }();
    return points;
}

bool runAnnotatedVideo(const AnnotatedVideoOptions& o, const FrameShapes& annotations, AnnotatedVideoResult& r,
                       std::string& error) {
    cv::VideoCapture video(o.video);
    if (!video.isOpened()) {
        error = "cannot open the video " + o.video;
        return false;
    }
    std::unique_ptr<FrameTracker> tracker;
    try {
        if (o.modelText.empty() && o.tracking.refinerModel.empty())
            tracker.reset(new HostFrameTracker(o.library, o.tracking.finestLevel, o.tracking.refine));
        else
            tracker.reset(new InProcessFrameTracker(o.modelText, o.tracking));
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    std::unique_ptr<eval::DlibPeer> dlibPeer;
    if (o.withDlib) dlibPeer.reset(new eval::DlibPeer());
    const int lastFrame = annotations.rbegin()->first;
    const std::vector<int>& shared13 = ourGroupPoints(OurGroup::ClmShared);
    cv::Mat bgr;
    for (int f = 0; f <= lastFrame && video.read(bgr); ++f) {
        ++r.framesRun;
        const std::string state = tracker->feed(bgr);
        const auto it = annotations.find(f);
        if (it == annotations.end()) continue;
        ++r.annotated;
        const double* ref = it->second.data();
        if (state == kTracking) {
            const std::vector<double> s = tracker->shape();
            GroupErrors e;
            if (s.size() == 136 && ourLayoutError(s.data(), ref, e)) {
                ++r.tracked;
                r.ours.add(e);
                r.oursCore17.push_back(pointSetError(s.data(), ref, core17Points()));
                const double eyes = landmarks::outerEyeDistance(ref, landmarks::Layout::Ours);
                for (int k = 0; k < 136; ++k) r.offsetSum[k] += (s[k] - ref[k]) / eyes;
                for (int i = 0; i < 68; ++i)
                    r.errorSum[i] += std::hypot(s[2 * i] - ref[2 * i], s[2 * i + 1] - ref[2 * i + 1]) / eyes;
            }
        }
        if (!o.withDlib) continue;
        dlib::cv_image<dlib::bgr_pixel> img(bgr);
        const std::vector<dlib::rectangle> dets = dlibPeer->faces(img);
        if (dets.empty()) continue;
        const std::vector<double> dl = dlibPeer->landmarks(img, dets[eval::DlibPeer::nearestFace(dets, ref)]);
        std::vector<double> ours(136, NAN);
        std::array<bool, landmarks::NUM_POINTS> known{};
        landmarks::dlibToOurs(dl.data(), ours.data(), known);
        ++r.dlibFound;
        r.dlibShared13.push_back(pointSetError(ours.data(), ref, shared13));
        r.dlibCore17.push_back(pointSetError(ours.data(), ref, core17Points()));
    }
    return true;
}

bool printAnnotatedVideoReport(const AnnotatedVideoOptions& o, const AnnotatedVideoResult& r) {
    std::printf("annotated video %s: %d frames run, %d annotated, %d of them in \"%s\" and scored (%.2f %%)\n",
                o.video.c_str(), r.framesRun, r.annotated, r.tracked, kTracking,
                100.0 * r.tracked / std::max(1, r.annotated));
    std::printf("model: %s; finest level searched once tracking: %s\n",
                o.modelText.empty() && o.tracking.refinerModel.empty()
                    ? ("embedded, through the stand-in host (" + o.library + ")").c_str()
                    : "the given texts, tracker in this process",
                o.tracking.finestLevel < 0 ? "2 (the library's default; kvo_setFaceTrackingVars not called)"
                                           : std::to_string(o.tracking.finestLevel).c_str());
    std::printf("landmark refinement: %s\n", !o.tracking.refine ? "off (--no-refine)"
                                                          : o.tracking.refinerModel.empty() ? "on, the embedded model"
                                                                                            : "on, the given refiner model");
    std::printf("error / annotated outer-eye distance (27-32), per frame:\n");
    std::printf("  %-22s %5s  %-6s  %-6s  %s\n", "points", "n", "mean", "median", "> 0.10");
    for (int g = 0; g < NUM_OUR_GROUPS; ++g) printLine(ourGroupName(static_cast<OurGroup>(g)), r.ours.summary(static_cast<OurGroup>(g)));
    printLine("17 shared with dlib", summariseErrors(r.oursCore17));
    // The systematic part: each landmark's mean offset over the scored frames; per group the
    // mean length of those offsets, and for the nose tip the offset itself.
    std::printf("systematic part (length of each landmark's mean offset, averaged over the group):\n ");
    const double n = std::max(1, r.tracked);
    for (int g = 0; g < NUM_OUR_GROUPS; ++g) {
        double sum = 0.0;
        const std::vector<int>& points = ourGroupPoints(static_cast<OurGroup>(g));
        for (int i : points) sum += std::hypot(r.offsetSum[2 * i] / n, r.offsetSum[2 * i + 1] / n);
        std::printf(" %s %.4f%s", ourGroupName(static_cast<OurGroup>(g)), sum / points.size(),
                    g + 1 < NUM_OUR_GROUPS ? ";" : "\n");
    }
    std::vector<std::pair<double, int>> byOffset;
    for (int i = 0; i < 68; ++i) byOffset.emplace_back(std::hypot(r.offsetSum[2 * i], r.offsetSum[2 * i + 1]) / n, i);
    std::sort(byOffset.rbegin(), byOffset.rend());
    std::printf("  the 10 largest mean offsets (landmark: x, y; y down):");
    for (int k = 0; k < 10; ++k) {
        const int i = byOffset[k].second;
        std::printf(" %d: %+.3f, %+.3f%s", i, r.offsetSum[2 * i] / n, r.offsetSum[2 * i + 1] / n, k < 9 ? ";" : "\n");
    }
    std::printf("  nose tip mean offset: x %+.4f, y %+.4f (y down)\n", r.offsetSum[2 * 67] / n, r.offsetSum[2 * 67 + 1] / n);
    if (!o.perPointPath.empty()) {
        std::FILE* f = std::fopen(o.perPointPath.c_str(), "w");
        if (f == nullptr) return false;
        std::fprintf(f, "landmark\tmean_error\tmean_dx\tmean_dy\n");
        for (int i = 0; i < 68; ++i)
            std::fprintf(f, "%d\t%.5f\t%+.5f\t%+.5f\n", i, r.errorSum[i] / n, r.offsetSum[2 * i] / n, r.offsetSum[2 * i + 1] / n);
        if (std::fclose(f) != 0) return false;
    }
    if (o.withDlib) {
        std::printf("dlib detector + 68-point predictor on the same frames: %d of %d found\n", r.dlibFound, r.annotated);
        printLine("13 shared", summariseErrors(r.dlibShared13));
        printLine("17 shared with dlib", summariseErrors(r.dlibCore17));
    }
    return true;
}

}  // namespace trainer
}  // namespace kvo
