// The trainer's video-like copy of a face: made small and compressed as a video frame
// shows it, then brought back to its size, on made-up images.
#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "Augment.h"

using namespace kvo::trainer;

namespace {

// A 200 x 200 checkerboard of 2-pixel squares: detail that a face 50 px wide cannot keep.
cv::Mat fineCheckerboard() {
    cv::Mat m(200, 200, CV_8UC1);
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c) m.at<uchar>(r, c) = ((r / 2 + c / 2) % 2) ? 200 : 50;
    return m;
}

// Landmarks spanning x = 20 ... 20 + width.
ShapeVec spanning(double width) {
    ShapeVec p(136, 100.0);
    for (int i = 0; i < 68; ++i) p[2 * i] = 20.0 + width * i / 67.0;
    return p;
}

double contrast(const cv::Mat& m) {
    cv::Scalar mean, dev;
    cv::meanStdDev(m, mean, dev);
    return dev[0];
}

TEST(VideoLike, KeepsTheSizeAndLosesDetailTheSmallFaceCannotHold) {
    const cv::Mat board = fineCheckerboard();
    const cv::Mat small = videoLike(board, spanning(160), 50, 90);
    ASSERT_EQ(small.size(), board.size());
    ASSERT_EQ(small.type(), CV_8UC1);
    // Scaled to under a third, 2-pixel squares average out to grey.
    EXPECT_LT(contrast(small), 0.25 * contrast(board));
    EXPECT_NEAR(cv::mean(small)[0], 125.0, 10.0);
}

TEST(VideoLike, AFaceAlreadySmallIsOnlyCompressed) {
    cv::Mat smooth(120, 160, CV_8UC1);
    for (int r = 0; r < smooth.rows; ++r)
        for (int c = 0; c < smooth.cols; ++c) smooth.at<uchar>(r, c) = static_cast<uchar>(40 + c + r / 2);
    const cv::Mat out = videoLike(smooth, spanning(60), 100, 95);
    ASSERT_EQ(out.size(), smooth.size());
    cv::Mat diff;
    cv::absdiff(out, smooth, diff);
    double worst95 = 0, worst5 = 0;
    cv::minMaxLoc(diff, nullptr, &worst95);
    EXPECT_LE(worst95, 6.0);  // a smooth ramp survives JPEG at quality 95 almost unchanged
    // At quality 5 the same ramp turns blocky: not scaled, only compressed harder.
    cv::absdiff(videoLike(smooth, spanning(60), 100, 5), smooth, diff);
    cv::minMaxLoc(diff, nullptr, &worst5);
    EXPECT_GT(worst5, 2.0 * worst95);
}

}  // namespace
