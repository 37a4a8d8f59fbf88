// The only translation unit that includes the solver: its headers and the
// automatic-differentiation instantiations are heavy to compile.
#include "fitting/TrustRegionFit.h"

#include <ceres/ceres.h>
#include <glog/logging.h>

#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "numerics/LxBasics.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

namespace {

// Derivatives carried per pass of the automatic differentiation; a fit of
// n free coefficients evaluates the residuals ceil(n / kStride) times.
constexpr int kStride = 8;

// The members of a coefficient struct in the order of its coefficient list.
#define MORVEX_ADDRESS(name) &s.name,
template <class S>
auto LateralFields(S& s) { return std::array{MORVEX_LATERAL_COEFFICIENTS(MORVEX_ADDRESS)}; }
template <class S>
auto AligningFields(S& s) { return std::array{MORVEX_ALIGNING_COEFFICIENTS(MORVEX_ADDRESS)}; }
template <class S>
auto LongitudinalFields(S& s) { return std::array{MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_ADDRESS)}; }
#undef MORVEX_ADDRESS

#define MORVEX_NAME(name) #name,
constexpr std::string_view kLateralNames[] = {MORVEX_LATERAL_COEFFICIENTS(MORVEX_NAME)};
constexpr std::string_view kAligningNames[] = {MORVEX_ALIGNING_COEFFICIENTS(MORVEX_NAME)};
constexpr std::string_view kLongitudinalNames[] = {MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_NAME)};
#undef MORVEX_NAME

template <size_t N>
size_t IndexOf(const std::string_view (&names)[N], std::string_view name) {
  for (size_t k = 0; k < N; ++k)
    if (names[k] == name) return k;
  throw std::invalid_argument("'" + std::string(name) + "' is not a coefficient of this fit");
}

// A double coefficient struct as constants of scalar type T.
template <class T, class Source, class Target, class FieldsOf>
void Lift(const Source& source, Target& target, FieldsOf fields_of) {
  auto from = fields_of(source);
  auto to = fields_of(target);
  for (size_t k = 0; k < from.size(); ++k) *to[k] = T(*from[k]);
}

// The residuals of one channel as a function of its free coefficients.
class ChannelResiduals {
 public:
  ChannelResiduals(TFitChannel channel, const TCoefficientSet& set,
                   const std::vector<std::string>& names, const TTireDataSet& data)
      : channel_(channel), data_(data) {
    switch (channel) {
      case TFitChannel::kLateral:
        lateral_ = ReadLateralCoefficients(set);
        for (const std::string& name : names) free_.push_back(IndexOf(kLateralNames, name));
        break;
      case TFitChannel::kAligning:
        lateral_ = ReadLateralCoefficients(set);
        aligning_ = ReadAligningCoefficients(set);
        r0_ = set.Value("R0");
        for (const std::string& name : names) free_.push_back(IndexOf(kAligningNames, name));
        break;
      case TFitChannel::kLongitudinal:
        longitudinal_ = ReadLongitudinalCoefficients(set);
        for (const std::string& name : names) free_.push_back(IndexOf(kLongitudinalNames, name));
        break;
    }
  }

  // The start values of the free coefficients.
  std::vector<double> Start() const {
    std::vector<double> x;
    for (size_t index : free_) {
      switch (channel_) {
        case TFitChannel::kLateral:
          x.push_back(*LateralFields(lateral_)[index]);
          break;
        case TFitChannel::kAligning:
          x.push_back(*AligningFields(aligning_)[index]);
          break;
        case TFitChannel::kLongitudinal:
          x.push_back(*LongitudinalFields(longitudinal_)[index]);
          break;
      }
    }
    return x;
  }

  template <class T>
  bool operator()(T const* const* parameters, T* residuals) const {
    const T* x = parameters[0];
    const auto lateral_fields = [](auto& s) { return LateralFields(s); };
    switch (channel_) {
      case TFitChannel::kLateral: {
        const auto c = WithFree<mf::LateralCoefficientsOf<T>>(lateral_, lateral_fields, x);
        mf::Residuals<T>(data_, [&c](double camber, double fz) {
          return mf::LateralAtLoadOf<mf::LateralCoefficientsOf<T>>(c, camber, fz);
        }, residuals);
        break;
      }
      case TFitChannel::kAligning: {
        mf::LateralCoefficientsOf<T> lateral;
        Lift<T>(lateral_, lateral, lateral_fields);
        const auto c = WithFree<mf::AligningCoefficientsOf<T>>(
            aligning_, [](auto& s) { return AligningFields(s); }, x);
        const T fz0 = lateral.Fz0;
        mf::Residuals<T>(data_, [&](double camber, double fz) {
          return mf::AligningAtLoadOf<mf::LateralCoefficientsOf<T>, mf::AligningCoefficientsOf<T>>(
              lateral, c, r0_, fz0, true, camber, fz);
        }, residuals);
        break;
      }
      case TFitChannel::kLongitudinal: {
        const auto c = WithFree<mf::LongitudinalCoefficientsOf<T>>(
            longitudinal_, [](auto& s) { return LongitudinalFields(s); }, x);
        mf::Residuals<T>(data_, [&c](double camber, double fz) {
          return mf::LongitudinalAtLoadOf<mf::LongitudinalCoefficientsOf<T>>(c, camber, fz);
        }, residuals);
        break;
      }
    }
    return true;
  }

