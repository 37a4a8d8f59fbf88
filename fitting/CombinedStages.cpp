// The second translation unit that includes the solver (TrustRegionFit.cpp
// is the first): the combined stages' residuals are instantiated here only.
#include "fitting/CombinedStages.h"
#include "tiremodel/CoefficientTable.h"


#include <ceres/ceres.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "fitting/FitVerdict.h"
#include "fitting/TrustRegionFit.h"
#include "numerics/LxBasics.h"
#include "optim/Identifiability.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Derivatives per automatic-differentiation pass, as in TrustRegionFit.
constexpr int kStride = 8;

#define MORVEX_NAME(name) #name,
constexpr std::string_view kCombinedNames[] = {MORVEX_COMBINED_COEFFICIENTS(MORVEX_NAME)};
#undef MORVEX_NAME
constexpr size_t kCombinedCount = std::size(kCombinedNames);

#define MORVEX_ADDRESS(name) &c.name,
template <class S>
auto Fields(S& c) {
  return std::array{MORVEX_COMBINED_COEFFICIENTS(MORVEX_ADDRESS)};
}
#undef MORVEX_ADDRESS

size_t CombinedIndex(std::string_view name) {
  for (size_t k = 0; k < kCombinedCount; ++k)
    if (kCombinedNames[k] == name) return k;
  return kCombinedCount;
}

// One measured point of a stage, with what the fixed pure-slip model gives
// there.
struct StagePoint {
  size_t terms = 0;     // index of the load terms of its camber and load
  double alpha = 0;     // slip angle, radians
  double kappa = 0;     // slip ratio
  double measured = 0;  // the stage's measured quantity
  double fx0 = 0, fy0 = 0;
  double force = 0;     // Mx: the combined Fy; My: the combined Fx (both fixed)
  double vx = 0;        // My: forward speed
};

// The stage's points and the pure-slip model's terms at their loads.
struct StageData {
  std::vector<mf::CombinedLoadTermsT<double>> terms;
  std::vector<StagePoint> points;
  std::vector<size_t> sample;  // index into the data set of each point
};


struct PureModel {
  TLateralCoefficients lat;
  TAligningCoefficients ali;
  TLongitudinalCoefficients lon;
  double r0 = 0;
  explicit PureModel(const TCoefficientSet& set)
      : lat(ReadLateralCoefficients(set)),
        ali(ReadAligningCoefficients(set)),
        lon(ReadLongitudinalCoefficients(set)),
        r0(set.Value("R0")) {}
};

StageData CollectPoints(TCombinedStage stage, const PureModel& pure, const TCombinedCoefficients& combined,
                        const TCombinedDataSet& data) {
  StageData d;
  std::map<std::pair<double, double>, size_t> seen;
  for (size_t i = 0; i < data.samples.size(); ++i) {
    const TCombinedSample& s = data.samples[i];
    const double value = CombinedStageValue(stage, s);
    if (!std::isfinite(value) || !(s.load > 0) || !std::isfinite(s.load) || !std::isfinite(s.camber) ||
        !std::isfinite(s.slip_angle) || !std::isfinite(s.slip_ratio))
      continue;
    if (stage == TCombinedStage::kMy && (!std::isfinite(s.speed) || s.speed == 0.0)) continue;
    const auto key = std::make_pair(s.camber, s.load);
    auto it = seen.find(key);
    if (it == seen.end()) {
      it = seen.emplace(key, d.terms.size()).first;
      d.terms.push_back(mf::CombinedLoad(pure.lat, pure.ali, pure.lon, pure.r0, mf::DegToRad(s.camber), s.load));
    }
    StagePoint p;
    p.terms = it->second;
    p.alpha = mf::DegToRad(s.slip_angle);
    p.kappa = s.slip_ratio;
    p.measured = value;
    const mf::CombinedLoadTermsT<double>& t = d.terms[p.terms];
    p.fx0 = mf::LongitudinalPoint(t.lon, p.kappa);
    p.fy0 = mf::LateralPoint(t.lat, p.alpha);
    p.vx = s.speed;
    if (stage == TCombinedStage::kMx || stage == TCombinedStage::kMy) {
      const auto q = mf::CombinedPointAt(t, combined, p.alpha, p.kappa);
      p.force = stage == TCombinedStage::kMx ? q.Fy : q.Fx;
    }
    ClearFpFaults();
    if (!std::isfinite(p.fx0) || !std::isfinite(p.fy0) || !std::isfinite(p.force)) continue;
    d.points.push_back(p);
    d.sample.push_back(i);
  }
  return d;
}

// The residuals of a stage as a function of its free coefficients.
class StageResiduals {
 public:
  StageResiduals(TCombinedStage stage, const StageData& data, const TCombinedCoefficients& fixed,
                 std::vector<size_t> free, double longvl)
      : stage_(stage), data_(data), fixed_(fixed), free_(std::move(free)), longvl_(longvl) {}

