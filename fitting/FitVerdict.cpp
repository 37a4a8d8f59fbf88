#include "fitting/FitVerdict.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>

#include "fitting/ChannelModel.h"
#include "fitting/MeasuredCurves.h"
#include "fitting/StartEstimate.h"
#include "numerics/LxBasics.h"
#include "tiremodel/CoefficientTable.h"
#include "tiremodel/MagicFormula.h"
#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

namespace {

std::string Num(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 4, 0); }

const char* Stiffness(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "cornering stiffness";
    case TFitChannel::kAligning: return "aligning stiffness (the slope of Mz at zero slip)";
    case TFitChannel::kLongitudinal: return "slip stiffness";
  }
  return "stiffness";
}

const char* Sign(double v) { return v < 0 ? "negative" : "positive"; }

// The model at every point of the curves; false when it cannot be evaluated.
bool ModelCurves(TFitChannel channel, const TCoefficientSet& set,
                 const std::vector<TMeasuredCurve>& curves, std::vector<TMeasuredCurve>& model,
                 std::string& fault) {
  model = curves;
  try {
    for (TMeasuredCurve& curve : model)
      for (size_t i = 0; i < curve.y.size(); ++i)
        curve.y[i] = EvaluatePoint(channel, set, curve.camber, curve.fz, curve.slip[i]);
  } catch (const EConvertError&) {
    throw;
  } catch (const std::exception& error) {
    fault = error.what();
    return false;
  }
  return true;
}

// The share of the points of `curve` whose curvature factor, before its
// clamp at 1, exceeds 1.
double ClampedShare(TFitChannel channel, const TCoefficientSet& set, const TMeasuredCurve& curve) {
  size_t clamped = 0;
  switch (channel) {
    case TFitChannel::kLateral: {
      const TLateralCoefficients c = ReadLateralCoefficients(set);
      const auto t = mf::LateralLoad(c, curve.gamma, curve.fz, mf::LoadChange(curve.fz, c.Fz0, true), c.Fz0, true);
      for (double alpha : curve.x)
        if (t.e_base * (1.0 - t.e_asym * mf::Sgn(alpha + t.SHy)) > 1.0) ++clamped;
      break;
    }
    case TFitChannel::kLongitudinal: {
      const TLongitudinalCoefficients c = ReadLongitudinalCoefficients(set);
      const auto t = mf::LongitudinalLoad(c, curve.gamma, curve.fz);
      for (double kappa : curve.x)
        if (t.e_base * (1.0 - t.PEx4 * mf::Sgn(kappa + t.SHx)) > 1.0) ++clamped;
      break;
    }
    case TFitChannel::kAligning: {
      const TLateralCoefficients lateral = ReadLateralCoefficients(set);
      const TAligningCoefficients c = ReadAligningCoefficients(set);
      const auto t = mf::AligningLoad(lateral, c, set.Value("R0"), lateral.Fz0, curve.gamma, curve.fz, true);
      for (double alpha : curve.x) {
        const double at = alpha + t.SHt;
        if (t.e_base * (1.0 + t.e_slope * std::atan(t.BtCt * at)) > 1.0) ++clamped;
      }
      break;
    }
  }
  ClearFpFaults();
  return curve.x.empty() ? 0.0 : static_cast<double>(clamped) / static_cast<double>(curve.x.size());
}

std::string CurveName(const TMeasuredCurve& curve) {
  return "camber " + FloatToStr(curve.camber) + ", load " + FloatToStr(curve.fz);
}

const std::string kTryEstimate = "press Estimate start values (morvex-fit: --start estimate) and fit again";

// The peak and curvature coefficients: a slip range that stops before the
// peak leaves them to extrapolation.
const std::set<std::string, std::less<>> kPeakShape = {
    "PCy1", "PDy1", "PDy2", "PDy3", "PEy1", "PEy2", "PEy3", "PEy4",
    "QCz1", "QDz1", "QDz2", "QDz3", "QDz4", "QEz1", "QEz2", "QEz3", "QEz4", "QEz5",
    "PCx1", "PDx1", "PDx2", "PDx3", "PEx1", "PEx2", "PEx3", "PEx4"};

// Everything the rules look at, worked out once; the floor and the
// reference fit only when a rule asks for them.
struct TJudgement {
  TJudgement(const TFitOutcome& o, const TCoefficientSet& s, const TTireDataSet& d, const TVerdictOptions& opts)
      : outcome(o), set(s), data(d), options(opts), channel(o.channel) {}
  const TFitOutcome& outcome;
  const TCoefficientSet& set;
  const TTireDataSet& data;
  const TVerdictOptions& options;
  TFitChannel channel = TFitChannel::kLateral;

