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

// The same for a verdict of a programme's stage.
std::vector<std::string> VerdictLines(const TFitVerdict& verdict);

// "492 points, RMS 14.67, largest error 41.3, R2 0.99991".
std::string OverallLine(const TChannelReport& channel);

// The same line for a combined stage.
std::string OverallLine(const TCombinedStageReport& stage);

// The programme's stage table, one row per stage: stage, points, verdict,
// RMS, coefficients held at 0, why not fitted or why poor.
std::vector<std::string> StageTableHeader();
std::vector<std::vector<std::string>> StageTableRows(const TProgrammeReport& programme);

// "<stage>: <reason>" for each stage of the programme whose verdict is
// `verdict` ("not fitted" or "poor").
std::vector<std::string> StageLines(const TProgrammeReport& programme, const std::string& verdict);

// A combined stage's per-curve table.
std::vector<std::string> CombinedCurveHeader();
std::vector<std::vector<std::string>> CombinedCurveRows(const TCombinedStageReport& stage);

// The runs of a programme and what each fed.
std::vector<std::string> FeedHeader();
std::vector<std::vector<std::string>> FeedRows(const TProgrammeReport& programme);

// The standard error column: the number, "not determined", or "-" when no
// error is known (Levenberg-Marquardt without covariance, no fit run).
std::string ErrorCell(const TReportCoefficient& coefficient);

// A coefficient table: name, value, `free_word` or "fixed", standard error,
// note.  A channel's table says "free", a stage's "fitted".
std::vector<std::string> CoefficientHeader();
std::vector<std::vector<std::string>> CoefficientRows(const std::vector<TReportCoefficient>& coefficients,
                                                      const std::string& free_word);

// The advice in lines, as FormatDataAdvice words it (indented lines keep
// their indent).
std::vector<std::string> AdviceLines(const TChannelReport& channel);

}  // namespace morvex
