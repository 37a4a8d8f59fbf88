#include "optim/Identifiability.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>

namespace morvex {

namespace {

// A column no longer than this fraction of the data scale counts as zero.
constexpr double kNegligibleColumn = 1e-12;

}  // namespace

TIdentifiability AnalyseJacobian(const std::vector<double>& jacobian, size_t points,
                                 size_t columns, double ssr, double data_scale) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TIdentifiability result;
  result.coefficients.resize(columns);
  const bool has_dof = points > columns;
  result.residual_variance = has_dof ? ssr / static_cast<double>(points - columns) : nan;
  if (columns == 0) return result;

  using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  const Eigen::Map<const Matrix> j(jacobian.data(), static_cast<Eigen::Index>(points),
                                   static_cast<Eigen::Index>(columns));
  if (!j.allFinite()) {
    for (TCoefficientIdentity& c : result.coefficients) {
      c.determined = false;
      c.standard_error = nan;
    }
    return result;
  }

  // The columns that carry information, scaled to unit length.
  const double zero_column = kNegligibleColumn * std::max(data_scale, 1e-300);
  std::vector<Eigen::Index> kept;
  Eigen::VectorXd norms(static_cast<Eigen::Index>(columns));
  for (size_t k = 0; k < columns; ++k) {
    const auto col = static_cast<Eigen::Index>(k);
    norms(col) = j.col(col).norm();
    if (norms(col) <= zero_column) {
      result.coefficients[k].determined = false;
      result.coefficients[k].no_effect = true;
      result.coefficients[k].standard_error = nan;
    } else {
      kept.push_back(col);
    }
  }
  if (kept.empty()) return result;

  const auto n = static_cast<Eigen::Index>(kept.size());
  Eigen::MatrixXd scaled(static_cast<Eigen::Index>(points), n);
  for (Eigen::Index k = 0; k < n; ++k) scaled.col(k) = j.col(kept[k]) / norms(kept[k]);

  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinV);
  const Eigen::VectorXd& s = svd.singularValues();
  const Eigen::MatrixXd& v = svd.matrixV();
  const double cutoff = kRankTolerance * s(0);
  Eigen::Index rank = 0;
  while (rank < s.size() && s(rank) > cutoff) ++rank;
  result.rank = static_cast<size_t>(rank);

  // Coefficients with a large share of a null direction are not
  // determined; the others of the same direction are their partners.
  for (Eigen::Index d = rank; d < n; ++d) {
    std::vector<Eigen::Index> involved;
    for (Eigen::Index k = 0; k < n; ++k)
      if (std::fabs(v(k, d)) > kNullShare) involved.push_back(k);
    for (Eigen::Index k : involved) {
      TCoefficientIdentity& c = result.coefficients[static_cast<size_t>(kept[k])];
      c.determined = false;
      c.standard_error = nan;
      for (Eigen::Index other : involved) {
        const auto partner = static_cast<size_t>(kept[other]);
        if (other != k && std::find(c.partners.begin(), c.partners.end(), partner) == c.partners.end())
          c.partners.push_back(partner);
      }
    }
  }
  for (TCoefficientIdentity& c : result.coefficients) std::sort(c.partners.begin(), c.partners.end());

  // Covariance on the determined subspace, in the scaled coefficients:
  // V_r diag(1/s^2) V_r^T.
  for (Eigen::Index k = 0; k < n; ++k) {
    TCoefficientIdentity& c = result.coefficients[static_cast<size_t>(kept[k])];
    if (!c.determined) continue;
    if (!has_dof) {
      c.standard_error = nan;
      continue;
    }
    double variance = 0;
    for (Eigen::Index d = 0; d < rank; ++d) variance += (v(k, d) * v(k, d)) / (s(d) * s(d));
    c.standard_error = std::sqrt(variance * result.residual_variance) / norms(kept[k]);
  }
  return result;
}

}  // namespace morvex
