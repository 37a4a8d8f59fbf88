// Levenberg-Marquardt minimisation of a scalar cost over some of a model's
// coefficients (K. Levenberg, Quart. Appl. Math. 2 (1944) 164; D. Marquardt,
// SIAM J. Appl. Math. 11 (1963) 431; the damping of the diagonal follows
// Press et al., Numerical Recipes, section 15.5).
//
// The fitter never sees residuals.  It works on the cost alone: the gradient
// and the full Hessian come from nested central finite differences of the
// cost, and each trial step solves (H + lambda * diag(H)) * delta = g by
// inverting the damped matrix.  The fitted parameters are the model's own
// coefficient variables, read and written in place through their
// addresses, so the cost callback simply evaluates the model as it stands.
//
// After convergence the fitter treats the cost as a sum of squared
// residuals and keeps the covariance of the parameters, the inverse of half
// the Hessian; the square roots of its diagonal are the standard errors.
//
// One iteration, from the base point x with cost c0:
//   - the step of every parameter is |value| / 100000, or, when that is
//     below 1e-16 (a value of 0), 1e-10 scaled by c0 when c0 exceeds 1;
//   - g and H by central differences: 3 costs per gradient component and
//     9 per Hessian element of the upper triangle, where element (i, j)
//     perturbs parameter j by the step of parameter i;
//   - trials x - s * (H with diagonal times (1 + lambda))^-1 * g, lambda
//     starting at 0.001.  A trial worse than the last accepted cost raises
//     lambda tenfold (up to 1e18); when the whole range fails, the direction
//     s is reversed once and the range is tried again.  A trial that
//     improves the cost by less than 1e-4 relative ends the iteration;
//     otherwise lambda drops tenfold and the next trial must beat it.
// The fit stops when an iteration improves the cost by less than 1e-6
// relative.  A relative change that cannot be computed (a cost of exactly 0)
// counts as converged.  There is no iteration limit.
//
// Per iteration the cost is evaluated 1 + 3n + 9n(n+1)/2 times plus once per
// trial; the final Hessian costs another 9n(n+1)/2 evaluations.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "numerics/LxFloatMatrix.h"
#include "numerics/LxFloatVector.h"
#include "numerics/LxTypes.h"

namespace morvex {

// The cost at the current values of the parameter variables: takes no
// arguments, returns the cost (smaller is better, never negative for a sum
// of squares).  It may raise; the exception leaves Fit unchanged.  A cost
// that is not a finite number raises EInvalidOp (NaN) or EOverflow
// (infinite) out of Fit.
using TFitCostFunction = std::function<Extended()>;

// Called after every iteration with its 1-based number, the cost at its
// base point and the cost where it ended.  For progress display only: it
// must not touch the parameter variables.
using TFitProgressFunction = std::function<void(int iteration, Extended c0, Extended c1)>;

class ILxFit {
 public:
  virtual ~ILxFit() = default;

  // Fits from the values the parameter variables hold now.  On return they
  // hold the fitted values.  Raises "Invert: Singular matrix" (ELxFloatMatrix)
  // when a damped Hessian or the final half Hessian cannot be inverted,
  // "RowCount < 1 not allowed" for an empty parameter list, and whatever the
  // cost callback raises.  After a failure the variables keep the last values
  // written, which may be a trial or a finite-difference point.
  virtual void Fit() = 0;

  // Standard error of parameter `index` (1-based): the square root of the
  // covariance diagonal.  Before a successful fit raises the general
  // "No fit has been performed or fit failed.", an index outside 1..n the
  // matrix bounds error "Row <index> out of bounds", and a negative
  // diagonal element (a Hessian that is not positive definite there)
  // EInvalidOp.
  virtual Extended ParameterError(int index) const = 0;

  // Installs (or, with an empty function, removes) the progress callback.
  virtual void SetProgress(TFitProgressFunction progress) = 0;

  // The covariance matrix of the last successful fit (n x n, 1-based in the
  // order of the parameter list), or nullptr before one.  Callers check a
  // diagonal element for > 0 before asking for its ParameterError.
  virtual std::shared_ptr<const ILxFloatMatrix> GetCovariance() const = 0;
};

// The cost at explicit parameter values (ordered like the parameter list),
// evaluated on worker `worker`'s own copy of the model (0 is the thread
// that runs the fit).  Called from several threads at once; must return
// exactly what the cost function returns with the variables at those
// values, or raise.
using TFitWorkerCost = std::function<Extended(int worker, const std::vector<Extended>& values)>;

class TWorkerPool;

// One fitted coefficient: the model's variable and its finite-difference step.
struct TFitParameter {
  Extended* Value = nullptr;
  Extended Step = 0.0L;
};

class TFit final : public ILxFit {
 public:
  TFit(const std::vector<Extended*>& params, TFitCostFunction cost);
  ~TFit() override;

  // Takes the finite-difference costs of each gradient and Hessian from
  // `cost` on `threads` threads (the caller's included), each distinct
  // parameter vector once: the Hessian's nested differences visit many
  // vectors two or more times.  Gradient, Hessian, steps, trials and result
  // stay those of the serial fitter to the last bit: the serial walk is
  // replayed with the costs looked up, its last evaluation is repeated
  // through the cost function (so its side effects, such as a stored last
  // cost, are the serial ones), and when any of these evaluations raises,
  // the gradient and Hessian are computed again serially, which raises the
  // serial error with the variables where the serial fitter leaves them.
  void SetWorkers(TFitWorkerCost cost, int threads);

  void Fit() override;
  Extended ParameterError(int index) const override;
  void SetProgress(TFitProgressFunction progress) override;
  std::shared_ptr<const ILxFloatMatrix> GetCovariance() const override;

 private:
  Extended Cost();
  void ComputeSteps(Extended c0);
  Extended GradientComponent(size_t i);
  Extended HessianElement(size_t i, size_t j);
  void ComputeGradient();
  void ComputeHessian();
  // The gradient (when asked) and the Hessian from the worker costs; false
  // when an evaluation raised, with the variables at the base point.
  bool ComputeInParallel(bool gradient, const Extended* base_cost);
  // One iteration from the current parameter values; returns c0 and c1.
  void Iterate(Extended& c0, Extended& c1);

  std::vector<TFitParameter> params_;
  TFitCostFunction cost_function_;
  TFitProgressFunction progress_;

  std::shared_ptr<ILxFloatMatrix> hessian_;
  std::shared_ptr<ILxFloatMatrix> damped_inverse_;
  std::shared_ptr<ILxFloatMatrix> covariance_;
  std::shared_ptr<ILxFloatVector> gradient_;
  std::shared_ptr<ILxFloatVector> delta_;
  std::shared_ptr<ILxFloatVector> base_point_;
  bool fitted_ = false;
  TFitWorkerCost worker_cost_;
  std::unique_ptr<TWorkerPool> pool_;
};

// A fitter over the variables at `params` (in this order; none may be null)
// with the cost `cost`.  Nothing is evaluated here; an empty list is only
// refused by Fit.
std::shared_ptr<ILxFit> CreateFit(std::vector<Extended*> params, TFitCostFunction cost);

}  // namespace morvex
