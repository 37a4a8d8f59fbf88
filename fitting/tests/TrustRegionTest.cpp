#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "fitting/ChannelModel.h"
#include "fitting/FitCommands.h"
#include "fitting/FitReport.h"
#include "fitting/TrustRegionFit.h"
#include "fitting/tests/FitTestSupport.h"
#include "numerics/LxBasics.h"
#include "optim/Identifiability.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

using test::ChannelNames;
using test::FreeOnly;
using test::RecordingHost;

// The coefficients the sample data were made from (examples/true-values.txt).
TMemoryCoefficientSet TrueCoefficients() {
  TMemoryCoefficientSet set;
  std::ifstream in(std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt");
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    for (const TCoefficientInfo& info : Coefficients())
      if (info.export_key == line.substr(0, eq)) set.SetText(info.name, line.substr(eq + 1));
  }
  EXPECT_EQ(set.Text("PCy1"), "1.193");
  return set;
}

// Exact data on the sample's grid: three cambers, four loads.
TTireDataSet ExactData(TFitChannel channel, const TCoefficientSet& truth,
                       std::vector<double> cambers = {0.0, 2.0, 4.0}) {
  TTireDataSet data;
  const bool longitudinal = channel == TFitChannel::kLongitudinal;
  for (double camber : cambers) {
    TLoadCase lc;
    lc.Camber = camber;
    lc.Loads = {2000.0, 4000.0, 6000.0, 8000.0};
    for (int r = 0; r <= 40; ++r) lc.Slips.push_back(longitudinal ? -0.3 + 0.015 * r : -15.0 + 0.75 * r);
    for (double slip : lc.Slips)
      for (double load : lc.Loads) lc.Values.push_back(EvaluatePoint(channel, truth, camber, load, slip));
    data.Cases.push_back(lc);
  }
  return data;
}


// ------------------------------------------------------------- the fit

struct RecoveryCase {
  TFitChannel channel;
  double start_scale;  // the start is this multiple of every true coefficient
};

class ExactRecovery : public ::testing::TestWithParam<RecoveryCase> {};

// Cambers on both sides of zero, so that the coefficients of camber and of
// its magnitude (QBz4, QBz5) can be told apart.
TEST_P(ExactRecovery, EveryCoefficientComesBackToEightDigits) {
  const auto [channel, scale] = GetParam();
  const TMemoryCoefficientSet truth = TrueCoefficients();
  const TTireDataSet data = ExactData(channel, truth, {-4.0, 0.0, 4.0});
  const std::vector<std::string> names = ChannelNames(channel);
  TMemoryCoefficientSet set = truth;
  for (const std::string& name : names) set.SetText(name, FloatToStr(scale * truth.Value(name)));
  FreeOnly(set, names);
  RecordingHost host;

  const TFitOutcome outcome = RunFitCommand(channel, set, data, TOptimizerChoice::kTrustRegion, "", host);

  ASSERT_FALSE(outcome.optimizer_failed) << outcome.failure_message;
  EXPECT_EQ(outcome.fitted, names);
  for (const std::string& name : names) {
    const double expected = truth.Value(name);
    // Eight significant digits; coefficients whose true value is 0 come back within 1e-10.
    EXPECT_NEAR(set.Value(name), expected, 1e-8 * std::fabs(expected) + 1e-10) << name;
  }
  EXPECT_LT(LastCost, 1e-12);
  EXPECT_EQ(host.cost_text, FloatToStr(LastCost));
  EXPECT_GT(host.progress_reports, 0);
  // No free flag is cleared, and the window is never swapped for the wait screen.
  for (const std::string& name : names) EXPECT_TRUE(set.Free(name)) << name;
  EXPECT_EQ(host.calls, (std::vector<std::string>{"busy", "cost", "redraw", "normal"}));
  for (const std::string& note : outcome.notes) EXPECT_EQ(note, "");
}

