#include "files/SessionFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <map>

#include "files/SameFile.h"
#include "files/Sha256.h"
#include "numerics/ProfileFile.h"

namespace morvex {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "MORVEX SESSION ";
// A camber index or legend entry beyond this is no window's.
constexpr long long kMaxIndex = 1000000;

// ---------------------------------------------------------------- writing

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string Quoted(std::string_view text) {
  std::string out;
  AppendQuoted(out, text);
  return out;
}

// The shortest text that reads back to the same double.
std::string NumberText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string HashOrNone(const std::string& sha256) { return sha256.empty() ? std::string("-") : sha256; }

// A record that ends in a block's length, then the block and its closing LF.
void AppendBlock(std::string& out, const std::string& record, const std::string& text) {
  out += record + ' ' + std::to_string(text.size()) + '\n';
  out += text;
  out += '\n';
}

void AppendReasons(std::string& out, const char* keyword, const std::vector<TSessionReason>& reasons) {
  for (const TSessionReason& reason : reasons)
    out += std::string(keyword) + ' ' + Quoted(reason.code) + ' ' + Quoted(reason.text) + ' ' + Quoted(reason.advice) +
           '\n';
}

// The programme block (version 2).
void AppendStage(std::string& out, const TSessionStage& stage) {
  out += "stage " + Quoted(stage.name) + '\n';
  out += "points " + std::to_string(stage.points) + '\n';
  out += "fitted " + OnOff(stage.fitted) + ' ' + Quoted(stage.not_fitted_reason) + '\n';
  out += std::string("verdict ") + (stage.poor ? "poor" : "good") + '\n';
  out += "cancelled " + OnOff(stage.cancelled) + '\n';
  AppendReasons(out, "reason", stage.reasons);
  AppendReasons(out, "note", stage.notes);
  out += "rms " + NumberText(stage.rms) + '\n';
  out += "termination " + Quoted(stage.termination) + '\n';
  out += "iterations " + std::to_string(stage.iterations) + '\n';
  out += "cost " + NumberText(stage.start_cost) + ' ' + NumberText(stage.final_cost) + '\n';
  for (const TSessionStageCoefficient& c : stage.coefficients)
    out += "coefficient " + c.name + ' ' + NumberText(c.value) + ' ' + NumberText(c.standard_error) + ' ' +
           Quoted(c.note) + '\n';
  for (const double start : stage.start_values) out += "start-value " + NumberText(start) + '\n';
  for (const std::string& held : stage.held) out += "held " + Quoted(held) + '\n';
  out += "end-stage\n";
}

void AppendProgramme(std::string& out, const TSessionProgramme& p) {
  out += "programme\n";
  for (const TSessionRun& run : p.runs) out += "run " + Quoted(run.path) + ' ' + HashOrNone(run.sha256) + '\n';
  out += "typed-fz0 " + (p.fz0_typed ? NumberText(*p.fz0_typed) : std::string("none")) + '\n';
  out += "typed-r0 " + (p.r0_typed ? NumberText(*p.r0_typed) : std::string("none")) + '\n';
  const std::pair<const char*, const std::string*> data[] = {{"lateral", &p.lateral_text},
                                                             {"aligning", &p.aligning_text},
                                                             {"longitudinal", &p.longitudinal_text},
                                                             {"combined", &p.combined_text}};
  for (const auto& [kind, text] : data)
    if (!text->empty()) AppendBlock(out, std::string("data ") + kind, *text);
  for (const TSessionFeed& feed : p.feeds)
    out += "feed " + Quoted(feed.path) + ' ' + Quoted(feed.stage) + ' ' + Quoted(feed.set_points) + ' ' +
           std::to_string(feed.points) + ' ' + Quoted(feed.note) + '\n';
  for (const std::string& report : p.import_reports) AppendBlock(out, "import-report", report);
  out += "ranges";
  for (const double v : p.ranges) out += ' ' + NumberText(v);
  out += '\n';
  out += "pressure " + NumberText(p.pressure) + '\n';
  out += "longvl " + NumberText(p.longvl) + '\n';
  out += "fz0 " + NumberText(p.fz0) + ' ' + Quoted(p.fz0_source) + '\n';
  out += "r0 " + NumberText(p.r0) + ' ' + Quoted(p.r0_source) + '\n';
  for (const std::string& warning : p.warnings) out += "warning " + Quoted(warning) + '\n';
  if (p.fit) {
    const TSessionProgramme::Fit& fit = *p.fit;
    out += "fit\n";
    const auto table = Coefficients();
    for (size_t i = 0; i < table.size(); ++i)
      out += "coefficient " + std::string(table[i].name) + ' ' + Quoted(fit.texts[i]) + '\n';
    for (const auto& [name, value] : fit.combined) out += "combined " + name + ' ' + NumberText(value) + '\n';
    out += "use-mode " + std::to_string(fit.use_mode) + '\n';
    for (const std::string& reason : fit.mode_reasons) out += "mode-reason " + Quoted(reason) + '\n';
    out += "cancelled " + OnOff(fit.cancelled) + '\n';
    for (const TSessionStage& stage : fit.stages) AppendStage(out, stage);
    out += "end-fit\n";
  }
  out += "end-programme\n";
}

// ---------------------------------------------------------------- reading

struct TField {
  std::string value;
  bool quoted = false;
};

// The text, line by line, with blocks of a given length between the lines.
class TLineReader {
 public:
  TLineReader(std::string_view text, std::string where) : text_(text), where_(std::move(where)) {}

  [[noreturn]] void Fail(const std::string& reason) const { throw ESessionFormat(where_, line_, reason); }
  [[noreturn]] void FailAt(int line, const std::string& reason) const { throw ESessionFormat(where_, line, reason); }
  int line() const { return line_; }
  bool AtEnd() const { return pos_ >= text_.size(); }