  bool evaluable = false;
  std::string fault;
  std::vector<TMeasuredCurve> curves, model;
  size_t points = 0;
  double ssr = 0;
  double r_squared = std::numeric_limits<double>::quiet_NaN();
  double rms = 0;
  double scale = 0;  // RMS of the measured values
  double scatter = std::numeric_limits<double>::quiet_NaN();
  // The coefficients the fit changed: its own list, or the set's free ones.
  std::vector<std::string> fitted;
  // A quality rule on the residuals found the fit poor.
  bool poor_fit = false;
  // Notes of quality rules that found no fault.
  std::vector<TVerdictReason> notes;

  const TCurveFloor& Floor() {
    if (!floor) {
      floor.emplace();
      try {
        *floor = CurveFitFloor(channel, set, data);
      } catch (const std::exception&) {
        *floor = TCurveFloor{};
      }
      ClearFpFaults();
    }
    return *floor;
  }
  // The residual variance, cost / (points - free coefficients), of a fit of
  // the channel from start values estimated from the data, with every
  // coefficient of the channel free but the rated load (unless the fit
  // freed it): a fixed coefficient at a wrong value is a fault too.  NaN
  // when there is none.
  double ReferenceVariance() {
    if (!reference) {
      reference = std::numeric_limits<double>::quiet_NaN();
      if (options.reference_fit) {
        const double last_cost = LastCost, radius = CurrentTireRadius;
        try {
          TMemoryCoefficientSet work;
          CopyCoefficients(set, work);
          for (const TCoefficientInfo& info : Coefficients())
            if (info.HasFreeFlag()) work.SetFree(info.name, false);
          size_t free = 0;
          for (std::string_view name : FreeOrder(channel)) {
            const bool fitted_here = std::find(fitted.begin(), fitted.end(), name) != fitted.end();
            if (name == "Fz0" && !fitted_here) continue;
            work.SetFree(name, true);
            ++free;
          }
          const TStartEstimate estimate = EstimateStartValues(channel, work, data);
          if (std::isfinite(estimate.cost) && points > free)
            reference = estimate.cost / static_cast<double>(points - free);
        } catch (const std::exception&) {
        }
        ClearFpFaults();
        LastCost = last_cost;
        CurrentTireRadius = radius;
      }
    }
    return *reference;
  }

 private:
  std::optional<TCurveFloor> floor;
  std::optional<double> reference;
};

using TReasons = std::vector<TVerdictReason>;

// ------------------------------------------------------------ quality rules

void OptimizerFailed(TJudgement& j, TReasons& out) {
  if (!j.outcome.optimizer_failed) return;
  const std::string detail =
      j.outcome.failure_detail.empty() ? j.outcome.failure_message : j.outcome.failure_detail;
  out.push_back({"optimizer-failed", "the optimizer stopped with an error: " + detail,
                 j.outcome.optimizer == TOptimizerChoice::kLevenbergMarquardt
                     ? "the values in the panel are where it stopped; undo them or " + kTryEstimate +
                           ", or use the trust region"
                     : kTryEstimate});
}

void Cancelled(TJudgement& j, TReasons& out) {
  if (!j.outcome.cancelled) return;
  out.push_back({"cancelled", "the fit was cancelled before it finished; the values are the best point it had reached",
                 "run the fit again to its end"});
}

void ModelFault(TJudgement& j, TReasons& out) {
  if (j.evaluable) return;
  out.push_back({"model-fault", "the model cannot be evaluated at the fitted values: " + j.fault,
                 "undo the fit, then " + kTryEstimate});
}

void TooFewPoints(TJudgement& j, TReasons& out) {
  const size_t free = j.fitted.size();
  if (free == 0 || static_cast<double>(j.points) >= j.options.points_per_coefficient * static_cast<double>(free))
    return;
  out.push_back({"too-few-points",
                 "the data hold " + std::to_string(j.points) + " points for " + std::to_string(free) +
                     " free coefficients, fewer than " + Num(j.options.points_per_coefficient) +
                     " per coefficient: the data cannot support the fit",
                 "fix the coefficients the data cannot show (the advice on the data names them), or measure more "
                 "loads, cambers and slips"});
}

