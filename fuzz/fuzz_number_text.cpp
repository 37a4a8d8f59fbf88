// Fuzzes the number text of the whole program (numerics/LxBasics.h): every
// value of a data file, a coefficient file or a settings file, and every
// edit of the coefficient panel, goes through these parsers, and every value
// shown or written goes through the formatter.
//
// For any text, with '.' and with ',' as decimal separator:
//   - StrToFloat / StrToExtended / StrToInt agree with their Try forms and
//     fail only with EConvertError;
//   - a text that reads as a double also reads as an extended float, and the
//     double is finite;
//   - the double written in the general format (15 digits) reads back within
//     the rounding of 15 digits, and written with 17 digits reads back
//     exactly;
//   - the extended value formats in every format without fault, and the
//     fixed format of the fits reads back within its rounding;
//   - an integer read back from its decimal text is the same integer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"

namespace {

using morvex::Extended;
using morvex::fuzz::Fail;

// Largest magnitude whose 15-digit text still lies within the double range:
// above it the text rounds up past the largest double and is not a number.
constexpr double kLargestGeneralRoundTrip = 1.7976931348623145e308;
// The same for extended floats and the 12 significant digits of the fixed
// format, with a wide margin.
constexpr Extended kLargestFixedRoundTrip = 1.0e4930L;

void CheckFloat(std::string_view text) {
  using namespace morvex;
  double d = 0.0;
  const bool ok = TryStrToFloat(text, d);
  try {
    const double thrown = StrToFloat(text);
    if (!ok) Fail("StrToFloat accepted a text that TryStrToFloat refused", text);
    if (std::memcmp(&thrown, &d, sizeof d) != 0) Fail("StrToFloat and TryStrToFloat disagree", text);
  } catch (const EConvertError&) {
    if (ok) Fail("StrToFloat refused a text that TryStrToFloat accepted", text);
  }

  Extended e = 0.0L;
  const bool ok_extended = TryStrToExtended(text, e);
  try {
    (void)StrToExtended(text);
    if (!ok_extended) Fail("StrToExtended accepted a text that TryStrToExtended refused", text);
  } catch (const EConvertError&) {
    if (ok_extended) Fail("StrToExtended refused a text that TryStrToExtended accepted", text);
  }
  if (ok && !ok_extended) Fail("a double text that is not an extended text", text);

  if (ok) {
    if (!std::isfinite(d)) Fail("a parsed double that is not finite", text);
    const std::string general = FloatToStr(d);
    double back = 0.0;
    if (!TryStrToFloat(general, back)) {
      if (std::fabs(d) <= kLargestGeneralRoundTrip) Fail("FloatToStr gave a text that does not read back", general);
    } else {
      const double tolerance = std::fmax(std::fabs(d) * 1e-14, 4 * std::numeric_limits<double>::denorm_min());
      if (std::fabs(back - d) > tolerance) Fail("FloatToStr does not read back within 15 digits", general);
    }
    const std::string exact = FloatToStrF(d, TFloatFormat::kGeneral, 17, 0);
    if (!TryStrToFloat(exact, back) || back != d)  // -0 is written as 0
      Fail("a double written with 17 digits does not read back exactly", exact);
  }

  if (ok_extended) {
    if (!std::isfinite(e)) Fail("a parsed extended float that is not finite", text);
    (void)FloatToStrF(e, TFloatFormat::kGeneral, 15, 0);
    (void)FloatToStrF(e, TFloatFormat::kGeneral, 18, 4);
    (void)FloatToStrF(e, TFloatFormat::kExponent, 18, 4);
    (void)FloatToStrF(e, TFloatFormat::kExponent, 1, 0);
    (void)FloatToStrF(e, TFloatFormat::kFixed, 18, 18);
    (void)FloatToStrF(e, TFloatFormat::kFixed, 1, 0);
    (void)FloatToStrF(e, TFloatFormat::kNumber, 18, 3);
    const std::string fixed = FloatToStrFixed5(e);
    Extended back = 0.0L;
    if (!TryStrToExtended(fixed, back)) {
      if (std::fabs(e) <= kLargestFixedRoundTrip) Fail("FloatToStrFixed5 gave a text that does not read back", fixed);
    } else if (std::fabs(back - e) > 1e-5L + std::fabs(e) * 1e-11L) {
      Fail("FloatToStrFixed5 does not read back within its rounding", fixed);
    }
  }
}

void CheckInt(std::string_view text) {
  using namespace morvex;
  int32_t value = 0;
  const bool ok = TryStrToInt(text, value);
  try {
    const int32_t thrown = StrToInt(text);
    if (!ok) Fail("StrToInt accepted a text that TryStrToInt refused", text);
    if (thrown != value) Fail("StrToInt and TryStrToInt disagree", text);
  } catch (const EConvertError&) {
    if (ok) Fail("StrToInt refused a text that TryStrToInt accepted", text);
  }
  if (ok) {
    int32_t back = 0;
    if (!TryStrToInt(std::to_string(value), back) || back != value)
      Fail("an integer does not read back from its decimal text", text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = morvex::fuzz::AsText(data, size);
  for (const char separator : {'.', ','}) {
    morvex::SetDecimalSeparator(separator);
    CheckFloat(text);
  }
  CheckInt(text);
  return 0;
}
