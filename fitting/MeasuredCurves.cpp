#include "fitting/MeasuredCurves.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace morvex {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

std::vector<TMeasuredCurve> MeasuredCurves(const TTireDataSet& data, bool angles, size_t min_points) {
  std::vector<TMeasuredCurve> curves;
  for (size_t c = 0; c < data.Cases.size(); ++c) {
    const TLoadCase& lc = data.Cases[c];
    if (lc.Values.size() != lc.RowCount() * lc.LoadCount() || !std::isfinite(lc.Camber)) continue;
    for (size_t j = 0; j < lc.LoadCount(); ++j) {
      TMeasuredCurve curve;
      curve.camber = lc.Camber;
      curve.gamma = lc.Camber * kPi / 180.0;
      curve.fz = lc.Loads[j];
      curve.case_number = static_cast<int>(c) + 1;
      if (!std::isfinite(curve.fz) || curve.fz == 0.0) continue;
      for (size_t r = 0; r < lc.RowCount(); ++r) {
        const double slip = lc.Slips[r];
        const double value = lc.Value(r, j);
        if (!std::isfinite(slip) || !std::isfinite(value)) continue;
        curve.slip.push_back(slip);
        curve.x.push_back(angles ? slip * kPi / 180.0 : slip);
        curve.y.push_back(value);
      }
      if (curve.x.size() >= min_points) curves.push_back(std::move(curve));
    }
  }
  return curves;
}

double DataScale(const TTireDataSet& data) {
  long double sum = 0;
  size_t n = 0;
  for (const TLoadCase& lc : data.Cases)
    for (double value : lc.Values) {
      sum += static_cast<long double>(value) * value;
      ++n;
    }
  return n ? static_cast<double>(std::sqrt(sum / n)) : 0.0;
}

double Median(std::vector<double> values) {
  values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
               values.end());
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

double MaxAbs(const std::vector<double>& values) {
  double m = 0;
  for (double v : values) m = std::max(m, std::fabs(v));
  return m;
}

std::vector<double> Regress(const std::vector<std::vector<double>>& columns,
                            const std::vector<double>& y) {
  std::vector<double> beta(columns.size(), 0.0);
  const Eigen::Index m = static_cast<Eigen::Index>(y.size());
  if (m == 0) return beta;
  std::vector<size_t> kept;
  Eigen::MatrixXd a(m, 0);
  for (size_t k = 0; k < columns.size(); ++k) {
    if (columns[k].size() != y.size()) continue;
    Eigen::MatrixXd trial(m, a.cols() + 1);
    trial.leftCols(a.cols()) = a;
    for (Eigen::Index i = 0; i < m; ++i) trial(i, a.cols()) = columns[k][static_cast<size_t>(i)];
    if (!trial.allFinite()) continue;
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(trial);
    qr.setThreshold(1e-9);
    if (qr.rank() == trial.cols()) {
      a = trial;
      kept.push_back(k);
    }
  }
  if (kept.empty()) return beta;
  Eigen::VectorXd b(m);
  for (Eigen::Index i = 0; i < m; ++i) b(i) = y[static_cast<size_t>(i)];
  if (!b.allFinite()) return beta;
  const Eigen::VectorXd solution = a.colPivHouseholderQr().solve(b);
  for (size_t k = 0; k < kept.size(); ++k)
    if (std::isfinite(solution(static_cast<Eigen::Index>(k))))
      beta[kept[k]] = solution(static_cast<Eigen::Index>(k));
  return beta;
}

void CentreLine(const TMeasuredCurve& curve, double& slope, double& offset) {
  std::vector<size_t> order(curve.x.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [&curve](size_t a, size_t b) { return std::fabs(curve.x[a]) < std::fabs(curve.x[b]); });
  const size_t k = std::max<size_t>(3, order.size() / 6);
  std::vector<double> ones, xs, ys;
  for (size_t i = 0; i < k && i < order.size(); ++i) {
    ones.push_back(1.0);
    xs.push_back(curve.x[order[i]]);
    ys.push_back(curve.y[order[i]]);
  }
  const std::vector<double> beta = Regress({ones, xs}, ys);
  offset = beta[0];
  slope = beta[1];
}

double MeasurementScatter(const std::vector<TMeasuredCurve>& curves) {
  // A point off the line through its neighbours by e: for independent
  // errors of deviation s, e has the deviation s sqrt(1 + w1^2 + w2^2), w1
  // and w2 the interpolation weights of the neighbours.
  std::vector<double> scaled;
  for (const TMeasuredCurve& curve : curves) {
    std::vector<size_t> order(curve.x.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&curve](size_t a, size_t b) { return curve.x[a] < curve.x[b]; });
    for (size_t k = 1; k + 1 < order.size(); ++k) {
      const double x0 = curve.x[order[k - 1]], x1 = curve.x[order[k]], x2 = curve.x[order[k + 1]];
      const double h = x2 - x0;
      if (!(h > 0) || x1 <= x0 || x1 >= x2) continue;
      const double w0 = (x2 - x1) / h, w2 = (x1 - x0) / h;
      const double e = curve.y[order[k]] - (w0 * curve.y[order[k - 1]] + w2 * curve.y[order[k + 1]]);
      scaled.push_back(std::fabs(e) / std::sqrt(1.0 + w0 * w0 + w2 * w2));
    }
  }
  // The median of |e| of a normal variable is 0.6745 of its deviation.
  return scaled.empty() ? std::numeric_limits<double>::quiet_NaN() : Median(scaled) / 0.6744897501960817;
}

}  // namespace morvex
