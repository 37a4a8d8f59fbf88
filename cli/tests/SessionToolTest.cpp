// morvex-fit fit --session / --save-session: a fit's state saved as a
// session reads back through the window's reader, a fit from a session uses
// its embedded data, coefficients and free flags with the command line
// winning, and no input is ever overwritten.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "files/CoefficientFile.h"
#include "files/SessionFile.h"
#include "files/Sha256.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class SessionToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-session-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& content) {
    std::ofstream(Path(name), std::ios::binary) << content;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Lateral data of a published passenger-car tire at two cambers, with a
  // header line as rig files carry.
  std::string CarData() {
    TMemoryCoefficientSet truth;
    ImportCoefficients(truth, std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/car-185-80R14.txt");
    std::ostringstream text;
    text << "185/80 R14, flat track, 60 km/h\n";
    for (double camber : {0.0, 3.0}) {
      text << "LOAD_CASE\n" << camber << "\n2000;3800;5500\n";
      for (int r = -10; r <= 10; ++r) {
        text << r;
        for (double load : {2000.0, 3800.0, 5500.0})
          text << ";" << FloatToStrF(EvaluatePoint(TFitChannel::kLateral, truth, camber, load, r),
                                    TFloatFormat::kGeneral, 17, 0);
        text << "\n";
      }
    }
    return Write("car.plt", text.str());
  }

  TFitToolOptions Options() {
    TFitToolOptions options;
    options.executable_dir = dir_.string();
    options.coefficients_path =
        std::string(MORVEX_SOURCE_DIR) + "/testing/data/published-tires/car-185-80R14.txt";
    options.free = "PCy1,PDy1,PKy1";
    return options;
  }

  // A session of a lateral fit of CarData(), saved as `name`.
  std::string SavedSession(const std::string& name) {
    TFitToolOptions options = Options();
    options.data_path = CarData();
    options.save_session_path = Path(name);
    std::ostringstream out, err;
    EXPECT_EQ(RunFitTool(options, out, err), kExitOk) << err.str();
    return Path(name);
  }

  // A run from the session alone, as `fit --session S` gives it.
  static TFitToolOptions FromSession(const std::string& session, const std::string& exe_dir) {
    TFitToolOptions options;
    options.executable_dir = exe_dir;
    options.session_path = session;
    options.channel_given = options.free_given = options.optimizer_given = options.start_given = false;
    return options;
  }

  fs::path dir_;
};

TEST_F(SessionToolTest, SavedSessionHoldsTheFitTheDataAndTheReport) {
  TFitToolOptions options = Options();
  options.data_path = CarData();
  options.output_path = Path("fitted.txt");
  options.save_session_path = Path("work.morvex");
  std::ostringstream out, err;
  ASSERT_EQ(RunFitTool(options, out, err), kExitOk) << err.str();

  const TSessionRead read = ReadSessionFile(Path("work.morvex"));
  EXPECT_TRUE(read.data_hash_matches);
  ASSERT_TRUE(read.state.data);
  const std::string data_text = Read(options.data_path);
  EXPECT_EQ(read.state.data->text, data_text);
  EXPECT_EQ(read.state.data->channel, TFitChannel::kLateral);
  EXPECT_EQ(read.state.data->source_path, fs::absolute(options.data_path).string());
  EXPECT_EQ(read.state.data->source_sha256, Sha256Hex(data_text));
  EXPECT_EQ(CheckDataSource(read.state), TSourceState::kUnchanged);
  // The set is the one written to the coefficient file, value for value.
  TMemoryCoefficientSet from_session, from_file;
  read.state.GiveCoefficients(from_session);
  ImportCoefficients(from_file, Path("fitted.txt"));
  for (const TCoefficientInfo& info : Coefficients())
    EXPECT_EQ(std::bit_cast<uint64_t>(from_session.Value(info.name)), std::bit_cast<uint64_t>(from_file.Value(info.name)))
        << info.name;
  for (const TCoefficientInfo& info : Coefficients())
    EXPECT_EQ(from_session.Free(info.name), info.name == "PCy1" || info.name == "PDy1" || info.name == "PKy1")
        << info.name;
  // The report printed is the report kept, with its verdict.
  const std::optional<TSessionChannel>& lateral = read.state.Channel(TFitChannel::kLateral);
  ASSERT_TRUE(lateral);
  EXPECT_FALSE(lateral->poor);
  EXPECT_FALSE(lateral->report.empty());
  EXPECT_EQ(out.str().rfind(lateral->report, 0), 0u);
  EXPECT_NE(lateral->report.find("fit channel=lateral"), std::string::npos);
  EXPECT_LT(lateral->rms, 1e-3);
  ASSERT_TRUE(lateral->fitted);
  EXPECT_EQ(*lateral->fitted, read.state.texts);
  EXPECT_FALSE(read.state.Channel(TFitChannel::kAligning));
  EXPECT_EQ(read.state.view.page, TFitChannel::kLateral);
  EXPECT_EQ(read.state.fit.optimizer, TSessionOptimizer::kLevenbergMarquardt);
}

