// One face-tracking kvo_update (the library loaded through the stand-in host, embedded
// shape model, 60 frames of franck.mp4) swept over the frame size and the settings a host
// may choose: Candide on or off (kvo_set_candideEnabled), the finest pyramid level searched
// once tracking (kvo_setFaceTrackingVars' fourth argument; 2 is the library's default) and
// the opt-in landmark refinement (its fifth argument). Against it, dlib's 68-point shape
// predictor on the same 640 x 480 frames in the same process, with its frontal face
// detector before it (detector:1) or alone in the box that detector found (detector:0, the
// fair peer of a tracked frame, which runs no detector). Prints each row's per-frame median
// (wall clock, calling-thread CPU and process CPU).
//
// The ratios come from alternating rounds in one process: each round runs every contender
// over the same 60 frames in turn (ours refined, dlib's predictor, ours default, dlib's
// detector + predictor), so a slow spell of the machine falls on all of them; each ratio is
// the median of its per-round ratios, printed with its range. --kvo_rounds=N (default 11);
// --kvo_rounds_only skips the benchmark rows.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "FreshLibrary.h"
#include "eval/ErrorSummary.h"
#include "eval/Files.h"
#include "eval/VideoFrames.h"
#include "host/HostRuntime.h"
#include "image/GreyConversion.h"

#ifdef KVO_HAVE_DLIB
#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#endif

namespace {

constexpr int kWidth = 640;  // of the peers and the rounds; frames are 4:3
constexpr int kFrames = 60;

struct Frames {
    int width = 0, height = 0;
    std::vector<std::vector<uint32_t>> pixels;  // host pixels (blue, green, red, alpha)
};

// Frames 1000 ... 1059 of the sample video scaled to `width` x 3/4 `width`. Holds one size
// at a time (60 frames of 1280 x 960 would be 300 MB); the reference stays valid until a call
// with another width.
const Frames& frames(int width = kWidth) {
    static Frames f;
    if (f.width != width) {
        f.width = width, f.height = width * 3 / 4;
        f.pixels.clear();
        kvo::eval::decodeBgraFrames(std::string(KVO_MEDIA_DIR) + "/franck.mp4", f.width, f.height, 1000, kFrames,
                                    f.pixels);
        std::printf("frames: %zu of franck.mp4 (from frame 1000), scaled to %d x %d\n", f.pixels.size(), f.width,
                    f.height);
    }
    return f;
}

double cpuMs(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
double median(std::vector<double> v) { return kvo::eval::summariseErrors(std::move(v)).median; }

// Per-frame times of one benchmark row, in ms. The process CPU counts the search's worker
// threads too: on a machine shared with other jobs it measures the work of a frame where
// the wall clock also measures the waiting.
struct Samples {
    std::vector<double> wall, cpu, processCpu;
};
// Every row's samples by its label, in the order the rows ran (a deque keeps references).
std::deque<std::pair<std::string, Samples>> gRows;
Samples& rowSamples(const std::string& label) {
    for (auto& r : gRows)
        if (r.first == label) return r.second;
    gRows.emplace_back(label, Samples());
    return gRows.back().second;
}

template <class F>
void timed(Samples& s, F&& f) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = cpuMs(CLOCK_THREAD_CPUTIME_ID), p0 = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    f();
    const double c1 = cpuMs(CLOCK_THREAD_CPUTIME_ID), p1 = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    s.wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
    s.cpu.push_back(c1 - c0);
    s.processCpu.push_back(p1 - p0);
}

// The face-tracking settings of a run.
void setTrackingVars(kvohost::Runtime& rt, kvohost::Extension& ext, int finest, bool refine) {
    ext.call("kvo_setFaceTrackingVars", rt.number(50), rt.number(500), rt.integer(1), rt.integer(finest),
             rt.boolean(refine));
}
// Initialises the tracker on `bitmap` (the first frame, w x h) with the given settings.
void startTracker(kvohost::Runtime& rt, kvohost::Extension& ext, FREObject bitmap, int w, int h, bool candide,
                  int finest, bool refine) {
    ext.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(w), rt.number(h));
    ext.call("kvo_set_candideEnabled", rt.boolean(candide));
    setTrackingVars(rt, ext, finest, refine);
}

