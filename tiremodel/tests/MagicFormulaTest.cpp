// The three Magic Formula channels in their three forms: one-point
// functions, double-precision cost sums and model objects.  Reference
// values come from a direct long-double transcription of the model
// equations, written here independently of the product code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "testing/TestSupport.h"
#include "numerics/LxTypes.h"
#include "tiremodel/DemoModels.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

using test::MessageOf;

using LD = long double;

LD Rad(LD degrees) { return degrees * std::numbers::pi_v<LD> / 180; }
LD Sign(LD x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }
LD Dfz(LD fz, LD fz0, bool guarded) {
  return (guarded && std::fabs(fz0) <= 1e-12L) ? (fz - 1e-12L) / 1e-12L : (fz - fz0) / fz0;
}

struct RefLat { LD fy, shy, svy, kya, by, cy; };

// Lateral quantities at one point; `guards`: the 1e-12 guards of the
// stiffness quotient and of By.  c.Fz0 serves PKy1*Fz0, `fz0q` the quotient.
RefLat RefLateralTerms(const TLateralCoefficients& c, LD fz0q, LD g, LD fz, LD a, LD dfz, bool guards) {
  RefLat r;
  r.shy = c.PHy1 + c.PHy2 * dfz + c.PHy3 * g;
  r.svy = fz * (c.PVy1 + c.PVy2 * dfz + (c.PVy3 + c.PVy4 * dfz) * g);
  const LD ay = a + r.shy, dy = fz * (c.PDy1 + c.PDy2 * dfz) * (1 - c.PDy3 * g * g);
  r.cy = c.PCy1;
  const LD ey = std::min<LD>((c.PEy1 + c.PEy2 * dfz) * (1 - (c.PEy3 + c.PEy4 * g) * Sign(ay)), 1);
  const LD kd = c.PKy2 * fz0q, q = (guards && std::fabs(kd) <= 1e-12L) ? fz / 1e-12L : fz / kd;
  r.kya = c.PKy1 * c.Fz0 * std::sin(2 * std::atan(q)) * (1 - c.PKy3 * std::fabs(g));
  const LD cd = r.cy * dy;
  r.by = (guards && std::fabs(cd) <= 1e-12L) ? r.kya / 1e-12L : r.kya / cd;
  const LD x = r.by * ay;
  r.fy = dy * std::sin(r.cy * std::atan(x - ey * (x - std::atan(x)))) + r.svy;
  return r;
}

LD RefLateral(const TLateralCoefficients& c, LD camber, LD fz, LD slip) {
  if (fz == 0) return 0;
  return RefLateralTerms(c, c.Fz0, Rad(camber), fz, Rad(slip), Dfz(fz, c.Fz0, true), true).fy;
}

// `lat.Fz0` serves dfz and PKy1*Fz0, `fz0` the stiffness quotient and R0/Fz0.
LD RefAligning(const TLateralCoefficients& lat, const TAligningCoefficients& c, LD r0, LD fz0,
               LD camber, LD fz, LD slip) {
  if (fz == 0) return 0;
  const LD g = Rad(camber), a = Rad(slip), dfz = Dfz(fz, lat.Fz0, false);
  const RefLat l = RefLateralTerms(lat, fz0, g, fz, a, dfz, false);
  const LD at = a + c.QHz1 + c.QHz2 * dfz + (c.QHz3 + c.QHz4 * dfz) * g;
  const LD ar = a + l.shy + l.svy / l.kya;
  const LD bt = (c.QBz1 + c.QBz2 * dfz + c.QBz3 * dfz * dfz) * (1 + c.QBz4 * g + c.QBz5 * std::fabs(g));
  const LD ct = c.QCz1, dt = fz * (c.QDz1 + c.QDz2 * dfz) * (1 + c.QDz3 * g + c.QDz4 * g * g) * r0 / fz0;
  const LD et = std::min<LD>((c.QEz1 + c.QEz2 * dfz + c.QEz3 * dfz * dfz) *
                                 (1 + (c.QEz4 + c.QEz5 * g) * 2 / std::numbers::pi_v<LD> * std::atan(bt * ct * at)), 1);
  const LD br = c.QBz9 + c.QBz10 * l.by * l.cy;
  const LD dr = fz * (c.QDz6 + c.QDz7 * dfz + (c.QDz8 + c.QDz9 * dfz) * g) * r0;
  const LD t = dt * std::cos(ct * std::atan(bt * at - et * (bt * at - std::atan(bt * at)))) * std::cos(a);
  return -t * l.fy + dr * std::cos(std::atan(br * ar)) * std::cos(a);
}

