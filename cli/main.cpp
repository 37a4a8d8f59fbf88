// morvex-fit: fits Magic Formula coefficients to tire data from a terminal.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/CheckTool.h"
#include "cli/FitTool.h"
#include "cli/ImportTool.h"
#include "numerics/LxBasics.h"

namespace {

std::string ExecutableDir(const char* argv0) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) exe = std::filesystem::absolute(argv0, ec);
  return exe.parent_path().string();
}

}  // namespace

// `text` with ASCII letters in lower case.
std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

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
      "param_fm_ini.ini and configuration.ini are read from the folder of the executable.");

  const std::vector<std::string> channels = {"lateral", "aligning", "longitudinal"};
  std::string fit_channel, fit_optimizer = "lm", eval_channel;

  morvex::TFitToolOptions fit;
  std::string fit_coefficients, fit_settings, fit_output;
  CLI::App* fit_cmd = app.add_subcommand(
      "fit", "Fit the free coefficients of one channel to a tire data file and report the result.");
  fit_cmd->add_option("--channel", fit_channel, "Channel to fit: lateral, aligning or longitudinal")
      ->required()
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  fit_cmd->add_option("--data", fit.data_path, "Tire data file (LOAD_CASE blocks)")->required();
  fit_cmd->add_option("--coefficients", fit_coefficients,
                      "Coefficient file whose values replace the start-up defaults");
  fit_cmd->add_option("--free", fit.free,
                      "Coefficients the fit may change: 'all' or a comma-separated list of names "
                      "(any case), e.g. PCy1,PDy1,PKy1")
      ->capture_default_str();
  fit_cmd->add_option("--optimizer", fit_optimizer,
                      "lm: Levenberg-Marquardt from the start values; de: differential evolution "
                      "within the bounds of the settings file; tr: trust-region least squares from "
                      "the start values; de+tr: differential evolution, then the trust region from "
                      "its best member")
      ->check(CLI::IsMember({"lm", "de", "tr", "de+tr"}, CLI::ignore_case))
      ->capture_default_str();
  std::string fit_start = "files";
  fit_cmd->add_option("--start", fit_start,
                      "files: start from param_fm_ini.ini and --coefficients; estimate: estimate "
                      "the free coefficients of the channel from the data first")
      ->check(CLI::IsMember({"files", "estimate"}, CLI::ignore_case))
      ->capture_default_str();
  fit_cmd->add_option("--settings", fit_settings,
                      "Fit settings file (default: configuration.ini beside the executable)");
  fit_cmd->add_option("--output", fit_output, "Coefficient file to write the whole set to");

  morvex::TEvalToolOptions eval;
  std::string eval_coefficients;
  CLI::App* eval_cmd = app.add_subcommand(
      "eval", "Print the channel's model value for each 'camber load slip' line of a points file.");
  eval_cmd->add_option("--channel", eval_channel, "lateral, aligning or longitudinal")
      ->required()
      ->check(CLI::IsMember(channels, CLI::ignore_case));
  eval_cmd->add_option("--coefficients", eval_coefficients,
                       "Coefficient file whose values replace the start-up defaults");
  eval_cmd->add_option("--points", eval.points_path,
                       "Text file: camber (degrees), load and slip per line, separated as in "
                       "data files")
      ->required();

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
                         "key=value list: warmup (s), time-from, time-to (s), load-floor (N), pressure (kPa, or "
                         "auto/off), pressure-tol, speed (km/h, or auto/off), speed-tol, max-slip-ratio, "
                         "max-slip-angle (deg), ia-tol (deg), load-tol (N), dwell (s), min-bin (samples), cell, "
                         "min-cell (samples); e.g. warmup=30,load-floor=300");
  import_cmd->add_option("--map", import.mapping,
                         "Channels to use instead of the usual names, role=CHANNEL list; roles: time, slip-angle, "
                         "slip-ratio, inclination, load, lateral-force, aligning-moment, longitudinal-force, "
                         "pressure, speed");
  import_cmd->add_option("--inclinations", import.inclinations,
                         "Inclination set-points (deg), comma-separated; default: found from the data");
  import_cmd->add_option("--loads", import.loads, "Load set-points (N), comma-separated; default: found from the data");
  import_cmd->add_option("--output", import.output_path, "Tire data file to write (LOAD_CASE blocks)")->required();

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : morvex::kExitError;
  }

  const std::string exe_dir = ExecutableDir(argv[0]);
  if (fit_cmd->parsed()) {
    fit.channel = *morvex::ParseChannel(fit_channel);
    const std::string optimizer = Lower(fit_optimizer);
    if (optimizer == "de" || optimizer == "de+tr")
      fit.optimizer = morvex::TOptimizerChoice::kDifferentialEvolution;
    else if (optimizer == "tr")
      fit.optimizer = morvex::TOptimizerChoice::kTrustRegion;
    else
      fit.optimizer = morvex::TOptimizerChoice::kLevenbergMarquardt;
    fit.polish_with_trust_region = optimizer == "de+tr";
    fit.estimate_start = Lower(fit_start) == "estimate";
    fit.executable_dir = exe_dir;
    if (!fit_coefficients.empty()) fit.coefficients_path = fit_coefficients;
    if (!fit_settings.empty()) fit.settings_path = fit_settings;
    if (!fit_output.empty()) fit.output_path = fit_output;
    fit.show_progress = isatty(STDERR_FILENO) != 0;
    return morvex::RunFitTool(fit, std::cout, std::cerr);
  }
  if (import_cmd->parsed()) {
    const auto channel = *morvex::ParseChannel(import_channel);
    import.channel = channel == morvex::TFitChannel::kAligning       ? morvex::TImportChannel::kAligning
                     : channel == morvex::TFitChannel::kLongitudinal ? morvex::TImportChannel::kLongitudinal
                                                                      : morvex::TImportChannel::kLateral;
    return morvex::RunImportTool(import, std::cout, std::cerr);
  }
  if (check_cmd->parsed()) {
    check.channel = *morvex::ParseChannel(check_channel);
    check.executable_dir = exe_dir;
    if (!check_coefficients.empty()) check.coefficients_path = check_coefficients;
    return morvex::RunCheckTool(check, std::cout, std::cerr);
  }
  eval.channel = *morvex::ParseChannel(eval_channel);
  eval.executable_dir = exe_dir;
  if (!eval_coefficients.empty()) eval.coefficients_path = eval_coefficients;
  return morvex::RunEvalTool(eval, std::cout, std::cerr);
}
