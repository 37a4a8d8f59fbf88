#include "report/CombinedCurves.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

// Distinct colours for up to eight slip angles or loads, then repeated.
TReportColor PaletteColor(size_t index) {
  static const TReportColor kColors[] = {{31, 119, 180}, {214, 39, 40},  {44, 160, 44},  {148, 103, 189},
                                       {255, 127, 14}, {23, 190, 207}, {140, 86, 75},  {227, 119, 194}};
  return kColors[index % (sizeof kColors / sizeof kColors[0])];
}

std::string Num(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 4, 0); }

// A programme finds its set-points per sweep, so one held load comes out a
// little different for each slip angle (the load drifts): values this near
// are one set-point.
bool NearAngle(double a, double b) { return std::fabs(a - b) <= 0.3; }                               // deg
bool NearLoad(double a, double b) { return std::fabs(a - b) <= 0.08 * std::max(std::fabs(a), std::fabs(b)); }

// The set-points among `values`: ascending runs of near values, each given
// by its mean.
template <class Near>
std::vector<double> SetPoints(std::vector<double> values, Near near) {
  std::sort(values.begin(), values.end());
  std::vector<double> points;
  size_t first = 0;
  double sum = 0;
  for (size_t i = 0; i <= values.size(); ++i) {
    if (i == values.size() || (i > first && !near(values[first], values[i]))) {
      if (i > first) points.push_back(sum / static_cast<double>(i - first));
      if (i == values.size()) break;
      first = i, sum = 0;
    }
    sum += values[i];
  }
  return points;
}

double Quantity(TCombinedStage stage, const TCombinedSample& s) { return CombinedStageValue(stage, s); }

