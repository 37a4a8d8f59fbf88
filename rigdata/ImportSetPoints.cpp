// Set-points: the inclinations and loads the run held, found in the data
// (or given), each sample's set-point, and the (inclination, load) bins.
#include <algorithm>
#include <cmath>

#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// Set-point search: histogram cells per tolerance, and at most this many cells and peaks.
constexpr double kCellsPerTolerance = 4;
constexpr double kMaxHistogramCells = 1e6;
constexpr size_t kMaxSetPoints = 100;
constexpr size_t kMaxHeldTests = 200;

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
    if (given.empty()) {
      points = FindPeaks(v, alive, tolerance, held, dwell);
    } else {
      for (double g : given) points.push_back({g, 0});
      std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.value < b.value; });
    }
    // Membership, then each set-point's centre is the mean of its samples.
    std::vector<double> sums(points.size(), 0.0);
    std::vector<size_t> counts(points.size(), 0);
    member.assign(state.rows, -1);
    for (TIndex i : alive) {
      const int k = NearestSetPoint(points, v[i], tolerance);
      member[i] = k;
      if (k >= 0) {
        sums[static_cast<size_t>(k)] += v[i];
        ++counts[static_cast<size_t>(k)];
      }
    }
    std::vector<int> renumber(points.size(), -1);
    for (size_t k = 0; k < points.size(); ++k) {
      if (counts[k] == 0) {
        report.warnings.push_back("No sample lies within " + Fmt(tolerance, 3) + " " + unit + " of the " + label +
                                  " set-point " + Fmt(points[k].value, decimals) + " " + unit + ".");
        continue;
      }
      renumber[k] = static_cast<int>(kept.size());
      kept.push_back({sums[k] / static_cast<double>(counts[k]), counts[k]});
    }
    for (TIndex i : alive)
      if (member[i] >= 0) member[i] = renumber[static_cast<size_t>(member[i])];
    const std::string limit = "within " + Fmt(tolerance, 3) + " " + unit + " of " +
                              (given.empty() ? "a value held " + Fmt(options.min_dwell_seconds, 3) + " s"
                                             : "the set-points given");
    state.Filter(label + " set-points", limit, [&](TIndex i) { return member[i] < 0; });
    if (given.empty())
      return emptied("no " + label + " was held for " + Fmt(options.min_dwell_seconds, 3) + " s (" +
                     std::to_string(held) + " samples) within " + Fmt(tolerance, 3) + " " + unit +
                     ": give the set-points, or lower the dwell time");
    return emptied("no sample lies within " + Fmt(tolerance, 3) + " " + unit + " of the " + label +
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
