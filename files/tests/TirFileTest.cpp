#include "files/TirFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/CoefficientFile.h"
#include "files/SignConvention.h"
#include "files/tests/FileTestSupport.h"
#include "files/tests/TirReference.h"
#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "testing/TestSupport.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

using test::MessageOf;
using test::ReadAll;
using test::StrictTirRead;
using test::TempDir;
using test::WriteAll;

std::string Data(const std::string& name) { return std::string(MORVEX_TEST_DATA_DIR) + "/" + name; }

// A set whose every text is "0": a key the file leaves out then counts as 0,
// as in the reference evaluation.
TMemoryCoefficientSet ZeroSet() {
  TMemoryCoefficientSet set;
  for (const auto& info : Coefficients()) set.SetText(info.name, "0");
  return set;
}

struct TPoint {
  double fy, mz, fx;
};

// Morvex's one-point functions; camber and slip angle in degrees.
TPoint MorvexAt(const TCoefficientSet& set, double camber_deg, double fz, double alpha_deg, double kappa) {
  const TLateralCoefficients lateral = ReadLateralCoefficients(set);
  const TAligningCoefficients aligning = ReadAligningCoefficients(set);
  const TLongitudinalCoefficients longitudinal = ReadLongitudinalCoefficients(set);
  return {LateralForce(lateral, camber_deg, fz, alpha_deg),
          AligningMoment(lateral, aligning, set.Value("R0"), camber_deg, fz, alpha_deg),
          LongitudinalForce(longitudinal, camber_deg, fz, kappa)};
}

constexpr double kCambers[] = {-3.0, 0.0, 2.5};
constexpr double kLoadFactors[] = {0.4, 1.0, 1.7};
constexpr double kSlipAngles[] = {-10.0, -3.0, -0.4, 0.0, 0.7, 4.0, 12.0};
constexpr double kSlipRatios[] = {-0.3, -0.05, 0.0, 0.02, 0.1, 0.4, -0.02};

double Close(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); }

// Compares Morvex, after importing `file`, with the reference equations
// evaluated on the file's own keys over a grid of cambers, loads and slips.
void ExpectSameModel(const std::string& file, TMemoryCoefficientSet set = ZeroSet()) {
  ImportTir(set, file, TSignConvention::kIso);
  const test::TStrictTir tir = StrictTirRead(file);
  const double fz0 = tir.Number("VERTICAL", "FNOMIN");
  int compared = 0;
  for (double camber : kCambers)
    for (double load : kLoadFactors)
      for (size_t i = 0; i < std::size(kSlipAngles); ++i) {
        const double fz = load * fz0;
        const TPoint m = MorvexAt(set, camber, fz, kSlipAngles[i], kSlipRatios[i]);
        const test::TMf52Point r = test::Mf52(tir, kSlipAngles[i] * M_PI / 180, camber * M_PI / 180, fz, kSlipRatios[i]);
        EXPECT_TRUE(Close(m.fy, r.fy)) << file << " Fy at " << camber << "/" << fz << "/" << kSlipAngles[i] << ": "
                                       << m.fy << " vs " << r.fy;
        EXPECT_TRUE(Close(m.mz, r.mz)) << file << " Mz at " << camber << "/" << fz << "/" << kSlipAngles[i] << ": "
                                       << m.mz << " vs " << r.mz;
        EXPECT_TRUE(Close(m.fx, r.fx)) << file << " Fx at " << camber << "/" << fz << "/" << kSlipRatios[i] << ": "
                                       << m.fx << " vs " << r.fx;
        ++compared;
      }
  EXPECT_EQ(compared, 63);
}

// `text` with the keys an import requires (and cannot take as 0) that it
// does not hold already, added under a section of their own: the import
// finds a key in whatever section holds it.
std::string WithRequiredKeys(const std::string& text) {
  const std::pair<const char*, const char*> required[] = {
      {"FNOMIN", "4000"}, {"UNLOADED_RADIUS", "0.3"}, {"PCY1", "1.3"}, {"PDY1", "1"},  {"PKY1", "-20"},
      {"PKY2", "1.5"},    {"PCX1", "1.6"},            {"PDX1", "1.1"}, {"PKX1", "20"}, {"QBZ1", "10"},
      {"QCZ1", "1.1"},    {"QDZ1", "0.1"}};
  std::string upper = AsciiUpper(text), added = "\n[TEST_REQUIRED]\n";
  for (const auto& [key, value] : required)
    if (upper.find(std::string("\n") + key + " ") == std::string::npos &&
        upper.find(std::string("\n") + key + "=") == std::string::npos)
      added += std::string(key) + " = " + value + "\n";
  return text + added;
}

bool Contains(const std::vector<std::string>& notes, const std::string& what) {
  return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(what) != std::string::npos; });
}

// ------------------------------------------------------------------ import

TEST(TirImport, PublishedFilesEvaluateAsThePublishedEquations) {
  // Car (LFZO 0.81), SUV (LFZO 1.76), truck (MF-Tyre 5.0, vendor section,
  // tables), FSAE MF 5.2 and MF 6.1 (read with the 2002 equations).
  for (const char* name : {"sedan_pac02.tir", "suv_pac02.tir", "truck_mf05.tir", "fsae_mf52.tir", "fsae_mf61.tir"}) {
    SCOPED_TRACE(name);
    ExpectSameModel(Data(name));
  }
}

