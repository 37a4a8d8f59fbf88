// The measured curves of a data set, one per load of each load case, and
// the few statistics over them that the start-value estimate and the fit
// verdict share: the slope at zero slip, a robust estimate of the
// measurement scatter, and a least-squares regression that leaves out what
// the data cannot tell apart.
#pragma once

#include <vector>

#include "tiredata/TireDataSet.h"

namespace morvex {

// One measured curve: one load of one load case.
struct TMeasuredCurve {
  double camber = 0;      // degrees, as in the data
  double gamma = 0;       // radians
  double fz = 0;          // the load
  int case_number = 0;    // 1-based
  std::vector<double> slip;  // slips as the data give them
  std::vector<double> x;     // model input: slip angle in radians, or the slip ratio unchanged
  std::vector<double> y;  // measured values
};

// Every curve of at least `min_points` finite points at a non-zero load,
// in data-set order.  `angles` converts the slips from degrees to radians.
// Malformed cases are skipped.
std::vector<TMeasuredCurve> MeasuredCurves(const TTireDataSet& data, bool angles,
                                           size_t min_points = 4);

// The RMS of the measured values of a data set: the scale against which a
// Jacobian column counts as negligible.  0 for no value.
double DataScale(const TTireDataSet& data);

// The median of the finite values; NaN when there is none.
double Median(std::vector<double> values);

// The largest |value|; 0 for none.
double MaxAbs(const std::vector<double>& values);

// Least squares y ~ sum_k beta_k * columns[k].  The columns are taken in
// order and one is kept only when it adds information to those kept before:
// a column the data cannot tell apart from the others (one load, one camber)
// gets 0.
std::vector<double> Regress(const std::vector<std::vector<double>>& columns,
                            const std::vector<double>& y);

// The straight line through the points nearest to zero slip (a sixth of the
// curve, at least three points): its slope and its value at x = 0.
void CentreLine(const TMeasuredCurve& curve, double& slope, double& offset);

// The scatter of the measurements (a standard deviation), from how far
// each point lies off the straight line through its two neighbours in slip,
// robustly over all curves (median absolute deviation).  The curvature of
// the curves adds to it, so it errs on the large side.  NaN when no curve
// has three points.
double MeasurementScatter(const std::vector<TMeasuredCurve>& curves);

}  // namespace morvex
