#include "cli/ProgrammeSession.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/CombinedDataFile.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char* const kWhere = "the session's programme";

[[noreturn]] void Refuse(const std::string& reason) { throw ESessionFormat(kWhere, 0, reason); }

// The shortest text that reads back to the same double, with a point.
std::string Exact(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A pure-slip data set as a tire data file's text, every number exact and
// written with a point whatever the process's decimal separator, so that
// the session reads back to the same values on any machine.
std::string ExactTireDataText(const TTireDataSet& data) {
  std::string text;
  for (size_t c = 0; c < data.Cases.size(); ++c) {
    const TLoadCase& lc = data.Cases[c];
    text += std::string(kLoadCaseKeyword) + ' ' + std::to_string(c + 1) + '\n';
    text += Exact(lc.Camber) + '\n';
    for (size_t j = 0; j < lc.LoadCount(); ++j) text += (j ? ";" : "") + Exact(lc.Loads[j]);
    text += '\n';
    for (size_t r = 0; r < lc.RowCount(); ++r) {
      text += Exact(lc.Slips[r]);
      for (size_t j = 0; j < lc.LoadCount(); ++j) text += ';' + Exact(lc.Value(r, j));
      text += '\n';
    }
  }
  return text;
}

// The text read back: the tire data reader takes the process's separator.
std::optional<TTireDataSet> ReadExactTireData(const std::string& text, const char* what) {
  if (text.empty()) return std::nullopt;
  std::string local = text;
  if (DecimalSeparator() != '.')
    for (char& c : local)
      if (c == '.') c = DecimalSeparator();
  try {
    TTireDataSet data = ParseTireDataText(local);
    if (data.Empty()) Refuse(std::string("its ") + what + " data hold no load case");
    return data;
  } catch (const ESessionFormat&) {
    throw;
  } catch (const std::exception& error) {
    Refuse(std::string("its ") + what + " data do not read: " + error.what());
  }
}

// A fitted coefficient's text as this process reads it: a session saved
// where the other decimal separator is used ("0,5" where "0.5" is read)
// holds the same number, written with that separator.
std::string LocalNumberText(const std::string& text) {
  double value = 0;
  if (TryStrToFloat(text, value)) return text;
  const char local = DecimalSeparator();
  const char other = local == '.' ? ',' : '.';
  std::string swapped = text;
  for (char& c : swapped)
    if (c == other) c = local;
  return TryStrToFloat(swapped, value) ? swapped : text;
}

std::vector<TSessionReason> ToSession(const std::vector<TVerdictReason>& reasons) {
  std::vector<TSessionReason> out;
  for (const TVerdictReason& r : reasons) out.push_back({r.code, r.text, r.advice});
  return out;
}

std::vector<TVerdictReason> FromSession(const std::vector<TSessionReason>& reasons) {
  std::vector<TVerdictReason> out;
  for (const TSessionReason& r : reasons) out.push_back({r.code, r.text, r.advice});
  return out;
}

bool IsPureStage(const std::string& name) {
  return name == "lateral" || name == "aligning" || name == "longitudinal";
}

// The pure-slip channel nearest a stage, as the programme's fit sets it.
std::optional<TFitChannel> StageChannel(const std::string& name) {
  if (name == "lateral" || name == "Fy combined" || name == "Mx") return TFitChannel::kLateral;
  if (name == "aligning" || name == "Mz combined") return TFitChannel::kAligning;
  if (name == "longitudinal" || name == "Fx combined" || name == "My") return TFitChannel::kLongitudinal;
  return std::nullopt;
}

std::optional<TFitTermination> ParseTermination(const std::string& text) {
  for (const TFitTermination t : {TFitTermination::kNotRun, TFitTermination::kFinished,
                                  TFitTermination::kIterationLimit, TFitTermination::kCancelled,
                                  TFitTermination::kFailed})
    if (text == TerminationName(t)) return t;
  return std::nullopt;
}

// The value a stage left for coefficient `name`: the pure-slip set's text
// read as a number, or the combined member.
double StageValue(const TTireProgrammeResult& result, const std::string& name) {
  if (FindCombinedCoefficient(name) != nullptr) return result.combined.*CombinedMember(name);
  if (ExactCoefficientIndex(name) < 0) return kNaN;
  double value = kNaN;
  return TryStrToFloat(result.coefficients.Text(name), value) ? value : kNaN;
}

TSessionStage StageToSession(const TStageResult& stage, const TTireProgrammeResult& result) {
  TSessionStage s;
  const TFitOutcome& o = stage.outcome;
  s.name = stage.name;
  s.points = stage.points;
  s.fitted = stage.fitted;
  s.not_fitted_reason = stage.not_fitted_reason;
  s.poor = o.verdict.poor;
  s.cancelled = o.cancelled;
  s.reasons = ToSession(o.verdict.reasons);
  s.notes = ToSession(o.verdict.notes);
  s.rms = stage.rms;
  s.termination = TerminationName(o.termination);
  s.iterations = o.iterations;
  s.start_cost = o.start_cost;
  s.final_cost = o.final_cost;
  for (size_t i = 0; i < o.fitted.size(); ++i)
    s.coefficients.push_back({o.fitted[i], StageValue(result, o.fitted[i]),
                              i < o.standard_errors.size() ? o.standard_errors[i] : kNaN,
                              i < o.notes.size() ? o.notes[i] : std::string()});
  s.start_values = stage.start_values;
  s.held = stage.held;
  return s;
}

TStageResult StageFromSession(const TSessionStage& s) {
  TStageResult stage;
  stage.name = s.name;
  const std::optional<TFitChannel> channel = StageChannel(s.name);
  if (!channel) Refuse("unknown stage '" + s.name + "'");
  const std::optional<TFitTermination> termination = ParseTermination(s.termination);
  if (!termination) Refuse("the stage " + s.name + " has an unknown termination '" + s.termination + "'");
  stage.points = static_cast<size_t>(s.points);
  stage.fitted = s.fitted;
  stage.not_fitted_reason = s.not_fitted_reason;
  stage.rms = s.rms;
  stage.start_values = s.start_values;
  stage.held = s.held;
  TFitOutcome& o = stage.outcome;
  o.channel = *channel;
  o.termination = *termination;
  // Every stage of a programme is fitted by the trust region.
  o.optimizer = TOptimizerChoice::kTrustRegion;
  o.optimizer_failed = *termination == TFitTermination::kFailed;
  o.converged = *termination == TFitTermination::kFinished;
  o.iteration_limit = *termination == TFitTermination::kIterationLimit;
  o.cancelled = s.cancelled;
  o.iterations = s.iterations;
  o.start_cost = s.start_cost;
  o.final_cost = s.final_cost;
  // The pure-slip stages start from estimated values, which count as a fit.
  o.start_was_fit = IsPureStage(s.name) && s.fitted && !s.cancelled;
  for (const TSessionStageCoefficient& c : s.coefficients) {
    o.fitted.push_back(c.name);
    o.standard_errors.push_back(c.standard_error);
    o.notes.push_back(c.note);
  }
  o.verdict.poor = s.poor;
  o.verdict.reasons = FromSession(s.reasons);
  o.verdict.notes = FromSession(s.notes);
  return stage;
}

}  // namespace

