#include "optim/LxFit.h"

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"

namespace morvex {

namespace {

constexpr Extended kStepFraction = 100000.0L;    // step = |value| / 100000
constexpr Extended kMinStep = 1e-16L;            // below this the value counts as 0
constexpr Extended kZeroValueStep = 1e-10L;      // step for a zero value (times c0 when c0 > 1)
constexpr Extended kStartLambda = 0.001L;
constexpr Extended kLambdaFactor = 10.0L;
constexpr Extended kLambdaLimit = 1e18L;         // give up a direction at this damping
constexpr Extended kReverseAbove = 1e17L;
constexpr Extended kTrialTolerance = 1e-4L;      // relative gain that ends an iteration
constexpr Extended kFitTolerance = 1e-6L;        // relative gain that ends the fit

// True when (previous - current) / current < tolerance, or when that
// quotient cannot be formed (current = 0, or a floating-point fault): the
// cost has stopped changing measurably either way.
bool RelativeChangeBelow(Extended previous, Extended current, Extended tolerance) {
  if (current == 0.0L) return true;
  ClearFpFaults();
  volatile Extended change = (previous - current) / current;
  const bool faulted = std::fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID) != 0;
  ClearFpFaults();
  return faulted || change < tolerance;
}

// ((f+ - f0)/h + (f0 - f-)/h) / 2: the mean of the forward and backward
// quotients, i.e. the central difference, evaluated as the fitter always has.
Extended CentralDifference(Extended f_minus, Extended f0, Extended f_plus, Extended h) {
  return FpChecked([&] { return ((f_plus - f0) / h + (f0 - f_minus) / h) / 2.0L; });
}

Extended CheckedSum(Extended a, Extended b) {
  return FpChecked([&] { return a + b; });
}

// The serial walk of GradientComponent and HessianElement over a copy of
// the parameter values: the same moves, the same arithmetic, in the same
// order, with the cost at each point from `cost(x)`.
template <class Cost>
Extended WalkGradient(std::vector<Extended>& x, const std::vector<Extended>& steps, size_t i, Cost& cost) {
  const Extended v = x[i];
  const Extended h = steps[i];
  const Extended f0 = cost(x);
  x[i] = CheckedSum(v, h);
  const Extended f_plus = cost(x);
  x[i] = CheckedSum(v, -h);
  const Extended f_minus = cost(x);
  x[i] = v;
  return CentralDifference(f_minus, f0, f_plus, h);
}

template <class Cost>
Extended WalkHessian(std::vector<Extended>& x, const std::vector<Extended>& steps, size_t i, size_t j,
                     Cost& cost) {
  const Extended v = x[j];
  const Extended h = steps[i];
  const Extended g0 = WalkGradient(x, steps, i, cost);
  x[j] = CheckedSum(v, h);
  const Extended g_plus = WalkGradient(x, steps, i, cost);
  x[j] = CheckedSum(v, -h);
  const Extended g_minus = WalkGradient(x, steps, i, cost);
  x[j] = v;
  return CentralDifference(g_minus, g0, g_plus, h);
}

// The significant bytes of an extended number (the rest is padding): two
// parameter vectors are the same point when these bytes agree.
constexpr size_t kExtendedBytes = std::numeric_limits<Extended>::digits == 64 ? 10 : sizeof(Extended);

std::string PointKey(const std::vector<Extended>& x) {
  std::string key(x.size() * kExtendedBytes, '\0');
  for (size_t k = 0; k < x.size(); ++k) std::memcpy(key.data() + k * kExtendedBytes, &x[k], kExtendedBytes);
  return key;
}

}  // namespace

TFit::~TFit() = default;

void TFit::SetWorkers(TFitWorkerCost cost, int threads) {
  worker_cost_ = std::move(cost);
  pool_ = worker_cost_ ? std::make_unique<TWorkerPool>(threads < 1 ? 1 : threads) : nullptr;
}

