// morvex-fit tir --save-session: the session holds the programme of the runs
// (hashed), its data and fit, and the fitted pure-slip set as the panel's;
// restored, it writes the command's own property file byte for byte; a
// session path naming an input is refused before any work; and a later
// `fit --session S --save-session S2` keeps the programme it does not touch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "cli/ProgrammeSession.h"
#include "cli/TirProgramme.h"
#include "cli/TirTool.h"
#include "examples/RunRecorderProgramme.h"
#include "files/Sha256.h"
#include "files/TirFile.h"
#include "tiredata/TireDataWriter.h"
#include "testing/TestSupport.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::WithoutWriteTime;

// The programme part of a session, as text (NaN compares as no value).
std::string ProgrammeText(const TSessionState& state) {
  TSessionState only;
  only.programme = state.programme;
  return FormatSession(only);
}

class TirSession : public ::testing::Test {
 protected:
  // A small programme of a published tire in TYDEX runs, fitted once with
  // --save-session for the whole suite.
  static void SetUpTestSuite() {
    // One folder per process: ctest runs each test in a process of its own,
    // several at once.
    dir_ = new fs::path(fs::temp_directory_path() / ("morvex-tir-session-" + std::to_string(::getpid())));
    fs::remove_all(*dir_);
    fs::create_directories(*dir_);
    const examples::TCombinedTire tire =
        examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/suv-265-70R18.txt");
    examples::TProgrammeOptions recorded;
    recorded.tydex = true;
    recorded.seed = 9;
    recorded.rate_hz = 25;
    recorded.inclinations = {0, 3};
    recorded.load_factors = {0.6, 1.0, 1.4};
    recorded.held_slip_angles = {-5, 0, 5};
    runs_ = new std::vector<std::string>(examples::WriteProgramme(tire, dir_->string(), recorded));
    TTirToolOptions options;
    options.run_paths = *runs_;
    options.output_path = Path("suv.tir");
    options.save_session_path = Path("suv.morvex");
    std::ostringstream out, err;
    status_ = RunTirTool(options, out, err);
    out_ = new std::string(out.str() + err.str());
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
    delete runs_;
    delete out_;
  }
  static std::string Path(const std::string& name) { return (*dir_ / name).string(); }

  static fs::path* dir_;
  static std::vector<std::string>* runs_;
  static std::string* out_;
  static int status_;
};

fs::path* TirSession::dir_ = nullptr;
std::vector<std::string>* TirSession::runs_ = nullptr;
std::string* TirSession::out_ = nullptr;
int TirSession::status_ = 0;

TEST_F(TirSession, TheSessionHoldsTheProgrammeAndWritesTheSameTire) {
  ASSERT_TRUE(status_ == kExitOk || status_ == kExitFitPoor) << *out_;
  EXPECT_NE(out_->find("Written " + Path("suv.morvex")), std::string::npos) << *out_;
  const TSessionRead read = ReadSessionFile(Path("suv.morvex"));
  ASSERT_TRUE(read.state.programme);
  const TSessionProgramme& saved = *read.state.programme;
  // The runs, absolute, hashed as they are on disk, and listed for the user.
  ASSERT_EQ(saved.runs.size(), runs_->size());
  for (size_t i = 0; i < runs_->size(); ++i) {
    EXPECT_EQ(saved.runs[i].path, fs::absolute((*runs_)[i]).string());
    EXPECT_EQ(saved.runs[i].sha256, Sha256Hex(ReadText((*runs_)[i])));
    EXPECT_EQ(CheckSourceFile(saved.runs[i].path, saved.runs[i].sha256), TSourceState::kUnchanged);
    EXPECT_EQ(read.paths[i].role, "programme run");
  }
  ASSERT_TRUE(saved.fit);
  EXPECT_FALSE(saved.fz0_typed || saved.r0_typed);
  // The panel holds the fitted pure-slip set.
  EXPECT_EQ(read.state.texts, saved.fit->texts);
  // Restored, the programme writes the command's property file.
  const TProgrammeState restored = ProgrammeFromSession(saved);
  ExportTir(restored.result->coefficients, Path("restored.tir"),
            ProgrammeTirOptions(*restored.programme, *restored.result, restored.runs));
  EXPECT_EQ(WithoutWriteTime(ReadText(Path("restored.tir"))), WithoutWriteTime(ReadText(Path("suv.tir"))));
  EXPECT_NE(ReadText(Path("suv.tir")).find(" written "), std::string::npos);
  for (const TStageResult& stage : restored.result->stages)
    EXPECT_NE(out_->find(StageSummaryLine(stage)), std::string::npos) << StageSummaryLine(stage) << '\n' << *out_;
}

TEST_F(TirSession, ASessionNamingAnInputIsRefusedBeforeAnyWork) {
  const std::string run = (*runs_)[0];
  const std::string before = ReadText(run);
  std::ofstream(Path("notes.txt")) << "my notes";
  for (const std::string& target : {run, Path("suv.tir"), Path("template.tir"), Path("notes.txt")}) {
    SCOPED_TRACE(target);
    TTirToolOptions options;
    options.run_paths = *runs_;
    options.output_path = Path("other.tir");
    options.template_path = Path("template.tir");
    std::ofstream(Path("template.tir")) << "[MODEL]\n";
    if (target == Path("suv.tir")) options.output_path = target;
    options.save_session_path = target;
    std::ostringstream out, err;
    EXPECT_EQ(RunTirTool(options, out, err), kExitError);
    EXPECT_NE(err.str().find(target == Path("notes.txt") ? "is no Morvex session" : "an input is never overwritten"),
              std::string::npos)
        << err.str();
    // Refused before the runs were read: nothing imported, nothing written.
    EXPECT_EQ(out.str().find("lateral"), std::string::npos) << out.str();
    EXPECT_FALSE(fs::exists(Path("other.tir")));
  }
  EXPECT_EQ(ReadText(run), before);
  EXPECT_EQ(ReadText(Path("notes.txt")), "my notes");
}

TEST_F(TirSession, AFitFromTheSessionKeepsTheProgramme) {
  const TSessionState before = ReadSessionFile(Path("suv.morvex")).state;
  const TProgrammeState restored = ProgrammeFromSession(*before.programme);
  ASSERT_TRUE(restored.programme->lateral);
  WriteTireDataFile(Path("lateral.plt"), *restored.programme->lateral, {"lateral sweeps of the programme"});
  TFitToolOptions options;
  options.executable_dir = dir_->string();
  options.session_path = Path("suv.morvex");
  options.save_session_path = Path("refit.morvex");
  options.data_path = Path("lateral.plt");
  options.free = "PCy1,PDy1";
  options.channel = TFitChannel::kLateral;
  options.optimizer_given = options.start_given = false;
  std::ostringstream out, err;
  const int status = RunFitTool(options, out, err);
  ASSERT_TRUE(status == kExitOk || status == kExitFitPoor) << err.str();
  const TSessionState after = ReadSessionFile(Path("refit.morvex")).state;
  ASSERT_TRUE(after.programme);
  EXPECT_EQ(ProgrammeText(after), ProgrammeText(before));
  ASSERT_TRUE(after.Channel(TFitChannel::kLateral));
  EXPECT_TRUE(after.data);
  // The session named by --session is left as it was.
  EXPECT_EQ(FormatSession(ReadSessionFile(Path("suv.morvex")).state), FormatSession(before));
}

}  // namespace
}  // namespace morvex
