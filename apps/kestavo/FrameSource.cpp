#include "FrameSource.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "AppError.h"

namespace kvo {
namespace app {

namespace {

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool hasImageExtension(const std::string& path) {
    static const char* const kExtensions[] = {"jpg", "jpeg", "png", "bmp", "webp", "tif", "tiff", "pgm", "ppm", "pnm"};
    const std::string ext = lowerExtension(path);
    for (const char* e : kExtensions) {
        if (ext == e) return true;
    }
    return false;
}

// The camera index of "camera:N" or "/dev/videoN", or -1.
int cameraIndex(const std::string& spec) {
    std::string digits;
    if (spec.compare(0, 7, "camera:") == 0) digits = spec.substr(7);
    else if (spec.compare(0, 10, "/dev/video") == 0) digits = spec.substr(10);
    else return -1;
    if (digits.empty() || digits.size() > 3) return -1;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    }
    return std::atoi(digits.c_str());
}

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

void checkReadable(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw AppError("cannot read input '" + path + "': " + std::strerror(errno));
    std::fclose(f);
}

}  // namespace

std::unique_ptr<FrameSource> FrameSource::open(const std::string& spec, int repeat) {
    std::unique_ptr<FrameSource> s(new FrameSource());
    s->repeat_ = std::max(1, repeat);
    s->description_ = spec;

    struct stat st;
    const bool exists = stat(spec.c_str(), &st) == 0;
    const int camera = exists && !S_ISCHR(st.st_mode) ? -1 : cameraIndex(spec);
    if (camera >= 0) {
        bool opened = false;
        {
            QuietStandardError quiet;
            opened = s->capture_.open(camera) && s->capture_.read(s->first_) && !s->first_.empty();
        }
        if (!opened) {
            throw AppError("cannot open camera " + std::to_string(camera) + " ('" + spec + "')");
        }
        s->isVideo_ = s->isCamera_ = true;
        s->fps_ = std::max(0.0, s->capture_.get(cv::CAP_PROP_FPS));
        return s;
    }

    // An existing path is opened as given, whatever characters its name holds; only a
    // name that is not there is taken as a pattern.
    if (!exists && spec.find_first_of("*?[") != std::string::npos) {
        glob_t g;
        std::memset(&g, 0, sizeof g);
        if (glob(spec.c_str(), 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) {
                if (hasImageExtension(g.gl_pathv[i])) s->stills_.push_back(g.gl_pathv[i]);
            }
        }
        globfree(&g);
        if (s->stills_.empty()) throw AppError("no images match '" + spec + "'");
    } else {
        if (!exists) throw AppError("input not found: '" + spec + "'");
        if (S_ISDIR(st.st_mode)) {
            DIR* dir = opendir(spec.c_str());
            if (dir == nullptr) throw AppError("cannot read folder '" + spec + "': " + std::strerror(errno));
            while (dirent* e = readdir(dir)) {
                const std::string name = e->d_name;
                if (name[0] != '.' && hasImageExtension(name)) s->stills_.push_back(spec + "/" + name);
            }
            closedir(dir);
            if (s->stills_.empty()) throw AppError("no images (.jpg, .png, ...) in folder '" + spec + "'");
        } else {
            checkReadable(spec);
            if (hasImageExtension(spec) || cv::haveImageReader(spec)) {
                s->stills_.push_back(spec);
            } else {
                s->isVideo_ = true;
            }
        }
    }

    if (s->isVideo_) {
        bool opened = false;
        {
            QuietStandardError quiet;
            opened = s->capture_.open(spec, cv::CAP_FFMPEG) && s->capture_.read(s->first_) && !s->first_.empty();
        }
        if (!opened) {
            throw AppError("cannot decode '" + spec + "' as a video or an image");
        }
        const double count = s->capture_.get(cv::CAP_PROP_FRAME_COUNT);
        s->frameCount_ = count >= 1.0 ? static_cast<long>(count) : -1;
        s->fps_ = std::max(0.0, s->capture_.get(cv::CAP_PROP_FPS));
        return s;
    }

    std::sort(s->stills_.begin(), s->stills_.end());
    // The first still that decodes sets the frame size; those before it are skipped
    // like any later still that does not decode.
    size_t first = 0;
    while (first < s->stills_.size()) {
        s->first_ = decodeStill(s->stills_[first]);
        if (!s->first_.empty()) break;
        ++first;
    }
    if (s->first_.empty()) {
        if (s->stills_.size() == 1) throw AppError("cannot decode image '" + s->stills_[0] + "'");
        throw AppError("none of the " + std::to_string(s->stills_.size()) + " images of '" + spec + "' can be decoded");
    }
    for (size_t i = 0; i < first; ++i) std::cerr << "Warning: skipping '" << s->stills_[i] << "': not a readable image\n";
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
            std::cerr << "Warning: skipping '" << path << "': not a readable image\n";
            continue;
        }
        fitToFirst(image, still_);
        still_.copyTo(bgr);
        repeatLeft_ = repeat_ - 1;
        return true;
    }
    return false;
}

bool FrameSource::readPicture(cv::Mat& bgr, std::string& path) {
    if (isVideo_) return false;
    if (firstPending_) {
        firstPending_ = false;
        first_.copyTo(bgr);
        path = stills_[firstStill_];
        return true;
    }
    while (nextStill_ < stills_.size()) {
        path = stills_[nextStill_++];
        bgr = decodeStill(path);
        if (!bgr.empty()) return true;
        std::cerr << "Warning: skipping '" << path << "': not a readable image\n";
    }
    return false;
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
