#include "report/ReportText.h"

#include <cmath>

namespace morvex {

std::string VerdictHeading(const TChannelReport& channel) { return "Verdict: " + channel.verdict_word; }

std::vector<std::string> VerdictLines(const TChannelReport& channel) { return VerdictLines(channel.verdict); }

std::vector<std::string> VerdictLines(const TFitVerdict& verdict) {
  std::vector<std::string> lines;
  for (const TVerdictReason& reason : verdict.reasons)
    lines.push_back(reason.text + (reason.advice.empty() ? "" : "; try: " + reason.advice));
  for (const TVerdictReason& note : verdict.notes) lines.push_back("note: " + note.text);
  return lines;
}

std::string OverallLine(const TCombinedStageReport& stage) {
  return std::to_string(stage.points) + " points, RMS " + ReportNumber(stage.rms) + ", largest error " +
         ReportNumber(stage.max_error) + ", R2 " + ReportNumber(stage.r_squared);
}

std::vector<std::string> StageTableHeader() {
  return {"Stage", "Points", "Verdict", "RMS", "Held at 0", "Why not fitted, or poor"};
}

std::vector<std::vector<std::string>> StageTableRows(const TProgrammeReport& programme) {
  std::vector<std::vector<std::string>> rows;
  for (const TReportStageRow& s : programme.stages)
    rows.push_back({s.name, std::to_string(s.points), s.verdict, ReportNumber(s.rms), s.held, s.reason});
  return rows;
}

std::vector<std::string> StageLines(const TProgrammeReport& programme, const std::string& verdict) {
  std::vector<std::string> lines;
  for (const TReportStageRow& s : programme.stages)
    if (s.verdict == verdict) lines.push_back(s.name + ": " + s.reason);
  return lines;
}

std::vector<std::string> CombinedCurveHeader() {
  return {"Camber [deg]", "Load [N]", "Slip angle [deg]", "Points", "RMS", "Max |error|", "R2"};
}

std::vector<std::vector<std::string>> CombinedCurveRows(const TCombinedStageReport& stage) {
  std::vector<std::vector<std::string>> rows;
  for (const TReportCombinedRow& r : stage.curves)
    rows.push_back({ReportNumber(r.camber), ReportNumber(r.load), ReportNumber(r.slip_angle), std::to_string(r.points),
                    ReportNumber(r.rms), ReportNumber(r.max_error), ReportNumber(r.r_squared)});
  return rows;
}

std::vector<std::string> FeedHeader() { return {"Run", "Feeds", "Set-points", "Points", "Note"}; }

std::vector<std::vector<std::string>> FeedRows(const TProgrammeReport& programme) {
  std::vector<std::vector<std::string>> rows;
  for (const TReportFeedRow& f : programme.feeds)
    rows.push_back({f.run, f.stage, f.set_points, std::to_string(f.points), f.note});
  return rows;
}

std::string OverallLine(const TChannelReport& channel) {
  return std::to_string(channel.fit.points) + " points, RMS " + ReportNumber(channel.fit.rms) + ", largest error " +
         ReportNumber(channel.fit.max_error) + ", R2 " + ReportNumber(channel.fit.r_squared);
}

std::string ErrorCell(const TReportCoefficient& coefficient) {
  if (coefficient.not_determined) return "not determined";
  if (!coefficient.free || std::isnan(coefficient.standard_error)) return "-";
  return ReportNumber(coefficient.standard_error);
}

std::vector<std::string> CoefficientHeader() { return {"Name", "Value", "Free", "Standard error", "Note"}; }

std::vector<std::vector<std::string>> CoefficientRows(const std::vector<TReportCoefficient>& coefficients,
                                                      const std::string& free_word) {
  std::vector<std::vector<std::string>> rows;
  for (const TReportCoefficient& c : coefficients)
    rows.push_back({c.name, c.value, c.free ? free_word : "fixed", ErrorCell(c), c.note});
  return rows;
}

std::vector<std::string> AdviceLines(const TChannelReport& channel) {
  std::vector<std::string> lines;
  if (!channel.advice) {
    lines.push_back("no advice: " + channel.advice_error);
    return lines;
  }
  // The advice in the words of the terminal and the import window.
  const std::string text = FormatDataAdvice(*channel.advice);
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

}  // namespace morvex