  // The next line without its LF; false at the end of the text.
  bool Next(std::string_view& line) {
    if (AtEnd()) return false;
    ++line_;
    const size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) Fail("the last line has no line end: the session was cut off");
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (!line.empty() && line.back() == '\r')
      Fail("the line ends in CR LF: the session's line ends were changed on the way (sessions use LF only)");
    return true;
  }

  // `size` bytes that follow the current line, closed by one LF.
  std::string Block(uint64_t size) {
    if (size > text_.size() - pos_ || text_.size() - pos_ - size < 1)
      Fail("the block of " + std::to_string(size) + " bytes runs past the end of the session");
    if (text_[pos_ + size] != '\n') Fail("the block of " + std::to_string(size) + " bytes is not closed by a line end");
    std::string block(text_.substr(pos_, size));
    for (const char c : block)
      if (c == '\n') ++line_;
    pos_ += size + 1;
    // The closing LF ends the block's last line (or is a line of its own
    // after an empty block or one that ends in LF).
    ++line_;
    return block;
  }

 private:
  std::string_view text_;
  std::string where_;
  size_t pos_ = 0;
  int line_ = 0;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool BareByte(unsigned char c) { return c > 0x20 && c < 0x7f && c != '"' && c != '\\'; }

// Splits a record into its fields; the reason on failure.
std::vector<TField> SplitFields(std::string_view line, const TLineReader& reader) {
  std::vector<TField> fields;
  size_t i = 0;
  if (line.empty()) reader.Fail("an empty line (none is written)");
  while (true) {
    TField field;
    if (line[i] == '"') {
      field.quoted = true;
      ++i;
      while (true) {
        if (i >= line.size()) reader.Fail("a quoted text is not closed");
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
          ++i;
          break;
        }
        if (c < 0x20 || c == 0x7f) reader.Fail("a control character inside a quoted text (write it as \\xHH)");
        if (c != '\\') {
          field.value += line[i++];
          continue;
        }
        if (i + 1 >= line.size()) reader.Fail("a quoted text ends in a lone backslash");
        const char e = line[i + 1];
        i += 2;
        switch (e) {
          case '\\': field.value += '\\'; break;
          case '"': field.value += '"'; break;
          case 'n': field.value += '\n'; break;
          case 'r': field.value += '\r'; break;
          case 't': field.value += '\t'; break;
          case 'x': {
            const int hi = i < line.size() ? HexDigit(line[i]) : -1;
            const int lo = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
            if (hi < 0 || lo < 0) reader.Fail("\\x in a quoted text is not followed by two hexadecimal digits");
            field.value += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
          }
          default:
            reader.Fail(std::string("unknown escape \\") + (BareByte(static_cast<unsigned char>(e)) ? std::string(1, e) : "?") +
                        " in a quoted text");
        }
      }
    } else {
      const size_t start = i;
      while (i < line.size() && line[i] != ' ') {
        if (!BareByte(static_cast<unsigned char>(line[i])))
          reader.Fail("a character that needs quotes outside a quoted text");
        ++i;
      }
      if (i == start) reader.Fail("two spaces in a row, or a space at the start of the line");
      field.value = std::string(line.substr(start, i - start));
    }
    fields.push_back(std::move(field));
    if (i == line.size()) return fields;
    if (line[i] != ' ') reader.Fail("a quoted text is followed by more than a space");
    ++i;
    if (i == line.size()) reader.Fail("a space at the end of the line");
  }
}

// One record: its keyword, fields and line.
class TRecord {
 public:
  TRecord(std::vector<TField> fields, const TLineReader& reader)
      : fields_(std::move(fields)), reader_(reader), line_(reader.line()) {
    if (fields_[0].quoted) Fail("a record starts with its keyword, not with a quoted text");
  }

  const std::string& keyword() const { return fields_[0].value; }
  size_t size() const { return fields_.size(); }
  int line() const { return line_; }
  [[noreturn]] void Fail(const std::string& reason) const { reader_.FailAt(line_, reason); }

  void Expect(size_t count) const {
    if (fields_.size() != count + 1)
      Fail(keyword() + " takes " + std::to_string(count) + (count == 1 ? " field" : " fields") + ", not " +
           std::to_string(fields_.size() - 1));
  }
  const std::string& Text(size_t i) const {
    if (!fields_[i].quoted) Fail("field " + std::to_string(i) + " of " + keyword() + " must be a quoted text");
    return fields_[i].value;
  }
  const std::string& Word(size_t i) const {
    if (fields_[i].quoted) Fail("field " + std::to_string(i) + " of " + keyword() + " must not be quoted");
    return fields_[i].value;
  }
  double Number(size_t i) const {
    const std::string& w = Word(i);
    double value = 0;
    const auto result = std::from_chars(w.data(), w.data() + w.size(), value);
    if (result.ec != std::errc() || result.ptr != w.data() + w.size()) Fail("'" + w + "' is not a number");
    return value;
  }
  // A number that is finite, or NaN where `nan_allowed` ("none held").
  double Finite(size_t i, bool nan_allowed) const {
    const double value = Number(i);
    if (std::isinf(value) || (std::isnan(value) && !nan_allowed))
      Fail(keyword() + (nan_allowed ? " is a finite number or nan, not '" : " is a finite number, not '") + Word(i) +
           "'");
    return value;
  }
  long long Integer(size_t i, long long max) const {
    const std::string& w = Word(i);
    long long value = 0;
    const auto result = std::from_chars(w.data(), w.data() + w.size(), value);
    if (result.ec != std::errc() || result.ptr != w.data() + w.size() || value < 0 || value > max)
      Fail("'" + w + "' is not a whole number from 0 to " + std::to_string(max));
    return value;
  }
  bool OnOff(size_t i) const {
    const std::string& w = Word(i);
    if (w == "on") return true;
    if (w == "off") return false;
    Fail(keyword() + " is on or off, not '" + w + "'");
  }
  std::string Hash(size_t i, bool allow_none) const {
    const std::string& w = Word(i);
    if (allow_none && w == "-") return std::string();
    if (!IsSha256Hex(w)) Fail("'" + w + "' is no SHA-256 hash (64 lower-case hexadecimal digits" + (allow_none ? ", or -)" : ")"));
    return w;
  }
  TFitChannel Channel(size_t i) const {
    const std::optional<TFitChannel> channel = ParseSessionChannel(Word(i));
    if (!channel) Fail("unknown channel '" + Word(i) + "' (lateral, aligning or longitudinal)");
    return *channel;
  }
  int CoefficientIndex(size_t i) const {
    const int index = ExactCoefficientIndex(Word(i));
    if (index < 0) Fail("unknown coefficient '" + Word(i) + "'");
    return index;
  }

