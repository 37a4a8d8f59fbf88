#include "fitting/FitVerdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fitting/ChannelModel.h"
#include "fitting/FitReport.h"
#include "fitting/TrustRegionFit.h"
#include "fitting/tests/FitTestSupport.h"
#include "fitting/tests/PublishedTires.h"
#include "numerics/LxBasics.h"

namespace morvex {
namespace {

using test::FreeOnly;
using test::PublishedData;
using test::PublishedTire;
using test::RecordingHost;

bool Has(const TFitVerdict& verdict, const std::string& code) {
  return std::any_of(verdict.reasons.begin(), verdict.reasons.end(),
                     [&code](const TVerdictReason& r) { return r.code == code; });
}
bool HasNote(const TFitVerdict& verdict, const std::string& code) {
  return std::any_of(verdict.notes.begin(), verdict.notes.end(),
                     [&code](const TVerdictReason& r) { return r.code == code; });
}

// The lateral data of a published tire in the ISO convention of property
// files: cornering stiffness negative.
struct IsoLateral : ::testing::Test {
  TMemoryCoefficientSet truth = PublishedTire("suv-265-70R18");
  TTireDataSet data = PublishedData(TFitChannel::kLateral, truth, 3);
  TFitOutcome Judged(const TCoefficientSet& set, double start_cost) {
    TFitOutcome outcome;
    outcome.channel = TFitChannel::kLateral;
    outcome.optimizer = TOptimizerChoice::kTrustRegion;
    outcome.start_cost = start_cost;
    outcome.final_cost = static_cast<double>(ChannelCost(TFitChannel::kLateral, set, data));
    outcome.verdict = JudgeFit(outcome, set, data);
    return outcome;
  }
};

TEST_F(IsoLateral, GoodFitIsGood) {
  TMemoryCoefficientSet set = truth;
  FreeOnly(set, {"PCy1", "PDy1", "PDy2", "PEy1", "PKy1", "PKy2", "PHy1", "PVy1", "PVy3"});
  RecordingHost host;
  const TFitOutcome outcome = RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);
  EXPECT_FALSE(outcome.verdict.poor) << VerdictLine(outcome.verdict);
  EXPECT_EQ(VerdictLine(outcome.verdict), "good");
  // Fitting again from the solution moves nothing and stays good.
  const TFitOutcome again = RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);
  EXPECT_FALSE(again.verdict.poor) << VerdictLine(again.verdict);
}

TEST_F(IsoLateral, WrongSignStartWithTheLevenbergMarquardtFitterIsPoorAndSaysWhy) {
  // The shipped start values: positive cornering stiffness.
  TMemoryCoefficientSet set;
  ImportCoefficients(set, std::string(MORVEX_SOURCE_DIR) + "/examples/start-values.txt");
  set.SetText("Fz0", truth.Text("Fz0"));
  FreeOnly(set, {"PCy1", "PDy1", "PKy1", "PEy1"});
  RecordingHost host;
  const TFitOutcome outcome =
      RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kLevenbergMarquardt, "", host);
  ASSERT_TRUE(outcome.verdict.poor);
  EXPECT_TRUE(Has(outcome.verdict, "slope-sign") || Has(outcome.verdict, "misfit")) << VerdictLine(outcome.verdict);
  for (const TVerdictReason& reason : outcome.verdict.reasons) {
    EXPECT_FALSE(reason.text.empty());
    EXPECT_NE(reason.advice.find("Estimate start values"), std::string::npos) << reason.advice;
  }
}

TEST_F(IsoLateral, SlopeOfTheWrongSignIsNamedWithTheCoefficient) {
  TMemoryCoefficientSet set = truth;
  set.SetText("PKy1", FloatToStr(-truth.Value("PKy1")));
  const TFitOutcome outcome = Judged(set, NAN);
  ASSERT_TRUE(Has(outcome.verdict, "slope-sign")) << VerdictLine(outcome.verdict);
  const auto reason = std::find_if(outcome.verdict.reasons.begin(), outcome.verdict.reasons.end(),
                                   [](const TVerdictReason& r) { return r.code == "slope-sign"; });
  EXPECT_NE(reason->text.find("the data's cornering stiffness is negative and PKy1 is positive"), std::string::npos)
      << reason->text;
}

