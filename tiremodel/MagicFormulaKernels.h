// The one implementation of the three Magic Formula channels, shared by the
// one-point functions, the cost sums and the model objects, and by the
// residuals of the least-squares fit (other folders use MagicFormula.h and
// DemoModels.h; only the least-squares fit includes this header directly).
//
// The equations are templates on the coefficient struct, whose member type
// is the scalar of the evaluation: double for every form of the model, an
// automatic-differentiation number for the least-squares Jacobian.  The
// measured data (camber, load, slip) stay double.  Transcendental functions
// are called unqualified after `using std::...`, so double arguments reach
// the very same library functions as before and the double instantiation
// computes bit for bit what a plain double implementation would.
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

#include <cfenv>
#include <cmath>
#include <cstring>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

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

// The scalar type of a coefficient struct (the type of its members).
template <class C>
using ScalarOf = std::remove_cvref_t<decltype(std::declval<C>().Fz0)>;

// -1, 0 or +1.
template <class T>
double Sgn(const T& x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }

// The curvature factors are clamped above at 1 and never below.
template <class T>
T ClampCurvature(const T& e) { return e > 1.0 ? T(1.0) : e; }

// dfz = (Fz - Fz0)/Fz0; with `guarded`, (Fz - 1e-12)/1e-12 when |Fz0| <= 1e-12.
// The guarded branch never divides by Fz0, so a zero rated load raises nothing.
template <class T>
T LoadChange(double fz, const T& fz0, bool guarded) {
  using std::abs;
  if (guarded && abs(fz0) <= kTiny) return T((fz - kTiny) / kTiny);
  return (fz - fz0) / fz0;
}

// Coefficient structs of any scalar type, with the members of the double
// structs of MagicFormula.h.
#define MORVEX_SCALAR_FIELD(name) T name{};
template <class T>
struct LateralCoefficientsOf {
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_SCALAR_FIELD)
};
template <class T>
struct AligningCoefficientsOf {
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_SCALAR_FIELD)
};
template <class T>
struct LongitudinalCoefficientsOf {
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_SCALAR_FIELD)
};
#undef MORVEX_SCALAR_FIELD

// ------------------------------------------------------------------ lateral

template <class T>
struct LateralLoadTermsT {
  T dfz;
  T SHy, SVy, Dy, Cy;
  T e_base;  // PEy1 + PEy2*dfz
  T e_asym;  // PEy3 + PEy4*gamma, multiplied by sgn(ay) per point
  T Kya, By;
};
using LateralLoadTerms = LateralLoadTermsT<double>;

// `dfz` from LoadChange; `fz0_quotient` is the rated load of Fz/(PKy2*Fz0)
// (c.Fz0 serves PKy1*Fz0).  `guarded` applies the 1e-12 guards of Kya and By.
template <class C, class T = ScalarOf<C>>
LateralLoadTermsT<T> LateralLoad(const C& c, double gamma, double fz, const T& dfz,
                                 const T& fz0_quotient, bool guarded) {
  using std::abs, std::atan, std::sin;
  LateralLoadTermsT<T> t;
  t.dfz = dfz;
  t.SHy = c.PHy1 + c.PHy2 * dfz + c.PHy3 * gamma;
  t.SVy = fz * (c.PVy1 + c.PVy2 * dfz + (c.PVy3 + c.PVy4 * dfz) * gamma);
  t.Dy = fz * (c.PDy1 + c.PDy2 * dfz) * (1.0 - c.PDy3 * (gamma * gamma));
  t.Cy = c.PCy1;
  t.e_base = c.PEy1 + c.PEy2 * dfz;
  t.e_asym = c.PEy3 + c.PEy4 * gamma;
  const T k_load = c.PKy2 * fz0_quotient;
  const T quotient = (guarded && abs(k_load) <= kTiny) ? T(fz / kTiny) : fz / k_load;
  t.Kya = c.PKy1 * c.Fz0 * sin(2.0 * atan(quotient)) * (1.0 - c.PKy3 * std::fabs(gamma));
  const T cd = t.Cy * t.Dy;
  t.By = (guarded && abs(cd) <= kTiny) ? T(t.Kya / kTiny) : t.Kya / cd;
  return t;
}

// Fy at slip angle `alpha` (radians), including the vertical shift.
template <class T>
T LateralPoint(const LateralLoadTermsT<T>& t, double alpha) {
  using std::atan, std::sin;
  const T alpha_y = alpha + t.SHy;
  const T ey = ClampCurvature<T>(t.e_base * (1.0 - t.e_asym * Sgn(alpha_y)));
  const T b_alpha = t.By * alpha_y;
  return t.Dy * sin(t.Cy * atan(b_alpha - ey * (b_alpha - atan(b_alpha)))) + t.SVy;
}