 private:
  std::vector<TField> fields_;
  const TLineReader& reader_;
  int line_;
};

// Records that appear once; the line of each one seen.
class TOnce {
 public:
  void See(const TRecord& record) {
    const auto [it, fresh] = lines_.emplace(record.keyword(), record.line());
    if (!fresh) record.Fail("a second " + record.keyword() + " record (the first is on line " +
                            std::to_string(it->second) + ")");
  }
  bool Seen(const std::string& keyword) const { return lines_.count(keyword) > 0; }

 private:
  std::map<std::string, int> lines_;
};

// Reads the 60 texts of a coefficient list: each name once, all present.
class TCoefficientList {
 public:
  explicit TCoefficientList(const char* what) : what_(what) {}
  // Returns the index set.
  int Add(const TRecord& record) {
    const int index = record.CoefficientIndex(1);
    if (seen_[static_cast<size_t>(index)] != 0)
      record.Fail("a second " + std::string(what_) + " record for " + record.Word(1) + " (the first is on line " +
                  std::to_string(seen_[static_cast<size_t>(index)]) + ")");
    seen_[static_cast<size_t>(index)] = record.line();
    ++count_;
    return index;
  }
  int count() const { return count_; }
  // Fails at `line` naming the first missing coefficient.
  void RequireAll(const TLineReader& reader, int line) const {
    if (count_ == kCoefficientCount) return;
    for (size_t i = 0; i < seen_.size(); ++i)
      if (seen_[i] == 0)
        reader.FailAt(line, "no " + std::string(what_) + " record for " + std::string(Coefficients()[i].name) + " (" +
                                std::to_string(kCoefficientCount - count_) + " of " +
                                std::to_string(kCoefficientCount) + " missing)");
  }

 private:
  const char* what_;
  std::array<int, kCoefficientCount> seen_{};
  int count_ = 0;
};

void ReadZoom(const TRecord& record, TSessionView& view);

TSessionReason ReadReason(const TRecord& record) {
  record.Expect(3);
  return {record.Text(1), record.Text(2), record.Text(3)};
}

// One "channel" block up to its end-channel.
TSessionChannel ReadChannelBlock(TLineReader& reader, const TRecord& opening) {
  TSessionChannel channel;
  TOnce once;
  TCoefficientList fitted("fitted");
  std::array<std::string, kCoefficientCount> fitted_texts;
  std::string_view line;
  while (reader.Next(line)) {
    if (!line.empty() && line[0] == '#') continue;
    TRecord record(SplitFields(line, reader), reader);
    const std::string& k = record.keyword();
    if (k == "end-channel") {
      record.Expect(0);
      for (const char* required : {"verdict", "rms", "report"})
        if (!once.Seen(required))
          record.Fail("the channel block opened on line " + std::to_string(opening.line()) + " has no " + required +
                      " record");
      if (fitted.count() > 0) {
        fitted.RequireAll(reader, record.line());
        channel.fitted = fitted_texts;
      }
      return channel;
    }
    if (k == "verdict") {
      once.See(record);
      record.Expect(1);
      const std::string& w = record.Word(1);
      if (w != "good" && w != "poor") record.Fail("verdict is good or poor, not '" + w + "'");
      channel.poor = w == "poor";
    } else if (k == "rms") {
      once.See(record);
      record.Expect(1);
      channel.rms = record.Number(1);
    } else if (k == "reason") {
      channel.reasons.push_back(ReadReason(record));
    } else if (k == "note") {
      channel.notes.push_back(ReadReason(record));
    } else if (k == "fitted") {
      record.Expect(2);
      const int index = fitted.Add(record);
      fitted_texts[static_cast<size_t>(index)] = record.Text(2);
    } else if (k == "report") {
      once.See(record);
      record.Expect(1);
      channel.report = reader.Block(static_cast<uint64_t>(record.Integer(1, static_cast<long long>(kMaxSessionFileBytes))));
    } else {
      record.Fail("'" + k + "' inside the channel block opened on line " + std::to_string(opening.line()) +
                  " (end-channel missing?)");
    }
  }
  reader.Fail("the channel block opened on line " + std::to_string(opening.line()) +
              " has no end-channel: the session was cut off");
}

// The records of a block up to its end record: `handle` takes each one and
// returns false for a keyword the block does not know.  Returns the end
// record's line.
template <class Handle>
int ReadBlock(TLineReader& reader, const TRecord& opening, const char* block, const char* end, Handle&& handle) {
  std::string_view line;
  while (reader.Next(line)) {
    if (!line.empty() && line[0] == '#') continue;
    TRecord record(SplitFields(line, reader), reader);
    if (record.keyword() == end) {
      record.Expect(0);
      return record.line();
    }
    if (!handle(record))
      record.Fail("'" + record.keyword() + "' inside the " + block + " block opened on line " +
                  std::to_string(opening.line()) + " (" + end + " missing?)");
  }
  reader.Fail("the " + std::string(block) + " block opened on line " + std::to_string(opening.line()) + " has no " +
              end + ": the session was cut off");
}

