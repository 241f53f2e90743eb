// The pose fit of the Candide model: the squared-error function of the six pose
// parameters, its forward-difference derivatives, and the Levenberg-Marquardt state
// machine that drives LevenbergMarquardt::step.
#include <cmath>

#include "candide/CandideModel.h"

namespace kvo {

namespace {
const double kDerivativeStep = 1e-5;
const double kInitialPrevError = 1.79769313486231e+308;
const double kFitTolerance = 1e-28;
const int kInitialLambdaExp = -3;
}  // namespace

double CandideModel::poseError(const std::vector<CandidePointPtr>& pts, const double* p) {
    const double s = p[0], tx = p[1], ty = p[2];
    const double cx = std::cos(p[3]), sx = std::sin(p[3]);
    const double cy = std::cos(p[4]), sy = std::sin(p[4]);
    const double cz = std::cos(p[5]), sz = std::sin(p[5]);
    const double r00 = cy * cz, r01 = -cy * sz, r02 = sy;
    const double r10 = sx * sy * cz + cx * sz, r11 = cx * cz - sx * sy * sz, r12 = -sx * cy;
    double e = 0.0;
    for (const CandidePointPtr& vp : pts) {
        const CandidePoint& v = *vp;
        const double X = v.transformed[0], Y = v.transformed[1], Z = v.transformed[2];
        // The target x counts in whole pixels, truncated toward zero; y is used as it is.
        // The truncation moves each x target left by its fraction of a pixel (half a
        // pixel on average), which the x translation mostly absorbs, so rotations and
        // scale see only the sub-pixel spread. Both are kept as they are because every
        // pose and action-unit weight the tracker reports, and the pose check that drops
        // a lost face, come from this fit: rounding x or truncating y would move them all.
        const double px = std::trunc(v.point->x);
        const double py = v.point->y;
        const double xp = s * (r00 * X + r01 * Y + r02 * Z);
        const double yp = s * (r10 * X + r11 * Y + r12 * Z);
        const double ex = px - (xp + tx);
        const double ey = py - (yp + ty);
        e += ex * ex + ey * ey;
    }
    return e;
}

void CandideModel::poseDerivatives(const std::vector<CandidePointPtr>& pts, double e) {
    const int n = lm.numParams;
    double probe[6];
    double d[6];
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < n; ++k) probe[k] = lm.params[k];
        probe[i] += kDerivativeStep;
        d[i] = (poseError(pts, probe) - e) / kDerivativeStep;
    }
    // One residual (the error itself): J = d, J^T J = d d^T, right-hand side -d * e.
    for (int i = 0; i < n; ++i) {
        lm.gradient[i] = -d[i] * e;
        for (int k = 0; k < n; ++k) lm.jtj[i * n + k] = d[i] * d[k];
    }
}

void CandideModel::calculateTransformMatrix(std::vector<CandidePointPtr>& pts,
                                            std::vector<double>& pose, int maxIterations) {
    const int n = lm.numParams;
    lm.prevError = kInitialPrevError;
    lm.lambdaExp = kInitialLambdaExp;
    lm.tolerance = kFitTolerance;
    lm.state = LevenbergMarquardt::STATE_STARTED;
    lm.iterations = 0;
    lm.maxIterations = maxIterations;
    for (int k = 0; k < n; ++k) lm.params[k] = pose[k];

    for (;;) {
        lm.calcError = false;
        lm.calcJacobian = false;
        bool done = false;
        switch (lm.state) {
            case LevenbergMarquardt::STATE_DONE:
                done = true;
                break;
            case LevenbergMarquardt::STATE_STARTED:
                for (double& v : lm.jtj) v = 0.0;
                for (double& v : lm.gradient) v = 0.0;
                for (double& v : lm.prevParams) v = 0.0;
                lm.error = 0.0;
                lm.calcError = true;
                lm.calcJacobian = true;
                lm.state = LevenbergMarquardt::STATE_CALC_J;
                break;
            case LevenbergMarquardt::STATE_CALC_J:
                for (int k = 0; k < n; ++k) lm.prevParams[k] = lm.params[k];
                lm.step();
                lm.prevError = lm.error;
                lm.calcError = true;
                lm.error = 0.0;
                lm.state = LevenbergMarquardt::STATE_CHECK_ERR;
                break;
            case LevenbergMarquardt::STATE_CHECK_ERR:
                if (lm.error > lm.prevError) {
                    // Rejected: damp harder and retry from the same parameters.
                    lm.lambdaExp += 1;
                    lm.step();
                    lm.calcError = true;
                    lm.error = 0.0;
                    break;
                }
                lm.iterations += 1;
                if (lm.iterations >= lm.maxIterations) {
                    done = true;
                    break;
                }
                lm.lambdaExp -= 1;
                {
                    double change = 0.0, norm = 0.0;
                    for (int k = 0; k < n; ++k) {
                        const double dk = lm.params[k] - lm.prevParams[k];
                        change += dk * dk;
                        norm += lm.prevParams[k] * lm.prevParams[k];
                    }
                    if (change / norm < lm.tolerance) {
                        done = true;
                        break;
                    }
                }
                lm.prevError = lm.error;
                for (double& v : lm.jtj) v = 0.0;
                for (double& v : lm.gradient) v = 0.0;
                lm.calcJacobian = true;
                lm.state = LevenbergMarquardt::STATE_CALC_J;
                break;
            default:
                done = true;
                break;
        }
        if (done) {
            lm.state = LevenbergMarquardt::STATE_DONE;
            for (int k = 0; k < n; ++k) pose[k] = lm.params[k];
            return;
        }
        const double e = poseError(pts, lm.params.data());
        if (lm.calcJacobian) poseDerivatives(pts, e);
        if (lm.calcError) lm.error = e;
    }
}

}  // namespace kvo
