// kestavo: runs libKestavo.so on a video, stills or a camera the way a host application
// does, and writes what it sees (annotated video, PNG frames, contact sheet, JSON
// Lines, plot) and a summary. Errors: one "Error: ..." line on standard error, exit 2.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "Annotator.h"
#include "AppError.h"
#include "ContactSheet.h"
#include "DetectionWindows.h"
#include "FrameLoop.h"
#include "FrameSource.h"
#include "HostTracker.h"
#include "InputList.h"
#include "Options.h"
#include "PictureRun.h"
#include "PointSlots.h"
#include "RunOutputs.h"
#include "RunStats.h"

namespace kvo {
namespace app {
namespace {

volatile std::sig_atomic_t gStopRequested = 0;

void onSignal(int) { gStopRequested = 1; }

// Ctrl-C and SIGTERM ask the run to stop after the frame in hand. Installed before
// anything is written, so that no interruption leaves a temporary file behind.
void installStopHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a decoder's read is resumed, not failed
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string programFolder() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    std::string path(buf);
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string defaultInput() { return std::string(KVO_SOURCE_DIR) + "/.cache/media/franck.mp4"; }

std::string findLibrary(const std::string& given) {
    if (!given.empty()) {
        if (!fileExists(given)) throw AppError("library not found: '" + given + "'");
        return given;
    }
    const std::string beside = programFolder() + "/libKestavo.so";
    if (fileExists(beside)) return beside;
    if (fileExists(KVO_LIBRARY_PATH)) return KVO_LIBRARY_PATH;
    throw AppError("libKestavo.so not found next to the program; give its path with --library");
}

// The codec for a video output name, from its extension.
int videoFourcc(const std::string& path) {
    const std::string e = lowerExtension(path);
    if (e == "avi") return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
    if (e == "mp4" || e == "m4v" || e == "mov") return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    throw AppError("bad value '" + path + "' for --video: the name must end in .avi (MJPG) or .mp4 (mp4v)");
}

void checkImageName(const std::string& option, const std::string& path) {
    if (lowerExtension(path) != "png") throw AppError("bad value '" + path + "' for " + option + ": the name must end in .png");
}

// The tool's detector settings for video: faces from 72 px wide, the smallest the
// tracker follows well (measured on franck.mp4 scaled down: shapes of 81 px tracked in
// 99.5 % of frames, 62 px in 90 %, and no face found at 52 px), with the window shift
// raised from 0.04 to 0.05 of the window so that a detection frame costs at most about
// 1.7 times the library's defaults (instructions per 640 x 480 frame, with and without a
// face). The library's own defaults (faces from 108 px) stay what hosts get.
const double kVideoMinFace = 72.0;
const double kVideoStepFactor = 0.05;

// Applies the video settings to the options the user left unset. Returns whether any
// was applied. A region too small for them keeps the library's defaults.
bool applyVideoDefaults(DetectorOptions& d, double regionWidth, double regionHeight) {
    const bool minFaceFree = !d.startScale && !d.minFace;
    const bool stepFree = !d.stepFactor;
    if (!minFaceFree && !stepFree) return false;
    if (std::min(regionWidth, regionHeight) - 1.0 < kVideoMinFace) return false;
    if (minFaceFree) {
        // The largest face searched must stay above the smallest.
        if (d.maxFace && *d.maxFace < kVideoMinFace) return false;
        d.minFace = kVideoMinFace;
    }
    if (stepFree) d.stepFactor = kVideoStepFactor;
    return true;
}

// Frames within which a face is expected to be found if the detector can see it.
const long kFirstFramesForHint = 100;

// The frames of a video, a camera or a sequence of stills, tracked one after the other.
// The first frame starts the tracker; each next one is read as soon as the frame
// before it is done.
class VideoFrames : public FrameKind {
public:
    VideoFrames(const Options& o, FrameSource& source, const std::string& library, const Region& roi,
                const WindowRange& windows, bool videoDefaults)
        : o_(o), source_(source), tracker_(library), windows_(windows), videoDefaults_(videoDefaults) {
        haveFrame_ = source.read(frame_);
        tracker_.init(frame_, roi.data(), o);
        annotator_.reset(new Annotator(tracker_.faceTriangles(), tracker_.candideTriangles()));
        if (o.mode == RunMode::FaceDetection) tracker_.setMode("mode_face_detection");
    }