TSessionProgramme ProgrammeToSession(const TProgrammeState& state, const std::vector<std::string>& run_sha256) {
  if (!state.programme) throw Exception("a programme without its import cannot be saved");
  const TProgrammeResult& p = *state.programme;
  TSessionProgramme s;
  for (size_t i = 0; i < state.runs.size(); ++i)
    s.runs.push_back({state.runs[i], i < run_sha256.size() ? run_sha256[i] : std::string()});
  s.fz0_typed = state.fz0_typed;
  s.r0_typed = state.r0_typed;
  if (p.lateral) s.lateral_text = ExactTireDataText(*p.lateral);
  if (p.aligning) s.aligning_text = ExactTireDataText(*p.aligning);
  if (p.longitudinal) s.longitudinal_text = ExactTireDataText(*p.longitudinal);
  if (!p.combined.Empty()) s.combined_text = FormatCombinedData(p.combined);
  for (const TProgrammeFeed& feed : p.feeds)
    s.feeds.push_back({feed.path, feed.stage, feed.set_points, feed.points, feed.note});
  s.import_reports = p.reports;
  const TProgrammeRanges& r = p.ranges;
  s.ranges = {r.fz_min, r.fz_max, r.kappa_min, r.kappa_max, r.alpha_min, r.alpha_max, r.camber_min, r.camber_max};
  s.pressure = p.pressure;
  s.longvl = p.longvl;
  s.fz0 = p.fz0;
  s.fz0_source = p.fz0_source;
  s.r0 = p.r0;
  s.r0_source = p.r0_source;
  s.warnings = p.warnings;
  if (state.result) {
    const TTireProgrammeResult& result = *state.result;
    TSessionProgramme::Fit fit;
    const auto table = Coefficients();
    for (size_t i = 0; i < table.size(); ++i) fit.texts[i] = result.coefficients.Text(table[i].name);
    for (const TCombinedCoefficientInfo& info : CombinedCoefficientTable())
      fit.combined.emplace_back(std::string(info.name), result.combined.*CombinedMember(info.name));
    for (const TStageResult& stage : result.stages) fit.stages.push_back(StageToSession(stage, result));
    fit.use_mode = result.use_mode;
    fit.mode_reasons = result.mode_reasons;
    fit.cancelled = result.cancelled;
    s.fit = std::move(fit);
  }
  return s;
}

