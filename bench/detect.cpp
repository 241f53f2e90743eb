// Face detection speed: the library's detector (detect + merge with default parameters,
// as the tracker runs them) against OpenCV's CascadeClassifier::detectMultiScale on the
// same cascade file, on frames of franck.mp4 scaled to 640 x 480 grey.
//
// One benchmark over detector x threads x frame (each frame its own row); after the run
// the program prints, for each detector, the median time per frame and the share of
// frames in which it found a face, and the ratio of the medians. Each detector runs on
// its own threads (ours: the calling thread and one worker, as the tracker runs it;
// OpenCV: its default worker threads) and on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "detection/ViolaJones.h"
#include "eval/ErrorSummary.h"
#include "eval/GreyFrame.h"
#include "image/ImageDataManager.h"
#include "models/EmbeddedModels.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include "image/GreyConversion.h"

namespace {

const int WIDTH = 640;
const int HEIGHT = 480;
const int FRAMES = 30;
const int FRAME_STRIDE = 160;  // spread over the 4,800 frames of the video
const char* CASCADE_FILE = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";

std::vector<std::vector<uint8_t>>& frames() {
    static std::vector<std::vector<uint8_t>> all;
    return all;
}

// The library's detector over one frame.
struct Ours {
    Ours() : detector(manager) {
        manager.init(&input, nullptr);
        std::string cascade = kvo::decodeCascadeModel();
        detector.init(&cascade[0]);
    }
    void show(int index) {
        input.pixels = frames()[index];
        manager.update(0);
    }
    // detect, then merge when there are enough windows: true when a face is found.
    bool run() {
        detector.detect(faces);
        if (faces.size() < static_cast<size_t>(detector.minDetections)) return false;
        return !detector.merge(faces).empty();
    }
    kvo::eval::GreyFrame input{WIDTH, HEIGHT};
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector;
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
};

Ours& ours() {
    static Ours o;
    return o;
}

// OpenCV with the same window sizes: 24 x 24 cascade windows from startScale to maxScale,
// and one scale factor, the geometric mean of the detector's scale steps.
struct Peer {
    Peer() : cascade(CASCADE_FILE) {
        const kvo::ViolaJones& d = ours().detector;
        const int steps = static_cast<int>((d.maxScale - d.startScale) / d.scaleIncrement + 0.5);
        minSize = cv::Size(static_cast<int>(24 * d.startScale), static_cast<int>(24 * d.startScale));
        maxSize = cv::Size(static_cast<int>(24 * d.maxScale), static_cast<int>(24 * d.maxScale));
        scaleFactor = std::pow(d.maxScale / d.startScale, 1.0 / steps);
    }
    bool run(int index) {
        const cv::Mat grey(HEIGHT, WIDTH, CV_8UC1, frames()[index].data());
        cascade.detectMultiScale(grey, found, scaleFactor, 3, 0, minSize, maxSize);
        return !found.empty();
    }
    cv::CascadeClassifier cascade;
    cv::Size minSize, maxSize;
    double scaleFactor = 1.1;
    std::vector<cv::Rect> found;
};

Peer& peer() {
    static Peer p;
    return p;
}

// Arguments: 0 the library's detector, 1 OpenCV's; 1 on one thread, 0 on the detector's
// own (ours: the calling thread and one worker, as the tracker runs it; OpenCV: its
// default worker threads); the frame.
void BM_Detect(benchmark::State& state) {
    const bool openCv = state.range(0) != 0, oneThread = state.range(1) != 0;
    const int frame = static_cast<int>(state.range(2));
    state.SetLabel(std::string(openCv ? "OpenCV" : "ours") + (oneThread ? ", 1 thread" : ""));
    if (openCv) {
        cv::setNumThreads(oneThread ? 1 : -1);
        for (auto _ : state) benchmark::DoNotOptimize(peer().run(frame));
        cv::setNumThreads(-1);
        return;
    }
    Ours& o = ours();
    o.detector.numThreads = oneThread ? 1 : 2;
    o.show(frame);
    for (auto _ : state) benchmark::DoNotOptimize(o.run());
    if (!oneThread && o.detector.threadsOfLastScan() != 2) state.SkipWithError("the scan did not use two threads");
    o.detector.numThreads = 2;
}

// Keeps every per-frame time (milliseconds) by detector and threads: the row's arguments
// without the frame ("opencv:0/one_thread:1").
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const std::string contender = r.run_name.args.substr(0, r.run_name.args.rfind("/frame:"));
            times[contender].push_back(r.GetAdjustedRealTime());
            cpuTimes[contender].push_back(r.GetAdjustedCPUTime());
        }
    }
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, std::vector<double>> cpuTimes;  // calling thread only
};

