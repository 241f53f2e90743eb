#include "image/ImageDataManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "ImageTestSupport.h"
#include "image/ResizeImageUtils.h"

namespace {

using kvo::ImageDataManager;
using kvo::Matrix;
using kvo::Rectangle;
using kvo_test::FrameInput;
using kvo_test::snapshot;

// Pixels of the rectangle (x, y, w, h) of a frame, row after row.
std::vector<uint8_t> crop(const FrameInput& in, int x, int y, int w, int h) {
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) out.push_back(in.pixels[(y + r) * in.width + x + c]);
    return out;
}

// Levels 0..3 of the frame pyramid of a w x h image, built from the definition.
std::vector<std::vector<uint8_t>> pyramidOf(const std::vector<uint8_t>& level0, int w, int h) {
    std::vector<std::vector<uint8_t>> levels{level0};
    for (int k = 1; k < 4; ++k) {
        levels.push_back(kvo_test::boxMeans(levels.back().data(), w >> (k - 1), w >> k, h >> k));
    }
    return levels;
}

std::string captureInit(ImageDataManager& m, FrameInput* in, Rectangle* roi) {
    testing::internal::CaptureStdout();
    m.init(in, roi);
    return testing::internal::GetCapturedStdout();
}

// ---- initialisation ------------------------------------------------------------

TEST(ImageDataManagerInit, NullRoiCoversTheWholeInput) {
    FrameInput in(320, 240);
    ImageDataManager m;
    EXPECT_EQ(captureInit(m, &in, nullptr), "");
    ASSERT_NE(m.roi, nullptr);
    EXPECT_EQ(m.roi->x, 0.0);
    EXPECT_EQ(m.roi->y, 0.0);
    EXPECT_EQ(m.roi->width, 320.0);
    EXPECT_EQ(m.roi->height, 240.0);
    EXPECT_EQ(m.inputData, &in);
    EXPECT_EQ(m.frameCurrent[0].width, 320u);
    EXPECT_EQ(m.frameCurrent[3].height, 30u);
}

TEST(ImageDataManagerInit, LevelSizesAreTruncatedByShifting) {
    FrameInput in(700, 500);
    Rectangle roi(3, 4, 641.9, 480.5);
    ImageDataManager m;
    EXPECT_EQ(captureInit(m, &in, &roi), "");
    EXPECT_EQ(m.roi, &roi);
    const uint32_t widths[4] = {641, 320, 160, 80};
    const uint32_t heights[4] = {480, 240, 120, 60};
    const double scales[4] = {1.0, 0.5, 0.25, 0.125};
    for (int k = 0; k < 4; ++k) {
        for (const kvo::ImageData* image : {&m.framePrevious[k], &m.frameCurrent[k]}) {
            EXPECT_EQ(image->width, widths[k]) << k;
            EXPECT_EQ(image->height, heights[k]) << k;
            EXPECT_EQ(image->scale, scales[k]) << k;
        }
    }
}

TEST(ImageDataManagerInit, EveryBufferIsAlignedAndSized) {
    FrameInput in(321, 243);
    ImageDataManager m;
    m.init(&in, nullptr);
    m.initASM();
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(kvo_test::isAligned16(m.framePrevious[k].data));
        EXPECT_TRUE(kvo_test::isAligned16(m.frameCurrent[k].data));
        EXPECT_TRUE(kvo_test::isAligned16(m.asmPrevious[k].data));
        EXPECT_TRUE(kvo_test::isAligned16(m.asmCurrent[k].data));
        EXPECT_TRUE(kvo_test::isAligned16(m.asmGradient[k].data));
        EXPECT_EQ(m.asmCurrent[k].width, 480u >> k);
        EXPECT_EQ(m.asmGradient[k].height, 480u >> k);
        EXPECT_EQ(m.asmPrevious[k].scale, 1.0 / (1 << k));
    }
    EXPECT_TRUE(kvo_test::isAligned16(m.asmFrame.data));
    EXPECT_EQ(m.asmFrame.width, 480u);
    EXPECT_TRUE(kvo_test::isAligned16(m.gradientRowBuffer.data));
    EXPECT_EQ(m.gradientRowBuffer.width, 1920u);
    EXPECT_EQ(m.gradientRowBuffer.height, 1u);
    for (int i = 0; i < kvo::ResizeImageUtils::MAX_THREADS; ++i) {
        EXPECT_NE(kvo::ResizeImageUtils::THREADS[i], nullptr);
        EXPECT_NE(kvo::ResizeImageUtils::THREAD_ARGS[i], nullptr);
    }
}

