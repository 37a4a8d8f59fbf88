// The session file (.morvex): the whole working state of the fitting window
// in one text file, so that work survives the program and travels between
// engineers.
//
// Format, version 2.  Lines end in LF.  The first line is exactly
// "MORVEX SESSION 2"; the last is "end".  Every other line is a record: a
// keyword, then its fields, each separated by one space.  A field is a bare
// word (no space, quote, backslash or control character) or a quoted string
// "..." in which \\, \", \n, \r, \t and \xHH stand for those bytes.  Numbers
// are written in the shortest form that reads back to the same double
// ("nan", "inf" and "-inf" included).  Lines starting with '#' are comments.
// Long texts (the data file, a fit report) are blocks: the record ends in
// the text's length in bytes, the text follows verbatim on the next lines,
// and one LF closes it, so no content can end or fake a record.
//
//   MORVEX SESSION 1
//   data-channel lateral|aligning|longitudinal|none
//   data-label "what the window names the data"
//   data-source "/path/it/was/read/from" <sha256 of that file>|-
//   data-text <sha256 of the text> <bytes>          (the data file's text)
//   coefficient <name> free|fixed "<text>"           (all 60, each once)
//   fit-optimizer lm|de|tr|de+tr
//   fit-start files|estimate
//   fit-settings "/path/configuration.ini"           ("" for the default)
//   import-format|-delimiter|-convention|-filters|-mapping|-inclinations|-loads "<text>"
//   run "/path/run.csv" <sha256>|-                   (zero or more)
//   channel lateral|aligning|longitudinal           (zero or more, each once)
//     verdict good|poor
//     rms <number>
//     reason|note "<code>" "<text>" "<advice>"       (zero or more)
//     fitted <name> "<text>"                         (none or all 60: the values the fit left)
//     report <bytes>                                 (the fit report's text)
//   end-channel
//   programme                                        (at most once: a tire's test programme)
//     run "/path/run.tdx" <sha256>|-                 (zero or more, in the order given)
//     typed-fz0 none|<N>                             (typed over the runs' value; finite)
//     typed-r0 none|<m>
//     data lateral|aligning|longitudinal|combined <bytes>   (each at most once, never empty:
//                                                    a tire data file's text, or for combined
//                                                    a combined data file's text)
//     feed "<run path>" "<stage>" "<set-points>" <points> "<note>"   (zero or more; stage:
//                                                    lateral, aligning, longitudinal, combined
//                                                    or nothing)
//     import-report <bytes>                          (zero or more: per run, its import reports)
//     ranges <Fz min> <Fz max> <kappa min> <kappa max> <alpha min> <alpha max> <camber min> <camber max>
//     pressure <Pa>                                  (these five: finite, or nan for none)
//     longvl <m/s>
//     fz0 <N> "<where it came from>"
//     r0 <m> "<where it came from>"
//     warning "<text>"                               (zero or more)
//     fit                                            (at most once: the last fit of its stages)
//       coefficient <name> "<text>"                  (all 60: the pure-slip set as fitted)
//       combined <name> <value>                      (zero or more, each once: RBX1 ... QSY4)
//       use-mode 0|1|2|3|4
//       mode-reason "<stage>: <why not fitted>"      (zero or more)
//       cancelled on|off
//       stage "<name>"                               (zero or more, each name once, in the order
//                                                    fitted: "lateral", "aligning", "longitudinal",
//                                                    "Fx combined", "Fy combined", "Mz combined",
//                                                    "Mx", "My")
//         points <n>
//         fitted on|off "<why not fitted>"
//         verdict good|poor
//         cancelled on|off
//         reason|note "<code>" "<text>" "<advice>"   (zero or more)
//         rms <number>                               (nan when not fitted)
//         termination "not run"|"finished"|"iteration limit"|"cancelled"|"failed"
//         iterations <n>
//         cost <start cost> <final cost>
//         coefficient <name> <value> <standard error> "<note>"   (zero or more, the fit's
//                                                    order; the error nan: not determined)
//         start-value <number>                       (zero or more, same order)
//         held "<text>"                              (zero or more: "REX2 (one load)")
//       end-stage
//     end-fit
//   end-programme
//   view-page lateral|aligning|longitudinal
//   view-camber <index>
//   view-zoom none | view-zoom <x-min> <x-max> <y-min> <y-max>
//   view-residuals on|off
//   view-model on|off
//   view-data on|off
//   view-paired-colours on|off                       (version 2)
//   view-all-cambers on|off                          (version 2)
//   view-hidden <curve index>                        (zero or more)
//   end
//
// Version 1 is version 2 without the programme block and the last two view
// records (read as off); a version 1 session holding them is refused.
//
// The data records appear together or not at all.  Coefficient texts are
// kept exactly as the panel holds them, so every value reads back to the
// same double.  Inside a block, a record of the block's own (coefficient,
// run, reason, ...) belongs to that block; a block's record not marked
// "zero or more" or "at most once" appears exactly once.
//
// Reading is strict and safe to receive: a malformed session is refused
// with its line and the reason, and nothing is returned half-read.  Reading
// never writes a file, never reads any file but the session, and never runs
// anything; the paths a session holds are reported for the user to see, and
// the embedded data stands in for its source.  A newer version than this
// program knows is refused by name; older versions stay readable (the
// reader dispatches on the version line).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "numerics/LxTypes.h"
#include "tiremodel/Channel.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