  template <class T>
  bool operator()(T const* const* parameters, T* residuals) const {
    mf::CombinedCoefficientsOf<T> cc;
    auto fields = Fields(cc);
    const auto fixed = Fields(fixed_);
    for (size_t k = 0; k < kCombinedCount; ++k) *fields[k] = T(*fixed[k]);
    for (size_t k = 0; k < free_.size(); ++k) *fields[free_[k]] = parameters[0][k];
    for (size_t i = 0; i < data_.points.size(); ++i) {
      const StagePoint& p = data_.points[i];
      const mf::CombinedLoadTermsT<double>& t = data_.terms[p.terms];
      T model = T(0.0);
      switch (stage_) {
        case TCombinedStage::kFx:
          model = mf::LongitudinalWeight(cc, t.dfz, p.alpha, p.kappa) * p.fx0;
          break;
        case TCombinedStage::kFy:
          model = mf::LateralWeight(cc, t.dfz, p.alpha, p.kappa) * p.fy0 +
                  mf::KappaInducedLateralForce(cc, t.lat.Dy, t.dfz, t.gamma, p.alpha, p.kappa);
          break;
        case TCombinedStage::kMz:
          model = mf::CombinedPointAt(t, cc, p.alpha, p.kappa).Mz;
          break;
        case TCombinedStage::kMx:
          model = mf::OverturningMoment(cc, t.r0, t.fz0, t.gamma, t.fz, p.force);
          break;
        case TCombinedStage::kMy:
          model = mf::RollingResistanceMoment(cc, t.r0, t.fz0, t.fz, p.force, p.vx, longvl_);
          break;
      }
      residuals[i] = T(p.measured) - model;
    }
    return true;
  }

  // The residuals at `x` in double; the sum of their squares, NaN for a
  // fault.
  double Cost(const std::vector<double>& x, std::vector<double>* out = nullptr) const {
    std::vector<double> r(data_.points.size());
    const double* parameters[] = {x.data()};
    (*this)(parameters, r.data());
    ClearFpFaults();
    double ssr = 0;
    for (double v : r) ssr += v * v;
    if (out) *out = std::move(r);
    return std::isfinite(ssr) ? ssr : kNaN;
  }

  const std::vector<size_t>& free() const { return free_; }

 private:
  TCombinedStage stage_;
  const StageData& data_;
  TCombinedCoefficients fixed_;
  std::vector<size_t> free_;
  double longvl_;
};

// Solves min |r0 - A c| for the columns of A by the normal equations with
// partial pivoting; false when they are singular.
bool SolveLeastSquares(const std::vector<std::vector<double>>& columns, const std::vector<double>& r,
                       std::vector<double>& c) {
  const size_t n = columns.size();
  std::vector<double> a(n * (n + 1), 0.0);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j)
      a[i * (n + 1) + j] = std::inner_product(columns[i].begin(), columns[i].end(), columns[j].begin(), 0.0);
    a[i * (n + 1) + n] = std::inner_product(columns[i].begin(), columns[i].end(), r.begin(), 0.0);
  }
  for (size_t col = 0; col < n; ++col) {
    size_t pivot = col;
    for (size_t row = col + 1; row < n; ++row)
      if (std::fabs(a[row * (n + 1) + col]) > std::fabs(a[pivot * (n + 1) + col])) pivot = row;
    if (!(std::fabs(a[pivot * (n + 1) + col]) > 1e-300)) return false;
    for (size_t k = 0; k <= n; ++k) std::swap(a[col * (n + 1) + k], a[pivot * (n + 1) + k]);
    for (size_t row = 0; row < n; ++row) {
      if (row == col) continue;
      const double f = a[row * (n + 1) + col] / a[col * (n + 1) + col];
      for (size_t k = col; k <= n; ++k) a[row * (n + 1) + k] -= f * a[col * (n + 1) + k];
    }
  }
  c.assign(n, 0.0);
  for (size_t i = 0; i < n; ++i) c[i] = a[i * (n + 1) + n] / a[i * (n + 1) + i];
  return std::all_of(c.begin(), c.end(), [](double v) { return std::isfinite(v); });
}

