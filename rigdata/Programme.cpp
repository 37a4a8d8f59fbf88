#include "rigdata/Programme.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

namespace {

using import_phase::Fmt;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180;
// Cambers closer than this (deg) are one load case; loads closer than this share are one column.
constexpr double kSameCamber = 0.05;
constexpr double kSameLoad = 0.03;

std::string List(std::vector<double> values, int decimals) {
  std::sort(values.begin(), values.end());
  std::string text;
  for (size_t k = 0; k < values.size(); ++k) {
    if (k > 0 && Fmt(values[k], decimals) == Fmt(values[k - 1], decimals)) continue;
    text += (text.empty() ? "" : ", ") + Fmt(values[k], decimals);
  }
  return text;
}

size_t Points(const TTireDataSet& data) {
  size_t n = 0;
  for (const TLoadCase& lc : data.Cases) n += lc.Values.size();
  return n;
}

std::string SetPoints(const TTireDataSet& data) {
  std::vector<double> cambers, loads;
  for (const TLoadCase& lc : data.Cases) {
    cambers.push_back(lc.Camber);
    loads.insert(loads.end(), lc.Loads.begin(), lc.Loads.end());
  }
  return "inclinations " + List(cambers, 2) + " deg; loads " + List(loads, 0) + " N";
}

// Load cases that sweep their slip: enough cells of the grid.
bool Sweeps(const TTireDataSet& data) {
  for (const TLoadCase& lc : data.Cases)
    if (lc.RowCount() >= kMinSweepCells) return true;
  return false;
}

// Merges `add` into `into`: other inclinations are added; at the same
// inclination the loads of both become the columns of one table on the
// slips both hold.  Loads `into` already has are kept from it; each such
// load is said in `notes`.
size_t Merge(TTireDataSet& into, const TTireDataSet& add, std::vector<std::string>& notes) {
  size_t added = 0, duplicates = 0;
  for (const TLoadCase& b : add.Cases) {
    auto it = std::find_if(into.Cases.begin(), into.Cases.end(),
                           [&](const TLoadCase& a) { return std::fabs(a.Camber - b.Camber) <= kSameCamber; });
    if (it == into.Cases.end()) {
      into.Cases.push_back(b);
      added += b.Values.size();
      continue;
    }
    TLoadCase& a = *it;
    std::vector<size_t> new_loads;
    for (size_t j = 0; j < b.LoadCount(); ++j) {
      const bool held = std::any_of(a.Loads.begin(), a.Loads.end(), [&](double l) {
        return std::fabs(l - b.Loads[j]) <= kSameLoad * std::fabs(l);
      });
      if (held)
        ++duplicates;
      else
        new_loads.push_back(j);
    }
    if (new_loads.empty()) continue;
    // The slips both hold (the grids share their cell, so the values agree).
    std::vector<std::pair<size_t, size_t>> rows;
    for (size_t r = 0; r < a.RowCount(); ++r)
      for (size_t s = 0; s < b.RowCount(); ++s)
        if (std::fabs(a.Slips[r] - b.Slips[s]) <= 1e-9 * std::max(1.0, std::fabs(a.Slips[r]))) rows.push_back({r, s});
    if (rows.size() < kMinSweepCells) {
      notes.push_back("the loads of inclination " + Fmt(b.Camber, 2) +
                      " deg of a later run share too few slip cells with an earlier run; left out");
      continue;
    }
    if (rows.size() < a.RowCount())
      notes.push_back("inclination " + Fmt(b.Camber, 2) + " deg: " + std::to_string(a.RowCount() - rows.size()) +
                      " slip rows only one run holds were left out when merging");
    // Columns sorted by load.
    std::vector<std::pair<double, std::pair<int, size_t>>> columns;  // load, (which, index)
    for (size_t j = 0; j < a.LoadCount(); ++j) columns.push_back({a.Loads[j], {0, j}});
    for (size_t j : new_loads) columns.push_back({b.Loads[j], {1, j}});
    std::sort(columns.begin(), columns.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    TLoadCase merged;
    merged.Camber = a.Camber;
    for (const auto& c : columns) merged.Loads.push_back(c.first);
    for (const auto& [r, s] : rows) {
      merged.Slips.push_back(a.Slips[r]);
      for (const auto& c : columns)
        merged.Values.push_back(c.second.first == 0 ? a.Value(r, c.second.second) : b.Value(s, c.second.second));
    }
    added += rows.size() * new_loads.size();
    a = std::move(merged);
  }
  std::sort(into.Cases.begin(), into.Cases.end(), [](const TLoadCase& x, const TLoadCase& y) { return x.Camber < y.Camber; });
  if (duplicates > 0)
    notes.push_back(std::to_string(duplicates) + (duplicates == 1 ? " load" : " loads") +
                    " that a run read before holds at the same inclination kept from that run");
  return added;
}

// The most held pressure (kPa) and speed (km/h) of an import: the one the window kept.
double Held(const std::vector<TImportSetPoint>& found, bool window, double given) {
  if (!window) return std::numeric_limits<double>::quiet_NaN();
  if (std::isfinite(given)) return given;
  if (found.empty()) return std::numeric_limits<double>::quiet_NaN();
  return std::max_element(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.samples < b.samples; })
      ->value;
}

void Widen(double& lo, double& hi, double v) {
  if (!std::isfinite(v)) return;
  lo = std::isnan(lo) ? v : std::min(lo, v);
  hi = std::isnan(hi) ? v : std::max(hi, v);
}

}  // namespace

