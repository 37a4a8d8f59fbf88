#include "cli/ImportTool.h"

#include <charconv>
#include <filesystem>
#include <sstream>

#include "cli/FitTool.h"
#include "cli/OutputGuard.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataWriter.h"

namespace morvex {

namespace {

std::vector<double> NumberList(const std::string& text, const char* what) {
  std::vector<double> values;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    while (!item.empty() && item.front() == ' ') item.erase(item.begin());
    while (!item.empty() && item.back() == ' ') item.pop_back();
    if (item.empty()) continue;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    if (ec != std::errc() || ptr != item.data() + item.size())
      throw Exception(std::string("The ") + what + " set-point '" + item + "' is not a number");
    values.push_back(v);
  }
  return values;
}

TRawImportOptions ToImportOptions(const TImportToolOptions& o) {
  TRawImportOptions options;
  options.channel = o.channel;
  const std::string format = AsciiLower(o.format);
  if (format == "tydex") options.read.format = TRunFormat::kTydex;
  else if (format == "delimited") options.read.format = TRunFormat::kDelimited;
  else if (format != "auto") throw Exception("Unknown format '" + o.format + "': auto, delimited or tydex");
  const std::string delimiter = AsciiLower(o.delimiter);
  if (delimiter == "tab") options.read.delimiter = TRunDelimiter::kTab;
  else if (delimiter == "comma") options.read.delimiter = TRunDelimiter::kComma;
  else if (delimiter == "semicolon") options.read.delimiter = TRunDelimiter::kSemicolon;
  else if (delimiter == "whitespace") options.read.delimiter = TRunDelimiter::kWhitespace;
  else if (delimiter != "auto")
    throw Exception("Unknown delimiter '" + o.delimiter + "': auto, tab, comma, semicolon or whitespace");
  const auto convention = RunConventionByKey(o.convention);
  if (!convention) throw Exception("Unknown sign convention '" + o.convention + "': auto, sae, iso or morvex");
  options.convention = *convention;
  ApplyFilterText(options, o.filters);
  std::stringstream items(o.mapping);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    const auto role = eq == std::string::npos ? std::nullopt : RoleByKey(item.substr(0, eq));
    if (!role) {
      std::string keys;
      for (const TRunRoleInfo& info : RunRoles()) keys += (keys.empty() ? "" : ", ") + std::string(info.key);
      throw Exception("The mapping '" + item + "' needs the form role=CHANNEL with a role among " + keys);
    }
    options.mapping[static_cast<size_t>(*role)] = item.substr(eq + 1);
  }
  options.inclinations = NumberList(o.inclinations, "inclination");
  options.loads = NumberList(o.loads, "load");
  return options;
}

}  // namespace

int RunImportTool(const TImportToolOptions& options, std::ostream& out, std::ostream& err) {
  try {
    RefuseOutputNamingInput(options.output_path, {options.run_path});
    const TRawImportOptions import_options = ToImportOptions(options);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.run_path, ec)) throw EFOpenError(options.run_path);
    const TRawImportResult result = ImportRunFile(options.run_path, import_options);
    out << FormatImportReport(result.report);
    if (result.data.Empty()) {
      err << "morvex-fit: nothing usable remains: " << result.report.empty_reason << '\n';
      return kExitError;
    }
    const std::string name = std::filesystem::path(options.run_path).filename().string();
    WriteTireDataFile(options.output_path, result.data,
                      {"Morvex " + std::string(ImportChannelName(options.channel)) + " data imported from " + name,
                       "Sign convention: " + std::string(RunConventionName(result.report.convention))});
    size_t points = 0;
    for (const TLoadCase& lc : result.data.Cases) points += lc.Values.size();
    out << "Wrote " << options.output_path << ": " << result.data.Cases.size() << " load cases, " << points
        << " points\n";
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  return kExitOk;
}

}  // namespace morvex
