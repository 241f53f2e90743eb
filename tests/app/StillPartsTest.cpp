// The parts of kestavo's still handling on their own: the framing of a picture in the
// canvas and its inverse, and the choice of the face among raw detector windows.
#include <gtest/gtest.h>

#include <vector>

#include <opencv2/core.hpp>

#include "StillFraming.h"
#include "WindowGroups.h"

namespace {

using kvo::app::Box;
using kvo::app::FrameResult;
using kvo::app::StillCanvas;
using kvo::app::StillFraming;

TEST(StillFramingTest, PictureIsScaledCentredAndMappedBack) {
    // A 300 x 150 landscape picture with one bright pixel block.
    cv::Mat picture(150, 300, CV_8UC3, cv::Scalar(10, 10, 10));
    picture(cv::Rect(200, 40, 10, 10)).setTo(cv::Scalar(250, 250, 250));
    StillCanvas canvas;
    canvas.pictureSide = 600;
    canvas.border = 0.25;
    cv::Mat image;
    const StillFraming f(canvas, picture, image);
    ASSERT_EQ(image.cols, 900);
    ASSERT_EQ(image.rows, 900);
    EXPECT_DOUBLE_EQ(f.scale(), 2.0);
    EXPECT_DOUBLE_EQ(f.offsetX(), 150.0);
    EXPECT_DOUBLE_EQ(f.offsetY(), 300.0);
    // The block's centre on the canvas is bright, and maps back onto the picture's block.
    const double cx = 205 * f.scale() + f.offsetX(), cy = 45 * f.scale() + f.offsetY();
    EXPECT_GT(image.at<cv::Vec3b>(int(cy), int(cx))[0], 200);
    EXPECT_NEAR(f.toPictureX(cx), 205.0, 1e-9);
    EXPECT_NEAR(f.toPictureY(cy), 45.0, 1e-9);
    // The border is the picture's mean colour, and the scanned region is the picture
    // with a border of a quarter of 600 px each way, within the canvas.
    const cv::Scalar mean = cv::mean(picture);
    EXPECT_NEAR(image.at<cv::Vec3b>(5, 5)[0], mean[0], 1.0);
    EXPECT_DOUBLE_EQ(f.scanRegion().x, 0.0);
    EXPECT_DOUBLE_EQ(f.scanRegion().y, 150.0);
    EXPECT_DOUBLE_EQ(f.scanRegion().width, 900.0);
    EXPECT_DOUBLE_EQ(f.scanRegion().height, 600.0);
}

TEST(StillFramingTest, EveryReportedCoordinateIsMapped) {
    cv::Mat picture(400, 200, CV_8UC3, cv::Scalar::all(0));  // portrait: scaled on its height
    StillCanvas canvas;
    canvas.pictureSide = 200;
    canvas.border = 0.5;
    cv::Mat image;
    const StillFraming f(canvas, picture, image);
    EXPECT_DOUBLE_EQ(f.scale(), 0.5);
    FrameResult r;
    r.landmarks = {f.offsetX() + 10, f.offsetY() + 20};
    r.candide = {f.offsetX() + 1, f.offsetY() + 2};
    r.points = {f.offsetX(), f.offsetY()};
    r.bounds = Box{f.offsetX() + 5, f.offsetY() + 5, 50, 60};
    r.detectedFace = Box{f.offsetX() + 10, f.offsetY() + 10, 30, 30};
    r.detections = {Box{f.offsetX() + 10, f.offsetY() + 10, 30, 30}};
    r.pose[0] = 100;
    r.pose[1] = f.offsetX() + 40;
    r.pose[2] = f.offsetY() + 50;
    f.toPicture(r);
    EXPECT_DOUBLE_EQ(r.landmarks[0], 20);
    EXPECT_DOUBLE_EQ(r.landmarks[1], 40);
    EXPECT_DOUBLE_EQ(r.candide[1], 4);
    EXPECT_DOUBLE_EQ(r.points[0], 0);
    EXPECT_DOUBLE_EQ(r.bounds.width, 100);
    EXPECT_DOUBLE_EQ(r.bounds.height, 120);
    EXPECT_DOUBLE_EQ(r.detectedFace.x, 20);
    EXPECT_DOUBLE_EQ(r.detections[0].width, 60);
    EXPECT_DOUBLE_EQ(r.pose[0], 200);  // pixels per model unit
    EXPECT_DOUBLE_EQ(r.pose[1], 80);
    EXPECT_DOUBLE_EQ(r.pose[2], 100);
    // Nothing detected stays nothing.
    FrameResult none;
    f.toPicture(none);
    EXPECT_EQ(none.detectedFace.width, 0.0);
    EXPECT_EQ(none.detectedFace.x, 0.0);
}

std::vector<Box> windowsAround(double cx, double cy, double width, int count) {
    std::vector<Box> out;
    for (int i = 0; i < count; ++i) {
        const double w = width * (1.0 + 0.01 * (i % 5)), dx = (i % 3) - 1.0, dy = (i % 4) - 1.5;
        out.push_back(Box{cx + dx - 0.5 * w, cy + dy - 0.5 * w, w, w});
    }
    return out;
}

TEST(WindowGroupsTest, StrongestGroupWinsOverTheFirstOne) {
    // A scan meets small windows first: a cluster of 12 on something that is not the
    // face, then 30 windows on the face. The library's merge would take the first.
    std::vector<Box> raw = windowsAround(60, 60, 48, 12);
    const std::vector<Box> face = windowsAround(300, 260, 160, 30);
    raw.insert(raw.end(), face.begin(), face.end());
    const kvo::app::WindowGroup g = kvo::app::strongestGroup(raw);
    EXPECT_EQ(g.windows, 30);
    EXPECT_NEAR(g.face.x + 0.5 * g.face.width, 300.0, 2.0);
    EXPECT_NEAR(g.face.y + 0.5 * g.face.height, 260.0, 2.0);
    EXPECT_NEAR(g.face.width, 163.2, 0.5);
    // Windows of very different sizes at one place are not one group.
    std::vector<Box> mixed = windowsAround(300, 260, 160, 10);
    const std::vector<Box> big = windowsAround(300, 260, 320, 10);
    mixed.insert(mixed.end(), big.begin(), big.end());
    EXPECT_EQ(kvo::app::strongestGroup(mixed).windows, 10);
    EXPECT_EQ(kvo::app::strongestGroup({}).windows, 0);
}

}  // namespace
