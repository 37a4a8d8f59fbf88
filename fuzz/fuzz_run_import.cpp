// Fuzzes the raw-run import: any text handed to "Import measured run..." or
// to morvex-fit import must either give a well-formed data set with its
// report, or fail with an Exception naming what is wrong.  Crashes, other
// exceptions, undefined behaviour, leaks and hangs are faults.
//
// Each input goes through both readers (the delimited one and TYDEX) and the
// whole import, for the lateral and the longitudinal channel and for
// combined slip.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "numerics/LxTypes.h"
#include "rigdata/CombinedImport.h"
#include "rigdata/RawImport.h"

namespace {

void Check(const morvex::TRawImportResult& result) {
  using namespace morvex;
  // A load case must be a full table, and the raw points must index it.
  for (const TLoadCase& lc : result.data.Cases) {
    if (lc.Values.size() != lc.RowCount() * lc.LoadCount() || lc.LoadCount() == 0 || lc.RowCount() == 0)
      fuzz::Fail("a load case that is not a full table");
    // A data file never gets a cell it cannot read back.
    for (double v : lc.Values)
      if (!std::isfinite(v)) fuzz::Fail("a binned value that is not finite");
    for (double v : lc.Loads)
      if (!std::isfinite(v)) fuzz::Fail("a load that is not finite");
  }
  for (size_t i = 0; i < result.raw.size(); ++i) {
    const auto c = static_cast<size_t>(result.raw.case_index[i]);
    if (c >= result.data.Cases.size() || result.raw.load_index[i] < 0 ||
        static_cast<size_t>(result.raw.load_index[i]) >= result.data.Cases[c].LoadCount())
      fuzz::Fail("a raw point outside the data set");
  }
  if (result.data.Empty() == result.report.empty_reason.empty() && result.report.samples_read > 0)
    fuzz::Fail("an empty import without its reason, or a reason with data");
  (void)FormatImportReport(result.report);
}

void Import(std::string_view text, morvex::TRunFormat format, morvex::TImportChannel channel) {
  using namespace morvex;
  TRawImportOptions options;
  options.read.format = format;
  options.channel = channel;
  options.min_bin_samples = 2;  // small inputs reach the binning
  options.min_dwell_seconds = 0;
  try {
    Check(ImportRunText(text, options));
  } catch (const Exception&) {
  }
}

// The combined-slip import of the same text: every point has finite
// set-points and a finite longitudinal force, and an empty import says why.
void ImportCombined(std::string_view text, morvex::TRunFormat format) {
  using namespace morvex;
  TCombinedImportOptions options;
  options.run.read.format = format;
  options.run.min_bin_samples = 2;
  options.run.min_dwell_seconds = 0;
  try {
    const TCombinedImportResult result = ImportCombinedText(text, options);
    for (const TCombinedSample& s : result.data.samples)
      if (!std::isfinite(s.camber) || !std::isfinite(s.load) || !std::isfinite(s.slip_angle) ||
          !std::isfinite(s.slip_ratio) || !std::isfinite(s.fx))
        fuzz::Fail("a combined point without finite set-points and longitudinal force");
    if (result.data.Empty() == result.report.run.empty_reason.empty() && result.report.run.samples_read > 0)
      fuzz::Fail("an empty combined import without its reason, or a reason with points");
    (void)FormatCombinedImportReport(result.report);
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = morvex::fuzz::AsText(data, size);
  for (morvex::TRunFormat format : {morvex::TRunFormat::kDelimited, morvex::TRunFormat::kTydex}) {
    Import(text, format, morvex::TImportChannel::kLateral);
    Import(text, format, morvex::TImportChannel::kLongitudinal);
    ImportCombined(text, format);
  }
  return 0;
}
