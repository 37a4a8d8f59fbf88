// No command writes over a file it reads, whatever path leads to it, and a
// batch that cannot be run as written runs nothing; the genetic search of a
// fit survives trials whose cost overflows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/BatchTool.h"
#include "cli/CheckTool.h"
#include "cli/FitTool.h"
#include "cli/ImportTool.h"
#include "cli/OutputGuard.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class InputProtection : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-protect-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "sub");
    for (const char* name : {"lateral.plt", "longitudinal.plt", "start-values.txt", "run.dat"})
      fs::copy_file(fs::path(MORVEX_SOURCE_DIR) / "examples" / name, dir_ / name);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return Path(name);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Other names of the file `name`: another spelling, a symbolic link and a
  // hard link.
  std::vector<std::string> Aliases(const std::string& name) {
    fs::create_symlink(dir_ / name, dir_ / ("link-" + name));
    fs::create_hard_link(dir_ / name, dir_ / ("hard-" + name));
    return {Path(name), (dir_ / "sub" / ".." / name).string(), Path("link-" + name), Path("hard-" + name)};
  }
  fs::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(InputProtection, SameFileSeesThroughSpellingsAndLinks) {
  for (const std::string& alias : Aliases("lateral.plt")) EXPECT_TRUE(SameFile(Path("lateral.plt"), alias)) << alias;
  // A file still to be written: compared by its path with links resolved.
  fs::create_directory_symlink(dir_ / "sub", dir_ / "linked-sub");
  EXPECT_TRUE(SameFile(Path("sub/new.tir"), Path("linked-sub/new.tir")));
  EXPECT_FALSE(SameFile(Path("sub/new.tir"), Path("sub/other.tir")));
  EXPECT_FALSE(SameFile(Path("lateral.plt"), Path("longitudinal.plt")));
}

// Before, each of these overwrote its input: the raw run, the data, the
// start values or the converted file were lost.
TEST_F(InputProtection, ImportFitAndConvertRefuseAnOutputThatNamesAnInput) {
  const std::string run = Read(Path("run.dat"));
  for (const std::string& alias : Aliases("run.dat")) {
    TImportToolOptions import;
    import.run_path = Path("run.dat");
    import.output_path = alias;
    err_.str("");
    EXPECT_EQ(RunImportTool(import, out_, err_), kExitError) << alias;
    EXPECT_NE(err_.str().find("is the input " + Path("run.dat")), std::string::npos) << err_.str();
    EXPECT_EQ(Read(Path("run.dat")), run);
  }
  EXPECT_EQ(out_.str(), "");  // refused before the run was read: no report

  const std::string data = Read(Path("lateral.plt"));
  const std::string start = Read(Path("start-values.txt"));
  for (const std::string& alias : Aliases("lateral.plt")) {
    TFitToolOptions fit;
    fit.executable_dir = dir_.string();
    fit.data_path = Path("lateral.plt");
    fit.output_path = alias;
    EXPECT_EQ(RunFitTool(fit, out_, err_), kExitError) << alias;
  }
  for (const std::string& alias : Aliases("start-values.txt")) {
    TFitToolOptions fit;
    fit.executable_dir = dir_.string();
    fit.data_path = Path("lateral.plt");
    fit.coefficients_path = Path("start-values.txt");
    fit.output_path = alias;
    EXPECT_EQ(RunFitTool(fit, out_, err_), kExitError) << alias;
    TConvertToolOptions convert;
    convert.executable_dir = dir_.string();
    convert.input_path = alias;
    convert.output_path = Path("start-values.txt");
    EXPECT_EQ(RunConvertTool(convert, out_, err_), kExitError) << alias;
  }
  // The settings file and the template are inputs too.
  TFitToolOptions fit;
  fit.executable_dir = dir_.string();
  fit.data_path = Path("lateral.plt");
  fit.settings_path = Write("settings.ini", "[GENETIC]\n");
  fit.output_path = Path("settings.ini");
  EXPECT_EQ(RunFitTool(fit, out_, err_), kExitError);
  EXPECT_EQ(Read(Path("settings.ini")), "[GENETIC]\n");
  EXPECT_EQ(Read(Path("lateral.plt")), data);
  EXPECT_EQ(Read(Path("start-values.txt")), start);

  // Another output is written as before.
  TConvertToolOptions convert;
  convert.executable_dir = dir_.string();
  convert.input_path = Path("start-values.txt");
  convert.output_path = Path("sub/converted.txt");
  EXPECT_EQ(RunConvertTool(convert, out_, err_), kExitOk) << err_.str();
}

class BatchManifestChecks : public InputProtection {
 protected:
  int RunManifest(const std::string& text) {
    TBatchOptions options;
    options.manifest_path = Write("fits.manifest", text);
    options.jobs = 2;
    options.executable = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit";
    err_.str("");
    return RunBatchTool(options, out_, err_);
  }
};

