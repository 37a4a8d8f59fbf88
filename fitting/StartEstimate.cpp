#include "fitting/StartEstimate.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include "fitting/ChannelModel.h"
#include "fitting/FitVerdict.h"
#include "fitting/TrustRegionFit.h"
#include "numerics/LxBasics.h"
#include "fitting/MeasuredCurves.h"
#include "optim/CurveFit.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Shape factors of typical tires, used where a curve does not show its peak.
constexpr double kLateralShape = 1.3;
constexpr double kLongitudinalShape = 1.65;
constexpr double kTrailShape = 1.2;

// The curves at the camber closest to zero: there the camber terms vanish,
// so they give the load dependence alone.
bool IsReference(const TMeasuredCurve& curve, double min_abs_gamma) {
  return std::fabs(std::fabs(curve.gamma) - min_abs_gamma) <= 1e-9;
}

double MinAbsGamma(const std::vector<TMeasuredCurve>& curves) {
  double m = std::numeric_limits<double>::infinity();
  for (const TMeasuredCurve& c : curves) m = std::min(m, std::fabs(c.gamma));
  return m;
}

size_t DistinctLoads(const std::vector<TMeasuredCurve>& curves) {
  std::set<double> loads;
  for (const TMeasuredCurve& c : curves) loads.insert(c.fz);
  return loads.size();
}

// The rated load: the set's value when it is fixed, otherwise the middle of
// the measured loads, where the load dependences are best determined.
double RatedLoad(const TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves, bool free) {
  if (!free) return set.Value("Fz0");
  std::set<double> loads;
  for (const TMeasuredCurve& c : curves) loads.insert(std::fabs(c.fz));
  double sum = 0;
  for (double load : loads) sum += load;
  return loads.empty() ? set.Value("Fz0") : sum / static_cast<double>(loads.size());
}

// The asymmetry of a curve's curvature shows only where the curve bends
// away from its slope, and is undetermined where the curvature is nil: a
// weak pull towards symmetry (the residual weight of a point's 1 % error
// per unit of asymmetry) keeps it from running away there.
constexpr double kAsymmetryWeight = 0.01;

// One curve's fit is a start for the whole channel's: it need not be
// polished to the last digits.
TCurveFitOptions CurveOptions() {
  TCurveFitOptions options;
  options.max_iterations = 100;
  options.relative_tolerance = 1e-9;
  return options;
}

// ---------------------------------------------------------- one force curve

// y = D sin(C atan(B x - E (B x - atan(B x)))) + Sv, x shifted by Sh, with
// E = E0 (1 - a sgn(x)): the Magic Formula of one curve.  Parameters D, C,
// B, E0, Sh, Sv, a.
enum { kD, kC, kB, kE, kSh, kSv, kEa, kForceParams };

double ForceShape(const double* p, double x) {
  const double xs = x + p[kSh];
  const double bx = p[kB] * xs;
  const double sign = xs > 0 ? 1.0 : (xs < 0 ? -1.0 : 0.0);
  const double e = std::min(p[kE] * (1.0 - p[kEa] * sign), 1.0);
  return p[kD] * std::sin(p[kC] * std::atan(bx - e * (bx - std::atan(bx)))) + p[kSv];
}

struct CurveParams {
  std::vector<double> p;
  double cost = std::numeric_limits<double>::infinity();
};

CurveParams FitForceCurve(const TMeasuredCurve& curve, const std::vector<double>& start,
                          const std::vector<bool>& fixed) {
  const double weight = kAsymmetryWeight * MaxAbs(curve.y);
  const auto residuals = [&curve, weight](const double* p, double* r) {
    const size_t n = curve.x.size();
    for (size_t i = 0; i < n; ++i) r[i] = curve.y[i] - ForceShape(p, curve.x[i]);
    r[n] = weight * p[kEa];
  };
  TCurveFitResult fit = FitCurve(residuals, curve.x.size() + 1, start, fixed, CurveOptions());
  CurveParams result{fit.x, fit.cost};
  // D and B may both change sign without changing the curve: keep D > 0.
  if (result.p[kD] < 0) {
    result.p[kD] = -result.p[kD];
    result.p[kB] = -result.p[kB];
  }
  return result;
}

// Fits D, C, B, E, Sh, Sv to one curve from a few starts and keeps the best.
// With `shape` finite, C is held there; `warm`, the curve's fit with its
// own shape factor, is then one more start (with B scaled to keep the slope
// B C D).
CurveParams FitForce(const TMeasuredCurve& curve, double default_shape, double shape,
                     const CurveParams* warm = nullptr) {
  double slope = 0, offset = 0;
  CentreLine(curve, slope, offset);
  const auto [lo, hi] = std::minmax_element(curve.y.begin(), curve.y.end());
  const double half_range = 0.5 * (*hi - *lo);
  const double d0 = std::max(half_range * 1.05, 1e-9);
  const double c0 = std::isfinite(shape) ? shape : default_shape;
  std::vector<bool> fixed(kForceParams, false);
  fixed[kC] = std::isfinite(shape);

  CurveParams best;
  if (warm != nullptr && std::isfinite(warm->cost) && std::isfinite(shape)) {
    std::vector<double> start = warm->p;
    start[kB] = warm->p[kB] * warm->p[kC] / shape;
    start[kC] = shape;
    best = FitForceCurve(curve, start, fixed);
  }
  for (double e0 : {0.0, -1.0, 0.6}) {
    const double b0 = slope / (c0 * d0);
    std::vector<double> start = {d0, c0, std::isfinite(b0) ? b0 : 1.0, e0, 0.0, offset, 0.0};
    CurveParams fit = FitForceCurve(curve, start, fixed);
    if (fit.cost < best.cost) best = fit;
  }
  return best;
}

