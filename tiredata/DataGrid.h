// What the "Experimental data" grid shows, without any user-interface
// toolkit: the window copies a TGridView into its string grid and passes
// cell edits back through StoreGridEdit.
//
// A load case with L loads and R slips is shown as L + 1 columns by R + 1
// rows.  Row 0 and column 0 are headers (fixed, not editable):
//
//   (0, 0)          "angle/load"
//   (j + 1, 0)      Loads[j]
//   (0, r + 1)      Slips[r]
//   (j + 1, r + 1)  the measured value at Slips[r], Loads[j]
//
// Numbers are in the general format (up to 15 significant digits, trailing
// zeros dropped, process-wide decimal separator).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tiredata/TireDataSet.h"

namespace morvex {

inline constexpr std::string_view kGridCornerText = "angle/load";

struct TGridView {
  int col_count = 1;
  int row_count = 1;
  std::vector<std::vector<std::string>> cells;  // cells[row][col]

  const std::string& Cell(int col, int row) const { return cells[row][col]; }
  // Only data cells may be edited; the header row and column are fixed.
  bool Editable(int col, int row) const {
    return col >= 1 && row >= 1 && col < col_count && row < row_count;
  }
};

// The grid for `load_case`.  With no case (nullptr: nothing loaded, or no
// selector item chosen) the grid is one cell holding the corner text.
TGridView BuildGridView(const TLoadCase* load_case);

// The case `case_index` of `data`, or nullptr when no case has that index
// (-1 is what an empty camber selector reports).
const TLoadCase* CaseAt(const TTireDataSet& data, int case_index);

// The items of the camber selector: each case's camber in the general
// format, in case order (equal cambers give equal items).
std::vector<std::string> CamberItems(const TTireDataSet& data);

// Stores the text the user typed into data cell (col, row) of the grid
// showing case `case_index`, i.e. the measured value Values[row - 1][col - 1].
// Returns true when a value was stored.  Stores nothing and returns false
// when the text is empty or when (case_index, col, row) addresses no data
// cell (no such case, a header cell, beyond the case's table).  A text that
// is not a number raises EConvertError naming it, and the value keeps its
// previous number.  The plot follows an edit whether or not it stored.
bool StoreGridEdit(TTireDataSet& data, int case_index, int col, int row, std::string_view text);

}  // namespace morvex
