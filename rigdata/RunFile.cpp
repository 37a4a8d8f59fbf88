#include "rigdata/RunFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/RunChannels.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A delimited file's header is at most a title, the names and the units.
constexpr size_t kMaxHeaderLines = 3;
// Longest text quoted whole in a message.
constexpr size_t kMaxQuoted = 40;

// Walks the lines of a text, counting them.  Lines end with LF or CR LF;
// in a text without any LF, with CR (old Mac files).
class TLineReader {
 public:
  TLineReader(std::string_view text, size_t offset = 0, size_t line = 0)
      : text_(text),
        pos_(offset),
        line_(line),
        end_char_(std::memchr(text.data(), '\n', text.size()) ? '\n' : '\r') {}

  bool Next(std::string_view& line) {
    const size_t n = text_.size();
    if (pos_ >= n) return false;
    start_ = pos_;
    const char* base = text_.data();
    const void* hit = std::memchr(base + pos_, end_char_, n - pos_);
    const size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - base) : n;
    size_t stop = end;
    if (end_char_ == '\n' && stop > pos_ && text_[stop - 1] == '\r') --stop;
    line = text_.substr(pos_, stop - pos_);
    pos_ = end < n ? end + 1 : n;
    ++line_;
    return true;
  }
  size_t LineNumber() const { return line_; }  // of the line Next returned last, 1-based
  size_t LineStart() const { return start_; }
  size_t Offset() const { return pos_; }

 private:
  std::string_view text_;
  size_t pos_;
  size_t line_;
  char end_char_;
  size_t start_ = 0;
};

// The text after a UTF-8 byte order mark, if it starts with one.
std::string_view WithoutBom(std::string_view text) {
  return text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsBlankLine(std::string_view s) { return Trim(s).empty(); }

std::string Quoted(std::string_view s) {
  if (s.size() <= kMaxQuoted) return "'" + std::string(s) + "'";
  return "'" + std::string(s.substr(0, kMaxQuoted)) + "...'";
}

char DelimiterChar(TRunDelimiter d) {
  switch (d) {
    case TRunDelimiter::kTab: return '\t';
    case TRunDelimiter::kComma: return ',';
    case TRunDelimiter::kSemicolon: return ';';
    default: return 0;
  }
}

// Calls visit(index, field) for each field of `line` until it returns false;
// returns the number of fields visited.  With a delimiter character, every
// delimiter separates two fields (which may be empty), and blanks around a
// field are removed; with none, fields are runs of non-blank characters.
template <class Visit>
size_t ForEachField(std::string_view line, TRunDelimiter delimiter, Visit&& visit) {
  size_t index = 0;
  const char d = DelimiterChar(delimiter);
  const size_t n = line.size();
  size_t p = 0;
  if (d == 0) {
    for (;;) {
      while (p < n && IsBlank(line[p])) ++p;
      if (p >= n) break;
      const size_t start = p;
      while (p < n && !IsBlank(line[p])) ++p;
      if (!visit(index++, line.substr(start, p - start))) break;
    }
    return index;
  }
  for (;;) {
    const void* hit = std::memchr(line.data() + p, d, n - p);
    const size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - line.data()) : n;
    if (!visit(index++, Trim(line.substr(p, end - p)))) break;
    if (!hit) break;
    p = end + 1;
  }
  return index;
}

enum class TNumber { kValue, kMissing, kBad };

bool SameToken(std::string_view a, std::string_view lower) {
  return SameAsciiText(a, lower);
}

// Plain decimals (a sign, at most 19 digits with one decimal separator, no
// exponent) whose digits make an integer below 2^53 and that have at most
// 22 decimals: the value is then one division of two doubles that hold the
// integer and the power of ten exactly, which IEEE arithmetic rounds
// correctly (Clinger's fast path), so it equals what from_chars gives, in a
// fraction of the time.  Anything else goes the long way.
bool FastDecimal(std::string_view f, char decimal_separator, double& value) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  size_t i = 0;
  const bool negative = f[0] == '-';
  if (f[0] == '-' || f[0] == '+') i = 1;
  uint64_t mantissa = 0;
  int digits = 0, decimals = -1;
  for (; i < f.size(); ++i) {
    const char c = f[i];
    if (c >= '0' && c <= '9') {
      if (++digits > 19) return false;
      mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
      if (decimals >= 0) ++decimals;
    } else if (c == decimal_separator && decimals < 0) {
      decimals = 0;
    } else {
      return false;
    }
  }
  if (digits == 0 || mantissa > (uint64_t{1} << 53) || decimals > 22) return false;
  const double magnitude = static_cast<double>(mantissa) / kPowers[decimals < 0 ? 0 : decimals];
  value = negative ? -magnitude : magnitude;
  return true;
}

