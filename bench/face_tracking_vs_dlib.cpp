// One face-tracking kvo_update (the library loaded through the stand-in host, embedded
// shape model, 640 x 480 frames of franck.mp4) against dlib's frontal face detector plus
// its 68-point shape predictor on the same frames, in the same process, and against the
// predictor alone given the detector's box (the fair peer of a tracked frame, which runs
// no detector); and the finer searches a host may choose (kvo_setFaceTrackingVars' fourth
// argument, levels 1 and 0) and the opt-in landmark refinement (its fifth argument) against
// the default one. Prints each per-frame median (wall clock and calling-thread CPU).
//
// The ratios come from alternating rounds in one process: each round runs every contender
// over the same 60 frames in turn (ours refined, dlib's predictor, ours default, dlib's
// detector + predictor), so a slow spell of the machine falls on all of them; each ratio is
// the median of its per-round ratios, printed with its range. --kvo_rounds=N (default 11).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "eval/Files.h"
#include "eval/VideoFrames.h"
#include "host/HostRuntime.h"
#include "image/GreyConversion.h"

#ifdef KVO_HAVE_DLIB
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 60;

// Frames 1000 ... 1059 of the sample video as host pixels (blue, green, red, alpha).
const std::vector<std::vector<uint32_t>>& frames() {
    static const std::vector<std::vector<uint32_t>> all = [] {
        std::vector<std::vector<uint32_t>> out;
        kvo::eval::decodeBgraFrames(std::string(KVO_MEDIA_DIR) + "/franck.mp4", kWidth, kHeight, 1000, kFrames, out);
        std::printf("frames: %zu of franck.mp4 (from frame 1000), scaled to 640 x 480\n", out.size());
        return out;
    }();
    return all;
}

double cpuMs(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
double threadCpuMs() { return cpuMs(CLOCK_THREAD_CPUTIME_ID); }
// The whole process's CPU, the search's worker threads included: on a machine shared with
// other jobs it measures the work of a frame where the wall clock also measures the waiting.
double processCpuMs() { return cpuMs(CLOCK_PROCESS_CPUTIME_ID); }

struct Samples {
    std::vector<double> wall, cpu, processCpu;  // ms per frame
    void add(double w, double c, double p) { wall.push_back(w), cpu.push_back(c), processCpu.push_back(p); }
    static double median(std::vector<double> v) {
        if (v.empty()) return 0.0;
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    }
};
Samples gOurs, gOursRefined, gOursNoCandide, gOursFine1, gOursFine0, gDlib, gDlibPredictor;

template <class F>
void timed(Samples& s, F&& f) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = threadCpuMs(), p0 = processCpuMs();
    f();
    const double c1 = threadCpuMs(), p1 = processCpuMs();
    const auto w1 = std::chrono::steady_clock::now();
    s.add(std::chrono::duration<double, std::milli>(w1 - w0).count(), c1 - c0, p1 - p0);
}

// Initialises the tracker on `bitmap` (the first frame) and sets the face-tracking
// settings a run depends on (the library is loaded once per process, so each run sets them).
void setTrackingVars(kvohost::Runtime& rt, kvohost::Extension& ext, int finest, bool refine) {
    ext.call("kvo_setFaceTrackingVars", rt.number(50), rt.number(500), rt.integer(1), rt.integer(finest),
             rt.boolean(refine));
}
void startTracker(kvohost::Runtime& rt, kvohost::Extension& ext, FREObject bitmap, bool candide, int finest,
                  bool refine) {
    ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(kWidth), rt.number(kHeight));
    ext.call("kvo_set_candideEnabled", rt.boolean(candide));
    setTrackingVars(rt, ext, finest, refine);
}

// `finest`: the finest pyramid level searched once tracking (2 is the library's default).
void runOurs(benchmark::State& state, bool candide, int finest, bool refine, Samples& out) {
    const auto& f = frames();
    if (f.empty()) {
        state.SkipWithError("sample video not available");
        return;
    }
    kvohost::Runtime rt;
    kvohost::Extension ext(rt, KVO_LIBRARY_PATH);
    FREObject bitmap = rt.bitmap(kWidth, kHeight, f[0].data());
    startTracker(rt, ext, bitmap, candide, finest, refine);
    const FRENamedFunction* update = ext.find("kvo_update");
    FREObject argv[] = {bitmap};
    // Warm up into the tracking state on the first frames.
    for (int i = 0; i < 8; ++i) {
        kvohost::Runtime::Scope scope(rt);
        rt.setBitmapPixels(bitmap, f[i].data());
        ext.invoke(*update, 1, argv);
    }
    size_t i = 8;
    int tracked = 0, total = 0;
    for (auto _ : state) {
        kvohost::Runtime::Scope scope(rt);
        state.PauseTiming();
        rt.setBitmapPixels(bitmap, f[i].data());
        state.ResumeTiming();
        FREObject s = nullptr;
        timed(out, [&] { s = ext.invoke(*update, 1, argv); });
        tracked += rt.toString(s) == "state_face_tracking";
        ++total;
        i = (i + 1) % f.size();
    }
    state.counters["tracked_share"] = total ? static_cast<double>(tracked) / total : 0.0;
}

