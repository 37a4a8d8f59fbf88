#include "tiredata/TireDataFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {

namespace detail {
std::function<void()> g_tire_data_read_hook;
}  // namespace detail

namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Characters that end an unquoted field: ';' and codes 0 to 32.
bool EndsField(char c) { return c == ';' || static_cast<unsigned char>(c) <= 32; }

bool HasKeyword(std::string_view line) { return line.find(kLoadCaseKeyword) != std::string_view::npos; }

// Longest offending text quoted whole in a conversion message.
constexpr size_t kMaxQuotedText = 200;

// Where a read is: the file (empty when the text came from elsewhere) and
// the current line and block.  The location is only put into words when an
// error is raised.
struct TWhere {
  std::string_view source;
  size_t line = 0;   // 1-based, as an editor shows it
  size_t block = 0;  // 1-based
};

std::string LoadText(double load) { return FloatToStr(load); }

// "(file <source>, line <n>, field <k>: <what>)"; the field is left out
// for k = 0, the file when there is none.
std::string Location(const TWhere& where, size_t field, const std::string& what) {
  std::string text = "(";
  if (!where.source.empty()) text += "file " + std::string(where.source) + ", ";
  text += "line " + std::to_string(where.line);
  if (field > 0) text += ", field " + std::to_string(field);
  return text + ": " + what + ")";
}

// What field `index` (0-based) of a data row holds.
std::string RowFieldRole(const TLoadCase& load_case, size_t index) {
  if (index == 0) return "the slip";
  return "the value at load " + LoadText(load_case.Loads[index - 1]);
}

// Converts `text`; `role` says, only when it fails, what the text was to
// be, and `field` is its 1-based place on the line (0: the whole line).
template <class Role>
double ToFloat(std::string_view text, const TWhere& where, size_t field, Role&& role) {
  double value;
  if (TryStrToFloat(text, value)) return value;
  const std::string quoted =
      text.size() <= kMaxQuotedText ? std::string(text) : std::string(text.substr(0, kMaxQuotedText)) + "...";
  throw EConvertError(EConvertError::NotAFloat(quoted).Message() + " " + Location(where, field, role()));
}

// Calls visit(field) for each field of `line`, split as SplitFields says,
// until visit returns false.  A field is a view into the line, or into
// `scratch` for a quoted text with doubled quotes; it is valid only during
// its call.
template <class Visit>
void ForEachField(std::string_view line, std::string& scratch, Visit&& visit) {
  // The text ends at a NUL character, as in a C string; going on past it
  // would read an endless series of empty fields.
  line = line.substr(0, line.find('\0'));
  size_t p = 0;
  const size_t n = line.size();
  while (p < n && IsBlank(line[p])) ++p;
  while (p < n) {
    std::string_view field;
    if (line[p] == '"') {
      ++p;
      size_t piece = p;  // start of the text not yet copied to scratch
      bool doubled = false;
      while (p < n) {
        if (line[p] != '"') {
          ++p;
        } else if (p + 1 < n && line[p + 1] == '"') {
          if (!doubled) scratch.clear();
          scratch.append(line.substr(piece, p + 1 - piece));  // up to and with one quote
          doubled = true;
          p += 2;
          piece = p;
        } else {
          break;
        }
      }
      const size_t end = p;
      if (p < n) ++p;  // closing quote
      if (doubled) {
        scratch.append(line.substr(piece, end - piece));
        field = scratch;
      } else {
        field = line.substr(piece, end - piece);
      }
    } else {
      const size_t start = p;
      while (p < n && !EndsField(line[p])) ++p;
      field = line.substr(start, p - start);
    }
    while (p < n && IsBlank(line[p])) ++p;
    bool empty_last = false;
    if (p < n && line[p] == ';') {
      empty_last = p + 1 == n;  // "...;" ends with an empty field
      ++p;
      while (p < n && IsBlank(line[p])) ++p;
    }
    if (!visit(field)) return;
    if (empty_last && !visit(std::string_view())) return;
  }
}