TEST(TirImport, ScalingFactorsFoldExactlyIntoTheCoefficients) {
  // Every factor of the pure-slip equations away from 1 at once.
  TempDir dir;
  std::string text = ReadAll(Data("sedan_pac02.tir"));
  const std::pair<const char*, const char*> factors[] = {
      {"LCX", "1.1"}, {"LMUX", "0.9"}, {"LEX", "1.2"},  {"LKX", "0.8"},  {"LHX", "1.3"},  {"LVX", "0.7"},
      {"LGAX", "1.4"}, {"LCY", "1.05"}, {"LMUY", "0.85"}, {"LEY", "1.15"}, {"LKY", "1.25"}, {"LHY", "0.75"},
      {"LVY", "1.35"}, {"LGAY", "-0.6"}, {"LTR", "1.45"}, {"LRES", "0.65"}, {"LGAZ", "1.55"}};
  for (const auto& [key, value] : factors) {
    const std::string from = std::string(key) + std::string(25 - std::string(key).size(), ' ') + "= 1   ";
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << key;
    text.replace(at, from.size(), std::string(key) + " = " + value + " ");
  }
  const std::string path = dir.File("scaled.tir");
  WriteAll(path, text);
  ExpectSameModel(path);

  TMemoryCoefficientSet set = ZeroSet();
  const TTirImportResult result = ImportTir(set, path, TSignConvention::kIso);
  EXPECT_TRUE(Contains(result.notes, "LFZO = 0.81")) << result.notes.size();
  EXPECT_TRUE(Contains(result.notes, "LGAY = -0.6"));
}

TEST(TirImport, RefusesWhatCannotBeConvertedAndChangesNothing) {
  TempDir dir;
  const std::string base = ReadAll(Data("fsae_mf52.tir"));
  struct Case {
    std::string from, to, message_part;
  };
  const Case cases[] = {
      {"FITTYP                       = 6 ", "FITTYP = 60 ", "FITTYP = 60"},
      {"ANGLE                        = 'radians'", "ANGLE = 'deg'", "unit 'deg'"},
      {"LENGTH                       = 'meter'", "LENGTH = 'furlong'", "unit 'furlong'"},
      {"LMUY                         = 1 ", "LMUY = 0 ", "LMUY"},
      {"LKY                          = 1 ", "LKY = abc ", "LKY"},
      {"LVY                          = 1 ", "LVY = 1\nLMUV = 0.1 ", "LMUV"},
  };
  for (const Case& c : cases) {
    std::string text = base;
    const size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, c.from.size(), c.to);
    const std::string path = dir.File("refused.tir");
    WriteAll(path, text);
    TMemoryCoefficientSet set;
    const TMemoryCoefficientSet before = set;
    const std::string message = MessageOf([&] { ImportTir(set, path); });
    EXPECT_NE(message.find(c.message_part), std::string::npos) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    for (const auto& info : Coefficients()) EXPECT_EQ(set.Text(info.name), before.Text(info.name));
  }
  TMemoryCoefficientSet set;
  EXPECT_EQ(MessageOf([&] { ImportTir(set, dir.File("none.tir")); }),
            "Impossible d'ouvrir le fichier " + dir.File("none.tir"));
}

TEST(TirImport, UnitsConvertRadiusAndLoad) {
  TempDir dir;
  const std::string path = dir.File("units.tir");
  WriteAll(path, WithRequiredKeys("[UNITS]\nLENGTH = 'mm'\nFORCE = 'kn'\nANGLE = 'radian'\n[MODEL]\nFITTYP = 6\n"
                                  "[DIMENSION]\nUNLOADED_RADIUS = 313.5\n[VERTICAL]\nFNOMIN = 4.5\n"));
  TMemoryCoefficientSet set;
  const TTirImportResult result = ImportTir(set, path, TSignConvention::kIso);
  EXPECT_EQ(set.Value("R0"), 0.3135);
  EXPECT_EQ(set.Value("Fz0"), 4500);
  EXPECT_TRUE(Contains(result.notes, "converted from the units"));
  EXPECT_TRUE(Contains(result.notes, "PEY1"));  // not in the file: named
}

TEST(TirImport, Mf6FileSaysInOneMessageWhatWasDropped) {
  TMemoryCoefficientSet set;
  const TTirImportResult result = ImportTir(set, Data("fsae_mf61.tir"), TSignConvention::kIso);
  int mf6_notes = 0;
  for (const std::string& note : result.notes)
    if (note.find("6.x") != std::string::npos) {
      ++mf6_notes;
      for (const char* term : {"PKY5 = 41.7183", "PKY6", "PKY7", "PEY5", "PPY1", "PPX1", "QDZ10", "QDZ11"})
        EXPECT_NE(note.find(term), std::string::npos) << term;
      EXPECT_EQ(note.find("PKY4"), note.find("PKY4, PKY5, PEY5"));  // PKY4 = 2 is the 2002 form: not dropped
      EXPECT_NE(note.find("approximation"), std::string::npos);
      EXPECT_NE(note.find("refit"), std::string::npos);
    }
  EXPECT_EQ(mf6_notes, 1);
  EXPECT_EQ(set.Text("PKy1"), "-18.9867");
}

