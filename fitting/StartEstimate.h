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
TStartEstimate EstimateStartValues(TFitChannel channel, TCoefficientSet& set,
                                   const TTireDataSet& data);

}  // namespace morvex