void BM_kvo_update_faceTracking(benchmark::State& state) { runOurs(state, true, 2, false, gOurs); }
void BM_kvo_update_faceTracking_refined(benchmark::State& state) { runOurs(state, true, 2, true, gOursRefined); }
void BM_kvo_update_faceTracking_candideOff(benchmark::State& state) { runOurs(state, false, 2, false, gOursNoCandide); }
void BM_kvo_update_faceTracking_fineSearch1(benchmark::State& state) { runOurs(state, true, 1, false, gOursFine1); }
void BM_kvo_update_faceTracking_fineSearch0(benchmark::State& state) { runOurs(state, true, 0, false, gOursFine0); }
BENCHMARK(BM_kvo_update_faceTracking)->Unit(benchmark::kMillisecond)->Iterations(240);
BENCHMARK(BM_kvo_update_faceTracking_refined)->Unit(benchmark::kMillisecond)->Iterations(240);
BENCHMARK(BM_kvo_update_faceTracking_candideOff)->Unit(benchmark::kMillisecond)->Iterations(240);
BENCHMARK(BM_kvo_update_faceTracking_fineSearch1)->Unit(benchmark::kMillisecond)->Iterations(240);
BENCHMARK(BM_kvo_update_faceTracking_fineSearch0)->Unit(benchmark::kMillisecond)->Iterations(240);

#ifdef KVO_HAVE_DLIB
// dlib's 68-point model as Debian's libdlib-data installs it.
dlib::shape_predictor loadPredictor() {
    dlib::shape_predictor predictor;
    dlib::deserialize(kvo::eval::DLIB_SHAPE_PREDICTOR) >> predictor;
    return predictor;
}

// The host's pixels in grey by the library's own conversion (kvo_update's), into the
// image's rows, which dlib stores back to back.
void toDlibGrey(const std::vector<uint32_t>& px, dlib::array2d<unsigned char>& grey) {
    kvo::convertToGrey(px.data(), &grey[0][0], px.size());
}

// The first face dlib's detector finds on each frame (`found` false where it finds none).
void detectorBoxes(dlib::frontal_face_detector& detector, dlib::array2d<unsigned char>& grey,
                   std::vector<dlib::rectangle>& boxes, std::vector<bool>& found) {
    const auto& f = frames();
    boxes.assign(f.size(), dlib::rectangle());
    found.assign(f.size(), false);
    for (size_t k = 0; k < f.size(); ++k) {
        toDlibGrey(f[k], grey);
        std::vector<dlib::rectangle> faces = detector(grey);
        if (!faces.empty()) boxes[k] = faces[0], found[k] = true;
    }
}

void BM_dlib_detector_and_predictor(benchmark::State& state) {
    const auto& f = frames();
    if (f.empty()) {
        state.SkipWithError("sample video not available");
        return;
    }
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    const dlib::shape_predictor predictor = loadPredictor();
    std::vector<dlib::array2d<unsigned char>> grey(f.size());
    for (size_t k = 0; k < f.size(); ++k) {
        grey[k].set_size(kHeight, kWidth);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint32_t p = f[k][y * kWidth + x];
                grey[k][y][x] = static_cast<unsigned char>(
                    (0.114 * (p & 0xff) + 0.587 * ((p >> 8) & 0xff)) + 0.299 * ((p >> 16) & 0xff));
            }
    }
    size_t i = 0;
    int found = 0, total = 0;
    for (auto _ : state) {
        timed(gDlib, [&] {
            std::vector<dlib::rectangle> faces = detector(grey[i]);
            if (!faces.empty()) {
                dlib::full_object_detection shape = predictor(grey[i], faces[0]);
                benchmark::DoNotOptimize(shape.part(0));
                ++found;
            }
        });
        ++total;
        i = (i + 1) % f.size();
    }
    state.counters["found_share"] = total ? static_cast<double>(found) / total : 0.0;
}
BENCHMARK(BM_dlib_detector_and_predictor)->Unit(benchmark::kMillisecond)->Iterations(60);

