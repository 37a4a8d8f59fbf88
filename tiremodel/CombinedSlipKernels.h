// The 2002 Magic Formula under combined slip (braking or driving while the
// wheel runs at a slip angle), and the overturning and rolling-resistance
// moments, as templates on the scalar type like MagicFormulaKernels.h, so
// that the least-squares fit can differentiate them automatically.  The
// pure-slip forces and the aligning-moment terms come from the pure-slip
// kernels unchanged; this header adds the weights that reduce them and the
// terms that only exist under combined slip.
//
// Every scaling factor is 1 and the rated load Fz0 is the one of the lateral
// coefficients (a property file's FNOMIN*LFZO, as everywhere in Morvex).
// Angles are in radians inside the kernels and in degrees at the
// ...AtLoad objects, as in the pure-slip channels; kappa is the slip ratio.
//
// Longitudinal force:
//   SHxa = RHX1;  as = alpha + SHxa
//   Bxa  = RBX1*cos(atan(RBX2*kappa));  Cxa = RCX1;  Exa = min(REX1 + REX2*dfz, 1)
//   Gxa  = W(Bxa, Cxa, Exa, as)/W(Bxa, Cxa, Exa, SHxa),
//          W(B, C, E, x) = cos(C*atan(B*x - E*(B*x - atan(B*x))))
//   Fx   = Gxa*Fx0(kappa)
// Lateral force:
//   SHyk = RHY1 + RHY2*dfz;  ks = kappa + SHyk
//   Byk  = RBY1*cos(atan(RBY2*(alpha - RBY3)));  Cyk = RCY1;  Eyk = min(REY1 + REY2*dfz, 1)
//   Gyk  = W(Byk, Cyk, Eyk, ks)/W(Byk, Cyk, Eyk, SHyk)
//   DVyk = Dy*(RVY1 + RVY2*dfz + RVY3*gamma)*cos(atan(RVY4*alpha))   (Dy = mu_y*Fz)
//   SVyk = DVyk*sin(RVY5*atan(RVY6*kappa))
//   Fy   = Gyk*Fy0(alpha) + SVyk
// Aligning moment (the pure-slip terms SHt, SHf, Bt, Ct, Dt, Et, Br, Dr):
//   at = alpha + SHt;  ar = alpha + SHf;  Et from at, as under pure slip
//   at,eq = sqrt(at^2 + (Kx/Kya)^2*kappa^2)*sgn(at), ar,eq likewise
//   t   = Dt*cos(Ct*atan(Bt*at,eq - Et*(Bt*at,eq - atan(Bt*at,eq))))*cos(alpha)
//   Mzr = Dr*cos(atan(Br*ar,eq))*cos(alpha)
//   s   = R0*(SSZ1 + SSZ2*(Fy/Fz0) + (SSZ3 + SSZ4*dfz)*gamma)
//   Mz  = -t*(Fy - SVyk) + Mzr + s*Fx           (Fy, Fx the combined forces)
// Overturning moment:
//   Mx  = R0*Fz*(QSX1 - QSX2*gamma + QSX3*Fy/Fz0)
// Rolling-resistance moment at the wheel's forward speed Vx:
//   My  = -sgn(Vx)*R0*Fz*(QSY1 + QSY2*Fx/Fz0 + QSY3*|Vx/LONGVL| + QSY4*(Vx/LONGVL)^4)
//
// Where published evaluators of these equations differ, Morvex reads them so:
//   - the equivalent slip angles are sqrt(a^2 + (Kx/Kya)^2*kappa^2)*sgn(a), not
//     atan(sqrt(tan^2 a + ...)): the pure-slip channels take the slip angle
//     itself, not its tangent, and in that form kappa = 0 gives back the
//     pure-slip aligning moment exactly;
//   - their sign is that of the shifted slip angle (at or ar), never of kappa,
//     which would put both at 0 for kappa = 0 and lose the pure-slip moment
//     there (elsewhere the sign does not matter: trail and residual moment
//     are even in them);
//   - the trail's curvature factor Et keeps the shifted angle at of pure slip;
//   - the trail multiplies Fy - SVyk at the actual camber (not Fy at zero
//     camber);
//   - the rated load of s, Mx and My is Fz0 (FNOMIN*LFZO), as in dfz;
//   - the speed of My is normalised by LONGVL, and My opposes the rolling:
//     negative for Vx > 0 with QSY1 > 0, zero at standstill.
// The weight Gxa is exactly 1 at alpha = 0 and Gyk at kappa = 0; both
// are left unclamped: with shape factors above 1 they turn negative far beyond
// the usual slip range, as the equations say.
#pragma once

