#include "fitting/FitVerdict.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fitting/ChannelModel.h"
#include "fitting/MeasuredCurves.h"
#include "numerics/LxBasics.h"
#include "tiremodel/MagicFormulaKernels.h"

namespace morvex {

namespace {

// A cost above the start's by more than this share is a rise: the
// Levenberg-Marquardt path's write-back with 5 decimals alone may lift a
// solution's cost by a few millionths.
constexpr double kCostRiseTolerance = 1e-3;

std::string Num(double value) { return FloatToStrF(value, TFloatFormat::kGeneral, 4, 0); }

void Add(TFitVerdict& verdict, std::string code, std::string text, std::string advice) {
  verdict.poor = true;
  verdict.reasons.push_back({std::move(code), std::move(text), std::move(advice)});
}

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

}  // namespace

TFitVerdict JudgeFit(const TFitOutcome& outcome, const TCoefficientSet& set, const TTireDataSet& data) {
  TFitVerdict verdict;
  const TFitChannel channel = outcome.channel;
  const std::string try_estimate = "press Estimate start values (morvex-fit: --start estimate) and fit again";

  if (outcome.optimizer_failed) {
    const std::string detail = outcome.failure_detail.empty() ? outcome.failure_message : outcome.failure_detail;
    Add(verdict, "optimizer-failed", "the optimizer stopped with an error: " + detail,
        outcome.optimizer == TOptimizerChoice::kLevenbergMarquardt
            ? "the values in the panel are where it stopped; undo them or " + try_estimate +
                  ", or use the trust region"
            : try_estimate);
  }
  if (outcome.cancelled)
    Add(verdict, "cancelled", "the fit was cancelled before it finished; the values are the best point it had reached",
        "run the fit again to its end");

  const bool angles = channel != TFitChannel::kLongitudinal;
  const std::vector<TMeasuredCurve> curves = MeasuredCurves(data, angles, 1);
  std::vector<TMeasuredCurve> model;
  std::string fault;
  bool evaluable = false;
  try {
    evaluable = ModelCurves(channel, set, curves, model, fault);
  } catch (const EConvertError& error) {
    fault = error.what();
  }
  if (!evaluable) {
    Add(verdict, "model-fault", "the model cannot be evaluated at the fitted values: " + fault,
        "undo the fit, then " + try_estimate);
    return verdict;
  }

  // Goodness of fit.
  long double ssr = 0, sum = 0, sum_squares = 0;
  size_t points = 0;
  for (size_t c = 0; c < curves.size(); ++c)
    for (size_t i = 0; i < curves[c].y.size(); ++i) {
      const double r = curves[c].y[i] - model[c].y[i];
      ssr += static_cast<long double>(r) * r;
      sum += curves[c].y[i];
      sum_squares += static_cast<long double>(curves[c].y[i]) * curves[c].y[i];
      ++points;
    }
  bool poor_fit = false;
  if (points > 0) {
    const long double sst = sum_squares - sum * sum / points;
    const double r_squared = sst > 0 ? static_cast<double>(1.0L - ssr / sst) : std::numeric_limits<double>::quiet_NaN();
    const double rms = static_cast<double>(std::sqrt(ssr / points));
    if (std::isfinite(r_squared) && r_squared < kPoorRSquared) {
      poor_fit = true;
      Add(verdict, "low-r2",
          "R^2 is " + Num(r_squared) + ", under " + Num(kPoorRSquared) +
              ": the model misses most of the variation of the measurements",
          try_estimate + "; check that the data file holds this channel and that no coefficient is fixed at a wrong value");
    }
    const double scatter = MeasurementScatter(MeasuredCurves(data, angles, 3));
    if (std::isfinite(scatter) && scatter > 0 && rms > kPoorScatterRatio * scatter) {
      poor_fit = true;
      Add(verdict, "misfit",
          "the residuals (RMS " + Num(rms) + ") are " + Num(rms / scatter) +
              " times the scatter of the measurements (about " + Num(scatter) +
              "): the model misses the shape of the curves",
          try_estimate + "; look at the residual view for the curves it misses");
    }
  }

  // Against the start values.
  if (std::isfinite(outcome.start_cost) && std::isfinite(outcome.final_cost) && !outcome.cancelled) {
    if (outcome.final_cost > outcome.start_cost * (1.0 + kCostRiseTolerance))
      Add(verdict, "cost-rose",
          "the fit ended with a higher cost (" + Num(outcome.final_cost) + ") than its start values (" +
              Num(outcome.start_cost) + ")",
          "undo the fit; " + try_estimate + ", or use the trust region");
    else if (outcome.final_cost >= outcome.start_cost * (1.0 - 1e-9) && poor_fit)
      Add(verdict, "cost-not-lowered",
          "the cost did not fall below that of the start values (" + Num(outcome.start_cost) + ")",
          "the fit could not move from its start: " + try_estimate);
  }

  if (outcome.iteration_limit)
    Add(verdict, "iteration-limit", "the trust region was still improving when it reached its iteration limit",
        "fit again from this result to continue");
  if (outcome.search_still_improving)
    Add(verdict, "iteration-limit",
        "the search's best cost still fell by more than 1 % over its last tenth of generations",
        "raise NB_GEN in configuration.ini, or polish the result with the trust region");

  // Search bounds.
  for (size_t k = 0; k < outcome.fitted.size() && k < outcome.search_min.size() && k < outcome.search_max.size(); ++k) {
    const double lo = outcome.search_min[k], hi = outcome.search_max[k];
    double value = 0;
    try {
      value = set.Value(outcome.fitted[k]);
    } catch (const std::exception&) {
      continue;
    }
    const double margin = 1e-3 * std::max(hi - lo, 1e-12);
    if (value <= lo + margin || value >= hi - margin) {
      const std::string stem = AsciiUpper(outcome.fitted[k]);
      Add(verdict, "at-bound",
          outcome.fitted[k] + " ended at " + Num(value) + ", at or beyond an edge of its search interval [" + Num(lo) +
              ", " + Num(hi) + "]: the best value may lie outside it",
          "widen " + stem + "_MIN/" + stem + "_MAX in configuration.ini, or " + try_estimate);
    }
  }

  // The curvature clamp.
  try {
    std::vector<std::string> clamped;
    for (const TMeasuredCurve& curve : curves)
      if (ClampedShare(channel, set, curve) > 0.5) clamped.push_back(CurveName(curve));
    if (!clamped.empty()) {
      std::string which = clamped.front();
      if (clamped.size() > 1) which += " and " + std::to_string(clamped.size() - 1) + " more";
      Add(verdict, "curvature-clamped",
          "the curvature factor E exceeds 1, and is used as 1, on most points of " +
              std::to_string(clamped.size()) + (clamped.size() == 1 ? " curve" : " curves") + " (" + which + ")",
          "E above 1 is outside the Magic Formula's range: " + try_estimate);
    }
  } catch (const std::exception&) {
    ClearFpFaults();
  }

  // The sign of the slope at zero slip.
  size_t judged = 0, opposite = 0;
  double data_slope = 0, model_slope = 0;
  for (size_t c = 0; c < curves.size(); ++c) {
    if (curves[c].x.size() < 3) continue;
    double ds = 0, dc = 0, ms = 0, mc = 0;
    CentreLine(curves[c], ds, dc);
    CentreLine(model[c], ms, mc);
    if (!std::isfinite(ds) || !std::isfinite(ms) || ds == 0.0) continue;
    ++judged;
    if ((ds > 0) != (ms > 0) && ms != 0.0) {
      ++opposite;
      data_slope = ds;
      model_slope = ms;
    }
  }
  if (judged > 0 && 2 * opposite > judged) {
    std::string text = std::string("the data's ") + Stiffness(channel) + " is " + Sign(data_slope) +
                       " and the model's is " + Sign(model_slope);
    if (channel == TFitChannel::kLateral) {
      try {
        text = std::string("the data's cornering stiffness is ") + Sign(data_slope) + " and PKy1 is " +
               Sign(set.Value("PKy1"));
      } catch (const std::exception&) {
      }
    } else if (channel == TFitChannel::kLongitudinal) {
      try {
        text = std::string("the data's slip stiffness is ") + Sign(data_slope) + " and the model's (PKx1 " +
               Num(set.Value("PKx1")) + ") is " + Sign(model_slope);
      } catch (const std::exception&) {
      }
    }
    Add(verdict, "slope-sign", text + " on " + std::to_string(opposite) + " of " + std::to_string(judged) + " curves",
        channel == TFitChannel::kAligning ? "fit the lateral force first, then " + try_estimate : try_estimate);
  }

  // The peak factor D of the forces.  D and B = K / (C D) can change sign
  // together without changing a single value of the curve, so a fit can end
  // on that mirror image and match the data as well as the tire does; but a
  // real tire's peak factor is positive in either sign convention (the
  // stiffness carries the curve's sign), and a negative one breaks every use
  // of the set beyond this curve, the aligning moment's By Cy among them.
  if (channel != TFitChannel::kAligning) {
    const bool lateral = channel == TFitChannel::kLateral;
    const char* d1 = lateral ? "PDy1" : "PDx1";
    const char* d2 = lateral ? "PDy2" : "PDx2";
    try {
      const double fz0 = set.Value("Fz0"), p1 = set.Value(d1), p2 = set.Value(d2);
      size_t judged = 0, negative = 0;
      for (const TMeasuredCurve& curve : curves) {
        const double d = p1 + p2 * ((curve.fz - fz0) / fz0);
        if (!std::isfinite(d)) continue;
        ++judged;
        if (d < 0) ++negative;
      }
      if (judged > 0 && 2 * negative > judged)
        Add(verdict, "peak-sign",
            std::string("the peak factor D (") + d1 + " " + Num(p1) + ", " + d2 + " " + Num(p2) + ") is negative on " +
                std::to_string(negative) + " of " + std::to_string(judged) +
                " curves: the curves are the mirror image of a tire's, whose peak factor is positive",
            std::string("negate ") + d1 + " and " + d2 + " (the curves stay the same) and fit again, or " +
                try_estimate);
    } catch (const std::exception&) {
    }
  }
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

}  // namespace morvex
