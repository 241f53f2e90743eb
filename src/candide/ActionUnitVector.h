#pragma once
// A Candide-3 action unit or shape unit: a weighted displacement of some vertices.
//
// What it represents: the vertices a unit moves, the displacement of each in model
// units (file dy negated, like the vertices), and the unit's current weight. A vertex
// moves by `value` x its displacement.
//
// Thread safety: a plain record shared (by shared_ptr) between the model and the
// fitting code of one tracker; not synchronised.
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace kvo {

struct ActionUnitVector {
    std::string name;                             // the section header, e.g. "# AUV9"
    std::vector<int> vertexIndices;               // vertex numbers, counting from 0
    std::vector<std::array<double, 3>> displacements;  // (dx, -dy, dz) per entry
    double value = 0.0;                           // the unit's weight
};

using ActionUnitVectorPtr = std::shared_ptr<ActionUnitVector>;

}  // namespace kvo