// A curve that never reaches its peak cannot tell D from C: the fit then
// runs away to a large D with a small B.  Such curves do not vote for C.
bool ShowsPeak(const TMeasuredCurve& curve, const CurveParams& fit) {
  double max_abs = 0;
  for (double v : curve.y) max_abs = std::max(max_abs, std::fabs(v));
  return std::isfinite(fit.cost) && fit.p[kD] < 2.0 * max_abs && fit.p[kC] > 0.3 && fit.p[kC] < 3.0;
}

// Each curve fitted with its own shape factor.
std::vector<CurveParams> OwnShapeFits(const std::vector<TMeasuredCurve>& curves, double default_shape) {
  std::vector<CurveParams> fits;
  for (const TMeasuredCurve& curve : curves) fits.push_back(FitForce(curve, default_shape, kNaN));
  return fits;
}

// The shape factors of the curves that show their peak.
std::vector<double> ForceShapes(const std::vector<TMeasuredCurve>& curves, const std::vector<CurveParams>& own) {
  std::vector<double> shapes;
  for (size_t i = 0; i < curves.size(); ++i)
    if (ShowsPeak(curves[i], own[i])) shapes.push_back(own[i].p[kC]);
  return shapes;
}

// Per-curve force fits with one shape factor common to all curves, as the
// channel's model has it.
std::vector<CurveParams> FitForceCurves(const std::vector<TMeasuredCurve>& curves, double default_shape,
                                        double shape, const std::vector<CurveParams>& own) {
  std::vector<CurveParams> fits;
  for (size_t i = 0; i < curves.size(); ++i)
    fits.push_back(FitForce(curves[i], default_shape, shape, i < own.size() ? &own[i] : nullptr));
  return fits;
}

// The shape factors to start the whole fit from: the curves' own (their
// median and quartiles), the typical value and a quarter above and below it.  The shape factor and the
// curvature trade against each other, so the fit of the whole channel may
// settle in a different valley from each; the best of them is kept.
std::vector<double> ShapeCandidates(std::vector<double> shapes, double default_shape) {
  std::vector<double> candidates;
  const auto add = [&candidates](double c) {
    if (!std::isfinite(c) || c <= 0.05) return;
    for (double k : candidates)
      if (std::fabs(k - c) < 0.08) return;
    candidates.push_back(c);
  };
  shapes.erase(std::remove_if(shapes.begin(), shapes.end(), [](double v) { return !std::isfinite(v); }),
               shapes.end());
  std::sort(shapes.begin(), shapes.end());
  if (!shapes.empty()) {
    add(Median(shapes));
    add(shapes[shapes.size() / 4]);
    add(shapes[(3 * shapes.size()) / 4]);
  }
  add(default_shape);
  add(default_shape * 1.25);
  add(default_shape * 0.75);
  return candidates;
}

// --------------------------------------------------------------- the set

// Writes `value` into the free coefficient `name` of `set` (fixed ones keep
// their text) and records it.
void Propose(TCoefficientSet& set, TStartEstimate& estimate, std::string_view name, double value) {
  if (!set.Free(name) || !std::isfinite(value)) return;
  set.SetText(name, FloatToStr(value));
  if (std::find(estimate.changed.begin(), estimate.changed.end(), name) == estimate.changed.end())
    estimate.changed.emplace_back(name);
}

// The value the set holds for a fixed coefficient, or the estimate for a free one.
double Use(const TCoefficientSet& set, std::string_view name, double estimate) {
  return set.Free(name) ? estimate : set.Value(name);
}

// 1 - ratio = k * f(gamma), least squares over the curves away from the
// reference camber: the camber factor of a load law.
double CamberFactor(const std::vector<TMeasuredCurve>& curves, double min_abs_gamma,
                    const std::vector<double>& ratios, double (*f)(double)) {
  double num = 0, den = 0;
  for (size_t i = 0; i < curves.size(); ++i) {
    if (IsReference(curves[i], min_abs_gamma) || !std::isfinite(ratios[i])) continue;
    const double g = f(curves[i].gamma);
    num += (1.0 - ratios[i]) * g;
    den += g * g;
  }
  return den > 0 ? num / den : 0.0;
}

double Square(double g) { return g * g; }
double Magnitude(double g) { return std::fabs(g); }

// ------------------------------------------------------------ the channels

