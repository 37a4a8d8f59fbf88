#include "cli/FitTool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "files/CoefficientFile.h"
#include "fitting/ChannelModel.h"
#include "numerics/LxBasics.h"
#include "tiredata/TireDataFile.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

class FitToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Lateral data from the built-in defaults with PKy1 = 12, at two cambers.
  std::string LateralData() {
    TMemoryCoefficientSet truth;
    truth.SetText("PKy1", "12");
    std::ostringstream text;
    for (double camber : {0.0, 2.0}) {
      text << "LOAD_CASE\n" << camber << "\n2000;3000;4000\n";
      for (int r = -8; r <= 8; ++r) {
        text << r;
        for (double load : {2000.0, 3000.0, 4000.0})
          text << ";" << FloatToStrF(EvaluatePoint(TFitChannel::kLateral, truth, camber, load, r),
                                    TFloatFormat::kGeneral, 17, 0);
        text << "\n";
      }
    }
    return Write("lateral.plt", text.str());
  }

  TFitToolOptions FitOptions() {
    TFitToolOptions options;
    options.executable_dir = dir_.string();
    options.data_path = LateralData();
    options.output_path = (dir_ / "out.txt").string();
    return options;
  }

  fs::path dir_;
  std::ostringstream out_, err_;
};

std::string LastLine(const std::string& text) {
  std::string s = text;
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s.substr(s.rfind('\n') + 1);
}

TEST_F(FitToolTest, LevenbergMarquardtFitWritesSetAndReportsCost) {
  TFitToolOptions options = FitOptions();
  options.free = "pky1 , PDY1";
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();

  TMemoryCoefficientSet written;
  ImportCoefficients(written, *options.output_path);
  EXPECT_EQ(written.Text("PKy1"), "12");
  EXPECT_EQ(written.Text("PDy1"), "1");
  EXPECT_EQ(written.Text("PCy1"), "1.3");  // fixed, as started

  const std::string report = out_.str();
  EXPECT_NE(report.find("rms case=2 camber=2 load=4000 points=17 value="), std::string::npos) << report;
  EXPECT_NE(report.find("stderr name=PDy1 value=1.00000 error="), std::string::npos) << report;
  EXPECT_NE(report.find("stderr name=PKy1 value=12.00000 error="), std::string::npos) << report;
  const TTireDataSet data = ReadTireDataFile(options.data_path);
  EXPECT_EQ(LastLine(report), "cost=" + FloatToStr(ChannelCost(TFitChannel::kLateral, written, data)));
  EXPECT_EQ(err_.str(), "");  // no progress lines when the error stream is not a terminal
}

TEST_F(FitToolTest, TrustRegionFitsExactDataAndReportsStandardErrors) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kTrustRegion;
  options.free = "PKy1,PDy1,Fz0";
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();
  const std::string report = out_.str();
  EXPECT_NE(report.find("fit channel=lateral optimizer=tr cases=2 points=102 free=3 status=ok"),
            std::string::npos) << report;
  EXPECT_NE(report.find("stderr name=PDy1 value=1 error="), std::string::npos) << report;
  EXPECT_EQ(report.find("error=not-determined"), std::string::npos) << report;
  EXPECT_NE(report.find("solver iterations="), std::string::npos) << report;
  TMemoryCoefficientSet written;
  ImportCoefficients(written, *options.output_path);
  EXPECT_NEAR(written.Value("PKy1"), 12.0, 1e-9);
  EXPECT_NEAR(written.Value("Fz0"), 3000.0, 1e-6);
}

TEST_F(FitToolTest, SingleCamberDataNamesTheCamberCoefficients) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kTrustRegion;
  options.free = "PKy1,PHy3";
  options.data_path = Write("one.plt", "LOAD_CASE\n0\n2000;4000\n-2;-900;-1500\n0;0;10\n2;900;1500\n4;1500;2600\n");
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("stderr name=PHy3 value=0.25 error=not-determined\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("note PHy3 is not determined: the data holds one camber angle\n"),
            std::string::npos) << out_.str();
}

