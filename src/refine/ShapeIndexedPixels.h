#pragma once
// The shape-indexed pixel reads and the similarity transform both the refinement and its
// trainer use, so that the trained trees see the pixels the runtime reads.
//
// What it represents: a current shape (68 landmarks, image pixels, x right, y down) is
// related to the model's mean shape by the least-squares similarity  s ~ R m + t  with
// R = [a -b; b a]. A pool pixel anchored to landmark j at mean-shape offset (dx, dy) is
// read at s_j + R (dx, dy), the nearest pixel, 0 outside the frame. Shape increments come
// in mean-shape units and reach the image as R (dx, dy).
//
// Thread safety: pure functions of their arguments.
#include <cstdint>

namespace kvo {

// The rotation-and-scale part of the similarity from `mean` to `shape`, both `n` points
// as x0, y0, x1, y1, ... Ensures: (a, b) of R above; (1, 0) when the mean shape has no
// spread or the result is not finite.
void similarityFromMean(const float* mean, const float* shape, int n, float& a, float& b);

// Reads `count` pool pixels: out[p] is the grey value of frame pixel
// round(shape[anchor[p]] + R offset[p]), or 0 when that lies outside the
// `width` x `height` frame `grey` (rows back to back).
void readPoolPixels(const unsigned char* grey, int width, int height, const float* shape,
                    const std::uint16_t* anchors, const float* offsets, int count, float a, float b,
                    unsigned char* out);

}  // namespace kvo
