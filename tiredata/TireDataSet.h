// The measured tire data: one channel (lateral force, aligning moment or
// longitudinal force) over slip, one load case per camber block of the data
// file.  There is one data set in the program; a load replaces it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvex {

// One "LOAD_CASE" block: L loads (columns) and R slips (rows).
struct TLoadCase {
  double Camber = 0.0;         // camber angle, degrees
  std::vector<double> Loads;   // L vertical loads, in the unit of Fz0
  std::vector<double> Slips;   // R slip values (degrees of slip angle, or slip ratio)
  std::vector<double> Values;  // R x L measured values, row-major

  size_t LoadCount() const { return Loads.size(); }
  size_t RowCount() const { return Slips.size(); }
  // The measured value at Slips[row] and Loads[load]; both 0-based.
  double Value(size_t row, size_t load) const { return Values[row * Loads.size() + load]; }
  double& Value(size_t row, size_t load) { return Values[row * Loads.size() + load]; }
};

struct TTireDataSet {
  std::vector<TLoadCase> Cases;  // file order

  int32_t CaseCount() const { return static_cast<int32_t>(Cases.size()); }
  bool Empty() const { return Cases.empty(); }
};

}  // namespace morvex
