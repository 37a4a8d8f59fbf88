// morvex-fit: the fit commands of the desktop window, run on files.
//
//   fit   loads the start-up defaults and an optional coefficient file,
//         sets the free flags, runs one fit command on a data file and
//         writes the whole coefficient set to a coefficient file;
//   eval  prints the channel's model value at given (camber, load, slip)
//         points;
//   convert  reads a coefficient file and writes it in the other format
//         (INI coefficient file or Magic Formula property file, .tir).
//
// Both run the same core code as the window; this layer only gathers the
// inputs, reports and maps failures to exit codes:
//   0  success;
//   1  the Levenberg-Marquardt fitter or the trust-region fit failed (the
//      output is still written, as the window would still show the values);
//   2  any other error (nothing written);
//   3  the fit finished but its verdict is poor (the output is written; the
//      reasons are on the error stream and in the report).
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "files/SignConvention.h"
#include "files/SessionFile.h"
#include "files/TirFile.h"
#include "fitting/FitCommands.h"

namespace morvex {

constexpr int kExitOk = 0;
constexpr int kExitFitFailed = 1;
constexpr int kExitError = 2;
constexpr int kExitFitPoor = 3;

struct TFitToolOptions {
  TFitChannel channel = TFitChannel::kLateral;
  std::string data_path;
  std::optional<std::string> coefficients_path;  // imported as "Import MF model" does
  std::string free = "all";                      // "all" or a comma-separated list of names
  TOptimizerChoice optimizer = TOptimizerChoice::kLevenbergMarquardt;
  // After the first fit, a trust-region fit from its result ("de+tr").
  bool polish_with_trust_region = false;
  // Start from values estimated from the data ("--start estimate") instead
  // of the files' values.
  bool estimate_start = false;
  std::optional<std::string> settings_path;      // default: configuration.ini in executable_dir
  std::optional<std::string> output_path;        // a .tir file is written as a property file
  std::optional<std::string> template_path;      // .tir whose other lines an output .tir keeps
  // The convention of the set when a .tir is read or written; by default
  // the sign of PKy1 tells (see files/SignConvention.h).
  std::optional<TSignConvention> convention;
  std::string executable_dir;                    // where param_fm_ini.ini and configuration.ini live
  bool show_progress = false;                    // progress lines on `err`
  // --fz0: FNOMIN of a --coefficients file that lacks it, else the rated load
  // at which the start set is re-expressed (ApplyFz0Option); --r0:
  // UNLOADED_RADIUS of a .tir that lacks it; --trail-reading: the trail of a
  // .tir with LFZO other than 1.
  std::optional<double> fz0;
  std::optional<double> r0;
  TTrailReading trail_reading = TTrailReading::kBook;
  // --session: start from a session's state instead of the start-up
  // defaults: its embedded data (when data_path is empty), its coefficients
  // and free flags, its optimizer and start.  What the command line gives
  // wins: the flags below say which of channel, --free, --optimizer and
  // --start were given.  Without --channel the channel is the data's, else
  // the chart's page.  Paths the session names are never read.
  std::optional<std::string> session_path;
  bool channel_given = true;
  bool free_given = true;
  bool optimizer_given = true;
  bool start_given = true;
  // --save-session: the state after the fit (the set, the report and
  // verdict, the data embedded) written as a session; an existing session
  // (the --session itself included) is replaced in one step, any other
  // file is refused.
  std::optional<std::string> save_session_path;
};

struct TEvalToolOptions {
  TFitChannel channel = TFitChannel::kLateral;
  std::optional<std::string> coefficients_path;
  std::optional<TSignConvention> convention;
  std::string points_path;
  std::string executable_dir;
};

// Parses "lateral", "aligning", "longitudinal" (any case).
std::optional<TFitChannel> ParseChannel(std::string_view text);

// morvex-fit convert IN OUT: a coefficient file (INI, or .tir by its
// extension) read as "Import MF model" reads it over the start-up defaults,
// and written as "Export to file" writes it.
struct TConvertToolOptions {
  std::string input_path;
  std::string output_path;
  std::optional<std::string> template_path;
  std::optional<TSignConvention> convention;
  std::string executable_dir;
  // As in TFitToolOptions, for IN.
  std::optional<double> fz0;
  std::optional<double> r0;
  TTrailReading trail_reading = TTrailReading::kBook;
};

// How a coefficient file is read on the command line.
struct TCoefficientFileRead {
  std::optional<TSignConvention> convention;
  // The channel being fitted: an INI file must hold some of its keys
  // (without one, some of the 60).
  std::optional<TFitChannel> channel;
  // --fz0 / --r0 / --trail-reading (see NominalValueFlags).
  std::optional<double> fz0;
  std::optional<double> r0;
  TTrailReading trail = TTrailReading::kBook;
};

// --fz0 N on a set just read: a set whose file gave no rated load takes N
// as it is; one that has a rated load is re-expressed at N, so that every
// curve of every channel stays the same (tiremodel/RatedLoad.h).  What was
// done goes to `err` as one line.  Nothing happens without the option.
void ApplyFz0Option(TCoefficientSet& set, std::optional<double> fz0, bool file_gave_fz0, std::ostream& err);

// What a .tir holds beyond the 60 pure-slip coefficients: its combined-slip,
// overturning and rolling-resistance coefficients (none when the file gave
// none of their keys) and its measurement speed.
struct TCombinedPart {
  std::optional<TCombinedCoefficients> coefficients;
  std::optional<double> longvl;
};

// ImportCoefficientFile, and whether the file gave the rated load Fz0 (when
// it did not, Fz0 keeps the text it had).  `fz0_supplied`: set when a .tir
// without FNOMIN took `read.fz0` for it, so --fz0 has done its work.
bool ImportCoefficientFileGivesFz0(TCoefficientSet& set, const std::string& path, const TCoefficientFileRead& read,
                                   std::ostream& err, bool* fz0_supplied = nullptr, TCombinedPart* combined = nullptr);

// Reads a coefficient file into `set`: a .tir through the property-file
// import, anything else as an INI coefficient file; the messages go to
// `err`.  The file must exist.  `combined`: receives the combined part of
// a .tir (left empty for any other file).
void ImportCoefficientFile(TCoefficientSet& set, const std::string& path, const TCoefficientFileRead& read,
                           std::ostream& err, bool* fz0_supplied = nullptr, TCombinedPart* combined = nullptr);
void ImportCoefficientFile(TCoefficientSet& set, const std::string& path, std::optional<TSignConvention> convention,
                           std::ostream& err);

// What --fz0 N and --r0 M did with the file read (`path`, nullopt without
// one): they give FNOMIN and UNLOADED_RADIUS of a .tir that lacks them
// (`tir` tells which were supplied).  Given for a file that states them, or
// without a .tir, they are refused (Exception), since the file's own value
// is never replaced silently.
void NominalValueFlags(const TCoefficientFileRead& read, const std::optional<std::string>& path,
                       const TTirImportResult* tir);

// Writes `set` to `path`: a .tir through the property-file export (with
// `template_path` when given; its messages go to `err`), anything else as
// an INI coefficient file.  `combined`: written into a .tir too (an INI
// coefficient file has no place for it).
void ExportCoefficientFile(const TCoefficientSet& set, const std::string& path,
                           const std::optional<std::string>& template_path,
                           std::optional<TSignConvention> convention, const TTirExportInfo& info, std::ostream& err,
                           const TCombinedPart* combined = nullptr);
// Refuses a template without a .tir output, or one that is no .tir.
void CheckOutputOptions(const std::optional<std::string>& output_path,
                        const std::optional<std::string>& template_path);

// Sets the free flags from --free: "all" (every flag but Fz0's, the
// engineer's choice) or a comma-separated list of names in any case.
// Raises Exception for an unknown name or one without a free flag, before
// any flag changes.
void ApplyFreeList(TCoefficientSet& set, const std::string& list);

// Reads the session file at `path` for a command and says on `err` what the
// user should know about it: its embedded data changed after saving, or its
// source file changed since.  Every path it names is left unread.
TSessionRead OpenSession(const std::string& path, std::ostream& err);

int RunFitTool(const TFitToolOptions& options, std::ostream& out, std::ostream& err);
int RunEvalTool(const TEvalToolOptions& options, std::ostream& out, std::ostream& err);
int RunConvertTool(const TConvertToolOptions& options, std::ostream& out, std::ostream& err);

}  // namespace morvex
