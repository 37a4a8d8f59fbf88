#include "cli/FitTool.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <tuple>
#include <vector>

#include "cli/OutputGuard.h"
#include "files/CoefficientFile.h"
#include "files/SessionFile.h"
#include "files/Sha256.h"
#include "files/TirFile.h"
#include "fitting/ChannelModel.h"
#include "fitting/CombinedFit.h"
#include "fitting/FitVerdict.h"
#include "fitting/FitReport.h"
#include "fitting/StartEstimate.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

namespace {

namespace fs = std::filesystem;

// The window's surroundings, reduced to a terminal: no windows to swap, no
// cursor, messages and progress on the error stream.
class ConsoleHost final : public IFitHost {
 public:
  ConsoleHost(std::ostream& err, bool show_progress) : err_(err), show_progress_(show_progress) {}
  ~ConsoleHost() override { EndProgressLine(); }

  void ShowWaitScreen() override {}
  void HideWaitScreen() override {}
  void SetBusyCursor(bool) override {}
  void Redraw() override {}
  // The cost and the failure message reach the report through the outcome.
  void SetCostText(const std::string&) override {}
  void ShowMessage(const std::string&) override {}

  void Progress(const TFitProgress& p) override {
    if (!show_progress_) return;
    if (p.optimizer != TOptimizerChoice::kDifferentialEvolution) {
      err_ << "\riteration " << p.step << "  cost " << FloatToStr(p.best_cost) << "        ";
    } else {
      const int total = std::max(p.total_steps, 1);
      const int done = p.step + 1;
      const int width = 30;
      const int filled = static_cast<int>(static_cast<long long>(done) * width / total);
      err_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
           << std::string(static_cast<size_t>(width - filled), ' ') << "] " << done << '/' << total
           << "  best " << FloatToStr(p.best_cost) << "    ";
    }
    err_.flush();
    line_open_ = true;
  }

  void EndProgressLine() {
    if (line_open_) err_ << '\n';
    line_open_ = false;
  }

 private:
  std::ostream& err_;
  bool show_progress_;
  bool line_open_ = false;
};

std::string JoinPath(const std::string& dir, const char* name) {
  return dir.empty() ? std::string(name) : (fs::path(dir) / name).string();
}

void RequireFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw EFOpenError(path);
}

// The speed of the points of `eval` (m/s) when the file names no LONGVL: the
// reference speed property files usually state; it enters only My.
constexpr double kDefaultLongvl = 16.7;

// The start-up defaults, or the coefficients of `session` when given; then
// the coefficient file over them and --fz0.
TMemoryCoefficientSet StartingSet(const std::string& executable_dir,
                                  const std::optional<std::string>& coefficients_path,
                                  const TCoefficientFileRead& read, std::ostream& err,
                                  TCombinedPart* combined = nullptr, const TSessionState* session = nullptr) {
  TMemoryCoefficientSet set;
  if (session != nullptr)
    session->GiveCoefficients(set);
  else
    LoadStartupDefaults(set, JoinPath(executable_dir, "param_fm_ini.ini"));
  bool file_gave_fz0 = true;  // the start-up defaults hold one
  bool fz0_supplied = false;   // a .tir without FNOMIN took --fz0 for it
  if (coefficients_path)
    file_gave_fz0 = ImportCoefficientFileGivesFz0(set, *coefficients_path, read, err, &fz0_supplied, combined);
  else
    NominalValueFlags(read, std::nullopt, nullptr);
  if (!fz0_supplied) ApplyFz0Option(set, read.fz0, file_gave_fz0, err);
  return set;
}

TCoefficientGroup GroupOf(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral:
      return TCoefficientGroup::kLateral;
    case TFitChannel::kLongitudinal:
      return TCoefficientGroup::kLongitudinal;
    default:
      return TCoefficientGroup::kAligning;
  }
}

TSessionOptimizer SessionOptimizerOf(TOptimizerChoice optimizer, bool polish) {
  if (polish) return TSessionOptimizer::kSearchThenTrustRegion;
  switch (optimizer) {
    case TOptimizerChoice::kDifferentialEvolution: return TSessionOptimizer::kDifferentialEvolution;
    case TOptimizerChoice::kTrustRegion: return TSessionOptimizer::kTrustRegion;
    default: return TSessionOptimizer::kLevenbergMarquardt;
  }
}

std::vector<TSessionReason> SessionReasons(const std::vector<TVerdictReason>& reasons) {
  std::vector<TSessionReason> out;
  for (const TVerdictReason& reason : reasons) out.push_back({reason.code, reason.text, reason.advice});
  return out;
}

}  // namespace

