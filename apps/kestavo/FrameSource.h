#pragma once
// Where the frames come from: a video file, one image, a folder or glob of images, or
// a camera, decoded with OpenCV (its FFmpeg backend for video).
//
// What it represents: an ordered sequence of BGR frames. Stills are given `repeat`
// times each. Every frame has the size of the first one: a still of another size is
// scaled to fit inside it, keeping its aspect ratio, and centred on black (the tracker
// needs one frame size for its whole life).
//
// An existing path is opened as given; a name that does not exist and holds * ? or [
// is a pattern. open() throws AppError when the input is missing or nothing in it can
// be decoded; a still that cannot be decoded (the first one included) is skipped with a
// "Warning: " line on standard error. What the decoders themselves would print is
// kept off standard error.
//
// Thread safety: none; use from one thread.
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace kvo {
namespace app {

class FrameSource {
public:
    // Requires: `spec` non-empty, `repeat` >= 1. Ensures: the first frame decodes, so
    // width() and height() are known. Throws AppError otherwise.
    static std::unique_ptr<FrameSource> open(const std::string& spec, int repeat);

    // Fills `bgr` (CV_8UC3, width() x height()) with the next frame; false at the end.
    bool read(cv::Mat& bgr);

    // Stills only, as separate pictures: fills `bgr` with the next still at its own size
    // and `path` with its file; false at the end. Stills that do not decode are skipped
    // with a "Warning: " line. Not to be mixed with read() on one source.
    bool readPicture(cv::Mat& bgr, std::string& path);
    // True for an image, a folder or a glob of images; false for video and cameras.
    bool isStills() const { return !isVideo_; }
    // The stills that decode or may decode: the first one that did and those after it.
    size_t pictureCount() const { return isVideo_ ? 0 : stills_.size() - firstStill_; }

    int width() const { return first_.cols; }
    int height() const { return first_.rows; }
    // Frames in the sequence, or -1 when unknown (cameras); an estimate for video.
    long frameCount() const { return frameCount_; }
    // Frames per second, or 0 when the input has no timing (stills).
    double fps() const { return fps_; }
    const std::string& description() const { return description_; }
    // The files the frames are read from (none for a camera).
    std::vector<std::string> files() const {
        if (isCamera_) return {};
        return isVideo_ ? std::vector<std::string>{description_} : stills_;
    }

private:
    FrameSource() = default;
    bool readStill(cv::Mat& bgr);
    void fitToFirst(const cv::Mat& image, cv::Mat& bgr);

    cv::VideoCapture capture_;
    bool isVideo_ = false, isCamera_ = false;
    std::vector<std::string> stills_;
    size_t nextStill_ = 0, firstStill_ = 0;
    int repeat_ = 1, repeatLeft_ = 0;
    cv::Mat first_;        // the first frame, handed out by the first read()
    bool firstPending_ = true;
    cv::Mat still_, scaled_;  // the still being repeated; resize scratch
    long frameCount_ = -1;
    double fps_ = 0.0;
    std::string description_;
};

}  // namespace app
}  // namespace kvo
