#include "tiremodel/CoefficientTable.h"

#include <stdexcept>
#include <unordered_map>
#include <string>

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

constexpr std::array<TCoefficientInfo, kCoefficientCount> kTable = {{
    {"Fz0", TCoefficientGroup::kShared, TCoefficientPage::kAbovePages, TPageColumn::kNone, "edtfz0", "CBFz0",
     "Rated load (Fz0)", "3000", "NOMINAL LOAD", "Fz0", "NOMINAL LOAD", "FZ0", "FZ0"},
    {"PCy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpcy1", "CBpcy1",
     "Shape factor C, PCy1", "1.3", "PARAMETERS FY", "Pcy1", "PARAMETERS FY", "PCY1", "PCY1"},
    {"PDy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpdy1", "CBpdy1",
     "Peak value D, PDy1", "1", "PARAMETERS FY", "Pdy1", "PARAMETERS FY", "PDY1", "PDY1"},
    {"PDy2", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpdy2", "CBpdy2",
     "Peak value D, PDy2", "0", "PARAMETERS FY", "Pdy2", "PARAMETERS FY", "PDY2", "PDY2"},
    {"PDy3", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpdy3", "CBpdy3",
     "Peak value D, PDy3", "0", "PARAMETERS FY", "Pdy3", "PARAMETERS FY", "PDY3", "PDY3"},
    {"PEy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpey1", "CBpey1",
     "Curvature factor E, PEy1", "-1", "PARAMETERS FY", "Pey1", "PARAMETERS FY", "PEY1", "PEY1"},
    {"PEy2", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpey2", "CBpey2",
     "Curvature factor E, PEy2", "0", "PARAMETERS FY", "Pey2", "PARAMETERS FY", "PEY2", "PEY2"},
    {"PEy3", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpey3", "CBpey3",
     "Curvature factor E, PEy3", "0", "PARAMETERS FY", "Pey3", "PARAMETERS FY", "PEY3", "PEY3"},
    {"PEy4", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpey4", "CBpey4",
     "Curvature factor E, PEy4", "0", "PARAMETERS FY", "Pey4", "PARAMETERS FY", "PEY4", "PEY4"},
    {"PKy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpky1", "CBpky1",
     "Cornering stifness BCD (K), PKy1", "10", "PARAMETERS FY", "Pky1", "PARAMETERS FY", "PKY1", "PKY1"},
    {"PKy2", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpky2", "CBpky2",
     "Cornering stifness BCD (K), PKy2", "1.5", "PARAMETERS FY", "Pky2", "PARAMETERS FY", "PKY2", "PKY2"},
    {"PKy3", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtpky3", "CBpky3",
     "Cornering stifness BCD (K), PKy3", "0", "PARAMETERS FY", "Pky3", "PARAMETERS FY", "PKY3", "PKY3"},
    {"PHy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtphy1", "CBphy1",
     "Horizontal shift Sh, PHy1", "0", "PARAMETERS FY", "Phy1", "PARAMETERS FY", "PHY1", "PHY1"},
    {"PHy2", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtphy2", "CBphy2",
     "Horizontal shift Sh, PHy2", "0", "PARAMETERS FY", "Phy2", "PARAMETERS FY", "PHY2", "PHY2"},
    {"PHy3", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kLeft, "edtphy3", "CBphy3",
     "Horizontal shift Sh, PHy3", "0.25", "PARAMETERS FY", "Phy3", "PARAMETERS FY", "PHY3", "PHY3"},
    {"PVy1", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kRight, "edtpvy1", "CBpvy1",
     "Vertical shift Sv, PVy1", "0", "PARAMETERS FY", "Pvy1", "PARAMETERS FY", "PVY1", "PVY1"},
    {"PVy2", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kRight, "edtpvy2", "CBpvy2",
     "Vertical shift Sv, PVy2", "0", "PARAMETERS FY", "Pvy2", "PARAMETERS FY", "PVY2", "PVY2"},
    {"PVy3", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kRight, "edtpvy3", "CBpvy3",
     "Vertical shift Sv, PVy3", "0.15", "PARAMETERS FY", "Pvy3", "PARAMETERS FY", "PVY3", "PVY3"},
    {"PVy4", TCoefficientGroup::kLateral, TCoefficientPage::kLateral, TPageColumn::kRight, "edtpvy4", "CBpvy4",
     "Vertical shift Sv, PVy4", "0", "PARAMETERS FY", "Pvy4", "PARAMETERS FY", "PVY4", "PVY4"},
    {"PCx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpcx1", "CBPCx1",
     "Shape factor C, PCx1", "0", "PARAMETERS FX", "PCx1", "PARAMETERS FX", "PCX1", "PCX1"},
    {"PDx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpdx1", "CBPDx1",
     "Peak value D, PDx1", "0", "PARAMETERS FX", "PDx1", "PARAMETERS FX", "PDX1", "PDX1"},
    {"PDx2", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpdx2", "CBPDx2",
     "Peak value D, PDx2", "0.25", "PARAMETERS FX", "PDx2", "PARAMETERS FX", "PDX2", "PDX2"},
    {"PDx3", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpdx3", "CBPDx3",
     "Peak value D, PDx3", "0.25", "PARAMETERS FX", "PDx3", "PARAMETERS FX", "PDX3", "PDX3"},
    {"PEx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpex1", "CBPEx1",
     "Curvature factor E, PEx1", "0", "PARAMETERS FX", "PEx1", "PARAMETERS FX", "PEX1", "PEX1"},
    {"PEx2", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpex2", "CBPEx2",
     "Curvature factor E, PEx2", "0", "PARAMETERS FX", "PEx2", "PARAMETERS FX", "PEX2", "PEX2"},
    {"PEx3", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpex3", "CBPEx3",
     "Curvature factor E, PEx3", "0.15", "PARAMETERS FX", "PEx3", "PARAMETERS FX", "PEX3", "PEX3"},
    {"PEx4", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpex4", "CBPEx4",
     "Curvature factor E, PEx4", "0", "PARAMETERS FX", "PEx4", "PARAMETERS FX", "PEX4", "PEX4"},
    {"PKx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpkx1", "CBPKx1",
     "Cornering stifness BCD (K), PKx1", "1", "PARAMETERS FX", "PKx1", "PARAMETERS FX", "PKX1", "PKX1"},
    {"PKx2", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpkx2", "CBPKx2",
     "Cornering stifness BCD (K), PKx2", "0", "PARAMETERS FX", "PKx2", "PARAMETERS FX", "PKX2", "PKX2"},
    {"PKx3", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpkx3", "CBPKx3",
     "Cornering stifness BCD (K), PKx3", "0", "PARAMETERS FX", "PKx3", "PARAMETERS FX", "PKX3", "PKX3"},
    {"PHx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtphx1", "CBPHx1",
     "Horizontal shift Sh, PHx1", "1.3", "PARAMETERS FX", "PHx1", "PARAMETERS FX", "PHX1", "PHX1"},
    {"PHx2", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtphx2", "CBPHx2",
     "Horizontal shift Sh, PHx2", "-1", "PARAMETERS FX", "PHx2", "PARAMETERS FX", "PHX2", "PHX2"},
    {"PVx1", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpvx1", "CBPVx1",
     "Vertical shift Sv, PVx1", "0", "PARAMETERS FX", "PVx1", "PARAMETERS FX", "PVX1", "PVX1"},
    {"PVx2", TCoefficientGroup::kLongitudinal, TCoefficientPage::kLongitudinal, TPageColumn::kSingle, "edtpvx2", "CBPVx2",
     "Vertical shift Sv, PVx2", "0", "PARAMETERS FX", "PVx2", "PARAMETERS FX", "PVX2", "PVX2"},
    {"QBz1", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz1", "CBqbz1",
     "Stiffness factor B, QBz1", "1", "PARAMETERS Mz", "QBz1", "PARAMETERS MZ", "QBZ1", "QBZ1"},
    {"QBz2", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz2", "CBqbz2",
     "Stiffness factor B, QBz2", "0", "PARAMETERS Mz", "QBz2", "PARAMETERS MZ", "QBZ2", "QBZ2"},
    {"QBz3", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz3", "CBqbz3",
     "Stiffness factor B, QBz3", "0", "PARAMETERS Mz", "QBz3", "PARAMETERS MZ", "QBZ3", "QBZ3"},
    {"QBz4", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz4", "CBqbz4",
     "Stiffness factor B, QBz4", "0", "PARAMETERS Mz", "QBz4", "PARAMETERS MZ", "QBZ4", "QBZ4"},
    {"QBz5", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz5", "CBqbz5",
     "Stiffness factor B, QBz5", "0", "PARAMETERS Mz", "QBz5", "PARAMETERS MZ", "QBZ5", "QBZ5"},
    {"QBz9", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz9", "CBqbz9",
     "Stiffness factor B, QBz9", "0", "PARAMETERS Mz", "QBz9", "PARAMETERS MZ", "QBZ9", "QBZ9"},
    {"QBz10", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqbz10", "CBqbz10",
     "Stiffness factor B, QBz10", "0", "PARAMETERS Mz", "QBz10", "PARAMETERS MZ", "QBZ10", "QBZ10"},
    {"QDz1", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz1", "CBqdz1",
     "Peak value D, QDz1", "-0.1", "PARAMETERS Mz", "QDz1", "PARAMETERS MZ", "QDZ1", "QDZ1"},
    {"QDz2", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz2", "CBqdz2",
     "Peak value D, QDz2", "0.01", "PARAMETERS Mz", "QDz2", "PARAMETERS MZ", "QDZ2", "QDZ2"},
    {"QDz3", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz3", "CBqdz3",
     "Peak value D, QDz3", "0", "PARAMETERS Mz", "QDz3", "PARAMETERS MZ", "QDZ3", "QDZ3"},
    {"QDz4", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz4", "CBqdz4",
     "Peak value D, QDz4", "0", "PARAMETERS Mz", "QDz4", "PARAMETERS MZ", "QDZ4", "QDZ4"},
    {"QDz6", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz6", "CBqdz6",
     "Peak value D, QDz6", "0", "PARAMETERS Mz", "QDz6", "PARAMETERS MZ", "QDZ6", "QDZ6"},
    {"QDz7", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz7", "CBqdz7",
     "Peak value D, QDz7", "0", "PARAMETERS Mz", "QDz7", "PARAMETERS MZ", "QDZ7", "QDZ7"},
    {"QDz8", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz8", "CBqdz8",
     "Peak value D, QDz8", "0", "PARAMETERS Mz", "QDz8", "PARAMETERS MZ", "QDZ8", "QDZ8"},
    {"QDz9", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kLeft, "edtqdz9", "CBqdz9",
     "Peak value D, QDz9", "0", "PARAMETERS Mz", "QDz9", "PARAMETERS MZ", "QDZ9", "QDZ9"},
    {"QEz1", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqez1", "CBqez1",
     "Curvature factor E, QEz1", "0", "PARAMETERS Mz", "QEz1", "PARAMETERS MZ", "QEZ1", "QEZ1"},
    {"QEz2", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqez2", "CBqez2",
     "Curvature factor E, QEz2", "0", "PARAMETERS Mz", "QEz2", "PARAMETERS MZ", "QEZ2", "QEZ2"},
    {"QEz3", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqez3", "CBqez3",
     "Curvature factor E, QEz3", "0", "PARAMETERS Mz", "QEz3", "PARAMETERS MZ", "QEZ3", "QEZ3"},
    {"QEz4", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqez4", "CBqez4",
     "Curvature factor E, QEz4", "0", "PARAMETERS Mz", "QEz4", "PARAMETERS MZ", "QEZ4", "QEZ4"},
    {"QEz5", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqez5", "CBqez5",
     "Curvature factor E, QEz5", "0", "PARAMETERS Mz", "QEz5", "PARAMETERS MZ", "QEZ5", "QEZ5"},
    {"QHz1", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqhz1", "CBqhz1",
     "Horizontal shift Sh, QHz1", "0.01", "PARAMETERS Mz", "QHz1", "PARAMETERS MZ", "QHZ1", "QHZ1"},
    {"QHz2", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqhz2", "CBqhz2",
     "Horizontal shift Sh, QHz2", "-0.01", "PARAMETERS Mz", "QHz2", "PARAMETERS MZ", "QHZ2", "QHZ2"},
    {"QHz3", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqhz3", "CBqhz3",
     "Horizontal shift Sh, QHz3", "0", "PARAMETERS Mz", "QHz3", "PARAMETERS MZ", "QHZ3", "QHZ3"},
    {"QHz4", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqhz4", "CBqhz4",
     "Horizontal shift Sh, QHz4", "0", "PARAMETERS Mz", "QHz4", "PARAMETERS MZ", "QHZ4", "QHZ4"},
    {"QCz1", TCoefficientGroup::kAligning, TCoefficientPage::kAligning, TPageColumn::kRight, "edtqcz1", "CBqcz1",
     "Shape factor C, QCz1", "10", "PARAMETERS Mz", "QCz1", "PARAMETERS MZ", "QCZ1", "QCZ1"},
    {"R0", TCoefficientGroup::kShared, TCoefficientPage::kAligning, TPageColumn::kRight, "edtr0", "",
     "Unloaded Tire radius ", "0.3", "TIRE RADIUS", "R0", "TIRE RADIUS", "R0", ""},
}};

