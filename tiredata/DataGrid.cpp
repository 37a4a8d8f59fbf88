#include "tiredata/DataGrid.h"

#include "numerics/LxBasics.h"

namespace morvex {

TGridView BuildGridView(const TLoadCase* load_case) {
  TGridView view;
  if (load_case == nullptr) {
    view.cells = {{std::string(kGridCornerText)}};
    return view;
  }
  const size_t loads = load_case->LoadCount();
  const size_t rows = load_case->RowCount();
  view.col_count = static_cast<int>(loads + 1);
  view.row_count = static_cast<int>(rows + 1);
  view.cells.assign(rows + 1, std::vector<std::string>(loads + 1));
  view.cells[0][0] = kGridCornerText;
  for (size_t j = 0; j < loads; ++j) view.cells[0][j + 1] = FloatToStr(load_case->Loads[j]);
  for (size_t r = 0; r < rows; ++r) {
    std::vector<std::string>& line = view.cells[r + 1];
    line[0] = FloatToStr(load_case->Slips[r]);
    for (size_t j = 0; j < loads; ++j) line[j + 1] = FloatToStr(load_case->Value(r, j));
  }
  return view;
}

const TLoadCase* CaseAt(const TTireDataSet& data, int case_index) {
  if (case_index < 0 || case_index >= data.CaseCount()) return nullptr;
  return &data.Cases[static_cast<size_t>(case_index)];
}

std::vector<std::string> CamberItems(const TTireDataSet& data) {
  std::vector<std::string> items;
  items.reserve(data.Cases.size());
  for (const TLoadCase& load_case : data.Cases) items.push_back(FloatToStr(load_case.Camber));
  return items;
}

bool StoreGridEdit(TTireDataSet& data, int case_index, int col, int row, std::string_view text) {
  if (case_index < 0 || case_index >= data.CaseCount()) return false;
  TLoadCase& load_case = data.Cases[static_cast<size_t>(case_index)];
  if (col < 1 || row < 1) return false;
  const auto load = static_cast<size_t>(col - 1);
  const auto slip = static_cast<size_t>(row - 1);
  if (load >= load_case.LoadCount() || slip >= load_case.RowCount()) return false;
  if (text.empty()) return false;
  load_case.Value(slip, load) = StrToFloat(text);
  return true;
}

}  // namespace morvex
