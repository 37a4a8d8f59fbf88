#include "report/ReportText.h"

#include <cmath>

namespace morvex {

std::string VerdictHeading(const TChannelReport& channel) { return "Verdict: " + channel.verdict_word; }

std::vector<std::string> VerdictLines(const TChannelReport& channel) {
  std::vector<std::string> lines;
  for (const TVerdictReason& reason : channel.verdict.reasons)
    lines.push_back(reason.text + (reason.advice.empty() ? "" : "; try: " + reason.advice));
  for (const TVerdictReason& note : channel.verdict.notes) lines.push_back("note: " + note.text);
  return lines;
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
