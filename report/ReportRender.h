// The validation report as a document: a single self-contained HTML file
// (inline CSS, charts as inline SVG, no reference to anything outside it)
// or a PDF (vector charts, text in Helvetica that text extractors read
// back).  Each fitted channel starts a page of its own in the PDF.
#pragma once

#include <string>

#include "report/ValidationReport.h"

namespace morvex {

std::string RenderHtml(const TValidationReport& report);
std::string RenderPdf(const TValidationReport& report);

// What a report file name asks for: "pdf" or "html" (.htm too, any case);
// empty for anything else.
std::string ReportFormatOf(const std::string& path);

// Writes the report in the format its name asks for, through a temporary
// file beside it that replaces `path` only once it is complete.  Raises
// Exception for a name that is neither .pdf nor .html, EWriteError when
// the file cannot be written.
void WriteReport(const TValidationReport& report, const std::string& path);

}  // namespace morvex
