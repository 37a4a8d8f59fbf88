// The combined-slip stages on programmes made from published tires, with
// the pure-slip coefficients those tires publish held fixed: the fitted
// Fx, Fy and Mz under combined slip against the true tire, what the stages
// do without the data they need, and a cancelled stage.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <string>

#include "fitting/CombinedStages.h"
#include "fitting/FitHost.h"
#include "fitting/FitVerdict.h"
#include "fitting/tests/CombinedProgrammeData.h"
#include "fitting/tests/FitTestSupport.h"

namespace morvex {
namespace {

using test::CombinedProgramme;
using test::LoadTire;
using test::ProgrammeShape;
using test::PureSet;
using test::Tire;

// Runs every stage in order from all-zero combined coefficients.
struct StagedFit {
  TCombinedCoefficients comb;
  std::vector<TStageResult> results;
};

StagedFit FitAllStages(const Tire& t, const TCombinedDataSet& data) {
  const TMemoryCoefficientSet pure = PureSet(t);
  StagedFit fit;
  TSilentFitHost host;
  for (TCombinedStage stage : {TCombinedStage::kFx, TCombinedStage::kFy, TCombinedStage::kMz,
                               TCombinedStage::kMx, TCombinedStage::kMy})
    fit.results.push_back(FitCombinedStage(stage, pure, fit.comb, data, t.longvl, host));
  return fit;
}

void ExpectWithinTwoPercent(const Tire& t, const StagedFit& fit, const ProgrammeShape& shape) {
  const test::CombinedAccuracy acc = test::CompareWithTruth(t, t.lat, t.ali, t.lon, fit.comb, t.r0, shape);
  EXPECT_LT(acc.fx, 0.02) << t.stem;
  EXPECT_LT(acc.fy, 0.02) << t.stem;
  EXPECT_LT(acc.mz, 0.02) << t.stem;
  std::cout << t.stem << ": worst share of peak Fx " << acc.fx << ", Fy " << acc.fy << ", Mz " << acc.mz << '\n';
  for (size_t k = 0; k < 3; ++k) {
    const TStageResult& r = fit.results[k];
    EXPECT_TRUE(r.fitted) << t.stem << ' ' << r.name << ": " << r.not_fitted_reason;
    EXPECT_FALSE(r.outcome.verdict.poor) << t.stem << ' ' << r.name << ": " << VerdictLine(r.outcome.verdict);
    EXPECT_EQ(r.outcome.termination, TFitTermination::kFinished) << r.name;
    EXPECT_EQ(r.outcome.standard_errors.size(), r.outcome.fitted.size()) << r.name;
  }
}

// The tires the stages were tuned on, each with its own noise and layout.
TEST(CombinedStages, TunedTiresWithinTwoPercentOfPeakFromEstimatedStarts) {
  struct Case {
    const char* stem;
    ProgrammeShape shape;
  };
  ProgrammeShape a;
  a.seed = 11;
  ProgrammeShape b;
  b.seed = 23;
  b.force_noise = 0.01;
  b.cambers = {-2.0, 0.0, 4.0};
  b.load_shares = {0.4, 0.8, 1.2};
  ProgrammeShape c;
  c.seed = 37;
  c.force_noise = 0.004;
  c.kappa_max = 0.2;
  c.slip_angles = {-6.0, -4.0, -2.0, 0.0, 2.0, 4.0, 6.0};
  c.speeds = {10.0, 20.0, 30.0};
  c.kappa_steps = 25;
  for (const Case& k : {Case{"car-185-80R14", a}, Case{"suv-265-70R18", b}, Case{"car-245-40R18-opentire", c}}) {
    const Tire t = LoadTire(k.stem);
    const TCombinedDataSet data = CombinedProgramme(t, k.shape);
    const StagedFit fit = FitAllStages(t, data);
    ExpectWithinTwoPercent(t, fit, k.shape);
    EXPECT_EQ(fit.results[0].points, data.samples.size());
  }
}

// The military tire took no part in choosing the starts or the solver's
// settings: it says how the stages do on a tire they have not seen.
TEST(CombinedStages, MilitaryTireKeptOutOfTheTuning) {
  const Tire t = LoadTire("military-37x12.5R16.5");
  ProgrammeShape shape;
  shape.seed = 5;
  shape.force_noise = 0.008;
  shape.load_shares = {0.3, 0.6, 1.0};
  const StagedFit fit = FitAllStages(t, CombinedProgramme(t, shape));
  ExpectWithinTwoPercent(t, fit, shape);
}

// Mx and My are fitted where measured; the opentire publishes non-zero
// overturning and rolling-resistance coefficients and its programme has
// three speeds.
TEST(CombinedStages, MomentsFittedWhereMeasured) {
  const Tire t = LoadTire("car-245-40R18-opentire");
  ProgrammeShape shape;
  shape.seed = 41;
  shape.speeds = {8.0, 16.0, 28.0};
  shape.kappa_steps = 21;
  const TCombinedDataSet data = CombinedProgramme(t, shape);
  TCombinedCoefficients comb = t.comb;  // the forces of the first stages as published
  TSilentFitHost host;
  const TMemoryCoefficientSet pure = PureSet(t);
  const TStageResult mx = FitCombinedStage(TCombinedStage::kMx, pure, comb, data, t.longvl, host);
  const TStageResult my = FitCombinedStage(TCombinedStage::kMy, pure, comb, data, t.longvl, host);
  ASSERT_TRUE(mx.fitted);
  ASSERT_TRUE(my.fitted);
  EXPECT_TRUE(mx.held.empty());
  EXPECT_TRUE(my.held.empty());
  // The moments at the rated load, against the published ones.
  for (double alpha : {-5.0, 0.0, 5.0})
    for (double kappa : {-0.1, 0.0, 0.1}) {
      const TCombinedPoint a = test::TruePoint(t, 3.0, t.lat.Fz0, alpha, kappa, 20.0);
      const TCombinedPoint b =
          CombinedPointAt(t.lat, t.ali, t.lon, comb, t.r0, 3.0, t.lat.Fz0, alpha, kappa, 20.0, t.longvl);
      EXPECT_NEAR(b.Mx, a.Mx, 0.03 * std::fabs(t.r0 * t.lat.Fz0 * t.comb.QSX3) + 2.0);
      EXPECT_NEAR(b.My, a.My, 0.03 * std::fabs(a.My) + 0.5);
    }
  EXPECT_FALSE(mx.outcome.verdict.poor) << VerdictLine(mx.outcome.verdict);
  EXPECT_FALSE(my.outcome.verdict.poor) << VerdictLine(my.outcome.verdict);
}

TEST(CombinedStages, StagesWithoutTheirDataAreNotFittedAndChangeNothing) {
  const Tire t = LoadTire("suv-265-70R18");
  ProgrammeShape shape;
  shape.moments = false;
  shape.seed = 3;
  shape.kappa_steps = 11;
  TCombinedDataSet data = CombinedProgramme(t, shape);
  TCombinedCoefficients comb = t.comb;
  comb.QSX1 = 0.5;
  comb.QSY1 = 0.25;
  const TCombinedCoefficients before = comb;
  TSilentFitHost host;
  const TMemoryCoefficientSet pure = PureSet(t);
  const TStageResult mx = FitCombinedStage(TCombinedStage::kMx, pure, comb, data, t.longvl, host);
  const TStageResult my = FitCombinedStage(TCombinedStage::kMy, pure, comb, data, t.longvl, host);
  EXPECT_FALSE(mx.fitted);
  EXPECT_FALSE(my.fitted);
  EXPECT_EQ(mx.not_fitted_reason, "the data hold no measured Mx");
  EXPECT_EQ(my.not_fitted_reason, "the data hold no measured My with the wheel's speed");
  EXPECT_EQ(mx.points, 0u);
  EXPECT_EQ(comb.QSX1, before.QSX1);
  EXPECT_EQ(comb.QSY1, before.QSY1);

  // Fx at zero slip angle only: the weight is 1 whatever its coefficients.
  TCombinedDataSet straight;
  for (const TCombinedSample& s : data.samples)
    if (std::fabs(s.slip_angle) < 0.3) straight.samples.push_back(s);
  const TStageResult fx = FitCombinedStage(TCombinedStage::kFx, pure, comb, straight, t.longvl, host);
  EXPECT_FALSE(fx.fitted);
  EXPECT_NE(fx.not_fitted_reason.find("slip angle other than 0"), std::string::npos);
  EXPECT_EQ(comb.RBX1, before.RBX1);
}

TEST(CombinedStages, OneLoadAndOneCamberHoldTheirTermsAtZeroAndNameThem) {
  const Tire t = LoadTire("car-185-80R14");
  ProgrammeShape shape;
  shape.seed = 9;
  shape.cambers = {0.0};
  shape.load_shares = {1.0};
  const TCombinedDataSet data = CombinedProgramme(t, shape);
  TCombinedCoefficients comb;
  comb.REX2 = 0.3;  // whatever was there is replaced: the stage owns it
  comb.RVY3 = 0.2;
  TSilentFitHost host;
  const TMemoryCoefficientSet pure = PureSet(t);
  const TStageResult fx = FitCombinedStage(TCombinedStage::kFx, pure, comb, data, t.longvl, host);
  const TStageResult fy = FitCombinedStage(TCombinedStage::kFy, pure, comb, data, t.longvl, host);
  const TStageResult mz = FitCombinedStage(TCombinedStage::kMz, pure, comb, data, t.longvl, host);
  EXPECT_EQ(fx.held, std::vector<std::string>{"REX2 (one load)"});
  // This tire publishes no slip-ratio induced side force (RVY6 = 0): the
  // rest of SVyk's coefficients follow, held for that.
  ASSERT_GE(fy.held.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(fy.held.begin(), fy.held.begin() + 4),
            (std::vector<std::string>{"REY2 (one load)", "RHY2 (one load)", "RVY2 (one load)", "RVY3 (one camber)"}));
  EXPECT_EQ(fy.held.back(), "RVY6 (no slip-ratio induced side force above the noise)");
  EXPECT_EQ(mz.held, (std::vector<std::string>{"SSZ3 (one camber)", "SSZ4 (one camber)"}));
  EXPECT_EQ(comb.REX2, 0.0);
  EXPECT_EQ(comb.RVY3, 0.0);
  EXPECT_EQ(std::count(fx.outcome.fitted.begin(), fx.outcome.fitted.end(), "REX2"), 0);
  bool named = false;
  for (const TVerdictReason& note : fy.outcome.verdict.notes)
    named = named || note.text.find("RVY3 is held at 0: the data hold one camber") == 0;
  EXPECT_TRUE(named);
  // The curves at that one load and camber are still right.
  const test::CombinedAccuracy acc = test::CompareWithTruth(t, t.lat, t.ali, t.lon, comb, t.r0, shape);
  EXPECT_LT(acc.fx, 0.02);
  EXPECT_LT(acc.fy, 0.02);
}

// The residuals the stages minimise are those of the double evaluation:
// zero at the true coefficients on noise-free data, for every stage.
TEST(CombinedStages, ResidualsAreThoseOfTheDoubleEvaluation) {
  const Tire t = LoadTire("car-245-40R18-opentire");
  ProgrammeShape shape;
  shape.force_noise = 0.0;
  shape.moment_noise = 0.0;
  shape.kappa_steps = 9;
  const TCombinedDataSet data = CombinedProgramme(t, shape);
  const TMemoryCoefficientSet pure = PureSet(t);
  for (TCombinedStage stage : {TCombinedStage::kFx, TCombinedStage::kFy, TCombinedStage::kMz,
                               TCombinedStage::kMx, TCombinedStage::kMy}) {
    const std::vector<double> r = CombinedStageResiduals(stage, pure, t.comb, data, t.longvl);
    ASSERT_EQ(r.size(), data.samples.size()) << CombinedStageName(stage);
    for (double v : r) ASSERT_NEAR(v, 0.0, 1e-9 * t.lat.Fz0) << CombinedStageName(stage);
  }
  // A changed coefficient shows in its stage's residuals only.
  TCombinedCoefficients moved = t.comb;
  moved.RBX1 *= 1.2;
  const std::vector<double> fx = CombinedStageResiduals(TCombinedStage::kFx, pure, moved, data, t.longvl);
  const std::vector<double> mx = CombinedStageResiduals(TCombinedStage::kMx, pure, moved, data, t.longvl);
  EXPECT_GT(*std::max_element(fx.begin(), fx.end()), 1.0);
  for (double v : mx) EXPECT_NEAR(v, 0.0, 1e-9 * t.lat.Fz0);
}

TEST(CombinedStages, CancelStopsTheStageAtItsBestPointSoFar) {
  const Tire t = LoadTire("suv-265-70R18");
  ProgrammeShape shape;
  shape.seed = 17;
  const TCombinedDataSet data = CombinedProgramme(t, shape);
  TCombinedCoefficients comb;
  test::RecordingHost host;
  host.cancel_after = 2;
  const TStageResult fy = FitCombinedStage(TCombinedStage::kFy, PureSet(t), comb, data, t.longvl, host);
  ASSERT_TRUE(fy.fitted);
  EXPECT_TRUE(fy.outcome.cancelled);
  EXPECT_EQ(fy.outcome.termination, TFitTermination::kCancelled);
  EXPECT_TRUE(fy.outcome.verdict.poor);
  EXPECT_EQ(fy.outcome.verdict.reasons.front().code, "cancelled");
  EXPECT_LE(fy.outcome.final_cost, fy.outcome.start_cost);
  EXPECT_LE(fy.outcome.iterations, 3);
}

}  // namespace
}  // namespace morvex

