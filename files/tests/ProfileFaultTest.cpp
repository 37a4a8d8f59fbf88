// Regression tests of profile files that real users hand the program: a
// byte-order mark from a Windows editor, very long lines, CR LF line ends,
// and the shipped files read under a decimal-comma locale.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "files/CoefficientFile.h"
#include "numerics/ProfileFile.h"
#include "files/tests/FileTestSupport.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

const std::string kBom = "\xEF\xBB\xBF";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ProfileFileFaults, ByteOrderMarkDoesNotHideTheFirstSection) {
  TempDir dir;
  const std::string path = dir.File("bom.txt");
  WriteAll(path, kBom + "[TIRE RADIUS]\r\nR0=0.28\r\n[NOMINAL LOAD]\r\nFz0=3500\r\n");
  TMemoryCoefficientSet set;
  ImportCoefficients(set, path);
  EXPECT_EQ(set.Text("R0"), "0.28");
  EXPECT_EQ(set.Text("Fz0"), "3500");

  // Exporting into it rewrites the section in place: no second one, the
  // mark stays where it was.
  ExportCoefficients(set, path);
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind(kBom + "[TIRE RADIUS]\r\nR0=0.28\r\n", 0), 0u) << text;
  EXPECT_EQ(Count(text, "[TIRE RADIUS]"), 1u);
  EXPECT_EQ(Count(text, "[NOMINAL LOAD]"), 1u);
  EXPECT_EQ(Count(text, kBom), 1u);
}

TEST(ProfileFileFaults, LongLinesAreReadWholeAndNeverSplitIntoKeys) {
  TempDir dir;
  const std::string path = dir.File("long.txt");
  // A comment line of 520 characters whose text past byte 511 looks like a
  // key: a reader with a 512-byte line buffer took it for "Pcy1=7".
  std::string comment = "; " + std::string(509, 'x');
  comment += "Pcy1=7";
  comment += std::string(520 - comment.size(), ' ');
  ASSERT_EQ(comment.size(), 520u);
  const std::string long_value(700, '5');
  WriteAll(path, "[PARAMETERS FY]\n" + comment + "\nPdy1=" + long_value + "\nPey1=0.5\n");

  TMemoryCoefficientSet set;
  set.SetText("PCy1", "1.3");
  ImportCoefficients(set, path);
  EXPECT_EQ(set.Text("PCy1"), "1.3");
  EXPECT_EQ(set.Text("PDy1"), long_value);  // not cut short
  EXPECT_EQ(set.Text("PEy1"), "0.5");
  EXPECT_EQ(ReadProfileString(path, "PARAMETERS FY", "Pdy1"), long_value);
}

TEST(ProfileFileFaults, CrLfFilesKeepCrLfOnRewrittenAndAddedLines) {
  TempDir dir;
  const std::string path = dir.File("windows.txt");
  WriteAll(path, "; notes\r\n[TIRE RADIUS]\r\nR0=0.25\r\n\r\n[PARAMETERS FY]\r\nPcy1=1.1\r\n");
  TMemoryCoefficientSet set;
  ExportCoefficients(set, path);
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind("; notes\r\n[TIRE RADIUS]\r\nR0=0.3\r\n\r\n[PARAMETERS FY]\r\nPcy1=", 0), 0u) << text;
  // Every line end of the file is still CR LF.
  EXPECT_EQ(Count(text, "\n"), Count(text, "\r\n"));
  EXPECT_EQ(Count(text, "[PARAMETERS FY]"), 1u);
}

TEST(ProfileFileFaults, ShippedAndBuiltInNumbersConvertUnderADecimalComma) {
  SetDecimalSeparator(',');
  struct Restore {
    ~Restore() { SetDecimalSeparator('.'); }
  } restore;
  TempDir dir;
  const std::string shipped = std::string(MORVEX_SOURCE_DIR) + "/files/param_fm_ini.ini";
  for (const std::string& path : {shipped, dir.File("missing.ini")}) {
    TMemoryCoefficientSet set;
    LoadStartupDefaults(set, path);
    for (const auto& info : Coefficients()) {
      EXPECT_NO_THROW((void)set.Value(info.name)) << path << ": " << info.name << " = " << set.Text(info.name);
    }
  }
  TMemoryCoefficientSet set;
  LoadStartupDefaults(set, shipped);
  EXPECT_EQ(set.Text("R0"), "0,3135");
  EXPECT_EQ(set.Value("R0"), 0.3135);
  // A text that already uses the separator, or is no number, stays as it is.
  EXPECT_EQ(PointTextToLocal("1,5"), "1,5");
  EXPECT_EQ(PointTextToLocal("abc"), "abc");
  EXPECT_EQ(PointTextToLocal("-2.5E-3"), "-2,5E-3");
}

}  // namespace
}  // namespace morvex
