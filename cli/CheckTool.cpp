#include "cli/CheckTool.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

#include "cli/FitTool.h"
#include "files/CoefficientFile.h"
#include "fitting/DataAdvice.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {

namespace {

void RequireFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw EFOpenError(path);
}

void SetFreeList(TCoefficientSet& set, std::string list) {
  list.erase(std::remove_if(list.begin(), list.end(), [](char c) { return c == ' ' || c == '\t'; }), list.end());
  const bool all = AsciiUpper(list) == "ALL";
  for (const TCoefficientInfo& info : Coefficients())
    if (info.HasFreeFlag()) set.SetFree(info.name, all && FreedByAll(info));
  if (all) return;
  std::stringstream names(list);
  std::string name;
  while (std::getline(names, name, ',')) {
    if (name.empty()) continue;
    const int index = FindCoefficient(name);
    if (index < 0) throw Exception("Unknown coefficient '" + name + "' in --free");
    const TCoefficientInfo& info = Coefficients()[static_cast<size_t>(index)];
    if (!info.HasFreeFlag()) throw Exception("Coefficient '" + name + "' has no free flag and cannot be fitted");
    set.SetFree(info.name, true);
  }
}

}  // namespace

int RunCheckTool(const TCheckToolOptions& options, std::ostream& out, std::ostream& err) {
  std::string text;
  try {
    TMemoryCoefficientSet set;
    const std::filesystem::path defaults = std::filesystem::path(options.executable_dir) / "param_fm_ini.ini";
    LoadStartupDefaults(set, defaults.string());
    if (options.coefficients_path) {
      RequireFile(*options.coefficients_path);
      TCoefficientFileRead read;
      read.channel = options.channel;
      ImportCoefficientFile(set, *options.coefficients_path, read, err);
    }
    SetFreeList(set, options.free);
    RequireFile(options.data_path);
    const TTireDataSet data = ReadTireDataFile(options.data_path);
    text = FormatDataAdvice(AdviseOnData(options.channel, set, data));
  } catch (const std::exception& error) {
    err << "morvex-fit: " << error.what() << '\n';
    return kExitError;
  }
  out << text;
  return kExitOk;
}

}  // namespace morvex
