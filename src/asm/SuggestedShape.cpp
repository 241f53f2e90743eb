// Profile matching of the shape search's landmarks: the worker body that moves each
// landmark of its range to the position whose image profile best matches the
// landmark's profile model, along its whisker (1-D profiles) or over a small square of
// the gradient image (2-D profiles).
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "asm/ASMSearch.h"
#include "image/ImageData.h"

namespace kvo {

namespace {

// 1-D match of landmark i at (x, y); writes the new position into (outX, outY).
void matchProfile1d(SearchThreadArgs& a, int i, double x, double y, double& outX,
                    double& outY) {
    ASMLevel& level = *a.level;
    Profiles& prof = *a.profiles;
    const std::vector<double>& mean = level.profMeans[i];
    std::vector<double>& work = level.profWork[i];
    const NumberMat& covar = *level.covars[i];
    const ImageData* image = level.image;

    outX = x;
    outY = y;
    const int pl = static_cast<int>(mean.size());
    const int nPix = a.nPixSearch > 0 ? a.nPixSearch : 0;
    const int total = pl + 2 * nPix;
    if (pl == 0 || image == nullptr || image->data == nullptr ||
        prof.gProf.size() < static_cast<size_t>(total) || work.size() < mean.size()) {
        return;
    }
    const int half = (total - 1) / 2;
    const int w = static_cast<int>(image->width);
    const int h = static_cast<int>(image->height);

    const double* step = prof.GetProfStepSize(0.0, 0.0, *a.shape, i, *a.landmarks,
                                              a.useLandmarkNeighbours);
    const double sx = step[0];
    const double sy = step[1];

    // Derivative of the grey levels along the whisker, centred on the landmark.
    std::vector<double>& g = prof.gProf;
    int before = Profiles::iGetPixel(image->data, w, h, nearestPixel(x + (-half - 1) * sx),
                                     nearestPixel(y + (-half - 1) * sy));
    for (int p = -half; p <= half; ++p) {
        const int pixel = Profiles::iGetPixel(image->data, w, h, nearestPixel(x + p * sx),
                                              nearestPixel(y + p * sy));
        g[half + p] = pixel - before;
        before = pixel;
    }
    // An even profile length makes the outermost window reach one element past the
    // sampled derivatives: give it a defined value rather than a stale one.
    for (int k = 2 * half + 1; k < total; ++k) g[k] = 0.0;

    double best = DBL_MAX;
    int bestOffset = 0;
    for (int off = -nPix; off <= nPix; ++off) {
        const int start = total / 2 + off - pl / 2;
        double sum = 0.0;
        for (int j = 0; j < pl; ++j) {
            work[j] = g[start + j];
            sum += std::fabs(work[j]);
        }
        const double meanAbs = sum / pl;
        if (std::fabs(meanAbs) >= 1e-10) {
            for (int j = 0; j < pl; ++j) work[j] /= meanAbs;
        }
        const double dist = Profiles::CalcProfile(mean, work, covar);
        // A positive offset must be strictly better; among the others a tie goes to the
        // later one.
        if (dist < best || (dist == best && off <= 0)) {
            best = dist;
            bestOffset = off;
        }
    }
    if (bestOffset != 0) {
        outX = x + bestOffset * sx;
        outY = y + bestOffset * sy;
    }
}

// 2-D match of landmark i at (x, y); writes the new position into (outX, outY).
void matchProfile2d(SearchThreadArgs& a, int i, double x, double y, double& outX,
                    double& outY) {
    ASMLevel& level = *a.level;
    const std::vector<double>& mean = level.profMeans[i];
    std::vector<double>& work = level.profWork[i];
    const NumberMat& covar = *level.covars[i];
    const ImageData* image = level.image;
    const ImageDataInt* gradient = level.gradient;

    outX = x;
    outY = y;
    if (image == nullptr || gradient == nullptr || gradient->data == nullptr ||
        work.size() < mean.size()) {
        return;
    }
    const int side = static_cast<int>(std::sqrt(static_cast<double>(mean.size())));
    if (side <= 0) return;
    const int half = (side - 1) / 2;
    const int r = a.nPixSearch2d > 0 ? a.nPixSearch2d : 0;
    const int gw = static_cast<int>(gradient->width);
    const int gh = static_cast<int>(gradient->height);
    const double len = static_cast<double>(work.size());

    // The patch centre; its row is one above the pixel that iGetPixel would read.
    const int col = nearestPixel(x) + static_cast<int>(image->width * 0.5);
    const int row = static_cast<int>(image->height * 0.5) - 1 - nearestPixel(y);

    double best = DBL_MAX;
    int bestJ = 0;
    int bestK = 0;
    for (int j = -r; j <= r; ++j) {
        for (int k = -r; k <= r; ++k) {
            long long sum = 0;
            size_t e = 0;
            const int top = row - half + j;
            const int left = col - half - k;
            for (int rr = top; rr < top + side; ++rr) {
                const bool rowInside = rr >= 0 && rr < gh;
                for (int cc = left; cc < left + side; ++cc) {
                    int v = 0;
                    if (rowInside && cc >= 0 && cc < gw) {
                        v = gradient->data[static_cast<size_t>(rr) * static_cast<size_t>(gw) +
                                           static_cast<size_t>(cc)];
                    }
                    work[e++] = v;
                    sum += std::llabs(static_cast<long long>(v));
                }
            }
            if (sum != 0) {
                const double factor = len / static_cast<double>(sum);
                for (double& v : work) v *= factor;
                if (a.sigmoidScale != 0.0) {
                    for (double& v : work) {
                        // The divisor is truncated to a whole number; a zero divisor
                        // (possible only with a tiny sigmoidScale) leaves the value.
                        const double divisor = std::trunc(std::fabs(v) + 0.1 * a.sigmoidScale);
                        if (divisor != 0.0) v /= divisor;
                    }
                }
            }
            const double dist = Profiles::CalcProfile(mean, work, covar);
            if (dist < best || (dist == best && j <= 0 && k <= 0)) {
                best = dist;
                bestJ = j;
                bestK = k;
            }
        }
    }
    // The best patch lies -k pixels to the right and j pixels down (y is up).
    outX = x - bestK;
    outY = y - bestJ;
}

}  // namespace

void* ASMSearch::GetSuggestedShape_thread(void* args) {
    SearchThreadArgs& a = *static_cast<SearchThreadArgs*>(args);
    if (a.level == nullptr || a.shape == nullptr || a.suggested == nullptr ||
        a.profiles == nullptr || a.landmarks == nullptr) {
        return nullptr;
    }
    ASMLevel& level = *a.level;
    const ShapeMat& shape = *a.shape;
    ShapeMat& suggested = *a.suggested;
    for (int i = a.first; i < a.last; ++i) {
        const double x = shape.data[i][0];
        const double y = shape.data[i][1];
        double nx = x;
        double ny = y;
        if (level.covars[i]) {
            if (level.is2d(i)) {
                matchProfile2d(a, i, x, y, nx, ny);
            } else {
                matchProfile1d(a, i, x, y, nx, ny);
            }
        }
        suggested.data[i][0] = nx;
        suggested.data[i][1] = ny;
    }
    return nullptr;
}

}  // namespace kvo