// Sets the coefficients at `positions` of `x` (others as they are) to the
// linear least-squares solution: the model is linear in them, so the
// residuals at 0 and at each unit value give its columns exactly.
void SolveLinearPart(const StageResiduals& f, std::vector<double>& x, const std::vector<size_t>& positions) {
  if (positions.empty()) return;
  std::vector<double> trial = x;
  for (size_t p : positions) trial[p] = 0.0;
  std::vector<double> base;
  if (!std::isfinite(f.Cost(trial, &base))) return;
  std::vector<std::vector<double>> columns;
  for (size_t p : positions) {
    std::vector<double> unit = trial, r;
    unit[p] = 1.0;
    f.Cost(unit, &r);
    std::vector<double> column(r.size());
    for (size_t i = 0; i < r.size(); ++i) column[i] = base[i] - r[i];
    columns.push_back(std::move(column));
  }
  std::vector<double> c;
  if (!SolveLeastSquares(columns, base, c)) return;
  for (size_t k = 0; k < positions.size(); ++k) trial[positions[k]] = c[k];
  if (std::isfinite(f.Cost(trial))) x = trial;
}

// ----------------------------------------------------------- what the data hold

// The number of groups of `values` that lie further apart than `gap`.
size_t Clusters(std::vector<double> values, double gap) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t count = 1;
  for (size_t i = 1; i < values.size(); ++i)
    if (values[i] - values[i - 1] > gap) ++count;
  return count;
}

struct DataSpread {
  size_t loads = 0, cambers = 0, speeds = 0;
};

DataSpread Spread(const TCombinedDataSet& data, const StageData& d) {
  std::vector<double> loads, cambers, speeds;
  double max_load = 0, max_speed = 0;
  for (size_t i : d.sample) {
    const TCombinedSample& s = data.samples[i];
    loads.push_back(s.load);
    cambers.push_back(s.camber);
    if (std::isfinite(s.speed)) speeds.push_back(std::fabs(s.speed));
    max_load = std::max(max_load, s.load);
    max_speed = std::max(max_speed, std::fabs(std::isfinite(s.speed) ? s.speed : 0.0));
  }
  DataSpread spread;
  // Loads held at one set-point wobble by a few per cent; set-points of a
  // programme lie a tenth of the highest load apart or more.
  spread.loads = Clusters(loads, 0.08 * max_load);
  spread.cambers = Clusters(cambers, 0.25);
  spread.speeds = Clusters(speeds, std::max(0.1 * max_speed, 0.5));
  return spread;
}

// The coefficients of `stage` that `spread` cannot tell, with why.
std::vector<std::pair<std::string, std::string>> HeldCoefficients(TCombinedStage stage, const DataSpread& spread) {
  std::vector<std::pair<std::string, std::string>> held;
  const bool one_load = spread.loads < 2;
  // One camber, zero or not: a camber term is then a constant beside the
  // term without camber.
  const bool one_camber = spread.cambers < 2;
  auto hold = [&held](const char* name, const char* why) { held.emplace_back(name, why); };
  switch (stage) {
    case TCombinedStage::kFx:
      if (one_load) hold("REX2", "one load");
      break;
    case TCombinedStage::kFy:
      if (one_load) {
        hold("REY2", "one load");
        hold("RHY2", "one load");
        hold("RVY2", "one load");
      }
      if (one_camber) hold("RVY3", "one camber");
      break;
    case TCombinedStage::kMz:
      if (one_camber) {
        hold("SSZ3", "one camber");
        hold("SSZ4", "one camber");
      } else if (one_load) {
        hold("SSZ4", "one load");
      }
      break;
    case TCombinedStage::kMx:
      if (one_camber) hold("QSX2", "one camber");
      break;
    case TCombinedStage::kMy:
      if (spread.speeds < 2) hold("QSY3", "one speed");
      if (spread.speeds < 3) hold("QSY4", spread.speeds < 2 ? "one speed" : "two speeds");
      break;
  }
  return held;
}

// The noise of the measurements: along each sweep (one camber, load,
// slip angle, sorted by slip ratio) the scatter of each inner point about
// the line through its neighbours.  The curvature of the curves adds to it,
// so it errs high, never low.  NaN without three points in a sweep.
double SweepScatter(const TCombinedDataSet& data, const StageData& d) {
  double max_load = 0;
  for (size_t i : d.sample) max_load = std::max(max_load, data.samples[i].load);
  std::map<std::array<long, 3>, std::vector<std::pair<double, double>>> sweeps;
  for (size_t k = 0; k < d.sample.size(); ++k) {
    const TCombinedSample& s = data.samples[d.sample[k]];
    const std::array<long, 3> key = {std::lround(s.camber * 4.0), std::lround(s.load / (0.05 * max_load)),
                                     std::lround(s.slip_angle * 4.0)};
    sweeps[key].emplace_back(s.slip_ratio, d.points[k].measured);
  }
  double sum = 0;
  size_t count = 0;
  for (auto& [key, sweep] : sweeps) {
    std::sort(sweep.begin(), sweep.end());
    for (size_t i = 1; i + 1 < sweep.size(); ++i) {
      const double x0 = sweep[i - 1].first, x1 = sweep[i].first, x2 = sweep[i + 1].first;
      if (!(x2 > x0)) continue;
      const double w0 = (x2 - x1) / (x2 - x0), w2 = 1.0 - w0;
      const double dev = sweep[i].second - (w0 * sweep[i - 1].second + w2 * sweep[i + 1].second);
      sum += dev * dev / (1.0 + w0 * w0 + w2 * w2);
      ++count;
    }
  }
  return count == 0 ? kNaN : std::sqrt(sum / static_cast<double>(count));
}

