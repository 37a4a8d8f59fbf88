// Set-points: the inclinations and loads the run held, found in the data
// (or given), each sample's set-point, and the (inclination, load) bins.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// Set-point search: histogram cells per tolerance, and at most this many cells and peaks.
constexpr double kCellsPerTolerance = 4;
constexpr double kMaxHistogramCells = 1e6;
constexpr size_t kMaxSetPoints = 100;
constexpr size_t kMaxHeldTests = 200;
// Relative set-points: the density of log(value) on cells of 0.5 %, smoothed
// over 3 % (a held load wobbles by a few per cent), peaks below 3 % of the
// highest ignored, two peaks with a valley above 70 % of the lower one
// joined; a set-point's tolerance is four spreads, at least 0.8 % each side.
constexpr double kDensityCell = 0.005;
constexpr double kDensityWidth = 0.03;
constexpr double kMaxDensityCells = 200000;
constexpr double kMinPeakShare = 0.03;
constexpr double kMergeValley = 0.7;
constexpr double kNotedMergeShare = 0.2;
// Held stretches of one set-point whose means lie further apart than this
// (in the density's scale: 4 % of a load, 0.2 deg) are two set-points joined.
constexpr double kStretchGap = 0.04;
constexpr double kMinSpread = 0.002;
// Loads given without a tolerance: this share either side; inclinations, degrees.
constexpr double kGivenRelativeTolerance = 0.08;
constexpr double kGivenInclinationTolerance = 0.6;
// Inclinations are clustered on values divided by this (deg), so that the
// widths above read: cells of 0.025 deg, a kernel of 0.15 deg.
constexpr double kAngleScale = 5.0;

// The samples of values[alive] within `tolerance` of `centre` that belong to
// stretches held at least the dwell (consecutive samples of `alive`, within
// the tolerance from the first to the last, lasting the dwell time).  A
// ramp that passes through a value many times never holds it.
size_t HeldSamples(const std::vector<double>& values, const std::vector<TIndex>& alive, double centre,
                   double tolerance, const TDwell& dwell) {
  size_t held = 0, run = 0;
  double earliest = 0, latest = 0;  // a time that steps back (runs joined) still spans its stretch
  auto close = [&] {
    const bool long_enough = dwell.time ? run >= 2 && latest - earliest >= dwell.seconds : run >= dwell.samples;
    if (long_enough) held += run;
    run = 0;
  };
  for (TIndex i : alive) {
    if (std::fabs(values[i] - centre) <= tolerance) {
      const double t = dwell.time ? (*dwell.time)[i] : 0.0;
      if (run == 0) earliest = latest = t;
      earliest = std::min(earliest, t);
      latest = std::max(latest, t);
      ++run;
    } else if (run > 0) {
      close();
    }
  }
  if (run > 0) close();
  return held;
}
}  // namespace