// The fair peer of a tracked frame: dlib's 68-point predictor alone, given the face box
// its detector found on the same frame (outside the timing), with the grey conversion of
// the host's pixels inside the timing as in kvo_update. A tracked kvo_update runs no
// detector either; it does run the stabiliser and the Candide fit besides the landmarks.
void BM_dlib_predictor_alone(benchmark::State& state) {
    const auto& f = frames();
    if (f.empty()) {
        state.SkipWithError("sample video not available");
        return;
    }
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    const dlib::shape_predictor predictor = loadPredictor();
    dlib::array2d<unsigned char> grey(kHeight, kWidth);
    auto convert = [&](const std::vector<uint32_t>& px) { toDlibGrey(px, grey); };
    std::vector<dlib::rectangle> boxes;
    std::vector<bool> found;
    detectorBoxes(detector, grey, boxes, found);
    size_t i = 0;
    int withBox = 0;
    for (auto _ : state) {
        while (!found[i]) i = (i + 1) % f.size();
        timed(gDlibPredictor, [&] {
            convert(f[i]);
            dlib::full_object_detection shape = predictor(grey, boxes[i]);
            benchmark::DoNotOptimize(shape.part(0));
        });
        ++withBox;
        i = (i + 1) % f.size();
    }
    state.counters["frames_with_box"] = static_cast<double>(std::count(found.begin(), found.end(), true));
}
BENCHMARK(BM_dlib_predictor_alone)->Unit(benchmark::kMillisecond)->Iterations(240);
#endif


// ---- Alternating rounds: the ratios ----

// One contender's per-frame wall times over one round, reduced to their median.
double medianOf(std::vector<double>& ms) { return Samples::median(ms); }

struct Spread {
    double median = 0, low = 0, high = 0;
};
Spread spreadOf(std::vector<double> v) {
    Spread s;
    if (v.empty()) return s;
    s.median = Samples::median(v);
    s.low = *std::min_element(v.begin(), v.end());
    s.high = *std::max_element(v.begin(), v.end());
    return s;
}

