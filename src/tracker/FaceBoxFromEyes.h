#pragma once
// The face box that a start from two eye centres places the shape in (kvo_updateByEyes),
// and its inverse: the eye centres from which the library places the shape in a given box.
//
// The rule: with d = eye distance / EYE_SPAN, the box is square with side d, its left edge
// 0.28 d left of the left eye and its top edge 0.34 d above the eyes' mean height. Every
// program that predicts or drives that placement calls these functions, so that the rule
// is written once. All positions are image pixels, y down.
//
// Thread safety: pure functions on plain values; callable from any thread.
#include "math/Rectangle.h"

namespace kvo {

// Each eye's distance from its side of the box, and the eyes' distance below its top,
// as fractions of the box's side.
constexpr double EYE_INSET = 0.28;
constexpr double EYE_DROP = 0.34;
// The eye distance as a fraction of the box's side: 0.43999999999999995 in double
// precision, since 0.28 has no exact binary form.
constexpr double EYE_SPAN = 1.0 - 2.0 * EYE_INSET;

// Two eye centres: the left one is the one with the smaller x in the image.
struct EyeCentres {
    double leftX = 0.0, leftY = 0.0;    // pixels
    double rightX = 0.0, rightY = 0.0;  // pixels
};

// The same eyes with `left` the one of smaller x (they are swapped when leftX > rightX),
// as the library orders the two eyes a host gives it.
inline EyeCentres inImageOrder(const EyeCentres& eyes) {
    if (!(eyes.leftX > eyes.rightX)) return eyes;
    return EyeCentres{eyes.rightX, eyes.rightY, eyes.leftX, eyes.leftY};
}

// Requires: eyes.leftX < eyes.rightX for a box of positive side (the caller orders the
// eyes; the function does not swap them).
// Ensures: the box the library places the shape in from these eyes, bit for bit.
inline Rectangle faceBoxFromEyes(const EyeCentres& eyes) {
    const double d = (eyes.rightX - eyes.leftX) / EYE_SPAN;
    return Rectangle(eyes.leftX - EYE_INSET * d, (eyes.rightY + eyes.leftY) * 0.5 - EYE_DROP * d, d, d);
}

// Requires: box.width > 0 (only the width is read of the size: the box is square).
// Ensures: eye centres at the height EYE_DROP * width below the top, EYE_INSET * width in
// from each side, from which faceBoxFromEyes gives back `box` up to rounding.
inline EyeCentres eyesFromFaceBox(const Rectangle& box) {
    const double y = box.y + EYE_DROP * box.width;
    return EyeCentres{box.x + EYE_INSET * box.width, y, box.x + (1.0 - EYE_INSET) * box.width, y};
}

}  // namespace kvo
