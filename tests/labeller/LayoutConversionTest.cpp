// The conversion from dlib's 68 landmarks to our layout: where the shared points land,
// the jaw cut at the temple level, mirror symmetry, and bad input.
#include <cmath>

#include <gtest/gtest.h>

#include "DlibLayoutConverter.h"
#include "MuctFixture.h"

namespace kvo {
namespace labeller {
namespace {

using test::fullModel;

const double FACE_SCALE = 400.0;  // model units -> pixels (eye corners ~ 130 px apart)
const dlib::dpoint FACE_CENTRE(320.0, 240.0);

// The model's mean face in pixels: the shape every test below starts from.
Shape68 meanFace() {
    Shape68 s = fullModel().mean();
    for (auto& p : s) p = FACE_CENTRE + FACE_SCALE * p;
    return s;
}

dlib::dpoint lerp(const dlib::dpoint& a, const dlib::dpoint& b, double t) { return a + t * (b - a); }

// A dlib-scheme face drawn on our face `o`: every point dlib shares is put exactly where
// the conversion should read it back. `jawFromAbove` selects whether dlib's jaw starts
// above our temple point (an extra segment beyond it) or below it, on the first segment.
Shape68 dlibFaceOn(const Shape68& o, bool jawFromAbove) {
    Shape68 d;
    if (jawFromAbove) {
        d[0] = lerp(o[1], o[0], 1.6);
        d[16] = lerp(o[13], o[14], 1.6);
        for (int k = 0; k < 8; ++k) d[1 + k] = o[k];       // 1..8 = our 0..7
        for (int k = 0; k < 7; ++k) d[15 - k] = o[14 - k];  // 15..9 = our 14..8
    } else {
        d[0] = lerp(o[0], o[1], 0.2);
        d[1] = lerp(o[0], o[1], 0.6);
        d[16] = lerp(o[14], o[13], 0.2);
        d[15] = lerp(o[14], o[13], 0.6);
        for (int k = 1; k < 8; ++k) d[1 + k] = o[k];        // 2..8 = our 1..7
        for (int k = 0; k < 6; ++k) d[14 - k] = o[13 - k];  // 14..9 = our 13..8
    }
    // Brows: the ends and upper-edge points, with a point in the middle of each.
    d[17] = o[21]; d[18] = o[22]; d[19] = lerp(o[22], o[23], 0.5); d[20] = o[23]; d[21] = o[24];
    d[26] = o[15]; d[25] = o[16]; d[24] = lerp(o[16], o[17], 0.5); d[23] = o[17]; d[22] = o[18];
    // Nose: bridge down the midline, base around our base centre.
    for (int k = 0; k < 4; ++k) d[27 + k] = lerp(0.5 * (o[37] + o[45]), o[67], k / 3.0);
    d[31] = o[39]; d[32] = o[40]; d[33] = o[41]; d[34] = o[42]; d[35] = o[43];
    // Eyes: lid points placed symmetrically about our top and bottom points.
    const dlib::dpoint lw = (o[29] - o[27]) / 6.0, rw = (o[32] - o[34]) / 6.0;
    d[36] = o[27]; d[37] = o[28] - lw; d[38] = o[28] + lw; d[39] = o[29]; d[40] = o[30] + lw; d[41] = o[30] - lw;
    d[42] = o[34]; d[43] = o[33] - rw; d[44] = o[33] + rw; d[45] = o[32]; d[46] = o[35] + rw; d[47] = o[35] - rw;
    for (int k = 48; k <= 59; ++k) d[k] = o[k];
    d[60] = lerp(o[48], o[66], 0.3); d[61] = o[65]; d[62] = o[64]; d[63] = o[63];
    d[64] = lerp(o[54], o[66], 0.3); d[65] = o[62]; d[66] = o[61]; d[67] = o[60];
    return d;
}

// Our points the conversion takes from dlib, as opposed to filling them from the model.
const int DIRECT[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
                      27, 28, 29, 30, 32, 33, 34, 35, 41, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61,
                      62, 63, 64, 65, 66, 67};

// A deterministic, asymmetric distortion: tilt, stretch and per-point jitter (pixels).
Shape68 distort(const Shape68& s, unsigned seed) {
    Shape68 out;
    unsigned state = seed;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return ((state >> 8) & 0xffff) / 65535.0 - 0.5;
    };
    const double c = std::cos(0.15), sn = std::sin(0.15);
    for (int i = 0; i < NUM_POINTS; ++i) {
        const dlib::dpoint p = s[i] - FACE_CENTRE;
        out[i] = FACE_CENTRE + dlib::dpoint(1.1 * (c * p.x() - sn * p.y()), sn * p.x() + c * p.y()) +
                 dlib::dpoint(6.0 * next(), 6.0 * next());
    }
    return out;
}

TEST(LandmarkSchemes, PartnerTablesAreInvolutionsThatKeepTheMidline) {
    for (int i = 0; i < NUM_POINTS; ++i) {
        EXPECT_EQ(OURS_PARTNER[OURS_PARTNER[i]], i);
        EXPECT_EQ(DLIB_PARTNER[DLIB_PARTNER[i]], i);
    }
    for (int i : {7, 41, 51, 57, 61, 64, 66, 67}) EXPECT_EQ(OURS_PARTNER[i], i);
    for (int i : {8, 27, 28, 29, 30, 33, 51, 57, 62, 66}) EXPECT_EQ(DLIB_PARTNER[i], i);
    EXPECT_EQ(OURS_PARTNER[27], 32);  // outer eye corners
    EXPECT_EQ(DLIB_PARTNER[36], 45);
}

TEST(LandmarkSchemes, MuctShapesFollowTheImageLeftRightConvention) {
    // In the MUCT shapes (our layout), "left" points lie left in the image.
    int checked = 0;
    for (const auto& m : test::muctShapes()) {
        if (!test::isComplete(m)) continue;
        EXPECT_LT(m.points[27].x(), m.points[32].x()) << m.name;  // left eye outer corner
        EXPECT_LT(m.points[21].x(), m.points[15].x()) << m.name;  // left brow outer end
        EXPECT_LT(m.points[48].x(), m.points[54].x()) << m.name;  // left mouth corner
        if (++checked == 200) break;
    }
    EXPECT_EQ(checked, 200);
}

TEST(DlibLayoutConverter, SharedPointsLandOnOurPoints) {
    const DlibLayoutConverter conv(fullModel());
    const Shape68 ours = meanFace();
    for (bool fromAbove : {true, false}) {
        SCOPED_TRACE(fromAbove ? "dlib's jaw starts above the temple" : "dlib's jaw starts below the temple");
        Shape68 direct;
        PointMask known;
        conv.directPoints(dlibFaceOn(ours, fromAbove), direct, known);
        int n = 0;
        for (int i : DIRECT) {
            EXPECT_TRUE(known[i]) << i;
            // The mouth centre is the midpoint of the inner lips' centres.
            const dlib::dpoint want = i == 66 ? 0.5 * (ours[61] + ours[64]) : ours[i];
            EXPECT_NEAR(direct[i].x(), want.x(), 1e-6) << i;
            EXPECT_NEAR(direct[i].y(), want.y(), 1e-6) << i;
            ++n;
        }
        int nKnown = 0;
        for (bool k : known) nKnown += k;
        EXPECT_EQ(nKnown, n) << "only the shared points are direct";
    }
}

TEST(DlibLayoutConverter, TempleLevelAndJawSpacingComeFromTheMeanFace) {
    const DlibLayoutConverter conv(fullModel());
    // Our temple points lie near the outer-eye-corner line (MUCT: within a tenth of the
    // corner distance), and the jaw fractions rise from 0 to 1.
    EXPECT_LT(std::fabs(conv.templeDrop()), 0.1);
    EXPECT_DOUBLE_EQ(conv.jawFractions()[0], 0.0);
    EXPECT_DOUBLE_EQ(conv.jawFractions()[7], 1.0);
    for (int k = 1; k < 8; ++k) EXPECT_GT(conv.jawFractions()[k], conv.jawFractions()[k - 1]);
}

TEST(DlibLayoutConverter, FilledPointsOfTheMeanFaceAreTheMeanFace) {
    const DlibLayoutConverter conv(fullModel());
    const Shape68 ours = meanFace();
    Shape68 out;
    PointMask filled;
    ASSERT_TRUE(conv.convert(dlibFaceOn(ours, true), out, &filled));
    const double eyeDist = dlib::length(ours[32] - ours[27]);
    int nFilled = 0;
    for (int i = 0; i < NUM_POINTS; ++i) {
        if (!filled[i]) continue;  // the direct points are checked above
        ++nFilled;
        EXPECT_LT(dlib::length(out[i] - ours[i]), 0.01 * eyeDist) << i;
    }
    EXPECT_EQ(nFilled, NUM_POINTS - static_cast<int>(sizeof(DIRECT) / sizeof(DIRECT[0])));
}

TEST(DlibLayoutConverter, MirroredInputGivesMirroredOutput) {
    const DlibLayoutConverter conv(fullModel());
    for (unsigned seed : {1u, 2u, 3u}) {
        const Shape68 d = distort(dlibFaceOn(meanFace(), seed % 2 == 0), seed);
        const double axis = 301.5;
        Shape68 a, b;
        ASSERT_TRUE(conv.convert(d, a));
        ASSERT_TRUE(conv.convert(mirrorShape(d, DLIB_PARTNER, axis), b));
        const Shape68 expected = mirrorShape(a, OURS_PARTNER, axis);
        for (int i = 0; i < NUM_POINTS; ++i) {
            EXPECT_NEAR(b[i].x(), expected[i].x(), 1e-4) << "seed " << seed << " point " << i;
            EXPECT_NEAR(b[i].y(), expected[i].y(), 1e-4) << "seed " << seed << " point " << i;
        }
    }
}

TEST(DlibLayoutConverter, ConversionKeepsImageLeftOnTheLeft) {
    const DlibLayoutConverter conv(fullModel());
    Shape68 out;
    ASSERT_TRUE(conv.convert(distort(dlibFaceOn(meanFace(), false), 7), out));
    EXPECT_LT(out[0].x(), out[14].x());
    EXPECT_LT(out[21].x(), out[15].x());
    EXPECT_LT(out[31].x(), out[36].x());  // pupils, filled by the model
    EXPECT_LT(out[39].x(), out[43].x());  // nose wings, filled by the model
    EXPECT_LT(out[28].y(), out[30].y());  // lid top above the bottom
    EXPECT_LT(out[67].y(), out[41].y());  // nose tip above the base centre
}

TEST(DlibLayoutConverter, CollapsedLandmarksAreRejected) {
    const DlibLayoutConverter conv(fullModel());
    Shape68 d;
    d.fill(dlib::dpoint(50.0, 60.0));
    Shape68 out;
    out.fill(dlib::dpoint(-1.0, -1.0));
    EXPECT_FALSE(conv.convert(d, out));
    EXPECT_EQ(out[0].x(), -1.0) << "the result is left untouched";
}

TEST(PointAlong, WalksThePolylineByArcLength) {
    const dlib::dpoint pts[3] = {{0, 0}, {10, 0}, {10, 30}};
    EXPECT_NEAR(pointAlong(pts, 3, 0.0).x(), 0.0, 1e-12);
    EXPECT_NEAR(pointAlong(pts, 3, 0.25).x(), 10.0, 1e-12);
    EXPECT_NEAR(pointAlong(pts, 3, 0.5).y(), 10.0, 1e-12);
    EXPECT_NEAR(pointAlong(pts, 3, 1.0).y(), 30.0, 1e-12);
    const dlib::dpoint same[2] = {{4, 4}, {4, 4}};
    EXPECT_EQ(pointAlong(same, 2, 0.5), dlib::dpoint(4, 4));
}

}  // namespace
}  // namespace labeller
}  // namespace kvo