TEST_F(SessionToolTest, FitFromASessionUsesItsDataAndFlagsEvenWithTheSourceGone) {
  const std::string session = SavedSession("work.morvex");
  const TSessionState before = ReadSessionFile(session).state;
  fs::remove(Path("car.plt"));
  // The session alone: its data, its channel, its flags; saved over itself.
  TFitToolOptions options = FromSession(session, dir_.string());
  options.save_session_path = session;
  std::ostringstream out, err;
  ASSERT_EQ(RunFitTool(options, out, err), kExitOk) << err.str();
  EXPECT_NE(out.str().find("fit channel=lateral"), std::string::npos);
  EXPECT_NE(out.str().find("free=3"), std::string::npos) << out.str();
  const TSessionState after = ReadSessionFile(session).state;
  EXPECT_EQ(after.data, before.data);  // still the embedded data, source path and hash
  EXPECT_EQ(after.free, before.free);
  EXPECT_EQ(dir_.string().empty(), false);
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

  // The command line wins: another channel page, other free flags, the trust region.
  TFitToolOptions other = FromSession(session, dir_.string());
  other.free = "PCy1";
  other.free_given = true;
  other.optimizer = TOptimizerChoice::kTrustRegion;
  other.optimizer_given = true;
  other.save_session_path = Path("second.morvex");
  std::ostringstream out2, err2;
  ASSERT_EQ(RunFitTool(other, out2, err2), kExitOk) << err2.str();
  EXPECT_NE(out2.str().find("optimizer=tr"), std::string::npos) << out2.str();
  EXPECT_NE(out2.str().find("free=1"), std::string::npos) << out2.str();
  const TSessionState second = ReadSessionFile(Path("second.morvex")).state;
  EXPECT_EQ(second.fit.optimizer, TSessionOptimizer::kTrustRegion);
  EXPECT_TRUE(second.free[static_cast<size_t>(ExactCoefficientIndex("PCy1"))]);
  EXPECT_FALSE(second.free[static_cast<size_t>(ExactCoefficientIndex("PKy1"))]);
}

