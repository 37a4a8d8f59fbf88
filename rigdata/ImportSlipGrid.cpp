// The slip grid: each inclination's samples averaged onto cells of one
// common grid of the swept slip, one column per kept load.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

namespace {

// A slip grid finer than this many cells per inclination is refused.
constexpr double kMaxGridCells = 100000;
// Significant digits of a binned value.
constexpr int kValueDigits = 6;
// A cell's samples must spread over at least this share of the held load
// (standard deviation) for the cell's own slope in the load to be used.
constexpr double kMinCellLoadSpread = 0.004;
// Terms of the plane fitted to a cell's samples: 1, slip offset, its
// square, load offset.
constexpr size_t kPlaneTerms = 4;
// Standard errors by which the cell's own slope in the load must differ from
// the neighbouring columns' before the cell's own is believed.
constexpr double kSlopeDisagreement = 4;


// Solves the symmetric system `a` x = `rhs` of kPlaneTerms unknowns by
// elimination with partial pivoting; false when it is singular.
bool SolveNormal(const std::array<double, kPlaneTerms * kPlaneTerms>& a_in, const std::array<double, kPlaneTerms>& rhs,
                 std::array<double, kPlaneTerms>& x) {
  constexpr size_t n = kPlaneTerms;
  std::array<double, n * n> a = a_in;
  x = rhs;
  double scale = 0;
  for (double v : a) scale = std::max(scale, std::fabs(v));
  if (!(scale > 0) || !std::isfinite(scale)) return false;
  for (size_t k = 0; k < n; ++k) {
    size_t pivot = k;
    for (size_t r = k + 1; r < n; ++r)
      if (std::fabs(a[r * n + k]) > std::fabs(a[pivot * n + k])) pivot = r;
    if (!(std::fabs(a[pivot * n + k]) > 1e-12 * scale)) return false;
    if (pivot != k) {
      for (size_t q = 0; q < n; ++q) std::swap(a[k * n + q], a[pivot * n + q]);
      std::swap(x[k], x[pivot]);
    }
    for (size_t r = k + 1; r < n; ++r) {
      const double f = a[r * n + k] / a[k * n + k];
      for (size_t q = k; q < n; ++q) a[r * n + q] -= f * a[k * n + q];
      x[r] -= f * x[k];
    }
  }
  for (size_t k = n; k-- > 0;) {
    for (size_t q = k + 1; q < n; ++q) x[k] -= a[k * n + q] * x[q];
    x[k] /= a[k * n + k];
  }
  for (double v : x)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

// `v` to kValueDigits significant digits: far below any rig's noise, and
// short enough to read in the data grid.
double Significant(double v) {
  const double magnitude = std::fabs(v);
  if (!(magnitude >= 1e-290) || !std::isfinite(v)) return std::isfinite(v) ? 0.0 : v;
  const double scale = std::pow(10.0, kValueDigits - 1 - std::floor(std::log10(magnitude)));
  return std::round(v * scale) / scale;
}

// The polynomial through (x[k], y[k]), k < n (2 or 3 points, in Newton's
// form), at `at`; NaN when two x coincide.
double LoadCurve(const double* x, const double* y, size_t n, double at) {
  const double d01 = (y[1] - y[0]) / (x[1] - x[0]);
  double value = y[0] + d01 * (at - x[0]);
  if (n == 3) {
    const double d12 = (y[2] - y[1]) / (x[2] - x[1]);
    value += (d12 - d01) / (x[2] - x[0]) * (at - x[0]) * (at - x[1]);
  }
  return value;
}

bool BuildSlipGrid(TImportState& state) {
  const TRawImportOptions& options = state.options;
  TImportReport& report = state.report;
  TRawImportResult& result = state.result;
  auto column = [&](TRunRole r) -> std::vector<double>& { return state.Column(r); };
  const std::vector<TIndex>& alive = state.alive;
  const std::vector<int>& ia_member = state.ia_member;
  const std::vector<int>& load_member = state.load_member;
  const std::vector<size_t>& bin_count = state.bin_count;
  const std::vector<double>& bin_load_sum = state.bin_load_sum;
  const std::vector<char>& bin_kept = state.bin_kept;
  const size_t n_ia = report.inclinations.size(), n_load = report.loads.size();
  const std::vector<double>& slip = column(state.swept);
  const std::vector<double>& ia = column(TRunRole::kInclination);
  const bool ratio = state.swept == TRunRole::kSlipRatio;
  const TRunRole value_role = state.value;
  const std::vector<double>& load = column(TRunRole::kLoad);
  const bool load_wobble_correction = options.load_wobble_correction;
  const double cell = ratio ? options.slip_ratio_cell : options.slip_angle_cell;
  const std::vector<double>& value = column(value_role);
  const char* slip_unit = ratio ? "" : " deg";
  std::vector<std::vector<TIndex>> by_ia(n_ia);
  for (TIndex i : alive) by_ia[static_cast<size_t>(ia_member[i])].push_back(i);
  for (size_t a = 0; a < n_ia; ++a) {
    const std::vector<TIndex>& samples = by_ia[a];
    if (samples.empty()) continue;
    std::vector<size_t> loads;  // load set-points of this inclination
    for (size_t l = 0; l < n_load; ++l)
      if (bin_kept[a * n_load + l]) loads.push_back(l);
    std::vector<int> column_of_load(n_load, -1);
    for (size_t j = 0; j < loads.size(); ++j) column_of_load[loads[j]] = static_cast<int>(j);

    double lo = slip[samples[0]], hi = lo;
    for (TIndex i : samples) {
      lo = std::min(lo, slip[i]);
      hi = std::max(hi, slip[i]);
    }
    const double k_lo = std::round(lo / cell), k_hi = std::round(hi / cell);
    if (!(k_hi - k_lo + 1 <= kMaxGridCells))
      throw Exception("The slip cell " + Fmt(cell, 6) + " is too small for the slip range " + Fmt(lo, 4) + " to " +
                      Fmt(hi, 4) + ": it makes more than " + Fmt(kMaxGridCells, 0) + " cells");
    const auto cells = static_cast<size_t>(k_hi - k_lo + 1);
    // Per (load, cell): count and the sums of a line fit around the centre.
    // Beside the line's sums, the normal equations of the cell's samples in
    // the terms 1, slip offset, its square and load offset (slip offsets in
    // cells, load offsets as a share of the held load's mean, `held`).
    struct TCell {
      size_t n = 0;
      double sd = 0, sv = 0, sdd = 0, sdv = 0, sl = 0;
      std::array<double, kPlaneTerms * kPlaneTerms> xx{};
      std::array<double, kPlaneTerms> xv{};
      double vv = 0;
    };
    std::vector<double> held(n_load, 0.0);
    for (size_t l = 0; l < n_load; ++l) {
      const size_t b = a * n_load + l;
      if (bin_count[b] > 0) held[l] = bin_load_sum[b] / static_cast<double>(bin_count[b]);
    }
    std::vector<TCell> acc(loads.size() * cells);
    for (TIndex i : samples) {
      const double k = std::round(slip[i] / cell);
      const auto c = static_cast<size_t>(k - k_lo);
      const double d = slip[i] - k * cell;
      TCell& t = acc[static_cast<size_t>(column_of_load[static_cast<size_t>(load_member[i])]) * cells + c];
      ++t.n;
      t.sd += d;
      t.sv += value[i];
      t.sdd += d * d;
      t.sdv += d * value[i];
      t.sl += load[i];
      const double h = held[static_cast<size_t>(load_member[i])];
      const double x[kPlaneTerms] = {1, d / cell, (d / cell) * (d / cell), h != 0 ? load[i] / h - 1 : 0};
      for (size_t p = 0; p < kPlaneTerms; ++p) {
        for (size_t q = 0; q < kPlaneTerms; ++q) t.xx[p * kPlaneTerms + q] += x[p] * x[q];
        t.xv[p] += x[p] * value[i];
      }
      t.vv += value[i] * value[i];
    }
    std::vector<size_t> rows;
    const size_t min_cell = std::max<size_t>(1, options.min_cell_samples);
    for (size_t c = 0; c < cells; ++c) {
      bool covered = true;
      for (size_t j = 0; j < loads.size() && covered; ++j) {
        const TCell& t = acc[j * cells + c];
        // A value that is not finite is never written.
        covered = t.n >= min_cell && std::isfinite(t.sv) && std::isfinite(t.sdv) && std::isfinite(t.sdd);
      }
      if (covered) rows.push_back(c);
    }
    size_t touched = 0;
    for (size_t c = 0; c < cells; ++c)
      for (size_t j = 0; j < loads.size(); ++j)
        if (acc[j * cells + c].n > 0) {
          ++touched;
          break;
        }
    double ia_sum = 0;
    for (TIndex i : samples) ia_sum += ia[i];
    const double camber = std::round(ia_sum / static_cast<double>(samples.size()) * 100) / 100;
    const std::string name = "inclination " + Fmt(camber, 2) + " deg";
    if (rows.empty()) {
      report.grid_notes.push_back(name + ": dropped, no slip cell holds " + std::to_string(options.min_cell_samples) +
                                  " samples of every load");
      continue;
    }
    TLoadCase lc;
    lc.Camber = camber;
    for (size_t l : loads) {
      const size_t b = a * n_load + l;
      lc.Loads.push_back(std::round(bin_load_sum[b] / static_cast<double>(bin_count[b])));
    }
    for (size_t c : rows) lc.Slips.push_back((static_cast<double>(c) + k_lo) * cell);
    lc.Values.reserve(rows.size() * loads.size());
    const size_t n_cols = loads.size();
    std::vector<double> line(n_cols), mean_load(n_cols);
    // The plane through a cell's samples in slip and load: its value at the
    // centre and the held load, its slope in the load and that slope's
    // standard error (NaN where the samples do not determine it).
    std::vector<double> plane_value(n_cols), plane_slope(n_cols), plane_error(n_cols);
    for (size_t c : rows) {
      for (size_t j = 0; j < n_cols; ++j) {
        const TCell& t = acc[j * cells + c];
        const double n = static_cast<double>(t.n);
        const double md = t.sd / n, mv = t.sv / n;
        const double sxx = t.sdd - n * md * md, sxy = t.sdv - n * md * mv;
        // The line through the cell's samples, at the centre; the plain
        // mean where the samples do not spread enough to give a slope.
        const double slope = t.n >= 3 && sxx > n * 1e-6 * cell * cell ? sxy / sxx : 0.0;
        line[j] = mv - slope * md;
        mean_load[j] = t.sl / n;
        plane_error[j] = std::numeric_limits<double>::quiet_NaN();
        const double held_load = lc.Loads[j];
        if (t.n >= 10 && held_load != 0) {
          // The load term's spread: the samples' variance of the load offset.
          const double spread = t.xx[15] / n - std::pow(t.xx[3] / n, 2);
          std::array<double, kPlaneTerms> b{}, e{};
          if (spread > kMinCellLoadSpread * kMinCellLoadSpread && SolveNormal(t.xx, t.xv, b) &&
              SolveNormal(t.xx, {0, 0, 0, 1}, e)) {
            double rss = t.vv;
            for (size_t p = 0; p < kPlaneTerms; ++p) rss -= b[p] * t.xv[p];
            const double variance = std::max(0.0, rss) / (n - kPlaneTerms);
            // Value at the centre and the held load's mean, slope per newton.
            plane_value[j] = b[0];
            plane_slope[j] = b[3] / held[loads[j]];
            plane_error[j] = std::sqrt(variance * std::max(0.0, e[3])) / std::fabs(held[loads[j]]);
          }
        }
      }
      // A held load wobbles, and a cell's samples catch it at some phase:
      // each value is taken from its samples' mean load to its column's load
      // along the curve through the same cell of this and the neighbouring
      // columns (a parabola through three, a line through two), which
      // averages the noise of many samples.  Where the force changes with
      // the load more steeply than that curve says (a truck tire near its
      // top load, whose moment grows by a third per 5 % of load), the
      // cell's own samples tell: their plane in slip and load is clearly
      // steeper than the curve, and its value at the held load is taken.
      // Only steeper: the load sensor's noise flattens a slope fitted
      // within one cell, so a flatter plane says nothing about the curve.
      for (size_t j = 0; j < n_cols; ++j) {
        double v = line[j];
        if (load_wobble_correction && n_cols >= 2) {
          const size_t first = n_cols == 2 ? 0 : std::min(j == 0 ? 0 : j - 1, n_cols - 3);
          const size_t count = std::min<size_t>(3, n_cols);
          const double at_mean = LoadCurve(&mean_load[first], &line[first], count, mean_load[j]);
          const double shift = LoadCurve(&mean_load[first], &line[first], count, lc.Loads[j]) - at_mean;
          // The curve's slope at the samples' mean load.
          const double step = 1e-3 * std::fabs(lc.Loads[j]);
          const double curve_slope =
              (LoadCurve(&mean_load[first], &line[first], count, mean_load[j] + step) - at_mean) / step;
          if (std::isfinite(plane_error[j]) && std::isfinite(curve_slope) &&
              plane_slope[j] * curve_slope > 0 &&
              std::fabs(plane_slope[j]) - std::fabs(curve_slope) > kSlopeDisagreement * plane_error[j] &&
              std::isfinite(plane_value[j]))
            v = plane_value[j];
          else if (std::isfinite(shift))
            v += shift;
        }
        lc.Values.push_back(Significant(v));
      }
    }
    std::string note = name + ": " + std::to_string(rows.size()) + " slip cells from " + Fmt(lc.Slips.front(), 4) +
                       " to " + Fmt(lc.Slips.back(), 4) + slip_unit + ", " + std::to_string(loads.size()) +
                       (loads.size() == 1 ? " load" : " loads");
    if (touched > rows.size())
      note += "; " + std::to_string(touched - rows.size()) + " cells dropped where a load had fewer than " +
              std::to_string(options.min_cell_samples) + " samples";
    report.grid_notes.push_back(note);

    const auto case_index = static_cast<int32_t>(result.data.Cases.size());
    for (TIndex i : samples) {
      result.raw.case_index.push_back(case_index);
      result.raw.load_index.push_back(column_of_load[static_cast<size_t>(load_member[i])]);
      result.raw.slip.push_back(slip[i]);
      result.raw.value.push_back(value[i]);
    }
    result.data.Cases.push_back(std::move(lc));
  }
  if (result.data.Cases.empty())
    report.empty_reason = "no slip cell holds " + std::to_string(options.min_cell_samples) +
                          " samples of every load of an inclination: lower the samples per cell or widen the cells";
  return result.data.Cases.empty();
}

}  // namespace morvex::import_phase