TEST(ImageDataManagerInit, RoiReachingOutsideIsClampedInPlace) {
    FrameInput in(640, 480);
    Rectangle roi(600.5, 400, 100, 100);
    ImageDataManager m;
    const std::string out = captureInit(m, &in, &roi);
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_EQ(roi.x, 600.0);
    EXPECT_EQ(roi.y, 400.0);
    EXPECT_EQ(roi.width, 40.0);
    EXPECT_EQ(roi.height, 80.0);
    EXPECT_EQ(m.frameCurrent[0].width, 40u);
    EXPECT_EQ(m.frameCurrent[0].height, 80u);

    Rectangle negative(-10, -5, 50, 50);
    ImageDataManager m2;
    EXPECT_EQ(captureInit(m2, &in, &negative).rfind("Error: ", 0), 0u);
    EXPECT_EQ(negative.x, 0.0);
    EXPECT_EQ(negative.y, 0.0);
    EXPECT_EQ(negative.width, 40.0);
    EXPECT_EQ(negative.height, 45.0);
}

TEST(ImageDataManagerInit, EmptyRoiFallsBackToTheWholeInput) {
    FrameInput in(64, 48);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Rectangle roi : {Rectangle(70, 10, 50, 50), Rectangle(10, 10, 0, 20), Rectangle(10, 10, -5, 20),
                          Rectangle(nan, 0, 10, 10), Rectangle(0, 0, 1e300, 10)}) {
        ImageDataManager m;
        const std::string out = captureInit(m, &in, &roi);
        EXPECT_EQ(out.rfind("Error: ", 0), 0u) << out;
        EXPECT_EQ(roi.x, 0.0);
        EXPECT_EQ(roi.y, 0.0);
        EXPECT_EQ(roi.width, 64.0);
        EXPECT_EQ(roi.height, 48.0);
        EXPECT_EQ(m.frameCurrent[0].width, 64u);
    }
}

