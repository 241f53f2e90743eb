// The pose figures of the evaluation: correlation, eye-line tilt and the limit count.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PoseTally.h"

using kvo::trainer::PoseTally;

TEST(PoseTally, CorrelationOfLinearSeriesIsPlusOrMinusOneAndUndefinedWhenConstant) {
    const std::vector<double> a = {1, 2, 3, 4, 5};
    const std::vector<double> up = {3, 5, 7, 9, 11};
    const std::vector<double> down = {0, -1, -2, -3, -4};
    EXPECT_NEAR(PoseTally::correlation(a, up), 1.0, 1e-12);
    EXPECT_NEAR(PoseTally::correlation(a, down), -1.0, 1e-12);
    EXPECT_TRUE(std::isnan(PoseTally::correlation(a, {2, 2, 2, 2, 2})));
    EXPECT_TRUE(std::isnan(PoseTally::correlation({1, 2}, {1, 2})));
    // Uncorrelated by construction: symmetric around the mean.
    EXPECT_NEAR(PoseTally::correlation({-1, 0, 1, 0}, {0, 1, 0, -1}), 0.0, 1e-12);
}

TEST(PoseTally, TiltIsPositiveWhenTheRightPointIsLowerInTheImage) {
    EXPECT_NEAR(PoseTally::tiltDeg(0, 0, 10, 10), 45.0, 1e-12);
    EXPECT_NEAR(PoseTally::tiltDeg(0, 0, 10, -10), -45.0, 1e-12);
    EXPECT_NEAR(PoseTally::tiltDeg(5, 5, 15, 5), 0.0, 1e-12);
}

TEST(PoseTally, SummaryCountsFramesWithinTheLimitsInDegrees) {
    PoseTally t;
    const double deg = 3.141592653589793 / 180.0;
    t.addTracked(0.0, 0.0, 0.0);
    t.addTracked(19.9 * deg, -47.9 * deg, 29.9 * deg);  // just inside every limit
    t.addTracked(0.0, 0.0, 31.0 * deg);                 // about z beyond
    t.addTracked(-21.0 * deg, 0.0, 0.0);                // about x beyond
    const std::string s = t.summary();
    EXPECT_NE(s.find("4 tracked frames, 2 within the limits"), std::string::npos) << s;
}

TEST(PoseTally, TiltsPairWithTheLatestTrackedFrame) {
    PoseTally t;
    t.addTilt(5.0, 5.0);  // no tracked frame yet: ignored
    const double deg = 3.141592653589793 / 180.0;
    for (int k = 0; k < 5; ++k) {
        t.addTracked(0.0, 0.0, k * deg);
        t.addTilt(2.0 * k, -1.0 * k);
    }
    const std::string s = t.summary();
    EXPECT_NE(s.find("5 frames: correlation 1.0000 with dlib's eye centres, -1.0000 with our pupils"), std::string::npos)
        << s;
}
