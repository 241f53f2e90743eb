#include "asm/ASMCorrectionExtension.h"

#include <cmath>

#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

const int X = 0;
const int Y = 1;

struct OrderRule {
    int a;
    double offset;
    int b;
};

// Lip contours, each point at least `offset` above its lower neighbour (y up).
const OrderRule kMouth[] = {
    {57, 0.5, 58}, {58, 0.5, 59}, {59, 1.0, 48}, {57, 0.5, 56}, {56, 0.5, 55},
    {55, 1.0, 54}, {58, 4.0, 60}, {57, 4.0, 61}, {56, 4.0, 62}, {61, 1.0, 66},
    {60, 2.0, 65}, {66, 1.0, 64}, {62, 2.0, 63}, {65, 2.0, 49}, {64, 3.0, 50},
    {64, 1.0, 51}, {64, 3.0, 52}, {63, 2.0, 53},
};

// Eyebrow points at least `offset` above the eye top (or the brow's lower edge).
const OrderRule kBrows[] = {
    {28, 3.0, 21}, {28, 5.0, 24}, {28, 5.0, 25}, {28, 5.0, 26}, {26, 5.0, 22},
    {25, 5.0, 23}, {33, 3.0, 15}, {33, 5.0, 18}, {33, 5.0, 19}, {33, 5.0, 20},
    {19, 5.0, 17}, {20, 5.0, 16},
};

// Left jaw side: x at most the left eye's inner corner + offset.
const OrderRule kLeftJaw[] = {
    {29, -18.0, 1}, {29, -13.0, 2}, {29, -3.0, 3}, {29, 9.0, 4}, {29, 27.0, 5},
};

// Right jaw side: x at least the right eye's inner corner + offset.
const OrderRule kRightJaw[] = {
    {34, 18.0, 13}, {34, 13.0, 12}, {34, 3.0, 11}, {34, -9.0, 10}, {34, -27.0, 9},
};

struct RatioRule {
    int p, q, r;
    double lo, hi;
};

const RatioRule kJawEnds[] = {
    {0, 27, 29, 1.0, 2.3},
    {14, 32, 34, 1.0, 2.3},
};

const RatioRule kChinAndLowerJaw[] = {
    {7, 57, 41, 0.5, 20.0},  {3, 48, 54, 1.33, 20.0},  {11, 54, 48, 1.33, 20.0},
    {2, 40, 42, 1.66, 20.0}, {12, 42, 40, 1.66, 20.0},
};

// Eyes, nose base and nostrils are raised one pixel (y up) after the fit: a fixed
// offset between where the profile fit settles on these points and where the marked
// faces put them. It comes last so that the order rules above compare fitted positions.
const int kLifted[] = {27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 41, 46, 47};

}  // namespace

ASMCorrectionExtension::ASMCorrectionExtension(ShapeMat& s) : shape(s) {}

void ASMCorrectionExtension::ratioRule(int p, int q, int r, double lo, double hi) {
    std::vector<double>& P = shape.data[p];
    const std::vector<double>& Q = shape.data[q];
    const std::vector<double>& R = shape.data[r];
    const double qx = Q[X] - R[X];
    const double qy = Q[Y] - R[Y];
    const double qr = std::sqrt(qx * qx + qy * qy);
    // Coinciding (or non-finite) reference points give no direction to project onto.
    if (!(qr > 0.0) || !std::isfinite(qr)) return;
    const double px = P[X] - R[X];
    const double py = P[Y] - R[Y];
    const double u = std::sqrt(px * px + py * py) / qr;
    // Written so that a non-numeric ratio takes the upper limit instead of
    // propagating.
    const double t = (u < lo) ? lo : (u < hi ? u : hi);
    P[X] = R[X] + t * qx;
    P[Y] = R[Y] + t * qy;
}

void ASMCorrectionExtension::atLeast(int a, double offset, int b, int c) {
    const double target = shape.data[a][c] + offset;
    if (shape.data[b][c] < target) shape.data[b][c] = target;
}

void ASMCorrectionExtension::atMost(int a, double offset, int b, int c) {
    const double target = shape.data[a][c] + offset;
    if (shape.data[b][c] > target) shape.data[b][c] = target;
}

void ASMCorrectionExtension::update() {
    if (shape.rows < NUM_LANDMARKS || shape.cols < 2) {
        Err("ASMCorrectionExtension::update: the shape has " + to_string(shape.rows) +
            " x " + to_string(shape.cols) + " elements, the rules need " +
            to_string(NUM_LANDMARKS) + " x 2");
        return;
    }
    for (const RatioRule& r : kJawEnds) ratioRule(r.p, r.q, r.r, r.lo, r.hi);
    for (const OrderRule& o : kMouth) atLeast(o.a, o.offset, o.b, Y);
    for (const RatioRule& r : kChinAndLowerJaw) ratioRule(r.p, r.q, r.r, r.lo, r.hi);
    for (const OrderRule& o : kBrows) atLeast(o.a, o.offset, o.b, Y);
    for (const OrderRule& o : kLeftJaw) atMost(o.a, o.offset, o.b, X);
    for (const OrderRule& o : kRightJaw) atLeast(o.a, o.offset, o.b, X);
    for (int i : kLifted) shape.data[i][Y] += 1.0;
}

}  // namespace kvo
