// The programme's part of the validation report: what each run fed, the
// USE_MODE reached, every stage's line, and a page per fitted stage.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "report/CombinedCurves.h"
#include "report/ValidationReport.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

bool IsPure(const std::string& name) { return name == "lateral" || name == "aligning" || name == "longitudinal"; }

// Whether a run's feed (the import's stage names) went into `stage`:
// every combined stage takes the combined runs.
bool Feeds(const TProgrammeFeed& feed, const std::string& stage) {
  return feed.stage == stage || (feed.stage == "combined" && !IsPure(stage));
}

std::string FedBy(const TProgrammeResult& programme, const std::string& stage) {
  std::vector<std::string> runs;
  for (const TProgrammeFeed& feed : programme.feeds)
    if (Feeds(feed, stage)) {
      const std::string name = FileName(feed.path);
      if (std::find(runs.begin(), runs.end(), name) == runs.end()) runs.push_back(name);
    }
  return Join(runs, ", ");
}

std::string UseModeLine(int mode) {
  switch (mode) {
    case 4: return "USE_MODE 4: combined slip, the highest mode a property file knows";
    case 3: return "USE_MODE 3: the three pure-slip channels, no combined slip";
    case 2: return "USE_MODE 2: lateral force and aligning moment only";
    case 1: return "USE_MODE 1: longitudinal force only";
    default: return "USE_MODE 0: nothing fitted";
  }
}

std::string Quantity(TCombinedStage stage) {
  switch (stage) {
    case TCombinedStage::kFx: return "Fx";
    case TCombinedStage::kFy: return "Fy";
    case TCombinedStage::kMz: return "Mz";
    case TCombinedStage::kMx: return "Mx";
    case TCombinedStage::kMy: return "My";
  }
  return "";
}

std::string Unit(TCombinedStage stage) {
  return stage == TCombinedStage::kFx || stage == TCombinedStage::kFy ? "[N]" : "[N m]";
}

std::string StageHeading(TCombinedStage stage) {
  switch (stage) {
    case TCombinedStage::kFx: return "Stage Fx combined: longitudinal force under combined slip";
    case TCombinedStage::kFy: return "Stage Fy combined: lateral force under combined slip";
    case TCombinedStage::kMz: return "Stage Mz combined: aligning moment under combined slip";
    case TCombinedStage::kMx: return "Stage Mx: overturning moment";
    case TCombinedStage::kMy: return "Stage My: rolling-resistance moment";
  }
  return "";
}

TReportChart ChartOf(const std::vector<TCombinedCurve>& curves, std::string title, std::string x, std::string y,
                     bool residuals) {
  TReportChart chart;
  chart.title = std::move(title);
  chart.x_title = std::move(x);
  chart.y_title = std::move(y);
  for (const TCombinedCurve& c : curves) {
    TReportSeries series;
    series.title = c.title;
    series.color = c.color;
    series.points = c.points;
    series.measured = c.measured;
    series.joined = residuals;
    series.in_legend = c.in_legend;
    chart.series.push_back(std::move(series));
  }
  return chart;
}

std::string Num(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 4, 0); }

TCombinedStageReport BuildCombinedStage(TCombinedStage which, const TStageResult& stage, const TCombinedModel& model,
                                        const TTireProgrammeResult& result, const TProgrammeResult& programme) {
  const TCombinedDataSet& data = programme.combined;
  const TFitOutcome& outcome = stage.outcome;
  TCombinedStageReport report;
  report.stage = which;
  report.name = stage.name;
  report.heading = StageHeading(which);
  report.runs = FedBy(programme, stage.name);
  report.how = HowFitted(outcome);
  report.termination = outcome.termination;
  report.verdict = outcome.verdict;
  report.verdict_word = StageVerdictWord(stage);

  const TCombinedCurveFit overall = CombinedStageFit(data, model, which);
  report.points = overall.points;
  report.rms = overall.rms;
  report.max_error = overall.max_error;
  report.r_squared = overall.r_squared;
  for (const TCombinedCurveFit& fit : CombinedCurveFits(data, model, which))
    report.curves.push_back({fit.camber, fit.load, fit.slip_angle, fit.points, fit.rms, fit.max_error, fit.r_squared});

  report.has_standard_errors = !outcome.standard_errors.empty();
  for (const std::string& name : CombinedStageCoefficients(which)) {
    TReportCoefficient row;
    row.name = name;
    double TCombinedCoefficients::*member = CombinedMember(name);
    row.value = member ? FloatToStr(result.combined.*member) : std::string("-");
    row.standard_error = kNaN;
    const auto fitted = std::find(outcome.fitted.begin(), outcome.fitted.end(), name);
    if (fitted != outcome.fitted.end()) {
      const size_t k = static_cast<size_t>(fitted - outcome.fitted.begin());
      row.free = true;
      if (k < outcome.standard_errors.size()) row.standard_error = outcome.standard_errors[k];
      if (k < outcome.notes.size()) row.note = outcome.notes[k];
      row.not_determined = !row.note.empty() || (report.has_standard_errors && !std::isfinite(row.standard_error));
    }
    // "REX2 (one load)": held at 0, where the equations ignore it.
    for (const std::string& held : stage.held)
      if (held == name || held.rfind(name + " (", 0) == 0) {
        const size_t open = held.find('(');
        row.note = "held at 0" + (open == std::string::npos ? std::string() : ": " + held.substr(open + 1, held.size() - open - 2));
      }
    report.coefficients.push_back(row);
  }

  const std::string x = "slip ratio [-]";
  const std::string y = Quantity(which) + " " + Unit(which);
  const std::string y_residual = Quantity(which) + " measured - model " + Unit(which);
  for (double camber : CombinedCambers(data)) {
    const std::string at_camber = ", inclination " + Num(camber) + " deg";
    for (double load : CombinedLoads(data, camber)) {
      const std::string at = at_camber + ", " + Num(load) + " N";
      const std::vector<TCombinedCurve> curves = CombinedSlipCurves(data, model, which, camber, load);
      if (curves.empty()) continue;
      report.charts.push_back(ChartOf(curves, Quantity(which) + " per slip angle" + at, x, y, false));
      report.residuals.push_back(ChartOf(CombinedResidualCurves(data, model, which, camber, load),
                                         Quantity(which) + " measured - model" + at, x, y_residual, true));
    }
    if (which == TCombinedStage::kFy)
      report.ellipses.push_back(ChartOf(FrictionEllipseCurves(data, model, camber),
                                        "Friction ellipse per load" + at_camber, "Fx [N]", "Fy [N]", false));
  }
  return report;
}