// ------------------------------------------------------------- the solver

class StageCallback : public ceres::IterationCallback {
 public:
  explicit StageCallback(IFitHost& host) : host_(host) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
    if (summary.iteration > 0) {
      TFitProgress progress;
      progress.optimizer = TOptimizerChoice::kTrustRegion;
      progress.step = summary.iteration;
      progress.best_cost = 2.0 * summary.cost;
      host_.Progress(progress);
    }
    if (host_.CancelRequested()) {
      cancelled_ = true;
      return ceres::SOLVER_TERMINATE_SUCCESSFULLY;
    }
    return ceres::SOLVER_CONTINUE;
  }
  bool cancelled() const { return cancelled_; }

 private:
  IFitHost& host_;
  bool cancelled_ = false;
};

struct SolveResult {
  bool usable = false, converged = false, iteration_limit = false, cancelled = false;
  int iterations = 0;
  double cost = kNaN;
  std::string message;
  std::vector<double> x;
  std::vector<double> jacobian;
};

SolveResult Solve(const StageResiduals& f, const StageData& d, std::vector<double> x, IFitHost& host,
                  bool want_jacobian) {
  SolveResult out;
  out.x = std::move(x);
  const size_t n = out.x.size();
  ceres::Problem problem;
  auto* cost = new ceres::DynamicAutoDiffCostFunction<StageResiduals, kStride>(new StageResiduals(f));
  cost->AddParameterBlock(static_cast<int>(n));
  cost->SetNumResiduals(static_cast<int>(d.points.size()));
  problem.AddResidualBlock(cost, nullptr, out.x.data());

  ceres::Solver::Options solver;
  solver.minimizer_type = ceres::TRUST_REGION;
  solver.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  solver.linear_solver_type = ceres::DENSE_QR;
  solver.initial_trust_region_radius = 1.0;
  solver.max_num_iterations = 200;
  solver.function_tolerance = 1e-12;
  solver.parameter_tolerance = 1e-12;
  solver.gradient_tolerance = 1e-14;
  solver.logging_type = ceres::SILENT;
  solver.minimizer_progress_to_stdout = false;
  solver.num_threads = 1;
  StageCallback callback(host);
  solver.callbacks.push_back(&callback);

  ceres::Solver::Summary summary;
  // A round at the cap is continued once if it still lowered the cost by
  // more than a millionth: coefficients the data leave undetermined (SVyk's
  // shape where the tire has almost none) let the solver creep along a
  // valley floor for ever at no gain.
  for (int round = 0; round < 2; ++round) {
    summary = ceres::Solver::Summary();
    ceres::Solve(solver, &problem, &summary);
    ClearFpFaults();
    out.iterations += std::max(static_cast<int>(summary.iterations.size()) - 1, 0);
    out.cancelled = callback.cancelled();
    const bool capped_while_falling = summary.termination_type == ceres::NO_CONVERGENCE &&
                                      summary.final_cost < summary.initial_cost * (1.0 - 1e-6);
    out.iteration_limit = capped_while_falling;
    if (out.cancelled || !capped_while_falling) break;
  }
  out.message = out.cancelled ? "Cancelled by the user." : summary.message;
  out.converged = summary.termination_type == ceres::CONVERGENCE;
  out.usable = summary.IsSolutionUsable();
  out.cost = 2.0 * summary.final_cost;
  if (!out.usable || !want_jacobian) return out;

  ceres::CRSMatrix crs;
  double unused = 0;
  if (problem.Evaluate(ceres::Problem::EvaluateOptions(), &unused, nullptr, nullptr, &crs)) {
    out.jacobian.assign(d.points.size() * n, 0.0);
    for (int row = 0; row < crs.num_rows; ++row)
      for (int k = crs.rows[static_cast<size_t>(row)]; k < crs.rows[static_cast<size_t>(row) + 1]; ++k)
        out.jacobian[static_cast<size_t>(row) * n + static_cast<size_t>(crs.cols[static_cast<size_t>(k)])] =
            crs.values[static_cast<size_t>(k)];
    for (double v : out.jacobian)
      if (!std::isfinite(v)) {
        out.jacobian.clear();
        break;
      }
  }
  ClearFpFaults();
  return out;
}

// A host that forwards only the cancel request: the start searches report
// no progress of their own.
class QuietHost final : public TSilentFitHost {
 public:
  explicit QuietHost(IFitHost& host) : host_(host) {}
  bool CancelRequested() override { return host_.CancelRequested(); }