    bool next() override { return haveFrame_; }
    bool feed(long index, RunStats& stats, JsonLinesWriter* json) override {
        tracker_.update(frame_, o_.mode == RunMode::EyeTracking && index == 0);
        afterUpdate(index);
        const FrameResult& r = tracker_.result();
        stats.add(r, tracker_.candideEnabled());
        if (json) json->write(index, source_.fps() > 0 ? index / source_.fps() : -1.0, r);
        return true;
    }
    Drawing draw(long index) override {
        frame_.copyTo(annotated_);
        annotator_->draw(annotated_, index, tracker_.result());
        return Drawing{annotated_, annotated_, annotated_};
    }
    void done() override { haveFrame_ = source_.read(frame_); }
    std::string title(const RunStats& s, long) const override {
        char title[64];
        std::snprintf(title, sizeof title, " (tracked %ld of %ld frames)", s.tracked(), s.frames());
        return "kestavo: " + source_.description() + title;
    }
    void printSummary(const RunStats& stats, long count, double seconds) const override;

protected:
    // What the frame's results need before they are recorded (points mode: the user's
    // points by their indices).
    virtual void afterUpdate(long index) {}

    const Options& o_;
    FrameSource& source_;
    HostTracker tracker_;
    cv::Mat frame_;

private:
    WindowRange windows_;
    bool videoDefaults_;
    bool haveFrame_ = false;
    std::unique_ptr<Annotator> annotator_;
    cv::Mat annotated_;
};

void VideoFrames::printSummary(const RunStats& s, long, double seconds) const {
    const Options& o = o_;
    const long n = s.frames();
    std::printf("  input:       %s (%d x %d", source_.description().c_str(), source_.width(), source_.height());
    if (source_.fps() > 0) std::printf(", %.3g fps", source_.fps());
    std::printf(")\n  library:     %s\n", tracker_.libraryPath().c_str());
    std::printf("  mode:        %s\n", runModeName(o.mode));
    if (o.mode == RunMode::FaceTracking || o.mode == RunMode::EyeTracking) {
        std::printf("  refinement:  %s\n", refinementSummary(tracker_.refinement()).c_str());
    }
    std::printf("  frames:      %ld in %.1f s (%.1f frames/s, outputs included)\n", n, seconds,
                seconds > 0 ? n / seconds : 0.0);
    const bool faceModes = o.mode == RunMode::FaceDetection || o.mode == RunMode::FaceTracking;
    if (faceModes && videoDefaults_) {
        const DetectionVars v = o.detector.vars();
        std::printf("  video:       the tool's video settings: kvo_setFaceDetectionVars(%.6g, %.6g, %.6g, %.6g, %d, %s)\n",
                    v.startScale, v.scaleIncrement, v.maxScale, v.stepFactor, v.minDetections,
                    v.fullScan ? "true" : "false");
    }
    const WindowRange& windows = windows_;
    if (faceModes) {
        if (windows.sizes > 0) {
            std::printf("  detector:    faces %.0f to %.0f px wide (%ld window sizes)\n", windows.smallest, windows.largest,
                        windows.sizes);
        } else {
            std::printf("  detector:    no window size it reports fits the detection region\n");
        }
    }
    switch (o.mode) {
        case RunMode::FaceDetection:
            std::printf("  faces:       detected in %ld frames (%.1f%%)\n", s.facesDetected(),
                        n > 0 ? 100.0 * s.facesDetected() / n : 0.0);
            break;
        case RunMode::PointTracking: {
            const FrameResult& r = tracker_.result();
            long valid = 0;
            for (char v : r.pointStates) valid += v ? 1 : 0;
            std::printf("  points:      %ld of %ld still valid at the end\n", valid, static_cast<long>(r.pointStates.size()));
            break;
        }
        default:
            std::printf("  tracked:     %ld frames (%.1f%%)\n", s.tracked(), n > 0 ? 100.0 * s.tracked() / n : 0.0);
            std::printf("  start phase: %ld frames (a shape not yet confirmed; not counted as tracked)\n", s.startPhase());
            std::printf("  faces:       detected in %ld frames (detection passes only)\n", s.facesDetected());
            std::printf("  detections:  %ld track starts (%ld re-detections), %ld rejected in the start phase, "
                        "%ld tracks lost\n",
                        s.trackStarts(), s.trackStarts() > 0 ? s.trackStarts() - 1 : 0, s.rejectedStarts(), s.losses());
    }
    if (faceModes && n > 0 && (s.firstFaceFrame() < 0 || s.firstFaceFrame() >= kFirstFramesForHint)) {
        // Most often the face is smaller (or larger) than every window the detector reports.
        if (n >= kFirstFramesForHint) std::printf("  hint:        no face found in the first %ld frames.", kFirstFramesForHint);
        else std::printf("  hint:        no face found in the %ld frames.", n);
        if (windows.sizes > 0) {
            std::printf(" The detector searched faces %.0f to %.0f px wide;\n", windows.smallest, windows.largest);
        } else {
            std::printf(" No window size the detector reports fits the detection region;\n");
        }
        std::printf("               for a smaller face give --min-face PX (e.g. --min-face %.0f), for a larger one\n"
                    "               --max-face PX (the face's width in pixels).\n",
                    windows.sizes > 0 ? std::max(40.0, 10.0 * std::floor(windows.smallest * 0.075)) : 40.0);
    }
    if (n > 0) {
        std::printf("  kvo_update:  median %.2f ms, p95 %.2f ms, max %.2f ms\n", quantile(s.updateMs(), 0.5),
                    quantile(s.updateMs(), 0.95), quantile(s.updateMs(), 1.0));
        std::printf("  getters:     median %.2f ms, p95 %.2f ms\n", quantile(s.gettersMs(), 0.5),
                    quantile(s.gettersMs(), 0.95));
        std::printf("  (host clock around the calls; the library exposes no per-stage timings)\n");
    }
}

// Points mode: the user's points, or a grid over the first face detected, tracked over
// the frames. The user's points keep their indices whatever the library drops from its
// list; it tracks inside the image region inset by 5 pixels when its point check is on.
class PointFrames : public VideoFrames {
public:
    PointFrames(const Options& o, FrameSource& source, const std::string& library, const Region& roi,
                const WindowRange& windows)
        : VideoFrames(o, source, library, roi, windows, false), roi_(roi), libraryDrops_(o.checkPointsValid.value_or(true)) {
        // Without points, the face for the grid is found first.
        tracker_.setMode(o.points.empty() ? "mode_face_detection" : "mode_point_tracking");
    }

protected:
    void afterUpdate(long index) override {
        FrameResult& r = tracker_.result();
        if (slots_) {
            if (!slots_->update(r.points, r.pointStates) && !warned_) {
                std::cerr << "Warning: the library's point list changed unforeseen at frame " << index
                          << "; point indices may be shifted from here on\n";
                warned_ = true;
            }
            r.points = slots_->points();
            r.pointStates = slots_->states();
            return;
        }
        // The points are handed to the library once there are any. The frame's record
        // stays what its first call reported (for the grid: the detection), with the
        // points as handed to the library added.
        const FrameResult first = r;
        std::vector<double> xy;
        for (const PointArg& p : o_.points) {
            xy.push_back(p.x);
            xy.push_back(p.y);
        }
        if (o_.points.empty() && first.detectedFace.width > 0) {
            // Grid over the face; the frame is given once more in point-tracking mode so
            // that the next frame is tracked from this one's full pyramid.
            const Box f = first.detectedFace;
            tracker_.setMode("mode_point_tracking");
            tracker_.update(frame_);
            for (int j = 0; j < o_.grid; ++j) {
                for (int i = 0; i < o_.grid; ++i) {
                    xy.push_back(f.x + (i + 0.5) * f.width / o_.grid);
                    xy.push_back(f.y + (j + 0.5) * f.height / o_.grid);
                }
            }
        }
        if (xy.empty()) return;
        const double extraMs = o_.points.empty() ? r.updateMs : 0.0;
        const double inset = libraryDrops_ ? 5.0 : 0.0;
        slots_.reset(new PointSlots(xy, roi_[0] + inset, roi_[1] + inset, roi_[2] - 2 * inset, roi_[3] - 2 * inset,
                                    libraryDrops_));
        if (!slots_->handed().empty()) tracker_.addPoints(slots_->handed());
        tracker_.refresh();
        slots_->update(r.points, r.pointStates);
        r = first;
        r.points = slots_->points();
        r.pointStates = slots_->states();
        r.updateMs += extraMs;
    }

private:
    const Region roi_;
    const bool libraryDrops_;
    std::unique_ptr<PointSlots> slots_;  // empty until the points are handed over
    bool warned_ = false;
};

int run(int argc, char** argv) {
    installStopHandler();
    // Decoder chatter would break the one-line error rule; errors are reported here.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    Options o = parseOptions(argc, argv);
    if (o.help) {
        std::cout << helpText("kestavo", defaultInput());
        return 0;
    }
    // Names first: a bad output name should not cost a library load.
    int fourcc = 0;
    if (!o.video.empty()) fourcc = videoFourcc(o.video);
    if (!o.sheet.empty()) checkImageName("--sheet", o.sheet);
    if (!o.plot.empty()) checkImageName("--plot", o.plot);

    std::vector<std::string> inputs = o.inputs;
    if (inputs.empty()) {
        inputs.push_back(defaultInput());
        if (!fileExists(inputs[0])) {
            throw AppError("the default sample '" + inputs[0] + "' is missing; run scripts/setup.sh to install it, or give an input");
        }
    }
    std::unique_ptr<FrameSource> source = FrameSource::open(inputs, o.repeat.value_or(1));
    const bool faceModes = o.mode == RunMode::FaceTracking || o.mode == RunMode::FaceDetection;
    if (source->isStills() && !o.sequence && faceModes) {
        // Photos: each one a scene of its own, framed and scanned with the still settings.
        if (o.roi || o.detector.region) {
            throw AppError("--roi and --detection-roi apply to a sequence of frames; with stills give --sequence too");
        }
        return runPictures(o, *source, findLibrary(o.library), fourcc, gStopRequested);
    }
    const int width = source->width(), height = source->height();
    const Region roi = o.roi.value_or(Region{0, 0, double(width), double(height)});
    if (roi[0] + roi[2] > width || roi[1] + roi[3] > height) {
        throw AppError("bad value for --roi: the region must lie inside the " + std::to_string(width) + " x " +
                       std::to_string(height) + " frame");
    }
    // The detector scans the detection region when one is given, else the image region.
    const std::optional<Region>& searched = o.detector.region;
    const double searchWidth = searched ? std::min((*searched)[2], roi[2]) : roi[2];
    const double searchHeight = searched ? std::min((*searched)[3], roi[3]) : roi[3];
    const bool videoDefaults = applyVideoDefaults(o.detector, searchWidth, searchHeight);
    applyFaceWidths(o.detector, searchWidth, searchHeight);
    const DetectionVars vars = o.detector.vars();
    const WindowRange windows = reportedWindows(vars.startScale, vars.scaleIncrement, vars.maxScale, searchWidth,
                                                searchHeight);
    const std::string library = findLibrary(o.library);

    // Every output name is checked, and every output opened under its temporary name,
    // before the first frame.
    RunWriters outputs(o, source->files(), library);

    long expected = source->frameCount();
    if (o.maxFrames && (expected < 0 || expected > *o.maxFrames)) expected = *o.maxFrames;

    std::unique_ptr<VideoFrames> frames;
    if (o.mode == RunMode::PointTracking) frames.reset(new PointFrames(o, *source, library, roi, windows));
    else frames.reset(new VideoFrames(o, *source, library, roi, windows, videoDefaults));
    outputs.open(fourcc, source->fps() > 0 ? source->fps() : 10.0, cv::Size(width, height), [&] {
        return new ContactSheet(width, height, expected, o.sheetTiles.value_or(12), o.sheetColumns.value_or(4));
    });
    return runFrames(*frames, outputs, o, expected, gStopRequested);
}

// One line, whatever the message holds.
std::string oneLine(std::string s) {
    for (char& c : s) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return s;
}

}  // namespace
}  // namespace app
}  // namespace kvo

int main(int argc, char** argv) {
    using kvo::app::oneLine;
    try {
        return kvo::app::run(argc, argv);
    } catch (const kvo::app::AppError& e) {
        std::cerr << "Error: " << oneLine(e.what()) << std::endl;
    } catch (const kvohost::HostError& e) {
        std::cerr << oneLine(e.what()) << std::endl;
    } catch (const cv::Exception& e) {
        std::cerr << "Error: " << oneLine(e.msg) << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "Error: " << oneLine(e.what()) << std::endl;
    }
    return 2;
}