bool TFit::ComputeInParallel(bool gradient, const Extended* base_cost) {
  const size_t n = params_.size();
  std::vector<Extended> base(n), steps(n);
  for (size_t k = 0; k < n; ++k) {
    base[k] = *params_[k].Value;
    steps[k] = params_[k].Step;
  }

  // 1. The serial walk, recording where each cost is taken.
  std::unordered_map<std::string, size_t> index_of;
  std::vector<std::vector<Extended>> points;
  std::vector<size_t> calls;
  std::vector<Extended> values;
  if (base_cost != nullptr) {
    index_of.emplace(PointKey(base), 0);
    points.push_back(base);
    values.push_back(*base_cost);
  }
  auto record = [&](const std::vector<Extended>& x) -> Extended {
    const auto [it, added] = index_of.emplace(PointKey(x), points.size());
    if (added) points.push_back(x);
    calls.push_back(it->second);
    return 0.0L;
  };
  std::vector<Extended> x = base;
  try {
    if (gradient)
      for (size_t i = 0; i < n; ++i) WalkGradient(x, steps, i, record);
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i; j < n; ++j) WalkHessian(x, steps, i, j, record);
  } catch (...) {
    return false;  // a step out of range: the serial walk raises it
  }

  // 2. Each distinct point once, on every thread.
  const size_t known = values.size();
  values.resize(points.size());
  try {
    pool_->Run(points.size() - known, [&](int worker, size_t index) {
      const Extended c = worker_cost_(worker, points[known + index]);
      if (std::isnan(c) || std::isinf(c)) throw EInvalidOp();
      values[known + index] = c;
    });
  } catch (...) {
    return false;
  }

  // 3. The serial arithmetic over the costs found.  A difference that
  // faults is left to the serial walk, which raises it with the variables
  // where it leaves them.
  size_t call = 0;
  auto look_up = [&](const std::vector<Extended>&) -> Extended { return values[calls[call++]]; };
  x = base;
  try {
    if (gradient)
      for (size_t i = 0; i < n; ++i)
        gradient_->SetItem(static_cast<uint32_t>(i + 1), WalkGradient(x, steps, i, look_up));
    for (size_t i = 0; i < n; ++i)
      for (size_t j = i; j < n; ++j) {
        const Extended h = WalkHessian(x, steps, i, j, look_up);
        const auto r = static_cast<uint32_t>(i + 1), c = static_cast<uint32_t>(j + 1);
        hessian_->SetItem(r, c, h);
        if (r != c) hessian_->SetItem(c, r, h);
      }
  } catch (...) {
    return false;
  }

  // 4. The serial fitter's last evaluation, through the cost function.  An
  // error there (a cancel) leaves the variables at that point, as the
  // serial fitter would.
  const std::vector<Extended>& last = points[calls.back()];
  for (size_t k = 0; k < n; ++k) *params_[k].Value = last[k];
  Cost();
  for (size_t k = 0; k < n; ++k) *params_[k].Value = base[k];
  return true;
}

TFit::TFit(const std::vector<Extended*>& params, TFitCostFunction cost)
    : cost_function_(std::move(cost)) {
  params_.reserve(params.size());
  for (Extended* value : params) params_.push_back(TFitParameter{value, 0.0L});
}

void TFit::SetProgress(TFitProgressFunction progress) { progress_ = std::move(progress); }

std::shared_ptr<const ILxFloatMatrix> TFit::GetCovariance() const {
  return fitted_ ? covariance_ : nullptr;
}

// A NaN or infinite cost would make every comparison below meaningless
// (and the trial loop endless), so it is an error like any other fault.
Extended TFit::Cost() {
  const Extended cost = cost_function_();
  if (std::isnan(cost)) throw EInvalidOp();
  if (std::isinf(cost)) throw EOverflow();
  return cost;
}

void TFit::ComputeSteps(Extended c0) {
  for (TFitParameter& p : params_) {
    const Extended value = *p.Value;
    Extended step = FpChecked([&] { return std::fabs(value / kStepFraction); });
    if (step < kMinStep) step = c0 > 1.0L ? c0 * kZeroValueStep : kZeroValueStep;
    p.Step = step;
  }
}

// Component i of the gradient at the current point; parameter i is
// restored to its exact value afterwards.
Extended TFit::GradientComponent(size_t i) {
  Extended* x = params_[i].Value;
  const Extended v = *x;
  const Extended h = params_[i].Step;
  const Extended f0 = Cost();
  *x = CheckedSum(v, h);
  const Extended f_plus = Cost();
  *x = CheckedSum(v, -h);
  const Extended f_minus = Cost();
  *x = v;
  return CentralDifference(f_minus, f0, f_plus, h);
}

// Element (i, j) of the Hessian as the central difference of gradient
// component i along parameter j.  Parameter j moves by the step of
// parameter i, not its own.
Extended TFit::HessianElement(size_t i, size_t j) {
  Extended* x = params_[j].Value;
  const Extended v = *x;
  const Extended h = params_[i].Step;
  const Extended g0 = GradientComponent(i);
  *x = CheckedSum(v, h);
  const Extended g_plus = GradientComponent(i);
  *x = CheckedSum(v, -h);
  const Extended g_minus = GradientComponent(i);
  *x = v;
  return CentralDifference(g_minus, g0, g_plus, h);
}