void EstimateLateral(TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves, double shape,
                     const std::vector<CurveParams>& own, TStartEstimate& estimate) {
  std::vector<CurveParams> fits = FitForceCurves(curves, kLateralShape, shape, own);
  const double fz0 = RatedLoad(set, curves, set.Free("Fz0"));
  const double g0 = MinAbsGamma(curves);

  std::vector<double> ones, dfz, gamma, dfz_gamma, mu, e, sh, sv, k, e_gamma, e_asym;
  std::vector<double> ref_ones, ref_dfz, ref_mu, ref_e;
  for (size_t i = 0; i < curves.size(); ++i) {
    const TMeasuredCurve& c = curves[i];
    const double d = (c.fz - fz0) / fz0;
    const std::vector<double>& p = fits[i].p;
    ones.push_back(1.0);
    dfz.push_back(d);
    gamma.push_back(c.gamma);
    dfz_gamma.push_back(d * c.gamma);
    mu.push_back(p[kD] / c.fz);
    e.push_back(std::min(p[kE], 1.0));
    e_gamma.push_back(p[kE] * c.gamma);
    e_asym.push_back(p[kE] * p[kEa]);
    sh.push_back(p[kSh]);
    sv.push_back(p[kSv] / c.fz);
    k.push_back(p[kB] * p[kC] * p[kD]);
    if (IsReference(c, g0)) {
      ref_ones.push_back(1.0);
      ref_dfz.push_back(d);
      ref_mu.push_back(mu.back());
      ref_e.push_back(e.back());
    }
  }

  const std::vector<double> peak = Regress({ref_ones, ref_dfz}, ref_mu);
  const double pdy1 = Use(set, "PDy1", peak[0]), pdy2 = Use(set, "PDy2", peak[1]);
  std::vector<double> ratios;
  for (size_t i = 0; i < curves.size(); ++i) ratios.push_back(mu[i] / (pdy1 + pdy2 * dfz[i]));
  const double pdy3 = CamberFactor(curves, g0, ratios, Square);

  const std::vector<double> curvature = Regress({ref_ones, ref_dfz}, ref_e);

  // Cornering stiffness K = PKy1 Fz0 sin(2 atan(Fz / (PKy2 Fz0))): for each
  // PKy2 of a grid the best PKy1 is linear; keep the pair that fits best.
  double pky1 = kNaN, pky2 = set.Free("PKy2") ? 2.0 : set.Value("PKy2");
  {
    const bool several_loads = DistinctLoads(curves) > 1;
    double best = std::numeric_limits<double>::infinity();
    for (int step = 0; step <= 240; ++step) {
      const double candidate = (set.Free("PKy2") && several_loads) ? 0.25 * std::pow(10.0, step / 120.0) : pky2;
      double num = 0, den = 0;
      for (size_t i = 0; i < curves.size(); ++i) {
        if (!IsReference(curves[i], g0)) continue;
        const double g = fz0 * std::sin(2.0 * std::atan(curves[i].fz / (candidate * fz0)));
        num += k[i] * g;
        den += g * g;
      }
      if (den <= 0) break;
      const double a = num / den;
      double ssr = 0;
      for (size_t i = 0; i < curves.size(); ++i) {
        if (!IsReference(curves[i], g0)) continue;
        const double g = fz0 * std::sin(2.0 * std::atan(curves[i].fz / (candidate * fz0)));
        ssr += (k[i] - a * g) * (k[i] - a * g);
      }
      if (ssr < best) {
        best = ssr;
        pky1 = a;
        pky2 = candidate;
      }
      if (!(set.Free("PKy2") && several_loads)) break;
    }
  }
  pky1 = Use(set, "PKy1", pky1);
  std::vector<double> k_ratios;
  for (size_t i = 0; i < curves.size(); ++i) {
    const double kref = pky1 * fz0 * std::sin(2.0 * std::atan(curves[i].fz / (pky2 * fz0)));
    k_ratios.push_back(k[i] / kref);
  }
  const double pky3 = CamberFactor(curves, g0, k_ratios, Magnitude);

  const std::vector<double> shift = Regress({ones, dfz, gamma}, sh);
  const std::vector<double> vertical = Regress({ones, dfz, gamma, dfz_gamma}, sv);

  Propose(set, estimate, "Fz0", fz0);
  Propose(set, estimate, "PCy1", shape);
  Propose(set, estimate, "PDy1", peak[0]);
  Propose(set, estimate, "PDy2", peak[1]);
  Propose(set, estimate, "PDy3", pdy3);
  Propose(set, estimate, "PEy1", curvature[0]);
  Propose(set, estimate, "PEy2", curvature[1]);
  // E a = E (PEy3 + PEy4 gamma), weighted by E as for the trail.
  const std::vector<double> asymmetry = Regress({e, e_gamma}, e_asym);
  Propose(set, estimate, "PEy3", asymmetry[0]);
  Propose(set, estimate, "PEy4", asymmetry[1]);
  Propose(set, estimate, "PKy1", pky1);
  Propose(set, estimate, "PKy2", pky2);
  Propose(set, estimate, "PKy3", pky3);
  Propose(set, estimate, "PHy1", shift[0]);
  Propose(set, estimate, "PHy2", shift[1]);
  Propose(set, estimate, "PHy3", shift[2]);
  Propose(set, estimate, "PVy1", vertical[0]);
  Propose(set, estimate, "PVy2", vertical[1]);
  Propose(set, estimate, "PVy3", vertical[2]);
  Propose(set, estimate, "PVy4", vertical[3]);
}

