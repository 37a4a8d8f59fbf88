// morvex-fit: fits Magic Formula coefficients to tire data from a terminal.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CheckTool.h"
#include "cli/BatchTool.h"
#include "cli/FitTool.h"
#include "cli/ImportTool.h"
#include "cli/ReportTool.h"
#include "cli/TirTool.h"
#include "numerics/LxBasics.h"
#include "numerics/WorkerPool.h"

namespace {

std::string ExecutableDir(const char* argv0) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) exe = std::filesystem::absolute(argv0, ec);
  return exe.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  morvex::InitDecimalSeparatorFromLocale();

  CLI::App app{
      "morvex-fit: identifies Magic Formula tire coefficients (lateral force, aligning moment, "
      "longitudinal force) from measured tire data, with the same fit commands as the Morvex "
      "window."};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 1 the Levenberg-Marquardt fitter or the trust region failed (output "
      "still written), 2 any other error (nothing written), 3 the fit finished but its verdict is "
      "poor (output written; the reasons are printed).\n"
      "param_fm_ini.ini and configuration.ini are read from the folder of the executable.\n"
      "Coefficient files: a name ending in .tir is a Magic Formula property file (MF 5.2/PAC2002, "
      "FITTYP 6 or 21, read and written; MF 6.1/6.2, FITTYP 61 or 62, read as an approximation); "
      "any other name is Morvex's INI coefficient file.\n"
      "Sign conventions: a .tir is ISO (positive slip angle gives negative Fy, PKY1 < 0). With "
      "--convention positive-stiffness the set in Morvex has Fy and Mz negated (PKy1 > 0): PKY1, "
      "PVY1-4, QBZ10 and QDZ6-9 change sign on the way in and out. Without --convention the sign "
      "of PKy1 decides: of the set being written, or of the set a .tir is read into.\n"
      "Reading a .tir: keys are found in whatever section holds them; a key the file lacks is 0, the value "
      "with which the 2002 equations leave its term out, and is listed; FNOMIN and UNLOADED_RADIUS must be in "
      "the file or given with --fz0/--r0; a value that is not a number, a key written twice with two values, "
      "a missing shape, peak or stiffness factor (PCY1 PDY1 PKY1 PKY2 PCX1 PDX1 PKX1 QBZ1 QCZ1 QDZ1) and an "
      "empty or section-less file are refused (exit 2). With LFZO other than 1 published evaluators read "
      "the aligning trail two ways: Morvex reads R0/(FNOMIN*LFZO), the book's reading, unless "
      "--trail-reading fnomin asks for R0/FNOMIN (the book's trail times LFZO); the message names the "
      "reading used. Morvex writes LFZO = 1.\n"
      "MORVEX_THREADS=N sets how many threads a fit uses (default: one per core).");

  // --r0 and --trail-reading of fit and convert: how a .tir is read (--fz0,
  // added with each command, also supplies a missing FNOMIN).
  const auto add_tir_read_flags = [](CLI::App* cmd, std::optional<double>& r0, std::string& trail) {
    cmd->add_option("--r0", r0,
                    "UNLOADED_RADIUS (m) for a .tir that lacks it; refused for a file that states it")
        ->check(CLI::PositiveNumber);
    cmd->add_option("--trail-reading", trail,
                    "Aligning trail of a .tir with LFZO other than 1: book, R0/(FNOMIN*LFZO) (default), or "
                    "fnomin, R0/FNOMIN, the book's trail times LFZO, as some evaluators read it")
        ->check(CLI::IsMember({"book", "fnomin"}, CLI::ignore_case));
  };

  const std::vector<std::string> channels = {"lateral", "aligning", "longitudinal"};
  std::string fit_channel, fit_optimizer = "lm", eval_channel;

  morvex::TFitToolOptions fit;
  std::string fit_coefficients, fit_settings, fit_output;
  CLI::App* fit_cmd = app.add_subcommand(
      "fit", "Fit the free coefficients of one channel to a tire data file and report the result.");
  // --channel and --data are required unless --session gives them.
  CLI::Option* fit_channel_option =
      fit_cmd->add_option("--channel", fit_channel,
                          "Channel to fit: lateral, aligning or longitudinal (required without --session)")
          ->check(CLI::IsMember(channels, CLI::ignore_case));
  fit_cmd->add_option("--data", fit.data_path,
                      "Tire data file (LOAD_CASE blocks); required without a --session that holds data");
  fit_cmd->add_option("--coefficients", fit_coefficients,
                      "Coefficient file whose values replace the start-up defaults");
  CLI::Option* fit_free_option = fit_cmd->add_option("--free", fit.free,
                      "Coefficients the fit may change: 'all' or a comma-separated list of names "
                      "(any case), e.g. PCy1,PDy1,PKy1. 'all' never frees the rated load Fz0: it is "
                      "your choice (see --fz0); name Fz0 to free it")
      ->capture_default_str();
  CLI::Option* fit_optimizer_option = fit_cmd->add_option("--optimizer", fit_optimizer,
                      "lm: Levenberg-Marquardt from the start values; de: differential evolution "
                      "within the bounds of the settings file; tr: trust-region least squares from "
                      "the start values; de+tr: differential evolution, then the trust region from "
                      "its best member")
      ->check(CLI::IsMember({"lm", "de", "tr", "de+tr"}, CLI::ignore_case))
      ->capture_default_str();
  fit_cmd->add_option("--fz0", fit.fz0,
                      "Rated load in N: the start set is re-expressed at it before the fit (every "
                      "curve unchanged); a coefficient file without a rated load (a .tir without "
                      "FNOMIN) takes it as it is")
      ->check(CLI::PositiveNumber);
  std::string fit_start = "files";
  CLI::Option* fit_start_option = fit_cmd->add_option("--start", fit_start,
                      "files: start from param_fm_ini.ini and --coefficients; estimate: estimate "
                      "the free coefficients of the channel from the data first")
      ->check(CLI::IsMember({"files", "estimate"}, CLI::ignore_case))
      ->capture_default_str();
  fit_cmd->add_option("--settings", fit_settings,
                      "Fit settings file (default: configuration.ini beside the executable)");
  fit_cmd->add_option("--output", fit_output,
                      "Coefficient file to write the whole set to (.tir: a property file whose header "
                      "names the data file and the fit's RMS)");
  std::string fit_template, fit_convention, eval_convention;
  fit_cmd->add_option("--template", fit_template,
                      "Existing .tir whose every other line the .tir output keeps; only the fitted "
                      "coefficients are replaced");
  const std::vector<std::string> conventions = {"iso", "positive-stiffness"};
  fit_cmd->add_option("--convention", fit_convention,
                      "Sign convention of the set when a .tir is read or written: iso or "
                      "positive-stiffness (default: the sign of PKy1)")
      ->check(CLI::IsMember(conventions, CLI::ignore_case));
  std::string fit_trail, convert_trail;
  add_tir_read_flags(fit_cmd, fit.r0, fit_trail);
  std::string fit_session, fit_save_session;
  fit_cmd->add_option("--session", fit_session,
                      "Session file (.morvex) to fit from: its embedded data, its coefficients and free flags, "
                      "its optimizer and start; --channel, --data, --coefficients (read over its values), --free, "
                      "--optimizer and --start given here win. Without --channel: the channel of its data, else "
                      "of its chart page. The paths it names are shown, never read");
  fit_cmd->add_option("--save-session", fit_save_session,
                      "Session file (.morvex) to write after the fit: the fitted set and free flags, the report "
                      "and verdict, the data embedded with its source path and hash. May be the --session "
                      "itself; an existing file that is no session is never overwritten");
  int fit_threads = 0;
  fit_cmd->add_option("--threads", fit_threads,
                      "Threads of the Levenberg-Marquardt fitter and the genetic search (default: "
                      "MORVEX_THREADS, else one per core); the result is the same on any number")
      ->check(CLI::Range(1, 4096));

  morvex::TEvalToolOptions eval;
  std::string eval_coefficients;
  CLI::App* eval_cmd = app.add_subcommand(
      "eval",
      "Print the channel's model value for each 'camber load slip' line of a points file; a line "
      "'camber load slip-angle slip-ratio' gives the channel under combined slip, with the combined-slip "
      "coefficients of a --coefficients .tir (without them the weights are 1).");
  eval_cmd->add_option("--channel", eval_channel, "lateral, aligning or longitudinal")
      ->required()
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  eval_cmd->add_option("--coefficients", eval_coefficients,
                       "Coefficient file whose values replace the start-up defaults");
  eval_cmd->add_option("--convention", eval_convention,
                       "Sign convention of the set when --coefficients is a .tir: iso or "
                       "positive-stiffness (default: the sign of PKy1 of the start-up defaults)")
      ->check(CLI::IsMember(conventions, CLI::ignore_case));
  eval_cmd->add_option("--points", eval.points_path,
                       "Text file: camber (degrees), load and slip per line, separated as in "
                       "data files; or camber, load, slip angle (degrees) and slip ratio")
      ->required();

  morvex::TConvertToolOptions convert;
  std::string convert_template, convert_convention;
  CLI::App* convert_cmd = app.add_subcommand(
      "convert",
      "Convert a coefficient file between Morvex's INI format and a Magic Formula property file "
      "(.tir), chosen by each file's extension.");
  convert_cmd->add_option("IN", convert.input_path, "File to read (.tir or INI coefficient file)")->required();
  convert_cmd->add_option("OUT", convert.output_path, "File to write (.tir or INI coefficient file)")->required();
  convert_cmd->add_option("--template", convert_template,
                          "Existing .tir whose every other line the .tir output keeps");
  convert_cmd->add_option("--fz0", convert.fz0,
                          "Rated load in N: the set is re-expressed at it, every curve of every channel "
                          "unchanged; a file without a rated load (a .tir without FNOMIN) takes it as it is")
      ->check(CLI::PositiveNumber);
  convert_cmd->add_option("--convention", convert_convention,
                          "Sign convention of the set in Morvex: iso or positive-stiffness (default: "
                          "the sign of PKy1; when reading a .tir, that of the start-up defaults)")
      ->check(CLI::IsMember(conventions, CLI::ignore_case));
  add_tir_read_flags(convert_cmd, convert.r0, convert_trail);

  morvex::TBatchOptions batch;
  CLI::App* batch_cmd = app.add_subcommand(
      "batch",
      "Run the fits of a manifest, several at once: one line per fit, 'DATA CHANNEL START FREE "
      "OPTIMIZER OUTPUT' (START: a coefficient file, 'estimate' or 'estimate:FILE'), then optionally "
      "fz0=N, r0=M and trail-reading=book|fnomin as --fz0, --r0 and --trail-reading of fit; one summary "
      "line per fit; the exit status is the worst of the fits'.");
  batch_cmd->add_option("MANIFEST", batch.manifest_path, "The manifest file")->required();
  batch_cmd->add_option("--jobs", batch.jobs, "Fits at once (default: the number of cores)")
      ->check(CLI::PositiveNumber);
  batch_cmd->add_option("--threads", batch.threads,
                        "Threads of each fit (default: MORVEX_THREADS, else the cores shared out among the jobs)")
      ->check(CLI::Range(1, 4096));

  morvex::TImportToolOptions import;
  std::string import_channel;
  CLI::App* import_cmd = app.add_subcommand(
      "import",
      "Turn a raw measured run (a delimited run file or a TYDEX file) into a tire data file of one channel: "
      "channels mapped by name, units and signs converted, filtered, binned per inclination and load onto a "
      "common slip grid.  Prints the import's report; exits 2 with its reason when nothing usable remains.");
  import_cmd->add_option("--channel", import_channel, "lateral, aligning or longitudinal")
      ->required()
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  import_cmd->add_option("RUNFILE", import.run_path, "The run file")->required();
  import_cmd->add_option("--format", import.format, "auto, delimited or tydex")->capture_default_str();
  import_cmd->add_option("--delimiter", import.delimiter, "Delimited files: auto, tab, comma, semicolon or whitespace")
      ->capture_default_str();
  import_cmd->add_option("--convention", import.convention,
                         "Sign convention of the run: auto (from the data), sae (flat-track machines: load "
                         "negative), iso (ISO / TYDEX W-axis) or morvex (as recorded)")
      ->capture_default_str();
  import_cmd->add_option("--filters", import.filters,
                         "key=value list: warmup (s; default auto: found in the data; 0 keeps it), time-from, "
                         "time-to (s), load-floor (N), pressure (kPa, or auto/off), pressure-tol, speed (km/h, or "
                         "auto/off), speed-tol, max-slip-ratio, max-slip-angle (deg), ia-tol (deg), load-tol (N) "
                         "(both default auto: per set-point, from its size and wobble), dwell (s), min-bin "
                         "(samples), cell, min-cell (samples); e.g. warmup=30,load-floor=300");
  import_cmd->add_option("--map", import.mapping,
                         "Channels to use instead of the usual names, role=CHANNEL list; roles: time, slip-angle, "
                         "slip-ratio, inclination, load, lateral-force, aligning-moment, longitudinal-force, "
                         "pressure, speed");
  import_cmd->add_option("--inclinations", import.inclinations,
                         "Inclination set-points (deg), comma-separated; default: found from the data");
  import_cmd->add_option("--loads", import.loads, "Load set-points (N), comma-separated; default: found from the data");
  import_cmd->add_option("--output", import.output_path, "Tire data file to write (LOAD_CASE blocks)")->required();

  morvex::TTirToolOptions tir;
  CLI::App* tir_cmd = app.add_subcommand(
      "tir",
      "A whole tire from a test programme: read every run (delimited or TYDEX) with the default import, "
      "sort its sweeps into the fit stages (slip angle at zero slip ratio: lateral force and aligning "
      "moment; slip ratio at zero slip angle: longitudinal force; slip ratio at held slip angles: combined "
      "slip, with Mx and My where measured), fit every stage in order from start values estimated from the "
      "data with one Fz0 and one R0, print one line per stage (points, verdict, RMS) and write a property "
      "file with USE_MODE 4 or the highest mode the data support, the ranges the data covered, the pressure "
      "and speed held, and a header listing every stage with its runs and verdict.  Exits 3 if a stage is "
      "poor, 2 if nothing usable remains.");
  tir_cmd->add_option("RUN", tir.run_paths, "Run files (delimited or TYDEX)")->required();
  tir_cmd->add_option("--output", tir.output_path, "Property file (.tir) to write")->required();
  std::string tir_template;
  tir_cmd->add_option("--template", tir_template, "Existing .tir whose every other line the output keeps");
  std::string tir_report;
  tir_cmd->add_option("--report", tir_report,
                      "Validation report to write after the fit (.pdf or .html): the runs and what each fed, "
                      "USE_MODE and why not higher, every stage's verdict, and a page per fitted stage with its "
                      "curves against the data, residuals, per-curve table and coefficients with standard errors");
  tir_cmd->add_option("--fz0", tir.fz0,
                      "Rated load in N for every stage (default: the runs' FNOMIN, else the middle held load)")
      ->check(CLI::PositiveNumber);
  tir_cmd->add_option("--r0", tir.r0, "Unloaded radius in m (default: the runs' RFREE; needed when no run gives it)")
      ->check(CLI::PositiveNumber);
  std::string tir_save_session;
  tir_cmd->add_option("--save-session", tir_save_session,
                      "Session file (.morvex) to write after the fit: the programme (the runs with their hashes, the "
                      "data imported from them, every stage's fit and verdict) and the fitted pure-slip coefficients, "
                      "for the window's Build tire from runs and fit --session to go on from. Never a run, the "
                      "template or the output; an existing file that is no session is never overwritten");

  morvex::TCheckToolOptions check;
  std::string check_channel, check_coefficients;
  CLI::App* check_cmd = app.add_subcommand(
      "check", "Before a fit: say which coefficients of a channel a tire data file can determine, which not and "
               "why, and which free boxes to clear.");
  check_cmd->add_option("--channel", check_channel, "lateral, aligning or longitudinal")
      ->required()
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  check_cmd->add_option("--data", check.data_path, "Tire data file (LOAD_CASE blocks)")->required();
  check_cmd->add_option("--coefficients", check_coefficients,
                        "Coefficient file whose values replace the start-up defaults");
  check_cmd->add_option("--free", check.free, "Coefficients whose boxes are ticked: 'all' or a comma-separated list")
      ->capture_default_str();

  morvex::TReportToolOptions report;
  std::string report_channel, report_coefficients, report_settings, report_import, report_convention;
  CLI::App* report_cmd = app.add_subcommand(
      "report",
      "Write the validation report of a channel's coefficients on a tire data file: every curve as data against "
      "model, the residuals, the per-curve RMS, largest error and R2, the coefficient table with standard errors, "
      "the verdict with its notes, the data advice and the validity ranges a .tir would carry. The output is a PDF "
      "(.pdf) or a single self-contained HTML file (.html); no display is needed.");
  report_cmd->add_option("--channel", report_channel,
                         "lateral, aligning or longitudinal (with --session, default: the channel of its data)")
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  report_cmd->add_option("--data", report.data_path,
                         "Tire data file (LOAD_CASE blocks); with --session, default: its embedded data");
  std::string report_session;
  report_cmd->add_option("--session", report_session,
                         "Session file (.morvex) to report from: its embedded data, coefficients, free boxes and "
                         "the channel's last verdict; the paths it names are never read");
  report_cmd->add_option("--coefficients", report_coefficients,
                         "Coefficient file (INI or .tir) whose values replace the start-up defaults");
  report_cmd->add_option("--output", report.output_path, "Report to write: a .pdf or an .html file")->required();
  report_cmd->add_option("--free", report.free,
                         "Coefficients counted as free (fitted with --fit): 'all' or a comma-separated list")
      ->capture_default_str();
  report_cmd->add_flag("--fit", report.fit,
                       "Fit the free coefficients by the trust region first; without it the coefficients are "
                       "evaluated on the data as they are");
  report_cmd->add_option("--settings", report_settings,
                         "Fit settings file for --fit (default: configuration.ini beside the executable)");
  report_cmd->add_option("--import-report", report_import,
                         "Text file with the import's report (what `morvex-fit import` printed), shown with the "
                         "data's source");
  report_cmd->add_option("--convention", report_convention,
                         "Sign convention of the set when --coefficients is a .tir: iso or positive-stiffness")
      ->check(CLI::IsMember(conventions, CLI::ignore_case));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : morvex::kExitError;
  }

  const std::string exe_dir = ExecutableDir(argv[0]);
  if (batch_cmd->parsed()) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    batch.executable = ec ? std::string(argv[0]) : self.string();
    return morvex::RunBatchTool(batch, std::cout, std::cerr);
  }
  if (fit_cmd->parsed()) {
    if (fit_threads > 0)
      morvex::SetThreadCount(fit_threads);
    else if (const std::string problem = morvex::ThreadCountProblem(); !problem.empty())
      std::cerr << "morvex-fit: " << problem << '\n';
    if (fit_session.empty() && fit_channel.empty()) {
      std::cerr << "morvex-fit: fit needs --channel (or a --session)\n";
      return morvex::kExitError;
    }
    if (fit_session.empty() && fit.data_path.empty()) {
      std::cerr << "morvex-fit: fit needs --data (or a --session that holds data)\n";
      return morvex::kExitError;
    }
    if (!fit_session.empty()) {
      fit.session_path = fit_session;
      fit.channel_given = fit_channel_option->count() > 0;
      fit.free_given = fit_free_option->count() > 0;
      fit.optimizer_given = fit_optimizer_option->count() > 0;
      fit.start_given = fit_start_option->count() > 0;
    }
    if (!fit_save_session.empty()) fit.save_session_path = fit_save_session;
    if (!fit_channel.empty()) fit.channel = *morvex::ParseChannel(fit_channel);
    const std::string optimizer = morvex::AsciiLower(fit_optimizer);
    if (optimizer == "de" || optimizer == "de+tr")
      fit.optimizer = morvex::TOptimizerChoice::kDifferentialEvolution;
    else if (optimizer == "tr")
      fit.optimizer = morvex::TOptimizerChoice::kTrustRegion;
    else
      fit.optimizer = morvex::TOptimizerChoice::kLevenbergMarquardt;
    fit.polish_with_trust_region = optimizer == "de+tr";
    fit.estimate_start = morvex::AsciiLower(fit_start) == "estimate";
    fit.executable_dir = exe_dir;
    if (!fit_coefficients.empty()) fit.coefficients_path = fit_coefficients;
    if (!fit_settings.empty()) fit.settings_path = fit_settings;
    if (!fit_output.empty()) fit.output_path = fit_output;
    if (!fit_template.empty()) fit.template_path = fit_template;
    if (!fit_convention.empty()) fit.convention = morvex::ParseSignConvention(fit_convention);
    if (!fit_trail.empty()) fit.trail_reading = *morvex::ParseTrailReading(fit_trail);
    fit.show_progress = isatty(STDERR_FILENO) != 0;
    return morvex::RunFitTool(fit, std::cout, std::cerr);
  }
  if (convert_cmd->parsed()) {
    convert.executable_dir = exe_dir;
    if (!convert_template.empty()) convert.template_path = convert_template;
    if (!convert_convention.empty()) convert.convention = morvex::ParseSignConvention(convert_convention);
    if (!convert_trail.empty()) convert.trail_reading = *morvex::ParseTrailReading(convert_trail);
    return morvex::RunConvertTool(convert, std::cout, std::cerr);
  }
  if (import_cmd->parsed()) {
    const auto channel = *morvex::ParseChannel(import_channel);
    import.channel = channel == morvex::TFitChannel::kAligning       ? morvex::TImportChannel::kAligning
                     : channel == morvex::TFitChannel::kLongitudinal ? morvex::TImportChannel::kLongitudinal
                                                                      : morvex::TImportChannel::kLateral;
    return morvex::RunImportTool(import, std::cout, std::cerr);
  }
  if (report_cmd->parsed()) {
    report.channel_given = !report_channel.empty();
    if (report.channel_given) report.channel = *morvex::ParseChannel(report_channel);
    if (!report_session.empty()) report.session_path = report_session;
    report.executable_dir = exe_dir;
    if (!report_coefficients.empty()) report.coefficients_path = report_coefficients;
    if (!report_settings.empty()) report.settings_path = report_settings;
    if (!report_import.empty()) report.import_report_path = report_import;
    if (!report_convention.empty()) report.convention = morvex::ParseSignConvention(report_convention);
    return morvex::RunReportTool(report, std::cout, std::cerr);
  }
  if (tir_cmd->parsed()) {
    if (!tir_template.empty()) tir.template_path = tir_template;
    if (!tir_report.empty()) tir.report_path = tir_report;
    if (!tir_save_session.empty()) tir.save_session_path = tir_save_session;
    tir.show_progress = isatty(STDERR_FILENO) != 0;
    return morvex::RunTirTool(tir, std::cout, std::cerr);
  }
  if (check_cmd->parsed()) {
    check.channel = *morvex::ParseChannel(check_channel);
    check.executable_dir = exe_dir;
    if (!check_coefficients.empty()) check.coefficients_path = check_coefficients;
    return morvex::RunCheckTool(check, std::cout, std::cerr);
  }
  eval.channel = *morvex::ParseChannel(eval_channel);
  if (!eval_convention.empty()) eval.convention = morvex::ParseSignConvention(eval_convention);
  eval.executable_dir = exe_dir;
  if (!eval_coefficients.empty()) eval.coefficients_path = eval_coefficients;
  return morvex::RunEvalTool(eval, std::cout, std::cerr);
}
