#pragma once
// A 2-D affine transform: x' = a*x + c*y + tx, y' = b*x + d*y + ty.
//
// What it represents: the map from input-image pixels to the shape-search frame that
// the shape search hands to the image pipeline's resampling. The producer writes b and
// c as zero (a scale plus a translation); the consumer reads only a, d, tx and ty.
// tx and ty are in pixels; a, b, c, d are unitless.
//
// Thread safety: a plain value; not synchronised.

namespace kvo {

struct Matrix {
    double a = 1.0;
    double b = 0.0;
    double c = 0.0;
    double d = 1.0;
    double tx = 0.0;
    double ty = 0.0;

    Matrix() = default;
    Matrix(double pa, double pb, double pc, double pd, double ptx, double pty)
        : a(pa), b(pb), c(pc), d(pd), tx(ptx), ty(pty) {}
};

}  // namespace kvo
