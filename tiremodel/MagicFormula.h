// The Magic Formula tire model of Morvex: pure side-slip lateral force Fy,
// pure side-slip self-aligning moment Mz and pure longitudinal-slip force
// Fx, each from the slip, the vertical load and the camber angle.
//
// The equations are those of the 2002 Magic Formula (H. B. Pacejka, "Tire
// and Vehicle Dynamics", 2nd ed., 2006, chapter 4.3.2) with every scaling
// factor equal to 1 and no turn-slip terms.  What is particular to this
// program:
//   - angles come in degrees and enter the equations in radians,
//     (value * pi) / 180; the longitudinal slip is used as the data give it;
//   - a load of exactly 0 gives 0 without evaluating anything;
//   - near-zero divisors are replaced by 1e-12 where a guard is listed below
//     (a test |x| <= 1e-12); every other division by zero, overflow or
//     invalid operation raises EZeroDivide, EOverflow or EInvalidOp;
//   - the curvature factors E are clamped above at 1 and never below;
//   - the longitudinal stiffness uses e^4 in place of e^(PKx3 * dfz) once
//     the exponent reaches 10000, and a stiffness factor of 1e12 when the
//     shape or peak factor is within 1e-12 of zero.
//
// Every channel exists in three forms that share one implementation in
// double precision and so give identical predictions for the same double
// coefficients:
//   - the one-point functions LateralForce, AligningMoment and
//     LongitudinalForce, used to draw model curves;
//   - the double-precision cost sums (LateralCostSum, AligningCostSum,
//     LongitudinalCostSum), the costs of the differential-evolution search;
//   - the model objects of DemoModels.h, whose ComputeCost is the cost of
//     the Levenberg-Marquardt fitter.
//
// Lateral force, per point (gamma, alpha in radians):
//   dfz  = (Fz - Fz0)/Fz0, or (Fz - 1e-12)/1e-12 when |Fz0| <= 1e-12
//   SHy  = PHy1 + PHy2*dfz + PHy3*gamma
//   SVy  = Fz*(PVy1 + PVy2*dfz + (PVy3 + PVy4*dfz)*gamma)
//   ay   = alpha + SHy
//   Dy   = Fz*(PDy1 + PDy2*dfz)*(1 - PDy3*gamma^2);  Cy = PCy1
//   Ey   = min((PEy1 + PEy2*dfz)*(1 - (PEy3 + PEy4*gamma)*sgn(ay)), 1)
//   Kya  = PKy1*Fz0*sin(2*atan(Fz/(PKy2*Fz0)))*(1 - PKy3*|gamma|),
//          with Fz/1e-12 as the quotient when |PKy2*Fz0| <= 1e-12
//   By   = Kya/(Cy*Dy), or Kya/1e-12 when |Cy*Dy| <= 1e-12
//   Fy   = Dy*sin(Cy*atan(By*ay - Ey*(By*ay - atan(By*ay)))) + SVy
//
// Aligning moment: the lateral quantities above without the two guards of
// Kya and By (the dfz guard only in the model object's cost), then
//   SHt = QHz1 + QHz2*dfz + (QHz3 + QHz4*dfz)*gamma;  at = alpha + SHt
//   SHf = SHy + SVy/Kya;                               ar = alpha + SHf
//   Bt  = (QBz1 + QBz2*dfz + QBz3*dfz^2)*(1 + QBz4*gamma + QBz5*|gamma|)
//   Ct  = QCz1
//   Dt  = Fz*(QDz1 + QDz2*dfz)*(1 + QDz3*gamma + QDz4*gamma^2)*R0/Fz0
//   Et  = min((QEz1 + QEz2*dfz + QEz3*dfz^2)*(1 + (QEz4 + QEz5*gamma)*(2/pi)*atan(Bt*Ct*at)), 1)
//   Br  = QBz9 + QBz10*By*Cy
//   Dr  = Fz*(QDz6 + QDz7*dfz + (QDz8 + QDz9*dfz)*gamma)*R0
//   t   = Dt*cos(Ct*atan(Bt*at - Et*(Bt*at - atan(Bt*at))))*cos(alpha)
//   Mzr = Dr*cos(atan(Br*ar))*cos(alpha)
//   Mz  = -t*Fy0 + Mzr        (Fy0: the lateral force above)
//
// Longitudinal force (kappa unconverted, the dfz guard as for Fy):
//   SHx = PHx1 + PHx2*dfz;  kx = kappa + SHx;  SVx = Fz*(PVx1 + PVx2*dfz)
//   Cx  = PCx1;  Dx = Fz*(PDx1 + PDx2*dfz)*(1 - PDx3*gamma^2)
//   Ex  = min((PEx1 + PEx2*dfz + PEx3*dfz^2)*(1 - PEx4*sgn(kx)), 1)
//   Kx  = Fz*(PKx1 + PKx2*dfz)*exp(PKx3*dfz), e^4 when PKx3*dfz >= 10000
//   Bx  = Kx/Cx/Dx, or 1e12 when |Cx| <= 1e-12 or |Dx| <= 1e-12
//   Fx  = Dx*sin(Cx*atan(Bx*kx - Ex*(Bx*kx - atan(Bx*kx)))) + SVx
//
// Every product and sum is evaluated left to right in double precision,
// exactly as written above (gamma^2 as gamma*gamma).
//
// Costs: the plain sum of (measured - predicted)^2 over every point of the
// data set, load case by load case, load by load (outer) and slip by slip
// (inner).  A point at load 0 is predicted as 0 and adds its measured value
// squared.
#pragma once

