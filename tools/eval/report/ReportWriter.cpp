#include "ReportWriter.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "Charts.h"
#include "LandmarkCorrespondence.h"
#include "Report.h"
#include "eval/Stats.h"
#include "models/EmbeddedModels.h"

namespace kvoeval {

using kvo::eval::mean;
using kvo::eval::median;
using kvo::eval::p95;
using kvo::eval::shareAbove;

namespace {

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long fileSize(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

namespace lm = kvo::landmarks;

// The shared points as report text, by group: "chin 7->8; brows 21->17, ...".
std::string describePairs() {
    std::string text;
    for (int g = 0; g < lm::NUM_GROUPS; ++g) {
        std::string items;
        for (const lm::LandmarkPair& p : lm::sharedPairs())
            if (p.group == static_cast<lm::Group>(g))
                items += (items.empty() ? "" : ", ") + std::to_string(p.ours) + "->" + std::to_string(p.dlib);
        if (!items.empty()) text += (text.empty() ? "" : "; ") + std::string(lm::groupName(static_cast<lm::Group>(g))) + " " + items;
    }
    return text;
}

// Our time over OpenCV's, frame by frame.
std::vector<double> pointTrackingRatios(const PointTrackingFigures& p) {
    std::vector<double> ratios;
    for (size_t k = 0; k < p.oursMs.size(); ++k) ratios.push_back(p.oursMs[k] / p.opencvMs[k]);
    return ratios;
}

// The tracked-frame totals of all videos together.
std::vector<double> trackedFrameTotals(const std::vector<VideoResult>& videos) {
    std::vector<double> all;
    for (const VideoResult& v : videos) all.insert(all.end(), v.totalMs.begin(), v.totalMs.end());
    return all;
}

void writeIntroduction(std::ostringstream& md, const Results& r, const Options& opt) {
    md << "# Kestavo evaluation against OpenCV and dlib\n\n";
    md << "One run of `tools/eval/report` on this machine (" << fmt(r.runMinutes, 1) << " min). Frames: every video frame letterboxed into 640 x 480 pixels; "
       << "our tracker sees every frame, the peers and the landmark comparison every " << opt.stride << "th frame (and every frame of each video's stillest second). "
       << "Shape model: " << (r.init.modelLoaded ? (opt.shapeModel.empty() ? std::string("embedded") : "from " + opt.shapeModel) : std::string("**no shape model embedded** (face tracking stays in detection; landmark, stability and consistency figures are n/a)")) << ".\n\n";
}

// Writes the detection table and charts; returns the tally over all media.
DetectionTally writeDetection(std::ostringstream& md, const Results& r, const Options& opt) {
    const std::string& out = opt.out;
    md << "## Detection\n\nOur detector (defaults, detect + merge as the tracker does), OpenCV's `CascadeClassifier` (same cascade, scale factor 1.1, 3 neighbours, window "
       << fmt(r.window.minFace, 0) << "-" << fmt(r.window.maxFace, 0) << " px like ours) and dlib's HOG frontal face detector (no upsampling), on the same grey frames. Rate: frames with at least one face. "
       << "IoU: largest face of each, mean over frames where both found one. Times in ms per 640 x 480 frame.\n\n";
    Table det({"media (frames)", "rate ours", "rate OpenCV", "rate dlib", "IoU ours-OpenCV", "IoU ours-dlib", "IoU OpenCV-dlib",
               "ms ours median / p95", "ms OpenCV median / p95", "ms dlib median / p95", "ours vs OpenCV", "ours vs dlib"});
    DetectionTally all;
    std::vector<std::string> detNames;
    std::vector<double> rateOurs, rateCv, rateDlib;
    auto addDet = [&](const std::string& name, const DetectionTally& t) {
        if (t.frames == 0) return;
        const double f = t.frames;
        std::vector<double> ratioCv, ratioDlib;
        for (size_t k = 0; k < t.oursMs.size(); ++k) {
            ratioCv.push_back(t.oursMs[k] / t.opencvMs[k]);
            ratioDlib.push_back(t.oursMs[k] / t.dlibMs[k]);
        }
        det.row({name + " (" + std::to_string(t.frames) + ")", percent(t.ours / f), percent(t.opencv / f), percent(t.dlib / f),
                 fmt(mean(t.iouOursOpencv)), fmt(mean(t.iouOursDlib)), fmt(mean(t.iouOpencvDlib)),
                 fmt(median(t.oursMs)) + " / " + fmt(p95(t.oursMs)), fmt(median(t.opencvMs)) + " / " + fmt(p95(t.opencvMs)),
                 fmt(median(t.dlibMs)) + " / " + fmt(p95(t.dlibMs)), fmt(median(ratioCv)) + "x", fmt(median(ratioDlib)) + "x"});
        detNames.push_back(name);
        rateOurs.push_back(100.0 * t.ours / f); rateCv.push_back(100.0 * t.opencv / f); rateDlib.push_back(100.0 * t.dlib / f);
        auto app = [](std::vector<double>& a, const std::vector<double>& b) { a.insert(a.end(), b.begin(), b.end()); };
        all.frames += t.frames; all.ours += t.ours; all.opencv += t.opencv; all.dlib += t.dlib;
        app(all.oursMs, t.oursMs); app(all.opencvMs, t.opencvMs); app(all.dlibMs, t.dlibMs);
        app(all.iouOursOpencv, t.iouOursOpencv); app(all.iouOursDlib, t.iouOursDlib); app(all.iouOpencvDlib, t.iouOpencvDlib);
    };
    for (const VideoResult& v : r.videos) addDet(v.name + " every " + std::to_string(opt.stride) + "th", v.detection);
    for (const auto& s : r.stills) addDet(s.first, s.second);
    DetectionTally total = all;
    addDet("all media", total);
    detNames.pop_back(); rateOurs.pop_back(); rateCv.pop_back(); rateDlib.pop_back();
    md << det.str() << "\nRatios are the median over frames of (our time / peer time) on the same frame.\n\n";
    barChart(out + "/detection_rate.png", "Detection rate per media set", "% of frames", detNames,
             {{"ours", rateOurs}, {"OpenCV Haar", rateCv}, {"dlib HOG", rateDlib}});
    barChart(out + "/detection_time.png", "Detection time per 640x480 frame, all media", "ms", {"median", "95th percentile"},
             {{"ours", {median(total.oursMs), p95(total.oursMs)}}, {"OpenCV Haar", {median(total.opencvMs), p95(total.opencvMs)}},
              {"dlib HOG", {median(total.dlibMs), p95(total.dlibMs)}}});
    md << "![detection rate](detection_rate.png)\n![detection time](detection_time.png)\n\n";
    return total;
}

void writeLandmarks(std::ostringstream& md, const std::vector<VideoResult>& videos, const std::string& out) {
    md << "## Landmarks against dlib's 68-point predictor\n\nShared points (ours -> dlib): " << describePairs() << ". "
       << "Error: distance / dlib's outer-eye-corner distance, on the frames where dlib found a face and we were tracking. "
       << "dlib is the reference, not the truth.\n\n";
    std::vector<std::string> lmHeader = {"video (frames)", "tracked frames", "re-detections", "compared frames", "mean error"};
    for (int g = 0; g < lm::NUM_GROUPS; ++g) lmHeader.push_back(lm::groupName(static_cast<lm::Group>(g)));
    lmHeader.push_back("> 0.08");
    lmHeader.push_back("> 0.10");
    Table lm(lmHeader);
    for (const VideoResult& v : videos) {
        std::vector<std::string> row = {v.name + (v.name == "franck.mp4" ? " (held out)" : "") + " (" + std::to_string(v.frames) + ")",
                                        std::to_string(v.tracked), std::to_string(v.redetections),
                                        std::to_string(v.comparedFrames) + " of " + std::to_string(v.dlibFaceFrames), fmt(mean(v.error), 3)};
        for (const auto& g : v.groupError) row.push_back(fmt(mean(g), 3));
        row.push_back(percent(shareAbove(v.error, 0.08)));
        row.push_back(percent(shareAbove(v.error, 0.10)));
        lm.row(row);
        lineChart(out + "/drift_" + v.name.substr(0, v.name.find('.')) + ".png", "Landmark error against dlib per 100-frame window: " + v.name,
                  "error / eye distance", "frame", 100, {{"ours", v.windowError}});
    }
    md << lm.str() << "\nDrift (mean error per 100-frame window, n/a where we did not track):\n\n";
    for (const VideoResult& v : videos) {
        md << "- " << v.name << ": ";
        for (double e : v.windowError) md << fmt(e, 3) << " ";
        md << "\n\n![drift " << v.name << "](drift_" << v.name.substr(0, v.name.find('.')) << ".png)\n\n";
    }
}

void writeStability(std::ostringstream& md, const std::vector<VideoResult>& videos, const std::string& out) {
    md << "## Stability\n\nJitter: each shared point's RMS distance from its mean position over the frames, averaged over the points, divided by the outer-eye distance (x 1000 here). "
       << "Stillest second: the " << videos[0].stillFrames << "-ish frames with the least frame-to-frame grey change of each video; repeated still: that second's middle frame given 60 times, the last 40 measured. "
       << "dlib runs frame by frame (HOG box, then predictor).\n\n";
    Table stab({"video", "stillest second (frames)", "ours stabiliser on", "ours stabiliser off", "dlib", "repeated still: ours on", "ours off", "dlib"});
    std::vector<std::string> stabNames;
    std::vector<double> jOn, jOff, jDlib;
    for (const VideoResult& v : videos) {
        stab.row({v.name, std::to_string(v.stillStart) + "-" + std::to_string(v.stillStart + v.stillFrames - 1), fmt(1000 * v.jitterOn), fmt(1000 * v.jitterOff),
                  fmt(1000 * v.jitterDlib), fmt(1000 * v.stillJitterOn), fmt(1000 * v.stillJitterOff), fmt(1000 * v.stillJitterDlib)});
        stabNames.push_back(v.name);
        jOn.push_back(1000 * v.jitterOn); jOff.push_back(1000 * v.jitterOff); jDlib.push_back(1000 * v.jitterDlib);
    }
    md << stab.str() << "\n";
    barChart(out + "/jitter.png", "Jitter on the stillest second", "1/1000 eye distance", stabNames,
             {{"ours, stabiliser on", jOn}, {"ours, stabiliser off", jOff}, {"dlib", jDlib}});
    md << "![jitter](jitter.png)\n\n";
}

void writeConsistency(std::ostringstream& md, const std::vector<VideoResult>& videos, const Options& opt) {
    md << "## Consistency under scaling and rotation\n\nThe first " << opt.consistencyFrames << " frames of each video scaled (frame size scaled too) or rotated about the frame centre; our landmarks mapped back "
       << "and compared with the unscaled run on frames where both tracked: mean distance over all 68 points / outer-eye distance (median over frames).\n\n";
    Table cons({"video", "scale 0.75", "scale 1.5", "rotate +10 deg", "rotate -10 deg"});
    for (const VideoResult& v : videos) {
        std::vector<std::string> row = {v.name};
        for (const char* k : {"scale 0.75", "scale 1.5", "rotate +10 deg", "rotate -10 deg"}) {
            auto it = v.disagreement.find(k);
            const std::vector<double> none;
            const std::vector<double>& d = it == v.disagreement.end() ? none : it->second;
            row.push_back(fmt(median(d), 3) + " (" + std::to_string(d.size()) + " frames)");
        }
        cons.row(row);
    }
    md << cons.str() << "\n";
}

void writeSpeed(std::ostringstream& md, const Results& r, const DetectionTally& total, const std::string& out) {
    const PointTrackingFigures& p = r.points;
    std::vector<double> grey, pyr, search, noCand, noStab, candPaired, totalMs, detMs;
    for (const VideoResult& v : r.videos) {
        auto app = [](std::vector<double>& a, const std::vector<double>& b) { a.insert(a.end(), b.begin(), b.end()); };
        app(grey, v.greyMs); app(pyr, v.pyramidMs); app(search, v.searchMs); app(noCand, v.searchNoCandideMs);
        app(noStab, v.searchNoStabMs); app(candPaired, v.candidePairedMs); app(totalMs, v.totalMs); app(detMs, v.detectMs);
    }
    md << "## Speed (ms per 640 x 480 frame, all three videos)\n\n";
    Table sp({"stage", "frames", "median", "p95", "peer", "peer median", "peer p95"});
    sp.row({"grey conversion", std::to_string(grey.size()), fmt(median(grey), 3), fmt(p95(grey), 3), "-", "", ""});
    sp.row({"frame pyramid", std::to_string(pyr.size()), fmt(median(pyr), 3), fmt(p95(pyr), 3), "-", "", ""});
    sp.row({"search, all on (incl. search pyramid, stabiliser, Candide)", std::to_string(search.size()), fmt(median(search)), fmt(p95(search)), "-", "", ""});
    sp.row({"search, Candide off (paired run)", std::to_string(noCand.size()), fmt(median(noCand)), fmt(p95(noCand)), "-", "", ""});
    sp.row({"search, stabiliser and Candide off (paired run)", std::to_string(noStab.size()), fmt(median(noStab)), fmt(p95(noStab)), "-", "", ""});
    sp.row({"Candide (search all on - Candide off, same frame)", std::to_string(candPaired.size()), fmt(median(candPaired)), fmt(p95(candPaired)), "-", "", ""});
    sp.row({"stabiliser (median Candide off - median both off)", "", fmt(median(noCand) - median(noStab)), "", "-", "", ""});
    sp.row({"face tracking, tracked frame total", std::to_string(totalMs.size()), fmt(median(totalMs)), fmt(p95(totalMs)), "dlib predictor (from detection table: HOG box needed)", "", ""});
    sp.row({"face detection (tracker's detection frames)", std::to_string(detMs.size()), fmt(median(detMs)), fmt(p95(detMs)), "OpenCV Haar / dlib HOG, all media",
            fmt(median(total.opencvMs)) + " / " + fmt(median(total.dlibMs)), fmt(p95(total.opencvMs)) + " / " + fmt(p95(total.dlibMs))});
    const std::vector<double> ptRatio = pointTrackingRatios(p);
    sp.row({"point tracking, 100 points, window 21, 4 levels (incl. grey + pyramid)", std::to_string(p.oursMs.size()), fmt(median(p.oursMs), 3), fmt(p95(p.oursMs), 3),
            "OpenCV calcOpticalFlowPyrLK 21x21, 4 levels, 25 iterations", fmt(median(p.opencvMs), 3), fmt(p95(p.opencvMs), 3)});
    sp.row({"kvo_init through the host (one call)", "1", fmt(r.host.initMs), "", "-", "", ""});
    sp.row({"Kestavo::init (5 trackers)", std::to_string(r.init.initMs.size()), fmt(median(r.init.initMs)), fmt(p95(r.init.initMs)), "-", "", ""});
    sp.row({"kvo_update through the host, cap12_edit first 200 frames", "200", fmt(r.host.updateMedianMs), fmt(r.host.updateP95Ms), "-", "", ""});
    md << sp.str() << "\nPoint tracking: ours / OpenCV per frame, median " << fmt(median(ptRatio)) << "x; median distance between the two trackers' points (valid in both) "
       << fmt(median(p.gapPx)) << " px over " << p.gapPx.size() << " point-frames (cap12/cap13 frames, re-seeded every 50 frames).\n\n";
    barChart(out + "/stages.png", "Face tracking per stage, median", "ms", {"grey", "pyramid", "search all on", "Candide off", "stab+Candide off"},
             {{"ours", {median(grey), median(pyr), median(search), median(noCand), median(noStab)}}});
    barChart(out + "/point_tracking.png", "100-point tracking per frame", "ms", {"median", "95th percentile"},
             {{"ours", {median(p.oursMs), p95(p.oursMs)}}, {"OpenCV pyramidal LK", {median(p.opencvMs), p95(p.opencvMs)}}});
    md << "![stages](stages.png)\n![point tracking](point_tracking.png)\n\n";
}

void writeSizes(std::ostringstream& md, const Results& r) {
    md << "## Sizes\n\n";
    Table sz({"item", "bytes"});
    sz.row({"libKestavo.so (" + r.host.libraryPath + ")", std::to_string(fileSize(r.host.libraryPath))});
    sz.row({"cascade, stored (encoded)", std::to_string(kvo::haarcascade_frontalface_default_min_xml_length)});
    sz.row({"cascade, decoded text", std::to_string(kvo::decodeCascadeModel().size())});
    sz.row({"shape model, stored (encoded)", std::to_string(kvo::asm_muct_68l_17pw_7pw_5830s_1t_nn_ntc_mouth_min_length)});
    sz.row({"shape model, decoded text", std::to_string(kvo::decodeShapeModel().size())});
    sz.row({"Candide-3, stored (encoded)", std::to_string(kvo::candide_3_1_6_min_model_length)});
    sz.row({"Candide-3, decoded text", std::to_string(kvo::decodeCandideModel().size())});
    md << sz.str() << "\n";
}

void writeMemory(std::ostringstream& md, const MemoryFigures& m, const Options& opt) {
    md << "## Memory\n\n";
    Table mem({"measure", "value", "frames"});
    mem.row({"heap allocations (operator new) per frame after the first 10", fmt(m.countedFrames > 0 ? double(m.allocations) / m.countedFrames : NAN, 3),
             std::to_string(m.countedFrames) + " frames, " + std::to_string(m.allocations) + " allocations"});
    mem.row({"resident memory after 100 frames (KiB, whole process)", std::to_string(m.rss100Kb), "100"});
    mem.row({"resident memory after the loop (KiB, whole process)", std::to_string(m.rssEndKb), std::to_string(opt.memoryFrames)});
    mem.row({"growth (KiB)", std::to_string(m.rssEndKb - m.rss100Kb), std::to_string(opt.memoryFrames - 100)});
    mem.row({"peak resident memory (KiB, whole evaluation process incl. peers and decoded frames)", std::to_string(peakRssKb()), "-"});
    md << mem.str() << "\nThe loop runs one tracker back and forth over " << m.keptFrames << " kept frames of cap12_edit.mp4.\n";
}

void writeHeadline(std::ostream& h, const Results& r, const DetectionTally& total) {
    Table head({"measure (unit, frames)", "Kestavo", "peer", "ratio"});
    head.row({"detection rate (% of " + std::to_string(total.frames) + " frames, all media)", percent(double(total.ours) / total.frames),
              "OpenCV " + percent(double(total.opencv) / total.frames) + ", dlib " + percent(double(total.dlib) / total.frames), "-"});
    head.row({"detection time (median ms per 640x480 frame)", fmt(median(total.oursMs)), "OpenCV " + fmt(median(total.opencvMs)) + ", dlib " + fmt(median(total.dlibMs)),
              ratio(median(total.oursMs), median(total.opencvMs)) + " / " + ratio(median(total.oursMs), median(total.dlibMs))});
    head.row({"landmark error vs dlib, franck.mp4 held out (eye distances)", fmt(mean(r.videos[0].error), 3), "dlib = reference", "-"});
    head.row({"face tracking per tracked frame (median ms)", fmt(median(trackedFrameTotals(r.videos))), "-", "-"});
    head.row({"100-point tracking (median ms per frame)", fmt(median(r.points.oursMs), 3), "OpenCV LK " + fmt(median(r.points.opencvMs), 3), fmt(median(pointTrackingRatios(r.points))) + "x"});
    head.row({"heap allocations per frame after 10", fmt(r.memory.countedFrames > 0 ? double(r.memory.allocations) / r.memory.countedFrames : NAN, 3), "goal 0", "-"});
    h << head.str();
}

}  // namespace

bool writeReport(const Results& r, const Options& opt) {
    const std::string& out = opt.out;
    std::ostringstream md;
    writeIntroduction(md, r, opt);
    const DetectionTally total = writeDetection(md, r, opt);
    writeLandmarks(md, r.videos, out);
    writeStability(md, r.videos, out);
    writeConsistency(md, r.videos, opt);
    writeSpeed(md, r, total, out);
    writeSizes(md, r);
    writeMemory(md, r.memory, opt);

    std::ofstream f(out + "/report.md");
    f << md.str();
    if (!f) {
        std::fprintf(stderr, "Error: cannot write %s/report.md\n", out.c_str());
        return false;
    }
    std::ofstream h(out + "/headline.md");
    writeHeadline(h, r, total);
    return true;
}

}  // namespace kvoeval