TEST_F(SessionToolTest, ChangedSourceAndChangedEmbeddedDataAreNamed) {
  const std::string session = SavedSession("work.morvex");
  Write("car.plt", Read(Path("car.plt")) + "\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunFitTool(FromSession(session, dir_.string()), out, err), kExitOk) << err.str();
  EXPECT_NE(err.str().find("changed since the session was saved; the embedded data is used"), std::string::npos)
      << err.str();
  // A digit of the embedded data changed by hand.
  std::string text = Read(session);
  const size_t at = text.find("LOAD_CASE\n3\n");
  ASSERT_NE(at, std::string::npos);
  text[at + 10] = '2';
  Write("edited.morvex", text);
  std::ostringstream out2, err2;
  // The data no longer fits the car (one camber is now 2, not 3): the fit runs, poor or not.
  EXPECT_NE(RunFitTool(FromSession(Path("edited.morvex"), dir_.string()), out2, err2), kExitError) << err2.str();
  EXPECT_NE(err2.str().find("does not match the hash it was saved with"), std::string::npos) << err2.str();
}

TEST_F(SessionToolTest, RefusalsWriteNothingAndOverwriteNoInput) {
  const std::string data = CarData();
  const std::string data_text = Read(data);
  {
    // The session would replace the data file.
    TFitToolOptions options = Options();
    options.data_path = data;
    options.save_session_path = data;
    std::ostringstream out, err;
    EXPECT_EQ(RunFitTool(options, out, err), kExitError);
    EXPECT_NE(err.str().find("an input is never overwritten"), std::string::npos) << err.str();
    EXPECT_EQ(Read(data), data_text);
  }
  {
    // An existing file that is no session; refused before the fit, so the
    // coefficient output is not written either.
    const std::string notes = Write("notes.morvex", "my notes\n");
    TFitToolOptions options = Options();
    options.data_path = data;
    options.output_path = Path("out.txt");
    options.save_session_path = notes;
    std::ostringstream out, err;
    EXPECT_EQ(RunFitTool(options, out, err), kExitError);
    EXPECT_NE(err.str().find("is no Morvex session"), std::string::npos) << err.str();
    EXPECT_EQ(Read(notes), "my notes\n");
    EXPECT_FALSE(fs::exists(Path("out.txt")));
  }
  {
    // A malformed session is refused with its line.
    std::string text = FormatSession(TSessionState());
    text.replace(text.find("view-camber 0"), 13, "view-camber A");
    const std::string bad = Write("bad.morvex", text);
    TFitToolOptions options = FromSession(bad, dir_.string());
    options.data_path = data;
    std::ostringstream out, err;
    EXPECT_EQ(RunFitTool(options, out, err), kExitError);
    EXPECT_NE(err.str().find("bad.morvex, line "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("'A' is not a whole number"), std::string::npos) << err.str();
  }
  {
    // A session without data needs --data; its settings path is not read.
    TSessionState state;
    state.fit.settings_path = "/nonexistent/configuration.ini";
    WriteSessionFile(Path("empty.morvex"), state);
    std::ostringstream out, err;
    EXPECT_EQ(RunFitTool(FromSession(Path("empty.morvex"), dir_.string()), out, err), kExitError);
    EXPECT_NE(err.str().find("holds no data: give --data"), std::string::npos) << err.str();
    TFitToolOptions with_data = FromSession(Path("empty.morvex"), dir_.string());
    with_data.data_path = data;
    with_data.free = "PKy1";
    with_data.free_given = true;
    std::ostringstream out2, err2;
    EXPECT_NE(RunFitTool(with_data, out2, err2), kExitError) << err2.str();
    EXPECT_NE(err2.str().find("they are not read"), std::string::npos) << err2.str();
  }
}

struct CommandResult {
  int status;
  std::string output;
};

CommandResult RunMorvexFit(const std::string& arguments) {
  const std::string command = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit " + arguments + " 2>&1";
  CommandResult result{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST_F(SessionToolTest, CommandLineFlags) {
  const CommandResult help = RunMorvexFit("fit --help");
  EXPECT_NE(help.output.find("--session"), std::string::npos);
  EXPECT_NE(help.output.find("--save-session"), std::string::npos);
  EXPECT_EQ(RunMorvexFit("fit --data x.plt").status, kExitError);  // no channel, no session
  const CommandResult no_data = RunMorvexFit("fit --channel lateral");
  EXPECT_EQ(no_data.status, kExitError);
  EXPECT_NE(no_data.output.find("--data"), std::string::npos);

  const std::string examples = std::string(MORVEX_SOURCE_DIR) + "/examples/";
  const CommandResult first =
      RunMorvexFit("fit --channel longitudinal --data " + examples + "longitudinal.plt --coefficients " + examples +
                   "start-values.txt --free PCx1,PDx1,PKx1 --save-session " + Path("run.morvex"));
  ASSERT_NE(first.status, kExitError) << first.output;
  const CommandResult again = RunMorvexFit("fit --session " + Path("run.morvex") + " --save-session " + Path("run.morvex"));
  ASSERT_NE(again.status, kExitError) << again.output;
  EXPECT_NE(again.output.find("fit channel=longitudinal"), std::string::npos) << again.output;
  const TSessionRead read = ReadSessionFile(Path("run.morvex"));
  EXPECT_TRUE(read.state.Channel(TFitChannel::kLongitudinal));
  EXPECT_EQ(read.state.data->text, Read(examples + "longitudinal.plt"));
}

}  // namespace
}  // namespace morvex
