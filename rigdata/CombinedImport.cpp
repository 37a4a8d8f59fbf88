// The combined-slip import: the pure-slip import's phases in their
// combined mode, then the held slip angles and the slip-ratio grid of each
// (inclination, load, slip angle) bin.
#include "rigdata/CombinedImport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

namespace {

using import_phase::Fmt;
using import_phase::LoadCurve;
using import_phase::Significant;
using import_phase::kNaN;
using import_phase::TImportState;
using import_phase::TIndex;

// The convention's slope of the lateral force over the slip angle is taken
// over the held slip angles (a combined run may hold none near 0), where the
// slip ratio is small.
constexpr double kConventionSlipAngle = 15;   // deg
constexpr double kConventionSlipRatio = 0.02;
// Given slip angles without a tolerance: this many degrees either side.
constexpr double kGivenSlipAngleTolerance = 0.6;
// Cells of one inclination and slip angle, over its loads, at most.
constexpr double kMaxGridCells = 1000000;

// The quantities of a combined point, in the order of TCombinedSample.
constexpr size_t kQuantities = 5;
constexpr TRunRole kQuantityRoles[kQuantities] = {TRunRole::kLongitudinalForce, TRunRole::kLateralForce,
                                                   TRunRole::kAligningMoment, TRunRole::kOverturningMoment,
                                                   TRunRole::kRollingMoment};

int NearestAbsolute(const std::vector<TImportSetPoint>& points, double v) {
  int best = -1;
  double best_distance = std::numeric_limits<double>::infinity();
  for (size_t k = 0; k < points.size(); ++k) {
    const double d = std::fabs(v - points[k].value);
    if (d <= points[k].tolerance && d < best_distance) {
      best_distance = d;
      best = static_cast<int>(k);
    }
  }
  return best;
}

// One quantity's sums in one cell: a line through its samples around the cell centre.
struct TLine {
  size_t n = 0;
  double sd = 0, sv = 0, sdd = 0, sdv = 0, sl = 0;
  void Add(double d, double v, double load) {
    ++n;
    sd += d;
    sv += v;
    sdd += d * d;
    sdv += d * v;
    sl += load;
  }
  // The line at the centre; the mean where the samples give no slope.
  double AtCentre(double cell) const {
    const double m = static_cast<double>(n);
    const double md = sd / m, mv = sv / m;
    const double sxx = sdd - m * md * md, sxy = sdv - m * md * mv;
    const double slope = n >= 3 && sxx > m * 1e-6 * cell * cell ? sxy / sxx : 0.0;
    return mv - slope * md;
  }
  double MeanLoad() const { return sl / static_cast<double>(n); }
};

// Finds the held slip angles, bins the samples by (inclination, load,
// slip angle) and averages each bin onto the slip-ratio grid.
bool BuildCombinedGrid(TImportState& state, const TCombinedImportOptions& options, TCombinedImportResult& out) {
  using namespace import_phase;
  const TRawImportOptions& run = state.options;
  TImportReport& report = state.report;
  TCombinedImportReport& combined = out.report;
  std::vector<TIndex>& alive = state.alive;
  const std::vector<double>& sa = state.Column(TRunRole::kSlipAngle);
  const std::vector<double>& sr = state.Column(TRunRole::kSlipRatio);
  const std::vector<double>& fz = state.Column(TRunRole::kLoad);
  const std::vector<double>& ia = state.Column(TRunRole::kInclination);

  // ---- held slip angles
  const TDwell dwell{state.Time(), run.min_dwell_seconds, std::max<size_t>(state.dwell_samples, 1)};
  std::vector<TImportSetPoint> points;
  if (options.slip_angles.empty()) {
    if (std::isnan(options.slip_angle_tolerance)) {
      points = FindRelativeSetPoints(sa, alive, dwell, report.setpoint_notes, 2, "deg", false);
    } else {
      points = FindPeaks(sa, alive, options.slip_angle_tolerance, dwell.samples, dwell);
      for (TImportSetPoint& p : points) p.tolerance = options.slip_angle_tolerance;
    }
  } else {
    const double tolerance =
        std::isnan(options.slip_angle_tolerance) ? kGivenSlipAngleTolerance : options.slip_angle_tolerance;
    for (double g : options.slip_angles) points.push_back({g, 0, tolerance, false});
    std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.value < b.value; });
  }
  std::vector<int> angle_member(state.rows, -1);
  std::vector<double> sums(points.size(), 0.0);
  std::vector<size_t> counts(points.size(), 0);
  for (TIndex i : alive) {
    const int k = NearestAbsolute(points, sa[i]);
    angle_member[i] = k;
    if (k >= 0) {
      sums[static_cast<size_t>(k)] += sa[i];
      ++counts[static_cast<size_t>(k)];
    }
  }
  std::vector<int> renumber(points.size(), -1);
  for (size_t k = 0; k < points.size(); ++k) {
    if (counts[k] == 0) {
      report.warnings.push_back("No sample lies within " + Fmt(points[k].tolerance, 3) +
                                " deg of the held slip angle " + Fmt(points[k].value, 2) + " deg.");
      continue;
    }
    renumber[k] = static_cast<int>(combined.slip_angles.size());
    combined.slip_angles.push_back(
        {sums[k] / static_cast<double>(counts[k]), counts[k], points[k].tolerance, false});
  }
  for (TIndex i : alive)
    if (angle_member[i] >= 0) angle_member[i] = renumber[static_cast<size_t>(angle_member[i])];
  state.Filter("slip angle set-points",
               options.slip_angles.empty() ? "within a tolerance found per held slip angle"
                                           : "within the tolerance of a slip angle given",
               [&](TIndex i) { return angle_member[i] < 0; });
  if (state.Emptied(options.slip_angles.empty()
                        ? "no slip angle was held for " + Fmt(run.min_dwell_seconds, 3) +
                              " s while the slip ratio was swept: give the slip angles, or lower the dwell time"
                        : "no sample lies near the slip angles given"))
    return true;

  // ---- (inclination, load, slip angle) bins
  const size_t n_ia = report.inclinations.size(), n_load = report.loads.size(),
               n_angle = combined.slip_angles.size();
  const size_t n_bins = n_ia * n_load * n_angle;
  auto bin_of = [&](TIndex i) {
    return (static_cast<size_t>(state.ia_member[i]) * n_load + static_cast<size_t>(state.load_member[i])) * n_angle +
           static_cast<size_t>(angle_member[i]);
  };
  std::vector<size_t> bin_count(n_bins, 0);
  std::vector<double> bin_load(n_bins, 0.0), bin_ia(n_bins, 0.0), bin_angle(n_bins, 0.0);
  for (TIndex i : alive) {
    const size_t b = bin_of(i);
    ++bin_count[b];
    bin_load[b] += fz[i];
    bin_ia[b] += ia[i];
    bin_angle[b] += sa[i];
  }
  std::vector<char> kept(n_bins, 0);
  for (size_t b = 0; b < n_bins; ++b) {
    if (bin_count[b] == 0) continue;
    const double n = static_cast<double>(bin_count[b]);
    bin_load[b] /= n;
    bin_ia[b] /= n;
    bin_angle[b] /= n;
    TCombinedBin bin{bin_ia[b], bin_load[b], bin_angle[b], bin_count[b], {}};
    if (bin_count[b] < run.min_bin_samples)
      bin.reason = std::to_string(bin_count[b]) + " samples, fewer than " + std::to_string(run.min_bin_samples);
    else
      kept[b] = 1;
    combined.bins.push_back(bin);
  }
  state.Filter("combined bins with too few samples",
               "at least " + std::to_string(run.min_bin_samples) + " samples per inclination, load and slip angle",
               [&](TIndex i) { return !kept[bin_of(i)]; });
  if (state.Emptied("every inclination, load and slip angle bin holds fewer than " +
                    std::to_string(run.min_bin_samples) + " samples"))
    return true;

  // ---- the slip-ratio grid
  const double cell = run.slip_ratio_cell;
  std::array<const std::vector<double>*, kQuantities> quantity{};
  for (size_t q = 0; q < kQuantities; ++q)
    if (state.Has(kQuantityRoles[q])) quantity[q] = &state.Column(kQuantityRoles[q]);
  const std::vector<double>* speed = state.Has(TRunRole::kSpeed) ? &state.Column(TRunRole::kSpeed) : nullptr;
  combined.lateral_force = quantity[1] != nullptr;
  combined.aligning_moment = quantity[2] != nullptr;
  combined.overturning_moment = quantity[3] != nullptr;
  combined.rolling_moment = quantity[4] != nullptr;
  combined.speed = speed != nullptr;

  // Samples of each kept bin, then per (inclination, slip angle) the loads side by side.
  std::vector<std::vector<TIndex>> by_bin(n_bins);
  for (TIndex i : alive) by_bin[bin_of(i)].push_back(i);
  const size_t min_cell = std::max<size_t>(1, run.min_cell_samples);
  for (size_t a = 0; a < n_ia; ++a)
    for (size_t g = 0; g < n_angle; ++g) {
      std::vector<size_t> loads;
      for (size_t l = 0; l < n_load; ++l)
        if (kept[(a * n_load + l) * n_angle + g]) loads.push_back(l);
      if (loads.empty()) continue;
      // The cells of this inclination and slip angle.
      double lo = std::numeric_limits<double>::infinity(), hi = -lo;
      for (size_t l : loads)
        for (TIndex i : by_bin[(a * n_load + l) * n_angle + g]) {
          lo = std::min(lo, sr[i]);
          hi = std::max(hi, sr[i]);
        }
      const double k_lo = std::round(lo / cell), k_hi = std::round(hi / cell);
      if (!(k_hi - k_lo + 1 <= kMaxGridCells / static_cast<double>(loads.size())))
        throw Exception("The slip cell " + Fmt(cell, 6) + " is too small for the slip range " + Fmt(lo, 4) + " to " +
                        Fmt(hi, 4) + ": it makes more than " + Fmt(kMaxGridCells, 0) + " cells over the loads");
      const auto cells = static_cast<size_t>(k_hi - k_lo + 1);
      // Per (load, cell, quantity) the line sums; per (load, cell) the speed.
      std::vector<TLine> lines(loads.size() * cells * kQuantities);
      std::vector<double> speed_sum(loads.size() * cells, 0.0);
      std::vector<size_t> speed_n(loads.size() * cells, 0);
      for (size_t j = 0; j < loads.size(); ++j)
        for (TIndex i : by_bin[(a * n_load + loads[j]) * n_angle + g]) {
          const double k = std::round(sr[i] / cell);
          const auto c = static_cast<size_t>(k - k_lo);
          const double d = sr[i] - k * cell;
          for (size_t q = 0; q < kQuantities; ++q)
            if (quantity[q] && std::isfinite((*quantity[q])[i]) && std::fabs((*quantity[q])[i]) < 1e12)
              lines[(j * cells + c) * kQuantities + q].Add(d, (*quantity[q])[i], fz[i]);
          if (speed && std::isfinite((*speed)[i])) {
            speed_sum[j * cells + c] += (*speed)[i];
            ++speed_n[j * cells + c];
          }
        }
      const double camber = std::round(report.inclinations[a].value * 100) / 100;
      const double angle = std::round(combined.slip_angles[g].value * 100) / 100;
      size_t points_made = 0;
      double first = kNaN, last = kNaN;
      for (size_t c = 0; c < cells; ++c) {
        // Each quantity: the line of every load covering the cell, taken to its held load.
        std::array<std::vector<double>, kQuantities> value;
        for (size_t q = 0; q < kQuantities; ++q) {
          value[q].assign(loads.size(), kNaN);
          std::vector<size_t> covered;
          std::vector<double> x, y;
          for (size_t j = 0; j < loads.size(); ++j) {
            const TLine& t = lines[(j * cells + c) * kQuantities + q];
            if (t.n < min_cell) continue;
            covered.push_back(j);
            x.push_back(t.MeanLoad());
            y.push_back(t.AtCentre(cell));
          }
          for (size_t m = 0; m < covered.size(); ++m) {
            const size_t j = covered[m];
            const double held = bin_load[(a * n_load + loads[j]) * n_angle + g];
            double v = y[m];
            if (run.load_wobble_correction && covered.size() >= 2) {
              const size_t count = std::min<size_t>(3, covered.size());
              const size_t from = covered.size() == 2 ? 0 : std::min(m == 0 ? 0 : m - 1, covered.size() - 3);
              const double shift = LoadCurve(&x[from], &y[from], count, held) -
                                   LoadCurve(&x[from], &y[from], count, x[m]);
              if (std::isfinite(shift)) v += shift;
            }
            value[q][j] = Significant(v);
          }
        }
        for (size_t j = 0; j < loads.size(); ++j) {
          if (!std::isfinite(value[0][j])) continue;  // no point without the longitudinal force
          TCombinedSample s;
          s.camber = camber;
          s.load = std::round(bin_load[(a * n_load + loads[j]) * n_angle + g]);
          s.slip_angle = angle;
          s.slip_ratio = Significant((static_cast<double>(c) + k_lo) * cell);
          s.fx = value[0][j];
          s.fy = value[1][j];
          s.mz = value[2][j];
          s.mx = value[3][j];
          s.my = value[4][j];
          if (speed_n[j * cells + c] > 0)
            s.speed = Significant(speed_sum[j * cells + c] / static_cast<double>(speed_n[j * cells + c]) / 3.6);
          out.data.samples.push_back(s);
          ++points_made;
          if (std::isnan(first)) first = s.slip_ratio;
          last = s.slip_ratio;
        }
      }
      const std::string name = "inclination " + Fmt(camber, 2) + " deg, slip angle " + Fmt(angle, 2) + " deg";
      if (points_made == 0)
        report.grid_notes.push_back(name + ": dropped, no slip cell holds " + std::to_string(min_cell) +
                                    " samples of a load");
      else
        report.grid_notes.push_back(name + ": " + std::to_string(points_made) + " points from slip ratio " +
                                    Fmt(first, 4) + " to " + Fmt(last, 4) + ", " + std::to_string(loads.size()) +
                                    (loads.size() == 1 ? " load" : " loads"));
    }
  if (out.data.samples.empty()) {
    report.empty_reason = "no slip cell holds " + std::to_string(min_cell) +
                          " samples of a bin: lower the samples per cell or widen the cells";
    return true;
  }
  // My opposes the rolling: in Morvex's (ISO) signs it is negative when rolling forward.
  if (quantity[4]) {
    std::vector<double> my;
    for (const TCombinedSample& s : out.data.samples)
      if (std::isfinite(s.my) && std::fabs(s.slip_ratio) <= 2 * cell) my.push_back(s.my);
    const double median = Median(my);
    if (median > 0)
      report.warnings.push_back("The rolling-resistance moment is positive near zero slip ratio (median " +
                                Fmt(median, 2) +
                                " N m): in Morvex's signs it opposes the rolling and is negative; check the sign "
                                "of the channel.");
  }
  return false;
}

}  // namespace