// Whether a curve shows its peak, or the bend towards it that ties the
// peak and curvature coefficients: the largest or the smallest value lies
// between its ends, or the slope over the outer points of one end is under
// half the slope at zero slip (a shape factor under 1 has no peak at all,
// only the bend).
bool ShowsPeak(const TMeasuredCurve& curve) {
  const size_t n = curve.x.size();
  if (n < 6) return false;
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&curve](size_t a, size_t b) { return curve.x[a] < curve.x[b]; });
  size_t hi = 0, lo = 0;
  for (size_t k = 1; k < n; ++k) {
    if (curve.y[order[k]] > curve.y[order[hi]]) hi = k;
    if (curve.y[order[k]] < curve.y[order[lo]]) lo = k;
  }
  if ((hi != 0 && hi != n - 1) || (lo != 0 && lo != n - 1)) return true;
  double centre = 0, offset = 0;
  CentreLine(curve, centre, offset);
  if (!std::isfinite(centre) || centre == 0.0) return false;
  const size_t k = std::max<size_t>(3, n / 6);
  for (bool upper : {false, true}) {
    std::vector<double> ones, xs, ys;
    for (size_t i = 0; i < k; ++i) {
      const size_t at = order[upper ? n - 1 - i : i];
      ones.push_back(1.0);
      xs.push_back(curve.x[at]);
      ys.push_back(curve.y[at]);
    }
    const double slope = Regress({ones, xs}, ys)[1];
    if (slope / centre < 0.5) return true;
  }
  return false;
}

void ShortSlipRange(TJudgement& j, TReasons& out) {
  std::vector<std::string> extrapolated;
  for (const std::string& name : j.fitted)
    if (kPeakShape.count(name)) extrapolated.push_back(name);
  if (extrapolated.empty() || j.curves.empty()) return;
  size_t short_of_peak = 0;
  for (const TMeasuredCurve& curve : j.curves)
    if (!ShowsPeak(curve)) ++short_of_peak;
  if (static_cast<double>(short_of_peak) <= j.options.most * static_cast<double>(j.curves.size())) return;
  std::string names;
  for (size_t k = 0; k < extrapolated.size() && k < 4; ++k) names += (k ? ", " : "") + extrapolated[k];
  if (extrapolated.size() > 4) names += " and " + std::to_string(extrapolated.size() - 4) + " more";
  out.push_back({"short-slip-range",
                 "the slip range of " + std::to_string(short_of_peak) + " of " + std::to_string(j.curves.size()) +
                     " curves stops before the peak: the free peak and curvature coefficients (" + names +
                     ") are extrapolated, not measured",
                 "fix the peak and curvature coefficients at values known for this tire, or measure beyond the peak"});
}

void LowRSquared(TJudgement& j, TReasons& out) {
  if (!std::isfinite(j.r_squared) || j.r_squared >= j.options.poor_r_squared) return;
  j.poor_fit = true;
  out.push_back({"low-r2",
                 "R^2 is " + Num(j.r_squared) + ", under " + Num(j.options.poor_r_squared) +
                     ": the model misses most of the variation of the measurements",
                 kTryEstimate + "; check that the data file holds this channel and that no coefficient is fixed at a "
                                "wrong value"});
}

