// The warm-up found in the data.  A run starts with the tire cold: the
// machine sweeps it at one inclination and load before the programme, and
// the programme holds that inclination and load again later.  The first
// stretch of the run is taken for a warm-up when its (inclination, load)
// bin is held again later with the same kind of sweep, and that later sweep
// reaches a clearly different slip or gives a clearly different force
// (per unit load, over the cells both cover).  A first stretch that repeats
// a later one within the noise is kept: it is data.
#include <algorithm>
#include <cmath>
#include <map>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// A visit sweeps a slip when 5 % of its samples lie beyond these.
constexpr double kSweptAngle = 1.0;    // deg
constexpr double kSweptRatio = 0.02;
// Sweeps reaching slips further apart than this ratio differ.
constexpr double kRangeRatio = 1.33;
// Force levels per unit load further apart than this share differ.
constexpr double kLevelShare = 0.03;
// The force level is compared over cells whose force is at least this share of the peak.
constexpr double kLevelCells = 0.3;
constexpr size_t kMinLevelCells = 3;

enum class TSweep { kNone, kAngle, kRatio, kBoth };

const char* SweepName(TSweep s) {
  switch (s) {
    case TSweep::kNone: return "no slip";
    case TSweep::kAngle: return "the slip angle";
    case TSweep::kRatio: return "the slip ratio";
    case TSweep::kBoth: return "both slips";
  }
  return "";
}

struct TVisit {
  int bin = -1;
  std::vector<TIndex> samples;  // of the bin, in row order
  TSweep sweep = TSweep::kNone;
  double reach = 0;             // 95th percentile of |swept slip|
};

}  // namespace

