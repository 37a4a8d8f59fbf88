#include "report/ReportRender.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "fitting/FitVerdict.h"
#include "report/PdfWriter.h"
#include "report/ReportCanvas.h"
#include "report/ReportText.h"
#include "report/tests/ReportTestSupport.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;
using test::FreeExactly;
using test::PublishedData;
using test::PublishedTire;

// A fitted lateral channel and a longitudinal one whose coefficients were
// evaluated on the data without a fit (judged all the same).
struct TwoChannels {
  TMemoryCoefficientSet truth = PublishedTire("suv-265-70R18");
  TTireDataSet lateral_data = PublishedData(TFitChannel::kLateral, truth, 11);
  TTireDataSet longitudinal_data = PublishedData(TFitChannel::kLongitudinal, truth, 12);
  TMemoryCoefficientSet set = truth;
  TValidationReport report;

  TwoChannels() {
    set.SetText("PDy1", FloatToStr(truth.Value("PDy1") * 0.95));
    FreeExactly(set, {"PCy1", "PDy1", "PDy2", "PEy1", "PKy1", "PKy2"});
    TSilentFitHost host;
    const TFitOutcome lateral =
        RunFitCommand(TFitChannel::kLateral, set, lateral_data, TOptimizerChoice::kTrustRegion, "", host);
    TFitOutcome longitudinal;
    longitudinal.channel = TFitChannel::kLongitudinal;
    longitudinal.start_was_fit = true;
    longitudinal.fitted = {"PCx1", "PDx1", "PKx1"};
    TVerdictOptions cheap;
    cheap.reference_fit = false;
    longitudinal.verdict = JudgeFit(longitudinal, set, longitudinal_data, cheap);

    TReportInputs inputs;
    inputs.created = "2026-12-09 20:00";
    inputs.source_files = {"/rig/suv/lateral <run 3> & co.plt", "/rig/suv/longitudinal.plt"};
    inputs.import_report = "imported 2 runs\nwarm-up removed: 30 s";
    inputs.channels.push_back({TFitChannel::kLateral, &lateral_data, &set, lateral, "/rig/suv/lateral <run 3> & co.plt"});
    inputs.channels.push_back({TFitChannel::kLongitudinal, &longitudinal_data, &set, longitudinal,
                               "/rig/suv/longitudinal.plt"});
    report = BuildValidationReport(inputs);
  }
};

// The coefficients the report lists as free, with their texts.
std::vector<std::pair<std::string, std::string>> FreeCoefficients(const TValidationReport& report) {
  std::vector<std::pair<std::string, std::string>> free;
  for (const TChannelReport& channel : report.channels)
    for (const TReportCoefficient& c : channel.coefficients)
      if (c.free) free.emplace_back(c.name, c.value);
  return free;
}

class ReportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("morvex-report-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(ReportFiles, PdfHasAPagePerChannelAndItsTextNamesChannelVerdictAndEveryFreeCoefficient) {
  MORVEX_SKIP_WITHOUT_PDFTOTEXT();
  const TwoChannels two;
  const std::string path = Path("report.pdf");
  WriteReport(two.report, path);

  // pdftotext separates pages with form feeds: each channel opens a page
  // of its own after the first page's sources.
  const std::string text = test::PdfText(path);
  ASSERT_FALSE(text.empty());
  std::vector<std::string> pages;
  for (size_t begin = 0; begin <= text.size();) {
    size_t end = text.find('\f', begin);
    if (end == std::string::npos) end = text.size();
    pages.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  ASSERT_GE(pages.size(), 3u);
  auto page_of = [&](const std::string& what) {
    for (size_t p = 0; p < pages.size(); ++p)
      if (pages[p].find(what) != std::string::npos) return static_cast<int>(p);
    return -1;
  };
  const int lateral = page_of("Lateral force Fy (channel lateral)");
  const int longitudinal = page_of("Longitudinal force Fx (channel longitudinal)");
  EXPECT_GE(lateral, 1);
  EXPECT_GT(longitudinal, lateral);
  EXPECT_NE(pages[static_cast<size_t>(lateral)].find("Verdict: " + two.report.channels[0].verdict_word),
            std::string::npos);
  EXPECT_NE(text.find("Verdict: " + two.report.channels[1].verdict_word), std::string::npos);
  EXPECT_NE(text.find("/rig/suv/lateral <run 3> & co.plt"), std::string::npos);
  EXPECT_NE(text.find("warm-up removed: 30 s"), std::string::npos);
  EXPECT_NE(text.find("FZMIN"), std::string::npos);
  EXPECT_NE(text.find("slip ratio [-]"), std::string::npos);

  // In the layout text each free coefficient's row holds its name and its
  // full value.
  const std::string layout = test::PdfText(path, true);
  const auto free = FreeCoefficients(two.report);
  ASSERT_EQ(free.size(), 9u);
  for (const auto& [name, value] : free) {
    const std::regex row("(^|\\n) *" + name + " +" + std::regex_replace(value, std::regex("[.+]"), "\\$&") + " +free");
    EXPECT_TRUE(std::regex_search(layout, row)) << name << " = " << value;
  }
}

TEST_F(ReportFiles, HtmlShowsTheSameContentAndReferencesNothingOutside) {
  const TwoChannels two;
  const std::string path = Path("report.html");
  WriteReport(two.report, path);
  const std::string html = test::ReadAll(path);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  for (const char* outside : {"src=", "href=", "<link", "<script", "@import", "<img", "<iframe", "url("})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;

  EXPECT_NE(html.find("Lateral force Fy (channel lateral)"), std::string::npos);
  EXPECT_NE(html.find("Longitudinal force Fx (channel longitudinal)"), std::string::npos);
  for (const TChannelReport& channel : two.report.channels)
    EXPECT_NE(html.find("Verdict: " + channel.verdict_word), std::string::npos);
  for (const auto& [name, value] : FreeCoefficients(two.report))
    EXPECT_NE(html.find("<tr><td>" + name + "</td><td class=\"num\">" + value + "</td><td>free</td>"),
              std::string::npos)
        << name;
  // A file name is text, not markup.
  EXPECT_NE(html.find("/rig/suv/lateral &lt;run 3&gt; &amp; co.plt"), std::string::npos);
  EXPECT_EQ(html.find("<run 3>"), std::string::npos);
  // One chart and one residual chart per camber of each channel.
  size_t charts = 0;
  for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++charts;
  EXPECT_EQ(charts, 12u);
  EXPECT_NE(html.find("Fx measured - model [N]"), std::string::npos);
}

TEST(PdfWriter, CrossReferenceAndStreamLengthsPointWhereTheyShould) {
  TPdfDocument document;
  document.AddPage().Text(50, 50, 12, "first (page) \\ R\xC2\xB2", TTextAnchor::kStart, false, false);
  document.AddPage().Polyline({{0, 0}, {100, 100}}, {255, 0, 0}, 1, TLineStyle::kDash);
  const std::string pdf = document.Serialize("a title");
  EXPECT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
  const size_t startxref = pdf.rfind("startxref\n");
  ASSERT_NE(startxref, std::string::npos);
  const size_t xref = std::stoul(pdf.substr(startxref + 10));
  ASSERT_EQ(pdf.compare(xref, 5, "xref\n"), 0);
  std::istringstream table(pdf.substr(xref + 5));
  int first = 0, count = 0;
  table >> first >> count;
  ASSERT_EQ(count, 5 + 2 * 2 + 1);
  std::string offset, generation, kind;
  table >> offset >> generation >> kind;  // the free head of the list
  for (int k = 1; k < count; ++k) {
    table >> offset >> generation >> kind;
    ASSERT_EQ(offset.size(), 10u);
    EXPECT_EQ(pdf.compare(std::stoul(offset), std::to_string(k).size() + 6, std::to_string(k) + " 0 obj"), 0) << k;
  }
  const std::regex stream("/Length (\\d+) >>\nstream\n");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), stream); it != std::sregex_iterator(); ++it) {
    const size_t begin = static_cast<size_t>(it->position() + it->length());
    EXPECT_EQ(pdf.compare(begin + std::stoul((*it)[1]), 10, "\nendstream"), 0);
  }
  // Parentheses and backslashes escaped; the superscript two in WinAnsi.
  EXPECT_NE(pdf.find("(first \\(page\\) \\\\ R\\262) Tj"), std::string::npos);
}

