// The shape search's model constraint: the similarity alignment of two shapes and the
// projection of a suggested shape onto the statistical shape model.
#include <algorithm>
#include <cmath>

#include "asm/ASMSearch.h"

namespace kvo {

namespace {

bool isAbsent(const std::vector<double>& point) { return point[0] == 0.0 && point[1] == 0.0; }

void setIdentity(NumberMat& m) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) m.data[i][j] = (i == j) ? 1.0 : 0.0;
    }
}

}  // namespace

void ASMSearch::transformShape(ShapeMat& s, const NumberMat& m) {
    for (int i = 0; i < s.rows; ++i) {
        std::vector<double>& row = s.data[i];
        if (isAbsent(row)) continue;
        const double x = row[0];
        const double y = row[1];
        row[0] = m.data[0][0] * x + m.data[0][1] * y + m.data[0][2];
        row[1] = m.data[1][0] * x + m.data[1][1] * y + m.data[1][2];
    }
}

NumberMat& ASMSearch::AlignShape(ShapeMat& src, const ShapeMat& target) {
    lastAlignmentDegenerate = true;
    setIdentity(alignTransform);

    // Sums over the landmarks present in both shapes, last to first.
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxp = 0.0, syp = 0.0, c1 = 0.0, c2 = 0.0;
    int count = 0;
    for (int i = std::min(src.rows, target.rows) - 1; i >= 0; --i) {
        const std::vector<double>& p = src.data[i];
        const std::vector<double>& t = target.data[i];
        if (isAbsent(p) || isAbsent(t)) continue;
        const double x = p[0], y = p[1], xp = t[0], yp = t[1];
        sx += x;
        sy += y;
        sxx += x * x + y * y;
        sxp += xp;
        syp += yp;
        c1 += x * xp + y * yp;
        c2 += x * yp - y * xp;
        ++count;
    }
    // With fewer than two distinct points the similarity is undetermined: N * Sxx minus
    // the squared sums is N times the spread of the points around their mean.
    const double n = count;
    const double spread = n * sxx - sx * sx - sy * sy;
    if (count < 2 || !(spread > 1e-12 * n * sxx)) return alignTransform;

    double* r0 = alignSystem.data[0].data();
    double* r1 = alignSystem.data[1].data();
    double* r2 = alignSystem.data[2].data();
    double* r3 = alignSystem.data[3].data();
    r0[0] = sx;  r0[1] = -sy; r0[2] = n;   r0[3] = 0.0;
    r1[0] = sy;  r1[1] = sx;  r1[2] = 0.0; r1[3] = n;
    r2[0] = sxx; r2[1] = 0.0; r2[2] = sx;  r2[3] = sy;
    r3[0] = 0.0; r3[1] = sxx; r3[2] = -sy; r3[3] = sx;
    alignRhs[0] = sxp;
    alignRhs[1] = syp;
    alignRhs[2] = c1;
    alignRhs[3] = c2;

    NumberMat::_pLU.copyFrom(alignSystem);
    for (int i = 0; i < 4; ++i) NumberMat::_permVec[i] = i;
    NumberMat::gsl_linalg_LU_decomp(NumberMat::_pLU, NumberMat::_permVec);
    NumberMat::gsl_linalg_LU_solve(NumberMat::_pLU, NumberMat::_permVec, alignRhs);

    const double a = alignRhs[0], bb = alignRhs[1], tx = alignRhs[2], ty = alignRhs[3];
    if (!std::isfinite(a) || !std::isfinite(bb) || !std::isfinite(tx) || !std::isfinite(ty) ||
        (a == 0.0 && bb == 0.0)) {
        return alignTransform;  // e.g. all target points equal: no invertible similarity
    }
    alignTransform.data[0][0] = a;
    alignTransform.data[0][1] = -bb;
    alignTransform.data[0][2] = tx;
    alignTransform.data[1][0] = bb;
    alignTransform.data[1][1] = a;
    alignTransform.data[1][2] = ty;
    lastAlignmentDegenerate = false;
    transformShape(src, alignTransform);
    return alignTransform;
}

ShapeMat& ASMSearch::ConformShapeToModel(NumberMat& params, ShapeMat& suggested,
                                         ASMLevel& level, NumberMat& eigVecs,
                                         NumberMat& eigVecsT, bool final) {
    meanCol.viewAsCol(level.meanShape);
    const int nE = final ? level.nEigsFinal : level.nEigs;
    const double bMax = final ? level.BMaxFinal : level.BMax;
    const int nUsed = static_cast<int>(nE * eigFraction);

    // The model shape for the current parameters, aligned to the suggestion.
    // Phi * b, formed from Phi's transpose (the model keeps both): the same sums, faster.
    NumberMat::multiplyByTransposed(eigVecsT, params, bTmp);
    NumberMat::addMats(meanCol, bTmp, workCol);
    modelShape.fillWithRowVec(workCol);
    NumberMat& t = AlignShape(modelShape, suggested);
    if (lastAlignmentDegenerate) {
        conformedShape.copyFrom(shape);
        return conformedShape;
    }

    // The suggestion in the model frame, and its model parameters.
    NumberMat::invertMat(t, alignInverse);
    transformShape(suggested, alignInverse);
    workCol.viewAsCol(suggested);
    for (int i = 0; i < workCol.rows; ++i) workCol.data[i][0] -= meanCol.data[i][0];
    NumberMat::multiplyByTransposed(eigVecs, workCol, bTmp);
    params.copyFrom(bTmp);

    // Keep the first nUsed parameters within bMax standard deviations, drop the rest.
    const int nVals = std::min(level.eigVals.rows, params.rows);
    const int limited = std::min(std::max(nUsed, 0), nVals);
    for (int i = 0; i < limited; ++i) {
        const double limit = std::sqrt(std::max(0.0, level.eigVals.data[i][0])) * bMax;
        double& v = params.data[i][0];
        if (v > limit) {
            v = limit;
        } else if (v < -limit) {
            v = -limit;
        }
    }
    for (int i = limited; i < nVals; ++i) params.data[i][0] = 0.0;

    NumberMat::multiplyByTransposed(eigVecsT, params, workCol);
    conformedShape.fillWithRowVec(workCol);
    NumberMat::addMats(conformedShape, level.meanShape, conformedShape);
    transformShape(conformedShape, t);
    return conformedShape;
}

}  // namespace kvo