TEST(TirImport, LexicalOddities) {
  TempDir dir;
  const std::string path = dir.File("odd.tir");
  // BOM, CR LF, '!' and '$' comments, a commented-out key, a value glued to
  // its comment, an empty value, an unquoted string, the same key in two
  // sections, a table with '=' in it, a 3-digit exponent, lower-case keys.
  const std::string odd =
      "\xEF\xBB\xBF[MDI_HEADER]\r\n! : COMMENT : test\r\n$---units\r\n[UNITS]\r\nLENGTH='meter'\r\n"
      "MASS = kg\r\n[MODEL]\r\nFITTYP = 21 $ MF 5.2\r\n!PCY1 = 9\r\n[INERTIA]\r\nMASS = 12\r\n"
      "[SHAPE]\r\n{radial width}\r\n 1.0 0.0\r\nPCY1 = 8\r\n[LATERAL_COEFFICIENTS]\r\n"
      "PCY1 = 1.3$shape\r\nPDY2 =\r\npky1 = -2.0e+001   $ stiffness\r\n";
  TMemoryCoefficientSet set;
  set.SetText("PDy2", "keep");
  set.SetText("PEy1", "keep too");
  // A value that is no number is refused with its key and line.
  WriteAll(path, WithRequiredKeys(odd + "PEY1 = 'x'\r\n"));
  const std::string refusal = MessageOf([&] { ImportTir(set, path, TSignConvention::kIso); });
  EXPECT_NE(refusal.find("PEY1 = 'x' (line 20)"), std::string::npos) << refusal;
  EXPECT_EQ(set.Text("PEy1"), "keep too");
  // An empty value is no value: PDY2 is 0, as PEY1, absent, is.
  WriteAll(path, WithRequiredKeys(odd));
  const TTirImportResult result = ImportTir(set, path, TSignConvention::kIso);
  EXPECT_EQ(set.Text("PCy1"), "1.3");
  EXPECT_EQ(set.Text("PKy1"), "-20");
  EXPECT_EQ(set.Text("PEy1"), "0");
  EXPECT_EQ(set.Text("PDy2"), "0");
  EXPECT_TRUE(Contains(result.notes, "PDY2"));
  EXPECT_TRUE(Contains(result.notes, "PEY1"));

  // Empty version and unit values say nothing; a right-side tire is named.
  WriteAll(path, WithRequiredKeys("[UNITS]\nLENGTH =\n[MODEL]\nFITTYP =\nPROPERTY_FILE_FORMAT = 'PAC2002'\n"
                                  "TYRESIDE = 'RIGHT'\n[DIMENSION]\nUNLOADED_RADIUS = 0.3\n"));
  const TTirImportResult right = ImportTir(set, path, TSignConvention::kIso);
  EXPECT_EQ(set.Text("R0"), "0.3");
  EXPECT_TRUE(Contains(right.notes, "TYRESIDE = 'RIGHT'"));
}

TEST(TirImport, NeverChangesAFreeFlag) {
  TMemoryCoefficientSet set;
  set.SetFree("PCy1", false);
  set.SetFree("QBz1", false);
  ImportTir(set, Data("sedan_pac02.tir"));
  for (const auto& info : Coefficients())
    EXPECT_EQ(set.Free(info.name), info.name != "PCy1" && info.name != "QBz1" && info.HasFreeFlag()) << info.name;
}

// ------------------------------------------------------------------ signs

TEST(SignConvention, MappedSetGivesNegatedLateralForceAndMomentAtTheSameInputs) {
  // The sample tire of examples/ (positive-stiffness) against its mapped set.
  TMemoryCoefficientSet positive;
  ImportCoefficients(positive, std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt");
  positive.SetText("QBz10", "0.3");  // the sample has QBz10 = 0: give the table's QBz10 entry work to do
  ASSERT_EQ(ConventionOfSet(positive), TSignConvention::kPositiveStiffness);
  TMemoryCoefficientSet iso = positive;
  for (std::string_view name : SignFlippedCoefficients()) iso.SetText(name, FloatToStr(-positive.Value(name)));
  ASSERT_EQ(ConventionOfSet(iso), TSignConvention::kIso);
  for (double camber : kCambers)
    for (double fz : {1500.0, 4000.0, 7000.0})
      for (size_t i = 0; i < std::size(kSlipAngles); ++i) {
        const TPoint p = MorvexAt(positive, camber, fz, kSlipAngles[i], kSlipRatios[i]);
        const TPoint q = MorvexAt(iso, camber, fz, kSlipAngles[i], kSlipRatios[i]);
        EXPECT_NEAR(p.fy, -q.fy, 1e-9 * std::fabs(p.fy) + 1e-9);
        EXPECT_NEAR(p.mz, -q.mz, 1e-9 * std::fabs(p.mz) + 1e-9);
        EXPECT_EQ(p.fx, q.fx);
      }
  // The asymmetry terms are not in the table: negating the slip angle
  // instead (a left/right mirror) would give other curves.
  const TPoint p = MorvexAt(positive, 2.5, 4000, 4.0, 0);
  const TPoint q = MorvexAt(iso, 2.5, 4000, -4.0, 0);
  EXPECT_GT(std::fabs(p.fy - q.fy), 1.0);
}

// ------------------------------------------------------------------ export

TEST(TirExport, FullLayoutReadsCleanlyInTheStrictReader) {
  TempDir dir;
  const std::string path = dir.File("out.tir");
  SetDecimalSeparator(',');
  struct Restore {
    ~Restore() { SetDecimalSeparator('.'); }
  } restore;
  TMemoryCoefficientSet set;
  LoadStartupDefaults(set, std::string(MORVEX_SOURCE_DIR) + "/files/param_fm_ini.ini");
  TTirExportOptions options;
  options.info.data_file = "/data/" + std::string(300, 'd') + "/lateral.plt";
  options.info.fits = {"lateral: RMS 14,9 N, verdict good"};
  options.info.date = "2026-12-08 10:00";
  const TTirExportResult result = ExportTir(set, path, options);
  EXPECT_EQ(result.convention, TSignConvention::kPositiveStiffness);  // the shipped PKy1 is +

  const test::TStrictTir tir = StrictTirRead(path);
  EXPECT_TRUE(tir.complaints.empty()) << tir.complaints.front();
  for (const char* section : {"MDI_HEADER", "UNITS", "MODEL", "DIMENSION", "OPERATING_CONDITIONS", "VERTICAL",
                              "LONG_SLIP_RANGE", "SLIP_ANGLE_RANGE", "INCLINATION_ANGLE_RANGE", "VERTICAL_FORCE_RANGE",
                              "SCALING_COEFFICIENTS", "LONGITUDINAL_COEFFICIENTS", "OVERTURNING_COEFFICIENTS",
                              "LATERAL_COEFFICIENTS", "ROLLING_COEFFICIENTS", "ALIGNING_COEFFICIENTS"})
    EXPECT_TRUE(tir.text.count(section)) << section;
  for (const auto& [key, value] : tir.text.at("SCALING_COEFFICIENTS")) EXPECT_EQ(value, "1") << key;
  EXPECT_EQ(tir.text.at("MODEL").at("FITTYP"), "6");
  EXPECT_EQ(tir.Number("LATERAL_COEFFICIENTS", "PKY1"), -set.Value("PKy1"));
  EXPECT_EQ(tir.Number("DIMENSION", "UNLOADED_RADIUS"), 0.3135);

  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("2026-12-08 10:00"), std::string::npos);
  EXPECT_NE(text.find("lateral: RMS 14,9 N, verdict good"), std::string::npos);
  EXPECT_NE(text.find("positive-stiffness"), std::string::npos);
  EXPECT_NE(text.find("PKY1                      = "), std::string::npos);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 200u) << line;
  EXPECT_EQ(dir.Entries().size(), 1u);  // no temporary file left
}

