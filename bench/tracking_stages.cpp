// Where one tracked frame's time goes: the stages of a face-tracking update timed one by
// one on real frames (franck.mp4 frames 1000 ... 1349 scaled to 640 x 480, the frames of
// the measurements), with the library's defaults and embedded models.
//
// How: two trackers see the same frames. The first runs Kestavo::update as the library
// does (its wall time is the "whole update" line). The second runs the same steps, in the
// same order, through the components' own functions with a clock read between them: the
// frame refresh, the resampling into the shape-search pyramid, the gradient images, the
// stabiliser, each profile-matching pass and model constraint, the correction, the blend,
// the Candide fit, the result record and the validity test. Nothing is added to the
// library's own per-frame path. After every frame the two trackers' shapes are compared
// bit for bit, so a staged sequence that no longer follows the search is reported
// (and its figures should not be trusted) instead of silently measuring something else.
// The grey conversion of the host's 32-bit pixels is timed on its own, as kvo_update
// runs it before the tracker. The opt-in landmark refinement (kvo_setFaceTrackingVars'
// fifth argument; off by default, so in neither tracker's update) has a row of its own:
// LandmarkRefiner::refine with the embedded refiner model, timed on a copy of each tracked
// frame's shape; without an embedded model the row says it was skipped.
//
// Figures are medians (and means) over the frames tracked in "state_face_tracking" by
// both trackers; wall-clock microseconds on the calling thread's clock. Run it alone
// (`build/release/bench/bench_tracking_stages`); on a shared machine run it twice.
//
// `--workers calling` runs every split stage on the calling thread (the parked workers
// joined), `--workers parked` hands every split stage to the parked worker whatever its
// size, and the default (`chosen`) uses the library's own thresholds; comparing the three
// shows what the choice of each call site gains.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "eval/ErrorSummary.h"
#include "eval/GreyFrame.h"
#include "eval/VideoFrames.h"
#include "image/GradientImage.h"
#include "image/GreyConversion.h"
#include "image/InputData.h"
#include "image/ResizeImageUtils.h"
#include "math/ShapeMat.h"
#include "models/EmbeddedModels.h"
#include "refine/LandmarkRefiner.h"
#include "tracker/Kestavo.h"
#include "tracker/KVOModeState.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFirst = 1000;
constexpr int kFrames = 350;

using Clock = std::chrono::steady_clock;
double us(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::micro>(b - a).count(); }

enum Stage {
    CONVERSION,
    FRAME_REFRESH,
    RESAMPLING,
    GRADIENTS,
    STABILISER,
    MATCHING,
    CONSTRAINT,
    CORRECTION,
    BLEND,
    CANDIDE,
    RESULT,
    STAGES
};
const char* const kStageNames[STAGES] = {
    "grey conversion (host pixels)",  "frame refresh (level 0 copy)",  "resampling + ASM pyramid",
    "gradient images",                "stabiliser (prepare, flow, calc)", "profile matching (all passes)",
    "model constraint (all passes)",  "correction",                    "blend + map to image",
    "Candide pose + action units",    "result record + validity"};

