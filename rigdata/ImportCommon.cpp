// Shared helpers of the import phases.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "rigdata/ImportPhases.h"

namespace morvex::import_phase {

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
  if (!std::isnan(o.inclination_tolerance)) positive(o.inclination_tolerance, "inclination tolerance");
  if (!std::isnan(o.load_tolerance)) positive(o.load_tolerance, "load tolerance");
  positive(o.pressure_tolerance, "pressure tolerance");
  positive(o.speed_tolerance, "speed tolerance");
  positive(o.slip_angle_cell, "slip-angle cell");
  positive(o.slip_ratio_cell, "slip-ratio cell");
  if (!(o.warmup_seconds >= 0) && !std::isnan(o.warmup_seconds)) throw Exception("The warm-up must be 0 or more seconds, not " + Fmt(o.warmup_seconds, 6));
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


double Median(std::vector<double> v) {
  if (v.empty()) return kNaN;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}


double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return kNaN;
  const auto k = static_cast<long>(std::clamp(q, 0.0, 1.0) * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), v.begin() + k, v.end());
  return v[static_cast<size_t>(k)];
}

std::string SetPointList(const std::vector<TImportSetPoint>& points, int decimals, const char* unit) {
  std::string text;
  for (size_t k = 0; k < points.size(); ++k)
    text += (k ? ", " : "") + Fmt(points[k].value, decimals) + " " + unit + " (" +
            (points[k].relative ? "+/-" + Fmt(100 * points[k].tolerance, 1) + " %, " : std::string()) +
            std::to_string(points[k].samples) + " samples)";
  return text.empty() ? "none" : text;
}

}  // namespace morvex::import_phase