 private:
  // The fixed coefficients as constants, the free ones from `x`.
  template <class Coefficients, class Source, class FieldsOf, class T>
  Coefficients WithFree(const Source& fixed, FieldsOf fields_of, const T* x) const {
    Coefficients c;
    Lift<T>(fixed, c, fields_of);
    auto fields = fields_of(c);
    for (size_t k = 0; k < free_.size(); ++k) *fields[free_[k]] = x[k];
    return c;
  }

  TFitChannel channel_;
  const TTireDataSet& data_;
  TLateralCoefficients lateral_;
  TAligningCoefficients aligning_;
  TLongitudinalCoefficients longitudinal_;
  double r0_ = 0;
  std::vector<size_t> free_;  // indices into the channel's coefficient list
};

class ProgressCallback : public ceres::IterationCallback {
 public:
  ProgressCallback(const std::function<void(int, double)>& progress, const std::function<bool()>& cancel,
                   int first_iteration)
      : progress_(progress), cancel_(cancel), first_iteration_(first_iteration) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
    if (progress_ && summary.iteration > 0) progress_(first_iteration_ + summary.iteration, 2.0 * summary.cost);
    if (cancel_ && cancel_()) {
      cancelled_ = true;
      // Ends the solve as a success, with the parameters at the last
      // accepted point.
      return ceres::SOLVER_TERMINATE_SUCCESSFULLY;
    }
    return ceres::SOLVER_CONTINUE;
  }
  bool cancelled() const { return cancelled_; }

 private:
  const std::function<void(int, double)>& progress_;
  const std::function<bool()>& cancel_;
  int first_iteration_;
  bool cancelled_ = false;
};

// The residual block of a channel's free coefficients, owned by `problem`.
ceres::CostFunction* ResidualFunction(TFitChannel channel, const TCoefficientSet& set,
                                      const std::vector<std::string>& names, const TTireDataSet& data,
                                      size_t points) {
  auto* cost = new ceres::DynamicAutoDiffCostFunction<ChannelResiduals, kStride>(
      new ChannelResiduals(channel, set, names, data));
  cost->AddParameterBlock(static_cast<int>(names.size()));
  cost->SetNumResiduals(static_cast<int>(points));
  return cost;
}

// The Jacobian of `problem` at its parameters' present values, row-major.
std::vector<double> DenseJacobian(ceres::Problem& problem, size_t points, size_t columns) {
  ceres::CRSMatrix crs;
  double cost = 0;
  std::vector<double> jacobian;
  if (!problem.Evaluate(ceres::Problem::EvaluateOptions(), &cost, nullptr, nullptr, &crs)) return jacobian;
  jacobian.assign(points * columns, 0.0);
  for (int row = 0; row < crs.num_rows; ++row)
    for (int k = crs.rows[static_cast<size_t>(row)]; k < crs.rows[static_cast<size_t>(row) + 1]; ++k)
      jacobian[static_cast<size_t>(row) * columns + static_cast<size_t>(crs.cols[static_cast<size_t>(k)])] =
          crs.values[static_cast<size_t>(k)];
  for (double v : jacobian)
    if (!std::isfinite(v)) return {};
  return jacobian;
}

}  // namespace

void SilenceSolverLog() {
  static const bool silenced = [] {
    FLAGS_minloglevel = google::GLOG_FATAL;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    FLAGS_logtostderr = false;
    return true;
  }();
  (void)silenced;
}

