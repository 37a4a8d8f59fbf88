#include "files/CoefficientFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
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

void ImportCoefficients(TCoefficientSet& set, const std::string& path) {
  const TProfileReader file(path);
  for (std::string_view name : FileOrder()) {
    const TCoefficientInfo& info = Coefficient(name);
    if (auto text = file.Get(info.export_section, info.export_key)) set.SetText(name, *text);
  }
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