void RequireRecords(const TLineReader& reader, int end_line, const TOnce& once, const TRecord& opening,
                    const char* block, std::initializer_list<const char*> required) {
  for (const char* keyword : required)
    if (!once.Seen(keyword))
      reader.FailAt(end_line, "the " + std::string(block) + " block opened on line " + std::to_string(opening.line()) +
                                  " has no " + keyword + " record");
}

bool OneOf(const std::string& word, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (word == w) return true;
  return false;
}

// The names a programme's stages, feeds and terminations take.
constexpr std::initializer_list<const char*> kStageNames = {
    "lateral", "aligning", "longitudinal", "Fx combined", "Fy combined", "Mz combined", "Mx", "My"};
constexpr std::initializer_list<const char*> kFeedStages = {"lateral",  "aligning", "longitudinal",
                                                            "combined", "nothing"};
constexpr std::initializer_list<const char*> kTerminations = {"not run", "finished", "iteration limit", "cancelled",
                                                              "failed"};

std::string Listed(std::initializer_list<const char*> words) {
  std::string text;
  for (const char* w : words) text += (text.empty() ? "" : ", ") + std::string(w);
  return text;
}

TSessionStage ReadStageBlock(TLineReader& reader, const TRecord& opening) {
  TSessionStage stage;
  stage.name = opening.Text(1);
  TOnce once;
  std::map<std::string, int> coefficient_lines;
  const int end_line = ReadBlock(reader, opening, "stage", "end-stage", [&](const TRecord& record) {
    const std::string& k = record.keyword();
    if (k == "points") {
      once.See(record);
      record.Expect(1);
      stage.points = static_cast<uint64_t>(record.Integer(1, std::numeric_limits<long long>::max()));
    } else if (k == "fitted") {
      once.See(record);
      record.Expect(2);
      stage.fitted = record.OnOff(1);
      stage.not_fitted_reason = record.Text(2);
    } else if (k == "verdict") {
      once.See(record);
      record.Expect(1);
      const std::string& w = record.Word(1);
      if (w != "good" && w != "poor") record.Fail("verdict is good or poor, not '" + w + "'");
      stage.poor = w == "poor";
    } else if (k == "cancelled") {
      once.See(record);
      record.Expect(1);
      stage.cancelled = record.OnOff(1);
    } else if (k == "reason") {
      stage.reasons.push_back(ReadReason(record));
    } else if (k == "note") {
      stage.notes.push_back(ReadReason(record));
    } else if (k == "rms") {
      once.See(record);
      record.Expect(1);
      stage.rms = record.Number(1);
    } else if (k == "termination") {
      once.See(record);
      record.Expect(1);
      stage.termination = record.Text(1);
      if (!OneOf(stage.termination, kTerminations))
        record.Fail("unknown termination '" + stage.termination + "' (" + Listed(kTerminations) + ")");
    } else if (k == "iterations") {
      once.See(record);
      record.Expect(1);
      stage.iterations = static_cast<int>(record.Integer(1, std::numeric_limits<int>::max()));
    } else if (k == "cost") {
      once.See(record);
      record.Expect(2);
      stage.start_cost = record.Number(1);
      stage.final_cost = record.Number(2);
    } else if (k == "coefficient") {
      record.Expect(4);
      const std::string& name = record.Word(1);
      if (ExactCoefficientIndex(name) < 0 && FindCombinedCoefficient(name) == nullptr)
        record.Fail("unknown coefficient '" + name + "'");
      const auto [it, fresh] = coefficient_lines.emplace(name, record.line());
      if (!fresh)
        record.Fail("a second coefficient record for " + name + " (the first is on line " +
                    std::to_string(it->second) + ")");
      stage.coefficients.push_back({name, record.Number(2), record.Number(3), record.Text(4)});
    } else if (k == "start-value") {
      record.Expect(1);
      stage.start_values.push_back(record.Number(1));
    } else if (k == "held") {
      record.Expect(1);
      stage.held.push_back(record.Text(1));
    } else {
      return false;
    }
    return true;
  });
  RequireRecords(reader, end_line, once, opening, "stage",
                 {"points", "fitted", "verdict", "cancelled", "rms", "termination", "iterations", "cost"});
  return stage;
}

TSessionProgramme::Fit ReadFitBlock(TLineReader& reader, const TRecord& opening) {
  TSessionProgramme::Fit fit;
  TOnce once;
  TCoefficientList coefficients("coefficient");
  std::map<std::string, int> combined_lines, stage_lines;
  const int end_line = ReadBlock(reader, opening, "fit", "end-fit", [&](const TRecord& record) {
    const std::string& k = record.keyword();
    if (k == "coefficient") {
      record.Expect(2);
      fit.texts[static_cast<size_t>(coefficients.Add(record))] = record.Text(2);
    } else if (k == "combined") {
      record.Expect(2);
      const std::string& name = record.Word(1);
      if (FindCombinedCoefficient(name) == nullptr) record.Fail("unknown combined-slip coefficient '" + name + "'");
      const auto [it, fresh] = combined_lines.emplace(name, record.line());
      if (!fresh)
        record.Fail("a second combined record for " + name + " (the first is on line " + std::to_string(it->second) +
                    ")");
      fit.combined.emplace_back(name, record.Number(2));
    } else if (k == "use-mode") {
      once.See(record);
      record.Expect(1);
      fit.use_mode = static_cast<int>(record.Integer(1, 4));
    } else if (k == "mode-reason") {
      record.Expect(1);
      fit.mode_reasons.push_back(record.Text(1));
    } else if (k == "cancelled") {
      once.See(record);
      record.Expect(1);
      fit.cancelled = record.OnOff(1);
    } else if (k == "stage") {
      record.Expect(1);
      const std::string& name = record.Text(1);
      if (!OneOf(name, kStageNames)) record.Fail("unknown stage '" + name + "' (" + Listed(kStageNames) + ")");
      const auto [it, fresh] = stage_lines.emplace(name, record.line());
      if (!fresh)
        record.Fail("a second block for the stage " + name + " (the first is on line " + std::to_string(it->second) +
                    ")");
      fit.stages.push_back(ReadStageBlock(reader, record));
    } else {
      return false;
    }
    return true;
  });
  coefficients.RequireAll(reader, end_line);
  RequireRecords(reader, end_line, once, opening, "fit", {"use-mode", "cancelled"});
  return fit;
}

