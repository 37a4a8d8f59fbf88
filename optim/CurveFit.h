// A small damped Gauss-Newton (Levenberg-Marquardt) least-squares solver for
// problems of a handful of parameters, such as one measured tire curve and
// the few shape parameters of a Magic Formula curve through it.
//
// The Jacobian is taken by forward differences with a step of
// sqrt(machine epsilon) relative to each parameter, and the damped normal
// equations are solved with a Cholesky factorisation (Eigen).  Steps are
// accepted only when they lower the sum of squares; the damping grows by 10
// after a rejected step and shrinks by 3 after an accepted one (Nielsen's
// strategy, simplified; K. Madsen, H. B. Nielsen, O. Tingleff, "Methods for
// non-linear least squares problems", 2004).  A residual function that
// returns a non-finite value, or throws, marks that point as unacceptable.
#pragma once

#include <functional>
#include <vector>

namespace morvex {

// Fills `residuals[0 .. m)` for the parameters `x[0 .. n)`.
using TCurveResiduals = std::function<void(const double* x, double* residuals)>;

struct TCurveFitOptions {
  int max_iterations = 200;
  double relative_tolerance = 1e-12;  // stop when a step lowers the cost by less than this share
  double initial_damping = 1e-3;      // relative to the largest diagonal element of J'J
};

struct TCurveFitResult {
  std::vector<double> x;  // the best parameters found
  double cost = 0;        // their sum of squared residuals (infinite if the start was unusable)
  int iterations = 0;
};

// Minimises the sum of squares of `m` residuals over `x0.size()` parameters.
// `fixed[k]` true holds parameter k at its start value (an empty vector frees
// all).  Never throws on account of the residual function.
TCurveFitResult FitCurve(const TCurveResiduals& residuals, size_t m, std::vector<double> x0,
                         const std::vector<bool>& fixed = {}, const TCurveFitOptions& options = {});

}  // namespace morvex
