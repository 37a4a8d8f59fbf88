#include "numerics/LxBasics.h"

#include <cerrno>
#include <cfenv>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace morvex {

namespace {
char AsciiUpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpperChar(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpperChar(a[i]) != AsciiUpperChar(b[i])) return false;
  return true;
}

namespace {

char g_decimal_separator = '.';
char g_thousand_separator = ',';
uint32_t g_rand_seed = 0;
MessageSink g_message_sink;

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Decimal digits and decimal exponent of `value` rounded to `precision`
// significant digits: value = 0.d1d2d3... * 10^(exponent + 1).
struct Decimal {
  bool negative = false;
  std::string digits;  // exactly `precision` digits, first one non-zero unless zero
  int exponent = 0;    // decimal exponent of the first digit
  bool zero = false;
};

Decimal ToDecimal(Extended value, int precision) {
  Decimal d;
  char buf[128];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                                 precision - 1);
  std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  if (!text.empty() && text.front() == '-') {
    d.negative = true;
    text.remove_prefix(1);
  }
  const auto e_pos = text.find('e');
  const std::string_view mantissa = text.substr(0, e_pos);
  for (char c : mantissa)
    if (c != '.') d.digits.push_back(c);
  d.exponent = std::atoi(std::string(text.substr(e_pos + 1)).c_str());
  d.zero = d.digits.find_first_not_of('0') == std::string::npos;
  if (d.zero) {
    d.exponent = 0;
    d.negative = false;
  }
  return d;
}

std::string NonFinite(Extended value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

std::string ExponentText(int exponent, bool always_sign, int min_digits) {
  std::string s;
  if (exponent < 0)
    s.push_back('-');
  else if (always_sign)
    s.push_back('+');
  std::string digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (static_cast<int>(digits.size()) < min_digits)
    digits.insert(0, static_cast<size_t>(min_digits) - digits.size(), '0');
  return s + digits;
}

std::string FormatGeneral(Extended value, int precision, int digits) {
  Decimal d = ToDecimal(value, precision);
  if (d.zero) return "0";
  const auto last = d.digits.find_last_not_of('0');
  d.digits.erase(last + 1);
  std::string out = d.negative ? "-" : "";
  if (d.exponent >= -4 && d.exponent < precision) {
    if (d.exponent < 0) {
      out += '0';
      out += g_decimal_separator;
      out.append(static_cast<size_t>(-d.exponent - 1), '0');
      out += d.digits;
    } else {
      const auto int_digits = static_cast<size_t>(d.exponent) + 1;
      if (d.digits.size() <= int_digits) {
        out += d.digits;
        out.append(int_digits - d.digits.size(), '0');
      } else {
        out += d.digits.substr(0, int_digits);
        out += g_decimal_separator;
        out += d.digits.substr(int_digits);
      }
    }
    return out;
  }
  out += d.digits.front();
  if (d.digits.size() > 1) {
    out += g_decimal_separator;
    out += d.digits.substr(1);
  }
  out += 'E';
  out += ExponentText(d.exponent, false, digits);
  return out;
}

std::string FormatExponent(Extended value, int precision, int digits) {
  const Decimal d = ToDecimal(value, precision);
  std::string out = d.negative ? "-" : "";
  out += d.digits.front();
  if (d.digits.size() > 1) {
    out += g_decimal_separator;
    out += d.digits.substr(1);
  }
  out += 'E';
  out += ExponentText(d.exponent, true, digits);
  return out;
}

std::string InsertThousands(const std::string& int_part) {
  std::string out;
  const size_t n = int_part.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += g_thousand_separator;
    out += int_part[i];
  }
  return out;
}

