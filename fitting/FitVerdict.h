// The verdict on a finished fit: "good", or "poor" with the reasons in
// words and, for each, what to try.  The window and morvex-fit show the
// same verdict.
//
// A fit is poor when any of these holds:
//   - optimizer-failed   the optimizer stopped with an error (the reason is
//                        the error's own text);
//   - cancelled          the user stopped it before it finished;
//   - cost-rose          it ended with a cost more than 0.1 % above that of its
//                        start values;
//   - cost-not-lowered   it ended at the start's cost and the fit is poor by
//                        one of the measures below (a fit repeated from a
//                        good solution stays good);
//   - low-r2             R^2 = 1 - SSR/SST is under 0.9: the model explains
//                        less than nine tenths of the variation of the
//                        measurements.  A Magic Formula fit of steady-state
//                        pure-slip data explains well over 99 % of it
//                        (0.9999 on the sample data, 0.999 and more on the
//                        published tires of the benchmark with 1 % noise),
//                        so a value this low means a wrong valley or wrong
//                        fixed values, not noisy data;
//   - misfit             the RMS of the residuals is more than 4 times the
//                        scatter of the measurements (MeasurementScatter):
//                        the curves' shape is missed.  This catches fits
//                        stuck in a neighbouring valley at tens of times the
//                        best cost, whose R^2 can still exceed 0.98;
//   - iteration-limit    the trust region was still at its iteration cap
//                        after its continued rounds, or the search's best
//                        cost still fell by more than 1 % over its last
//                        tenth of generations;
//   - at-bound           a coefficient of a search ended at or beyond an
//                        edge of its interval: the best value may lie
//                        outside it;
//   - curvature-clamped  the curvature factor E exceeds 1 (and is used as 1)
//                        on most points of a curve;
//   - slope-sign         the model's slope at zero slip has the opposite
//                        sign to the data's on most curves (a cornering
//                        stiffness of the wrong sign);
//   - peak-sign          the peak factor D of the lateral or longitudinal
//                        force is negative on most curves: the mirror image
//                        of a tire (D and B negated together), which fits the
//                        curves equally well but holds no real tire.
#pragma once

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// R^2 under this is poor.
inline constexpr double kPoorRSquared = 0.9;
// Residuals (RMS) above this multiple of the measurement scatter are poor.
inline constexpr double kPoorScatterRatio = 4.0;

// Judges the fit of `outcome` with the set as it now stands over `data`.
// Never throws for a model that cannot be evaluated: that is a reason too.
TFitVerdict JudgeFit(const TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data);

// "good", or "poor" and the reasons' codes: "poor reason=low-r2,misfit".
std::string VerdictLine(const TFitVerdict& verdict);

}  // namespace morvex
