// The optical-flow worker: coarse-to-fine Lucas-Kanade tracking of one worker's points.
#include <algorithm>
#include <cmath>

#include "flow/OpticalFlow.h"
#include "flow/PatchSampler.h"

namespace kvo {

namespace {

// Window columns (or rows) [first, last) in window indices 0 ... S - 1.
struct Span {
    int first = 0;
    int last = 0;
    int size() const { return last - first; }
    bool operator==(const Span& o) const { return first == o.first && last == o.last; }
};

// trunc(v) as an int, with values beyond any image (and NaN) pinned far outside it.
inline int truncIndex(double v) {
    const double far = 1.0e9;
    if (!(v > -far)) return -static_cast<int>(far);
    if (!(v < far)) return static_cast<int>(far);
    return static_cast<int>(v);
}

// Window indices of the previous window around u (one axis) that get derivatives.
// Window index i lies on pixel trunc(u) - h + i, which must be inside the image; and the
// patch that holds the window, one more index on each side, is sampled at
// p = u - h - 0.5 + i, so floor(p) >= 0 at the first and floor(p) + 1 <= size - 1 at the
// last patch index: then the sampler never moves the patch and every window pixel keeps
// its offset from the point.
inline Span previousSpan(double u, int h, int s, int size) {
    const int ui = truncIndex(u);
    Span sp;
    sp.first = std::max(0, h - ui);
    sp.last = std::min(s, size + h - ui);
    if (sp.last <= sp.first) return sp;
    const double lo = std::ceil(h + 1.5 - u);             // first index whose left neighbour has p >= 0
    const double hi = std::ceil(size - 0.5 + h - u) - 1;  // one past the last index whose right neighbour fits
    sp.first = std::max(sp.first, static_cast<int>(std::min(lo, static_cast<double>(s))));
    sp.last = std::min(sp.last, static_cast<int>(std::max(hi, 0.0)));
    if (sp.last < sp.first) sp.last = sp.first;
    return sp;
}

// Window indices of the current window around v (one axis). Window index i samples the
// image at p = v - h - 0.5 + i, as the previous patch pairs it; the span keeps
// floor(p) >= 0 and floor(p) + 1 <= size - 1, so the sampler never moves the patch, and
// stays inside `derivable`, the previous window's indices that have derivatives.
inline Span currentSpan(double v, int h, const Span& derivable, int size) {
    const double lo = std::ceil(h + 0.5 - v);            // first i with p >= 0
    const double hi = std::ceil(size - 0.5 + h - v);     // first i with p >= size - 1
    Span sp;
    sp.first = static_cast<int>(std::min(std::max(lo, static_cast<double>(derivable.first)),
                                         static_cast<double>(derivable.last)));
    sp.last = static_cast<int>(std::min(std::max(hi, static_cast<double>(derivable.first)),
                                        static_cast<double>(derivable.last)));
    if (sp.last < sp.first) sp.last = sp.first;
    return sp;
}

inline bool isFinite(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

// Everything one point needs at one level, read from a worker's argument record.
struct LevelContext {
    const ImageData* previous;
    const ImageData* current;
    int h;      // half window
    int s;      // window size
    int iterations;
    double epsilon;
    TrackPointsArgs* args;
};

// Tracks one point at one level. (ux, uy): its previous position, (vx, vy): the initial
// guess; both in pixels of this level. Returns false when the point is lost here;
// otherwise (vx, vy) holds the tracked position.
bool trackAtLevel(const LevelContext& ctx, double ux, double uy, double& vx, double& vy) {
    if (!isFinite(vx, vy)) return false;
    const int h = ctx.h;
    const int s = ctx.s;
    const int width = static_cast<int>(ctx.current->width);
    const int height = static_cast<int>(ctx.current->height);
    const Span colsPrev = previousSpan(ux, h, s, width);
    const Span rowsPrev = previousSpan(uy, h, s, height);
    const int pw = std::max(1, colsPrev.size() + 2);
    const int ph = std::max(1, rowsPrev.size() + 2);
    if (pw <= 2 || ph <= 2) return false;

    TrackPointsArgs& a = *ctx.args;
    const int stride = OpticalFlow::MAX_PATCH;
    double* prevPatch = a.patchPrevious;
    double* curPatch = a.patchCurrent;
    samplePatch(*ctx.previous, ux + (colsPrev.first + colsPrev.last - s - 1) * 0.5,
                uy + (rowsPrev.first + rowsPrev.last - s - 1) * 0.5, pw, ph, prevPatch, stride,
                a.rowBuffer);
    patchDerivatives(prevPatch, stride, pw, ph, a.smoothRow, a.diffRow, a.derivX, a.derivY);
    const int dw = pw - 2;

    Span lastCols, lastRows;
    bool haveG = false;
    double gxx = 0.0, gxy = 0.0, gyy = 0.0, inverse = 0.0;
    double prevDx = 0.0, prevDy = 0.0;
    for (int k = 0; k < ctx.iterations; ++k) {
        const Span cols = currentSpan(vx, h, colsPrev, width);
        const Span rows = currentSpan(vy, h, rowsPrev, height);
        const int cw = cols.size();
        const int ch = rows.size();
        if (cw > 0 && ch > 0) {
            samplePatch(*ctx.current, vx + (cols.first + cols.last - s - 1) * 0.5,
                        vy + (rows.first + rows.last - s - 1) * 0.5, cw, ch, curPatch, stride,
                        a.rowBuffer);
        }
        const bool reuse = haveG && cols == lastCols && rows == lastRows;
        double bx = 0.0, by = 0.0;
        double sxx = 0.0, sxy = 0.0, syy = 0.0;
        for (int r = rows.first; r < rows.last; ++r) {
            // Window index i pairs P(i - first + 1, r - first + 1), Q(i - cols.first,
            // r - rows.first) and the derivatives at (i - first) + (r - first) * dw.
            const double* p = prevPatch + static_cast<size_t>(r - rowsPrev.first + 1) * stride +
                              (cols.first - colsPrev.first + 1);
            const double* q = curPatch + static_cast<size_t>(r - rows.first) * stride;
            const size_t d = static_cast<size_t>(r - rowsPrev.first) * dw + (cols.first - colsPrev.first);
            const double* ix = a.derivX + d;
            const double* iy = a.derivY + d;
            if (reuse) {
                for (int i = 0; i < cw; ++i) {
                    const double t = p[i] - q[i];
                    bx += t * ix[i];
                    by += t * iy[i];
                }
            } else {
                for (int i = 0; i < cw; ++i) {
                    const double t = p[i] - q[i];
                    bx += t * ix[i];
                    by += t * iy[i];
                    sxx += ix[i] * ix[i];
                    sxy += ix[i] * iy[i];
                    syy += iy[i] * iy[i];
                }
            }
        }
        if (!reuse) {
            gxx = sxx;
            gxy = sxy;
            gyy = syy;
            const double det = gxx * gyy - gxy * gxy;
            inverse = det == 0.0 ? 1000.0 : 1.0 / det;
            lastCols = cols;
            lastRows = rows;
            haveG = true;
        }
        const double dx = (gyy * bx - gxy * by) * inverse;
        const double dy = (gxx * by - gxy * bx) * inverse;
        vx += dx;
        vy += dy;
        if (!isFinite(vx, vy)) return false;
        if (dx * dx + dy * dy < ctx.epsilon) break;
        if (k > 0 && std::fabs(dx + prevDx) < 0.01 && std::fabs(dy + prevDy) < 0.01) {
            // Oscillating between two positions: settle half-way.
            vx -= dx * 0.5;
            vy -= dy * 0.5;
            break;
        }
        prevDx = dx;
        prevDy = dy;
    }
    return true;
}

}  // namespace

void* OpticalFlow::trackPoints(void* argsPtr) {
    TrackPointsArgs& args = *static_cast<TrackPointsArgs*>(argsPtr);
    std::vector<PointPtr>& in = *args.pointsIn;
    std::vector<PointPtr>& out = *args.pointsOut;
    std::vector<bool>& states = *args.states;
    const int n = args.pointCount;

    for (int j = 0; j < n; ++j) {
        out[j]->x = in[j]->x;
        out[j]->y = in[j]->y;
        states[j] = true;
    }

    ImageDataManager& manager = *args.manager;
    const ImageData* previous = args.useASMPyramid ? manager.asmPrevious : manager.framePrevious;
    const ImageData* current = args.useASMPyramid ? manager.asmCurrent : manager.frameCurrent;
    const int top = args.levels - 1;

    for (int level = top; level >= 0; --level) {
        LevelContext ctx{&previous[level], &current[level], args.halfWindow, args.windowSize,
                         args.iterations, args.epsilon, &args};
        const double s = current[level].scale;
        const bool empty = current[level].width == 0 || current[level].height == 0;
        for (int j = 0; j < n; ++j) {
            const Point& p = *in[j];
            Point& o = *out[j];
            // Unset (ROI origin) and non-finite points are lost and never sampled.
            if ((p.x == 0.0 && p.y == 0.0) || !isFinite(p.x, p.y)) states[j] = false;
            if (!states[j]) continue;

            const double ux = s * p.x;
            const double uy = s * p.y;
            double vx = level < top ? 2.0 * o.x : s * o.x;
            double vy = level < top ? 2.0 * o.y : s * o.y;
            if (!empty && trackAtLevel(ctx, ux, uy, vx, vy)) {
                o.x = vx;
                o.y = vy;
            } else {
                // Lost here: keep the position reached so far, in level-0 pixels (the
                // coarser level's result, or the previous position at the top level).
                states[j] = false;
                if (level < top && isFinite(o.x, o.y) && s > 0.0) {
                    // The coarser level's scale is s / 2.
                    o.x *= 2.0 / s;
                    o.y *= 2.0 / s;
                } else {
                    o.x = p.x;
                    o.y = p.y;
                }
            }
        }
    }

    const double w0 = current[0].width;
    const double h0 = current[0].height;
    for (int j = 0; j < n; ++j) {
        const Point& o = *out[j];
        if (!(o.x >= 0.0 && o.y >= 0.0 && o.x <= w0 && o.y <= h0)) states[j] = false;
    }
    return nullptr;
}

}  // namespace kvo