// Sets the free flags from "all" or a comma-separated list of names.
void ApplyFreeList(TCoefficientSet& set, const std::string& list) {
  std::string trimmed = list;
  trimmed.erase(std::remove_if(trimmed.begin(), trimmed.end(),
                               [](char c) { return c == ' ' || c == '\t'; }),
                trimmed.end());
  const bool all = AsciiUpper(trimmed) == "ALL";
  // "all" leaves out the engineer's choices, Fz0 and R0: naming them frees them.
  std::vector<bool> chosen(kCoefficientCount, false);
  for (size_t i = 0; all && i < chosen.size(); ++i) chosen[i] = FreedByAll(Coefficients()[i]);
  if (!all) {
    std::stringstream names(trimmed);
    std::string name;
    while (std::getline(names, name, ',')) {
      if (name.empty()) continue;
      const int index = FindCoefficient(name);
      if (index < 0) throw Exception("Unknown coefficient '" + name + "' in --free");
      if (!Coefficients()[static_cast<size_t>(index)].HasFreeFlag())
        throw Exception("Coefficient '" + name + "' has no free flag and cannot be fitted");
      chosen[static_cast<size_t>(index)] = true;
    }
  }
  for (size_t i = 0; i < Coefficients().size(); ++i)
    set.SetFree(Coefficients()[i].name, chosen[i]);
}

// Reads --session and says on `err` what the user should know about it:
// every path it names is left unread, and whether its data is still what
// was saved.
TSessionRead OpenSession(const std::string& path, std::ostream& err) {
  TSessionRead session = ReadSessionFile(path);
  if (session.state.data) {
    if (!session.data_hash_matches)
      err << "morvex-fit: the data embedded in " << path
          << " does not match the hash it was saved with: it was changed after saving\n";
    if (CheckDataSource(session.state) == TSourceState::kChanged)
      err << "morvex-fit: the data source " << session.state.data->source_path
          << " changed since the session was saved; the embedded data is used\n";
  }
  return session;
}

void NominalValueFlags(const TCoefficientFileRead& read, const std::optional<std::string>& path,
                       const TTirImportResult* tir) {
  auto refuse = [&](const char* flag, const char* key) {
    if (!path) throw Exception(std::string(flag) + " gives " + key + " of a --coefficients .tir that lacks it; no such file was given");
    if (!tir) throw Exception(std::string(flag) + " gives " + key + " of a .tir that lacks it; " + *path + " is no .tir");
    throw Exception(*path + " states " + key + ": " + flag + " gives the value only for a .tir that lacks it, and the "
                    "file's own value is not replaced");
  };
  // --fz0 on a file that states its rated load re-expresses the set there
  // (ApplyFz0Option); only --r0 has no other meaning.
  if (read.r0 && !(tir && tir->r0_supplied)) refuse("--r0", "UNLOADED_RADIUS");
}

void ImportCoefficientFile(TCoefficientSet& set, const std::string& path, std::optional<TSignConvention> convention,
                           std::ostream& err) {
  TCoefficientFileRead read;
  read.convention = convention;
  ImportCoefficientFile(set, path, read, err);
}

void ImportCoefficientFile(TCoefficientSet& set, const std::string& path, const TCoefficientFileRead& read,
                           std::ostream& err, bool* fz0_supplied, TCombinedPart* combined) {
  if (fz0_supplied != nullptr) *fz0_supplied = false;
  if (combined != nullptr) *combined = {};
  RequireFile(path);
  if (!IsTirPath(path)) {
    NominalValueFlags(read, path, nullptr);
    const TCoefficientImportResult result =
        ImportCoefficients(set, path, read.channel ? std::optional(GroupOf(*read.channel)) : std::nullopt);
    for (const std::string& note : result.notes) err << "morvex-fit: " << note << '\n';
    return;
  }
  TTirReadOptions options;
  options.convention = read.convention;
  options.fz0 = read.fz0;
  options.r0 = read.r0;
  options.trail = read.trail;
  // Into a copy: a refused flag leaves `set` as it was.
  TMemoryCoefficientSet copy;
  CopyCoefficients(set, copy);
  const TTirImportResult result = ImportTir(copy, path, options);
  NominalValueFlags(read, path, &result);
  for (const std::string& note : result.notes) err << "morvex-fit: " << note << '\n';
  for (const TCoefficientInfo& info : Coefficients()) set.SetText(info.name, copy.Text(info.name));
  if (fz0_supplied != nullptr) *fz0_supplied = result.fz0_supplied;
  if (combined != nullptr) {
    if (!result.combined_keys.empty()) combined->coefficients = result.combined;
    combined->longvl = result.longvl;
  }
}

