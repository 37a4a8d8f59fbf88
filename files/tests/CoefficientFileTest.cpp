#include "testing/TestSupport.h"
#include "files/CoefficientFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/ProfileFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "files/tests/FileTestSupport.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

using test::MessageOf;

namespace fs = std::filesystem;

using test::ReadAll;
using test::TempDir;
using test::WriteAll;

// A set whose every text is `text`, to see which values a reader replaced.
TMemoryCoefficientSet SetOfTexts(const std::string& text) {
  TMemoryCoefficientSet set;
  for (const auto& info : Coefficients()) set.SetText(info.name, text);
  return set;
}

const char kForeignFile[] =
    "; hand-written notes\r\n"
    "[VEHICLE]\n"
    "Name = Test car ; the blue one\n"
    "Mass=1350\n"
    "\n"
    "[TIRE RADIUS]\n"
    "; measured on the drum\n"
    "r0 = 0.25\n"
    "Width=0.205\n";

TEST(CoefficientFileExport, NewFileFromDefaultsHasTheFixedLayout) {
  TempDir dir;
  const std::string path = dir.File("coefficients.txt");
  ExportCoefficients(TMemoryCoefficientSet(), path);

  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind(
                "[TIRE RADIUS]\nR0=0.3\n[NOMINAL LOAD]\nFz0=3000\n[PARAMETERS FY]\n"
                "Phy1=0\nPhy2=0\nPhy3=0.25\nPvy1=0\n",
                0),
            0u)
      << text;
  EXPECT_NE(text.find("\n[PARAMETERS FX]\nPCx1=0\n"), std::string::npos);
  EXPECT_NE(text.find("\n[PARAMETERS Mz]\nQBz1=1\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 8), "QCz1=10\n");
  // Five section lines and one line per coefficient, nothing else.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5 + kCoefficientCount);
  EXPECT_EQ(dir.Entries().size(), 1u);  // no temporary file left behind
}

TEST(CoefficientFileExport, RoundTripNormalisesNumberText) {
  TempDir dir;
  const std::string path = dir.File("round.txt");
  TMemoryCoefficientSet original;
  original.SetText("PCy1", "1.30000");
  original.SetText("QDz2", " -0.0000125 ");
  original.SetText("Fz0", "4.5e3");
  ExportCoefficients(original, path);

  TMemoryCoefficientSet back = SetOfTexts("unchanged");
  ImportCoefficients(back, path);
  for (const auto& info : Coefficients())
    EXPECT_EQ(back.Text(info.name), FloatToStr(original.Value(info.name))) << info.name;
  EXPECT_EQ(back.Text("PCy1"), "1.3");
  EXPECT_EQ(back.Text("QDz2"), "-1.25E-5");
  EXPECT_EQ(back.Text("Fz0"), "4500");
}

TEST(CoefficientFileExport, KeepsEveryOtherLineOfAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("existing.txt");
  WriteAll(path, kForeignFile);
  ExportCoefficients(TMemoryCoefficientSet(), path);

  const std::string text = ReadAll(path);
  // The radius line is rewritten in place; everything around it stays.
  const std::string kept =
      "; hand-written notes\r\n[VEHICLE]\nName = Test car ; the blue one\nMass=1350\n\n"
      "[TIRE RADIUS]\n; measured on the drum\nR0=0.3\nWidth=0.205\n";
  EXPECT_EQ(text.substr(0, kept.size()), kept);
  EXPECT_EQ(text.substr(kept.size(), 24), "[NOMINAL LOAD]\nFz0=3000\n");
  EXPECT_EQ(ReadProfileString(path, "vehicle", "NAME"), "Test car");
}

TEST(CoefficientFileExport, BadTextStopsBeforeAnythingIsWritten) {
  TempDir dir;
  TMemoryCoefficientSet set;
  set.SetText("QCz1", "1O");  // the last key written: a late failure must not leave the rest written

  const std::string fresh = dir.File("fresh.txt");
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(set, fresh); }),
            "'1O' n'est pas une valeur en virgule flottante correcte");
  EXPECT_FALSE(fs::exists(fresh));

  const std::string existing = dir.File("existing.txt");
  WriteAll(existing, kForeignFile);
  EXPECT_THROW(ExportCoefficients(set, existing), EConvertError);
  EXPECT_EQ(ReadAll(existing), kForeignFile);
  EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(CoefficientFileExport, UnwritableTargetRaisesWriteError) {
  TempDir dir;
  const TMemoryCoefficientSet set;

  const std::string folder = dir.File("a folder");
  fs::create_directory(folder);
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(set, folder); }), "Impossible d'écrire dans " + folder);
  EXPECT_TRUE(fs::is_empty(folder));

  // A path too long for the INI library fails after the temporary copy was
  // made: the original must survive and the copy must go.
  fs::path deep = dir.path();
  for (int i = 0; i < 5; ++i) deep /= std::string(100, 'd');
  fs::create_directories(deep);
  const std::string long_path = (deep / "coefficients.txt").string();
  WriteAll(long_path, kForeignFile);
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(set, long_path); }), "Impossible d'écrire dans " + long_path);
  EXPECT_EQ(ReadAll(long_path), kForeignFile);
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
}

