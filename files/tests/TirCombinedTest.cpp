// The combined-slip, overturning and rolling-resistance keys of a property
// file: read in either convention, their scaling factors folded, written
// back with USE_MODE 4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/TirFile.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/RatedLoad.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

// A PAC2002 file of a published tire with every combined key (its source is
// named in the file).
const std::string kCarTir = std::string(MORVEX_TEST_DATA_DIR) + "/car_185_80R14_pac2002.tir";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TirCombined : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("morvex-tir-combined-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // The car's file with `extra` lines appended to its [SCALING_COEFFICIENTS].
  std::string CarWith(const std::string& extra) const {
    const std::string path = Path("car.tir");
    std::ofstream(path, std::ios::binary) << ReadText(kCarTir) << "[SCALING_COEFFICIENTS]\n" << extra;
    return path;
  }
  fs::path dir_;
};

TCombinedPoint PointOf(const TCoefficientSet& set, const TCombinedCoefficients& combined, double camber, double fz,
                       double alpha, double kappa) {
  return CombinedPointAt(ReadLateralCoefficients(set), ReadAligningCoefficients(set), ReadLongitudinalCoefficients(set),
                         combined, set.Value("R0"), camber, fz, alpha, kappa, 16.7, 16.7);
}

TEST_F(TirCombined, EveryKeyIsReadAndTheOtherConventionNegatesFyAndMzOnly) {
  TMemoryCoefficientSet iso, positive;
  const TTirImportResult as_iso = ImportTir(iso, kCarTir, TSignConvention::kIso);
  const TTirImportResult as_positive = ImportTir(positive, kCarTir, TSignConvention::kPositiveStiffness);
  EXPECT_EQ(as_iso.combined_keys.size(), 31u);
  EXPECT_EQ(as_iso.combined.RBX1, 14.927);
  EXPECT_EQ(as_iso.combined.RVY4, -9.6324e-005);
  EXPECT_EQ(as_iso.combined.SSZ3, 0.3923);
  ASSERT_TRUE(as_iso.longvl.has_value());
  EXPECT_EQ(*as_iso.longvl, 16.7);
  EXPECT_EQ(as_positive.combined.RVY1, -as_iso.combined.RVY1);
  EXPECT_EQ(as_positive.combined.SSZ2, as_iso.combined.SSZ2);

  // The positive-stiffness set is the same tire: Fy and Mz negated, Fx,
  // Mx and My as they were, under combined slip too.  The car's file has
  // no induced lateral force (RVY6 = 0) and no Mx: both are given one, in
  // both conventions through the sign table.
  TCombinedCoefficients iso_combined = as_iso.combined;
  iso_combined.RVY6 = 2.5;
  iso_combined.QSX1 = 0.01;
  iso_combined.QSX2 = 0.3;
  iso_combined.QSX3 = 0.15;
  TCombinedCoefficients positive_combined = iso_combined;
#define MORVEX_FLIP(name) positive_combined.name *= CombinedSignFactor(#name);
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_FLIP)
#undef MORVEX_FLIP
  EXPECT_EQ(positive_combined.RVY1, as_positive.combined.RVY1);
  EXPECT_EQ(positive_combined.SSZ1, as_positive.combined.SSZ1);
  for (double camber : {-2.0, 0.0, 3.0})
    for (double fz : {1500.0, 3800.0, 6000.0})
      for (double alpha : {-8.0, -1.0, 0.5, 6.0})
        for (double kappa : {-0.2, -0.02, 0.0, 0.05, 0.3}) {
          const TCombinedPoint a = PointOf(iso, iso_combined, camber, fz, alpha, kappa);
          const TCombinedPoint b = PointOf(positive, positive_combined, camber, fz, alpha, kappa);
          const auto near = [](double x, double y) { return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(y)); };
          EXPECT_TRUE(near(b.Fy, -a.Fy)) << camber << " " << fz << " " << alpha << " " << kappa;
          EXPECT_TRUE(near(b.Mz, -a.Mz)) << camber << " " << fz << " " << alpha << " " << kappa;
          EXPECT_TRUE(near(b.Fx, a.Fx));
          EXPECT_TRUE(near(b.Mx, a.Mx));
          EXPECT_TRUE(near(b.My, a.My));
        }
}