// Arguments: frame width, Candide (0/1), finest level searched (0 ... 2), refinement (0/1).
void BM_kvo_update_faceTracking(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const bool candide = state.range(1) != 0, refine = state.range(3) != 0;
    const int finest = static_cast<int>(state.range(2));
    const Frames& f = frames(width);
    if (f.pixels.empty()) {
        state.SkipWithError("sample video not available");
        return;
    }
    char label[96];
    std::snprintf(label, sizeof label, "kvo_update %dx%d, Candide %s, finest level %d, refinement %s", f.width,
                  f.height, candide ? "on" : "off", finest, refine ? "on" : "off");
    state.SetLabel(label);
    Samples& out = rowSamples(label);
    FreshLibrary lib;  // a fresh tracker for this row's frame size and settings
    kvohost::Runtime& rt = lib.rt;
    kvohost::Extension& ext = lib.ext;
    FREObject bitmap = rt.bitmap(f.width, f.height, f.pixels[0].data());
    startTracker(rt, ext, bitmap, f.width, f.height, candide, finest, refine);
    const FRENamedFunction* update = ext.find("kvo_update");
    FREObject argv[] = {bitmap};
    // Warm up into the tracking state on the first frames.
    for (int i = 0; i < 8; ++i) {
        kvohost::Runtime::Scope scope(rt);
        rt.setBitmapPixels(bitmap, f.pixels[i].data());
        ext.invoke(*update, 1, argv);
    }
    size_t i = 8;
    int tracked = 0, total = 0;
    for (auto _ : state) {
        kvohost::Runtime::Scope scope(rt);
        state.PauseTiming();
        rt.setBitmapPixels(bitmap, f.pixels[i].data());
        state.ResumeTiming();
        FREObject s = nullptr;
        timed(out, [&] { s = ext.invoke(*update, 1, argv); });
        tracked += rt.toString(s) == "state_face_tracking";
        ++total;
        i = (i + 1) % f.pixels.size();
    }
    state.counters["tracked_share"] = total ? static_cast<double>(tracked) / total : 0.0;
}
// Every combination of the settings at 640 x 480; the library's defaults at 320 x 240.
// (Larger frames are left out: at 960 x 720 and 1280 x 960 the defaults never get past
// detection on these frames, so such a row would time detection, not tracking.)
BENCHMARK(BM_kvo_update_faceTracking)
    ->ArgNames({"width", "candide", "finest", "refine"})
    ->ArgsProduct({{kWidth}, {1, 0}, {2, 1, 0}, {0, 1}})
    ->Args({320, 1, 2, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(240);

#ifdef KVO_HAVE_DLIB
// dlib's 68-point predictor (as Debian's libdlib-data installs it) and frontal face
// detector over the 640 x 480 frames, with the face box the detector finds on each frame.
struct DlibPeer {
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    dlib::shape_predictor predictor;
    dlib::array2d<unsigned char> grey;
    std::vector<dlib::rectangle> boxes;
    std::vector<bool> found;  // per frame: the detector found a face (its first in boxes)

    DlibPeer() : grey(frames().height, frames().width) {
        dlib::deserialize(kvo::eval::DLIB_SHAPE_PREDICTOR) >> predictor;
        const auto& f = frames().pixels;
        boxes.assign(f.size(), dlib::rectangle());
        found.assign(f.size(), false);
        for (size_t k = 0; k < f.size(); ++k) {
            toGrey(k);
            std::vector<dlib::rectangle> faces = detector(grey);
            if (!faces.empty()) boxes[k] = faces[0], found[k] = true;
        }
    }
    // Frame k's host pixels in grey by the library's own conversion (kvo_update's), into
    // the image's rows, which dlib stores back to back.
    void toGrey(size_t k) {
        const auto& px = frames().pixels[k];
        kvo::convertToGrey(px.data(), &grey[0][0], px.size());
    }
    // One frame as timed: the grey conversion, then the detector and the predictor in its
    // first face, or (withDetector false) the predictor in the stored box. Returns whether
    // a shape was predicted.
    bool landmarks(size_t k, bool withDetector) {
        toGrey(k);
        dlib::rectangle box = boxes[k];
        if (withDetector) {
            std::vector<dlib::rectangle> faces = detector(grey);
            if (faces.empty()) return false;
            box = faces[0];
        } else if (!found[k]) {
            return false;
        }
        dlib::full_object_detection shape = predictor(grey, box);
        benchmark::DoNotOptimize(shape.part(0));
        return true;
    }
};

// Argument: 1 runs dlib's detector and predictor on every frame, as a tracker without
// tracking runs; 0 the predictor alone on the frames with a box (a tracked kvo_update runs
// no detector either; it does run the stabiliser and the Candide fit besides the landmarks).
void BM_dlib_68_points(benchmark::State& state) {
    const size_t n = frames().pixels.size();
    if (n == 0) {
        state.SkipWithError("sample video not available");
        return;
    }
    const bool withDetector = state.range(0) != 0;
    const char* label = withDetector ? "dlib detector + 68-point predictor (grey timed)"
                                     : "dlib 68-point predictor alone (its box, grey timed)";
    state.SetLabel(label);
    Samples& out = rowSamples(label);
    DlibPeer peer;
    size_t i = 0;
    int shapes = 0, total = 0;
    for (auto _ : state) {
        while (!withDetector && !peer.found[i]) i = (i + 1) % n;
        timed(out, [&] { shapes += peer.landmarks(i, withDetector); });
        ++total;
        i = (i + 1) % n;
    }
    state.counters["shape_share"] = total ? static_cast<double>(shapes) / total : 0.0;
    state.counters["frames_with_box"] = static_cast<double>(std::count(peer.found.begin(), peer.found.end(), true));
}
BENCHMARK(BM_dlib_68_points)->ArgName("detector")->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(240);
BENCHMARK(BM_dlib_68_points)->ArgName("detector")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(60);
#endif

// ---- Alternating rounds: the ratios ----

struct Spread {
    double median = 0, low = 0, high = 0;
};
Spread spreadOf(const std::vector<double>& v) {
    Spread s;
    if (v.empty()) return s;
    s.median = median(v);
    s.low = *std::min_element(v.begin(), v.end());
    s.high = *std::max_element(v.begin(), v.end());
    return s;
}

#ifdef KVO_HAVE_DLIB
// One round of the peer: the median wall ms of a frame over the frames it runs on (those
// with a box when it runs without its detector).
double peerRound(DlibPeer& peer, bool withDetector) {
    std::vector<double> ms;
    for (size_t k = 0; k < peer.found.size(); ++k) {
        if (!withDetector && !peer.found[k]) continue;
        const auto w0 = std::chrono::steady_clock::now();
        peer.landmarks(k, withDetector);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
    }
    return median(ms);
}
#endif

// Runs `rounds` rounds; in each, every contender sees the 60 frames in turn. Our tracker
// keeps its state across rounds and sees the frames in order (wrapping from the last to the
// first), with the refinement switched by kvo_setFaceTrackingVars between its two rounds:
// the refinement only reads the search's result, so the search itself is the same in both.
void runAlternatingRounds(int rounds) {
    const Frames& f = frames();
    const size_t n = f.pixels.size();
    if (n == 0) {
        std::printf("alternating rounds: skipped, the sample video is not available\n");
        return;
    }
    FreshLibrary lib;
    kvohost::Runtime& rt = lib.rt;
    kvohost::Extension& ext = lib.ext;
    FREObject bitmap = rt.bitmap(f.width, f.height, f.pixels[0].data());
    startTracker(rt, ext, bitmap, f.width, f.height, true, 2, false);
    const FRENamedFunction* update = ext.find("kvo_update");
    FREObject argv[] = {bitmap};
    size_t next = 0;
    int tracked = 0, calls = 0;
    auto oursRound = [&](bool refine) {
        setTrackingVars(rt, ext, 2, refine);
        std::vector<double> ms;
        for (size_t k = 0; k < n; ++k, next = (next + 1) % n) {
            kvohost::Runtime::Scope scope(rt);
            rt.setBitmapPixels(bitmap, f.pixels[next].data());
            const auto w0 = std::chrono::steady_clock::now();
            FREObject s = ext.invoke(*update, 1, argv);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count());
            tracked += rt.toString(s) == "state_face_tracking";
            ++calls;
        }
        return median(ms);
    };
    for (int i = 0; i < 8; ++i) oursRound(false);  // into the tracking state, caches warm
    tracked = calls = 0;

    std::vector<double> refined, plain, predictorMs, detectorPredictorMs;
#ifdef KVO_HAVE_DLIB
    DlibPeer peer;
    peerRound(peer, false);  // warm
#endif
    for (int r = 0; r < rounds; ++r) {
        refined.push_back(oursRound(true));
#ifdef KVO_HAVE_DLIB
        predictorMs.push_back(peerRound(peer, false));
#endif
        plain.push_back(oursRound(false));
#ifdef KVO_HAVE_DLIB
        detectorPredictorMs.push_back(peerRound(peer, true));
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
                rounds, n, tracked, calls);
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
    bool roundsOnly = false, listOnly = false;
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
            listOnly = listOnly || arg == "--benchmark_list_tests" || arg == "--benchmark_list_tests=true";
            argv[kept++] = argv[a];
        }
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (!roundsOnly) {
        benchmark::RunSpecifiedBenchmarks();
        if (listOnly) return 0;
        // Each row's own run, one after another: the figures of one configuration. They are
        // not compared here; the ratios come from the alternating rounds below.
        std::printf("\nper-frame medians, same frames (wall ms / calling-thread CPU ms / process CPU ms):\n");
        for (const auto& r : gRows) {
            if (r.second.wall.empty()) continue;
            std::printf("  %-66s %7.2f / %7.2f / %7.2f\n", r.first.c_str(), median(r.second.wall),
                        median(r.second.cpu), median(r.second.processCpu));
        }
        std::printf("(work handed to the library's parked worker thread is in the process CPU figure only.)\n");
    }
    runAlternatingRounds(rounds);
    return 0;
}