// The lateral channel at one load: the terms, then any number of points.
template <class C, class T = ScalarOf<C>>
struct LateralAtLoadOf {
  LateralLoadTermsT<T> t;
  LateralAtLoadOf(const C& c, double camber, double fz) {
    const double gamma = DegToRad(camber);
    t = LateralLoad(c, gamma, fz, LoadChange(fz, c.Fz0, true), c.Fz0, true);
  }
  T operator()(double slip_angle) const { return LateralPoint(t, DegToRad(slip_angle)); }
};
using LateralAtLoad = LateralAtLoadOf<TLateralCoefficients>;

// ----------------------------------------------------------------- aligning

template <class T>
struct AligningLoadTermsT {
  LateralLoadTermsT<T> lat;
  T SHt, SHf;
  T Bt, Ct, BtCt, Dt;
  T e_base;   // QEz1 + QEz2*dfz + QEz3*dfz^2
  T e_slope;  // (QEz4 + QEz5*gamma)*(2/pi), multiplied by atan(Bt*Ct*at) per point
  T Br, Dr;
};
using AligningLoadTerms = AligningLoadTermsT<double>;

// `lateral.Fz0` is the rated load of dfz and PKy1*Fz0; `fz0_ratio` that of
// Fz/(PKy2*Fz0) and R0/Fz0.  `guard_dfz` guards the load change only; the
// lateral guards of Kya and By never apply here.
template <class L, class A, class T = ScalarOf<L>>
AligningLoadTermsT<T> AligningLoad(const L& lateral, const A& c, double r0, const T& fz0_ratio,
                                   double gamma, double fz, bool guard_dfz) {
  AligningLoadTermsT<T> t;
  const T dfz = LoadChange(fz, lateral.Fz0, guard_dfz);
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

// Mz at slip angle `alpha` (radians), given the lateral force Fy0 there and
// cos(alpha).
template <class T, class F>
T AligningPointWith(const AligningLoadTermsT<T>& t, double alpha, const F& fy0, double cos_alpha) {
  using std::atan, std::cos;
  const T alpha_t = alpha + t.SHt;
  const T alpha_r = alpha + t.SHf;
  const T et = ClampCurvature<T>(t.e_base * (1.0 + t.e_slope * atan(t.BtCt * alpha_t)));
  const T b_alpha = t.Bt * alpha_t;
  // cos(alpha) of the unshifted slip angle multiplies both terms.
  const T trail = t.Dt * cos(t.Ct * atan(b_alpha - et * (b_alpha - atan(b_alpha)))) * cos_alpha;
  const T residual = t.Dr * cos(atan(t.Br * alpha_r)) * cos_alpha;
  return -trail * fy0 + residual;
}

// Mz at slip angle `alpha` (radians).
template <class T>
T AligningPoint(const AligningLoadTermsT<T>& t, double alpha) {
  return AligningPointWith(t, alpha, LateralPoint(t.lat, alpha), std::cos(alpha));
}

template <class L, class A, class T = ScalarOf<L>>
struct AligningAtLoadOf {
  AligningLoadTermsT<T> t;
  AligningAtLoadOf(const L& lateral, const A& c, double r0, const T& fz0_ratio, bool guard_dfz,
                   double camber, double fz) {
    const double gamma = DegToRad(camber);
    t = AligningLoad(lateral, c, r0, fz0_ratio, gamma, fz, guard_dfz);
  }
  T operator()(double slip_angle) const { return AligningPoint(t, DegToRad(slip_angle)); }
};
using AligningAtLoad = AligningAtLoadOf<TLateralCoefficients, TAligningCoefficients>;

// ------------------------------------------------------------- longitudinal

template <class T>
struct LongitudinalLoadTermsT {
  T SHx, SVx, Cx, Dx;
  T e_base;  // PEx1 + PEx2*dfz + PEx3*dfz^2
  T PEx4;
  T Bx;
};
using LongitudinalLoadTerms = LongitudinalLoadTermsT<double>;

// The longitudinal slip stiffness Kx = Fz*(PKx1 + PKx2*dfz)*e^(PKx3*dfz).
// The exponent is tested before any exponential is taken: from 10000 up the
// fixed e^4 stands in; below it the exponential is used as it is and may
// overflow.
template <class C, class T = ScalarOf<C>>
T LongitudinalStiffness(const C& c, double fz, const T& dfz) {
  using std::exp;
  const T exponent = c.PKx3 * dfz;
  const T growth = exponent >= kExpLimit ? T(kExp4) : exp(exponent);
  return fz * (c.PKx1 + c.PKx2 * dfz) * growth;
}

template <class C, class T = ScalarOf<C>>
LongitudinalLoadTermsT<T> LongitudinalLoad(const C& c, double gamma, double fz) {
  using std::abs;
  LongitudinalLoadTermsT<T> t;
  const T dfz = LoadChange(fz, c.Fz0, true);
  t.SHx = c.PHx1 + c.PHx2 * dfz;
  t.SVx = fz * (c.PVx1 + c.PVx2 * dfz);
  t.Cx = c.PCx1;
  t.Dx = fz * (c.PDx1 + c.PDx2 * dfz) * (1.0 - c.PDx3 * (gamma * gamma));
  t.e_base = c.PEx1 + c.PEx2 * dfz + c.PEx3 * (dfz * dfz);
  t.PEx4 = c.PEx4;
  const T kx = LongitudinalStiffness(c, fz, dfz);
  t.Bx = (abs(t.Cx) <= kTiny || abs(t.Dx) <= kTiny) ? T(kStiffCap) : kx / t.Cx / t.Dx;
  return t;
}

// Fx at longitudinal slip `kappa` (unconverted).
template <class T>
T LongitudinalPoint(const LongitudinalLoadTermsT<T>& t, double kappa) {
  using std::atan, std::sin;
  const T kappa_x = kappa + t.SHx;
  const T ex = ClampCurvature<T>(t.e_base * (1.0 - t.PEx4 * Sgn(kappa_x)));
  const T b_kappa = t.Bx * kappa_x;
  return t.Dx * sin(t.Cx * atan(b_kappa - ex * (b_kappa - atan(b_kappa)))) + t.SVx;
}

template <class C, class T = ScalarOf<C>>
struct LongitudinalAtLoadOf {
  LongitudinalLoadTermsT<T> t;
  LongitudinalAtLoadOf(const C& c, double camber, double fz)
      : t(LongitudinalLoad(c, DegToRad(camber), fz)) {}
  T operator()(double slip) const { return LongitudinalPoint(t, slip); }
};
using LongitudinalAtLoad = LongitudinalAtLoadOf<TLongitudinalCoefficients>;

// ------------------------------------------------------------ the cost pass

// One point: 0 at a load of exactly 0, where nothing else is evaluated.
template <class AtLoad, class... Args>
double PointAt(double fz, double slip, const Args&... args) {
  if (fz == 0.0) return 0.0;
  return AtLoad(args..., fz)(slip);
}

// Raises std::invalid_argument when case `i` does not hold Slips x Loads values.
inline void CheckCaseShape(const TLoadCase& lc, size_t i) {
  const size_t loads = lc.LoadCount();
  const size_t rows = lc.RowCount();
  if (lc.Values.size() != rows * loads)
    throw std::invalid_argument("load case " + std::to_string(i) + " holds " +
                                std::to_string(lc.Values.size()) + " values for " +
                                std::to_string(rows) + " slips x " + std::to_string(loads) +
                                " loads");
}

// The same check for every case, before anything is evaluated.
inline void CheckShape(const TTireDataSet& data) {
  for (size_t i = 0; i < data.Cases.size(); ++i) CheckCaseShape(data.Cases[i], i);
}

// Calls `visit(measured - predicted)` for every point of the data set, case
// by case, load by load (outer) and slip by slip (inner).  A point at load 0
// is predicted as 0 without evaluating anything.  `make_at_load(camber, fz)`
// returns the channel at one load.  Each case's shape is checked before its
// points are visited; loads of a case without slips are skipped before
// anything is evaluated.  Always inlined: the cost sums' accumulator then
// stays in a register, as in a loop written out in place.
template <class MakeAtLoad, class Visit>
[[gnu::always_inline]] inline void ForEachResidual(const TTireDataSet& data, MakeAtLoad make_at_load, Visit visit) {
  for (size_t i = 0; i < data.Cases.size(); ++i) {
    const TLoadCase& lc = data.Cases[i];
    CheckCaseShape(lc, i);
    const size_t loads = lc.LoadCount();
    const size_t rows = lc.RowCount();
    if (rows == 0) continue;
    const double* slips = lc.Slips.data();
    for (size_t j = 0; j < loads; ++j) {
      const double fz = lc.Loads[j];
      const double* measured = lc.Values.data() + j;  // column j, stride `loads`
      if (fz == 0.0) {
        for (size_t k = 0; k < rows; ++k) visit(measured[k * loads] - 0.0);
        continue;
      }
      auto at_load = make_at_load(lc.Camber, fz);
      for (size_t k = 0; k < rows; ++k) visit(measured[k * loads] - at_load(slips[k]));
    }
  }
}

// The sum of (measured - predicted)^2 over the data set, each square formed
// in double and added to a `Sum` (double for the search costs, Extended for
// the model objects), so a cost pass raises exactly the faults that the
// one-point evaluations of its points would raise.
template <class Sum, class MakeAtLoad>
Sum ResidualSum(const TTireDataSet& data, MakeAtLoad make_at_load) {
  Sum sum = 0;
  ForEachResidual(data, make_at_load,
                  [&sum](double residual) { sum += static_cast<Sum>(residual * residual); });
  return sum;
}

// The number of points of a data set: the residuals of a least-squares fit.
inline size_t PointCount(const TTireDataSet& data) {
  size_t n = 0;
  for (const TLoadCase& lc : data.Cases) n += lc.RowCount() * lc.LoadCount();
  return n;
}

// measured - predicted at every point, in the order of the cost pass,
// written to `out[0 .. PointCount)`, in the scalar type of the model.
template <class T, class MakeAtLoad>
void Residuals(const TTireDataSet& data, MakeAtLoad make_at_load, T* out) {
  ForEachResidual(data, make_at_load, [&out](const auto& residual) { *out++ = T(residual); });
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

// Fills `cache` for these lateral coefficients: Fy0 and cos(alpha) of every
// point exactly as AligningLoad and AligningPoint compute them.  The cache
// is marked unusable when that raised a floating-point fault.  Leaves the
// flags clear.
inline void FillAligningCache(const TTireDataSet& data, const TLateralCoefficients& lateral, double fz0_ratio,
                              bool guard_dfz, TAligningLateralCache& cache) {
  cache.filled = true;
  cache.usable = false;
  cache.lateral = lateral;
  cache.fz0_ratio = fz0_ratio;
  cache.guard_dfz = guard_dfz;
  cache.data = &data;
  cache.block_start.clear();
  cache.fy0.assign(PointCount(data), 0.0);
  cache.cos_alpha.assign(cache.fy0.size(), 0.0);
  std::feclearexcept(FE_ALL_EXCEPT);
  size_t point = 0;  // the points visited so far
  ForEachResidual(
      data,
      [&](double camber, double fz) {
        cache.block_start.push_back(point);
        const LateralLoadTerms lat =
            LateralLoad(lateral, DegToRad(camber), fz, LoadChange(fz, lateral.Fz0, guard_dfz), fz0_ratio, false);
        return [&cache, &point, lat](double slip_angle) {
          const double alpha = DegToRad(slip_angle);
          cache.fy0[point] = LateralPoint(lat, alpha);
          cache.cos_alpha[point] = std::cos(alpha);
          return 0.0;
        };
      },
      [&point](double) { ++point; });
  cache.usable = std::fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID) == 0;
  std::feclearexcept(FE_ALL_EXCEPT);
}

// True when `cache` holds the values of these lateral coefficients.
inline bool AligningCacheFits(const TAligningLateralCache& cache, const TTireDataSet& data,
                              const TLateralCoefficients& lateral, double fz0_ratio, bool guard_dfz) {
  return cache.filled && cache.data == &data && cache.guard_dfz == guard_dfz &&
         std::memcmp(&cache.fz0_ratio, &fz0_ratio, sizeof fz0_ratio) == 0 &&
         std::memcmp(&cache.lateral, &lateral, sizeof lateral) == 0;
}

// AligningResidualSum with the lateral part of each point from `cache`
// (filled here first when it does not fit); the plain pass when the cache
// is unusable.  Call before clearing the flags of the pass.
template <class Sum>
Sum AligningResidualSumCached(const TTireDataSet& data, const TLateralCoefficients& lateral,
                              const TAligningCoefficients& c, double r0, bool guard_dfz,
                              TAligningLateralCache& cache) {
  if (!AligningCacheFits(cache, data, lateral, lateral.Fz0, guard_dfz))
    FillAligningCache(data, lateral, lateral.Fz0, guard_dfz, cache);
  if (!cache.usable) return AligningResidualSum<Sum>(data, lateral, c, r0, guard_dfz);
  size_t block = 0;
  const double* fy0 = cache.fy0.data();
  const double* cos_alpha = cache.cos_alpha.data();
  return ResidualSum<Sum>(data, [&](double camber, double fz) {
    const size_t first = cache.block_start[block++];
    const AligningAtLoad at_load(lateral, c, r0, lateral.Fz0, guard_dfz, camber, fz);
    size_t point = first;
    return [t = at_load.t, fy0, cos_alpha, point](double slip_angle) mutable {
      const size_t k = point++;
      return AligningPointWith(t, DegToRad(slip_angle), fy0[k], cos_alpha[k]);
    };
  });
}

template <class Sum>
Sum LongitudinalResidualSum(const TTireDataSet& data, const TLongitudinalCoefficients& c) {
  return ResidualSum<Sum>(data, [&c](double camber, double fz) { return LongitudinalAtLoad(c, camber, fz); });
}

}  // namespace morvex::mf
