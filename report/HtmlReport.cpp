#include <cmath>
#include <cstdio>

#include "fitting/ChannelModel.h"
#include "report/PdfWriter.h"
#include "report/ReportCanvas.h"
#include "report/ReportRender.h"
#include "report/ReportText.h"

namespace morvex {

namespace {

// Text for HTML content and attribute values.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Css(TReportColor c) {
  return "rgb(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," + std::to_string(c.blue) + ")";
}

const char* DashArray(TLineStyle style) {
  switch (style) {
    case TLineStyle::kSolid: return "";
    case TLineStyle::kDash: return " stroke-dasharray=\"4 2\"";
    case TLineStyle::kDot: return " stroke-dasharray=\"1 2\"";
    case TLineStyle::kDashDot: return " stroke-dasharray=\"4 2 1 2\"";
    case TLineStyle::kDashDotDot: return " stroke-dasharray=\"4 2 1 2 1 2\"";
  }
  return "";
}

// An SVG picture as a canvas.
class TSvgCanvas final : public TReportCanvas {
 public:
  TSvgCanvas(double width, double height) {
    out_ = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + ChartNumber(width) + "pt\" height=\"" + ChartNumber(height) +
           "pt\" viewBox=\"0 0 " + ChartNumber(width) + ' ' + ChartNumber(height) + "\" role=\"img\">\n";
  }

  void Polyline(const std::vector<std::pair<double, double>>& points, TReportColor color, double width,
                TLineStyle style) override {
    if (points.size() < 2) return;
    out_ += "<polyline fill=\"none\" stroke=\"" + Css(color) + "\" stroke-width=\"" + ChartNumber(width) +
            "\" stroke-linejoin=\"round\"" + DashArray(style) + " points=\"";
    for (const auto& [x, y] : points) out_ += ChartNumber(x) + ',' + ChartNumber(y) + ' ';
    out_ += "\"/>\n";
  }
  void Circle(double x, double y, double radius, TReportColor fill, TReportColor stroke) override {
    out_ += "<circle cx=\"" + ChartNumber(x) + "\" cy=\"" + ChartNumber(y) + "\" r=\"" + ChartNumber(radius) + "\" fill=\"" + Css(fill) +
            "\" stroke=\"" + Css(stroke) + "\" stroke-width=\"0.4\"/>\n";
  }
  void Rectangle(double x, double y, double width, double height, const TReportColor* fill,
                 const TReportColor* stroke) override {
    out_ += "<rect x=\"" + ChartNumber(x) + "\" y=\"" + ChartNumber(y) + "\" width=\"" + ChartNumber(width) + "\" height=\"" + ChartNumber(height) +
            "\" fill=\"" + (fill ? Css(*fill) : "none") + "\" stroke=\"" + (stroke ? Css(*stroke) : "none") +
            "\" stroke-width=\"0.6\"/>\n";
  }
  void Text(double x, double y, double size, const std::string& text, TTextAnchor anchor, bool bold,
            bool rotated) override {
    const char* anchors[] = {"start", "middle", "end"};
    out_ += "<text x=\"" + ChartNumber(x) + "\" y=\"" + ChartNumber(y) + "\" font-size=\"" + ChartNumber(size) + "\" text-anchor=\"" +
            anchors[static_cast<int>(anchor)] + '"' + (bold ? " font-weight=\"bold\"" : "") +
            (rotated ? " transform=\"rotate(-90 " + ChartNumber(x) + ' ' + ChartNumber(y) + ")\"" : "") + '>' + Escape(text) +
            "</text>\n";
  }
  // No clip path: the axes span every point with a margin, so nothing is
  // drawn outside the plot, and viewers that know no clipping (SVG Tiny)
  // would draw the clip rectangle itself.
  void PushClip(double, double, double, double) override { out_ += "<g>\n"; }
  void PopClip() override { out_ += "</g>\n"; }

  std::string Finish() { return out_ + "</svg>\n"; }