 private:
  IFitHost& host_;
};

// ------------------------------------------------------------ start values

// Positions within the free vector of named coefficients (those not free
// are skipped).
std::vector<size_t> Positions(const std::vector<std::string>& fitted, std::initializer_list<const char*> names) {
  std::vector<size_t> out;
  for (const char* name : names)
    for (size_t k = 0; k < fitted.size(); ++k)
      if (fitted[k] == name) out.push_back(k);
  return out;
}

// Sets the named coefficient of `x` when it is free (a held one is not in
// `fitted` and keeps its 0).
void Put(std::vector<double>& x, const std::vector<std::string>& fitted, const char* name, double value) {
  for (size_t k = 0; k < fitted.size(); ++k)
    if (fitted[k] == name) x[k] = value;
}

// The starts of a weight's shape (slope B1, its slip dependence B2, shape
// C, curvature E1) in order of their cost on the data, best first; every
// other coefficient at 0.
std::vector<std::vector<double>> WeightStarts(const StageResiduals& f, const std::vector<std::string>& fitted,
                                              const char* b1, const char* b2, const char* c, const char* e1,
                                              const std::vector<double>& b1s, const std::vector<double>& b2s) {
  std::vector<std::pair<double, std::vector<double>>> ranked;
  for (double vb1 : b1s)
    for (double vb2 : b2s)
      for (double vc : {0.9, 1.0, 1.1, 1.25})
        for (double ve : {-0.5, 0.0, 0.5}) {
          std::vector<double> x(fitted.size(), 0.0);
          Put(x, fitted, b1, vb1);
          Put(x, fitted, b2, vb2);
          Put(x, fitted, c, vc);
          Put(x, fitted, e1, ve);
          const double cost = f.Cost(x);
          if (std::isfinite(cost)) ranked.emplace_back(cost, std::move(x));
        }
  std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::vector<double>> starts;
  for (auto& r : ranked) starts.push_back(std::move(r.second));
  return starts;
}

// The slip-ratio induced force's start on top of a weight start: its peak
// (RVY1-3) by linear least squares for each shape of sin(RVY5*atan(RVY6*k)),
// RVY5 at 1.9 (the value published tires share), the best RVY4 and RVY6
// kept.
void SvykStart(const StageResiduals& f, const std::vector<std::string>& fitted, std::vector<double>& x) {
  const std::vector<size_t> linear = Positions(fitted, {"RVY1", "RVY2", "RVY3"});
  std::vector<double> best = x;
  double best_cost = f.Cost(x);
  Put(best, fitted, "RVY5", 1.9);
  Put(best, fitted, "RVY6", 1.0);
  // RVY4 = 0 is a saddle (cos(atan(RVY4*alpha)) is flat there), from which
  // no derivative leads away: the starts keep it off 0.
  Put(best, fitted, "RVY4", 0.5);
  for (double rvy4 : {0.5, 5.0, 12.0})
    for (double rvy6 : {1.0, 3.0, 8.0, 20.0}) {
      std::vector<double> trial = x;
      Put(trial, fitted, "RVY4", rvy4);
      Put(trial, fitted, "RVY5", 1.9);
      Put(trial, fitted, "RVY6", rvy6);
      SolveLinearPart(f, trial, linear);
      const double cost = f.Cost(trial);
      if (std::isfinite(cost) && !(cost >= best_cost)) {
        best_cost = cost;
        best = trial;
      }
    }
  x = best;
}

std::vector<std::vector<double>> StageStarts(TCombinedStage stage, const StageResiduals& f,
                                             const std::vector<std::string>& fitted) {
  switch (stage) {
    case TCombinedStage::kFx: {
      auto starts = WeightStarts(f, fitted, "RBX1", "RBX2", "RCX1", "REX1", {4, 8, 12, 16, 24}, {-20, -10, -4, 0, 5});
      if (starts.size() > 3) starts.resize(3);
      return starts;
    }
    case TCombinedStage::kFy: {
      auto starts = WeightStarts(f, fitted, "RBY1", "RBY2", "RCY1", "REY1", {3, 6, 10, 15, 22}, {0, 3, 6, 10});
      if (starts.size() > 2) starts.resize(2);
      for (auto& x : starts) SvykStart(f, fitted, x);
      return starts;
    }
    case TCombinedStage::kMz:
    case TCombinedStage::kMx:
    case TCombinedStage::kMy: {
      std::vector<double> x(fitted.size(), 0.0);
      std::vector<size_t> all(fitted.size());
      std::iota(all.begin(), all.end(), size_t{0});
      SolveLinearPart(f, x, all);
      return {x};
    }
  }
  return {};
}

// ------------------------------------------------------------------ verdict

