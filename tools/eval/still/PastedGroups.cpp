#include "PastedGroups.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Faces300W.h"
#include "LandmarkCorrespondence.h"
#include "eval/OurLayoutError.h"
#include "ShapeExtent.h"

namespace kvo {
namespace app {

namespace {

const int kPerPicture = 10;
const int kWidth = 4000, kHeight = 3000, kColumns = 4, kRows = 3;
const double kSmallest = 40.0, kLargest = 400.0;

// A face as pasted: its pixels and its hand-placed points in them.
struct Pasted {
    std::string name;
    cv::Mat crop;                 // the scaled crop
    std::vector<double> points;   // dlib layout, pixels of the crop
    double width = 0.0;           // the face's width, pixels
};

// The shape of `r` nearest the face `points` among those centred on it; NaN when none.
double faceError(const PictureResult& r, const std::vector<double>& points) {
    const ShapeExtent e = extentOf(points.data());
    double best = NAN;
    for (const StillResult& f : r.faces) {
        if (f.outcome != StillOutcome::Tracked || f.last.landmarks.size() != 136) continue;
        const ShapeExtent s = extentOf(f.last.landmarks.data());
        if (!e.contains(s.centreX(), s.centreY())) continue;
        const double err = landmarks::landmarkError(f.last.landmarks.data(), landmarks::Layout::Ours, points.data(),
                                                    landmarks::PointSet::Core)
                               .mean;
        if (std::isnan(best) || err < best) best = err;
    }
    return best;
}

// Whether a candidate of `r` (tracked or not) starts on the face `points`: its start box's
// centre inside the face's point extent.
bool candidateOn(const PictureResult& r, const std::vector<double>& points) {
    const ShapeExtent e = extentOf(points.data());
    for (const StillResult& f : r.faces) {
        const Box& b = f.detection.detectedFace;
        if (!(b.width > 0.0)) continue;
        const double cx = b.x + 0.5 * b.width, cy = b.y + 0.5 * b.height;
        if (e.contains(cx, cy)) return true;
    }
    return false;
}

}  // namespace

int pastedGroups(const StillEvalRun& run, const std::string& dir, const std::string& keepPicture) {
    std::vector<trainer::Face300W> faces;
    std::string error;
    if (!trainer::listFaces300W(dir, faces, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    std::unique_ptr<HostTracker> started = makeTracker(run);
    HostTracker& tracker = *started;

    std::vector<Pasted> chosen;
    for (const trainer::Face300W* face : measuredFaces(run, faces)) {
        const trainer::Face300W& f = *face;
        Pasted p;
        p.name = f.name;
        p.crop = cv::imread(dir + "/" + f.name + ".jpg", cv::IMREAD_COLOR);
        if (p.crop.empty()) continue;
        p.points.assign(f.dlib.begin(), f.dlib.end());
        chosen.push_back(p);
    }
    std::mt19937 rng(2026);
    cv::Mat picture(kHeight, kWidth, CV_8UC3), canvas;
    std::vector<double> inGroup, alone;
    int pasted = 0, found = 0, foundAlone = 0, extra = 0, startedNotTracked = 0;
    std::vector<double> groupMs, findMs;
    int scans = 0;
    for (size_t start = 0; start + kPerPicture <= chosen.size(); start += kPerPicture) {
        for (int y = 0; y < kHeight; ++y) picture.row(y).setTo(cv::Scalar(80 + y / 30, 100 + (start % 7) * 5, 140 - y / 30));
        std::vector<std::vector<double>> truth;
        std::vector<double> widths;
        std::vector<int> cells(kColumns * kRows);
        for (int k = 0; k < kColumns * kRows; ++k) cells[k] = k;
        std::shuffle(cells.begin(), cells.end(), rng);
        for (int k = 0; k < kPerPicture; ++k) {
            const Pasted& f = chosen[start + k];
            const ShapeExtent e = extentOf(f.points.data());
            const double width = kSmallest * std::pow(kLargest / kSmallest, k / double(kPerPicture - 1));
            const double s = width / (e.x1 - e.x0);
            // At most the cell's size: the crop is cut around the face when it is larger.
            const double cellW = double(kWidth) / kColumns, cellH = double(kHeight) / kRows;
            const double cx = 0.5 * (e.x0 + e.x1), cy = 0.5 * (e.y0 + e.y1);
            const double halfW = std::min(0.5 * cellW / s, 0.5 * f.crop.cols), halfH = std::min(0.5 * cellH / s, 0.5 * f.crop.rows);
            cv::Rect cut(int(std::max(0.0, cx - halfW)), int(std::max(0.0, cy - halfH)), int(2 * halfW), int(2 * halfH));
            cut &= cv::Rect(0, 0, f.crop.cols, f.crop.rows);
            cv::Mat scaled;
            cv::resize(f.crop(cut), scaled, cv::Size(), s, s, s < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
            const double sx = double(scaled.cols) / cut.width, sy = double(scaled.rows) / cut.height;
            const int cell = cells[k];
            std::uniform_int_distribution<int> jx(0, std::max(0, int(cellW) - scaled.cols));
            std::uniform_int_distribution<int> jy(0, std::max(0, int(cellH) - scaled.rows));
            const cv::Point at(int((cell % kColumns) * cellW) + jx(rng), int((cell / kColumns) * cellH) + jy(rng));
            const cv::Rect place = cv::Rect(at, scaled.size()) & cv::Rect(0, 0, kWidth, kHeight);
            scaled(cv::Rect(0, 0, place.width, place.height)).copyTo(picture(place));
            // cv::resize maps pixel centres: out + 0.5 = (in + 0.5) * s.
            std::vector<double> inPicture(136), inScaled(136);
            for (int i = 0; i < 68; ++i) {
                inScaled[2 * i] = (f.points[2 * i] - cut.x + 0.5) * sx - 0.5;
                inScaled[2 * i + 1] = (f.points[2 * i + 1] - cut.y + 0.5) * sy - 0.5;
                inPicture[2 * i] = inScaled[2 * i] + at.x;
                inPicture[2 * i + 1] = inScaled[2 * i + 1] + at.y;
            }
            truth.push_back(inPicture);
            widths.push_back(width);
            // The same pixels alone, as a photo of their own.
            const PictureResult one = trackPicture(tracker, run.settings, false, scaled, canvas);
            const double e1 = faceError(one, inScaled);
            alone.push_back(e1);
            foundAlone += !std::isnan(e1);
        }
        if (!keepPicture.empty() && start == 0) cv::imwrite(keepPicture, picture);
        const PictureResult r = trackPicture(tracker, run.settings, false, picture, canvas);
        groupMs.push_back(r.findMs + r.trackMs);
        findMs.push_back(r.findMs);
        scans = r.scans;
        int onFaces = 0;
        for (int k = 0; k < kPerPicture; ++k) {
            const double e = faceError(r, truth[k]);
            inGroup.push_back(e);
            ++pasted;
            found += !std::isnan(e);
            onFaces += !std::isnan(e);
            startedNotTracked += std::isnan(e) && candidateOn(r, truth[k]);
            if (run.perFace) {
                std::fprintf(run.perFace, "%s\t%.0f\t%.4f\t%.4f\n", chosen[start + k].name.c_str(), widths[k], e,
                             alone[alone.size() - kPerPicture + k]);
            }
        }
        int trackedShapes = 0;
        for (const StillResult& f : r.faces) trackedShapes += f.outcome == StillOutcome::Tracked;
        extra += std::max(0, trackedShapes - onFaces);
    }
    // Over the faces found both ways.
    std::vector<double> bothGroup, bothAlone;
    for (size_t i = 0; i < inGroup.size(); ++i) {
        if (std::isnan(inGroup[i]) || std::isnan(alone[i])) continue;
        bothGroup.push_back(inGroup[i]);
        bothAlone.push_back(alone[i]);
    }
    const eval::ErrorSummary g = eval::summariseErrors(bothGroup), a = eval::summariseErrors(bothAlone);
    std::printf("still settings: %s\n", run.settings.describe().c_str());
    std::printf("refinement: %s\n", refinementSummary(tracker.refinement()).c_str());
    std::printf("group pictures: %zu of %d x %d px, %d faces each, %.0f to %.0f px wide, of the 300-W %s faces\n",
                groupMs.size(), kWidth, kHeight, kPerPicture, kSmallest, kLargest,
                run.training ? "training (a fifth of those outside the validation split)" : "validation");
    std::printf("  faces found: %d of %d in the group pictures, %d of %d alone; other tracked shapes in the group "
                "pictures: %d\n",
                found, pasted, foundAlone, pasted, extra);
    std::printf("  of the %d missed in the group pictures: %d had a candidate that was not tracked (rejected, or its "
                "shape left the face), %d no candidate\n",
                pasted - found, startedNotTracked, pasted - found - startedNotTracked);
    std::printf("  core error over the %d faces found both ways: in the group pictures mean %.4f, median %.4f, above "
                "0.10 %.1f %%; alone mean %.4f, median %.4f, above 0.10 %.1f %%\n",
                g.count, g.mean, g.median, 100.0 * g.above10, a.mean, a.median, 100.0 * a.above10);
    std::printf("  time per group picture: median %.0f ms (all its kvo_update calls, host clock), of which finding "
                "median %.0f ms in %d scans\n",
                eval::summariseErrors(groupMs).median, eval::summariseErrors(findMs).median, scans);
    return 0;
}

}  // namespace app
}  // namespace kvo
