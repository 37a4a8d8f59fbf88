#include "ui/HelpDiagnostics.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <fstream>
#include <locale>
#include <system_error>

#include "numerics/LxBasics.h"

namespace morvex {

namespace fs = std::filesystem;

namespace {

THelpDiagnostics g_details;

// The directory accepts new files: create the probe file, then delete it.
bool CanCreateAndDelete(const fs::path& directory) {
  if (directory.empty()) return false;
  const fs::path probe = directory / kWriteProbeName;
  {
    std::ofstream file(probe, std::ios::binary | std::ios::trunc);
    if (!file) return false;
  }
  std::error_code error;
  return fs::remove(probe, error) && !error;
}

std::string Padded(const std::string& label, const std::string& value) {
  std::string line = "!" + label + ":";
  if (line.size() < 23) line.append(23 - line.size(), ' ');
  return line + value;
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return "?";
  return text;
}

std::string OperatingSystem() {
  utsname name{};
  if (uname(&name) != 0) return "unknown";
  return std::string(name.sysname) + " " + name.release + " (" + name.version + ") " + name.machine;
}

// The decimal separator of the user's numeric locale.  The report may be
// written before the program has taken its own separator from the locale.
std::string UserDecimalSeparator() {
  try {
    return std::string(1, std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point());
  } catch (const std::exception&) {
    return std::string(1, DecimalSeparator());
  }
}

std::string UserLocale() {
  try {
    return std::locale("").name();
  } catch (const std::exception&) {
    return "C";  // the environment names a locale the system does not have
  }
}

fs::path ExecutablePath(int argc, char** argv) {
  std::error_code error;
  fs::path path = fs::read_symlink("/proc/self/exe", error);
  if (!error && !path.empty()) return path;
  if (argc > 0 && argv[0] != nullptr) return fs::absolute(argv[0], error);
  return {};
}

}  // namespace

bool IsDebugSwitch(const std::string& argument) {
  std::string lower = argument;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == "/debug" || lower == "-debug";
}

std::vector<std::string> HelpDiagnosticsReport(const THelpDiagnostics& details) {
  std::vector<std::string> lines;
  lines.push_back(Padded("Filename", details.executable.string()));
  lines.push_back(Padded("Date", Today()));
  lines.push_back(Padded("OS", OperatingSystem()));
  lines.push_back(Padded("Locale", UserLocale()));
  lines.push_back("!DecimalSeparator:      " + UserDecimalSeparator());
  lines.push_back(Padded("ExeDirectory", details.executable.parent_path().string()));
  lines.push_back(Padded("StartDirectory", details.start_directory.string()));
  lines.push_back(Padded("TempDirectory", details.temp_directory.string()));
  lines.push_back(Padded("OutputDirectory", details.output_directory.string()));
  lines.push_back(Padded("ParamCount", std::to_string(details.parameters.size())));
  for (size_t i = 0; i < details.parameters.size(); ++i) {
    lines.push_back(Padded("Param" + std::to_string(i + 1), details.parameters[i]));
  }
  // Neither a compiled-help viewer control nor that browser exists here.
  lines.push_back(Padded("HtmlHelpVersion", "not installed"));
  lines.push_back(Padded("BrowserVersion", "not installed"));
  return lines;
}

THelpDiagnostics RunHelpDiagnostics(const fs::path& executable, const std::vector<std::string>& parameters,
                                    const fs::path& start_directory, const fs::path& temp_directory) {
  THelpDiagnostics details;
  details.executable = executable;
  details.start_directory = start_directory;
  details.temp_directory = temp_directory;
  details.parameters = parameters;

  const fs::path exe_dir = executable.parent_path();
  std::error_code error;
  details.debug = (!exe_dir.empty() && fs::is_regular_file(exe_dir / kDebugTriggerName, error)) ||
                  std::any_of(parameters.begin(), parameters.end(), IsDebugSwitch);
  details.output_directory = CanCreateAndDelete(exe_dir) ? exe_dir : temp_directory;

  const fs::path report = details.output_directory / kDebugReportName;
  fs::remove(report, error);
  if (details.debug) {
    std::ofstream file(report, std::ios::binary | std::ios::trunc);
    for (const std::string& line : HelpDiagnosticsReport(details)) file << line << '\n';
    file.close();
    details.report_written = static_cast<bool>(file);
  }
  return details;
}

void RunHelpDiagnostics(int argc, char** argv) {
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) parameters.emplace_back(argv[i] != nullptr ? argv[i] : "");
  std::error_code error;
  const fs::path start = fs::current_path(error);
  fs::path temp = fs::temp_directory_path(error);
  if (error) temp = "/tmp";
  g_details = RunHelpDiagnostics(ExecutablePath(argc, argv), parameters, start, temp);
}

const THelpDiagnostics& HelpDiagnostics() { return g_details; }

}  // namespace morvex
