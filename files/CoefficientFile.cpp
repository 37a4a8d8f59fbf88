#include "files/CoefficientFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <vector>

#include "numerics/ProfileFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {

void ExportCoefficients(const TCoefficientSet& set, const std::string& path) {
  // Convert everything first: a bad text must stop the export before the
  // file is touched, not after half of the keys were replaced.
  std::vector<TProfileEntry> entries;
  entries.reserve(kCoefficientCount);
  for (std::string_view name : FileOrder()) {
    const TCoefficientInfo& info = Coefficient(name);
    entries.push_back({std::string(info.export_section), std::string(info.export_key), FloatToStr(set.Value(name))});
  }
  // The file is replaced through a rename, which a read-only file would not
  // stop: refuse it here, as writing it in place would fail.  A missing file
  // (or a dangling link) is created.
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) throw EWriteError(path);
  if (!WriteProfileStrings(path, entries)) throw EWriteError(path);
}

namespace {

std::string Trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

const char* GroupName(TCoefficientGroup group) {
  switch (group) {
    case TCoefficientGroup::kLateral:
      return "the lateral force";
    case TCoefficientGroup::kLongitudinal:
      return "the longitudinal force";
    case TCoefficientGroup::kAligning:
      return "the aligning moment";
    default:
      return "the rated load and radius";
  }
}

// The coefficients' sections and "SECTION\nKEY" of their keys, in capitals.
struct TKnownNames {
  std::set<std::string> sections, keys;
};
const TKnownNames& KnownNames() {
  static const TKnownNames names = [] {
    TKnownNames n;
    for (const TCoefficientInfo& info : Coefficients()) {
      n.sections.insert(AsciiUpper(info.export_section));
      n.keys.insert(AsciiUpper(info.export_section) + "\n" + AsciiUpper(info.export_key));
    }
    return n;
  }();
  return names;
}

// "[SECTION] key (line N)" of every key line that names no coefficient, as
// the profile reader sees the file (';' and '#' comments, names without
// regard to case).
std::vector<std::string> UnknownKeys(const TTextFile& file) {
  const TKnownNames& known = KnownNames();
  std::vector<std::string> unknown;
  std::string section, section_upper;
  bool known_section = false;
  for (size_t i = 0; i < file.lines.size(); ++i) {
    const std::string text = Trimmed(file.lines[i].text);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      const size_t close = text.find(']');
      section = Trimmed(std::string_view(text).substr(1, close == std::string::npos ? std::string::npos : close - 1));
      section_upper = AsciiUpper(section);
      known_section = known.sections.count(section_upper) > 0;
      continue;
    }
    const size_t equals = text.find('=');
    const std::string key = Trimmed(std::string_view(text).substr(0, equals));
    const bool is_known =
        known_section && equals != std::string::npos && known.keys.count(section_upper + "\n" + AsciiUpper(key)) > 0;
    if (!is_known) {
      if (unknown.size() >= 21) continue;  // the note shows 20; the rest are only counted
      std::string where = section.empty() ? std::string() : "[" + section.substr(0, 40) + "] ";
      where += (key.size() > 40 ? key.substr(0, 40) + "..." : key) + " (line " + std::to_string(i + 1) + ")";
      unknown.push_back(where);
    }
  }
  return unknown;
}

}  // namespace

TCoefficientImportResult ImportCoefficients(TCoefficientSet& set, const std::string& path,
                                            std::optional<TCoefficientGroup> group) {
  TTextFile file;
  if (!ReadTextFile(path, file)) throw EFOpenError(path);
  const TProfileReader reader(path);
  std::vector<std::pair<std::string_view, std::string>> found;
  bool of_group = false;
  for (std::string_view name : FileOrder()) {
    const TCoefficientInfo& info = Coefficient(name);
    if (auto text = reader.Get(info.export_section, info.export_key)) {
      found.emplace_back(name, *text);
      if (!group || info.group == *group) of_group = true;
    }
  }
  if (!of_group) {
    std::string sections, example;
    for (const TCoefficientInfo& info : Coefficients()) {
      if (group && info.group != *group) continue;
      if (example.empty() && info.group != TCoefficientGroup::kShared) example = std::string(info.export_key);
      if (sections.find("[" + std::string(info.export_section) + "]") == std::string::npos)
        sections += (sections.empty() ? "[" : ", [") + std::string(info.export_section) + "]";
    }
    throw Exception(path + " holds none of the coefficients of " +
                    (group ? std::string(GroupName(*group)) : std::string("Morvex's coefficient files")) +
                    " (keys such as " + example + " under " + sections +
                    "): it is not a coefficient file for this, and no value was taken from it");
  }
  TCoefficientImportResult result;
  const std::vector<std::string> unknown = UnknownKeys(file);
  if (!unknown.empty()) {
    std::string list;
    const size_t shown = std::min<size_t>(unknown.size(), 20);
    for (size_t i = 0; i < shown; ++i) list += (i ? ", " : "") + unknown[i];
    if (unknown.size() > shown) list += " and more";
    result.notes.push_back("Not coefficients of Morvex, ignored, in " + path + ": " + list + ".");
  }
  for (const auto& [name, text] : found) set.SetText(name, text);
  return result;
}

void LoadStartupDefaults(TCoefficientSet& set, const std::string& path) {
  const TProfileReader file(path);
  for (std::string_view name : FileOrder()) {
    const TCoefficientInfo& info = Coefficient(name);
    auto text = file.Get(info.startup_section, info.startup_key);
    // The shipped file and the built-in texts write numbers with '.': under
    // a decimal-comma locale they become "0,1", the text every later
    // conversion of the value expects.
    set.SetText(name, PointTextToLocal(text ? *text : std::string(info.default_text)));
  }
}

std::string StartupDefaultsPath(const std::string& executable_dir) {
  if (executable_dir.empty()) return kStartupDefaultsFileName;
  return (std::filesystem::path(executable_dir) / kStartupDefaultsFileName).string();
}

}  // namespace morvex
