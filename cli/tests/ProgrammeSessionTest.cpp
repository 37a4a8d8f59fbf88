// A fitted test programme through the session file: a small programme of a
// published tire recorded as a flat-track rig records it, imported and
// fitted as `morvex-fit tir` does, saved, read back in a session's text and
// restored; the property file written from the restored programme is the
// one written from the original, byte for byte, and the data come back to
// the bit whatever the decimal separator.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/ProgrammeSession.h"
#include "cli/TirProgramme.h"
#include "examples/RunRecorderProgramme.h"
#include "files/Sha256.h"
#include "files/TirFile.h"
#include "numerics/LxBasics.h"
#include "tiredata/CombinedDataFile.h"
#include "testing/TestSupport.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::WithoutWriteTime;

// Restores the process-wide decimal separator however a test ends.
struct TSeparatorGuard {
  char saved = DecimalSeparator();
  ~TSeparatorGuard() { SetDecimalSeparator(saved); }
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::bit_cast<uint64_t>(a[i]) != std::bit_cast<uint64_t>(b[i])) return false;
  return true;
}

void ExpectSameData(const std::optional<TTireDataSet>& a, const std::optional<TTireDataSet>& b, const char* what) {
  ASSERT_EQ(a.has_value(), b.has_value()) << what;
  if (!a) return;
  ASSERT_EQ(a->Cases.size(), b->Cases.size()) << what;
  for (size_t c = 0; c < a->Cases.size(); ++c) {
    const TLoadCase &x = a->Cases[c], &y = b->Cases[c];
    EXPECT_EQ(std::bit_cast<uint64_t>(x.Camber), std::bit_cast<uint64_t>(y.Camber)) << what;
    EXPECT_TRUE(SameBits(x.Loads, y.Loads)) << what << " case " << c;
    EXPECT_TRUE(SameBits(x.Slips, y.Slips)) << what << " case " << c;
    EXPECT_TRUE(SameBits(x.Values, y.Values)) << what << " case " << c;
  }
}

// One small programme, fitted once for every test of the suite.
class ProgrammeSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // One folder per process: ctest runs each test in a process of its own,
    // several at once.
    dir_ = new fs::path(fs::temp_directory_path() / ("morvex-programme-session-" + std::to_string(::getpid())));
    fs::remove_all(*dir_);
    fs::create_directories(*dir_);
    const examples::TCombinedTire tire =
        examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
    examples::TProgrammeOptions recorded;
    recorded.tydex = true;
    recorded.seed = 5;
    recorded.rate_hz = 25;
    recorded.inclinations = {0, 3};
    recorded.load_factors = {0.6, 1.0, 1.4};
    recorded.held_slip_angles = {-5, 0, 5};
    state_ = new TProgrammeState();
    state_->runs = examples::WriteProgramme(tire, dir_->string(), recorded);
    auto programme = std::make_shared<TProgrammeResult>(ImportProgramme(state_->runs));
    TTireProgrammeInput input;
    input.lateral = programme->lateral;
    input.aligning = programme->aligning;
    input.longitudinal = programme->longitudinal;
    input.combined = programme->combined;
    input.fz0 = programme->fz0;
    input.r0 = programme->r0;
    input.longvl = programme->longvl;
    TSilentFitHost host;
    state_->result = std::make_shared<TTireProgrammeResult>(FitTireProgramme(input, host));
    state_->programme = std::move(programme);
    state_->r0_typed = 0.3135;
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
    delete state_;
  }
  static std::string Path(const std::string& name) { return (*dir_ / name).string(); }

  // The programme through a session's text, as a received session gives it.
  static TProgrammeState ThroughText(const TProgrammeState& state) {
    std::vector<std::string> hashes;
    for (const std::string& run : state.runs) hashes.push_back(Sha256Hex(ReadText(run)));
    TSessionState session;
    session.programme = ProgrammeToSession(state, hashes);
    const TSessionRead read = ParseSession(FormatSession(session));
    EXPECT_TRUE(read.state.programme);
    return ProgrammeFromSession(*read.state.programme);
  }

  static std::string WriteTir(const TProgrammeState& state, const std::string& name) {
    const std::string path = Path(name);
    ExportTir(state.result->coefficients, path, ProgrammeTirOptions(*state.programme, *state.result, state.runs));
    return WithoutWriteTime(ReadText(path));
  }

  static fs::path* dir_;
  static TProgrammeState* state_;
};

fs::path* ProgrammeSession::dir_ = nullptr;
TProgrammeState* ProgrammeSession::state_ = nullptr;