std::string FormatFixed(Extended value, int precision, int digits, bool thousands) {
  const Decimal d = ToDecimal(value, precision);
  if (!d.zero && d.exponent + 1 > precision) return FormatGeneral(value, precision, 0);
  // Decimals that the significant digits allow; the rest is zero fill.
  const int allowed = precision - 1 - d.exponent;
  const int decimals = digits < allowed ? digits : allowed;
  char buf[512];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                                 decimals < 0 ? 0 : decimals);
  std::string text(buf, static_cast<size_t>(res.ptr - buf));
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.erase(0, 1);
  }
  std::string int_part = text, frac_part;
  if (const auto dot = text.find('.'); dot != std::string::npos) {
    int_part = text.substr(0, dot);
    frac_part = text.substr(dot + 1);
  }
  if (static_cast<int>(frac_part.size()) < digits)
    frac_part.append(static_cast<size_t>(digits) - frac_part.size(), '0');
  if ((int_part + frac_part).find_first_not_of('0') == std::string::npos) negative = false;
  std::string out = negative ? "-" : "";
  out += thousands ? InsertThousands(int_part) : int_part;
  if (digits > 0) {
    out += g_decimal_separator;
    out += frac_part;
  }
  return out;
}

// Checks the syntax of a decimal number and rewrites it for from_chars
// ('.' as separator, no leading '+').  Returns false when it is not a number.
bool Normalize(std::string_view text, std::string& out, char separator = g_decimal_separator) {
  text = TrimBlanks(text);
  out.clear();
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  int mantissa_digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    out += text[i++];
    ++mantissa_digits;
  }
  if (i < text.size() && text[i] == separator) {
    out += '.';
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      out += text[i++];
      ++mantissa_digits;
    }
  }
  if (mantissa_digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    out += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      if (text[i] == '-') out += '-';
      ++i;
    }
    int exponent_digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      out += text[i++];
      ++exponent_digits;
    }
    if (exponent_digits == 0) return false;
  }
  return i == text.size();
}

template <class T>
bool ParseNormalized(const std::string& text, T& value) {
  T parsed{};
  const auto res = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (res.ptr != text.data() + text.size()) return false;
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars reports underflow and overflow alike: a tiny value is a
    // valid zero (or subnormal), a huge one is not a number of this type.
    errno = 0;
    const long double wide = std::strtold(text.c_str(), nullptr);
    if (std::isinf(wide) || std::fabs(wide) > static_cast<long double>(std::numeric_limits<T>::max()))
      return false;
    parsed = static_cast<T>(wide);
  } else if (res.ec != std::errc()) {
    return false;
  }
  value = parsed;
  return true;
}

Extended ComputeMachineEpsilon() {
  volatile Extended eps = 1.0L;
  volatile Extended sum;
  do {
    eps = eps / 2.0L;
    sum = 1.0L + eps;
  } while (sum != 1.0L);
  return 2.0L * eps;
}

}  // namespace

char DecimalSeparator() { return g_decimal_separator; }

void SetDecimalSeparator(char separator) {
  g_decimal_separator = separator;
  g_thousand_separator = separator == ',' ? ' ' : ',';
}

