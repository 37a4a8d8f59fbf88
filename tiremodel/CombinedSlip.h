// One-point evaluation of the combined-slip model of CombinedSlipKernels.h
// in double precision, for curves, the command line and tests.
#pragma once

#include "tiremodel/CombinedSlipKernels.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

// Everything of one point: pure-slip forces, weights, combined Fx, Fy, Mz,
// the overturning moment Mx and the rolling-resistance moment My.
struct TCombinedPoint {
  double Fx0 = 0.0, Fy0 = 0.0;
  double Gxa = 0.0, Gyk = 0.0, SVyk = 0.0;
  double Fx = 0.0, Fy = 0.0, Mz = 0.0;
  double Mx = 0.0, My = 0.0;
};

// The point at camber and slip angle in degrees, load `fz`, slip ratio
// `kappa` and forward speed `vx` (My only; `longvl` the measurement speed
// LONGVL).  The rated load is lateral.Fz0 (longitudinal.Fz0 for the pure
// Fx), `r0` the unloaded radius.  A load of exactly 0 gives all zeros
// without evaluating anything.  Checks the floating-point flags once and
// raises EZeroDivide, EOverflow or EInvalidOp for a fault.
TCombinedPoint CombinedPointAt(const TLateralCoefficients& lateral, const TAligningCoefficients& aligning,
                               const TLongitudinalCoefficients& longitudinal,
                               const TCombinedCoefficients& combined, double r0, double camber,
                               double fz, double slip_angle, double kappa, double vx, double longvl);

// Rewrites the combined coefficients written at rated load `old_fz0` for
// the rated load `new_fz0`, with the same forces and moments at every
// point: the terms linear in dfz = (Fz - Fz0)/Fz0 (REX, REY, RHY, RVY,
// SSZ3/4) take the shift of dfz, and the shares of Fy/Fz0 or Fx/Fz0 (SSZ2,
// QSX3, QSY2) the ratio of the loads.  Nothing changes when the loads are
// equal or either is not a positive number.
void ReexpressCombinedAtFz0(TCombinedCoefficients& combined, double old_fz0, double new_fz0);

}  // namespace morvex
