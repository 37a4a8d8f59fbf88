#include "fitting/StartEstimate.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>

#include "fitting/ChannelModel.h"
#include "fitting/FitCommands.h"
#include "fitting/FitVerdict.h"
#include "fitting/TrustRegionFit.h"
#include "fitting/tests/FitTestSupport.h"
#include "fitting/tests/PublishedTires.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

using test::FreeOnly;
using test::Mirrored;
using test::PublishedData;
using test::PublishedTire;
using test::RecordingHost;

std::vector<std::string> ChannelNames(TFitChannel channel) {
  std::vector<std::string> names;
  const auto order = channel == TFitChannel::kLateral   ? LateralFreeOrder()
                     : channel == TFitChannel::kAligning ? AligningFreeOrder()
                                                         : LongitudinalFreeOrder();
  for (std::string_view name : order)
    if (name != "Fz0") names.emplace_back(name);
  return names;
}

// The shipped start values: what a new user begins from.  The tire's rated
// load and radius, and for the aligning moment its lateral set, as the user
// would have them.
TMemoryCoefficientSet UserStart(TFitChannel channel, const TCoefficientSet& truth) {
  TMemoryCoefficientSet set;
  ImportCoefficients(set, std::string(MORVEX_SOURCE_DIR) + "/examples/start-values.txt");
  set.SetText("Fz0", truth.Text("Fz0"));
  set.SetText("R0", truth.Text("R0"));
  if (channel == TFitChannel::kAligning)
    for (std::string_view name : LateralFreeOrder()) set.SetText(name, truth.Text(name));
  FreeOnly(set, ChannelNames(channel));
  return set;
}

// The cost the trust region reaches from the true coefficients: the best
// known for noisy data made from them.
double BestKnownCost(TFitChannel channel, const TCoefficientSet& truth, const TTireDataSet& data) {
  TMemoryCoefficientSet set;
  CopyCoefficients(truth, set);
  FreeOnly(set, ChannelNames(channel));
  RecordingHost host;
  const TFitOutcome outcome = RunFitCommand(channel, set, data, TOptimizerChoice::kTrustRegion, "", host);
  return outcome.final_cost;
}

struct Case {
  const char* tire;
  bool mirrored;
  TFitChannel channel;
};

class EstimateOnPublishedTires : public ::testing::TestWithParam<Case> {};