// Peaks of the histogram of values[alive]: centres of values held (see
// HeldSamples) by at least `min_samples` samples within `tolerance`, at
// least twice the tolerance apart.  The highest cell is taken first, its
// centre is the mean of the samples within the tolerance, and cells within
// twice the tolerance of it are then left out, so that the noise on a held
// value never splits it into two set-points.
std::vector<TImportSetPoint> FindPeaks(const std::vector<double>& values, const std::vector<TIndex>& alive,
                                       double tolerance, size_t min_samples, const TDwell& dwell) {
  std::vector<TImportSetPoint> peaks;
  if (alive.empty()) return peaks;
  double lo = values[alive[0]], hi = lo;
  for (TIndex i : alive) {
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  // Divisions before subtractions, so that no span of finite values overflows.
  const double width = std::max(tolerance / kCellsPerTolerance, hi / kMaxHistogramCells - lo / kMaxHistogramCells);
  const size_t cells = static_cast<size_t>(std::min(std::floor(hi / width - lo / width), kMaxHistogramCells)) + 1;
  std::vector<size_t> counts(cells, 0);
  std::vector<double> sums(cells, 0.0);
  auto cell_of = [&](double v) {
    const double x = std::floor(v / width - lo / width);
    // NaN never reaches here: the samples are finite.
    return x <= 0 ? size_t{0} : x >= static_cast<double>(cells - 1) ? cells - 1 : static_cast<size_t>(x);
  };
  for (TIndex i : alive) {
    const size_t c = cell_of(values[i]);
    ++counts[c];
    sums[c] += values[i];
  }
  std::vector<size_t> order;
  for (size_t c = 0; c < cells; ++c)
    if (counts[c] > 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return counts[a] > counts[b]; });
  std::vector<char> taken(cells, 0);
  const auto reach = static_cast<long>(std::ceil(tolerance / width));
  auto window = [&](double centre, size_t& support) {
    const long mid = static_cast<long>(cell_of(std::clamp(centre, lo, hi)));
    double sum = 0;
    support = 0;
    for (long c = std::max(0L, mid - reach); c <= std::min(static_cast<long>(cells) - 1, mid + reach); ++c) {
      support += counts[static_cast<size_t>(c)];
      sum += sums[static_cast<size_t>(c)];
    }
    return support ? sum / static_cast<double>(support) : centre;
  };
  size_t held_tests = 0;
  for (size_t c : order) {
    if (taken[c]) continue;
    size_t support = 0;
    double centre = window(lo + (static_cast<double>(c) + 0.5) * width, support);
    centre = window(centre, support);
    if (support < min_samples) continue;
    // Each test of the dwell passes over the samples: a candidate that fails
    // keeps its neighbours from being tried again, and the tries are few.
    if (++held_tests > kMaxHeldTests) break;
    if (HeldSamples(values, alive, centre, tolerance, dwell) < min_samples) {
      const long mid = static_cast<long>(cell_of(std::clamp(centre, lo, hi)));
      for (long k = std::max(0L, mid - reach); k <= std::min(static_cast<long>(cells) - 1, mid + reach); ++k)
        taken[static_cast<size_t>(k)] = 1;
      continue;
    }
    peaks.push_back({centre, support});
    const long mid = static_cast<long>(cell_of(std::clamp(centre, lo, hi)));
    for (long k = std::max(0L, mid - 2 * reach); k <= std::min(static_cast<long>(cells) - 1, mid + 2 * reach); ++k)
      taken[static_cast<size_t>(k)] = 1;
    if (peaks.size() == kMaxSetPoints) break;
  }
  std::sort(peaks.begin(), peaks.end(),
            [](const TImportSetPoint& a, const TImportSetPoint& b) { return a.value < b.value; });
  return peaks;
}


namespace {

// The index of the set-point within `tolerance` of v (the nearest), or -1.
int NearestSetPoint(const std::vector<TImportSetPoint>& points, double v, double tolerance) {
  int best = -1;
  double best_distance = tolerance;
  for (size_t k = 0; k < points.size(); ++k) {
    const double d = std::fabs(v - points[k].value);
    if (d <= best_distance) {
      best_distance = d;
      best = static_cast<int>(k);
    }
  }
  return best;
}

}  // namespace

