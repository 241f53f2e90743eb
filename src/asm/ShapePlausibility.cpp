#include "asm/ShapePlausibility.h"

#include <cmath>
#include <vector>

namespace kvo {

ShapeChecks checkShape(const ShapeMat& g, const ShapeLimits& limits) {
    ShapeChecks c;
    const double w = g.shapeWidth();
    const double h = g.shapeHeight();
    const double minX = g.colMinElem(0);
    const double minY = g.colMinElem(1);

    c.size = w < limits.minFaceSize || h < limits.minFaceSize || w > limits.maxFaceSize || h > limits.maxFaceSize;
    c.region = !limits.validRegion.contains(minX + 0.5 * w, minY + 0.5 * h);
    if (!limits.strict) return c;
    if (g.rows <= 66) {  // the layout checks need landmarks 31, 36 and 66
        c.fewPoints = true;
        return c;
    }
    const std::vector<double>& p66 = g.data[66];
    const std::vector<double>& p31 = g.data[31];
    const std::vector<double>& p36 = g.data[36];
    c.mouth = !Rectangle(minX + 0.125 * w, minY + 0.45 * h, 0.75 * w, 0.35 * h).contains(p66[0], p66[1]);
    c.leftPupil = !Rectangle(minX, minY, 0.55 * w, 0.5 * h).contains(p31[0], p31[1]);
    c.rightPupil = !Rectangle(minX + 0.45 * w, minY, 0.55 * w, 0.5 * h).contains(p36[0], p36[1]);
    const double ratio = w / h;
    c.ratio = ratio < 0.72 || ratio > 1.35;
    const double span =
        std::sqrt((p31[0] - p36[0]) * (p31[0] - p36[0]) + (p31[1] - p36[1]) * (p31[1] - p36[1])) / w;
    c.pupilSpan = span < 0.39 || span > 0.55;
    return c;
}

}  // namespace kvo
