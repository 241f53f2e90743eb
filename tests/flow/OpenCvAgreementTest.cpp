// Agreement with OpenCV's pyramidal Lucas-Kanade on consecutive frames of the sample
// video (same window, levels, iterations and stopping step). Skipped without OpenCV or
// without the media.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "FlowRig.h"
#include "flow/OpticalFlow.h"

#if KVO_HAVE_OPENCV
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>
#endif

namespace {

// Built only with OpenCV, which decodes the video and is the peer.
#if KVO_HAVE_OPENCV
TEST(OpticalFlowPeer, AgreesWithOpenCvOnTheSampleVideo) {
    cv::VideoCapture video(std::string(KVO_MEDIA_DIR) + "/franck.mp4");
    if (!video.isOpened()) GTEST_SKIP() << "sample video missing";
    std::vector<cv::Mat> frames;
    cv::Mat bgr, grey;
    for (int i = 0; i < 12 && video.read(bgr); ++i) {
        cv::cvtColor(bgr, grey, cv::COLOR_BGR2GRAY);
        frames.push_back(grey.clone());
    }
    ASSERT_GE(frames.size(), 2u);
    const int w = frames[0].cols, h = frames[0].rows;
    std::vector<cv::Point2f> corners;
    cv::goodFeaturesToTrack(frames[0], corners, 100, 0.01, 8.0);
    ASSERT_GE(corners.size(), 50u);

    kvotest::ManagerRig rig(w, h);
    const double epsilon = 0.0006;
    kvo::OpticalFlow flow(rig.manager);
    flow.init();
    flow.patchSize(21);
    flow.epsilon = epsilon;
    flow.checkPointsValidBeforeTracking = false;  // compare every corner
    const cv::TermCriteria criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 25, std::sqrt(epsilon));
    std::vector<double> d;
    int lostByUs = 0, lostByOpenCv = 0;
    for (size_t f = 1; f < frames.size(); ++f) {
        rig.feed(std::vector<uint8_t>(frames[f - 1].data, frames[f - 1].data + w * h),
                 std::vector<uint8_t>(frames[f].data, frames[f].data + w * h));
        std::vector<kvo::PointPtr> pts;
        for (const cv::Point2f& c : corners) pts.push_back(std::make_shared<kvo::Point>(c.x, c.y));
        std::vector<bool> states;
        flow.lastPointCount = 0;
        ASSERT_EQ(flow.update(pts, states), static_cast<int>(corners.size()));
        std::vector<cv::Point2f> out;
        std::vector<unsigned char> status;
        std::vector<float> err;
        cv::calcOpticalFlowPyrLK(frames[f - 1], frames[f], corners, out, status, err, cv::Size(21, 21), 3,
                                 criteria);
        for (size_t i = 0; i < corners.size(); ++i) {
            lostByUs += !states[i];
            lostByOpenCv += !status[i];
            if (states[i] && status[i]) d.push_back(std::hypot(pts[i]->x - out[i].x, pts[i]->y - out[i].y));
        }
    }
    const double med = kvotest::median(d);
    std::sort(d.begin(), d.end());
    const double p90 = d[d.size() * 9 / 10];
    std::printf("franck.mp4 %dx%d, %zu frame pairs, %zu tracks: median disagreement %.4f px, 90th "
                "percentile %.4f px; lost: ours %d, OpenCV %d\n",
                w, h, frames.size() - 1, d.size(), med, p90, lostByUs, lostByOpenCv);
    EXPECT_LE(med, 0.05);
    EXPECT_LE(p90, 0.25);
    EXPECT_GE(d.size(), corners.size() * (frames.size() - 1) * 9 / 10);
}
#endif

}  // namespace
