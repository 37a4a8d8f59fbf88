// Fuzzes "Import MF model": any file the user picks is read into a
// coefficient set, and every value is then converted as the fits and the
// plot would convert it.  A file with none of the coefficients is refused
// (Exception) and must leave the set as it was; a text that is not a
// number is the one expected error of the conversion (EConvertError); crashes, other exceptions, undefined behaviour,
// leaks and hangs are faults.  The profile-file reader is the program's own
// (numerics/ProfileFile.cpp) and is instrumented with the rest.
#include <cstddef>
#include <cstdint>

#include "files/CoefficientFile.h"
#include "fuzz/FuzzSupport.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static fuzz::TScratchFile file;
  const std::string& path = file.Write(data, size);

  TMemoryCoefficientSet set;
  const TMemoryCoefficientSet before = set;
  try {
    ImportCoefficients(set, path);
  } catch (const EConvertError&) {
    fuzz::Fail("the import raised a conversion error");
  } catch (const Exception&) {
    // Refused (none of the coefficients): nothing may have changed.
    for (std::string_view name : FileOrder())
      if (set.Text(name) != before.Text(name)) fuzz::Fail("a refused file changed a value", std::string(name));
    return 0;
  }
  // One decimal separator per input, picked by its length.
  SetDecimalSeparator((size & 1) ? ',' : '.');
  for (std::string_view name : FileOrder()) {
    try {
      (void)set.Value(name);
    } catch (const EConvertError&) {
    }
  }
  return 0;
}
