#include "cli/ReportTool.h"

#include <algorithm>
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

// The free boxes from "all" or a list of names, as `fit --free` sets them.
void SetFreeList(TCoefficientSet& set, std::string list) {
  list.erase(std::remove_if(list.begin(), list.end(), [](char c) { return c == ' ' || c == '\t'; }), list.end());
  const bool all = AsciiUpper(list) == "ALL";
  for (const TCoefficientInfo& info : Coefficients())
    if (info.HasFreeFlag()) set.SetFree(info.name, all && FreedByAll(info));
  if (all) return;
  std::stringstream names(list);
  std::string name;
  while (std::getline(names, name, ',')) {
    if (name.empty()) continue;
    const int index = FindCoefficient(name);
    if (index < 0) throw Exception("Unknown coefficient '" + name + "' in --free");
    const TCoefficientInfo& info = Coefficients()[static_cast<size_t>(index)];
    if (!info.HasFreeFlag()) throw Exception("Coefficient '" + name + "' has no free flag and cannot be fitted");
    set.SetFree(info.name, true);
  }
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
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  out << "report written: " << output << " (" << summary << ")\n";
  if (failed) return kExitFitFailed;
  return poor ? kExitFitPoor : kExitOk;
}

int RunReportTool(const TReportToolOptions& options, std::ostream& out, std::ostream& err) {
  const std::string defaults = Beside(options.executable_dir, "param_fm_ini.ini");
  const std::string configuration = Beside(options.executable_dir, "configuration.ini");
  const std::vector<std::optional<std::string>> input_files = {
      options.data_path, options.coefficients_path, options.settings_path, options.import_report_path,
      defaults, configuration};
  TMemoryCoefficientSet set;
  TTireDataSet data;
  TReportInputs inputs;
  try {
    // Refused before anything is read, as every command refuses it.
    RefuseOutputNamingInput(options.output_path, input_files);
    if (ReportFormatOf(options.output_path).empty())
      throw Exception("The report is written as .pdf or .html, not " + options.output_path);
    LoadStartupDefaults(set, defaults);
    if (options.coefficients_path) {
      TCoefficientFileRead read;
      read.channel = options.channel;
      read.convention = options.convention;
      ImportCoefficientFile(set, *options.coefficients_path, read, err);
    }
    SetFreeList(set, options.free);
    RequireFile(options.data_path);
    data = ReadTireDataFile(options.data_path);

    TFitOutcome outcome;
    outcome.channel = options.channel;
    if (options.fit) {
      std::string settings = configuration;
      if (options.settings_path) {
        RequireFile(*options.settings_path);
        settings = *options.settings_path;
      }
      TSilentFitHost host;
      outcome = RunFitCommand(options.channel, set, data, TOptimizerChoice::kTrustRegion, settings, host);
    } else {
      // The coefficients come from an earlier fit or a property file: judged
      // as they stand, with the free boxes saying what a fit would move.
      outcome.start_was_fit = true;
      outcome.verdict = JudgeFit(outcome, set, data);
    }

    inputs.created = ReportTimestamp();
    inputs.source_files.push_back("data: " + Absolute(options.data_path));
    // A data file Morvex's import wrote names its run in its first line.
    std::string first_line;
    if (std::ifstream data_file(options.data_path, std::ios::binary); std::getline(data_file, first_line)) {
      if (!first_line.empty() && first_line.back() == '\r') first_line.pop_back();
      if (first_line.rfind("Morvex ", 0) == 0 && first_line.find(" imported from ") != std::string::npos)
        inputs.source_files.push_back("the data file says: " + first_line);
    }
    if (options.coefficients_path) inputs.source_files.push_back("coefficients: " + Absolute(*options.coefficients_path));
    else inputs.source_files.push_back("coefficients: the start-up defaults (" + Absolute(defaults) + ")");
    if (options.import_report_path) inputs.import_report = ReadText(*options.import_report_path);
    inputs.channels.push_back({options.channel, &data, &set, outcome, Absolute(options.data_path)});
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  return WriteReportFile(inputs, options.output_path, input_files, out, err);
}

}  // namespace morvex