LD RefLongitudinal(const TLongitudinalCoefficients& c, LD camber, LD fz, LD kappa) {
  if (fz == 0) return 0;
  const LD g = Rad(camber), dfz = Dfz(fz, c.Fz0, true), kx = kappa + c.PHx1 + c.PHx2 * dfz;
  const LD dx = fz * (c.PDx1 + c.PDx2 * dfz) * (1 - c.PDx3 * g * g), cx = c.PCx1;
  const LD ex = std::min<LD>((c.PEx1 + c.PEx2 * dfz + c.PEx3 * dfz * dfz) * (1 - c.PEx4 * Sign(kx)), 1);
  const LD expo = c.PKx3 * dfz;
  const LD stiff = fz * (c.PKx1 + c.PKx2 * dfz) * (expo >= 10000 ? std::exp(4.0L) : std::exp(expo));
  const LD bx = (std::fabs(cx) <= 1e-12L || std::fabs(dx) <= 1e-12L) ? 1e12L : stiff / cx / dx;
  return dx * std::sin(cx * std::atan(bx * kx - ex * (bx * kx - std::atan(bx * kx)))) + fz * (c.PVx1 + c.PVx2 * dfz);
}

void ExpectClose(double got, LD want) {
  EXPECT_NEAR(got, static_cast<double>(want), 1e-10 * (1 + std::fabs(static_cast<double>(want))));
}

// A panel with realistic, all non-zero coefficients (Fz0 = 4000).
TMemoryCoefficientSet Panel() {
  static const std::vector<std::pair<const char*, const char*>> kTexts = {
      {"Fz0", "4000"}, {"PHy1", "0.002"}, {"PHy2", "-0.001"}, {"PHy3", "0.03"}, {"PVy1", "0.01"},
      {"PVy2", "-0.02"}, {"PVy3", "-0.1"}, {"PVy4", "0.2"}, {"PDy1", "1.1"}, {"PDy2", "-0.15"},
      {"PDy3", "2"}, {"PCy1", "1.35"}, {"PEy1", "-0.8"}, {"PEy2", "-0.6"}, {"PEy3", "0.1"},
      {"PEy4", "-2"}, {"PKy1", "15"}, {"PKy2", "1.7"}, {"PKy3", "0.3"},
      {"QHz1", "0.003"}, {"QHz2", "-0.001"}, {"QHz3", "0.1"}, {"QHz4", "-0.05"}, {"QCz1", "1.2"},
      {"QDz1", "0.1"}, {"QDz2", "-0.005"}, {"QDz3", "0.3"}, {"QDz4", "-1"}, {"QBz1", "9"},
      {"QBz2", "-1.5"}, {"QBz3", "0.5"}, {"QBz4", "0.2"}, {"QBz5", "-0.3"}, {"QEz1", "-1.5"},
      {"QEz2", "0.3"}, {"QEz3", "0.1"}, {"QEz4", "0.2"}, {"QEz5", "-0.9"}, {"QBz9", "12"},
      {"QBz10", "0.1"}, {"QDz6", "0.002"}, {"QDz7", "-0.001"}, {"QDz8", "-0.1"}, {"QDz9", "0.05"},
      {"R0", "0.31"}, {"PCx1", "1.6"}, {"PDx1", "1.2"}, {"PDx2", "-0.1"}, {"PDx3", "3"},
      {"PEx1", "0.4"}, {"PEx2", "0.2"}, {"PEx3", "-0.3"}, {"PEx4", "0.5"}, {"PKx1", "22"},
      {"PKx2", "13"}, {"PKx3", "-0.4"}, {"PHx1", "0.001"}, {"PHx2", "-0.0005"}, {"PVx1", "0.01"},
      {"PVx2", "0.02"}};
  TMemoryCoefficientSet set;
  for (const auto& [name, text] : kTexts) set.SetText(name, text);
  return set;
}

