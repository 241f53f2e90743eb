#pragma once
// Where the frames come from: a video file, a camera, or the stills of any number of
// images, folders and globs, decoded with OpenCV (its FFmpeg backend for video).
//
// What it represents: an ordered sequence of BGR frames. The stills of several inputs
// are one run, in the order the inputs were given (each folder's or glob's in sorted
// order); a video or a camera is the only input (InputList.h). Stills are given `repeat`
// times each. Every frame has the size of the first one: a still of another size is
// scaled to fit inside it, keeping its aspect ratio, and centred on black (the tracker
// needs one frame size for its whole life).
//
// open() throws AppError when an input is missing, the inputs do not go together, or
// nothing in them can be decoded; a still that cannot be read or decoded (the first one
// included) is skipped with a "Warning: " line on standard error, and readPicture()
// hands it out with the reason. What the decoders themselves would print is kept off
// standard error.
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
    // Requires: `specs` non-empty, `repeat` >= 1. Ensures: every input exists, and the
    // first frame decodes, so width() and height() are known. Throws AppError otherwise.
    static std::unique_ptr<FrameSource> open(const std::vector<std::string>& specs, int repeat);

    // Fills `bgr` (CV_8UC3, width() x height()) with the next frame; false at the end.
    bool read(cv::Mat& bgr);

    // Stills only, as separate pictures: the next still file of the run, every one in
    // turn; false at the end. Fills `path` with its file and `bgr` with the picture at its
    // own size, or, for a file that cannot be read or decoded, leaves `bgr` empty and
    // fills `skipped` with why ("cannot be decoded", "cannot be read: <reason>"; empty
    // otherwise). Not to be mixed with read() on one source.
    bool readPicture(cv::Mat& bgr, std::string& path, std::string& skipped);
    // True for stills (images, folders, globs); false for video and cameras.
    bool isStills() const { return !isVideo_; }
    // Every still file of the run, those that turn out unreadable included.
    size_t pictureCount() const { return isVideo_ ? 0 : stills_.size(); }

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
    std::vector<std::string> leadingSkips_;  // why each still before firstStill_ was skipped
    size_t nextPicture_ = 0;                 // readPicture(): the next still handed out
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