double median(std::vector<double> v) { return kvo::eval::summariseErrors(std::move(v)).median; }

bool loadFrames() {
    cv::VideoCapture video(std::string(KVO_MEDIA_DIR) + "/franck.mp4");
    cv::Mat colour, scaled, bgra;
    for (int index = 0; video.isOpened() && video.read(colour) &&
                        static_cast<int>(frames().size()) < FRAMES; ++index) {
        if (index % FRAME_STRIDE) continue;
        cv::resize(colour, scaled, cv::Size(WIDTH, HEIGHT), 0, 0, cv::INTER_AREA);
        cv::cvtColor(scaled, bgra, cv::COLOR_BGR2BGRA);
        std::vector<uint8_t> grey(WIDTH * HEIGHT);
        kvo::convertToGrey(bgra.ptr<uint8_t>(), grey.data(), grey.size());
        frames().push_back(std::move(grey));
    }
    return !frames().empty();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!loadFrames()) {
        std::fprintf(stderr, "cannot read frames of %s/franck.mp4\n", KVO_MEDIA_DIR);
        return 1;
    }
    const int n = static_cast<int>(frames().size());
    std::vector<int64_t> frameIndices;
    for (int i = 0; i < n; ++i) frameIndices.push_back(i);
    benchmark::RegisterBenchmark("BM_Detect", BM_Detect)
        ->ArgNames({"opencv", "one_thread", "frame"})
        ->ArgsProduct({{0, 1}, {0, 1}, frameIndices})
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.05);

    // Detection rates, outside the timed runs; and whether one and two threads accept the
    // same windows in the same order.
    int oursFound = 0, peerFound = 0, sameWindows = 0;
    for (int i = 0; i < n; ++i) {
        kvo::ViolaJones& d = ours().detector;
        ours().show(i);
        d.numThreads = 1;
        ours().run();
        std::vector<kvo::VJRectangle> single;
        for (const auto& r : d.rawDetections) single.push_back(*r);
        d.numThreads = 2;
        oursFound += ours().run();
        bool same = single.size() == d.rawDetections.size();
        for (size_t k = 0; same && k < single.size(); ++k) {
            const kvo::VJRectangle& r = *d.rawDetections[k];
            same = r.x == single[k].x && r.y == single[k].y && r.width == single[k].width &&
                   r.height == single[k].height && r.scale == single[k].scale;
        }
        sameWindows += same;
        peerFound += peer().run(i);
    }

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const double oursMs = median(collector.times["opencv:0/one_thread:0"]);
    const double ours1Ms = median(collector.times["opencv:0/one_thread:1"]);
    const double peerMs = median(collector.times["opencv:1/one_thread:0"]);
    const double peer1Ms = median(collector.times["opencv:1/one_thread:1"]);
    std::printf("\n%d frames of franck.mp4 at %d x %d; OpenCV scaleFactor %.4f, window %d...%d px, minNeighbors 3\n",
                n, WIDTH, HEIGHT, peer().scaleFactor, peer().minSize.width, peer().maxSize.width);
    const double ours1Cpu = median(collector.cpuTimes["opencv:0/one_thread:1"]);
    const double peer1Cpu = median(collector.cpuTimes["opencv:1/one_thread:1"]);
    // The CPU column counts the calling thread only, so for two threads it is not the
    // work done and is not printed.
    std::printf("ours, 2 threads:   median %8.3f ms/frame, face found in %5.1f %% of frames; "
                "same windows as 1 thread in %d of %d frames\n", oursMs, 100.0 * oursFound / n, sameWindows, n);
    std::printf("ours, 1 thread:    median %8.3f ms/frame (CPU %8.3f)\n", ours1Ms, ours1Cpu);
    std::printf("OpenCV:            median %8.3f ms/frame, face found in %5.1f %% of frames\n",
                peerMs, 100.0 * peerFound / n);
    std::printf("OpenCV, 1 thread:  median %8.3f ms/frame (CPU %8.3f)\n", peer1Ms, peer1Cpu);
    if (oursMs > 0 && ours1Ms > 0 && ours1Cpu > 0)
        std::printf("speed-up of ours, 2 threads (wall time): %.2f x (OpenCV default threads), %.2f x (OpenCV 1 thread), "
                    "%.2f x (ours, 1 thread)\n"
                    "speed-up of ours, 1 thread: %.2f x (OpenCV 1 thread, wall time), %.2f x (CPU time)\n",
                    peerMs / oursMs, peer1Ms / oursMs, ours1Ms / oursMs, peer1Ms / ours1Ms, peer1Cpu / ours1Cpu);
    return 0;
}

#else

int main() {
    std::fprintf(stderr, "bench_detect needs OpenCV to read the video frames\n");
    return 0;
}

#endif