TEST_F(FitToolTest, GeneticSearchThenTrustRegionPolish) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kDifferentialEvolution;
  options.polish_with_trust_region = true;
  options.free = "PKy1";
  options.settings_path = Write("small.ini", "[GENETIC]\nNB_POP=8\nNB_GEN=3\nPKY1_MIN=5\nPKY1_MAX=20\n");
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();
  EXPECT_EQ(out_.str().rfind("fit channel=lateral optimizer=de+tr ", 0), 0u) << out_.str();
  TMemoryCoefficientSet written;
  ImportCoefficients(written, *options.output_path);
  EXPECT_NEAR(written.Value("PKy1"), 12.0, 1e-9);
}

TEST_F(FitToolTest, StartValuesComeFromDefaultsFileThenCoefficientFile) {
  Write("param_fm_ini.ini", "[PARAMETERS FY]\nPKY1=11\nPCY1=1.25\n");
  TFitToolOptions options = FitOptions();
  options.coefficients_path = Write("start.txt", "[PARAMETERS FY]\nPcy1=1.3\n");
  options.free = "PKy1";
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();
  TMemoryCoefficientSet written;
  ImportCoefficients(written, *options.output_path);
  EXPECT_EQ(written.Text("PCy1"), "1.3");
  EXPECT_EQ(written.Text("PKy1"), "12");
}

TEST_F(FitToolTest, FitterFailureStillWritesOutputWithExitOne) {
  TFitToolOptions options = FitOptions();
  options.free = "PCx1";  // nothing of the lateral channel is free
  EXPECT_EQ(RunFitTool(options, out_, err_), kExitFitFailed);
  EXPECT_TRUE(fs::exists(*options.output_path));
  EXPECT_NE(err_.str().find("Optimization failed."), std::string::npos);
  EXPECT_EQ(LastLine(out_.str()).rfind("cost=", 0), 0u);
}

TEST_F(FitToolTest, UsageErrorsWriteNothingWithExitTwo) {
  {
    TFitToolOptions options = FitOptions();
    options.free = "PKy1,PXy9";
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
    EXPECT_NE(err_.str().find("PXy9"), std::string::npos);
  }
  {
    TFitToolOptions options = FitOptions();
    options.free = "R0";
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
  }
  {
    TFitToolOptions options = FitOptions();
    options.data_path = (dir_ / "missing.plt").string();
    err_.str("");
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
    EXPECT_NE(err_.str().find("Impossible d'ouvrir le fichier"), std::string::npos);
  }
  {
    TFitToolOptions options = FitOptions();
    options.data_path = Write("bad.plt", "LOAD_CASE\n0\n2000;x\n");
    err_.str("");
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
    EXPECT_NE(err_.str().find("'x' n'est pas une valeur en virgule flottante correcte"),
              std::string::npos);
  }
  {
    TFitToolOptions options = FitOptions();
    options.optimizer = TOptimizerChoice::kDifferentialEvolution;
    options.settings_path = Write("configuration.ini", "[GENETIC]\nNB_POP=2\n");
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.txt"));
  EXPECT_EQ(out_.str(), "");
}

// The cost of a fit's output as the report's last line gives it.
double CostOf(const std::string& report) { return StrToFloat(LastLine(report).substr(5)); }

TEST_F(FitToolTest, VerdictLineComesJustBeforeTheCost) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kTrustRegion;
  options.free = "PKy1";
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str();
  const std::string report = out_.str();
  EXPECT_NE(report.find("\nverdict=good\ncost="), std::string::npos) << report;
}

TEST_F(FitToolTest, PoorFitIsWrittenAndEndsWithExitThree) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kTrustRegion;
  // The data's cornering stiffness is positive; a negative one held fixed
  // cannot be mended by the peak factor alone.
  options.coefficients_path = Write("start.txt", "[PARAMETERS FY]\nPky1=-12\n");
  options.free = "PDy1";
  EXPECT_EQ(RunFitTool(options, out_, err_), kExitFitPoor) << err_.str();
  EXPECT_TRUE(fs::exists(*options.output_path));
  const std::string report = out_.str();
  EXPECT_NE(report.find("\nverdict=poor reason="), std::string::npos) << report;
  EXPECT_NE(report.find("slope-sign"), std::string::npos) << report;
  EXPECT_NE(err_.str().find("morvex-fit: poor fit: the data's cornering stiffness is positive and PKy1 is negative"),
            std::string::npos) << err_.str();
}

