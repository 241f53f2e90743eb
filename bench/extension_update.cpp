// One kvo_update in face-detection mode, as a host calls it (the library loaded through the
// stand-in host), and the steps that update runs, timed one by one on the same frame: grey
// conversion of the host pixels, the ROI copy into the frame pyramid, and the cascade scan
// with its merge. Swept over the frame size (frame 100 of franck.mp4 at 320 x 240, 640 x 480
// and 1280 x 960); after the run it prints, per size, each step's share of their sum next
// to the whole call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FreshLibrary.h"
#include "detection/ViolaJones.h"
#include "eval/GreyFrame.h"
#include "eval/VideoFrames.h"
#include "image/GreyConversion.h"
#include "image/ImageDataManager.h"
#include "models/EmbeddedModels.h"

namespace {

const int kWidths[] = {320, 640, 1280};  // frames are 4:3
enum Step { WHOLE_UPDATE, GREY_CONVERSION, ROI_COPY, DETECT_AND_MERGE, STEPS };
const char* const kStepNames[STEPS] = {"kvo_update, face detection", "grey conversion (host pixels)",
                                       "ROI copy (level 0)", "detect + merge"};

// Frame 100 of the sample video scaled to `width` x 3/4 `width`, as host pixels (blue,
// green, red, alpha); a mid-grey frame when the media is missing (said in the output).
const std::vector<uint32_t>& hostFrame(int width) {
    static std::map<int, std::vector<uint32_t>> frames;
    auto it = frames.find(width);
    if (it != frames.end()) return it->second;
    std::vector<uint32_t> px(static_cast<size_t>(width) * (width * 3 / 4), 0xff808080u);
    const bool ok =
        kvo::eval::VideoFrames(std::string(KVO_MEDIA_DIR) + "/franck.mp4", width, width * 3 / 4, 100, 1).next(px.data());
    std::printf("frame: %s at %d x %d\n", ok ? "franck.mp4 frame 100" : "flat grey (sample video missing)", width,
                width * 3 / 4);
    return frames[width] = std::move(px);
}

// The detector over one grey frame, set up as the tracker sets it up.
struct DetectionRig {
    DetectionRig(int w, int h, const std::vector<uint32_t>& px) : in(w, h), detector(manager) {
        kvo::convertToGrey(px.data(), in.pixels.data(), in.pixels.size());
        manager.init(&in, nullptr);
        cascade = kvo::decodeCascadeModel();
        detector.init(&cascade[0]);
        manager.update(0);
    }
    kvo::eval::GreyFrame in;
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector;
    std::string cascade;
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
};

// Arguments: the frame width, the step (Step).
void BM_faceDetectionUpdate(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0)), h = w * 3 / 4;
    const Step step = static_cast<Step>(state.range(1));
    const std::vector<uint32_t>& px = hostFrame(w);
    state.SetLabel(kStepNames[step]);
    if (step == WHOLE_UPDATE) {
        FreshLibrary lib;  // a tracker of this frame size
        FREObject bitmap = lib.rt.bitmap(w, h, px.data());
        lib.ext.call("kvo_init", bitmap, lib.rt.number(0), lib.rt.number(0), lib.rt.number(w), lib.rt.number(h));
        lib.ext.call("kvo_set_mode", lib.rt.string("mode_face_detection"));
        const FRENamedFunction* update = lib.ext.find("kvo_update");
        FREObject argv[] = {bitmap};
        for (auto _ : state) {
            kvohost::Runtime::Scope scope(lib.rt);
            benchmark::DoNotOptimize(lib.ext.invoke(*update, 1, argv));
        }
        return;
    }
    DetectionRig rig(w, h, px);
    for (auto _ : state) {
        if (step == GREY_CONVERSION) {
            kvo::convertToGrey(px.data(), rig.in.pixels.data(), rig.in.pixels.size());
            benchmark::ClobberMemory();
        } else if (step == ROI_COPY) {
            rig.manager.update(0);
        } else {
            rig.detector.detect(rig.faces);
            if (static_cast<int>(rig.faces.size()) >= rig.detector.minDetections) rig.detector.merge(rig.faces);
        }
    }
}
BENCHMARK(BM_faceDetectionUpdate)
    ->ArgNames({"width", "step"})
    ->ArgsProduct({{std::begin(kWidths), std::end(kWidths)}, {WHOLE_UPDATE, GREY_CONVERSION, ROI_COPY, DETECT_AND_MERGE}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Keeps each run's real time per iteration, for the shares printed at the end.
class ShareReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    // The time of one row (microseconds), 0 when it did not run.
    double of(int width, int step) const {
        const auto it = times.find("BM_faceDetectionUpdate/width:" + std::to_string(width) +
                                   "/step:" + std::to_string(step) + "/real_time");
        return it == times.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int w : kWidths) {
        double sum = 0;
        for (int s = GREY_CONVERSION; s < STEPS; ++s) sum += reporter.of(w, s);
        if (sum <= 0) continue;
        std::printf("\nkvo_update, face detection, %d x %d: %.1f us per call\n", w, w * 3 / 4,
                    reporter.of(w, WHOLE_UPDATE));
        for (int s = GREY_CONVERSION; s < STEPS; ++s) {
            std::printf("  %-34s %9.1f us  %5.1f %% of the steps\n", kStepNames[s], reporter.of(w, s),
                        100.0 * reporter.of(w, s) / sum);
        }
    }
    return 0;
}