constexpr std::string_view kLateralOrder[] = {
    "Fz0",  "PCy1", "PDy1", "PDy2", "PDy3", "PEy1", "PEy2", "PEy3", "PEy4", "PKy1",
    "PKy2", "PKy3", "PHy1", "PHy2", "PHy3", "PVy1", "PVy2", "PVy3", "PVy4"};

constexpr std::string_view kAligningOrder[] = {
    "QBz1", "QBz2", "QBz3", "QBz4", "QBz5", "QBz9", "QBz10", "QDz1", "QDz2",
    "QDz3", "QDz4", "QDz6", "QDz7", "QDz8", "QDz9", "QEz1",  "QEz2", "QEz3",
    "QEz4", "QEz5", "QHz1", "QHz2", "QHz3", "QHz4", "QCz1"};

constexpr std::string_view kLongitudinalOrder[] = {
    "Fz0",  "PCx1", "PDx1", "PDx2", "PDx3", "PEx1", "PEx2", "PEx3",
    "PEx4", "PKx1", "PKx2", "PKx3", "PHx1", "PHx2", "PVx1", "PVx2"};

constexpr std::string_view kFileOrder[] = {
    "R0",   "Fz0",
    "PHy1", "PHy2", "PHy3", "PVy1", "PVy2", "PVy3", "PVy4", "PDy1", "PDy2", "PDy3",
    "PCy1", "PEy1", "PEy2", "PEy3", "PEy4", "PKy1", "PKy2", "PKy3",
    "PCx1", "PDx1", "PDx2", "PDx3", "PEx1", "PEx2", "PEx3", "PEx4", "PKx1", "PKx2",
    "PKx3", "PHx1", "PHx2", "PVx1", "PVx2",
    "QBz1", "QBz2", "QBz3", "QBz4", "QBz5", "QBz9", "QBz10", "QDz1", "QDz2", "QDz3",
    "QDz4", "QDz6", "QDz7", "QDz8", "QDz9", "QEz1", "QEz2",  "QEz3", "QEz4", "QEz5",
    "QHz1", "QHz2", "QHz3", "QHz4", "QCz1"};

}  // namespace

