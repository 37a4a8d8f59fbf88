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
// The curves are computed without any chart toolkit, by
// report/CombinedCurves.h, which the validation report draws from too.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

#include "report/CombinedCurves.h"
#include "ui/ResultPlot.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;

namespace morvex {

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
