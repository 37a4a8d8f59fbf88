// Start values estimated from the measured data, the way a tire engineer
// finds them by hand: each measured curve (one camber, one load) is first
// fitted alone with a few shape parameters (peak, shape, stiffness,
// curvature, horizontal and vertical shift); those per-curve values are
// then regressed across load and camber to give the load- and
// camber-dependence coefficients; a least-squares fit of the whole channel
// from there finishes the estimate.  Where the data cannot tell a value,
// physics-based defaults stand in (shape factor about 1.3 for Fy, 1.65 for
// Fx, 1.2 for the pneumatic trail).
//
// Only free coefficients of the channel change; fixed ones keep their texts.
// The aligning moment is estimated with the lateral coefficients as the set
// holds them, as its fit uses them.
#pragma once

#include <string>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

struct TStartEstimate {
  std::vector<std::string> changed;  // the coefficients whose text was replaced
  double cost = 0;                   // sum of squared residuals at the estimate
  std::vector<std::string> notes;    // what the estimate could not tell from the data, in words
};

// Writes estimated start values into the free coefficients of `channel` in
// `set` (general number format).  Raises EConvertError for a coefficient
// text that is not a number and std::invalid_argument when the data hold no
// load case with points.
//
// The peak factor D of a force and its stiffness factor B may change sign
// together without changing a single value of the curves; the estimate
// always ends on the positive peak factor (PDy1/PDx1 > 0 at the rated
// load), which every real tire has in either sign convention.
//
// Fewer measured points than free coefficients are refused
// (std::invalid_argument): no fit can tell that many values from them.
TStartEstimate EstimateStartValues(TFitChannel channel, TCoefficientSet& set,
                                   const TTireDataSet& data);

// What the model can do on each curve alone: every measured curve (one
// camber, one load) fitted with the few parameters of one Magic Formula
// curve (peak, shape, stiffness, curvature and its asymmetry, horizontal and
// vertical shift; for the aligning moment the trail's and the residual
// moment's), as the estimate's first step fits them.  The channel's model
// restricted to one curve has no more freedom than these, so the sum of
// their costs is a floor under the cost any fit of the channel can reach,
// and cost / (points - parameters) estimates the variance the model cannot
// explain, noise included.  Curves with no more points than parameters are
// left out.  The aligning moment uses the lateral set as `set` holds it.
struct TCurveFloor {
  double cost = 0;        // sum of squared residuals of the curves' own fits
  size_t points = 0;      // points of the curves counted
  size_t parameters = 0;  // parameters fitted to them
  size_t curves = 0;
  // cost / (points - parameters); NaN when no curve counts.
  double Variance() const;
};
TCurveFloor CurveFitFloor(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data);

}  // namespace morvex
