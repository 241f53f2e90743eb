#include "math/ShapeMat.h"

#include <cmath>
#include <limits>

#include "util/StringUtils.h"
#include "util/Trace.h"

namespace kvo {

namespace {

// |largest - smallest| of column col; 0 for a shape without rows.
double columnExtent(const NumberMat& m, int col) {
    if (m.rows == 0) return 0.0;
    if (col >= m.cols) {
        Err("ShapeMat: a shape needs an x and a y column (has " + to_string(m.cols) + ").");
        return 0.0;
    }
    double largest = -std::numeric_limits<double>::max();
    for (int i = 0; i < m.rows; ++i) {
        if (m.data[i][col] > largest) largest = m.data[i][col];
    }
    return std::fabs(largest - m.colMinElem(col));
}

}  // namespace

ShapeMat::ShapeMat() : NumberMat(0, 0, false) {}

ShapeMat::~ShapeMat() {}

double ShapeMat::shapeWidth() const { return columnExtent(*this, 0); }

double ShapeMat::shapeHeight() const { return columnExtent(*this, 1); }

std::string ShapeMat::toString(bool verbose) const {
    std::string out = "(ShapeMat " + to_string(rows) + ", " + to_string(cols);
    if (verbose) {
        return out + " [" + rowsText("") + "]\n";
    }
    const double width = shapeWidth();
    const double height = shapeHeight();
    const double centreX = colMinElem(0) + 0.5 * width;
    const double centreY = colMinElem(1) + 0.5 * height;
    out += ", " + to_string(centreX) + ", " + to_string(centreY) + ", " + to_string(width) + ", " +
           to_string(height) + ")";
    return out;
}

}  // namespace kvo
