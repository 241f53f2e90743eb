// Extent, centre and text forms of ShapeMat, and its use through the NumberMat base.
#include "math/ShapeMat.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

#include "math/Matrix.h"
#include "util/CoutCapture.h"

using kvo::NumberMat;
using kvo::ShapeMat;

namespace {

ShapeMat makeShape(const std::vector<std::vector<double> >& pts) {
    ShapeMat s;
    s.dim(static_cast<int>(pts.size()), 2);
    for (size_t i = 0; i < pts.size(); ++i) {
        s.data[i][0] = pts[i][0];
        s.data[i][1] = pts[i][1];
    }
    return s;
}

}  // namespace

TEST(ShapeMat, ConstructedEmpty) {
    ShapeMat s;
    EXPECT_EQ(0, s.rows);
    EXPECT_EQ(0, s.cols);
    EXPECT_EQ(0, s.numElements);
    EXPECT_TRUE(s.data.empty());
}

TEST(ShapeMat, ExtentOfNegativeCoordinates) {
    ShapeMat s = makeShape({{-5, -1}, {-3, -9}});
    EXPECT_EQ(2.0, s.shapeWidth());
    EXPECT_EQ(8.0, s.shapeHeight());
}

TEST(ShapeMat, ExtentMixedSignsAndSinglePoint) {
    ShapeMat s = makeShape({{-2, 10}, {6, -4}, {1, 3}});
    EXPECT_EQ(8.0, s.shapeWidth());
    EXPECT_EQ(14.0, s.shapeHeight());
    ShapeMat one = makeShape({{7, -7}});
    EXPECT_EQ(0.0, one.shapeWidth());
    EXPECT_EQ(0.0, one.shapeHeight());
    ShapeMat none;
    EXPECT_EQ(0.0, none.shapeWidth());
}

TEST(ShapeMat, MissingYColumnIsReported) {
    ShapeMat s;
    s.dim(2, 1);
    kvo_test::CoutCapture out;
    EXPECT_EQ(0.0, s.shapeHeight());
    EXPECT_EQ(1, out.lines());
}

TEST(ShapeMat, VerboseTextListsPoints) {
    ShapeMat s = makeShape({{1, 2}, {3.5, -6}});
    EXPECT_EQ("(ShapeMat 2, 2 [[1,2][3.5,-6]]\n", s.toString(true));
}

TEST(ShapeMat, ShortTextGivesCentreAndExtent) {
    ShapeMat s = makeShape({{1, 2}, {3, 6}, {-1, 4}});
    // x from -1 to 3, y from 2 to 6: centre (1, 4), width 4, height 4.
    EXPECT_EQ("(ShapeMat 3, 2, 1, 4, 4, 4)", s.toString(false));
    ShapeMat t = makeShape({{0.1, 0}, {1000000.3, 1.0 / 3}});
    EXPECT_EQ("(ShapeMat 2, 2, 500000, 0.166667, 1e+06, 0.333333)", t.toString(false));
}

TEST(ShapeMat, VirtualOperationsDispatchThroughTheBase) {
    ShapeMat s;
    NumberMat src(3, 2, true);
    src.data[2][0] = 4;
    s.copyFrom(src);
    NumberMat& base = s;
    EXPECT_EQ("(ShapeMat 3, 2, 2, 0, 4, 0)", base.toString(false));
    base.multiplyByScalar(2.0);
    EXPECT_EQ(8.0, s.shapeWidth());
    NumberMat* owned = new ShapeMat();
    owned->dim(68, 2);
    EXPECT_EQ(136, owned->numElements);
    delete owned;  // through the virtual destructor
}

TEST(Matrix, HoldsSixDoublesInOrder) {
    static_assert(std::is_standard_layout<kvo::Matrix>::value, "plain record");
    EXPECT_EQ(6 * sizeof(double), sizeof(kvo::Matrix));
    EXPECT_EQ(0u, offsetof(kvo::Matrix, a));
    EXPECT_EQ(1 * sizeof(double), offsetof(kvo::Matrix, b));
    EXPECT_EQ(2 * sizeof(double), offsetof(kvo::Matrix, c));
    EXPECT_EQ(3 * sizeof(double), offsetof(kvo::Matrix, d));
    EXPECT_EQ(4 * sizeof(double), offsetof(kvo::Matrix, tx));
    EXPECT_EQ(5 * sizeof(double), offsetof(kvo::Matrix, ty));
    kvo::Matrix m(2, 0, 0, 3, -10, 5);
    EXPECT_EQ(2, m.a);
    EXPECT_EQ(3, m.d);
    EXPECT_EQ(-10, m.tx);
    EXPECT_EQ(5, m.ty);
}
