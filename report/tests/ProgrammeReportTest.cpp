// The report of a tire built from a test programme: a small programme
// recorded from a published tire with combined-slip coefficients (TYDEX
// runs with warm-up, load wobble and drift, noise, missing samples),
// imported and fitted stage by stage as `morvex-fit tir` does, then
// reported.  The pages must say, for every stage fitted, its name, its
// verdict and every fitted coefficient with its value, and list the stages
// not fitted with their reasons.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "examples/RunRecorderProgramme.h"
#include "numerics/LxBasics.h"
#include "report/CombinedCurves.h"
#include "report/ReportRender.h"
#include "report/ValidationReport.h"
#include "report/tests/ReportTestSupport.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

// A fitted programme, made once for the whole suite (the fit takes
// seconds).
struct TFittedProgramme {
  std::vector<std::string> runs;
  TProgrammeResult programme;
  TTireProgrammeResult result;
  double longvl = 16.7;

  TReportInputs Inputs() const {
    TReportInputs inputs;
    inputs.created = "2026-12-10 00:00";
    TReportProgrammeInput p;
    p.result = &result;
    p.programme = &programme;
    p.runs = runs;
    p.longvl = longvl;
    inputs.programme = p;
    return inputs;
  }
};

TFittedProgramme Fit(const std::vector<std::string>& runs) {
  TFittedProgramme fitted;
  fitted.runs = runs;
  fitted.programme = ImportProgramme(runs);
  TTireProgrammeInput input;
  input.lateral = fitted.programme.lateral;
  input.aligning = fitted.programme.aligning;
  input.longitudinal = fitted.programme.longitudinal;
  input.combined = fitted.programme.combined;
  input.fz0 = fitted.programme.fz0;
  input.r0 = fitted.programme.r0;
  if (std::isfinite(fitted.programme.longvl) && fitted.programme.longvl > 0) input.longvl = fitted.programme.longvl;
  fitted.longvl = input.longvl;
  TSilentFitHost host;
  fitted.result = FitTireProgramme(input, host);
  return fitted;
}

class ProgrammeReport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(fs::temp_directory_path() / ("morvex-programme-report-" + std::to_string(::getpid())));
    fs::create_directories(*dir_);
    const examples::TCombinedTire car =
        examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
    const examples::TProgrammeOptions o = examples::SmallTydexProgramme(5);
    fitted_ = new TFittedProgramme(Fit(examples::WriteProgramme(car, dir_->string(), o)));
    report_ = new TValidationReport(BuildValidationReport(fitted_->Inputs()));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete report_;
    delete fitted_;
    delete dir_;
  }
  static std::string Path(const std::string& name) { return (*dir_ / name).string(); }

  static const TStageResult& Stage(const std::string& name) {
    for (const TStageResult& s : fitted_->result.stages)
      if (s.name == name) return s;
    throw std::runtime_error("no stage " + name);
  }

  // Every fitted coefficient of every fitted stage: stage, name, value as
  // the report writes it, and the value itself.
  struct TFittedValue {
    std::string stage, name, text;
    double value;
  };
  static std::vector<TFittedValue> FittedValues() {
    std::vector<TFittedValue> values;
    const TTireProgrammeResult& r = fitted_->result;
    for (const TStageResult& s : r.stages) {
      if (!s.fitted) continue;
      for (const std::string& name : s.outcome.fitted) {
        double TCombinedCoefficients::*member = CombinedMember(name);
        const double value = member ? r.combined.*member : r.coefficients.Value(name);
        values.push_back({s.name, name, member ? FloatToStr(value) : r.coefficients.Text(name), value});
      }
    }
    return values;
  }

  static fs::path* dir_;
  static TFittedProgramme* fitted_;
  static TValidationReport* report_;
};

fs::path* ProgrammeReport::dir_ = nullptr;
TFittedProgramme* ProgrammeReport::fitted_ = nullptr;
TValidationReport* ProgrammeReport::report_ = nullptr;

