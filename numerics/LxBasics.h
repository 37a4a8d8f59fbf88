// Shared helpers of the numeric core: number text, floating-point fault
// checks, the process-wide random source and the small hooks through which
// the core reaches a user interface without depending on one.
//
// Number text.  Numbers are read and written with one process-wide decimal
// separator, taken from the user's locale (LC_NUMERIC) at start-up and
// switchable in tests.  The C library itself always runs in the "C" locale;
// only this module knows the separator.  Digits come from <charconv>, so
// every conversion is correctly rounded.
//
// Floating-point faults.  Division by zero, overflow and invalid operations
// are errors in this program, never silent infinities or NaNs.  Code that
// must detect them clears the flags (ClearFpFaults), computes, and calls
// RaiseFpFaults, which throws EZeroDivide, EOverflow or EInvalidOp.  Keep
// the check in a separate statement after the arithmetic: GCC does not
// honour FENV_ACCESS and may move flag tests across folded expressions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "numerics/LxTypes.h"

namespace morvex {

// ------------------------------------------------------------------ plain text

// `text` with the ASCII letters in upper or lower case; every other byte
// (UTF-8 included) unchanged, whatever the locale.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
// `a` equals `b` when ASCII letters are compared without regard to case.
bool SameAsciiText(std::string_view a, std::string_view b);

// ---------------------------------------------------------------- number text

// The decimal separator used by every conversion below ('.' or ',', say).
char DecimalSeparator();
void SetDecimalSeparator(char separator);
// Reads the separator of the user's LC_NUMERIC locale (from the environment)
// and makes it the process-wide one.  The C library's own numeric locale is
// left at "C".
void InitDecimalSeparatorFromLocale();

// Float formats of the program's number formatter.
enum class TFloatFormat {
  kGeneral,   // shortest of fixed and exponent form, trailing zeros dropped
  kExponent,  // d.ddddE+xxx with `precision` significant digits
  kFixed,     // `digits` decimals
  kNumber,    // as kFixed, with thousands separators
};

// Formats `value` with `precision` significant digits (1..18):
// - kGeneral: rounded to `precision` digits, trailing zeros dropped; written
//   without exponent when the rounded magnitude lies in [0.0001, 10^precision),
//   otherwise as d.dddE-x (exponent sign only when negative, at least `digits`
//   exponent digits, no leading zeros beyond that).
// - kExponent: d.ddd…E+xxx, exactly `precision` digits, exponent sign always,
//   at least `digits` (0..4) exponent digits.
// - kFixed / kNumber: `digits` decimals (0..18), the value first rounded to at
//   most `precision` significant digits; above `precision` integer digits the
//   general format with `precision` digits is used instead.
// NaN and infinities print as "NAN", "INF" and "-INF".
std::string FloatToStrF(Extended value, TFloatFormat format, int precision, int digits);

// The general format with 15 significant digits ("3000", "0.25", "5E-5").
std::string FloatToStr(double value);
std::string FloatToStr(Extended value);

// The fixed format of the fit write-back: 5 decimals at precision 12.
std::string FloatToStrFixed5(Extended value);

// Parses a decimal number: blanks (codes 1 to 32) around it, an optional
// sign, digits with an optional fraction after the decimal separator, an
// optional exponent (E or e, optional sign, digits), at least one mantissa
// digit, no thousands separator.  A value beyond the double range is not a
// number.  Raises EConvertError::NotAFloat(text) on failure.
double StrToFloat(std::string_view text);
Extended StrToExtended(std::string_view text);
bool TryStrToFloat(std::string_view text, double& value);
bool TryStrToExtended(std::string_view text, Extended& value);

// The same syntax with '.' as the decimal separator whatever the process-wide
// one: the shipped text files and the built-in default texts are written so.
bool TryStrToFloatPoint(std::string_view text, double& value);
// The process-wide separator first, then '.': for settings read from files
// that a user may have written either way (no thousands separator exists,
// so the two readings never disagree).
bool TryStrToFloatEither(std::string_view text, double& value);
// A number text written with '.' (say "0.1") rewritten with the process-wide
// separator ("0,1"), so that it reads as the same number wherever a value
// text is converted later.  Any other text comes back unchanged.
std::string PointTextToLocal(std::string_view text);

// Parses a 32-bit integer: blanks around it, an optional sign, decimal digits
// or hexadecimal digits after "0x", "0X" or "$".
bool TryStrToInt(std::string_view text, int32_t& value);
int32_t StrToInt(std::string_view text);  // raises EConvertError::NotAnInteger

// ------------------------------------------------------ floating-point faults

void ClearFpFaults();
// Throws for the first flagged fault in the order division by zero, overflow,
// invalid operation (the order in which one fault usually leads to the next).
void RaiseFpFaults();

// Runs `fn` between ClearFpFaults and RaiseFpFaults and returns its result.
template <class Fn>
auto FpChecked(Fn&& fn) -> decltype(fn()) {
  ClearFpFaults();
  auto result = fn();
  RaiseFpFaults();
  return result;
}

// The machine epsilon of extended precision, found by halving at start-up
// (2^-63 with a 64-bit mantissa), and the absolute singularity threshold of
// matrix inversion, three times that.
Extended MachineEpsilon();
Extended SingularityThreshold();

// ------------------------------------------------------------ random source

// One process-wide linear congruential generator with a 32-bit state,
// state := state * 134775813 + 1 (mod 2^32), seeded with 0 at start.
uint32_t RandSeed();
void SetRandSeed(uint32_t seed);
// A uniform integer in [0, n): the high 32 bits of the product state * n
// after advancing the state.  n must be positive.
int32_t RandomInt(int32_t n);
// A uniform real in [0, 1): the advanced state times 2^-32.
double RandomReal();
// A normally distributed number (Marsaglia's polar method on RandomReal).
Extended RandomNormal(Extended mean, Extended std_dev);

// ------------------------------------------------------- user-interface hooks

// A message for the user from inside the core (a message box in the window,
// stderr elsewhere).  The window installs its own sink at start-up.
using MessageSink = std::function<void(const std::string&)>;
void SetMessageSink(MessageSink sink);
void ShowMessage(const std::string& text);

// A grid of text cells that a matrix can fill (a string grid in the window).
class IStringGridTarget {
 public:
  virtual ~IStringGridTarget() = default;
  virtual void SetColCount(int count) = 0;
  virtual void SetRowCount(int count) = 0;
  virtual void SetCell(int col, int row, const std::string& text) = 0;
  // Width in pixels of `text` in the grid's font.
  virtual int TextWidth(const std::string& text) const = 0;
  virtual void SetColWidth(int col, int width) = 0;
};

}  // namespace morvex
