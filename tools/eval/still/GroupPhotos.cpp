#include "GroupPhotos.h"

#include <glob.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Faces300W.h"
#include "eval/Files.h"
#include "LandmarkCorrespondence.h"
#include "ShapeExtent.h"

namespace kvo {
namespace app {

namespace {

const double kFound = 0.10;

struct Photo {
    std::string jpg;
    std::vector<trainer::ShapeVec> faces;  // dlib layout, 0-based pixels
};

std::vector<Photo> listPhotos(const std::string& dir) {
    std::vector<Photo> out;
    glob_t g;
    std::memset(&g, 0, sizeof g);
    const std::string pattern = dir + "/*.jpg";
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc; ++i) {
            Photo p;
            p.jpg = g.gl_pathv[i];
            // The annotated faces' numbers need not run on without gaps.
            glob_t pts;
            std::memset(&pts, 0, sizeof pts);
            const std::string ptsPattern = p.jpg.substr(0, p.jpg.size() - 4) + "_*.pts";
            if (glob(ptsPattern.c_str(), 0, nullptr, &pts) == 0) {
                for (size_t k = 0; k < pts.gl_pathc; ++k) {
                    trainer::ShapeVec shape;
                    std::string error;
                    if (trainer::readPts(pts.gl_pathv[k], shape, error)) {
                        p.faces.push_back(shape);
                    } else {
                        std::fprintf(stderr, "Error: %s (face left out)\n", error.c_str());
                    }
                }
            }
            globfree(&pts);
            if (!p.faces.empty()) out.push_back(p);
        }
    }
    globfree(&g);
    std::sort(out.begin(), out.end(), [](const Photo& a, const Photo& b) { return a.jpg < b.jpg; });
    return out;
}

struct Matching {
    std::vector<double> shapeError;  // per shape: its matched face's error, NaN when unmatched
    int found = 0;      // annotated faces with a shape within kFound
    int offFace = 0;    // shapes on an annotated face's extent but matched to none
    int noFace = 0;     // shapes on no annotated face

    // Adds another photo's counts.
    void add(const Matching& o) {
        found += o.found;
        offFace += o.offFace;
        noFace += o.noFace;
    }
};

// Pairs shapes (136 values each, in `layout`) with the annotated faces, nearest first.
Matching match(const std::vector<std::vector<double>>& shapes, landmarks::Layout layout, const Photo& photo) {
    struct Pair {
        double e;
        size_t shape, face;
    };
    std::vector<Pair> pairs;
    for (size_t s = 0; s < shapes.size(); ++s) {
        for (size_t f = 0; f < photo.faces.size(); ++f) {
            const double e = landmarks::landmarkError(shapes[s].data(), layout, photo.faces[f].data(),
                                                      landmarks::PointSet::Core)
                                 .mean;
            if (std::isfinite(e) && e <= kFound) pairs.push_back({e, s, f});
        }
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.e < b.e; });
    std::vector<char> shapeUsed(shapes.size(), 0), faceUsed(photo.faces.size(), 0);
    Matching m;
    m.shapeError.assign(shapes.size(), NAN);
    for (const Pair& p : pairs) {
        if (shapeUsed[p.shape] || faceUsed[p.face]) continue;
        shapeUsed[p.shape] = faceUsed[p.face] = 1;
        m.shapeError[p.shape] = p.e;
        ++m.found;
    }
    for (size_t s = 0; s < shapes.size(); ++s) {
        if (shapeUsed[s]) continue;
        const ShapeExtent e = extentOf(shapes[s].data());
        bool onFace = false;
        for (const trainer::ShapeVec& f : photo.faces) onFace = onFace || extentOf(f.data()).contains(e.centreX(), e.centreY());
        ++(onFace ? m.offFace : m.noFace);
    }
    return m;
}

std::vector<std::vector<double>> dlibShapes(dlib::frontal_face_detector& detector, dlib::shape_predictor& predictor,
                                            const cv::Mat& bgr) {
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    dlib::cv_image<dlib::rgb_pixel> image(rgb);
    std::vector<std::vector<double>> out;
    for (const dlib::rectangle& r : detector(image, 1)) {
        const dlib::full_object_detection d = predictor(image, r);
        std::vector<double> xy(136);
        for (unsigned k = 0; k < 68; ++k) {
            xy[2 * k] = d.part(k).x();
            xy[2 * k + 1] = d.part(k).y();
        }
        out.push_back(xy);
    }
    return out;
}

}  // namespace

