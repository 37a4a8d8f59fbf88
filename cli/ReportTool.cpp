#include "cli/ReportTool.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/FitVerdict.h"
#include "numerics/LxBasics.h"
#include "report/ReportRender.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

namespace {

namespace fs = std::filesystem;

void RequireFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw EFOpenError(path);
}

std::string Beside(const std::string& dir, const char* name) {
  return dir.empty() ? std::string(name) : (fs::path(dir) / name).string();
}

std::string ReadText(const std::string& path) {
  RequireFile(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

}  // namespace

std::string ReportTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

int WriteReportFile(const TReportInputs& inputs, const std::string& output,
                    const std::vector<std::optional<std::string>>& input_files, std::ostream& out, std::ostream& err) {
  std::string summary;
  bool poor = false, failed = false;
  try {
    RefuseOutputNamingInput(output, input_files);
    if (ReportFormatOf(output).empty())
      throw Exception("The report is written as .pdf or .html, not " + output);
    const TValidationReport report = BuildValidationReport(inputs);
    WriteReport(report, output);
    for (const TChannelReport& channel : report.channels) {
      summary += (summary.empty() ? "" : ", ") + std::string(ChannelName(channel.channel)) + " " +
                 channel.verdict_word;
      poor = poor || channel.verdict.poor;
    }
    for (const TReportChannelInput& channel : inputs.channels) failed = failed || channel.outcome.optimizer_failed;
    if (report.programme) {
      std::string stages;
      for (const TReportStageRow& stage : report.programme->stages) {
        stages += (stages.empty() ? "" : ", ") + stage.name + " " + stage.verdict;
        poor = poor || stage.verdict == "poor";
      }
      summary += (summary.empty() ? "" : ", ") + std::string("USE_MODE ") +
                 std::to_string(report.programme->use_mode) + ": " + stages;
    }
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  out << "report written: " << output << " (" << summary << ")\n";
  if (failed) return kExitFitFailed;
  return poor ? kExitFitPoor : kExitOk;
}

double ProgrammeSpeed(const TProgrammeResult& programme) {
  return std::isfinite(programme.longvl) && programme.longvl > 0 ? programme.longvl : TTireProgrammeInput{}.longvl;
}

int WriteProgrammeReport(const std::string& output, const TProgrammeResult& programme,
                         const TTireProgrammeResult& result, const std::vector<std::string>& runs, double longvl,
                         const std::vector<std::optional<std::string>>& input_files, std::ostream& out,
                         std::ostream& err) {
  TReportInputs inputs;
  inputs.created = ReportTimestamp();
  for (const std::string& run : runs) inputs.source_files.push_back("run: " + Absolute(run));
  inputs.import_report = FormatProgramme(programme);
  TReportProgrammeInput input;
  input.result = &result;
  input.programme = &programme;
  input.runs = runs;
  input.longvl = longvl;
  inputs.programme = input;
  return WriteReportFile(inputs, output, input_files, out, err);
}

int RunReportTool(const TReportToolOptions& options, std::ostream& out, std::ostream& err) {
  const std::string defaults = Beside(options.executable_dir, "param_fm_ini.ini");
  const std::string configuration = Beside(options.executable_dir, "configuration.ini");
  const std::vector<std::optional<std::string>> input_files = {
      options.data_path.empty() ? std::nullopt : std::optional<std::string>(options.data_path),
      options.coefficients_path, options.settings_path, options.import_report_path, options.session_path,
      defaults, configuration};
  TMemoryCoefficientSet set;
  TTireDataSet data;
  TReportInputs inputs;
  TFitChannel channel = options.channel;
  std::optional<TSessionChannel> session_verdict;
  try {
    // Refused before anything is read, as every command refuses it.
    RefuseOutputNamingInput(options.output_path, input_files);
    if (ReportFormatOf(options.output_path).empty())
      throw Exception("The report is written as .pdf or .html, not " + options.output_path);
    std::optional<TSessionRead> session;
    if (options.session_path) {
      RequireFile(*options.session_path);
      session = OpenSession(*options.session_path, err);
      const TSessionState& state = session->state;
      if (!options.channel_given)
        channel = state.data && state.data->channel ? *state.data->channel : state.view.page;
      state.GiveCoefficients(set);
      if (options.data_path.empty()) {
        if (!state.data) throw Exception("the session " + *options.session_path + " holds no data: give --data");
        data = ParseTireDataText(state.data->text, *options.session_path + " (its embedded data)");
      }
      session_verdict = state.Channel(channel);
    } else {
      if (!options.channel_given) throw Exception("report needs --channel (or a --session)");
      if (options.data_path.empty()) throw Exception("report needs --data (or a --session that holds data)");
      LoadStartupDefaults(set, defaults);
    }
    if (options.coefficients_path) {
      TCoefficientFileRead read;
      read.channel = channel;
      read.convention = options.convention;
      ImportCoefficientFile(set, *options.coefficients_path, read, err);
    }
    if (!session || options.free != "all") ApplyFreeList(set, options.free);
    if (!options.data_path.empty()) {
      RequireFile(options.data_path);
      data = ReadTireDataFile(options.data_path);
    }

    TFitOutcome outcome;
    outcome.channel = channel;
    if (options.fit) {
      std::string settings = configuration;
      if (options.settings_path) {
        RequireFile(*options.settings_path);
        settings = *options.settings_path;
      }
      TSilentFitHost host;
      outcome = RunFitCommand(channel, set, data, TOptimizerChoice::kTrustRegion, settings, host);
    } else if (session_verdict && !options.coefficients_path) {
      // The session's last fit of the channel, with its verdict as the
      // window or the command line gave it.
      outcome.start_was_fit = true;
      outcome.verdict.poor = session_verdict->poor;
      for (const TSessionReason& r : session_verdict->reasons) outcome.verdict.reasons.push_back({r.code, r.text, r.advice});
      for (const TSessionReason& r : session_verdict->notes) outcome.verdict.notes.push_back({r.code, r.text, r.advice});
    } else {
      // The coefficients come from an earlier fit or a property file: judged
      // as they stand, with the free boxes saying what a fit would move.
      outcome.start_was_fit = true;
      outcome.verdict = JudgeFit(outcome, set, data);
    }

    inputs.created = ReportTimestamp();
    std::string data_file = options.data_path.empty() ? std::string() : Absolute(options.data_path);
    if (session) {
      inputs.source_files.push_back("session: " + Absolute(*options.session_path));
      const TSessionState& state = session->state;
      if (options.data_path.empty()) {
        data_file = state.data->source_path.empty() ? "the data embedded in the session"
                                                    : state.data->source_path + " (embedded in the session)";
        inputs.source_files.push_back("data: " + data_file);
      }
      for (const TSessionRun& run : state.import.runs) inputs.source_files.push_back("run: " + run.path);
      if (session_verdict && !session_verdict->report.empty() && !options.import_report_path)
        inputs.import_report = "The channel's last fit report, as the session keeps it:\n" + session_verdict->report;
    }
    if (!options.data_path.empty()) inputs.source_files.push_back("data: " + data_file);
    // A data file Morvex's import wrote names its run in its first line.
    std::string first_line;
    if (std::ifstream data_stream(options.data_path, std::ios::binary);
        !options.data_path.empty() && std::getline(data_stream, first_line)) {
      if (!first_line.empty() && first_line.back() == '\r') first_line.pop_back();
      if (first_line.rfind("Morvex ", 0) == 0 && first_line.find(" imported from ") != std::string::npos)
        inputs.source_files.push_back("the data file says: " + first_line);
    }
    if (options.coefficients_path) inputs.source_files.push_back("coefficients: " + Absolute(*options.coefficients_path));
    else if (!session) inputs.source_files.push_back("coefficients: the start-up defaults (" + Absolute(defaults) + ")");
    if (options.import_report_path) inputs.import_report = ReadText(*options.import_report_path);
    inputs.channels.push_back({channel, &data, &set, outcome, data_file});
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  return WriteReportFile(inputs, options.output_path, input_files, out, err);
}

}  // namespace morvex