TEST(TirExport, RoundTripGivesEveryValueBackToTheLastDigit) {
  TempDir dir;
  for (const char* name : {"fsae_mf52.tir", "truck_mf05.tir", "suv_pac02.tir"}) {
    SCOPED_TRACE(name);
    const test::TStrictTir original = StrictTirRead(Data(name));
    TMemoryCoefficientSet set = ZeroSet();
    ImportTir(set, Data(name), TSignConvention::kIso);
    const std::string out = dir.File("back.tir");
    ExportTir(set, out, {TSignConvention::kIso, std::nullopt, {}});
    const test::TStrictTir back = StrictTirRead(out);
    EXPECT_TRUE(back.complaints.empty());
    const double lfzo = original.Factor("LFZO");
    for (const auto& [section, keys] : original.text) {
      if (section != "LATERAL_COEFFICIENTS" && section != "LONGITUDINAL_COEFFICIENTS" &&
          section != "ALIGNING_COEFFICIENTS")
        continue;
      for (const auto& [key, value] : keys) {
        if (!back.Has(section, key) || FindCoefficient(key) < 0) continue;
        EXPECT_EQ(back.Number(section, key), original.Number(section, key)) << key;
        EXPECT_EQ(back.text.at(section).at(key), TirNumber(std::stod(value))) << key;
      }
    }
    EXPECT_EQ(back.Number("DIMENSION", "UNLOADED_RADIUS"), original.Number("DIMENSION", "UNLOADED_RADIUS"));
    EXPECT_EQ(back.Number("VERTICAL", "FNOMIN"), original.Number("VERTICAL", "FNOMIN") * lfzo);
  }
}

