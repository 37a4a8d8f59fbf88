// Fuzzes the tire data reader: any text handed to "Load tire data" must
// either give a well-formed data set or fail with the reader's own errors
// (a field that is not a number, a missing field or line, a field too many).  Crashes, other
// exceptions, undefined behaviour, leaks and hangs are faults.
//
// Each input is read twice, with '.' and with ',' as decimal separator, the
// two settings the program meets in practice.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"

namespace {

void ReadWith(char separator, std::string_view text) {
  using namespace morvex;
  SetDecimalSeparator(separator);
  TTireDataSet data;
  try {
    data = ParseTireDataText(text);
  } catch (const EConvertError&) {
    return;
  } catch (const EListError&) {
    return;
  } catch (const Exception& error) {
    // A row with more fields than its loads line asks for.
    if (std::string_view(error.what()).rfind("Too many fields on a data row (", 0) != 0)
      fuzz::Fail("the reader raised an error of its own kind that it does not document");
    return;
  }
  // The grid and the models index Values[row * L + load]: a block must hold
  // exactly one value per row and load.
  for (const TLoadCase& load_case : data.Cases)
    if (load_case.Values.size() != load_case.RowCount() * load_case.LoadCount())
      fuzz::Fail("a load case whose value count is not rows x loads");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = morvex::fuzz::AsText(data, size);
  ReadWith('.', text);
  ReadWith(',', text);
  return 0;
}