TEST_F(FitToolTest, EstimatedStartFindsTheFitFromFarValues) {
  TFitToolOptions options = FitOptions();
  options.optimizer = TOptimizerChoice::kTrustRegion;
  options.coefficients_path = Write("far.txt", "[PARAMETERS FY]\nPky1=-30\nPcy1=0.7\nPdy1=3\n");
  options.free = "PKy1,PDy1,PCy1,PEy1";
  options.estimate_start = true;
  ASSERT_EQ(RunFitTool(options, out_, err_), kExitOk) << err_.str() << out_.str();
  EXPECT_NE(err_.str().find("morvex-fit: estimated start values of 4 coefficients"), std::string::npos) << err_.str();
  TMemoryCoefficientSet written;
  ImportCoefficients(written, *options.output_path);
  EXPECT_NEAR(written.Value("PKy1"), 12.0, 1e-6);
  EXPECT_NEAR(written.Value("PCy1"), 1.3, 1e-6);
}

TEST_F(FitToolTest, SearchThenTrustRegionIsNeverWorseThanTheTrustRegionFromTheSameStart) {
  const std::string start = Write("start.txt", "[PARAMETERS FY]\nPky1=-12\nPcy1=1.1\n");
  // A search box that misses the data's valley entirely.
  const std::string box = Write("box.ini", "[GENETIC]\nNB_POP=10\nNB_GEN=5\nPKY1_MIN=-20\nPKY1_MAX=-5\n"
                                           "PCY1_MIN=0.5\nPCY1_MAX=0.6\n");
  TFitToolOptions options = FitOptions();
  options.coefficients_path = start;
  options.free = "PKy1,PCy1";
  options.optimizer = TOptimizerChoice::kTrustRegion;
  RunFitTool(options, out_, err_);
  const double tr = CostOf(out_.str());
  out_.str("");
  options.optimizer = TOptimizerChoice::kDifferentialEvolution;
  options.polish_with_trust_region = true;
  options.settings_path = box;
  RunFitTool(options, out_, err_);
  EXPECT_LE(CostOf(out_.str()), tr) << out_.str();
}

// A drive/brake run read as lateral data holds a handful of points: every
// coefficient free would fit them exactly with any values, so the fit is
// refused before it starts, with or without estimated start values.
TEST_F(FitToolTest, FewerPointsThanFreeCoefficientsAreRefusedWithExitTwo) {
  TFitToolOptions options = FitOptions();
  options.data_path = Write("six.plt", "LOAD_CASE\n0\n3000\n-0.1;-2500\n-0.05;-1800\n-0.01;-400\n0.01;410\n"
                                       "0.05;1790\n0.1;2510\n");
  options.optimizer = TOptimizerChoice::kTrustRegion;
  for (bool estimate : {false, true}) {
    options.estimate_start = estimate;
    err_.str("");
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError) << err_.str();
    EXPECT_FALSE(fs::exists(*options.output_path));
    EXPECT_NE(err_.str().find("6 points of this channel for"), std::string::npos) << err_.str();
  }
}

TEST_F(FitToolTest, DataWithoutLoadCaseSaysSoAndWritesNothing) {
  TFitToolOptions options = FitOptions();
  std::string bytes;
  for (int k = 0; k < 600; ++k) bytes += static_cast<char>((k * 7919 + 13) % 251 + 1);
  options.data_path = Write("noise.plt", bytes);
  for (TOptimizerChoice optimizer : {TOptimizerChoice::kLevenbergMarquardt, TOptimizerChoice::kTrustRegion}) {
    options.optimizer = optimizer;
    err_.str("");
    EXPECT_EQ(RunFitTool(options, out_, err_), kExitError);
    EXPECT_NE(err_.str().find("The data set holds no load case"), std::string::npos) << err_.str();
  }
  EXPECT_FALSE(fs::exists(*options.output_path));
  EXPECT_EQ(out_.str(), "");
}