// Residuals above the noise: the neighbour scatter, or what each curve
// fitted alone leaves where that is more (binned data, drift within a
// curve).  They are a fault only when the model can do better on these
// data: a fit of the same coefficients from estimated start values shows
// whether it can.  Binned rig data whose curves disagree with one another
// (a load held off its label) leave residuals far above the noise that no
// fit of the model removes; those get a note.
void Misfit(TJudgement& j, TReasons& out) {
  // Residuals that are rounding beside the measured values say nothing.
  if (j.points == 0 || !(j.rms > 1e-9 * j.scale) || !std::isfinite(j.ssr)) return;
  const TCurveFloor& floor = j.Floor();
  const double floor_variance = floor.Variance();
  const double floor_rms = std::isfinite(floor_variance) ? std::sqrt(floor_variance) : 0.0;
  const double scatter = std::isfinite(j.scatter) ? j.scatter : 0.0;
  const double noise = std::max(scatter, floor_rms);
  const size_t free = j.fitted.size();
  const double variance = j.ssr / static_cast<double>(j.points > free ? j.points - free : 1);
  const bool above_noise = noise > 0 && j.rms > j.options.poor_noise_ratio * noise;
  const bool above_scatter = scatter > 0 && j.rms > j.options.poor_noise_ratio * scatter;
  const bool above_floor = floor_variance > 0 && variance > j.options.suspect_variance_ratio * floor_variance;
  if (!above_scatter && !above_floor) return;

  const double reference = j.ReferenceVariance();
  const bool judged = std::isfinite(reference);
  const bool better = judged && variance > j.options.better_fit_ratio * reference;
  const std::string against =
      scatter >= floor_rms
          ? " times the scatter of the measurements (about " + Num(scatter) + ")"
          : " times what each curve fitted alone leaves (about " + Num(floor_rms) + ")";
  const std::string ratio = Num(j.rms / noise);
  if (above_noise && (better || !judged)) {
    j.poor_fit = true;
    out.push_back({"misfit",
                   "the residuals (RMS " + Num(j.rms) + ") are " + ratio + against +
                       ": the model misses the shape of the curves" +
                       (better ? "; a fit from estimated start values leaves residuals of about " +
                                     Num(std::sqrt(reference))
                               : std::string()),
                   kTryEstimate + "; look at the residual view for the curves it misses"});
  } else if (better) {
    j.poor_fit = true;
    out.push_back({"better-fit",
                   "a fit of the channel from start values estimated from the data leaves a residual variance " +
                       Num(variance / std::max(reference, 1e-300)) + " times lower than this fit's (RMS about " +
                       Num(std::sqrt(reference)) + " against " + Num(std::sqrt(variance)) + ")",
                   kTryEstimate + "; check that no coefficient is fixed at a wrong value"});
  } else if (above_noise && judged) {
    j.notes.push_back({"residuals-above-noise",
                     "the residuals (RMS " + Num(j.rms) + ") are " + ratio + against +
                         ", but a fit from estimated start values does no better: the curves differ from one another "
                         "more than the model's load and camber terms allow (a load held off its set-point, drift "
                         "during the run)",
                     "look at the residual view; check the run's loads and the import's set-points"});
  }
}

void AgainstTheStart(TJudgement& j, TReasons& out) {
  const TFitOutcome& o = j.outcome;
  if (!std::isfinite(o.start_cost) || !std::isfinite(o.final_cost) || o.cancelled) return;
  if (o.final_cost > o.start_cost * (1.0 + j.options.cost_rise_tolerance))
    out.push_back({"cost-rose",
                   "the fit ended with a higher cost (" + Num(o.final_cost) + ") than its start values (" +
                       Num(o.start_cost) + ")",
                   "undo the fit; " + kTryEstimate + ", or use the trust region"});
  else if (o.final_cost >= o.start_cost * (1.0 - 1e-9) && j.poor_fit && !o.start_was_fit)
    out.push_back({"cost-not-lowered",
                   "the cost did not fall below that of the start values (" + Num(o.start_cost) + ")",
                   "the fit could not move from its start: " + kTryEstimate});
}

void IterationLimit(TJudgement& j, TReasons& out) {
  if (j.outcome.iteration_limit)
    out.push_back({"iteration-limit", "the trust region was still improving when it reached its iteration limit",
                   "fit again from this result to continue"});
  if (j.outcome.search_still_improving)
    out.push_back({"iteration-limit",
                   "the search's best cost still fell by more than 1 % over its last tenth of generations",
                   "raise NB_GEN in configuration.ini, or polish the result with the trust region"});
}

void SlopeSign(TJudgement& j, TReasons& out) {
  size_t judged = 0, opposite = 0;
  double data_slope = 0, model_slope = 0;
  for (size_t c = 0; c < j.curves.size(); ++c) {
    if (j.curves[c].x.size() < 3) continue;
    double ds = 0, dc = 0, ms = 0, mc = 0;
    CentreLine(j.curves[c], ds, dc);
    CentreLine(j.model[c], ms, mc);
    if (!std::isfinite(ds) || !std::isfinite(ms) || ds == 0.0) continue;
    ++judged;
    if ((ds > 0) != (ms > 0) && ms != 0.0) {
      ++opposite;
      data_slope = ds;
      model_slope = ms;
    }
  }
  if (judged == 0 || static_cast<double>(opposite) <= j.options.most * static_cast<double>(judged)) return;
  std::string text = std::string("the data's ") + Stiffness(j.channel) + " is " + Sign(data_slope) +
                     " and the model's is " + Sign(model_slope);
  if (j.channel == TFitChannel::kLateral) {
    try {
      text = std::string("the data's cornering stiffness is ") + Sign(data_slope) + " and PKy1 is " +
             Sign(j.set.Value("PKy1"));
    } catch (const std::exception&) {
    }
  } else if (j.channel == TFitChannel::kLongitudinal) {
    try {
      text = std::string("the data's slip stiffness is ") + Sign(data_slope) + " and the model's (PKx1 " +
             Num(j.set.Value("PKx1")) + ") is " + Sign(model_slope);
    } catch (const std::exception&) {
    }
  }
  out.push_back({"slope-sign", text + " on " + std::to_string(opposite) + " of " + std::to_string(judged) + " curves",
                 j.channel == TFitChannel::kAligning ? "fit the lateral force first, then " + kTryEstimate
                                                     : kTryEstimate});
}