// The summary holds every stage with its verdict and points, the runs and
// what each fed, USE_MODE; each fitted stage has a page of its own.
TEST_F(ProgrammeReport, GathersEveryStageAndEachPageAgreesWithItsFit) {
  {
    const TTireProgrammeResult& result = fitted_->result;
    ASSERT_EQ(result.stages.size(), 8u);
    ASSERT_TRUE(report_->programme);
    const TProgrammeReport& p = *report_->programme;
    EXPECT_EQ(p.use_mode, result.use_mode);
    EXPECT_EQ(p.use_mode, 4);
    EXPECT_NE(p.use_mode_line.find("USE_MODE 4"), std::string::npos);
    EXPECT_EQ(p.runs, fitted_->runs);
    EXPECT_EQ(p.feeds.size(), fitted_->programme.feeds.size());
    EXPECT_NE(p.rated_load.find("Fz0 " + ReportNumber(result.coefficients.Value("Fz0")) + " N"), std::string::npos);
    ASSERT_EQ(p.stages.size(), 8u);
    size_t pure = 0, combined = 0, not_fitted = 0;
    for (size_t k = 0; k < 8; ++k) {
      const TStageResult& s = result.stages[k];
      EXPECT_EQ(p.stages[k].name, s.name);
      EXPECT_EQ(p.stages[k].points, s.points);
      EXPECT_EQ(p.stages[k].verdict, StageVerdictWord(s));
      if (!s.fitted) {
        ++not_fitted;
        EXPECT_EQ(p.stages[k].reason, s.not_fitted_reason);
      } else if (k < 3) {
        ++pure;
      } else {
        ++combined;
      }
    }
    EXPECT_EQ(p.pure.size(), pure);
    EXPECT_EQ(p.combined.size(), combined);
    EXPECT_EQ(p.not_fitted.size(), not_fitted);
    EXPECT_EQ(pure, 3u);
    EXPECT_GE(combined, 3u);  // Fx, Fy and Mz combined at least

    // A pure stage's page is the channel's page at the programme's set.
    ASSERT_FALSE(p.pure.empty());
    EXPECT_EQ(p.pure[0].heading, "Stage lateral: Lateral force Fy");
    EXPECT_NEAR(p.pure[0].fit.rms, Stage("lateral").rms, 1e-6 * Stage("lateral").rms);
  }
  // A combined stage's page: its RMS over the points is the fit's own, its
  // per-curve rows add up to it, its coefficients carry the fit's values,
  // errors and notes, and the charts show each inclination and load.
  {
    const TProgrammeReport& p = *report_->programme;
    for (const TCombinedStageReport& page : p.combined) {
      const TStageResult& stage = Stage(page.name);
      SCOPED_TRACE(page.name);
      EXPECT_EQ(page.points, stage.points);
      EXPECT_NEAR(page.rms, stage.rms, 1e-6 * stage.rms);
      size_t points = 0;
      double squares = 0;
      for (const TReportCombinedRow& row : page.curves) {
        points += row.points;
        squares += row.rms * row.rms * static_cast<double>(row.points);
        EXPECT_LE(row.rms, row.max_error * (1 + 1e-12));
      }
      EXPECT_EQ(points, page.points);
      EXPECT_NEAR(std::sqrt(squares / static_cast<double>(points)), page.rms, 1e-9 * page.rms);
      // Two inclinations, three loads, four held slip angles.
      EXPECT_EQ(page.curves.size(), 24u);
      EXPECT_EQ(page.charts.size(), 6u);
      EXPECT_EQ(page.residuals.size(), 6u);
      ASSERT_FALSE(page.charts.empty());
      EXPECT_EQ(page.charts[0].series.size(), 8u);  // line and markers per slip angle
      EXPECT_EQ(page.residuals[0].series.size(), 4u);
      EXPECT_TRUE(page.residuals[0].series[0].joined);
      EXPECT_EQ(page.ellipses.size(), page.stage == TCombinedStage::kFy ? 2u : 0u);

      const std::vector<std::string> names = CombinedStageCoefficients(page.stage);
      ASSERT_EQ(page.coefficients.size(), names.size());
      for (size_t k = 0; k < names.size(); ++k) {
        const TReportCoefficient& c = page.coefficients[k];
        EXPECT_EQ(c.name, names[k]);
        // Fifteen significant digits, as a property file carries them.
        const double value = fitted_->result.combined.*CombinedMember(c.name);
        EXPECT_NEAR(StrToFloat(c.value), value, 1e-14 * std::fabs(value)) << c.name;
        const auto fitted = std::find(stage.outcome.fitted.begin(), stage.outcome.fitted.end(), c.name);
        EXPECT_EQ(c.free, fitted != stage.outcome.fitted.end()) << c.name;
        if (c.free) {
          const double error = stage.outcome.standard_errors[static_cast<size_t>(fitted - stage.outcome.fitted.begin())];
          if (std::isfinite(error)) EXPECT_EQ(c.standard_error, error) << c.name;
          else EXPECT_TRUE(c.not_determined) << c.name;
        } else {
          // Not fitted: held at 0 with the reason.
          EXPECT_EQ(StrToFloat(c.value), 0) << c.name;
          EXPECT_EQ(c.note.rfind("held at 0", 0), 0u) << c.name << ": " << c.note;
        }
      }
    }
  }
}