TNumber ParseNumber(std::string_view field, char decimal_separator, double& value) {
  if (field.empty()) return TNumber::kMissing;
  if (FastDecimal(field, decimal_separator, value)) return TNumber::kValue;
  const char first = field[0];
  if (!(first >= '0' && first <= '9') && first != '-' && first != '+' && first != '.' &&
      first != decimal_separator) {
    if (SameToken(field, "nan") || SameToken(field, "notavail") || SameToken(field, "na") ||
        SameToken(field, "n/a"))
      return TNumber::kMissing;
    return TNumber::kBad;
  }
  if (first == '+') {
    field.remove_prefix(1);
    if (field.empty() || field[0] == '-' || field[0] == '+') return TNumber::kBad;
  }
  char buffer[64];
  if (decimal_separator != '.') {
    if (field.size() > sizeof buffer || field.find('.') != std::string_view::npos) return TNumber::kBad;
    for (size_t i = 0; i < field.size(); ++i) buffer[i] = field[i] == decimal_separator ? '.' : field[i];
    field = std::string_view(buffer, field.size());
  }
  const char* end = field.data() + field.size();
  const auto [ptr, ec] = std::from_chars(field.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end) return TNumber::kBad;
  if (std::isnan(value)) return TNumber::kMissing;
  if (std::isinf(value)) return TNumber::kBad;
  return TNumber::kValue;
}

// The fields of a line (as copies), with surrounding quotes removed.
std::vector<std::string> Fields(std::string_view line, TRunDelimiter delimiter) {
  std::vector<std::string> fields;
  ForEachField(line, delimiter, [&](size_t, std::string_view f) {
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = Trim(f.substr(1, f.size() - 2));
    fields.emplace_back(f);
    return true;
  });
  return fields;
}

// The number of fields when every field of `line` is a number or missing
// and at least one is a number; 0 otherwise.
size_t NumericFieldCount(std::string_view line, TRunDelimiter delimiter, char decimal_separator) {
  bool numeric = true, any_value = false;
  const size_t count = ForEachField(line, delimiter, [&](size_t, std::string_view f) {
    double v;
    const TNumber kind = ParseNumber(f, decimal_separator, v);
    if (kind == TNumber::kBad) numeric = false;
    any_value = any_value || kind == TNumber::kValue;
    return numeric;
  });
  return numeric && any_value ? count : 0;
}

size_t KnownNames(const std::vector<std::string>& fields) {
  size_t known = 0;
  for (const std::string& f : fields) known += IsKnownChannelName(f) ? 1 : 0;
  return known;
}

struct TLineRef {
  std::string_view text;
  size_t number = 0;  // 1-based
  size_t offset = 0;
};

