// soak: a long run of libKestavo.so under the stand-in host.
//
// Feeds the sample videos, looped, frame by frame through kvo_update and reads the
// results back as a host application does, with a random host action (mode switch,
// reset, parameter change, points added) every few hundred frames. Reports resident
// memory at the end of the warm-up and at the end, the median and worst frame time,
// and fails (exit status 1) when memory grew after the warm-up by more than the
// allowance or a frame took longer than the allowed multiple of the median.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "FramePipe.h"
#include "SoakOptions.h"
#include "host/HostRuntime.h"

namespace {

// Resident set size of this process in KiB (from /proc/self/statm), or -1.
long residentKiB() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr) return -1;
    long pages = 0, resident = -1;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const char* const kModes[] = {"mode_face_detection", "mode_face_tracking", "mode_point_tracking"};

uint8_t modeIndex(const std::string& mode) {
    for (uint8_t m = 0; m < 3; ++m) {
        if (mode == kModes[m]) return m;
    }
    return 0;
}

// The host side of the run: the runtime, the loaded library and the result objects a
// host application keeps from frame to frame.
class HostApp {
public:
    HostApp(const soak::Options& o)
        : opt_(o), ext_(rt_, o.library), rng_(o.seed) {
        update_ = ext_.find("kvo_update");
    }

    void init(const uint32_t* pixels) {
        bitmap_ = rt_.bitmap(opt_.width, opt_.height, pixels);  // reused for every frame
        kvohost::Runtime::Scope scope(rt_);
        ext_.call("kvo_init", bitmap_, rt_.number(0), rt_.number(0), rt_.number(opt_.width),
                  rt_.number(opt_.height));
    }

    // One frame: intake, tracking and the results a host reads every frame.
    void frame(const uint32_t* pixels) {
        rt_.setBitmapPixels(bitmap_, pixels);
        kvohost::Runtime::Scope scope(rt_);
        FREObject argv[] = {bitmap_};
        ext_.invoke(*update_, 1, argv);
        // The result objects are the frame's own, as in an application that makes them
        // per frame: the stand-in host frees them with the scope. (Values written into
        // objects that outlive the scope would stay in the host's arena for good and
        // hide the library's own memory behind the host's.)
        ext_.call("kvo_get_faceShape_points", rt_.array());
        ext_.call("kvo_get_faceShape_bounds", rt_.rectangle());
        ext_.call("kvo_get_faceShape_candideShapeVertices", rt_.array());
        ext_.call("kvo_get_lastDetectedFace", rt_.rectangle());
        ext_.call("kvo_get_lastDetectedFaces", rt_.array());
        FREObject points = rt_.array();
        ext_.call("kvo_get_pointsToTrack", points);
        ext_.call("kvo_get_pointStates", rt_.array());
        ext_.call("kvo_get_faceShape_rotationY");
        trackedPoints_ = rt_.length(points);
    }

    // One random host action; returns its name for the log.
    const char* randomAction() {
        kvohost::Runtime::Scope scope(rt_);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        switch (std::uniform_int_distribution<int>(0, 7)(rng_)) {
            case 0:
                ext_.call("kvo_set_mode", rt_.string(kModes[std::uniform_int_distribution<int>(0, 2)(rng_)]));
                return "set_mode";
            case 1:
                ext_.call("kvo_reset");
                return "reset";
            case 2:
                ext_.call("kvo_setFaceDetectionVars", rt_.number(2 + 3 * unit(rng_)), rt_.number(0.2 + 0.4 * unit(rng_)),
                          rt_.number(8 + 8 * unit(rng_)), rt_.number(0.03 + 0.05 * unit(rng_)),
                          rt_.integer(std::uniform_int_distribution<int>(1, 4)(rng_)), rt_.boolean(unit(rng_) < 0.3));
                return "setFaceDetectionVars";
            case 3:
                ext_.call("kvo_setFaceTrackingVars", rt_.number(30 + 40 * unit(rng_)), rt_.number(300 + 300 * unit(rng_)),
                          rt_.integer(unit(rng_) < 0.5 ? 0 : 1));
                return "setFaceTrackingVars";
            case 4:
                ext_.call("kvo_setPointTrackingVars", rt_.integer(std::uniform_int_distribution<int>(5, 50)(rng_)),
                          rt_.integer(std::uniform_int_distribution<int>(1, 5)(rng_)),
                          rt_.integer(std::uniform_int_distribution<int>(3, 60)(rng_)), rt_.number(0.0001 + 0.001 * unit(rng_)));
                return "setPointTrackingVars";
            case 5: {
                // Points accumulate until a reset in point tracking; keep their number
                // bounded so that the run measures leaks, not a growing workload.
                if (trackedPoints_ > 150) {
                    ext_.call("kvo_set_mode", rt_.string("mode_point_tracking"));
                    ext_.call("kvo_reset");
                }
                std::vector<FREObject> pts;
                const int n = std::uniform_int_distribution<int>(1, 20)(rng_);
                for (int i = 0; i < n; ++i) {
                    pts.push_back(rt_.point(opt_.width * unit(rng_), opt_.height * unit(rng_)));
                }
                FREObject arr = rt_.array(pts.size());
                for (size_t i = 0; i < pts.size(); ++i) rt_.setElement(arr, static_cast<uint32_t>(i), pts[i]);
                ext_.call("kvo_addPointsToTrack", arr);
                return "addPointsToTrack";
            }
            case 6: {
                const double w = opt_.width * (0.5 + 0.5 * unit(rng_)), h = opt_.height * (0.5 + 0.5 * unit(rng_));
                ext_.call("kvo_setFaceDetectionROI", rt_.number((opt_.width - w) * unit(rng_)),
                          rt_.number((opt_.height - h) * unit(rng_)), rt_.number(w), rt_.number(h));
                return "setFaceDetectionROI";
            }
            default:
                ext_.call("kvo_set_candideEnabled", rt_.boolean(unit(rng_) < 0.7));
                ext_.call("kvo_set_candideActionUnitsEnabled", rt_.boolean(unit(rng_) < 0.5));
                return "set_candide";
        }
    }