bool DropDetectedWarmup(TImportState& state) {
  TImportReport& report = state.report;
  const std::vector<int> bins = TentativeBins(state);
  std::vector<TVisit> visits;
  for (TIndex i : state.alive) {
    const int b = bins[i];
    if (b < 0) continue;
    if (visits.empty() || visits.back().bin != b) visits.push_back({b, {}, TSweep::kNone, 0});
    visits.back().samples.push_back(i);
  }
  if (visits.size() < 2) {
    report.warmup = "none found: the run holds one inclination and load throughout";
    return false;
  }
  const std::vector<double>* sa = state.Has(TRunRole::kSlipAngle) ? &state.Column(TRunRole::kSlipAngle) : nullptr;
  const std::vector<double>* sr = state.Has(TRunRole::kSlipRatio) ? &state.Column(TRunRole::kSlipRatio) : nullptr;
  auto reach = [](const std::vector<double>* v, const std::vector<TIndex>& s, bool around_median) {
    if (!v) return 0.0;
    std::vector<double> a;
    a.reserve(s.size());
    for (TIndex i : s) a.push_back((*v)[i]);
    const double centre = around_median ? Median(a) : 0.0;
    for (double& x : a) x = std::fabs(x - centre);
    return Quantile(std::move(a), 0.95);
  };
  for (TVisit& v : visits) {
    // Under combined slip a visit holds its slip angle: it sweeps the angle
    // only when the angle moves away from the held value.
    const double angle = reach(sa, v.samples, state.combined), ratio = reach(sr, v.samples, false);
    const bool by_angle = angle > kSweptAngle, by_ratio = ratio > kSweptRatio;
    v.sweep = by_angle && by_ratio ? TSweep::kBoth : by_angle ? TSweep::kAngle : by_ratio ? TSweep::kRatio : TSweep::kNone;
    v.reach = v.sweep == TSweep::kRatio ? ratio : angle;
  }
  const TVisit& first = visits.front();
  const std::vector<double>* time = state.Time();
  auto when = [&](TIndex i) { return time ? Fmt((*time)[i], 2) + " s" : "row " + std::to_string(i + 1); };
  if (time) {
    const double span = (*time)[first.samples.back()] - (*time)[first.samples.front()];
    if (span < state.options.min_dwell_seconds) {
      report.warmup = "none found: the first stretch is shorter than the dwell time";
      return false;
    }
  }
  // The longest later visit of the same bin with the same kind of sweep.
  const TVisit* later = nullptr;
  for (size_t k = 1; k < visits.size(); ++k)
    if (visits[k].bin == first.bin && visits[k].sweep == first.sweep &&
        (!later || visits[k].samples.size() > later->samples.size()))
      later = &visits[k];
  if (!later) {
    report.warmup = "none found: the first stretch (to " + when(first.samples.back()) +
                    ") is not held again later with the same sweep";
    return false;
  }

  std::string why;
  const double ratio = later->reach > 0 ? first.reach / later->reach : 1.0;
  if (first.sweep != TSweep::kNone && (ratio > kRangeRatio || ratio < 1 / kRangeRatio)) {
    const bool angle = first.sweep != TSweep::kRatio;
    why = "it sweeps to " + Fmt(first.reach, angle ? 2 : 3) + (angle ? " deg" : "") + " where the later sweep reaches " +
          Fmt(later->reach, angle ? 2 : 3) + (angle ? " deg" : "");
  } else if (first.sweep == TSweep::kAngle || first.sweep == TSweep::kRatio) {
    // Force per unit load on the cells of the swept slip, pure slip only:
    // the force that slip makes (the channel's own when it sweeps that slip).
    const bool by_ratio = first.sweep == TSweep::kRatio;
    const TRunRole slip_role = by_ratio ? TRunRole::kSlipRatio : TRunRole::kSlipAngle;
    const TRunRole other_role = by_ratio ? TRunRole::kSlipAngle : TRunRole::kSlipRatio;
    const TRunRole force_role = slip_role == state.swept ? state.value
                                : by_ratio                ? TRunRole::kLongitudinalForce
                                                          : TRunRole::kLateralForce;
    if (!state.Has(force_role)) {
      report.warmup = "none found: the first stretch sweeps the " + std::string(RoleInfo(slip_role).label) +
                      ", and the run has no " + std::string(RoleInfo(force_role).label) + " to compare";
      return false;
    }
    const std::vector<double>& slip = state.Column(slip_role);
    const std::vector<double>& value = state.Column(force_role);
    const std::vector<double>& load = state.Column(TRunRole::kLoad);
    const std::vector<double>* other = state.Has(other_role) ? &state.Column(other_role) : nullptr;
    const double cell = by_ratio ? state.options.slip_ratio_cell : state.options.slip_angle_cell;
    const double pure = by_ratio ? state.options.max_slip_angle : state.options.max_slip_ratio;
    auto cells = [&](const TVisit& v) {
      std::map<long, std::pair<double, size_t>> c;
      for (TIndex i : v.samples) {
        if (other && !(std::fabs((*other)[i]) <= pure)) continue;
        if (!(load[i] > 0) || !std::isfinite(value[i])) continue;
        auto& [sum, n] = c[std::lround(slip[i] / cell)];
        sum += value[i] / load[i];
        ++n;
      }
      return c;
    };
    const auto a = cells(first), b = cells(*later);
    double peak = 0;
    for (const auto& [k, sn] : b) peak = std::max(peak, std::fabs(sn.first / static_cast<double>(sn.second)));
    double difference = 0, magnitude = 0;
    size_t used = 0;
    for (const auto& [k, sn] : b) {
      const auto it = a.find(k);
      if (it == a.end() || it->second.second < 2 || sn.second < 2) continue;
      const double mb = sn.first / static_cast<double>(sn.second);
      const double ma = it->second.first / static_cast<double>(it->second.second);
      if (std::fabs(mb) < kLevelCells * peak) continue;
      difference += std::fabs(ma) - std::fabs(mb);
      magnitude += std::fabs(mb);
      ++used;
    }
    if (used >= kMinLevelCells && magnitude > 0 && std::fabs(difference / magnitude) > kLevelShare)
      why = "its force per unit load is " + Fmt(std::fabs(100 * difference / magnitude), 1) + " % " +
            (difference < 0 ? "lower" : "higher") + " than when held again later";
  }
  if (why.empty()) {
    report.warmup = "none found: the first stretch (to " + when(first.samples.back()) +
                    ") repeats a later one within the noise, so it is kept";
    return false;
  }
  const TIndex end = first.samples.back();
  const double inclination = state.Column(TRunRole::kInclination)[first.samples.front()];
  double load_sum = 0;
  for (TIndex i : first.samples) load_sum += state.Column(TRunRole::kLoad)[i];
  const double load = load_sum / static_cast<double>(first.samples.size());
  report.warmup = "dropped from " + when(state.alive.front()) + " to " + when(end) + ": inclination " +
                  Fmt(inclination, 1) + " deg and load " + Fmt(load, 0) + " N, sweeping " + SweepName(first.sweep) +
                  ", are held again later, and " + why;
  state.Filter("warm-up", "found in the data: to " + when(end), [&](TIndex i) { return i <= end; });
  return state.Emptied("the warm-up found covers the whole run");
}

}  // namespace morvex::import_phase
