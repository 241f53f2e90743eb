// Point tracking speed: 100 points on consecutive 640 x 480 grey frames of the sample
// video, window 21, 4 levels, 25 iterations. Each frame is one pyramid build and one
// tracking pass, as in the tracker's point-tracking mode:
//   ours:   ImageDataManager::update(3) + OpticalFlow::update
//   OpenCV: buildOpticalFlowPyramid + calcOpticalFlowPyrLK (same window, levels,
//           iterations and stopping step)
// Ours runs with the tracker's parked worker and on the calling thread alone. Prints the
// median time per frame of each and their ratio (ours / OpenCV), and the median distance
// between the two trackers' results.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "flow/OpticalFlow.h"
#include "util/ParkedWorkers.h"
#include "image/ImageDataManager.h"
#include "image/InputData.h"
#include "math/Rectangle.h"

#if KVO_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPoints = 100;
constexpr int kWindow = 21;
constexpr int kLevels = 4;
constexpr int kIterations = 25;
constexpr double kEpsilon = 0.0006;  // squared step, pixels^2 (OpenCV takes its root)

class GreyInput : public kvo::InputData {
public:
    GreyInput() : kvo::InputData(kWidth, kHeight) {}
    unsigned char* getData() override { return current; }
    unsigned char* current = nullptr;
};

struct Media {
    std::vector<std::vector<unsigned char>> frames;  // kWidth x kHeight grey
    std::vector<std::pair<double, double>> points;   // start points, pixels
};

Media& media() {
    static Media m;
    if (!m.frames.empty()) return m;
#if KVO_HAVE_OPENCV
    cv::VideoCapture video(std::string(KVO_MEDIA_DIR) + "/franck.mp4");
    cv::Mat bgr, grey, sized;
    for (int i = 0; i < 40 && video.read(bgr); ++i) {
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
        cv::resize(grey, sized, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_LINEAR);
        m.frames.emplace_back(sized.data, sized.data + kWidth * kHeight);
    }
    if (!m.frames.empty()) {
        cv::Mat first(kHeight, kWidth, CV_8UC1, m.frames[0].data());
        std::vector<cv::Point2f> corners;
        cv::goodFeaturesToTrack(first, corners, kPoints, 0.01, 10.0);
        for (const cv::Point2f& c : corners) m.points.emplace_back(c.x, c.y);
    }
#endif
    if (m.frames.empty()) {
        // Without the video: a moving synthetic pattern.
        for (int f = 0; f < 40; ++f) {
            std::vector<unsigned char> img(kWidth * kHeight);
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    img[y * kWidth + x] = static_cast<unsigned char>(
                        128 + 60 * std::sin(0.11 * (x - 0.7 * f)) * std::cos(0.07 * (y + 0.4 * f)));
            m.frames.push_back(img);
        }
    }
    for (int i = static_cast<int>(m.points.size()); i < kPoints; ++i) {
        m.points.emplace_back(60.0 + (i % 10) * 52.0, 50.0 + (i / 10) * 38.0);
    }
    return m;
}

// Ours; argument: 1 with the tracker's parked worker, as kvo_init starts it; 0 on the
// calling thread only.
void ourPointTracking(benchmark::State& state, bool parkedWorker) {
    Media& m = media();
    GreyInput input;
    input.current = m.frames[0].data();
    kvo::Rectangle roi(0, 0, kWidth, kHeight);
    kvo::ImageDataManager manager;
    manager.init(&input, &roi);
    manager.update(3);
    kvo::OpticalFlow flow(manager);
    kvo::ParkedWorkers workers;
    if (parkedWorker) workers.start(1);
    manager.workers = &workers;
    flow.workers = &workers;
    flow.init();
    flow.patchSize(kWindow);
    flow.levels = kLevels;
    flow.iterations = kIterations;
    flow.epsilon = kEpsilon;
    std::vector<kvo::PointPtr> points;
    for (const auto& p : m.points) points.push_back(std::make_shared<kvo::Point>(p.first, p.second));
    std::vector<bool> states;
    size_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < points.size(); ++i) {
            points[i]->x = m.points[i].first;
            points[i]->y = m.points[i].second;
        }
        states.assign(points.size(), true);
        input.current = m.frames[next].data();
        next = next + 1 < m.frames.size() ? next + 1 : 1;
        state.ResumeTiming();
        manager.update(3);
        benchmark::DoNotOptimize(flow.update(points, states));
    }
}

#if KVO_HAVE_OPENCV
void openCvPointTracking(benchmark::State& state) {
    Media& m = media();
    const cv::Size win(kWindow, kWindow);
    const cv::TermCriteria criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kIterations,
                                    std::sqrt(kEpsilon));
    std::vector<cv::Mat> previous, current;
    cv::buildOpticalFlowPyramid(cv::Mat(kHeight, kWidth, CV_8UC1, m.frames[0].data()), previous, win,
                                kLevels - 1);
    std::vector<cv::Point2f> in, out;
    for (const auto& p : m.points) in.emplace_back(static_cast<float>(p.first), static_cast<float>(p.second));
    std::vector<unsigned char> status;
    std::vector<float> err;
    size_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const cv::Mat frame(kHeight, kWidth, CV_8UC1, m.frames[next].data());
        next = next + 1 < m.frames.size() ? next + 1 : 1;
        state.ResumeTiming();
        cv::buildOpticalFlowPyramid(frame, current, win, kLevels - 1);
        cv::calcOpticalFlowPyrLK(previous, current, in, out, status, err, win, kLevels - 1, criteria);
        std::swap(previous, current);
        benchmark::DoNotOptimize(out.data());
    }
}