TSessionProgramme ReadProgrammeBlock(TLineReader& reader, const TRecord& opening) {
  opening.Expect(0);
  TSessionProgramme p;
  p.ranges.fill(std::numeric_limits<double>::quiet_NaN());
  TOnce once;
  const int end_line = ReadBlock(reader, opening, "programme", "end-programme", [&](const TRecord& record) {
    const std::string& k = record.keyword();
    if (k == "run") {
      record.Expect(2);
      p.runs.push_back({record.Text(1), record.Hash(2, true)});
    } else if (k == "typed-fz0" || k == "typed-r0") {
      once.See(record);
      record.Expect(1);
      std::optional<double>& typed = k == "typed-fz0" ? p.fz0_typed : p.r0_typed;
      if (record.Word(1) != "none") typed = record.Finite(1, false);
    } else if (k == "data") {
      record.Expect(2);
      const std::string& kind = record.Word(1);
      std::string* text = kind == "lateral"        ? &p.lateral_text
                          : kind == "aligning"     ? &p.aligning_text
                          : kind == "longitudinal" ? &p.longitudinal_text
                          : kind == "combined"     ? &p.combined_text
                                                   : nullptr;
      if (text == nullptr)
        record.Fail("unknown data '" + kind + "' (lateral, aligning, longitudinal or combined)");
      once.See(TRecord({{"data " + kind, false}}, reader));
      *text = reader.Block(static_cast<uint64_t>(record.Integer(2, static_cast<long long>(kMaxSessionFileBytes))));
      if (text->empty()) record.Fail("the " + kind + " data is empty (a programme without it has no data record)");
    } else if (k == "feed") {
      record.Expect(5);
      TSessionFeed feed{record.Text(1), record.Text(2), record.Text(3),
                        static_cast<uint64_t>(record.Integer(4, std::numeric_limits<long long>::max())),
                        record.Text(5)};
      if (!OneOf(feed.stage, kFeedStages))
        record.Fail("a run feeds " + Listed(kFeedStages) + ", not '" + feed.stage + "'");
      p.feeds.push_back(std::move(feed));
    } else if (k == "import-report") {
      record.Expect(1);
      p.import_reports.push_back(
          reader.Block(static_cast<uint64_t>(record.Integer(1, static_cast<long long>(kMaxSessionFileBytes)))));
    } else if (k == "ranges") {
      once.See(record);
      record.Expect(8);
      for (size_t i = 0; i < 8; ++i) p.ranges[i] = record.Finite(i + 1, true);
    } else if (k == "pressure" || k == "longvl") {
      once.See(record);
      record.Expect(1);
      (k == "pressure" ? p.pressure : p.longvl) = record.Finite(1, true);
    } else if (k == "fz0" || k == "r0") {
      once.See(record);
      record.Expect(2);
      (k == "fz0" ? p.fz0 : p.r0) = record.Finite(1, true);
      (k == "fz0" ? p.fz0_source : p.r0_source) = record.Text(2);
    } else if (k == "warning") {
      record.Expect(1);
      p.warnings.push_back(record.Text(1));
    } else if (k == "fit") {
      once.See(record);
      record.Expect(0);
      p.fit = ReadFitBlock(reader, record);
    } else {
      return false;
    }
    return true;
  });
  RequireRecords(reader, end_line, once, opening, "programme",
                 {"typed-fz0", "typed-r0", "ranges", "pressure", "longvl", "fz0", "r0"});
  return p;
}

