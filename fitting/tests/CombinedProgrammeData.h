// Measured combined-slip programmes made from the published tires of
// testing/data/combined-slip: slip ratio swept at held slip angles, at
// several loads and cambers, with what a flat-track rig adds to the truth
// (the load wobbling and drifting about its set-point, noise on every
// channel, the sweep's ends not quite at its set-points), and the checks of
// a fitted tire against the true one.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tiredata/CombinedData.h"
#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"
#include "tiremodel/CombinedSlip.h"
#include "tiremodel/tests/CombinedTires.h"

namespace morvex::test {

struct ProgrammeShape {
  std::vector<double> cambers = {0.0, 3.0};
  std::vector<double> load_shares = {0.5, 1.0, 1.5};
  std::vector<double> slip_angles = {-6.0, -3.0, -1.0, 0.0, 1.0, 3.0, 6.0};
  double kappa_max = 0.25;
  int kappa_steps = 41;
  std::vector<double> speeds = {16.7};
  unsigned seed = 1;
  double force_noise = 0.006;  // share of the load
  double moment_noise = 0.4;   // N m per kN of load
  bool moments = true;         // record Mx and My
};

inline std::string Text(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// The tire's pure-slip coefficients, Fz0 and R0 as a coefficient set.
inline TMemoryCoefficientSet PureSet(const Tire& t) {
  TMemoryCoefficientSet set;
#define MORVEX_PUT_LAT(name) set.SetText(#name, Text(t.lat.name));
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_PUT_LAT)
#undef MORVEX_PUT_LAT
#define MORVEX_PUT_ALI(name) set.SetText(#name, Text(t.ali.name));
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_PUT_ALI)
#undef MORVEX_PUT_ALI
#define MORVEX_PUT_LON(name) set.SetText(#name, Text(t.lon.name));
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_PUT_LON)
#undef MORVEX_PUT_LON
  set.SetText("R0", Text(t.r0));
  return set;
}

inline TCombinedPoint TruePoint(const Tire& t, double camber, double fz, double alpha, double kappa, double vx) {
  return CombinedPointAt(t.lat, t.ali, t.lon, t.comb, t.r0, camber, fz, alpha, kappa, vx, t.longvl);
}

// Slip ratio swept at each held slip angle, camber, load and speed.
inline TCombinedDataSet CombinedProgramme(const Tire& t, const ProgrammeShape& shape) {
  std::mt19937 rng(shape.seed);
  std::normal_distribution<double> unit(0.0, 1.0);
  TCombinedDataSet data;
  double phase = 0.0;
  for (double speed : shape.speeds)
    for (double camber : shape.cambers)
      for (double share : shape.load_shares)
        for (double alpha : shape.slip_angles) {
          const double set_load = share * t.lat.Fz0;
          const double drift = 0.01 * unit(rng);
          const double alpha_held = alpha + 0.05 * unit(rng);
          for (int i = 0; i < shape.kappa_steps; ++i) {
            const double kappa =
                -shape.kappa_max + 2.0 * shape.kappa_max * i / (shape.kappa_steps - 1) + 0.002 * unit(rng);
            phase += 0.7;
            const double load = set_load * (1.0 + 0.02 * std::sin(phase) + drift * i / shape.kappa_steps);
            const TCombinedPoint p = TruePoint(t, camber, load, alpha_held, kappa, speed);
            TCombinedSample s;
            s.camber = camber;
            s.load = load;
            s.slip_angle = alpha_held;
            s.slip_ratio = kappa;
            const double fn = shape.force_noise * load, mn = shape.moment_noise * load / 1000.0;
            s.fx = p.Fx + fn * unit(rng);
            s.fy = p.Fy + fn * unit(rng);
            s.mz = p.Mz + mn * unit(rng);
            if (shape.moments) {
              s.mx = p.Mx + mn * unit(rng);
              s.my = p.My + 0.2 * mn * unit(rng);
            }
            s.speed = speed;
            data.samples.push_back(s);
          }
        }
  return data;
}