TProgrammeState ProgrammeFromSession(const TSessionProgramme& session) {
  TProgrammeState state;
  for (const TSessionRun& run : session.runs) state.runs.push_back(run.path);
  state.fz0_typed = session.fz0_typed;
  state.r0_typed = session.r0_typed;

  auto programme = std::make_shared<TProgrammeResult>();
  TProgrammeResult& p = *programme;
  p.lateral = ReadExactTireData(session.lateral_text, "lateral");
  p.aligning = ReadExactTireData(session.aligning_text, "aligning");
  p.longitudinal = ReadExactTireData(session.longitudinal_text, "longitudinal");
  if (!session.combined_text.empty()) {
    try {
      p.combined = ParseCombinedDataText(session.combined_text);
    } catch (const std::exception& error) {
      Refuse(std::string("its combined data do not read: ") + error.what());
    }
  }
  for (const TSessionFeed& feed : session.feeds)
    p.feeds.push_back({feed.path, feed.stage, feed.set_points, static_cast<size_t>(feed.points), feed.note});
  p.reports = session.import_reports;
  const std::array<double, 8>& r = session.ranges;
  p.ranges = {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]};
  p.pressure = session.pressure;
  p.longvl = session.longvl;
  p.fz0 = session.fz0;
  p.fz0_source = session.fz0_source;
  p.r0 = session.r0;
  p.r0_source = session.r0_source;
  p.warnings = session.warnings;
  if (p.Empty()) p.empty_reason = "the session's programme holds no data";
  state.programme = std::move(programme);

  if (session.fit) {
    const TSessionProgramme::Fit& fit = *session.fit;
    auto result = std::make_shared<TTireProgrammeResult>();
    const auto table = Coefficients();
    for (size_t i = 0; i < table.size(); ++i) {
      result->coefficients.SetText(table[i].name, LocalNumberText(fit.texts[i]));
      // The programme's fit leaves every box cleared.
      if (table[i].HasFreeFlag()) result->coefficients.SetFree(table[i].name, false);
    }
    std::vector<bool> seen(kCombinedCoefficientCount, false);
    const auto combined_table = CombinedCoefficientTable();
    for (const auto& [name, value] : fit.combined) {
      const TCombinedCoefficientInfo* info = FindCombinedCoefficient(name);
      if (info == nullptr) Refuse("unknown combined-slip coefficient '" + name + "'");
      seen[static_cast<size_t>(info - combined_table.data())] = true;
      result->combined.*CombinedMember(name) = value;
    }
    for (size_t i = 0; i < seen.size(); ++i)
      if (!seen[i]) Refuse("its fit lacks the combined-slip coefficient " + std::string(combined_table[i].name));
    for (const TSessionStage& stage : fit.stages) result->stages.push_back(StageFromSession(stage));
    result->use_mode = fit.use_mode;
    result->mode_reasons = fit.mode_reasons;
    result->cancelled = fit.cancelled;
    state.result = std::move(result);
  }
  return state;
}

}  // namespace morvex