TEST(PdfWriter, TextBecomesWinAnsi) {
  EXPECT_EQ(ToWinAnsi("Fy [N]"), "Fy [N]");
  EXPECT_EQ(ToWinAnsi("R\xC2\xB2 \xC2\xB0"), "R\xB2 \xB0");                  // R², °
  EXPECT_EQ(ToWinAnsi("a\xE2\x80\x93" "b\xE2\x80\x94" "c"), "a\x96" "b\x97" "c");  // en and em dash
  EXPECT_EQ(ToWinAnsi("\xE2\x88\x92" "5"), "-5");                              // minus sign
  EXPECT_EQ(ToWinAnsi("x\xF0\x9F\x98\x80y\xE4\xB8\xAD"), "x?y?");              // outside WinAnsi
  EXPECT_EQ(ToWinAnsi("cut\xE2\x80"), "cut?");                                 // truncated sequence
}

TEST(ReportCanvas, TicksAreRoundAndMeasuresFollowHelvetica) {
  EXPECT_EQ(RoundTicks(-10.8, 10.8), (std::vector<double>{-10, -5, 0, 5, 10}));
  EXPECT_EQ(RoundTicks(-0.22, 0.22), (std::vector<double>{-0.2, -0.1, 0, 0.1, 0.2}));
  EXPECT_EQ(RoundTicks(-12.96, 12.96), (std::vector<double>{-10, 0, 10}));  // the window's steps too
  EXPECT_EQ(RoundTicks(1800, 8600).front(), 2000);
  EXPECT_TRUE(RoundTicks(3, 3).empty());
  EXPECT_DOUBLE_EQ(TextWidth("Fy", 10), (611 + 500) / 100.0);
  EXPECT_DOUBLE_EQ(TextWidth("R\xC2\xB2", 10), (722 + 556) / 100.0);  // one width per character
  const std::vector<std::string> lines = WrapText("the data holds one camber angle", 10, 80);
  ASSERT_GT(lines.size(), 1u);
  for (const std::string& line : lines) EXPECT_LE(TextWidth(line, 10), 80) << line;
}

TEST_F(ReportFiles, WritesOnlyPdfOrHtmlAndLeavesNoTemporaryFile) {
  const TwoChannels two;
  EXPECT_THROW(WriteReport(two.report, Path("report.txt")), Exception);
  EXPECT_THROW(WriteReport(two.report, Path("no-such-folder/report.pdf")), EWriteError);
  const std::string path = Path("report.HTML");
  {
    std::ofstream old(path);
    old << std::string(1 << 20, 'x');  // a longer earlier file is replaced whole
  }
  WriteReport(two.report, path);
  EXPECT_EQ(test::ReadAll(path).rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(test::ReadAll(path).find("xxxx"), std::string::npos);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1u);
  EXPECT_EQ(ReportFormatOf("a.Pdf"), "pdf");
  EXPECT_EQ(ReportFormatOf("a.htm"), "html");
  EXPECT_EQ(ReportFormatOf("pdf"), "");
}

}  // namespace
}  // namespace morvex
