// The coefficient table, the free-coefficient orders checked against it,
// the in-memory coefficient set and the model structs that mirror the orders.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "numerics/LxTypes.h"
#include "tiremodel/CombinedSlipKernels.h"
#include "tiremodel/MagicFormula.h"

namespace morvex {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

std::set<std::string_view> Names(std::span<const std::string_view> order) { return {order.begin(), order.end()}; }

// The names of `group`, with Fz0 when `with_fz0`.
std::set<std::string_view> Group(TCoefficientGroup group, bool with_fz0) {
  std::set<std::string_view> names;
  for (const auto& info : Coefficients())
    if (info.group == group || (with_fz0 && info.name == "Fz0")) names.insert(info.name);
  return names;
}

TEST(CoefficientTable, FreeOrdersHoldTheirGroupsOnce) {
  EXPECT_EQ(LateralFreeOrder().size(), 19u);
  EXPECT_EQ(AligningFreeOrder().size(), 25u);
  EXPECT_EQ(LongitudinalFreeOrder().size(), 16u);
  EXPECT_EQ(Names(LateralFreeOrder()), Group(TCoefficientGroup::kLateral, true));
  EXPECT_EQ(Names(AligningFreeOrder()), Group(TCoefficientGroup::kAligning, false));
  EXPECT_EQ(Names(LongitudinalFreeOrder()), Group(TCoefficientGroup::kLongitudinal, true));
  EXPECT_EQ(Names(FileOrder()).size(), 60u);
  // Each model's coefficient struct has a member for every name of its order.
  for (auto name : LateralFreeOrder()) EXPECT_NE(TLateralCoefficients::Member(name), nullptr) << name;
  for (auto name : AligningFreeOrder()) EXPECT_NE(TAligningCoefficients::Member(name), nullptr) << name;
  for (auto name : LongitudinalFreeOrder()) EXPECT_NE(TLongitudinalCoefficients::Member(name), nullptr) << name;
}

TEST(CoefficientTable, EveryEntryNamesItsControls) {
  std::set<std::string_view> edits;
  for (const auto& info : Coefficients()) {
    edits.insert(info.edit);
    EXPECT_EQ(info.edit, "edt" + Lower(info.name)) << info.name;
    EXPECT_EQ(FindCoefficient(Lower(info.name)), FindCoefficient(info.name));
    if (info.name == "R0") continue;  // no free flag, no search bounds
    EXPECT_EQ(Lower(info.check_box), "cb" + Lower(info.name)) << info.name;
    EXPECT_EQ(Lower(info.bound_stem), Lower(info.name)) << info.name;
  }
  EXPECT_EQ(edits.size(), 60u);
  EXPECT_FALSE(Coefficient("R0").HasFreeFlag());
  EXPECT_EQ(Coefficient("PCy1").check_box, "CBpcy1");
  EXPECT_EQ(Coefficient("PCx1").check_box, "CBPCx1");
  EXPECT_EQ(Coefficient("QBz10").check_box, "CBqbz10");
}

// The combined-slip part of the table holds every coefficient of the
// model once, in the model's order, each on the page of its stage and in
// its property-file section (its prefix tells both).
TEST(CoefficientTable, CombinedEntriesFollowTheModel) {
  std::vector<std::string> model;
#define MORVEX_NAME(name) model.push_back(#name);
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_NAME)
#undef MORVEX_NAME
  const auto table = CombinedCoefficientTable();
  ASSERT_EQ(model.size(), table.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const TCombinedCoefficientInfo& info = table[i];
    EXPECT_EQ(std::string(info.name), model[i]);
    EXPECT_NE(CombinedMember(info.name), nullptr) << info.name;
    EXPECT_EQ(FindCombinedCoefficient(info.name), &info);
    const std::string prefix(info.name.substr(0, 3));
    const char axis = info.name[2];
    const TCombinedCoefficientPage page = prefix == "SSZ"   ? TCombinedCoefficientPage::kMz
                               : prefix == "QSX" ? TCombinedCoefficientPage::kMx
                               : prefix == "QSY" ? TCombinedCoefficientPage::kMy
                               : axis == 'X'     ? TCombinedCoefficientPage::kFx
                                                 : TCombinedCoefficientPage::kFy;
    EXPECT_EQ(info.page, page) << info.name;
    EXPECT_TRUE(info.iso_sign == 1 || info.iso_sign == -1) << info.name;
  }
  EXPECT_EQ(FindCombinedCoefficient("rbx1"), nullptr);
  EXPECT_EQ(FindCombinedCoefficient("PCy1"), nullptr);
}

TEST(TMemoryCoefficientSet, DefaultsTextsAndFlags) {
  TMemoryCoefficientSet set;
  for (auto [name, text] : {std::pair{"PHx1", "1.3"}, {"PHx2", "-1"}, {"PCx1", "0"}, {"PEx1", "0"},
                            {"PCy1", "1.3"}, {"PEy1", "-1"}, {"Fz0", "3000"}, {"R0", "0.3"}})
    EXPECT_EQ(set.Text(name), text) << name;
  for (const auto& info : Coefficients()) EXPECT_EQ(set.Free(info.name), info.name != "R0") << info.name;
  set.SetFree("R0", true);
  EXPECT_FALSE(set.Free("R0"));
  set.SetText("PDy1", "1.30000");
  EXPECT_EQ(set.Text("PDy1"), "1.30000");
  EXPECT_EQ(ReadLateralCoefficients(set).PDy1, 1.3);
  set.SetText("PKy1", "");
  try {
    ReadLateralCoefficients(set);
    FAIL() << "no conversion error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'' n'est pas une valeur en virgule flottante correcte");
  }
}

}  // namespace
}  // namespace morvex