bool ImportCoefficientFileGivesFz0(TCoefficientSet& set, const std::string& path, const TCoefficientFileRead& read,
                                   std::ostream& err, bool* fz0_supplied, TCombinedPart* combined) {
  // An empty text is what no file writes: still empty afterwards, the file
  // had no rated load.
  const std::string before = set.Text("Fz0");
  set.SetText("Fz0", "");
  try {
    ImportCoefficientFile(set, path, read, err, fz0_supplied, combined);
  } catch (...) {
    if (set.Text("Fz0").empty()) set.SetText("Fz0", before);
    throw;
  }
  if (!set.Text("Fz0").empty()) return true;
  set.SetText("Fz0", before);
  return false;
}

void ApplyFz0Option(TCoefficientSet& set, std::optional<double> fz0, bool file_gave_fz0, std::ostream& err) {
  if (!fz0) return;
  if (!(std::isfinite(*fz0) && *fz0 > 0)) throw Exception("--fz0 must be a positive load in N, not " + FloatToStr(*fz0));
  if (!file_gave_fz0) {
    set.SetText("Fz0", FloatToStr(*fz0));
    err << "morvex-fit: the file gives no rated load: Fz0 = " << FloatToStr(*fz0) << " from --fz0\n";
    return;
  }
  const std::string before = set.Text("Fz0");
  ReexpressAtFz0(set, *fz0);
  err << "morvex-fit: coefficients re-expressed at Fz0 = " << FloatToStr(*fz0) << " (written at " << before
      << "); every curve is unchanged\n";
}

std::optional<TFitChannel> ParseChannel(std::string_view text) {
  const std::string upper = AsciiUpper(text);
  if (upper == "LATERAL") return TFitChannel::kLateral;
  if (upper == "ALIGNING") return TFitChannel::kAligning;
  if (upper == "LONGITUDINAL") return TFitChannel::kLongitudinal;
  return std::nullopt;
}

void ExportCoefficientFile(const TCoefficientSet& set, const std::string& path,
                           const std::optional<std::string>& template_path,
                           std::optional<TSignConvention> convention, const TTirExportInfo& info, std::ostream& err,
                           const TCombinedPart* combined) {
  if (!IsTirPath(path)) {
    ExportCoefficients(set, path);
    return;
  }
  if (template_path) RequireFile(*template_path);
  TTirExportOptions options;
  options.convention = convention;
  options.template_path = template_path;
  options.info = info;
  if (combined != nullptr) {
    options.combined = combined->coefficients;
    options.longvl = combined->longvl;
  }
  const TTirExportResult result = ExportTir(set, path, options);
  for (const std::string& note : result.notes) err << "morvex-fit: " << note << '\n';
}

void CheckOutputOptions(const std::optional<std::string>& output_path,
                        const std::optional<std::string>& template_path) {
  if (!template_path) return;
  if (!output_path || !IsTirPath(*output_path))
    throw Exception("--template applies to a .tir output only");
  if (!IsTirPath(*template_path)) throw Exception("--template must name a .tir file, not " + *template_path);
}

