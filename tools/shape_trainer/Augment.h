#pragma once
// Training-set augmentation: mirror images (with the landmarks' partners swapped),
// small rotations and scalings about the face centre, and lighting changes (gain,
// offset, gamma) of a grey image and its 68 landmarks.
//
// Thread safety: pure functions.
#include <vector>

#include <opencv2/core.hpp>

#include "MuctShapes.h"

namespace kvo {
namespace trainer {

struct Variation {
    bool mirror = false;
    double rotation = 0.0;  // radians, counter-clockwise as seen in the image
    double scale = 1.0;     // about the shape's centre
    double gain = 1.0;      // grey' = 255 * (gain * grey / 255)^gamma + offset
    double gamma = 1.0;
    double offset = 0.0;    // grey levels
};

// Mirror partner of each of the 68 landmarks, from the library's landmark table.
// Requires: the table has been built (FaceLandmarks::initGLandTab).
std::vector<int> mirrorPartners();

// Applies `v` to `grey` and `points` (image pixels, y down), writing `outGrey`
// (same size) and `outPoints`. Pixels from outside the image are replicated from the
// border.
void applyVariation(const cv::Mat& grey, const ShapeVec& points, const Variation& v,
                    cv::Mat& outGrey, ShapeVec& outPoints);

// The face as a small, compressed video frame shows it: `grey` scaled down so that the
// landmarks span `faceWidth` pixels (faces already that small are left at their size),
// JPEG-encoded at `quality` (1-100) and decoded, then scaled back to its size, so the
// landmarks keep their coordinates. Requires: faceWidth > 0.
cv::Mat videoLike(const cv::Mat& grey, const ShapeVec& points, double faceWidth, int quality);

}  // namespace trainer
}  // namespace kvo
