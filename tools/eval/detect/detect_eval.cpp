// detect_eval: runs the library's face detector (default parameters, detect + merge as the
// tracker does) and dlib's frontal face detector on the sample face media, every frame
// scaled to 640 x 480, and prints how often ours finds a face and how well its faces
// overlap dlib's.
//
// Usage: detect_eval [--every N] [--media DIR] [--videos-only] [--stills-only]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "CommandLine.h"
#include "detection/ViolaJones.h"
#include "image/GreyConversion.h"
#include "image/ImageDataManager.h"
#include "eval/GreyFrame.h"
#include "eval/Overlap.h"
#include "eval/SampleMedia.h"
#include "models/EmbeddedModels.h"

namespace {

const int WIDTH = 640;
const int HEIGHT = 480;

struct Tally {
    int frames = 0;
    int oursFound = 0;
    int dlibFound = 0;
    int bothFound = 0;
    std::vector<double> ious;  // each merged face against its best-matching dlib face
    double oursMs = 0.0;
};

// dlib's rectangles are inclusive: right = left + width - 1.
double iou(const kvo::Rectangle& a, const dlib::rectangle& b) {
    return kvo::eval::iou(a.x, a.y, a.width, a.height, b.left(), b.top(), b.width(), b.height());
}

class Evaluator {
public:
    Evaluator() : detector(manager) {
        manager.init(&input, nullptr);
        std::string cascade = kvo::decodeCascadeModel();
        detector.init(&cascade[0]);
        dlibDetector = dlib::get_frontal_face_detector();
    }

    // One colour frame of any size: scaled to 640 x 480, converted as the host's pixels are.
    void frame(const cv::Mat& colour, Tally& t) {
        cv::Mat scaled, bgra;
        cv::resize(colour, scaled, cv::Size(WIDTH, HEIGHT), 0, 0, cv::INTER_AREA);
        cv::cvtColor(scaled, bgra, cv::COLOR_BGR2BGRA);
        kvo::convertToGrey(bgra.ptr<uint8_t>(), input.pixels.data(), input.pixels.size());

        const auto start = std::chrono::steady_clock::now();
        manager.update(0);
        detector.detect(faces);
        const std::vector<std::shared_ptr<kvo::Rectangle>>* merged = nullptr;
        if (faces.size() >= static_cast<size_t>(detector.minDetections)) merged = &detector.merge(faces);
        t.oursMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const bool ours = merged && !merged->empty();

        dlib::array2d<unsigned char> img(HEIGHT, WIDTH);
        for (int y = 0; y < HEIGHT; ++y)
            std::memcpy(&img[y][0], input.pixels.data() + y * WIDTH, WIDTH);
        const std::vector<dlib::rectangle> theirs = dlibDetector(img);

        ++t.frames;
        t.oursFound += ours;
        t.dlibFound += !theirs.empty();
        if (ours && !theirs.empty()) {
            ++t.bothFound;
            for (const auto& face : *merged) {
                double best = 0.0;
                for (const dlib::rectangle& r : theirs) best = std::max(best, iou(*face, r));
                t.ious.push_back(best);
            }
        }
    }

private:
    kvo::eval::GreyFrame input{WIDTH, HEIGHT};
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector;
    dlib::frontal_face_detector dlibDetector;
    std::vector<std::shared_ptr<kvo::Rectangle>> faces;
};

void print(const char* name, Tally& t) {
    std::sort(t.ious.begin(), t.ious.end());
    const size_t good = t.ious.end() - std::lower_bound(t.ious.begin(), t.ious.end(), 0.5);
    const double median = t.ious.empty() ? 0.0 : t.ious[t.ious.size() / 2];
    double mean = 0.0;
    for (double v : t.ious) mean += v;
    if (!t.ious.empty()) mean /= t.ious.size();
    std::printf("%-22s frames %5d  ours found %6.2f %%  dlib found %6.2f %%  both %5d  "
                "merged faces %5zu: IoU>=0.5 %6.2f %%, median %.3f, mean %.3f, min %.3f  "
                "ours %.2f ms/frame\n",
                name, t.frames, t.frames ? 100.0 * t.oursFound / t.frames : 0.0,
                t.frames ? 100.0 * t.dlibFound / t.frames : 0.0, t.bothFound, t.ious.size(),
                t.ious.empty() ? 0.0 : 100.0 * good / t.ious.size(), median, mean,
                t.ious.empty() ? 0.0 : t.ious.front(), t.frames ? t.oursMs / t.frames : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    int every = 1;
    std::string media = KVO_MEDIA_DIR;
    bool videos = true, stills = true, help = false;
    try {
        kvo::cli::CommandLine line;
        line.integer("--every", every, 1, 1000000)
            .text("--media", media)
            .flag("--videos-only", [&] { stills = false; })
            .flag("--stills-only", [&] { videos = false; })
            .flag("--help", [&] { help = true; });
        line.parse(argc, argv);
    } catch (const kvo::cli::UsageError& e) {
        return kvo::cli::reportUsageError(e);
    }
    if (help) {
        std::printf("usage: %s [--every N] [--media DIR] [--videos-only] [--stills-only]\n", argv[0]);
        return 0;
    }

    Evaluator eval;
    Tally allVideo;
    if (videos) {
        for (const std::string& name : kvo::eval::sampleVideos()) {
            cv::VideoCapture video(media + "/" + name);
            if (!video.isOpened()) {
                std::printf("%-22s cannot be opened\n", name.c_str());
                continue;
            }
            Tally t;
            cv::Mat colour;
            for (int index = 0; video.read(colour); ++index)
                if (index % every == 0) eval.frame(colour, t);
            print(name.c_str(), t);
            allVideo.frames += t.frames;
            allVideo.oursFound += t.oursFound;
            allVideo.dlibFound += t.dlibFound;
            allVideo.bothFound += t.bothFound;
            allVideo.oursMs += t.oursMs;
            allVideo.ious.insert(allVideo.ious.end(), t.ious.begin(), t.ious.end());
        }
        print("all videos", allVideo);
    }
    if (stills) {
        Tally t;
        std::vector<cv::String> files;
        cv::glob(media + "/*.jpg", files, false);
        for (const cv::String& f : files) {
            const cv::Mat colour = cv::imread(f, cv::IMREAD_COLOR);
            if (!colour.empty()) eval.frame(colour, t);
        }
        print("stills (*.jpg)", t);
    }
    std::printf("every %d frame(s); goals: ours finds a face in >= 95 %% of video frames, "
                "IoU with dlib's face >= 0.5\n", every);
    return 0;
}
