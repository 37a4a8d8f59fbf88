#include "rigdata/RawImport.h"

#include <charconv>
#include <cmath>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"
#include "tiredata/TireDataFile.h"

namespace morvex {

using import_phase::kNaN;

namespace import_phase {

void SuggestNominals(TImportState& state) {
  TImportReport& report = state.report;
  report.nominal_load = state.result.header.nominal_load;
  report.unloaded_radius = report.suggested_r0 = state.result.header.unloaded_radius;
  if (std::isfinite(report.nominal_load)) {
    report.suggested_fz0 = report.nominal_load;
    report.suggested_fz0_source = "FNOMIN of the file";
  } else if (!report.loads.empty()) {
    report.suggested_fz0 = std::round(report.loads[(report.loads.size() - 1) / 2].value);
    report.suggested_fz0_source = "the middle held load";
  }
}

}  // namespace import_phase

std::string_view ImportChannelName(TImportChannel channel) {
  switch (channel) {
    case TImportChannel::kLateral: return "lateral";
    case TImportChannel::kAligning: return "aligning";
    case TImportChannel::kLongitudinal: return "longitudinal";
  }
  return "lateral";
}

TRawImportResult ImportRunText(std::string_view text, const TRawImportOptions& options) {
  using namespace import_phase;
  CheckOptions(options);
  TRawImportResult result;
  TImportState state(options, result);
  MapChannels(state, text);
  CheckUnitPlausibility(state);
  ApplyConvention(state);
  if (!ApplyFilters(state) && !FindSetPoints(state)) BuildSlipGrid(state);
  SuggestNominals(state);
  if (!result.report.empty_reason.empty() && !result.report.unit_doubts.empty())
    result.report.empty_reason += "; the units of the file look wrong: " + result.report.unit_doubts.front();
  return result;
}

TRawImportResult ImportRunFile(const std::string& path, const TRawImportOptions& options) {
  const std::string text = ReadTireDataText(path);
  return ImportRunText(text, options);
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
    if ((key == "WARMUP" || key == "LOAD-TOL" || key == "IA-TOL") && upper_value == "AUTO") {
      (key == "WARMUP" ? o.warmup_seconds : key == "IA-TOL" ? o.inclination_tolerance : o.load_tolerance) = kNaN;
      continue;
    }
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