std::vector<TImportSetPoint> FindRelativeSetPoints(const std::vector<double>& values,
                                                   const std::vector<TIndex>& alive, const TDwell& dwell,
                                                   std::vector<std::string>& notes, int decimals,
                                                   const char* unit, bool logarithmic) {
  std::vector<TImportSetPoint> found;
  // Loads: the logarithms of the positive values, since a held load wobbles
  // by a share of itself, so that the spread is alike at every set-point.
  // Inclinations: the values, on a scale of tenths of a degree.
  const double scale = logarithmic ? 1.0 : kAngleScale;
  auto to_x = [&](double v) { return logarithmic ? std::log(v) : v / scale; };
  auto from_x = [&](double x) { return logarithmic ? std::exp(x) : x * scale; };
  std::vector<double> x;
  std::vector<TIndex> index;
  x.reserve(alive.size());
  for (TIndex i : alive)
    if ((values[i] > 0 || !logarithmic) && std::isfinite(values[i])) {
      x.push_back(to_x(values[i]));
      index.push_back(i);
    }
  if (x.empty()) return found;
  const auto [lo_it, hi_it] = std::minmax_element(x.begin(), x.end());
  const double lo = *lo_it - 4 * kDensityWidth, hi = *hi_it + 4 * kDensityWidth;
  const double width = std::max(kDensityCell, (hi - lo) / kMaxDensityCells);
  const auto cells = static_cast<size_t>((hi - lo) / width) + 1;
  std::vector<double> counts(cells, 0.0);
  auto cell_of = [&](double v) { return std::min(cells - 1, static_cast<size_t>((v - lo) / width)); };
  for (double v : x) counts[cell_of(v)] += 1;
  // A smooth density: the counts through a Gaussian kernel.
  const auto reach = static_cast<long>(std::ceil(3 * kDensityWidth / width));
  std::vector<double> kernel(static_cast<size_t>(2 * reach + 1));
  for (long k = -reach; k <= reach; ++k) {
    const double z = static_cast<double>(k) * width / kDensityWidth;
    kernel[static_cast<size_t>(k + reach)] = std::exp(-0.5 * z * z);
  }
  std::vector<double> density(cells, 0.0);
  for (size_t c = 0; c < cells; ++c) {
    if (counts[c] == 0) continue;
    const long from = std::max(0L, static_cast<long>(c) - reach);
    const long to = std::min(static_cast<long>(cells) - 1, static_cast<long>(c) + reach);
    for (long d = from; d <= to; ++d)
      density[static_cast<size_t>(d)] += counts[c] * kernel[static_cast<size_t>(d - static_cast<long>(c) + reach)];
  }
  // Local maxima, then neighbours without a clear valley between them are one.
  std::vector<size_t> peaks;
  for (size_t c = 1; c + 1 < cells; ++c)
    if (density[c] > density[c - 1] && density[c] >= density[c + 1]) peaks.push_back(c);
  const double top = *std::max_element(density.begin(), density.end());
  std::vector<size_t> kept;
  std::vector<char> merge_noted;  // per kept peak: a line already says it joins two
  for (size_t c : peaks) {
    if (density[c] < kMinPeakShare * top) continue;
    if (!kept.empty()) {
      const size_t prev = kept.back();
      const double valley = *std::min_element(density.begin() + static_cast<long>(prev), density.begin() + static_cast<long>(c) + 1);
      if (valley > kMergeValley * std::min(density[prev], density[c])) {
        // A bump of the ramps beside a held value is no set-point to speak of.
        if (std::min(density[prev], density[c]) >= kNotedMergeShare * top)
          notes.push_back("the values near " + Fmt(from_x(lo + (static_cast<double>(prev) + 0.5) * width), decimals) +
                        " and " + Fmt(from_x(lo + (static_cast<double>(c) + 0.5) * width), decimals) + " " + unit +
                        " have no clear gap between them and are taken as one set-point");
        if (std::min(density[prev], density[c]) >= kNotedMergeShare * top) merge_noted.back() = 1;
        if (density[c] > density[prev]) kept.back() = c;
        continue;
      }
    }
    kept.push_back(c);
    merge_noted.push_back(0);
    if (kept.size() == kMaxSetPoints) break;
  }
  // Each peak: its centre, the spread of the values held there, and a
  // tolerance of four spreads that stays short of the valleys to its
  // neighbours.
  std::vector<double> boundary;  // the valleys between kept peaks, in x
  for (size_t k = 0; k + 1 < kept.size(); ++k) {
    const auto it = std::min_element(density.begin() + static_cast<long>(kept[k]), density.begin() + static_cast<long>(kept[k + 1]) + 1);
    boundary.push_back(lo + (static_cast<double>(it - density.begin()) + 0.5) * width);
  }
  for (size_t k = 0; k < kept.size(); ++k) {
    const double peak = lo + (static_cast<double>(kept[k]) + 0.5) * width;
    const double left = k > 0 ? boundary[k - 1] : -std::numeric_limits<double>::infinity();
    const double right = k + 1 < kept.size() ? boundary[k] : std::numeric_limits<double>::infinity();
    std::vector<double> near;
    for (double v : x)
      if (std::fabs(v - peak) <= 2 * kDensityWidth && v > left && v < right) near.push_back(v);
    if (near.empty()) continue;
    const double centre = Median(near);
    for (double& v : near) v = std::fabs(v - centre);
    const double spread = std::max(kMinSpread, 1.4826 * Median(near));
    const double tolerance = std::min({4 * spread, centre - left, right - centre});
    // Held: a stretch of members (short interruptions allowed) lasting the dwell.
    size_t held = 0, run = 0, gap = 0, members = 0;
    double first = 0, last = 0, run_sum = 0;
    std::vector<double> stretch_means;  // of each held stretch
    std::vector<double> run_values;     // of the stretch being read
    // Two levels held one after the other within one stretch: the medians of
    // neighbouring blocks of half a dwell differ by more than the slow drift
    // moves them.
    std::optional<std::pair<double, double>> step;
    const size_t block = std::max<size_t>(5, dwell.samples / 2);
    const size_t allowed_gap = std::max<size_t>(3, dwell.samples / 10);
    auto close = [&] {
      const bool long_enough = dwell.time ? run >= 2 && last - first >= dwell.seconds : run >= dwell.samples;
      if (long_enough) {
        held += run;
        stretch_means.push_back(run_sum / static_cast<double>(run));
        double previous = std::numeric_limits<double>::quiet_NaN();
        for (size_t from = 0; !step && from + block <= run_values.size(); from += block) {
          const double median =
              Median(std::vector<double>(run_values.begin() + static_cast<long>(from),
                                         run_values.begin() + static_cast<long>(from + block)));
          if (std::fabs(median - previous) > kStretchGap)
            step = std::pair{std::min(previous, median), std::max(previous, median)};
          previous = median;
        }
      }
      run = 0;
      run_sum = 0;
      run_values.clear();
    };
    for (size_t n = 0; n < x.size(); ++n) {
      if (std::fabs(x[n] - centre) <= tolerance) {
        ++members;
        const double t = dwell.time ? (*dwell.time)[index[n]] : 0.0;
        if (run == 0) first = last = t;
        first = std::min(first, t);
        last = std::max(last, t);
        ++run;
        run_sum += x[n];
        run_values.push_back(x[n]);
        gap = 0;
      } else if (run > 0 && ++gap > allowed_gap) {
        close();
      }
    }
    if (run > 0) close();
    // Stretches held at values further apart than the wobble averages out
    // over a stretch: two set-points that the wobble joins into one.
    std::sort(stretch_means.begin(), stretch_means.end());
    for (size_t k = 1; k < stretch_means.size() && !step; ++k)
      if (stretch_means[k] - stretch_means[k - 1] > kStretchGap) step = std::pair{stretch_means[k - 1], stretch_means[k]};
    if (step && !merge_noted[k])
      notes.push_back("the values held near " + Fmt(from_x(step->first), decimals) + " and " +
                      Fmt(from_x(step->second), decimals) + " " + unit +
                      " are closer than their wobble and are taken as one set-point");
    if (held == 0) {
      if (members >= dwell.samples)
        notes.push_back("the value near " + Fmt(from_x(centre), decimals) + " " + unit + " (" +
                        std::to_string(members) + " samples) is never held for " + Fmt(dwell.seconds, 3) +
                        " s, so it is no set-point");
      continue;
    }
    TImportSetPoint point;
    point.value = from_x(centre);
    point.samples = members;
    // Relative either side for loads, in degrees for inclinations.
    point.tolerance = logarithmic ? std::exp(tolerance) - 1 : tolerance * scale;
    point.relative = logarithmic;
    found.push_back(point);
  }
  return found;
}