// The largest difference of the fitted model from the true one over the
// measured range (cambers, set-point loads, slip angles -6..6, the swept
// slip ratios), as a share of the true tire's peak over that range, for
// Fx, Fy and Mz under combined slip.
struct CombinedAccuracy {
  double fx = 0, fy = 0, mz = 0;
};

inline CombinedAccuracy CompareWithTruth(const Tire& truth, const TLateralCoefficients& lat,
                                         const TAligningCoefficients& ali, const TLongitudinalCoefficients& lon,
                                         const TCombinedCoefficients& comb, double r0, const ProgrammeShape& shape) {
  const double a_min = *std::min_element(shape.slip_angles.begin(), shape.slip_angles.end());
  const double a_max = *std::max_element(shape.slip_angles.begin(), shape.slip_angles.end());
  double peak[3] = {0, 0, 0}, diff[3] = {0, 0, 0};
  for (double camber : shape.cambers)
    for (double share : shape.load_shares) {
      const double fz = share * truth.lat.Fz0;
      for (double alpha = a_min; alpha <= a_max + 1e-9; alpha += 0.5)
        for (double kappa = -0.95 * shape.kappa_max; kappa <= 0.95 * shape.kappa_max + 1e-9;
             kappa += shape.kappa_max / 20.0) {
          const TCombinedPoint a = TruePoint(truth, camber, fz, alpha, kappa, 16.7);
          const TCombinedPoint b =
              CombinedPointAt(lat, ali, lon, comb, r0, camber, fz, alpha, kappa, 16.7, truth.longvl);
          const double ta[3] = {a.Fx, a.Fy, a.Mz}, tb[3] = {b.Fx, b.Fy, b.Mz};
          for (int k = 0; k < 3; ++k) {
            peak[k] = std::max(peak[k], std::fabs(ta[k]));
            diff[k] = std::max(diff[k], std::fabs(tb[k] - ta[k]));
          }
        }
    }
  return {diff[0] / peak[0], diff[1] / peak[1], diff[2] / peak[2]};
}

}  // namespace morvex::test

namespace morvex::test {

// The pure-slip table of one quantity of the true tire (0 Fx against slip
// ratio at zero slip angle, 1 Fy and 2 Mz against slip angle at zero slip
// ratio), one case per camber, with noise.  The slip angle runs to 24 deg:
// under combined slip the aligning moment takes the pure-slip trail at the
// equivalent slip angle sqrt(alpha^2 + (Kx/Ky*kappa)^2), some 20 deg at the
// programme's largest slip ratios, and a cornering sweep that stops short
// of it leaves the trail there extrapolated.
inline TTireDataSet PureProgramme(const Tire& t, int quantity, const ProgrammeShape& shape, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> unit(0.0, 1.0);
  TTireDataSet data;
  for (double camber : shape.cambers) {
    TLoadCase c;
    c.Camber = camber;
    for (double share : shape.load_shares) c.Loads.push_back(share * t.lat.Fz0);
    for (int i = -15; i <= 15; ++i) c.Slips.push_back(quantity == 0 ? 0.02 * i : 1.6 * i);
    for (double slip : c.Slips)
      for (double fz : c.Loads) {
        const TCombinedPoint p =
            quantity == 0 ? TruePoint(t, camber, fz, 0.0, slip, 16.7) : TruePoint(t, camber, fz, slip, 0.0, 16.7);
        const double value = quantity == 0 ? p.Fx : quantity == 1 ? p.Fy : p.Mz;
        const double noise = quantity == 2 ? shape.moment_noise * fz / 1000.0 : shape.force_noise * fz;
        c.Values.push_back(value + noise * unit(rng));
      }
    data.Cases.push_back(std::move(c));
  }
  return data;
}

}  // namespace morvex::test