// A session after its first line: version 1, or 2 with a tire's programme
// and two more chart switches.
TSessionRead ReadVersion(TLineReader& reader, int version) {
  TSessionRead read;
  read.version = version;
  TSessionState& state = read.state;
  TOnce once;
  TCoefficientList coefficients("coefficient");
  TSessionData data;
  std::string data_hash;
  std::array<int, 3> channel_lines{};
  std::string_view line;
  bool ended = false;
  int end_line = 0;
  while (reader.Next(line)) {
    if (ended) reader.Fail("text after the end line");
    if (!line.empty() && line[0] == '#') continue;
    TRecord record(SplitFields(line, reader), reader);
    const std::string& k = record.keyword();
    if (k == "end") {
      record.Expect(0);
      ended = true;
      end_line = record.line();
    } else if (k == "coefficient") {
      record.Expect(3);
      const int index = coefficients.Add(record);
      const std::string& flag = record.Word(2);
      if (flag != "free" && flag != "fixed") record.Fail("the flag of a coefficient is free or fixed, not '" + flag + "'");
      const bool free = flag == "free";
      if (free && !Coefficients()[static_cast<size_t>(index)].HasFreeFlag())
        record.Fail(record.Word(1) + " has no free flag and cannot be free");
      state.texts[static_cast<size_t>(index)] = record.Text(3);
      state.free[static_cast<size_t>(index)] = free;
    } else if (k == "data-channel") {
      once.See(record);
      record.Expect(1);
      if (record.Word(1) != "none") data.channel = record.Channel(1);
    } else if (k == "data-label") {
      once.See(record);
      record.Expect(1);
      data.label = record.Text(1);
    } else if (k == "data-source") {
      once.See(record);
      record.Expect(2);
      data.source_path = record.Text(1);
      data.source_sha256 = record.Hash(2, true);
    } else if (k == "data-text") {
      once.See(record);
      record.Expect(2);
      data_hash = record.Hash(1, false);
      data.text = reader.Block(static_cast<uint64_t>(record.Integer(2, static_cast<long long>(kMaxSessionFileBytes))));
    } else if (k == "fit-optimizer") {
      once.See(record);
      record.Expect(1);
      const std::optional<TSessionOptimizer> optimizer = ParseSessionOptimizer(record.Word(1));
      if (!optimizer) record.Fail("unknown optimizer '" + record.Word(1) + "' (lm, de, tr or de+tr)");
      state.fit.optimizer = *optimizer;
    } else if (k == "fit-start") {
      once.See(record);
      record.Expect(1);
      const std::string& w = record.Word(1);
      if (w != "files" && w != "estimate") record.Fail("fit-start is files or estimate, not '" + w + "'");
      state.fit.estimate_start = w == "estimate";
    } else if (k == "fit-settings") {
      once.See(record);
      record.Expect(1);
      state.fit.settings_path = record.Text(1);
    } else if (k.rfind("import-", 0) == 0) {
      TSessionImport& im = state.import;
      std::string* target = k == "import-format"         ? &im.format
                            : k == "import-delimiter"    ? &im.delimiter
                            : k == "import-convention"   ? &im.convention
                            : k == "import-filters"      ? &im.filters
                            : k == "import-mapping"      ? &im.mapping
                            : k == "import-inclinations" ? &im.inclinations
                            : k == "import-loads"        ? &im.loads
                                                         : nullptr;
      if (target == nullptr) record.Fail("unknown record '" + k + "'");
      once.See(record);
      record.Expect(1);
      *target = record.Text(1);
    } else if (k == "run") {
      record.Expect(2);
      state.import.runs.push_back({record.Text(1), record.Hash(2, true)});
    } else if (k == "channel") {
      record.Expect(1);
      const TFitChannel channel = record.Channel(1);
      int& first = channel_lines[static_cast<size_t>(channel)];
      if (first != 0)
        record.Fail("a second block for the " + record.Word(1) + " channel (the first is on line " +
                    std::to_string(first) + ")");
      first = record.line();
      state.Channel(channel) = ReadChannelBlock(reader, record);
    } else if (k == "view-page") {
      once.See(record);
      record.Expect(1);
      state.view.page = record.Channel(1);
    } else if (k == "view-camber") {
      once.See(record);
      record.Expect(1);
      state.view.camber_index = static_cast<int>(record.Integer(1, kMaxIndex));
    } else if (k == "view-zoom") {
      once.See(record);
      ReadZoom(record, state.view);
    } else if (k == "view-residuals" || k == "view-model" || k == "view-data") {
      once.See(record);
      record.Expect(1);
      (k == "view-residuals" ? state.view.residuals : k == "view-model" ? state.view.model_shown : state.view.data_shown) =
          record.OnOff(1);
    } else if (version >= 2 && (k == "view-paired-colours" || k == "view-all-cambers")) {
      once.See(record);
      record.Expect(1);
      (k == "view-paired-colours" ? state.view.paired_colours : state.view.all_cambers) = record.OnOff(1);
    } else if (version >= 2 && k == "programme") {
      once.See(record);
      state.programme = ReadProgrammeBlock(reader, record);
    } else if (version < 2 && (k == "programme" || k == "view-paired-colours" || k == "view-all-cambers")) {
      record.Fail("'" + k + "' is a record of session version 2, not of version " + std::to_string(version));
    } else if (k == "view-hidden") {
      record.Expect(1);
      const int index = static_cast<int>(record.Integer(1, kMaxIndex));
      for (const int other : state.view.hidden_curves)
        if (other == index) record.Fail("curve " + std::to_string(index) + " is hidden twice");
      state.view.hidden_curves.push_back(index);
    } else {
      record.Fail("unknown record '" + k + "'");
    }
  }
  if (!ended) reader.Fail("the session has no end line: it was cut off");

  coefficients.RequireAll(reader, end_line);
  for (const char* required : {"fit-optimizer", "fit-start", "fit-settings", "import-format", "import-delimiter",
                               "import-convention", "import-filters", "import-mapping", "import-inclinations",
                               "import-loads", "view-page", "view-camber", "view-zoom", "view-residuals",
                               "view-model", "view-data"})
    if (!once.Seen(required)) reader.FailAt(end_line, std::string("the session has no ") + required + " record");
  if (version >= 2)
    for (const char* required : {"view-paired-colours", "view-all-cambers"})
      if (!once.Seen(required)) reader.FailAt(end_line, std::string("the session has no ") + required + " record");
  const int data_records = once.Seen("data-channel") + once.Seen("data-label") + once.Seen("data-source") +
                           once.Seen("data-text");
  if (data_records != 0 && data_records != 4)
    reader.FailAt(end_line, "the data is incomplete: data-channel, data-label, data-source and data-text come together");
  if (data_records == 4) {
    read.data_hash_matches = Sha256Hex(data.text) == data_hash;
    state.data = std::move(data);
  }
  read.paths = SessionPaths(state);
  return read;
}

// view-zoom: "none" or four numbers, each range increasing.
void ReadZoom(const TRecord& record, TSessionView& view) {
  if (record.size() == 2 && record.Word(1) == "none") {
    record.Expect(1);
    view.zoom.reset();
    return;
  }
  record.Expect(4);
  std::array<double, 4> zoom{};
  for (size_t i = 0; i < 4; ++i) {
    zoom[i] = record.Number(i + 1);
    if (!std::isfinite(zoom[i])) record.Fail("a zoom limit is not a finite number");
  }
  if (!(zoom[0] < zoom[1]) || !(zoom[2] < zoom[3])) record.Fail("a zoom range is empty or reversed");
  view.zoom = zoom;
}

