// Filters: samples missing a value, the warm-up and time window, the load
// floor, the pressure and speed windows around their held values, and
// samples that are not pure slip of the channel.
#include <algorithm>
#include <cmath>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// Slip beyond these is not a measurement of a tire in pure slip.
constexpr double kMaxAbsSlipAngle = 90;  // deg
constexpr double kMaxAbsSlipRatio = 10;
// A swept slip: 5 % of the samples beyond these.
constexpr double kSweptAngle = 1.0;  // deg
constexpr double kSweptRatio = 0.02;

// Beyond this a value is no measurement (import units).
double AbsurdLimit(TQuantity quantity) {
  switch (quantity) {
    case TQuantity::kTime: return 1e10;      // s
    case TQuantity::kAngle: return 1e5;      // deg
    case TQuantity::kRatio: return 1e4;
    case TQuantity::kForce: return 1e8;      // N
    case TQuantity::kMoment: return 1e7;     // N m
    case TQuantity::kPressure: return 1e6;   // kPa
    case TQuantity::kSpeed: return 1e5;      // km/h
  }
  return 1e8;
}

double Reach(const std::vector<double>& v, const std::vector<TIndex>& alive) {
  std::vector<double> a;
  a.reserve(alive.size());
  for (TIndex i : alive) a.push_back(std::fabs(v[i]));
  return Quantile(std::move(a), 0.95);
}

}  // namespace