// -------------------------------------------------------------------- notes

// A search interval's edge: the best value may lie outside it, yet a result
// at its best cost is no worse for it.
void AtBound(TJudgement& j, TReasons& out) {
  const TFitOutcome& o = j.outcome;
  for (size_t k = 0; k < o.fitted.size() && k < o.search_min.size() && k < o.search_max.size(); ++k) {
    const double lo = o.search_min[k], hi = o.search_max[k];
    double value = 0;
    try {
      value = j.set.Value(o.fitted[k]);
    } catch (const std::exception&) {
      continue;
    }
    const double margin = 1e-3 * std::max(hi - lo, 1e-12);
    if (value <= lo + margin || value >= hi - margin) {
      const std::string stem = AsciiUpper(o.fitted[k]);
      out.push_back({"at-bound",
                     o.fitted[k] + " ended at " + Num(value) + ", at or beyond an edge of its search interval [" +
                         Num(lo) + ", " + Num(hi) + "]: the best value may lie outside it",
                     "widen " + stem + "_MIN/" + stem + "_MAX in configuration.ini, or " + kTryEstimate});
    }
  }
}

// E above 1 is used as 1; published tires have it at high load or camber,
// where their data need it.
void CurvatureClamped(TJudgement& j, TReasons& out) {
  try {
    std::vector<std::string> clamped;
    for (const TMeasuredCurve& curve : j.curves)
      if (ClampedShare(j.channel, j.set, curve) > j.options.most) clamped.push_back(CurveName(curve));
    if (clamped.empty()) return;
    std::string which = clamped.front();
    if (clamped.size() > 1) which += " and " + std::to_string(clamped.size() - 1) + " more";
    out.push_back({"curvature-clamped",
                   "the curvature factor E exceeds 1, and is used as 1, on most points of " +
                       std::to_string(clamped.size()) + (clamped.size() == 1 ? " curve" : " curves") + " (" + which +
                       ")",
                   "nothing, when the residuals of those curves are small; otherwise " + kTryEstimate});
  } catch (const std::exception&) {
    ClearFpFaults();
  }
}

// D and B = K / (C D) can change sign together without changing a single
// value of the curve; a real tire's peak factor is positive in either sign
// convention (the stiffness carries the curve's sign), and the estimate
// ends on it.  The curves are the same either way, so this is a note.
void PeakSign(TJudgement& j, TReasons& out) {
  if (j.channel == TFitChannel::kAligning) return;
  const bool lateral = j.channel == TFitChannel::kLateral;
  const char* d1 = lateral ? "PDy1" : "PDx1";
  const char* d2 = lateral ? "PDy2" : "PDx2";
  try {
    const double fz0 = j.set.Value("Fz0"), p1 = j.set.Value(d1), p2 = j.set.Value(d2);
    size_t judged = 0, negative = 0;
    for (const TMeasuredCurve& curve : j.curves) {
      const double d = p1 + p2 * ((curve.fz - fz0) / fz0);
      if (!std::isfinite(d)) continue;
      ++judged;
      if (d < 0) ++negative;
    }
    if (judged == 0 || static_cast<double>(negative) <= j.options.most * static_cast<double>(judged)) return;
    out.push_back({"peak-sign",
                   std::string("the peak factor D (") + d1 + " " + Num(p1) + ", " + d2 + " " + Num(p2) +
                       ") is negative on " + std::to_string(negative) + " of " + std::to_string(judged) +
                       " curves: with the stiffness factor B it is the mirror image of a positive peak factor, "
                       "which gives the same curves",
                   std::string("negate ") + d1 + " and " + d2 + " (the curves stay the same), or " + kTryEstimate +
                       ", which ends on the positive peak factor"});
  } catch (const std::exception&) {
  }
}

enum class TRuleKind { kQuality, kNote };
struct TRule {
  TRuleKind kind;
  void (*apply)(TJudgement&, TReasons&);
};

