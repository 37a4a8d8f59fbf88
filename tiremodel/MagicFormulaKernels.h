// The one implementation of the three Magic Formula channels, shared by the
// one-point functions, the cost sums and the model objects (internal to
// tiremodel/; other folders use MagicFormula.h and DemoModels.h).
//
// Each channel is split where the work splits: everything that depends only
// on the load case and the load (the load change, shifts, peak, stiffness
// and the slip-independent parts of the curvature factors) is computed by
// a "load terms" function, once per load in a cost pass; the rest is the
// per-point function of the slip.  A one-point evaluation calls both, so the
// cost sums and the one-point functions execute the very same operations on
// the same values and agree bit for bit.  Nothing that depends on the slip
// (the sign in the curvature factors, above all) is hoisted.
//
// All arithmetic is double precision, evaluated left to right as the model
// equations are written; the build disables fused multiply-add contraction
// and fast-math, so the compiler keeps that order.
#pragma once

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "tiredata/TireDataSet.h"
#include "tiremodel/MagicFormula.h"

namespace morvex::mf {

// Divisor substitute of the guards, and their threshold: |x| <= kTiny.
constexpr double kTiny = 1e-12;
// The longitudinal stiffness factor when Cx or Dx is within kTiny of zero.
constexpr double kStiffCap = 1e12;
// e^4, the substitute of e^(PKx3*dfz) from an exponent of kExpLimit upwards.
constexpr double kExp4 = 54.598150033144236;
constexpr double kExpLimit = 10000.0;
// 2/pi of the trail curvature factor.
constexpr double kTwoOverPi = 0.6366197723675813431;

inline double DegToRad(double degrees) { return (degrees * M_PI) / 180.0; }

// -1, 0 or +1.
inline double Sgn(double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }

// The curvature factors are clamped above at 1 and never below.
inline double ClampCurvature(double e) { return e > 1.0 ? 1.0 : e; }

// dfz = (Fz - Fz0)/Fz0; with `guarded`, (Fz - 1e-12)/1e-12 when |Fz0| <= 1e-12.
// The guarded branch never divides by Fz0, so a zero rated load raises nothing.
inline double LoadChange(double fz, double fz0, bool guarded) {
  if (guarded && std::fabs(fz0) <= kTiny) return (fz - kTiny) / kTiny;
  return (fz - fz0) / fz0;
}

// ------------------------------------------------------------------ lateral

struct LateralLoadTerms {
  double dfz;
  double SHy, SVy, Dy, Cy;
  double e_base;  // PEy1 + PEy2*dfz
  double e_asym;  // PEy3 + PEy4*gamma, multiplied by sgn(ay) per point
  double Kya, By;
};

// `dfz` from LoadChange; `fz0_quotient` is the rated load of Fz/(PKy2*Fz0)
// (c.Fz0 serves PKy1*Fz0).  `guarded` applies the 1e-12 guards of Kya and By.
inline LateralLoadTerms LateralLoad(const TLateralCoefficients& c, double gamma, double fz,
                                    double dfz, double fz0_quotient, bool guarded) {
  LateralLoadTerms t;
  t.dfz = dfz;
  t.SHy = c.PHy1 + c.PHy2 * dfz + c.PHy3 * gamma;
  t.SVy = fz * (c.PVy1 + c.PVy2 * dfz + (c.PVy3 + c.PVy4 * dfz) * gamma);
  t.Dy = fz * (c.PDy1 + c.PDy2 * dfz) * (1.0 - c.PDy3 * (gamma * gamma));
  t.Cy = c.PCy1;
  t.e_base = c.PEy1 + c.PEy2 * dfz;
  t.e_asym = c.PEy3 + c.PEy4 * gamma;
  const double k_load = c.PKy2 * fz0_quotient;
  const double quotient = (guarded && std::fabs(k_load) <= kTiny) ? fz / kTiny : fz / k_load;
  t.Kya = c.PKy1 * c.Fz0 * std::sin(2.0 * std::atan(quotient)) * (1.0 - c.PKy3 * std::fabs(gamma));
  const double cd = t.Cy * t.Dy;
  t.By = (guarded && std::fabs(cd) <= kTiny) ? t.Kya / kTiny : t.Kya / cd;
  return t;
}

// Fy at slip angle `alpha` (radians), including the vertical shift.
inline double LateralPoint(const LateralLoadTerms& t, double alpha) {
  const double alpha_y = alpha + t.SHy;
  const double ey = ClampCurvature(t.e_base * (1.0 - t.e_asym * Sgn(alpha_y)));
  const double b_alpha = t.By * alpha_y;
  return t.Dy * std::sin(t.Cy * std::atan(b_alpha - ey * (b_alpha - std::atan(b_alpha)))) + t.SVy;
}

// The lateral channel at one load: the terms, then any number of points.
struct LateralAtLoad {
  LateralLoadTerms t;
  LateralAtLoad(const TLateralCoefficients& c, double camber, double fz) {
    const double gamma = DegToRad(camber);
    t = LateralLoad(c, gamma, fz, LoadChange(fz, c.Fz0, true), c.Fz0, true);
  }
  double operator()(double slip_angle) const { return LateralPoint(t, DegToRad(slip_angle)); }
};

// ----------------------------------------------------------------- aligning

struct AligningLoadTerms {
  LateralLoadTerms lat;
  double SHt, SHf;
  double Bt, Ct, BtCt, Dt;
  double e_base;   // QEz1 + QEz2*dfz + QEz3*dfz^2
  double e_slope;  // (QEz4 + QEz5*gamma)*(2/pi), multiplied by atan(Bt*Ct*at) per point
  double Br, Dr;
};

// `lateral.Fz0` is the rated load of dfz and PKy1*Fz0; `fz0_ratio` that of
// Fz/(PKy2*Fz0) and R0/Fz0.  `guard_dfz` guards the load change only; the
// lateral guards of Kya and By never apply here.
inline AligningLoadTerms AligningLoad(const TLateralCoefficients& lateral,
                                      const TAligningCoefficients& c, double r0,
                                      double fz0_ratio, double gamma, double fz, bool guard_dfz) {
  AligningLoadTerms t;
  const double dfz = LoadChange(fz, lateral.Fz0, guard_dfz);
  t.lat = LateralLoad(lateral, gamma, fz, dfz, fz0_ratio, false);
  t.SHt = c.QHz1 + c.QHz2 * dfz + (c.QHz3 + c.QHz4 * dfz) * gamma;
  t.SHf = t.lat.SHy + t.lat.SVy / t.lat.Kya;
  t.Bt = (c.QBz1 + c.QBz2 * dfz + c.QBz3 * (dfz * dfz)) *
         (1.0 + c.QBz4 * gamma + c.QBz5 * std::fabs(gamma));
  t.Ct = c.QCz1;
  t.BtCt = t.Bt * t.Ct;
  t.Dt = fz * (c.QDz1 + c.QDz2 * dfz) * (1.0 + c.QDz3 * gamma + c.QDz4 * (gamma * gamma)) * r0 /
         fz0_ratio;
  t.e_base = c.QEz1 + c.QEz2 * dfz + c.QEz3 * (dfz * dfz);
  t.e_slope = (c.QEz4 + c.QEz5 * gamma) * kTwoOverPi;
  t.Br = c.QBz9 + c.QBz10 * t.lat.By * t.lat.Cy;
  t.Dr = fz * (c.QDz6 + c.QDz7 * dfz + (c.QDz8 + c.QDz9 * dfz) * gamma) * r0;
  return t;
}

// Mz at slip angle `alpha` (radians).
inline double AligningPoint(const AligningLoadTerms& t, double alpha) {
  const double fy0 = LateralPoint(t.lat, alpha);
  const double alpha_t = alpha + t.SHt;
  const double alpha_r = alpha + t.SHf;
  const double et = ClampCurvature(t.e_base * (1.0 + t.e_slope * std::atan(t.BtCt * alpha_t)));
  const double b_alpha = t.Bt * alpha_t;
  // cos(alpha) of the unshifted slip angle multiplies both terms.
  const double cos_alpha = std::cos(alpha);
  const double trail =
      t.Dt * std::cos(t.Ct * std::atan(b_alpha - et * (b_alpha - std::atan(b_alpha)))) * cos_alpha;
  const double residual = t.Dr * std::cos(std::atan(t.Br * alpha_r)) * cos_alpha;
  return -trail * fy0 + residual;
}

struct AligningAtLoad {
  AligningLoadTerms t;
  AligningAtLoad(const TLateralCoefficients& lateral, const TAligningCoefficients& c, double r0,
                 double fz0_ratio, bool guard_dfz, double camber, double fz) {
    const double gamma = DegToRad(camber);
    t = AligningLoad(lateral, c, r0, fz0_ratio, gamma, fz, guard_dfz);
  }
  double operator()(double slip_angle) const { return AligningPoint(t, DegToRad(slip_angle)); }
};

// ------------------------------------------------------------- longitudinal

struct LongitudinalLoadTerms {
  double SHx, SVx, Cx, Dx;
  double e_base;  // PEx1 + PEx2*dfz + PEx3*dfz^2
  double PEx4;
  double Bx;
};

inline LongitudinalLoadTerms LongitudinalLoad(const TLongitudinalCoefficients& c, double gamma,
                                              double fz) {
  LongitudinalLoadTerms t;
  const double dfz = LoadChange(fz, c.Fz0, true);
  t.SHx = c.PHx1 + c.PHx2 * dfz;
  t.SVx = fz * (c.PVx1 + c.PVx2 * dfz);
  t.Cx = c.PCx1;
  t.Dx = fz * (c.PDx1 + c.PDx2 * dfz) * (1.0 - c.PDx3 * (gamma * gamma));
  t.e_base = c.PEx1 + c.PEx2 * dfz + c.PEx3 * (dfz * dfz);
  t.PEx4 = c.PEx4;
  // The exponent is tested before any exponential is taken: from 10000 up
  // the fixed e^4 stands in; below it the exponential is used as it is and
  // may overflow.
  const double exponent = c.PKx3 * dfz;
  const double growth = exponent >= kExpLimit ? kExp4 : std::exp(exponent);
  const double kx = fz * (c.PKx1 + c.PKx2 * dfz) * growth;
  t.Bx = (std::fabs(t.Cx) <= kTiny || std::fabs(t.Dx) <= kTiny) ? kStiffCap : kx / t.Cx / t.Dx;
  return t;
}

// Fx at longitudinal slip `kappa` (unconverted).
inline double LongitudinalPoint(const LongitudinalLoadTerms& t, double kappa) {
  const double kappa_x = kappa + t.SHx;
  const double ex = ClampCurvature(t.e_base * (1.0 - t.PEx4 * Sgn(kappa_x)));
  const double b_kappa = t.Bx * kappa_x;
  return t.Dx * std::sin(t.Cx * std::atan(b_kappa - ex * (b_kappa - std::atan(b_kappa)))) + t.SVx;
}

struct LongitudinalAtLoad {
  LongitudinalLoadTerms t;
  LongitudinalAtLoad(const TLongitudinalCoefficients& c, double camber, double fz)
      : t(LongitudinalLoad(c, DegToRad(camber), fz)) {}
  double operator()(double slip) const { return LongitudinalPoint(t, slip); }
};

// ------------------------------------------------------------ the cost pass

// One point: 0 at a load of exactly 0, where nothing else is evaluated.
template <class AtLoad, class... Args>
double PointAt(double fz, double slip, const Args&... args) {
  if (fz == 0.0) return 0.0;
  return AtLoad(args..., fz)(slip);
}

// The sum of (measured - predicted)^2 over the data set, each square formed
// in double and added to a `Sum` (double for the search costs, Extended for
// the model objects).  `make_at_load(camber, fz)` returns the channel at one
// load.  Loads of a case without slips are skipped before anything is
// evaluated, so a cost pass raises exactly the faults that the one-point
// evaluations of its points would raise.
template <class Sum, class MakeAtLoad>
Sum ResidualSum(const TTireDataSet& data, MakeAtLoad make_at_load) {
  Sum sum = 0;
  for (size_t i = 0; i < data.Cases.size(); ++i) {
    const TLoadCase& lc = data.Cases[i];
    const size_t loads = lc.LoadCount();
    const size_t rows = lc.RowCount();
    if (lc.Values.size() != rows * loads)
      throw std::invalid_argument("load case " + std::to_string(i) + " holds " +
                                  std::to_string(lc.Values.size()) + " values for " +
                                  std::to_string(rows) + " slips x " + std::to_string(loads) +
                                  " loads");
    if (rows == 0) continue;
    const double* slips = lc.Slips.data();
    for (size_t j = 0; j < loads; ++j) {
      const double fz = lc.Loads[j];
      const double* measured = lc.Values.data() + j;  // column j, stride `loads`
      if (fz == 0.0) {
        for (size_t k = 0; k < rows; ++k) {
          const double residual = measured[k * loads] - 0.0;
          sum += static_cast<Sum>(residual * residual);
        }
        continue;
      }
      const auto at_load = make_at_load(lc.Camber, fz);
      for (size_t k = 0; k < rows; ++k) {
        const double residual = measured[k * loads] - at_load(slips[k]);
        sum += static_cast<Sum>(residual * residual);
      }
    }
  }
  return sum;
}

template <class Sum>
Sum LateralResidualSum(const TTireDataSet& data, const TLateralCoefficients& c) {
  return ResidualSum<Sum>(data, [&c](double camber, double fz) { return LateralAtLoad(c, camber, fz); });
}

template <class Sum>
Sum AligningResidualSum(const TTireDataSet& data, const TLateralCoefficients& lateral,
                        const TAligningCoefficients& c, double r0, bool guard_dfz) {
  return ResidualSum<Sum>(data, [&](double camber, double fz) {
    return AligningAtLoad(lateral, c, r0, lateral.Fz0, guard_dfz, camber, fz);
  });
}

template <class Sum>
Sum LongitudinalResidualSum(const TTireDataSet& data, const TLongitudinalCoefficients& c) {
  return ResidualSum<Sum>(data, [&c](double camber, double fz) { return LongitudinalAtLoad(c, camber, fz); });
}

}  // namespace morvex::mf