// A place in a sequence of lines: the index of the next line and the byte
// offset at which it starts (counting one byte per line break for a list).
struct TLinePos {
  size_t line = 0;
  size_t offset = 0;
};

// The lines of a whole file text, as views into it: the lines SplitLines
// gives, without copying them.
class TTextLines {
 public:
  explicit TTextLines(std::string_view text) : text_(text) {}

  // The line at `pos`; moves `pos` to the next one.  False at the end.
  bool Next(TLinePos& pos, std::string_view& line) const {
    const size_t n = text_.size();
    size_t p = pos.offset;
    if (p >= n) return false;
    const size_t start = p;
    while (p < n && text_[p] != '\r' && text_[p] != '\n') ++p;
    line = text_.substr(start, p - start);
    if (p < n && text_[p] == '\r') ++p;
    if (p < n && text_[p] == '\n') ++p;
    pos.offset = p;
    ++pos.line;
    return true;
  }
  size_t TotalBytes() const { return text_.size(); }

 private:
  std::string_view text_;
};

// The same over lines already split.
class TListLines {
 public:
  explicit TListLines(const std::vector<std::string>& lines) : lines_(lines) {
    for (const std::string& line : lines_) total_ += line.size() + 1;
  }

  bool Next(TLinePos& pos, std::string_view& line) const {
    if (pos.line >= lines_.size()) return false;
    line = lines_[pos.line];
    pos.offset += line.size() + 1;
    ++pos.line;
    return true;
  }
  size_t TotalBytes() const { return total_; }

 private:
  const std::vector<std::string>& lines_;
  size_t total_ = 0;
};

// A block that loads holds at least its keyword line and its camber line
// ("LOAD_CASE" and one digit, each with its line break) without sharing
// them with the next block.  So a text of n bytes holds at most n / 12 + 1
// cases, however many keyword lines it has.
constexpr size_t kMinCaseBytes = 12;

// Converts the fields of a loads line.
void ReadLoads(std::string_view line, std::string& scratch, std::vector<double>& loads, const TWhere& where) {
  size_t count = 0;
  ForEachField(line, scratch, [&](std::string_view) { return ++count, true; });
  loads.reserve(count);
  ForEachField(line, scratch, [&](std::string_view field) {
    const size_t k = loads.size() + 1;
    loads.push_back(ToFloat(field, where, k, [&] {
      return "load " + std::to_string(k) + " of the loads line of block " + std::to_string(where.block);
    }));
    return true;
  });
}

// "a slip and 4 values"
std::string RowShape(size_t loads) {
  return "a slip and " + std::to_string(loads) + (loads == 1 ? " value" : " values");
}

// Converts one data row of `load_case`: the slip, then one value per load.
// A missing field and a field beyond the last load are errors.
void ReadRow(std::string_view line, std::string& scratch, TLoadCase& load_case, const TWhere& where) {
  const size_t loads = load_case.Loads.size();
  size_t index = 0;
  bool extra = false;
  ForEachField(line, scratch, [&](std::string_view field) {
    if (index > loads) {
      extra = true;
      return false;
    }
    const double value = ToFloat(field, where, index + 1, [&] { return RowFieldRole(load_case, index); });
    if (index == 0)
      load_case.Slips.push_back(value);
    else
      load_case.Values.push_back(value);
    ++index;
    return true;
  });
  if (extra) {
    size_t fields = 0;
    ForEachField(line, scratch, [&](std::string_view) { return ++fields, true; });
    throw Exception("Too many fields on a data row " +
                    Location(where, loads + 2,
                             "the row has " + std::to_string(fields) + " fields, the loads line of block " +
                                 std::to_string(where.block) + " asks for " + std::to_string(loads + 1) + ", " +
                                 RowShape(loads)));
  }
  if (index <= loads) {
    const std::string what =
        index == 0 ? "the line is blank, where a row of " + std::to_string(loads + 1) + " fields is due"
                   : RowFieldRole(load_case, index) + " is missing: the row has " + std::to_string(index) +
                         " of the " + std::to_string(loads + 1) + " fields the loads line asks for, " +
                         RowShape(loads);
    throw EListError(static_cast<long long>(index), Location(where, index + 1, what));
  }
}