std::span<const TCoefficientInfo, kCoefficientCount> Coefficients() { return kTable; }

int FindCoefficient(std::string_view name) {
  for (int i = 0; i < kCoefficientCount; ++i)
    if (SameAsciiText(kTable[static_cast<size_t>(i)].name, name)) return i;
  return -1;
}

namespace {
// Exact-name index of the table, built once: sets and fits look a hundred
// names up per file read, and a linear scan made that quadratic.
std::unordered_map<std::string_view, int> MakeNameIndex() {
  std::unordered_map<std::string_view, int> index;
  for (int i = 0; i < kCoefficientCount; ++i) index.emplace(kTable[static_cast<size_t>(i)].name, i);
  return index;
}
}  // namespace

int ExactCoefficientIndex(std::string_view name) {
  static const std::unordered_map<std::string_view, int> index = MakeNameIndex();
  const auto it = index.find(name);
  return it != index.end() ? it->second : -1;
}

const TCoefficientInfo& Coefficient(std::string_view name) {
  const int i = ExactCoefficientIndex(name);
  if (i < 0) throw std::out_of_range("unknown coefficient " + std::string(name));
  return kTable[static_cast<size_t>(i)];
}

std::span<const std::string_view> LateralFreeOrder() { return kLateralOrder; }
std::span<const std::string_view> AligningFreeOrder() { return kAligningOrder; }
std::span<const std::string_view> LongitudinalFreeOrder() { return kLongitudinalOrder; }
std::span<const std::string_view> FileOrder() { return kFileOrder; }

