#pragma once
// The gradient pass of the shape search's pyramid.
//
// G(x, y) = I(x + 1, y) - I(x, y) + I(x, y + 1) - I(x, y): the sum of the forward
// differences to the right and downward, in the range -510 .. 510. Rows 0 .. h - 2 are
// written, with their last column 0; row h - 1 is left as it is (zero from allocation).
//
// Thread safety: none; writes `gradient` and `rowBuffer`.
#include "image/ImageData.h"

namespace kvo {

// Builds the gradient of the top-left width x height pixels of `image` into the top-left
// of `gradient` (each read or written with its own row length), using `rowBuffer` as
// scratch.
// Requires: width and height do not exceed the sizes of image and gradient, and rowBuffer
// holds at least `width` integers; otherwise it reports and writes nothing.
void buildGradientImage(const ImageData& image, ImageDataInt& gradient, ImageDataInt& rowBuffer,
                        int width, int height);

}  // namespace kvo