#include "tiredata/TireDataSet.h"
#include "tiremodel/CoefficientSet.h"

namespace morvex {

// The coefficient lists of the three channels, in the field order of their
// model objects.  Each entry is a coefficient name of CoefficientTable.h;
// the lists expand as X(name) for every name.
#define MORVEX_LATERAL_COEFFICIENTS(X)                                              \
  X(Fz0) X(PHy1) X(PHy2) X(PHy3) X(PVy1) X(PVy2) X(PVy3) X(PVy4) X(PDy1) X(PDy2) \
  X(PDy3) X(PCy1) X(PEy1) X(PEy2) X(PEy3) X(PEy4) X(PKy1) X(PKy2) X(PKy3)

#define MORVEX_ALIGNING_COEFFICIENTS(X)                                             \
  X(QHz1) X(QHz2) X(QHz3) X(QHz4) X(QCz1) X(QDz1) X(QDz2) X(QDz3) X(QDz4) X(QBz1)  \
  X(QBz2) X(QBz3) X(QBz4) X(QBz5) X(QEz1) X(QEz2) X(QEz3) X(QEz4) X(QEz5) X(QBz9)  \
  X(QBz10) X(QDz6) X(QDz7) X(QDz8) X(QDz9)

#define MORVEX_LONGITUDINAL_COEFFICIENTS(X)                                         \
  X(Fz0) X(PCx1) X(PDx1) X(PDx2) X(PDx3) X(PEx1) X(PEx2) X(PEx3) X(PEx4) X(PKx1) \
  X(PKx2) X(PKx3) X(PHx1) X(PHx2) X(PVx1) X(PVx2)

#define MORVEX_DOUBLE_FIELD(name) double name = 0.0;

// Fz0 and the 18 lateral coefficients.
struct TLateralCoefficients {
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_DOUBLE_FIELD)
  // The member holding coefficient `name` (table spelling), or nullptr.
  static double TLateralCoefficients::*Member(std::string_view name);
};

// The 25 aligning coefficients (Fz0, R0 and the lateral ones come separately).
struct TAligningCoefficients {
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_DOUBLE_FIELD)
  static double TAligningCoefficients::*Member(std::string_view name);
};

// Fz0 and the 15 longitudinal coefficients.
struct TLongitudinalCoefficients {
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_DOUBLE_FIELD)
  static double TLongitudinalCoefficients::*Member(std::string_view name);
};

#undef MORVEX_DOUBLE_FIELD

// The coefficients as the set holds them now, each text converted with
// StrToFloat in the order of the struct.  A text that is not a number
// raises EConvertError ("'<text>' n'est pas une valeur en virgule flottante
// correcte").
TLateralCoefficients ReadLateralCoefficients(const TCoefficientSet& set);
TAligningCoefficients ReadAligningCoefficients(const TCoefficientSet& set);
TLongitudinalCoefficients ReadLongitudinalCoefficients(const TCoefficientSet& set);

// The cost sum of the most recent lateral cost evaluation, or of the most
// recent ComputeCost of any model object; 0 at start.  The fit commands
// copy it into the window's hidden cost field.
extern double LastCost;

// The unloaded tire radius R0 of the aligning model object's cost, set by
// the aligning fit from the coefficient set before it evaluates anything;
// 0 at start.
extern double CurrentTireRadius;

// ------------------------------------------------------------ one point
//
// Pure functions of their arguments: no side effect, LastCost untouched.
// Angles in degrees.  Each call checks the floating-point flags once and
// raises EZeroDivide, EOverflow or EInvalidOp for a fault.

