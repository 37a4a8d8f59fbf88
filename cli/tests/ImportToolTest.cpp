// morvex-fit import and check, on the example run file of examples/ (a
// simulated flat-track recording of the tire of true-values.txt).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/CheckTool.h"
#include "cli/FitTool.h"
#include "cli/ImportTool.h"
#include "tiredata/TireDataFile.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class ImportToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-import-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
    return Path(name);
  }
  static std::string ExampleRun() { return std::string(MORVEX_SOURCE_DIR) + "/examples/run.dat"; }
  static std::string ExampleText() {
    std::ifstream in(ExampleRun(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
};

TEST_F(ImportToolTest, WritesADataFileTheReaderLoads) {
  TImportToolOptions options;
  options.run_path = ExampleRun();
  options.filters = "warmup=30";
  options.output_path = Path("lateral.plt");
  std::ostringstream out, err;
  ASSERT_EQ(RunImportTool(options, out, err), kExitOk) << err.str();
  EXPECT_NE(out.str().find("Samples read: "), std::string::npos);
  EXPECT_NE(out.str().find("Wrote " + options.output_path + ": 3 load cases, 588 points"), std::string::npos)
      << out.str();
  const TTireDataSet data = ReadTireDataFile(options.output_path);
  ASSERT_EQ(data.Cases.size(), 3u);
  EXPECT_EQ(data.Cases[1].Camber, 2);
  EXPECT_EQ(data.Cases[1].Loads.size(), 4u);

  // User set-points and a longitudinal import from the same run.
  options.channel = TImportChannel::kLongitudinal;
  options.inclinations = "0, 4";
  options.loads = "4000,8000";
  ASSERT_EQ(RunImportTool(options, out, err), kExitOk) << err.str();
  const TTireDataSet longitudinal = ReadTireDataFile(options.output_path);
  ASSERT_EQ(longitudinal.Cases.size(), 2u);
  EXPECT_EQ(longitudinal.Cases[0].Loads.size(), 2u);
}

// Nothing usable: the report is printed, its reason goes to the error
// stream with exit status 2, and no file is written.
TEST_F(ImportToolTest, EmptyImportExitsTwoWithTheReason) {
  TImportToolOptions options;
  options.run_path = ExampleRun();
  options.filters = "max-slip-ratio=0,warmup=30";
  options.mapping = "slip-ratio=TSTC";  // the tire temperature is never 0
  options.output_path = Path("none.plt");
  std::ostringstream out, err;
  // A temperature is not a ratio: the unit is refused first.
  EXPECT_EQ(RunImportTool(options, out, err), kExitError);
  EXPECT_NE(err.str().find("the unit 'deg C' of channel TSTC (slip ratio) cannot be read"), std::string::npos)
      << err.str();

  options.mapping = "slip-ratio=V";
  options.filters = "warmup=30";
  std::ostringstream out2, err2;
  options.convention = "sae";
  std::string text = ExampleText();
  text.replace(text.find("\tkph\t"), 5, "\t-\t");  // speed read as a ratio: never near 0
  options.run_path = Write("run.dat", text);
  EXPECT_EQ(RunImportTool(options, out2, err2), kExitError);
  // The step that emptied it, then the unit that contradicts its values.
  EXPECT_EQ(err2.str().rfind(
                "morvex-fit: nothing usable remains: no sample with |slip ratio| <= 0.005: is this a drive/brake "
                "run?; the units of the file look wrong: The slip ratio channel V (unit '-')",
                0),
            0u)
      << err2.str();
  EXPECT_NE(out2.str().find("Nothing usable remains"), std::string::npos);
  EXPECT_FALSE(fs::exists(options.output_path));
}

TEST_F(ImportToolTest, MalformedRunNamesLineAndColumn) {
  std::string text = ExampleText();
  const size_t line5 = text.find('\n', text.find('\n', text.find('\n', text.find('\n') + 1) + 1) + 1) + 1;
  text.insert(text.find('\t', text.find('\t', text.find('\t', line5) + 1) + 1) + 1, "x");  // SA of line 5
  TImportToolOptions options;
  options.run_path = Write("bad.dat", text);
  options.output_path = Path("bad.plt");
  std::ostringstream out, err;
  EXPECT_EQ(RunImportTool(options, out, err), kExitError);
  EXPECT_EQ(err.str().substr(0, 40), "morvex-fit: Line 5, column 4 (SA): 'x-0.") << err.str();
  EXPECT_FALSE(fs::exists(options.output_path));

  options.convention = "upside-down";
  std::ostringstream out2, err2;
  EXPECT_EQ(RunImportTool(options, out2, err2), kExitError);
  EXPECT_NE(err2.str().find("Unknown sign convention 'upside-down'"), std::string::npos);
}

TEST_F(ImportToolTest, CheckNamesWhatOneInclinationCannotDetermine) {
  TImportToolOptions options;
  options.run_path = ExampleRun();
  options.filters = "warmup=30";
  options.inclinations = "2";
  options.output_path = Path("one.plt");
  std::ostringstream out, err;
  ASSERT_EQ(RunImportTool(options, out, err), kExitOk) << err.str();

  TCheckToolOptions check;
  check.data_path = options.output_path;
  check.executable_dir = dir_.string();  // no start-up file here: the table's defaults
  std::ostringstream advice, check_err;
  ASSERT_EQ(RunCheckTool(check, advice, check_err), kExitOk) << check_err.str();
  EXPECT_NE(advice.str().find("1 inclination (2 deg)"), std::string::npos) << advice.str();
  EXPECT_NE(advice.str().find("PHy3: the data holds one camber angle"), std::string::npos) << advice.str();
  EXPECT_NE(advice.str().find("Clear these boxes before fitting: "), std::string::npos);

  // One load: the load-change coefficients.
  options.inclinations = "";
  options.loads = "4000";
  ASSERT_EQ(RunImportTool(options, out, err), kExitOk) << err.str();
  std::ostringstream one_load;
  ASSERT_EQ(RunCheckTool(check, one_load, check_err), kExitOk) << check_err.str();
  EXPECT_NE(one_load.str().find("1 load ("), std::string::npos) << one_load.str();
  for (const char* name : {"PDy2", "PEy2", "PKy2"})
    EXPECT_NE(one_load.str().find(std::string(name) + ": the data holds one load"), std::string::npos)
        << name << "\n" << one_load.str();

  check.free = "PCy1,PDy1";
  std::ostringstream advice2;
  ASSERT_EQ(RunCheckTool(check, advice2, check_err), kExitOk);
  EXPECT_NE(advice2.str().find("Clear these boxes before fitting: none"), std::string::npos) << advice2.str();
}

// The subcommands are registered in the installed command.
TEST(MorvexFitImport, CommandLine) {
  const std::string base = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit ";
  auto status_of = [&](const std::string& arguments) {
    const int status = std::system((base + arguments + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(status_of("import --help"), 0);
  EXPECT_EQ(status_of("check --help"), 0);
  EXPECT_EQ(status_of("import --channel lateral --output /dev/null /nonexistent.dat"), kExitError);
  EXPECT_EQ(status_of("import --channel lateral /nonexistent.dat"), kExitError);  // no --output
}

}  // namespace
}  // namespace morvex