TProgrammeResult ImportProgramme(const std::vector<std::string>& paths, const TProgrammeImportOptions& options) {
  TProgrammeResult result;
  // Pressure and speed of each run with its samples, to choose the one held most.
  std::map<long, size_t> pressures, speeds;  // in 0.1 kPa, 0.1 km/h
  std::vector<double> held_loads;
  std::vector<std::string> reasons;
  for (const std::string& path : paths) {
    std::string text;
    try {
      text = ReadTireDataText(path);
    } catch (const Exception& e) {
      throw Exception(path + ": " + e.Message());
    }
    std::string report_text = "== " + path + "\n";
    std::vector<std::string> errors;
    auto pure = [&](TImportChannel channel) -> std::optional<TRawImportResult> {
      TRawImportOptions o = options.run;
      o.channel = channel;
      try {
        return ImportRunText(text, o);
      } catch (const Exception& e) {
        errors.push_back(std::string(ImportChannelName(channel)) + ": " + e.Message());
        return std::nullopt;
      }
    };
    const std::optional<TRawImportResult> lateral = pure(TImportChannel::kLateral);
    const std::optional<TRawImportResult> aligning = pure(TImportChannel::kAligning);
    const std::optional<TRawImportResult> longitudinal = pure(TImportChannel::kLongitudinal);
    std::optional<TCombinedImportResult> combined;
    try {
      TCombinedImportOptions o;
      o.run = options.run;
      o.slip_angles = options.slip_angles;
      o.slip_angle_tolerance = options.slip_angle_tolerance;
      combined = ImportCombinedText(text, o);
    } catch (const Exception& e) {
      errors.push_back("combined: " + e.Message());
    }
    if (!lateral && !aligning && !longitudinal && !combined) throw Exception(path + ": " + errors.front());

    // Combined points at held slip angles beyond the pure-slip limit.
    TCombinedDataSet held_combined;
    std::vector<double> angles;
    if (combined)
      for (const TCombinedSample& s : combined->data.samples)
        if (std::fabs(s.slip_angle) > options.run.max_slip_angle) {
          held_combined.samples.push_back(s);
          angles.push_back(s.slip_angle);
        }

    size_t fed = 0;
    std::vector<std::string> notes, already;
    auto feed = [&](const char* stage, const std::optional<TRawImportResult>& r, std::optional<TTireDataSet>& into,
                    bool side_slip) {
      if (!r) return;
      report_text += "-- " + std::string(stage) + "\n" + FormatImportReport(r->report);
      if (r->data.Empty() || !Sweeps(r->data)) return;
      // In a run holding combined slip the slip angle moves between the held
      // angles at slip ratio 0: only a sweep reaching beyond them is cornering.
      if (side_slip && !angles.empty()) {
        double reach = 0, held = 0;
        for (const TLoadCase& lc : r->data.Cases)
          for (double s : lc.Slips) reach = std::max(reach, std::fabs(s));
        for (double a : angles) held = std::max(held, std::fabs(a));
        if (reach <= held + 2 * options.run.slip_angle_cell) return;
      }
      std::vector<std::string> merge_notes;
      size_t added = Points(r->data);
      if (!into) into = r->data;
      else added = Merge(*into, r->data, merge_notes);
      if (added == 0) {  // every load already came from a run read before
        already.push_back(std::string(stage) + ": every load it holds came from a run read before");
        return;
      }
      std::string note;
      for (const std::string& n : merge_notes) note += (note.empty() ? "" : "; ") + n;
      result.feeds.push_back({path, stage, SetPoints(r->data), added, note});
      for (const TLoadCase& lc : r->data.Cases) held_loads.insert(held_loads.end(), lc.Loads.begin(), lc.Loads.end());
      ++fed;
      const double p = Held(r->report.pressures, options.run.pressure_window, options.run.pressure_setpoint);
      const double v = Held(r->report.speeds, options.run.speed_window, options.run.speed_setpoint);
      if (std::isfinite(p)) pressures[std::lround(p * 10)] += r->report.samples_read;
      if (std::isfinite(v)) speeds[std::lround(v * 10)] += r->report.samples_read;
      if (std::isnan(result.fz0) && std::isfinite(r->report.nominal_load)) {
        result.fz0 = r->report.nominal_load;
        result.fz0_source = "FNOMIN of " + path;
      }
      if (std::isnan(result.r0) && std::isfinite(r->report.unloaded_radius)) {
        result.r0 = r->report.unloaded_radius;
        result.r0_source = "RFREE of " + path;
      }
    };
    feed("lateral", lateral, result.lateral, true);
    feed("aligning", aligning, result.aligning, true);
    feed("longitudinal", longitudinal, result.longitudinal, false);
    if (combined) {
      report_text += "-- combined\n" + FormatCombinedImportReport(combined->report);
      if (!held_combined.Empty()) {
        std::vector<double> cambers, loads;
        for (const TCombinedSample& s : held_combined.samples) {
          cambers.push_back(s.camber);
          loads.push_back(s.load);
        }
        result.feeds.push_back({path, "combined",
                                "inclinations " + List(cambers, 2) + " deg; loads " + List(loads, 0) +
                                    " N; slip angles " + List(angles, 2) + " deg",
                                held_combined.samples.size(), {}});
        result.combined.samples.insert(result.combined.samples.end(), held_combined.samples.begin(),
                                       held_combined.samples.end());
        held_loads.insert(held_loads.end(), loads.begin(), loads.end());
        ++fed;
        const TImportReport& r = combined->report.run;
        const double p = Held(r.pressures, options.run.pressure_window, options.run.pressure_setpoint);
        const double v = Held(r.speeds, options.run.speed_window, options.run.speed_setpoint);
        if (std::isfinite(p)) pressures[std::lround(p * 10)] += r.samples_read;
        if (std::isfinite(v)) speeds[std::lround(v * 10)] += r.samples_read;
        if (std::isnan(result.fz0) && std::isfinite(r.nominal_load)) {
          result.fz0 = r.nominal_load;
          result.fz0_source = "FNOMIN of " + path;
        }
        if (std::isnan(result.r0) && std::isfinite(r.unloaded_radius)) {
          result.r0 = r.unloaded_radius;
          result.r0_source = "RFREE of " + path;
        }
      }
    }
    result.reports.push_back(std::move(report_text));
    // A kind of import the file cannot give (a channel it lacks, a column
    // that does not read) while another kind worked: said, not fatal.
    if (fed > 0)
      for (const std::string& e : errors) result.warnings.push_back(path + ": not imported for " + e);
    if (fed == 0) {
      std::string why;
      auto reason = [&](const char* what, const std::string& r) {
        if (!r.empty()) why += (why.empty() ? "" : "; ") + std::string(what) + ": " + r;
      };
      for (const std::string& a : already) why += (why.empty() ? "" : "; ") + a;
      if (!already.empty()) {
        result.feeds.push_back({path, "nothing", {}, 0, why});
        continue;
      }
      if (lateral) reason("side slip", lateral->report.empty_reason);
      if (longitudinal) reason("longitudinal slip", longitudinal->report.empty_reason);
      if (combined) reason("combined slip", combined->report.run.empty_reason);
      for (const std::string& e : errors) why += (why.empty() ? "" : "; ") + e;
      if (why.empty()) why = "no sweep of at least " + std::to_string(kMinSweepCells) + " slip cells";
      result.feeds.push_back({path, "nothing", {}, 0, why});
      reasons.push_back(path + ": " + why);
    }
  }

  // Ranges of the kept data.
  TProgrammeRanges& g = result.ranges;
  for (const std::optional<TTireDataSet>* set : {&result.lateral, &result.aligning, &result.longitudinal}) {
    if (!*set) continue;
    const bool ratio = set == &result.longitudinal;
    for (const TLoadCase& lc : (*set)->Cases) {
      Widen(g.camber_min, g.camber_max, lc.Camber * kDegToRad);
      for (double l : lc.Loads) Widen(g.fz_min, g.fz_max, l);
      for (double s : lc.Slips) {
        if (ratio) Widen(g.kappa_min, g.kappa_max, s);
        else Widen(g.alpha_min, g.alpha_max, s * kDegToRad);
      }
    }
  }
  for (const TCombinedSample& s : result.combined.samples) {
    Widen(g.camber_min, g.camber_max, s.camber * kDegToRad);
    Widen(g.fz_min, g.fz_max, s.load);
    Widen(g.kappa_min, g.kappa_max, s.slip_ratio);
    Widen(g.alpha_min, g.alpha_max, s.slip_angle * kDegToRad);
  }

  // One pressure and speed: the one held longest over the runs.
  auto most = [](const std::map<long, size_t>& m) {
    if (m.empty()) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(
               std::max_element(m.begin(), m.end(), [](const auto& a, const auto& b) { return a.second < b.second; })
                   ->first) /
           10;
  };
  if (!pressures.empty()) {
    const double kpa = most(pressures);
    result.pressure = kpa * 1000;
    for (const auto& [p, n] : pressures)
      if (std::fabs(p / 10.0 - kpa) > options.run.pressure_tolerance)
        result.warnings.push_back("runs hold different pressures: " + Fmt(p / 10.0, 1) + " kPa besides " + Fmt(kpa, 1) +
                                  " kPa; NOMPRES and INFLPRES say " + Fmt(kpa, 1) + " kPa");
  }
  if (!speeds.empty()) {
    const double kph = most(speeds);
    result.longvl = kph / 3.6;
    for (const auto& [v, n] : speeds)
      if (std::fabs(v / 10.0 - kph) > options.run.speed_tolerance)
        result.warnings.push_back("runs hold different speeds: " + Fmt(v / 10.0, 1) + " km/h besides " + Fmt(kph, 1) +
                                  " km/h; LONGVL says " + Fmt(kph / 3.6, 2) + " m/s");
  }
  if (std::isnan(result.fz0) && !held_loads.empty()) {
    std::sort(held_loads.begin(), held_loads.end());
    std::vector<double> distinct;
    for (double l : held_loads)
      if (distinct.empty() || l > distinct.back() * (1 + kSameLoad)) distinct.push_back(l);
    result.fz0 = std::round(distinct[(distinct.size() - 1) / 2]);
    result.fz0_source = "the middle held load";
  }
  if (std::isnan(result.r0))
    result.warnings.push_back("no run gives the unloaded radius (TYDEX RFREE): give R0 for the aligning moment, Mx and My");

  if (result.Empty()) {
    result.empty_reason = paths.empty() ? "no run was given" : "no run holds a usable sweep";
    for (const std::string& r : reasons) result.empty_reason += "; " + r;
  }
  return result;
}