    std::string mode() {
        kvohost::Runtime::Scope scope(rt_);
        return rt_.toString(ext_.call("kvo_get_mode"));
    }
    size_t hostObjects() const { return rt_.objectCount(); }
    std::mt19937& rng() { return rng_; }

private:
    const soak::Options& opt_;
    kvohost::Runtime rt_;
    kvohost::Extension ext_;
    std::mt19937 rng_;
    const FRENamedFunction* update_ = nullptr;
    FREObject bitmap_ = nullptr;
    uint32_t trackedPoints_ = 0;
};

int run(const soak::Options& opt) {
    soak::FramePipe frames(opt.videos, opt.width, opt.height);
    if (!frames.next()) {
        std::fprintf(stderr, "Error: no frame could be decoded from the videos (is ffmpeg installed?).\n");
        return 2;
    }
    HostApp app(opt);
    app.init(frames.pixels());

    // Per-frame records are filled with non-zero values up front: zero-filled storage
    // can come as untouched pages, which would then join the resident set frame by
    // frame and read as growth of the library's memory.
    std::vector<float> ms(static_cast<size_t>(opt.frames), -1.0f);
    std::vector<std::string> actionAt(static_cast<size_t>(opt.frames));
    // The mode of each frame: frame costs differ by mode (a detection scan against a
    // few tracked points), so each frame is also compared with its own mode's median.
    std::vector<uint8_t> modeOf(static_cast<size_t>(opt.frames), UINT8_MAX);
    std::vector<uint32_t> batchPosition(static_cast<size_t>(opt.frames), UINT32_MAX);
    // Scratch of the progress lines' running median, sized once: a buffer allocated
    // afresh at every report would come from a heap top that glibc lets grow.
    std::vector<float> sofar(static_cast<size_t>(opt.frames), -1.0f);
    uint8_t mode = modeIndex(app.mode());
    long rssWarm = -1, rssPeakAfterWarm = 0;
    long nextEvent = opt.eventEveryMin;
    long events = 0;
    using Clock = std::chrono::steady_clock;
    for (long i = 0; i < opt.frames; ++i) {
        if (i > 0 && !frames.next()) {
            std::fprintf(stderr, "Error: decoding stopped at frame %ld.\n", i);
            return 2;
        }
        if (i == nextEvent) {
            actionAt[i] = app.randomAction();
            mode = modeIndex(app.mode());
            ++events;
            nextEvent += std::uniform_int_distribution<long>(opt.eventEveryMin, opt.eventEveryMax)(app.rng());
        }
        const auto t0 = Clock::now();
        app.frame(frames.pixels());
        ms[i] = std::chrono::duration<float, std::milli>(Clock::now() - t0).count();
        modeOf[i] = mode;
        batchPosition[i] = static_cast<uint32_t>(frames.positionInBatch());

        if (i + 1 == opt.warmup) rssWarm = residentKiB();
        if (i + 1 > opt.warmup) rssPeakAfterWarm = std::max(rssPeakAfterWarm, residentKiB());
        if ((i + 1) % 5000 == 0 || i + 1 == opt.warmup || i + 1 == 1000) {
            sofar.assign(ms.begin(), ms.begin() + i + 1);
            std::nth_element(sofar.begin(), sofar.begin() + sofar.size() / 2, sofar.end());
            std::printf("soak: frame %ld  rss %ld KiB  host objects %zu  median %.3f ms  worst %.3f ms  mode %s  "
                        "video %zu loop %ld\n",
                        i + 1, residentKiB(), app.hostObjects(), sofar[sofar.size() / 2],
                        *std::max_element(ms.begin(), ms.begin() + i + 1), app.mode().c_str(), frames.videoIndex(),
                        frames.loops());
            std::fflush(stdout);
        }
    }
    const long rssEnd = residentKiB();

    // Statistics over the frames after the warm-up.
    std::vector<float> after(ms.begin() + opt.warmup, ms.end());
    std::vector<float> sorted = after;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    const auto worstIt = std::max_element(after.begin(), after.end());
    const long worstFrame = opt.warmup + static_cast<long>(worstIt - after.begin());
    const double worst = *worstIt;
    long slow = 0;
    for (float t : after) slow += (t > opt.maxFrameRatio * median) ? 1 : 0;
    std::sort(sorted.begin(), sorted.end());
    const double p99 = sorted[static_cast<size_t>(0.99 * (sorted.size() - 1))];
    std::printf("soak: %ld frames, %ld host actions, videos looped %ld times\n", opt.frames, events, frames.loops());
    std::printf("soak: rss after warm-up (frame %ld) %ld KiB, peak after %ld KiB, at the end %ld KiB\n", opt.warmup,
                rssWarm, rssPeakAfterWarm, rssEnd);
    std::printf("soak: frame time after warm-up: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms at frame %ld%s%s\n",
                median, p99, worst, worstFrame, actionAt[worstFrame].empty() ? "" : " after ",
                actionAt[worstFrame].c_str());
    std::printf("soak: frames above %.0f x median: %ld\n", opt.maxFrameRatio, slow);

    // Per mode, after the warm-up.
    for (uint8_t m = 0; m < 3; ++m) {
        std::vector<float> t;
        for (long i = opt.warmup; i < opt.frames; ++i) {
            if (modeOf[i] == m) t.push_back(ms[i]);
        }
        if (t.empty()) continue;
        std::vector<float> s = t;
        std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
        const double med = s[s.size() / 2];
        const double w = *std::max_element(t.begin(), t.end());
        long over = 0;
        for (float x : t) over += (x > opt.maxFrameRatio * med) ? 1 : 0;
        std::printf("soak: %s: %zu frames, median %.3f ms, worst %.3f ms (%.1f x median), %ld above %.0f x median\n",
                    kModes[m], t.size(), med, w, w / med, over, opt.maxFrameRatio);
    }

    // Per stretch of frames between two host actions (one mode, one set of
    // parameters): each frame against its own stretch's median.
    double worstRatioInStretch = 0.0;
    long worstStretchFrame = -1;
    long overInStretch = 0;
    std::vector<float> stretchMedian(static_cast<size_t>(opt.frames), 0.0f);
    std::vector<long> stretchBegin(static_cast<size_t>(opt.frames), 0);
    {
        long begin = opt.warmup;
        std::vector<float> s;
        for (long i = opt.warmup; i <= opt.frames; ++i) {
            if (i < opt.frames && (i == begin || actionAt[i].empty())) continue;
            s.assign(ms.begin() + begin, ms.begin() + i);
            std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
            const double med = s[s.size() / 2];
            for (long k = begin; k < i; ++k) {
                stretchMedian[k] = static_cast<float>(med);
                stretchBegin[k] = begin;
                if (ms[k] > opt.maxFrameRatio * med) ++overInStretch;
                if (ms[k] / med > worstRatioInStretch) {
                    worstRatioInStretch = ms[k] / med;
                    worstStretchFrame = k;
                }
            }
            begin = i;
        }
    }
    std::printf("soak: against the median of its stretch between host actions: worst %.1f x (frame %ld), %ld frames "
                "above %.0f x\n",
                worstRatioInStretch, worstStretchFrame, overInStretch, opt.maxFrameRatio);

    // The frames slowest against their stretch's median, with what preceded them.
    {
        std::vector<long> order;
        for (long i = opt.warmup; i < opt.frames; ++i) order.push_back(i);
        const size_t shown = std::min<size_t>(order.size(), 8);
        std::partial_sort(order.begin(), order.begin() + shown, order.end(),
                          [&](long a, long b) { return ms[a] * stretchMedian[b] > ms[b] * stretchMedian[a]; });
        for (size_t k = 0; k < shown; ++k) {
            const long i = order[k];
            const long since = i - stretchBegin[i];
            std::printf("soak: slow frame %ld: %.3f ms (%.1f x its stretch's median), %s, %ld frames after %s, "
                        "frame %u of its decoded batch\n",
                        i, ms[i], stretchMedian[i] > 0 ? ms[i] / stretchMedian[i] : 0.0, kModes[modeOf[i]], since,
                        actionAt[stretchBegin[i]].empty() ? "the warm-up" : actionAt[stretchBegin[i]].c_str(),
                        batchPosition[i]);
        }
    }

    bool ok = true;
    if (rssPeakAfterWarm - rssWarm > opt.maxGrowthKiB) {
        std::printf("Error: resident memory grew by %ld KiB after the warm-up (allowed %.0f KiB).\n",
                    rssPeakAfterWarm - rssWarm, opt.maxGrowthKiB);
        ok = false;
    }
    if (worst > opt.maxFrameRatio * median) {
        std::printf("Error: the worst frame took %.1f times the median (allowed %.1f).\n", worst / median,
                    opt.maxFrameRatio);
        ok = false;
    }
    // The per-mode and per-stretch ratios are reported, not judged: a stretch of point
    // tracking with no points costs about 0.4 ms a frame, so one late start of a worker
    // thread on a busy machine is already ten times that.
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    soak::Options opt;
    if (!soak::parseOptions(argc, argv, opt)) return 2;
    try {
        return run(opt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