// The whole content of a regular file, refused beyond `max_bytes`; opened
// without blocking so that a pipe put where a file was is never waited on.
enum class TReadStatus { kOk, kMissing, kNotRegular, kTooLarge, kUnreadable };
TReadStatus ReadRegularFile(const std::string& path, uint64_t max_bytes, std::string& bytes) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT || errno == ENOTDIR ? TReadStatus::kMissing
                                                                                 : TReadStatus::kUnreadable;
  if (!S_ISREG(info.st_mode)) return TReadStatus::kNotRegular;
  if (static_cast<uint64_t>(info.st_size) > max_bytes) return TReadStatus::kTooLarge;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TReadStatus::kUnreadable;
  struct stat opened {};
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    return TReadStatus::kNotRegular;
  }
  bytes.clear();
  char buffer[65536];
  while (true) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return TReadStatus::kUnreadable;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > max_bytes) {  // grew since stat
      close(fd);
      return TReadStatus::kTooLarge;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return TReadStatus::kOk;
}

}  // namespace

ESessionFormat::ESessionFormat(const std::string& where, int line, const std::string& reason)
    : Exception(line > 0 ? where + ", line " + std::to_string(line) + ": " + reason : where + ": " + reason),
      line_(line),
      reason_(reason) {}

TSessionState::TSessionState() {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    texts[i] = std::string(table[i].default_text);
    free[i] = table[i].HasFreeFlag();
  }
}

void TSessionState::TakeCoefficients(const TCoefficientSet& set) {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    texts[i] = set.Text(table[i].name);
    free[i] = table[i].HasFreeFlag() && set.Free(table[i].name);
  }
}

void TSessionState::GiveCoefficients(TCoefficientSet& set) const {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    set.SetText(table[i].name, texts[i]);
    if (table[i].HasFreeFlag()) set.SetFree(table[i].name, free[i]);
  }
}

const char* SessionChannelName(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kAligning: return "aligning";
    case TFitChannel::kLongitudinal: return "longitudinal";
    default: return "lateral";
  }
}

std::optional<TFitChannel> ParseSessionChannel(std::string_view text) {
  if (text == "lateral") return TFitChannel::kLateral;
  if (text == "aligning") return TFitChannel::kAligning;
  if (text == "longitudinal") return TFitChannel::kLongitudinal;
  return std::nullopt;
}

const char* SessionOptimizerName(TSessionOptimizer optimizer) {
  switch (optimizer) {
    case TSessionOptimizer::kDifferentialEvolution: return "de";
    case TSessionOptimizer::kTrustRegion: return "tr";
    case TSessionOptimizer::kSearchThenTrustRegion: return "de+tr";
    default: return "lm";
  }
}

std::optional<TSessionOptimizer> ParseSessionOptimizer(std::string_view text) {
  if (text == "lm") return TSessionOptimizer::kLevenbergMarquardt;
  if (text == "de") return TSessionOptimizer::kDifferentialEvolution;
  if (text == "tr") return TSessionOptimizer::kTrustRegion;
  if (text == "de+tr") return TSessionOptimizer::kSearchThenTrustRegion;
  return std::nullopt;
}

std::string FormatSession(const TSessionState& state) {
  std::string out = std::string(kMagic) + std::to_string(kSessionVersion) + '\n';
  out += "# A Morvex session: the working state of the fitting window (see the help, Files).\n";
  if (state.data) {
    const TSessionData& data = *state.data;
    out += std::string("data-channel ") + (data.channel ? SessionChannelName(*data.channel) : "none") + '\n';
    out += "data-label " + Quoted(data.label) + '\n';
    out += "data-source " + Quoted(data.source_path) + ' ' +
           (data.source_sha256.empty() ? std::string("-") : data.source_sha256) + '\n';
    out += "data-text " + Sha256Hex(data.text) + ' ' + std::to_string(data.text.size()) + '\n';
    out += data.text;
    out += '\n';
  }
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i)
    out += "coefficient " + std::string(table[i].name) + (state.free[i] && table[i].HasFreeFlag() ? " free " : " fixed ") +
           Quoted(state.texts[i]) + '\n';
  out += std::string("fit-optimizer ") + SessionOptimizerName(state.fit.optimizer) + '\n';
  out += std::string("fit-start ") + (state.fit.estimate_start ? "estimate" : "files") + '\n';
  out += "fit-settings " + Quoted(state.fit.settings_path) + '\n';
  const TSessionImport& im = state.import;
  out += "import-format " + Quoted(im.format) + '\n';
  out += "import-delimiter " + Quoted(im.delimiter) + '\n';
  out += "import-convention " + Quoted(im.convention) + '\n';
  out += "import-filters " + Quoted(im.filters) + '\n';
  out += "import-mapping " + Quoted(im.mapping) + '\n';
  out += "import-inclinations " + Quoted(im.inclinations) + '\n';
  out += "import-loads " + Quoted(im.loads) + '\n';
  for (const TSessionRun& run : im.runs)
    out += "run " + Quoted(run.path) + ' ' + HashOrNone(run.sha256) + '\n';
  for (size_t c = 0; c < state.channels.size(); ++c) {
    if (!state.channels[c]) continue;
    const TSessionChannel& channel = *state.channels[c];
    out += std::string("channel ") + SessionChannelName(static_cast<TFitChannel>(c)) + '\n';
    out += std::string("verdict ") + (channel.poor ? "poor" : "good") + '\n';
    out += "rms " + NumberText(channel.rms) + '\n';
    AppendReasons(out, "reason", channel.reasons);
    AppendReasons(out, "note", channel.notes);
    if (channel.fitted)
      for (size_t i = 0; i < table.size(); ++i)
        out += "fitted " + std::string(table[i].name) + ' ' + Quoted((*channel.fitted)[i]) + '\n';
    out += "report " + std::to_string(channel.report.size()) + '\n';
    out += channel.report;
    out += "\nend-channel\n";
  }
  if (state.programme) AppendProgramme(out, *state.programme);
  const TSessionView& view = state.view;
  out += std::string("view-page ") + SessionChannelName(view.page) + '\n';
  out += "view-camber " + std::to_string(view.camber_index) + '\n';
  if (view.zoom)
    out += "view-zoom " + NumberText((*view.zoom)[0]) + ' ' + NumberText((*view.zoom)[1]) + ' ' +
           NumberText((*view.zoom)[2]) + ' ' + NumberText((*view.zoom)[3]) + '\n';
  else
    out += "view-zoom none\n";
  out += "view-residuals " + OnOff(view.residuals) + '\n';
  out += "view-model " + OnOff(view.model_shown) + '\n';
  out += "view-data " + OnOff(view.data_shown) + '\n';
  out += "view-paired-colours " + OnOff(view.paired_colours) + '\n';
  out += "view-all-cambers " + OnOff(view.all_cambers) + '\n';
  for (const int curve : view.hidden_curves) out += "view-hidden " + std::to_string(curve) + '\n';
  out += "end\n";
  return out;
}

