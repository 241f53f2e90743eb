// kvo_labeller: labels faces in Kestavo's 68-point layout from dlib's landmark predictor.
//
// For each still image and each video frame (every frame, or every N-th), runs dlib's
// frontal face detector and its 68-landmark predictor, converts the landmarks to our
// layout (shape model from the MUCT shapes fills the points dlib lacks) and writes one
// line per face to the labels file (see LabelFile.h for the format).
//
// Usage: kvo_labeller --root DIR --out FILE [--stride N] [--draw DIR] [--draw-every K]
//                     [--muct CSV] [--predictor DAT] [--upsample auto|0|1]
//                     [--variance F] [--min-score S] [--verbose] SOURCE...
// SOURCE paths are relative to --root and name stills or videos (.mp4, .webm, .avi, .mov).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_transforms.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "CommandLine.h"
#include "eval/Files.h"
#include "DlibLayoutConverter.h"
#include "LabelFile.h"
#include "PointShapeModel.h"

using namespace kvo::labeller;

namespace {

struct Options {
    std::string root, out, drawDir;
    std::string muct = KVO_MUCT_SHAPES;
    std::string predictor = kvo::eval::DLIB_SHAPE_PREDICTOR;
    int stride = 1;
    int drawEvery = 200;
    int upsample = -1;  // -1: automatic
    double variance = 0.98;
    double minScore = 0.05;  // rejects a badge that dlib scores 0.031 in face-api sample1.jpg
    bool verbose = false;
    std::vector<std::string> sources;
};

void usage() {
    std::fprintf(stderr,
                 "usage: kvo_labeller --root DIR --out FILE [--stride N] [--draw DIR] [--draw-every K]\n"
                 "                    [--muct CSV] [--predictor DAT] [--upsample auto|0|1] [--variance F]\n"
                 "                    [--min-score S] [--verbose]\n"
                 "                    SOURCE...\n");
}

// Reads the command line into `o` on the strict shared parser. Ensures: true with every
// option taken, or false after one "Error: ..." line (or the usage, when --root, --out or
// a source is missing) on standard error.
bool parseArgs(int argc, char** argv, Options& o) {
    try {
        kvo::cli::CommandLine line;
        line.text("--root", o.root)
            .text("--out", o.out)
            .text("--draw", o.drawDir)
            .text("--muct", o.muct)
            .text("--predictor", o.predictor)
            .integer("--stride", o.stride, 1, 1000000)
            .integer("--draw-every", o.drawEvery, 1, 1000000)
            .option("--upsample", [&o](const std::string& name, const std::string& v) {
                o.upsample = v == "auto" ? -1 : static_cast<int>(kvo::cli::toInteger(name, v, 0, 1));
            })
            .option("--min-score", [&o](const std::string& name, const std::string& v) {
                o.minScore = kvo::cli::toDouble(name, v);
            })
            .option("--variance", [&o](const std::string& name, const std::string& v) {
                o.variance = kvo::cli::toDouble(name, v);
                if (!(o.variance > 0.0 && o.variance < 1.0)) throw kvo::cli::UsageError(name + " wants a fraction in (0, 1)");
            })
            .flag("--verbose", [&o] { o.verbose = true; })
            .arguments([&o](const std::string& source) { o.sources.push_back(source); });
        line.parse(argc, argv);
    } catch (const kvo::cli::UsageError& e) {
        kvo::cli::reportUsageError(e);
        return false;
    }
    if (o.root.empty() || o.out.empty() || o.sources.empty()) {
        usage();
        return false;
    }
    return true;
}

bool isVideo(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "mp4" || ext == "webm" || ext == "avi" || ext == "mov";
}

class Labeller {
public:
    Labeller(const Options& o, const DlibLayoutConverter& conv) : opt(o), converter(conv) {
        detector = dlib::get_frontal_face_detector();
        dlib::deserialize(o.predictor) >> predictor;
    }

    // Labels every face of one colour image. Appends to `labels`; returns the face count.
    int image(const cv::Mat& bgr, const std::string& source, int frame, bool draw,
              std::vector<FaceLabel>& labels) {
        cv::Mat grey;
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
        dlib::cv_image<unsigned char> img(grey);
        const bool up = opt.upsample == 1 || (opt.upsample < 0 && std::min(grey.cols, grey.rows) < 800);
        std::vector<dlib::rect_detection> found;
        if (up) {
            dlib::pyramid_down<2> pyr;
            dlib::pyramid_up(img, big, pyr);
            detector(big, found);
            for (auto& r : found) r.rect = pyr.rect_down(r.rect);
        } else {
            detector(img, found);
        }
        std::vector<dlib::rectangle> faces;
        for (const auto& r : found) {
            if (r.detection_confidence >= opt.minScore) faces.push_back(r.rect);
            else ++rejected;
            if (opt.verbose)
                std::fprintf(stderr, "%s frame %d: face at (%ld, %ld) %lu x %lu score %.3f\n", source.c_str(),
                             frame, r.rect.left(), r.rect.top(), r.rect.width(), r.rect.height(),
                             r.detection_confidence);
        }
        int n = 0;
        for (size_t f = 0; f < faces.size(); ++f) {
            const dlib::full_object_detection det = predictor(img, faces[f]);
            Shape68 d;
            for (int i = 0; i < NUM_POINTS; ++i) d[i] = dlib::dpoint(det.part(i).x(), det.part(i).y());
            FaceLabel label;
            PointMask filled;
            if (!converter.convert(d, label.points, &filled)) {
                std::fprintf(stderr, "Error: %s frame %d: face %zu has degenerate landmarks; skipped\n",
                             source.c_str(), frame, f);
                continue;
            }
            label.source = source;
            label.frame = frame;
            label.boxLeft = faces[f].left();
            label.boxTop = faces[f].top();
            labels.push_back(label);
            ++n;
            if (draw) drawFace(bgr, faces[f], d, label, filled, static_cast<int>(f));
        }
        return n;
    }

