// The run-file readers on small hand-written files: each awkward layout a
// rig or a spreadsheet writes, and each malformed file with the line and
// column its message must name.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "rigdata/RawImport.h"
#include "rigdata/RunFile.h"
#include "tiredata/TireDataFile.h"
#include "testing/TestSupport.h"

namespace morvex {
namespace {

using test::MessageOf;

// A few rows of a flat-track run (tab-separated, names and units as the
// public TTC files have them, with "deg C" holding a blank).
const char kTabRun[] =
    "TIRF Data File: Project 1320; Run 50\n"
    "ET\tV\tSA\tIA\tP\tFY\tFZ\tMZ\tTSTC\tSR\n"
    "sec\tkph\tdeg\tdeg\tkPa\tN\tN\tN-m\tdeg C\tnone\n"
    "0.00\t40.2\t-1.0\t0.01\t83.1\t1500\t-4000\t-30\t45.0\t0.001\n"
    "0.02\t40.1\t-0.5\t0.00\t83.0\t760\t-4010\t-15\t45.1\t0.000\n";

TEST(RunFile, TabSeparatedWithTitleNamesAndUnits) {
  const TRunHeader header = ReadRunHeader(kTabRun);
  EXPECT_EQ(header.format, TRunFormat::kDelimited);
  EXPECT_EQ(header.delimiter, TRunDelimiter::kTab);
  EXPECT_EQ(header.title, "TIRF Data File: Project 1320; Run 50");
  ASSERT_EQ(header.columns.size(), 10u);
  EXPECT_EQ(header.columns[2].name, "SA");
  EXPECT_EQ(header.columns[8].unit, "deg C");
  EXPECT_EQ(header.columns[7].unit, "N-m");
  EXPECT_EQ(header.first_data_line, 4u);
  const TRunTable table = ReadRunRows(kTabRun, header, {6, 2});
  ASSERT_EQ(table.rows, 2u);
  EXPECT_EQ(table.values[0][1], -4010);
  EXPECT_EQ(table.values[1][0], -1.0);
}

// Other layouts: no title, no units, other delimiters, CR LF and CR line
// ends, blank lines, quoted names, a decimal comma, a missing value.
TEST(RunFile, OtherLayouts) {
  struct Case {
    const char* text;
    TRunReadOptions options;
    TRunDelimiter delimiter;
    bool units;
  };
  TRunReadOptions comma_decimal;
  comma_decimal.decimal_separator = ',';
  const Case cases[] = {
      {"SA,FZ,FY\r\n-1.5,4000,2100\r\n1.5,4000,-2100\r\n", {}, TRunDelimiter::kComma, false},
      {"\"SA\";\"FZ\";\"FY\"\n\"deg\";\"kN\";\"N\"\n-1,5;4;2100\n1,5;4;-2100\n", comma_decimal,
       TRunDelimiter::kSemicolon, true},
      {"  SA   FZ    FY\r\r  -1.5 4000  2100\r 1.5  4000 -2100", {}, TRunDelimiter::kWhitespace, false},
      {"free text\n\nSA FZ FY\ndeg N N\n\n-1.5 4000 2100\n1.5 4000 NaN\n", {}, TRunDelimiter::kWhitespace, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TRunHeader header = ReadRunHeader(c.text, c.options);
    EXPECT_EQ(header.delimiter, c.delimiter);
    EXPECT_EQ(header.has_units, c.units);
    ASSERT_EQ(header.columns.size(), 3u);
    EXPECT_EQ(header.columns[0].name, "SA");
    const TRunTable table = ReadRunRows(c.text, header, {0, 2}, c.options);
    ASSERT_EQ(table.rows, 2u);
    EXPECT_EQ(table.values[0][0], -1.5);
    EXPECT_EQ(table.values[1][0], 2100);
  }
  const TRunHeader header = ReadRunHeader(cases[3].text);
  EXPECT_EQ(header.title, "free text");
  EXPECT_TRUE(std::isnan(ReadRunRows(cases[3].text, header, {2}).values[0][1]));
}

// The readers' numbers are exactly those of the standard conversion
// (std::from_chars, correctly rounded), whichever way they are parsed.
TEST(RunFile, NumbersAreCorrectlyRounded) {
  const char* numbers[] = {"-0.00017", "0.1", "4012.37", "-4012.3700", "123456789012345678", "9007199254740993",
                           "9007199254740992", "1.7976931348623157", "0.30000000000000004", "1e-5", "-2.5E3",
                           "0.0000000000000000000001", "3.14159265358979323846", "+7.5", ".5", "5."};
  std::string text = "A B\n";
  for (const char* n : numbers) text += std::string(n) + " 0\n";
  const TRunHeader header = ReadRunHeader(text);
  const TRunTable table = ReadRunRows(text, header, {0});
  ASSERT_EQ(table.rows, std::size(numbers));
  for (size_t k = 0; k < std::size(numbers); ++k) {
    std::string_view n = numbers[k];
    if (n[0] == '+') n.remove_prefix(1);
    double expected = 0;
    std::from_chars(n.data(), n.data() + n.size(), expected);
    EXPECT_EQ(table.values[0][k], expected) << numbers[k];
  }
}

// A run file larger than the tire data files' limit is refused from its
// size, before any of it is read.
TEST(RunFile, TooLargeFileIsRefused) {
  const std::string path = (std::filesystem::temp_directory_path() / "morvex-huge-run.dat").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "SA IA FZ FY\n";
  }
  std::filesystem::resize_file(path, kMaxTireDataFileBytes + 1);
  EXPECT_NE(MessageOf([&] { ImportRunFile(path, TRawImportOptions{}); }).find("is too large"), std::string::npos);
  std::filesystem::remove(path);
}

TEST(RunFile, RowLimitStopsEarly) {
  const TRunHeader header = ReadRunHeader(kTabRun);
  const TRunTable table = ReadRunRows(kTabRun, header, {0}, {}, 1);
  EXPECT_EQ(table.rows, 1u);
  EXPECT_TRUE(table.truncated);
}

// Messages name the line and the column, and the text at fault.
TEST(RunFile, MalformedDelimitedFiles) {
  std::string bad = kTabRun;
  bad.replace(bad.find("-4010"), 5, "-4O10");
  const TRunHeader header = ReadRunHeader(bad);
  EXPECT_EQ(MessageOf([&] { ReadRunRows(bad, header, {6}); }), "Line 5, column 7 (FZ): '-4O10' is not a number");

  std::string short_row = kTabRun;
  short_row += "0.04\t40.0\t0.0\n";
  EXPECT_EQ(MessageOf([&] { ReadRunRows(short_row, ReadRunHeader(short_row), {6}); }),
            "Line 6, column 4 (IA): the row ends after 3 fields; the file has 10 channels");

  EXPECT_EQ(MessageOf([] { ReadRunHeader("1 2 3\n4 5 6\n"); }),
            "Line 1: the run file starts with numbers; it needs a row of channel names above its samples");
  EXPECT_NE(MessageOf([] { ReadRunHeader("a\nb\nc\nd\n1 2\n"); }).find("Line 4: expected a row of numbers"),
            std::string::npos);
  EXPECT_NE(MessageOf([] { ReadRunHeader("SA FY FZ\n"); }).find("holds no row of numbers"), std::string::npos);
  EXPECT_NE(MessageOf([] { ReadRunHeader(""); }).find("empty"), std::string::npos);
}

// The import names the missing channel and the unit it cannot read.
TEST(RunFile, MissingChannelAndUnreadableUnit) {
  std::string no_ia = kTabRun;
  no_ia.replace(no_ia.find("\tIA\t"), 4, "\tXX\t");
  TRawImportOptions options;
  EXPECT_EQ(MessageOf([&] { ImportRunText(no_ia, options); }).substr(0, 98),
            "Line 2: the run file has no channel for the inclination (looked for IA/INCLANGL/CAMBER/GAMMA); its");

  std::string bad_unit = kTabRun;
  bad_unit.replace(bad_unit.find("\tN\tN\t"), 5, "\tN\tkg\t");
  EXPECT_EQ(MessageOf([&] { ImportRunText(bad_unit, options); }),
            "Line 3, column 7: the unit 'kg' of channel FZ (load) cannot be read; known units: N, kN, lbf");

  options.mapping[static_cast<size_t>(TRunRole::kLoad)] = "LOAD";
  EXPECT_NE(MessageOf([&] { ImportRunText(kTabRun, options); }).find("Line 2: the run file has no channel 'LOAD'"),
            std::string::npos);
}

// Units are converted to the import's own: exact conversion factors of
// NIST SP 811 (1 lbf = 4.4482216152605 N, 1 psi = 6.894757293168361 kPa)
// and degrees from radians.
TEST(RunFile, UnitsAreConverted) {
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kForce, "lbf"), 4.4482216152605);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kForce, "kN"), 1000);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kPressure, "psi"), 6.894757293168361);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kPressure, "Pa"), 0.001);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kAngle, "rad"), 180 / 3.14159265358979323846);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kMoment, "N-m"), 1);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kMoment, "N m"), 1);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kMoment, "ft-lb"), 1.3558179483314004);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kRatio, "%"), 0.01);
  EXPECT_DOUBLE_EQ(*UnitFactor(TQuantity::kSpeed, "mph"), 1.609344);
  EXPECT_FALSE(UnitFactor(TQuantity::kForce, "kg"));
  EXPECT_FALSE(UnitFactor(TQuantity::kAngle, "N"));
}