TSessionRead ParseSession(std::string_view text, const std::string& where) {
  if (text.size() > kMaxSessionFileBytes)
    throw ESessionFormat(where, 0, "larger than " + std::to_string(kMaxSessionFileBytes >> 20) + " MB");
  TLineReader reader(text, where);
  std::string_view first;
  if (text.empty() || text.substr(0, kMagic.size()) != kMagic)
    throw ESessionFormat(where, 1, "this is no Morvex session (the first line is not \"MORVEX SESSION <version>\")");
  reader.Next(first);
  const std::string_view number = first.substr(kMagic.size());
  int version = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), version);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size() || version < 1 || number[0] == '0')
    reader.Fail("'" + std::string(number.substr(0, 20)) + "' is no session version");
  if (version > kSessionVersion)
    reader.Fail("written as session version " + std::to_string(version) +
                " by a newer Morvex; this one reads versions up to " + std::to_string(kSessionVersion));
  // Version 2 adds records to version 1; the reader refuses them in a
  // version 1 session.
  return ReadVersion(reader, version);
}

TSessionRead ReadSessionFile(const std::string& path, uint64_t max_bytes) {
  std::string bytes;
  switch (ReadRegularFile(path, std::min(max_bytes, kMaxSessionFileBytes), bytes)) {
    case TReadStatus::kOk: break;
    case TReadStatus::kNotRegular: throw ESessionFormat(path, 0, "not a regular file");
    case TReadStatus::kTooLarge:
      throw ESessionFormat(path, 0, "larger than " + std::to_string(std::min(max_bytes, kMaxSessionFileBytes)) +
                                        " bytes, the most a session may hold");
    default: throw EFOpenError(path);
  }
  return ParseSession(bytes, path);
}

std::vector<TSessionPath> SessionPaths(const TSessionState& state) {
  std::vector<TSessionPath> paths;
  if (state.data && !state.data->source_path.empty()) paths.push_back({"data source", state.data->source_path});
  for (const TSessionRun& run : state.import.runs) paths.push_back({"run", run.path});
  if (state.programme)
    for (const TSessionRun& run : state.programme->runs) paths.push_back({"programme run", run.path});
  if (!state.fit.settings_path.empty()) paths.push_back({"fit settings", state.fit.settings_path});
  return paths;
}

void CheckSessionTarget(const std::string& path, const TSessionState& state, const std::vector<std::string>& inputs) {
  std::vector<std::string> refused = inputs;
  for (const TSessionPath& named : SessionPaths(state)) refused.push_back(named.path);
  for (const std::string& input : refused)
    if (SameFile(path, input))
      throw Exception("The session " + path + " would overwrite the input " + input +
                      ": an input is never overwritten; choose another session file");
  std::error_code ec;
  if (fs::exists(path, ec)) {
    // Only a session is replaced by a session.
    std::string head;
    const TReadStatus status = ReadRegularFile(path, kMaxSessionFileBytes, head);
    if (status != TReadStatus::kOk || head.compare(0, kMagic.size(), kMagic) != 0)
      throw Exception("The file " + path +
                      " exists and is no Morvex session: a session is never written over another file");
  }
}

void WriteSessionFile(const std::string& path, const TSessionState& state, const std::vector<std::string>& inputs) {
  CheckSessionTarget(path, state, inputs);
  if (!ReplaceFileContent(path, FormatSession(state))) throw EWriteError(path);
}

TSourceState CheckSourceFile(const std::string& path, const std::string& saved_sha256) {
  if (path.empty() || saved_sha256.empty()) return TSourceState::kNotChecked;
  std::string bytes;
  switch (ReadRegularFile(path, kMaxSessionFileBytes, bytes)) {
    case TReadStatus::kOk: return Sha256Hex(bytes) == saved_sha256 ? TSourceState::kUnchanged : TSourceState::kChanged;
    case TReadStatus::kMissing: return TSourceState::kMissing;
    default: return TSourceState::kUnreadable;
  }
}

TSourceState CheckDataSource(const TSessionState& state) {
  if (!state.data) return TSourceState::kNotChecked;
  return CheckSourceFile(state.data->source_path, state.data->source_sha256);
}

const char* SourceStateName(TSourceState state) {
  switch (state) {
    case TSourceState::kUnchanged: return "unchanged";
    case TSourceState::kChanged: return "changed since the session was saved";
    case TSourceState::kMissing: return "missing";
    case TSourceState::kUnreadable: return "not readable as a file";
    default: return "not checked";
  }
}

}  // namespace morvex
