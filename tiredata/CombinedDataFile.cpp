#include "tiredata/CombinedDataFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "numerics/LxTypes.h"
#include "numerics/ProfileFile.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr size_t kColumns = 10;
// In the order of the writer; the first four are the set-points.
constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "camber", "load", "slip_angle", "slip_ratio", "fx", "fy", "mz", "mx", "my", "speed"};
constexpr size_t kSetPoints = 4;
constexpr double kMaxAngle = 90;        // deg
constexpr double kMaxLoad = 1e7;        // N
constexpr double kMaxSlipRatio = 10;
constexpr double kMaxValue = 1e12;
// Longest text quoted whole in a message.
constexpr size_t kMaxQuoted = 40;

double& Field(TCombinedSample& s, size_t column) {
  switch (column) {
    case 0: return s.camber;
    case 1: return s.load;
    case 2: return s.slip_angle;
    case 3: return s.slip_ratio;
    case 4: return s.fx;
    case 5: return s.fy;
    case 6: return s.mz;
    case 7: return s.mx;
    case 8: return s.my;
    default: return s.speed;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Quoted(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, kMaxQuoted)) out += static_cast<unsigned char>(c) < 32 ? '?' : c;
  return "'" + out + (s.size() > kMaxQuoted ? "...'" : "'");
}

class TReader {
 public:
  TReader(std::string_view text, std::string_view source) : text_(text), source_(source) {
    end_char_ = std::memchr(text.data(), '\n', text.size()) ? '\n' : '\r';
  }

  bool Next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const void* hit = std::memchr(text_.data() + pos_, end_char_, text_.size() - pos_);
    const size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
    size_t stop = end;
    if (end_char_ == '\n' && stop > pos_ && text_[stop - 1] == '\r') --stop;
    line = text_.substr(pos_, stop - pos_);
    pos_ = end + 1;
    ++line_;
    return true;
  }

  [[noreturn]] void Fail(const std::string& what, size_t field = 0, std::string_view column = {}) const {
    std::string where = source_.empty() ? std::string() : "file " + std::string(source_) + ", ";
    where += "line " + std::to_string(std::max<size_t>(line_, 1));
    if (field > 0) where += ", field " + std::to_string(field);
    if (!column.empty()) where += ": " + std::string(column);
    throw Exception(what + " (" + where + ")");
  }

 private:
  std::string_view text_;
  std::string_view source_;
  char end_char_;
  size_t pos_ = 0;
  size_t line_ = 0;
};

// Calls visit(field) for each ';'-separated field of `line`, trimmed.
template <class Visit>
void ForEachField(std::string_view line, Visit&& visit) {
  size_t p = 0;
  for (;;) {
    const size_t semicolon = line.find(';', p);
    visit(Trim(line.substr(p, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - p)));
    if (semicolon == std::string_view::npos) return;
    p = semicolon + 1;
  }
}

// A number, NaN for "nan" or an empty field, nothing for anything else.
std::optional<double> ParseValue(std::string_view field) {
  if (field.empty() || (field.size() == 3 && Lower(field) == "nan")) return kNaN;
  if (field.front() == '+') {
    field.remove_prefix(1);
    if (field.empty() || field.front() == '+' || field.front() == '-') return std::nullopt;
  }
  double v = 0;
  const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  if (ec != std::errc() || ptr != field.data() + field.size()) return std::nullopt;
  if (std::isnan(v)) return std::nullopt;  // "nan(...)" and the like: only the plain token
  return v;
}

std::string Number(double v) {
  if (std::isnan(v)) return "nan";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

}  // namespace