// The version this program writes, and the newest it reads.
constexpr int kSessionVersion = 2;
// Sessions larger than this are refused unread: the largest tire data file
// read (256 MB) with room for everything else.
constexpr uint64_t kMaxSessionFileBytes = (256ull + 16ull) << 20;

// A malformed session: the line (1-based; 0 for the file as a whole) and
// the reason.  what() is "<where>, line <n>: <reason>".
class ESessionFormat : public Exception {
 public:
  ESessionFormat(const std::string& where, int line, const std::string& reason);
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  int line_;
  std::string reason_;
};

// The data the window works on, embedded.
struct TSessionData {
  std::string text;                       // the data file's text, verbatim
  std::optional<TFitChannel> channel;     // the channel the data was measured for, when known
  std::string label;                      // what the window names it
  std::string source_path;                // the file it came from; empty when none
  std::string source_sha256;              // that file's hash when saved; empty when unknown
  bool operator==(const TSessionData&) const = default;
};

// The optimizer chosen; kSearchThenTrustRegion is the command line's "de+tr".
enum class TSessionOptimizer { kLevenbergMarquardt, kDifferentialEvolution, kTrustRegion, kSearchThenTrustRegion };

struct TSessionFit {
  TSessionOptimizer optimizer = TSessionOptimizer::kLevenbergMarquardt;
  bool estimate_start = false;            // start from values estimated from the data
  std::string settings_path;              // fit settings file; empty for the default
  bool operator==(const TSessionFit&) const = default;
};

// A raw run the data was imported from.
struct TSessionRun {
  std::string path;
  std::string sha256;                     // empty when unknown
  bool operator==(const TSessionRun&) const = default;
};

// The import settings, as morvex-fit import takes them (filters: the
// "key=value,..." text ApplyFilterText reads).
struct TSessionImport {
  std::string format = "auto";
  std::string delimiter = "auto";
  std::string convention = "auto";
  std::string filters;
  std::string mapping;
  std::string inclinations;
  std::string loads;
  std::vector<TSessionRun> runs;
  bool operator==(const TSessionImport&) const = default;
};

struct TSessionReason {
  std::string code;
  std::string text;
  std::string advice;
  bool operator==(const TSessionReason&) const = default;
};

// A channel's last fit: its report and verdict.
struct TSessionChannel {
  bool poor = false;
  std::vector<TSessionReason> reasons;
  std::vector<TSessionReason> notes;
  double rms = 0;
  std::string report;                     // the report's text
  // The panel's texts the fit left, which tell whether the values shown are
  // still that fit's; none when not kept.
  std::optional<std::array<std::string, kCoefficientCount>> fitted;
  bool operator==(const TSessionChannel&) const = default;  // rms compared as a double (NaN differs)
};