TFitVerdict JudgeStage(const TStageResult& r, double sst, double scatter) {
  TFitVerdict v;
  const TFitOutcome& o = r.outcome;
  auto poor = [&v](const char* code, std::string text, const char* advice) {
    v.poor = true;
    v.reasons.push_back({code, std::move(text), advice});
  };
  if (o.optimizer_failed) {
    poor("optimizer-failed", o.failure_detail, "check the data of this stage for outliers and wrong signs");
    return v;
  }
  if (o.cancelled) poor("cancelled", "the fit was stopped before it finished", "run the stage again");
  if (!std::isfinite(o.final_cost)) {
    poor("model-fault", "the model cannot be evaluated at the result", "check the pure-slip fits");
    return v;
  }
  const double free = static_cast<double>(o.fitted.size());
  if (static_cast<double>(r.points) < 3.0 * free)
    poor("too-few-points",
         std::to_string(r.points) + " points for " + std::to_string(o.fitted.size()) + " coefficients",
         "measure more slip ratios or slip angles");
  const double r2 = sst > 0 ? 1.0 - o.final_cost / sst : kNaN;
  const bool above_noise = !(r.rms <= 1.5 * scatter);
  if (std::isfinite(r2) && r2 < kPoorRSquared && above_noise)
    poor("low-r2", "the model explains " + FloatToStr(std::round(r2 * 1000.0) / 10.0) +
                       " % of the variation of the measurements",
         "check the data's signs and units, and the pure-slip fits this stage rests on");
  if (std::isfinite(scatter) && scatter > 0 && r.rms > 4.0 * scatter)
    poor("misfit",
         "the RMS of the residuals (" + FloatToStr(r.rms) + ") is more than 4 times the scatter of the measurements (" +
             FloatToStr(scatter) + ")",
         "check the pure-slip fits this stage rests on, and the sweeps for drift");
  if (std::isfinite(o.start_cost) && o.final_cost > o.start_cost * (1.0 + 1e-3))
    poor("cost-rose", "the cost rose above that of the start values", "run the stage again");
  if (o.iteration_limit)
    poor("iteration-limit", "the solver was still improving at its iteration cap", "run the stage again from its result");
  return v;
}

// For each fitted coefficient, empty or why the data cannot determine it.
std::vector<std::string> Notes(const std::vector<std::string>& names, const TIdentifiability& identity) {
  std::vector<std::string> notes(names.size());
  for (size_t k = 0; k < names.size() && k < identity.coefficients.size(); ++k) {
    const TCoefficientIdentity& id = identity.coefficients[k];
    if (id.determined) continue;
    std::string why;
    if (id.no_effect) {
      why = "the model does not depend on it at these data points";
    } else if (!id.partners.empty()) {
      std::string list;
      for (size_t p : id.partners)
        if (p < names.size()) list += (list.empty() ? "" : ", ") + names[p];
      why = "its effect cannot be told apart from that of " + list;
    } else {
      why = "the fit has no points left to judge it by";
    }
    notes[k] = names[k] + " is not determined: " + why;
  }
  return notes;
}

TFitChannel NearestChannel(TCombinedStage stage) {
  switch (stage) {
    case TCombinedStage::kFx:
    case TCombinedStage::kMy: return TFitChannel::kLongitudinal;
    case TCombinedStage::kFy:
    case TCombinedStage::kMx: return TFitChannel::kLateral;
    case TCombinedStage::kMz: return TFitChannel::kAligning;
  }
  return TFitChannel::kLateral;
}

// Why the stage's points cannot fit it, or empty.
std::string Unusable(TCombinedStage stage, const StageData& d) {
  const char* quantity = stage == TCombinedStage::kFx   ? "Fx"
                         : stage == TCombinedStage::kFy ? "Fy"
                         : stage == TCombinedStage::kMz ? "Mz"
                         : stage == TCombinedStage::kMx ? "Mx"
                                                        : "My";
  if (d.points.empty())
    return stage == TCombinedStage::kMy ? "the data hold no measured My with the wheel's speed"
                                        : std::string("the data hold no measured ") + quantity;
  const bool any_angle = std::any_of(d.points.begin(), d.points.end(),
                                     [](const StagePoint& p) { return std::fabs(p.alpha) > mf::DegToRad(0.5); });
  const bool any_ratio = std::any_of(d.points.begin(), d.points.end(),
                                     [](const StagePoint& p) { return std::fabs(p.kappa) > 0.005; });
  if (stage == TCombinedStage::kFx && !any_angle)
    return "the data hold no Fx at a slip angle other than 0, where the weight is 1";
  if ((stage == TCombinedStage::kFy || stage == TCombinedStage::kMz) && !any_ratio)
    return std::string("the data hold no ") + quantity + " at a slip ratio other than 0";
  return {};
}

}  // namespace

