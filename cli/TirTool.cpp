#include "cli/TirTool.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "files/TirFile.h"
#include "fitting/TireProgramme.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/Programme.h"

namespace morvex {
namespace {

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

std::string Number(double value, int digits = 4) {
  return std::isfinite(value) ? FloatToStrF(value, TFloatFormat::kGeneral, digits, 0) : std::string("-");
}

// The programme's stage a run feed names, by the stage names of the fit.
bool FeedsStage(const TProgrammeFeed& feed, const TStageResult& stage) {
  if (feed.stage == stage.name) return true;
  return feed.stage == "combined" && stage.name != "lateral" && stage.name != "aligning" &&
         stage.name != "longitudinal";
}

std::string VerdictText(const TStageResult& stage) {
  if (!stage.fitted) return "not fitted: " + stage.not_fitted_reason;
  if (stage.outcome.termination == TFitTermination::kCancelled) return "cancelled";
  if (!stage.outcome.verdict.poor) return "good";
  std::string reasons;
  for (const TVerdictReason& reason : stage.outcome.verdict.reasons)
    reasons += (reasons.empty() ? "" : "; ") + reason.text;
  return "poor (" + reasons + ")";
}

// One line per stage on the terminal: name, points, verdict, RMS.
std::string StageLine(const TStageResult& stage) {
  char head[64];
  std::snprintf(head, sizeof head, "%-13s %7zu points  ", stage.name.c_str(), stage.points);
  std::string line = head + VerdictText(stage);
  if (stage.fitted) line += "  RMS " + Number(stage.rms);
  if (!stage.held.empty()) line += "  held at 0: " + Join(stage.held, ", ");
  return line;
}

class TProgressHost : public TSilentFitHost {
 public:
  explicit TProgressHost(std::ostream* err) : err_(err) {}
  void Progress(const TFitProgress& progress) override {
    if (err_ && progress.step % 10 == 0) *err_ << "  iteration " << progress.step << ", cost " << progress.best_cost << '\n';
  }

 private:
  std::ostream* err_;
};

}  // namespace

int RunTirTool(const TTirToolOptions& options, std::ostream& out, std::ostream& err) {
  try {
    if (options.run_paths.empty()) throw Exception("No run file given");
    std::vector<std::optional<std::string>> inputs(options.run_paths.begin(), options.run_paths.end());
    inputs.push_back(options.template_path);
    RefuseOutputNamingInput(options.output_path, inputs);
    if (AsciiLower(std::filesystem::path(options.output_path).extension().string()) != ".tir")
      throw Exception("The output " + options.output_path + " is no property file: give a name ending in .tir");
    if (options.template_path &&
        AsciiLower(std::filesystem::path(*options.template_path).extension().string()) != ".tir")
      throw Exception("The template " + *options.template_path + " is no property file (.tir)");
    for (const std::string& path : options.run_paths) {
      std::error_code ec;
      if (!std::filesystem::is_regular_file(path, ec)) throw EFOpenError(path);
    }

    const TProgrammeResult programme = ImportProgramme(options.run_paths);
    out << FormatProgramme(programme);
    if (programme.Empty()) {
      err << "morvex-fit: nothing usable remains: "
          << (programme.empty_reason.empty() ? std::string("no run holds a sweep of any stage") : programme.empty_reason)
          << '\n';
      return kExitError;
    }

    TTireProgrammeInput input;
    input.lateral = programme.lateral;
    input.aligning = programme.aligning;
    input.longitudinal = programme.longitudinal;
    input.combined = programme.combined;
    input.fz0 = options.fz0.value_or(programme.fz0);
    if (options.r0) {
      input.r0 = *options.r0;
    } else if (std::isfinite(programme.r0) && programme.r0 > 0) {
      input.r0 = programme.r0;
    } else {
      err << "morvex-fit: no run states the unloaded radius (TYDEX RFREE): give it with --r0\n";
      return kExitError;
    }
    if (!(std::isfinite(input.fz0) && input.fz0 > 0)) {
      err << "morvex-fit: no rated load could be taken from the runs: give it with --fz0\n";
      return kExitError;
    }
    if (std::isfinite(programme.longvl) && programme.longvl > 0) input.longvl = programme.longvl;
    out << "Fz0 " << Number(input.fz0, 6) << " N ("
        << (options.fz0 ? std::string("--fz0") : programme.fz0_source) << "), R0 " << Number(input.r0, 6) << " m ("
        << (options.r0 ? std::string("--r0") : programme.r0_source) << ")\n";

    TProgressHost host(options.show_progress ? &err : nullptr);
    const TTireProgrammeResult result = FitTireProgramme(input, host);
    for (const TStageResult& stage : result.stages) out << StageLine(stage) << '\n';

    TTirExportOptions tir;
    // The import gives every run in Morvex's signs (ISO with the lateral
    // force and the aligning moment negated), so the fitted set is in the
    // positive-stiffness convention; the file is written in ISO.
    tir.convention = TSignConvention::kPositiveStiffness;
    tir.template_path = options.template_path;
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
    for (const std::string& path : options.run_paths)
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
      line += ", " + VerdictText(stage);
      if (stage.fitted) line += ", RMS " + Number(stage.rms);
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

    const TTirExportResult written = ExportTir(result.coefficients, options.output_path, tir);
    for (const std::string& note : written.notes) err << "morvex-fit: " << note << '\n';
    out << "Written " << options.output_path << ": USE_MODE " << result.use_mode << '\n';
    if (result.cancelled) return kExitError;
    return result.AnyPoor() ? kExitFitPoor : kExitOk;
  } catch (const std::exception& e) {
    err << "morvex-fit: " << e.what() << '\n';
    return kExitError;
  }
}

}  // namespace morvex