// Three cases (one with a zero load) over slip angles, or two over slip ratios.
TTireDataSet Data(bool slip_ratios) {
  const std::vector<double> slips = slip_ratios ? std::vector<double>{-0.25, -0.05, 0, 0.02, 0.1, 0.4}
                                                : std::vector<double>{-12, -4, -0.5, 0, 1.7, 6, 15};
  TTireDataSet data;
  data.Cases = {{0, {0, 2500, 4000, 6200}, slips, {}}, {-3.5, {1800, 4000, 5600}, slips, {}}, {4, {3000, 7000}, slips, {}}};
  for (TLoadCase& lc : data.Cases)
    for (size_t k = 0; k < lc.RowCount(); ++k)
      for (size_t j = 0; j < lc.LoadCount(); ++j)
        lc.Values.push_back(0.37 * lc.Loads[j] * std::sin(0.3 * lc.Slips[k]) + 11.0 * j - 5.0 * k);
  return data;
}

// Squared residuals of `point(camber, fz, slip)` in cost order, summed in double and extended.
std::pair<double, Extended> Residuals(const TTireDataSet& data, const std::function<double(double, double, double)>& point) {
  double sum = 0;
  Extended extended_sum = 0;
  for (const TLoadCase& lc : data.Cases)
    for (size_t j = 0; j < lc.LoadCount(); ++j)
      for (size_t k = 0; k < lc.RowCount(); ++k) {
        const double r = lc.Value(k, j) - point(lc.Camber, lc.Loads[j], lc.Slips[k]);
        sum += r * r;
        extended_sum += r * r;
      }
  return {sum, extended_sum};
}

double Lateral22(const TLateralCoefficients& c, double camber, double fz, double slip) {
  return LateralForce(camber, fz, slip, c.Fz0, c.PHy1, c.PHy2, c.PHy3, c.PVy1, c.PVy2, c.PVy3, c.PVy4, c.PDy1,
                      c.PDy2, c.PDy3, c.PCy1, c.PEy1, c.PEy2, c.PEy3, c.PEy4, c.PKy1, c.PKy2, c.PKy3);
}

double Aligning30(const TCoefficientSet& panel, double r0, double fz0, double camber, double fz, double slip) {
  const TAligningCoefficients q = ReadAligningCoefficients(panel);
  return AligningMoment(panel, camber, fz, slip, r0, fz0, q.QHz1, q.QHz2, q.QHz3, q.QHz4, q.QCz1, q.QDz1, q.QDz2,
                        q.QDz3, q.QDz4, q.QBz1, q.QBz2, q.QBz3, q.QBz4, q.QBz5, q.QEz1, q.QEz2, q.QEz3, q.QEz4,
                        q.QEz5, q.QBz9, q.QBz10, q.QDz6, q.QDz7, q.QDz8, q.QDz9);
}

double Longitudinal19(const TLongitudinalCoefficients& c, double camber, double fz, double slip) {
  return LongitudinalForce(camber, fz, slip, c.Fz0, c.PCx1, c.PDx1, c.PDx2, c.PDx3, c.PEx1, c.PEx2, c.PEx3, c.PEx4,
                           c.PKx1, c.PKx2, c.PKx3, c.PHx1, c.PHx2, c.PVx1, c.PVx2);
}

const std::string kZeroDivide = "Division par zéro en virgule flottante";
const std::string kOverflow = "Débordement en virgule flottante";