TRunHeader ReadDelimitedHeader(std::string_view text, const TRunReadOptions& options) {
  // The first lines that hold anything: at most the header and one data row.
  std::vector<TLineRef> lines;
  TLineReader reader(text);
  std::string_view line;
  while (lines.size() <= kMaxHeaderLines && reader.Next(line)) {
    if (IsBlankLine(line)) continue;
    lines.push_back({line, reader.LineNumber(), reader.LineStart()});
  }
  if (lines.empty()) throw Exception("The run file is empty: it holds no channel names and no samples");

  // The delimiter and the first data row: the first line that splits into
  // at least two numbers; where several delimiters do, the one giving the
  // most fields (tab first on a tie, so that a unit such as "deg C" stays
  // whole).
  const TRunDelimiter candidates[] = {TRunDelimiter::kTab, TRunDelimiter::kSemicolon,
                                      TRunDelimiter::kComma, TRunDelimiter::kWhitespace};
  size_t data_index = lines.size();
  TRunDelimiter delimiter = options.delimiter;
  for (size_t i = 0; i < lines.size() && data_index == lines.size(); ++i) {
    size_t best = 0;
    for (TRunDelimiter d : candidates) {
      if (options.delimiter != TRunDelimiter::kAuto && d != options.delimiter) continue;
      const size_t count = NumericFieldCount(lines[i].text, d, options.decimal_separator);
      if (count >= 2 && count > best) {
        best = count;
        delimiter = d;
        data_index = i;
      }
    }
  }
  if (data_index == lines.size()) {
    if (lines.size() <= kMaxHeaderLines)
      throw Exception("The run file holds no row of numbers: after its header (line " +
                      std::to_string(lines.back().number) + ") there are no samples");
    throw Exception("Line " + std::to_string(lines.back().number) +
                    ": expected a row of numbers; a run file has at most three header lines (a title, "
                    "the channel names and their units) before its samples, separated by tabs, commas, "
                    "semicolons or blanks");
  }
  if (data_index == 0)
    throw Exception("Line " + std::to_string(lines[0].number) +
                    ": the run file starts with numbers; it needs a row of channel names above its samples");

  TRunHeader header;
  header.format = TRunFormat::kDelimited;
  header.delimiter = delimiter;
  header.first_data_line = lines[data_index].number;
  header.data_offset = lines[data_index].offset;
  const size_t data_fields = NumericFieldCount(lines[data_index].text, delimiter, options.decimal_separator);

  // Which header lines are the names and the units.
  size_t names = 0;
  std::optional<size_t> units;
  if (data_index == 2) {
    const auto first = Fields(lines[0].text, delimiter);
    const auto second = Fields(lines[1].text, delimiter);
    const size_t known_first = KnownNames(first), known_second = KnownNames(second);
    const bool title_first = known_second > known_first ||
                             (known_second == known_first && first.size() != data_fields);
    if (title_first) {
      names = 1;
    } else {
      names = 0;
      units = 1;
    }
  } else if (data_index == 3) {
    names = 1;
    units = 2;
  }
  if (names == 1) header.title = std::string(Trim(lines[0].text));

  const TLineRef& names_line = lines[names];
  const std::vector<std::string> name_fields = Fields(names_line.text, delimiter);
  std::vector<std::string> unit_fields;
  if (units) unit_fields = Fields(lines[*units].text, delimiter);
  header.has_units = units.has_value();
  for (size_t k = 0; k < name_fields.size(); ++k) {
    TRunColumn column;
    column.name = name_fields[k];
    column.line = names_line.number;
    column.column = k + 1;
    if (units && k < unit_fields.size()) {
      column.unit = unit_fields[k];
      column.unit_line = lines[*units].number;
    }
    header.columns.push_back(std::move(column));
  }
  return header;
}

// The keyword of a TYDEX block line ("**MEASURDATA" gives "MEASURDATA"), or
// empty when the line starts no block.
std::string BlockKeyword(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line[0] != '*' || line[1] != '*') return {};
  std::string keyword;
  for (size_t i = 2; i < line.size() && !IsBlank(line[i]); ++i) {
    char c = line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    keyword += c;
  }
  return keyword.empty() ? std::string("*") : keyword;
}

std::string_view FixedField(std::string_view line, size_t from, size_t width) {
  if (from >= line.size()) return {};
  return Trim(line.substr(from, width));
}

