#pragma once
// Reading the MUCT 68-point shapes (CSV: name, tag, x00, y00, ..., x67, y67; image
// pixels, y down; (0, 0) marks a missing point).
//
// Thread safety: pure functions.
#include <string>
#include <vector>

namespace kvo {
namespace trainer {

// One shape as 2n doubles (x0, y0, x1, y1, ...).
using ShapeVec = std::vector<double>;

// Reads the complete shapes (no missing point) of the CSV at `path`, in file order,
// converted to the search's orientation: x right, y up (y negated). At most `limit`
// shapes when limit > 0. Returns an empty vector (and reports) when the file cannot be
// read or holds no complete 68-point shape.
std::vector<ShapeVec> readMuctShapes(const std::string& path, int limit);

}  // namespace trainer
}  // namespace kvo
