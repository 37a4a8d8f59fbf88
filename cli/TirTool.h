// morvex-fit tir RUN... --output TIRE.tir: a whole tire from a test
// programme in one command.
//
// Every run (delimited or TYDEX) is read with the default import and sorted
// into what its sweeps hold (rigdata/Programme.h); the stages are fitted in
// order from start values estimated from the data, with one rated load and
// one radius for all (fitting/TireProgramme.h); one line per stage gives its
// points, verdict and RMS; the property file carries the coefficients of
// every stage fitted, the USE_MODE the data support (and why not more), the
// ranges the data covered, the pressure and speed held, and a header that
// lists every stage with the runs that fed it and its verdict.  With a
// report path, the validation report of the programme follows
// (cli/ReportTool.h); it is refused, before anything is read, when it names
// an input, the property file, or no .pdf or .html.
//
// With a session path, the session written after the fit holds the
// programme (the runs with their hashes, the data imported from them, every
// stage's fit) and the fitted pure-slip coefficients as the panel's values,
// for the window and `morvex-fit fit --session` to go on from.  A session
// path that names a run, the template or the output is refused before
// anything is read.
//
// Exit status: 0 every stage fitted is good; 3 a stage is poor (the files
// are still written); 2 nothing usable in the runs, or any error (nothing
// written).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace morvex {

struct TTirToolOptions {
  std::vector<std::string> run_paths;
  std::string output_path;
  std::optional<std::string> template_path;  // .tir whose other lines the output keeps
  std::optional<double> fz0;                  // N; default: the runs' FNOMIN, else the middle held load
  std::optional<double> r0;                   // m; default: the runs' RFREE (required when none gives it)
  std::optional<std::string> save_session_path;  // session (.morvex) to write after the fit
  bool show_progress = false;                 // progress lines on `err`
  std::optional<std::string> report_path;     // validation report (.pdf or .html) written after the fit
};

int RunTirTool(const TTirToolOptions& options, std::ostream& out, std::ostream& err);

}  // namespace morvex
