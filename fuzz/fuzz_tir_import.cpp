// Fuzzes "Import MF model" with a property file (.tir): any bytes are read
// into a coefficient set in both sign conventions, and an accepted set is
// written back as a property file and read again.  The import's own
// refusals (Exception with a message) are expected; crashes, other
// exceptions, undefined behaviour, leaks and hangs are faults, and so is a
// set that an export refuses or that reads back with other values (but for
// subnormal numbers, which are written as 0).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/TirFile.h"
#include "fuzz/FuzzSupport.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static fuzz::TScratchFile file;
  static const std::string out = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/morvex-fuzz-out-" + std::to_string(getpid()) + ".tir";
  }();
  const std::string& path = file.Write(data, size);
  const TSignConvention convention = (size & 1) ? TSignConvention::kIso : TSignConvention::kPositiveStiffness;
  TMemoryCoefficientSet set;
  TTirImportResult read;
  try {
    read = ImportTir(set, path, convention);
  } catch (const EConvertError&) {
    fuzz::Fail("the import raised a conversion error");
  } catch (const Exception&) {
    return 0;  // refused with a message
  }
  // Every imported value is a number in the set's text form; write the set
  // and read it back.
  // The combined-slip part goes along when the file had one.
  TTirExportOptions options;
  options.convention = convention;
  if (!read.combined_keys.empty()) options.combined = read.combined;
  options.longvl = read.longvl;
  try {
    ExportTir(set, out, options);
  } catch (const std::exception& error) {
    fuzz::Fail("an imported set could not be exported", error.what());
  }
  TMemoryCoefficientSet back;
  TTirImportResult again;
  try {
    again = ImportTir(back, out, convention);
  } catch (const std::exception& error) {
    fuzz::Fail("an exported file could not be imported", error.what());
  }
  if (options.combined) {
    // Written with 15 significant digits: equal within their rounding.
#define MORVEX_CHECK(name)                                                                           \
  {                                                                                                  \
    const double a = read.combined.name, b = again.combined.name;                                    \
    const double expected = std::fpclassify(a) == FP_SUBNORMAL ? 0.0 : a;                            \
    if (!(std::fabs(b - expected) <= 1e-14 * std::fabs(expected))) fuzz::Fail("a combined value changed", #name); \
  }
    MORVEX_COMBINED_COEFFICIENTS(MORVEX_CHECK)
#undef MORVEX_CHECK
  }
  std::remove(out.c_str());
  for (const auto& info : Coefficients()) {
    const double value = set.Value(info.name);
    const double expected = std::fpclassify(value) == FP_SUBNORMAL ? 0.0 : value;  // written as 0
    if (back.Value(info.name) != expected) fuzz::Fail("a value changed on the way through a .tir", info.name);
  }
  return 0;
}