std::string FormatProgramme(const TProgrammeResult& r) {
  std::string out;
  for (const TProgrammeFeed& f : r.feeds) {
    out += f.path + ": ";
    if (f.stage == "nothing") {
      out += "feeds nothing: " + f.note + "\n";
      continue;
    }
    out += f.stage + " <- " + f.set_points + "; " + std::to_string(f.points) + " points";
    if (!f.note.empty()) out += " (" + f.note + ")";
    out += "\n";
  }
  const TProgrammeRanges& g = r.ranges;
  if (std::isfinite(g.fz_min)) out += "FZMIN = " + Fmt(g.fz_min, 1) + ", FZMAX = " + Fmt(g.fz_max, 1) + " N\n";
  if (std::isfinite(g.kappa_min)) out += "KPUMIN = " + Fmt(g.kappa_min, 4) + ", KPUMAX = " + Fmt(g.kappa_max, 4) + "\n";
  if (std::isfinite(g.alpha_min)) out += "ALPMIN = " + Fmt(g.alpha_min, 5) + ", ALPMAX = " + Fmt(g.alpha_max, 5) + " rad\n";
  if (std::isfinite(g.camber_min))
    out += "CAMMIN = " + Fmt(g.camber_min, 5) + ", CAMMAX = " + Fmt(g.camber_max, 5) + " rad\n";
  if (std::isfinite(r.pressure)) out += "NOMPRES = INFLPRES = " + Fmt(r.pressure, 0) + " Pa\n";
  if (std::isfinite(r.longvl)) out += "LONGVL = " + Fmt(r.longvl, 3) + " m/s\n";
  if (std::isfinite(r.fz0)) out += "Fz0 = " + Fmt(r.fz0, 1) + " N (" + r.fz0_source + ")\n";
  if (std::isfinite(r.r0)) out += "R0 = " + Fmt(r.r0, 4) + " m (" + r.r0_source + ")\n";
  for (const std::string& w : r.warnings) out += "Warning: " + w + "\n";
  if (!r.empty_reason.empty()) out += "Nothing usable remains: " + r.empty_reason + "\n";
  return out;
}

}  // namespace morvex
