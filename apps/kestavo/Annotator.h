#pragma once
// Draws what the tracker reports onto a frame.
//
// What it represents: the drawing rules of the annotated outputs — raw detections
// (thin grey) and the accepted face (yellow) when a detection pass ran; when a shape
// search ran, the 113-triangle landmark mesh (green), the 68 landmarks, the landmark
// bounds (blue), and past the start phase the projected Candide mesh (magenta) and the
// head-pose axes at the Candide origin (x red, y green, z blue); tracked points as dots,
// green while valid and red once lost; a caption with frame index, state and time.
//
// Thread safety: stateless apart from the triangle lists; const after construction.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "HostTracker.h"

namespace kvo {
namespace app {

class Annotator {
public:
    Annotator(const std::vector<int>& faceTriangles, const std::vector<int>& candideTriangles);

    // Draws `r` onto `image` (CV_8UC3, the frame). `frame` is the frame index.
    void draw(cv::Mat& image, long frame, const FrameResult& r) const;
    // Every face of a still picture onto `image` (the picture): each as draw() draws a
    // frame, with labels[i] (its index and score, say) above its box, and one caption.
    void drawFaces(cv::Mat& image, const std::vector<FrameResult>& faces, const std::vector<std::string>& labels,
                   const std::string& caption) const;

private:
    void drawResult(cv::Mat& image, const FrameResult& r) const;
    void drawCaption(cv::Mat& image, const std::string& caption) const;

    std::vector<int> faceTriangles_, candideTriangles_;
};

}  // namespace app
}  // namespace kvo