namespace {

constexpr const char* kLongitudinalSection = "LONGITUDINAL_COEFFICIENTS";
constexpr const char* kLateralSection = "LATERAL_COEFFICIENTS";
constexpr const char* kAligningSection = "ALIGNING_COEFFICIENTS";
constexpr const char* kOverturningSection = "OVERTURNING_COEFFICIENTS";
constexpr const char* kRollingSection = "ROLLING_COEFFICIENTS";

constexpr std::array<TCombinedCoefficientInfo, kCombinedCoefficientCount> kCombinedTable{{
    {"RBX1", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"RBX2", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"RCX1", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"REX1", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"REX2", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"RHX1", TCombinedCoefficientPage::kFx, kLongitudinalSection, 1},
    {"RBY1", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RBY2", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RBY3", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RCY1", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"REY1", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"REY2", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RHY1", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RHY2", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    // The induced side force SVyk turns with Fy.
    {"RVY1", TCombinedCoefficientPage::kFy, kLateralSection, -1},
    {"RVY2", TCombinedCoefficientPage::kFy, kLateralSection, -1},
    {"RVY3", TCombinedCoefficientPage::kFy, kLateralSection, -1},
    {"RVY4", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RVY5", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    {"RVY6", TCombinedCoefficientPage::kFy, kLateralSection, 1},
    // The arm s of Fx turns with Mz, except its share of Fy, which turns with both.
    {"SSZ1", TCombinedCoefficientPage::kMz, kAligningSection, -1},
    {"SSZ2", TCombinedCoefficientPage::kMz, kAligningSection, 1},
    {"SSZ3", TCombinedCoefficientPage::kMz, kAligningSection, -1},
    {"SSZ4", TCombinedCoefficientPage::kMz, kAligningSection, -1},
    // Mx keeps its sign; its share of Fy turns with Fy.
    {"QSX1", TCombinedCoefficientPage::kMx, kOverturningSection, 1},
    {"QSX2", TCombinedCoefficientPage::kMx, kOverturningSection, 1},
    {"QSX3", TCombinedCoefficientPage::kMx, kOverturningSection, -1},
    {"QSY1", TCombinedCoefficientPage::kMy, kRollingSection, 1},
    {"QSY2", TCombinedCoefficientPage::kMy, kRollingSection, 1},
    {"QSY3", TCombinedCoefficientPage::kMy, kRollingSection, 1},
    {"QSY4", TCombinedCoefficientPage::kMy, kRollingSection, 1},
}};

}  // namespace

std::span<const TCombinedCoefficientInfo, kCombinedCoefficientCount> CombinedCoefficientTable() {
  return kCombinedTable;
}

const TCombinedCoefficientInfo* FindCombinedCoefficient(std::string_view name) {
  for (const TCombinedCoefficientInfo& info : kCombinedTable)
    if (info.name == name) return &info;
  return nullptr;
}

}  // namespace morvex