double Quantity(TCombinedStage stage, const TCombinedPoint& p) {
  switch (stage) {
    case TCombinedStage::kFx: return p.Fx;
    case TCombinedStage::kFy: return p.Fy;
    case TCombinedStage::kMz: return p.Mz;
    case TCombinedStage::kMx: return p.Mx;
    case TCombinedStage::kMy: return p.My;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

void AddDistinct(std::vector<double>& values, double value) {
  if (!std::isfinite(value)) return;
  for (double v : values)
    if (v == value) return;
  values.push_back(value);
}

TCombinedPoint ModelAt(const TCombinedModel& m, double camber, double load, double slip_angle, double kappa,
                       double speed) {
  return CombinedPointAt(m.lateral, m.aligning, m.longitudinal, m.combined, m.r0, camber, load, slip_angle, kappa,
                         std::isfinite(speed) ? speed : m.longvl, m.longvl);
}

// The samples of one held (camber, load, slip angle), their slip-ratio
// span, and the mean of their set-points and speed, where the model is
// evaluated.
struct Group {
  std::vector<const TCombinedSample*> samples;
  double kappa_min = std::numeric_limits<double>::infinity();
  double kappa_max = -std::numeric_limits<double>::infinity();
  double camber = 0, load = 0, slip_angle = 0;
  double speed = std::numeric_limits<double>::quiet_NaN();
};

Group Collect(const TCombinedDataSet& data, double camber, double load, double slip_angle) {
  Group g;
  double speed_sum = 0;
  size_t speeds = 0;
  for (const TCombinedSample& s : data.samples) {
    if (!NearAngle(s.camber, camber) || !NearLoad(s.load, load) || !NearAngle(s.slip_angle, slip_angle)) continue;
    if (!std::isfinite(s.slip_ratio)) continue;
    g.samples.push_back(&s);
    g.kappa_min = std::min(g.kappa_min, s.slip_ratio);
    g.kappa_max = std::max(g.kappa_max, s.slip_ratio);
    g.camber += s.camber, g.load += s.load, g.slip_angle += s.slip_angle;
    if (std::isfinite(s.speed)) speed_sum += s.speed, ++speeds;
  }
  if (!g.samples.empty()) {
    const double n = static_cast<double>(g.samples.size());
    g.camber /= n, g.load /= n, g.slip_angle /= n;
  }
  if (speeds > 0) g.speed = speed_sum / static_cast<double>(speeds);
  return g;
}

constexpr int kModelPoints = 41;

}  // namespace

TCombinedModel MakeCombinedModel(const TCoefficientSet& pure, const TCombinedCoefficients& combined, double longvl) {
  TCombinedModel model;
  model.lateral = ReadLateralCoefficients(pure);
  model.aligning = ReadAligningCoefficients(pure);
  model.longitudinal = ReadLongitudinalCoefficients(pure);
  model.r0 = pure.Value("R0");
  model.combined = combined;
  if (std::isfinite(longvl) && longvl > 0) model.longvl = longvl;
  return model;
}

std::vector<double> CombinedCambers(const TCombinedDataSet& data) {
  std::vector<double> values;
  for (const TCombinedSample& s : data.samples) AddDistinct(values, s.camber);
  return SetPoints(values, NearAngle);
}

std::vector<double> CombinedLoads(const TCombinedDataSet& data, double camber) {
  std::vector<double> values;
  for (const TCombinedSample& s : data.samples)
    if (NearAngle(s.camber, camber) && s.load > 0) AddDistinct(values, s.load);
  return SetPoints(values, NearLoad);
}

std::vector<double> CombinedSlipAngles(const TCombinedDataSet& data, double camber, double load) {
  std::vector<double> values;
  for (const TCombinedSample& s : data.samples)
    if (NearAngle(s.camber, camber) && NearLoad(s.load, load)) AddDistinct(values, s.slip_angle);
  return SetPoints(values, NearAngle);
}

std::vector<TCombinedCurve> CombinedSlipCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                               TCombinedStage stage, double camber, double load) {
  std::vector<TCombinedCurve> curves;
  const std::vector<double> angles = CombinedSlipAngles(data, camber, load);
  for (size_t a = 0; a < angles.size(); ++a) {
    const Group g = Collect(data, camber, load, angles[a]);
    TCombinedCurve measured;
    measured.title = "data " + Num(angles[a]) + " deg";
    measured.color = PaletteColor(a);
    measured.measured = true;
    measured.in_legend = false;  // the legend names the slip angle once, by its line
    for (const TCombinedSample* s : g.samples) {
      const double value = Quantity(stage, *s);
      if (std::isfinite(value)) measured.points.emplace_back(s->slip_ratio, value);
    }
    if (measured.points.empty()) continue;
    TCombinedCurve line;
    line.title = Num(angles[a]) + " deg";
    line.color = measured.color;
    for (int i = 0; i < kModelPoints; ++i) {
      const double kappa = g.kappa_min + (g.kappa_max - g.kappa_min) * i / (kModelPoints - 1);
      line.points.emplace_back(kappa,
                               Quantity(stage, ModelAt(model, g.camber, g.load, g.slip_angle, kappa, g.speed)));
    }
    curves.push_back(std::move(line));
    curves.push_back(std::move(measured));
  }
  return curves;
}

std::vector<TCombinedCurve> FrictionEllipseCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                                  double camber) {
  std::vector<TCombinedCurve> curves;
  const std::vector<double> loads = CombinedLoads(data, camber);
  for (size_t l = 0; l < loads.size(); ++l) {
    TCombinedCurve measured;
    measured.title = "data " + Num(loads[l]) + " N";
    measured.color = PaletteColor(l);
    measured.measured = true;
    measured.in_legend = false;
    bool named = false;
    for (double angle : CombinedSlipAngles(data, camber, loads[l])) {
      const Group g = Collect(data, camber, loads[l], angle);
      for (const TCombinedSample* s : g.samples)
        if (std::isfinite(s->fx) && std::isfinite(s->fy)) measured.points.emplace_back(s->fx, s->fy);
      if (g.samples.empty()) continue;
      TCombinedCurve line;
      line.title = Num(loads[l]) + " N";
      line.color = measured.color;
      line.in_legend = !named;
      named = true;
      for (int i = 0; i < kModelPoints; ++i) {
        const double kappa = g.kappa_min + (g.kappa_max - g.kappa_min) * i / (kModelPoints - 1);
        const TCombinedPoint p = ModelAt(model, g.camber, g.load, g.slip_angle, kappa, g.speed);
        line.points.emplace_back(p.Fx, p.Fy);
      }
      curves.push_back(std::move(line));
    }
    if (!measured.points.empty()) curves.push_back(std::move(measured));
  }
  return curves;
}