int RunFitTool(const TFitToolOptions& given, std::ostream& out, std::ostream& err) {
  ConsoleHost host(err, given.show_progress);
  TFitToolOptions options = given;
  TMemoryCoefficientSet set;
  TTireDataSet data;
  TFitOutcome outcome;
  double cost = 0;
  std::ostringstream report;
  try {
    // The session comes first: it may give the channel, the data and the
    // optimizer that the checks below need.
    std::optional<TSessionRead> session;
    if (options.session_path) {
      RequireFile(*options.session_path);
      session = OpenSession(*options.session_path, err);
      const TSessionState& state = session->state;
      if (!options.channel_given)
        options.channel = state.data && state.data->channel ? *state.data->channel : state.view.page;
      if (!options.optimizer_given) {
        const TSessionOptimizer o = state.fit.optimizer;
        options.polish_with_trust_region = o == TSessionOptimizer::kSearchThenTrustRegion;
        options.optimizer = o == TSessionOptimizer::kLevenbergMarquardt ? TOptimizerChoice::kLevenbergMarquardt
                            : o == TSessionOptimizer::kTrustRegion     ? TOptimizerChoice::kTrustRegion
                                                                       : TOptimizerChoice::kDifferentialEvolution;
      }
      if (!options.start_given) options.estimate_start = state.fit.estimate_start;
      if (!state.fit.settings_path.empty() && !options.settings_path)
        err << "morvex-fit: the session names the fit settings " << state.fit.settings_path
            << "; they are not read (give --settings to use them)\n";
      if (options.data_path.empty() && !state.data)
        throw Exception("the session " + *options.session_path + " holds no data: give --data");
    } else if (options.data_path.empty()) {
      throw Exception("no data: give --data, or a --session that holds data");
    }
    const std::vector<std::optional<std::string>> inputs = {
        options.data_path.empty() ? std::nullopt : std::optional(options.data_path), options.coefficients_path,
        options.settings_path, options.template_path, JoinPath(options.executable_dir, "configuration.ini"),
        JoinPath(options.executable_dir, "param_fm_ini.ini")};
    if (options.output_path) {
      std::vector<std::optional<std::string>> output_inputs = inputs;
      output_inputs.push_back(options.session_path);
      output_inputs.push_back(options.save_session_path);
      RefuseOutputNamingInput(*options.output_path, output_inputs);
    }
    // The session written at the end may replace the session read (it was
    // read whole), never another input; checked now, before any work.
    std::vector<std::string> session_inputs;
    for (const std::optional<std::string>& input : inputs)
      if (input) session_inputs.push_back(*input);
    if (options.output_path) session_inputs.push_back(*options.output_path);
    TSessionState saved = session ? session->state : TSessionState();
    if (options.save_session_path) {
      RefuseOutputNamingInput(*options.save_session_path, inputs);
      CheckSessionTarget(*options.save_session_path, TSessionState(), session_inputs);
    }
    CheckOutputOptions(options.output_path, options.template_path);
    TCoefficientFileRead read;
    read.convention = options.convention;
    read.channel = options.channel;
    read.fz0 = options.fz0;
    read.r0 = options.r0;
    read.trail = options.trail_reading;
    set = StartingSet(options.executable_dir, options.coefficients_path, read, err, nullptr,
                      session ? &session->state : nullptr);
    if (!session || options.free_given) ApplyFreeList(set, options.free);
    std::string data_text;
    if (!options.data_path.empty()) {
      RequireFile(options.data_path);
      data_text = ReadTireDataText(options.data_path);
      data = ParseTireDataText(data_text, options.data_path);
    } else {
      data = ParseTireDataText(session->state.data->text, *options.session_path + " (its embedded data)");
    }
    std::string settings = JoinPath(options.executable_dir, "configuration.ini");
    if (options.settings_path) {
      RequireFile(*options.settings_path);
      settings = *options.settings_path;
    }
    // The files' values stay at hand: the combined run also polishes them.
    TMemoryCoefficientSet files_values;
    CopyCoefficients(set, files_values);
    if (options.estimate_start) {
      const std::string fz0_before = set.Text("Fz0");
      const TStartEstimate estimate = EstimateStartValues(options.channel, set, data);
      FollowRatedLoad(set, fz0_before, OtherChannels(options.channel));
      err << "morvex-fit: estimated start values of " << estimate.changed.size()
          << " coefficients from the data (cost " << FloatToStr(estimate.cost) << ")\n";
    }
    if (options.polish_with_trust_region) {
      std::vector<const TCoefficientSet*> others;
      if (options.estimate_start) others.push_back(&files_values);
      outcome = RunSearchThenTrustRegion(options.channel, set, data, settings, host, others);
    } else {
      outcome = RunFitCommand(options.channel, set, data, options.optimizer, settings, host);
    }
    // The estimate is itself a fit: ending at its cost is no fault.
    if (options.estimate_start && !outcome.cancelled) MarkStartAsFit(outcome, set, data);
    host.EndProgressLine();

    const TFitReport fit_report = BuildFitReport(outcome, set, data);
    report << FormatFitReport(fit_report);
    cost = fit_report.cost;
    if (options.output_path) {
      TTirExportInfo info;
      if (!options.data_path.empty())
        info.data_file = fs::absolute(options.data_path).string();
      else if (!session->state.data->source_path.empty())
        info.data_file = session->state.data->source_path + " (embedded in " + *options.session_path + ")";
      else
        info.data_file = "the data embedded in " + *options.session_path;
      info.fits.push_back(FitSummaryLine(fit_report));
      AddDataRanges(info.ranges, data, options.channel != TFitChannel::kLongitudinal);
      ExportCoefficientFile(set, *options.output_path, options.template_path, options.convention, info, err);
    }
    if (options.save_session_path) {
      saved.TakeCoefficients(set);
      if (!options.data_path.empty()) {
        TSessionData embedded;
        embedded.text = data_text;
        embedded.channel = options.channel;
        embedded.label = fs::path(options.data_path).filename().string();
        embedded.source_path = fs::absolute(options.data_path).string();
        embedded.source_sha256 = Sha256Hex(data_text);
        saved.data = std::move(embedded);
      }
      saved.fit.optimizer = SessionOptimizerOf(options.optimizer, options.polish_with_trust_region);
      saved.fit.estimate_start = options.estimate_start;
      saved.fit.settings_path = options.settings_path ? fs::absolute(*options.settings_path).string() : std::string();
      TSessionChannel fitted;
      fitted.poor = outcome.verdict.poor;
      fitted.reasons = SessionReasons(outcome.verdict.reasons);
      fitted.notes = SessionReasons(outcome.verdict.notes);
      fitted.rms = fit_report.rms;
      fitted.report = report.str();
      fitted.fitted = saved.texts;
      saved.Channel(options.channel) = std::move(fitted);
      if (saved.view.page != options.channel) {
        // Another page's camber, zoom and hidden curves mean nothing here.
        saved.view = TSessionView();
        saved.view.page = options.channel;
      }
      WriteSessionFile(*options.save_session_path, saved, session_inputs);
    }
  } catch (const std::exception& error) {
    host.EndProgressLine();
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  out << report.str() << "verdict=" << VerdictLine(outcome.verdict) << '\n'
      << "cost=" << FloatToStr(cost) << '\n';
  if (outcome.optimizer_failed) {
    err << "morvex-fit: " << outcome.failure_message << '\n';
    if (!outcome.failure_detail.empty()) err << "morvex-fit: cause: " << outcome.failure_detail << '\n';
    return kExitFitFailed;
  }
  if (outcome.verdict.poor) {
    for (const TVerdictReason& reason : outcome.verdict.reasons)
      err << "morvex-fit: poor fit: " << reason.text << "; try: " << reason.advice << '\n';
    return kExitFitPoor;
  }
  return kExitOk;
}

int RunEvalTool(const TEvalToolOptions& options, std::ostream& out, std::ostream& err) {
  std::ostringstream values;
  try {
    TCoefficientFileRead read;
    read.convention = options.convention;
    read.channel = options.channel;
    TCombinedPart combined;
    const TMemoryCoefficientSet set =
        StartingSet(options.executable_dir, options.coefficients_path, read, err, &combined);
    RequireFile(options.points_path);
    std::ifstream in(options.points_path, std::ios::binary);
    if (!in) throw EFOpenError(options.points_path);
    std::optional<std::tuple<TLateralCoefficients, TAligningCoefficients, TLongitudinalCoefficients, double>> model;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::vector<std::string> fields = SplitFields(line);
      if (fields.size() < 3) throw EListError(static_cast<long long>(fields.size()));
      const double camber = StrToFloat(fields[0]);
      const double load = StrToFloat(fields[1]);
      const double slip = StrToFloat(fields[2]);
      double value = 0;
      if (fields.size() >= 4) {
        // camber, load, slip angle, slip ratio: the channel under combined
        // slip, with the file's combined coefficients (none: weights of 1).
        const double kappa = StrToFloat(fields[3]);
        const double speed = combined.longvl.value_or(kDefaultLongvl);
        // The set does not change between points: its coefficients are
        // read once, at the first combined point.
        if (!model) model.emplace(ReadLateralCoefficients(set), ReadAligningCoefficients(set),
                                  ReadLongitudinalCoefficients(set), set.Value("R0"));
        const auto& [lateral, aligning, longitudinal, r0] = *model;
        const TCombinedPoint point =
            CombinedPointAt(lateral, aligning, longitudinal, combined.coefficients.value_or(TCombinedCoefficients{}),
                            r0, camber, load, slip, kappa, speed, speed);
        value = options.channel == TFitChannel::kLateral    ? point.Fy
                : options.channel == TFitChannel::kAligning ? point.Mz
                                                            : point.Fx;
      } else {
        value = EvaluatePoint(options.channel, set, camber, load, slip);
      }
      values << FloatToStrF(value, TFloatFormat::kGeneral, 17, 0) << '\n';
    }
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  out << values.str();
  return kExitOk;
}

}  // namespace morvex
