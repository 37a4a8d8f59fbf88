// Help diagnostics, run once at start-up before the application object.
//
// Records where the program runs from and, on request, writes a short
// report "HHDebug.txt" that a user can send along with a question about the
// help: the program's file name, the date, the operating system, the locale
// and decimal separator, the directories involved, the command-line
// parameters and the versions of the help viewer and browser components
// (reported absent: this platform has neither).
//
// The report is requested by a file "debug.debug" beside the executable or
// by a command-line argument "/debug" or "-debug" (any letter case).  It is
// written to the executable's directory when a file can be created and
// deleted there, else to the temporary directory.  Every start deletes an
// old report there first, so a report never outlives the run that asked
// for it.  Failures to write or delete are silent: diagnostics never stop
// the program.
//
// No Qt: this runs before QApplication exists.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace morvex {

struct THelpDiagnostics {
  std::filesystem::path executable;        // full path of the running program
  std::filesystem::path start_directory;   // working directory at start-up
  std::filesystem::path temp_directory;    // fallback output directory
  std::vector<std::string> parameters;     // command-line arguments after the program name
  bool debug = false;                      // a report was requested
  std::filesystem::path output_directory;  // where HHDebug.txt goes
  bool report_written = false;             // HHDebug.txt was written by this run
};

// File names used by the diagnostics.
inline constexpr const char* kDebugReportName = "HHDebug.txt";
inline constexpr const char* kDebugTriggerName = "debug.debug";
inline constexpr const char* kWriteProbeName = "$_Temp_$.$$$";

// The start-up entry: takes the executable's path from the system (argv[0]
// when the system does not say), the current directory and the temporary
// directory, and records the result for HelpDiagnostics().
void RunHelpDiagnostics(int argc, char** argv);

// The same work with every input explicit (tests).  Does not change the
// recorded details.
THelpDiagnostics RunHelpDiagnostics(const std::filesystem::path& executable,
                                    const std::vector<std::string>& parameters,
                                    const std::filesystem::path& start_directory,
                                    const std::filesystem::path& temp_directory);

// The details recorded by the start-up entry (empty before it runs).
const THelpDiagnostics& HelpDiagnostics();

// True when `argument` asks for the report: "/debug" or "-debug", any case.
bool IsDebugSwitch(const std::string& argument);

// The report's lines, each beginning with "!".
std::vector<std::string> HelpDiagnosticsReport(const THelpDiagnostics& details);

}  // namespace morvex
