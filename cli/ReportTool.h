// morvex-fit report: the validation report of a channel's coefficients on a
// tire data file, written as a PDF or a self-contained HTML file
// (report/ReportRender.h).
//
// The coefficients are evaluated on the data as they are (no fit), or,
// with --fit, fitted by the trust region first.  The report's verdict is
// that of the fit, or, without one, the verdict on the coefficients as
// they stand (free boxes from --free).
//
// Exit status as the fit's: 0 written; 1 the trust region failed (the
// report is still written and says so); 2 any other error (nothing
// written); 3 written, and a channel's verdict is poor.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "files/SignConvention.h"
#include "fitting/FitCommands.h"
#include "report/ValidationReport.h"

namespace morvex {

struct TReportToolOptions {
  TFitChannel channel = TFitChannel::kLateral;
  bool channel_given = true;                       // false: the session's data tells
  std::string data_path;                           // empty with a session: its embedded data
  // A session (.morvex) to report from: its embedded data, its coefficients
  // and free boxes, and the channel's last verdict; --coefficients is read
  // over its values.  The paths it names are never read.
  std::optional<std::string> session_path;
  std::optional<std::string> coefficients_path;    // values replacing the start-up defaults
  std::string free = "all";                        // "all" or a comma-separated list of names
  bool fit = false;                                // trust-region fit before the report
  std::optional<std::string> settings_path;        // default: configuration.ini in executable_dir
  std::optional<std::string> import_report_path;   // the import's report, shown as the data's source
  std::optional<TSignConvention> convention;       // of a .tir read
  std::string output_path;                         // .pdf, .html or .htm
  std::string executable_dir;                      // where param_fm_ini.ini and configuration.ini live
};

int RunReportTool(const TReportToolOptions& options, std::ostream& out, std::ostream& err);

// Builds the report of `inputs` and writes it to `output`: the form every
// way of gathering the inputs ends in (files, a session, a programme).  The
// output is refused, before anything is written, when it names one of
// `input_files`.  Prints "report written: <output> (<channel> <verdict>,
// ..., USE_MODE <n>: <stage> <verdict>, ...)" on `out`, errors on `err`;
// returns the exit status above (a programme's poor stage counts as a poor
// channel).
int WriteReportFile(const TReportInputs& inputs, const std::string& output,
                    const std::vector<std::optional<std::string>>& input_files, std::ostream& out, std::ostream& err);

// The report of a tire fitted from a test programme (`morvex-fit tir
// --report`): the runs as the data's source, the import's lines as its
// report, and the programme's pages (report/ValidationReport.h).  `longvl`
// is the speed the fit took (ProgrammeSpeed).  Refuses, prints and returns
// as WriteReportFile.
int WriteProgrammeReport(const std::string& output, const TProgrammeResult& programme,
                         const TTireProgrammeResult& result, const std::vector<std::string>& runs, double longvl,
                         const std::vector<std::optional<std::string>>& input_files, std::ostream& out,
                         std::ostream& err);

// The speed a programme's fit normalises My with: the runs' LONGVL, else
// the fit's default.
double ProgrammeSpeed(const TProgrammeResult& programme);

// The local time as the report shows it: "2026-12-09 20:15".
std::string ReportTimestamp();

}  // namespace morvex
