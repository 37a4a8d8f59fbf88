// The combined-slip model: agreement with an independent numpy evaluation
// of the published equations on published tires, the pure-slip limits, the
// bounds of the weights, mirror symmetry, and the readings chosen where
// published evaluators differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/LxTypes.h"
#include "testing/TestSupport.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/CombinedSlipKernels.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/tests/CombinedTires.h"

namespace morvex {
namespace {

using test::kCombinedDataDir;
using test::kCombinedTires;
using test::LoadTire;
using test::Tire;

TCombinedPoint Eval(const Tire& t, double camber, double fz, double alpha, double kappa,
                    double vx = 16.7) {
  return CombinedPointAt(t.lat, t.ali, t.lon, t.comb, t.r0, camber, fz, alpha, kappa, vx, t.longvl);
}

// ------------------------------------------------ independent evaluation

struct RefRow {
  std::string stem;
  double camber, load, alpha, kappa, vx;
  double value[5];  // Fx, Fy, Mz, Mx, My
};

std::vector<RefRow> ReadReference() {
  std::ifstream in(kCombinedDataDir + "reference.txt");
  EXPECT_TRUE(in);
  std::vector<RefRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream ss(line);
    std::string field;
    std::vector<std::string> f;
    while (std::getline(ss, field, ';')) f.push_back(field);
    EXPECT_EQ(f.size(), 11u) << line;
    if (f.size() != 11) continue;
    RefRow r{f[0], std::stod(f[1]), std::stod(f[2]), std::stod(f[3]), std::stod(f[4]), std::stod(f[5]), {}};
    for (int i = 0; i < 5; ++i) r.value[i] = std::stod(f[6 + i]);
    rows.push_back(r);
  }
  return rows;
}

// Morvex against the numpy evaluation: within 1e-9 of the reference value,
// relative; values that cross zero are held to 1e-9 of 1 N (1 N m), which
// only matters within a few newtons of a zero crossing.
TEST(CombinedSlipReference, AgreesWithIndependentEvaluationOnPublishedTires) {
  const std::vector<RefRow> rows = ReadReference();
  std::map<std::string, Tire> tires;
  for (const std::string& stem : kCombinedTires) tires[stem] = LoadTire(stem);
  std::map<std::string, size_t> per_tire;
  const char* names[5] = {"Fx", "Fy", "Mz", "Mx", "My"};
  double worst[5] = {0, 0, 0, 0, 0};
  for (const RefRow& r : rows) {
    ASSERT_TRUE(tires.count(r.stem)) << r.stem;
    ++per_tire[r.stem];
    const TCombinedPoint p = Eval(tires[r.stem], r.camber, r.load, r.alpha, r.kappa, r.vx);
    const double got[5] = {p.Fx, p.Fy, p.Mz, p.Mx, p.My};
    for (int i = 0; i < 5; ++i) {
      const double rel = std::fabs(got[i] - r.value[i]) / std::max(std::fabs(r.value[i]), 1.0);
      worst[i] = std::max(worst[i], rel);
      EXPECT_LE(rel, 1e-9) << r.stem << " " << names[i] << " at camber " << r.camber << ", Fz "
                           << r.load << ", alpha " << r.alpha << ", kappa " << r.kappa << ": "
                           << got[i] << " against " << r.value[i];
    }
  }
  // Every tire is there, each with a full grid that spans both signs of
  // slip angle and slip ratio.
  EXPECT_EQ(per_tire.size(), kCombinedTires.size());
  for (const auto& [stem, n] : per_tire) EXPECT_GE(n, 500u) << stem;
  for (int i = 0; i < 5; ++i) {
    std::ostringstream text;
    text << worst[i];
    RecordProperty(std::string("worst_relative_") + names[i], text.str());
  }
}

// The reference would prove nothing if the combined terms were small on
// these tires: the weights reduce the forces substantially on the grid and
// the Fx arm moves the aligning moment.
TEST(CombinedSlipReference, PublishedTiresExerciseEveryCombinedTerm) {
  int with_induced_force = 0;
  for (const std::string& stem : kCombinedTires) {
    const Tire t = LoadTire(stem);
    const double fz = t.lat.Fz0;
    const TCombinedPoint braking_in_turn = Eval(t, 0.0, fz, 6.0, -0.12);
    EXPECT_LT(braking_in_turn.Gxa, 0.95) << stem;
    EXPECT_LT(braking_in_turn.Gyk, 0.9) << stem;
    if (std::fabs(braking_in_turn.SVyk) > 1e-3 * fz) ++with_induced_force;
    TCombinedCoefficients no_arm = t.comb;
    no_arm.SSZ1 = no_arm.SSZ2 = no_arm.SSZ3 = no_arm.SSZ4 = 0.0;
    const TCombinedPoint without =
        CombinedPointAt(t.lat, t.ali, t.lon, no_arm, t.r0, 0.0, fz, 6.0, -0.12, 16.7, t.longvl);
    EXPECT_GT(std::fabs(braking_in_turn.Mz - without.Mz), 1e-3 * fz * t.r0) << stem;
  }
  EXPECT_GE(with_induced_force, 2);
}

// ------------------------------------------------------ pure-slip limits

// At slip ratio 0 the lateral force is the pure-slip force to the last bit
// (weight exactly 1, no induced force); at slip angle 0 the longitudinal
// force is; at slip ratio 0 the aligning moment is the pure-slip moment plus
// the Fx arm, and exactly the pure-slip moment when the arm is 0.
TEST(CombinedSlipLimits, ZeroSlipGivesThePureSlipChannels) {
  for (const std::string& stem : kCombinedTires) {
    Tire t = LoadTire(stem);
    for (double camber : {-3.0, 0.0, 2.5}) {
      for (double share : {0.4, 1.0, 1.7}) {
        const double fz = share * t.lat.Fz0;
        for (double alpha : {-10.0, -1.0, 0.0, 0.3, 7.0}) {
          const TCombinedPoint p = Eval(t, camber, fz, alpha, 0.0);
          EXPECT_EQ(p.Gyk, 1.0);
          EXPECT_EQ(p.SVyk, 0.0);
          EXPECT_EQ(p.Fy, LateralForce(t.lat, camber, fz, alpha)) << stem << " alpha " << alpha;
          const double pure_mz = AligningMoment(t.lat, t.ali, t.r0, camber, fz, alpha);
          const double arm = t.r0 * (t.comb.SSZ1 + t.comb.SSZ2 * (p.Fy / t.lat.Fz0) +
                                     (t.comb.SSZ3 + t.comb.SSZ4 * ((fz - t.lat.Fz0) / t.lat.Fz0)) *
                                         (camber * M_PI / 180.0));
          EXPECT_NEAR(p.Mz, pure_mz + arm * p.Fx, 1e-12 * fz * t.r0) << stem << " alpha " << alpha;
        }
        for (double kappa : {-0.3, -0.02, 0.0, 0.01, 0.2}) {
          const TCombinedPoint p = Eval(t, camber, fz, 0.0, kappa);
          EXPECT_EQ(p.Gxa, 1.0);
          EXPECT_EQ(p.Fx, LongitudinalForce(t.lon, camber, fz, kappa)) << stem << " kappa " << kappa;
        }
      }
    }
    t.comb.SSZ1 = t.comb.SSZ2 = t.comb.SSZ3 = t.comb.SSZ4 = 0.0;
    for (double alpha : {-8.0, 0.0, 4.0}) {
      const TCombinedPoint p = Eval(t, 1.0, 0.9 * t.lat.Fz0, alpha, 0.0);
      EXPECT_EQ(p.Mz, AligningMoment(t.lat, t.ali, t.r0, 1.0, 0.9 * t.lat.Fz0, alpha)) << stem;
    }
  }
}

// A set whose combined coefficients are all 0 (what a pure-slip fit holds)
// gives the pure-slip forces at every combination: the weights' slopes are 0.
TEST(CombinedSlipLimits, ZeroCombinedCoefficientsLeaveForcesUnreduced) {
  Tire t = LoadTire("car-185-80R14");
  t.comb = TCombinedCoefficients{};
  for (double alpha : {-9.0, 3.0})
    for (double kappa : {-0.2, 0.05}) {
      const TCombinedPoint p = Eval(t, 2.0, 3000.0, alpha, kappa);
      EXPECT_EQ(p.Fx, LongitudinalForce(t.lon, 2.0, 3000.0, kappa));
      EXPECT_EQ(p.Fy, LateralForce(t.lat, 2.0, 3000.0, alpha));
      EXPECT_EQ(p.Mx, 0.0);
      EXPECT_EQ(p.My, 0.0);
    }
}

// ------------------------------------------------------ weights' bounds

// Without shifts both weights lie in (0, 1] over the measured range of slip
// (|alpha| <= 15 deg, |kappa| <= 0.5), are 1 only at zero slip, and fall
// monotonically with the other slip's magnitude.  With the published shifts
// each weight stays positive and at most 1/W(shift), its value where the
// shifted slip is 0.
TEST(CombinedSlipWeights, StayWithinZeroAndOneOverTheMeasuredRange) {
  for (const std::string& stem : kCombinedTires) {
    const Tire t = LoadTire(stem);
    TCombinedCoefficients unshifted = t.comb;
    unshifted.RHX1 = unshifted.RHY1 = unshifted.RHY2 = 0.0;
    for (double share : {0.3, 1.0, 2.0}) {
      const double dfz = share - 1.0;
      for (double kappa : {-0.5, -0.1, 0.0, 0.03, 0.5}) {
        double previous_gxa = 2.0;
        for (double alpha_deg = 0.0; alpha_deg <= 15.0; alpha_deg += 0.5) {
          const double alpha = alpha_deg * M_PI / 180.0;
          const double gxa = mf::LongitudinalWeight(unshifted, dfz, alpha, kappa);
          EXPECT_GT(gxa, 0.0) << stem;
          EXPECT_LE(gxa, 1.0) << stem;
          EXPECT_LT(gxa, previous_gxa) << stem << " alpha " << alpha_deg << " kappa " << kappa;
          EXPECT_DOUBLE_EQ(gxa, mf::LongitudinalWeight(unshifted, dfz, -alpha, kappa)) << stem;
          previous_gxa = gxa;
          const double gxa_shifted = mf::LongitudinalWeight(t.comb, dfz, alpha, kappa);
          EXPECT_GT(gxa_shifted, 0.0) << stem;
          EXPECT_LE(gxa_shifted, 1.0 / mf::CosineShape(t.comb.RBX1 * std::cos(std::atan(t.comb.RBX2 * kappa)),
                                                        t.comb.RCX1,
                                                        std::min(t.comb.REX1 + t.comb.REX2 * dfz, 1.0),
                                                        t.comb.RHX1) * (1.0 + 1e-15))
              << stem;
        }
      }
      for (double alpha_deg : {-15.0, -4.0, 0.0, 2.0, 15.0}) {
        const double alpha = alpha_deg * M_PI / 180.0;
        double previous_gyk = 2.0;
        for (double kappa = 0.0; kappa <= 0.5; kappa += 0.01) {
          const double gyk = mf::LateralWeight(unshifted, dfz, alpha, kappa);
          EXPECT_GT(gyk, 0.0) << stem;
          EXPECT_LE(gyk, 1.0) << stem;
          EXPECT_LT(gyk, previous_gyk) << stem << " alpha " << alpha_deg << " kappa " << kappa;
          EXPECT_DOUBLE_EQ(gyk, mf::LateralWeight(unshifted, dfz, alpha, -kappa)) << stem;
          previous_gyk = gyk;
          EXPECT_GT(mf::LateralWeight(t.comb, dfz, alpha, kappa), 0.0) << stem;
          EXPECT_GT(mf::LateralWeight(t.comb, dfz, alpha, -kappa), 0.0) << stem;
        }
      }
    }
  }
}

// The weights are not clamped: a shape factor above 1 turns Gxa negative
// far beyond the measured slip angles, as the equations say (a fitted set
// is judged by its curves, not silently repaired).
TEST(CombinedSlipWeights, FollowTheEquationsBeyondTheMeasuredRange) {
  TCombinedCoefficients c;
  c.RBX1 = 15.0;
  c.RCX1 = 1.6;
  const double alpha = 60.0 * M_PI / 180.0;
  const double expected = std::cos(1.6 * std::atan(15.0 * alpha));
  EXPECT_LT(expected, 0.0);
  EXPECT_DOUBLE_EQ(mf::LongitudinalWeight(c, 0.0, alpha, 0.0), expected);
}

// ------------------------------------------------------------- symmetry

// A tire without shifts, asymmetric curvature or residual-moment offsets is
// symmetric at zero camber: Fy and Mz odd in the slip angle and Fx even;
// Fx odd in the slip ratio while Fy and Mz are even in it.
TEST(CombinedSlipSymmetry, SymmetricTireGivesMirroredForcesAndMoments) {
  Tire t = LoadTire("car-245-40R18-opentire");
  t.lat.PHy1 = t.lat.PHy2 = t.lat.PVy1 = t.lat.PVy2 = t.lat.PEy3 = 0.0;
  t.lon.PHx1 = t.lon.PHx2 = t.lon.PVx1 = t.lon.PVx2 = t.lon.PEx4 = 0.0;
  t.ali.QHz1 = t.ali.QHz2 = t.ali.QDz6 = t.ali.QDz7 = t.ali.QEz4 = 0.0;
  t.comb.RHX1 = t.comb.RHY1 = t.comb.RHY2 = t.comb.RBY3 = 0.0;
  t.comb.RVY1 = t.comb.RVY2 = 0.0;  // no induced Fy at zero camber
  t.comb.SSZ1 = 0.0;                // the Fx arm odd in Fy only
  for (double share : {0.5, 1.0, 1.5}) {
    const double fz = share * t.lat.Fz0;
    const double tol_f = 1e-11 * fz;
    const double tol_m = 1e-11 * fz * t.r0;
    for (double alpha : {0.5, 3.0, 11.0})
      for (double kappa : {0.01, 0.08, 0.3}) {
        const TCombinedPoint pp = Eval(t, 0.0, fz, alpha, kappa);
        const TCombinedPoint mp = Eval(t, 0.0, fz, -alpha, kappa);
        const TCombinedPoint pm = Eval(t, 0.0, fz, alpha, -kappa);
        EXPECT_NEAR(mp.Fx, pp.Fx, tol_f);
        EXPECT_NEAR(mp.Fy, -pp.Fy, tol_f);
        EXPECT_NEAR(mp.Mz, -pp.Mz, tol_m);
        EXPECT_NEAR(pm.Fx, -pp.Fx, tol_f);
        EXPECT_NEAR(pm.Fy, pp.Fy, tol_f);
        // The Fx arm s*Fx is odd in the slip ratio, the rest of Mz even.
        const double arm_moment = t.r0 * (t.comb.SSZ2 * (pp.Fy / t.lat.Fz0)) * pp.Fx;
        EXPECT_GT(std::fabs(arm_moment), 1e3 * tol_m);
        EXPECT_NEAR(pm.Mz, pp.Mz - 2.0 * arm_moment, tol_m);
      }
  }
}

// ------------------------------------------ readings where sources differ

// The equivalent slip angle takes the sign of the shifted slip angle, so the
// aligning moment is continuous in the slip ratio at 0 (a sign taken from
// the slip ratio would put the equivalent angles at 0 at zero slip ratio and
// the moment would jump there).
TEST(CombinedSlipReadings, AligningMomentIsContinuousThroughZeroSlipRatio) {
  for (const std::string& stem : kCombinedTires) {
    const Tire t = LoadTire(stem);
    const double fz = t.lat.Fz0;
    for (double alpha : {-5.0, -1.0, 2.0, 6.0}) {
      const double at_zero = Eval(t, 0.0, fz, alpha, 0.0).Mz;
      const double braking = Eval(t, 0.0, fz, alpha, -1e-7).Mz;
      const double driving = Eval(t, 0.0, fz, alpha, 1e-7).Mz;
      const double scale = 1e-4 * fz * t.r0;
      EXPECT_NEAR(braking, at_zero, scale) << stem << " alpha " << alpha;
      EXPECT_NEAR(driving, at_zero, scale) << stem << " alpha " << alpha;
    }
  }
}

// The equivalent slip angle is sqrt(a^2 + (Kx/Ky)^2 kappa^2) sgn(a), the form
// of the slip angle itself, not atan(sqrt(tan^2 a + ...)): the two differ by
// a visible amount at large combined slip.
TEST(CombinedSlipReadings, EquivalentSlipAngleIsTheRootOfSquares) {
  const double a = 0.2, ratio = -0.9, kappa = 0.25;
  const double root = std::sqrt(a * a + (ratio * kappa) * (ratio * kappa));
  const double tangent_form = std::atan(std::sqrt(std::tan(a) * std::tan(a) + (ratio * kappa) * (ratio * kappa)));
  EXPECT_GT(std::fabs(root - tangent_form), 1e-3);
  EXPECT_DOUBLE_EQ(mf::EquivalentSlipAngle(a, ratio, kappa), root);
  EXPECT_DOUBLE_EQ(mf::EquivalentSlipAngle(-a, ratio, kappa), -root);
  EXPECT_EQ(mf::EquivalentSlipAngle(0.0, ratio, kappa), 0.0);
  EXPECT_EQ(mf::EquivalentSlipAngle(-a, ratio, 0.0), -a);
}

// The trail multiplies Fy - SVyk: the slip-ratio induced lateral force acts
// at the contact centre and only moves the moment through the Fx arm.
TEST(CombinedSlipReadings, InducedLateralForceCarriesNoTrail) {
  Tire t = LoadTire("military-37x12.5R16.5");
  t.comb.SSZ1 = t.comb.SSZ2 = t.comb.SSZ3 = t.comb.SSZ4 = 0.0;
  TCombinedCoefficients no_induced = t.comb;
  no_induced.RVY1 = no_induced.RVY2 = no_induced.RVY3 = 0.0;
  for (double alpha : {-4.0, 3.0})
    for (double kappa : {-0.15, 0.1}) {
      const TCombinedPoint with = Eval(t, 2.0, t.lat.Fz0, alpha, kappa);
      const TCombinedPoint without = CombinedPointAt(t.lat, t.ali, t.lon, no_induced, t.r0, 2.0,
                                                     t.lat.Fz0, alpha, kappa, 16.7, t.longvl);
      EXPECT_GT(std::fabs(with.Fy - without.Fy), 1.0);
      EXPECT_NEAR(with.Mz, without.Mz, 1e-9 * t.lat.Fz0 * t.r0);
    }
}

// Mx: R0 Fz (QSX1 - QSX2 gamma + QSX3 Fy/Fz0); the Fy term follows the
// combined force and the camber term has the sign of the equation.
TEST(CombinedSlipMoments, OverturningMomentFollowsCamberAndCombinedFy) {
  const Tire t = LoadTire("car-245-40R18-opentire");
  const double fz = t.lat.Fz0;
  const TCombinedPoint straight = Eval(t, 0.0, fz, 0.0, 0.0);
  const TCombinedPoint cambered = Eval(t, 3.0, fz, 0.0, 0.0);
  EXPECT_NEAR(straight.Mx, t.r0 * fz * (t.comb.QSX1 + t.comb.QSX3 * straight.Fy / fz), 1e-12 * fz);
  EXPECT_NEAR(cambered.Mx - t.r0 * fz * t.comb.QSX3 * cambered.Fy / fz,
              t.r0 * fz * (t.comb.QSX1 - t.comb.QSX2 * 3.0 * M_PI / 180.0), 1e-12 * fz);
  const TCombinedPoint turning = Eval(t, 0.0, fz, 5.0, 0.0);
  const TCombinedPoint braking_in_turn = Eval(t, 0.0, fz, 5.0, -0.2);
  EXPECT_LT(std::fabs(braking_in_turn.Mx - t.r0 * fz * t.comb.QSX1),
            std::fabs(turning.Mx - t.r0 * fz * t.comb.QSX1));
}

// My opposes the rolling: negative forward, positive backward, 0 at rest;
// the speed terms are normalised by LONGVL.
TEST(CombinedSlipMoments, RollingResistanceOpposesRolling) {
  Tire t = LoadTire("suv-265-70R18");
  const double fz = t.lat.Fz0;
  const double forward = Eval(t, 0.0, fz, 0.0, 0.0, 20.0).My;
  EXPECT_LT(forward, 0.0);
  EXPECT_NEAR(forward, -t.r0 * fz * t.comb.QSY1, 1e-12 * fz);
  EXPECT_DOUBLE_EQ(Eval(t, 0.0, fz, 0.0, 0.0, -20.0).My, -forward);
  EXPECT_EQ(Eval(t, 0.0, fz, 0.0, 0.0, 0.0).My, 0.0);
  t.comb.QSY1 = 0.0;
  t.comb.QSY3 = 0.01;
  t.comb.QSY4 = 0.002;
  const double at_reference_speed = Eval(t, 0.0, fz, 0.0, 0.0, t.longvl).My;
  EXPECT_NEAR(at_reference_speed, -t.r0 * fz * (0.01 + 0.002), 1e-12 * fz);
  const double at_double_speed = Eval(t, 0.0, fz, 0.0, 0.0, 2.0 * t.longvl).My;
  EXPECT_NEAR(at_double_speed, -t.r0 * fz * (0.02 + 0.002 * 16.0), 1e-12 * fz);
}

// ------------------------------------------------------------ the keys

// Every key names its own member, in any case, as property files spell them;
// a key that is not a combined-slip coefficient names none.
TEST(CombinedSlipKeys, EveryPropertyFileKeyFindsItsOwnMember) {
  TCombinedCoefficients c;
  double value = 1.0;
#define MORVEX_SET(name) c.*CombinedMember(#name) = value++;
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_SET)
#undef MORVEX_SET
  EXPECT_EQ(value, 32.0);
  double sum = 0.0;  // 1 + 2 + ... + 31 when no two keys share a member
#define MORVEX_ADD(name) sum += c.name;
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_ADD)
#undef MORVEX_ADD
  EXPECT_EQ(sum, 496.0);
  EXPECT_EQ(c.RBX1, 1.0);
  EXPECT_EQ(c.QSY4, 31.0);
  EXPECT_EQ(&(c.*CombinedMember("ssz2")), &c.SSZ2);
  EXPECT_EQ(&(c.*CombinedMember("Rvy6")), &c.RVY6);
  EXPECT_EQ(CombinedMember("RBX3"), nullptr);
  EXPECT_EQ(CombinedMember("QSX4"), nullptr);
  EXPECT_EQ(CombinedMember("PKY1"), nullptr);
  EXPECT_EQ(CombinedMember("RBX"), nullptr);
  EXPECT_EQ(CombinedMember(""), nullptr);
}

// ------------------------------------------------------------- guards

// A load of 0 gives all zeros without evaluating anything; a cornering
// stiffness of 0 (no Kx/Ky ratio) raises a fault instead of a silent NaN.
TEST(CombinedSlipGuards, ZeroLoadAndZeroCorneringStiffness) {
  Tire t = LoadTire("car-185-80R14");
  const TCombinedPoint none = Eval(t, 1.0, 0.0, 5.0, 0.1);
  EXPECT_EQ(none.Fx, 0.0);
  EXPECT_EQ(none.Fy, 0.0);
  EXPECT_EQ(none.Mz, 0.0);
  EXPECT_EQ(none.My, 0.0);
  t.lat.PKy1 = 0.0;
  EXPECT_NE(test::MessageOf<EMathError>([&] { Eval(t, 1.0, 3000.0, 5.0, 0.1); }), "<no exception>");
}

}  // namespace
}  // namespace morvex
