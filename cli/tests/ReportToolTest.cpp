// morvex-fit report: the validation report of coefficients on a data file,
// from published-tire data, as PDF and HTML; an input is never its output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/FitTool.h"
#include "cli/ReportTool.h"
#include "files/CoefficientFile.h"
#include "report/tests/ReportTestSupport.h"
#include "tiredata/TireDataWriter.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::PublishedData;
using test::PublishedTire;

// The published SUV tire's aligning moment: its data (three cambers, four
// loads, 1 % noise) and its coefficients in an INI coefficient file.
class ReportTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("morvex-report-tool-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    truth_ = PublishedTire("suv-265-70R18");
    WriteTireDataFile(Path("aligning.plt"), PublishedData(TFitChannel::kAligning, truth_, 5), {});
    ExportCoefficients(truth_, Path("suv.txt"));
    data_before_ = test::ReadAll(Path("aligning.plt"));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  TReportToolOptions Options(const std::string& output) const {
    TReportToolOptions options;
    options.channel = TFitChannel::kAligning;
    options.data_path = Path("aligning.plt");
    options.coefficients_path = Path("suv.txt");
    options.free = "QBz1,QBz2,QCz1,QDz1,QDz2,QEz1,QHz1";
    options.output_path = output;
    options.executable_dir = std::string(MORVEX_BINARY_DIR) + "/bin";
    return options;
  }
  int Run(const TReportToolOptions& options) {
    out_.str("");
    err_.str("");
    return RunReportTool(options, out_, err_);
  }
  fs::path dir_;
  TMemoryCoefficientSet truth_;
  std::string data_before_;
  std::ostringstream out_, err_;
};

TEST_F(ReportTool, PdfOfPublishedCoefficientsNamesChannelVerdictAndEveryFreeCoefficient) {
  MORVEX_SKIP_WITHOUT_PDFTOTEXT();
  const std::string output = Path("suv aligning.pdf");
  ASSERT_EQ(Run(Options(output)), kExitOk) << err_.str();
  EXPECT_EQ(out_.str(), "report written: " + output + " (aligning good)\n");
  const std::string text = test::PdfText(output, true);
  EXPECT_NE(text.find("Aligning moment Mz (channel aligning)"), std::string::npos);
  EXPECT_NE(text.find("Verdict: good"), std::string::npos);
  EXPECT_NE(text.find("no fit was run"), std::string::npos);
  EXPECT_NE(text.find("Mz measured - model [N m]"), std::string::npos);
  EXPECT_NE(text.find("data: " + Path("aligning.plt")), std::string::npos);
  for (const char* name : {"QBz1", "QBz2", "QCz1", "QDz1", "QDz2", "QEz1", "QHz1"}) {
    const std::string value = truth_.Text(name);
    const size_t at = text.find("\n" + std::string(name) + " ");
    ASSERT_NE(at, std::string::npos) << name;
    const std::string row = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    EXPECT_NE(row.find(" " + value + " "), std::string::npos) << row;
    EXPECT_NE(row.find("free"), std::string::npos) << row;
  }
  EXPECT_EQ(test::ReadAll(Path("aligning.plt")), data_before_);
}