TCombinedImportResult ImportCombinedText(std::string_view text, const TCombinedImportOptions& options) {
  using namespace import_phase;
  CheckOptions(options.run);
  if (!std::isnan(options.slip_angle_tolerance) &&
      !(options.slip_angle_tolerance > 0 && std::isfinite(options.slip_angle_tolerance)))
    throw Exception("The import option slip-angle tolerance must be a positive number, not " +
                    Fmt(options.slip_angle_tolerance, 6));
  for (double v : options.slip_angles)
    if (!std::isfinite(v)) throw Exception("A held slip angle is not a finite number");

  TRawImportOptions run = options.run;
  run.channel = TImportChannel::kLongitudinal;
  TRawImportResult raw;
  TImportState state(run, raw);
  state.combined = true;
  state.optional_roles = {TRunRole::kAligningMoment, TRunRole::kOverturningMoment, TRunRole::kRollingMoment};
  state.slip_angles = options.slip_angles;
  state.slip_angle_tolerance = options.slip_angles.empty() ? options.slip_angle_tolerance
                               : std::isnan(options.slip_angle_tolerance) ? kGivenSlipAngleTolerance
                                                                          : options.slip_angle_tolerance;
  state.slope_window = kConventionSlipAngle;
  state.slope_ratio_limit = kConventionSlipRatio;

  TCombinedImportResult result;
  MapChannels(state, text);
  if (!state.Has(TRunRole::kSlipAngle)) {
    const TRunHeader& header = raw.header;
    const TRunRoleInfo& info = RoleInfo(TRunRole::kSlipAngle);
    std::string aliases(info.aliases);
    std::replace(aliases.begin(), aliases.end(), ' ', '/');
    throw Exception("Line " + std::to_string(header.columns.empty() ? 1 : header.columns[0].line) +
                    ": the run file has no channel for the slip angle (looked for " + aliases +
                    "), which combined slip holds. Name the channel to use for the slip angle in the channel "
                    "mapping");
  }
  CheckUnitPlausibility(state);
  ApplyConvention(state);
  if (!ApplyFilters(state) && !FindSetPoints(state)) BuildCombinedGrid(state, options, result);
  SuggestNominals(state);
  TImportReport& report = raw.report;
  if (!report.empty_reason.empty() && !report.unit_doubts.empty())
    report.empty_reason += "; the units of the file look wrong: " + report.unit_doubts.front();
  if (!report.empty_reason.empty()) result.data.samples.clear();
  result.report.run = std::move(raw.report);
  result.header = std::move(raw.header);
  return result;
}