TEST(TirExport, SetThroughTirEvaluatesIdenticallyInBothConventions) {
  TempDir dir;
  TMemoryCoefficientSet positive;
  ImportCoefficients(positive, std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt");
  positive.SetText("QBz10", "0.25");
  for (TSignConvention convention : {TSignConvention::kPositiveStiffness, TSignConvention::kIso}) {
    TMemoryCoefficientSet set = positive;
    if (convention == TSignConvention::kIso)
      for (std::string_view name : SignFlippedCoefficients()) set.SetText(name, FloatToStr(-positive.Value(name)));
    const std::string path = dir.File("set.tir");
    const TTirExportResult written = ExportTir(set, path);
    EXPECT_EQ(written.convention, convention);
    const test::TStrictTir tir = StrictTirRead(path);
    EXPECT_LT(tir.Number("LATERAL_COEFFICIENTS", "PKY1"), 0);  // the file is ISO either way

    TMemoryCoefficientSet back = ZeroSet();
    back.SetText("PKy1", convention == TSignConvention::kIso ? "-1" : "1");  // the default follows the set's sign
    const TTirImportResult read = ImportTir(back, path);
    EXPECT_EQ(read.convention, convention);
    for (const auto& info : Coefficients()) EXPECT_EQ(back.Value(info.name), set.Value(info.name)) << info.name;
    for (double camber : kCambers)
      for (size_t i = 0; i < std::size(kSlipAngles); ++i) {
        const TPoint a = MorvexAt(set, camber, 5000, kSlipAngles[i], kSlipRatios[i]);
        const TPoint b = MorvexAt(back, camber, 5000, kSlipAngles[i], kSlipRatios[i]);
        EXPECT_EQ(a.fy, b.fy);
        EXPECT_EQ(a.mz, b.mz);
        EXPECT_EQ(a.fx, b.fx);
      }
  }
}

TEST(TirExport, TemplateKeepsEveryOtherLineByteForByte) {
  TempDir dir;
  const std::string tpl = dir.File("template.tir");
  // The sedan with CR LF line ends.
  std::string original;
  {
    std::istringstream in(ReadAll(Data("sedan_pac02.tir")));
    for (std::string line; std::getline(in, line);) original += line + "\r\n";
  }
  WriteAll(tpl, original);
  TMemoryCoefficientSet set = ZeroSet();
  ImportTir(set, tpl, TSignConvention::kIso);
  set.SetText("PCy1", "1.5");
  const std::string out = dir.File("fitted.tir");
  TTirExportOptions options{TSignConvention::kIso, tpl, {}};
  const TTirExportResult result = ExportTir(set, out, options);
  EXPECT_TRUE(Contains(result.notes, "LFZO = 0.81"));  // folded into FNOMIN: reset to 1

  const std::string text = ReadAll(out);
  EXPECT_EQ(text.find("\n", 0), text.find("\r\n", 0) + 1);
  size_t lf = 0, crlf = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n') {
      ++lf;
      crlf += i > 0 && text[i - 1] == '\r';
    }
  EXPECT_EQ(lf, crlf);
  // Line by line: our header first, then the template with only the fitted
  // keys (and LFZO) changed.
  std::vector<std::string> a, b;
  {
    std::istringstream in(original);
    for (std::string line; std::getline(in, line);) a.push_back(line);
    std::istringstream out_lines(text);
    for (std::string line; std::getline(out_lines, line);)
      if (line.rfind("$ Morvex: ", 0) != 0) b.push_back(line);
  }
  // PDX3 and QBZ10 are missing in the template: one line added to each section.
  ASSERT_EQ(b.size(), a.size() + 2);
  size_t changed = 0;
  for (size_t i = 0, j = 0; i < a.size(); ++i, ++j) {
    if (b[j].rfind("QBZ10 ", 0) == 0 || b[j].rfind("PDX3 ", 0) == 0) ++j;
    if (a[i] == b[j]) continue;
    ++changed;
    const std::string key = a[i].substr(0, a[i].find(' '));
    EXPECT_TRUE(FindCoefficient(key) >= 0 || key == "FNOMIN" || key == "UNLOADED_RADIUS" || key == "LFZO") << a[i];
    EXPECT_EQ(a[i].substr(a[i].find('$')), b[j].substr(b[j].find('$'))) << "the comment moved";
  }
  EXPECT_GE(changed, 3u);  // PCY1, LFZO, FNOMIN at least
  const test::TStrictTir tir = StrictTirRead(out);
  EXPECT_TRUE(tir.complaints.empty());
  EXPECT_EQ(tir.Number("LATERAL_COEFFICIENTS", "PCY1"), 1.5);
  EXPECT_EQ(tir.Number("SCALING_COEFFICIENTS", "LFZO"), 1.0);
  EXPECT_DOUBLE_EQ(tir.Number("VERTICAL", "FNOMIN"), 4850 * 0.81);
  EXPECT_EQ(tir.Number("LATERAL_COEFFICIENTS", "PTY1"), 2.1439);  // template values stay
  // Same model as the set.
  TMemoryCoefficientSet back = ZeroSet();
  ImportTir(back, out, TSignConvention::kIso);
  for (const auto& info : Coefficients()) EXPECT_EQ(back.Value(info.name), set.Value(info.name)) << info.name;

  // Exporting again into the result keeps one header, not two.
  ExportTir(set, out, {TSignConvention::kIso, out, {}});
  const std::string again = ReadAll(out);
  EXPECT_EQ(again.find("sign convention", again.find("sign convention") + 1), std::string::npos);
}