TEST_F(ProgrammeReport, PdfTextAndHtmlNameEveryStageItsVerdictAndEveryFittedCoefficient) {
  {
    MORVEX_SKIP_WITHOUT_PDFTOTEXT();
    const std::string path = Path("programme.pdf");
    WriteReport(*report_, path);
    // A copy for a person to look at, when asked for.
    if (const char* keep = std::getenv("MORVEX_REPORT_SAMPLE_DIR"))
      fs::copy_file(path, fs::path(keep) / "programme.pdf", fs::copy_options::overwrite_existing);
    const std::string text = test::PdfText(path);
    const std::string layout = test::PdfText(path, true);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find("Tire from a test programme"), std::string::npos);
    EXPECT_NE(text.find("USE_MODE 4"), std::string::npos);
    for (const std::string& run : fitted_->runs) EXPECT_NE(text.find(fs::path(run).filename().string()), std::string::npos);

    // The page of each fitted stage opens with its heading and its verdict.
    std::vector<std::string> pages;
    for (size_t begin = 0; begin <= text.size();) {
      size_t end = text.find('\f', begin);
      if (end == std::string::npos) end = text.size();
      pages.push_back(text.substr(begin, end - begin));
      begin = end + 1;
    }
    const TProgrammeReport& p = *report_->programme;
    std::vector<std::pair<std::string, std::string>> headings;  // heading, verdict
    for (const TChannelReport& c : p.pure) headings.emplace_back(c.heading, c.verdict_word);
    for (const TCombinedStageReport& c : p.combined) headings.emplace_back(c.heading, c.verdict_word);
    int last = -1;
    for (const auto& [heading, verdict] : headings) {
      int page = -1;
      for (size_t k = 0; k < pages.size() && page < 0; ++k)
        if (pages[k].find(heading) != std::string::npos) page = static_cast<int>(k);
      ASSERT_GT(page, last) << heading;
      EXPECT_NE(pages[static_cast<size_t>(page)].find("Verdict: " + verdict), std::string::npos) << heading;
      last = page;
    }
    for (const TReportStageRow& row : p.not_fitted) EXPECT_NE(text.find(row.name + ": "), std::string::npos) << row.name;

    // Each fitted coefficient's row: its name, then its full value, which
    // reads back as the fitted number.
    const std::vector<TFittedValue> values = FittedValues();
    ASSERT_GT(values.size(), 40u);
    for (const TFittedValue& v : values) {
      const std::regex row("(^|\\n) *" + v.name + " +([-+0-9.eE]+) +(free|fitted)");
      std::smatch match;
      ASSERT_TRUE(std::regex_search(layout, match, row)) << v.stage << ' ' << v.name;
      EXPECT_EQ(match[2].str(), v.text) << v.stage << ' ' << v.name;
      EXPECT_NEAR(StrToFloat(match[2].str()), v.value, 1e-14 * std::fabs(v.value)) << v.stage << ' ' << v.name;
    }
  }
  {
    const std::string path = Path("programme.html");
    WriteReport(*report_, path);
    const std::string html = test::ReadAll(path);
    for (const char* outside : {"src=", "href=", "<link", "<script", "<img"})
      EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    const TProgrammeReport& p = *report_->programme;
    for (const TChannelReport& c : p.pure) {
      EXPECT_NE(html.find(c.heading), std::string::npos) << c.heading;
      EXPECT_NE(html.find("id=\"stage-" + std::string(ChannelName(c.channel)) + "\""), std::string::npos);
    }
    for (const TCombinedStageReport& c : p.combined) {
      const size_t at = html.find("<h2>" + c.heading + "</h2>");
      ASSERT_NE(at, std::string::npos) << c.heading;
      EXPECT_NE(html.find("Verdict: " + c.verdict_word, at), std::string::npos) << c.heading;
    }
    for (const TFittedValue& v : FittedValues())
      EXPECT_NE(html.find("<tr><td>" + v.name + "</td><td class=\"num\">" + v.text + "</td><td>"), std::string::npos)
          << v.stage << ' ' << v.name;
    // Per stage, one chart and one residual chart per inclination and load;
    // the friction ellipse per inclination on the Fy page.
    size_t charts = 0;
    for (size_t at = html.find("<svg"); at != std::string::npos; at = html.find("<svg", at + 1)) ++charts;
    size_t expected = 0;
    for (const TChannelReport& c : p.pure) expected += c.charts.size() + c.residuals.size();
    for (const TCombinedStageReport& c : p.combined) expected += c.charts.size() + c.residuals.size() + c.ellipses.size();
    EXPECT_EQ(charts, expected);
    EXPECT_NE(html.find("Fx measured - model [N]"), std::string::npos);
    EXPECT_NE(html.find("Friction ellipse per load, inclination 3 deg"), std::string::npos);
  }
}


