#include "report/PdfWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdint>

namespace morvex {

std::string ChartNumber(double value) {
  if (!std::isfinite(value)) value = 0;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  std::string text = buffer;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

namespace {

std::string Rgb(TReportColor c, bool stroke) {
  return ChartNumber(c.red / 255.0) + ' ' + ChartNumber(c.green / 255.0) + ' ' + ChartNumber(c.blue / 255.0) + (stroke ? " RG\n" : " rg\n");
}

// A PDF string literal of WinAnsi bytes: parentheses and backslashes
// escaped, bytes outside printable ASCII as octal.
std::string Literal(const std::string& bytes) {
  std::string out = "(";
  for (unsigned char c : bytes) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c > 126) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\%03o", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

const char* Dash(TLineStyle style) {
  switch (style) {
    case TLineStyle::kSolid: return "[] 0 d\n";
    case TLineStyle::kDash: return "[4 2] 0 d\n";
    case TLineStyle::kDot: return "[1 2] 0 d\n";
    case TLineStyle::kDashDot: return "[4 2 1 2] 0 d\n";
    case TLineStyle::kDashDotDot: return "[4 2 1 2 1 2] 0 d\n";
  }
  return "[] 0 d\n";
}

}  // namespace

std::string ToWinAnsi(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t code = '?';
    size_t length = 1;
    if (c < 0x80) {
      code = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      length = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
      code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
             (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
      length = 3;
    } else if ((c & 0xF8) == 0xF0 && i + 3 < utf8.size()) {
      length = 4;
    } else {
      // A stray or cut sequence: one '?' for the whole of it.
      while (i + length < utf8.size() && (static_cast<unsigned char>(utf8[i + length]) & 0xC0) == 0x80) ++length;
    }
    i += length;
    if (code == '\t') code = ' ';
    if ((code >= 0x20 && code < 0x7F) || (code >= 0xA0 && code <= 0xFF)) {
      out += static_cast<char>(code);
      continue;
    }
    switch (code) {
      case 0x2013: out += '\x96'; break;  // en dash
      case 0x2014: out += '\x97'; break;  // em dash
      case 0x2018: out += '\x91'; break;
      case 0x2019: out += '\x92'; break;
      case 0x201C: out += '\x93'; break;
      case 0x201D: out += '\x94'; break;
      case 0x2022: out += '\x95'; break;  // bullet
      case 0x2026: out += '\x85'; break;  // ellipsis
      case 0x20AC: out += '\x80'; break;  // euro
      case 0x2212: out += '-'; break;     // minus sign
      default: out += '?';
    }
  }
  return out;
}

void TPdfPage::Polyline(const std::vector<std::pair<double, double>>& points, TReportColor color, double width,
                        TLineStyle style) {
  if (points.size() < 2) return;
  content_ += Rgb(color, true) + ChartNumber(width) + " w\n" + Dash(style) + "1 J 1 j\n";
  for (size_t i = 0; i < points.size(); ++i)
    content_ += ChartNumber(points[i].first) + ' ' + ChartNumber(Y(points[i].second)) + (i == 0 ? " m\n" : " l\n");
  content_ += "S\n";
}

void TPdfPage::Circle(double x, double y, double r, TReportColor fill, TReportColor stroke) {
  // Four Bezier arcs; k places the control points of a quarter circle.
  const double k = 0.5523 * r;
  const double cy = Y(y);
  content_ += Rgb(fill, false) + Rgb(stroke, true) + "0.4 w [] 0 d\n";
  content_ += ChartNumber(x + r) + ' ' + ChartNumber(cy) + " m\n";
  content_ += ChartNumber(x + r) + ' ' + ChartNumber(cy + k) + ' ' + ChartNumber(x + k) + ' ' + ChartNumber(cy + r) + ' ' + ChartNumber(x) + ' ' + ChartNumber(cy + r) + " c\n";
  content_ += ChartNumber(x - k) + ' ' + ChartNumber(cy + r) + ' ' + ChartNumber(x - r) + ' ' + ChartNumber(cy + k) + ' ' + ChartNumber(x - r) + ' ' + ChartNumber(cy) + " c\n";
  content_ += ChartNumber(x - r) + ' ' + ChartNumber(cy - k) + ' ' + ChartNumber(x - k) + ' ' + ChartNumber(cy - r) + ' ' + ChartNumber(x) + ' ' + ChartNumber(cy - r) + " c\n";
  content_ += ChartNumber(x + k) + ' ' + ChartNumber(cy - r) + ' ' + ChartNumber(x + r) + ' ' + ChartNumber(cy - k) + ' ' + ChartNumber(x + r) + ' ' + ChartNumber(cy) + " c\n";
  content_ += "B\n";
}

void TPdfPage::Rectangle(double x, double y, double width, double height, const TReportColor* fill,
                         const TReportColor* stroke) {
  if (fill == nullptr && stroke == nullptr) return;
  if (fill != nullptr) content_ += Rgb(*fill, false);
  if (stroke != nullptr) content_ += Rgb(*stroke, true) + "0.6 w [] 0 d\n";
  content_ += ChartNumber(x) + ' ' + ChartNumber(Y(y + height)) + ' ' + ChartNumber(width) + ' ' + ChartNumber(height) + " re ";
  content_ += fill != nullptr && stroke != nullptr ? "B\n" : fill != nullptr ? "f\n" : "S\n";
}

void TPdfPage::Text(double x, double y, double size, const std::string& text, TTextAnchor anchor, bool bold,
                    bool rotated) {
  if (text.empty()) return;
  double shift = 0;
  if (anchor != TTextAnchor::kStart) {
    const double width = TextWidth(text, size, bold);
    shift = anchor == TTextAnchor::kMiddle ? width / 2 : width;
  }
  content_ += "0 g\nBT\n/" + std::string(bold ? "F2 " : "F1 ") + ChartNumber(size) + " Tf\n";
  if (rotated)
    content_ += "0 1 -1 0 " + ChartNumber(x) + ' ' + ChartNumber(Y(y) - shift) + " Tm\n";
  else
    content_ += "1 0 0 1 " + ChartNumber(x - shift) + ' ' + ChartNumber(Y(y)) + " Tm\n";
  content_ += Literal(ToWinAnsi(text)) + " Tj\nET\n";
}

void TPdfPage::PushClip(double x, double y, double width, double height) {
  content_ += "q\n" + ChartNumber(x) + ' ' + ChartNumber(Y(y + height)) + ' ' + ChartNumber(width) + ' ' + ChartNumber(height) + " re W n\n";
}

void TPdfPage::PopClip() { content_ += "Q\n"; }

TPdfPage& TPdfDocument::AddPage(double width, double height) { return pages_.emplace_back(width, height); }

std::string TPdfDocument::Serialize(const std::string& title) const {
  // Objects: 1 catalog, 2 page tree, 3 and 4 the fonts, 5 the information,
  // then a page and its content stream for each page.
  std::vector<std::string> objects;
  std::string kids;
  for (size_t p = 0; p < pages_.size(); ++p) kids += std::to_string(6 + 2 * p) + " 0 R ";
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages_.size()) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>");
  objects.push_back("<< /Title " + Literal(ToWinAnsi(title)) + " /Producer (Morvex) >>");
  for (size_t p = 0; p < pages_.size(); ++p) {
    const TPdfPage& page = pages_[p];
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + ChartNumber(page.Width()) + ' ' + ChartNumber(page.Height()) +
                      "] /Resources << /Font << /F1 3 0 R /F2 4 0 R >> /ProcSet [/PDF /Text] >> /Contents " +
                      std::to_string(7 + 2 * p) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(page.Content().size()) + " >>\nstream\n" + page.Content() +
                      "\nendstream");
  }
  // A binary comment line after the header tells transfer programs the
  // file is not plain text.
  std::string file = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(file.size());
    file += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = file.size();
  file += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    file += line;
  }
  file += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" +
          std::to_string(xref) + "\n%%EOF\n";
  return file;
}

}  // namespace morvex