const char* CombinedStageName(TCombinedStage stage) {
  switch (stage) {
    case TCombinedStage::kFx: return "Fx combined";
    case TCombinedStage::kFy: return "Fy combined";
    case TCombinedStage::kMz: return "Mz combined";
    case TCombinedStage::kMx: return "Mx";
    case TCombinedStage::kMy: return "My";
  }
  return "";
}

double CombinedStageValue(TCombinedStage stage, const TCombinedSample& s) {
  switch (stage) {
    case TCombinedStage::kFx: return s.fx;
    case TCombinedStage::kFy: return s.fy;
    case TCombinedStage::kMz: return s.mz;
    case TCombinedStage::kMx: return s.mx;
    case TCombinedStage::kMy: return s.my;
  }
  return kNaN;
}

std::vector<std::string> CombinedStageCoefficients(TCombinedStage stage) {
  // The stages and the pages of the coefficient table are listed alike.
  const auto page = static_cast<TCombinedCoefficientPage>(static_cast<int>(stage));
  std::vector<std::string> names;
  for (const TCombinedCoefficientInfo& info : CombinedCoefficientTable())
    if (info.page == page) names.emplace_back(info.name);
  return names;
}

std::vector<double> CombinedStageResiduals(TCombinedStage stage, const TCoefficientSet& pure,
                                           const TCombinedCoefficients& combined, const TCombinedDataSet& data,
                                           double longvl) {
  const PureModel model(pure);
  const StageData d = CollectPoints(stage, model, combined, data);
  const StageResiduals f(stage, d, combined, {}, longvl);
  std::vector<double> r;
  f.Cost({}, &r);
  return r;
}

