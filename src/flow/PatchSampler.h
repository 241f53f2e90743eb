#pragma once
// Patch operations of the optical-flow tracker: bilinear sampling of a small patch
// from an 8-bit image and the 3-10-3 smoothed derivatives of a sampled patch.
//
// Patches are arrays of doubles stored row after row with a caller-chosen row stride
// (in elements). Sizes are in pixels.
//
// Thread safety: pure functions of their arguments; each caller passes its own output
// and scratch buffers, and the image is only read.
#include "image/ImageData.h"

namespace kvo {

// Samples a pw x ph patch from `image` with real-valued centre (cx, cy), in pixels of
// that image: the origin is o = (cx - (pw - 1) / 2, cy - (ph - 1) / 2), x0 = trunc(o.x),
// y0 = trunc(o.y), a = max(o.x - x0, 0.0001), b = o.y - y0, and patch(x, y) is the
// bilinear mix of source pixels (x0 + x, y0 + y) ... (x0 + x + 1, y0 + y + 1) with weights
// a and b. An origin whose patch would read outside the image is moved inside (first
// to at least 0, then to at most size - patch - 1) keeping a and b. When the image is
// too small to hold the patch plus one pixel, reads are clamped to the image instead.
// Requires: pw, ph in 1 ... stride; patch holds ph rows of `stride`; rowBuffer holds
// pw doubles; the image has pixels (width, height >= 1) and the centre is finite and
// within +-2^30 of the image.
// Ensures: only pixels inside the image are read; each source row is read once.
void samplePatch(const ImageData& image, double cx, double cy, int pw, int ph, double* patch,
                 int stride, double* rowBuffer);

// Derivatives of the interior of a pw x ph patch P (row stride `stride`): for columns
// c = 1 ... pw - 2 and rows r = 1 ... ph - 2, with A(c, r) = 3/32 (P(c, r-1) + P(c, r+1))
// + 10/32 P(c, r) and D(c, r) = P(c, r+1) - P(c, r-1):
//   Ix = A(c+1, r) - A(c-1, r),  Iy = 3/32 (D(c-1, r) + D(c+1, r)) + 10/32 D(c, r),
// stored at (c - 1) + (r - 1) (pw - 2) of derivX and derivY (grey levels per pixel).
// Requires: pw, ph >= 3; smoothRow and diffRow hold pw doubles each; derivX and derivY
// hold (pw - 2) (ph - 2) doubles each.
void patchDerivatives(const double* patch, int stride, int pw, int ph, double* smoothRow,
                      double* diffRow, double* derivX, double* derivY);

}  // namespace kvo