TEST(CoefficientFileExport, ReadOnlyFolderLeavesTheOriginal) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  const std::string path = dir.File("locked.txt");
  WriteAll(path, kForeignFile);
  fs::permissions(dir.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(MessageOf([&] { ExportCoefficients(TMemoryCoefficientSet(), path); }),
            "Impossible d'écrire dans " + path);
  EXPECT_EQ(ReadAll(path), kForeignFile);
}

TEST(CoefficientFileExport, KeepsThePermissionsOfTheReplacedFile) {
  TempDir dir;
  const std::string path = dir.File("shared.txt");
  WriteAll(path, kForeignFile);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ExportCoefficients(TMemoryCoefficientSet(), path);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // A new file gets what any new file gets, not the private mode of a
  // temporary one.
  const mode_t mask = umask(0);
  umask(mask);
  const std::string fresh = dir.File("fresh.txt");
  ExportCoefficients(TMemoryCoefficientSet(), fresh);
  EXPECT_EQ(static_cast<mode_t>(fs::status(fresh).permissions() & fs::perms::all), 0666 & ~mask);
}

TEST(CoefficientFileExport, UsesTheDecimalSeparator) {
  TempDir dir;
  const std::string path = dir.File("comma.txt");
  SetDecimalSeparator(',');
  struct Restore {
    ~Restore() { SetDecimalSeparator('.'); }
  } restore;
  TMemoryCoefficientSet set;
  for (const auto& info : Coefficients()) {
    std::string text(info.default_text);
    std::replace(text.begin(), text.end(), '.', ',');
    set.SetText(info.name, text);
  }
  set.SetText("PCy1", "1,30000");
  ExportCoefficients(set, path);
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("\nR0=0,3\n"), std::string::npos);
  EXPECT_NE(text.find("\nPcy1=1,3\n"), std::string::npos);
}

TEST(CoefficientFileImport, ReadsOnlyWhatTheFileHolds) {
  TempDir dir;
  const std::string path = dir.File("lateral.txt");
  std::string text = "[PARAMETERS FY]\n";
  for (const auto& info : Coefficients())
    if (info.group == TCoefficientGroup::kLateral) text += std::string(info.export_key) + "=1.50\n";
  WriteAll(path, text);

  TMemoryCoefficientSet set = SetOfTexts("old");
  set.SetFree("PCy1", false);
  ImportCoefficients(set, path);
  int changed = 0;
  for (const auto& info : Coefficients()) {
    const bool lateral = info.group == TCoefficientGroup::kLateral;
    EXPECT_EQ(set.Text(info.name), lateral ? "1.50" : "old") << info.name;
    changed += lateral;
  }
  EXPECT_EQ(changed, 18);
  EXPECT_FALSE(set.Free("PCy1"));
  EXPECT_TRUE(set.Free("PDy1"));

  // A file that cannot be read is an error, not an empty file.
  EXPECT_THROW(ImportCoefficients(set, dir.File("no such file.txt")), EFOpenError);
  EXPECT_EQ(set.Text("R0"), "old");
}

TEST(CoefficientFileImport, MatchesNamesWithoutCaseAndKeepsTextsUnconverted) {
  TempDir dir;
  const std::string path = dir.File("upper.text");
  WriteAll(path,
           "[parameters fy]\nPHY1=0.010\nPCY1=abc\nPky2=\n"
           "[PARAMETERS MZ]\nQBZ10=-2\n");
  TMemoryCoefficientSet set = SetOfTexts("old");
  ImportCoefficients(set, path);
  EXPECT_EQ(set.Text("PHy1"), "0.010");
  EXPECT_EQ(set.Text("PCy1"), "abc");  // accepted here, fails when used
  EXPECT_EQ(set.Text("PKy2"), "");     // present but empty is not missing
  EXPECT_EQ(set.Text("QBz10"), "-2");
  EXPECT_EQ(set.Text("PDy1"), "old");
}