TEST(ImageDataManagerInit, MissingInputIsRefused) {
    ImageDataManager m;
    testing::internal::CaptureStdout();
    m.init(nullptr, nullptr);
    FrameInput empty(0, 10);
    m.init(&empty, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Error: ", 0), 0u);
    EXPECT_EQ(m.inputData, nullptr);
    EXPECT_FALSE(m.frameCurrent[0].initialized);
    testing::internal::CaptureStdout();
    m.update(3);  // must not crash before a successful init
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
}

// ---- frame refresh -------------------------------------------------------------

TEST(ImageDataManagerUpdate, CopiesTheRoiIntoLevelZero) {
    FrameInput in(200, 150);
    in.fillRandom(1);
    Rectangle roi(10.9, 20.2, 100.7, 50.3);
    ImageDataManager m;
    m.init(&in, &roi);
    m.update(0);
    EXPECT_EQ(snapshot(m.frameCurrent[0]), crop(in, 10, 20, 100, 50));
}

TEST(ImageDataManagerUpdate, FullSizeRoiIsCopiedAsOneBlockWhateverItsOrigin) {
    FrameInput in(64, 48);
    in.fillRandom(2);
    Rectangle roi(7, 5, 64, 48);
    ImageDataManager m;
    EXPECT_EQ(captureInit(m, &in, &roi), "");  // kept as given
    EXPECT_EQ(roi.x, 7.0);
    testing::internal::CaptureStdout();
    m.update(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(snapshot(m.frameCurrent[0]), in.pixels);
}

TEST(ImageDataManagerUpdate, LevelsArgumentSelectsTheRebuiltLevels) {
    const int w = 96, h = 64;
    FrameInput in(w, h);
    in.fillRandom(3);
    const auto first = pyramidOf(in.pixels, w, h);
    for (int levels : {-4, 0, 1, 2, 3, 9}) {
        ImageDataManager m;
        m.init(&in, nullptr);
        in.fillRandom(3);
        m.update(3);  // every level holds frame A
        in.fillRandom(100 + levels);
        const auto second = pyramidOf(in.pixels, w, h);
        m.update(levels);
        const int top = std::max(0, std::min(levels, 3));
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(snapshot(m.framePrevious[k]), first[k]) << "levels " << levels << ", level " << k;
            if (k <= top) {
                EXPECT_EQ(snapshot(m.frameCurrent[k]), second[k]) << "levels " << levels << ", level " << k;
            } else {
                // Not rebuilt: the buffer exchanged back holds what it held before frame A.
                EXPECT_EQ(snapshot(m.frameCurrent[k]), std::vector<uint8_t>(first[k].size(), 0))
                    << "levels " << levels << ", level " << k;
            }
        }
    }
}

TEST(ImageDataManagerUpdate, CurrentImageObjectAlwaysShowsTheNewestFrame) {
    FrameInput in(32, 16);
    ImageDataManager m;
    m.init(&in, nullptr);
    const kvo::ImageData* current = &m.frameCurrent[0];  // as the detector holds it
    std::fill(in.pixels.begin(), in.pixels.end(), 11);
    m.update(0);
    uint8_t* bufferOfFrameA = m.frameCurrent[0].data;
    std::fill(in.pixels.begin(), in.pixels.end(), 22);
    m.update(0);
    EXPECT_EQ(current->data[0], 22);
    EXPECT_EQ(m.framePrevious[0].data[0], 11);
    EXPECT_EQ(m.framePrevious[0].data, bufferOfFrameA);  // exchanged, not copied
    std::fill(in.pixels.begin(), in.pixels.end(), 33);
    m.update(0);
    EXPECT_EQ(current->data[0], 33);
    EXPECT_EQ(m.framePrevious[0].data[0], 22);
    EXPECT_EQ(m.frameCurrent[0].data, bufferOfFrameA);
}

TEST(ImageDataManagerUpdate, OddWidthLevelsKeepTheirRowsAligned) {
    // 74 -> 37 -> 18: level 1 has an odd width and is read with its own row length.
    const int w = 74, h = 40;
    FrameInput in(w, h);
    in.fillRandom(4);
    ImageDataManager m;
    m.init(&in, nullptr);
    m.update(3);
    const std::vector<uint8_t> level1 = kvo_test::boxMeans(in.pixels.data(), 74, 37, 20);
    const std::vector<uint8_t> level2 = kvo_test::boxMeans(level1.data(), 37, 18, 10);
    const std::vector<uint8_t> level3 = kvo_test::boxMeans(level2.data(), 18, 9, 5);
    EXPECT_EQ(snapshot(m.frameCurrent[1]), level1);
    EXPECT_EQ(snapshot(m.frameCurrent[2]), level2);
    EXPECT_EQ(snapshot(m.frameCurrent[3]), level3);
}

TEST(ImageDataManagerUpdate, RoiMovedOutsideTheInputIsReportedAndKeepsState) {
    FrameInput in(64, 48);
    in.fillRandom(5);
    Rectangle roi(0, 0, 32, 32);
    ImageDataManager m;
    m.init(&in, &roi);
    m.update(0);
    const std::vector<uint8_t> before = snapshot(m.frameCurrent[0]);
    uint8_t* currentBuffer = m.frameCurrent[0].data;
    roi.x = 40;  // 40 + 32 > 64
    in.fillRandom(6);
    testing::internal::CaptureStdout();
    m.update(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
    EXPECT_EQ(m.frameCurrent[0].data, currentBuffer);
    EXPECT_EQ(snapshot(m.frameCurrent[0]), before);
}

TEST(ImageDataManagerUpdate, RoiGrownAfterInitIsCopiedOnlyUpToTheBufferSize) {
    FrameInput in(64, 48);
    in.fillRandom(7);
    Rectangle roi(0, 0, 16, 8);
    ImageDataManager m;
    m.init(&in, &roi);
    roi = Rectangle(2, 3, 60, 40);  // inside the input, larger than the 16 x 8 buffers
    m.update(3);
    EXPECT_EQ(snapshot(m.frameCurrent[0]), crop(in, 2, 3, 16, 8));
    EXPECT_EQ(snapshot(m.frameCurrent[1]), kvo_test::boxMeans(m.frameCurrent[0].data, 16, 8, 4));
}

TEST(ImageDataManagerUpdate, MissingFrameIsReported) {
    FrameInput in(16, 16);
    ImageDataManager m;
    m.init(&in, nullptr);
    in.pixels.clear();
    testing::internal::CaptureStdout();
    m.update(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
}

// ---- shape-search pyramid ------------------------------------------------------

TEST(ImageDataManagerAsm, ResamplesSwapsAndReduces) {
    FrameInput in(640, 480);
    in.fillRandom(8);
    ImageDataManager m;
    m.init(&in, nullptr);
    m.initASM();
    Matrix identity(1, 0, 0, 1, 0, 0);
    m.updateASMPyramid(identity);
    const std::vector<uint8_t> first = snapshot(m.asmCurrent[0]);

    in.fillRandom(9);
    const kvo::ImageData* current0 = &m.asmCurrent[0];
    m.updateASMPyramid(identity);
    // Level 0: row 0 is 128 (its start index is 0), the rest the input's top-left.
    std::vector<uint8_t> expected(480 * 480, 128);
    for (int r = 1; r < 480; ++r)
        for (int c = 0; c < 480; ++c) expected[r * 480 + c] = in.pixels[r * 640 + c];
    EXPECT_EQ(snapshot(m.asmFrame), expected);
    EXPECT_EQ(snapshot(*current0), expected);
    EXPECT_EQ(snapshot(m.asmPrevious[0]), first);
    std::vector<uint8_t> level = expected;
    for (int k = 1; k < 4; ++k) {
        level = kvo_test::boxMeans(level.data(), 480 >> (k - 1), 480 >> k, 480 >> k);
        EXPECT_EQ(snapshot(m.asmCurrent[k]), level) << k;
    }
}

TEST(ImageDataManagerAsm, InvalidTransformKeepsEveryImage) {
    FrameInput in(64, 48);
    in.fillRandom(10);
    ImageDataManager m;
    m.init(&in, nullptr);
    m.initASM();
    Matrix scale(8, 0, 0, 8, 0, 0);
    m.updateASMPyramid(scale);
    uint8_t* current = m.asmCurrent[0].data;
    const std::vector<uint8_t> before = snapshot(m.asmCurrent[0]);
    Matrix broken(0, 0, 0, 1, 0, 0);
    testing::internal::CaptureStdout();
    m.updateASMPyramid(broken);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
    EXPECT_EQ(m.asmCurrent[0].data, current);
    EXPECT_EQ(snapshot(m.asmCurrent[0]), before);
}

TEST(ImageDataManagerAsm, ResamplingBeforeInitAsmIsReported) {
    FrameInput in(64, 48);
    ImageDataManager m;
    m.init(&in, nullptr);
    Matrix identity;
    testing::internal::CaptureStdout();
    m.updateASMPyramid(identity);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Error: ", 0), 0u);
}

}  // namespace