int groupPhotos(const StillEvalRun& run, const std::string& dir) {
    const std::vector<Photo> photos = listPhotos(dir);
    if (photos.empty()) {
        std::fprintf(stderr, "Error: no photo with annotated faces (<photo>.jpg and <photo>_1.pts) in '%s'\n", dir.c_str());
        return 1;
    }
    std::unique_ptr<HostTracker> started = makeTracker(run);
    HostTracker& tracker = *started;

    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;
    if (run.withDlib) {
        detector = dlib::get_frontal_face_detector();
        dlib::deserialize(kvo::eval::DLIB_SHAPE_PREDICTOR) >> predictor;
    }
    cv::Mat canvas;
    int annotated = 0, candidates = 0, tracked = 0, rejected = 0, pictures = 0;
    Matching ours, theirs;
    for (const Photo& photo : photos) {
        const cv::Mat picture = cv::imread(photo.jpg, cv::IMREAD_COLOR);
        if (picture.empty()) {
            std::fprintf(stderr, "Error: cannot read %s (photo skipped)\n", photo.jpg.c_str());
            continue;
        }
        ++pictures;
        annotated += static_cast<int>(photo.faces.size());
        std::vector<std::vector<double>> peer;
        std::thread peerThread;
        if (run.withDlib) peerThread = std::thread([&] { peer = dlibShapes(detector, predictor, picture); });
        const PictureResult pr = trackPicture(tracker, run.settings, false, picture, canvas);
        if (peerThread.joinable()) peerThread.join();
        std::vector<std::vector<double>> shapes;
        std::vector<const StillResult*> shapeFaces;
        for (const StillResult& f : pr.faces) {
            if (f.outcome == StillOutcome::Tracked) {
                shapes.push_back(f.last.landmarks);
                shapeFaces.push_back(&f);
            }
            rejected += f.outcome == StillOutcome::Rejected;
        }
        candidates += pr.candidates;
        tracked += static_cast<int>(shapes.size());
        const Matching m = match(shapes, landmarks::Layout::Ours, photo);
        const Matching d = match(peer, landmarks::Layout::Dlib, photo);
        if (run.perFace) {
            const size_t slash = photo.jpg.find_last_of('/');
            for (size_t k = 0; k < shapes.size(); ++k) {
                const StillResult& f = *shapeFaces[k];
                std::fprintf(run.perFace, "%s\t%d\t%.3f\t%d\t%.1f\t%.4f\t%.3f\t%.4f\n", photo.jpg.substr(slash + 1).c_str(),
                             f.face, f.score, f.windows, f.detection.detectedFace.width, m.shapeError[k], f.windowScore,
                             f.settle);
            }
        }
        ours.add(m);
        theirs.add(d);
        if (run.perPicture) {
            const size_t slash = photo.jpg.find_last_of('/');
            std::fprintf(run.perPicture, "%s\t%dx%d\t%zu\t%d\t%zu\t%d\t%d\t%d\t%d\t%.1f\t%.1f\t%d\n",
                         photo.jpg.substr(slash + 1).c_str(), picture.cols, picture.rows, photo.faces.size(),
                         pr.candidates, shapes.size(), m.found, m.offFace, m.noFace, d.found, pr.findMs, pr.trackMs,
                         pr.scans);
        }
    }
    std::printf("still settings: %s\n", run.settings.describe().c_str());
    std::printf("refinement: %s\n", refinementSummary(tracker.refinement()).c_str());
    std::printf("group photos: %d, annotated faces: %d\n", pictures, annotated);
    std::printf("  ours: %d candidates, %d shapes tracked (%d more rejected); annotated faces found with a shape "
                "within %.2f: %d of %d; tracked shapes off their face: %d, on no annotated face: %d\n",
                candidates, tracked, rejected, kFound, ours.found, annotated, ours.offFace, ours.noFace);
    if (run.withDlib) {
        std::printf("  dlib (HOG detector upsampling once, 68-point predictor): %zu shapes; found: %d of %d; off their "
                    "face: %d, on no annotated face: %d\n",
                    static_cast<size_t>(theirs.found + theirs.offFace + theirs.noFace), theirs.found, annotated,
                    theirs.offFace, theirs.noFace);
    }
    return 0;
}

}  // namespace app
}  // namespace kvo
