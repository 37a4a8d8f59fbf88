// The phases of a run import (RawImport.h), in the order ImportRunText
// runs them, and the state they pass along: the mapped columns in the
// import's units and signs, the indices of the samples still alive, the
// set-point each sample belongs to and the report being written.
//
//   ImportMapping.cpp     channels by name, units, the samples read
//   ImportConvention.cpp  the sign convention, chosen or checked
//   ImportFilters.cpp     missing and absurd values, warm-up, time window,
//                         load floor, pressure and speed windows, pure slip,
//                         what the run sweeps
//   ImportSetPoints.cpp   inclination and load set-points, bins
//   ImportSlipGrid.cpp    the common slip grid of each inclination
//   ImportReport.cpp      the report as text
//
// A phase that empties the import sets report.empty_reason and returns
// true; the import then stops and returns what it has.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "rigdata/RawImport.h"

namespace morvex::import_phase {

using TIndex = uint32_t;

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TImportState {
  TImportState(const TRawImportOptions& o, TRawImportResult& r) : options(o), result(r), report(r.report) {}

  const TRawImportOptions& options;
  TRawImportResult& result;
  TImportReport& report;

  // Roles: the swept slip, the other slip, the measured value; `roles` are
  // those read (the required ones first).
  TRunRole swept = TRunRole::kSlipAngle, cross = TRunRole::kSlipRatio, value = TRunRole::kLateralForce;
  std::vector<TRunRole> roles;
  // Roles read besides the channel's own when the file has them (the
  // combined import's moments).
  std::vector<TRunRole> optional_roles;
  // The combined import: the slip angle is held (one more set-point), not
  // filtered to pure slip, and a warm-up is told by the held slip angle too.
  bool combined = false;
  // The convention's slope of the lateral force is taken within this slip
  // angle (deg) and slip ratio (NaN: the pure side-slip limit).
  std::vector<double> slip_angles;                      // held slip angles given (deg); empty: found
  double slip_angle_tolerance = kNaN;                   // deg either side; NaN: found per set-point
  double slope_window = 1.0;
  double slope_ratio_limit = kNaN;
  std::array<long, kRunRoleCount> column_of{};      // header column per role, -1: none
  std::array<double, kRunRoleCount> unit_factor{};  // file unit to the import's
  // Each role's values in the import's units (signed after the convention).
  std::array<std::vector<double>, kRunRoleCount> data;
  size_t rows = 0;

  std::vector<TIndex> alive;       // samples still in, in row order
  size_t dwell_samples = 1;        // samples a held value needs
  std::vector<int> ia_member, load_member;  // set-point per row, -1: none
  // Per (inclination, load) bin, inclination-major: samples, sum of loads, kept.
  std::vector<size_t> bin_count;
  std::vector<double> bin_load_sum;
  std::vector<char> bin_kept;

  bool Has(TRunRole r) const { return column_of[static_cast<size_t>(r)] >= 0; }
  std::vector<double>& Column(TRunRole r) { return data[static_cast<size_t>(r)]; }
  const std::vector<double>* Time() { return Has(TRunRole::kTime) ? &Column(TRunRole::kTime) : nullptr; }
  // Records why nothing is left when nothing is; true when so.
  bool Emptied(std::string reason) {
    if (alive.empty() && report.empty_reason.empty()) report.empty_reason = std::move(reason);
    return alive.empty();
  }
  // Drops the samples for which drop(i) holds, and records the step.
  template <class Drop>
  void Filter(std::string name, std::string limit, Drop&& drop) {
    const size_t before = alive.size();
    alive.erase(std::remove_if(alive.begin(), alive.end(), [&](TIndex i) { return drop(i); }), alive.end());
    report.steps.push_back({std::move(name), std::move(limit), before - alive.size(), alive.size()});
  }
};

// ---- phases
void CheckOptions(const TRawImportOptions& options);
// Maps the channels, reads their samples and converts their units.
void MapChannels(TImportState& state, std::string_view text);
// Warns where a unit row contradicts the values it labels.
void CheckUnitPlausibility(TImportState& state);
// Chooses or checks the sign convention and applies its signs.
void ApplyConvention(TImportState& state);
bool ApplyFilters(TImportState& state);
bool FindSetPoints(TImportState& state);
// Drops a warm-up found in the data (after the set-points are known).
bool DropDetectedWarmup(TImportState& state);
bool BuildSlipGrid(TImportState& state);
// The Fz0 and R0 the import offers (file's values, else the middle load).
void SuggestNominals(TImportState& state);

// ---- set-point search, shared by the pressure and speed windows
// How long a value is held: what a set-point needs besides many samples.
struct TDwell {
  const std::vector<double>* time = nullptr;  // without one, `samples` in a row count
  double seconds = 0;
  size_t samples = 1;
};
// Peaks of the histogram of values[alive] held at least the dwell, at
// least twice the tolerance apart.
std::vector<TImportSetPoint> FindPeaks(const std::vector<double>& values, const std::vector<TIndex>& alive,
                                       double tolerance, size_t min_samples, const TDwell& dwell);

// Set-points found relative to their size and wobble: peaks of the density
// of log(value) (loads) or of the value (inclinations), each with a
// tolerance from the spread held there; what is joined or never held is
// said in `notes`.
std::vector<TImportSetPoint> FindRelativeSetPoints(const std::vector<double>& values,
                                                   const std::vector<TIndex>& alive, const TDwell& dwell,
                                                   std::vector<std::string>& notes, int decimals,
                                                   const char* unit, bool logarithmic);
// The set-point whose own tolerance holds v (the nearest), or -1.
int NearestRelative(const std::vector<TImportSetPoint>& points, double v);
// The (inclination, load) bin of each alive sample (-1: none), from set-points
// found as FindSetPoints finds them, for the warm-up search; nothing is reported.
std::vector<int> TentativeBins(TImportState& state);

// ---- shared helpers
std::string Fmt(double value, int decimals);
double Median(std::vector<double> v);
// The q-quantile (0..1) of v.
double Quantile(std::vector<double> v, double q);
std::string SetPointList(const std::vector<TImportSetPoint>& points, int decimals, const char* unit);
TRunRole SweptRole(TImportChannel channel);
TRunRole CrossRole(TImportChannel channel);
TRunRole ValueRole(TImportChannel channel);

// `v` to six significant digits, the precision of a binned value.
double Significant(double v);
// The polynomial through (x[k], y[k]), k < n (2 or 3 points), at `at`: a
// cell's value carried along the load between neighbouring columns.
double LoadCurve(const double* x, const double* y, size_t n, double at);

}  // namespace morvex::import_phase