TRunHeader ReadTydexHeader(std::string_view text, const TRunReadOptions& options) {
  TRunHeader header;
  header.format = TRunFormat::kTydex;
  header.delimiter = TRunDelimiter::kWhitespace;
  TLineReader reader(text);
  std::string_view line;
  std::string block;
  bool seen_channels = false;
  size_t data_line = 0;
  while (reader.Next(line)) {
    const std::string keyword = BlockKeyword(line);
    if (!keyword.empty()) {
      block = keyword;
      if (block == "MEASURDATA") {
        if (!seen_channels)
          throw Exception("Line " + std::to_string(reader.LineNumber()) +
                          ": the **MEASURDATA block comes before any **MEASURCHANNELS block, so its "
                          "columns have no names");
        data_line = reader.LineNumber();
        if (header.data_blocks++ == 0) {
          header.first_data_line = reader.LineNumber() + 1;
          header.data_offset = reader.Offset();
        }
      }
      if (block == "MEASURCHANNELS") {
        // The rows already read have the columns of the first block.
        if (header.data_blocks > 0)
          throw Exception("Line " + std::to_string(reader.LineNumber()) +
                          ": a **MEASURCHANNELS block after the samples; a run file names its channels once, "
                          "before its **MEASURDATA blocks");
        seen_channels = true;
      }
      if (block == "END") break;
      continue;
    }
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '!') continue;
    if (block == "HEADER") {
      // Name in columns 1-10, value from column 51.
      const std::string_view value = line.size() > 50 ? Trim(line.substr(50)) : Trim(line.substr(std::min<size_t>(10, line.size())));
      if (header.title.size() < 200)
        header.title += (header.title.empty() ? "" : "; ") + std::string(FixedField(line, 0, 10)) + "=" + std::string(value);
    } else if (block == "CONSTANTS") {
      // Name 1-10, unit 41-50, value from 51: the rated load and the radius.
      const std::string name = AsciiUpper(FixedField(line, 0, 10));
      if ((name == "FNOMIN" || name == "RFREE") && line.size() > 50) {
        double value;
        const std::string_view unit = FixedField(line, 40, 10);
        const std::string_view number = Trim(line.substr(50));
        const std::string u = AsciiLower(unit);
        std::optional<double> factor;
        if (name == "FNOMIN") factor = UnitFactor(TQuantity::kForce, unit);
        else factor = u.empty() || u == "m" ? 1.0 : u == "mm" ? 1e-3 : u == "cm" ? 1e-2 : std::optional<double>();
        if (factor && ParseNumber(number, options.decimal_separator, value) == TNumber::kValue &&
            value * *factor > 0 && std::isfinite(value * *factor))
          (name == "FNOMIN" ? header.nominal_load : header.unloaded_radius) = value * *factor;
        else
          header.notes.push_back("constant " + name + " (line " + std::to_string(reader.LineNumber()) + ") " +
                                 Quoted(number) + " [" + std::string(unit) + "] cannot be read, so it is not offered");
      }
    } else if (block == "MEASURCHANNELS") {
      const size_t n = reader.LineNumber();
      if (line.size() <= 40)
        throw Exception("Line " + std::to_string(n) +
                        ": a **MEASURCHANNELS line needs the channel name in columns 1-10, a description "
                        "in 11-40 and the unit in 41-50; this one ends at column " +
                        std::to_string(line.size()));
      TRunColumn column;
      column.name = std::string(FixedField(line, 0, 10));
      column.unit = std::string(FixedField(line, 40, 10));
      column.line = n;
      column.column = 1;
      column.unit_line = n;
      if (column.name.empty())
        throw Exception("Line " + std::to_string(n) + ", column 1: the channel has no name in columns 1-10");
      const std::string_view factor = FixedField(line, 50, 10);
      if (!factor.empty()) {
        double value;
        if (ParseNumber(factor, options.decimal_separator, value) != TNumber::kValue)
          throw Exception("Line " + std::to_string(n) + ", column 51: the conversion factor " +
                          Quoted(factor) + " of channel " + column.name + " is not a number");
        column.factor = value;
      }
      for (size_t from : {size_t{60}, size_t{70}}) {
        const std::string_view offset = FixedField(line, from, 10);
        double value;
        if (!offset.empty() && ParseNumber(offset, options.decimal_separator, value) == TNumber::kValue &&
            value != 0)
          header.notes.push_back("channel " + column.name + " (line " + std::to_string(n) +
                                 ") declares an offset of " + std::string(offset) +
                                 ", which is not applied");
      }
      header.columns.push_back(std::move(column));
    }
  }
  if (header.columns.empty())
    throw Exception("The TYDEX file has no **MEASURCHANNELS block naming its channels");
  if (data_line == 0) throw Exception("The TYDEX file has no **MEASURDATA block: it holds no samples");
  if (block == "MEASURDATA")
    throw Exception("Line " + std::to_string(data_line) +
                    ": the **MEASURDATA block that starts here runs to the end of the file without "
                    "**END: the file is cut short");
  header.has_units = true;
  return header;
}

}  // namespace

TRunFormat DetectRunFormat(std::string_view text) {
  text = WithoutBom(text);
  TLineReader reader(text);
  std::string_view line;
  while (reader.Next(line)) {
    if (IsBlankLine(line)) continue;
    return BlockKeyword(line).empty() ? TRunFormat::kDelimited : TRunFormat::kTydex;
  }
  return TRunFormat::kDelimited;
}

TRunHeader ReadRunHeader(std::string_view text, const TRunReadOptions& options) {
  // A NUL ends the text, as in a C string: nothing after one can be a sample.
  text = WithoutBom(text.substr(0, text.find('\0')));
  TRunFormat format = options.format;
  if (format == TRunFormat::kAuto) format = DetectRunFormat(text);
  return format == TRunFormat::kTydex ? ReadTydexHeader(text, options) : ReadDelimitedHeader(text, options);
}

