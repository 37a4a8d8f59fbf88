// The result plot: measured curves of one load case next to the Magic
// Formula curves computed from the coefficient set.
//
// The work is split in two.  ComputePlotCurves decides what is drawn (which
// curves, their titles, colours and points) without any chart toolkit, so it
// can be tested on its own.  ShowCurves hands the curves to a Qt Charts
// chart, which is rebuilt whole on every redraw.
//
// For a case with L loads and R slip rows:
//   - with "MF model" ticked, one model curve per load i (titled "MF model "
//     and the load in the general number format, colour (255, 30*i mod 256,
//     0)), with one point per row: the channel's one-point function at that
//     row's slip, the curve's load and the case's camber;
//   - with "Tire data" ticked, one data curve per load k (titled "tire data "
//     and the load, colour (0, 30*s mod 256, 255) with s = k + L when model
//     curves are drawn and s = k otherwise), with the measured values.
// Model curves come first; the legend lists the curves in the same order.
//
// With "pair colours" on, model line and data markers of load i share one
// colour instead, PairedColor(i): a hue of its own per load.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fitting/FitCommands.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

class QChart;

namespace morvex {

struct TPlotColor {
  int red = 0;
  int green = 0;
  int blue = 0;
  friend bool operator==(const TPlotColor&, const TPlotColor&) = default;
};

struct TPlotCurve {
  std::string title;
  TPlotColor color;
  // (slip, value) in the order the rows were evaluated (row order).
  std::vector<std::pair<double, double>> points;
  bool measured = false;  // a data curve: drawn as markers without lines
  bool joined = false;    // a measured curve whose markers are also joined by a line
  // When every camber is drawn: the index of the curve's case, which picks
  // the model line's style and the markers' shape; 0 otherwise.
  int group = 0;
};

// Axis titles with quantity and unit; empty titles leave the axes bare.
struct TAxisTitles {
  std::string x;
  std::string y;
};

struct TPlotRequest {
  TFitChannel channel = TFitChannel::kLateral;  // the model of the visible coefficient page
  bool draw_model = true;                       // "MF model"
  bool draw_data = true;                        // "Tire data"
  // Each load's model line and data markers in one colour of its own
  // (PairedColor) instead of the red model and blue data shades.
  bool paired_colours = false;
  // For ComputeChartCurves: measured - model instead of the curves, and
  // every case of the data set at once instead of the selected one.
  bool residuals = false;
  bool all_cambers = false;
};

// The colour of load `index` when model and data pair: ten hues far apart,
// repeated darker from the eleventh load on.
TPlotColor PairedColor(size_t index);

// Appends the curves of `load_case` to `curves`, one point at a time.  The
// coefficients are read from `coefficients` afresh for every model point, so
// texts typed a moment ago are used.  A null case draws nothing.
//
// A coefficient text that is not a number, or a floating-point fault in a
// model evaluation, raises its error at the first point that needs it; the
// curves and points appended before it stay in `curves`, so the caller can
// still show what was drawn.
void ComputePlotCurves(const TLoadCase* load_case, const TPlotRequest& request,
                       const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves);

// Residual curves for judging a fit: for each load k of the case, one curve
// "residual <load>" of measured - model at every row's slip, drawn as joined
// markers in the colour a lone data curve of that load would have (0,
// 30*k mod 256, 255), or PairedColor(k) with `paired_colours`.  Errors as
// for ComputePlotCurves.
void ComputeResidualCurves(const TLoadCase* load_case, TFitChannel channel,
                           const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves,
                           bool paired_colours = false);

// What the chart draws: the curves (or with `request.residuals` the
// residuals) of case `selected` of `data`; with `request.all_cambers` those
// of every case in data-set order instead, each curve's title followed by
// ", camber <camber>" and its `group` the index of its case.  The colours
// within each case are those of a single case.  Errors as for
// ComputePlotCurves.
void ComputeChartCurves(const TTireDataSet& data, int selected, const TPlotRequest& request,
                        const TCoefficientSet& coefficients, std::vector<TPlotCurve>& curves);

// The title of what ComputeChartCurves draws for the same arguments: the
// selected case's camber, or every case's with `request.all_cambers`; empty
// when there is nothing to draw.
std::string ChartTitleFor(const TTireDataSet& data, int selected, const TPlotRequest& request,
                          std::optional<TFitChannel> data_channel, const std::string& source);

// "slip angle [deg]" / "slip ratio [-]" against "Fy [N]", "Mz [N m]" or
// "Fx [N]"; for residuals the vertical title reads "Fy measured - model [N]".
TAxisTitles AxisTitlesFor(TFitChannel channel, bool residuals);

// The channel a data file says it holds: the first line of a file Morvex's
// import wrote ("Morvex lateral data imported from run.csv"); nullopt for
// any other first line.
std::optional<TFitChannel> DataChannelOfHeader(std::string_view first_line);

// What the chart shows, for its title (on screen and in a saved image):
// "Lateral force Fy, camber 2 deg, lateral.plt"; data of another channel
// than the page's are named ("longitudinal data on the lateral page").
// An empty `source` leaves the file out; a NaN camber the camber.
std::string ChartTitle(TFitChannel page, std::optional<TFitChannel> data, double camber, const std::string& source,
                       bool residuals);
// The title when every camber is drawn: "Lateral force Fy, all cambers
// (-2, 0, 2 deg), lateral.plt"; more than six different cambers are given
// as their range ("all 9 cambers (-4 to 4 deg)").
std::string ChartTitle(TFitChannel page, std::optional<TFitChannel> data, const std::vector<double>& cambers,
                       const std::string& source, bool residuals);

// The points of a curve in ascending order of slip; points of equal slip keep
// their order of evaluation.
std::vector<std::pair<double, double>> SortedBySlip(std::vector<std::pair<double, double>> points);

// Gives `chart` the look of the result plot: no title (the window sets one
// per drawing), legend on top, a
// background gradient ending in (160, 207, 207), a transparent plot area.
void StyleResultChart(QChart* chart);

// Replaces every series of `chart` by one series per curve, in order, with
// the curve's title, colour and points sorted by slip: a model curve as a
// line (QLineSeries), a measured curve as small markers (QScatterSeries) or,
// when joined, as a line with its points marked.  Curves of group g > 0
// (every camber drawn) tell their case apart: model lines by their line
// style (solid, dashed, dotted, ...), markers by their shape (circle,
// square, triangle, diamond, star, pentagon), the legend showing each
// series' own mark.  The legend keeps that
// order, model curves first, while the model lines are drawn above the
// markers so that a good fit stays visible.  Both axes span the points with
// a margin of 4 % on each side, so no marker is cut at the plot's edge, and
// carry `titles`.  An empty list leaves an empty chart without axes.
void ShowCurves(QChart* chart, const std::vector<TPlotCurve>& curves, const TAxisTitles& titles = {});

}  // namespace morvex
