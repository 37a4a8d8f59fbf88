// Least-squares fit of a channel's free coefficients on the residuals
// (measured - model, one per data point), with a trust-region
// Levenberg-Marquardt solver and Jacobians by automatic differentiation of
// the very equations the other fits evaluate.
//
// It minimises the same plain sum of squares as the other optimizers but
// sees every residual and its exact derivatives, so it converges where a
// fitter working on the scalar cost alone stalls.  The aligning moment is
// evaluated as its model object evaluates it: Fz0 and the lateral
// coefficients fixed, R0 from the set, the load change guarded.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

struct TTrustRegionOptions {
  // Radius of the first trust region.  The solver's usual 1e4 lets the
  // first steps jump into a neighbouring valley of the aligning moment;
  // a small radius walks from the start values instead.
  double initial_radius = 1.0;
  int max_iterations = 500;
  // A solver that stops at its iteration cap while the cost still falls is
  // continued from where it stopped, up to this many rounds in all, so that
  // the cap's point is not taken for a result.
  int max_rounds = 4;
  // Polled after every iteration; true stops the fit at its current point.
  std::function<bool()> cancel;
  // Tight enough that exact data fit to a cost near zero.
  double function_tolerance = 1e-12;
  double parameter_tolerance = 1e-12;
  double gradient_tolerance = 1e-14;
};

struct TTrustRegionResult {
  bool usable = false;             // the solver ended with a solution (converged or at the cap)
  bool converged = false;          // a tolerance was met
  bool iteration_limit = false;    // stopped at the iteration cap of its last round
  bool cancelled = false;          // stopped on request; `values` is the point reached
  std::string message;             // the solver's reason for stopping, in its words
  int iterations = 0;
  double final_cost = 0;           // sum of squared residuals at the solution
  std::vector<double> values;      // the fitted values, in the order of `names`
  size_t points = 0;
  std::vector<double> jacobian;    // points x names derivatives of the residuals at the solution
};

// The solver library logs through glog to the terminal; the program reports
// the solver's outcome itself.  Every user of the solver calls this first
// (once per process is enough; later calls do nothing).
void SilenceSolverLog();

// Fits the coefficients `names` of `channel`, starting from the set's
// values; every other coefficient keeps the set's value.  The set is not
// changed.  `progress(iteration, cost)` is called after every iteration.
// A coefficient text that is not a number raises EConvertError; a data set
// with a malformed case raises std::invalid_argument.
TTrustRegionResult FitTrustRegion(TFitChannel channel, const TCoefficientSet& set,
                                  const std::vector<std::string>& names, const TTireDataSet& data,
                                  const TTrustRegionOptions& options = {},
                                  const std::function<void(int, double)>& progress = {});

// The Jacobian of the residuals (measured - model, one row per data point
// in the order of the cost pass) with respect to the coefficients `names`,
// at the set's values, row-major; `points` receives the number of rows.
// Empty when it cannot be evaluated (a non-finite derivative included).
std::vector<double> ResidualJacobian(TFitChannel channel, const TCoefficientSet& set,
                                     const std::vector<std::string>& names, const TTireDataSet& data,
                                     size_t& points);

// The residuals (measured - model, in data order: case by case, load by
// load, slip by slip) and their derivatives with respect to the coefficients
// `names` of `channel`, at the set's values, without fitting: what the
// analysis of what the data can determine needs before any fit.
struct TResidualsAndJacobian {
  size_t points = 0;
  std::vector<double> residuals;  // points
  std::vector<double> jacobian;   // points x names, row-major
  double ssr = 0;                 // sum of squared residuals
};

// Raises as FitTrustRegion does for a text that is not a number or a
// malformed case; a floating-point fault of the model leaves NaN in place.
TResidualsAndJacobian ResidualsAndJacobian(TFitChannel channel, const TCoefficientSet& set,
                                   const std::vector<std::string>& names, const TTireDataSet& data);

}  // namespace morvex