// From 0.8 x the longitudinal fit settles in a second minimum that the four
// loads cannot tell from the true one (the stiffness law trades PKx2 against
// PKx3 at a cost of 4e-7); from 0.5 x it finds the true one.
INSTANTIATE_TEST_SUITE_P(TrustRegion, ExactRecovery,
                         ::testing::Values(RecoveryCase{TFitChannel::kLateral, 0.8},
                                           RecoveryCase{TFitChannel::kLateral, 0.5},
                                           RecoveryCase{TFitChannel::kAligning, 0.8},
                                           RecoveryCase{TFitChannel::kAligning, 0.5},
                                           RecoveryCase{TFitChannel::kLongitudinal, 0.5}),
                         [](const auto& info) {
                           return std::string(ChannelName(info.param.channel)) + "_from_" +
                                  std::to_string(static_cast<int>(info.param.start_scale * 10)) + "_tenths";
                         });

TEST(TrustRegion, WritesValuesInTheGeneralFormatAndKeepsFixedTexts) {
  const TMemoryCoefficientSet truth = TrueCoefficients();
  const TTireDataSet data = ExactData(TFitChannel::kLateral, truth);
  TMemoryCoefficientSet set = truth;
  set.SetText("PDy1", "1.1");
  set.SetText("PHy2", "-0.0010");  // fixed: must keep its text
  FreeOnly(set, {"PDy1"});
  RecordingHost host;
  RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);
  EXPECT_EQ(set.Text("PHy2"), "-0.0010");
  EXPECT_EQ(set.Text("PDy1"), FloatToStr(set.Value("PDy1")));
  EXPECT_NEAR(set.Value("PDy1"), 0.99, 1e-12);
}

TEST(TrustRegion, SingleCamberBlockLeavesCamberCoefficientsNotDetermined) {
  const TMemoryCoefficientSet truth = TrueCoefficients();
  const TTireDataSet data = ExactData(TFitChannel::kLateral, truth, {0.0});
  TMemoryCoefficientSet set = truth;
  const std::vector<std::string> names = ChannelNames(TFitChannel::kLateral);
  FreeOnly(set, names);
  RecordingHost host;

  const TFitOutcome outcome =
      RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);

  ASSERT_FALSE(outcome.optimizer_failed);
  ASSERT_EQ(outcome.notes.size(), names.size());
  for (size_t k = 0; k < names.size(); ++k) {
    const bool camber = names[k] == "PHy3" || names[k] == "PVy3" || names[k] == "PVy4" ||
                        names[k] == "PDy3" || names[k] == "PEy4" || names[k] == "PKy3";
    if (camber) {
      EXPECT_EQ(outcome.notes[k], names[k] + " is not determined: the data holds one camber angle");
      EXPECT_TRUE(std::isnan(outcome.standard_errors[k]));
      EXPECT_TRUE(set.Free(names[k])) << "the trust region clears no flag";
    } else {
      EXPECT_EQ(outcome.notes[k], "") << names[k];
      EXPECT_TRUE(std::isfinite(outcome.standard_errors[k])) << names[k];
    }
  }
}

TEST(TrustRegion, NonFiniteStartIsReportedAndChangesNothing) {
  const TMemoryCoefficientSet truth = TrueCoefficients();
  const TTireDataSet data = ExactData(TFitChannel::kLateral, truth);
  TMemoryCoefficientSet set = truth;
  set.SetText("PDy1", "1E308");
  set.SetText("PDy2", "1E308");
  FreeOnly(set, {"PDy1", "PCy1"});
  RecordingHost host;

  const TFitOutcome outcome =
      RunFitCommand(TFitChannel::kLateral, set, data, TOptimizerChoice::kTrustRegion, "", host);

  EXPECT_TRUE(outcome.optimizer_failed);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].rfind(kTrustRegionFailureMessage, 0), 0u) << host.messages[0];
  EXPECT_EQ(set.Text("PDy1"), "1E308");
  EXPECT_EQ(set.Text("PCy1"), truth.Text("PCy1"));
  EXPECT_EQ(host.calls.back(), "normal");
}