void EstimateLongitudinal(TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves, double shape,
                          const std::vector<CurveParams>& own, TStartEstimate& estimate) {
  std::vector<CurveParams> fits = FitForceCurves(curves, kLongitudinalShape, shape, own);
  const double fz0 = RatedLoad(set, curves, set.Free("Fz0"));
  const double g0 = MinAbsGamma(curves);

  std::vector<double> ones, dfz, sh, sv, e_all, e_asym;
  std::vector<double> ref_ones, ref_dfz, ref_dfz2, ref_mu, ref_e, ref_k;
  std::vector<double> mu;
  for (size_t i = 0; i < curves.size(); ++i) {
    const TMeasuredCurve& c = curves[i];
    const double d = (c.fz - fz0) / fz0;
    const std::vector<double>& p = fits[i].p;
    ones.push_back(1.0);
    dfz.push_back(d);
    mu.push_back(p[kD] / c.fz);
    sh.push_back(p[kSh]);
    sv.push_back(p[kSv] / c.fz);
    if (IsReference(c, g0)) {
      ref_ones.push_back(1.0);
      ref_dfz.push_back(d);
      ref_dfz2.push_back(d * d);
      ref_mu.push_back(mu.back());
      ref_e.push_back(std::min(p[kE], 1.0));
      e_all.push_back(p[kE]);
      e_asym.push_back(p[kE] * p[kEa]);
      ref_k.push_back(p[kB] * p[kC] * p[kD] / c.fz);
    }
  }
  const std::vector<double> peak = Regress({ref_ones, ref_dfz}, ref_mu);
  const double pdx1 = Use(set, "PDx1", peak[0]), pdx2 = Use(set, "PDx2", peak[1]);
  std::vector<double> ratios;
  for (size_t i = 0; i < curves.size(); ++i) ratios.push_back(mu[i] / (pdx1 + pdx2 * dfz[i]));
  const double pdx3 = CamberFactor(curves, g0, ratios, Square);
  const std::vector<double> curvature = Regress({ref_ones, ref_dfz, ref_dfz2}, ref_e);

  // Kx/Fz = (PKx1 + PKx2 dfz) exp(PKx3 dfz): linear in PKx1, PKx2 for each
  // PKx3 of a grid.
  std::vector<double> stiffness = {Median(ref_k), 0.0};
  double pkx3 = 0;
  if (DistinctLoads(curves) > 2 && set.Free("PKx3")) {
    double best = std::numeric_limits<double>::infinity();
    for (int step = -200; step <= 200; ++step) {
      const double candidate = step * 0.01;
      std::vector<double> c1, c2;
      for (double d : ref_dfz) {
        c1.push_back(std::exp(candidate * d));
        c2.push_back(d * std::exp(candidate * d));
      }
      const std::vector<double> beta = Regress({c1, c2}, ref_k);
      double ssr = 0;
      for (size_t i = 0; i < ref_k.size(); ++i) {
        const double r = ref_k[i] - beta[0] * c1[i] - beta[1] * c2[i];
        ssr += r * r;
      }
      if (ssr < best) {
        best = ssr;
        stiffness = beta;
        pkx3 = candidate;
      }
    }
  } else if (DistinctLoads(curves) > 1) {
    stiffness = Regress({ref_ones, ref_dfz}, ref_k);
  }
  const std::vector<double> shift = Regress({ones, dfz}, sh);
  const std::vector<double> vertical = Regress({ones, dfz}, sv);

  Propose(set, estimate, "Fz0", fz0);
  Propose(set, estimate, "PCx1", shape);
  Propose(set, estimate, "PDx1", peak[0]);
  Propose(set, estimate, "PDx2", peak[1]);
  Propose(set, estimate, "PDx3", pdx3);
  Propose(set, estimate, "PEx1", curvature[0]);
  Propose(set, estimate, "PEx2", curvature[1]);
  Propose(set, estimate, "PEx3", curvature[2]);
  Propose(set, estimate, "PEx4", Regress({e_all}, e_asym)[0]);
  Propose(set, estimate, "PKx1", stiffness[0]);
  Propose(set, estimate, "PKx2", stiffness[1]);
  Propose(set, estimate, "PKx3", pkx3);
  Propose(set, estimate, "PHx1", shift[0]);
  Propose(set, estimate, "PHx2", shift[1]);
  Propose(set, estimate, "PVx1", vertical[0]);
  Propose(set, estimate, "PVx2", vertical[1]);
}

// ------------------------------------------------------------ aligning

// One curve of the aligning moment, with the lateral force of the set:
//   Mz = -Dt cos(Ct atan(Bt at - Et (Bt at - atan(Bt at)))) cos(a) Fy0 + Dr cos(atan(Br ar)) cos(a)
// with Et = E (1 + q (2/pi) atan(Bt Ct at)).  Parameters Dt, Bt, Ct, E, Sht,
// Dr, Br, q.
enum { kDt, kBt, kCt, kEt, kSht, kDr, kBr, kEq, kMomentParams };

struct MomentCurve {
  const TMeasuredCurve* curve = nullptr;
  std::vector<double> fy0;        // lateral force at each point
  std::vector<double> cos_alpha;  // cos of each point's slip angle
  double shf = 0;           // SHy + SVy/Kya of the lateral set at this load
};

double MomentShape(const double* p, const MomentCurve& mc, size_t i) {
  const double alpha = mc.curve->x[i];
  const double at = alpha + p[kSht];
  const double bt = p[kBt] * at;
  const double et = std::min(p[kEt] * (1.0 + p[kEq] * (2.0 / kPi) * std::atan(p[kBt] * p[kCt] * at)), 1.0);
  const double trail = p[kDt] * std::cos(p[kCt] * std::atan(bt - et * (bt - std::atan(bt))));
  // cos(atan(z)) = 1 / sqrt(1 + z^2)
  const double br = p[kBr] * (alpha + mc.shf);
  const double residual = p[kDr] / std::sqrt(1.0 + br * br);
  return (-trail * mc.fy0[i] + residual) * mc.cos_alpha[i];
}

