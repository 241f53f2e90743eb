// The shared evaluation library of the tools, tests and benchmarks: the ffmpeg frame
// decoder, the grey frame, whole-file reads and the dlib-layout measures.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "eval/DlibLayout.h"
#include "eval/Files.h"
#include "eval/GreyFrame.h"
#include "eval/PointValues.h"
#include "eval/VideoFrames.h"
#include "support/MediaFrames.h"

namespace {

using kvo::eval::VideoFrames;

std::string franck() { return kvotest::mediaPath("franck.mp4"); }

TEST(VideoFrames, DeliversTheFramesAskedForAndThenStops) {
    if (!kvotest::fileExists(franck())) GTEST_SKIP() << "sample media not installed";
    VideoFrames video(franck(), 64, 48, 100, 2);
    EXPECT_EQ(video.pixelsPerFrame(), 64u * 48u);
    std::vector<uint32_t> a, b, c;
    ASSERT_TRUE(video.next(a));
    ASSERT_TRUE(video.next(b));
    EXPECT_FALSE(video.next(c));
    EXPECT_EQ(a.size(), 64u * 48u);
    EXPECT_NE(a, b);
    // The same frame index from a decoder of its own gives the same pixels.
    std::vector<std::vector<uint32_t>> again;
    ASSERT_TRUE(kvo::eval::decodeBgraFrames(franck(), 64, 48, 101, 1, again));
    EXPECT_EQ(again[0], b);
}

TEST(VideoFrames, FromTheStartWithoutALimit) {
    if (!kvotest::fileExists(franck())) GTEST_SKIP() << "sample media not installed";
    std::vector<std::vector<uint32_t>> first;
    ASSERT_TRUE(kvo::eval::decodeBgraFrames(franck(), 32, 24, 0, 3, first));
    VideoFrames video(franck(), 32, 24);
    std::vector<uint32_t> frame;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(video.next(frame)) << i;
        EXPECT_EQ(frame, first[i]) << i;
    }
    // Closed early, it delivers nothing more.
    video.close();
    EXPECT_FALSE(video.next(frame));
}

TEST(VideoFrames, AMissingFileDeliversNoFrame) {
    VideoFrames video("/nonexistent/video.mp4", 32, 24);
    std::vector<uint32_t> frame;
    EXPECT_FALSE(video.next(frame));
    std::vector<uint32_t> pixels(5, 7u);
    EXPECT_FALSE(kvo::eval::decodeBgraImage("/nonexistent/picture.jpg", 32, 24, pixels));
    EXPECT_EQ(pixels, std::vector<uint32_t>(5, 7u));
}

TEST(VideoFrames, ShortOfTheCountIsAFailure) {
    if (!kvotest::fileExists(kvotest::mediaPath("franck_01829.jpg"))) GTEST_SKIP() << "sample media not installed";
    std::vector<std::vector<uint32_t>> frames;
    EXPECT_FALSE(kvo::eval::decodeBgraFrames(kvotest::mediaPath("franck_01829.jpg"), 32, 24, 0, 2, frames));
    EXPECT_EQ(frames.size(), 1u);
    std::vector<uint32_t> still;
    ASSERT_TRUE(kvo::eval::decodeBgraImage(kvotest::mediaPath("franck_01829.jpg"), 32, 24, still));
    EXPECT_EQ(still, frames[0]);
}

TEST(GreyFrame, CopiesRowsFromAStridedImage) {
    kvo::eval::GreyFrame frame(3, 2, 9);
    EXPECT_EQ(frame.width, 3u);
    EXPECT_EQ(frame.pixels, std::vector<uint8_t>(6, 9));
    const uint8_t image[] = {1, 2, 3, 0, 0, 4, 5, 6, 0, 0};  // rows 5 bytes apart
    frame.setRows(image, 5);
    EXPECT_EQ(frame.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(frame.getData(), frame.pixels.data());
    frame.fill(200);
    EXPECT_EQ(frame.pixels, std::vector<uint8_t>(6, 200));
    kvo::eval::GreyFrame empty(0, 0);
    EXPECT_EQ(empty.getData(), nullptr);
}

TEST(Files, ReadsAWholeFileAndReportsAMissingOne) {
    const std::string path = "/tmp/kvo_eval_file_" + std::to_string(getpid());
    const std::string bytes("a\0b\nc", 5);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::string read;
    EXPECT_TRUE(kvo::eval::readFile(path, read));
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(kvo::eval::readFile(path), bytes);
    std::remove(path.c_str());
    EXPECT_FALSE(kvo::eval::readFile(path, read));
    EXPECT_TRUE(read.empty());
    EXPECT_EQ(kvo::eval::readFile(path), "");
}

TEST(DlibLayout, EyeCentresAreTheMeansOfEachEyesSixPoints) {
    std::vector<double> shape(136, 0.0);
    for (int k = 0; k < 6; ++k) {
        shape[2 * (36 + k)] = 100 + k;  // mean 102.5
        shape[2 * (36 + k) + 1] = 50;
        shape[2 * (42 + k)] = 160 + 2 * k;  // mean 165
        shape[2 * (42 + k) + 1] = 56 + k;   // mean 58.5
    }
    const kvo::EyeCentres e = kvo::eval::dlibEyeCentres(shape.data());
    EXPECT_DOUBLE_EQ(e.leftX, 102.5);
    EXPECT_DOUBLE_EQ(e.leftY, 50.0);
    EXPECT_DOUBLE_EQ(e.rightX, 165.0);
    EXPECT_DOUBLE_EQ(e.rightY, 58.5);
}

TEST(PointValues, FlatXYKeepsThePointsOrder) {
    const std::vector<kvo::PointPtr> points = {std::make_shared<kvo::Point>(1.5, -2.0),
                                               std::make_shared<kvo::Point>(640.25, 479.75)};
    EXPECT_EQ(kvo::eval::flatXY(points), (std::vector<double>{1.5, -2.0, 640.25, 479.75}));
    EXPECT_TRUE(kvo::eval::flatXY({}).empty());
}

}  // namespace