TEST(TrustRegion, NothingToFit) {
  const TMemoryCoefficientSet truth = TrueCoefficients();
  TMemoryCoefficientSet set = truth;
  FreeOnly(set, {"PDy1"});
  const TTrustRegionResult empty_data =
      FitTrustRegion(TFitChannel::kLateral, set, {"PDy1"}, TTireDataSet{});
  EXPECT_FALSE(empty_data.usable);
  EXPECT_EQ(empty_data.message, "The data set holds no points to fit.");
  const TTrustRegionResult no_free =
      FitTrustRegion(TFitChannel::kLateral, set, {}, ExactData(TFitChannel::kLateral, truth));
  EXPECT_FALSE(no_free.usable);
  EXPECT_THROW(FitTrustRegion(TFitChannel::kLateral, set, {"QBz1"}, TTireDataSet{}),
               std::invalid_argument);
}

// ------------------------------------------------------------- the report

TEST(IdentityNotes, ReasonsInWords) {
  TTireDataSet data;
  for (double camber : {0.0, 2.0, 4.0}) {
    TLoadCase lc;
    lc.Camber = camber;
    lc.Loads = {4000.0};
    lc.Slips = {1.0};
    lc.Values = {100.0};
    data.Cases.push_back(lc);
  }
  TIdentifiability id;
  id.coefficients.resize(5);
  id.coefficients[0].determined = false;  // QBz4 with QBz5, cambers of one sign
  id.coefficients[0].partners = {1};
  id.coefficients[1].determined = false;
  id.coefficients[1].partners = {0};
  id.coefficients[2].determined = false;  // a load coefficient with one load
  id.coefficients[3].determined = false;  // no effect at all
  id.coefficients[3].no_effect = true;
  const std::vector<std::string> names = {"QBz4", "QBz5", "QDz2", "QBz9", "QCz1"};

  const std::vector<std::string> notes = IdentityNotes(TFitChannel::kAligning, names, data, id);

  EXPECT_EQ(notes[0], "QBz4 is not determined: the camber angles of the data all have one sign, "
                      "so camber and its magnitude act alike");
  EXPECT_EQ(notes[2], "QDz2 is not determined: the data holds one load");
  EXPECT_EQ(notes[3], "QBz9 is not determined: the model does not depend on it at these data points");
  EXPECT_EQ(notes[4], "");

  data.Cases[0].Camber = -2.0;  // both signs: the pair is told apart by the data, so name the partner
  EXPECT_EQ(IdentityNotes(TFitChannel::kAligning, names, data, id)[1],
            "QBz5 is not determined: its effect cannot be told apart from that of QBz4");
}


TEST(FitReport, CurvesOverallAndNotes) {
  const TMemoryCoefficientSet truth = TrueCoefficients();
  TTireDataSet data = ExactData(TFitChannel::kLateral, truth, {0.0});
  data.Cases[0].Value(3, 1) += 6.0;  // one point off by 6 N in curve 2
  TFitOutcome outcome;
  outcome.channel = TFitChannel::kLateral;
  outcome.optimizer = TOptimizerChoice::kTrustRegion;
  outcome.fitted = {"PDy1", "PHy3"};
  outcome.standard_errors = {0.001, std::nan("")};
  outcome.notes = {"", "PHy3 is not determined: the data holds one camber angle"};

  const TFitReport report = BuildFitReport(outcome, truth, data);

  ASSERT_EQ(report.curves.size(), 4u);
  EXPECT_NEAR(report.curves[1].max_error, 6.0, 1e-9);
  EXPECT_NEAR(report.curves[1].rms, 6.0 / std::sqrt(41.0), 1e-9);
  EXPECT_NEAR(report.curves[0].rms, 0.0, 1e-9);
  EXPECT_EQ(report.points, 164u);
  EXPECT_NEAR(report.cost, 36.0, 1e-6);
  EXPECT_GT(report.r_squared, 0.999999);
  EXPECT_LT(report.r_squared, 1.0);

  const std::string text = FormatFitReport(report);
  EXPECT_NE(text.find("fit channel=lateral optimizer=tr cases=1 points=164 free=2 status=ok\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("rms case=1 camber=0 load=4000 points=41 value="), std::string::npos);
  EXPECT_NE(text.find("stderr name=PDy1 value=0.99 error=0.001\n"), std::string::npos) << text;
  EXPECT_NE(text.find("stderr name=PHy3 value=0.075 error=not-determined\n"), std::string::npos);
  EXPECT_NE(text.find("note PHy3 is not determined: the data holds one camber angle\n"),
            std::string::npos);
}

}  // namespace
}  // namespace morvex
