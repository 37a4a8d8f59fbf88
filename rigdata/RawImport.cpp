#include "rigdata/RawImport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Slip beyond these is not a measurement of a tire in pure slip.
constexpr double kMaxAbsSlipAngle = 90;  // deg
constexpr double kMaxAbsSlipRatio = 10;
// A slip grid finer than this many cells per inclination is refused.
constexpr double kMaxGridCells = 100000;
// Set-point search: histogram cells per tolerance, and at most this many cells and peaks.
constexpr double kCellsPerTolerance = 4;
constexpr double kMaxHistogramCells = 1e6;
constexpr size_t kMaxSetPoints = 100;
constexpr size_t kMaxHeldTests = 200;
// The slope of the lateral force near zero slip is measured within this slip angle (deg).
constexpr double kSlopeWindow = 1.0;
constexpr size_t kMinSlopeSamples = 10;
// Significant digits of a binned value.
constexpr int kValueDigits = 6;

using TIndex = uint32_t;

std::string Fmt(double value, int decimals) {
  if (!std::isfinite(value)) return value > 0 ? "inf" : value < 0 ? "-inf" : "nan";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "?";
  std::string text(buffer, end);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

size_t RoleIndex(TRunRole role) { return static_cast<size_t>(role); }

// The column of `header` named `name` (any case), or -1.
long FindColumn(const TRunHeader& header, std::string_view name) {
  const std::string wanted = AsciiUpper(name);
  for (size_t k = 0; k < header.columns.size(); ++k)
    if (AsciiUpper(header.columns[k].name) == wanted) return static_cast<long>(k);
  return -1;
}

std::string ChannelList(const TRunHeader& header) {
  std::string list;
  for (size_t k = 0; k < header.columns.size() && k < 40; ++k)
    list += (k ? ", " : "") + header.columns[k].name;
  if (header.columns.size() > 40) list += ", ...";
  return list;
}

std::string AliasList(const TRunRoleInfo& info) {
  std::string list(info.aliases);
  std::replace(list.begin(), list.end(), ' ', '/');
  return list;
}

TRunRole SweptRole(TImportChannel channel) {
  return channel == TImportChannel::kLongitudinal ? TRunRole::kSlipRatio : TRunRole::kSlipAngle;
}
TRunRole CrossRole(TImportChannel channel) {
  return channel == TImportChannel::kLongitudinal ? TRunRole::kSlipAngle : TRunRole::kSlipRatio;
}
TRunRole ValueRole(TImportChannel channel) {
  switch (channel) {
    case TImportChannel::kLateral: return TRunRole::kLateralForce;
    case TImportChannel::kAligning: return TRunRole::kAligningMoment;
    case TImportChannel::kLongitudinal: return TRunRole::kLongitudinalForce;
  }
  return TRunRole::kLateralForce;
}

void CheckOptions(const TRawImportOptions& o) {
  auto positive = [](double v, const char* name) {
    if (!(v > 0) || !std::isfinite(v))
      throw Exception(std::string("The import option ") + name + " must be a positive number, not " + Fmt(v, 6));
  };
  positive(o.inclination_tolerance, "inclination tolerance");
  positive(o.load_tolerance, "load tolerance");
  positive(o.pressure_tolerance, "pressure tolerance");
  positive(o.speed_tolerance, "speed tolerance");
  positive(o.slip_angle_cell, "slip-angle cell");
  positive(o.slip_ratio_cell, "slip-ratio cell");
  if (!(o.warmup_seconds >= 0)) throw Exception("The warm-up must be 0 or more seconds, not " + Fmt(o.warmup_seconds, 6));
  if (!(o.min_dwell_seconds >= 0)) throw Exception("The minimum dwell must be 0 or more seconds");
  if (std::isnan(o.time_from) || std::isnan(o.time_to) || o.time_from > o.time_to)
    throw Exception("The time window " + Fmt(o.time_from, 3) + " to " + Fmt(o.time_to, 3) + " s is empty");
  if (!(o.max_slip_ratio >= 0) || !(o.max_slip_angle >= 0) || std::isnan(o.load_floor))
    throw Exception("The pure-slip limits and the load floor must be numbers, the limits 0 or more");
  for (double v : o.inclinations)
    if (!std::isfinite(v)) throw Exception("An inclination set-point is not a finite number");
  for (double v : o.loads)
    if (!std::isfinite(v)) throw Exception("A load set-point is not a finite number");
}

// `v` to kValueDigits significant digits: far below any rig's noise, and
// short enough to read in the data grid.
double Significant(double v) {
  const double magnitude = std::fabs(v);
  if (!(magnitude >= 1e-290) || !std::isfinite(v)) return std::isfinite(v) ? 0.0 : v;
  const double scale = std::pow(10.0, kValueDigits - 1 - std::floor(std::log10(magnitude)));
  return std::round(v * scale) / scale;
}

// Drops the samples of `alive` for which `drop(i)` holds; records the step.
template <class Drop>
void Filter(std::vector<TIndex>& alive, TImportReport& report, std::string name, std::string limit, Drop&& drop) {
  const size_t before = alive.size();
  alive.erase(std::remove_if(alive.begin(), alive.end(), [&](TIndex i) { return drop(i); }), alive.end());
  report.steps.push_back({std::move(name), std::move(limit), before - alive.size(), alive.size()});
}

// How long a value is held: what a set-point needs besides many samples.
struct TDwell {
  const std::vector<double>* time = nullptr;  // without one, `samples` in a row count
  double seconds = 0;
  size_t samples = 1;
};

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

double Median(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

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

std::string SetPointList(const std::vector<TImportSetPoint>& points, int decimals, const char* unit) {
  std::string text;
  for (size_t k = 0; k < points.size(); ++k)
    text += (k ? ", " : "") + Fmt(points[k].value, decimals) + " " + unit + " (" +
            std::to_string(points[k].samples) + " samples)";
  return text.empty() ? "none" : text;
}

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

std::string_view ImportChannelName(TImportChannel channel) {
  switch (channel) {
    case TImportChannel::kLateral: return "lateral";
    case TImportChannel::kAligning: return "aligning";
    case TImportChannel::kLongitudinal: return "longitudinal";
  }
  return "lateral";
}

TRawImportResult ImportRunText(std::string_view text, const TRawImportOptions& options) {
  CheckOptions(options);
  TRawImportResult result;
  TImportReport& report = result.report;
  result.header = ReadRunHeader(text, options.read);
  const TRunHeader& header = result.header;
  report.file_title = header.title;
  report.format = header.format;
  for (const std::string& note : header.notes) report.warnings.push_back("The file's " + note + ".");

  // ---- channel map and units
  const TImportChannel channel = options.channel;
  const TRunRole swept = SweptRole(channel), cross = CrossRole(channel), value_role = ValueRole(channel);
  const TRunRole required[] = {swept, TRunRole::kInclination, TRunRole::kLoad, value_role};
  // The roles this import reads: the required ones, then those that help.
  std::vector<TRunRole> roles(std::begin(required), std::end(required));
  for (TRunRole r : {cross, TRunRole::kTime, TRunRole::kPressure, TRunRole::kSpeed}) roles.push_back(r);
  // The lateral force tells the sign convention of an aligning-moment import.
  if (channel == TImportChannel::kAligning) roles.push_back(TRunRole::kLateralForce);

  const size_t names_line = header.columns.empty() ? 1 : header.columns[0].line;
  std::array<long, kRunRoleCount> column_of;
  column_of.fill(-1);
  std::array<double, kRunRoleCount> unit_factor;
  unit_factor.fill(1.0);
  for (TRunRole role : roles) {
    const TRunRoleInfo& info = RoleInfo(role);
    const std::string& given = options.mapping[RoleIndex(role)];
    long column = -1;
    if (!given.empty()) {
      column = FindColumn(header, given);
      if (column < 0)
        throw Exception("Line " + std::to_string(names_line) + ": the run file has no channel '" + given +
                        "', given for the " + std::string(info.label) + "; its channels are " +
                        ChannelList(header));
    } else {
      std::string_view rest = info.aliases;
      while (column < 0 && !rest.empty()) {
        const size_t blank = rest.find(' ');
        column = FindColumn(header, rest.substr(0, blank));
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
      }
    }
    const bool is_required = std::find(std::begin(required), std::end(required), role) != std::end(required);
    if (column < 0) {
      if (is_required)
        throw Exception("Line " + std::to_string(names_line) + ": the run file has no channel for the " +
                        std::string(info.label) + " (looked for " + AliasList(info) + "); its channels are " +
                        ChannelList(header) + ". Name the channel to use for the " + std::string(info.label) +
                        " in the channel mapping");
      continue;
    }
    const TRunColumn& col = header.columns[static_cast<size_t>(column)];
    const std::optional<double> factor = UnitFactor(info.quantity, col.unit);
    if (!factor)
      throw Exception("Line " + std::to_string(col.unit_line) + ", column " +
                      std::to_string(header.format == TRunFormat::kTydex ? 41 : col.column) + ": the unit '" +
                      col.unit + "' of channel " + col.name + " (" + std::string(info.label) +
                      ") cannot be read; known units: " + std::string(KnownUnits(info.quantity)));
    column_of[RoleIndex(role)] = column;
    unit_factor[RoleIndex(role)] = *factor;
  }
  if (!header.has_units)
    report.warnings.push_back(
        "The file has no units row: its channels are taken to be in deg, N, N m, kPa, km/h and s, the slip "
        "ratio as a fraction.");
  auto has = [&](TRunRole r) { return column_of[RoleIndex(r)] >= 0; };

  // ---- the samples of the mapped columns
  std::vector<size_t> wanted;
  std::array<long, kRunRoleCount> slot;
  slot.fill(-1);
  for (TRunRole role : roles) {
    if (!has(role)) continue;
    const auto column = static_cast<size_t>(column_of[RoleIndex(role)]);
    const auto found = std::find(wanted.begin(), wanted.end(), column);
    slot[RoleIndex(role)] = found - wanted.begin();
    if (found == wanted.end()) wanted.push_back(column);
  }
  TRunTable table = ReadRunRows(text, header, wanted, options.read, options.row_limit);
  report.preview = table.truncated;
  report.samples_read = table.rows;
  if (table.rows > std::numeric_limits<TIndex>::max())
    throw Exception("The run holds more than 4 billion samples");

  // Each role's values in the import's units, not yet signed.  Two roles
  // mapped to one column share one copy.
  std::array<std::vector<double>, kRunRoleCount> data;
  for (TRunRole role : roles) {
    if (!has(role)) continue;
    std::vector<double>& source = table.values[static_cast<size_t>(slot[RoleIndex(role)])];
    const double factor = unit_factor[RoleIndex(role)];
    const bool shared = std::count_if(roles.begin(), roles.end(), [&](TRunRole r) {
                          return has(r) && slot[RoleIndex(r)] == slot[RoleIndex(role)];
                        }) > 1;
    std::vector<double> values = shared ? source : std::move(source);
    if (factor != 1.0)
      for (double& v : values) v *= factor;
    data[RoleIndex(role)] = std::move(values);
  }
  auto column = [&](TRunRole r) -> std::vector<double>& { return data[RoleIndex(r)]; };

  // ---- sign convention
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
      for (size_t i = 0; i < table.rows; ++i) {
        if (!(std::fabs(sa[i]) <= kSlopeWindow) || !std::isfinite(y[i]) || !(std::fabs(fz[i]) >= options.load_floor))
          continue;
        if (sr && !(std::fabs((*sr)[i]) <= options.max_slip_ratio)) continue;
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
      const TRunColumn& col = header.columns[static_cast<size_t>(column_of[RoleIndex(role)])];
      m.column = col.name;
      m.unit = col.unit;
      m.factor = unit_factor[RoleIndex(role)] * col.factor;
      m.sign = signs[RoleIndex(role)];
    }
    report.mapping.push_back(m);
  }

  // ---- filters
  std::vector<TIndex> alive(table.rows);
  for (size_t i = 0; i < table.rows; ++i) alive[i] = static_cast<TIndex>(i);
  auto emptied = [&](std::string reason) {
    if (alive.empty() && report.empty_reason.empty()) report.empty_reason = std::move(reason);
    return alive.empty();
  };
  if (table.rows == 0) {
    report.empty_reason = "the run file holds no samples";
    return result;
  }

  std::vector<TRunRole> needed;
  for (TRunRole r : roles)
    if (has(r) && r != TRunRole::kLateralForce) needed.push_back(r);
  if (channel == TImportChannel::kLateral) needed.push_back(TRunRole::kLateralForce);
  Filter(alive, report, "missing values", "a value in every channel used", [&](TIndex i) {
    for (TRunRole r : needed)
      if (!std::isfinite(column(r)[i])) return true;
    return false;
  });
  if (emptied("every sample lacks a value in one of the channels used")) return result;

  const std::vector<double>* time = has(TRunRole::kTime) ? &column(TRunRole::kTime) : nullptr;
  if (options.warmup_seconds > 0) {
    if (time) {
      double t0 = (*time)[alive[0]];
      for (TIndex i : alive) t0 = std::min(t0, (*time)[i]);
      const double until = t0 + options.warmup_seconds;
      Filter(alive, report, "warm-up", "first " + Fmt(options.warmup_seconds, 3) + " s",
             [&](TIndex i) { return (*time)[i] < until; });
      if (emptied("the warm-up of " + Fmt(options.warmup_seconds, 3) + " s covers the whole run")) return result;
    } else {
      report.warnings.push_back("The run has no time channel: the warm-up was not dropped.");
    }
  }
  if (std::isfinite(options.time_from) || std::isfinite(options.time_to)) {
    if (time) {
      const std::string window = Fmt(options.time_from, 3) + " to " + Fmt(options.time_to, 3) + " s";
      Filter(alive, report, "time window", window, [&](TIndex i) {
        return !((*time)[i] >= options.time_from && (*time)[i] <= options.time_to);
      });
      if (emptied("no sample lies in the time window " + window)) return result;
    } else {
      report.warnings.push_back("The run has no time channel: the time window was not applied.");
    }
  }

  {
    const std::vector<double>& fz = column(TRunRole::kLoad);
    Filter(alive, report, "load floor", "load >= " + Fmt(options.load_floor, 1) + " N",
           [&](TIndex i) { return !(fz[i] >= options.load_floor); });
    if (emptied("no sample has a load of at least " + Fmt(options.load_floor, 1) +
                " N: check the load channel and the sign convention (SAE loads are negative)"))
      return result;
  }

  // The samples a held value needs: the dwell time over the sampling step.
  size_t dwell_samples = options.min_bin_samples;
  if (time && table.rows > 1) {
    std::vector<double> steps;
    steps.reserve(std::min<size_t>(table.rows, 100000));
    const size_t stride = std::max<size_t>(1, table.rows / 100000);
    for (size_t i = stride; i < table.rows; i += stride) {
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
    Filter(alive, report, label + " window", limit, [&](TIndex i) { return !(std::fabs(v[i] - centre) <= tolerance); });
    return emptied("no sample has a " + label + " within " + limit);
  };
  if (held_window(TRunRole::kPressure, options.pressure_window, options.pressure_setpoint,
                  options.pressure_tolerance, "kPa", report.pressures))
    return result;
  if (held_window(TRunRole::kSpeed, options.speed_window, options.speed_setpoint, options.speed_tolerance,
                  "km/h", report.speeds))
    return result;

  if (has(cross)) {
    const std::vector<double>& c = column(cross);
    if (channel == TImportChannel::kLongitudinal) {
      const std::string limit = "|slip angle| <= " + Fmt(options.max_slip_angle, 4) + " deg";
      Filter(alive, report, "pure longitudinal slip", limit,
             [&](TIndex i) { return !(std::fabs(c[i]) <= options.max_slip_angle); });
      if (emptied("no sample with " + limit + ": is this a cornering run?")) return result;
    } else {
      const std::string limit = "|slip ratio| <= " + Fmt(options.max_slip_ratio, 5);
      Filter(alive, report, "pure side slip", limit,
             [&](TIndex i) { return !(std::fabs(c[i]) <= options.max_slip_ratio); });
      if (emptied("no sample with " + limit + ": is this a drive/brake run?")) return result;
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
    Filter(alive, report, "slip range", text, [&](TIndex i) { return !(std::fabs(slip[i]) <= limit); });
    if (emptied("no sample with " + text)) return result;
  }

  // ---- set-points
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
    member.assign(table.rows, -1);
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
    Filter(alive, report, label + " set-points", limit, [&](TIndex i) { return member[i] < 0; });
    if (given.empty())
      return emptied("no " + label + " was held for " + Fmt(options.min_dwell_seconds, 3) + " s (" +
                     std::to_string(held) + " samples) within " + Fmt(tolerance, 3) + " " + unit +
                     ": give the set-points, or lower the dwell time");
    return emptied("no sample lies within " + Fmt(tolerance, 3) + " " + unit + " of the " + label +
                   " set-points given");
  };
  std::vector<int> ia_member, load_member;
  if (set_points(TRunRole::kInclination, options.inclinations, options.inclination_tolerance, 2, "deg",
                 report.inclinations, ia_member))
    return result;
  if (set_points(TRunRole::kLoad, options.loads, options.load_tolerance, 0, "N", report.loads, load_member))
    return result;

  // ---- bins
  const size_t n_ia = report.inclinations.size(), n_load = report.loads.size();
  std::vector<size_t> bin_count(n_ia * n_load, 0);
  std::vector<double> bin_load_sum(n_ia * n_load, 0.0), bin_ia_sum(n_ia * n_load, 0.0);
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
  std::vector<char> bin_kept(n_ia * n_load, 0);
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
  Filter(alive, report, "bins with too few samples",
         "at least " + std::to_string(options.min_bin_samples) + " samples per inclination and load",
         [&](TIndex i) { return !bin_kept[bin_of(i)]; });
  if (emptied("every inclination and load bin holds fewer than " + std::to_string(options.min_bin_samples) +
              " samples"))
    return result;

  // ---- the slip grid, one per inclination
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
    struct TCell {
      size_t n = 0;
      double sd = 0, sv = 0, sdd = 0, sdv = 0;
    };
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
    }
    std::vector<size_t> rows;
    const size_t min_cell = std::max<size_t>(1, options.min_cell_samples);
    for (size_t c = 0; c < cells; ++c) {
      bool covered = true;
      for (size_t j = 0; j < loads.size() && covered; ++j) covered = acc[j * cells + c].n >= min_cell;
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
    for (size_t c : rows)
      for (size_t j = 0; j < loads.size(); ++j) {
        const TCell& t = acc[j * cells + c];
        const double n = static_cast<double>(t.n);
        const double md = t.sd / n, mv = t.sv / n;
        const double sxx = t.sdd - n * md * md, sxy = t.sdv - n * md * mv;
        // The line through the cell's samples, at the centre; the plain
        // mean where the samples do not spread enough to give a slope.
        const double slope = t.n >= 3 && sxx > n * 1e-6 * cell * cell ? sxy / sxx : 0.0;
        lc.Values.push_back(Significant(mv - slope * md));
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
  return result;
}

TRawImportResult ImportRunFile(const std::string& path, const TRawImportOptions& options) {
  const std::string text = ReadTireDataText(path);
  return ImportRunText(text, options);
}

std::string FormatImportReport(const TImportReport& r) {
  std::string out;
  const char* format = r.format == TRunFormat::kTydex ? "TYDEX" : "delimited";
  out += std::string("Run file (") + format + ")" + (r.file_title.empty() ? "" : ": " + r.file_title) + "\n";
  out += "Channels:";
  bool first = true;
  for (const TImportMapping& m : r.mapping) {
    out += first ? " " : ", ";
    first = false;
    out += std::string(RoleInfo(m.role).label) + " = ";
    if (m.column.empty()) {
      out += "(none)";
      continue;
    }
    out += m.column + " [" + (m.unit.empty() ? "-" : m.unit) + "]";
    if (m.factor != 1.0) out += " x" + Fmt(m.factor, 9);
    if (m.sign < 0) out += " negated";
  }
  out += "\n";
  out += "Sign convention: " + std::string(RunConventionName(r.convention)) +
         (r.convention_note.empty() ? "" : ", " + r.convention_note) + "\n";
  out += "Samples read: " + std::to_string(r.samples_read) + (r.preview ? " (preview: the first rows only)" : "") + "\n";
  if (!r.steps.empty()) {
    out += "Filters (dropped, left):\n";
    for (const TImportStep& s : r.steps)
      out += "  " + s.name + " (" + s.limit + "): " + std::to_string(s.dropped) + " dropped, " +
             std::to_string(s.remaining) + " left\n";
  }
  if (!r.pressures.empty()) out += "Pressures held: " + SetPointList(r.pressures, 1, "kPa") + "\n";
  if (!r.speeds.empty()) out += "Speeds held: " + SetPointList(r.speeds, 1, "km/h") + "\n";
  if (!r.inclinations.empty()) out += "Inclination set-points: " + SetPointList(r.inclinations, 2, "deg") + "\n";
  if (!r.loads.empty()) out += "Load set-points: " + SetPointList(r.loads, 0, "N") + "\n";
  size_t kept = 0;
  for (const TImportBin& b : r.bins) kept += b.reason.empty() ? 1 : 0;
  if (!r.bins.empty()) {
    out += "Bins: " + std::to_string(kept) + " kept, " + std::to_string(r.bins.size() - kept) + " dropped\n";
    for (const TImportBin& b : r.bins)
      if (!b.reason.empty())
        out += "  dropped: inclination " + Fmt(b.inclination, 2) + " deg, load " + Fmt(b.load, 0) + " N: " +
               b.reason + "\n";
  }
  for (const std::string& note : r.grid_notes) out += "Slip grid, " + note + "\n";
  for (const std::string& w : r.warnings) out += "Warning: " + w + "\n";
  if (!r.empty_reason.empty()) out += "Nothing usable remains: " + r.empty_reason + "\n";
  return out;
}

void ApplyFilterText(TRawImportOptions& o, std::string_view text) {
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos)
      throw Exception("The filter '" + std::string(item) + "' needs the form key=value");
    const std::string key = AsciiUpper(item.substr(0, eq));
    const std::string_view text_value = item.substr(eq + 1);
    const std::string upper_value = AsciiUpper(text_value);
    if ((key == "PRESSURE" || key == "SPEED") && (upper_value == "OFF" || upper_value == "AUTO")) {
      bool& on = key == "PRESSURE" ? o.pressure_window : o.speed_window;
      double& setpoint = key == "PRESSURE" ? o.pressure_setpoint : o.speed_setpoint;
      on = upper_value == "AUTO";
      setpoint = kNaN;
      continue;
    }
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text_value.data(), text_value.data() + text_value.size(), v);
    if (ec != std::errc() || ptr != text_value.data() + text_value.size() || !std::isfinite(v))
      throw Exception("The value '" + std::string(text_value) + "' of filter " + std::string(item.substr(0, eq)) +
                      " is not a number");
    auto count = [&]() {
      if (v < 0 || v > 1e9 || v != std::floor(v))
        throw Exception("The filter " + std::string(item.substr(0, eq)) + " takes a whole number of samples");
      return static_cast<size_t>(v);
    };
    if (key == "WARMUP") o.warmup_seconds = v;
    else if (key == "TIME-FROM") o.time_from = v;
    else if (key == "TIME-TO") o.time_to = v;
    else if (key == "LOAD-FLOOR") o.load_floor = v;
    else if (key == "PRESSURE") o.pressure_window = true, o.pressure_setpoint = v;
    else if (key == "PRESSURE-TOL") o.pressure_tolerance = v;
    else if (key == "SPEED") o.speed_window = true, o.speed_setpoint = v;
    else if (key == "SPEED-TOL") o.speed_tolerance = v;
    else if (key == "MAX-SLIP-RATIO") o.max_slip_ratio = v;
    else if (key == "MAX-SLIP-ANGLE") o.max_slip_angle = v;
    else if (key == "IA-TOL") o.inclination_tolerance = v;
    else if (key == "LOAD-TOL") o.load_tolerance = v;
    else if (key == "DWELL") o.min_dwell_seconds = v;
    else if (key == "MIN-BIN") o.min_bin_samples = count();
    else if (key == "CELL") o.slip_angle_cell = o.slip_ratio_cell = v;
    else if (key == "MIN-CELL") o.min_cell_samples = count();
    else
      throw Exception("Unknown filter '" + std::string(item.substr(0, eq)) +
                      "'; known: warmup, time-from, time-to, load-floor, pressure, pressure-tol, speed, speed-tol, "
                      "max-slip-ratio, max-slip-angle, ia-tol, load-tol, dwell, min-bin, cell, min-cell");
  }
}

}  // namespace morvex
