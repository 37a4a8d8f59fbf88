// The tire model of a fit channel, evaluated from a coefficient set.
//
// These are the reader-side counterparts of the fit commands: the value of
// the channel's one-point function for given camber, load and slip (what
// the result plot and `morvex-fit eval` show), and the model object's cost
// over a data set for the coefficients as they stand in the set.
#pragma once

#include <string_view>

#include "fitting/FitCommands.h"
#include "numerics/LxTypes.h"

namespace morvex {

// The channel's one-point function (LateralForce, AligningMoment or
// LongitudinalForce) with every coefficient converted afresh from the set;
// the aligning moment takes R0 and Fz0 from the set too.  Raises the
// conversion error for a text that is not a number and the floating-point
// errors of the model.
double EvaluatePoint(TFitChannel channel, const TCoefficientSet& coefficients, double camber,
                     double load, double slip);

// The model object's ComputeCost (sum of squared residuals, extended
// precision) for the set's coefficients over `data`.  For the aligning
// moment, the shared tire radius is set from the set's R0 first, as the
// aligning fit does.  Updates LastCost like every ComputeCost.
Extended ChannelCost(TFitChannel channel, const TCoefficientSet& coefficients,
                     const TTireDataSet& data);

// "lateral", "aligning", "longitudinal".
std::string_view ChannelName(TFitChannel channel);

}  // namespace morvex