template <class Lines>
TTireDataSet ParseLines(const Lines& lines, std::string_view source) {
  TTireDataSet data;
  std::string_view line;

  // Count the blocks first, so that the case list is sized once.
  size_t blocks = 0;
  TLinePos first_block;
  for (TLinePos pos;;) {
    const TLinePos here = pos;
    if (!lines.Next(pos, line)) break;
    if (!HasKeyword(line)) continue;
    if (blocks++ == 0) first_block = here;
  }
  if (blocks == 0) return data;
  data.Cases.reserve(std::min(blocks, lines.TotalBytes() / kMinCaseBytes + 1));

  std::string scratch;
  TLinePos block = first_block;
  TWhere where;
  where.source = source;
  // A last block cut short: the missing line's index, and in words.
  const auto cut_short = [&](const TLinePos& pos, const char* what) {
    where.line = pos.line + 1;
    return EListError(static_cast<long long>(pos.line),
                      Location(where, 0,
                               std::string("the file ends where the ") + what + " line of block " +
                                   std::to_string(where.block) + " is due"));
  };
  for (;;) {
    TLinePos pos = block;
    lines.Next(pos, line);  // the keyword line
    ++where.block;
    TLoadCase load_case;
    // The camber and loads lines are read wherever they are: a "LOAD_CASE"
    // line in their place fails as a number (or, hidden behind a NUL in a
    // loads line, ends the block there), a missing line at the end of the
    // file as a list index.
    std::optional<TLinePos> next_block;
    TLinePos here = pos;
    if (!lines.Next(pos, line)) throw cut_short(pos, "camber");
    if (HasKeyword(line)) next_block = here;
    where.line = pos.line;
    load_case.Camber =
        ToFloat(line, where, 0, [&] { return "the camber line of block " + std::to_string(where.block); });

    here = pos;
    if (!lines.Next(pos, line)) throw cut_short(pos, "loads");
    if (!next_block && HasKeyword(line)) next_block = here;
    where.line = pos.line;
    ReadLoads(line, scratch, load_case.Loads, where);

    if (!next_block) {
      // Look ahead to the next block to size the lists once.  Every row
      // that converts takes at least 2 bytes per field, so the reservation
      // is capped by the rows' bytes: a few short rows under a huge loads
      // line fail without a huge allocation first.
      const TLinePos first_row = pos;
      size_t rows = 0;
      for (TLinePos scan = pos;;) {
        here = scan;
        if (!lines.Next(scan, line)) break;
        if (HasKeyword(line)) {
          next_block = here;
          break;
        }
        ++rows;
      }
      const size_t row_bytes = (next_block ? next_block->offset : lines.TotalBytes()) - first_row.offset;
      const size_t cap = row_bytes / 2 + 1;
      const size_t loads = load_case.Loads.size();
      load_case.Slips.reserve(std::min(rows, cap));
      load_case.Values.reserve(loads == 0 ? 0 : std::min(rows, cap / loads + 1) * loads);
      for (size_t r = 0; r < rows; ++r) {
        lines.Next(pos, line);
        where.line = pos.line;
        ReadRow(line, scratch, load_case, where);
      }
    }
    data.Cases.push_back(std::move(load_case));
    if (!next_block) break;
    block = *next_block;
  }
  return data;
}

