// Number text, floating-point fault mapping and the random source.
#include <gtest/gtest.h>

#include <string>

#include "numerics/LxBasics.h"

namespace morvex {
namespace {

// Restores '.' even when an assertion fails half-way.
class CommaSeparator {
 public:
  CommaSeparator() { SetDecimalSeparator(','); }
  ~CommaSeparator() { SetDecimalSeparator('.'); }
};

TEST(FloatToStr, GeneralFormatSwitchesToExponentOutsideTheFixedRange) {
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(0.00009999), "9.999E-5");
  EXPECT_EQ(FloatToStr(1E15), "1E15");
  EXPECT_EQ(FloatToStr(999999999999999.5), "1E15");  // rounds up to 16 digits
  EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
  EXPECT_EQ(FloatToStr(5E-5), "5E-5");
  EXPECT_EQ(FloatToStr(1.5E-6), "1.5E-6");
  EXPECT_EQ(FloatToStr(2E20), "2E20");
}

TEST(FloatToStr, GeneralFormatDropsTrailingZeros) {
  EXPECT_EQ(FloatToStr(3000.0), "3000");
  EXPECT_EQ(FloatToStr(0.25), "0.25");
  EXPECT_EQ(FloatToStr(-1.0), "-1");
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(StrToFloat("1.30000")), "1.3");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");  // 15 digits hide the binary residue
}

TEST(FloatToStrFixed5, PrintsFiveDecimalsUpToTwelveIntegerDigits) {
  EXPECT_EQ(FloatToStrFixed5(0.000004L), "0.00000");
  EXPECT_EQ(FloatToStrFixed5(1.3L), "1.30000");
  EXPECT_EQ(FloatToStrFixed5(-2.5L), "-2.50000");
  EXPECT_EQ(FloatToStrFixed5(123456789012.0L), "123456789012.00000");
  EXPECT_EQ(FloatToStrFixed5(1234567890123.0L), "1.23456789012E12");
}

TEST(FloatToStrF, ExponentFormatKeepsSignAndDigits) {
  EXPECT_EQ(FloatToStrF(1500.0L, TFloatFormat::kExponent, 4, 3), "1.500E+003");
  EXPECT_EQ(FloatToStrF(-0.0015L, TFloatFormat::kExponent, 2, 2), "-1.5E-03");
}

TEST(StrToFloat, RejectsMalformedNumbers) {
  double value = 0;
  for (const char* text : {"", "-", "1,5", "1e", "1 000", ".", "e5", "1.2.3", "0x10"})
    EXPECT_FALSE(TryStrToFloat(text, value)) << "'" << text << "'";
}

TEST(StrToFloat, AcceptsBlanksSignsAndBareSeparator) {
  EXPECT_DOUBLE_EQ(StrToFloat(" 2.5 "), 2.5);
  EXPECT_DOUBLE_EQ(StrToFloat("+.5"), 0.5);
  EXPECT_DOUBLE_EQ(StrToFloat("5."), 5.0);
  EXPECT_DOUBLE_EQ(StrToFloat("1E-3"), 0.001);
  EXPECT_DOUBLE_EQ(StrToFloat("-1e+2"), -100.0);
}

TEST(StrToFloat, ErrorMessageQuotesTheText) {
  try {
    StrToFloat("abc");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' n'est pas une valeur en virgule flottante correcte");
  }
}

TEST(DecimalSeparator, CommaIsUsedForParsingAndPrinting) {
  CommaSeparator comma;
  EXPECT_DOUBLE_EQ(StrToFloat("0,5"), 0.5);
  EXPECT_EQ(FloatToStr(2.5), "2,5");
  EXPECT_EQ(FloatToStrFixed5(1.25L), "1,25000");
  double value;
  EXPECT_FALSE(TryStrToFloat("0.5", value));
}

TEST(StrToInt, ReadsDecimalAndHexadecimal) {
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("$10"), 16);
  EXPECT_EQ(StrToInt(" -42 "), -42);
  int32_t value;
  EXPECT_FALSE(TryStrToInt("2147483648", value));
  EXPECT_FALSE(TryStrToInt("1.0", value));
}

// Found by fuzzing: negating the pattern 80000000 overflowed a signed int.
TEST(StrToInt, NegatesHexadecimalPatternsModulo32Bits) {
  EXPECT_EQ(StrToInt("-$80000000"), INT32_MIN);
  EXPECT_EQ(StrToInt("-0x80000000"), INT32_MIN);
  EXPECT_EQ(StrToInt("$80000000"), INT32_MIN);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("-$FFFFFFFF"), 1);
  EXPECT_EQ(StrToInt("-$7FFFFFFF"), -INT32_MAX);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  int32_t value;
  EXPECT_FALSE(TryStrToInt("-$100000000", value));
}

TEST(RandomSource, FollowsTheLinearCongruentialSequenceFromSeedZero) {
  SetRandSeed(0);
  const uint32_t states[] = {1u, 134775814u, 3698175007u, 870078620u, 1172187917u};
  const int32_t draws[] = {0, 6, 172, 40, 54};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(RandomInt(200), draws[k]) << "draw " << k;
    EXPECT_EQ(RandSeed(), states[k]) << "draw " << k;
  }
  SetRandSeed(0);
}

TEST(RaiseFpFaults, MapsEachFlagToItsException) {
  volatile double zero = 0.0, one = 1.0, big = 1e308;
  volatile double result;
  ClearFpFaults();
  result = one / zero;
  try {
    RaiseFpFaults();
    FAIL() << "no exception for 1/0";
  } catch (const EZeroDivide& e) {
    EXPECT_STREQ(e.what(), "Division par zéro en virgule flottante");
  }
  ClearFpFaults();
  result = big * big;
  try {
    RaiseFpFaults();
    FAIL() << "no exception for overflow";
  } catch (const EOverflow& e) {
    EXPECT_STREQ(e.what(), "Débordement en virgule flottante");
  }
  ClearFpFaults();
  result = zero / zero;
  try {
    RaiseFpFaults();
    FAIL() << "no exception for 0/0";
  } catch (const EInvalidOp& e) {
    EXPECT_STREQ(e.what(), "Opération en virgule flottante incorrecte");
  }
  // The flags are consumed: a second check passes.
  EXPECT_NO_THROW(RaiseFpFaults());
  (void)result;
}

TEST(MachineEpsilon, IsTheExtendedPrecisionUnitRoundoff) {
  EXPECT_EQ(MachineEpsilon(), 0x1p-63L);
  EXPECT_EQ(SingularityThreshold(), 3.0L * 0x1p-63L);
}

}  // namespace
}  // namespace morvex