TEST_F(ReportTool, FitsByTheTrustRegionWhenAskedAndReportsWhatItFitted) {
  // A start off the published values: the fit brings them back.
  TMemoryCoefficientSet start = truth_;
  start.SetText("QBz1", FloatToStr(truth_.Value("QBz1") * 1.1));
  start.SetText("QDz1", FloatToStr(truth_.Value("QDz1") * 0.9));
  ExportCoefficients(start, Path("start.txt"));
  const std::string start_file = test::ReadAll(Path("start.txt"));
  TReportToolOptions options = Options(Path("fitted.html"));
  options.coefficients_path = Path("start.txt");
  options.fit = true;
  ASSERT_EQ(Run(options), kExitOk) << err_.str();
  const std::string html = test::ReadAll(Path("fitted.html"));
  EXPECT_NE(html.find("fitted by trust region"), std::string::npos);
  EXPECT_NE(html.find("Verdict: good"), std::string::npos);
  // The fitted values are written with their standard errors: every free
  // row has a number there, and QBz1 is back near its published value.
  const std::string qbz1 = "<tr><td>QBz1</td><td class=\"num\">";
  const size_t at = html.find(qbz1);
  ASSERT_NE(at, std::string::npos);
  const double fitted = std::stod(html.substr(at + qbz1.size()));
  EXPECT_NEAR(fitted, truth_.Value("QBz1"), 0.02 * std::fabs(truth_.Value("QBz1")));
  EXPECT_EQ(html.find("<td>free</td><td class=\"num\">-</td>"), std::string::npos);
  EXPECT_EQ(test::ReadAll(Path("start.txt")), start_file);  // the report writes no coefficient file
}

TEST_F(ReportTool, NamesTheImportedRunAndShowsTheImportsReport) {
  TTireDataSet data = PublishedData(TFitChannel::kAligning, truth_, 5);
  WriteTireDataFile(Path("imported.plt"), data, {"Morvex aligning data imported from run <7>.csv"});
  // Named like a report: only the guard stands between it and the output.
  std::ofstream(Path("import.html")) << "runs: run <7>.csv\nwarm-up removed: 41.5 s\n";
  TReportToolOptions options = Options(Path("imported.html"));
  options.data_path = Path("imported.plt");
  options.import_report_path = Path("import.html");
  ASSERT_EQ(Run(options), kExitOk) << err_.str();
  const std::string html = test::ReadAll(Path("imported.html"));
  EXPECT_NE(html.find("the data file says: Morvex aligning data imported from run &lt;7&gt;.csv"), std::string::npos);
  EXPECT_NE(html.find("<pre>runs: run &lt;7&gt;.csv\nwarm-up removed: 41.5 s\n</pre>"), std::string::npos);
  // The import's report is an input too.
  options.output_path = Path("import.html");
  EXPECT_EQ(Run(options), kExitError);
  EXPECT_NE(err_.str().find("an input is never overwritten"), std::string::npos) << err_.str();
  EXPECT_EQ(test::ReadAll(Path("import.html")), "runs: run <7>.csv\nwarm-up removed: 41.5 s\n");
}

TEST_F(ReportTool, RefusesAnOutputThatNamesAnInputOrIsNoReport) {
  fs::create_symlink(Path("aligning.plt"), Path("link.pdf"));
  for (const std::string& output : {Path("aligning.plt"), Path("link.pdf"), Path("suv.txt")}) {
    EXPECT_EQ(Run(Options(output)), kExitError) << output;
    EXPECT_NE(err_.str().find("an input is never overwritten"), std::string::npos) << err_.str();
  }
  EXPECT_EQ(test::ReadAll(Path("aligning.plt")), data_before_);

  EXPECT_EQ(Run(Options(Path("report.txt"))), kExitError);
  EXPECT_NE(err_.str().find("written as .pdf or .html"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("report.txt")));

  TReportToolOptions missing = Options(Path("report.pdf"));
  missing.data_path = Path("no-such.plt");
  EXPECT_EQ(Run(missing), kExitError);
  EXPECT_FALSE(fs::exists(Path("report.pdf")));
}

TEST_F(ReportTool, PoorCoefficientsStillGiveTheReportAndExitAsAPoorFit) {
  // The lateral coefficients of another tire on this tire's data.
  WriteTireDataFile(Path("lateral.plt"), PublishedData(TFitChannel::kLateral, truth_, 9), {});
  ExportCoefficients(PublishedTire("truck-335-65R22.5"), Path("truck.txt"));
  TReportToolOptions options = Options(Path("poor.html"));
  options.channel = TFitChannel::kLateral;
  options.data_path = Path("lateral.plt");
  options.coefficients_path = Path("truck.txt");
  options.free = "PCy1,PDy1,PKy1";
  EXPECT_EQ(Run(options), kExitFitPoor) << err_.str();
  const std::string html = test::ReadAll(Path("poor.html"));
  EXPECT_NE(html.find("Verdict: poor"), std::string::npos);
  EXPECT_NE(out_.str().find("(lateral poor)"), std::string::npos);
}