CurveParams FitMoment(const MomentCurve& mc, double shape, const CurveParams* warm = nullptr) {
  const TMeasuredCurve& curve = *mc.curve;
  const double weight = kAsymmetryWeight * MaxAbs(curve.y);
  const auto residuals = [&mc, &curve, weight](const double* p, double* r) {
    const size_t n = curve.x.size();
    for (size_t i = 0; i < n; ++i) r[i] = curve.y[i] - MomentShape(p, mc, i);
    r[n] = weight * p[kEq];
  };
  // Near zero slip Mz = -Dt Fy0 + Dr: a straight line over the lateral force.
  std::vector<size_t> order(curve.x.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&curve](size_t a, size_t b) { return std::fabs(curve.x[a]) < std::fabs(curve.x[b]); });
  std::vector<double> ones, fy, mz;
  for (size_t i = 0; i < std::max<size_t>(3, order.size() / 6) && i < order.size(); ++i) {
    ones.push_back(1.0);
    fy.push_back(mc.fy0[order[i]]);
    mz.push_back(curve.y[order[i]]);
  }
  const std::vector<double> line = Regress({ones, fy}, mz);
  const double dt0 = -line[1];
  const double dr0 = line[0];

  // Where the moment changes sign away from the centre the trail has
  // vanished: Ct atan(Bt a) = pi/2 there.
  const double c0 = std::isfinite(shape) ? shape : kTrailShape;
  // With the curve's own fit at hand one start from the typical slope
  // suffices beside it.
  const bool warm_start = warm != nullptr && std::isfinite(warm->cost) && std::isfinite(shape);
  std::vector<double> bt_starts = warm_start ? std::vector<double>{10.0} : std::vector<double>{5.0, 10.0, 20.0};
  std::vector<size_t> by_slip = order;
  std::sort(by_slip.begin(), by_slip.end(), [&curve](size_t a, size_t b) { return curve.x[a] < curve.x[b]; });
  for (size_t j = 0; j + 1 < by_slip.size(); ++j) {
    const size_t a = by_slip[j], b = by_slip[j + 1];
    const double xm = 0.5 * (curve.x[a] + curve.x[b]);
    if (xm > 0.01 && (curve.y[a] - dr0) * (curve.y[b] - dr0) < 0) {
      bt_starts.push_back(std::tan(kPi / (2.0 * c0)) / xm);
      break;
    }
  }

  // The residual moment is small beside the trail's and its stiffness Br
  // shows only in its shape: it is held at a typical 10 first and freed
  // only for the best of the starts, whose result stands when it stays
  // plausible (a huge Br with a huge Dr is a spike, not a residual moment).
  std::vector<bool> fixed(kMomentParams, false);
  fixed[kCt] = std::isfinite(shape);
  fixed[kBr] = true;
  CurveParams best;
  const std::vector<double> curvature_starts = warm_start ? std::vector<double>{0.0} : std::vector<double>{0.0, -1.0};
  for (double bt0 : bt_starts) {
    for (double e0 : curvature_starts) {
      const std::vector<double> start = {dt0, bt0, c0, e0, 0.0, dr0, 10.0, 0.0};
      TCurveFitResult fit = FitCurve(residuals, curve.x.size() + 1, start, fixed, CurveOptions());
      if (fit.cost < best.cost) best = {fit.x, fit.cost};
    }
  }
  if (std::isfinite(best.cost)) {
    fixed[kBr] = false;
    const TCurveFitResult fit = FitCurve(residuals, curve.x.size() + 1, best.p, fixed, CurveOptions());
    if (fit.cost < best.cost && std::fabs(fit.x[kBr]) <= 100.0 && std::fabs(fit.x[kDr]) <= 2.0 * MaxAbs(curve.y))
      best = {fit.x, fit.cost};
  }
  if (warm_start) {
    std::vector<double> start = warm->p;
    start[kCt] = shape;
    const TCurveFitResult fit = FitCurve(residuals, curve.x.size() + 1, start, fixed, CurveOptions());
    if (fit.cost < best.cost && std::fabs(fit.x[kBr]) <= 100.0 && std::fabs(fit.x[kDr]) <= 2.0 * MaxAbs(curve.y))
      best = {fit.x, fit.cost};
  }
  // Bt enters through cos(Ct atan(Bt a)), even in Bt, and through the
  // asymmetry q atan(Bt Ct at): keep Bt > 0 with q's sign to match.
  if (!best.p.empty() && best.p[kBt] < 0) {
    best.p[kBt] = -best.p[kBt];
    best.p[kEq] = -best.p[kEq];
  }
  if (!best.p.empty() && best.p[kBr] < 0) best.p[kBr] = -best.p[kBr];
  return best;
}

// The aligning moment's curves with the lateral force of the set at each
// point; the lateral set is fixed while the aligning moment is fitted.
std::vector<MomentCurve> MomentCurves(const TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves) {
  const TLateralCoefficients lateral = ReadLateralCoefficients(set);
  const double fz0 = lateral.Fz0;
  if (!(std::fabs(fz0) > 1e-9)) throw std::invalid_argument("The rated load Fz0 is 0: the aligning moment cannot be evaluated.");
  std::vector<MomentCurve> moments;
  for (const TMeasuredCurve& curve : curves) {
    MomentCurve mc;
    mc.curve = &curve;
    try {
      for (double slip : curve.slip) mc.fy0.push_back(LateralForce(lateral, curve.camber, curve.fz, slip));
      for (double alpha : curve.x) mc.cos_alpha.push_back(std::cos(alpha));
      const double dfz = (curve.fz - fz0) / fz0;
      const double shy = lateral.PHy1 + lateral.PHy2 * dfz + lateral.PHy3 * curve.gamma;
      const double svy = curve.fz * (lateral.PVy1 + lateral.PVy2 * dfz + (lateral.PVy3 + lateral.PVy4 * dfz) * curve.gamma);
      const double kya = lateral.PKy1 * fz0 * std::sin(2.0 * std::atan(curve.fz / (lateral.PKy2 * fz0))) *
                         (1.0 - lateral.PKy3 * std::fabs(curve.gamma));
      mc.shf = std::isfinite(kya) && kya != 0.0 ? shy + svy / kya : shy;
    } catch (const std::exception&) {
      mc.fy0.assign(curve.x.size(), 0.0);
    }
    if (mc.cos_alpha.size() != curve.x.size()) {
      mc.cos_alpha.clear();
      for (double alpha : curve.x) mc.cos_alpha.push_back(std::cos(alpha));
    }
    ClearFpFaults();
    moments.push_back(std::move(mc));
  }
  return moments;
}

