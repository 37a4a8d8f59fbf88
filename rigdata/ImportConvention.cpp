// The sign convention: chosen from the data (the sign of the load, the slope
// of the lateral force or aligning moment over the slip angle near zero), or
// checked against them when given, then applied to the columns.
#include <cmath>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

constexpr size_t kMinSlopeSamples = 10;

size_t RoleIndex(TRunRole role) { return static_cast<size_t>(role); }

// Least-squares slope of y over x; NaN with too few samples or no spread.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = x.size();
  if (n < kMinSlopeSamples) return kNaN;
  double mx = 0, my = 0;
  for (size_t i = 0; i < n; ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxx = 0, sxy = 0;
  for (size_t i = 0; i < n; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  return sxx > 0 ? sxy / sxx : kNaN;
}

// What the data say about their own convention: the median load and the
// slope of the lateral force (or, without one, of the aligning moment) over
// the slip angle near zero, both as recorded (units converted, no sign).
struct TConventionEvidence {
  double median_load = kNaN;
  double slope = kNaN;          // of the lateral force, or minus that of the aligning moment
  bool from_moment = false;
};
// The convention the evidence points to, with the reason in words.
TRunConvention ConventionFromEvidence(const TConventionEvidence& e, TRunFormat format, std::string& why) {
  if (e.median_load < 0) {
    why = "the loads are negative (median " + Fmt(e.median_load, 0) + " N)";
    return TRunConvention::kSae;
  }
  const std::string what = e.from_moment ? "aligning moment" : "lateral force";
  if (std::isfinite(e.slope)) {
    const std::string direction = (e.slope < 0) != e.from_moment ? "falls" : "rises";
    why = "the loads are positive and the " + what + " " + direction + " with the slip angle near zero";
    return e.slope < 0 ? TRunConvention::kIso : TRunConvention::kMorvex;
  }
  why = "the loads are positive; the slip angle does not cross zero under load, so the " + what +
        " cannot tell ISO from Morvex";
  return format == TRunFormat::kTydex ? TRunConvention::kIso : TRunConvention::kMorvex;
}

}  // namespace

void ApplyConvention(TImportState& state) {
  const TRawImportOptions& options = state.options;
  TImportReport& report = state.report;
  const TRunHeader& header = state.result.header;
  const std::vector<TRunRole>& roles = state.roles;
  auto has = [&](TRunRole r) { return state.Has(r); };
  auto column = [&](TRunRole r) -> std::vector<double>& { return state.Column(r); };
  const size_t rows = state.rows;
  TConventionEvidence evidence;
  {
    std::vector<double> loads;
    const std::vector<double>& fz = column(TRunRole::kLoad);
    for (double v : fz)
      if (std::fabs(v) >= std::max(options.load_floor, 0.0) && std::isfinite(v)) loads.push_back(v);
    evidence.median_load = Median(std::move(loads));
    const bool use_moment = !has(TRunRole::kLateralForce) && has(TRunRole::kAligningMoment);
    if (has(TRunRole::kSlipAngle) && (has(TRunRole::kLateralForce) || use_moment)) {
      const std::vector<double>& sa = column(TRunRole::kSlipAngle);
      const std::vector<double>& y = column(use_moment ? TRunRole::kAligningMoment : TRunRole::kLateralForce);
      const std::vector<double>* sr = has(TRunRole::kSlipRatio) ? &column(TRunRole::kSlipRatio) : nullptr;
      std::vector<double> xs, ys;
      const double ratio_limit = std::isnan(state.slope_ratio_limit) ? options.max_slip_ratio : state.slope_ratio_limit;
      for (size_t i = 0; i < rows; ++i) {
        if (!(std::fabs(sa[i]) <= state.slope_window) || !std::isfinite(y[i]) || !(std::fabs(fz[i]) >= options.load_floor))
          continue;
        if (sr && !(std::fabs((*sr)[i]) <= ratio_limit)) continue;
        xs.push_back(sa[i]);
        ys.push_back(use_moment ? -y[i] : y[i]);
      }
      evidence.slope = Slope(xs, ys);
      evidence.from_moment = use_moment;
    }
  }
  std::string evidence_text;
  const TRunConvention evident = ConventionFromEvidence(evidence, header.format, evidence_text);
  TRunConvention convention = options.convention;
  if (convention == TRunConvention::kAuto) {
    convention = evident;
    report.convention_note = "chosen from the data: " + evidence_text;
  } else {
    const auto signs = RunConventionSigns(convention);
    const double load = evidence.median_load * signs[RoleIndex(TRunRole::kLoad)];
    const double slope = evidence.slope * signs[RoleIndex(TRunRole::kSlipAngle)] *
                         signs[RoleIndex(evidence.from_moment ? TRunRole::kAligningMoment : TRunRole::kLateralForce)];
    std::string problem;
    if (load < 0) problem = "the loads come out negative (median " + Fmt(load, 0) + " N)";
    else if (slope < 0)
      problem = std::string("the ") + (evidence.from_moment ? "aligning moment rises" : "lateral force falls") +
                " with the slip angle near zero, unlike Morvex's data";
    if (!problem.empty()) {
      report.convention_note = "as chosen, but " + problem;
      report.warnings.push_back("With the " + std::string(RunConventionKey(convention)) + " sign convention " +
                                problem + ": the run looks recorded in " +
                                std::string(RunConventionName(evident)) + ", since " + evidence_text +
                                ". Choose that convention unless the run is known to be otherwise.");
    } else {
      report.convention_note = "as chosen; the data agree";
    }
  }
  report.convention = convention;
  const auto signs = RunConventionSigns(convention);
  for (TRunRole role : roles) {
    if (!has(role) || signs[RoleIndex(role)] == 1.0) continue;
    for (double& v : column(role)) v = -v;
  }
  for (TRunRole role : roles) {
    TImportMapping m;
    m.role = role;
    if (has(role)) {
      const TRunColumn& col = header.columns[static_cast<size_t>(state.column_of[RoleIndex(role)])];
      m.column = col.name;
      m.unit = col.unit;
      m.factor = state.unit_factor[RoleIndex(role)] * col.factor;
      m.sign = signs[RoleIndex(role)];
    }
    report.mapping.push_back(m);
  }
}

}  // namespace morvex::import_phase