TEST(MagicFormula, OnePointFunctionsMatchReferenceValues) {
  const auto panel = Panel();
  const auto lat = ReadLateralCoefficients(panel);
  const auto lon = ReadLongitudinalCoefficients(panel);
  for (double camber : {0.0, -3.5, 4.0})
    for (double fz : {1800.0, 4000.0, 6200.0})
      for (double slip : {-12.0, -0.5, 0.0, 6.0}) {
        ExpectClose(Lateral22(lat, camber, fz, slip), RefLateral(lat, camber, fz, slip));
        ExpectClose(Aligning30(panel, 0.31, 4000, camber, fz, slip),
                    RefAligning(lat, ReadAligningCoefficients(panel), 0.31, 4000, camber, fz, slip));
        ExpectClose(Longitudinal19(lon, camber, fz, slip / 40), RefLongitudinal(lon, camber, fz, slip / 40));
      }
  // By hand.  Fy: Fz = Fz0, no shifts, E = 0, PKy2 = 1, so Kya = PKy1*Fz0 and,
  // at By*alpha = 1 with Cy = 2, Fy = Dy*sin(2*atan(1)) = Dy = 4800.
  TLateralCoefficients h{.Fz0 = 4000, .PDy1 = 1.2, .PCy1 = 2, .PKy1 = 20, .PKy2 = 1};
  EXPECT_NEAR(LateralForce(h, 0, 4000, (9600.0 / 80000) * 180 / M_PI), 4800.0, 1e-9);
  // Fx: Cx = 1, Dx = Fz, Bx = PKx1, so at kappa = 1/PKx1 Fx = Fz*sin(pi/4).
  TLongitudinalCoefficients x{.Fz0 = 3000, .PCx1 = 1, .PDx1 = 1, .PKx1 = 20};
  EXPECT_NEAR(LongitudinalForce(x, 0, 3000, 0.05), 3000 * std::sqrt(0.5), 1e-9);
}

TEST(MagicFormula, ThreeFormsAgreeBitForBit) {
  const auto panel = Panel();
  const TTireDataSet angles = Data(false), ratios = Data(true);
  const auto lat = ReadLateralCoefficients(panel);
  const auto al = ReadAligningCoefficients(panel);
  const auto lon = ReadLongitudinalCoefficients(panel);
  CurrentTireRadius = 0.31;
  TDemoModel1 m1(&angles);
  TDemoModel2 m2(&angles);
  TDemoModel3 m3(&ratios);
  m1.Assign(panel), m2.Assign(panel), m3.Assign(panel);

  auto fy = Residuals(angles, [&](double g, double fz, double s) { return Lateral22(lat, g, fz, s); });
  EXPECT_EQ(LateralCostSum(angles, lat), fy.first);
  EXPECT_EQ(m1.ComputeCost(), fy.second);
  auto mz = Residuals(angles, [&](double g, double fz, double s) { return Aligning30(panel, 0.31, 4000, g, fz, s); });
  EXPECT_EQ(AligningCostSum(angles, lat, al, 0.31), mz.first);
  EXPECT_EQ(m2.ComputeCost(), mz.second);
  auto fx = Residuals(ratios, [&](double g, double fz, double s) { return Longitudinal19(lon, g, fz, s); });
  EXPECT_EQ(LongitudinalCostSum(ratios, lon), fx.first);
  EXPECT_EQ(m3.ComputeCost(), fx.second);

  // The fitter writes extended values; the model evaluates them rounded to double.
  m1.PDy1 = 1.1L;
  TLateralCoefficients rounded = lat;
  rounded.PDy1 = static_cast<double>(1.1L);
  EXPECT_EQ(m1.ComputeCost(), Residuals(angles, [&](double g, double fz, double s) { return Lateral22(rounded, g, fz, s); }).second);
}

