#include "report/ValidationReport.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The result plot's colour index runs through the green component and
// wraps at 256.
int GreenOf(size_t index) { return static_cast<int>((30 * index) % 256); }

std::vector<std::pair<double, double>> SortedBySlip(std::vector<std::pair<double, double>> points) {
  std::stable_sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return points;
}

std::string ChartTitleOf(TFitChannel channel, double camber, const std::string& source, bool residuals) {
  std::string title = ChannelHeading(channel);
  if (residuals) title += ", measured - model";
  title += ", camber " + ReportNumber(camber) + " deg";
  if (!source.empty()) title += ", " + source;
  return title;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string HowFitted(const TFitOutcome& outcome) {
  if (outcome.termination == TFitTermination::kNotRun) return "coefficients evaluated on the data; no fit was run";
  std::string optimizer = outcome.optimizer_label;
  if (optimizer.empty()) {
    switch (outcome.optimizer) {
      case TOptimizerChoice::kLevenbergMarquardt: optimizer = "Levenberg-Marquardt"; break;
      case TOptimizerChoice::kDifferentialEvolution: optimizer = "differential evolution"; break;
      case TOptimizerChoice::kTrustRegion: optimizer = "trust region"; break;
    }
  }
  std::string how = "fitted by " + optimizer + " (" + TerminationName(outcome.termination);
  if (outcome.iterations > 0) how += ", " + std::to_string(outcome.iterations) + " iterations";
  how += ")";
  return how;
}

TChannelReport BuildChannelReport(const TReportChannelInput& input) {
  if (input.data == nullptr || input.coefficients == nullptr)
    throw Exception("A report channel needs its data and its coefficients");
  const TTireDataSet& data = *input.data;
  const TCoefficientSet& set = *input.coefficients;
  TFitOutcome outcome = input.outcome;
  outcome.channel = input.channel;

  TChannelReport report;
  report.channel = input.channel;
  report.heading = ChannelHeading(input.channel);
  report.data_file = input.data_file;
  report.termination = outcome.termination;
  report.how = HowFitted(outcome);
  report.fit = BuildFitReport(outcome, set, data);
  report.verdict = outcome.verdict;
  report.verdict_word = outcome.verdict.poor ? "poor" : "good";
  report.has_standard_errors = report.fit.has_standard_errors;

  // Per-curve R^2 beside the fit report's RMS and largest error.
  size_t curve_index = 0;
  for (const TLoadCase& lc : data.Cases)
    for (size_t j = 0; j < lc.LoadCount(); ++j, ++curve_index) {
      TReportCurveRow row;
      if (curve_index < report.fit.curves.size()) {
        const TCurveFit& fit = report.fit.curves[curve_index];
        row.case_number = fit.case_number;
        row.camber = fit.camber;
        row.load = fit.load;
        row.points = fit.points;
        row.rms = fit.rms;
        row.max_error = fit.max_error;
      }
      // Over the measured points only: a gap in a recording (a value that
      // is not a number) is no point of the curve.
      long double sum = 0, squares = 0, ssr = 0;
      size_t n = 0;
      for (size_t r = 0; r < lc.RowCount(); ++r) {
        const double measured = lc.Value(r, j);
        if (!std::isfinite(measured) || !std::isfinite(lc.Slips[r])) continue;
        const double error = measured - EvaluatePoint(input.channel, set, lc.Camber, lc.Loads[j], lc.Slips[r]);
        sum += measured;
        squares += static_cast<long double>(measured) * measured;
        ssr += static_cast<long double>(error) * error;
        ++n;
      }
      const long double sst = n > 0 ? squares - sum * sum / n : 0;
      row.r_squared = sst > 0 ? static_cast<double>(1.0L - ssr / sst) : kNaN;
      report.curves.push_back(row);
    }

  // The channel's coefficients in free-box order; what the fit changed
  // carries its standard error and note.
  for (std::string_view name : FreeOrder(input.channel)) {
    TReportCoefficient row;
    row.name = std::string(name);
    row.value = set.Text(name);
    row.standard_error = kNaN;
    const auto fitted = std::find_if(report.fit.coefficients.begin(), report.fit.coefficients.end(),
                                     [&](const TFittedCoefficient& c) { return c.name == name; });
    if (fitted != report.fit.coefficients.end()) {
      row.free = true;
      row.standard_error = fitted->standard_error;
      row.note = fitted->note;
      row.not_determined = !fitted->note.empty() || (report.has_standard_errors && !std::isfinite(fitted->standard_error));
    } else {
      row.free = outcome.fitted.empty() && outcome.termination == TFitTermination::kNotRun && set.Free(name);
    }
    report.coefficients.push_back(row);
  }

  try {
    report.advice = AdviseOnData(input.channel, set, data);
  } catch (const std::exception& error) {
    report.advice_error = error.what();
  }

  AddDataRanges(report.ranges, data, input.channel != TFitChannel::kLongitudinal);

  const std::string source = BaseName(input.data_file);
  for (const TLoadCase& lc : data.Cases) {
    if (lc.LoadCount() == 0 || lc.RowCount() == 0) continue;
    report.charts.push_back(CaseChart(input.channel, lc, set, source));
    report.residuals.push_back(ResidualChart(input.channel, lc, set, source));
  }
  return report;
}

std::string ReportNumber(double value) {
  if (std::isnan(value)) return "-";
  return FloatToStrF(value, TFloatFormat::kGeneral, 6, 0);
}

std::string ChannelHeading(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "Lateral force Fy";
    case TFitChannel::kAligning: return "Aligning moment Mz";
    case TFitChannel::kLongitudinal: return "Longitudinal force Fx";
  }
  return "";
}