#endif

// Arguments: 0 ours, 1 OpenCV's; for ours, 1 with the parked worker, 0 without.
void BM_PointTracking(benchmark::State& state) {
    const bool openCv = state.range(0) != 0, parkedWorker = state.range(1) != 0;
    state.SetLabel(openCv ? "OpenCV" : parkedWorker ? "ours, parked worker" : "ours, calling thread only");
#if KVO_HAVE_OPENCV
    if (openCv) return openCvPointTracking(state);
#else
    if (openCv) return state.SkipWithError("built without OpenCV");
#endif
    ourPointTracking(state, parkedWorker);
}

#if KVO_HAVE_OPENCV
// Median distance between the two trackers over all frame pairs (pixels).
void reportAgreement() {
    Media& m = media();
    GreyInput input;
    kvo::Rectangle roi(0, 0, kWidth, kHeight);
    kvo::ImageDataManager manager;
    input.current = m.frames[0].data();
    manager.init(&input, &roi);
    manager.update(3);
    kvo::OpticalFlow flow(manager);
    flow.init();
    flow.patchSize(kWindow);
    flow.iterations = kIterations;
    flow.epsilon = kEpsilon;
    const cv::Size win(kWindow, kWindow);
    const cv::TermCriteria criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, kIterations,
                                    std::sqrt(kEpsilon));
    std::vector<double> d;
    for (size_t f = 1; f < m.frames.size(); ++f) {
        input.current = m.frames[f].data();
        manager.update(3);
        std::vector<kvo::PointPtr> pts;
        for (const auto& p : m.points) pts.push_back(std::make_shared<kvo::Point>(p.first, p.second));
        std::vector<bool> states;
        flow.lastPointCount = 0;
        flow.update(pts, states);
        std::vector<cv::Point2f> in, out;
        for (const auto& p : m.points) in.emplace_back(static_cast<float>(p.first), static_cast<float>(p.second));
        std::vector<unsigned char> status;
        std::vector<float> err;
        cv::calcOpticalFlowPyrLK(cv::Mat(kHeight, kWidth, CV_8UC1, m.frames[f - 1].data()),
                                 cv::Mat(kHeight, kWidth, CV_8UC1, m.frames[f].data()), in, out, status,
                                 err, win, kLevels - 1, criteria);
        for (size_t i = 0; i < pts.size() && i < out.size(); ++i) {
            if (states[i] && status[i]) d.push_back(std::hypot(pts[i]->x - out[i].x, pts[i]->y - out[i].y));
        }
    }
    std::sort(d.begin(), d.end());
    if (!d.empty()) {
        std::printf("agreement with OpenCV: median %.4f px, 90th percentile %.4f px over %zu tracks\n",
                    d[d.size() / 2], d[d.size() * 9 / 10], d.size());
    }
}
#endif

// Keeps the median of each benchmark's repetitions for the closing comparison.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
                medians[r.run_name.args] = r.GetAdjustedRealTime();
                cpuMedians[r.run_name.args] = r.GetAdjustedCPUTime();
            }
        }
    }
    // By the row's arguments ("opencv:0/parked_worker:1").
    std::map<std::string, double> medians;     // wall time, in the benchmarks' time unit
    std::map<std::string, double> cpuMedians;  // process CPU time
};

}  // namespace

// Wall time per frame decides; the CPU column is the whole process's (all threads), which
// shows the work done independently of how busy the machine is.
BENCHMARK(BM_PointTracking)->ArgNames({"opencv", "parked_worker"})->Args({0, 1})->Args({0, 0})->Args({1, 0})
    ->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true)->UseRealTime()->MeasureProcessCPUTime();

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("%zu frames, %zu points, window %d, %d levels, %d iterations\n", media().frames.size(),
                media().points.size(), kWindow, kLevels, kIterations);
#if KVO_HAVE_OPENCV
    std::printf("OpenCV threads: %d\n", cv::getNumThreads());
#endif
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* kOurs = "opencv:0/parked_worker:1";
    const char* kTheirs = "opencv:1/parked_worker:0";
    const double ours = reporter.medians[kOurs];
    std::printf("Kestavo median: %.1f us per frame (process CPU %.1f us; calling thread only %.1f us)\n", ours,
                reporter.cpuMedians[kOurs], reporter.medians["opencv:0/parked_worker:0"]);
#if KVO_HAVE_OPENCV
    const double theirs = reporter.medians[kTheirs];
    std::printf("OpenCV median: %.1f us per frame (process CPU %.1f us)\n", theirs, reporter.cpuMedians[kTheirs]);
    if (theirs > 0) std::printf("ratio Kestavo / OpenCV: %.3f (process CPU %.3f)\n", ours / theirs,
                                reporter.cpuMedians[kOurs] / reporter.cpuMedians[kTheirs]);
    reportAgreement();
#endif
    benchmark::Shutdown();
    return 0;
}
