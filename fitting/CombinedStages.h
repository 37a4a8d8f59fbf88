// The combined-slip stages of a tire's fit, run after the pure-slip fits
// with every pure-slip coefficient fixed, as engineers fit them:
//
//   kFx  the weight Gxa on Fx(kappa, alpha):  RBX1, RBX2, RCX1, REX1, REX2, RHX1
//   kFy  the weight Gyk and the kappa-induced force SVyk on Fy(kappa, alpha):
//        RBY1-3, RCY1, REY1-2, RHY1-2, RVY1-6
//   kMz  the arm s of Fx in the aligning moment: SSZ1-4
//   kMx  the overturning moment: QSX1-3
//   kMy  the rolling-resistance moment: QSY1-4
//
// The equations are those of tiremodel/CombinedSlipKernels.h.  A stage
// fits only its own coefficients; the others keep the values `combined`
// holds, so the stages run in the order above (Mz reads the Fx and Fy of
// the first two stages, Mx the Fy, My the Fx).
//
// Each stage:
//   - takes the points whose quantity was measured (not NaN) at a positive
//     load, and for My a measured, non-zero speed;
//   - estimates start values from those points alone (never from the values
//     `combined` holds on entry): the ratio of the measured force to the
//     pure-slip one gives the weights, a coarse search over the shape of
//     the weights picks the start, and the terms linear in their
//     coefficients (SVyk's peak, s, Mx, My) are solved by linear least
//     squares;
//   - fits by a trust-region least-squares solver with automatic
//     differentiation of the kernels (the Ceres solver, as TrustRegionFit);
//   - judges the result (good, or poor with reasons, as TFitVerdict), and
//     gives standard errors scaled by the residual variance, with "X is not
//     determined: ..." notes from the Jacobian at the solution.
// Coefficients the data cannot tell are held at 0, the value at which the
// equations ignore them, and named in `held`: the load-change terms (REX2,
// REY2, RHY2, RVY2, SSZ4) with one load, the camber terms (RVY3, SSZ3,
// SSZ4, QSX2) with one camber, the speed terms of My with too few speeds
// (QSY3 with one, QSY4 with fewer than three), and SVyk's six (RVY1-6)
// when its peak lowers the cost of the best start by less than three times
// what as many coefficients fitted to noise would.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiredata/CombinedData.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CombinedSlipKernels.h"

namespace morvex {

enum class TCombinedStage { kFx, kFy, kMz, kMx, kMy };

// "Fx combined", "Fy combined", "Mz combined", "Mx", "My".
const char* CombinedStageName(TCombinedStage stage);

// The quantity a stage fits, as a sample measured it: fx, fy, mz, mx or my.
double CombinedStageValue(TCombinedStage stage, const TCombinedSample& sample);

// The coefficients a stage fits, in the order of TFitOutcome::fitted.
std::vector<std::string> CombinedStageCoefficients(TCombinedStage stage);

// The result of one stage of a tire's fit (pure-slip stages use it too).
struct TStageResult {
  std::string name;               // "lateral", "Fx combined", ...
  size_t points = 0;              // measured points the stage used
  bool fitted = false;            // false: not run, for `not_fitted_reason`
  std::string not_fitted_reason;  // "the data hold no measured Mx", ...
  // The fit: fitted coefficients, standard errors (NaN: not determined),
  // notes, termination, start and final cost, verdict.  `outcome.channel`
  // is the pure-slip channel nearest the stage (kLongitudinal for Fx and
  // My, kLateral for Fy and Mx, kAligning for Mz) and means nothing more.
  TFitOutcome outcome;
  double rms = 0;                 // RMS of the residuals at the result (NaN if not fitted)
  // The estimated start values the winning solve ran from (order of
  // outcome.fitted); empty for a stage not fitted.
  std::vector<double> start_values;
  // Coefficients the data cannot determine, held at 0: "REX2 (one load)".
  std::vector<std::string> held;
  // A stage that fitted and whose verdict is not poor.
  bool Good() const { return fitted && !outcome.verdict.poor; }
};

// Fits one stage.  `pure` supplies the pure-slip coefficients (Fz0, R0 and
// the three channels, all fixed; a text that is not a number raises
// EConvertError), `combined` the other stages' coefficients and receives
// the stage's.  `longvl` is the speed that normalises My's speed terms
// (m/s, LONGVL).  `host` hears the solver's progress and may cancel
// (CancelRequested): the coefficients then hold the best point so far and
// the outcome says kCancelled.  A stage without usable points returns
// fitted = false with the reason and leaves `combined` unchanged.
//
// `start`, when given, replaces the estimate: the solver's one start, by
// coefficient name; exactly the named coefficients are free, the stage's
// others are held at 0.  A name that is not the stage's is refused
// (std::invalid_argument).  For comparing solvers from one start.
TStageResult FitCombinedStage(TCombinedStage stage, const TCoefficientSet& pure,
                              TCombinedCoefficients& combined, const TCombinedDataSet& data, double longvl,
                              IFitHost& host,
                              const std::vector<std::pair<std::string, double>>* start = nullptr);

// The residuals (measured - model) of a stage's points at `combined`, in
// data order; what the tests and the benchmark compare against other
// evaluations.  Points the stage does not use are left out.
std::vector<double> CombinedStageResiduals(TCombinedStage stage, const TCoefficientSet& pure,
                                           const TCombinedCoefficients& combined, const TCombinedDataSet& data,
                                           double longvl);

}  // namespace morvex
