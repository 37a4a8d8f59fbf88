// morvex-fit tir --report: the validation report of the programme written
// after the fit, and refused before anything is read when it would replace
// an input or the property file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/FitTool.h"
#include "cli/TirTool.h"
#include "examples/RunRecorderProgramme.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TirReport : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("morvex-tir-report-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const examples::TCombinedTire car =
        examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
    // A small programme in TYDEX (the runs give the rated load and radius).
    examples::TProgrammeOptions o;
    o.rate_hz = 25;
    o.inclinations = {0, 3};
    o.load_factors = {0.6, 1.0, 1.4};
    o.held_slip_angles = {-6, -3, 3, 6};
    o.slip_angle_period = 16;
    o.slip_ratio_period = 16;
    o.warmup_seconds = 20;
    o.seed = 9;
    o.tydex = true;
    runs_ = examples::WriteProgramme(car, dir_.string(), o);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  int Run(const std::string& tir, const std::string& report, std::string* out_text, std::string* err_text) {
    TTirToolOptions options;
    options.run_paths = runs_;
    options.output_path = tir;
    options.report_path = report;
    std::ostringstream out, err;
    const int status = RunTirTool(options, out, err);
    *out_text = out.str();
    *err_text = err.str();
    return status;
  }
  fs::path dir_;
  std::vector<std::string> runs_;
};

// A report naming a run, the property file, or no report format: refused
// before any run is read, nothing written, the run unchanged.
TEST_F(TirReport, RefusedBeforeTheFitWhenItWouldReplaceAFile) {
  const std::string run_before = ReadText(runs_[0]);
  std::string out, err;
  EXPECT_EQ(Run(Path("car.tir"), runs_[0], &out, &err), kExitError);
  EXPECT_NE(err.find(runs_[0]), std::string::npos) << err;
  EXPECT_EQ(ReadText(runs_[0]), run_before);
  EXPECT_TRUE(out.empty()) << out;  // no run was read
  EXPECT_FALSE(fs::exists(Path("car.tir")));

  EXPECT_EQ(Run(Path("car.tir"), Path("car.tir"), &out, &err), kExitError);
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_FALSE(fs::exists(Path("car.tir")));

  EXPECT_EQ(Run(Path("car.tir"), Path("car.txt"), &out, &err), kExitError);
  EXPECT_NE(err.find(".pdf or .html"), std::string::npos) << err;
  EXPECT_TRUE(out.empty()) << out;
  EXPECT_FALSE(fs::exists(Path("car.tir")));
  EXPECT_FALSE(fs::exists(Path("car.txt")));
}

// After the fit: the property file, then the report with every stage.
TEST_F(TirReport, WritesTheProgrammesReportAfterTheFit) {
  std::string out, err;
  const int status = Run(Path("car.tir"), Path("car.html"), &out, &err);
  EXPECT_TRUE(status == kExitOk || status == kExitFitPoor) << err;
  EXPECT_TRUE(fs::exists(Path("car.tir")));
  EXPECT_NE(out.find("report written: " + Path("car.html") + " (USE_MODE 4: lateral "), std::string::npos) << out;
  const std::string html = ReadText(Path("car.html"));
  for (const char* heading :
       {"Stage lateral: Lateral force Fy", "Stage aligning: Aligning moment Mz", "Stage longitudinal: Longitudinal force Fx",
        "Stage Fx combined: longitudinal force under combined slip", "Stage Fy combined: lateral force under combined slip",
        "Stage Mz combined: aligning moment under combined slip"})
    EXPECT_NE(html.find(heading), std::string::npos) << heading;
  for (const std::string& run : runs_) EXPECT_NE(html.find(fs::path(run).filename().string()), std::string::npos);
  EXPECT_NE(html.find("USE_MODE 4"), std::string::npos);
}

}  // namespace
}  // namespace morvex
