// Per-frame cost of the image pipeline: grey conversion, the ROI copy into level 0, the
// frame pyramid, and the shape-search resampling with its gradient images, over frame
// sizes (320 x 240, 640 x 480, 1280 x 960; the search frame is 480 x 480 whatever the
// size, so its row runs at 640 x 480). After the run it prints each stage's share of their
// total at 640 x 480, and per size the 2x2 reduction's speed relative to OpenCV's area
// resize of the same frame and the grey conversion's against its defining expression.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "eval/GreyFrame.h"
#include "eval/VideoFrames.h"
#include "image/GradientImage.h"
#include "image/GreyConversion.h"
#include "image/ImageDataManager.h"
#include "image/ResizeImageUtils.h"

#ifdef KVO_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int kWidths[] = {320, 640, 1280};  // frames are 4:3
constexpr int kSearchWidth = 640;        // the size of the search row

// 32-bit host pixels (blue, green, red, alpha) of one frame of `width` x 3/4 `width`: the
// first frame of the sample video when it can be decoded, reproducible noise otherwise.
const std::vector<uint32_t>& hostPixels(int width) {
    static std::map<int, std::vector<uint32_t>> frames;
    auto it = frames.find(width);
    if (it != frames.end()) return it->second;
    const int height = width * 3 / 4;
    std::vector<uint32_t> px(static_cast<size_t>(width) * height);
    if (kvo::eval::decodeBgraImage(std::string(KVO_MEDIA_DIR) + "/franck.mp4", width, height, px)) {
        std::printf("frame: first frame of franck.mp4, scaled to %d x %d\n", width, height);
    } else {
        std::mt19937 rng(1);
        for (auto& p : px) p = static_cast<uint32_t>(rng());
        std::printf("frame: %d x %d noise (sample video not available)\n", width, height);
    }
    return frames[width] = std::move(px);
}

// A manager set up as the tracker sets it up: the whole grey frame as ROI, both pyramids.
struct Pipeline {
    explicit Pipeline(int width) : frame(width, width * 3 / 4) {
        const std::vector<uint32_t>& px = hostPixels(width);
        kvo::convertToGrey(px.data(), frame.pixels.data(), px.size());
        manager.init(&frame, nullptr);
        manager.initASM();
    }
    kvo::eval::GreyFrame frame;
    kvo::ImageDataManager manager;
};

// Arguments: frame width; 0 the library's conversion, 1 the defining double expression
// evaluated per pixel (for comparison only).
void BM_GreyConversion(benchmark::State& state) {
    const std::vector<uint32_t>& px = hostPixels(static_cast<int>(state.range(0)));
    const bool expression = state.range(1) != 0;
    state.SetLabel(expression ? "per-pixel double expression" : "library");
    std::vector<uint8_t> grey(px.size());
    for (auto _ : state) {
        if (expression) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(px.data());
            for (size_t i = 0; i < grey.size(); ++i, p += 4) {
                grey[i] = static_cast<uint8_t>((0.114 * p[0] + 0.587 * p[1]) + 0.299 * p[2]);
            }
        } else {
            kvo::convertToGrey(px.data(), grey.data(), grey.size());
        }
        benchmark::DoNotOptimize(grey.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * grey.size());
}
BENCHMARK(BM_GreyConversion)
    ->ArgNames({"width", "expression"})
    ->ArgsProduct({{std::begin(kWidths), std::end(kWidths)}, {0, 1}});

