#include "candide/LevenbergMarquardt.h"

#include <cmath>

namespace kvo {

namespace {
const int kParams = 6;
// ln(10): the damping is formed as e^(lambdaExp * ln 10).
const double kLn10 = 2.302585092994046;
const double kDoubleEpsilon = 2.220446049250313e-16;
}  // namespace

LevenbergMarquardt::LevenbergMarquardt()
    : state(STATE_STARTED),
      iterations(0),
      calcError(false),
      calcJacobian(false),
      maxIterations(30),
      tolerance(4.930380657631324e-32),
      numParams(kParams),
      numParams2(kParams * kParams),
      prevParams(kParams, 0.0),
      params(kParams, 0.0),
      jtj(kParams * kParams, 0.0),
      damped(kParams * kParams, 0.0),
      gradient(kParams, 0.0),
      error(0.0),
      prevError(1.79769313486231e+308),
      lambdaExp(-3) {}

void LevenbergMarquardt::step() {
    const int n = numParams;
    const double lambda = std::exp(lambdaExp * kLn10);

    // Only the upper triangle is authoritative; mirror it.
    for (int i = 1; i < n; ++i)
        for (int j = 0; j < i; ++j) jtj[i * n + j] = jtj[j * n + i];

    for (int k = 0; k < numParams2; ++k) damped[k] = jtj[k];
    for (int i = 0; i < n; ++i) damped[i * n + i] += lambda;

    // The SVD works on the transpose; a non-empty Vt asks for the full decomposition,
    // so its storage is zeroed rather than emptied.
    std::vector<double>* work[] = {&svd.singularValues, &svd.matV, &svd.matU,
                                   &svd.runW, &svd.runVt, &svd.runAt};
    for (std::vector<double>* v : work)
        for (double& x : *v) x = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) svd.runAt[i * n + j] = damped[j * n + i];
    svd.run(svd.runAt, svd.runW, svd.runVt, n, n, n, n, n);
    for (int i = 0; i < n; ++i) svd.singularValues[i] = svd.runW[i];
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            svd.matU[i * n + j] = svd.runAt[j * n + i];
            svd.matV[i * n + j] = svd.runVt[j * n + i];
        }
    }

    // Pseudo-inverse solve: delta = V * diag(1/w) * U^T * gradient over w above the cut-off.
    const std::vector<double>& w = svd.singularValues;
    const double cutoff = kDoubleEpsilon * w[0] * n;
    for (int j = 0; j < n; ++j) {
        double delta = 0.0;
        for (int k = 0; k < n; ++k) {
            if (!(w[k] > cutoff)) continue;
            double uTg = 0.0;
            for (int l = 0; l < n; ++l) uTg += svd.matU[l * n + k] * gradient[l];
            delta += uTg * svd.matV[j * n + k] / w[k];
        }
        params[j] = prevParams[j] + delta;
    }
}

}  // namespace kvo
