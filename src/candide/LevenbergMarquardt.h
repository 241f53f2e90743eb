#pragma once
// State of the six-parameter Levenberg-Marquardt pose solver of the Candide fit.
//
// What it represents: the parameters (scale, x translation, y translation, rotation
// about x, y and z in radians), the normal matrix and right-hand side of the current
// step, the damping exponent and the state of the fit. The fit itself (error,
// derivatives and the state machine) is driven by CandideModel::calculateTransformMatrix,
// which treats the total squared 2-D error as one residual; this class performs the
// damped step.
//
// Every vector is sized at construction; `step` allocates nothing.
//
// Thread safety: not synchronised; one solver belongs to one CandideModel and runs on
// the tracker's calling thread.
#include <cstdint>
#include <vector>

#include "math/JacobiSVD.h"

namespace kvo {

class LevenbergMarquardt {
public:
    static constexpr int STATE_STARTED = 0;
    static constexpr int STATE_DONE = 1;
    static constexpr int STATE_CALC_J = 2;
    static constexpr int STATE_CHECK_ERR = 3;

    LevenbergMarquardt();

    // Requires: `jtj` holds at least its upper triangle, `gradient` and `prevParams` are
    // set, `lambdaExp` is the damping exponent of this step.
    // Ensures: `params` = `prevParams` + delta, where delta solves
    // (jtj + 10^lambdaExp * I) delta = gradient through the SVD pseudo-inverse (singular
    // values at or below 2.220446049250313e-16 * largest * n are dropped); `jtj` is
    // symmetric afterwards; `damped` and `svd` hold the decomposed matrix.
    void step();

    int32_t state;
    int32_t iterations;
    bool calcError;
    bool calcJacobian;
    int32_t maxIterations;
    double tolerance;
    int32_t numParams;
    int32_t numParams2;
    JacobiSVD svd;
    std::vector<double> prevParams;
    std::vector<double> params;
    std::vector<double> jtj;       // row-major numParams x numParams
    std::vector<double> damped;    // jtj + lambda * I
    std::vector<double> gradient;
    double error;
    double prevError;
    int32_t lambdaExp;             // lambda = 10^lambdaExp
};

}  // namespace kvo