const char kTydex[] =
    "**HEADER\n"
    "RELEASE   Release of TYDEX format                 1.3\n"
    "**CONSTANTS\n"
    "FNOMIN    Nominal load                  N         4000\n"
    "**MEASURCHANNELS\n"
    "! a note\n"
    "SLIPANGL  Slip angle                    rad       0.01745329\n"
    "FZW       Vertical load                 kN        0.001     0         0\n"
    "FYW       Lateral force                 N         1         5         0\n"
    "**MEASURDATA\n"
    " 2.0  4000  -1500\n"
    "-2.0  4000  NOTAVAIL\n"
    "**END\n";

TEST(RunFile, TydexChannelsFactorsAndNotes) {
  const TRunHeader header = ReadRunHeader(kTydex);
  EXPECT_EQ(header.format, TRunFormat::kTydex);
  EXPECT_EQ(header.title, "RELEASE=1.3");
  ASSERT_EQ(header.columns.size(), 3u);
  EXPECT_EQ(header.columns[1].name, "FZW");
  EXPECT_EQ(header.columns[1].unit, "kN");
  EXPECT_EQ(header.columns[1].factor, 0.001);
  ASSERT_EQ(header.notes.size(), 1u);
  EXPECT_NE(header.notes[0].find("FYW"), std::string::npos);
  const TRunTable table = ReadRunRows(kTydex, header, {0, 1, 2});
  ASSERT_EQ(table.rows, 2u);
  EXPECT_DOUBLE_EQ(table.values[0][0], 2.0 * 0.01745329);
  EXPECT_DOUBLE_EQ(table.values[1][0], 4.0);  // kN
  EXPECT_TRUE(std::isnan(table.values[2][1]));
}

