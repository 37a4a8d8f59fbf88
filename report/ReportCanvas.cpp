#include "report/ReportCanvas.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

// Advance widths of Helvetica for the characters 32 to 126, in thousandths
// of the font size (the font's published metrics).
constexpr short kHelvetica[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  // space to /
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556,                                // 0 to 9
    278, 278, 584, 584, 584, 556, 1015,                                              // : to @
    667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833,                 // A to M
    722, 778, 667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611,                 // N to Z
    278, 278, 278, 469, 556, 333,                                                    // [ to `
    556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833,                 // a to m
    556, 556, 556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500,                 // n to z
    334, 260, 334, 584};                                                             // { to ~

// Helvetica-Bold is wider; headings are measured only to wrap them.
constexpr double kBoldFactor = 1.08;

const TReportColor kFrame{110, 110, 110};
const TReportColor kGrid{214, 226, 226};
const TReportColor kBackground{236, 245, 245};
const TReportColor kPlotBackground{255, 255, 255};

constexpr double kTitleSize = 8.5;
constexpr double kLegendSize = 6.5;
constexpr double kTickSize = 6.5;
constexpr double kAxisTitleSize = 7.5;

std::string TickText(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 6, 0); }

bool Finite(const std::pair<double, double>& p) { return std::isfinite(p.first) && std::isfinite(p.second); }

}  // namespace

double TextWidth(const std::string& text, double size, bool bold) {
  double units = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 32 && c < 127)
      units += kHelvetica[c - 32];
    else if ((c & 0xC0) != 0x80)  // the first byte of any other character
      units += 556;
  }
  return units * size / 1000.0 * (bold ? kBoldFactor : 1.0);
}

std::vector<std::string> WrapText(const std::string& text, double size, double width) {
  std::vector<std::string> lines;
  std::string line;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    const std::string joined = line.empty() ? word : line + " " + word;
    if (!line.empty() && TextWidth(joined, size) > width) {
      lines.push_back(line);
      line = word;
    } else {
      line = joined;
    }
    start = end + 1;
  }
  if (!line.empty() || lines.empty()) lines.push_back(line);
  return lines;
}

std::pair<double, double> PaddedRange(double low, double high) {
  double pad = (high - low) * 0.04;
  if (!(pad > 0) || !std::isfinite(pad)) pad = std::max(std::abs(high) * 0.05, 1.0);
  return {low - pad, high + pad};
}

std::vector<double> RoundTicks(double low, double high) {
  std::vector<double> ticks;
  const double span = high - low;
  if (!(span > 0) || !std::isfinite(span)) return ticks;
  const double raw = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (double factor : {1.0, 2.0, 5.0})
    if (raw <= factor * power) {
      step = factor * power;
      break;
    }
  // Multiples of the step, so that zero is a tick exactly when it is in range.
  for (long long k = static_cast<long long>(std::ceil(low / step)); k * step <= high + step * 1e-9; ++k)
    ticks.push_back(k == 0 ? 0.0 : static_cast<double>(k) * step);
  return ticks;
}