// LXAL, LYKA, LVYKA, LS, LMX, LVMX and LMY multiply what they scale; a file
// without a combined key reads as weights of 1.
TEST_F(TirCombined, ScalingFactorsFoldAndAbsentKeysLeaveTheirTermOut) {
  TMemoryCoefficientSet plain, scaled;
  const TTirImportResult base = ImportTir(plain, kCarTir, TSignConvention::kIso);
  const TTirImportResult folded =
      ImportTir(scaled, CarWith("LXAL = 0.5\nLYKA = 2\nLVYKA = 3\nLS = 0.25\nLMX = 2\nLVMX = 3\nLMY = 4\n"),
                TSignConvention::kIso);
  EXPECT_EQ(folded.combined.RBX1, 0.5 * base.combined.RBX1);
  EXPECT_EQ(folded.combined.RBY1, 2 * base.combined.RBY1);
  EXPECT_EQ(folded.combined.RVY2, 3 * base.combined.RVY2);
  EXPECT_EQ(folded.combined.SSZ4, 0.25 * base.combined.SSZ4);
  EXPECT_EQ(folded.combined.QSY1, 4 * base.combined.QSY1);
  EXPECT_EQ(folded.combined.RBX2, base.combined.RBX2);
  EXPECT_NE(std::find_if(folded.notes.begin(), folded.notes.end(),
                         [](const std::string& n) { return n.find("LXAL = 0.5") != std::string::npos; }),
            folded.notes.end());

  // Without any combined key: nothing read, the weights stay 1.
  std::string text = ReadText(kCarTir);
  std::string stripped;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!(line.rfind("R", 0) == 0 || line.rfind("SSZ", 0) == 0 || line.rfind("QS", 0) == 0)) stripped += line + "\n";
  std::ofstream(Path("pure.tir"), std::ios::binary) << stripped;
  TMemoryCoefficientSet pure;
  const TTirImportResult none = ImportTir(pure, Path("pure.tir"), TSignConvention::kIso);
  EXPECT_TRUE(none.combined_keys.empty());
  const TCombinedPoint p = PointOf(pure, none.combined, 1.0, 4000, 5.0, 0.1);
  EXPECT_EQ(p.Gxa, 1.0);
  EXPECT_EQ(p.Gyk, 1.0);
  EXPECT_EQ(p.Fx, p.Fx0);
}

// A combined key twice with two values, or not a number, is refused like
// any other key.
TEST_F(TirCombined, DoubtfulCombinedValuesAreRefused) {
  TMemoryCoefficientSet set;
  const std::string twice = Path("twice.tir");
  std::ofstream(twice, std::ios::binary) << ReadText(kCarTir) << "[LATERAL_COEFFICIENTS]\nRBY1 = 7\n";
  try {
    ImportTir(set, twice, TSignConvention::kIso);
    FAIL() << "RBY1 twice must be refused";
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find("RBY1 stands twice"), std::string::npos) << error.what();
  }
  const std::string nan = Path("nan.tir");
  std::string text = ReadText(kCarTir);
  text.replace(text.find("REX2"), 4, "REXX");  // keeps the line count
  text += "[LONGITUDINAL_COEFFICIENTS]\nREX2 = nan\n";
  std::ofstream(nan, std::ios::binary) << text;
  try {
    ImportTir(set, nan, TSignConvention::kIso);
    FAIL() << "REX2 = nan must be refused";
  } catch (const Exception& error) {
    EXPECT_NE(std::string(error.what()).find("REX2 = 'nan'"), std::string::npos) << error.what();
  }
}

