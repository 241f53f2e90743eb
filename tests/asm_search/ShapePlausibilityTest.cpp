// The size, frame and layout checks of the shape search, each on its own.
#include <gtest/gtest.h>

#include "asm/ShapePlausibility.h"

namespace {

using kvo::ShapeChecks;
using kvo::ShapeLimits;
using kvo::ShapeMat;

// A 100 x 100 pixel shape at (200, 200) that passes every check: two corners span the
// extent, the pupils (31, 36) sit in the upper boxes 45 px apart, the mouth centre (66)
// in the mouth box, every other point at the centre.
ShapeMat plausibleShape(int points = 68) {
    ShapeMat s;
    s.dim(points, 2);
    for (int i = 0; i < points; ++i) s.data[i][0] = s.data[i][1] = 250;
    auto put = [&](int i, double x, double y) {
        if (i < points) s.data[i][0] = 200 + x, s.data[i][1] = 200 + y;
    };
    put(0, 0, 0);
    put(1, 100, 100);
    put(31, 30, 40);
    put(36, 75, 40);
    put(66, 50, 60);
    return s;
}

ShapeLimits limits() { return ShapeLimits{50.0, 500.0, kvo::Rectangle(0, 0, 640, 480), true}; }

TEST(ShapePlausibility, APlausibleShapePassesEveryCheck) {
    const ShapeChecks c = kvo::checkShape(plausibleShape(), limits());
    EXPECT_FALSE(c.anyFailed());
}

TEST(ShapePlausibility, SizeAndFrameFailOnTheirOwn) {
    ShapeLimits small = limits();
    small.maxFaceSize = 99.0;
    ShapeChecks c = kvo::checkShape(plausibleShape(), small);
    EXPECT_TRUE(c.size);
    EXPECT_FALSE(c.region);
    EXPECT_FALSE(c.layoutFailed());
    ShapeLimits elsewhere = limits();
    elsewhere.validRegion = kvo::Rectangle(0, 0, 249, 480);  // the centre is at x 250
    c = kvo::checkShape(plausibleShape(), elsewhere);
    EXPECT_TRUE(c.region);
    EXPECT_FALSE(c.size);
    EXPECT_TRUE(c.anyFailed());
}

TEST(ShapePlausibility, EachLayoutCheckNamesItsFailure) {
    ShapeMat mouthLow = plausibleShape();
    mouthLow.data[66][1] = 290;  // below the mouth box (245 ... 280)
    ShapeChecks c = kvo::checkShape(mouthLow, limits());
    EXPECT_TRUE(c.mouth);
    EXPECT_FALSE(c.leftPupil || c.rightPupil || c.ratio || c.pupilSpan);

    ShapeMat wide = plausibleShape();
    wide.data[36][0] = 295;  // still in the right box, but 65 px from the left pupil
    c = kvo::checkShape(wide, limits());
    EXPECT_TRUE(c.pupilSpan);
    EXPECT_FALSE(c.mouth || c.leftPupil || c.rightPupil || c.ratio);

    ShapeMat leftOut = plausibleShape();
    leftOut.data[31][0] = 260;  // right of the left box (200 ... 255)
    c = kvo::checkShape(leftOut, limits());
    EXPECT_TRUE(c.leftPupil);
    EXPECT_FALSE(c.rightPupil);

    ShapeMat tall = plausibleShape();
    tall.data[1][1] = 350;  // width / height 100 / 150
    c = kvo::checkShape(tall, limits());
    EXPECT_TRUE(c.ratio);
}

TEST(ShapePlausibility, LayoutChecksOnlyWhenAskedAndWithEnoughPoints) {
    ShapeMat mouthLow = plausibleShape();
    mouthLow.data[66][1] = 290;
    ShapeLimits lenient = limits();
    lenient.strict = false;
    EXPECT_FALSE(kvo::checkShape(mouthLow, lenient).anyFailed());
    const ShapeChecks few = kvo::checkShape(plausibleShape(60), limits());
    EXPECT_TRUE(few.fewPoints);
    EXPECT_TRUE(few.anyFailed());
}

}  // namespace