TReportStageRow StageRow(const TStageResult& stage) {
  TReportStageRow row;
  row.name = stage.name;
  row.fitted = stage.fitted;
  row.points = stage.points;
  row.verdict = StageVerdictWord(stage);
  row.rms = stage.fitted ? stage.rms : kNaN;
  row.held = Join(stage.held, ", ");
  if (!stage.fitted) {
    row.reason = stage.not_fitted_reason;
  } else {
    std::vector<std::string> reasons;
    for (const TVerdictReason& reason : stage.outcome.verdict.reasons) reasons.push_back(reason.text);
    row.reason = Join(reasons, "; ");
  }
  return row;
}

std::string SourceOf(double used, double found, const std::string& source, const char* given) {
  if (std::isfinite(found) && used == found && !source.empty()) return source;
  return given;
}

}  // namespace

std::string StageVerdictWord(const TStageResult& stage) {
  if (!stage.fitted) return "not fitted";
  if (stage.outcome.termination == TFitTermination::kCancelled) return "cancelled";
  return stage.outcome.verdict.poor ? "poor" : "good";
}

TProgrammeReport BuildProgrammeReport(const TReportProgrammeInput& input) {
  if (input.result == nullptr || input.programme == nullptr)
    throw Exception("A programme's report needs its fit and its data");
  const TTireProgrammeResult& result = *input.result;
  const TProgrammeResult& programme = *input.programme;

  TProgrammeReport report;
  report.runs = input.runs;
  if (report.runs.empty())
    for (const TProgrammeFeed& feed : programme.feeds)
      if (std::find(report.runs.begin(), report.runs.end(), feed.path) == report.runs.end())
        report.runs.push_back(feed.path);
  for (const TProgrammeFeed& feed : programme.feeds)
    report.feeds.push_back({FileName(feed.path), feed.stage, feed.set_points, feed.points, feed.note});

  const double fz0 = result.coefficients.Value("Fz0");
  const double r0 = result.coefficients.Value("R0");
  report.rated_load = "Fz0 " + ReportNumber(fz0) + " N (" + SourceOf(fz0, programme.fz0, programme.fz0_source, "given") + ")";
  report.radius = "R0 " + ReportNumber(r0) + " m (" + SourceOf(r0, programme.r0, programme.r0_source, "given") + ")";
  report.use_mode = result.use_mode;
  report.use_mode_line = UseModeLine(result.use_mode);
  report.cancelled = result.cancelled;

  const TCombinedModel model = MakeCombinedModel(result.coefficients, result.combined, input.longvl);
  for (const TStageResult& stage : result.stages) {
    report.stages.push_back(StageRow(stage));
    if (!stage.fitted) {
      report.not_fitted.push_back(report.stages.back());
      continue;
    }
    if (IsPure(stage.name)) {
      const TFitChannel channel = stage.name == "lateral"    ? TFitChannel::kLateral
                                  : stage.name == "aligning" ? TFitChannel::kAligning
                                                             : TFitChannel::kLongitudinal;
      const std::optional<TTireDataSet>& data = channel == TFitChannel::kLateral    ? programme.lateral
                                                : channel == TFitChannel::kAligning ? programme.aligning
                                                                                    : programme.longitudinal;
      if (!data) throw Exception("The programme's data hold no " + stage.name + " set for its fitted stage");
      TReportChannelInput channel_input{channel, &*data, &result.coefficients, stage.outcome, FedBy(programme, stage.name)};
      TChannelReport page = BuildChannelReport(channel_input);
      page.heading = "Stage " + stage.name + ": " + page.heading;
      page.verdict_word = StageVerdictWord(stage);
      report.pure.push_back(std::move(page));
      continue;
    }
    for (TCombinedStage which :
         {TCombinedStage::kFx, TCombinedStage::kFy, TCombinedStage::kMz, TCombinedStage::kMx, TCombinedStage::kMy})
      if (stage.name == CombinedStageName(which))
        report.combined.push_back(BuildCombinedStage(which, stage, model, result, programme));
  }
  return report;
}

}  // namespace morvex
