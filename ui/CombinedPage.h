// The "Combined" page: the combined-slip data of a test programme next to
// the fitted model.
//
//   - Fx against slip ratio and Fy against slip ratio at one inclination and
//     one load (the two selectors above the charts), one colour per held
//     slip angle: the measured points as markers, the model as a line over
//     the slip ratios the data swept at that angle;
//   - the friction ellipse, Fy against Fx, at the inclination chosen, one
//     colour per load: the measured points, and the model's Fx, Fy as the
//     slip ratio sweeps at each held slip angle of that load.
//
// The curves are computed without any chart toolkit (CombinedSlipCurves,
// FrictionEllipseCurves), so tests check them directly.  The model is the
// one of tiremodel/CombinedSlip.h (CombinedPointAt) at the pure-slip
// coefficients and combined coefficients the programme fit gave.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

#include "fitting/CombinedStages.h"
#include "tiredata/CombinedData.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/CoefficientSet.h"
#include "ui/ResultPlot.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;

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

// A curve of the page: a model line in evaluation order (not sorted: the
// ellipse turns back on itself), or measured markers.
struct TCombinedCurve {
  std::string title;
  TPlotColor color;
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

// Replaces the series of `chart` by the curves (model lines over the
// markers), axes spanning the points with a 4 % margin rounded out to nice
// numbers, titled.
void ShowCombinedCurves(QChart* chart, const std::vector<TCombinedCurve>& curves, const TAxisTitles& titles);

class TCombinedPage : public QWidget {
  Q_OBJECT

 public:
  explicit TCombinedPage(QWidget* parent = nullptr);

  // Shows `data` against `model`; the selectors are refilled (the first
  // inclination, the load nearest the middle).  Errors of the model's
  // evaluation propagate, leaving the charts as they were drawn.
  void SetResult(const TCombinedDataSet& data, const TCombinedModel& model);
  // Empties the page, with `reason` in place of the charts' title.
  void Clear(const QString& reason);
  bool HasResult() const { return has_result_; }

  QComboBox* CamberSelector() const { return camber_; }
  QComboBox* LoadSelector() const { return load_; }
  QChart* FxChart() const;
  QChart* FyChart() const;
  QChart* EllipseChart() const;

 private:
  void CamberChanged();
  void Redraw();

  TCombinedDataSet data_;
  TCombinedModel model_;
  bool has_result_ = false;
  bool filling_ = false;
  QLabel* note_ = nullptr;
  QComboBox* camber_ = nullptr;
  QComboBox* load_ = nullptr;
  QChartView* fx_view_ = nullptr;
  QChartView* fy_view_ = nullptr;
  QChartView* ellipse_view_ = nullptr;
};

}  // namespace morvex
