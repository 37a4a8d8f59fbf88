// Fuzzes the two files read from beside the executable: the start-up
// defaults (param_fm_ini.ini, read when the window opens) and the fit
// settings (configuration.ini, read by every fit command).  Each input is
// read both ways.  Each reader parses the whole file once, so one
// input reads the settings of one channel and converts the defaults with one
// decimal separator, both picked by the input's length: mutations reach all
// of them.  Neither reader may fail on any content: the defaults only store
// texts (converted afterwards, where EConvertError is the one expected
// error), and the settings reader gives every key its default or refuses
// an unusable value with a message that names the file.
#include <cstddef>
#include <cstdint>

#include "files/CoefficientFile.h"
#include "fitting/FitSettings.h"
#include "fuzz/FuzzSupport.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CoefficientTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  static fuzz::TScratchFile file;
  const std::string& path = file.Write(data, size);
  SetDecimalSeparator((size & 1) ? ',' : '.');

  TMemoryCoefficientSet set;
  LoadStartupDefaults(set, path);
  for (std::string_view name : FileOrder()) {
    try {
      (void)set.Value(name);
    } catch (const EConvertError&) {
    }
  }

  constexpr TFitChannel kChannels[] = {TFitChannel::kLateral, TFitChannel::kAligning, TFitChannel::kLongitudinal};
  const TFitChannel channel = kChannels[size % 3];
  TFitSettings settings;
  try {
    settings = ReadFitSettings(path, channel);
  } catch (const Exception& error) {
    // An unusable value or a reversed pair is refused, naming its key.
    if (std::string_view(error.what()).find("The fit settings file ") != 0)
      fuzz::Fail("fit settings refused with an unexpected message");
    return 0;
  }
  const size_t count = FitFreeOrder(channel).size();
  if (settings.Min.size() != count || settings.Max.size() != count)
    fuzz::Fail("fit settings whose bound vectors do not match the free order");
  return 0;
}
