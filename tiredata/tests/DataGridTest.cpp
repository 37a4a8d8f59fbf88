#include "tiredata/DataGrid.h"

#include <gtest/gtest.h>

#include "numerics/LxBasics.h"
#include "numerics/LxTypes.h"
#include "tiredata/TireDataFile.h"

namespace morvex {
namespace {

using Row = std::vector<std::string>;

TTireDataSet Sample() {
  return ParseTireDataText(
      "LOAD_CASE 1\n0\n2000;4000;6000\n"
      "-10;-1850;-3400;-4700\n0;20;35;50\n10;1890;3450.25;4760\n"
      "LOAD_CASE 2\n-2.5\n1500\n"
      "LOAD_CASE 3\n0\n\n0.125\n0.25\n");
}

TEST(BuildGridView, ShowsHeadersAndValuesInGeneralFormat) {
  const TTireDataSet data = Sample();
  const TGridView view = BuildGridView(CaseAt(data, 0));
  EXPECT_EQ(view.col_count, 4);
  EXPECT_EQ(view.row_count, 4);
  ASSERT_EQ(view.cells.size(), 4u);
  EXPECT_EQ(view.cells[0], (Row{"angle/load", "2000", "4000", "6000"}));
  EXPECT_EQ(view.cells[1], (Row{"-10", "-1850", "-3400", "-4700"}));
  EXPECT_EQ(view.cells[3], (Row{"10", "1890", "3450.25", "4760"}));
  EXPECT_FALSE(view.Editable(0, 1));
  EXPECT_FALSE(view.Editable(1, 0));
  EXPECT_TRUE(view.Editable(3, 3));
  EXPECT_FALSE(view.Editable(4, 3));

  SetDecimalSeparator(',');
  const TGridView comma = BuildGridView(CaseAt(data, 0));
  SetDecimalSeparator('.');
  EXPECT_EQ(comma.Cell(2, 3), "3450,25");
}

TEST(BuildGridView, CasesWithoutRowsOrLoadsAndNoCase) {
  const TTireDataSet data = Sample();
  const TGridView header_only = BuildGridView(CaseAt(data, 1));
  EXPECT_EQ(header_only.col_count, 2);
  EXPECT_EQ(header_only.row_count, 1);
  EXPECT_EQ(header_only.cells, (std::vector<Row>{{"angle/load", "1500"}}));

  const TGridView slips_only = BuildGridView(CaseAt(data, 2));
  EXPECT_EQ(slips_only.col_count, 1);
  EXPECT_EQ(slips_only.row_count, 3);
  EXPECT_EQ(slips_only.cells, (std::vector<Row>{{"angle/load"}, {"0.125"}, {"0.25"}}));

  for (int index : {-1, 3, 1000}) {
    EXPECT_EQ(CaseAt(data, index), nullptr);
    const TGridView none = BuildGridView(CaseAt(data, index));
    EXPECT_EQ(none.col_count, 1);
    EXPECT_EQ(none.row_count, 1);
    EXPECT_EQ(none.cells, (std::vector<Row>{{"angle/load"}}));
  }
  EXPECT_EQ(CaseAt(TTireDataSet{}, 0), nullptr);
}

TEST(CamberItems, OneItemPerCaseInOrder) {
  EXPECT_EQ(CamberItems(Sample()), (Row{"0", "-2.5", "0"}));
  EXPECT_EQ(CamberItems(TTireDataSet{}), Row{});
}

TEST(StoreGridEdit, StoresTheValueTheCellShows) {
  TTireDataSet data = Sample();
  // Column 3, row 1: first slip, third load.
  EXPECT_TRUE(StoreGridEdit(data, 0, 3, 1, "1"));
  EXPECT_TRUE(StoreGridEdit(data, 0, 3, 1, "12"));
  EXPECT_TRUE(StoreGridEdit(data, 0, 3, 1, "125"));
  EXPECT_EQ(data.Cases[0].Value(0, 2), 125);
  EXPECT_EQ(data.Cases[0].Values,
            (std::vector<double>{-1850, -3400, 125, 20, 35, 50, 1890, 3450.25, 4760}));
  EXPECT_EQ(BuildGridView(CaseAt(data, 0)).Cell(3, 1), "125");
  EXPECT_TRUE(StoreGridEdit(data, 0, 1, 3, " -7.50 "));
  EXPECT_EQ(BuildGridView(CaseAt(data, 0)).Cell(1, 3), "-7.5");
}

TEST(StoreGridEdit, EmptyTextAndNonNumbers) {
  TTireDataSet data = Sample();
  EXPECT_FALSE(StoreGridEdit(data, 0, 2, 2, ""));
  EXPECT_EQ(data.Cases[0].Value(1, 1), 35);
  try {
    StoreGridEdit(data, 0, 2, 2, "-");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'-' n'est pas une valeur en virgule flottante correcte");
  }
  EXPECT_EQ(data.Cases[0].Value(1, 1), 35);
}

TEST(StoreGridEdit, AddressesOutsideTheCaseDoNothing) {
  TTireDataSet data = Sample();
  const TTireDataSet before = data;
  const struct {
    int case_index, col, row;
  } outside[] = {{-1, 1, 1}, {3, 1, 1}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0},
                 {0, 4, 1},  {0, 1, 4}, {1, 1, 1}, {2, 1, 1}, {0, -5, 2}};
  for (const auto& a : outside) {
    EXPECT_FALSE(StoreGridEdit(data, a.case_index, a.col, a.row, "99")) << a.case_index << a.col << a.row;
    EXPECT_FALSE(StoreGridEdit(data, a.case_index, a.col, a.row, "junk"));
  }
  TTireDataSet empty;
  EXPECT_FALSE(StoreGridEdit(empty, 0, 1, 1, "1"));
  for (size_t k = 0; k < data.Cases.size(); ++k) EXPECT_EQ(data.Cases[k].Values, before.Cases[k].Values);
}

}  // namespace
}  // namespace morvex