// The chart as it was shown.
struct TSessionView {
  TFitChannel page = TFitChannel::kLateral;
  int camber_index = 0;
  std::optional<std::array<double, 4>> zoom;  // x-min, x-max, y-min, y-max; none: the whole curves
  bool residuals = false;
  bool model_shown = true;
  bool data_shown = true;
  std::vector<int> hidden_curves;         // legend entries switched off
  bool paired_colours = false;            // one colour per load for model and data
  bool all_cambers = false;               // every camber at once
  bool operator==(const TSessionView&) const = default;
};

// A coefficient a stage of a tire's programme fitted.
struct TSessionStageCoefficient {
  std::string name;
  double value = 0;
  double standard_error = 0;              // NaN: not determined
  std::string note;                       // why not determined; empty otherwise
  bool operator==(const TSessionStageCoefficient&) const = default;
};

// One stage of a tire fitted from a test programme, as its fit left it
// (fitting/TireProgramme.h): "lateral", "aligning", "longitudinal",
// "Fx combined", "Fy combined", "Mz combined", "Mx", "My".
struct TSessionStage {
  std::string name;
  uint64_t points = 0;
  bool fitted = false;
  std::string not_fitted_reason;
  bool poor = false;
  bool cancelled = false;
  std::vector<TSessionReason> reasons;
  std::vector<TSessionReason> notes;
  double rms = 0;                         // NaN when not fitted
  std::string termination;                // the fit's termination, as its report names it
  int iterations = 0;
  double start_cost = 0;
  double final_cost = 0;
  std::vector<TSessionStageCoefficient> coefficients;  // in the fit's order
  std::vector<double> start_values;       // the estimate the fit ran from, same order
  std::vector<std::string> held;          // "REX2 (one load)"
  bool operator==(const TSessionStage&) const = default;
};

// A run of a test programme and what it fed.
struct TSessionFeed {
  std::string path;
  std::string stage;                      // "lateral", ..., "combined", "nothing"
  std::string set_points;
  uint64_t points = 0;
  std::string note;
  bool operator==(const TSessionFeed&) const = default;
};

// A whole tire built from a test programme's runs ("Build tire from runs",
// `morvex-fit tir`): the runs, the data imported from them (embedded, so
// the runs need not be read again), and the last fit of its stages.
struct TSessionProgramme {
  std::vector<TSessionRun> runs;
  std::optional<double> fz0_typed;        // N, typed over the runs' value
  std::optional<double> r0_typed;         // m
  // The imported data: the pure-slip sets as tire data files' text, the
  // combined-slip set as the combined data file's text; empty: none.
  std::string lateral_text;
  std::string aligning_text;
  std::string longitudinal_text;
  std::string combined_text;
  std::vector<TSessionFeed> feeds;
  std::vector<std::string> import_reports;  // per run, its import reports as text
  std::array<double, 8> ranges{};         // Fz, kappa, alpha, camber: min, max (NaN: none)
  double pressure = 0;                    // Pa; NaN: none held
  double longvl = 0;                      // m/s; NaN: none held
  double fz0 = 0;                         // N
  std::string fz0_source;
  double r0 = 0;                          // m; NaN: no run gives one
  std::string r0_source;
  std::vector<std::string> warnings;
  // The last fit; none before the programme was fitted.
  struct Fit {
    std::array<std::string, kCoefficientCount> texts;  // the pure-slip set, table order
    std::vector<std::pair<std::string, double>> combined;  // every combined coefficient, by name
    std::vector<TSessionStage> stages;
    int use_mode = 0;
    std::vector<std::string> mode_reasons;
    bool cancelled = false;
    bool operator==(const Fit&) const = default;
  };
  std::optional<Fit> fit;
  bool operator==(const TSessionProgramme&) const = default;
};

