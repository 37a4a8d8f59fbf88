#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "report/PdfWriter.h"
#include "report/ReportRender.h"
#include "report/ReportText.h"

namespace morvex {

namespace {

constexpr double kMargin = 42;
constexpr double kBody = 8.5;
constexpr double kSmall = 7.5;

const TReportColor kRule{150, 150, 150};
const TReportColor kPoor{190, 30, 30};
const TReportColor kGood{20, 120, 40};

// Text and tables flowing down A4 pages: a new page begins when the next
// item does not fit.
class TFlow {
 public:
  explicit TFlow(TPdfDocument& document) : document_(document) { NewPage(); }

  void NewPage() {
    page_ = &document_.AddPage();
    y_ = kMargin;
  }
  double Width() const { return page_->Width() - 2 * kMargin; }
  void Need(double height) {
    if (y_ + height > page_->Height() - kMargin) NewPage();
  }
  void Space(double height) { y_ += height; }

  void Heading(const std::string& text, double size) {
    Need(size * 2.2);
    y_ += size * 0.6;
    for (const std::string& line : WrapText(text, size * 1.08, Width())) {
      y_ += size * 1.2;
      page_->Text(kMargin, y_, size, line, TTextAnchor::kStart, true, false);
    }
    y_ += size * 0.4;
  }

  void Paragraph(const std::string& text, double size = kBody, double indent = 0) {
    // Leading spaces (the advice's indented lines) become an indent.
    size_t spaces = 0;
    while (spaces < text.size() && text[spaces] == ' ') ++spaces;
    indent += static_cast<double>(spaces) * size * 0.5;
    for (const std::string& line : WrapText(text.substr(spaces), size, Width() - indent)) {
      Need(size * 1.35);
      y_ += size * 1.35;
      page_->Text(kMargin + indent, y_, size, line, TTextAnchor::kStart, false, false);
    }
  }

  // A line in colour-coded bold: the verdict.
  void Verdict(const std::string& text, bool poor) {
    Need(kBody * 2);
    y_ += kBody * 1.6;
    const TReportColor& mark = poor ? kPoor : kGood;
    page_->Rectangle(kMargin, y_ - kBody * 0.9, 4, kBody * 1.1, &mark, nullptr);
    page_->Text(kMargin + 8, y_, kBody + 1.5, text, TTextAnchor::kStart, true, false);
    y_ += 2;
  }

  // A table: column widths as shares of the text width; cells wrap within
  // their column, a header row repeats on each new page.
  void Table(const std::vector<std::string>& header, const std::vector<double>& shares,
             const std::vector<std::vector<std::string>>& rows) {
    const double size = kSmall;
    const double line = size * 1.3;
    auto row_lines = [&](const std::vector<std::string>& row) {
      std::vector<std::vector<std::string>> cells;
      for (size_t c = 0; c < header.size(); ++c)
        cells.push_back(WrapText(c < row.size() ? row[c] : "", size, shares[c] * Width() - 4));
      return cells;
    };
    auto draw = [&](const std::vector<std::string>& row, bool bold) {
      const std::vector<std::vector<std::string>> cells = row_lines(row);
      size_t height = 1;
      for (const auto& cell : cells) height = std::max(height, cell.size());
      double x = kMargin;
      for (size_t c = 0; c < cells.size(); ++c) {
        for (size_t l = 0; l < cells[c].size(); ++l)
          page_->Text(x, y_ + line * static_cast<double>(l + 1) - 2, size, cells[c][l], TTextAnchor::kStart, bold,
                      false);
        x += shares[c] * Width();
      }
      y_ += line * static_cast<double>(height) + 2;
      page_->Polyline({{kMargin, y_}, {kMargin + Width(), y_}}, kRule, 0.3, TLineStyle::kSolid);
    };
    Need(line * 3);
    draw(header, true);
    for (const auto& row : rows) {
      size_t height = 1;
      for (const auto& cell : row_lines(row)) height = std::max(height, cell.size());
      if (y_ + line * static_cast<double>(height) + 2 > page_->Height() - kMargin) {
        NewPage();
        draw(header, true);
      }
      draw(row, false);
    }
  }

  // Two charts side by side (the second may be missing).
  void ChartPair(const TReportChart& left, const TReportChart* right, double height) {
    Need(height + 6);
    const double half = (Width() - 8) / 2;
    DrawChart(*page_, left, kMargin, y_ + 3, half, height);
    if (right) DrawChart(*page_, *right, kMargin + half + 8, y_ + 3, half, height);
    y_ += height + 6;
  }