// The aligning cost with the lateral part of each point kept between calls
// gives the plain cost's bits, its errors, and LastCost; it refills when the
// lateral coefficients change and steps aside when they raise a fault.
TEST(AligningLateralCache, SameSumsAndErrorsAsThePlainPass) {
  const auto panel = Panel();
  const TTireDataSet angles = Data(false);
  TLateralCoefficients lat = ReadLateralCoefficients(panel);
  TAligningCoefficients al = ReadAligningCoefficients(panel);
  TAligningLateralCache cache;
  const auto same = [&](const std::string& what) {
    SCOPED_TRACE(what);
    std::string plain_error, cached_error;
    double plain = 0, cached = 0;
    try {
      plain = AligningCostSum(angles, lat, al, 0.31);
    } catch (const std::exception& e) {
      plain_error = e.what();
    }
    try {
      cached = AligningCostSum(angles, lat, al, 0.31, cache);
    } catch (const std::exception& e) {
      cached_error = e.what();
    }
    EXPECT_EQ(plain_error, cached_error);
    EXPECT_EQ(std::memcmp(&plain, &cached, sizeof plain), 0) << plain << " " << cached;
  };
  same("first pass fills");
  for (double q : {0.5, 2.0, -1.0}) {  // aligning changes reuse the cache
    al.QBz1 *= q;
    al.QDz6 += q;
    same("aligning changed");
  }
  lat.PKy1 *= 1.3;  // a lateral change refills
  same("lateral changed");
  lat.PDy1 = 1e308;  // the lateral part overflows: the plain pass raises
  same("lateral overflow");
  EXPECT_FALSE(cache.usable);
  lat.PDy1 = 1.0;
  same("usable again");
  EXPECT_TRUE(cache.usable);
  al.QCz1 = 1e308;  // an aligning fault raises through the cache as well
  same("aligning overflow");

  // The model object, with the guarded load change, and LastCost.
  CurrentTireRadius = 0.31;
  TDemoModel2 model(&angles);
  model.Assign(panel);
  TAligningLateralCache model_cache;
  for (Extended qbz1 : {10.0L, 9.5L, 11.25L}) {
    model.QBz1 = qbz1;
    const Extended plain = model.ComputeCost();
    const double plain_last = LastCost;
    LastCost = 0;
    const Extended cached = model.ComputeCost(model_cache);
    EXPECT_EQ(plain, cached);
    EXPECT_EQ(plain_last, LastCost);
    EXPECT_EQ(model.EvaluateCost(model_cache), plain);
  }
}

TEST(DemoModels, FieldsByNameAreTheEvaluatedFields) {
  // Filling through Field() in the fits' free orders must give the model
  // that Assign() gives: a name mapped to the wrong field would not.
  const auto panel = Panel();
  const TTireDataSet angles = Data(false), ratios = Data(true);
  CurrentTireRadius = 0.31;
  TDemoModel1 m1(&angles), a1(&angles);
  TDemoModel2 m2(&angles), a2(&angles);
  TDemoModel3 m3(&ratios), a3(&ratios);
  for (auto name : LateralFreeOrder()) *m1.Field(name) = *m2.Field(name) = panel.Value(name);
  for (auto name : AligningFreeOrder()) *m2.Field(name) = panel.Value(name);
  for (auto name : LongitudinalFreeOrder()) *m3.Field(name) = panel.Value(name);
  a1.Assign(panel), a2.Assign(panel), a3.Assign(panel);
  EXPECT_EQ(m1.ComputeCost(), a1.ComputeCost());
  EXPECT_EQ(m2.ComputeCost(), a2.ComputeCost());
  EXPECT_EQ(m3.ComputeCost(), a3.ComputeCost());
  EXPECT_EQ(m1.Field("PCx1"), nullptr);
  EXPECT_EQ(m2.Field("R0"), nullptr);
}

