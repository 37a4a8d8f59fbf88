#include "files/SessionOpening.h"

#include <utility>

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

std::string ChannelTitle(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kAligning: return "Aligning moment";
    case TFitChannel::kLongitudinal: return "Longitudinal force";
    default: return "Lateral force";
  }
}

// "unchanged since the session was saved", or the warning it is.
TSessionOpeningLine SourceLine(const std::string& what, const std::string& path, const std::string& sha256,
                               bool check) {
  const std::string head = what + ": " + path + " (not read when the session opens";
  if (!check || sha256.empty()) return {false, head + ")"};
  switch (CheckSourceFile(path, sha256)) {
    case TSourceState::kUnchanged: return {false, head + "; unchanged since the session was saved)"};
    case TSourceState::kChanged: return {true, head + "; the source changed since the session was saved)"};
    case TSourceState::kMissing: return {true, head + "; the file is missing here)"};
    case TSourceState::kUnreadable: return {true, head + "; it is not a readable file here)"};
    default: return {false, head + ")"};
  }
}

// A stage's verdict as the programme's stage table words it.
std::string StageVerdict(const TSessionStage& stage) {
  if (!stage.fitted) return "not fitted: " + stage.not_fitted_reason;
  if (stage.cancelled) return "cancelled";
  if (!stage.poor) return "good";
  std::string reasons;
  for (const TSessionReason& reason : stage.reasons) reasons += (reasons.empty() ? "" : "; ") + reason.text;
  return "poor (" + reasons + ")";
}

void DescribeProgramme(const TSessionProgramme& p, bool check, std::vector<TSessionOpeningLine>& lines) {
  std::string data;
  for (const auto& [name, text] : {std::pair<const char*, const std::string*>{"lateral", &p.lateral_text},
                                   {"aligning", &p.aligning_text},
                                   {"longitudinal", &p.longitudinal_text},
                                   {"combined slip", &p.combined_text}})
    if (!text->empty()) data += (data.empty() ? "" : ", ") + std::string(name);
  lines.push_back({false, "Tire programme of " + std::to_string(p.runs.size()) +
                              (p.runs.size() == 1 ? " run" : " runs") + ": " +
                              (data.empty() ? std::string("no data") : "embedded data used (" + data + ")")});
  for (const TSessionRun& run : p.runs) lines.push_back(SourceLine("Programme run", run.path, run.sha256, check));
  if (!p.fit) {
    lines.push_back({false, "Tire programme: not fitted"});
    return;
  }
  size_t fitted = 0;
  for (const TSessionStage& stage : p.fit->stages) fitted += stage.fitted;
  lines.push_back({p.fit->cancelled, "Tire programme: last fit " + std::string(p.fit->cancelled ? "cancelled, " : "") +
                                         std::to_string(fitted) + " of " + std::to_string(p.fit->stages.size()) +
                                         " stages fitted, USE_MODE " + std::to_string(p.fit->use_mode)});
  for (const TSessionStage& stage : p.fit->stages) {
    std::string text = "Stage " + stage.name + ": " + std::to_string(stage.points) + " points, " + StageVerdict(stage);
    if (stage.fitted) text += ", RMS " + FloatToStrF(stage.rms, TFloatFormat::kGeneral, 5, 0);
    lines.push_back({false, text});
  }
}

}  // namespace

std::vector<TSessionOpeningLine> DescribeSessionOpening(const TSessionRead& read, bool check_sources) {
  std::vector<TSessionOpeningLine> lines;
  const TSessionState& state = read.state;
  if (state.data) {
    const TSessionData& data = *state.data;
    lines.push_back({false, "Embedded data used: " + (data.label.empty() ? std::string("the session's data") : data.label) +
                                " (" + std::to_string(data.text.size()) + " bytes" +
                                (data.channel ? std::string(", ") + SessionChannelName(*data.channel) : std::string()) +
                                ")"});
    if (!read.data_hash_matches)
      lines.push_back({true, "The embedded data was changed after the session was saved: it does not match its hash"});
    if (!data.source_path.empty())
      lines.push_back(SourceLine("Data source", data.source_path, data.source_sha256, check_sources));
  } else {
    lines.push_back({false, "No data: the session holds none"});
  }
  for (const TSessionRun& run : state.import.runs)
    lines.push_back(SourceLine("Run imported", run.path, run.sha256, check_sources));
  if (!state.fit.settings_path.empty())
    lines.push_back({true, "Fit settings: " + state.fit.settings_path +
                               " (read only if you confirm; until then the program's settings are used)"});
  for (size_t c = 0; c < state.channels.size(); ++c) {
    const std::optional<TSessionChannel>& channel = state.channels[c];
    if (!channel) continue;
    std::string text = ChannelTitle(static_cast<TFitChannel>(c)) + ": last fit " + (channel->poor ? "poor" : "good") +
                       ", RMS " + FloatToStrF(channel->rms, TFloatFormat::kGeneral, 5, 0);  // the file keeps every digit
    for (const TSessionReason& reason : channel->reasons) text += "; " + reason.text;
    lines.push_back({false, text});
  }
  if (state.programme) DescribeProgramme(*state.programme, check_sources, lines);
  lines.push_back({false, "Opening the session writes no file and runs nothing"});
  return lines;
}

}  // namespace morvex