// The index of the set-point whose relative tolerance holds v (the nearest), or -1.
int NearestRelative(const std::vector<TImportSetPoint>& points, double v) {
  int best = -1;
  double best_distance = std::numeric_limits<double>::infinity();
  for (size_t k = 0; k < points.size(); ++k) {
    const TImportSetPoint& p = points[k];
    if (p.relative && !(v > 0)) continue;
    const double d = p.relative ? std::fabs(std::log(v / p.value)) / std::log1p(p.tolerance)
                                : std::fabs(v - p.value) / p.tolerance;
    if (d <= 1 && d < best_distance) {
      best_distance = d;
      best = static_cast<int>(k);
    }
  }
  return best;
}

bool FindSetPoints(TImportState& state) {
  const TRawImportOptions& options = state.options;
  TImportReport& report = state.report;
  auto column = [&](TRunRole r) -> std::vector<double>& { return state.Column(r); };
  auto emptied = [&](std::string reason) { return state.Emptied(std::move(reason)); };
  std::vector<TIndex>& alive = state.alive;
  const size_t dwell_samples = state.dwell_samples;
  const TDwell dwell{state.Time(), options.min_dwell_seconds, dwell_samples};
  const size_t held = std::max(dwell_samples, size_t{1});
  auto set_points = [&](TRunRole role, const std::vector<double>& given, double tolerance, int decimals,
                        const char* unit, std::vector<TImportSetPoint>& kept, std::vector<int>& member) {
    const std::vector<double>& v = column(role);
    const std::string label(RoleInfo(role).label);
    std::vector<TImportSetPoint> points;
    // A NaN tolerance: each set-point's own, relative to its size.
    const bool relative = std::isnan(tolerance);
    const std::string tolerance_text =
        relative ? std::string("its own tolerance") : Fmt(tolerance, 3) + " " + unit;
    if (given.empty()) {
      points = relative ? FindRelativeSetPoints(v, alive, dwell, report.setpoint_notes, decimals, unit,
                                                role == TRunRole::kLoad)
                        : FindPeaks(v, alive, tolerance, held, dwell);
    } else {
      for (double g : given)
        points.push_back(role == TRunRole::kLoad ? TImportSetPoint{g, 0, kGivenRelativeTolerance, relative}
                                                 : TImportSetPoint{g, 0, kGivenInclinationTolerance, false});
      std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.value < b.value; });
    }
    // Membership, then each set-point's centre is the mean of its samples.
    std::vector<double> sums(points.size(), 0.0);
    std::vector<size_t> counts(points.size(), 0);
    member.assign(state.rows, -1);
    for (TIndex i : alive) {
      const int k = relative ? NearestRelative(points, v[i]) : NearestSetPoint(points, v[i], tolerance);
      member[i] = k;
      if (k >= 0) {
        sums[static_cast<size_t>(k)] += v[i];
        ++counts[static_cast<size_t>(k)];
      }
    }
    std::vector<int> renumber(points.size(), -1);
    for (size_t k = 0; k < points.size(); ++k) {
      if (counts[k] == 0) {
        report.warnings.push_back("No sample lies within " + tolerance_text + " of the " + label +
                                  " set-point " + Fmt(points[k].value, decimals) + " " + unit + ".");
        continue;
      }
      renumber[k] = static_cast<int>(kept.size());
      kept.push_back({sums[k] / static_cast<double>(counts[k]), counts[k], relative ? points[k].tolerance : tolerance,
                      relative && points[k].relative});
    }
    for (TIndex i : alive)
      if (member[i] >= 0) member[i] = renumber[static_cast<size_t>(member[i])];
    const std::string limit = "within " + (relative ? std::string("a tolerance found per set-point") : tolerance_text) + " of " +
                              (given.empty() ? "a value held " + Fmt(options.min_dwell_seconds, 3) + " s"
                                             : "the set-points given");
    state.Filter(label + " set-points", limit, [&](TIndex i) { return member[i] < 0; });
    if (given.empty())
      return emptied("no " + label + " was held for " + Fmt(options.min_dwell_seconds, 3) + " s (" +
                     std::to_string(held) + " samples) within " + tolerance_text +
                     ": give the set-points, or lower the dwell time");
    return emptied("no sample lies within " + tolerance_text + " of the " + label +
                   " set-points given");
  };
  std::vector<int>& ia_member = state.ia_member;
  std::vector<int>& load_member = state.load_member;
  if (set_points(TRunRole::kInclination, options.inclinations, options.inclination_tolerance, 2, "deg",
                 report.inclinations, ia_member))
    return true;
  if (set_points(TRunRole::kLoad, options.loads, options.load_tolerance, 0, "N", report.loads, load_member))
    return true;

  // ---- bins
  const size_t n_ia = report.inclinations.size(), n_load = report.loads.size();
  std::vector<size_t>& bin_count = state.bin_count;
  bin_count.assign(n_ia * n_load, 0);
  std::vector<double>& bin_load_sum = state.bin_load_sum;
  bin_load_sum.assign(n_ia * n_load, 0.0);
  std::vector<double> bin_ia_sum(n_ia * n_load, 0.0);
  const std::vector<double>& fz = column(TRunRole::kLoad);
  const std::vector<double>& ia = column(TRunRole::kInclination);
  auto bin_of = [&](TIndex i) {
    return static_cast<size_t>(ia_member[i]) * n_load + static_cast<size_t>(load_member[i]);
  };
  for (TIndex i : alive) {
    const size_t b = bin_of(i);
    ++bin_count[b];
    bin_load_sum[b] += fz[i];
    bin_ia_sum[b] += ia[i];
  }
  std::vector<char>& bin_kept = state.bin_kept;
  bin_kept.assign(n_ia * n_load, 0);
  for (size_t a = 0; a < n_ia; ++a)
    for (size_t l = 0; l < n_load; ++l) {
      const size_t b = a * n_load + l;
      if (bin_count[b] == 0) continue;
      TImportBin bin;
      bin.inclination = bin_ia_sum[b] / static_cast<double>(bin_count[b]);
      bin.load = bin_load_sum[b] / static_cast<double>(bin_count[b]);
      bin.samples = bin_count[b];
      if (bin.samples < options.min_bin_samples)
        bin.reason = std::to_string(bin.samples) + " samples, fewer than " + std::to_string(options.min_bin_samples);
      else
        bin_kept[b] = 1;
      report.bins.push_back(bin);
    }
  state.Filter("bins with too few samples",
         "at least " + std::to_string(options.min_bin_samples) + " samples per inclination and load",
         [&](TIndex i) { return !bin_kept[bin_of(i)]; });
  if (emptied("every inclination and load bin holds fewer than " + std::to_string(options.min_bin_samples) +
              " samples"))
    return true;

  return false;
}

}  // namespace morvex::import_phase

