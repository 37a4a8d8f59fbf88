// A whole tire from a programme of published tires: pure-slip tables and
// slip ratio swept at held slip angles, fitted from estimated starts with
// one Fz0 and R0; the tire's combined-slip curves against the true tire,
// the property-file mode the stages support, and a cancelled programme.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "fitting/FitVerdict.h"
#include "fitting/TireProgramme.h"
#include "fitting/tests/CombinedProgrammeData.h"
#include "fitting/tests/FitTestSupport.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

using test::LoadTire;
using test::ProgrammeShape;
using test::Tire;

TTireProgrammeInput Programme(const Tire& t, const ProgrammeShape& shape) {
  TTireProgrammeInput input;
  input.lateral = test::PureProgramme(t, 1, shape, shape.seed + 100);
  input.aligning = test::PureProgramme(t, 2, shape, shape.seed + 200);
  input.longitudinal = test::PureProgramme(t, 0, shape, shape.seed + 300);
  input.combined = test::CombinedProgramme(t, shape);
  input.fz0 = t.lat.Fz0;
  input.r0 = t.r0;
  input.longvl = t.longvl;
  return input;
}

// `mz_share`: the aligning moment under combined slip rests on the
// pure-slip aligning fit and inherits its error (with the published
// aligning coefficients the combined Mz is within 1 %, the stage tests;
// with fitted ones about 2.3 % on these programmes).  The bound states
// today's level, not the goal of 2 %.
void ExpectTireWithinTwoPercent(const Tire& t, const ProgrammeShape& shape, double mz_share) {
  TSilentFitHost host;
  const TTireProgrammeResult result = FitTireProgramme(Programme(t, shape), host);
  ASSERT_EQ(result.stages.size(), 8u);
  EXPECT_EQ(result.use_mode, 4);
  for (const TStageResult& s : result.stages) {
    if (s.name == "Mx" || s.name == "My") continue;
    EXPECT_TRUE(s.fitted) << t.stem << ' ' << s.name << ": " << s.not_fitted_reason;
    EXPECT_FALSE(s.outcome.verdict.poor) << t.stem << ' ' << s.name << ": " << VerdictLine(s.outcome.verdict);
  }
  const test::CombinedAccuracy acc = test::CompareWithTruth(
      t, ReadLateralCoefficients(result.coefficients), ReadAligningCoefficients(result.coefficients),
      ReadLongitudinalCoefficients(result.coefficients), result.combined, result.coefficients.Value("R0"), shape);
  std::cout << t.stem << " programme: worst share of peak Fx " << acc.fx << ", Fy " << acc.fy << ", Mz " << acc.mz
            << '\n';
  EXPECT_LT(acc.fx, 0.02) << t.stem;
  EXPECT_LT(acc.fy, 0.02) << t.stem;
  EXPECT_LT(acc.mz, mz_share) << t.stem;
  EXPECT_EQ(result.coefficients.Value("Fz0"), t.lat.Fz0);
}

TEST(TireProgramme, TunedTireWithinTwoPercentOfPeak) {
  ProgrammeShape shape;
  shape.seed = 71;
  shape.kappa_steps = 25;
  ExpectTireWithinTwoPercent(LoadTire("car-185-80R14"), shape, 0.03);
}

TEST(TireProgramme, MilitaryTireKeptOutOfTheTuning) {
  ProgrammeShape shape;
  shape.seed = 83;
  shape.kappa_steps = 25;
  shape.force_noise = 0.008;
  ExpectTireWithinTwoPercent(LoadTire("military-37x12.5R16.5"), shape, 0.03);
}

TEST(TireProgramme, ModeFollowsTheStagesFitted) {
  const Tire t = LoadTire("suv-265-70R18");
  ProgrammeShape shape;
  shape.seed = 5;
  shape.kappa_steps = 11;
  shape.moments = false;
  TSilentFitHost host;
  TTireProgrammeInput input = Programme(t, shape);
  input.longitudinal.reset();
  const TTireProgrammeResult lateral_only = FitTireProgramme(input, host);
  EXPECT_EQ(lateral_only.use_mode, 2);
  const std::vector<std::string> reasons = {
      "longitudinal: no longitudinal-force data",
      "Fx combined: the pure-slip longitudinal force was not fitted",
      "Mz combined: the pure-slip longitudinal force was not fitted",
      "Mx: the data hold no measured Mx",
      "My: the pure-slip longitudinal force was not fitted"};
  EXPECT_EQ(lateral_only.mode_reasons, reasons);
  EXPECT_TRUE(lateral_only.stages[4].fitted);  // Fy combined rests on the lateral force only

  input = Programme(t, shape);
  input.combined = {};
  const TTireProgrammeResult uncombined = FitTireProgramme(input, host);
  EXPECT_EQ(uncombined.use_mode, 3);
  EXPECT_EQ(uncombined.mode_reasons.front(), "Fx combined: no combined-slip data");
  EXPECT_EQ(uncombined.combined.RBX1, 0.0);

  input.fz0 = 0;
  EXPECT_THROW(FitTireProgramme(input, host), std::invalid_argument);
}

TEST(TireProgramme, CancelEndsTheRunningStageAndSkipsTheRest) {
  const Tire t = LoadTire("car-245-40R18-opentire");
  ProgrammeShape shape;
  shape.seed = 13;
  shape.kappa_steps = 11;
  test::RecordingHost host;
  host.cancel_after = 0;
  const TTireProgrammeResult result = FitTireProgramme(Programme(t, shape), host);
  EXPECT_TRUE(result.cancelled);
  ASSERT_EQ(result.stages.size(), 8u);
  EXPECT_TRUE(result.stages[0].outcome.cancelled);
  for (size_t k = 1; k < result.stages.size(); ++k) {
    EXPECT_FALSE(result.stages[k].fitted);
    EXPECT_EQ(result.stages[k].not_fitted_reason, "the programme was cancelled");
  }
  EXPECT_EQ(result.use_mode, 2);
}

}  // namespace
}  // namespace morvex