// D and B negated together give the same curves: as good a fit as the
// tire's own, which the verdict names in a note and does not call poor.
TEST_F(IsoLateral, MirrorImageWithANegativePeakFactorIsANote) {
  TMemoryCoefficientSet set = truth;
  set.SetText("PDy1", FloatToStr(-truth.Value("PDy1")));
  set.SetText("PDy2", FloatToStr(-truth.Value("PDy2")));
  const double mirrored = static_cast<double>(ChannelCost(TFitChannel::kLateral, set, data));
  const double original = static_cast<double>(ChannelCost(TFitChannel::kLateral, truth, data));
  EXPECT_NEAR(mirrored, original, 1e-9 * original);
  const TFitOutcome outcome = Judged(set, NAN);
  ASSERT_TRUE(HasNote(outcome.verdict, "peak-sign"));
  EXPECT_EQ(VerdictLine(outcome.verdict), "good");
  EXPECT_NE(outcome.verdict.notes.back().advice.find("negate PDy1 and PDy2"), std::string::npos);
  const TFitVerdict own = Judged(truth, NAN).verdict;
  EXPECT_FALSE(own.poor) << VerdictLine(own);
  EXPECT_FALSE(HasNote(own, "peak-sign"));
}

TEST_F(IsoLateral, StartValuesWrittenBackUnchangedArePoor) {
  // A fitter that could not move from a bad start: final cost = start cost.
  TMemoryCoefficientSet set = truth;
  set.SetText("PDy1", "0.4");
  const double cost = static_cast<double>(ChannelCost(TFitChannel::kLateral, set, data));
  const TFitOutcome outcome = Judged(set, cost);
  EXPECT_TRUE(Has(outcome.verdict, "cost-not-lowered")) << VerdictLine(outcome.verdict);
  EXPECT_TRUE(Has(outcome.verdict, "low-r2") || Has(outcome.verdict, "misfit"));
  // A cost that rose is named as such.
  EXPECT_TRUE(Has(Judged(set, cost / 2).verdict, "cost-rose"));
}

TEST_F(IsoLateral, NeighbouringValleyIsAMisfitThoughRSquaredIsHigh) {
  TMemoryCoefficientSet set = truth;
  set.SetText("PKy1", FloatToStr(0.8 * truth.Value("PKy1")));
  const TFitOutcome outcome = Judged(set, NAN);
  EXPECT_TRUE(Has(outcome.verdict, "misfit")) << VerdictLine(outcome.verdict);
  EXPECT_FALSE(Has(outcome.verdict, "low-r2"));
}

TEST_F(IsoLateral, CurvatureAboveOneOnMostPointsIsANote) {
  TMemoryCoefficientSet set = truth;
  set.SetText("PEy1", "3");
  set.SetText("PEy3", "0");
  set.SetText("PEy4", "0");
  const TFitOutcome outcome = Judged(set, NAN);
  ASSERT_TRUE(HasNote(outcome.verdict, "curvature-clamped")) << VerdictLine(outcome.verdict);
  EXPECT_FALSE(Has(outcome.verdict, "curvature-clamped"));
  EXPECT_NE(outcome.verdict.notes.back().text.find("12 curves"), std::string::npos)
      << outcome.verdict.notes.back().text;
}