void DrawChart(TReportCanvas& canvas, const TReportChart& chart, double x, double y, double width, double height) {
  canvas.Rectangle(x, y, width, height, &kBackground, nullptr);
  double top = y + 4;
  canvas.Text(x + 6, top + kTitleSize, kTitleSize, chart.title, TTextAnchor::kStart, true, false);
  top += kTitleSize + 5;

  // The legend on top, its entries wrapped over as many rows as they need.
  double widest = 0;
  size_t entries = 0;
  for (const TReportSeries& s : chart.series)
    if (s.in_legend) {
      widest = std::max(widest, TextWidth(s.title, kLegendSize));
      ++entries;
    }
  // A tenth to spare: a viewer without Helvetica sets the titles wider.
  const double entry = widest * 1.1 + 24;
  const int per_row = std::max(1, static_cast<int>((width - 12) / entry));
  size_t joined_index = 0;
  size_t i = 0;
  for (const TReportSeries& s : chart.series) {
    // A joined curve keeps its dash pattern whether or not it is named.
    if (!s.in_legend) {
      if (s.measured && s.joined) ++joined_index;
      continue;
    }
    const double ex = x + 6 + static_cast<double>(i % per_row) * entry;
    const double ey = top + static_cast<double>(i / per_row) * (kLegendSize + 4) + kLegendSize * 0.5;
    if (!s.measured || s.joined) {
      const TLineStyle style = s.joined ? static_cast<TLineStyle>(joined_index++ % 5) : TLineStyle::kSolid;
      canvas.Polyline({{ex, ey}, {ex + 14, ey}}, s.color, s.measured ? 1.0 : 2.0, style);
    }
    if (s.measured) canvas.Circle(ex + 7, ey, 2, s.color, s.color);
    canvas.Text(ex + 18, ey + kLegendSize * 0.35, kLegendSize, s.title, TTextAnchor::kStart, false, false);
    ++i;
  }
  const size_t rows = entries == 0 ? 0 : (entries + per_row - 1) / per_row;
  top += static_cast<double>(rows) * (kLegendSize + 4) + 4;

  // The data's extent and round ticks.
  double x_low = INFINITY, x_high = -INFINITY, y_low = INFINITY, y_high = -INFINITY;
  for (const TReportSeries& s : chart.series)
    for (const auto& p : s.points)
      if (Finite(p)) {
        x_low = std::min(x_low, p.first);
        x_high = std::max(x_high, p.first);
        y_low = std::min(y_low, p.second);
        y_high = std::max(y_high, p.second);
      }
  const bool any = x_low <= x_high;
  const auto [xa, xb] = any ? PaddedRange(x_low, x_high) : std::pair{-1.0, 1.0};
  const auto [ya, yb] = any ? PaddedRange(y_low, y_high) : std::pair{-1.0, 1.0};
  const std::vector<double> x_ticks = RoundTicks(xa, xb);
  const std::vector<double> y_ticks = RoundTicks(ya, yb);
  double label_width = 0;
  for (double t : y_ticks) label_width = std::max(label_width, TextWidth(TickText(t), kTickSize));

  const double left = x + 6 + kAxisTitleSize + 6 + label_width + 4;
  const double right = x + width - 10;
  const double bottom = y + height - 6 - kAxisTitleSize - 4 - kTickSize - 4;
  const double plot_w = std::max(right - left, 10.0);
  const double plot_h = std::max(bottom - top, 10.0);
  auto px = [&](double v) { return left + (v - xa) / (xb - xa) * plot_w; };
  auto py = [&](double v) { return top + plot_h - (v - ya) / (yb - ya) * plot_h; };

  canvas.Rectangle(left, top, plot_w, plot_h, &kPlotBackground, nullptr);
  for (double t : x_ticks) {
    canvas.Polyline({{px(t), top}, {px(t), top + plot_h}}, kGrid, 0.5, TLineStyle::kSolid);
    canvas.Text(px(t), top + plot_h + 3 + kTickSize, kTickSize, TickText(t), TTextAnchor::kMiddle, false, false);
  }
  for (double t : y_ticks) {
    canvas.Polyline({{left, py(t)}, {left + plot_w, py(t)}}, kGrid, 0.5, TLineStyle::kSolid);
    canvas.Text(left - 3, py(t) + kTickSize * 0.35, kTickSize, TickText(t), TTextAnchor::kEnd, false, false);
  }
  canvas.Rectangle(left, top, plot_w, plot_h, nullptr, &kFrame);
  canvas.Text(left + plot_w / 2, y + height - 6, kAxisTitleSize, chart.x_title, TTextAnchor::kMiddle, false, false);
  canvas.Text(x + 6 + kAxisTitleSize, top + plot_h / 2, kAxisTitleSize, chart.y_title, TTextAnchor::kMiddle, false,
              true);

  // Markers first, then the model lines above them, so a good fit stays
  // visible, as in the window.
  canvas.PushClip(left, top, plot_w, plot_h);
  joined_index = 0;
  for (const TReportSeries& s : chart.series) {
    if (!s.measured) continue;
    if (s.joined) {
      std::vector<std::pair<double, double>> run;
      const TLineStyle style = static_cast<TLineStyle>(joined_index++ % 5);
      for (const auto& p : s.points) {
        if (Finite(p)) {
          run.emplace_back(px(p.first), py(p.second));
          continue;
        }
        if (run.size() > 1) canvas.Polyline(run, s.color, 1.0, style);
        run.clear();
      }
      if (run.size() > 1) canvas.Polyline(run, s.color, 1.0, style);
    }
    const TReportColor border{s.color.red * 10 / 13, s.color.green * 10 / 13, s.color.blue * 10 / 13};
    for (const auto& p : s.points)
      if (Finite(p)) canvas.Circle(px(p.first), py(p.second), s.joined ? 1.4 : 1.9, s.color, border);
  }
  for (const TReportSeries& s : chart.series) {
    if (s.measured) continue;
    std::vector<std::pair<double, double>> run;
    for (const auto& p : s.points) {
      if (Finite(p)) {
        run.emplace_back(px(p.first), py(p.second));
        continue;
      }
      if (run.size() > 1) canvas.Polyline(run, s.color, 1.5, TLineStyle::kSolid);
      run.clear();
    }
    if (run.size() > 1) canvas.Polyline(run, s.color, 1.5, TLineStyle::kSolid);
  }
  canvas.PopClip();
}

}  // namespace morvex
