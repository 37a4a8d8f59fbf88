// A small PDF 1.4 writer: pages of vector paths and text in the standard
// Helvetica fonts (no font embedded), WinAnsi encoded so that any reader,
// pdftotext included, maps the text back to characters.  Streams are not
// compressed.  Enough for the validation report, nothing more.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "report/ReportCanvas.h"

namespace morvex {

// A coordinate or size of a drawing, as the PDF and the HTML report write
// it: two decimals at most, trailing zeros dropped, "0" for -0 and for a
// value that is not finite.
std::string ChartNumber(double value);

// UTF-8 text as WinAnsi bytes: ASCII and Latin-1 as they are, the few
// typographic characters WinAnsi holds (dashes, quotes, bullet, euro) at
// their places, anything else as '?'.
std::string ToWinAnsi(const std::string& utf8);

// A PDF page as a canvas; coordinates as TReportCanvas's (points, y down).
class TPdfPage final : public TReportCanvas {
 public:
  TPdfPage(double width, double height) : width_(width), height_(height) {}

  void Polyline(const std::vector<std::pair<double, double>>& points, TReportColor color, double width,
                TLineStyle style) override;
  void Circle(double x, double y, double radius, TReportColor fill, TReportColor stroke) override;
  void Rectangle(double x, double y, double width, double height, const TReportColor* fill,
                 const TReportColor* stroke) override;
  void Text(double x, double y, double size, const std::string& text, TTextAnchor anchor, bool bold,
            bool rotated) override;
  void PushClip(double x, double y, double width, double height) override;
  void PopClip() override;

  double Width() const { return width_; }
  double Height() const { return height_; }
  const std::string& Content() const { return content_; }

 private:
  double Y(double y) const { return height_ - y; }
  double width_, height_;
  std::string content_;
};

class TPdfDocument {
 public:
  // A new page, A4 unless told.
  TPdfPage& AddPage(double width = 595.28, double height = 841.89);
  size_t PageCount() const { return pages_.size(); }
  // The whole file.  `title` goes into the document information.
  std::string Serialize(const std::string& title) const;

 private:
  std::deque<TPdfPage> pages_;  // a page stays where it is as others are added
};

}  // namespace morvex