// Each curve of the moment fitted with its own trail shape factor.
std::vector<CurveParams> OwnTrailFits(const std::vector<MomentCurve>& moments) {
  std::vector<CurveParams> fits;
  for (const MomentCurve& mc : moments) fits.push_back(FitMoment(mc, kNaN));
  ClearFpFaults();
  return fits;
}

std::vector<double> TrailShapes(const std::vector<CurveParams>& own) {
  std::vector<double> shapes;
  for (const CurveParams& fit : own)
    if (std::isfinite(fit.cost) && fit.p[kCt] > 0.3 && fit.p[kCt] < 3.0) shapes.push_back(fit.p[kCt]);
  return shapes;
}

void EstimateAligning(TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves,
                      const std::vector<MomentCurve>& moments, double shape, const std::vector<CurveParams>& own,
                      TStartEstimate& estimate) {
  const double fz0 = set.Value("Fz0");
  double r0 = set.Value("R0");
  if (!(std::fabs(r0) > 1e-9)) r0 = 0.3;
  std::vector<CurveParams> fits;
  for (size_t i = 0; i < moments.size(); ++i)
    fits.push_back(FitMoment(moments[i], shape, i < own.size() ? &own[i] : nullptr));
  ClearFpFaults();

  const double g0 = MinAbsGamma(curves);
  std::vector<double> ones, dfz, gamma, dfz_gamma, sht, dr, br, e_base, e_base_gamma, e_asym;
  std::vector<double> ref_ones, ref_dfz, ref_dfz2, ref_q, ref_bt, ref_et;
  std::vector<double> q, bt;
  for (size_t i = 0; i < curves.size(); ++i) {
    if (!std::isfinite(fits[i].cost)) continue;
    const TMeasuredCurve& c = curves[i];
    const std::vector<double>& p = fits[i].p;
    const double d = (c.fz - fz0) / fz0;
    ones.push_back(1.0);
    dfz.push_back(d);
    gamma.push_back(c.gamma);
    dfz_gamma.push_back(d * c.gamma);
    sht.push_back(p[kSht]);
    dr.push_back(p[kDr] / (c.fz * r0));
    br.push_back(p[kBr]);
    e_base.push_back(p[kEt]);
    e_base_gamma.push_back(p[kEt] * c.gamma);
    e_asym.push_back(p[kEt] * p[kEq]);
    q.push_back(p[kDt] * fz0 / (c.fz * r0));
    bt.push_back(p[kBt]);
    if (IsReference(c, g0)) {
      ref_ones.push_back(1.0);
      ref_dfz.push_back(d);
      ref_dfz2.push_back(d * d);
      ref_q.push_back(q.back());
      ref_bt.push_back(bt.back());
      ref_et.push_back(std::min(p[kEt], 1.0));
    }
  }
  if (ones.empty()) throw std::invalid_argument("No curve of the aligning moment could be fitted to estimate from.");

  const std::vector<double> peak = Regress({ref_ones, ref_dfz}, ref_q);
  const std::vector<double> slope = Regress({ref_ones, ref_dfz, ref_dfz2}, ref_bt);
  const std::vector<double> curvature = Regress({ref_ones, ref_dfz, ref_dfz2}, ref_et);
  // Camber factors: (1 + QDz3 g + QDz4 g^2) and (1 + QBz4 g + QBz5 |g|).
  std::vector<double> peak_excess, slope_excess, g_cols, g2_cols, ga_cols;
  for (size_t i = 0, k = 0; i < curves.size(); ++i) {
    if (!std::isfinite(fits[i].cost)) continue;
    const TMeasuredCurve& c = curves[i];
    const double d = dfz[k];
    if (!IsReference(c, g0)) {
      peak_excess.push_back(q[k] / (peak[0] + peak[1] * d) - 1.0);
      slope_excess.push_back(bt[k] / (slope[0] + slope[1] * d + slope[2] * d * d) - 1.0);
      g_cols.push_back(c.gamma);
      g2_cols.push_back(c.gamma * c.gamma);
      ga_cols.push_back(std::fabs(c.gamma));
    }
    ++k;
  }
  const std::vector<double> peak_camber = Regress({g_cols, g2_cols}, peak_excess);
  const std::vector<double> slope_camber = Regress({g_cols, ga_cols}, slope_excess);
  const std::vector<double> shift = Regress({ones, dfz, gamma, dfz_gamma}, sht);
  const std::vector<double> residual = Regress({ones, dfz, gamma, dfz_gamma}, dr);
  // E q = E (QEz4 + QEz5 gamma): weighted by E, so curves without
  // curvature say nothing about its asymmetry.
  const std::vector<double> asymmetry = Regress({e_base, e_base_gamma}, e_asym);

  Propose(set, estimate, "QCz1", shape);
  Propose(set, estimate, "QDz1", peak[0]);
  Propose(set, estimate, "QDz2", peak[1]);
  Propose(set, estimate, "QDz3", peak_camber[0]);
  Propose(set, estimate, "QDz4", peak_camber[1]);
  Propose(set, estimate, "QBz1", slope[0]);
  Propose(set, estimate, "QBz2", slope[1]);
  Propose(set, estimate, "QBz3", slope[2]);
  Propose(set, estimate, "QBz4", slope_camber[0]);
  Propose(set, estimate, "QBz5", slope_camber[1]);
  Propose(set, estimate, "QEz1", curvature[0]);
  Propose(set, estimate, "QEz2", curvature[1]);
  Propose(set, estimate, "QEz3", curvature[2]);
  Propose(set, estimate, "QEz4", asymmetry[0]);
  Propose(set, estimate, "QEz5", asymmetry[1]);
  Propose(set, estimate, "QHz1", shift[0]);
  Propose(set, estimate, "QHz2", shift[1]);
  Propose(set, estimate, "QHz3", shift[2]);
  Propose(set, estimate, "QHz4", shift[3]);
  Propose(set, estimate, "QDz6", residual[0]);
  Propose(set, estimate, "QDz7", residual[1]);
  Propose(set, estimate, "QDz8", residual[2]);
  Propose(set, estimate, "QDz9", residual[3]);
  Propose(set, estimate, "QBz9", Median(br));
  Propose(set, estimate, "QBz10", 0.0);
}