TEST(TirExport, RefusalsLeaveTheTargetAsItWas) {
  TempDir dir;
  const std::string out = dir.File("keep.tir");
  WriteAll(out, "old\n");
  TMemoryCoefficientSet set;
  set.SetText("QCz1", "1O");
  EXPECT_EQ(MessageOf([&] { ExportTir(set, out); }), "'1O' n'est pas une valeur en virgule flottante correcte");
  TMemoryCoefficientSet good;
  const std::string mf6 = Data("fsae_mf61.tir");
  EXPECT_NE(MessageOf([&] { ExportTir(good, out, {std::nullopt, mf6, {}}); }).find("6.x"), std::string::npos);
  EXPECT_EQ(ReadAll(out), "old\n");
  EXPECT_EQ(MessageOf([&] { ExportTir(good, dir.path().string()); }), "Impossible d'écrire dans " + dir.path().string());
  EXPECT_EQ(dir.Entries().size(), 1u);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

TEST(TirFile, ExtremeValuesStayNumbersThroughAPropertyFile) {
  TempDir dir;
  TMemoryCoefficientSet set;
  set.SetText("Fz0", "1.7976931348623157E308");  // 15 digits would round beyond the double range
  set.SetText("PCy1", "4.9E-324");
  set.SetText("PDy1", "-0");
  const std::string path = dir.File("extreme.tir");
  ExportTir(set, path, {TSignConvention::kIso, std::nullopt, {}});
  EXPECT_TRUE(StrictTirRead(path).complaints.empty());
  TMemoryCoefficientSet back;
  ImportTir(back, path, TSignConvention::kIso);
  for (const char* name : {"Fz0", "PDy1"}) EXPECT_EQ(back.Value(name), set.Value(name)) << name;
  EXPECT_EQ(back.Text("PCy1"), "0");  // a subnormal number is written as 0

  // Folding a factor that overflows a coefficient is refused by name.
  WriteAll(path, WithRequiredKeys("[MODEL]\nFITTYP = 6\n[SCALING_COEFFICIENTS]\nLKY = 1e300\n"
                                  "[LATERAL_COEFFICIENTS]\nPKY1 = -1e10\n"));
  EXPECT_NE(MessageOf([&] { ImportTir(back, path); }).find("PKy1"), std::string::npos);
}

TEST(TirFile, TypeByExtension) {
  EXPECT_TRUE(IsTirPath("a/b/car.tir"));
  EXPECT_TRUE(IsTirPath("CAR.TIR"));
  EXPECT_FALSE(IsTirPath("car.tir.txt"));
  EXPECT_FALSE(IsTirPath("tir"));
}


// ------------------------------------------------------------ strict reading

// The start-up set of a fresh window: the values that a key missing from a
// file used to take.
TMemoryCoefficientSet StartupSet() {
  TMemoryCoefficientSet set;
  LoadStartupDefaults(set, std::string(MORVEX_SOURCE_DIR) + "/files/param_fm_ini.ini");
  return set;
}

// `text` without the line that begins with `key` (after blanks).
std::string WithoutKeyLine(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line.compare(first, key.size() + 1, key + " ") == 0) continue;
    out += line + "\n";
  }
  return out;
}

// `text` with the value of the line of `key` replaced by `value`.
std::string WithValue(const std::string& text, const std::string& key, const std::string& value) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && line.compare(first, key.size() + 1, key + " ") == 0)
      line = key + " = " + value;
    out += line + "\n";
  }
  return out;
}

void ExpectUnchanged(const TCoefficientSet& set, const TCoefficientSet& before) {
  for (const auto& info : Coefficients()) EXPECT_EQ(set.Text(info.name), before.Text(info.name)) << info.name;
}

TEST(TirStrictRead, WhatIsNoPropertyFileIsRefusedWithItsReason) {
  TempDir dir;
  const std::string sedan = ReadAll(Data("sedan_pac02.tir"));
  const std::string lateral_at = "[LATERAL_COEFFICIENTS]";
  struct Case {
    std::string name, text, reason;
  };
  const Case cases[] = {
      {"empty", "", "is empty"},
      {"blank", "  \n\n\t\n", "is empty"},
      {"text", "Dear user,\nthis is a letter = not a tire.\n", "no section line"},
      {"binary", std::string("[MODEL]\nFITTYP = 6\x00\x01\x02\n", 20), "NUL byte"},
      {"keyless", "[GARAGE]\nDOORS = 2\nCOLOUR = 'red'\n", "none of the keys"},
      // Cut inside [LATERAL_COEFFICIENTS]: the aligning section is gone,
      // and with it QBZ1, QCZ1 and QDZ1, which cannot be taken as 0.
      {"truncated", sedan.substr(0, sedan.find(lateral_at) + lateral_at.size() + 80), "QBZ1, QCZ1, QDZ1"},
      {"no radius", WithoutKeyLine(sedan, "UNLOADED_RADIUS"), "lacks UNLOADED_RADIUS"},
      {"no PKY2", WithoutKeyLine(sedan, "PKY2"), "lacks PKY2. A shape, peak or stiffness factor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name + ".tir");
    WriteAll(path, c.text);
    TMemoryCoefficientSet set = StartupSet();
    const TMemoryCoefficientSet before = set;
    const std::string message = MessageOf([&] { ImportTir(set, path, TSignConvention::kIso); });
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    ExpectUnchanged(set, before);
  }
}

TEST(TirStrictRead, KeysTheFileLacksAreZeroNeverTheStartupValues) {
  // The FSAE MF 6.1 file has no PHY3 (MF 6.1 puts camber into Fy through
  // PKY6/PKY7); the sample tire's PHy3 is not 0, and Fy would be 7.5 % off.
  TMemoryCoefficientSet startup = StartupSet();
  ASSERT_NE(startup.Value("PHy3"), 0.0);
  const TTirImportResult result = ImportTir(startup, Data("fsae_mf61.tir"), TSignConvention::kIso);
  EXPECT_EQ(startup.Text("PHy3"), "0");
  EXPECT_NE(std::find(result.absent.begin(), result.absent.end(), "PHY3"), result.absent.end());
  EXPECT_TRUE(Contains(result.notes, "taken as 0"));
  // Over a camber, load and slip grid the set then is the file's model,
  // whatever the set held before.
  ExpectSameModel(Data("fsae_mf61.tir"), StartupSet());
  ExpectSameModel(Data("truck_mf05.tir"), StartupSet());
}

TEST(TirStrictRead, UnreadableAndRepeatedValuesAreRefusedByLine) {
  TempDir dir;
  const std::string sedan = ReadAll(Data("sedan_pac02.tir"));
  const std::string path = dir.File("bad.tir");
  for (const char* value : {"nan", "inf", "-INF", "1.2.3", "'fast'", "1e999"}) {
    SCOPED_TRACE(value);
    WriteAll(path, WithValue(sedan, "PKY1", value));
    TMemoryCoefficientSet set = StartupSet();
    const TMemoryCoefficientSet before = set;
    const std::string message = MessageOf([&] { ImportTir(set, path); });
    EXPECT_NE(message.find("PKY1 = '"), std::string::npos) << message;
    EXPECT_NE(message.find("(line 121)"), std::string::npos) << message;
    ExpectUnchanged(set, before);
  }
  // The same key in two places: two values are refused with both lines,
  // one value twice is read and noted.
  WriteAll(path, sedan + "[EXTRA]\nPKY1 = -99\n");
  TMemoryCoefficientSet set = StartupSet();
  const TMemoryCoefficientSet before = set;
  const std::string message = MessageOf([&] { ImportTir(set, path); });
  EXPECT_NE(message.find("PKY1 stands twice"), std::string::npos) << message;
  EXPECT_NE(message.find("line 121"), std::string::npos) << message;
  EXPECT_NE(message.find("line 163 (PKY1 = -99)"), std::string::npos) << message;
  ExpectUnchanged(set, before);
  const std::string pky1 = StrictTirRead(Data("sedan_pac02.tir")).text.at("LATERAL_COEFFICIENTS").at("PKY1");
  WriteAll(path, sedan + "[EXTRA]\nPKY1 = " + pky1 + "\n");
  const TTirImportResult twice = ImportTir(set, path, TSignConvention::kIso);
  EXPECT_TRUE(Contains(twice.notes, "PKY1 (lines 121 and 163)"));
  EXPECT_EQ(set.Value("PKy1"), std::stod(pky1));
}

TEST(TirStrictRead, KeysAreFoundWhateverSectionHoldsThem) {
  // Every header of the published FSAE file replaced by one [COEFFICIENTS].
  TempDir dir;
  std::istringstream in(ReadAll(Data("fsae_mf52.tir")));
  std::string flat;
  int headers = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] == '[') {
      if (headers++ > 0) continue;
      line = "[COEFFICIENTS]";
    }
    flat += line + "\n";
  }
  ASSERT_GT(headers, 8);
  const std::string path = dir.File("flat.tir");
  WriteAll(path, flat);
  TMemoryCoefficientSet from_flat = StartupSet(), from_sections = StartupSet();
  const TTirImportResult result = ImportTir(from_flat, path, TSignConvention::kIso);
  ImportTir(from_sections, Data("fsae_mf52.tir"), TSignConvention::kIso);
  for (const auto& info : Coefficients()) EXPECT_EQ(from_flat.Text(info.name), from_sections.Text(info.name)) << info.name;
  EXPECT_EQ(from_flat.Value("Fz0"), 2700);
  EXPECT_EQ(from_flat.Value("R0"), 0.254);
  EXPECT_FALSE(Contains(result.notes, "neither FITTYP"));  // FITTYP found outside [MODEL]
}