// Less than a programme: the combined run alone feeds the longitudinal
// stage (its sweeps at slip angle 0) and the combined stages that need no
// lateral force; the report lists every stage not fitted with its reason,
// and a poor stage's reasons.
// (No fixture: the whole programme's fit is not needed here.)
TEST(ProgrammeReportOfLess, StagesNotFittedAreListedWithTheirReasons) {
  const fs::path dir = fs::temp_directory_path() / ("morvex-programme-less-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const examples::TCombinedTire car =
      examples::ReadCombinedTire(std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/car-185-80R14.txt");
  std::vector<std::string> combined_only;
  for (const std::string& run : examples::WriteProgramme(car, dir.string(), examples::SmallTydexProgramme(5)))
    if (run.find("combined") != std::string::npos) combined_only.push_back(run);
  ASSERT_EQ(combined_only.size(), 1u);
  const TFittedProgramme less = Fit(combined_only);
  fs::remove_all(dir);
  const TValidationReport report = BuildValidationReport(less.Inputs());
  ASSERT_TRUE(report.programme);
  const TProgrammeReport& p = *report.programme;
  EXPECT_LT(p.use_mode, 3);
  std::vector<std::string> fitted_combined;
  for (const TStageResult& s : less.result.stages)
    if (s.fitted && s.name.find("combined") != std::string::npos) fitted_combined.push_back(s.name);
  std::vector<std::string> pages;
  for (const TCombinedStageReport& c : p.combined)
    if (c.name.find("combined") != std::string::npos) pages.push_back(c.name);
  EXPECT_EQ(pages, fitted_combined);
  ASSERT_GE(p.not_fitted.size(), 3u);
  const std::string html = RenderHtml(report);
  auto escaped = [](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("&#39;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    return out;
  };
  for (const TReportStageRow& row : p.stages) {
    if (row.verdict == "good") continue;
    EXPECT_FALSE(row.reason.empty()) << row.name;
    EXPECT_NE(html.find(escaped(row.name + ": " + row.reason)), std::string::npos) << row.name;
  }
}

TEST(ProgrammeReportInput, RefusesAProgrammeWithoutItsFitOrData) {
  TReportInputs inputs;
  inputs.programme = TReportProgrammeInput{};
  EXPECT_THROW(BuildValidationReport(inputs), Exception);
}

}  // namespace
}  // namespace morvex
