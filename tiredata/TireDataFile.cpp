#include "tiredata/TireDataFile.h"

#include <filesystem>
#include <fstream>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace morvex {
namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Characters that end an unquoted field: ';' and codes 0 to 32.
bool EndsField(char c) { return c == ';' || static_cast<unsigned char>(c) <= 32; }

// The entry `index` of a list, or the list-index error naming it.
template <class List>
const auto& At(const List& list, size_t index) {
  if (index >= list.size()) throw EListError(static_cast<long long>(index));
  return list[index];
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t p = 0;
  const size_t n = text.size();
  while (p < n) {
    const size_t start = p;
    while (p < n && text[p] != '\r' && text[p] != '\n') ++p;
    lines.emplace_back(text.substr(start, p - start));
    if (p < n && text[p] == '\r') ++p;
    if (p < n && text[p] == '\n') ++p;
  }
  return lines;
}

std::vector<std::string> SplitFields(std::string_view line) {
  // The text ends at a NUL character, as in a C string; going on past it
  // would read an endless series of empty fields.
  line = line.substr(0, line.find('\0'));
  std::vector<std::string> fields;
  size_t p = 0;
  const size_t n = line.size();
  while (p < n && IsBlank(line[p])) ++p;
  while (p < n) {
    if (line[p] == '"') {
      std::string field;
      ++p;
      while (p < n) {
        if (line[p] == '"') {
          if (p + 1 < n && line[p + 1] == '"') {
            field += '"';
            p += 2;
            continue;
          }
          ++p;  // closing quote
          break;
        }
        field += line[p++];
      }
      fields.push_back(std::move(field));
    } else {
      const size_t start = p;
      while (p < n && !EndsField(line[p])) ++p;
      fields.emplace_back(line.substr(start, p - start));
    }
    while (p < n && IsBlank(line[p])) ++p;
    if (p < n && line[p] == ';') {
      if (p + 1 == n) fields.emplace_back();  // "...;" ends with an empty field
      ++p;
      while (p < n && IsBlank(line[p])) ++p;
    }
  }
  return fields;
}

TTireDataSet ParseTireData(const std::vector<std::string>& lines) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(kLoadCaseKeyword) != std::string::npos) starts.push_back(i);

  TTireDataSet data;
  data.Cases.reserve(starts.size());
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t start = starts[k];
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : lines.size();
    TLoadCase load_case;
    // Camber and loads lines are read wherever they are: a "LOAD_CASE" line
    // in their place fails as a number, a missing line at the end of the
    // file as a list index.
    load_case.Camber = StrToFloat(At(lines, start + 1));
    for (const std::string& field : SplitFields(At(lines, start + 2)))
      load_case.Loads.push_back(StrToFloat(field));
    const size_t loads = load_case.Loads.size();
    // Rows are appended as they are read, so memory grows with what the file
    // really holds, never with a row count times a column count up front.
    for (size_t r = start + 3; r < end; ++r) {
      const std::vector<std::string> fields = SplitFields(lines[r]);
      load_case.Slips.push_back(StrToFloat(At(fields, 0)));
      for (size_t j = 0; j < loads; ++j) load_case.Values.push_back(StrToFloat(At(fields, j + 1)));
    }
    data.Cases.push_back(std::move(load_case));
  }
  return data;
}

TTireDataSet ParseTireDataText(std::string_view text) { return ParseTireData(SplitLines(text)); }

TTireDataSet ReadTireDataFile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw EFOpenError(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError(path);
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
    text.append(buffer, static_cast<size_t>(in.gcount()));
  if (in.bad()) throw EFOpenError(path);
  return ParseTireDataText(text);
}

}  // namespace morvex
