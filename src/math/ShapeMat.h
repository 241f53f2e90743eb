#pragma once
// A landmark shape: an n x 2 NumberMat, column 0 the x and column 1 the y
// coordinates, one landmark per row.
//
// What it represents: every shape that flows between the tracker, the shape search,
// the correction and stabilisation steps and the Candide fitting. It adds no data to
// NumberMat, only its extent and a shape-specific text form. The shape centre used
// throughout the library is (colMinElem(0) + 0.5 * shapeWidth(),
// colMinElem(1) + 0.5 * shapeHeight()).
//
// Thread safety: as NumberMat (no synchronisation).
#include <string>

#include "math/NumberMat.h"

namespace kvo {

class ShapeMat : public NumberMat {
public:
    // Ensures: an empty 0 x 0 shape; size it with dim or copyFrom.
    ShapeMat();
    ~ShapeMat() override;

    // |largest x - smallest x| in the shape's units (pixels); 0 for an empty shape.
    // Requires cols >= 1.
    double shapeWidth() const;
    // |largest y - smallest y|; 0 for an empty shape. Requires cols >= 2.
    double shapeHeight() const;

    // verbose: "(ShapeMat R, C [" then "[x,y]" per row then "]\n".
    // Otherwise: "(ShapeMat R, C, centreX, centreY, width, height)" with no line end.
    std::string toString(bool verbose = false) const override;
};

}  // namespace kvo
