// The validation report: the document an engineer hands on after a fit.
//
// It is built from what a fit leaves behind: where the data came from (the
// files, and the import's report when the data were imported from a run),
// and for every fitted channel its data set, its coefficient set and the
// fit's outcome.  From those it gathers, once, everything the renderers
// (ReportRender.h: HTML and PDF) show:
//   - every curve (one per load of each load case) as data against model,
//     and the residuals, as the window's result plot draws them;
//   - the per-curve RMS, largest error and R^2;
//   - the coefficient table of the channel: value, free, standard error,
//     and why a coefficient is not determined;
//   - the verdict with its reasons and notes;
//   - the data advice (DataAdvice.h);
//   - the validity ranges a .tir export would carry (files/TirFile.h).
//
// No toolkit is involved: the report is built and drawn without a display.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/TirFile.h"
#include "fitting/DataAdvice.h"
#include "fitting/FitCommands.h"
#include "fitting/FitReport.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// One fitted channel as a fit leaves it.  The pointers must outlive the
// call to BuildValidationReport only.
struct TReportChannelInput {
  TFitChannel channel = TFitChannel::kLateral;
  const TTireDataSet* data = nullptr;
  const TCoefficientSet* coefficients = nullptr;
  TFitOutcome outcome;        // kNotRun: the coefficients were evaluated, not fitted
  std::string data_file;      // the file the data were read from; empty: unknown
};

// Everything a report is made from.
struct TReportInputs {
  std::string title = "Morvex validation report";
  std::string created;                     // date and time of the report, as shown
  std::vector<std::string> source_files;   // data, run and coefficient files
  std::string import_report;               // the import's report text; empty: none
  std::vector<TReportChannelInput> channels;
};

// A colour of the result plot.
struct TReportColor {
  int red = 0;
  int green = 0;
  int blue = 0;
  friend bool operator==(const TReportColor&, const TReportColor&) = default;
};

// One curve of a chart: model curves are lines; measured curves markers,
// and joined markers for residuals.
struct TReportSeries {
  std::string title;
  TReportColor color;
  std::vector<std::pair<double, double>> points;  // ascending slip
  bool measured = false;
  bool joined = false;
};

// One chart: a title, the axis titles and the curves, model curves first.
struct TReportChart {
  std::string title;
  std::string x_title;
  std::string y_title;
  std::vector<TReportSeries> series;
};

// The fit of one measured curve, with its R^2 (NaN when the curve's values
// do not vary).
struct TReportCurveRow {
  int case_number = 0;
  double camber = 0;
  double load = 0;
  size_t points = 0;
  double rms = 0;
  double max_error = 0;
  double r_squared = 0;
};

// One coefficient of the channel as the report lists it.
struct TReportCoefficient {
  std::string name;
  std::string value;            // the set's text
  bool free = false;            // fitted, or free in the set when no fit ran
  double standard_error = 0;    // NaN: unknown or not determined
  bool not_determined = false;  // the fit found the data cannot fix it
  std::string note;             // why not determined; empty otherwise
};

// The report of one channel.
struct TChannelReport {
  TFitChannel channel = TFitChannel::kLateral;
  std::string heading;          // "Lateral force Fy"
  std::string data_file;
  std::string how;              // "fitted by trust region (12 iterations)" or "evaluated, no fit run"
  TFitTermination termination = TFitTermination::kNotRun;
  TFitReport fit;               // overall RMS, max, R^2, curves and fitted coefficients
  std::vector<TReportCurveRow> curves;
  std::vector<TReportCoefficient> coefficients;  // the channel's free-box order
  bool has_standard_errors = false;
  TFitVerdict verdict;
  std::string verdict_word;     // "good" or "poor"
  std::optional<TDataAdvice> advice;
  std::string advice_error;     // why no advice could be made
  TTirRanges ranges;
  std::vector<TReportChart> charts;     // per load case: data and model
  std::vector<TReportChart> residuals;  // per load case: measured - model
};

struct TValidationReport {
  std::string title;
  std::string created;
  std::vector<std::string> source_files;
  std::string import_report;
  std::vector<TChannelReport> channels;
};

// Builds the report.  A coefficient text that is not a number raises
// EConvertError; a channel without data or coefficients raises Exception.
TValidationReport BuildValidationReport(const TReportInputs& inputs);

// The curves of one load case as the window's result plot computes them:
// one model line per load, evaluated at each row's slip with the channel's
// one-point function (fitting/ChannelModel.h), coloured (255, 30*i mod 256,
// 0); then one data curve per load coloured (0, 30*(L+k) mod 256, 255).
TReportChart CaseChart(TFitChannel channel, const TLoadCase& load_case, const TCoefficientSet& set,
                       const std::string& source);

// The residuals of one load case: measured - model for each load, joined
// markers coloured (0, 30*k mod 256, 255).
TReportChart ResidualChart(TFitChannel channel, const TLoadCase& load_case, const TCoefficientSet& set,
                           const std::string& source);

// "Lateral force Fy", "Aligning moment Mz", "Longitudinal force Fx".
std::string ChannelHeading(TFitChannel channel);

// The axis titles of the window's chart: "slip angle [deg]" or "slip ratio
// [-]" against "Fy [N]", "Mz [N m]" or "Fx [N]"; residuals read "Fy measured
// - model [N]".
std::pair<std::string, std::string> ChannelAxisTitles(TFitChannel channel, bool residuals);

// The validity ranges as text, one line per range, in the units of a
// property file and of the data: "load 1800 to 8400 N", "slip angle -12 to
// 12 deg (-0.2094 to 0.2094 rad)", "camber 0 to 4 deg (...)".
std::vector<std::string> RangeLines(const TTirRanges& ranges);

// A number as the report shows it: 6 significant digits; "-" for NaN.
std::string ReportNumber(double value);

}  // namespace morvex
