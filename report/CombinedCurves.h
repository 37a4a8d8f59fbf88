// The curves of combined slip: the data of a test programme's combined
// runs next to the fitted model, computed without any drawing toolkit so
// that the window's "Combined" page and the validation report draw the
// same curves, and tests check them directly.
//
//   - a quantity (Fx, Fy, Mz, Mx or My) against slip ratio at one
//     inclination and one load, one colour per held slip angle: the
//     measured points as markers, the model as a line over the slip ratios
//     the data swept at that angle;
//   - the friction ellipse, Fy against Fx, at one inclination, one colour
//     per load: the measured points, and the model's Fx, Fy as the slip
//     ratio sweeps at each held slip angle of that load;
//   - the residuals (measured - model) of a quantity against slip ratio,
//     and the fit of each held (inclination, load, slip angle) curve.
//
// The model is the one of tiremodel/CombinedSlip.h (CombinedPointAt) at the
// pure-slip coefficients and combined coefficients the programme fit gave.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "fitting/CombinedStages.h"
#include "report/ReportColor.h"
#include "tiredata/CombinedData.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// Everything the combined model needs, read once from a coefficient set.
struct TCombinedModel {
  TLateralCoefficients lateral;
  TAligningCoefficients aligning;
  TLongitudinalCoefficients longitudinal;
  TCombinedCoefficients combined;
  double r0 = 0;
  double longvl = 16.7;  // m/s
};

// The model of `pure` (Fz0, R0 and the three pure-slip channels; a text
// that is not a number raises EConvertError) with `combined`.
TCombinedModel MakeCombinedModel(const TCoefficientSet& pure, const TCombinedCoefficients& combined, double longvl);

// A curve: a model line in evaluation order (not sorted: the ellipse turns
// back on itself), measured markers, or residuals (measured markers joined
// in slip-ratio order).
struct TCombinedCurve {
  std::string title;
  TReportColor color;
  std::vector<std::pair<double, double>> points;
  bool measured = false;
  bool in_legend = true;  // false: markers, or a further line of a load already named
};

// The held values, ascending: inclinations of the data; loads at an
// inclination; slip angles at an inclination and load.  The set-points of a
// programme are found per sweep, so one held load differs a little from one
// slip angle to the next: values within 0.3 deg, or loads within 8 %, are
// one set-point, given by their mean.  The curves below take the samples
// near a set-point and evaluate the model at their own mean set-points.
std::vector<double> CombinedCambers(const TCombinedDataSet& data);
std::vector<double> CombinedLoads(const TCombinedDataSet& data, double camber);
std::vector<double> CombinedSlipAngles(const TCombinedDataSet& data, double camber, double load);

// The quantity of `stage` (Fx, Fy, Mz, Mx or My) against slip ratio at
// `camber` and `load`: per held slip angle, the model line ("-3 deg", 41
// points over the slip ratios measured there) then the measured points
// ("data -3 deg", out of the legend), in the same colour.  Points where the quantity was not
// measured are left out; a slip angle with none gets no curves.
std::vector<TCombinedCurve> CombinedSlipCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                               TCombinedStage stage, double camber, double load);

// Fy against Fx at `camber`: per load, one model line per held slip angle
// over its measured slip ratios (the first titled "4000 N" in the legend,
// the others out of it), then the measured points ("data 4000 N", out of
// the legend).
std::vector<TCombinedCurve> FrictionEllipseCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                                  double camber);

// Measured - model of the quantity of `stage` against slip ratio at
// `camber` and `load`, one measured curve per held slip angle ("-3 deg", in
// the colour of CombinedSlipCurves), ascending in slip ratio.  Unlike the
// model lines, each point is evaluated at its own set-points and speed, as
// the stage's fit evaluates it; a point the stage does not use (My without
// the wheel's speed) is left out.
std::vector<TCombinedCurve> CombinedResidualCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                                   TCombinedStage stage, double camber, double load);

// The fit of one held (inclination, load, slip angle) curve of a stage.
struct TCombinedCurveFit {
  double camber = 0, load = 0, slip_angle = 0;  // the set-points (means)
  size_t points = 0;
  double rms = 0;        // of measured - model
  double max_error = 0;  // largest |measured - model|
  double r_squared = 0;  // 1 - SSR/SST over the curve; NaN when its values do not vary
};

// Every held curve of the stage, inclination, then load, then slip angle
// ascending, from the residuals of CombinedResidualCurves; curves without
// a point are left out.
std::vector<TCombinedCurveFit> CombinedCurveFits(const TCombinedDataSet& data, const TCombinedModel& model,
                                                 TCombinedStage stage);

// The same over every point the stage uses (set-points NaN).
TCombinedCurveFit CombinedStageFit(const TCombinedDataSet& data, const TCombinedModel& model, TCombinedStage stage);

}  // namespace morvex
