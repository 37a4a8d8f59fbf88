// The combined data file: written at full precision and read back to the
// same doubles, NaN where nothing was measured; a strict reader whose every
// refusal names the line, the field and the column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>

#include "numerics/LxTypes.h"
#include "tiredata/CombinedDataFile.h"

namespace morvex {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

TEST(CombinedDataFile, WrittenAtFullPrecisionAndReadBackExactly) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> unit(-1, 1);
  TCombinedDataSet data;
  for (int k = 0; k < 500; ++k) {
    TCombinedSample s;
    s.camber = 4 * unit(random);
    s.load = 1000 + 9000 * std::fabs(unit(random));
    s.slip_angle = 6 * unit(random);
    s.slip_ratio = 0.3 * unit(random);
    s.fx = 5000 * unit(random);
    s.fy = k % 7 == 0 ? kNaN : 5000 * unit(random);
    s.mz = k % 5 == 0 ? kNaN : 100 * unit(random) * std::pow(10.0, -(k % 20));  // tiny values too
    s.mx = k % 2 ? kNaN : 1e-300 * unit(random);
    s.my = -std::fabs(unit(random));
    s.speed = k % 3 ? 16.7 : kNaN;
    data.samples.push_back(s);
  }
  data.samples[1].fx = std::nextafter(1.0, 2.0);
  const std::string text = FormatCombinedData(data, {"written by a test\nsecond line dropped"});
  EXPECT_EQ(text.rfind("MORVEX_COMBINED_DATA 1\n# written by a test\n", 0), 0u);
  const TCombinedDataSet back = ParseCombinedDataText(text);
  ASSERT_EQ(back.samples.size(), data.samples.size());
  for (size_t k = 0; k < data.samples.size(); ++k) {
    const TCombinedSample& a = data.samples[k];
    const TCombinedSample& b = back.samples[k];
    EXPECT_TRUE(SameDouble(a.camber, b.camber) && SameDouble(a.load, b.load) && SameDouble(a.slip_angle, b.slip_angle) &&
                SameDouble(a.slip_ratio, b.slip_ratio) && SameDouble(a.fx, b.fx) && SameDouble(a.fy, b.fy) &&
                SameDouble(a.mz, b.mz) && SameDouble(a.mx, b.mx) && SameDouble(a.my, b.my) &&
                SameDouble(a.speed, b.speed))
        << "point " << k;
  }
  // Through a file, replacing one that exists.
  const std::string path = (std::filesystem::temp_directory_path() / "morvex_combined_test.cmb").string();
  { std::ofstream(path) << "old"; }
  WriteCombinedDataFile(path, data);
  EXPECT_EQ(ReadCombinedDataFile(path).samples.size(), data.samples.size());
  std::remove(path.c_str());
  EXPECT_THROW(WriteCombinedDataFile("/nonexistent-folder/x.cmb", data), EWriteError);
}

// Columns in any order and case, only some measured, with comments, blank
// lines, CR LF, a byte order mark, blanks around fields and empty fields.
TEST(CombinedDataFile, ReadsWhatTheLayoutAllows) {
  const std::string text =
      "\xEF\xBB\xBFMORVEX_COMBINED_DATA 1\r\n# a comment\r\n\r\nSLIP_RATIO; Load ;camber;slip_angle;fx;FY\r\n"
      "-0.1; 4000; 2; -3; -2500.5; \r\n# between points\r\n0.05;4000;2;-3;1800;nan\r\n";
  const TCombinedDataSet d = ParseCombinedDataText(text);
  ASSERT_EQ(d.samples.size(), 2u);
  EXPECT_EQ(d.samples[0].slip_ratio, -0.1);
  EXPECT_EQ(d.samples[0].load, 4000);
  EXPECT_EQ(d.samples[0].camber, 2);
  EXPECT_EQ(d.samples[0].slip_angle, -3);
  EXPECT_EQ(d.samples[0].fx, -2500.5);
  EXPECT_TRUE(std::isnan(d.samples[0].fy));
  EXPECT_TRUE(std::isnan(d.samples[1].mz) && std::isnan(d.samples[1].speed));
}

// Each fault stops the read with its place: "(file F, line N, field K: column)".
TEST(CombinedDataFile, RefusesEveryBreakOfTheLayoutNamingThePlace) {
  const std::string head = "MORVEX_COMBINED_DATA 1\ncamber;load;slip_angle;slip_ratio;fx;fy\n";
  struct Case {
    std::string text;
    std::string expected;  // part of the message
  };
  const Case cases[] = {
      {"", "MORVEX_COMBINED_DATA 1 (file f.cmb, line 1)"},
      {"camber;load\n", "Not a combined data file"},
      {"MORVEX_COMBINED_DATA 2\n", "version '2'"},
      {"MORVEX_COMBINED_DATA 1\n# only a comment\n", "ends before its line of column names"},
      {"MORVEX_COMBINED_DATA 1\ncamber;load;slip_angle;slip_ratio;fz\n", "Unknown column 'fz'"},
      {"MORVEX_COMBINED_DATA 1\ncamber;load;slip_angle;slip_ratio;fx;FX\n", "named twice (file f.cmb, line 2, field 6)"},
      {"MORVEX_COMBINED_DATA 1\ncamber;load;slip_ratio;fx\n", "slip_angle is missing"},
      {"MORVEX_COMBINED_DATA 1\ncamber;load;slip_angle;slip_ratio;speed\n", "No column of a measured"},
      {head, "holds no point"},
      {head + "0;4000;1;0.1;100;200;300\n", "Too many fields: the file has 6 columns (file f.cmb, line 3, field 7)"},
      {head + "0;4000;1;0.1\n", "Too few fields: the row ends after 4 of 6 (file f.cmb, line 3, field 5: fx)"},
      {head + "0;4000;1;0.1;12,5;1\n", "'12,5' is not a number (file f.cmb, line 3, field 5: fx)"},
      {head + "0;;1;0.1;1;1\n", "The set-point load must be a number (file f.cmb, line 3, field 2: load)"},
      {head + "0;-4000;1;0.1;1;1\n", "out of range for load"},
      {head + "0;4000;91;0.1;1;1\n", "out of range for slip_angle"},
      {head + "0;4000;1;11;1;1\n", "out of range for slip_ratio"},
      {head + "0;4000;1;0.1;inf;1\n", "beyond 1e12 (file f.cmb, line 3, field 5: fx)"},
      {head + "0;4000;1;0.1;nan(1);1\n", "is not a number"},
      {head + "0;4000;1;0.1;nan;\n", "holds no measured force or moment (file f.cmb, line 3)"},
      {head + "0;4000;1;0.1;1;1\n" + std::string("0;4000;1;0.1;1;1\0" "5\n", 19), "is not a number (file f.cmb, line 4, field 6: fy)"},
      {head + "0;4000;1;0.1;++1;1\n", "'++1' is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    try {
      ParseCombinedDataText(c.text, "f.cmb");
      ADD_FAILURE() << "read without error";
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.expected), std::string::npos) << e.Message();
    }
  }
}

}  // namespace
}  // namespace morvex
