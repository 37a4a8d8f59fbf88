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
    ApplyFreeList(set, options.free);
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
