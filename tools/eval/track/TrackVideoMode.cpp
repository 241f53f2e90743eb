// track_eval --video: a video through the tracker beside dlib's landmarks, and the steadiness
// of a few frames fed again and again.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <dlib/opencv.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "LandmarkCorrespondence.h"
#include "PoseTally.h"
#include "TrackEvalModes.h"
#include "TrainingSet.h"
#include "eval/DlibLayout.h"
#include "eval/DlibPeer.h"
#include "tracker/KVOModeState.h"

using namespace kvo;
using namespace kvo::trainer;

namespace trackeval {
namespace {

void draw(const std::string& path, const cv::Mat& bgr, const std::vector<double>& shape,
          const std::vector<double>& ref) {
    cv::Mat img = bgr.clone();
    for (size_t i = 0; i + 1 < ref.size(); i += 2)
        cv::circle(img, cv::Point2d(ref[i], ref[i + 1]), 2, cv::Scalar(255, 128, 0), -1);
    for (size_t i = 0; i + 1 < shape.size(); i += 2)
        cv::circle(img, cv::Point2d(shape[i], shape[i + 1]), 2, cv::Scalar(0, 255, 0), -1);
    cv::Mat big;
    cv::resize(img, big, cv::Size(), 2.0, 2.0, cv::INTER_NEAREST);
    cv::imwrite(path, big);
}

}  // namespace

int videoMode(const VideoOptions& o, const TrackerSettings& settings) {
    // dlib's points per evaluated frame, cached (they do not depend on the model).
    std::map<int, std::vector<double>> dlibPts;
    {
        std::ifstream in(o.cachePath);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            int f;
            ls >> f;
            std::vector<double> p;
            double v;
            while (ls >> v) p.push_back(v);
            if (p.size() == 136 || p.empty()) dlibPts[f] = p;
        }
    }
    const bool haveCache = !dlibPts.empty();
    std::unique_ptr<eval::DlibPeer> dlibPeer;
    if (!haveCache) dlibPeer.reset(new eval::DlibPeer());
    GreyVideo frames(o.video);
    if (!frames.isOpen()) {
        std::fprintf(stderr, "Error: cannot open the video %s\n", o.video.c_str());
        return 1;
    }
    cv::Mat grey;
    std::unique_ptr<Tracker> tracker;
    std::vector<cv::Mat> stills;
    int n = 0, tracked = 0;
    std::map<std::string, std::pair<double, int>> groups;
    std::map<int, std::pair<double, int>> windows;
    std::map<int, std::pair<int, int>> windowTracked;
    double total = 0, totalShared = 0;
    int totalN = 0;
    PoseTally pose;
    for (int f = 0; (o.maxFrames <= 0 || f < o.maxFrames) && frames.next(grey); ++f) {
        if (!tracker) tracker.reset(new Tracker(grey.cols, grey.rows, o.model, settings));
        const std::string state = tracker->feed(grey);
        ++n;
        const bool isTracking = state == KVOState::FACE_TRACKING;
        tracked += isTracking;
        windowTracked[f / 100].first += isTracking;
        windowTracked[f / 100].second += 1;
        if (isTracking && tracker->kestavo.asmSearch.candideEnabled) {
            const KVOFaceShape& fs = tracker->kestavo.faceShape;
            pose.addTracked(fs.rotationX, fs.rotationY, fs.rotationZ);
        }
        for (int sf : o.stillFrames)
            if (sf == f) stills.push_back(grey.clone());
        if (f % o.step != 0) continue;
        if (!haveCache) {
            dlib::cv_image<dlib::bgr_pixel> img(frames.colour());
            const std::vector<dlib::rectangle> dets = dlibPeer->faces(img);
            dlibPts[f] = dets.empty() ? std::vector<double>() : dlibPeer->landmarks(img, dets[0]);
        }
        const std::vector<double>& ref = dlibPts[f];
        if (ref.size() != 136 || !isTracking) continue;
        const std::vector<double> s = tracker->shape();
        const landmarks::LandmarkError core =
            landmarks::landmarkError(s.data(), landmarks::Layout::Ours, ref.data(), landmarks::PointSet::Core);
        const landmarks::LandmarkError shared =
            landmarks::landmarkError(s.data(), landmarks::Layout::Ours, ref.data(), landmarks::PointSet::Shared);
        for (int g = 0; g < landmarks::NUM_GROUPS; ++g) {
            groups[landmarks::groupName(static_cast<landmarks::Group>(g))].first += core.perGroup[g];
            groups[landmarks::groupName(static_cast<landmarks::Group>(g))].second += 1;
        }
        const double frameErr = core.mean;
        totalShared += shared.mean;
        // Eye-line tilts, each drawn from the image-left eye to the image-right one.
        const EyeCentres eyes = eval::dlibEyeCentres(ref.data());
        const bool ownLeftFirst = s[2 * 31] <= s[2 * 36];
        const int a = ownLeftFirst ? 31 : 36, b = ownLeftFirst ? 36 : 31;
        if (isTracking && tracker->kestavo.asmSearch.candideEnabled)
            pose.addTilt(PoseTally::tiltDeg(eyes.leftX, eyes.leftY, eyes.rightX, eyes.rightY),
                         PoseTally::tiltDeg(s[2 * a], s[2 * a + 1], s[2 * b], s[2 * b + 1]));
        windows[f / 100].first += frameErr;
        windows[f / 100].second += 1;
        total += frameErr;
        ++totalN;
        if (!o.drawDir.empty() && f % 500 == 0) {
            char name[64];
            std::snprintf(name, sizeof name, "/frame_%05d.png", f);
            draw(o.drawDir + name, frames.colour(), s, ref);
        }
    }
    if (!haveCache && !o.cachePath.empty()) {
        std::ofstream out(o.cachePath);
        for (const auto& kv : dlibPts) {
            out << kv.first;
            char buf[32];
            for (double v : kv.second) {
                std::snprintf(buf, sizeof buf, " %.1f", v);
                out << buf;
            }
            out << '\n';
        }
    }
    std::printf("frames %d, tracking %d (%.2f %%)\n", n, tracked, 100.0 * tracked / std::max(1, n));
    std::printf("core-point error (%d points) / outer-eye distance: mean %.4f over %d frames\n", landmarks::CORE_COUNT,
                totalN ? total / totalN : 0.0, totalN);
    std::printf("shared-point error (%d points) / outer-eye distance: mean %.4f\n", landmarks::SHARED_COUNT,
                totalN ? totalShared / totalN : 0.0);
    std::printf("core points per group:\n");
    for (const auto& g : groups)
        std::printf("  group %-6s %.4f\n", g.first.c_str(), g.second.first / std::max(1, g.second.second));
    std::printf("per 100-frame window: frames tracked %%, mean error\n");
    for (const auto& w : windowTracked) {
        const auto it = windows.find(w.first);
        std::printf("  %5d-%5d  %6.1f %%  %s\n", w.first * 100, w.first * 100 + 99,
                    100.0 * w.second.first / std::max(1, w.second.second),
                    it == windows.end() ? "-" : std::to_string(it->second.first / it->second.second).substr(0, 6).c_str());
    }
    std::printf("%s", pose.summary().c_str());
    // Steadiness: each chosen frame fed 50 times to a fresh tracker; the moves from the
    // 20th feed on are those of a tracker that has had time to settle.
    const int kSettledFeeds = 20;
    for (size_t k = 0; k < stills.size(); ++k) {
        Tracker t(stills[k].cols, stills[k].rows, o.model, settings);
        std::vector<double> prev;
        double worst = 0, worstLate = 0;  // over every feed, and from the 20th on
        int trackedFeeds = 0;
        for (int r = 0; r < o.stillFeeds; ++r) {
            const std::string st = t.feed(stills[k]);
            const bool ok = st == KVOState::FACE_TRACKING;
            trackedFeeds += ok;
            std::vector<double> s = t.shape();
            double feedMax = 0;  // this feed's largest move and its landmark
            int feedArg = -1;
            if (ok && !prev.empty())
                for (size_t i = 0; i + 1 < s.size(); i += 2) {
                    const double d = std::hypot(s[i] - prev[i], s[i + 1] - prev[i + 1]);
                    if (d > feedMax) {
                        feedMax = d;
                        feedArg = static_cast<int>(i / 2);
                    }
                }
            worst = std::max(worst, feedMax);
            if (r >= kSettledFeeds) worstLate = std::max(worstLate, feedMax);
            if (o.traceStill)
                std::printf("  feed %d: %s, largest move %.3f px (landmark %d)\n", r, st.c_str(), feedMax, feedArg);
            prev = ok ? s : std::vector<double>();
        }
        std::printf("steadiness: frame %d fed %d times: %d feeds tracking, largest move between feeds %.4f px, "
                    "from feed %d on %.4f px\n",
                    o.stillFrames[k], o.stillFeeds, trackedFeeds, worst, kSettledFeeds, worstLate);
    }
    return 0;
}

}  // namespace trackeval
