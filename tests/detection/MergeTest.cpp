// Grouping of accepted windows into faces, and the inclusive point test.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "detection/ViolaJones.h"
#include "image/ImageDataManager.h"

namespace {

using Rects = std::vector<std::shared_ptr<kvo::Rectangle>>;

Rects rects(std::initializer_list<kvo::Rectangle> list) {
    Rects out;
    for (const kvo::Rectangle& r : list) out.push_back(std::make_shared<kvo::Rectangle>(r));
    return out;
}

class Merge : public ::testing::Test {
protected:
    kvo::ImageDataManager manager;
    kvo::ViolaJones detector{manager};
};

TEST_F(Merge, ShiftedWindowsOfSimilarWidthFormOneClass) {
    detector.minDetections = 3;  // classes of two are kept
    Rects in = rects({{100, 100, 50, 50}, {108, 96, 55, 50}});
    const Rects& out = detector.merge(in);
    ASSERT_EQ(out.size(), 1u);
    // (2 * 208 + 2) / 4 and so on: the mean plus one half.
    EXPECT_DOUBLE_EQ(out[0]->x, 104.5);
    EXPECT_DOUBLE_EQ(out[0]->y, 98.5);
    EXPECT_DOUBLE_EQ(out[0]->width, 53.0);
    EXPECT_DOUBLE_EQ(out[0]->height, 50.5);
}

TEST_F(Merge, PositionToleranceIsAFifthOfTheEarlierWidthTruncated) {
    detector.minDetections = 3;
    // t = trunc(0.2 * 54) = 10: an offset of 10 is similar, 11 is not.
    Rects near = rects({{100, 100, 54, 54}, {110, 90, 54, 54}});
    EXPECT_EQ(detector.merge(near).size(), 1u);
    Rects far = rects({{100, 100, 54, 54}, {111, 100, 54, 54}});
    EXPECT_TRUE(detector.merge(far).empty());
    // Widths: 60 <= trunc(50 * 1.2) = 60 is similar; 61 is not (and neither lies inside).
    Rects wide = rects({{100, 100, 50, 50}, {100, 100, 60, 50}});
    EXPECT_EQ(detector.merge(wide).size(), 1u);
    Rects wider = rects({{100, 100, 50, 50}, {100, 100, 61, 10}});
    EXPECT_TRUE(detector.merge(wider).empty());
}

TEST_F(Merge, AnEarlierSmallWindowInsideALaterLargeOneIsJoinedButNotTheReverse) {
    detector.minDetections = 3;
    Rects largeFirst = rects({{10, 10, 100, 100}, {30, 30, 20, 20}});
    EXPECT_TRUE(detector.merge(largeFirst).empty());  // two classes of one

    Rects smallFirst = rects({{30, 30, 20, 20}, {10, 10, 100, 100}});
    const Rects& out = detector.merge(smallFirst);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_DOUBLE_EQ(out[0]->x, (2.0 * 40 + 2) / 4);
    EXPECT_DOUBLE_EQ(out[0]->width, (2.0 * 120 + 2) / 4);
}

TEST_F(Merge, ARectangleJoinsTheClassOfTheLastEarlierMatch) {
    detector.minDetections = 2;  // single members are kept
    // 0 and 1 are far apart (two classes); 2 matches both and takes the class of 1.
    Rects in = rects({{0, 0, 50, 50}, {20, 0, 50, 50}, {10, 0, 50, 50}});
    const Rects& out = detector.merge(in);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[0]->x, 0.5);
    EXPECT_DOUBLE_EQ(out[1]->x, (2.0 * 30 + 2) / 4);
}

TEST_F(Merge, DefaultNeedsElevenMembersAndAddsOneHalf) {
    Rects eleven;
    for (int i = 0; i < 11; ++i) eleven.push_back(std::make_shared<kvo::Rectangle>(10, 20, 30, 40));
    const Rects& out = detector.merge(eleven);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_DOUBLE_EQ(out[0]->x, 10.5);
    EXPECT_DOUBLE_EQ(out[0]->y, 20.5);
    EXPECT_DOUBLE_EQ(out[0]->width, 30.5);
    EXPECT_DOUBLE_EQ(out[0]->height, 40.5);

    Rects ten(eleven.begin(), eleven.begin() + 10);
    EXPECT_TRUE(detector.merge(ten).empty());
}

TEST_F(Merge, KeptClassesComeInOrderOfCreationAndTheResultIsRebuilt) {
    detector.minDetections = 2;
    Rects in = rects({{200, 0, 40, 40}, {0, 0, 40, 40}, {201, 1, 40, 40}});
    std::vector<std::shared_ptr<kvo::Rectangle>>& out = detector.merge(in);
    EXPECT_EQ(&out, &detector.mergedFaces);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_DOUBLE_EQ(out[0]->x, (2.0 * 401 + 2) / 4);
    EXPECT_DOUBLE_EQ(out[1]->x, 0.5);

    Rects none;
    EXPECT_TRUE(detector.merge(none).empty());
}

TEST_F(Merge, ManyMoreRectanglesThanThePreparedPoolsAreHandled) {
    detector.minDetections = 2;
    Rects in;
    for (int i = 0; i < 5000; ++i) in.push_back(std::make_shared<kvo::Rectangle>(i * 100.0, 0, 10, 10));
    EXPECT_EQ(detector.merge(in).size(), 5000u);
    EXPECT_DOUBLE_EQ(detector.mergedFaces.back()->x, 499900.5);
}

TEST_F(Merge, EmptyEntriesAreSkippedWithAnError) {
    detector.minDetections = 3;
    Rects in = rects({{100, 100, 50, 50}});
    in.push_back(nullptr);
    in.push_back(std::make_shared<kvo::Rectangle>(101, 101, 50, 50));
    testing::internal::CaptureStdout();
    const Rects& out = detector.merge(in);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.rfind("Error: ", 0), 0u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_DOUBLE_EQ(out[0]->x, 101.0);
}

TEST(RectangleContains, AllFourEdgesAreInside) {
    const kvo::Rectangle r(0, 0, 10, 10);
    EXPECT_TRUE(r.contains(10, 10));
    EXPECT_TRUE(r.contains(0, 0));
    EXPECT_TRUE(r.contains(0, 10));
    EXPECT_FALSE(r.contains(10.000001, 5));
    EXPECT_FALSE(r.contains(5, -0.000001));
    EXPECT_FALSE(r.contains(std::nan(""), 5));
    EXPECT_FALSE(r.contains(5, std::nan("")));
}

}  // namespace