TEST_F(IsoLateral, IterationLimitIsAReasonAndASearchBoundANote) {
  TMemoryCoefficientSet set = truth;
  TFitOutcome outcome;
  outcome.channel = TFitChannel::kLateral;
  outcome.iteration_limit = true;
  outcome.fitted = {"PKy1", "PDy1"};
  outcome.search_min = {0.0, 0.0};
  outcome.search_max = {20.0, 20.0};
  const TFitVerdict verdict = JudgeFit(outcome, set, data);
  EXPECT_TRUE(Has(verdict, "iteration-limit"));
  // PKy1 is negative, outside [0, 20]; PDy1 inside.
  ASSERT_TRUE(HasNote(verdict, "at-bound"));
  EXPECT_FALSE(Has(verdict, "at-bound"));
  const auto reason = std::find_if(verdict.notes.begin(), verdict.notes.end(),
                                   [](const TVerdictReason& r) { return r.code == "at-bound"; });
  EXPECT_EQ(reason->text.rfind("PKy1 ended at", 0), 0u) << reason->text;
  EXPECT_NE(reason->advice.find("PKY1_MIN/PKY1_MAX"), std::string::npos);
  EXPECT_EQ(std::count_if(verdict.notes.begin(), verdict.notes.end(),
                          [](const TVerdictReason& r) { return r.code == "at-bound"; }),
            1);
}

TEST(TrustRegionRounds, IterationCapIsContinuedAndOnlyThenReported) {
  const TMemoryCoefficientSet truth = PublishedTire("fsae");
  const TTireDataSet data = PublishedData(TFitChannel::kLateral, truth);
  TMemoryCoefficientSet set = truth;
  set.SetText("PKy1", FloatToStr(0.7 * truth.Value("PKy1")));
  set.SetText("PDy1", FloatToStr(0.8 * truth.Value("PDy1")));
  const std::vector<std::string> names = {"PKy1", "PDy1", "PCy1", "PEy1"};
  TTrustRegionOptions options;
  options.max_iterations = 2;
  options.max_rounds = 1;
  const TTrustRegionResult capped = FitTrustRegion(TFitChannel::kLateral, set, names, data, options);
  EXPECT_TRUE(capped.iteration_limit);
  EXPECT_FALSE(capped.converged);
  options.max_rounds = 1000;
  const TTrustRegionResult continued = FitTrustRegion(TFitChannel::kLateral, set, names, data, options);
  EXPECT_GT(continued.iterations, 2);
  EXPECT_FALSE(continued.iteration_limit) << continued.message;
  EXPECT_LT(continued.final_cost, capped.final_cost);
}

TEST(FitReportVerdict, ReportNamesTheCombinedRunAndEndsWithTheVerdict) {
  TFitOutcome outcome;
  outcome.optimizer = TOptimizerChoice::kTrustRegion;
  outcome.optimizer_label = "de+tr";
  outcome.verdict.poor = true;
  outcome.verdict.reasons.push_back({"low-r2", "R^2 is 0.46, under 0.9", "press Estimate start values"});
  outcome.verdict.notes.push_back({"peak-sign", "the peak factor D is negative", "negate PDy1 and PDy2"});
  outcome.cleared_flags = {"PHy3", "PKy3"};
  TMemoryCoefficientSet set;
  const std::string text = FormatFitReport(BuildFitReport(outcome, set, TTireDataSet{}));
  EXPECT_EQ(text.rfind("fit channel=lateral optimizer=de+tr ", 0), 0u) << text;
  EXPECT_NE(text.find("note the data hold a single load case at camber 0: the fit held PHy3 and PKy3 fixed"),
            std::string::npos) << text;
  EXPECT_NE(text.find("verdict poor\nreason low-r2: R^2 is 0.46, under 0.9; try: press Estimate start values\n"),
            std::string::npos) << text;
  // Notes follow the reasons on lines of their own and leave the verdict line alone.
  EXPECT_NE(text.find("try: press Estimate start values\nnote peak-sign: the peak factor D is negative; try: negate "
                      "PDy1 and PDy2\n"),
            std::string::npos) << text;
  EXPECT_EQ(VerdictLine(outcome.verdict), "poor reason=low-r2");
}

}  // namespace
}  // namespace morvex