void InitDecimalSeparatorFromLocale() {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  char separator = '.';
  char thousands = 0;
  if (std::setlocale(LC_NUMERIC, "") != nullptr) {
    const std::lconv* conv = std::localeconv();
    if (conv && conv->decimal_point && conv->decimal_point[0] && !conv->decimal_point[1])
      separator = conv->decimal_point[0];
    if (conv && conv->thousands_sep && conv->thousands_sep[0] && !conv->thousands_sep[1])
      thousands = conv->thousands_sep[0];
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
  SetDecimalSeparator(separator);
  if (thousands != 0 && thousands != separator) g_thousand_separator = thousands;
}

std::string FloatToStrF(Extended value, TFloatFormat format, int precision, int digits) {
  if (!std::isfinite(value)) return NonFinite(value);
  if (precision < 1) precision = 1;
  if (precision > 18) precision = 18;
  if (digits < 0) digits = 0;
  switch (format) {
    case TFloatFormat::kGeneral:
      return FormatGeneral(value, precision, digits > 4 ? 4 : digits);
    case TFloatFormat::kExponent:
      return FormatExponent(value, precision, digits > 4 ? 4 : digits);
    case TFloatFormat::kFixed:
      return FormatFixed(value, precision, digits > 18 ? 18 : digits, false);
    case TFloatFormat::kNumber:
      return FormatFixed(value, precision, digits > 18 ? 18 : digits, true);
  }
  return FormatGeneral(value, precision, 0);
}

std::string FloatToStr(double value) {
  return FloatToStrF(static_cast<Extended>(value), TFloatFormat::kGeneral, 15, 0);
}

std::string FloatToStr(Extended value) {
  return FloatToStrF(value, TFloatFormat::kGeneral, 15, 0);
}

std::string FloatToStrFixed5(Extended value) {
  return FloatToStrF(value, TFloatFormat::kFixed, 12, 5);
}

bool TryStrToFloat(std::string_view text, double& value) {
  std::string normalized;
  return Normalize(text, normalized) && ParseNormalized(normalized, value);
}

bool TryStrToExtended(std::string_view text, Extended& value) {
  std::string normalized;
  return Normalize(text, normalized) && ParseNormalized(normalized, value);
}

bool TryStrToFloatPoint(std::string_view text, double& value) {
  std::string normalized;
  return Normalize(text, normalized, '.') && ParseNormalized(normalized, value);
}

bool TryStrToFloatEither(std::string_view text, double& value) {
  return TryStrToFloat(text, value) || TryStrToFloatPoint(text, value);
}

std::string PointTextToLocal(std::string_view text) {
  double value;
  std::string out(text);
  if (g_decimal_separator == '.' || TryStrToFloat(text, value) || !TryStrToFloatPoint(text, value)) return out;
  const size_t point = out.find('.');
  if (point != std::string::npos) out[point] = g_decimal_separator;
  return out;
}

double StrToFloat(std::string_view text) {
  double value;
  if (!TryStrToFloat(text, value)) throw EConvertError::NotAFloat(std::string(text));
  return value;
}

Extended StrToExtended(std::string_view text) {
  Extended value;
  if (!TryStrToExtended(text, value)) throw EConvertError::NotAFloat(std::string(text));
  return value;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return false;
  if (base == 16) {
    // Hexadecimal texts name the 32-bit pattern, as 0xFFFFFFFF = -1.
    if (magnitude > 0xFFFFFFFFull) return false;
    // The sign negates the pattern modulo 2^32, so "-$80000000" is the
    // pattern 80000000 again; negating the signed value would overflow.
    const auto bits = static_cast<uint32_t>(magnitude);
    value = static_cast<int32_t>(negative ? 0u - bits : bits);
    return true;
  }
  if (negative ? magnitude > 2147483648ull : magnitude > 2147483647ull) return false;
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                   : static_cast<int32_t>(magnitude);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value;
  if (!TryStrToInt(text, value)) throw EConvertError::NotAnInteger(std::string(text));
  return value;
}

void ClearFpFaults() { std::feclearexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID); }

void RaiseFpFaults() {
  const int flags = std::fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID);
  if (flags == 0) return;
  std::feclearexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID);
  if (flags & FE_DIVBYZERO) throw EZeroDivide();
  if (flags & FE_OVERFLOW) throw EOverflow();
  throw EInvalidOp();
}

Extended MachineEpsilon() {
  static const Extended eps = ComputeMachineEpsilon();
  return eps;
}

Extended SingularityThreshold() {
  static const Extended threshold = 3.0L * MachineEpsilon();
  return threshold;
}

uint32_t RandSeed() { return g_rand_seed; }

void SetRandSeed(uint32_t seed) { g_rand_seed = seed; }

int32_t RandomInt(int32_t n) {
  g_rand_seed = g_rand_seed * 134775813u + 1u;
  return static_cast<int32_t>((static_cast<uint64_t>(g_rand_seed) * static_cast<uint32_t>(n)) >> 32);
}

double RandomReal() {
  g_rand_seed = g_rand_seed * 134775813u + 1u;
  return static_cast<double>(g_rand_seed) * (1.0 / 4294967296.0);
}

Extended RandomNormal(Extended mean, Extended std_dev) {
  Extended u1, s2;
  do {
    u1 = 2.0L * RandomReal() - 1.0L;
    const Extended u2 = 2.0L * RandomReal() - 1.0L;
    s2 = u1 * u1 + u2 * u2;
  } while (s2 >= 1.0L || s2 == 0.0L);
  return std::sqrt(-2.0L * std::log(s2) / s2) * u1 * std_dev + mean;
}

void SetMessageSink(MessageSink sink) { g_message_sink = std::move(sink); }

void ShowMessage(const std::string& text) {
  if (g_message_sink)
    g_message_sink(text);
  else
    std::cerr << text << '\n';
}

}  // namespace morvex
