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
#include "cli/ReportTool.h"
#include "cli/TirTool.h"
#include "examples/RunRecorderProgramme.h"
#include "testing/TestSupport.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

using test::ReadText;

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
    const examples::TProgrammeOptions o = examples::SmallTydexProgramme(9);
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

// After the fit: the property file, the session, then the report with every
// stage.  The session holds the programme and its fit: `report --session`
// alone then gives the programme's pages, reading no run.  (One test: each
// fits the whole programme.)
TEST_F(TirReport, WritesTheProgrammesReportAfterTheFitAndFromItsSession) {
  TTirToolOptions options;
  options.run_paths = runs_;
  options.output_path = Path("car.tir");
  options.save_session_path = Path("car.morvex");
  options.report_path = Path("car.html");
  std::ostringstream fit_out, fit_err;
  const int status = RunTirTool(options, fit_out, fit_err);
  ASSERT_TRUE(status == kExitOk || status == kExitFitPoor) << fit_err.str();
  const std::string out = fit_out.str();
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

  // The runs are gone: the session's embedded data must do.
  for (const std::string& run : runs_) fs::remove(run);
  TReportToolOptions report;
  report.channel_given = false;
  report.session_path = Path("car.morvex");
  report.output_path = Path("session.html");
  report.executable_dir = std::string(MORVEX_BINARY_DIR) + "/bin";
  std::ostringstream report_out, report_err;
  const int report_status = RunReportTool(report, report_out, report_err);
  EXPECT_TRUE(report_status == kExitOk || report_status == kExitFitPoor) << report_err.str();
  EXPECT_NE(report_out.str().find("USE_MODE 4: lateral "), std::string::npos) << report_out.str();
  const std::string from_session = ReadText(Path("session.html"));
  for (const char* heading : {"Stage lateral: Lateral force Fy", "Stage Fx combined: longitudinal force under combined slip",
                              "Stage Fy combined: lateral force under combined slip"})
    EXPECT_NE(from_session.find(heading), std::string::npos) << heading;
  EXPECT_NE(from_session.find("programme run (not read): "), std::string::npos);
  // The same pages as the report written by tir itself.
  EXPECT_EQ(from_session.find("Channels: none"), std::string::npos);
}

}  // namespace
}  // namespace morvex