#include <cmath>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

// The coefficients of the combined-slip weights, of the aligning moment's
// Fx arm, of the overturning moment and of the rolling resistance, spelt as
// property files spell them.
#define MORVEX_COMBINED_COEFFICIENTS(X)                                                    \
  X(RBX1) X(RBX2) X(RCX1) X(REX1) X(REX2) X(RHX1)                                          \
  X(RBY1) X(RBY2) X(RBY3) X(RCY1) X(REY1) X(REY2) X(RHY1) X(RHY2)                          \
  X(RVY1) X(RVY2) X(RVY3) X(RVY4) X(RVY5) X(RVY6)                                          \
  X(SSZ1) X(SSZ2) X(SSZ3) X(SSZ4)                                                          \
  X(QSX1) X(QSX2) X(QSX3)                                                                  \
  X(QSY1) X(QSY2) X(QSY3) X(QSY4)

namespace mf {

#define MORVEX_SCALAR_FIELD(name) T name{};
template <class T>
struct CombinedCoefficientsOf {
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_SCALAR_FIELD)
};
#undef MORVEX_SCALAR_FIELD

}  // namespace mf

// The 31 combined-slip, overturning and rolling-resistance coefficients, all
// 0 by default: zero slopes RBX1 and RBY1 make both weights exactly 1, so a
// set without combined-slip coefficients gives the pure-slip forces.
using TCombinedCoefficients = mf::CombinedCoefficientsOf<double>;

// The member holding coefficient `key` (property-file spelling, any case),
// or nullptr.
inline double TCombinedCoefficients::*CombinedMember(std::string_view key) {
  auto same = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i], y = b[i];
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
      if (x != y) return false;
    }
    return true;
  };
#define MORVEX_CASE(name) \
  if (same(key, #name)) return &TCombinedCoefficients::name;
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_CASE)
#undef MORVEX_CASE
  return nullptr;
}

