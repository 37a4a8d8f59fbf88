#include "tiremodel/CombinedSlip.h"

#include "numerics/LxBasics.h"

namespace morvex {

TCombinedPoint CombinedPointAt(const TLateralCoefficients& lateral, const TAligningCoefficients& aligning,
                               const TLongitudinalCoefficients& longitudinal,
                               const TCombinedCoefficients& combined, double r0, double camber,
                               double fz, double slip_angle, double kappa, double vx, double longvl) {
  TCombinedPoint out;
  if (fz == 0.0) return out;
  ClearFpFaults();
  const mf::CombinedAtLoad at_load(lateral, aligning, longitudinal, combined, r0, camber, fz);
  const mf::CombinedPoint p = at_load(slip_angle, kappa);
  out.Fx0 = p.Fx0;
  out.Fy0 = p.Fy0;
  out.Gxa = p.Gxa;
  out.Gyk = p.Gyk;
  out.SVyk = p.SVyk;
  out.Fx = p.Fx;
  out.Fy = p.Fy;
  out.Mz = p.Mz;
  out.Mx = p.Mx;
  out.My = at_load.RollingResistance(p.Fx, vx, longvl);
  RaiseFpFaults();
  return out;
}

}  // namespace morvex