  void Chart(const TReportChart& chart, double height) {
    Need(height + 6);
    DrawChart(*page_, chart, kMargin, y_ + 3, Width(), height);
    y_ += height + 6;
  }

 private:
  TPdfDocument& document_;
  TPdfPage* page_ = nullptr;
  double y_ = 0;
};

void ChannelPages(TFlow& flow, const TChannelReport& channel) {
  flow.NewPage();
  flow.Heading(channel.heading + " (channel " + std::string(ChannelName(channel.channel)) + ")", 15);
  flow.Paragraph("Data: " + (channel.data_file.empty() ? std::string("not named") : channel.data_file));
  flow.Paragraph("Coefficients: " + channel.how);
  flow.Verdict(VerdictHeading(channel), channel.verdict.poor);
  for (const std::string& line : VerdictLines(channel)) flow.Paragraph("- " + line, kBody, 10);
  flow.Paragraph("Overall: " + OverallLine(channel));

  flow.Heading("Coefficients", 11);
  std::vector<std::vector<std::string>> rows = CoefficientRows(channel.coefficients, "free");
  flow.Table(CoefficientHeader(), {0.1, 0.25, 0.08, 0.15, 0.42}, rows);

  flow.Heading("Per-curve fit", 11);
  rows.clear();
  for (const TReportCurveRow& r : channel.curves)
    rows.push_back({std::to_string(r.case_number), ReportNumber(r.camber), ReportNumber(r.load), std::to_string(r.points),
                    ReportNumber(r.rms), ReportNumber(r.max_error), ReportNumber(r.r_squared)});
  flow.Table({"Case", "Camber [deg]", "Load", "Points", "RMS", "Max |error|", "R2"},
             {0.08, 0.14, 0.14, 0.1, 0.18, 0.18, 0.18}, rows);

  flow.Heading("Validity ranges (as a .tir export carries them)", 11);
  const std::vector<std::string> ranges = RangeLines(channel.ranges);
  if (ranges.empty()) flow.Paragraph("the data hold no points");
  for (const std::string& line : ranges) flow.Paragraph(line);

  flow.Heading("Data advice", 11);
  for (const std::string& line : AdviceLines(channel)) flow.Paragraph(line, kSmall);

  flow.Heading("Curves: data and model, residuals", 11);
  for (size_t k = 0; k < channel.charts.size(); ++k) {
    flow.Need(260 + 180 + 12);  // a camber's curves and its residuals on one page
    flow.Chart(channel.charts[k], 260);
    if (k < channel.residuals.size()) flow.Chart(channel.residuals[k], 180);
  }
}

void CombinedStagePages(TFlow& flow, const TCombinedStageReport& stage) {
  flow.NewPage();
  flow.Heading(stage.heading, 15);
  flow.Paragraph("Runs: " + (stage.runs.empty() ? std::string("not named") : stage.runs));
  flow.Paragraph("Coefficients: " + stage.how);
  flow.Verdict("Verdict: " + stage.verdict_word, stage.verdict.poor);
  for (const std::string& line : VerdictLines(stage.verdict)) flow.Paragraph("- " + line, kBody, 10);
  flow.Paragraph("Overall: " + OverallLine(stage));

  flow.Heading("Coefficients", 11);
  std::vector<std::vector<std::string>> rows = CoefficientRows(stage.coefficients, "fitted");
  flow.Table(CoefficientHeader(), {0.1, 0.25, 0.08, 0.15, 0.42}, rows);

  flow.Heading("Per-curve fit", 11);
  flow.Table(CombinedCurveHeader(), {0.14, 0.14, 0.16, 0.1, 0.16, 0.16, 0.14}, CombinedCurveRows(stage));

  flow.Need(11 * 2.2 + 216);  // the heading with its first charts
  flow.Heading("Curves: data and model (left), residuals (right)", 11);
  for (size_t k = 0; k < stage.charts.size(); ++k)
    flow.ChartPair(stage.charts[k], k < stage.residuals.size() ? &stage.residuals[k] : nullptr, 210);
  for (size_t k = 0; k < stage.ellipses.size(); k += 2)
    flow.ChartPair(stage.ellipses[k], k + 1 < stage.ellipses.size() ? &stage.ellipses[k + 1] : nullptr, 250);
}

void ProgrammePages(TFlow& flow, const TProgrammeReport& programme) {
  flow.NewPage();
  flow.Heading("Tire from a test programme", 15);
  flow.Paragraph(programme.use_mode_line);
  flow.Paragraph(programme.rated_load + "; " + programme.radius);
  if (programme.cancelled) flow.Paragraph("The programme was cancelled.");
  for (const char* verdict : {"not fitted", "poor"}) {
    const std::vector<std::string> lines = StageLines(programme, verdict);
    if (lines.empty()) continue;
    flow.Heading(std::string(verdict) == "poor" ? "Stages judged poor" : "Stages not fitted", 11);
    for (const std::string& line : lines) flow.Paragraph("- " + line, kBody, 10);
  }
  flow.Heading("Stages", 11);
  flow.Table(StageTableHeader(), {0.14, 0.08, 0.1, 0.1, 0.26, 0.32}, StageTableRows(programme));
  flow.Heading("Runs and what each fed", 11);
  for (const std::string& run : programme.runs) flow.Paragraph(run);
  flow.Space(6);
  flow.Table(FeedHeader(), {0.18, 0.12, 0.4, 0.08, 0.22}, FeedRows(programme));
  for (const TChannelReport& stage : programme.pure) ChannelPages(flow, stage);
  for (const TCombinedStageReport& stage : programme.combined) CombinedStagePages(flow, stage);
}

}  // namespace

std::string RenderPdf(const TValidationReport& report) {
  TPdfDocument document;
  TFlow flow(document);
  flow.Heading(report.title, 18);
  if (!report.created.empty()) flow.Paragraph("Created " + report.created);
  std::string channels;
  for (const TChannelReport& c : report.channels)
    channels += (channels.empty() ? "" : ", ") + std::string(ChannelName(c.channel)) + " (" + c.verdict_word + ")";
  if (!channels.empty() || !report.programme)
    flow.Paragraph("Channels: " + (channels.empty() ? std::string("none") : channels));
  if (report.programme) flow.Paragraph("Tire from a test programme: " + report.programme->use_mode_line);
  if (!report.channels.empty()) {
    flow.Heading("Summary", 11);
    std::vector<std::vector<std::string>> rows;
    for (const TChannelReport& c : report.channels)
      rows.push_back({std::string(ChannelName(c.channel)), c.verdict_word, std::to_string(c.fit.points),
                      ReportNumber(c.fit.rms), ReportNumber(c.fit.r_squared), c.data_file});
    flow.Table({"Channel", "Verdict", "Points", "RMS", "R2", "Data"}, {0.14, 0.1, 0.1, 0.13, 0.13, 0.4}, rows);
  }
  flow.Heading("Where the data came from", 11);
  if (report.source_files.empty()) flow.Paragraph("no file named");
  for (const std::string& file : report.source_files) flow.Paragraph(file);
  if (!report.import_report.empty()) {
    flow.Heading("Import report", 11);
    size_t begin = 0;
    while (begin < report.import_report.size()) {
      size_t end = report.import_report.find('\n', begin);
      if (end == std::string::npos) end = report.import_report.size();
      flow.Paragraph(report.import_report.substr(begin, end - begin), kSmall);
      begin = end + 1;
    }
  }
  for (const TChannelReport& channel : report.channels) ChannelPages(flow, channel);
  if (report.programme) ProgrammePages(flow, *report.programme);
  return document.Serialize(report.title);
}

std::string ReportFormatOf(const std::string& path) {
  const std::string extension = AsciiLower(std::filesystem::path(path).extension().string());
  if (extension == ".pdf") return "pdf";
  if (extension == ".html" || extension == ".htm") return "html";
  return "";
}

void WriteReport(const TValidationReport& report, const std::string& path) {
  const std::string format = ReportFormatOf(path);
  if (format.empty()) throw Exception("The report is written as .pdf or .html, not " + path);
  const std::string bytes = format == "pdf" ? RenderPdf(report) : RenderHtml(report);
  // Written beside the target and renamed over it once complete: a failed
  // write leaves any earlier report as it was.
  const std::filesystem::path target(path);
  std::string temporary =
      (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) / ".report-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) throw EWriteError(path);
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  // The file gets the permissions an ordinary new file would have.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ok = ok && ::chmod(temporary.c_str(), 0666 & ~mask) == 0;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw EWriteError(path);
  }
}

}  // namespace morvex
