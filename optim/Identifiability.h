// What the data say about each coefficient of a least-squares fit, from the
// Jacobian of the residuals at the solution.
//
// The columns are first scaled to unit length, so that coefficients of very
// different sizes (a rated load of thousands of newtons beside a shift of a
// few thousandths) weigh alike, then decomposed with a singular value
// decomposition, which reveals the rank:
//   - a column that is zero, or negligible against the measured values, is a
//     coefficient the model does not depend on at these data points;
//   - a singular value below kRankTolerance times the largest one is a
//     direction of the coefficients that leaves the model unchanged; every
//     coefficient with a large share of such a direction is not determined,
//     and the others of that direction are named as its partners;
//   - the covariance of the remaining coefficients is the pseudo-inverse of
//     the scaled normal matrix on the determined subspace, unscaled again
//     and multiplied by the residual variance SSR / (points - free
//     coefficients); the standard error is the square root of its diagonal.
//
// A solver's own covariance cannot be used here: it either refuses a
// rank-deficient Jacobian or reports near-zero errors for the coefficients
// the data leave free.
#pragma once

#include <cstddef>
#include <vector>

namespace morvex {

// Singular values below this fraction of the largest span the null space.
inline constexpr double kRankTolerance = 1e-9;
// A direction's component above this share (of a unit vector) marks a
// coefficient as not determined.
inline constexpr double kNullShare = 0.1;

struct TCoefficientIdentity {
  bool determined = true;
  double standard_error = 0;   // NaN when not determined or no degrees of freedom remain
  bool no_effect = false;      // its column is zero: the model ignores it at these data
  std::vector<size_t> partners;  // coefficients it cannot be told apart from
};

struct TIdentifiability {
  std::vector<TCoefficientIdentity> coefficients;  // one per column
  size_t rank = 0;
  double residual_variance = 0;  // SSR / (points - coefficients), NaN without degrees of freedom
};

// `jacobian` holds `points` rows of `columns` derivatives of the residuals
// (row-major); `ssr` is the sum of squared residuals at the solution and
// `data_scale` a typical size of the measured values (their RMS), against
// which a column counts as negligible.
TIdentifiability AnalyseJacobian(const std::vector<double>& jacobian, size_t points,
                                 size_t columns, double ssr, double data_scale);

}  // namespace morvex