bool ApplyFilters(TImportState& state) {
  const TRawImportOptions& options = state.options;
  TImportReport& report = state.report;
  const TImportChannel channel = options.channel;
  const TRunRole swept = state.swept, cross = state.cross;
  const std::vector<TRunRole>& roles = state.roles;
  const size_t rows = state.rows;
  auto has = [&](TRunRole r) { return state.Has(r); };
  auto column = [&](TRunRole r) -> std::vector<double>& { return state.Column(r); };
  auto emptied = [&](std::string reason) { return state.Emptied(std::move(reason)); };
  std::vector<TIndex>& alive = state.alive;
  alive.resize(rows);
  for (size_t i = 0; i < rows; ++i) alive[i] = static_cast<TIndex>(i);
  if (rows == 0) {
    report.empty_reason = "the run file holds no samples";
    return true;
  }

  std::vector<TRunRole> needed;
  // The forces read besides the channel's own only help: a gap in them drops nothing.
  for (TRunRole r : roles)
    if (has(r) && r != TRunRole::kLateralForce && (r != TRunRole::kLongitudinalForce || r == state.value) &&
        std::find(state.optional_roles.begin(), state.optional_roles.end(), r) == state.optional_roles.end())
      needed.push_back(r);
  if (channel == TImportChannel::kLateral) needed.push_back(TRunRole::kLateralForce);
  state.Filter("missing values", "a value in every channel used", [&](TIndex i) {
    for (TRunRole r : needed)
      if (!std::isfinite(column(r)[i])) return true;
    return false;
  });
  if (emptied("every sample lacks a value in one of the channels used")) return true;

  // Values no rig measures (a sensor fault, 1e308 written for a missing
  // value) would overflow the averages of a cell.
  state.Filter("absurd values", "within the physical range of every channel used", [&](TIndex i) {
    for (TRunRole r : needed)
      if (!(std::fabs(column(r)[i]) <= AbsurdLimit(RoleInfo(r).quantity))) return true;
    return false;
  });
  if (emptied("every sample holds a value beyond the physical range of its channel")) return true;

  const std::vector<double>* time = has(TRunRole::kTime) ? &column(TRunRole::kTime) : nullptr;
  if (options.warmup_seconds > 0) {
    if (time) {
      double t0 = (*time)[alive[0]];
      for (TIndex i : alive) t0 = std::min(t0, (*time)[i]);
      const double until = t0 + options.warmup_seconds;
      state.Filter("warm-up", "first " + Fmt(options.warmup_seconds, 3) + " s",
             [&](TIndex i) { return (*time)[i] < until; });
      if (emptied("the warm-up of " + Fmt(options.warmup_seconds, 3) + " s covers the whole run")) return true;
    } else {
      report.warnings.push_back("The run has no time channel: the warm-up was not dropped.");
    }
  }
  if (std::isfinite(options.time_from) || std::isfinite(options.time_to)) {
    if (time) {
      const std::string window = Fmt(options.time_from, 3) + " to " + Fmt(options.time_to, 3) + " s";
      state.Filter("time window", window, [&](TIndex i) {
        return !((*time)[i] >= options.time_from && (*time)[i] <= options.time_to);
      });
      if (emptied("no sample lies in the time window " + window)) return true;
    } else {
      report.warnings.push_back("The run has no time channel: the time window was not applied.");
    }
  }

  {
    const std::vector<double>& fz = column(TRunRole::kLoad);
    state.Filter("load floor", "load >= " + Fmt(options.load_floor, 1) + " N",
           [&](TIndex i) { return !(fz[i] >= options.load_floor); });
    if (emptied("no sample has a load of at least " + Fmt(options.load_floor, 1) +
                " N: check the load channel and the sign convention (SAE loads are negative)"))
      return true;
  }

  // The samples a held value needs: the dwell time over the sampling step.
  size_t& dwell_samples = state.dwell_samples;
  dwell_samples = options.min_bin_samples;
  if (time && rows > 1) {
    std::vector<double> steps;
    steps.reserve(std::min<size_t>(rows, 100000));
    const size_t stride = std::max<size_t>(1, rows / 100000);
    for (size_t i = stride; i < rows; i += stride) {
      const double dt = ((*time)[i] - (*time)[i - 1]);
      if (dt > 0 && std::isfinite(dt)) steps.push_back(dt);
    }
    const double dt = Median(std::move(steps));
    if (dt > 0 && std::isfinite(dt)) {
      const double n = std::ceil(options.min_dwell_seconds / dt);
      dwell_samples = n > 1e9 ? size_t{1000000000} : std::max<size_t>(1, static_cast<size_t>(n));
    }
  }

  const TDwell dwell{time, options.min_dwell_seconds, dwell_samples};
  auto held_window = [&](TRunRole role, bool enabled, double setpoint, double tolerance, const char* unit,
                         std::vector<TImportSetPoint>& found) {
    if (!has(role) || !enabled) return false;
    const std::vector<double>& v = column(role);
    const std::string label(RoleInfo(role).label);
    found = FindPeaks(v, alive, tolerance, dwell_samples, dwell);
    double centre = setpoint;
    if (std::isnan(centre)) {
      if (found.empty()) {
        report.warnings.push_back("No " + label + " was held for " + Fmt(options.min_dwell_seconds, 3) +
                                  " s: the " + label + " window was not applied.");
        return false;
      }
      centre = std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) {
                 return a.samples < b.samples;
               })->value;
    }
    const std::string limit = Fmt(centre, 1) + " +/- " + Fmt(tolerance, 3) + " " + unit +
                              (std::isnan(setpoint) ? ", the most held" : "");
    state.Filter(label + " window", limit, [&](TIndex i) { return !(std::fabs(v[i] - centre) <= tolerance); });
    return emptied("no sample has a " + label + " within " + limit);
  };
  if (held_window(TRunRole::kPressure, options.pressure_window, options.pressure_setpoint,
                  options.pressure_tolerance, "kPa", report.pressures))
    return true;
  if (held_window(TRunRole::kSpeed, options.speed_window, options.speed_setpoint, options.speed_tolerance,
                  "km/h", report.speeds))
    return true;

  if (std::isnan(options.warmup_seconds) && DropDetectedWarmup(state)) return true;

  // What the run sweeps, before the pure-slip filter keeps one kind.
  const double angle_reach = has(TRunRole::kSlipAngle) ? Reach(column(TRunRole::kSlipAngle), alive) : 0.0;
  const double ratio_reach = has(TRunRole::kSlipRatio) ? Reach(column(TRunRole::kSlipRatio), alive) : 0.0;

  if (state.combined) {
    // Combined slip holds the slip angle: it becomes a set-point, not a filter.
  } else if (has(cross)) {
    const std::vector<double>& c = column(cross);
    if (channel == TImportChannel::kLongitudinal) {
      const std::string limit = "|slip angle| <= " + Fmt(options.max_slip_angle, 4) + " deg";
      state.Filter("pure longitudinal slip", limit,
             [&](TIndex i) { return !(std::fabs(c[i]) <= options.max_slip_angle); });
      if (emptied("no sample with " + limit + ": is this a cornering run?")) return true;
    } else {
      const std::string limit = "|slip ratio| <= " + Fmt(options.max_slip_ratio, 5);
      state.Filter("pure side slip", limit,
             [&](TIndex i) { return !(std::fabs(c[i]) <= options.max_slip_ratio); });
      if (emptied("no sample with " + limit + ": is this a drive/brake run?")) return true;
    }
  } else {
    report.warnings.push_back(std::string("The run has no ") + std::string(RoleInfo(cross).label) +
                              " channel: every sample is taken as pure " +
                              (channel == TImportChannel::kLongitudinal ? "longitudinal" : "side") + " slip.");
  }

  const std::vector<double>& slip = column(swept);
  const bool ratio = swept == TRunRole::kSlipRatio;
  {
    const double limit = ratio ? kMaxAbsSlipRatio : kMaxAbsSlipAngle;
    const std::string text = "|" + std::string(RoleInfo(swept).label) + "| <= " + Fmt(limit, 0) + (ratio ? "" : " deg");
    state.Filter("slip range", text, [&](TIndex i) { return !(std::fabs(slip[i]) <= limit); });
    if (emptied("no sample with " + text)) return true;
  }

  // A run that does not sweep the channel's slip gives a few points at one
  // slip, to which any curve fits: refused, saying what it does sweep.
  if (Reach(slip, alive) <= (ratio ? kSweptRatio : kSweptAngle)) {
    const bool sweeps_angle = angle_reach > kSweptAngle, sweeps_ratio = ratio_reach > kSweptRatio;
    std::string what;
    if (sweeps_angle && !ratio)
      what = "the run sweeps the slip angle only where the slip ratio is not small (combined slip)";
    else if (sweeps_ratio && ratio)
      what = "the run sweeps the slip ratio only where the slip angle is not small (combined slip)";
    else if (sweeps_ratio)
      what = "the run sweeps the slip ratio (to " + Fmt(ratio_reach, 3) +
             "), not the slip angle: import it for the longitudinal channel";
    else if (sweeps_angle)
      what = "the run sweeps the slip angle (to " + Fmt(angle_reach, 2) +
             " deg), not the slip ratio: import it for the lateral or aligning channel";
    else
      what = "the run sweeps neither the slip angle (95 % within " + Fmt(angle_reach, 2) +
             " deg) nor the slip ratio (95 % within " + Fmt(ratio_reach, 3) + ")";
    const std::string limit = "|" + std::string(RoleInfo(swept).label) + "| beyond " +
                              (ratio ? Fmt(kSweptRatio, 3) : Fmt(kSweptAngle, 1) + " deg") + " in 5 % of the samples";
    state.Filter("swept slip", limit, [](TIndex) { return true; });
    return emptied("the " + std::string(ImportChannelName(channel)) + " channel needs a sweep of the " +
                   std::string(RoleInfo(swept).label) + ", but " + what);
  }

  return false;
}

}  // namespace morvex::import_phase
