#include "TrainingSet.h"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "image/GreyConversion.h"
#include "util/Trace.h"

namespace kvo {
namespace trainer {

std::vector<LabelledFace> readLabels(const std::string& path) {
    std::vector<LabelledFace> faces;
    std::ifstream in(path);
    if (!in) {
        Err("readLabels: cannot open " + path);
        return faces;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        const size_t t1 = line.find('\t');
        const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
        if (t2 == std::string::npos) {
            Err("readLabels: line " + std::to_string(lineNo) + " has no source and frame");
            continue;
        }
        LabelledFace f;
        f.source = line.substr(0, t1);
        f.frame = std::atoi(line.substr(t1 + 1, t2 - t1 - 1).c_str());
        std::istringstream nums(line.substr(t2 + 1));
        double v;
        while (nums >> v) f.points.push_back(v);
        if (f.points.size() != 136) {
            Err("readLabels: line " + std::to_string(lineNo) + " does not hold 136 coordinates");
            continue;
        }
        faces.push_back(f);
    }
    return faces;
}

cv::Mat toLibraryGrey(const cv::Mat& bgr) {
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    cv::Mat grey(bgr.rows, bgr.cols, CV_8UC1);
    if (!bgra.isContinuous()) bgra = bgra.clone();
    convertToGrey(bgra.ptr<uint8_t>(0), grey.ptr<uint8_t>(0), static_cast<size_t>(bgr.total()));
    return grey;
}

namespace {

std::string resolve(const std::string& mediaRoot, const std::string& source) {
    const std::string direct = mediaRoot + "/" + source;
    if (std::ifstream(direct).good()) return direct;
    const std::string parent = mediaRoot + "/../" + source;
    if (std::ifstream(parent).good()) return parent;
    return direct;
}

}  // namespace

struct GreyVideo::Impl {
    cv::VideoCapture cap;
};

GreyVideo::GreyVideo(const std::string& path) : impl_(std::make_shared<Impl>()) {
    impl_->cap.open(path, cv::CAP_FFMPEG);
}

bool GreyVideo::isOpen() const { return impl_->cap.isOpened(); }

bool GreyVideo::next(cv::Mat& grey) {
    if (!impl_->cap.read(bgr_) || bgr_.empty()) return false;
    grey = toLibraryGrey(bgr_);
    return true;
}

std::vector<cv::Mat> loadImages(const std::vector<LabelledFace>& faces, const std::string& mediaRoot) {
    std::vector<cv::Mat> images(faces.size());
    std::map<std::string, std::vector<size_t>> videos;  // source -> face indices
    for (size_t i = 0; i < faces.size(); ++i) {
        if (faces[i].frame < 0) {
            const std::string path = resolve(mediaRoot, faces[i].source);
            cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
            if (bgr.empty()) {
                Err("loadImages: cannot read " + path);
                continue;
            }
            images[i] = toLibraryGrey(bgr);
        } else {
            videos[faces[i].source].push_back(i);
        }
    }
    for (const auto& v : videos) {
        int maxFrame = 0;
        std::multimap<int, size_t> byFrame;
        for (size_t i : v.second) {
            byFrame.emplace(faces[i].frame, i);
            maxFrame = std::max(maxFrame, faces[i].frame);
        }
        GreyVideo video(resolve(mediaRoot, v.first));
        if (!video.isOpen()) {
            Err("loadImages: cannot open " + v.first);
            continue;
        }
        cv::Mat grey;
        for (int f = 0; f <= maxFrame && video.next(grey); ++f) {
            auto range = byFrame.equal_range(f);
            for (auto it = range.first; it != range.second; ++it) images[it->second] = grey.clone();
        }
    }
    return images;
}

}  // namespace trainer
}  // namespace kvo
