// The refinement's video filter: the face's motion passes without lag, a trembling
// correction is steadied, a real change is followed, and what it cannot use it leaves alone.
// (That it allocates nothing per frame is covered by the tracker's allocation test, which
// runs it with the refinement on.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "refine/RefinementFilter.h"

namespace {

constexpr int kN = 68;

// A searched shape: landmarks on a spiral about (cx, cy), scaled by `scale` pixels and
// turned by `angle` radians; the outer eye corners 27 and 32 are `scale` pixels apart.
kvo::ShapeMat searchedShape(double cx, double cy, double scale, double angle) {
    kvo::ShapeMat s;
    s.dim(kN, 2);
    const double c = std::cos(angle), sn = std::sin(angle);
    for (int i = 0; i < kN; ++i) {
        double u = 0.3 * std::cos(0.7 * i) * (1 + 0.01 * i), v = 0.3 * std::sin(0.7 * i) * (1 + 0.01 * i);
        if (i == kvo::RefinementFilter::OUTER_EYE_A) u = -0.5, v = 0.0;
        if (i == kvo::RefinementFilter::OUTER_EYE_B) u = 0.5, v = 0.0;
        s.data[i][0] = cx + scale * (c * u - sn * v);
        s.data[i][1] = cy + scale * (sn * u + c * v);
    }
    return s;
}

// `searched` moved by a correction given in the face frame (eye distances, x along the
// eye line), landmark i by (du + 0.001 i, dv).
kvo::ShapeMat corrected(const kvo::ShapeMat& searched, double du, double dv) {
    const double ex = searched.data[32][0] - searched.data[27][0];
    const double ey = searched.data[32][1] - searched.data[27][1];
    kvo::ShapeMat r;
    r.copyFrom(searched);
    for (int i = 0; i < kN; ++i) {
        const double u = du + 0.001 * i, v = dv;
        r.data[i][0] += ex * u - ey * v;
        r.data[i][1] += ey * u + ex * v;
    }
    return r;
}

double largestDistance(const kvo::ShapeMat& a, const kvo::ShapeMat& b) {
    double d = 0;
    for (int i = 0; i < a.rows; ++i)
        d = std::max(d, std::hypot(a.data[i][0] - b.data[i][0], a.data[i][1] - b.data[i][1]));
    return d;
}

kvo::RefinementFilter initialised() {
    kvo::RefinementFilter f;
    f.init(kN);
    return f;
}

TEST(RefinementFilter, FirstCallAfterInitOrResetPassesThrough) {
    kvo::RefinementFilter f = initialised();
    const kvo::ShapeMat s = searchedShape(100, 80, 60, 0.1);
    kvo::ShapeMat r = corrected(s, 0.05, -0.02);
    const kvo::ShapeMat want = r;
    f.apply(s, r);
    EXPECT_LT(largestDistance(r, want), 1e-9);

    // Later calls remember it; after reset a quite different correction passes again.
    kvo::ShapeMat other = corrected(s, -0.2, 0.1);
    kvo::ShapeMat filtered = other;
    f.apply(s, filtered);
    EXPECT_GT(largestDistance(filtered, other), 1.0);
    f.reset();
    filtered = other;
    f.apply(s, filtered);
    EXPECT_LT(largestDistance(filtered, other), 1e-9);
}

TEST(RefinementFilter, MotionOfTheSearchedShapePassesWithoutLag) {
    // A fixed correction in the face frame, the face moving fast: shifted, turned and
    // scaled every frame. The output follows the searched shape exactly.
    kvo::RefinementFilter f = initialised();
    for (int t = 0; t < 40; ++t) {
        const kvo::ShapeMat s = searchedShape(100 + 7.0 * t, 80 - 3.0 * t, 60 + 2.0 * t, 0.02 * t);
        kvo::ShapeMat r = corrected(s, 0.04, 0.03);
        const kvo::ShapeMat want = r;
        f.apply(s, r);
        ASSERT_LT(largestDistance(r, want), 1e-9) << "frame " << t;
    }
}

TEST(RefinementFilter, TremblingCorrectionIsSteadied) {
    // The correction trembles by +-0.01 eye distances (0.6 px at 60 px) from frame to
    // frame around a fixed value: the output's trembling is a fraction of it.
    kvo::RefinementFilter f = initialised();
    const kvo::ShapeMat s = searchedShape(120, 90, 60, 0.0);
    double inSpread = 0, outSpread = 0;
    kvo::ShapeMat previous;
    for (int t = 0; t < 60; ++t) {
        const double noise = (t % 2 ? 0.01 : -0.01);
        kvo::ShapeMat r = corrected(s, 0.03 + noise, -0.01 - noise);
        f.apply(s, r);
        if (t >= 20) {
            inSpread = std::max(inSpread, 0.02 * std::sqrt(2.0) * 60);
            outSpread = std::max(outSpread, largestDistance(r, previous));
        }
        previous = r;
    }
    EXPECT_LT(outSpread, 0.25 * inSpread);
}

TEST(RefinementFilter, RealChangeIsFollowed) {
    // The correction steps by 0.1 eye distances (a mouth opening, say) and stays: within
    // eight frames the output has come more than half way, within 30 to a tenth of the step.
    kvo::RefinementFilter f = initialised();
    const kvo::ShapeMat s = searchedShape(120, 90, 60, 0.0);
    for (int t = 0; t < 10; ++t) {
        kvo::ShapeMat r = corrected(s, 0.0, 0.0);
        f.apply(s, r);
    }
    const kvo::ShapeMat target = corrected(s, 0.0, 0.1);
    kvo::ShapeMat r;
    for (int t = 1; t <= 30; ++t) {
        r = target;
        f.apply(s, r);
        if (t == 8) {
            EXPECT_LT(largestDistance(r, target), 0.5 * 0.1 * 60);
        }
    }
    EXPECT_LT(largestDistance(r, target), 0.1 * 0.1 * 60);
}

TEST(RefinementFilter, WhatItCannotUseIsLeftAlone) {
    kvo::RefinementFilter f = initialised();
    const kvo::ShapeMat s = searchedShape(120, 90, 60, 0.0);
    kvo::ShapeMat r = corrected(s, 0.05, 0.0);
    f.apply(s, r);  // started with a correction of 0.05

    // Eye corners on top of each other: no face frame.
    kvo::ShapeMat collapsed = s;
    collapsed.data[32][0] = collapsed.data[27][0];
    collapsed.data[32][1] = collapsed.data[27][1];
    kvo::ShapeMat r2 = corrected(s, 0.2, 0.0), want = r2;
    f.apply(collapsed, r2);
    EXPECT_LT(largestDistance(r2, want), 1e-12);

    // A non-finite refined landmark.
    kvo::ShapeMat r3 = corrected(s, 0.2, 0.0);
    r3.data[5][1] = std::numeric_limits<double>::quiet_NaN();
    f.apply(s, r3);
    EXPECT_TRUE(std::isnan(r3.data[5][1]));
    EXPECT_NEAR(r3.data[6][0], corrected(s, 0.2, 0.0).data[6][0], 1e-12);

    // Another landmark count, and a filter never initialised.
    kvo::ShapeMat small;
    small.dim(3, 2);
    kvo::ShapeMat smallRefined = small;
    smallRefined.data[1][0] = 4.0;
    f.apply(small, smallRefined);
    EXPECT_EQ(smallRefined.data[1][0], 4.0);
    kvo::RefinementFilter bare;
    kvo::ShapeMat r4 = corrected(s, 0.2, 0.0);
    want = r4;
    bare.apply(s, r4);
    EXPECT_LT(largestDistance(r4, want), 1e-12);

    // Each of these reset it: the next usable call passes through.
    kvo::ShapeMat r5 = corrected(s, -0.1, 0.0);
    want = r5;
    f.apply(s, r5);
    EXPECT_LT(largestDistance(r5, want), 1e-9);
}

}  // namespace