TEST(CoefficientFileStartup, TakesStoredTextsOrTableDefaults) {
  TempDir dir;
  const std::string path = StartupDefaultsPath(dir.path().string());
  EXPECT_EQ(fs::path(path).filename(), "param_fm_ini.ini");

  TMemoryCoefficientSet set = SetOfTexts("old");
  LoadStartupDefaults(set, path);  // no file: every value gets its default
  for (const auto& info : Coefficients()) EXPECT_EQ(set.Text(info.name), info.default_text) << info.name;

  WriteAll(path, "[PARAMETERS Mz]\nQBz1=2\n[NOMINAL LOAD]\nFz0=4000.0\n");
  const std::string before = ReadAll(path);
  set = SetOfTexts("old");
  LoadStartupDefaults(set, path);
  EXPECT_EQ(set.Text("QBz1"), "2");
  EXPECT_EQ(set.Text("Fz0"), "4000.0");
  EXPECT_EQ(set.Text("QBz2"), "0");
  EXPECT_EQ(set.Text("PHx1"), "1.3");
  EXPECT_EQ(ReadAll(path), before);
}

TEST(CoefficientFileStartup, ShippedFileGivesEveryValueAsANumber) {
  const std::string path = std::string(MORVEX_SOURCE_DIR) + "/files/param_fm_ini.ini";
  for (const auto& info : Coefficients()) {
    const auto text =
        ReadProfileString(path, std::string(info.startup_section), std::string(info.startup_key));
    ASSERT_TRUE(text.has_value()) << info.name;
    double value = 0;
    EXPECT_TRUE(TryStrToFloat(*text, value)) << info.name << " = " << *text;
  }
}

TEST(ProfileFile, WritesAreRefusedRatherThanTruncated) {
  TempDir dir;
  const std::string path = dir.File("p.ini");
  EXPECT_TRUE(WriteProfileString(path, "S", "k", "1"));
  EXPECT_FALSE(WriteProfileString(path, "S", "k", "1\n[T]"));
  EXPECT_FALSE(WriteProfileString(path, "S", "k", std::string(600, '9')));
  EXPECT_TRUE(WriteProfileString(path, "S", "k", std::string(400, '9')));
  EXPECT_EQ(ReadProfileString(path, "s", "K"), std::string(400, '9'));
  EXPECT_EQ(ReadProfileString(path, "S", "other"), std::nullopt);
}

TEST(CoefficientFileImport, AFileWithoutTheChannelsKeysIsRefusedAndUnknownKeysNamed) {
  TempDir dir;
  const std::string path = dir.File("odd.txt");
  struct Case {
    std::string text;
    std::optional<TCoefficientGroup> group;
    std::string reason;
  };
  const Case cases[] = {
      {"", std::nullopt, "none of the coefficients of Morvex's coefficient files"},
      {"garbage\n\x01\x02 = 3\n[PARAMETERS FY]\nPcy 1 = 2\n", std::nullopt, "none of the coefficients"},
      // A longitudinal file for a lateral fit: the lateral values would be
      // the start-up ones.
      {"[PARAMETERS FX]\nPcx1=1.6\nPdx1=1.2\n", TCoefficientGroup::kLateral,
       "none of the coefficients of the lateral force (keys such as"},
      {"[TIRE RADIUS]\nR0=0.3\n[PARAMETERS FY]\nPcy1=1\n", TCoefficientGroup::kAligning,
       "of the aligning moment"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    WriteAll(path, c.text);
    TMemoryCoefficientSet set = SetOfTexts("old");
    const std::string message = MessageOf([&] { ImportCoefficients(set, path, c.group); });
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    for (const auto& info : Coefficients()) EXPECT_EQ(set.Text(info.name), "old") << info.name;
  }
  // Read, with the lines that are no coefficient named.
  WriteAll(path, "; comment\n[PARAMETERS FY]\nPcy1=1.4\nPcy9=3\n[COLOUR]\nRed=1\n[NOMINAL LOAD]\nFz0=4000\n");
  TMemoryCoefficientSet set = SetOfTexts("old");
  const TCoefficientImportResult result = ImportCoefficients(set, path, TCoefficientGroup::kLateral);
  EXPECT_EQ(set.Text("PCy1"), "1.4");
  EXPECT_EQ(set.Text("Fz0"), "4000");
  ASSERT_EQ(result.notes.size(), 1u);
  EXPECT_NE(result.notes[0].find("[PARAMETERS FY] Pcy9 (line 4), [COLOUR] Red (line 6)"), std::string::npos)
      << result.notes[0];
}

}  // namespace
}  // namespace morvex