struct TSessionState {
  std::optional<TSessionData> data;
  std::array<std::string, kCoefficientCount> texts;  // table order (Coefficients())
  std::array<bool, kCoefficientCount> free{};        // R0's is always false
  TSessionFit fit;
  TSessionImport import;
  std::array<std::optional<TSessionChannel>, 3> channels;  // by TFitChannel
  TSessionView view;
  std::optional<TSessionProgramme> programme;

  // The table's default texts, every flag but R0's set, as
  // TMemoryCoefficientSet starts.
  TSessionState();
  void TakeCoefficients(const TCoefficientSet& set);
  void GiveCoefficients(TCoefficientSet& set) const;
  std::optional<TSessionChannel>& Channel(TFitChannel channel) { return channels[static_cast<size_t>(channel)]; }
  const std::optional<TSessionChannel>& Channel(TFitChannel channel) const {
    return channels[static_cast<size_t>(channel)];
  }
  bool operator==(const TSessionState&) const = default;
};

// A path a session names, and what it is for.
struct TSessionPath {
  std::string role;   // "data source", "run", "programme run", "fit settings"
  std::string path;
  bool operator==(const TSessionPath&) const = default;
};

// What reading gives: the state, whether the embedded data's text still has
// the hash it was saved with (false: it was changed after saving), and every
// path the session names.
struct TSessionRead {
  TSessionState state;
  int version = kSessionVersion;
  bool data_hash_matches = true;          // true too when there is no data
  std::vector<TSessionPath> paths;
};

// The session's text.
std::string FormatSession(const TSessionState& state);

// Reads a session's text; `where` names it in errors.  Raises ESessionFormat.
TSessionRead ParseSession(std::string_view text, const std::string& where = "session");

// Reads the session file at `path`, refused (ESessionFormat, line 0) when it
// is no regular file or larger than `max_bytes`; EFOpenError when it cannot
// be opened.
TSessionRead ReadSessionFile(const std::string& path, uint64_t max_bytes = kMaxSessionFileBytes);

// Every path `state` names, in the order: data source, runs, the
// programme's runs, fit settings.
std::vector<TSessionPath> SessionPaths(const TSessionState& state);

// Writes the session to `path` in one step: a temporary file in the same
// folder renamed over it, so a failure leaves an existing file as it was
// and no temporary file behind.  Refused (Exception, nothing written) when
// `path` names a path of the session, one of `inputs`, or an existing file
// that is no session: an input is never overwritten.  EWriteError when the
// file cannot be written.
void WriteSessionFile(const std::string& path, const TSessionState& state,
                      const std::vector<std::string>& inputs = {});
// The refusals of WriteSessionFile alone, without writing: for a caller
// that checks its outputs before doing the work.
void CheckSessionTarget(const std::string& path, const TSessionState& state,
                        const std::vector<std::string>& inputs = {});

// Whether a file a session names is still as it was when the session was
// saved.  Only a regular file is read (a device or pipe named by a received
// session is never opened), and only within kMaxSessionFileBytes.
enum class TSourceState {
  kUnchanged,    // same hash
  kChanged,      // another hash
  kMissing,      // no file there
  kUnreadable,   // no regular file, too large, or not readable
  kNotChecked,   // no path, or no hash was saved for it
};
TSourceState CheckSourceFile(const std::string& path, const std::string& saved_sha256);
// The same for the data's source file (kNotChecked without data).
TSourceState CheckDataSource(const TSessionState& state);
const char* SourceStateName(TSourceState state);

// Text names used in the file: "lateral", ...; "lm", "de", "tr", "de+tr".
const char* SessionChannelName(TFitChannel channel);
std::optional<TFitChannel> ParseSessionChannel(std::string_view text);
const char* SessionOptimizerName(TSessionOptimizer optimizer);
std::optional<TSessionOptimizer> ParseSessionOptimizer(std::string_view text);

}  // namespace morvex
