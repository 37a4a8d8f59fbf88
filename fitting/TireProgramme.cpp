#include "fitting/TireProgramme.h"

#include <cmath>
#include <exception>
#include <stdexcept>

#include "fitting/FitVerdict.h"
#include "fitting/StartEstimate.h"
#include "numerics/LxBasics.h"

namespace morvex {

namespace {

const char* PureName(TFitChannel channel) {
  switch (channel) {
    case TFitChannel::kLateral: return "lateral";
    case TFitChannel::kAligning: return "aligning";
    case TFitChannel::kLongitudinal: return "longitudinal";
  }
  return "";
}

TStageResult NotFitted(std::string name, std::string reason) {
  TStageResult r;
  r.name = std::move(name);
  r.rms = std::nan("");
  r.not_fitted_reason = std::move(reason);
  return r;
}

// One pure-slip channel: estimate, then the trust region, Fz0 and R0 fixed.
TStageResult PureStage(TFitChannel channel, const TTireDataSet& data, TCoefficientSet& set, IFitHost& host) {
  TStageResult r = NotFitted(PureName(channel), "");
  r.outcome.channel = channel;
  try {
    r.points = ChannelPointCount(channel, data);
    for (const TCoefficientInfo& info : Coefficients()) set.SetFree(info.name, false);
    for (std::string_view name : FreeOrder(channel)) set.SetFree(name, name != "Fz0");
    EstimateStartValues(channel, set, data);
    // No settings file: the trust region reads none of its settings.
    r.outcome = RunFitCommand(channel, set, data, TOptimizerChoice::kTrustRegion, std::string(), host);
    if (!r.outcome.cancelled) MarkStartAsFit(r.outcome, set, data);
    r.fitted = true;
    r.rms = r.points > 0 ? std::sqrt(r.outcome.final_cost / static_cast<double>(r.points)) : std::nan("");
  } catch (const std::exception& error) {
    r.fitted = false;
    r.not_fitted_reason = error.what();
  }
  for (const TCoefficientInfo& info : Coefficients()) set.SetFree(info.name, false);
  return r;
}

bool Fitted(const TTireProgrammeResult& result, const char* name) {
  for (const TStageResult& s : result.stages)
    if (s.name == name) return s.fitted && !s.outcome.optimizer_failed;
  return false;
}

}  // namespace

bool TTireProgrammeResult::AnyPoor() const {
  for (const TStageResult& s : stages)
    if (s.fitted && s.outcome.verdict.poor) return true;
  return false;
}

TTireProgrammeResult FitTireProgramme(const TTireProgrammeInput& input, IFitHost& host) {
  if (!(input.fz0 > 0) || !std::isfinite(input.fz0))
    throw std::invalid_argument("the rated load Fz0 must be a positive number of newtons");
  if (!(input.r0 > 0) || !std::isfinite(input.r0))
    throw std::invalid_argument("the unloaded radius R0 must be a positive number of metres");

  TTireProgrammeResult result;
  TCoefficientSet& set = result.coefficients;
  set.SetText("Fz0", FloatToStr(input.fz0));
  set.SetText("R0", FloatToStr(input.r0));

  auto run = [&](const char* name, const std::string& missing, auto&& fit) {
    if (result.cancelled) {
      result.stages.push_back(NotFitted(name, "the programme was cancelled"));
    } else if (!missing.empty()) {
      result.stages.push_back(NotFitted(name, missing));
    } else {
      TStageResult r = fit();
      if (r.fitted && r.outcome.cancelled) result.cancelled = true;
      result.stages.push_back(std::move(r));
    }
  };

  run("lateral", input.lateral ? "" : "no lateral-force data", [&] {
    return PureStage(TFitChannel::kLateral, *input.lateral, set, host);
  });
  std::string aligning_missing = !input.aligning                  ? "no aligning-moment data"
                                 : !Fitted(result, "lateral") ? "the lateral force it rests on was not fitted"
                                                                  : "";
  run("aligning", aligning_missing, [&] { return PureStage(TFitChannel::kAligning, *input.aligning, set, host); });
  run("longitudinal", input.longitudinal ? "" : "no longitudinal-force data", [&] {
    return PureStage(TFitChannel::kLongitudinal, *input.longitudinal, set, host);
  });

  const bool lat = Fitted(result, "lateral"), ali = Fitted(result, "aligning"), lon = Fitted(result, "longitudinal");
  auto combined = [&](TCombinedStage stage, const std::string& missing) {
    run(CombinedStageName(stage), missing.empty() && input.combined.Empty() ? "no combined-slip data" : missing,
        [&] {
          try {
            return FitCombinedStage(stage, set, result.combined, input.combined, input.longvl, host);
          } catch (const std::exception& error) {
            return NotFitted(CombinedStageName(stage), error.what());
          }
        });
  };
  const std::string no_lat = lat ? "" : "the pure-slip lateral force was not fitted";
  const std::string no_lon = lon ? "" : "the pure-slip longitudinal force was not fitted";
  combined(TCombinedStage::kFx, no_lon);
  combined(TCombinedStage::kFy, no_lat);
  combined(TCombinedStage::kMz, !lat ? no_lat : !lon ? no_lon : ali ? "" : "the pure-slip aligning moment was not fitted");
  combined(TCombinedStage::kMx, no_lat);
  combined(TCombinedStage::kMy, no_lon);

  for (const TStageResult& s : result.stages)
    if (!s.fitted) result.mode_reasons.push_back(s.name + ": " + s.not_fitted_reason);
  const bool pure_all = lat && ali && lon;
  if (pure_all && Fitted(result, "Fx combined") && Fitted(result, "Fy combined"))
    result.use_mode = 4;
  else if (pure_all)
    result.use_mode = 3;
  else if (lat)
    result.use_mode = 2;
  else if (lon)
    result.use_mode = 1;
  return result;
}

}  // namespace morvex