    int rejected = 0;  // detections below the score threshold, over all images

private:
    // Saves a crop around the face, enlarged to 640 pixels wide, with our points numbered
    // (green: taken from dlib, red: filled by the model) and dlib's own points as small
    // blue dots.
    void drawFace(const cv::Mat& bgr, const dlib::rectangle& box, const Shape68& d, const FaceLabel& label,
                  const PointMask& filled, int faceIndex) {
        const double cx = 0.5 * (box.left() + box.right()), cy = 0.5 * (box.top() + box.bottom());
        const double half = 0.9 * std::max(box.width(), box.height());
        const cv::Rect want(static_cast<int>(cx - half), static_cast<int>(cy - half), static_cast<int>(2 * half),
                            static_cast<int>(2 * half));
        const cv::Rect crop = want & cv::Rect(0, 0, bgr.cols, bgr.rows);
        if (crop.area() <= 0) return;
        const double s = 640.0 / crop.width;
        cv::Mat out;
        cv::resize(bgr(crop), out, cv::Size(), s, s, cv::INTER_LINEAR);
        auto map = [&](const dlib::dpoint& p) {
            return cv::Point(static_cast<int>((p.x() - crop.x) * s + 0.5), static_cast<int>((p.y() - crop.y) * s + 0.5));
        };
        for (int i = 0; i < NUM_POINTS; ++i) cv::circle(out, map(d[i]), 2, cv::Scalar(255, 80, 0), cv::FILLED);
        for (int i = 0; i < NUM_POINTS; ++i) {
            const cv::Scalar c = filled[i] ? cv::Scalar(0, 0, 255) : cv::Scalar(0, 200, 0);
            const cv::Point p = map(label.points[i]);
            cv::circle(out, p, 3, c, cv::FILLED);
            cv::putText(out, std::to_string(i), p + cv::Point(4, -3), cv::FONT_HERSHEY_SIMPLEX, 0.35, c, 1,
                        cv::LINE_AA);
        }
        std::string name = label.source;
        std::replace(name.begin(), name.end(), '/', '_');
        const std::string path = opt.drawDir + "/" + name + "_" + std::to_string(label.frame) + "_" +
                                 std::to_string(faceIndex) + ".png";
        if (!cv::imwrite(path, out)) std::fprintf(stderr, "Error: cannot write %s\n", path.c_str());
    }

    const Options& opt;
    const DlibLayoutConverter& converter;
    dlib::frontal_face_detector detector;
    dlib::shape_predictor predictor;
    dlib::array2d<unsigned char> big;
};

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parseArgs(argc, argv, opt)) return 2;

    std::vector<MuctShape> muct;
    std::string error;
    if (!loadMuctShapes(opt.muct, muct, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    std::vector<Shape68> complete;
    for (const auto& m : muct)
        if (std::all_of(m.present.begin(), m.present.end(), [](bool b) { return b; })) complete.push_back(m.points);
    PointShapeModel model;
    if (!model.build(complete, OURS_PARTNER, opt.variance, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "shape model: %zu complete MUCT shapes, %d modes\n", complete.size(), model.numModes());
    DlibLayoutConverter converter(model);

    Labeller labeller(opt, converter);
    std::vector<FaceLabel> labels;
    std::vector<std::string> sources = opt.sources;
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    int failures = 0;
    for (const auto& src : sources) {
        const std::string path = opt.root + "/" + src;
        int faces = 0, frames = 0;
        if (isVideo(src)) {
            cv::VideoCapture cap(path);
            if (!cap.isOpened()) {
                std::fprintf(stderr, "Error: cannot open video %s\n", path.c_str());
                ++failures;
                continue;
            }
            cv::Mat frame;
            for (int idx = 0; cap.read(frame); ++idx) {
                if (idx % opt.stride != 0) continue;
                ++frames;
                const bool draw = !opt.drawDir.empty() && idx % opt.drawEvery == 0;
                faces += labeller.image(frame, src, idx, draw, labels);
            }
        } else {
            const cv::Mat img = cv::imread(path, cv::IMREAD_COLOR);
            if (img.empty()) {
                std::fprintf(stderr, "Error: cannot read image %s\n", path.c_str());
                ++failures;
                continue;
            }
            frames = 1;
            faces = labeller.image(img, src, -1, !opt.drawDir.empty(), labels);
        }
        std::fprintf(stderr, "%s: %d faces in %d frames\n", src.c_str(), faces, frames);
    }

    sortLabels(labels);
    std::ofstream out(opt.out, std::ios::binary);
    for (const auto& l : labels) out << formatLabel(l);
    out.close();
    if (!out) {
        std::fprintf(stderr, "Error: cannot write %s\n", opt.out.c_str());
        return 1;
    }
    std::fprintf(stderr, "%zu faces written to %s (%d detections below score %.3f rejected)\n", labels.size(),
                 opt.out.c_str(), labeller.rejected, opt.minScore);
    return failures ? 1 : 0;
}