// One tracked frame by stages, following ASMSearch::doSearch and Kestavo::update.
// Requires: t.nextState is a tracking state. Adds each stage's microseconds to `t_us`.
void stagedTrackingUpdate(kvo::Kestavo& t, double* t_us, int* passes) {
    kvo::ASMSearch& s = t.asmSearch;
    kvo::ImageDataManager& m = t.imageDataManager;
    auto t0 = Clock::now();
    m.update(0);
    auto t1 = Clock::now();
    t_us[FRAME_REFRESH] += us(t0, t1);
    t.setState(t.nextState);

    // doSearch
    s.frameCount += 1;
    s.inStartPhase = s.frameCount < s.config.startFrames;
    s.eigFraction = std::min(1.0, 0.05 * s.frameCount);
    const int lastLevel = static_cast<int>(s.model.levels.size()) - 1;
    int top;
    t0 = Clock::now();
    if (s.inStartPhase) {
        s.eigFraction *= 0.5;
        top = s.config.numLevels - 1;
        m.updateASMPyramid(s.prepareMatrix());
    } else {
        top = s.config.trackingLevels - 1;
        if (s.stabilizerEnabled) {
            m.updateASMPyramid(s.matrix);
        } else {
            m.updateASMPyramid(s.prepareMatrix());
        }
    }
    top = std::max(0, std::min(top, lastLevel));
    t1 = Clock::now();
    t_us[RESAMPLING] += us(t0, t1);

    bool blend = false;
    if (s.stabilizerEnabled && s.frameCount > 1) {
        t0 = Clock::now();
        s.stabilizer.opticalFlow.update(s.stabilizer.prepareOpticalFlowContraint(), s.stabilizer.pointStates);
        const bool predicted = s.stabilizer.calcOpticalFlowContraint();
        bool renormalise = !predicted || s.inStartPhase;
        if (!renormalise) {
            const double w = s.shape.shapeWidth();
            const double h = s.shape.shapeHeight();
            const double cx = s.shape.colMinElem(0) + 0.5 * w;
            const double cy = s.shape.colMinElem(1) + 0.5 * h;
            const double r = h / w - 1.0;
            const double v = (1.0 - r * r) * s.config.refWidth / w;
            renormalise = cx < -90.0 || cx > 90.0 || cy < -60.0 || cy > 60.0 || v < 0.85 || v > 1.15;
        }
        t1 = Clock::now();
        t_us[STABILISER] += us(t0, t1);
        if (renormalise) {
            m.updateASMPyramid(s.prepareMatrix());
            t_us[RESAMPLING] += us(t1, Clock::now());
        } else {
            s.savedShape.copyFrom(s.shape);
            blend = true;
        }
    }

    t0 = Clock::now();
    const int gradientTop =
        std::min(std::min(s.config.maxGradientLevel, top), kvo::ImageDataManager::ASM_LEVELS - 1);
    for (int k = 0; k <= gradientTop; ++k) {
        if (!s.levelReadsGradient(k)) continue;
        kvo::buildGradientImage(m.asmCurrent[k], m.asmGradient[k], m.gradientRowBuffer,
                                static_cast<int>(m.asmFrame.width >> k), static_cast<int>(m.asmFrame.height >> k));
    }
    t_us[GRADIENTS] += us(t0, Clock::now());

    s.shape.multiplyByScalar(1.0 / std::pow(s.config.pyrRatio, top));
    for (int lev = top; lev >= 0; --lev) {
        kvo::ASMLevel& level = *s.model.levels[lev];
        if (lev >= 2) {
            for (int i = 0; i < s.b.rows; ++i) s.b.data[i][0] = 0.0;
            for (int iter = 0; iter < level.nMaxSearchIters; ++iter) {
                t0 = Clock::now();
                s.matchProfiles(level);
                t1 = Clock::now();
                kvo::ShapeMat& conformed = s.ConformShapeToModel(s.b, s.suggestedShape, level, s.model.eigVecs,
                                                                 s.model.eigVecsT, iter == level.nMaxSearchIters - 1);
                bool finite = true;
                for (int i = 0; i < conformed.rows; ++i)
                    for (int j = 0; j < conformed.cols; ++j) finite = finite && std::isfinite(conformed.data[i][j]);
                if (finite) s.shape.copyFrom(conformed);
                const auto t2 = Clock::now();
                t_us[MATCHING] += us(t0, t1);
                t_us[CONSTRAINT] += us(t1, t2);
                ++*passes;
            }
            s.shape.multiplyByScalar(s.config.pyrRatio);
        } else if (lev == 1) {
            s.shape.multiplyByScalar(s.config.pyrRatio);
        }
    }

    t0 = Clock::now();
    if (s.correctionEnabled && s.shape.rows >= kvo::ASMCorrectionExtension::NUM_LANDMARKS) s.correction.update();
    t1 = Clock::now();
    t_us[CORRECTION] += us(t0, t1);
    if (blend && s.stabilizerEnabled) {
        const std::vector<double>& weights = s.stabilizer.weights;
        for (int i = 0; i < s.shape.rows && i < static_cast<int>(weights.size()); ++i) {
            const std::vector<double>& saved = s.savedShape.data[i];
            if (saved[0] == 0.0 && saved[1] == 0.0) continue;
            const double w = weights[i];
            s.shape.data[i][0] = saved[0] * (1.0 - w) + s.shape.data[i][0] * w;
            s.shape.data[i][1] = saved[1] * (1.0 - w) + s.shape.data[i][1] * w;
        }
    }
    s.updateGlobalShape(s.globalShape, s.shape);
    t0 = Clock::now();
    t_us[BLEND] += us(t1, t0);
    if (!s.inStartPhase && s.candideEnabled) s.candide.update(s.candideActionUnitsEnabled);
    t1 = Clock::now();
    t_us[CANDIDE] += us(t0, t1);

    // Kestavo::searchStep after the search.
    t.updateShape();
    if (s.inStartPhase) {
        t.nextState = kvo::KVOState::FACE_TRACKING_START;
    } else if (s.isValid()) {
        t.nextState = kvo::KVOState::FACE_TRACKING;
    } else {
        t.reset();
    }
    t_us[RESULT] += us(t1, Clock::now());
}