TRunTable ReadRunRows(std::string_view text, const TRunHeader& header, const std::vector<size_t>& columns,
                      const TRunReadOptions& options, size_t row_limit) {
  text = WithoutBom(text.substr(0, text.find('\0')));
  TRunTable table;
  table.columns = columns;
  table.values.resize(columns.size());
  // Where each field of a row goes: the index into `values`, or -1.
  size_t last_wanted = 0;
  std::vector<int> target(header.columns.size(), -1);
  for (size_t k = 0; k < columns.size(); ++k) {
    if (columns[k] >= header.columns.size())
      throw Exception("Column " + std::to_string(columns[k] + 1) + " is not a channel of the run file");
    if (target[columns[k]] < 0) target[columns[k]] = static_cast<int>(k);
    last_wanted = std::max(last_wanted, columns[k]);
  }
  const bool tydex = header.format == TRunFormat::kTydex;
  const size_t channel_count = header.columns.size();
  if (header.data_offset > text.size()) return table;

  // Size the lists once: at most one row per line, and every row takes at
  // least two bytes per channel read.
  const std::string_view rest = text.substr(header.data_offset);
  size_t lines = static_cast<size_t>(std::count(rest.begin(), rest.end(), '\n'));
  if (lines == 0) lines = static_cast<size_t>(std::count(rest.begin(), rest.end(), '\r'));
  size_t reserve = std::min(lines + 1, rest.size() / (2 * (last_wanted + 1)) + 1);
  if (row_limit) reserve = std::min(reserve, row_limit);
  for (auto& v : table.values) v.reserve(reserve);

  TLineReader reader(text, header.data_offset, header.first_data_line - 1);
  std::string_view line;
  const char dec = options.decimal_separator;
  const TRunDelimiter delimiter = header.delimiter;
  std::vector<double> row(columns.size(), kNaN);
  std::vector<double> factor(columns.size());
  for (size_t k = 0; k < columns.size(); ++k) factor[k] = header.columns[columns[k]].factor;
  bool in_data = true;  // TYDEX: inside a **MEASURDATA block
  while (reader.Next(line)) {
    if (tydex) {
      const std::string keyword = BlockKeyword(line);
      if (keyword == "END") break;
      if (!keyword.empty()) {
        in_data = keyword == "MEASURDATA";
        continue;
      }
      if (!in_data) continue;
      const std::string_view trimmed = Trim(line);
      if (!trimmed.empty() && trimmed[0] == '!') continue;
    }
    if (IsBlankLine(line)) continue;
    if (row_limit && table.rows == row_limit) {
      table.truncated = true;
      break;
    }
    const size_t n = reader.LineNumber();
    const size_t fields = ForEachField(line, delimiter, [&](size_t index, std::string_view field) {
      if (index < target.size() && target[index] >= 0) {
        double value;
        switch (ParseNumber(field, dec, value)) {
          case TNumber::kValue: break;
          case TNumber::kMissing: value = kNaN; break;
          case TNumber::kBad:
            throw Exception("Line " + std::to_string(n) + ", column " + std::to_string(index + 1) + " (" +
                            header.columns[index].name + "): " + Quoted(field) + " is not a number");
        }
        row[static_cast<size_t>(target[index])] = value * factor[static_cast<size_t>(target[index])];
      }
      // A delimited row's fields past the last one read are not even split.
      return tydex || index < last_wanted;
    });
    if (tydex ? fields != channel_count : fields <= last_wanted) {
      const size_t missing = tydex ? std::min(fields, channel_count - 1) : fields;
      if (tydex && fields > channel_count)
        throw Exception("Line " + std::to_string(n) + ": the row holds " + std::to_string(fields) +
                        " values for " + std::to_string(channel_count) + " channels");
      throw Exception("Line " + std::to_string(n) + ", column " + std::to_string(missing + 1) + " (" +
                      header.columns[missing].name + "): the row ends after " + std::to_string(fields) +
                      (fields == 1 ? " field" : " fields") + "; the file has " +
                      std::to_string(channel_count) + " channels" +
                      (tydex ? " (a row cut short?)" : ""));
    }
    for (size_t k = 0; k < row.size(); ++k) table.values[k].push_back(row[k]);
    ++table.rows;
  }
  return table;
}

}  // namespace morvex