std::pair<std::string, std::string> ChannelAxisTitles(TFitChannel channel, bool residuals) {
  std::string quantity = "Fy";
  std::string unit = "[N]";
  if (channel == TFitChannel::kAligning) {
    quantity = "Mz";
    unit = "[N m]";
  } else if (channel == TFitChannel::kLongitudinal) {
    quantity = "Fx";
  }
  const std::string x = channel == TFitChannel::kLongitudinal ? "slip ratio [-]" : "slip angle [deg]";
  return {x, residuals ? quantity + " measured - model " + unit : quantity + " " + unit};
}

TReportChart CaseChart(TFitChannel channel, const TLoadCase& lc, const TCoefficientSet& set,
                       const std::string& source) {
  TReportChart chart;
  chart.title = ChartTitleOf(channel, lc.Camber, source, false);
  std::tie(chart.x_title, chart.y_title) = ChannelAxisTitles(channel, false);
  const size_t loads = lc.LoadCount();
  for (size_t i = 0; i < loads; ++i) {
    TReportSeries model{"MF model " + FloatToStr(lc.Loads[i]), {255, GreenOf(i), 0}, {}};
    for (double slip : lc.Slips)
      model.points.emplace_back(slip, EvaluatePoint(channel, set, lc.Camber, lc.Loads[i], slip));
    model.points = SortedBySlip(std::move(model.points));
    chart.series.push_back(std::move(model));
  }
  for (size_t k = 0; k < loads; ++k) {
    TReportSeries measured{"tire data " + FloatToStr(lc.Loads[k]), {0, GreenOf(loads + k), 255}, {}, true};
    for (size_t r = 0; r < lc.RowCount(); ++r) measured.points.emplace_back(lc.Slips[r], lc.Value(r, k));
    measured.points = SortedBySlip(std::move(measured.points));
    chart.series.push_back(std::move(measured));
  }
  return chart;
}

TReportChart ResidualChart(TFitChannel channel, const TLoadCase& lc, const TCoefficientSet& set,
                           const std::string& source) {
  TReportChart chart;
  chart.title = ChartTitleOf(channel, lc.Camber, source, true);
  std::tie(chart.x_title, chart.y_title) = ChannelAxisTitles(channel, true);
  for (size_t k = 0; k < lc.LoadCount(); ++k) {
    TReportSeries residual{"residual " + FloatToStr(lc.Loads[k]), {0, GreenOf(k), 255}, {}, true, true};
    for (size_t r = 0; r < lc.RowCount(); ++r) {
      const double model = EvaluatePoint(channel, set, lc.Camber, lc.Loads[k], lc.Slips[r]);
      residual.points.emplace_back(lc.Slips[r], lc.Value(r, k) - model);
    }
    residual.points = SortedBySlip(std::move(residual.points));
    chart.series.push_back(std::move(residual));
  }
  return chart;
}

std::vector<std::string> RangeLines(const TTirRanges& ranges) {
  constexpr double kDeg = 180.0 / M_PI;
  std::vector<std::string> lines;
  auto span = [](const std::pair<double, double>& r, double scale) {
    return ReportNumber(r.first * scale) + " to " + ReportNumber(r.second * scale);
  };
  if (ranges.load) lines.push_back("load (FZMIN, FZMAX) " + span(*ranges.load, 1) + " N");
  if (ranges.slip_angle)
    lines.push_back("slip angle (ALPMIN, ALPMAX) " + span(*ranges.slip_angle, kDeg) + " deg (" +
                    span(*ranges.slip_angle, 1) + " rad)");
  if (ranges.slip_ratio) lines.push_back("slip ratio (KPUMIN, KPUMAX) " + span(*ranges.slip_ratio, 1));
  if (ranges.camber)
    lines.push_back("camber (CAMMIN, CAMMAX) " + span(*ranges.camber, kDeg) + " deg (" + span(*ranges.camber, 1) +
                    " rad)");
  return lines;
}

TValidationReport BuildValidationReport(const TReportInputs& inputs) {
  TValidationReport report;
  report.title = inputs.title;
  report.created = inputs.created;
  report.source_files = inputs.source_files;
  report.import_report = inputs.import_report;
  for (const TReportChannelInput& channel : inputs.channels) report.channels.push_back(BuildChannelReport(channel));
  if (inputs.programme) report.programme = BuildProgrammeReport(*inputs.programme);
  return report;
}

}  // namespace morvex