double LateralForce(double camber, double fz, double slip_angle, double Fz0, double PHy1,
                    double PHy2, double PHy3, double PVy1, double PVy2, double PVy3, double PVy4,
                    double PDy1, double PDy2, double PDy3, double PCy1, double PEy1, double PEy2,
                    double PEy3, double PEy4, double PKy1, double PKy2, double PKy3);

// The aligning moment at one point.  Fz0 and the 18 lateral coefficients
// are read from `panel` at every call (after the load-0 test): that Fz0
// serves the load change dfz and the factor PKy1*Fz0, while the `Fz0`
// argument serves the quotient Fz/(PKy2*Fz0) and the ratio R0/Fz0.  No
// divisor is guarded.  A panel text that is not a number raises
// EConvertError.
double AligningMoment(const TCoefficientSet& panel, double camber, double fz, double slip_angle,
                      double R0, double Fz0, double QHz1, double QHz2, double QHz3, double QHz4,
                      double QCz1, double QDz1, double QDz2, double QDz3, double QDz4, double QBz1,
                      double QBz2, double QBz3, double QBz4, double QBz5, double QEz1, double QEz2,
                      double QEz3, double QEz4, double QEz5, double QBz9, double QBz10, double QDz6,
                      double QDz7, double QDz8, double QDz9);

// `slip` is used unchanged (no percent or other conversion).
double LongitudinalForce(double camber, double fz, double slip, double Fz0, double PCx1,
                         double PDx1, double PDx2, double PDx3, double PEx1, double PEx2,
                         double PEx3, double PEx4, double PKx1, double PKx2, double PKx3,
                         double PHx1, double PHx2, double PVx1, double PVx2);

// The same points from coefficient structs (for the plot and for tests).
double LateralForce(const TLateralCoefficients& c, double camber, double fz, double slip_angle);
// `r0`, and c.Fz0 for every use of the rated load; no divisor is guarded.
double AligningMoment(const TLateralCoefficients& lateral, const TAligningCoefficients& c,
                      double r0, double camber, double fz, double slip_angle);
double LongitudinalForce(const TLongitudinalCoefficients& c, double camber, double fz,
                         double slip);

// ------------------------------------------------------------- cost sums
//
// The costs of the differential-evolution search: the sum of squared
// residuals accumulated in double precision, one pass over the data set,
// no allocation.  The floating-point flags are checked once per call; a
// fault raises EZeroDivide, EOverflow or EInvalidOp and leaves LastCost
// alone.  A load case whose Values do not hold Slips x Loads entries raises
// std::invalid_argument.

// What an aligning cost pass computes from the lateral coefficients alone
// at each point, the lateral force Fy0 and the cosine of the slip angle,
// kept between passes.  A fit of the aligning coefficients evaluates the
// same lateral force at every point thousands of times; with a cache the
// pass takes these values from the first pass whose lateral coefficients,
// rated load, guard and data set it was filled for, and gives the same sum
// to the last bit.  A cache filled where the lateral part raised a
// floating-point fault is not used, so faults stay those of the plain pass.
// One cache serves one fit on one thread; the data set must not change
// while it is in use.
struct TAligningLateralCache {
  bool filled = false;
  bool usable = false;
  TLateralCoefficients lateral{};
  double fz0_ratio = 0.0;
  bool guard_dfz = false;
  const TTireDataSet* data = nullptr;
  std::vector<size_t> block_start;  // first point of each load with Fz != 0, in pass order
  std::vector<double> fy0;           // per point, in pass order
  std::vector<double> cos_alpha;
};

// Also stores the sum in LastCost.
double LateralCostSum(const TTireDataSet& data, const TLateralCoefficients& c);
// The same sum with LastCost untouched, for evaluation on several threads.
double LateralCostValue(const TTireDataSet& data, const TLateralCoefficients& c);
// `r0` is passed explicitly (the aligning fit passes CurrentTireRadius);
// lateral.Fz0 is the rated load; no divisor is guarded.  LastCost untouched.
double AligningCostSum(const TTireDataSet& data, const TLateralCoefficients& lateral,
                       const TAligningCoefficients& c, double r0);
// The same with the lateral part of each point from `cache`.
double AligningCostSum(const TTireDataSet& data, const TLateralCoefficients& lateral,
                       const TAligningCoefficients& c, double r0, TAligningLateralCache& cache);
// LastCost untouched.
double LongitudinalCostSum(const TTireDataSet& data, const TLongitudinalCoefficients& c);

}  // namespace morvex