// Closes a file descriptor on every way out.
class TFileHandle {
 public:
  explicit TFileHandle(int fd) : fd_(fd) {}
  ~TFileHandle() {
    if (fd_ >= 0) close(fd_);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

Exception TooLarge(const std::string& path, uint64_t max_bytes) {
  const std::string limit = max_bytes % (uint64_t{1} << 20) == 0
                                ? std::to_string(max_bytes >> 20) + " MB"
                                : std::to_string(max_bytes) + " bytes";
  return Exception("The file " + path + " is too large to load as tire data (more than " + limit + ")");
}

Exception Changed(const std::string& path) {
  return Exception("The file " + path + " changed while it was being read; load it again when nothing is writing to it");
}

// read() that retries when a signal interrupts it; -1 on an error.
ssize_t ReadSome(int fd, char* buffer, size_t size) {
  for (;;) {
    const ssize_t n = read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool SameTime(const struct stat& a, const struct stat& b) {
  return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The whole content of the file at `path`, read through one open file.
std::string ReadWholeFile(const std::string& path, uint64_t max_bytes) {
  const TFileHandle file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd() < 0) throw EFOpenError(path);
  struct stat before {};
  if (fstat(file.fd(), &before) != 0 || S_ISDIR(before.st_mode)) throw EFOpenError(path);
  const bool regular = S_ISREG(before.st_mode);
  std::string text;
  if (detail::g_tire_data_read_hook) detail::g_tire_data_read_hook();

  if (regular && before.st_size > 0) {
    // The size is known: refuse a large file before reading any of it, then
    // read exactly that many bytes into one allocation.
    const auto size = static_cast<uint64_t>(before.st_size);
    if (size > max_bytes) throw TooLarge(path, max_bytes);
    text.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ReadSome(file.fd(), text.data() + got, text.size() - got);
      if (n < 0) throw EFOpenError(path);
      if (n == 0) throw Changed(path);  // shorter than when it was opened
      got += static_cast<size_t>(n);
    }
    char extra;
    const ssize_t n = ReadSome(file.fd(), &extra, 1);
    if (n < 0) throw EFOpenError(path);
    if (n > 0) throw Changed(path);  // longer than when it was opened
  } else {
    // A pipe, a device, an empty file or one whose size the system does not
    // report (as in /proc): read to the end, but not beyond the limit.
    char buffer[1 << 16];
    for (;;) {
      const ssize_t n = ReadSome(file.fd(), buffer, sizeof buffer);
      if (n < 0) throw EFOpenError(path);
      if (n == 0) break;
      if (text.size() + static_cast<size_t>(n) > max_bytes) throw TooLarge(path, max_bytes);
      text.append(buffer, static_cast<size_t>(n));
    }
  }

  if (regular) {
    // A rewrite in place that kept the length still moves the modification
    // time.  A file that was empty when opened must hold what was read (a
    // size of 0 after the read is a file whose size the system does not
    // report).
    struct stat after {};
    if (fstat(file.fd(), &after) != 0) throw EFOpenError(path);
    const auto size_after = static_cast<uint64_t>(after.st_size);
    if (!SameTime(before, after) || (before.st_size > 0 && after.st_size != before.st_size) ||
        (size_after != 0 && size_after != text.size()))
      throw Changed(path);
  }
  return text;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  const TTextLines source(text);
  std::string_view line;
  for (TLinePos pos; source.Next(pos, line);) lines.emplace_back(line);
  return lines;
}

std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  std::string scratch;
  ForEachField(line, scratch, [&](std::string_view field) {
    fields.emplace_back(field);
    return true;
  });
  return fields;
}

TTireDataSet ParseTireData(const std::vector<std::string>& lines, std::string_view source) {
  return ParseLines(TListLines(lines), source);
}

TTireDataSet ParseTireDataText(std::string_view text, std::string_view source) {
  return ParseLines(TTextLines(text), source);
}

TTireDataSet ReadTireDataFile(const std::string& path, uint64_t max_bytes) {
  return ParseTireDataText(ReadWholeFile(path, max_bytes), path);
}

std::string ReadTireDataText(const std::string& path, uint64_t max_bytes) {
  return ReadWholeFile(path, max_bytes);
}

}  // namespace morvex