TEST_F(FitToolTest, EvalPrintsOneValuePerPointLine) {
  TEvalToolOptions options;
  options.executable_dir = dir_.string();
  options.channel = TFitChannel::kLongitudinal;
  options.points_path = Write("points.txt", "0 4000 0.05\n2;3000;-0.1\r\n0 0 0.3\n");
  ASSERT_EQ(RunEvalTool(options, out_, err_), kExitOk) << err_.str();
  const TMemoryCoefficientSet set;
  const std::string expected =
      FloatToStrF(EvaluatePoint(TFitChannel::kLongitudinal, set, 0, 4000, 0.05), TFloatFormat::kGeneral, 17, 0) +
      "\n" +
      FloatToStrF(EvaluatePoint(TFitChannel::kLongitudinal, set, 2, 3000, -0.1), TFloatFormat::kGeneral, 17, 0) +
      "\n0\n";
  EXPECT_EQ(out_.str(), expected);

  options.points_path = Write("short.txt", "0 4000\n");
  out_.str("");
  EXPECT_EQ(RunEvalTool(options, out_, err_), kExitError);
  EXPECT_NE(err_.str().find("Indice de liste hors limites (2)"), std::string::npos);
  EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// The installed command itself: arguments, help and exit codes.
struct CommandResult {
  int status;
  std::string output;
};

CommandResult RunCommand(const std::string& arguments) {
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

TEST(MorvexFitCommand, HelpAndArgumentErrors) {
  const CommandResult help = RunCommand("fit --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--channel"), std::string::npos);
  EXPECT_NE(help.output.find("--optimizer"), std::string::npos);

  EXPECT_EQ(RunCommand("").status, kExitError);  // a subcommand is required
  EXPECT_EQ(RunCommand("fit --channel sideways --data x.plt").status, kExitError);
  EXPECT_EQ(RunCommand("fit --channel lateral").status, kExitError);  // no --data
  EXPECT_EQ(RunCommand("fit --channel lateral --data x.plt --optimizer newton").status, kExitError);
}

TEST(MorvexFitCommand, EvalTakesChannelNamesInAnyCase) {
  const fs::path points = fs::temp_directory_path() / "morvex-cli-points.txt";
  std::ofstream(points) << "0 3000 4\n";
  const CommandResult result = RunCommand("eval --channel LATERAL --points " + points.string());
  fs::remove(points);
  EXPECT_EQ(result.status, 0) << result.output;
  // The built-in defaults beside the executable give the value; it is a number.
  double value = 0;
  EXPECT_TRUE(TryStrToFloat(result.output.substr(0, result.output.find('\n')), value)) << result.output;
  EXPECT_GT(value, 0.0);
}

// --threads and MORVEX_THREADS change how long a fit takes, never what it
// writes; a count that is not a positive whole number is refused or named.
TEST(MorvexFitCommand, ThreadCountChangesNothingButTheTime) {
  const std::string examples = std::string(MORVEX_SOURCE_DIR) + "/examples/";
  const fs::path out = fs::temp_directory_path() / ("morvex-threads-" + std::to_string(getpid()));
  fs::create_directories(out);
  const auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  };
  std::ofstream(out / "configuration.ini") << "[GENETIC]\nNB_POP=20\nNB_GEN=40\n";
  for (const char* optimizer : {"lm", "de"}) {
    std::string first_output, first_cost;
    for (const char* threads : {"--threads 1", "--threads 2", "--threads 3"}) {
      const fs::path file = out / (std::string(optimizer) + "-" + std::string(threads).substr(10) + ".txt");
      const CommandResult result =
          RunCommand("fit --channel longitudinal --data " + examples + "longitudinal.plt --coefficients " + examples +
                     "start-values.txt --free PCx1,PDx1,PKx1,PEx1,PHx1,PVx1 --settings " + (out / "configuration.ini").string() +
                     " --optimizer " + optimizer + " " + threads +
                     " --output " + file.string());
      ASSERT_NE(result.status, kExitError) << result.output;
      const std::string cost = result.output.substr(result.output.rfind("cost="));
      if (first_output.empty()) {
        first_output = read(file);
        first_cost = cost;
      } else {
        EXPECT_EQ(read(file), first_output) << optimizer << " " << threads;
        EXPECT_EQ(cost, first_cost) << optimizer << " " << threads;
      }
    }
  }
  fs::remove_all(out);
  EXPECT_EQ(RunCommand("fit --channel lateral --data x.plt --threads 0").status, kExitError);
  setenv("MORVEX_THREADS", "many", 1);
  const CommandResult named =
      RunCommand("fit --channel lateral --data " + examples + "lateral.plt --free PVy1 --optimizer tr");
  unsetenv("MORVEX_THREADS");
  EXPECT_NE(named.output.find("MORVEX_THREADS='many' is not a positive whole number"), std::string::npos)
      << named.output;
}

}  // namespace
}  // namespace morvex
