#include "optim/CurveFit.h"

#include <Eigen/Dense>
#include <cmath>
#include <limits>

namespace morvex {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The sum of squares at `x`, or infinity when the residuals cannot be formed.
double SumOfSquares(const TCurveResiduals& residuals, const std::vector<double>& x,
                    Eigen::VectorXd& r) {
  try {
    residuals(x.data(), r.data());
  } catch (...) {
    return kInfinity;
  }
  if (!r.allFinite()) return kInfinity;
  const double s = r.squaredNorm();
  return std::isfinite(s) ? s : kInfinity;
}

}  // namespace

TCurveFitResult FitCurve(const TCurveResiduals& residuals, size_t m, std::vector<double> x0,
                         const std::vector<bool>& fixed, const TCurveFitOptions& options) {
  const size_t n = x0.size();
  TCurveFitResult result;
  result.x = x0;
  Eigen::VectorXd r(static_cast<Eigen::Index>(m));
  result.cost = SumOfSquares(residuals, result.x, r);
  if (!std::isfinite(result.cost) || n == 0 || m == 0) return result;

  std::vector<size_t> free;
  for (size_t k = 0; k < n; ++k)
    if (fixed.empty() || !fixed[k]) free.push_back(k);
  const Eigen::Index p = static_cast<Eigen::Index>(free.size());
  if (p == 0) return result;

  Eigen::MatrixXd jacobian(static_cast<Eigen::Index>(m), p);
  Eigen::VectorXd r_step(static_cast<Eigen::Index>(m));
  const double root_eps = std::sqrt(std::numeric_limits<double>::epsilon());
  double damping = -1;

  for (int iteration = 0; iteration < options.max_iterations; ++iteration) {
    result.iterations = iteration + 1;
    // Forward-difference Jacobian of the residuals.
    bool usable = true;
    for (Eigen::Index c = 0; c < p && usable; ++c) {
      std::vector<double> x = result.x;
      const size_t k = free[static_cast<size_t>(c)];
      const double h = root_eps * std::max(std::fabs(x[k]), 1e-3);
      x[k] += h;
      if (!std::isfinite(SumOfSquares(residuals, x, r_step))) {
        x[k] = result.x[k] - h;
        if (!std::isfinite(SumOfSquares(residuals, x, r_step))) usable = false;
        jacobian.col(c) = (r - r_step) / h;  // backward difference
      } else {
        jacobian.col(c) = (r_step - r) / h;
      }
    }
    if (!usable || !jacobian.allFinite()) break;

    const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
    const Eigen::VectorXd gradient = jacobian.transpose() * r;
    if (damping < 0) damping = options.initial_damping * std::max(normal.diagonal().maxCoeff(), 1e-300);

    bool accepted = false;
    for (int attempt = 0; attempt < 30 && !accepted; ++attempt) {
      Eigen::MatrixXd damped = normal;
      for (Eigen::Index d = 0; d < p; ++d) damped(d, d) += damping * std::max(normal(d, d), 1e-300);
      const Eigen::VectorXd step = damped.ldlt().solve(-gradient);
      if (!step.allFinite()) {
        damping *= 10;
        continue;
      }
      std::vector<double> trial = result.x;
      for (Eigen::Index c = 0; c < p; ++c) trial[free[static_cast<size_t>(c)]] += step(c);
      const double cost = SumOfSquares(residuals, trial, r_step);
      if (cost < result.cost) {
        const double gain = (result.cost - cost) / std::max(result.cost, 1e-300);
        result.x = trial;
        result.cost = cost;
        r = r_step;
        damping = std::max(damping / 3, 1e-15);
        accepted = true;
        if (gain < options.relative_tolerance) return result;
      } else {
        damping *= 10;
      }
    }
    if (!accepted) break;
  }
  return result;
}

}  // namespace morvex