// Arguments: frame width; the pyramid's top level (0: the ROI copy alone; 3: the frame
// pyramid of point tracking).
void BM_FramePyramid(benchmark::State& state) {
    Pipeline p(static_cast<int>(state.range(0)));
    const int top = static_cast<int>(state.range(1));
    state.SetLabel(top == 0 ? "ROI copy" : "frame pyramid");
    for (auto _ : state) {
        p.manager.update(top);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FramePyramid)->ArgNames({"width", "top"})->ArgsProduct({{std::begin(kWidths), std::end(kWidths)}, {0, 3}});

// Resampling into the shape-search frame plus the gradient images of levels 0 .. top.
void BM_AsmPyramidAndGradients(benchmark::State& state) {
    Pipeline p(kSearchWidth);
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
BENCHMARK(BM_AsmPyramidAndGradients)->ArgName("top")->Arg(2)->Arg(3);

// One 2x2 reduction of the grey frame (to half its width and height). Arguments: frame
// width; 0 the library's, 1 the peer, OpenCV's area resize by two (a rounded 2x2 mean).
void BM_Reduction(benchmark::State& state) {
    Pipeline p(static_cast<int>(state.range(0)));
    const int w = static_cast<int>(p.frame.width), h = static_cast<int>(p.frame.height);
    std::vector<uint8_t> half(w / 2 * h / 2);
    const bool openCv = state.range(1) != 0;
#ifdef KVO_HAVE_OPENCV
    cv::Mat src(h, w, CV_8UC1, p.frame.pixels.data()), dst(h / 2, w / 2, CV_8UC1, half.data());
#else
    if (openCv) return state.SkipWithError("built without OpenCV");
#endif
    state.SetLabel(openCv ? "OpenCV INTER_AREA" : "library");
    for (auto _ : state) {
#ifdef KVO_HAVE_OPENCV
        if (openCv) cv::resize(src, dst, dst.size(), 0, 0, cv::INTER_AREA);
#endif
        if (!openCv) kvo::ResizeImageUtils::pyrDown(p.frame.pixels.data(), half.data(), w / 2, h / 2, w);
        benchmark::DoNotOptimize(half.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Reduction)->ArgNames({"width", "opencv"})->ArgsProduct({{std::begin(kWidths), std::end(kWidths)}, {0, 1}});

// Console output as usual, plus the mean real time per iteration of every run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                // in microseconds: the unit's count per second turns the time into seconds
                times[run.benchmark_name()] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e6;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Mean real time per iteration of the row `name` (microseconds), -1 when it did not run.
    double microseconds(const std::string& name) const {
        auto it = times.find(name);
        return it == times.end() ? -1.0 : it->second;
    }
    std::map<std::string, double> times;
};

void printShares(const RecordingReporter& r, const std::vector<std::string>& stages) {
    double total = 0.0;
    for (const auto& s : stages) {
        if (r.microseconds(s) < 0) return;
        total += r.microseconds(s);
    }
    std::printf("\nShare of the pipeline total at 640 x 480 (%.1f us per frame):\n", total);
    for (const auto& s : stages) {
        std::printf("  %-44s %9.1f us  %5.1f %%\n", s.c_str(), r.microseconds(s), 100.0 * r.microseconds(s) / total);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Face tracking: grey, ROI copy, search pyramid. Point tracking: grey, frame pyramid.
    const std::string grey = "BM_GreyConversion/width:640/expression:0", roi = "BM_FramePyramid/width:640/top:0";
    printShares(reporter, {grey, roi, "BM_AsmPyramidAndGradients/top:2"});
    printShares(reporter, {grey, roi, "BM_FramePyramid/width:640/top:3", "BM_AsmPyramidAndGradients/top:3"});
    std::printf("\n");
    for (int w : kWidths) {
        const std::string size = "/width:" + std::to_string(w);
        const double ours = reporter.microseconds("BM_Reduction" + size + "/opencv:0");
        const double peer = reporter.microseconds("BM_Reduction" + size + "/opencv:1");
        if (ours > 0 && peer > 0) {
            std::printf("2x2 reduction %d x %d: %.1f us, cv::resize INTER_AREA %.1f us, ratio ours/OpenCV %.2f\n", w,
                        w * 3 / 4, ours, peer, ours / peer);
        }
        const double exact = reporter.microseconds("BM_GreyConversion" + size + "/expression:0");
        const double plain = reporter.microseconds("BM_GreyConversion" + size + "/expression:1");
        if (exact > 0 && plain > 0) {
            std::printf("grey conversion %d x %d: %.1f us, per-pixel double expression %.1f us, speed-up %.2f\n", w,
                        w * 3 / 4, exact, plain, plain / exact);
        }
    }
    return 0;
}