// From the estimate alone the trust region ends within 0.1 % of the best
// cost known, whatever the sign convention of the data; from the shipped
// start values (positive cornering stiffness) it does not for ISO data.
TEST_P(EstimateOnPublishedTires, TrustRegionFromTheEstimateReachesTheBestCost) {
  const Case c = GetParam();
  const TMemoryCoefficientSet iso = PublishedTire(c.tire);
  const TMemoryCoefficientSet truth = c.mirrored ? Mirrored(iso) : iso;
  const TTireDataSet data = PublishedData(c.channel, truth, 7);
  const double best = BestKnownCost(c.channel, truth, data);

  TMemoryCoefficientSet set = UserStart(c.channel, truth);
  const TStartEstimate estimate = EstimateStartValues(c.channel, set, data);
  EXPECT_FALSE(estimate.changed.empty());
  RecordingHost host;
  const TFitOutcome outcome = RunFitCommand(c.channel, set, data, TOptimizerChoice::kTrustRegion, "", host);
  EXPECT_LE(outcome.final_cost, best * 1.001) << c.tire;
  EXPECT_FALSE(outcome.verdict.poor) << VerdictLine(outcome.verdict);
  // The stiffness takes the sign the data show.
  if (c.channel == TFitChannel::kLateral) {
    EXPECT_EQ(set.Value("PKy1") < 0, !c.mirrored);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tires, EstimateOnPublishedTires,
    ::testing::Values(Case{"suv-265-70R18", false, TFitChannel::kLateral},
                      Case{"fsae", true, TFitChannel::kLateral},
                      Case{"truck-335-65R22.5", false, TFitChannel::kAligning},
                      Case{"car-245-40R18", true, TFitChannel::kAligning},
                      Case{"military-37x12.5R16.5", false, TFitChannel::kLongitudinal}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name = std::string(ChannelName(info.param.channel)) + "_" + info.param.tire +
                         (info.param.mirrored ? "_mirrored" : "_iso");
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Estimate, FixedCoefficientsAndFreeFlagsStayAsTheyWere) {
  const TMemoryCoefficientSet truth = PublishedTire("suv-265-70R18");
  const TTireDataSet data = PublishedData(TFitChannel::kLateral, truth);
  TMemoryCoefficientSet set = UserStart(TFitChannel::kLateral, truth);
  set.SetFree("PCy1", false);
  set.SetText("PCy1", "1.30000");
  set.SetFree("PHy3", false);
  set.SetText("PHy3", "0.1");
  const TStartEstimate estimate = EstimateStartValues(TFitChannel::kLateral, set, data);
  EXPECT_EQ(set.Text("PCy1"), "1.30000");
  EXPECT_EQ(set.Text("PHy3"), "0.1");
  EXPECT_EQ(set.Text("Fz0"), truth.Text("Fz0"));
  EXPECT_FALSE(set.Free("PCy1"));
  EXPECT_TRUE(set.Free("PKy1"));
  EXPECT_FALSE(set.Free("Fz0"));
  // The longitudinal and aligning values are not the lateral estimate's.
  EXPECT_EQ(set.Text("PKx1"), UserStart(TFitChannel::kLateral, truth).Text("PKx1"));
  for (const std::string& name : estimate.changed) EXPECT_TRUE(set.Free(name)) << name;
  EXPECT_NE(set.Text("PKy1"), UserStart(TFitChannel::kLateral, truth).Text("PKy1"));
}

TEST(Estimate, OneCamberAndOneLoadStillGiveAStartWithNeutralCamberTerms) {
  const TMemoryCoefficientSet truth = PublishedTire("fsae");
  TTireDataSet data = PublishedData(TFitChannel::kLateral, truth);
  data.Cases.resize(1);  // camber 0 only
  TLoadCase& lc = data.Cases[0];
  const size_t loads = lc.LoadCount();
  std::vector<double> column;
  for (size_t r = 0; r < lc.RowCount(); ++r) column.push_back(lc.Value(r, 1));
  lc.Loads = {lc.Loads[1]};
  lc.Values = column;
  ASSERT_EQ(loads, 4u);
  TMemoryCoefficientSet set = UserStart(TFitChannel::kLateral, truth);
  EstimateStartValues(TFitChannel::kLateral, set, data);
  for (const char* name : {"PDy3", "PKy3", "PVy3", "PVy4", "PEy4"}) EXPECT_EQ(set.Value(name), 0.0) << name;
  EXPECT_LT(set.Value("PKy1"), 0.0);
  EXPECT_LT(static_cast<double>(ChannelCost(TFitChannel::kLateral, set, data)),
            static_cast<double>(ChannelCost(TFitChannel::kLateral, UserStart(TFitChannel::kLateral, truth), data)) / 10);
}

TEST(Estimate, NoDataOrNoPointIsRefusedAndChangesNothing) {
  TMemoryCoefficientSet set;
  EXPECT_THROW(EstimateStartValues(TFitChannel::kLateral, set, TTireDataSet{}), std::invalid_argument);
  TTireDataSet empty_case;
  empty_case.Cases.emplace_back();
  EXPECT_THROW(EstimateStartValues(TFitChannel::kAligning, set, empty_case), std::invalid_argument);
  EXPECT_EQ(set.Text("PKy1"), TMemoryCoefficientSet().Text("PKy1"));
}

TEST(Estimate, TextThatIsNotANumberIsTheConversionError) {
  const TMemoryCoefficientSet truth = PublishedTire("fsae");
  const TTireDataSet data = PublishedData(TFitChannel::kAligning, truth);
  TMemoryCoefficientSet set = UserStart(TFitChannel::kAligning, truth);
  set.SetText("PDy1", "abc");
  EXPECT_THROW(EstimateStartValues(TFitChannel::kAligning, set, data), EConvertError);
  EXPECT_EQ(set.Text("QDz1"), UserStart(TFitChannel::kAligning, truth).Text("QDz1"));
}

}  // namespace
}  // namespace morvex