// In the order of the report.  The rules on the residuals come before those
// that read what they found (poor_fit).
constexpr TRule kRules[] = {
    {TRuleKind::kQuality, OptimizerFailed}, {TRuleKind::kQuality, Cancelled},
    {TRuleKind::kQuality, ModelFault},      {TRuleKind::kQuality, TooFewPoints},
    {TRuleKind::kQuality, ShortSlipRange},  {TRuleKind::kQuality, LowRSquared},
    {TRuleKind::kQuality, Misfit},
    {TRuleKind::kQuality, AgainstTheStart}, {TRuleKind::kQuality, IterationLimit},
    {TRuleKind::kQuality, SlopeSign},       {TRuleKind::kNote, AtBound},
    {TRuleKind::kNote, CurvatureClamped},   {TRuleKind::kNote, PeakSign},
};

void Measure(TJudgement& j) {
  const bool angles = j.channel != TFitChannel::kLongitudinal;
  j.curves = MeasuredCurves(j.data, angles, 1);
  try {
    j.evaluable = ModelCurves(j.channel, j.set, j.curves, j.model, j.fault);
  } catch (const EConvertError& error) {
    j.fault = error.what();
  }
  if (!j.evaluable) return;
  long double ssr = 0, sum = 0, sum_squares = 0;
  for (size_t c = 0; c < j.curves.size(); ++c)
    for (size_t i = 0; i < j.curves[c].y.size(); ++i) {
      const double r = j.curves[c].y[i] - j.model[c].y[i];
      ssr += static_cast<long double>(r) * r;
      sum += j.curves[c].y[i];
      sum_squares += static_cast<long double>(j.curves[c].y[i]) * j.curves[c].y[i];
      ++j.points;
    }
  if (j.points == 0) return;
  const long double sst = sum_squares - sum * sum / j.points;
  j.ssr = static_cast<double>(ssr);
  j.r_squared = sst > 0 ? static_cast<double>(1.0L - ssr / sst) : std::numeric_limits<double>::quiet_NaN();
  j.rms = static_cast<double>(std::sqrt(ssr / j.points));
  j.scale = static_cast<double>(std::sqrt(sum_squares / j.points));
  j.scatter = MeasurementScatter(MeasuredCurves(j.data, angles, 3));
}

}  // namespace

TFitVerdict JudgeFit(const TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data,
                     const TVerdictOptions& options) {
  TJudgement j(outcome, set, data, options);
  if (!outcome.fitted.empty()) {
    j.fitted = outcome.fitted;
  } else {
    for (std::string_view name : FreeOrder(j.channel))
      if (set.Free(name) && !(j.channel == TFitChannel::kAligning && name == "Fz0")) j.fitted.emplace_back(name);
  }
  Measure(j);

  TFitVerdict verdict;
  for (const TRule& rule : kRules) {
    TReasons found;
    rule.apply(j, found);
    TReasons& into = rule.kind == TRuleKind::kQuality ? verdict.reasons : verdict.notes;
    into.insert(into.end(), found.begin(), found.end());
    if (!j.evaluable && rule.apply == ModelFault) break;
  }
  verdict.notes.insert(verdict.notes.begin(), j.notes.begin(), j.notes.end());
  verdict.poor = !verdict.reasons.empty();
  return verdict;
}

std::string VerdictLine(const TFitVerdict& verdict) {
  if (!verdict.poor) return "good";
  std::string line = "poor reason=";
  for (size_t k = 0; k < verdict.reasons.size(); ++k) {
    if (k > 0) line += ',';
    line += verdict.reasons[k].code;
  }
  return line;
}

void MarkStartAsFit(TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data) {
  outcome.start_was_fit = true;
  outcome.verdict = JudgeFit(outcome, set, data);
}

size_t ChannelPointCount(TFitChannel channel, const TTireDataSet& data) {
  size_t points = 0;
  for (const TMeasuredCurve& curve : MeasuredCurves(data, channel != TFitChannel::kLongitudinal, 1))
    points += curve.x.size();
  return points;
}

std::string FewPointsMessage(size_t points, size_t free) {
  return "The data hold " + std::to_string(points) + (points == 1 ? " point" : " points") + " of this channel for " +
         std::to_string(free) + " free coefficients: no fit can tell more values than there are points. Fix " +
         "coefficients, or load data that hold this channel (a run sweeping the slip this channel needs).";
}

void RequireEnoughPoints(TFitChannel channel, const TTireDataSet& data, size_t free) {
  const size_t points = ChannelPointCount(channel, data);
  if (points < free) throw Exception(FewPointsMessage(points, free));
}

}  // namespace morvex