// Median and mean of a row's per-frame times (the evaluation library's summary: the
// median of an even count is the mean of the two middle values).
double median(const std::vector<double>& v) { return kvo::eval::summariseErrors(v).median; }
double mean(const std::vector<double>& v) { return kvo::eval::summariseErrors(v).mean; }

bool sameShape(const kvo::ShapeMat& a, const kvo::ShapeMat& b) {
    if (a.rows != b.rows || a.cols != b.cols) return false;
    for (int i = 0; i < a.rows; ++i)
        if (std::memcmp(a.data[i].data(), b.data[i].data(), sizeof(double) * a.cols) != 0) return false;
    return true;
}

}  // namespace

// The worker policy of both trackers: "calling", "parked" or "chosen" (the library's).
void applyWorkerPolicy(kvo::Kestavo& t, const std::string& policy) {
    if (policy == "calling") {
        t.finalize();
    } else if (policy == "parked") {
        kvo::ResizeImageUtils::parallelMinPixels = 0;
        t.asmSearch.parallelMinWork = 0;
        t.opticalFlow.parallelMinWork = 0;
        t.asmSearch.stabilizer.opticalFlow.parallelMinWork = 0;
    }
}

int main(int argc, char** argv) {
    std::string policy = "chosen";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--workers" && i + 1 < argc) {
            policy = argv[++i];
        } else {
            std::printf("Error: unknown option '%s' (--workers calling|parked|chosen)\n", a.c_str());
            return 2;
        }
    }
    if (policy != "calling" && policy != "parked" && policy != "chosen") {
        std::printf("Error: --workers takes calling, parked or chosen, not '%s'\n", policy.c_str());
        return 2;
    }
    kvo::eval::VideoFrames video(std::string(KVO_MEDIA_DIR) + "/franck.mp4", kWidth, kHeight, kFirst, kFrames);
    std::vector<uint32_t> pixels(static_cast<size_t>(kWidth) * kHeight);

    kvo::eval::GreyFrame inputWhole(kWidth, kHeight), inputStaged(kWidth, kHeight);
    kvo::Kestavo whole, staged;
    std::vector<std::vector<double>> perStage(STAGES);
    std::vector<double> wholeUs, stagedSumUs, refineUs;
    // The refinement's own refiner, loaded from the embedded model when there is one.
    kvo::LandmarkRefiner refiner;
    const std::string refinerBytes = kvo::decodeRefinerModel();
    const bool haveRefiner = !refinerBytes.empty() && refiner.load(refinerBytes);
    kvo::ShapeMat refined;
    int frames = 0, trackedBoth = 0, disagreements = 0, passesTotal = 0, firstDisagreement = -1;
    bool initialised = false;
    while (frames < kFrames && video.next(pixels.data())) {
        auto c0 = Clock::now();
        kvo::convertToGrey(pixels.data(), inputWhole.pixels.data(), pixels.size());
        const double conversionUs = us(c0, Clock::now());
        inputStaged.pixels = inputWhole.pixels;
        if (!initialised) {
            whole.init(&inputWhole, nullptr);
            staged.init(&inputStaged, nullptr);
            applyWorkerPolicy(whole, policy);
            applyWorkerPolicy(staged, policy);
            initialised = true;
        }
        const bool trackingNow = staged.nextState == kvo::KVOState::FACE_TRACKING;

        auto w0 = Clock::now();
        whole.update();
        const double wholeFrameUs = us(w0, Clock::now());

        double t_us[STAGES] = {};
        int passes = 0;
        t_us[CONVERSION] = conversionUs;
        if (staged.nextState == kvo::KVOState::FACE_TRACKING || staged.nextState == kvo::KVOState::FACE_TRACKING_START) {
            stagedTrackingUpdate(staged, t_us, &passes);
        } else {
            staged.update();
        }
        if (!sameShape(whole.asmSearch.globalShape, staged.asmSearch.globalShape) || whole.state != staged.state) {
            if (firstDisagreement < 0) firstDisagreement = frames;
            ++disagreements;
        }
        if (trackingNow && whole.state == kvo::KVOState::FACE_TRACKING && staged.state == kvo::KVOState::FACE_TRACKING) {
            ++trackedBoth;
            passesTotal += passes;
            double sum = 0.0;
            for (int k = 0; k < STAGES; ++k) {
                perStage[k].push_back(t_us[k]);
                sum += t_us[k];
            }
            stagedSumUs.push_back(sum);
            wholeUs.push_back(wholeFrameUs + conversionUs);
            if (haveRefiner) {
                refined.copyFrom(whole.asmSearch.globalShape);
                const auto r0 = Clock::now();
                refiner.refine(inputWhole.pixels.data(), kWidth, kHeight, refined);
                refineUs.push_back(us(r0, Clock::now()));
            }
        }
        ++frames;
    }
    if (frames == 0) {
        std::printf("Error: no frames of %s/franck.mp4 could be decoded\n", KVO_MEDIA_DIR);
        return 1;
    }

    std::printf("tracked-frame stages: franck.mp4 frames %d ... %d at %d x %d, %d frames tracked by both trackers\n",
                kFirst, kFirst + frames - 1, kWidth, kHeight, trackedBoth);
    std::printf("(wall-clock microseconds per tracked frame; %.1f matching passes per frame; workers: %s)\n\n",
                trackedBoth ? static_cast<double>(passesTotal) / trackedBoth : 0.0, policy.c_str());
    std::printf("| stage | median us | mean us |\n|---|---:|---:|\n");
    for (int k = 0; k < STAGES; ++k) {
        std::printf("| %s | %.1f | %.1f |\n", kStageNames[k], median(perStage[k]), mean(perStage[k]));
    }
    std::printf("| sum of the stages | %.1f | %.1f |\n", median(stagedSumUs), mean(stagedSumUs));
    std::printf("| whole update (Kestavo::update + conversion) | %.1f | %.1f |\n", median(wholeUs), mean(wholeUs));
    if (haveRefiner) {
        std::printf("| landmark refinement, opt-in (LandmarkRefiner::refine, %zu levels; not in the rows above) | %.1f | "
                    "%.1f |\n",
                    refiner.model().levels.size(), median(refineUs), mean(refineUs));
    } else {
        std::printf("| landmark refinement, opt-in (LandmarkRefiner::refine) | skipped: %s | |\n",
                    refinerBytes.empty() ? "the library embeds no refiner model"
                                         : "the embedded refiner model does not load (its Error line above)");
    }
    if (disagreements == 0) {
        std::printf("\nThe staged tracker agreed with Kestavo::update bit for bit on all %d frames.\n", frames);
    } else {
        std::printf("\nError: the staged tracker differed from Kestavo::update on %d of %d frames (first: %d); "
                    "the stage sequence no longer follows the search and its figures are not valid.\n",
                    disagreements, frames, kFirst + firstDisagreement);
        return 1;
    }
    return 0;
}
