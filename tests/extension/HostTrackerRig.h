#pragma once
// Test support: a tracker that is a fresh copy of the built library, driven through the
// stand-in host as a user's program drives it, and the sample frames the host tests feed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/HostRuntime.h"
#include "support/MediaFrames.h"

namespace kvotest {

using kvohost::Extension;
using kvohost::Runtime;


constexpr int kWidth = 640, kHeight = 480;

// One library copy of its own (dlopen then gives it its own statics: one tracker), in the
// process's one host runtime.
class HostTracker {
public:
    explicit HostTracker(Runtime& runtime) : rt(runtime), path_(copyPath()) {}
    ~HostTracker() { unlink(path_.c_str()); }

    // kvo_init on the first frame, then `configure` (the setters), then kvo_update on every
    // frame; records each frame's state, landmarks and printed lines.
    void run(const std::vector<std::vector<uint32_t>>& frames, const std::function<void()>& configure) {
        FREObject bitmap = rt.bitmap(kWidth, kHeight, frames[0].data());
        testing::internal::CaptureStdout();
        ext_.call("kvo_init", bitmap, rt.number(0), rt.number(0), rt.number(kWidth), rt.number(kHeight));
        configure();
        for (const std::vector<uint32_t>& f : frames) {
            Runtime::Scope scope(rt);
            rt.setBitmapPixels(bitmap, f.data());
            states.push_back(rt.toString(ext_.call("kvo_update", bitmap)));
            FREObject pts = rt.array();
            ext_.call("kvo_get_faceShape_faceShapeVectices", pts);
            landmarks.push_back(rt.toNumbers(pts));
        }
        printed = testing::internal::GetCapturedStdout();
    }
    FREObject setTrackingVars(std::vector<FREObject> args) { return ext_.callWith("kvo_setFaceTrackingVars", args); }

    Runtime& rt;
    std::vector<std::string> states;
    std::vector<std::vector<double>> landmarks;
    std::string printed;

private:
    static std::string copyPath() {
        static int n = 0;
        return "/tmp/kvo_host_tracker_test_" + std::to_string(getpid()) + "_" + std::to_string(n++) + ".so";
    }
    static const std::string& copy(const std::string& path) {
        std::ifstream src(KVO_LIBRARY_PATH, std::ios::binary);
        std::ofstream dst(path, std::ios::binary);
        dst << src.rdbuf();
        return path;
    }
    std::string path_;
    Extension ext_{rt, copy(path_)};
};

// 40 frames of the sample video from frame 1000, at 640 x 480.
inline const std::vector<std::vector<uint32_t>>& videoFrames() {
    static std::vector<std::vector<uint32_t>> frames;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (!kvotest::decodeBgraFrames(kvotest::mediaPath("franck.mp4"), kWidth, kHeight, 1000, 40, frames)) frames.clear();
    }
    return frames;
}

inline bool allFinite(const std::vector<double>& v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

inline int errorLines(const std::string& out) {
    int n = 0;
    for (size_t p = out.find("Error: "); p != std::string::npos; p = out.find("Error: ", p + 1)) ++n;
    return n;
}

}  // namespace kvotest