TTrustRegionResult FitTrustRegion(TFitChannel channel, const TCoefficientSet& set,
                                  const std::vector<std::string>& names, const TTireDataSet& data,
                                  const TTrustRegionOptions& options,
                                  const std::function<void(int, double)>& progress) {
  SilenceSolverLog();
  // A malformed case raises here, not inside the solver's evaluation.
  mf::CheckShape(data);
  TTrustRegionResult result;
  result.values = ChannelResiduals(channel, set, names, data).Start();
  result.points = mf::PointCount(data);
  if (result.points == 0 || names.empty()) {
    result.message = result.points == 0 ? "The data set holds no points to fit."
                                        : "No coefficient is free.";
    return result;
  }

  ceres::Problem problem;
  problem.AddResidualBlock(ResidualFunction(channel, set, names, data, result.points), nullptr,
                           result.values.data());

  ceres::Solver::Options solver;
  solver.minimizer_type = ceres::TRUST_REGION;
  solver.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  solver.linear_solver_type = ceres::DENSE_QR;
  solver.initial_trust_region_radius = options.initial_radius;
  solver.max_num_iterations = options.max_iterations;
  solver.function_tolerance = options.function_tolerance;
  solver.parameter_tolerance = options.parameter_tolerance;
  solver.gradient_tolerance = options.gradient_tolerance;
  solver.logging_type = ceres::SILENT;
  solver.minimizer_progress_to_stdout = false;
  solver.num_threads = 1;

  // Rounds of at most max_iterations each: a round that ends at the cap
  // with the cost still falling is continued from its last point.
  result.iterations = 0;
  ceres::Solver::Summary summary;
  bool capped_while_falling = false;
  for (int round = 0; round < std::max(options.max_rounds, 1); ++round) {
    ProgressCallback callback(progress, options.cancel, result.iterations);
    solver.callbacks.assign(1, &callback);
    summary = ceres::Solver::Summary();
    ceres::Solve(solver, &problem, &summary);
    // The derivatives may have raised floating-point flags on rejected
    // steps; they belong to no evaluation of the program's own.
    ClearFpFaults();
    result.iterations += std::max(static_cast<int>(summary.iterations.size()) - 1, 0);
    result.cancelled = callback.cancelled();
    const bool at_cap = summary.termination_type == ceres::NO_CONVERGENCE;
    const bool still_falling = summary.final_cost < summary.initial_cost * (1.0 - 1e-12);
    capped_while_falling = at_cap && still_falling;
    if (result.cancelled || !capped_while_falling) break;
  }

  result.message = summary.message;
  result.final_cost = 2.0 * summary.final_cost;
  result.converged = summary.termination_type == ceres::CONVERGENCE;
  // A round at the cap that no longer lowered the cost has stalled at its
  // point: that is as far as the tolerances can take it, not a cut-off.
  result.iteration_limit = capped_while_falling;
  result.usable = summary.IsSolutionUsable();
  if (result.cancelled) result.message = "Cancelled by the user.";
  if (!result.usable) return result;

  result.jacobian = DenseJacobian(problem, result.points, names.size());
  ClearFpFaults();
  return result;
}

std::vector<double> ResidualJacobian(TFitChannel channel, const TCoefficientSet& set,
                                     const std::vector<std::string>& names, const TTireDataSet& data,
                                     size_t& points) {
  SilenceSolverLog();
  TResidualsAndJacobian evaluated = ResidualsAndJacobian(channel, set, names, data);
  points = evaluated.points;
  if (points == 0 || names.empty()) return {};
  for (double v : evaluated.jacobian)
    if (!std::isfinite(v)) return {};
  return std::move(evaluated.jacobian);
}

TResidualsAndJacobian ResidualsAndJacobian(TFitChannel channel, const TCoefficientSet& set,
                                   const std::vector<std::string>& names, const TTireDataSet& data) {
  mf::CheckShape(data);
  TResidualsAndJacobian result;
  auto owner = std::make_unique<ChannelResiduals>(channel, set, names, data);
  const std::vector<double> x = owner->Start();
  result.points = mf::PointCount(data);
  result.residuals.assign(result.points, 0.0);
  result.jacobian.assign(result.points * names.size(), 0.0);
  if (result.points == 0) return result;
  if (names.empty()) {
    // No derivative to take: the residuals alone.
    const double* parameters[] = {nullptr};
    (*owner)(parameters, result.residuals.data());
  } else {
    ceres::DynamicAutoDiffCostFunction<ChannelResiduals, kStride> cost(owner.release());
    cost.AddParameterBlock(static_cast<int>(names.size()));
    cost.SetNumResiduals(static_cast<int>(result.points));
    const double* parameters[] = {x.data()};
    double* jacobians[] = {result.jacobian.data()};
    if (!cost.Evaluate(parameters, result.residuals.data(), jacobians)) {
      std::fill(result.residuals.begin(), result.residuals.end(), std::nan(""));
      std::fill(result.jacobian.begin(), result.jacobian.end(), std::nan(""));
    }
  }
  ClearFpFaults();
  for (double r : result.residuals) result.ssr += r * r;
  return result;
}

}  // namespace morvex