// Before, an empty manifest or a folder "succeeded" with exit 0, and two
// fits writing one file raced each other.
TEST_F(BatchManifestChecks, NothingToRunOrOutputsThatCollideFailBeforeAnyFit) {
  EXPECT_EQ(RunManifest(""), kExitError);
  EXPECT_NE(err_.str().find("holds no fit"), std::string::npos) << err_.str();
  EXPECT_EQ(RunManifest("# only a comment\n\n   \n"), kExitError);

  TBatchOptions folder;
  folder.manifest_path = (dir_ / "sub").string();
  folder.executable = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit";
  err_.str("");
  EXPECT_EQ(RunBatchTool(folder, out_, err_), kExitError);
  EXPECT_NE(err_.str().find("is a folder"), std::string::npos) << err_.str();

  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      // One output twice, spelt two ways.
      {"lateral.plt lateral start-values.txt PKy1 lm out/a.txt\n"
       "lateral.plt lateral start-values.txt PCy1 lm out/../out/a.txt\n",
       "line 2: the output "},
      // An output over this line's data, another line's start file, the manifest.
      {"lateral.plt lateral start-values.txt PKy1 lm out/a.txt\n"
       "longitudinal.plt longitudinal estimate all tr lateral.plt\n",
       "line 2: The output "},
      {"lateral.plt lateral start-values.txt PKy1 lm out/a.txt\n"
       "longitudinal.plt longitudinal estimate all tr start-values.txt\n",
       "is the input"},
      {"lateral.plt lateral estimate:start-values.txt PKy1 lm fits.manifest\n", "is the input"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunManifest(c.text), kExitError) << c.text;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "out" / "a.txt")) << c.text;  // no fit ran
  }
  EXPECT_EQ(out_.str(), "");
}

// A trial of the search whose cost overflows (exp(PKx3 dfz) beyond the
// largest double) counts as infinitely bad; the search goes on and the
// report says how many trials failed.  Before, the first such trial ended
// the fit with "Débordement en virgule flottante".
TEST_F(InputProtection, OverflowingSearchTrialsAreCountedAndTheFitGoesOn) {
  TFitToolOptions fit;
  fit.executable_dir = dir_.string();
  fit.channel = TFitChannel::kLongitudinal;
  fit.data_path = Path("longitudinal.plt");
  fit.optimizer = TOptimizerChoice::kDifferentialEvolution;
  fit.free = "PKx3";
  fit.settings_path = Write("wide.ini", "[GENETIC]\nNB_POP=10\nNB_GEN=4\nPKX3_MIN=0\nPKX3_MAX=2000\n");
  fit.output_path = Path("sub/fitted.txt");
  const int status = RunFitTool(fit, out_, err_);
  EXPECT_TRUE(status == kExitOk || status == kExitFitPoor) << status << err_.str();
  const std::string report = out_.str();
  const size_t at = report.find("trials-failed ");
  ASSERT_NE(at, std::string::npos) << report;
  EXPECT_GT(std::stoi(report.substr(at + 14)), 0) << report;
  EXPECT_TRUE(fs::exists(Path("sub/fitted.txt")));

  // When the start and every drawn member overflow, nothing can be judged:
  // the fit says so.
  fit.coefficients_path = Write("far.txt", "[PARAMETERS FX]\nPKX3=900\n");
  fit.settings_path = Write("far.ini", "[GENETIC]\nNB_POP=6\nNB_GEN=2\nPKX3_MIN=800\nPKX3_MAX=1000\n");
  fit.output_path = Path("sub/far-out.txt");
  err_.str("");
  EXPECT_EQ(RunFitTool(fit, out_, err_), kExitError);
  EXPECT_NE(err_.str().find("Every one of the 6 members of the genetic search's first population raised a "
                            "floating-point fault"),
            std::string::npos)
      << err_.str();
  EXPECT_FALSE(fs::exists(Path("sub/far-out.txt")));

  // A search without faults reports none.
  fit.coefficients_path.reset();
  fit.settings_path = Write("narrow.ini", "[GENETIC]\nNB_POP=6\nNB_GEN=2\nPKX3_MIN=0\nPKX3_MAX=1\n");
  out_.str("");
  fit.output_path = Path("sub/narrow-out.txt");
  RunFitTool(fit, out_, err_);
  EXPECT_NE(out_.str().find("trials-failed 0\n"), std::string::npos) << out_.str();
}

// A fault of a data file reaches the terminal with its place: before, a
// short row said only "Indice de liste hors limites (5)".
TEST_F(InputProtection, DataFileFaultsNameTheFileLineAndField) {
  const std::string data =
      Write("short.plt", "LOAD_CASE\n0\n1000;2000;3000;4000;5000\n-1;1;2;3;4;5\n1;1;2;3;4\n");
  TCheckToolOptions check;
  check.data_path = data;
  check.executable_dir = dir_.string();
  EXPECT_EQ(RunCheckTool(check, out_, err_), kExitError);
  EXPECT_EQ(err_.str(),
            "morvex-fit: Indice de liste hors limites (5) (file " + data +
                ", line 5, field 6: the value at load 5000 is missing: the row has 5 of the 6 fields the loads "
                "line asks for, a slip and 5 values)\n");

  TFitToolOptions fit;
  fit.executable_dir = dir_.string();
  fit.data_path = Write("long.plt", "LOAD_CASE\n0\n1000\n-1;1\n1;1;7\n");
  err_.str("");
  EXPECT_EQ(RunFitTool(fit, out_, err_), kExitError);
  EXPECT_NE(err_.str().find("Too many fields on a data row (file " + fit.data_path + ", line 5, field 3: "),
            std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace morvex