TEST(MagicFormula, EmptyDataAndZeroLoads) {
  auto panel = Panel();
  panel.SetText("Fz0", "0");  // would divide by zero in the aligning model at any other load
  const auto lat = ReadLateralCoefficients(panel);
  const auto al = ReadAligningCoefficients(panel);
  const auto lon = ReadLongitudinalCoefficients(panel);
  TTireDataSet empty, zero_load;
  zero_load.Cases.push_back({1.5, {0.0}, {-2.0, 3.0}, {3.0, -4.0}});
  EXPECT_EQ(Lateral22(lat, 1.5, 0.0, 3.0), 0.0);
  EXPECT_EQ(Aligning30(panel, 0.3, 0.0, 1.5, 0.0, 3.0), 0.0);
  EXPECT_EQ(Longitudinal19(lon, 1.5, 0.0, 3.0), 0.0);
  for (const TTireDataSet* data : {&empty, &zero_load}) {
    const double want = data == &empty ? 0.0 : 25.0;
    EXPECT_EQ(LateralCostSum(*data, lat), want);
    EXPECT_EQ(AligningCostSum(*data, lat, al, 0.3), want);
    EXPECT_EQ(LongitudinalCostSum(*data, lon), want);
    TDemoModel1 m1(data);
    TDemoModel2 m2(data);
    TDemoModel3 m3(data);
    m1.Assign(panel), m2.Assign(panel), m3.Assign(panel);
    EXPECT_EQ(m1.ComputeCost(), want);
    EXPECT_EQ(m2.ComputeCost(), want);
    EXPECT_EQ(m3.ComputeCost(), want);
  }
  EXPECT_EQ(TDemoModel1().ComputeCost(), 0.0L);  // no data set at all
  zero_load.Cases[0].Values.pop_back();
  EXPECT_THROW(LateralCostSum(zero_load, lat), std::invalid_argument);
}

TEST(LateralForce, GuardsAndClamp) {
  TLateralCoefficients c = ReadLateralCoefficients(Panel());
  // Fz0 = 0: dfz = (Fz - 1e-12)/1e-12, Kya = 0, Fy = SVy.
  TLateralCoefficients no_load = c;
  no_load.Fz0 = 0;
  const double dfz = (3000 - 1e-12) / 1e-12, gamma = (2.0 * M_PI) / 180.0;
  EXPECT_DOUBLE_EQ(Lateral22(no_load, 2.0, 3000, 5.0),
                   3000 * (c.PVy1 + c.PVy2 * dfz + (c.PVy3 + c.PVy4 * dfz) * gamma));
  // Cy = 0 or Dy = 0: By = Kya/1e-12 is finite and Fy = SVy (0 here).
  c.PVy1 = c.PVy2 = c.PVy3 = c.PVy4 = 0;
  TLateralCoefficients no_shape = c, no_peak = c, tiny = c;
  no_shape.PCy1 = 0;
  no_peak.PDy1 = no_peak.PDy2 = 0;
  EXPECT_EQ(Lateral22(no_shape, 1.0, 5000, 4.0), 0.0);
  EXPECT_EQ(Lateral22(no_peak, 1.0, 5000, 4.0), 0.0);
  // Cy*Dy = -4.4e-13: By = Kya/(+1e-12) > 0, so the tiny Fy takes the sign of Cy.
  tiny.PCy1 = -1e-16;
  EXPECT_LT(Lateral22(tiny, 0.0, 4000, 4.0), 0.0);
  EXPECT_NEAR(Lateral22(tiny, 0.0, 4000, 4.0), static_cast<double>(RefLateral(tiny, 0.0, 4000, 4.0)), 1e-20);
  // Ey above 1 is used as 1; a large negative Ey is used as it is.
  c.PEy2 = c.PEy3 = c.PEy4 = 0;
  TLateralCoefficients one = c, three = c, low = c;
  one.PEy1 = 1, three.PEy1 = 3, low.PEy1 = -30;
  EXPECT_EQ(Lateral22(three, 1.0, 5000, 9.0), Lateral22(one, 1.0, 5000, 9.0));
  ExpectClose(Lateral22(low, 1.0, 5000, 9.0), RefLateral(low, 1.0, 5000, 9.0));
}