namespace {

// A point the stage's fit takes: its quantity measured at a positive load,
// and for My the wheel's speed with it.
bool StageUses(TCombinedStage stage, const TCombinedSample& s) {
  if (!std::isfinite(Quantity(stage, s)) || !(s.load > 0) || !std::isfinite(s.slip_ratio)) return false;
  return stage != TCombinedStage::kMy || (std::isfinite(s.speed) && s.speed != 0.0);
}

}  // namespace

std::vector<TCombinedCurve> CombinedResidualCurves(const TCombinedDataSet& data, const TCombinedModel& model,
                                                   TCombinedStage stage, double camber, double load) {
  std::vector<TCombinedCurve> curves;
  const std::vector<double> angles = CombinedSlipAngles(data, camber, load);
  for (size_t a = 0; a < angles.size(); ++a) {
    const Group g = Collect(data, camber, load, angles[a]);
    TCombinedCurve residual;
    residual.title = Num(angles[a]) + " deg";
    residual.color = PaletteColor(a);
    residual.measured = true;
    for (const TCombinedSample* s : g.samples) {
      if (!StageUses(stage, *s)) continue;
      const double value = Quantity(stage, *s);
      const double at = Quantity(stage, ModelAt(model, s->camber, s->load, s->slip_angle, s->slip_ratio, s->speed));
      residual.points.emplace_back(s->slip_ratio, value - at);
    }
    if (residual.points.empty()) continue;
    std::stable_sort(residual.points.begin(), residual.points.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    curves.push_back(std::move(residual));
  }
  return curves;
}

namespace {

// Sums of one curve's (or one stage's) residuals.
struct FitSums {
  long double sum = 0, squares = 0, ssr = 0;
  TCombinedCurveFit fit;

  void Add(TCombinedStage stage, const TCombinedModel& model, const TCombinedSample& s) {
    if (!StageUses(stage, s)) return;
    const double value = Quantity(stage, s);
    const double error =
        value - Quantity(stage, ModelAt(model, s.camber, s.load, s.slip_angle, s.slip_ratio, s.speed));
    sum += value;
    squares += static_cast<long double>(value) * value;
    ssr += static_cast<long double>(error) * error;
    fit.max_error = std::max(fit.max_error, std::fabs(error));
    ++fit.points;
  }

  TCombinedCurveFit Result() const {
    TCombinedCurveFit out = fit;
    if (out.points == 0) return out;
    const long double n = static_cast<long double>(out.points);
    out.rms = static_cast<double>(std::sqrt(ssr / n));
    const long double sst = squares - sum * sum / n;
    // A spread below rounding is no spread: R^2 means nothing there.
    out.r_squared = sst > 1e-12L * squares ? static_cast<double>(1.0L - ssr / sst)
                                           : std::numeric_limits<double>::quiet_NaN();
    return out;
  }
};

}  // namespace

std::vector<TCombinedCurveFit> CombinedCurveFits(const TCombinedDataSet& data, const TCombinedModel& model,
                                                 TCombinedStage stage) {
  std::vector<TCombinedCurveFit> fits;
  for (double camber : CombinedCambers(data))
    for (double load : CombinedLoads(data, camber))
      for (double angle : CombinedSlipAngles(data, camber, load)) {
        const Group g = Collect(data, camber, load, angle);
        FitSums sums;
        sums.fit.camber = g.camber, sums.fit.load = g.load, sums.fit.slip_angle = g.slip_angle;
        for (const TCombinedSample* s : g.samples) sums.Add(stage, model, *s);
        if (sums.fit.points > 0) fits.push_back(sums.Result());
      }
  return fits;
}

TCombinedCurveFit CombinedStageFit(const TCombinedDataSet& data, const TCombinedModel& model, TCombinedStage stage) {
  FitSums sums;
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  sums.fit.camber = kNaN, sums.fit.load = kNaN, sums.fit.slip_angle = kNaN;
  for (const TCombinedSample& s : data.samples) sums.Add(stage, model, s);
  return sums.Result();
}

}  // namespace morvex