TEST(TirStrictRead, RatedLoadAndRadiusComeFromTheFileOrTheCaller) {
  TempDir dir;
  const std::string sedan = ReadAll(Data("sedan_pac02.tir"));  // FNOMIN 4850, LFZO 0.81, R0 0.344
  const std::string path = dir.File("no-load.tir");
  WriteAll(path, WithoutKeyLine(WithoutKeyLine(sedan, "FNOMIN"), "UNLOADED_RADIUS"));
  TMemoryCoefficientSet set = StartupSet();
  const TMemoryCoefficientSet before = set;
  const std::string message = MessageOf([&] { ImportTir(set, path); });
  EXPECT_NE(message.find("lacks FNOMIN, UNLOADED_RADIUS."), std::string::npos) << message;
  EXPECT_NE(message.find("--fz0"), std::string::npos) << message;
  ExpectUnchanged(set, before);

  // Given by the caller: the same set as the complete file's, FNOMIN scaled
  // by the file's LFZO as its own would be.
  TTirReadOptions options;
  options.convention = TSignConvention::kIso;
  options.fz0 = 4850;
  options.r0 = 0.344;
  const TTirImportResult supplied = ImportTir(set, path, options);
  EXPECT_TRUE(supplied.fz0_supplied && supplied.r0_supplied);
  TMemoryCoefficientSet complete = StartupSet();
  ImportTir(complete, Data("sedan_pac02.tir"), TSignConvention::kIso);
  for (const auto& info : Coefficients()) EXPECT_EQ(set.Value(info.name), complete.Value(info.name)) << info.name;
  EXPECT_TRUE(Contains(supplied.notes, "FNOMIN is not in"));

  // A file that states them keeps its own values.
  options.fz0 = 1000;
  options.r0 = 1;
  const TTirImportResult own = ImportTir(set, Data("sedan_pac02.tir"), options);
  EXPECT_FALSE(own.fz0_supplied || own.r0_supplied);
  EXPECT_EQ(set.Value("Fz0"), complete.Value("Fz0"));
  EXPECT_EQ(set.Value("R0"), 0.344);
}

