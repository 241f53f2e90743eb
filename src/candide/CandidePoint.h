#pragma once
// One vertex of the Candide-3 face mesh.
//
// What it represents: the vertex in its three stages (neutral face, face deformed by
// the action units, face after scale, rotation and translation) together with its
// 2-D point, which is either the vertex's fitting target (a landmark) or its own
// projection. Coordinates are model units for `neutral` and `animated` and input-image
// pixels for `transformed` and `point` (x right, y down).
//
// Thread safety: a plain record owned by one CandideModel; not synchronised.
#include <cstdint>
#include <memory>
#include <vector>

#include "math/Point.h"

namespace kvo {

struct CandidePoint {
    double neutral[3] = {0.0, 0.0, 0.0};      // file coordinates, y negated, plus shape units
    double animated[3] = {0.0, 0.0, 0.0};     // neutral plus the weighted action units
    double transformed[3] = {0.0, 0.0, 0.0};  // animated after scale, rotation, translation
    PointPtr point;                           // shared with the model's `points` list
    std::vector<double>* outCoords = nullptr; // the model's projectedXY
    int32_t outIndex = 0;                     // position of this vertex's x in *outCoords
    bool matched = false;                     // scratch mark of the pose fit
};

using CandidePointPtr = std::shared_ptr<CandidePoint>;

}  // namespace kvo