TEST_F(ReportTool, TheCommandLineWritesTheReport) {
  const std::string command = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit report --channel aligning --data '" +
                              Path("aligning.plt") + "' --coefficients '" + Path("suv.txt") +
                              "' --free QBz1,QCz1,QDz1 --output '" + Path("cli.html") + "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  EXPECT_NE(test::ReadAll(Path("cli.html")).find("Aligning moment Mz"), std::string::npos);
  const std::string refused = std::string(MORVEX_BINARY_DIR) + "/bin/morvex-fit report --channel aligning --data '" +
                              Path("aligning.plt") + "' --output '" + Path("aligning.plt") + "' >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(refused.c_str())), kExitError);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A session written by a fit gives the report alone: its embedded data (the
// data file is gone), its coefficients and free boxes, its channel and its
// verdict; the session itself is left as it was.
TEST_F(ReportTool, ASessionAloneGivesTheReportOfItsFit) {
  MORVEX_SKIP_WITHOUT_PDFTOTEXT();
  TFitToolOptions fit;
  fit.channel = TFitChannel::kAligning;
  fit.data_path = Path("aligning.plt");
  fit.coefficients_path = Path("suv.txt");
  fit.free = "QBz1,QBz2,QCz1,QDz1,QDz2,QEz1,QHz1";
  fit.optimizer = TOptimizerChoice::kTrustRegion;
  fit.executable_dir = std::string(MORVEX_BINARY_DIR) + "/bin";
  fit.save_session_path = Path("suv.morvex");
  std::ostringstream fit_out, fit_err;
  ASSERT_EQ(RunFitTool(fit, fit_out, fit_err), kExitOk) << fit_err.str();
  fs::remove(Path("aligning.plt"));
  const std::string session_before = test::ReadAll(Path("suv.morvex"));

  TReportToolOptions options;
  options.channel_given = false;
  options.session_path = Path("suv.morvex");
  options.free = "all";
  options.output_path = Path("from session.pdf");
  options.executable_dir = fit.executable_dir;
  ASSERT_EQ(Run(options), kExitOk) << err_.str();
  const std::string text = test::PdfText(options.output_path, true);
  EXPECT_NE(text.find("Aligning moment Mz (channel aligning)"), std::string::npos);
  EXPECT_NE(text.find("Verdict: good"), std::string::npos);
  EXPECT_NE(text.find("session: " + Path("suv.morvex")), std::string::npos);
  EXPECT_NE(text.find("(embedded in the session)"), std::string::npos);
  for (const char* name : {"QBz1", "QDz1", "QHz1"}) {
    const size_t at = text.find("\n" + std::string(name) + " ");
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_NE(text.substr(at, text.find('\n', at + 1) - at).find("free"), std::string::npos) << name;
  }
  EXPECT_EQ(test::ReadAll(Path("suv.morvex")), session_before);

  // Without a session, the channel and the data are needed; the report
  // never replaces the session.
  TReportToolOptions bare;
  bare.channel_given = false;
  bare.data_path = Path("x.plt");
  bare.output_path = Path("bare.pdf");
  EXPECT_EQ(Run(bare), kExitError);
  EXPECT_NE(err_.str().find("--channel"), std::string::npos) << err_.str();
  options.output_path = Path("suv.morvex");
  EXPECT_EQ(Run(options), kExitError);
  EXPECT_EQ(test::ReadAll(Path("suv.morvex")), session_before);
}

}  // namespace
}  // namespace morvex