TEST(TirTrailReading, FileWithLfzoReadsEitherWayAndSaysWhich) {
  // The sedan file (LFZO 0.81): the book's reading is the reference
  // evaluation's; the other multiplies the trail by LFZO.  Fx and Fy agree.
  const std::string file = Data("sedan_pac02.tir");
  ASSERT_EQ(TirLoadScale(file), 0.81);
  EXPECT_EQ(TirLoadScale(Data("fsae_mf52.tir")), std::nullopt);
  TMemoryCoefficientSet book = ZeroSet(), fnomin = ZeroSet();
  TTirReadOptions options;
  options.convention = TSignConvention::kIso;
  const TTirImportResult book_result = ImportTir(book, file, options);
  options.trail = TTrailReading::kUnscaledLoad;
  const TTirImportResult fnomin_result = ImportTir(fnomin, file, options);
  EXPECT_EQ(book_result.lfzo, 0.81);
  EXPECT_TRUE(Contains(book_result.notes, "the aligning trail was read as R0/(FNOMIN*LFZO), the book's reading"));
  EXPECT_TRUE(Contains(fnomin_result.notes, "the aligning trail was read as R0/FNOMIN"));

  const test::TStrictTir tir = StrictTirRead(file);
  test::TStrictTir residual_only = tir;  // no trail: the residual moment alone
  residual_only.text["ALIGNING_COEFFICIENTS"]["QDZ1"] = "0";
  residual_only.text["ALIGNING_COEFFICIENTS"]["QDZ2"] = "0";
  const double fz0 = tir.Number("VERTICAL", "FNOMIN");
  double largest_gap = 0, peak = 0;
  for (double camber : kCambers)
    for (double load : kLoadFactors)
      for (double alpha : kSlipAngles) {
        const double fz = load * fz0, a = alpha * M_PI / 180, g = camber * M_PI / 180;
        const TPoint b = MorvexAt(book, camber, fz, alpha, 0.05);
        const TPoint f = MorvexAt(fnomin, camber, fz, alpha, 0.05);
        const test::TMf52Point r = test::Mf52(tir, a, g, fz, 0.05);
        const double mzr = test::Mf52(residual_only, a, g, fz, 0.05).mz;
        EXPECT_TRUE(Close(b.mz, r.mz)) << b.mz << " vs " << r.mz;
        EXPECT_TRUE(Close(f.mz, 0.81 * (r.mz - mzr) + mzr)) << f.mz;
        EXPECT_EQ(b.fy, f.fy);
        EXPECT_EQ(b.fx, f.fx);
        largest_gap = std::max(largest_gap, std::fabs(b.mz - f.mz));
        peak = std::max(peak, std::fabs(r.mz));
      }
  // The readings differ by a fifth of the moment's peak on this file.
  EXPECT_GT(largest_gap, 0.15 * peak) << largest_gap << " of " << peak;

  EXPECT_EQ(ParseTrailReading("Book"), TTrailReading::kBook);
  EXPECT_EQ(ParseTrailReading("FNOMIN"), TTrailReading::kUnscaledLoad);
  EXPECT_EQ(ParseTrailReading("lfzo"), std::nullopt);
}

TEST(TirTemplate, UnusableTemplatesAreRefusedAndKeysAreReplacedWhereTheyStand) {
  TempDir dir;
  TMemoryCoefficientSet set;
  ImportTir(set, Data("fsae_mf52.tir"), TSignConvention::kIso);
  const std::string out = dir.File("out.tir");
  WriteAll(out, "before");
  const std::pair<const char*, const char*> unusable[] = {
      {"", "is empty"},
      {"just some words\nno sections\n", "no section line"},
      {"[VERTICAL]\nFNOMIN = 3000\n", "no [MODEL] section"},
      {"[MODEL]\nFITTYP = 6\n[LATERAL_COEFFICIENTS]\nPCY1 = 1\n[X]\nPCY1 = 2\n", "PCY1 stands twice"},
  };
  for (const auto& [text, reason] : unusable) {
    SCOPED_TRACE(reason);
    const std::string tpl = dir.File("template.tir");
    WriteAll(tpl, text);
    TTirExportOptions options;
    options.convention = TSignConvention::kIso;
    options.template_path = tpl;
    const std::string message = MessageOf([&] { ExportTir(set, out, options); });
    EXPECT_NE(message.find(reason), std::string::npos) << message;
    EXPECT_NE(message.find(tpl), std::string::npos) << message;
    EXPECT_EQ(ReadAll(out), "before");
  }
  // A template that keeps everything under [COEFFICIENTS] (its LFZO too):
  // each value is replaced on its own line, no section is added, and the
  // file reads back to the set.
  const std::string tpl = dir.File("flat.tir");
  WriteAll(tpl, "[MODEL]\nFITTYP = 6\n[COEFFICIENTS]\nFNOMIN = 1\nUNLOADED_RADIUS = 1\nLFZO = 0.5\nPCY1 = 9\n"
                "PKY1 = 9\n");
  TTirExportOptions options;
  options.convention = TSignConvention::kIso;
  options.template_path = tpl;
  ExportTir(set, out, options);
  const std::string written = ReadAll(out);
  EXPECT_EQ(written.find("[LATERAL_COEFFICIENTS]\nPCY1"), std::string::npos);
  EXPECT_EQ(written.find("[VERTICAL]"), std::string::npos);
  TMemoryCoefficientSet back;
  const TTirImportResult result = ImportTir(back, out, TSignConvention::kIso);
  for (const auto& info : Coefficients()) EXPECT_EQ(back.Value(info.name), set.Value(info.name)) << info.name;
  EXPECT_FALSE(result.lfzo.has_value());
}

}  // namespace
}  // namespace morvex