namespace mf {

// The scalar type of a combined coefficient struct.
template <class CC>
using CombinedScalarOf = std::remove_cvref_t<decltype(std::declval<CC>().RBX1)>;

// The scalar of an expression mixing scalars A and B: double with double,
// the automatic-differentiation number as soon as either is one (the fit of
// the combined coefficients keeps the pure-slip ones fixed in double).
template <class A, class B>
using MixedScalar = std::remove_cvref_t<decltype(std::declval<A>() * std::declval<B>())>;

// cos(C*atan(B*x - E*(B*x - atan(B*x)))), the shape of both weights.
template <class T, class X>
T CosineShape(const T& b, const T& c, const T& e, const X& x) {
  using std::atan, std::cos;
  const T bx = b * x;
  return cos(c * atan(bx - e * (bx - atan(bx))));
}

// Gxa, the share of the pure-slip Fx left at slip angle `alpha`.
template <class CC, class D, class R = MixedScalar<CombinedScalarOf<CC>, D>>
R LongitudinalWeight(const CC& cc, const D& dfz, double alpha, double kappa) {
  using std::atan, std::cos;
  const R shift = R(cc.RHX1);
  const R alpha_s = alpha + shift;
  const R b = R(cc.RBX1 * cos(atan(cc.RBX2 * kappa)));
  const R c = R(cc.RCX1);
  const R e = ClampCurvature<R>(cc.REX1 + cc.REX2 * dfz);
  return CosineShape(b, c, e, alpha_s) / CosineShape(b, c, e, shift);
}

// Gyk, the share of the pure-slip Fy left at slip ratio `kappa`.
template <class CC, class D, class R = MixedScalar<CombinedScalarOf<CC>, D>>
R LateralWeight(const CC& cc, const D& dfz, double alpha, double kappa) {
  using std::atan, std::cos;
  const R shift = cc.RHY1 + cc.RHY2 * dfz;
  const R kappa_s = kappa + shift;
  const R b = R(cc.RBY1 * cos(atan(cc.RBY2 * (alpha - cc.RBY3))));
  const R c = R(cc.RCY1);
  const R e = ClampCurvature<R>(cc.REY1 + cc.REY2 * dfz);
  return CosineShape(b, c, e, kappa_s) / CosineShape(b, c, e, shift);
}

// SVyk, the lateral force that the slip ratio induces; `dy` is the pure-slip
// peak factor Dy = mu_y*Fz.
template <class CC, class D, class R = MixedScalar<CombinedScalarOf<CC>, D>>
R KappaInducedLateralForce(const CC& cc, const D& dy, const D& dfz, double gamma, double alpha,
                           double kappa) {
  using std::atan, std::cos, std::sin;
  const R peak = dy * (cc.RVY1 + cc.RVY2 * dfz + cc.RVY3 * gamma) * cos(atan(cc.RVY4 * alpha));
  return peak * sin(cc.RVY5 * atan(cc.RVY6 * kappa));
}

// The equivalent slip angle of a shifted slip angle `shifted` at slip
// ratio `kappa`, with `ratio` = Kx/Kya.  At kappa = 0 it is `shifted` itself,
// returned unchanged, so that pure slip is reproduced to the last bit and the
// derivatives stay finite where the shifted angle is 0.
template <class T>
T EquivalentSlipAngle(const T& shifted, const T& ratio, double kappa) {
  using std::sqrt;
  if (kappa == 0.0) return shifted;
  const T k = ratio * kappa;
  return sqrt(shifted * shifted + k * k) * Sgn(shifted);
}

// Mx from the lateral force `fy` at camber `gamma` (radians).
template <class CC, class D, class F>
auto OverturningMoment(const CC& cc, double r0, const D& fz0, double gamma, double fz, const F& fy) {
  return r0 * fz * (cc.QSX1 - cc.QSX2 * gamma + cc.QSX3 * fy / fz0);
}

// My from the longitudinal force `fx` at forward speed `vx`; `longvl` is the
// property file's measurement speed LONGVL.
template <class CC, class D, class F>
auto RollingResistanceMoment(const CC& cc, double r0, const D& fz0, double fz, const F& fx, double vx,
                             double longvl) {
  const double speed = vx / longvl;
  const double speed2 = speed * speed;
  return -Sgn(vx) * r0 * fz *
         (cc.QSY1 + cc.QSY2 * fx / fz0 + cc.QSY3 * std::fabs(speed) + cc.QSY4 * (speed2 * speed2));
}

// Everything of one point under combined slip.
template <class T>
struct CombinedPointT {
  T Fx0, Fy0;    // the pure-slip forces at the same slip
  T Gxa, Gyk;    // the weights
  T SVyk;        // the slip-ratio induced lateral force
  T Fx, Fy, Mz;  // the combined forces and aligning moment
  T Mx;          // the overturning moment
};
using CombinedPoint = CombinedPointT<double>;

// The load terms of the pure-slip channels at one camber and load.
template <class T>
struct CombinedLoadTermsT {
  T fz0;  // the rated load
  T dfz;
  double gamma = 0.0, fz = 0.0, r0 = 0.0;
  LateralLoadTermsT<T> lat;       // as the lateral channel computes them
  LongitudinalLoadTermsT<T> lon;  // as the longitudinal channel computes them
  AligningLoadTermsT<T> ali;      // as the aligning channel computes them (dfz guarded)
  T k_ratio;                      // Kx/Kya of the equivalent slip angles
};

template <class L, class A, class X, class T = ScalarOf<L>>
CombinedLoadTermsT<T> CombinedLoad(const L& lateral, const A& aligning, const X& longitudinal,
                                   double r0, double gamma, double fz) {
  CombinedLoadTermsT<T> t;
  t.fz0 = lateral.Fz0;
  t.dfz = LoadChange(fz, lateral.Fz0, true);
  t.gamma = gamma;
  t.fz = fz;
  t.r0 = r0;
  t.lat = LateralLoad(lateral, gamma, fz, t.dfz, lateral.Fz0, true);
  t.lon = LongitudinalLoad(longitudinal, gamma, fz);
  t.ali = AligningLoad(lateral, aligning, r0, lateral.Fz0, gamma, fz, true);
  const T kx = LongitudinalStiffness(longitudinal, fz, LoadChange(fz, longitudinal.Fz0, true));
  t.k_ratio = kx / t.ali.lat.Kya;
  return t;
}

// The point at slip angle `alpha` (radians) and slip ratio `kappa`, in the
// scalar mixing the pure-slip terms' and the combined coefficients'.
template <class T, class CC, class R = MixedScalar<T, CombinedScalarOf<CC>>>
CombinedPointT<R> CombinedPointAt(const CombinedLoadTermsT<T>& t, const CC& cc, double alpha,
                                  double kappa) {
  using std::atan, std::cos;
  CombinedPointT<R> p;
  p.Fx0 = R(LongitudinalPoint(t.lon, kappa));
  p.Fy0 = R(LateralPoint(t.lat, alpha));
  p.Gxa = LongitudinalWeight(cc, t.dfz, alpha, kappa);
  p.Gyk = LateralWeight(cc, t.dfz, alpha, kappa);
  p.SVyk = KappaInducedLateralForce(cc, t.lat.Dy, t.dfz, t.gamma, alpha, kappa);
  p.Fx = p.Gxa * p.Fx0;
  p.Fy = p.Gyk * p.Fy0 + p.SVyk;

  const AligningLoadTermsT<T>& a = t.ali;
  const T alpha_t = alpha + a.SHt;
  const T alpha_r = alpha + a.SHf;
  const T et = ClampCurvature<T>(a.e_base * (1.0 + a.e_slope * atan(a.BtCt * alpha_t)));
  const T alpha_t_eq = EquivalentSlipAngle(alpha_t, t.k_ratio, kappa);
  const T alpha_r_eq = EquivalentSlipAngle(alpha_r, t.k_ratio, kappa);
  const double cos_alpha = cos(alpha);
  const T b_alpha = a.Bt * alpha_t_eq;
  const T trail = a.Dt * cos(a.Ct * atan(b_alpha - et * (b_alpha - atan(b_alpha)))) * cos_alpha;
  const T residual = a.Dr * cos(atan(a.Br * alpha_r_eq)) * cos_alpha;
  const R arm = t.r0 * (cc.SSZ1 + cc.SSZ2 * (p.Fy / t.fz0) + (cc.SSZ3 + cc.SSZ4 * t.dfz) * t.gamma);
  p.Mz = -trail * (p.Fy - p.SVyk) + residual + arm * p.Fx;
  p.Mx = OverturningMoment(cc, t.r0, t.fz0, t.gamma, t.fz, p.Fy);
  return p;
}

// The combined model at one camber (degrees) and load: the terms, then any
// number of points at (slip angle in degrees, slip ratio).
template <class L, class A, class X, class CC, class T = ScalarOf<L>>
struct CombinedAtLoadOf {
  CombinedLoadTermsT<T> t;
  const CC* cc;
  CombinedAtLoadOf(const L& lateral, const A& aligning, const X& longitudinal, const CC& combined,
                   double r0, double camber, double fz)
      : t(CombinedLoad(lateral, aligning, longitudinal, r0, DegToRad(camber), fz)), cc(&combined) {}
  auto operator()(double slip_angle, double kappa) const {
    return CombinedPointAt(t, *cc, DegToRad(slip_angle), kappa);
  }
  // My at this load for the combined Fx `fx` at forward speed `vx`.
  template <class F>
  auto RollingResistance(const F& fx, double vx, double longvl) const {
    return RollingResistanceMoment(*cc, t.r0, t.fz0, t.fz, fx, vx, longvl);
  }
};
using CombinedAtLoad = CombinedAtLoadOf<TLateralCoefficients, TAligningCoefficients,
                                        TLongitudinalCoefficients, TCombinedCoefficients>;

}  // namespace mf
}  // namespace morvex
