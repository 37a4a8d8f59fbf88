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
#include "fitting/TireProgramme.h"
#include "report/ReportColor.h"
#include "rigdata/Programme.h"
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

// A tire built from a test programme: the fit of every stage and the data
// imported from the runs.  The pointers must outlive the call to
// BuildValidationReport only.
struct TReportProgrammeInput {
  const TTireProgrammeResult* result = nullptr;  // one TStageResult per stage
  const TProgrammeResult* programme = nullptr;   // the data sets, and which run fed which stage
  std::vector<std::string> runs;                 // the run files in the order given; empty: the feeds' runs
  double longvl = 16.7;                          // m/s, the speed the fit normalised My with
};

// Everything a report is made from.
struct TReportInputs {
  std::string title = "Morvex validation report";
  std::string created;                     // date and time of the report, as shown
  std::vector<std::string> source_files;   // data, run and coefficient files
  std::string import_report;               // the import's report text; empty: none
  std::vector<TReportChannelInput> channels;
  std::optional<TReportProgrammeInput> programme;  // pages after the channels'
};

// One curve of a chart: model curves are lines; measured curves markers,
// and joined markers for residuals.
struct TReportSeries {
  std::string title;
  TReportColor color;
  std::vector<std::pair<double, double>> points;  // ascending slip
  bool measured = false;
  bool joined = false;
  bool in_legend = true;  // false: a further curve of what the legend already names
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

// One run of a programme and what it fed: a line of the programme's import.
struct TReportFeedRow {
  std::string run;         // the file's name
  std::string stage;       // "lateral", ..., "combined", or "nothing"
  std::string set_points;
  size_t points = 0;
  std::string note;
};

// One stage in the programme's summary table.
struct TReportStageRow {
  std::string name;     // "lateral", ..., "Fx combined", "Mx", "My"
  bool fitted = false;
  size_t points = 0;
  std::string verdict;  // "good", "poor", "cancelled" or "not fitted"
  std::string reason;   // a stage not fitted: why; a poor one: its reasons
  double rms = 0;       // NaN when not fitted
  std::string held;     // coefficients held at 0: "REX2 (one load), ..."
};

// The fit of one held (inclination, load, slip angle) curve of a combined
// stage.
struct TReportCombinedRow {
  double camber = 0;
  double load = 0;
  double slip_angle = 0;
  size_t points = 0;
  double rms = 0;
  double max_error = 0;
  double r_squared = 0;
};

// A combined stage's page: its curves against slip ratio at each
// inclination and load, as the window's Combined page draws them, the
// residuals, the per-curve table, its coefficients and verdict.
struct TCombinedStageReport {
  TCombinedStage stage = TCombinedStage::kFx;
  std::string name;             // "Fx combined"
  std::string heading;          // "Stage Fx combined: longitudinal force under combined slip"
  std::string runs;             // the runs that fed it
  std::string how;              // "fitted by trust region (converged, 9 iterations)"
  TFitTermination termination = TFitTermination::kNotRun;
  size_t points = 0;
  double rms = 0, max_error = 0, r_squared = 0;  // over every point of the stage
  std::vector<TReportCombinedRow> curves;
  std::vector<TReportCoefficient> coefficients;  // the stage's, fitted or held at 0
  bool has_standard_errors = false;
  TFitVerdict verdict;
  std::string verdict_word;     // "good", "poor" or "cancelled"
  std::vector<TReportChart> charts;     // per inclination and load: data and model
  std::vector<TReportChart> residuals;  // the same, measured - model
  std::vector<TReportChart> ellipses;   // Fy combined: the friction ellipse per inclination
};

// The programme's part of the report.
struct TProgrammeReport {
  std::vector<std::string> runs;
  std::vector<TReportFeedRow> feeds;
  std::string rated_load;       // "Fz0 4000 N (FNOMIN of car.tdx)"
  std::string radius;           // "R0 0.3 m (RFREE of car.tdx)"
  int use_mode = 0;
  std::string use_mode_line;    // "USE_MODE 4: combined slip, the highest mode a property file knows"
  bool cancelled = false;
  std::vector<TReportStageRow> stages;
  std::vector<TChannelReport> pure;              // each fitted pure-slip stage
  std::vector<TCombinedStageReport> combined;    // each fitted combined stage
  std::vector<TReportStageRow> not_fitted;       // with their reasons: why USE_MODE is not higher
};

struct TValidationReport {
  std::string title;
  std::string created;
  std::vector<std::string> source_files;
  std::string import_report;
  std::vector<TChannelReport> channels;
  std::optional<TProgrammeReport> programme;
};

// Builds the report.  A coefficient text that is not a number raises
// EConvertError; a channel without data or coefficients, or a programme
// without its result or data, raises Exception.
TValidationReport BuildValidationReport(const TReportInputs& inputs);

// The report of one channel (the pages of a channel, and of a programme's
// pure-slip stage).
TChannelReport BuildChannelReport(const TReportChannelInput& input);

// The programme's part: the summary, a channel report per fitted pure-slip
// stage (its data, the programme's coefficient set, the stage's outcome)
// and a combined-stage report per fitted combined stage.
TProgrammeReport BuildProgrammeReport(const TReportProgrammeInput& input);

// The verdict word of a programme's stage: "good", "poor", "cancelled" or
// "not fitted".
std::string StageVerdictWord(const TStageResult& stage);

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

// How the coefficients came about: "fitted by trust region (converged, 12
// iterations)" or "coefficients evaluated on the data; no fit was run".
std::string HowFitted(const TFitOutcome& outcome);

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
