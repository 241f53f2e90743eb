// The face box rule that kvo_updateByEyes applies, and its inverse, as the tools call them.
#include <gtest/gtest.h>

#include <memory>

#include "tracker/FaceBoxFromEyes.h"

namespace {

using kvo::EyeCentres;
using kvo::Rectangle;

TEST(FaceBoxFromEyes, PlacesTheEyesInsetAndBelowTheTop) {
    const Rectangle box = kvo::faceBoxFromEyes(EyeCentres{100, 120, 144, 120});
    EXPECT_DOUBLE_EQ(box.x, 72.0);
    EXPECT_DOUBLE_EQ(box.y, 86.0);
    // 44 / 0.43999999999999995, not 44 / 0.44.
    EXPECT_EQ(box.width, 100.00000000000001);
    EXPECT_EQ(box.height, box.width);
}

TEST(FaceBoxFromEyes, TakesTheMeanHeightOfTheEyes) {
    const Rectangle level = kvo::faceBoxFromEyes(EyeCentres{100, 120, 144, 120});
    const Rectangle tilted = kvo::faceBoxFromEyes(EyeCentres{100, 110, 144, 130});
    EXPECT_EQ(tilted.y, level.y);
    EXPECT_EQ(tilted.x, level.x);
}

TEST(FaceBoxFromEyes, InImageOrderSwapsOnlyEyesGivenRightToLeft) {
    const EyeCentres ordered = kvo::inImageOrder(EyeCentres{144, 121, 100, 119});
    EXPECT_EQ(ordered.leftX, 100.0);
    EXPECT_EQ(ordered.leftY, 119.0);
    EXPECT_EQ(ordered.rightX, 144.0);
    EXPECT_EQ(ordered.rightY, 121.0);
    const EyeCentres kept = kvo::inImageOrder(EyeCentres{100, 1, 144, 2});
    EXPECT_EQ(kept.leftX, 100.0);
    EXPECT_EQ(kept.leftY, 1.0);
}

TEST(FaceBoxFromEyes, EyesFromABoxGiveTheBoxBack) {
    const Rectangle box(37.5, 81.25, 153.0, 153.0);
    const EyeCentres eyes = kvo::eyesFromFaceBox(box);
    EXPECT_DOUBLE_EQ(eyes.leftX, 37.5 + 0.28 * 153.0);
    EXPECT_DOUBLE_EQ(eyes.rightX, 37.5 + 0.72 * 153.0);
    EXPECT_EQ(eyes.leftY, eyes.rightY);
    EXPECT_DOUBLE_EQ(eyes.leftY, 81.25 + 0.34 * 153.0);
    const Rectangle back = kvo::faceBoxFromEyes(eyes);
    EXPECT_NEAR(back.x, box.x, 1e-9);
    EXPECT_NEAR(back.y, box.y, 1e-9);
    EXPECT_NEAR(back.width, box.width, 1e-9);
}

}  // namespace
