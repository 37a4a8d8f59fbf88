// The verdict on a finished fit: "good", or "poor" with the reasons in
// words and, for each, what to try; and apart from it the notes, facts
// about the result that never make it poor.  The window and morvex-fit show
// the same verdict.
//
// A fit is poor only when a clearly better fit of the same model to the
// same data exists, or when the data cannot support the fit.  Quality rules
// (each can make a fit poor):
//   - optimizer-failed   the optimizer stopped with an error (the reason is
//                        the error's own text);
//   - cancelled          the user stopped it before it finished;
//   - model-fault        the model cannot be evaluated at the result;
//   - too-few-points     fewer than about 3 measured points per free
//                        coefficient (fewer points than free coefficients is
//                        refused before any fit: RequireEnoughPoints);
//   - short-slip-range   most curves stop before their peak while peak or
//                        curvature coefficients are free: those are
//                        extrapolated, not measured;
//   - low-r2             R^2 = 1 - SSR/SST is under 0.9: the model explains
//                        less than nine tenths of the variation of the
//                        measurements, far below any Magic Formula fit of
//                        steady-state pure-slip data;
//   - misfit             the RMS of the residuals is more than 4 times the
//                        noise level, taken as the larger of the neighbour
//                        scatter (MeasurementScatter) and what each curve
//                        fitted alone leaves (CurveFitFloor), and a fit of
//                        the channel from estimated start values does
//                        clearly better (or cannot be made);
//   - better-fit         the residuals are suspect (above 4 times the
//                        neighbour scatter, or a residual variance 1.5 times
//                        that of the curves' own fits) and a fit of the
//                        channel (every coefficient free but the rated load)
//                        from start values estimated from the data leaves a
//                        residual variance, cost / (points - free), 1.5
//                        times lower: a coefficient fixed at a wrong value
//                        or a neighbouring valley.  Residuals above the
//                        noise that no fit removes (binned rig data whose
//                        curves disagree with one another, a load held off
//                        its set-point) are a note, residuals-above-noise;
//   - cost-rose          it ended with a cost more than 0.1 % above that of
//                        its start values;
//   - cost-not-lowered   it ended at the start's cost on a fit poor by one
//                        of the measures above, the start not being a fit
//                        itself;
//   - iteration-limit    the trust region was still at its iteration cap
//                        after its continued rounds, or the search's best
//                        cost still fell by more than 1 % over its last
//                        tenth of generations;
//   - slope-sign         the model's slope at zero slip has the opposite
//                        sign to the data's on most curves (a cornering
//                        stiffness of the wrong sign).
// Notes (never make a fit poor):
//   - at-bound           a searched coefficient ended at or beyond an edge
//                        of its interval: the best value may lie outside it;
//   - curvature-clamped  the curvature factor E exceeds 1 (and is used as 1)
//                        on most points of a curve: published tires do so
//                        at high load or camber where their data need it;
//   - peak-sign          the peak factor D of the lateral or longitudinal
//                        force is negative on most curves: with B it is the
//                        mirror image of a positive one, the same curves
//                        (the estimate always ends on the positive one).
#pragma once

#include <cstddef>
#include <string>

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// The verdict's thresholds.
struct TVerdictOptions {
  // R^2 under this is poor.
  double poor_r_squared = 0.9;
  // Residuals (RMS) above this multiple of the noise level are poor.
  double poor_noise_ratio = 4.0;
  // A residual variance above this multiple of the curves' own fits' makes
  // the verdict look for a better fit.
  double suspect_variance_ratio = 1.5;
  // A fit whose residual variance is this many times lower is clearly better.
  double better_fit_ratio = 1.5;
  // A cost above the start's by more than this share is a rise: the
  // Levenberg-Marquardt path's write-back with 5 decimals alone may lift a
  // solution's cost by a few millionths.
  double cost_rise_tolerance = 1e-3;
  // Fewer measured points per free coefficient than this are too few.
  double points_per_coefficient = 3.0;
  // A curve counts as clamped, sign-flipped or short of its peak when this
  // share of its points, or of the curves, is.
  double most = 0.5;
  // Whether the verdict may fit the channel from estimated start values to
  // find a better fit (set false where a verdict must be cheap).
  bool reference_fit = true;
};

// Kept for callers of the former constants.
inline constexpr double kPoorRSquared = 0.9;
inline constexpr double kPoorScatterRatio = 4.0;

// Judges the fit of `outcome` with the set as it now stands over `data`.
// Never throws for a model that cannot be evaluated: that is a reason too.
TFitVerdict JudgeFit(const TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data,
                     const TVerdictOptions& options = {});

// "good", or "poor" and the reasons' codes: "poor reason=low-r2,misfit".
std::string VerdictLine(const TFitVerdict& verdict);

// Records that the fit started from values that were themselves a fit (the
// estimate's, or an earlier result), and judges it again: ending at the
// start's cost is then no fault of its own.
void MarkStartAsFit(TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data);

// The measured points of the channel's curves (finite values at a non-zero
// load).
size_t ChannelPointCount(TFitChannel channel, const TTireDataSet& data);

// The refusal of a fit with fewer points than free coefficients.
std::string FewPointsMessage(size_t points, size_t free);

// Raises morvex::Exception with FewPointsMessage when `data` hold fewer
// points of the channel than `free` coefficients.
void RequireEnoughPoints(TFitChannel channel, const TTireDataSet& data, size_t free);

}  // namespace morvex
