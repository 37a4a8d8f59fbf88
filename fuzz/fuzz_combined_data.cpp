// Fuzzes the combined data reader: any text handed to it must either give
// points whose set-points are finite and in range and that hold a measured
// value, or fail with an Exception naming the place.  What it reads must be
// written and read back to the same points.  Crashes, other exceptions,
// undefined behaviour, leaks and hangs are faults.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "numerics/LxTypes.h"
#include "tiredata/CombinedDataFile.h"

namespace {

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvex;
  const std::string_view text = fuzz::AsText(data, size);
  TCombinedDataSet read;
  try {
    read = ParseCombinedDataText(text, "input");
  } catch (const Exception& error) {
    if (std::string_view(error.what()).find("(file input, line ") == std::string_view::npos)
      fuzz::Fail("a refusal that does not name the line");
    return 0;
  }
  if (read.Empty()) fuzz::Fail("a read without points and without an error");
  for (const TCombinedSample& s : read.samples) {
    if (!std::isfinite(s.camber) || !std::isfinite(s.slip_angle) || !std::isfinite(s.slip_ratio) || !(s.load > 0))
      fuzz::Fail("a set-point that is not a finite number in range");
    if (std::isnan(s.fx) && std::isnan(s.fy) && std::isnan(s.mz) && std::isnan(s.mx) && std::isnan(s.my))
      fuzz::Fail("a point without a measured value");
  }
  const TCombinedDataSet back = ParseCombinedDataText(FormatCombinedData(read));
  if (back.samples.size() != read.samples.size()) fuzz::Fail("a written file that reads back to other points");
  for (size_t k = 0; k < read.samples.size(); ++k) {
    const TCombinedSample& a = read.samples[k];
    const TCombinedSample& b = back.samples[k];
    if (!Same(a.camber, b.camber) || !Same(a.load, b.load) || !Same(a.slip_angle, b.slip_angle) ||
        !Same(a.slip_ratio, b.slip_ratio) || !Same(a.fx, b.fx) || !Same(a.fy, b.fy) || !Same(a.mz, b.mz) ||
        !Same(a.mx, b.mx) || !Same(a.my, b.my) || !Same(a.speed, b.speed))
      fuzz::Fail("a written point that reads back to another value");
  }
  return 0;
}