 private:
  std::string out_;
};

const char* const kStyle = R"(<style>
body { font-family: Helvetica, Arial, sans-serif; font-size: 10pt; margin: 2em auto; max-width: 60em; color: #111; }
h1 { font-size: 18pt; } h2 { font-size: 15pt; border-top: 2px solid #999; padding-top: 0.6em; margin-top: 2em; }
h3 { font-size: 11pt; margin-bottom: 0.3em; }
table { border-collapse: collapse; margin: 0.3em 0 1em 0; }
th, td { border-bottom: 1px solid #ccc; padding: 2px 8px; text-align: left; vertical-align: top; font-size: 9pt; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.verdict { font-weight: bold; font-size: 11.5pt; padding: 2px 8px; border-left: 5px solid; }
.good { border-color: rgb(20,120,40); } .poor { border-color: rgb(190,30,30); }
pre { background: #f4f4f4; padding: 0.6em; white-space: pre-wrap; font-size: 8.5pt; }
svg { display: block; margin: 0.4em 0; font-family: Helvetica, Arial, sans-serif; }
</style>
)";

std::string Svg(const TReportChart& chart, double width, double height) {
  TSvgCanvas canvas(width, height);
  DrawChart(canvas, chart, 0, 0, width, height);
  return canvas.Finish();
}

// The coefficient table, values and errors right-aligned as numbers.
std::string CoefficientTable(const std::vector<TReportCoefficient>& coefficients, const std::string& free_word) {
  std::string out = "<table>\n<tr>";
  for (const std::string& h : CoefficientHeader()) out += "<th>" + Escape(h) + "</th>";
  out += "</tr>\n";
  for (const std::vector<std::string>& row : CoefficientRows(coefficients, free_word))
    out += "<tr><td>" + Escape(row[0]) + "</td><td class=\"num\">" + Escape(row[1]) + "</td><td>" + Escape(row[2]) +
           "</td><td class=\"num\">" + Escape(row[3]) + "</td><td>" + Escape(row[4]) + "</td></tr>\n";
  return out + "</table>\n";
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out = "<ul>\n";
  for (const std::string& line : lines) out += "<li>" + Escape(line) + "</li>\n";
  return out + "</ul>\n";
}

void Channel(std::string& out, const TChannelReport& channel, const std::string& id_prefix = "channel-") {
  const std::string name(ChannelName(channel.channel));
  out += "<section id=\"" + id_prefix + name + "\">\n<h2>" + Escape(channel.heading) + " (channel " + name + ")</h2>\n";
  out += "<p>Data: " + Escape(channel.data_file.empty() ? std::string("not named") : channel.data_file) + "<br>\n";
  out += "Coefficients: " + Escape(channel.how) + "</p>\n";
  out += "<p class=\"verdict " + channel.verdict_word + "\">" + Escape(VerdictHeading(channel)) + "</p>\n";
  const std::vector<std::string> verdict = VerdictLines(channel);
  if (!verdict.empty()) out += Lines(verdict);
  out += "<p>Overall: " + Escape(OverallLine(channel)) + "</p>\n";

  out += "<h3>Coefficients</h3>\n" + CoefficientTable(channel.coefficients, "free");

  out += "<h3>Per-curve fit</h3>\n<table>\n<tr><th>Case</th><th>Camber [deg]</th><th>Load</th><th>Points</th>"
         "<th>RMS</th><th>Max |error|</th><th>R2</th></tr>\n";
  for (const TReportCurveRow& r : channel.curves)
    out += "<tr><td class=\"num\">" + std::to_string(r.case_number) + "</td><td class=\"num\">" +
           ReportNumber(r.camber) + "</td><td class=\"num\">" + ReportNumber(r.load) + "</td><td class=\"num\">" +
           std::to_string(r.points) + "</td><td class=\"num\">" + ReportNumber(r.rms) + "</td><td class=\"num\">" +
           ReportNumber(r.max_error) + "</td><td class=\"num\">" + ReportNumber(r.r_squared) + "</td></tr>\n";
  out += "</table>\n";

  out += "<h3>Validity ranges (as a .tir export carries them)</h3>\n";
  const std::vector<std::string> ranges = RangeLines(channel.ranges);
  out += ranges.empty() ? std::string("<p>the data hold no points</p>\n") : Lines(ranges);

  out += "<h3>Data advice</h3>\n<pre>";
  for (const std::string& line : AdviceLines(channel)) out += Escape(line) + "\n";
  out += "</pre>\n<h3>Curves: data and model, residuals</h3>\n";
  for (size_t k = 0; k < channel.charts.size(); ++k) {
    out += Svg(channel.charts[k], 640, 330);
    if (k < channel.residuals.size()) out += Svg(channel.residuals[k], 640, 220);
  }
  out += "</section>\n";
}

std::string Table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::string out = "<table>\n<tr>";
  for (const std::string& h : header) out += "<th>" + Escape(h) + "</th>";
  out += "</tr>\n";
  for (const auto& row : rows) {
    out += "<tr>";
    for (const std::string& cell : row) out += "<td>" + Escape(cell) + "</td>";
    out += "</tr>\n";
  }
  return out + "</table>\n";
}

std::string Id(std::string name) {
  for (char& c : name)
    if (c == ' ') c = '-';
  return name;
}

void CombinedStage(std::string& out, const TCombinedStageReport& stage) {
  out += "<section id=\"stage-" + Id(stage.name) + "\">\n<h2>" + Escape(stage.heading) + "</h2>\n";
  out += "<p>Runs: " + Escape(stage.runs.empty() ? std::string("not named") : stage.runs) + "<br>\n";
  out += "Coefficients: " + Escape(stage.how) + "</p>\n";
  out += "<p class=\"verdict " + stage.verdict_word + "\">" + Escape("Verdict: " + stage.verdict_word) + "</p>\n";
  const std::vector<std::string> verdict = VerdictLines(stage.verdict);
  if (!verdict.empty()) out += Lines(verdict);
  out += "<p>Overall: " + Escape(OverallLine(stage)) + "</p>\n";
  out += "<h3>Coefficients</h3>\n" + CoefficientTable(stage.coefficients, "fitted");
  out += "<h3>Per-curve fit</h3>\n" + Table(CombinedCurveHeader(), CombinedCurveRows(stage));
  out += "<h3>Curves: data and model, residuals</h3>\n";
  for (size_t k = 0; k < stage.charts.size(); ++k) {
    out += Svg(stage.charts[k], 640, 300);
    if (k < stage.residuals.size()) out += Svg(stage.residuals[k], 640, 200);
  }
  for (const TReportChart& ellipse : stage.ellipses) out += Svg(ellipse, 640, 360);
  out += "</section>\n";
}

void Programme(std::string& out, const TProgrammeReport& programme) {
  out += "<section id=\"programme\">\n<h2>Tire from a test programme</h2>\n";
  out += "<p>" + Escape(programme.use_mode_line) + "<br>\n" + Escape(programme.rated_load) + "; " +
         Escape(programme.radius) + "</p>\n";
  if (programme.cancelled) out += "<p>The programme was cancelled.</p>\n";
  const std::vector<std::string> not_fitted = StageLines(programme, "not fitted");
  const std::vector<std::string> poor = StageLines(programme, "poor");
  if (!not_fitted.empty()) out += "<h3>Stages not fitted</h3>\n" + Lines(not_fitted);
  if (!poor.empty()) out += "<h3>Stages judged poor</h3>\n" + Lines(poor);
  out += "<h3>Stages</h3>\n" + Table(StageTableHeader(), StageTableRows(programme));
  out += "<h3>Runs and what each fed</h3>\n" + Lines(programme.runs) + Table(FeedHeader(), FeedRows(programme));
  out += "</section>\n";
  for (const TChannelReport& stage : programme.pure) Channel(out, stage, "stage-");
  for (const TCombinedStageReport& stage : programme.combined) CombinedStage(out, stage);
}

}  // namespace

std::string RenderHtml(const TValidationReport& report) {
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                    Escape(report.title) + "</title>\n" + kStyle + "</head>\n<body>\n";
  out += "<h1>" + Escape(report.title) + "</h1>\n";
  if (!report.created.empty()) out += "<p>Created " + Escape(report.created) + "</p>\n";
  std::string channels;
  for (const TChannelReport& c : report.channels)
    channels += (channels.empty() ? "" : ", ") + std::string(ChannelName(c.channel)) + " (" + c.verdict_word + ")";
  if (!channels.empty() || !report.programme)
    out += "<p>Channels: " + Escape(channels.empty() ? std::string("none") : channels) + "</p>\n";
  if (report.programme)
    out += "<p>Tire from a test programme: " + Escape(report.programme->use_mode_line) + "</p>\n";
  if (!report.channels.empty()) {
    out += "<h3>Summary</h3>\n<table>\n<tr><th>Channel</th><th>Verdict</th><th>Points</th><th>RMS</th><th>R2</th>"
           "<th>Data</th></tr>\n";
    for (const TChannelReport& c : report.channels)
      out += "<tr><td>" + std::string(ChannelName(c.channel)) + "</td><td>" + c.verdict_word + "</td><td class=\"num\">" +
             std::to_string(c.fit.points) + "</td><td class=\"num\">" + ReportNumber(c.fit.rms) +
             "</td><td class=\"num\">" + ReportNumber(c.fit.r_squared) + "</td><td>" + Escape(c.data_file) +
             "</td></tr>\n";
    out += "</table>\n";
  }
  out += "<h3>Where the data came from</h3>\n";
  out += report.source_files.empty() ? std::string("<p>no file named</p>\n") : Lines(report.source_files);
  if (!report.import_report.empty()) out += "<h3>Import report</h3>\n<pre>" + Escape(report.import_report) + "</pre>\n";
  for (size_t k = 0; k < report.channels.size(); ++k) Channel(out, report.channels[k]);
  if (report.programme) Programme(out, *report.programme);
  return out + "</body>\n</html>\n";
}

}  // namespace morvex