namespace morvex::import_phase {

std::vector<int> TentativeBins(TImportState& state) {
  const TRawImportOptions& options = state.options;
  const TDwell dwell{state.Time(), options.min_dwell_seconds, std::max<size_t>(state.dwell_samples, 1)};
  std::vector<std::string> notes;
  auto members = [&](TRunRole role, const std::vector<double>& given, double tolerance, std::vector<int>& member,
                     size_t& count) {
    const std::vector<double>& v = state.Column(role);
    const bool relative = std::isnan(tolerance);
    std::vector<TImportSetPoint> points;
    if (given.empty())
      points = relative ? FindRelativeSetPoints(v, state.alive, dwell, notes, 0, "", role == TRunRole::kLoad)
                        : FindPeaks(v, state.alive, tolerance, dwell.samples, dwell);
    else
      for (double g : given)
        points.push_back(role == TRunRole::kLoad ? TImportSetPoint{g, 0, kGivenRelativeTolerance, relative}
                                                 : TImportSetPoint{g, 0, kGivenInclinationTolerance, false});
    member.assign(state.rows, -1);
    for (TIndex i : state.alive)
      member[i] = relative ? NearestRelative(points, v[i]) : NearestSetPoint(points, v[i], tolerance);
    count = points.size();
  };
  std::vector<int> ia, load, angle, bins(state.rows, -1);
  size_t n_ia = 0, n_load = 0, n_angle = 1;
  members(TRunRole::kInclination, options.inclinations, options.inclination_tolerance, ia, n_ia);
  members(TRunRole::kLoad, options.loads, options.load_tolerance, load, n_load);
  // Under combined slip the held slip angle is part of the bin.
  if (state.combined) members(TRunRole::kSlipAngle, state.slip_angles, state.slip_angle_tolerance, angle, n_angle);
  for (TIndex i : state.alive)
    if (ia[i] >= 0 && load[i] >= 0 && (!state.combined || angle[i] >= 0))
      bins[i] = (ia[i] * static_cast<int>(n_load) + load[i]) * static_cast<int>(n_angle) +
                (state.combined ? angle[i] : 0);
  return bins;
}

}  // namespace morvex::import_phase
