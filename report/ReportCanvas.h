// Drawing a report chart on any vector surface.
//
// DrawChart lays a chart out (legend, plot frame, round ticks, axis
// titles) and draws it through TReportCanvas, which the SVG and the PDF
// renderers implement; both therefore show the same picture.  Coordinates
// are points (1/72 inch) with y growing downwards, as in SVG; the PDF
// canvas turns them over.
//
// Text is measured with the widths of the standard Helvetica font, the
// font the PDF uses and the SVG asks for first.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "report/ValidationReport.h"

namespace morvex {

enum class TTextAnchor { kStart, kMiddle, kEnd };

// A line's dash pattern: solid, dashed, dotted, dash-dot, dash-dot-dot, as
// the window gives the residual lines of successive loads.
enum class TLineStyle { kSolid, kDash, kDot, kDashDot, kDashDotDot };

class TReportCanvas {
 public:
  virtual ~TReportCanvas() = default;
  virtual void Polyline(const std::vector<std::pair<double, double>>& points, TReportColor color, double width,
                        TLineStyle style) = 0;
  virtual void Circle(double x, double y, double radius, TReportColor fill, TReportColor stroke) = 0;
  virtual void Rectangle(double x, double y, double width, double height, const TReportColor* fill,
                         const TReportColor* stroke) = 0;
  // `rotated`: turned a quarter anticlockwise (the vertical axis title).
  virtual void Text(double x, double y, double size, const std::string& text, TTextAnchor anchor, bool bold,
                    bool rotated) = 0;
  // Everything drawn until PopClip is cut at the rectangle.
  virtual void PushClip(double x, double y, double width, double height) = 0;
  virtual void PopClip() = 0;
};

// The width of `text` (UTF-8) in Helvetica of `size` points.
double TextWidth(const std::string& text, double size, bool bold = false);

// The text cut at the last space that keeps each line within `width`.
std::vector<std::string> WrapText(const std::string& text, double size, double width);

// Round ticks over [low, high]: about five intervals of 1, 2 or 5 times a
// power of ten.
std::vector<double> RoundTicks(double low, double high);

// An axis range: the values' span and 4 % of it on each side; a single
// value gets a band of its own.
std::pair<double, double> PaddedRange(double low, double high);

// Draws `chart` into the rectangle (x, y, width, height).  A chart without
// finite points draws its frame and titles only.
void DrawChart(TReportCanvas& canvas, const TReportChart& chart, double x, double y, double width, double height);

}  // namespace morvex