TCombinedDataSet ParseCombinedDataText(std::string_view text, std::string_view source) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  TReader reader(text, source);
  std::string_view line;
  // The first line: the form and its version.
  bool first = reader.Next(line);
  if (!first)
    reader.Fail("The combined data file is empty; it must start with the line " + std::string(kCombinedDataMagic) +
                " " + std::to_string(kCombinedDataVersion));
  {
    const std::string_view head = Trim(line);
    if (head.substr(0, kCombinedDataMagic.size()) != kCombinedDataMagic)
      reader.Fail("Not a combined data file: the first line is " + Quoted(head) + ", not " +
                  std::string(kCombinedDataMagic) + " " + std::to_string(kCombinedDataVersion));
    const std::string_view version = Trim(head.substr(kCombinedDataMagic.size()));
    if (version != std::to_string(kCombinedDataVersion))
      reader.Fail("The combined data file is of version " + Quoted(version) + "; this program reads version " +
                  std::to_string(kCombinedDataVersion));
  }
  auto skipped = [](std::string_view l) {
    const std::string_view t = Trim(l);
    return t.empty() || t.front() == '#';
  };
  // The columns.
  std::vector<size_t> columns;  // index into kColumnNames per field
  for (;;) {
    if (!reader.Next(line))
      reader.Fail("The combined data file ends before its line of column names");
    if (!skipped(line)) break;
  }
  {
    std::array<bool, kColumns> seen{};
    size_t field = 0;
    ForEachField(line, [&](std::string_view name) {
      ++field;
      const std::string lower = Lower(name);
      size_t column = kColumns;
      for (size_t c = 0; c < kColumns; ++c)
        if (lower == kColumnNames[c]) column = c;
      if (column == kColumns)
        reader.Fail("Unknown column " + Quoted(name) +
                        "; the columns are camber, load, slip_angle, slip_ratio, fx, fy, mz, mx, my and speed",
                    field);
      if (seen[column]) reader.Fail("The column " + std::string(kColumnNames[column]) + " is named twice", field);
      seen[column] = true;
      columns.push_back(column);
    });
    for (size_t c = 0; c < kSetPoints; ++c)
      if (!seen[c]) reader.Fail("The column " + std::string(kColumnNames[c]) + " is missing; every point needs it");
    bool measured = false;
    for (size_t c = kSetPoints; c + 1 < kColumns; ++c) measured = measured || seen[c];
    if (!measured) reader.Fail("No column of a measured force or moment (fx, fy, mz, mx or my)");
  }
  // The points.
  TCombinedDataSet data;
  while (reader.Next(line)) {
    if (skipped(line)) continue;
    TCombinedSample sample;
    size_t field = 0;
    bool any_measured = false;
    ForEachField(line, [&](std::string_view text_field) {
      ++field;
      if (field > columns.size())
        reader.Fail("Too many fields: the file has " + std::to_string(columns.size()) + " columns", field);
      const size_t column = columns[field - 1];
      const std::string_view name = kColumnNames[column];
      const std::optional<double> v = ParseValue(text_field);
      if (!v) reader.Fail(Quoted(text_field) + " is not a number", field, name);
      if (column < kSetPoints) {
        if (!std::isfinite(*v)) reader.Fail("The set-point " + std::string(name) + " must be a number", field, name);
        const bool in_range = column == 1   ? *v > 0 && *v <= kMaxLoad
                              : column == 3 ? std::fabs(*v) <= kMaxSlipRatio
                                            : std::fabs(*v) <= kMaxAngle;
        if (!in_range)
          reader.Fail(Quoted(text_field) + " is out of range for " + std::string(name) +
                          (column == 1 ? " (0 < load <= 1e7 N)" : column == 3 ? " (|slip ratio| <= 10)" : " (|angle| <= 90 deg)"),
                      field, name);
      } else if (!std::isnan(*v)) {
        if (!(std::fabs(*v) <= kMaxValue)) reader.Fail(Quoted(text_field) + " is beyond 1e12", field, name);
        if (column + 1 < kColumns) any_measured = true;
      }
      Field(sample, column) = *v;
    });
    if (field < columns.size())
      reader.Fail("Too few fields: the row ends after " + std::to_string(field) + " of " +
                      std::to_string(columns.size()),
                  field + 1, kColumnNames[columns[field]]);
    if (!any_measured) reader.Fail("The point holds no measured force or moment");
    data.samples.push_back(sample);
  }
  if (data.samples.empty()) reader.Fail("The combined data file holds no point");
  return data;
}

TCombinedDataSet ReadCombinedDataFile(const std::string& path) {
  const std::string text = ReadTireDataText(path);
  return ParseCombinedDataText(text, path);
}

std::string FormatCombinedData(const TCombinedDataSet& data, const std::vector<std::string>& comments) {
  std::string text = std::string(kCombinedDataMagic) + " " + std::to_string(kCombinedDataVersion) + "\n";
  for (const std::string& c : comments) text += "# " + c.substr(0, c.find_first_of("\r\n")) + "\n";
  text += "# camber deg; load N; slip_angle deg; slip_ratio -; fx, fy N; mz, mx, my N m; speed m/s; nan: not measured\n";
  for (size_t c = 0; c < kColumns; ++c) text += (c ? ";" : "") + std::string(kColumnNames[c]);
  text += "\n";
  text.reserve(text.size() + data.samples.size() * 120);
  for (const TCombinedSample& s : data.samples) {
    TCombinedSample copy = s;
    for (size_t c = 0; c < kColumns; ++c) text += (c ? ";" : "") + Number(Field(copy, c));
    text += "\n";
  }
  return text;
}

void WriteCombinedDataFile(const std::string& path, const TCombinedDataSet& data,
                           const std::vector<std::string>& comments) {
  const std::string text = FormatCombinedData(data, comments);
  // A temporary file beside it renamed over it: a failure leaves an
  // existing file as it was.
  if (!ReplaceFileContent(path, text)) throw EWriteError(path);
}

}  // namespace morvex
