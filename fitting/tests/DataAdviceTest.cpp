// The advice on what data can determine, on exact data of the published
// 205/60 R15 coefficient set (examples/true-values.txt) over grids that
// leave out what a real test programme sometimes leaves out: the second
// inclination, the second load, the slip beyond the peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "fitting/ChannelModel.h"
#include "fitting/DataAdvice.h"
#include "fitting/TrustRegionFit.h"
#include "tiremodel/CoefficientTable.h"

namespace morvex {
namespace {

TMemoryCoefficientSet Truth() {
  TMemoryCoefficientSet set;
  std::ifstream in(std::string(MORVEX_SOURCE_DIR) + "/examples/true-values.txt");
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    for (const TCoefficientInfo& info : Coefficients())
      if (info.export_key == line.substr(0, eq)) set.SetText(info.name, line.substr(eq + 1));
  }
  for (const TCoefficientInfo& info : Coefficients())
    if (info.HasFreeFlag()) set.SetFree(info.name, true);
  return set;
}

TTireDataSet Exact(TFitChannel channel, const TCoefficientSet& truth, std::vector<double> cambers,
                   std::vector<double> loads, double max_slip) {
  TTireDataSet data;
  for (double camber : cambers) {
    TLoadCase lc;
    lc.Camber = camber;
    lc.Loads = loads;
    for (int r = 0; r <= 40; ++r) lc.Slips.push_back(-max_slip + 2 * max_slip * r / 40.0);
    for (double slip : lc.Slips)
      for (double load : lc.Loads) lc.Values.push_back(EvaluatePoint(channel, truth, camber, load, slip));
    data.Cases.push_back(lc);
  }
  return data;
}

const TCoefficientAdvice& Find(const TDataAdvice& advice, const std::string& name) {
  for (const TCoefficientAdvice& c : advice.coefficients)
    if (c.name == name) return c;
  ADD_FAILURE() << name << " not in the advice";
  return advice.coefficients.front();
}

bool Clears(const TDataAdvice& advice, const std::string& name) {
  return std::find(advice.clear.begin(), advice.clear.end(), name) != advice.clear.end();
}

// One inclination: every coefficient that acts through the inclination is
// named, with that reason, and nothing else but the rated load.
TEST(DataAdvice, OneInclinationNamesTheCamberCoefficients) {
  const TMemoryCoefficientSet truth = Truth();
  const TDataAdvice advice =
      AdviseOnData(TFitChannel::kLateral, truth, Exact(TFitChannel::kLateral, truth, {0}, {2000, 4000, 6000, 8000}, 15));
  for (const char* name : {"PHy3", "PVy3", "PVy4", "PDy3", "PEy4", "PKy3"}) {
    const TCoefficientAdvice& c = Find(advice, name);
    EXPECT_FALSE(c.determined) << name;
    EXPECT_EQ(c.reason, "the data holds one camber angle") << name;
    EXPECT_TRUE(Clears(advice, name)) << name;
  }
  for (const char* name : {"PCy1", "PDy1", "PDy2", "PEy1", "PEy2", "PKy1", "PKy2", "PHy1", "PHy2", "PVy1", "PVy2"})
    EXPECT_TRUE(Find(advice, name).determined) << name << ": " << Find(advice, name).reason;
  EXPECT_FALSE(Find(advice, "Fz0").determined);
  EXPECT_NE(FormatDataAdvice(advice).find("PHy3: the data holds one camber angle"), std::string::npos);
}

// One load: the load-change coefficients are named; the camber ones stay.
TEST(DataAdvice, OneLoadNamesTheLoadCoefficients) {
  const TMemoryCoefficientSet truth = Truth();
  const TDataAdvice advice =
      AdviseOnData(TFitChannel::kLateral, truth, Exact(TFitChannel::kLateral, truth, {-2, 0, 4}, {4000}, 15));
  for (const char* name : {"PDy2", "PEy2", "PHy2", "PVy2", "PKy2"}) {
    const TCoefficientAdvice& c = Find(advice, name);
    EXPECT_FALSE(c.determined) << name;
    EXPECT_EQ(c.reason, "the data holds one load") << name;
  }
  for (const char* name : {"PCy1", "PDy1", "PDy3", "PEy1", "PKy1", "PHy3", "PVy3"})
    EXPECT_TRUE(Find(advice, name).determined) << name << ": " << Find(advice, name).reason;
}

// Full data of three one-signed inclinations: the longitudinal channel is
// determined but for the rated load; the aligning moment cannot tell
// camber (QBz4) from its magnitude (QBz5), and the advice clears only the
// higher-order one.
TEST(DataAdvice, FullDataNeedsFewClears) {
  const TMemoryCoefficientSet truth = Truth();
  const std::vector<double> loads = {2000, 4000, 6000, 8000};
  const TDataAdvice longitudinal = AdviseOnData(
      TFitChannel::kLongitudinal, truth, Exact(TFitChannel::kLongitudinal, truth, {0, 2, 4}, loads, 0.3));
  EXPECT_EQ(longitudinal.clear, std::vector<std::string>{"Fz0"}) << FormatDataAdvice(longitudinal);

  const TDataAdvice aligning =
      AdviseOnData(TFitChannel::kAligning, truth, Exact(TFitChannel::kAligning, truth, {0, 2, 4}, loads, 15));
  EXPECT_TRUE(Clears(aligning, "QBz5")) << FormatDataAdvice(aligning);
  EXPECT_TRUE(Find(aligning, "QBz4").determined) << FormatDataAdvice(aligning);
  EXPECT_NE(Find(aligning, "QBz5").reason.find("one sign"), std::string::npos) << Find(aligning, "QBz5").reason;
}

// A sweep that stops at 2 degrees never shows the peak: the peak and
// curvature coefficients are flagged as loosely determined.
TEST(DataAdvice, SlipRangeBeforeThePeak) {
  const TMemoryCoefficientSet truth = Truth();
  const TDataAdvice advice = AdviseOnData(
      TFitChannel::kLateral, truth, Exact(TFitChannel::kLateral, truth, {0, 2, 4}, {2000, 4000, 6000, 8000}, 2));
  EXPECT_EQ(advice.curves_before_peak, advice.curves);
  EXPECT_TRUE(Find(advice, "PDy1").weak || !Find(advice, "PDy1").determined);
  EXPECT_FALSE(Find(advice, "PKy1").weak);
  EXPECT_NE(FormatDataAdvice(advice).find("stops before the peak"), std::string::npos);
}

// The Jacobian without a fit matches central differences of the residuals.
TEST(ResidualsAndJacobian, MatchesFiniteDifferences) {
  const TMemoryCoefficientSet truth = Truth();
  const TTireDataSet data = Exact(TFitChannel::kLateral, truth, {0, 3}, {3000, 6000}, 10);
  const std::vector<std::string> names = {"PDy1", "PKy1", "PHy3"};
  TMemoryCoefficientSet at = truth;
  at.SetText("PDy1", "1.1");
  const TResidualsAndJacobian j = ResidualsAndJacobian(TFitChannel::kLateral, at, names, data);
  ASSERT_EQ(j.points, 2u * 2u * 41u);
  EXPECT_GT(j.ssr, 0);
  for (size_t k = 0; k < names.size(); ++k) {
    const double h = 1e-6;
    TMemoryCoefficientSet up = at, down = at;
    up.SetText(names[k], std::to_string(at.Value(names[k]) + h));
    down.SetText(names[k], std::to_string(at.Value(names[k]) - h));
    const auto ru = ResidualsAndJacobian(TFitChannel::kLateral, up, {}, data).residuals;
    const auto rd = ResidualsAndJacobian(TFitChannel::kLateral, down, {}, data).residuals;
    for (size_t r = 0; r < j.points; r += 17)
      EXPECT_NEAR(j.jacobian[r * names.size() + k], (ru[r] - rd[r]) / (2 * h), 1e-3 * (1 + std::fabs(j.jacobian[r * names.size() + k])))
          << names[k] << " row " << r;
  }
}

}  // namespace
}  // namespace morvex