// The free coefficients of the channel, in its fit order.
std::vector<std::string> FreeNamesOf(TFitChannel channel, const TCoefficientSet& set) {
  std::span<const std::string_view> order = channel == TFitChannel::kLateral ? LateralFreeOrder()
                                            : channel == TFitChannel::kAligning ? AligningFreeOrder()
                                                                                : LongitudinalFreeOrder();
  std::vector<std::string> names;
  for (std::string_view name : order)
    if (set.Free(name) && !(channel == TFitChannel::kAligning && name == "Fz0")) names.emplace_back(name);
  return names;
}

// D and B = K / (C D) change sign together without changing the curves:
// a fit may end on that mirror image, whose negative peak factor holds no
// real tire.  Negates the peak factor's coefficients back when the set
// allows both to change (the load term free, or nil).
void NormalisePeakSign(TFitChannel channel, TCoefficientSet& set, const std::vector<TMeasuredCurve>& curves,
                       TStartEstimate& estimate) {
  if (channel == TFitChannel::kAligning || curves.empty()) return;
  const bool lateral = channel == TFitChannel::kLateral;
  const char* d1 = lateral ? "PDy1" : "PDx1";
  const char* d2 = lateral ? "PDy2" : "PDx2";
  const double fz0 = set.Value("Fz0"), p1 = set.Value(d1), p2 = set.Value(d2);
  size_t negative = 0;
  for (const TMeasuredCurve& curve : curves)
    if (p1 + p2 * ((curve.fz - fz0) / fz0) < 0) ++negative;
  if (2 * negative <= curves.size()) return;
  if (!set.Free(d1) || !(set.Free(d2) || p2 == 0.0)) {
    estimate.notes.push_back(std::string("the peak factor D is negative (") + d1 + " " + FloatToStr(p1) +
                             "): the mirror image of a tire, which fits the curves as well; " + d1 + " and " + d2 +
                             " are not both free, so it stays");
    return;
  }
  Propose(set, estimate, d1, -p1);
  if (p2 != 0.0) Propose(set, estimate, d2, -p2);
  std::string note = std::string("the fit ended on the mirror image with a negative peak factor; ") + d1 + " and " +
                     d2 + " were negated together, which leaves the curves as they were";
  if (lateral && set.Value("QBz10") != 0.0)
    note += "; the aligning moment's QBz10 term changes sign with By Cy: fit the aligning moment again";
  estimate.notes.push_back(note);
}

// Fewer points than free coefficients leave some of them to chance.
void RefuseFewPoints(TFitChannel channel, const TTireDataSet& data, size_t free) {
  const size_t points = ChannelPointCount(channel, data);
  if (points < free)
    throw std::invalid_argument(FewPointsMessage(points, free));
}

double CostOrInfinity(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  try {
    const double cost = static_cast<double>(ChannelCost(channel, set, data));
    return std::isfinite(cost) ? cost : std::numeric_limits<double>::infinity();
  } catch (const std::exception&) {
    return std::numeric_limits<double>::infinity();
  }
}

}  // namespace