TEST_F(ProgrammeSession, TheRestoredProgrammeWritesTheSamePropertyFile) {
  const TProgrammeState& original = *state_;
  ASSERT_GE(original.result->use_mode, 3);
  const TProgrammeState restored = ThroughText(original);
  ASSERT_TRUE(restored.programme && restored.result);
  const std::string want = WriteTir(original, "original.tir");
  EXPECT_NE(want.find("stage Fx combined"), std::string::npos);
  EXPECT_EQ(WriteTir(restored, "restored.tir"), want);

  // What the window's stage table and the terminal show.
  ASSERT_EQ(restored.result->stages.size(), original.result->stages.size());
  for (size_t i = 0; i < original.result->stages.size(); ++i) {
    const TStageResult &a = original.result->stages[i], &b = restored.result->stages[i];
    EXPECT_EQ(StageSummaryLine(b), StageSummaryLine(a));
    EXPECT_EQ(StageVerdictText(b), StageVerdictText(a));
    EXPECT_EQ(b.Good(), a.Good()) << a.name;
    EXPECT_EQ(b.outcome.termination, a.outcome.termination) << a.name;
    EXPECT_EQ(b.outcome.fitted, a.outcome.fitted) << a.name;
    EXPECT_TRUE(SameBits(b.outcome.standard_errors, a.outcome.standard_errors) ||
                a.outcome.standard_errors.empty())
        << a.name;
    EXPECT_EQ(b.outcome.iterations, a.outcome.iterations) << a.name;
    EXPECT_TRUE(SameBits(b.start_values, a.start_values)) << a.name;
    EXPECT_EQ(b.held, a.held) << a.name;
  }
  EXPECT_EQ(restored.result->AnyPoor(), original.result->AnyPoor());
  EXPECT_EQ(restored.result->mode_reasons, original.result->mode_reasons);
  for (const TCoefficientInfo& info : Coefficients())
    EXPECT_EQ(restored.result->coefficients.Text(info.name), original.result->coefficients.Text(info.name));
  // The import: data to the bit, and what it said.
  ExpectSameData(restored.programme->lateral, original.programme->lateral, "lateral");
  ExpectSameData(restored.programme->aligning, original.programme->aligning, "aligning");
  ExpectSameData(restored.programme->longitudinal, original.programme->longitudinal, "longitudinal");
  EXPECT_EQ(FormatProgramme(*restored.programme), FormatProgramme(*original.programme));
  EXPECT_EQ(restored.runs, original.runs);
  EXPECT_EQ(restored.r0_typed, original.r0_typed);
  EXPECT_FALSE(restored.fz0_typed);
  // Saved again, the record is the same (compared as text: NaN is no value).
  auto text = [](const TProgrammeState& state) {
    TSessionState session;
    session.programme = ProgrammeToSession(state);
    return FormatSession(session);
  };
  EXPECT_EQ(text(restored), text(original));
}

// A session saved where the decimal separator is a comma reads back the
// same data and fit where it is a point, and the other way round.
TEST_F(ProgrammeSession, TheDataDoNotDependOnTheDecimalSeparator) {
  TSeparatorGuard guard;
  SetDecimalSeparator(',');
  const TSessionProgramme comma = ProgrammeToSession(*state_);
  EXPECT_EQ(comma.lateral_text.find(','), std::string::npos);
  const TProgrammeState in_comma = ProgrammeFromSession(comma);
  SetDecimalSeparator('.');
  const TProgrammeState in_point = ProgrammeFromSession(comma);
  for (const TProgrammeState* back : {&in_comma, &in_point}) {
    ExpectSameData(back->programme->lateral, state_->programme->lateral, "lateral");
    ExpectSameData(back->programme->longitudinal, state_->programme->longitudinal, "longitudinal");
    ASSERT_EQ(back->programme->combined.samples.size(), state_->programme->combined.samples.size());
    EXPECT_EQ(FormatCombinedData(back->programme->combined), FormatCombinedData(state_->programme->combined));
  }
  // The fitted set saved where the point is the separator writes the same
  // property file where the comma is (the header's words aside, which
  // follow the separator of the process).
  auto keys = [](const std::string& text) { return text.substr(text.find("[MDI_HEADER]")); };
  const std::string want = WriteTir(*state_, "point.tir");
  SetDecimalSeparator(',');
  const TProgrammeState restored = ProgrammeFromSession(ProgrammeToSession(*state_));
  EXPECT_EQ(keys(WriteTir(restored, "comma.tir")), keys(want));
}

// Embedded data or a fit that do not make a programme are refused whole.
TEST_F(ProgrammeSession, BrokenEmbeddedDataAreRefusedWithTheReason) {
  const TSessionProgramme good = ProgrammeToSession(*state_);
  auto refusal = [](const TSessionProgramme& bad) {
    try {
      ProgrammeFromSession(bad);
    } catch (const ESessionFormat& error) {
      EXPECT_EQ(error.line(), 0);
      return error.reason();
    }
    return std::string("accepted");
  };
  TSessionProgramme bad = good;
  bad.lateral_text = "LOAD_CASE 1\n0\n2000\n1;x\n";
  EXPECT_NE(refusal(bad).find("its lateral data do not read"), std::string::npos) << refusal(bad);
  bad = good;
  bad.aligning_text = "no load case here\n";
  EXPECT_NE(refusal(bad).find("its aligning data hold no load case"), std::string::npos) << refusal(bad);
  bad = good;
  bad.combined_text = "MORVEX_COMBINED_DATA 1\ncamber;load\n";
  EXPECT_NE(refusal(bad).find("its combined data do not read"), std::string::npos) << refusal(bad);
  bad = good;
  bad.fit->combined.pop_back();
  EXPECT_NE(refusal(bad).find("lacks the combined-slip coefficient QSY4"), std::string::npos) << refusal(bad);
  // Imported and never fitted: the programme without a result.
  bad = good;
  bad.fit.reset();
  const TProgrammeState unfitted = ProgrammeFromSession(bad);
  EXPECT_FALSE(unfitted.result);
  EXPECT_FALSE(unfitted.programme->Empty());
}

}  // namespace
}  // namespace morvex
