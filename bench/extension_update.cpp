// One kvo_update in face-detection mode on a 640 x 480 frame, as a host calls it (the
// library loaded through the stand-in host), and the same frame split into the steps
// that update runs: grey conversion of the host pixels, the ROI copy into the frame
// pyramid, and the cascade scan with its merge. After the run it prints each step's
// share of their sum next to the whole call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "detection/ViolaJones.h"
#include "eval/GreyFrame.h"
#include "eval/VideoFrames.h"
#include "host/HostRuntime.h"
#include "image/GreyConversion.h"
#include "image/ImageDataManager.h"
#include "models/EmbeddedModels.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Frame 100 of the sample video as host pixels (blue, green, red, alpha), decoded by
// the ffmpeg tool; a mid-grey frame when the media is missing (said in the output).
const std::vector<uint32_t>& hostFrame() {
    static const std::vector<uint32_t> frame = [] {
        std::vector<uint32_t> px(static_cast<size_t>(kWidth) * kHeight, 0xff808080u);
        const bool ok = kvo::eval::VideoFrames(std::string(KVO_MEDIA_DIR) + "/franck.mp4", kWidth, kHeight, 100, 1)
                            .next(px.data());
        std::printf("frame: %s\n", ok ? "franck.mp4 frame 100 scaled to 640 x 480" : "flat grey (sample video missing)");
        return px;
    }();
    return frame;
}

void BM_kvo_update_faceDetection(benchmark::State& state) {
    kvohost::Runtime rt;
    kvohost::Extension ext(rt, KVO_LIBRARY_PATH);
    FREObject bitmap = rt.bitmap(kWidth, kHeight, hostFrame().data());
    ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(kWidth), rt.number(kHeight));
    ext.call("kvo_set_mode", rt.string("mode_face_detection"));
    const FRENamedFunction* update = ext.find("kvo_update");
    FREObject argv[] = {bitmap};
    for (auto _ : state) {
        kvohost::Runtime::Scope scope(rt);
        benchmark::DoNotOptimize(ext.invoke(*update, 1, argv));
    }
}

void BM_step_greyConversion(benchmark::State& state) {
    kvo::eval::GreyFrame in{kWidth, kHeight};
    for (auto _ : state) {
        kvo::convertToGrey(hostFrame().data(), in.pixels.data(), in.pixels.size());
        benchmark::ClobberMemory();
    }
}

struct DetectionRig {
    DetectionRig() : detector(manager) {
        kvo::convertToGrey(hostFrame().data(), in.pixels.data(), in.pixels.size());
        manager.init(&in, nullptr);
        cascade = kvo::decodeCascadeModel();
        detector.init(&cascade[0]);
        manager.update(0);
    }
    kvo::eval::GreyFrame in{kWidth, kHeight};
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector;
    std::string cascade;
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
};

void BM_step_roiCopy(benchmark::State& state) {
    DetectionRig rig;
    for (auto _ : state) rig.manager.update(0);
}

void BM_step_detectAndMerge(benchmark::State& state) {
    DetectionRig rig;
    for (auto _ : state) {
        rig.detector.detect(rig.faces);
        if (static_cast<int>(rig.faces.size()) >= rig.detector.minDetections) rig.detector.merge(rig.faces);
    }
}

BENCHMARK(BM_kvo_update_faceDetection)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_step_greyConversion)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_step_roiCopy)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_step_detectAndMerge)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Keeps each run's real time per iteration, for the shares printed at the end.
class ShareReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;  // microseconds
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* steps[] = {"BM_step_greyConversion/real_time", "BM_step_roiCopy/real_time",
                           "BM_step_detectAndMerge/real_time"};
    double sum = 0;
    for (const char* s : steps) sum += reporter.times[s];
    if (sum > 0) {
        std::printf("\nkvo_update, face detection, 640 x 480: %.1f us per call\n",
                    reporter.times["BM_kvo_update_faceDetection/real_time"]);
        for (const char* s : steps) {
            std::printf("  %-34s %9.1f us  %5.1f %% of the steps\n", s, reporter.times[s], 100.0 * reporter.times[s] / sum);
        }
    }
    return 0;
}
