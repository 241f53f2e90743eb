#include "FrameSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "AppError.h"
#include "InputList.h"

namespace kvo {
namespace app {

namespace {

// Keeps what the decoders write on standard error (libjpeg's warnings, for one) out of
// the program's own lines while it lives: the descriptor is pointed at /dev/null and
// restored afterwards. Used around each decoding call, on the one thread that decodes.
class QuietStandardError {
public:
    QuietStandardError() {
        std::fflush(stderr);
        saved_ = dup(2);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) dup2(null, 2);
        if (null >= 0) close(null);
    }
    ~QuietStandardError() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_ = -1;
};

cv::Mat decodeStill(const std::string& path) {
    QuietStandardError quiet;
    return cv::imread(path, cv::IMREAD_COLOR);
}

// Why `path`, which did not decode, is skipped: it is a folder, it cannot be opened, or
// its bytes are no image OpenCV can decode.
std::string skipReason(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a folder";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::string("cannot be read: ") + std::strerror(errno);
    std::fclose(f);
    return "cannot be decoded";
}

void warnSkipped(const std::string& path, const std::string& why) {
    std::cerr << "Warning: skipping '" << path << "': " << why << "\n";
}

}  // namespace

std::unique_ptr<FrameSource> FrameSource::open(const std::vector<std::string>& specs, int repeat) {
    const std::vector<ResolvedInput> inputs = resolveInputs(specs);
    std::unique_ptr<FrameSource> s(new FrameSource());
    s->repeat_ = std::max(1, repeat);
    s->description_ = describeInputs(specs);

    const ResolvedInput& only = inputs.front();  // a camera or a video is the only input
    if (only.kind == InputKind::Camera) {
        bool opened = false;
        {
            QuietStandardError quiet;
            opened = s->capture_.open(only.camera) && s->capture_.read(s->first_) && !s->first_.empty();
        }
        if (!opened) {
            throw AppError("cannot open camera " + std::to_string(only.camera) + " ('" + only.spec + "')");
        }
        s->isVideo_ = s->isCamera_ = true;
        s->fps_ = std::max(0.0, s->capture_.get(cv::CAP_PROP_FPS));
        return s;
    }
    if (only.kind == InputKind::Video) {
        s->isVideo_ = true;
        bool opened = false;
        {
            QuietStandardError quiet;
            opened = s->capture_.open(only.spec, cv::CAP_FFMPEG) && s->capture_.read(s->first_) && !s->first_.empty();
        }
        if (!opened) {
            throw AppError("cannot decode '" + only.spec + "' as a video or an image");
        }
        const double count = s->capture_.get(cv::CAP_PROP_FRAME_COUNT);
        s->frameCount_ = count >= 1.0 ? static_cast<long>(count) : -1;
        s->fps_ = std::max(0.0, s->capture_.get(cv::CAP_PROP_FPS));
        return s;
    }

    // The stills of every input, in the order the inputs were given.
    for (const ResolvedInput& in : inputs) s->stills_.insert(s->stills_.end(), in.stills.begin(), in.stills.end());
    // The first still that decodes sets the frame size; those before it are skipped
    // like any later still that does not decode.
    size_t first = 0;
    while (first < s->stills_.size()) {
        s->first_ = decodeStill(s->stills_[first]);
        if (!s->first_.empty()) break;
        s->leadingSkips_.push_back(skipReason(s->stills_[first]));
        ++first;
    }
    if (s->first_.empty()) {
        if (s->stills_.size() == 1) {
            throw AppError("image '" + s->stills_[0] + "' " + s->leadingSkips_[0]);
        }
        throw AppError("none of the " + std::to_string(s->stills_.size()) + " images of '" + s->description_ +
                       "' can be decoded");
    }
    for (size_t i = 0; i < first; ++i) warnSkipped(s->stills_[i], s->leadingSkips_[i]);
    s->firstStill_ = first;
    s->nextStill_ = first + 1;
    s->frameCount_ = static_cast<long>(s->stills_.size() - first) * s->repeat_;
    return s;
}

void FrameSource::fitToFirst(const cv::Mat& image, cv::Mat& bgr) {
    bgr.create(first_.rows, first_.cols, CV_8UC3);
    if (image.cols == first_.cols && image.rows == first_.rows) {
        image.copyTo(bgr);
        return;
    }
    const double scale = std::min(double(first_.cols) / image.cols, double(first_.rows) / image.rows);
    const int w = std::max(1, std::min(first_.cols, static_cast<int>(image.cols * scale + 0.5)));
    const int h = std::max(1, std::min(first_.rows, static_cast<int>(image.rows * scale + 0.5)));
    cv::resize(image, scaled_, cv::Size(w, h), 0, 0, cv::INTER_AREA);
    bgr.setTo(cv::Scalar::all(0));
    scaled_.copyTo(bgr(cv::Rect((first_.cols - w) / 2, (first_.rows - h) / 2, w, h)));
}

bool FrameSource::readStill(cv::Mat& bgr) {
    if (repeatLeft_ > 0) {
        --repeatLeft_;
        still_.copyTo(bgr);
        return true;
    }
    while (nextStill_ < stills_.size()) {
        const std::string& path = stills_[nextStill_++];
        cv::Mat image = decodeStill(path);
        if (image.empty()) {
            warnSkipped(path, skipReason(path));
            continue;
        }
        fitToFirst(image, still_);
        still_.copyTo(bgr);
        repeatLeft_ = repeat_ - 1;
        return true;
    }
    return false;
}

bool FrameSource::readPicture(cv::Mat& bgr, std::string& path, std::string& skipped) {
    if (isVideo_ || nextPicture_ >= stills_.size()) return false;
    const size_t i = nextPicture_++;
    path = stills_[i];
    skipped.clear();
    bgr.release();
    if (i < firstStill_) {
        // Found unreadable by open(), which warned.
        skipped = leadingSkips_[i];
        return true;
    }
    if (i == firstStill_) {
        first_.copyTo(bgr);
        return true;
    }
    bgr = decodeStill(path);
    if (bgr.empty()) {
        skipped = skipReason(path);
        warnSkipped(path, skipped);
    }
    return true;
}

bool FrameSource::read(cv::Mat& bgr) {
    if (firstPending_) {
        firstPending_ = false;
        first_.copyTo(bgr);
        if (!isVideo_) {
            first_.copyTo(still_);
            repeatLeft_ = repeat_ - 1;
        }
        return true;
    }
    if (!isVideo_) return readStill(bgr);
    cv::Mat& frame = scaled_;
    bool decoded = false;
    {
        QuietStandardError quiet;
        decoded = capture_.read(frame) && !frame.empty();
    }
    if (!decoded) return false;
    if (frame.type() != CV_8UC3) {
        cv::Mat converted;
        if (frame.channels() == 1) cv::cvtColor(frame, converted, cv::COLOR_GRAY2BGR);
        else if (frame.channels() == 4) cv::cvtColor(frame, converted, cv::COLOR_BGRA2BGR);
        else return false;
        fitToFirst(converted, bgr);
        return true;
    }
    if (frame.cols == first_.cols && frame.rows == first_.rows) {
        frame.copyTo(bgr);
        return true;
    }
    cv::Mat copy = frame.clone();
    fitToFirst(copy, bgr);
    return true;
}

}  // namespace app
}  // namespace kvo
