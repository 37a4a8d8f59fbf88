// The words of the report that both renderers share, so the HTML and the
// PDF say the same things.
#pragma once

#include <string>
#include <vector>

#include "report/ValidationReport.h"

namespace morvex {

// "Verdict: good" or "Verdict: poor".
std::string VerdictHeading(const TChannelReport& channel);

// The verdict's reasons ("text; try: advice") and then its notes ("note:
// text").
std::vector<std::string> VerdictLines(const TChannelReport& channel);

// "492 points, RMS 14.67, largest error 41.3, R2 0.99991".
std::string OverallLine(const TChannelReport& channel);

// The standard error column: the number, "not determined", or "-" when no
// error is known (Levenberg-Marquardt without covariance, no fit run).
std::string ErrorCell(const TReportCoefficient& coefficient);

// The advice in lines, as FormatDataAdvice words it (indented lines keep
// their indent).
std::vector<std::string> AdviceLines(const TChannelReport& channel);

}  // namespace morvex