// Runs `rounds` rounds; in each, every contender sees the 60 frames in turn. Our tracker
// keeps its state across rounds and sees the frames in order (wrapping from the last to the
// first), with the refinement switched by kvo_setFaceTrackingVars between its two rounds:
// the refinement only reads the search's result, so the search itself is the same in both.
void runAlternatingRounds(int rounds) {
    const auto& f = frames();
    if (f.empty()) {
        std::printf("alternating rounds: skipped, the sample video is not available\n");
        return;
    }
    kvohost::Runtime rt;
    kvohost::Extension ext(rt, KVO_LIBRARY_PATH);
    FREObject bitmap = rt.bitmap(kWidth, kHeight, f[0].data());
    startTracker(rt, ext, bitmap, true, 2, false);
    auto setRefine = [&](bool on) { setTrackingVars(rt, ext, 2, on); };
    const FRENamedFunction* update = ext.find("kvo_update");
    FREObject argv[] = {bitmap};
    size_t next = 0;
    int tracked = 0, calls = 0;
    auto oursRound = [&](bool refine) {
        setRefine(refine);
        std::vector<double> ms;
        for (size_t k = 0; k < f.size(); ++k) {
            kvohost::Runtime::Scope scope(rt);
            rt.setBitmapPixels(bitmap, f[next].data());
            const auto w0 = std::chrono::steady_clock::now();
            FREObject s = ext.invoke(*update, 1, argv);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
            tracked += rt.toString(s) == "state_face_tracking";
            ++calls;
            next = (next + 1) % f.size();
        }
        return medianOf(ms);
    };
    for (int i = 0; i < 8; ++i) oursRound(false);  // into the tracking state, caches warm
    tracked = calls = 0;

    std::vector<double> refined, plain, predictorMs, detectorPredictorMs;
#ifdef KVO_HAVE_DLIB
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    const dlib::shape_predictor predictor = loadPredictor();
    dlib::array2d<unsigned char> grey(kHeight, kWidth);
    auto convert = [&](const std::vector<uint32_t>& px) { toDlibGrey(px, grey); };
    std::vector<dlib::rectangle> boxes;
    std::vector<bool> found;
    detectorBoxes(detector, grey, boxes, found);
    // dlib's predictor alone on each frame with a box, the grey conversion timed.
    auto predictorRound = [&] {
        std::vector<double> ms;
        for (size_t k = 0; k < f.size(); ++k) {
            if (!found[k]) continue;
            const auto w0 = std::chrono::steady_clock::now();
            convert(f[k]);
            dlib::full_object_detection shape = predictor(grey, boxes[k]);
            benchmark::DoNotOptimize(shape.part(0));
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
        }
        return medianOf(ms);
    };
    // dlib's detector and predictor on every frame, as a tracker without tracking runs.
    auto detectorPredictorRound = [&] {
        std::vector<double> ms;
        for (size_t k = 0; k < f.size(); ++k) {
            const auto w0 = std::chrono::steady_clock::now();
            convert(f[k]);
            std::vector<dlib::rectangle> faces = detector(grey);
            if (!faces.empty()) {
                dlib::full_object_detection shape = predictor(grey, faces[0]);
                benchmark::DoNotOptimize(shape.part(0));
            }
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
        }
        return medianOf(ms);
    };
    predictorRound();  // warm
#endif
    for (int r = 0; r < rounds; ++r) {
        refined.push_back(oursRound(true));
#ifdef KVO_HAVE_DLIB
        predictorMs.push_back(predictorRound());
#endif
        plain.push_back(oursRound(false));
#ifdef KVO_HAVE_DLIB
        detectorPredictorMs.push_back(detectorPredictorRound());
#endif
    }
    auto ratios = [](const std::vector<double>& peer, const std::vector<double>& ours) {
        std::vector<double> out;
        for (size_t r = 0; r < peer.size() && r < ours.size(); ++r)
            if (ours[r] > 0) out.push_back(peer[r] / ours[r]);
        return spreadOf(out);
    };
    auto line = [](const char* what, const Spread& s) {
        std::printf("  %-58s %7.2f  (range %.2f-%.2f)\n", what, s.median, s.low, s.high);
    };
    std::printf("\nalternating rounds: %d rounds of %zu frames each (ours refined, dlib predictor, ours default, "
                "dlib detector + predictor); our calls tracked: %d of %d\n",
                rounds, f.size(), tracked, calls);
    std::printf("per-frame wall ms, median of the round medians:\n");
    line("kvo_update, face tracking, landmark refinement on", spreadOf(refined));
    line("kvo_update, face tracking, default (refinement off)", spreadOf(plain));
    line("refinement on / off", ratios(refined, plain));
#ifdef KVO_HAVE_DLIB
    line("dlib 68-point predictor alone (its detector's box)", spreadOf(predictorMs));
    line("dlib detector + 68-point predictor", spreadOf(detectorPredictorMs));
    std::printf("ratios, median of the per-round ratios (peer time / ours):\n");
    line("dlib predictor alone / ours refined", ratios(predictorMs, refined));
    line("dlib predictor alone / ours default", ratios(predictorMs, plain));
    line("dlib detector + predictor / ours refined", ratios(detectorPredictorMs, refined));
    line("dlib detector + predictor / ours default", ratios(detectorPredictorMs, plain));
#else
    std::printf("(built without dlib: no peer in the rounds)\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Our own flags, taken out before Google Benchmark reads the rest.
    int rounds = 11;
    bool roundsOnly = false;
    int kept = 1;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg.rfind("--kvo_rounds=", 0) == 0) {
            rounds = std::atoi(arg.c_str() + 13);
            if (rounds < 1 || rounds > 1000) {
                std::fprintf(stderr, "Error: --kvo_rounds must be 1 to 1000, not '%s'\n", arg.c_str() + 13);
                return 2;
            }
        } else if (arg == "--kvo_rounds_only") {
            roundsOnly = true;
        } else {
            argv[kept++] = argv[a];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (!roundsOnly) benchmark::RunSpecifiedBenchmarks();
    if (!roundsOnly) {
        // Each configuration's own run, one after another: the figures of one configuration.
        // They are not compared here; the ratios come from the alternating rounds below.
        struct Row {
            const char* what;
            const Samples& s;
        };
        const Row rows[] = {{"kvo_update, face tracking (all on)", gOurs},
                            {"kvo_update, landmark refinement on", gOursRefined},
                            {"kvo_update, Candide off", gOursNoCandide},
                            {"kvo_update, fine search to level 1", gOursFine1},
                            {"kvo_update, fine search to level 0", gOursFine0},
                            {"dlib detector + 68-point predictor", gDlib},
                            {"dlib 68-point predictor alone (its box, grey timed)", gDlibPredictor}};
        std::printf("\nper-frame medians, 640 x 480, same frames (wall ms / calling-thread CPU ms / process CPU ms):\n");
        for (const Row& r : rows) {
            if (r.s.wall.empty()) continue;
            std::printf("  %-52s %7.2f / %7.2f / %7.2f\n", r.what, Samples::median(r.s.wall),
                        Samples::median(r.s.cpu), Samples::median(r.s.processCpu));
        }
        std::printf("(work handed to the library's parked worker thread is in the process CPU figure only.)\n");
    }
    runAlternatingRounds(rounds);
    return 0;
}