TEST(RunFile, MalformedTydexFiles) {
  std::string cut = kTydex;
  cut.resize(cut.find("**END"));
  EXPECT_EQ(MessageOf([&] { ReadRunHeader(cut); }),
            "Line 10: the **MEASURDATA block that starts here runs to the end of the file without **END: the file "
            "is cut short");
  std::string short_row = kTydex;
  short_row.replace(short_row.find("-2.0  4000  NOTAVAIL"), 20, "-2.0  4000");
  EXPECT_EQ(MessageOf([&] { ReadRunRows(short_row, ReadRunHeader(short_row), {0}); }),
            "Line 12, column 3 (FYW): the row ends after 2 fields; the file has 3 channels (a row cut short?)");
  std::string bad_factor = kTydex;
  bad_factor.replace(bad_factor.find("0.001 "), 6, "0.0x1 ");
  EXPECT_EQ(MessageOf([&] { ReadRunHeader(bad_factor); }),
            "Line 8, column 51: the conversion factor '0.0x1' of channel FZW is not a number");
  EXPECT_NE(MessageOf([] { ReadRunHeader("**HEADER\n**MEASURDATA\n1 2\n**END\n"); }).find("comes before any"),
            std::string::npos);
  EXPECT_NE(MessageOf([] { ReadRunHeader("**MEASURCHANNELS\nFZW short\n"); }).find("Line 2: a **MEASURCHANNELS"),
            std::string::npos);
}

}  // namespace
}  // namespace morvex
