// Per-frame cost of the image pipeline on a 640 x 480 frame: grey conversion, the ROI
// copy into level 0, the frame pyramid, and the shape-search resampling with its gradient
// images. After the run it prints each stage's share of their total, and the 2x2
// reduction's speed relative to OpenCV's area resize of the same frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "eval/GreyFrame.h"
#include "image/GradientImage.h"
#include "image/GreyConversion.h"
#include "image/ImageDataManager.h"
#include "image/ResizeImageUtils.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// 32-bit host pixels (blue, green, red, alpha in memory) of one frame: the first frame of
// the sample video when it can be read, reproducible noise otherwise.
const std::vector<uint8_t>& hostPixels() {
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> px(kWidth * kHeight * 4);
#ifdef KVO_HAVE_OPENCV
        cv::VideoCapture video(std::string(KVO_MEDIA_DIR) + "/franck.mp4");
        cv::Mat frame;
        if (video.isOpened() && video.read(frame) && !frame.empty()) {
            cv::Mat sized, bgra;
            cv::resize(frame, sized, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);
            cv::cvtColor(sized, bgra, cv::COLOR_BGR2BGRA);
            std::copy(bgra.data, bgra.data + px.size(), px.begin());
            std::printf("frame: first frame of franck.mp4, resized to %d x %d\n", kWidth, kHeight);
            return px;
        }
#endif
        std::mt19937 rng(1);
        for (auto& p : px) p = static_cast<uint8_t>(rng());
        std::printf("frame: %d x %d noise (sample video not available)\n", kWidth, kHeight);
        return px;
    }();
    return pixels;
}

class Frame : public kvo::eval::GreyFrame {
public:
    Frame() : GreyFrame(kWidth, kHeight) { kvo::convertToGrey(hostPixels().data(), pixels.data(), pixels.size()); }
};

// A manager set up as the tracker sets it up: the whole frame as ROI, both pyramids.
struct Pipeline {
    Frame frame;
    kvo::ImageDataManager manager;
    Pipeline() {
        manager.init(&frame, nullptr);
        manager.initASM();
    }
};

void BM_GreyConversion(benchmark::State& state) {
    const std::vector<uint8_t>& px = hostPixels();
    std::vector<uint8_t> grey(kWidth * kHeight);
    for (auto _ : state) {
        kvo::convertToGrey(px.data(), grey.data(), grey.size());
        benchmark::DoNotOptimize(grey.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_GreyConversion);

// The defining double expression evaluated per pixel, for comparison only.
void BM_GreyConversionDoubleExpression(benchmark::State& state) {
    const std::vector<uint8_t>& px = hostPixels();
    std::vector<uint8_t> grey(kWidth * kHeight);
    for (auto _ : state) {
        const uint8_t* p = px.data();
        for (size_t i = 0; i < grey.size(); ++i, p += 4) {
            grey[i] = static_cast<uint8_t>((0.114 * p[0] + 0.587 * p[1]) + 0.299 * p[2]);
        }
        benchmark::DoNotOptimize(grey.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_GreyConversionDoubleExpression);

void BM_RoiCopy(benchmark::State& state) {
    Pipeline p;
    for (auto _ : state) {
        p.manager.update(0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RoiCopy);

void BM_FramePyramid(benchmark::State& state) {
    Pipeline p;
    for (auto _ : state) {
        p.manager.update(3);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FramePyramid);

// Resampling into the shape-search frame plus the gradient images of levels 0 .. top.
void BM_AsmPyramidAndGradients(benchmark::State& state) {
    Pipeline p;
    const int top = static_cast<int>(state.range(0));
    kvo::Matrix toSearchFrame(1.25, 0, 0, 1.25, -160, -60);  // a face-sized window
    for (auto _ : state) {
        p.manager.updateASMPyramid(toSearchFrame);
        for (int k = 0; k <= top; ++k) {
            kvo::buildGradientImage(p.manager.asmCurrent[k], p.manager.asmGradient[k],
                                    p.manager.gradientRowBuffer, 480 >> k, 480 >> k);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_AsmPyramidAndGradients)->Arg(2)->Arg(3);

// One 2x2 reduction of the grey frame (640 x 480 -> 320 x 240).
void BM_Reduction(benchmark::State& state) {
    Pipeline p;
    std::vector<uint8_t> half(kWidth / 2 * kHeight / 2);
    for (auto _ : state) {
        kvo::ResizeImageUtils::pyrDown(p.frame.pixels.data(), half.data(), kWidth / 2, kHeight / 2, kWidth);
        benchmark::DoNotOptimize(half.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Reduction);

#ifdef KVO_HAVE_OPENCV
// The peer: OpenCV's area resize by two of the same frame (a rounded 2x2 mean).
void BM_ReductionOpenCvInterArea(benchmark::State& state) {
    Frame frame;
    cv::Mat src(kHeight, kWidth, CV_8UC1, frame.pixels.data());
    cv::Mat dst(kHeight / 2, kWidth / 2, CV_8UC1);
    for (auto _ : state) {
        cv::resize(src, dst, dst.size(), 0, 0, cv::INTER_AREA);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReductionOpenCvInterArea);
#endif

// Console output as usual, plus the mean real time per iteration of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                times[run.benchmark_name()] = run.GetAdjustedRealTime();  // in run.time_unit
                units[run.benchmark_name()] = run.time_unit;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double microseconds(const std::string& name) const {
        auto it = times.find(name);
        if (it == times.end()) return -1.0;
        const double perUnit = benchmark::GetTimeUnitMultiplier(units.at(name));  // units per second
        return it->second / perUnit * 1e6;
    }
    std::map<std::string, double> times;  // mean real time per iteration, in units
    std::map<std::string, benchmark::TimeUnit> units;
};

void printShares(const RecordingReporter& r, const std::vector<std::string>& stages) {
    double total = 0.0;
    for (const auto& s : stages) {
        if (r.microseconds(s) < 0) return;
        total += r.microseconds(s);
    }
    std::printf("\nShare of the pipeline total (%.1f us per frame):\n", total);
    for (const auto& s : stages) {
        std::printf("  %-36s %9.1f us  %5.1f %%\n", s.c_str(), r.microseconds(s), 100.0 * r.microseconds(s) / total);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    hostPixels();
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Face tracking: grey, ROI copy, search pyramid. Point tracking: grey, frame pyramid.
    printShares(reporter, {"BM_GreyConversion", "BM_RoiCopy", "BM_AsmPyramidAndGradients/2"});
    printShares(reporter, {"BM_GreyConversion", "BM_RoiCopy", "BM_FramePyramid", "BM_AsmPyramidAndGradients/3"});
    const double ours = reporter.microseconds("BM_Reduction");
    const double peer = reporter.microseconds("BM_ReductionOpenCvInterArea");
    if (ours > 0 && peer > 0) {
        std::printf("\n2x2 reduction 640x480 -> 320x240: %.1f us, cv::resize INTER_AREA %.1f us, ratio ours/OpenCV %.2f\n",
                    ours, peer, ours / peer);
    }
    const double exact = reporter.microseconds("BM_GreyConversion");
    const double plain = reporter.microseconds("BM_GreyConversionDoubleExpression");
    if (exact > 0 && plain > 0) {
        std::printf("grey conversion: %.1f us, per-pixel double expression %.1f us, speed-up %.2f\n", exact, plain,
                    plain / exact);
    }
    return 0;
}
