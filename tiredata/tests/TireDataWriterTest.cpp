#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiredata/TireDataWriter.h"

namespace morvex {
namespace {

TTireDataSet Sample() {
  TTireDataSet data;
  TLoadCase a;
  a.Camber = -2.5;
  a.Loads = {1999.5, 4000};
  a.Slips = {-0.125, 0, 1.0 / 3.0};
  a.Values = {-1234.56789012345, -2345.6, 0, 1e-7, 987.654321, 1876.5};
  data.Cases.push_back(a);
  TLoadCase b;
  b.Camber = 4;
  b.Loads = {3000};
  b.Slips = {-1, 1};
  b.Values = {-1500, 1500};
  data.Cases.push_back(b);
  return data;
}

// What the writer writes, the reader reads back, to 15 significant digits,
// with either decimal separator; header lines cannot start a block.
TEST(TireDataWriter, ReadsBackWhatItWrites) {
  for (char separator : {'.', ','}) {
    SetDecimalSeparator(separator);
    const TTireDataSet data = Sample();
    const std::string text = FormatTireData(data, {"Imported from run.dat: LOAD_CASE per inclination", "two\nlines"});
    const TTireDataSet back = ParseTireDataText(text);
    ASSERT_EQ(back.Cases.size(), 2u);
    for (size_t c = 0; c < 2; ++c) {
      const TLoadCase& x = data.Cases[c];
      const TLoadCase& y = back.Cases[c];
      EXPECT_EQ(x.Camber, y.Camber);
      ASSERT_EQ(x.Loads.size(), y.Loads.size());
      ASSERT_EQ(x.Values.size(), y.Values.size());
      for (size_t k = 0; k < x.Loads.size(); ++k) EXPECT_EQ(x.Loads[k], y.Loads[k]);
      for (size_t k = 0; k < x.Slips.size(); ++k) EXPECT_NEAR(x.Slips[k], y.Slips[k], 1e-14 * std::fabs(x.Slips[k]));
      for (size_t k = 0; k < x.Values.size(); ++k)
        EXPECT_NEAR(x.Values[k], y.Values[k], 1e-14 * std::fabs(x.Values[k]));
    }
    EXPECT_EQ(text.find("lines"), std::string::npos);
    EXPECT_NE(text.find("LOAD CASE per inclination"), std::string::npos);
  }
  SetDecimalSeparator('.');
}

TEST(TireDataWriter, WritesThroughATemporaryFile) {
  const std::string path = (std::filesystem::temp_directory_path() / "morvex-writer-test.plt").string();
  WriteTireDataFile(path, Sample(), {"test"});
  EXPECT_EQ(ReadTireDataFile(path).Cases.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  std::remove(path.c_str());
  EXPECT_THROW(WriteTireDataFile("/nonexistent-folder/x.plt", Sample(), {}), EWriteError);
}

}  // namespace
}  // namespace morvex