TStartEstimate EstimateStartValues(TFitChannel channel, TCoefficientSet& set,
                                   const TTireDataSet& data) {
  size_t points = 0;
  for (const TLoadCase& lc : data.Cases) points += lc.RowCount() * lc.LoadCount();
  if (data.Cases.empty()) throw std::invalid_argument("The data set holds no load case.");
  if (points == 0) throw std::invalid_argument("The data set holds no measured point.");

  // Work on a copy: the set changes only when the whole estimate succeeded.
  TMemoryCoefficientSet work;
  CopyCoefficients(set, work);
  if (channel == TFitChannel::kAligning) work.SetFree("Fz0", false);

  const std::vector<TMeasuredCurve> curves = MeasuredCurves(data, channel != TFitChannel::kLongitudinal);
  if (curves.empty())
    throw std::invalid_argument("The data set holds no curve with four or more points to estimate from.");
  RefuseFewPoints(channel, data, FreeNamesOf(channel, work).size());
  std::vector<MomentCurve> moments;
  std::vector<CurveParams> own;  // each curve with its own shape factor
  std::vector<double> shapes;
  std::string_view shape_name;
  switch (channel) {
    case TFitChannel::kLateral:
      shape_name = "PCy1";
      own = OwnShapeFits(curves, kLateralShape);
      if (work.Free(shape_name)) shapes = ShapeCandidates(ForceShapes(curves, own), kLateralShape);
      break;
    case TFitChannel::kLongitudinal:
      shape_name = "PCx1";
      own = OwnShapeFits(curves, kLongitudinalShape);
      if (work.Free(shape_name)) shapes = ShapeCandidates(ForceShapes(curves, own), kLongitudinalShape);
      break;
    case TFitChannel::kAligning:
      shape_name = "QCz1";
      moments = MomentCurves(work, curves);
      own = OwnTrailFits(moments);
      if (work.Free(shape_name)) shapes = ShapeCandidates(TrailShapes(own), kTrailShape);
      break;
  }
  if (shapes.empty()) shapes.push_back(work.Value(shape_name));

  // For each shape factor: the curves, their regression over load and
  // camber, then the whole channel at once from there.  The lowest cost wins.
  const std::vector<std::string> names = FreeNamesOf(channel, work);
  TStartEstimate estimate;
  estimate.cost = std::numeric_limits<double>::infinity();
  TMemoryCoefficientSet best = work;
  for (double shape : shapes) {
    TMemoryCoefficientSet trial = work;
    TStartEstimate proposed;
    try {
      switch (channel) {
        case TFitChannel::kLateral: EstimateLateral(trial, curves, shape, own, proposed); break;
        case TFitChannel::kAligning: EstimateAligning(trial, curves, moments, shape, own, proposed); break;
        case TFitChannel::kLongitudinal: EstimateLongitudinal(trial, curves, shape, own, proposed); break;
      }
    } catch (const EConvertError&) {
      throw;
    } catch (const std::exception&) {
      continue;
    }
    ClearFpFaults();
    proposed.cost = CostOrInfinity(channel, trial, data);
    if (!names.empty()) {
      try {
        const TTrustRegionResult fit = FitTrustRegion(channel, trial, names, data);
        if (fit.usable && fit.final_cost < proposed.cost) {
          TMemoryCoefficientSet fitted = trial;
          for (size_t k = 0; k < names.size(); ++k) fitted.SetText(names[k], FloatToStr(fit.values[k]));
          const double cost = CostOrInfinity(channel, fitted, data);
          if (cost < proposed.cost) {
            trial = fitted;
            proposed.cost = cost;
            for (const std::string& name : names)
              if (std::find(proposed.changed.begin(), proposed.changed.end(), name) == proposed.changed.end())
                proposed.changed.push_back(name);
          }
        }
      } catch (const EConvertError&) {
        throw;
      } catch (const std::exception&) {
        // The values of the curves stand.
      }
    }
    ClearFpFaults();
    if (proposed.cost < estimate.cost || estimate.changed.empty()) {
      estimate = proposed;
      best = trial;
    }
  }
  if (!std::isfinite(estimate.cost))
    throw std::invalid_argument("No start values could be estimated: the model cannot be evaluated at any of them.");
  work = best;
  NormalisePeakSign(channel, work, curves, estimate);

  for (const std::string& name : estimate.changed) set.SetText(name, work.Text(name));
  return estimate;
}

double TCurveFloor::Variance() const {
  return points > parameters ? cost / static_cast<double>(points - parameters) : kNaN;
}

TCurveFloor CurveFitFloor(TFitChannel channel, const TCoefficientSet& set, const TTireDataSet& data) {
  TCurveFloor floor;
  const std::vector<TMeasuredCurve> curves = MeasuredCurves(data, channel != TFitChannel::kLongitudinal);
  const auto count = [&floor](const TMeasuredCurve& curve, size_t parameters, double cost) {
    if (curve.x.size() <= parameters || !std::isfinite(cost)) return;
    floor.cost += cost;
    floor.points += curve.x.size();
    floor.parameters += parameters;
    ++floor.curves;
  };
  if (channel == TFitChannel::kAligning) {
    TMemoryCoefficientSet work;
    CopyCoefficients(set, work);
    const std::vector<MomentCurve> moments = MomentCurves(work, curves);
    const std::vector<CurveParams> fits = OwnTrailFits(moments);
    for (size_t c = 0; c < moments.size() && c < fits.size(); ++c) {
      if (!std::isfinite(fits[c].cost)) continue;
      double cost = 0;
      for (size_t i = 0; i < curves[c].x.size(); ++i) {
        const double r = curves[c].y[i] - MomentShape(fits[c].p.data(), moments[c], i);
        cost += r * r;
      }
      count(curves[c], kMomentParams, cost);
    }
  } else {
    const std::vector<CurveParams> fits =
        OwnShapeFits(curves, channel == TFitChannel::kLateral ? kLateralShape : kLongitudinalShape);
    for (size_t c = 0; c < curves.size() && c < fits.size(); ++c) {
      if (!std::isfinite(fits[c].cost)) continue;
      double cost = 0;
      for (size_t i = 0; i < curves[c].x.size(); ++i) {
        const double r = curves[c].y[i] - ForceShape(fits[c].p.data(), curves[c].x[i]);
        cost += r * r;
      }
      count(curves[c], kForceParams, cost);
    }
  }
  ClearFpFaults();
  return floor;
}

}  // namespace morvex
