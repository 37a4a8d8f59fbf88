#include "tiremodel/CombinedSlip.h"

#include <cmath>

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

void ReexpressCombinedAtFz0(TCombinedCoefficients& c, double old_fz0, double new_fz0) {
  if (!(old_fz0 > 0) || !(new_fz0 > 0) || !std::isfinite(old_fz0) || !std::isfinite(new_fz0) || old_fz0 == new_fz0)
    return;
  // dfz_old = r * dfz_new + (r - 1) with r = new/old, so a + b*dfz_old =
  // (a + b*(r - 1)) + (b*r)*dfz_new.
  const double r = new_fz0 / old_fz0;
  auto linear = [r](double& a, double& b) {
    a += b * (r - 1);
    b *= r;
  };
  linear(c.REX1, c.REX2);
  linear(c.REY1, c.REY2);
  linear(c.RHY1, c.RHY2);
  linear(c.RVY1, c.RVY2);
  linear(c.SSZ3, c.SSZ4);
  c.SSZ2 *= r;
  c.QSX3 *= r;
  c.QSY2 *= r;
}

}  // namespace morvex
