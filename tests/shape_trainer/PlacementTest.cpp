// Where the trainer puts the mean shape: the rectangle updateByEyes derives from two eyes,
// and the scale and shift that bring the mean onto the average placed shape.
#include <cmath>

#include <gtest/gtest.h>

#include "Placement.h"

using namespace kvo::trainer;

namespace {

// A dlib-layout shape whose eyes (six points each, 36-41 and 42-47) are centred on the
// given points; the other points are left at 0.
ShapeVec eyesAt(double ax, double ay, double bx, double by) {
    ShapeVec d(136, 0.0);
    const double ring[6][2] = {{-9, 0}, {-4, -3}, {4, -3}, {9, 0}, {4, 3}, {-4, 3}};
    for (int k = 0; k < 6; ++k) {
        d[2 * (36 + k)] = ax + ring[k][0];
        d[2 * (36 + k) + 1] = ay + ring[k][1];
        d[2 * (42 + k)] = bx + ring[k][0];
        d[2 * (42 + k) + 1] = by + ring[k][1];
    }
    return d;
}

}  // namespace

TEST(Placement, EyeRectangleIsTheOneUpdateByEyesPlaces) {
    // Eyes 88 px apart: the width is 88 / 0.44 = 200, the eyes 0.28 of it (56 px) in from
    // the sides and 0.34 of it (68 px) below the top.
    const kvo::Rectangle r = eyeRectangle(eyesAt(156.0, 210.0, 244.0, 214.0));
    EXPECT_NEAR(r.width, 200.0, 1e-9);
    EXPECT_NEAR(r.height, 200.0, 1e-9);
    EXPECT_NEAR(r.x, 100.0, 1e-9);
    EXPECT_NEAR(r.y, 212.0 - 68.0, 1e-9);
    // Whichever eye comes first in the layout, the image-left one sets the left side.
    const kvo::Rectangle s = eyeRectangle(eyesAt(244.0, 214.0, 156.0, 210.0));
    EXPECT_NEAR(s.x, r.x, 1e-9);
    EXPECT_NEAR(s.y, r.y, 1e-9);
    EXPECT_NEAR(s.width, r.width, 1e-9);
}

TEST(Placement, FitRecoversTheScaleAndShiftOfTheAverageShape) {
    const kvo::ASMModelConfig config;
    ShapeVec mean(136);
    for (int i = 0; i < 68; ++i) {
        mean[2 * i] = std::cos(0.3 * i) * (0.1 + 0.001 * i);
        mean[2 * i + 1] = std::sin(0.7 * i) * 0.12;
    }
    // Two faces whose shapes, placed from their rectangles, are the mean scaled by 600
    // and shifted by (-3, 5) in the model frame, plus opposite offsets that average out.
    const double s = 600.0, tx = -3.0, ty = 5.0;
    PlacementTarget target(config);
    const kvo::Rectangle rects[2] = {kvo::Rectangle(40, 60, 180, 180), kvo::Rectangle(10, 20, 251, 251)};
    for (int f = 0; f < 2; ++f) {
        const kvo::Rectangle& r = rects[f];
        const double half = std::trunc(r.width * 0.5 + 0.5);
        const double fx = r.width / config.refWidth * config.initScale;
        const double fy = r.height / config.refWidth * config.initScale;
        const double wobble = f == 0 ? 2.0 : -2.0;
        ShapeVec p(136);
        for (int i = 0; i < 68; ++i) {
            const double mx = s * mean[2 * i] + tx + wobble, my = s * mean[2 * i + 1] + ty - wobble;
            p[2 * i] = r.x + 1.05 * half + 0.5 + fx * mx;
            p[2 * i + 1] = r.y + 1.25 * half + 0.5 - fy * my;
        }
        target.add(p, r);
    }
    ASSERT_EQ(target.count(), 2);
    double fs = 0, ftx = 0, fty = 0;
    target.fit(mean, fs, ftx, fty);
    EXPECT_NEAR(fs, s, 1e-6);
    EXPECT_NEAR(ftx, tx, 1e-6);
    EXPECT_NEAR(fty, ty, 1e-6);
}
