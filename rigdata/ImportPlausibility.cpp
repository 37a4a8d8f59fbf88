// Units that contradict the values they label: a slip angle in degrees
// labelled rad, a slip ratio in per cent labelled as a fraction, forces in
// kN labelled N.  Each gets a warning naming the channel; an import that
// then ends empty says so in its reason.
#include <cmath>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// What a rig sweeps and measures (import units).
constexpr double kMaxSweptAngle = 30;     // deg
constexpr double kMaxSweptRatio = 1.5;
constexpr double kMaxFrictionForce = 4;   // a force beyond 4 times the load
constexpr double kMinForceShare = 0.02;   // a force peak below 2 % of the load
constexpr double kMaxMomentArm = 0.5;     // m: an aligning moment beyond half a metre times the load
constexpr double kMinLoad = 50;           // N: a median load below this

std::vector<double> Magnitudes(const std::vector<double>& v) {
  std::vector<double> a;
  a.reserve(v.size());
  for (double x : v)
    if (std::isfinite(x)) a.push_back(std::fabs(x));
  return a;
}

}  // namespace

void CheckUnitPlausibility(TImportState& state) {
  const TRunHeader& header = state.result.header;
  auto channel = [&](TRunRole r) {
    const TRunColumn& c = header.columns[static_cast<size_t>(state.column_of[static_cast<size_t>(r)])];
    return "The " + std::string(RoleInfo(r).label) + " channel " + c.name + " (unit '" +
           (c.unit.empty() ? std::string("none") : c.unit) + "')";
  };
  auto warn = [&](std::string text) {
    state.report.warnings.push_back(std::move(text));
    state.report.unit_doubts.push_back(state.report.warnings.back());
  };
  auto high = [&](TRunRole r) { return Quantile(Magnitudes(state.Column(r)), 0.99); };
  if (state.Has(TRunRole::kSlipAngle)) {
    const double reach = high(TRunRole::kSlipAngle);
    if (reach > kMaxSweptAngle)
      warn(channel(TRunRole::kSlipAngle) + " reaches " + Fmt(reach, 1) + " deg when read in that unit, beyond the " +
           Fmt(kMaxSweptAngle, 0) + " deg a rig sweeps: are its values in degrees labelled rad?");
  }
  if (state.Has(TRunRole::kSlipRatio)) {
    const double reach = high(TRunRole::kSlipRatio);
    if (reach > kMaxSweptRatio)
      warn(channel(TRunRole::kSlipRatio) + " reaches " + Fmt(reach, 2) + " as a fraction, beyond " +
           Fmt(kMaxSweptRatio, 1) + ": are its values in per cent labelled as a fraction?");
  }
  if (!state.Has(TRunRole::kLoad)) return;
  const double load = Median(Magnitudes(state.Column(TRunRole::kLoad)));
  if (!(load >= kMinLoad)) {
    warn(channel(TRunRole::kLoad) + " has a median of " + Fmt(load, 3) +
         " N when read in that unit: are its values in kN labelled N?");
    return;
  }
  for (TRunRole r : {TRunRole::kLateralForce, TRunRole::kLongitudinalForce}) {
    if (!state.Has(r)) continue;
    const double peak = high(r);
    if (peak > kMaxFrictionForce * load)
      warn(channel(r) + " reaches " + Fmt(peak, 0) + " N, more than " + Fmt(kMaxFrictionForce, 0) +
           " times the median load of " + Fmt(load, 0) + " N: is its unit right?");
    else if (peak < kMinForceShare * load)
      warn(channel(r) + " stays within " + Fmt(peak, 3) + " N, below " + Fmt(100 * kMinForceShare, 0) +
           " % of the median load of " + Fmt(load, 0) + " N: are its values in kN labelled N?");
  }
  if (state.Has(TRunRole::kAligningMoment)) {
    const double peak = high(TRunRole::kAligningMoment);
    if (peak > kMaxMomentArm * load)
      warn(channel(TRunRole::kAligningMoment) + " reaches " + Fmt(peak, 0) + " N m, more than " +
           Fmt(kMaxMomentArm, 1) + " m times the median load of " + Fmt(load, 0) + " N: is its unit right?");
  }
}

}  // namespace morvex::import_phase