TEST(AligningMoment, RatedLoadRoles) {
  // The panel's Fz0 drives dfz and PKy1*Fz0, the argument the quotient and R0/Fz0.
  auto panel = Panel();
  panel.SetText("Fz0", "3500");
  for (double slip : {-7.0, 3.0})
    ExpectClose(Aligning30(panel, 0.31, 4200, 2.0, 5000, slip),
                RefAligning(ReadLateralCoefficients(panel), ReadAligningCoefficients(panel), 0.31, 4200, 2.0, 5000, slip));

  // Fz0 = 0 divides by zero in all three forms, the model's guarded dfz notwithstanding.
  panel.SetText("Fz0", "0");
  const TTireDataSet data = Data(false);
  const auto lat = ReadLateralCoefficients(panel);
  CurrentTireRadius = 0.31;
  TDemoModel2 model(&data);
  model.Assign(panel);
  LastCost = 7;
  EXPECT_EQ(MessageOf([&] { Aligning30(panel, 0.31, 0.0, 0.0, 4000, 3.0); }), kZeroDivide);
  EXPECT_EQ(MessageOf([&] { AligningCostSum(data, lat, ReadAligningCoefficients(panel), 0.31); }), kZeroDivide);
  EXPECT_EQ(MessageOf([&] { model.ComputeCost(); }), kZeroDivide);
  EXPECT_EQ(LastCost, 7.0);

  // Fz0 = 1e-13 divides without fault; only the model object replaces it by
  // 1e-12 in dfz.  With no trail and no lateral shifts,
  // Mz = Fz*(QDz6 + QDz7*dfz)*R0*cos(atan(QBz9*alpha))*cos(alpha).
  for (auto name : {"PHy1", "PHy2", "PHy3", "PVy1", "PVy2", "PVy3", "PVy4"}) panel.SetText(name, "0");
  for (auto name : AligningFreeOrder()) panel.SetText(name, "0");
  panel.SetText("Fz0", "1e-13"), panel.SetText("QDz6", "0.02"), panel.SetText("QDz7", "0.001"), panel.SetText("QBz9", "5");
  const LD a = Rad(6);
  const auto mz = [&](LD dfz) { return static_cast<double>(4000 * (0.02L + 0.001L * dfz) * 0.3L / std::sqrt(1 + 25 * a * a) * std::cos(a)); };
  const double guarded = mz((4000 - 1e-12L) / 1e-12L), unguarded = mz((4000 - 1e-13L) / 1e-13L);
  TTireDataSet point;
  point.Cases.push_back({0.0, {4000.0}, {6.0}, {0.0}});
  model.SetDataSet(&point);
  model.Assign(panel);
  CurrentTireRadius = 0.3;
  EXPECT_NEAR(Aligning30(panel, 0.3, 1e-13, 0.0, 4000, 6.0), unguarded, 1e-12 * unguarded);
  EXPECT_NEAR(AligningCostSum(point, ReadLateralCoefficients(panel), ReadAligningCoefficients(panel), 0.3),
              unguarded * unguarded, 1e-11 * unguarded * unguarded);
  EXPECT_NEAR(static_cast<double>(model.ComputeCost()), guarded * guarded, 1e-11 * guarded * guarded);

  panel.SetText("PKy2", "1,7x");
  EXPECT_EQ(MessageOf([&] { Aligning30(panel, 0.3, 4000, 0.0, 4000, 3.0); }),
            "'1,7x' n'est pas une valeur en virgule flottante correcte");
}

