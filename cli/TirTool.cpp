#include "cli/TirTool.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "cli/ProgrammeSession.h"
#include "cli/ReportTool.h"
#include "cli/TirProgramme.h"
#include "files/SessionFile.h"
#include "files/Sha256.h"
#include "files/TirFile.h"
#include "fitting/TireProgramme.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "report/ReportRender.h"
#include "rigdata/Programme.h"
#include "tiredata/TireDataFile.h"

namespace morvex {
namespace {

class TProgressHost : public TSilentFitHost {
 public:
  explicit TProgressHost(std::ostream* err) : err_(err) {}
  void Progress(const TFitProgress& progress) override {
    if (err_ && progress.step % 10 == 0) *err_ << "  iteration " << progress.step << ", cost " << progress.best_cost << '\n';
  }

 private:
  std::ostream* err_;
};

// The session of a fitted programme: the programme with its runs hashed as
// they are now, the panel holding the fitted pure-slip coefficients.
TSessionState ProgrammeSessionState(const TTirToolOptions& options, const TProgrammeResult& programme,
                                    const TTireProgrammeResult& result) {
  TProgrammeState state;
  std::vector<std::string> hashes;
  for (const std::string& path : options.run_paths) {
    state.runs.push_back(std::filesystem::absolute(path).string());
    hashes.push_back(Sha256Hex(ReadTireDataText(path)));
  }
  state.fz0_typed = options.fz0;
  state.r0_typed = options.r0;
  state.programme = std::make_shared<TProgrammeResult>(programme);
  state.result = std::make_shared<TTireProgrammeResult>(result);
  TSessionState session;
  for (size_t i = 0; i < Coefficients().size(); ++i)
    session.texts[i] = result.coefficients.Text(Coefficients()[i].name);
  session.programme = ProgrammeToSession(state, hashes);
  return session;
}

}  // namespace

int RunTirTool(const TTirToolOptions& options, std::ostream& out, std::ostream& err) {
  try {
    if (options.run_paths.empty()) throw Exception("No run file given");
    std::vector<std::optional<std::string>> inputs(options.run_paths.begin(), options.run_paths.end());
    inputs.push_back(options.template_path);
    RefuseOutputNamingInput(options.output_path, inputs);
    if (options.report_path) {
      std::vector<std::optional<std::string>> report_inputs = inputs;
      report_inputs.push_back(options.output_path);
      report_inputs.push_back(options.save_session_path);
      RefuseOutputNamingInput(*options.report_path, report_inputs);
      if (ReportFormatOf(*options.report_path).empty())
        throw Exception("The report is written as .pdf or .html, not " + *options.report_path);
    }
    if (AsciiLower(std::filesystem::path(options.output_path).extension().string()) != ".tir")
      throw Exception("The output " + options.output_path + " is no property file: give a name ending in .tir");
    if (options.template_path &&
        AsciiLower(std::filesystem::path(*options.template_path).extension().string()) != ".tir")
      throw Exception("The template " + *options.template_path + " is no property file (.tir)");
    for (const std::string& path : options.run_paths) {
      std::error_code ec;
      if (!std::filesystem::is_regular_file(path, ec)) throw EFOpenError(path);
    }
    // The session may replace an earlier session, never a run, the template
    // or the property file; checked before anything is read.
    std::vector<std::string> session_inputs(options.run_paths.begin(), options.run_paths.end());
    if (options.template_path) session_inputs.push_back(*options.template_path);
    session_inputs.push_back(options.output_path);
    if (options.save_session_path) CheckSessionTarget(*options.save_session_path, TSessionState(), session_inputs);

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
    out << "Fz0 " << ShortNumber(input.fz0, 6) << " N ("
        << (options.fz0 ? std::string("--fz0") : programme.fz0_source) << "), R0 " << ShortNumber(input.r0, 6) << " m ("
        << (options.r0 ? std::string("--r0") : programme.r0_source) << ")\n";

    TProgressHost host(options.show_progress ? &err : nullptr);
    const TTireProgrammeResult result = FitTireProgramme(input, host);
    for (const TStageResult& stage : result.stages) out << StageSummaryLine(stage) << '\n';

    const TTirExportOptions tir = ProgrammeTirOptions(programme, result, options.run_paths, options.template_path);
    const TTirExportResult written = ExportTir(result.coefficients, options.output_path, tir);
    for (const std::string& note : written.notes) err << "morvex-fit: " << note << '\n';
    out << "Written " << options.output_path << ": USE_MODE " << result.use_mode << '\n';
    if (options.save_session_path) {
      WriteSessionFile(*options.save_session_path, ProgrammeSessionState(options, programme, result), session_inputs);
      out << "Written " << *options.save_session_path << ": the programme and its fit\n";
    }
    if (options.report_path) {
      std::vector<std::optional<std::string>> report_inputs = inputs;
      report_inputs.push_back(options.output_path);
      report_inputs.push_back(options.save_session_path);
      if (WriteProgrammeReport(*options.report_path, programme, result, options.run_paths, input.longvl, report_inputs,
                               out, err) == kExitError)
        return kExitError;
    }
    if (result.cancelled) return kExitError;
    return result.AnyPoor() ? kExitFitPoor : kExitOk;
  } catch (const std::exception& e) {
    err << "morvex-fit: " << e.what() << '\n';
    return kExitError;
  }
}

}  // namespace morvex
