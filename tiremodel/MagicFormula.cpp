#include "tiremodel/MagicFormula.h"

#include <string_view>

#include "numerics/LxBasics.h"
#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

double LastCost = 0.0;
double CurrentTireRadius = 0.0;

// ------------------------------------------------------ coefficient structs

#define MORVEX_MEMBER_CASE(Struct, name) \
  if (key == #name) return &Struct::name;

double TLateralCoefficients::*TLateralCoefficients::Member(std::string_view key) {
#define MORVEX_CASE(name) MORVEX_MEMBER_CASE(TLateralCoefficients, name)
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_CASE)
#undef MORVEX_CASE
  return nullptr;
}

double TAligningCoefficients::*TAligningCoefficients::Member(std::string_view key) {
#define MORVEX_CASE(name) MORVEX_MEMBER_CASE(TAligningCoefficients, name)
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_CASE)
#undef MORVEX_CASE
  return nullptr;
}

double TLongitudinalCoefficients::*TLongitudinalCoefficients::Member(std::string_view key) {
#define MORVEX_CASE(name) MORVEX_MEMBER_CASE(TLongitudinalCoefficients, name)
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_CASE)
#undef MORVEX_CASE
  return nullptr;
}

#undef MORVEX_MEMBER_CASE

#define MORVEX_READ(name) c.name = set.Value(#name);

TLateralCoefficients ReadLateralCoefficients(const TCoefficientSet& set) {
  TLateralCoefficients c;
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_READ)
  return c;
}

TAligningCoefficients ReadAligningCoefficients(const TCoefficientSet& set) {
  TAligningCoefficients c;
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_READ)
  return c;
}

TLongitudinalCoefficients ReadLongitudinalCoefficients(const TCoefficientSet& set) {
  TLongitudinalCoefficients c;
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_READ)
  return c;
}

#undef MORVEX_READ

// ----------------------------------------------------------------- one point

double LateralForce(const TLateralCoefficients& c, double camber, double fz, double slip_angle) {
  ClearFpFaults();
  const double fy = mf::PointAt<mf::LateralAtLoad>(fz, slip_angle, c, camber);
  RaiseFpFaults();
  return fy;
}

double LateralForce(double camber, double fz, double slip_angle, double Fz0, double PHy1,
                    double PHy2, double PHy3, double PVy1, double PVy2, double PVy3, double PVy4,
                    double PDy1, double PDy2, double PDy3, double PCy1, double PEy1, double PEy2,
                    double PEy3, double PEy4, double PKy1, double PKy2, double PKy3) {
  const TLateralCoefficients c{Fz0,  PHy1, PHy2, PHy3, PVy1, PVy2, PVy3, PVy4, PDy1, PDy2,
                               PDy3, PCy1, PEy1, PEy2, PEy3, PEy4, PKy1, PKy2, PKy3};
  return LateralForce(c, camber, fz, slip_angle);
}

double AligningMoment(const TLateralCoefficients& lateral, const TAligningCoefficients& c,
                      double r0, double camber, double fz, double slip_angle) {
  ClearFpFaults();
  const double mz = mf::PointAt<mf::AligningAtLoad>(fz, slip_angle, lateral, c, r0, lateral.Fz0,
                                                    false, camber);
  RaiseFpFaults();
  return mz;
}

double AligningMoment(const TCoefficientSet& panel, double camber, double fz, double slip_angle,
                      double R0, double Fz0, double QHz1, double QHz2, double QHz3, double QHz4,
                      double QCz1, double QDz1, double QDz2, double QDz3, double QDz4, double QBz1,
                      double QBz2, double QBz3, double QBz4, double QBz5, double QEz1, double QEz2,
                      double QEz3, double QEz4, double QEz5, double QBz9, double QBz10, double QDz6,
                      double QDz7, double QDz8, double QDz9) {
  if (fz == 0.0) return 0.0;
  // The panel's Fz0 (in `lateral`) drives dfz and PKy1*Fz0; the argument
  // drives Fz/(PKy2*Fz0) and R0/Fz0.  The plot passes the panel's own value.
  const TLateralCoefficients lateral = ReadLateralCoefficients(panel);
  const TAligningCoefficients c{QHz1, QHz2, QHz3,  QHz4, QCz1, QDz1, QDz2, QDz3, QDz4,
                                QBz1, QBz2, QBz3,  QBz4, QBz5, QEz1, QEz2, QEz3, QEz4,
                                QEz5, QBz9, QBz10, QDz6, QDz7, QDz8, QDz9};
  ClearFpFaults();
  const double mz =
      mf::PointAt<mf::AligningAtLoad>(fz, slip_angle, lateral, c, R0, Fz0, false, camber);
  RaiseFpFaults();
  return mz;
}

double LongitudinalForce(const TLongitudinalCoefficients& c, double camber, double fz,
                         double slip) {
  ClearFpFaults();
  const double fx = mf::PointAt<mf::LongitudinalAtLoad>(fz, slip, c, camber);
  RaiseFpFaults();
  return fx;
}

double LongitudinalForce(double camber, double fz, double slip, double Fz0, double PCx1,
                         double PDx1, double PDx2, double PDx3, double PEx1, double PEx2,
                         double PEx3, double PEx4, double PKx1, double PKx2, double PKx3,
                         double PHx1, double PHx2, double PVx1, double PVx2) {
  const TLongitudinalCoefficients c{Fz0,  PCx1, PDx1, PDx2, PDx3, PEx1, PEx2, PEx3,
                                    PEx4, PKx1, PKx2, PKx3, PHx1, PHx2, PVx1, PVx2};
  return LongitudinalForce(c, camber, fz, slip);
}

// ----------------------------------------------------------------- cost sums

double LateralCostValue(const TTireDataSet& data, const TLateralCoefficients& c) {
  ClearFpFaults();
  const double sum = mf::LateralResidualSum<double>(data, c);
  RaiseFpFaults();
  return sum;
}

double LateralCostSum(const TTireDataSet& data, const TLateralCoefficients& c) {
  const double sum = LateralCostValue(data, c);
  LastCost = sum;
  return sum;
}

double AligningCostSum(const TTireDataSet& data, const TLateralCoefficients& lateral,
                       const TAligningCoefficients& c, double r0) {
  ClearFpFaults();
  const double sum = mf::AligningResidualSum<double>(data, lateral, c, r0, false);
  RaiseFpFaults();
  return sum;
}

double AligningCostSum(const TTireDataSet& data, const TLateralCoefficients& lateral,
                       const TAligningCoefficients& c, double r0, TAligningLateralCache& cache) {
  if (!mf::AligningCacheFits(cache, data, lateral, lateral.Fz0, false))
    mf::FillAligningCache(data, lateral, lateral.Fz0, false, cache);
  ClearFpFaults();
  const double sum = mf::AligningResidualSumCached<double>(data, lateral, c, r0, false, cache);
  RaiseFpFaults();
  return sum;
}

double LongitudinalCostSum(const TTireDataSet& data, const TLongitudinalCoefficients& c) {
  ClearFpFaults();
  const double sum = mf::LongitudinalResidualSum<double>(data, c);
  RaiseFpFaults();
  return sum;
}

}  // namespace morvex
