#include "cli/TirProgramme.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {
namespace {

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

}  // namespace

std::string ShortNumber(double value, int digits) {
  return std::isfinite(value) ? FloatToStrF(value, TFloatFormat::kGeneral, digits, 0) : std::string("-");
}

std::string StageSummaryLine(const TStageResult& stage) {
  char head[64];
  std::snprintf(head, sizeof head, "%-13s %7zu points  ", stage.name.c_str(), stage.points);
  std::string line = head + StageVerdictText(stage);
  if (stage.fitted) line += "  RMS " + ShortNumber(stage.rms);
  if (!stage.held.empty()) line += "  held at 0: " + Join(stage.held, ", ");
  return line;
}

bool FeedsStage(const TProgrammeFeed& feed, const TStageResult& stage) {
  if (feed.stage == stage.name) return true;
  return feed.stage == "combined" && stage.name != "lateral" && stage.name != "aligning" &&
         stage.name != "longitudinal";
}

std::string StageVerdictText(const TStageResult& stage) {
  if (!stage.fitted) return "not fitted: " + stage.not_fitted_reason;
  if (stage.outcome.termination == TFitTermination::kCancelled) return "cancelled";
  if (!stage.outcome.verdict.poor) return "good";
  std::string reasons;
  for (const TVerdictReason& reason : stage.outcome.verdict.reasons)
    reasons += (reasons.empty() ? "" : "; ") + reason.text;
  return "poor (" + reasons + ")";
}

TTirExportOptions ProgrammeTirOptions(const TProgrammeResult& programme, const TTireProgrammeResult& result,
                                      const std::vector<std::string>& run_paths,
                                      const std::optional<std::string>& template_path) {
  TTirExportOptions tir;
  // The import gives every run in Morvex's signs (ISO with the lateral
  // force and the aligning moment negated), so the fitted set is in the
  // positive-stiffness convention; the file is written in ISO.
  tir.convention = TSignConvention::kPositiveStiffness;
  tir.template_path = template_path;
  if (result.use_mode >= 4) tir.combined = result.combined;
  if (std::isfinite(programme.longvl) && programme.longvl > 0) tir.longvl = programme.longvl;
  if (std::isfinite(programme.pressure) && programme.pressure > 0) tir.pressure = programme.pressure;
  tir.use_mode = result.use_mode;
  std::vector<std::string> missing;
  for (const TStageResult& stage : result.stages)
    if (!stage.fitted) missing.push_back(stage.name);
  tir.use_mode_note = (result.use_mode >= 4   ? std::string("combined slip")
                       : result.use_mode == 3 ? std::string("uncombined")
                                              : std::string("part of pure slip")) +
                      (missing.empty() ? std::string(": every stage fitted")
                                       : "; not fitted: " + Join(missing, ", ") + " (see the header)");
  std::string runs;
  for (const std::string& path : run_paths)
    runs += (runs.empty() ? "" : ", ") + std::filesystem::path(path).filename().string();
  tir.info.data_file = runs;
  for (const TStageResult& stage : result.stages) {
    std::vector<std::string> fed_by;
    for (const TProgrammeFeed& feed : programme.feeds)
      if (FeedsStage(feed, stage))
        fed_by.push_back(std::filesystem::path(feed.path).filename().string() +
                         (feed.set_points.empty() ? std::string() : " (" + feed.set_points + ")"));
    std::string line = "stage " + stage.name + ": " + std::to_string(stage.points) + " points";
    if (!fed_by.empty()) line += " from " + Join(fed_by, "; ");
    line += ", " + StageVerdictText(stage);
    if (stage.fitted) line += ", RMS " + ShortNumber(stage.rms);
    tir.info.fits.push_back(line);
  }
  for (const std::string& reason : result.mode_reasons) tir.info.fits.push_back("USE_MODE: " + reason);
  const TProgrammeRanges& r = programme.ranges;
  auto range = [](double low, double high) -> std::optional<std::pair<double, double>> {
    if (std::isfinite(low) && std::isfinite(high) && low <= high) return std::pair<double, double>{low, high};
    return std::nullopt;
  };
  tir.info.ranges.load = range(r.fz_min, r.fz_max);
  tir.info.ranges.slip_ratio = range(r.kappa_min, r.kappa_max);
  tir.info.ranges.slip_angle = range(r.alpha_min, r.alpha_max);
  tir.info.ranges.camber = range(r.camber_min, r.camber_max);
  return tir;
}

}  // namespace morvex