TEST(LongitudinalForce, StiffnessSubstitutesAndClamp) {
  // Dx = Fz, Ex = 0, no shifts, Kx = 2*Fz*growth: Fx = Fz*sin(1.5*atan(Kx/1.5/Fz*kappa)).
  const auto simple = [](double fz0, double pkx3) {
    return TLongitudinalCoefficients{.Fz0 = fz0, .PCx1 = 1.5, .PDx1 = 1, .PKx1 = 2, .PKx3 = pkx3};
  };
  const auto fx = [](double fz, LD growth, double kappa) {
    return static_cast<double>(fz * std::sin(1.5L * std::atan(2.0L * fz * growth / 1.5L / fz * kappa)));
  };
  // Fz0 = 0: dfz is about 3e15, so any positive PKx3 reaches the e^4 substitute; PKx3 = 0 gives 1.
  EXPECT_NEAR(LongitudinalForce(simple(0, 0.001), 0, 3000, 0.004), fx(3000, std::exp(4.0L), 0.004), 1e-9);
  EXPECT_NEAR(LongitudinalForce(simple(0, 0), 0, 3000, 0.004), fx(3000, 1, 0.004), 1e-9);

  // Fz0 = 1000, Fz = 2000: dfz = 1, so the exponent is PKx3.  10000 uses e^4;
  // just below, the exponential overflows in every form.
  TTireDataSet data;
  data.Cases.push_back({0.0, {2000.0}, {0.01}, {100.0}});
  const double at_limit = LongitudinalForce(simple(1000, 10000), 0, 2000, 0.01);
  EXPECT_NEAR(at_limit, fx(2000, std::exp(4.0L), 0.01), 1e-9);
  EXPECT_EQ(LongitudinalCostSum(data, simple(1000, 10000)), (100.0 - at_limit) * (100.0 - at_limit));
  const auto below = simple(1000, std::nextafter(10000.0, 0.0));
  TDemoModel3 model(&data);
  for (auto name : LongitudinalFreeOrder()) *model.Field(name) = below.*TLongitudinalCoefficients::Member(name);
  EXPECT_EQ(MessageOf([&] { LongitudinalForce(below, 0, 2000, 0.01); }), kOverflow);
  EXPECT_EQ(MessageOf([&] { LongitudinalCostSum(data, below); }), kOverflow);
  EXPECT_EQ(MessageOf([&] { model.ComputeCost(); }), kOverflow);

  // Cx = 0 or Dx = 0: Bx = 1e12 and Fx = SVx.  Ex above 1 is used as 1.
  TLongitudinalCoefficients c = ReadLongitudinalCoefficients(Panel());
  const double svx = 5000 * (c.PVx1 + c.PVx2 * ((5000 - 4000) / 4000.0));
  TLongitudinalCoefficients no_shape = c, no_peak = c, one = c, four = c;
  no_shape.PCx1 = 0;
  no_peak.PDx1 = no_peak.PDx2 = 0;
  EXPECT_EQ(Longitudinal19(no_shape, 1.0, 5000, 0.1), svx);
  EXPECT_EQ(Longitudinal19(no_peak, 1.0, 5000, 0.1), svx);
  one.PEx2 = one.PEx3 = one.PEx4 = four.PEx2 = four.PEx3 = four.PEx4 = 0;
  one.PEx1 = 1, four.PEx1 = 4;
  EXPECT_EQ(Longitudinal19(four, 1.0, 5000, 0.15), Longitudinal19(one, 1.0, 5000, 0.15));
}

TEST(LastCost, WrittenByLateralSumAndModelCostsOnly) {
  const auto panel = Panel();
  const TTireDataSet angles = Data(false), ratios = Data(true);
  const auto lat = ReadLateralCoefficients(panel);
  const auto lon = ReadLongitudinalCoefficients(panel);
  LastCost = -1;
  Lateral22(lat, 1, 4000, 3);
  Aligning30(panel, 0.31, 4000, 1, 4000, 3);
  Longitudinal19(lon, 1, 4000, 0.1);
  AligningCostSum(angles, lat, ReadAligningCoefficients(panel), 0.31);
  LongitudinalCostSum(ratios, lon);
  EXPECT_EQ(LastCost, -1.0);
  const double lateral = LateralCostSum(angles, lat);
  EXPECT_EQ(LastCost, lateral);

  CurrentTireRadius = 0.31;
  TDemoModel1 m1(&angles);
  TDemoModel2 m2(&angles);
  TDemoModel3 m3(&ratios);
  m1.Assign(panel), m2.Assign(panel), m3.Assign(panel);
  for (auto cost : std::vector<std::function<Extended()>>{[&] { return m1.ComputeCost(); },
                                                          [&] { return m2.ComputeCost(); },
                                                          [&] { return m3.ComputeCost(); }}) {
    LastCost = -1;
    const Extended sum = cost();
    EXPECT_EQ(LastCost, static_cast<double>(sum));
  }
}

}  // namespace
}  // namespace morvex
