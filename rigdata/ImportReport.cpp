// The import report as text.
#include <cmath>

#include "rigdata/ImportPhases.h"

namespace morvex {

using import_phase::Fmt;
using import_phase::SetPointList;

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
  if (!r.warmup.empty()) out += "Warm-up: " + r.warmup + "\n";
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
  for (const std::string& note : r.setpoint_notes) out += "Set-point note: " + note + "\n";
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
  if (std::isfinite(r.nominal_load) || std::isfinite(r.unloaded_radius))
    out += "The file gives: rated load (FNOMIN) " + (std::isfinite(r.nominal_load) ? Fmt(r.nominal_load, 1) + " N" : std::string("none")) +
           ", unloaded radius (RFREE) " + (std::isfinite(r.unloaded_radius) ? Fmt(r.unloaded_radius, 4) + " m" : std::string("none")) + "\n";
  if (std::isfinite(r.suggested_fz0))
    out += "Suggested Fz0: " + Fmt(r.suggested_fz0, 1) + " N (" + r.suggested_fz0_source + ")" +
           (std::isfinite(r.suggested_r0) ? ", suggested R0: " + Fmt(r.suggested_r0, 4) + " m (RFREE of the file)" : "") + "\n";
  for (const std::string& w : r.warnings) out += "Warning: " + w + "\n";
  if (!r.empty_reason.empty()) out += "Nothing usable remains: " + r.empty_reason + "\n";
  return out;
}

}  // namespace morvex