// Written again: USE_MODE 4, the values as read, in either convention.
TEST_F(TirCombined, ExportWritesTheCombinedPartBack) {
  for (TSignConvention convention : {TSignConvention::kIso, TSignConvention::kPositiveStiffness}) {
    TMemoryCoefficientSet set, again;
    const TTirImportResult read = ImportTir(set, kCarTir, convention);
    TTirExportOptions options;
    options.convention = convention;
    options.combined = read.combined;
    options.longvl = read.longvl;
    ExportTir(set, Path("out.tir"), options);
    const std::string text = ReadText(Path("out.tir"));
    EXPECT_NE(text.find("USE_MODE                  = 4"), std::string::npos);
    const TTirImportResult back = ImportTir(again, Path("out.tir"), convention);
    EXPECT_EQ(back.combined_keys.size(), 31u);
#define MORVEX_SAME(name) EXPECT_EQ(back.combined.name, read.combined.name) << #name;
    MORVEX_COMBINED_COEFFICIENTS(MORVEX_SAME)
#undef MORVEX_SAME
  }
  // Without a combined part the file stays uncombined.
  TMemoryCoefficientSet set;
  ImportTir(set, kCarTir, TSignConvention::kIso);
  ExportTir(set, Path("pure.tir"), TTirExportOptions{TSignConvention::kIso, std::nullopt, {}, std::nullopt, std::nullopt});
  EXPECT_NE(ReadText(Path("pure.tir")).find("USE_MODE                  = 3"), std::string::npos);
}

// A file built from measurements: the pressure measured, and a USE_MODE
// below 4 with its reason when the data gave only part of combined slip;
// read back, the pressure is the one written.  A pressure that is no
// positive number is refused before anything is written.
TEST_F(TirCombined, MeasuredPressureAndAStatedUseMode) {
  TMemoryCoefficientSet set;
  const TTirImportResult read = ImportTir(set, kCarTir, TSignConvention::kIso);
  TTirExportOptions options;
  options.combined = read.combined;
  options.pressure = 185000;
  options.use_mode = 3;
  options.use_mode_note = "uncombined: no slip ratio was swept at a held slip angle";
  ExportTir(set, Path("measured.tir"), options);
  const std::string text = ReadText(Path("measured.tir"));
  EXPECT_NE(text.find("USE_MODE                  = 3"), std::string::npos);
  EXPECT_NE(text.find("no slip ratio was swept at a held slip angle"), std::string::npos);
  EXPECT_NE(text.find("NOMPRES                   = 185000"), std::string::npos) << text;
  EXPECT_NE(text.find("INFLPRES                  = 185000"), std::string::npos);
  const size_t nompres = text.find("NOMPRES");
  EXPECT_NE(text.substr(nompres, text.find('\n', nompres) - nompres).find("as measured"), std::string::npos);

  options.pressure = -1;
  EXPECT_THROW(ExportTir(set, Path("refused.tir"), options), EConvertError);
  EXPECT_FALSE(fs::exists(Path("refused.tir")));
}

// A set re-expressed at another rated load keeps every combined force and
// moment.
TEST(CombinedReexpression, EveryPointStaysAtAnotherRatedLoad) {
  TMemoryCoefficientSet set;
  const TTirImportResult read = ImportTir(set, kCarTir, TSignConvention::kIso);
  for (double fz0 : {2500.0, 5200.0}) {
    TMemoryCoefficientSet moved;
    CopyCoefficients(set, moved);
    ReexpressAtFz0(moved, fz0);
    TCombinedCoefficients combined = read.combined;
    ReexpressCombinedAtFz0(combined, set.Value("Fz0"), fz0);
    for (double fz : {1200.0, 3800.0, 7000.0})
      for (double alpha : {-7.0, 0.3, 5.0})
        for (double kappa : {-0.15, 0.0, 0.08}) {
          const TCombinedPoint a = PointOf(set, read.combined, 2.0, fz, alpha, kappa);
          const TCombinedPoint b = PointOf(moved, combined, 2.0, fz, alpha, kappa);
          for (auto [x, y] : {std::pair{a.Fx, b.Fx}, std::pair{a.Fy, b.Fy}, std::pair{a.Mz, b.Mz},
                              std::pair{a.Mx, b.Mx}, std::pair{a.My, b.My}})
            EXPECT_NEAR(y, x, 1e-9 * std::max(1.0, std::fabs(x))) << fz0 << " " << fz << " " << alpha << " " << kappa;
        }
  }
}

}  // namespace
}  // namespace morvex