namespace morvex {
namespace {

// A given start replaces the estimate: exactly its coefficients are free,
// the stage's others held at 0; a name of another stage is refused.
TEST(CombinedStages, GivenStartFreesExactlyItsCoefficients) {
  const Tire t = LoadTire("military-37x12.5R16.5");
  ProgrammeShape shape;
  shape.seed = 29;
  shape.kappa_steps = 15;
  const TCombinedDataSet data = CombinedProgramme(t, shape);
  const TMemoryCoefficientSet pure = PureSet(t);
  TSilentFitHost host;
  TCombinedCoefficients comb;
  comb.REX2 = 0.4;
  const std::vector<std::pair<std::string, double>> start = {{"RBX1", 8.0}, {"RCX1", 1.0}, {"RBX2", -5.0}};
  const TStageResult fx = FitCombinedStage(TCombinedStage::kFx, pure, comb, data, t.longvl, host, &start);
  EXPECT_EQ(fx.outcome.fitted, (std::vector<std::string>{"RBX1", "RCX1", "RBX2"}));
  EXPECT_EQ(fx.start_values, (std::vector<double>{8.0, 1.0, -5.0}));
  EXPECT_EQ(comb.REX2, 0.0);
  EXPECT_NEAR(comb.RBX1, t.comb.RBX1, 0.15 * t.comb.RBX1);
  const std::vector<std::pair<std::string, double>> foreign = {{"RBY1", 8.0}};
  EXPECT_THROW(FitCombinedStage(TCombinedStage::kFx, pure, comb, data, t.longvl, host, &foreign),
               std::invalid_argument);
}

}  // namespace
}  // namespace morvex