TStageResult FitCombinedStage(TCombinedStage stage, const TCoefficientSet& pure, TCombinedCoefficients& combined,
                              const TCombinedDataSet& data, double longvl, IFitHost& host,
                              const std::vector<std::pair<std::string, double>>* start) {
  SilenceSolverLog();
  TStageResult result;
  result.name = CombinedStageName(stage);
  result.rms = kNaN;
  result.outcome.channel = NearestChannel(stage);
  result.outcome.optimizer = TOptimizerChoice::kTrustRegion;

  const PureModel model(pure);
  const StageData d = CollectPoints(stage, model, combined, data);
  result.points = d.points.size();
  if (std::string why = Unusable(stage, d); !why.empty()) {
    result.not_fitted_reason = why;
    return result;
  }

  // The stage's coefficients: held ones at 0, the others free.
  TCombinedCoefficients fixed = combined;
  const auto held = HeldCoefficients(stage, Spread(data, d));
  std::vector<size_t> free;
  std::vector<std::string> fitted;
  for (const std::string& name : CombinedStageCoefficients(stage)) {
    const size_t index = CombinedIndex(name);
    const auto h = std::find_if(held.begin(), held.end(), [&](const auto& e) { return e.first == name; });
    if (h != held.end()) {
      *Fields(fixed)[index] = 0.0;
      result.held.push_back(name + " (" + h->second + ")");
      continue;
    }
    free.push_back(index);
    fitted.push_back(name);
  }
  if (d.points.size() < fitted.size()) {
    result.not_fitted_reason = std::to_string(d.points.size()) + " points cannot determine " +
                               std::to_string(fitted.size()) + " coefficients";
    return result;
  }
  std::vector<std::vector<double>> starts;
  if (start == nullptr) {
    const StageResiduals all(stage, d, fixed, free, longvl);
    starts = StageStarts(stage, all, fitted);
  }
  // The slip-ratio induced side force is kept only where the data show it:
  // its peak (RVY1-3, linear) must lower the cost of the best start by more
  // than three times what as many coefficients fitted to noise would.  A
  // tire without it (RVY6 = 0, say) leaves its six coefficients undetermined,
  // and the solver would wander along them at no gain.
  if (start != nullptr) {
    const std::vector<std::string> own = CombinedStageCoefficients(stage);
    free.clear();
    fitted.clear();
    result.held.clear();
    std::vector<double> x;
    for (const auto& [name, value] : *start) {
      if (std::find(own.begin(), own.end(), name) == own.end())
        throw std::invalid_argument(name + " is not a coefficient of the " + result.name + " stage");
      free.push_back(CombinedIndex(name));
      fitted.push_back(name);
      x.push_back(value);
    }
    for (const std::string& name : own)
      if (std::find(fitted.begin(), fitted.end(), name) == fitted.end()) *Fields(fixed)[CombinedIndex(name)] = 0.0;
    starts.push_back(std::move(x));
  } else if (stage == TCombinedStage::kFy && !starts.empty()) {
    const StageResiduals all(stage, d, fixed, free, longvl);
    std::vector<double> without = starts.front();
    for (size_t p : Positions(fitted, {"RVY1", "RVY2", "RVY3"})) without[p] = 0.0;
    const double with_cost = all.Cost(starts.front()), without_cost = all.Cost(without);
    const size_t peak_terms = Positions(fitted, {"RVY1", "RVY2", "RVY3"}).size();
    const double variance = with_cost / static_cast<double>(d.points.size() - fitted.size());
    if (std::isfinite(with_cost) && std::isfinite(without_cost) &&
        without_cost - with_cost < 3.0 * static_cast<double>(peak_terms) * variance) {
      std::vector<size_t> keep;
      for (size_t k = 0; k < fitted.size(); ++k)
        if (fitted[k].rfind("RVY", 0) != 0) keep.push_back(k);
      for (size_t k = 0; k < fitted.size(); ++k)
        if (fitted[k].rfind("RVY", 0) == 0) {
          *Fields(fixed)[free[k]] = 0.0;
          result.held.push_back(fitted[k] + " (no slip-ratio induced side force above the noise)");
        }
      std::vector<size_t> kept_free;
      std::vector<std::string> kept_names;
      for (size_t k : keep) {
        kept_free.push_back(free[k]);
        kept_names.push_back(fitted[k]);
      }
      for (auto& x : starts) {
        std::vector<double> y;
        for (size_t k : keep) y.push_back(x[k]);
        x = std::move(y);
      }
      free = std::move(kept_free);
      fitted = std::move(kept_names);
    }
  }
  const StageResiduals f(stage, d, fixed, free, longvl);
  TFitOutcome& o = result.outcome;
  o.fitted = fitted;

  // Start values from the data, then the trust region from each start;
  // the lowest cost wins.
  if (starts.empty()) {
    result.not_fitted_reason = "the model cannot be evaluated at any start value";
    return result;
  }
  o.start_cost = f.Cost(starts.front());
  o.start_was_fit = true;
  SolveResult best;
  QuietHost quiet(host);
  for (size_t k = 0; k < starts.size(); ++k) {
    IFitHost& h = k == 0 ? host : static_cast<IFitHost&>(quiet);
    SolveResult trial = Solve(f, d, starts[k], h, true);
    const bool better = trial.usable && std::isfinite(trial.cost) && !(trial.cost >= best.cost);
    if (better || k == 0) {
      best = std::move(trial);
      result.start_values = starts[k];
    }
    if (best.cancelled) break;
  }
  result.fitted = true;
  o.iterations = best.iterations;
  o.converged = best.converged;
  o.cancelled = best.cancelled;
  o.iteration_limit = best.iteration_limit && !best.cancelled;
  o.solver_message = best.message;
  if (!best.usable) {
    o.optimizer_failed = true;
    o.failure_message = kTrustRegionFailureMessage + best.message;
    o.failure_detail = best.message;
    o.termination = TFitTermination::kFailed;
  } else {
    o.termination = o.cancelled         ? TFitTermination::kCancelled
                    : o.iteration_limit ? TFitTermination::kIterationLimit
                                        : TFitTermination::kFinished;
    for (size_t k = 0; k < free.size(); ++k) *Fields(fixed)[free[k]] = best.x[k];
  }
  // The held coefficients are written as 0 too: the stage owns them.
  for (const std::string& name : CombinedStageCoefficients(stage))
    *Fields(combined)[CombinedIndex(name)] = *Fields(fixed)[CombinedIndex(name)];

  const StageResiduals at_result(stage, d, fixed, {}, longvl);
  o.final_cost = at_result.Cost({});
  result.rms = std::sqrt(o.final_cost / static_cast<double>(d.points.size()));

  double mean = 0, sst = 0, scale = 0;
  for (const StagePoint& p : d.points) mean += p.measured;
  mean /= static_cast<double>(d.points.size());
  for (const StagePoint& p : d.points) {
    sst += (p.measured - mean) * (p.measured - mean);
    scale += p.measured * p.measured;
  }
  scale = std::sqrt(scale / static_cast<double>(d.points.size()));
  if (!best.jacobian.empty() && std::isfinite(o.final_cost)) {
    const TIdentifiability identity = AnalyseJacobian(best.jacobian, d.points.size(), fitted.size(), o.final_cost, scale);
    for (const TCoefficientIdentity& id : identity.coefficients) o.standard_errors.push_back(id.standard_error);
    o.notes = Notes(fitted, identity);
  }
  o.verdict = JudgeStage(result, sst, SweepScatter(data, d));
  for (const std::string& h : result.held)
    o.verdict.notes.push_back({"held", h.substr(0, h.find(' ')) + " is held at 0: the data hold " +
                                           h.substr(h.find('(') + 1, h.size() - h.find('(') - 2),
                               "measure more loads, cambers or speeds to fit it"});
  host.Redraw();
  return result;
}

}  // namespace morvex