void TFit::ComputeGradient() {
  for (size_t i = 0; i < params_.size(); ++i)
    gradient_->SetItem(static_cast<uint32_t>(i + 1), GradientComponent(i));
}

void TFit::ComputeHessian() {
  const auto n = static_cast<uint32_t>(params_.size());
  for (uint32_t i = 1; i <= n; ++i)
    for (uint32_t j = i; j <= n; ++j) {
      const Extended h = HessianElement(i - 1, j - 1);
      hessian_->SetItem(i, j, h);
      if (i != j) hessian_->SetItem(j, i, h);
    }
}

void TFit::Iterate(Extended& c0, Extended& c1) {
  const auto n = static_cast<uint32_t>(params_.size());
  c0 = Cost();
  ComputeSteps(c0);
  if (!(pool_ && ComputeInParallel(true, &c0))) {
    ComputeGradient();
    ComputeHessian();
  }

  Extended lambda = kStartLambda;
  Extended prev = c0;
  Extended direction = 1.0L;
  for (;;) {
    // Solve (H with its diagonal scaled by 1 + lambda) * delta = g.
    damped_inverse_->Assign(*hessian_);
    for (uint32_t k = 1; k <= n; ++k) damped_inverse_->MultiplyItem(k, k, 1.0L + lambda);
    damped_inverse_->Invert();
    damped_inverse_->MultiplyVector(*gradient_, *delta_);
    for (uint32_t k = 1; k <= n; ++k) {
      const Extended x = base_point_->GetItem(k);
      const Extended d = delta_->GetItem(k);
      *params_[k - 1].Value = FpChecked([&] { return x - direction * d; });
    }
    c1 = Cost();

    if (c1 > prev) {
      lambda = lambda * kLambdaFactor;
      if (lambda < kLambdaLimit) continue;
    }
    // The whole damping range failed along -A*g: try +A*g once, still
    // measured against the last accepted cost.
    if (lambda > kReverseAbove && direction == 1.0L) {
      lambda = kStartLambda;
      direction = -1.0L;
      continue;
    }
    if (RelativeChangeBelow(prev, c1, kTrialTolerance)) return;
    lambda = lambda / kLambdaFactor;
    prev = c1;
  }
}

void TFit::Fit() {
  fitted_ = false;
  const auto n = static_cast<int64_t>(params_.size());
  hessian_ = CreateMatrix(n, n);
  damped_inverse_ = CreateMatrix(n, n);
  covariance_ = CreateMatrix(n, n);
  gradient_ = CreateFloatVector(n);
  delta_ = CreateFloatVector(n);
  base_point_ = CreateFloatVector(n);

  int iteration = 0;
  Extended c0 = 0.0L;
  Extended c1 = 0.0L;
  do {
    for (size_t k = 0; k < params_.size(); ++k)
      base_point_->SetItem(static_cast<uint32_t>(k + 1), *params_[k].Value);
    Iterate(c0, c1);
    ++iteration;
    if (progress_) progress_(iteration, c0, c1);
  } while (!RelativeChangeBelow(c0, c1, kFitTolerance));

  // The final Hessian reuses the steps of the last iteration.
  if (!(pool_ && ComputeInParallel(false, nullptr))) ComputeHessian();
  hessian_->MultiplyScalar(0.5L);
  covariance_ = CopyMatrix(*hessian_);
  covariance_->Invert();
  fitted_ = true;
}

Extended TFit::ParameterError(int index) const {
  if (!fitted_) throw Exception("No fit has been performed or fit failed.");
  const auto k = static_cast<uint32_t>(index);
  const Extended variance = covariance_->GetItem(k, k);
  // A negative variance means the half Hessian is not positive definite at
  // the result; its square root is an invalid operation, not a number.
  if (variance < 0.0L) throw EInvalidOp();
  return std::sqrt(variance);
}

std::shared_ptr<ILxFit> CreateFit(std::vector<Extended*> params, TFitCostFunction cost) {
  for (Extended* value : params) LxAssert(value != nullptr, "fit parameter address is not null");
  LxAssert(static_cast<bool>(cost), "fit cost function is set");
  return std::make_shared<TFit>(params, std::move(cost));
}

}  // namespace morvex