TCombinedImportResult ImportCombinedFile(const std::string& path, const TCombinedImportOptions& options) {
  const std::string text = ReadTireDataText(path);
  return ImportCombinedText(text, options);
}

std::string FormatCombinedImportReport(const TCombinedImportReport& r) {
  using import_phase::SetPointList;
  std::string out = FormatImportReport(r.run);
  // The lines of the combined steps follow the shared report.
  if (!r.slip_angles.empty()) out += "Held slip angles: " + SetPointList(r.slip_angles, 2, "deg") + "\n";
  size_t kept = 0;
  for (const TCombinedBin& b : r.bins) kept += b.reason.empty() ? 1 : 0;
  if (!r.bins.empty()) {
    out += "Combined bins: " + std::to_string(kept) + " kept, " + std::to_string(r.bins.size() - kept) + " dropped\n";
    for (const TCombinedBin& b : r.bins)
      if (!b.reason.empty())
        out += "  dropped: inclination " + Fmt(b.inclination, 2) + " deg, load " + Fmt(b.load, 0) + " N, slip angle " +
               Fmt(b.slip_angle, 2) + " deg: " + b.reason + "\n";
  }
  std::string measured = "longitudinal force";
  if (r.lateral_force) measured += ", lateral force";
  if (r.aligning_moment) measured += ", aligning moment";
  if (r.overturning_moment) measured += ", overturning moment";
  if (r.rolling_moment) measured += ", rolling-resistance moment";
  if (r.speed) measured += ", speed";
  out += "Measured: " + measured + "\n";
  return out;
}

}  // namespace morvex
