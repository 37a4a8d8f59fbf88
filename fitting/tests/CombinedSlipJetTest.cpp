// The combined-slip kernels with automatic differentiation: the values are
// those of the double evaluation, and the derivatives with respect to the
// combined coefficients (pure-slip ones fixed in double, as in a staged fit)
// and to pure-slip coefficients (all in one scalar type) are those of central
// differences of the double model.
#include <gtest/gtest.h>

#include <ceres/jet.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "tiremodel/CombinedSlip.h"
#include "tiremodel/CombinedSlipKernels.h"
#include "tiremodel/tests/CombinedTires.h"

namespace morvex {
namespace {

using test::LoadTire;
using test::Tire;

constexpr int kCombinedCount = 31;
using CombinedJet = ceres::Jet<double, kCombinedCount>;

struct Point { double camber, share, alpha, kappa; };
const Point kPoints[] = {{0.0, 1.0, 4.0, -0.08}, {-3.0, 0.5, -9.0, 0.2}, {2.0, 1.4, 1.5, 0.03},
                         {1.0, 0.8, -2.0, -0.3}};

// The five outputs of one double evaluation.
std::array<double, 5> Outputs(const TCombinedPoint& p) { return {p.Fx, p.Fy, p.Mz, p.Mx, p.My}; }

TEST(CombinedSlipJet, CombinedCoefficientDerivativesMatchCentralDifferences) {
  for (const char* stem : {"military-37x12.5R16.5", "car-245-40R18-opentire"}) {
    const Tire t = LoadTire(stem);
    mf::CombinedCoefficientsOf<CombinedJet> jets;
    int index = 0;
#define MORVEX_SEED(name) jets.name = CombinedJet(t.comb.name, index++);
    MORVEX_COMBINED_COEFFICIENTS(MORVEX_SEED)
#undef MORVEX_SEED
    ASSERT_EQ(index, kCombinedCount);
    for (const Point& pt : kPoints) {
      const double fz = pt.share * t.lat.Fz0;
      const double vx = 20.0;
      const mf::CombinedAtLoadOf<TLateralCoefficients, TAligningCoefficients, TLongitudinalCoefficients,
                                 mf::CombinedCoefficientsOf<CombinedJet>>
          at_load(t.lat, t.ali, t.lon, jets, t.r0, pt.camber, fz);
      const auto p = at_load(pt.alpha, pt.kappa);
      const CombinedJet my = at_load.RollingResistance(p.Fx, vx, t.longvl);
      const CombinedJet got[5] = {p.Fx, p.Fy, p.Mz, p.Mx, my};
      const auto plain =
          Outputs(CombinedPointAt(t.lat, t.ali, t.lon, t.comb, t.r0, pt.camber, fz, pt.alpha, pt.kappa, vx, t.longvl));
      // Same equations; the automatic-differentiation number divides by
      // multiplying with the reciprocal, so the last bits may differ.
      for (int o = 0; o < 5; ++o)
        EXPECT_NEAR(got[o].a, plain[o], 1e-14 * (std::fabs(plain[o]) + 1.0)) << stem << " output " << o;
      int k = 0;
#define MORVEX_CHECK(name)                                                                          \
  {                                                                                                 \
    const double h = 1e-5 * std::max(std::fabs(t.comb.name), 1e-2);                                 \
    TCombinedCoefficients up = t.comb, down = t.comb;                                               \
    up.name += h;                                                                                   \
    down.name -= h;                                                                                 \
    const auto fu = Outputs(CombinedPointAt(t.lat, t.ali, t.lon, up, t.r0, pt.camber, fz, pt.alpha, \
                                            pt.kappa, vx, t.longvl));                               \
    const auto fd = Outputs(CombinedPointAt(t.lat, t.ali, t.lon, down, t.r0, pt.camber, fz,         \
                                            pt.alpha, pt.kappa, vx, t.longvl));                     \
    for (int o = 0; o < 5; ++o) {                                                                   \
      const double diff = (fu[o] - fd[o]) / (2.0 * h);                                              \
      /* truncation error of the difference, and its rounding error */                             \
      const double tol = 1e-5 * std::fabs(diff) + 64 * 2.2e-16 * (std::fabs(fu[o]) + 1.0) / h;       \
      EXPECT_NEAR(got[o].v[k], diff, tol) << stem << " d/d" #name " of output " << o;               \
    }                                                                                               \
    ++k;                                                                                            \
  }
      MORVEX_COMBINED_COEFFICIENTS(MORVEX_CHECK)
#undef MORVEX_CHECK
    }
  }
}

// All coefficients in one scalar type: derivatives with respect to pure-slip
// coefficients reach the combined outputs through the weights, the
// slip-ratio induced force and the Kx/Ky ratio of the equivalent slip angles.
TEST(CombinedSlipJet, PureSlipCoefficientDerivativesReachTheCombinedOutputs) {
  using J = ceres::Jet<double, 3>;
  const Tire t = LoadTire("car-185-80R14");
  mf::LateralCoefficientsOf<J> lat;
  mf::AligningCoefficientsOf<J> ali;
  mf::LongitudinalCoefficientsOf<J> lon;
  mf::CombinedCoefficientsOf<J> comb;
#define MORVEX_LAT(name) lat.name = J(t.lat.name);
#define MORVEX_ALI(name) ali.name = J(t.ali.name);
#define MORVEX_LON(name) lon.name = J(t.lon.name);
#define MORVEX_COMB(name) comb.name = J(t.comb.name);
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_LAT)
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_ALI)
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_LON)
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_COMB)
#undef MORVEX_LAT
#undef MORVEX_ALI
#undef MORVEX_LON
#undef MORVEX_COMB
  lon.PKx1 = J(t.lon.PKx1, 0);
  lat.PKy1 = J(t.lat.PKy1, 1);
  lat.PDy1 = J(t.lat.PDy1, 2);
  for (const Point& pt : kPoints) {
    const double fz = pt.share * t.lat.Fz0;
    const mf::CombinedAtLoadOf<decltype(lat), decltype(ali), decltype(lon), decltype(comb)> at_load(
        lat, ali, lon, comb, t.r0, pt.camber, fz);
    const auto p = at_load(pt.alpha, pt.kappa);
    const J got[3] = {p.Fx, p.Fy, p.Mz};
    auto eval = [&](double dpkx1, double dpky1, double dpdy1) {
      Tire u = t;
      u.lon.PKx1 += dpkx1;
      u.lat.PKy1 += dpky1;
      u.lat.PDy1 += dpdy1;
      const TCombinedPoint q =
          CombinedPointAt(u.lat, u.ali, u.lon, u.comb, u.r0, pt.camber, fz, pt.alpha, pt.kappa, 20.0, u.longvl);
      return std::array<double, 3>{q.Fx, q.Fy, q.Mz};
    };
    const auto plain = eval(0, 0, 0);
    for (int o = 0; o < 3; ++o) EXPECT_NEAR(got[o].a, plain[o], 1e-14 * (std::fabs(plain[o]) + 1.0));
    const double h[3] = {1e-6 * t.lon.PKx1, 1e-6 * std::fabs(t.lat.PKy1), 1e-6 * t.lat.PDy1};
    for (int k = 0; k < 3; ++k) {
      const auto up = eval(k == 0 ? h[0] : 0, k == 1 ? h[1] : 0, k == 2 ? h[2] : 0);
      const auto down = eval(k == 0 ? -h[0] : 0, k == 1 ? -h[1] : 0, k == 2 ? -h[2] : 0);
      for (int o = 0; o < 3; ++o) {
        const double diff = (up[o] - down[o]) / (2.0 * h[k]);
        const double tol = 1e-5 * std::fabs(diff) + 64 * 2.2e-16 * (std::fabs(up[o]) + 1.0) / h[k];
        EXPECT_NEAR(got[o].v[k], diff, tol) << "coefficient " << k << " output " << o;
      }
    }
    // Mz depends on Kx through the equivalent slip angles away from kappa = 0.
    EXPECT_NE(got[2].v[0], 0.0);
  }
}

}  // namespace
}  // namespace morvex
