// Published tires with combined-slip coefficients (testing/data/combined-slip,
// each file naming its source), for the tests of the combined-slip model.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tiremodel/CombinedSlipKernels.h"
#include "tiremodel/MagicFormula.h"

namespace morvex::test {

inline const std::string kCombinedDataDir = std::string(MORVEX_SOURCE_DIR) + "/testing/data/combined-slip/";

inline std::string TireKeyUpper(std::string s) {
  for (char& ch : s)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return s;
}

inline std::string TireLineTrim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  const size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// A published tire: every coefficient the combined model reads.
struct Tire {
  std::string stem;
  TLateralCoefficients lat;
  TAligningCoefficients ali;
  TLongitudinalCoefficients lon;
  TCombinedCoefficients comb;
  double r0 = 0.0;
  double longvl = 0.0;
};

// Reads a coefficient file of testing/data/combined-slip ([sections],
// key=value, ';' comments) and fails the test when a coefficient is missing.
inline Tire LoadTire(const std::string& stem) {
  std::ifstream in(kCombinedDataDir + stem + ".txt");
  EXPECT_TRUE(in) << stem;
  std::map<std::string, double> values;
  std::string line;
  while (std::getline(in, line)) {
    line = TireLineTrim(line);
    if (line.empty() || line[0] == ';' || line[0] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values[TireKeyUpper(TireLineTrim(line.substr(0, eq)))] = std::stod(line.substr(eq + 1));
  }
  auto get = [&](const std::string& name) {
    const auto it = values.find(TireKeyUpper(name));
    EXPECT_NE(it, values.end()) << stem << " lacks " << name;
    return it == values.end() ? 0.0 : it->second;
  };
  Tire t;
  t.stem = stem;
#define MORVEX_GET_LAT(name) t.lat.name = get(#name);
  MORVEX_LATERAL_COEFFICIENTS(MORVEX_GET_LAT)
#undef MORVEX_GET_LAT
#define MORVEX_GET_ALI(name) t.ali.name = get(#name);
  MORVEX_ALIGNING_COEFFICIENTS(MORVEX_GET_ALI)
#undef MORVEX_GET_ALI
#define MORVEX_GET_LON(name) t.lon.name = get(#name);
  MORVEX_LONGITUDINAL_COEFFICIENTS(MORVEX_GET_LON)
#undef MORVEX_GET_LON
#define MORVEX_GET_COMB(name) t.comb.*CombinedMember(#name) = get(#name);
  MORVEX_COMBINED_COEFFICIENTS(MORVEX_GET_COMB)
#undef MORVEX_GET_COMB
  t.r0 = get("R0");
  t.longvl = get("LONGVL");
  return t;
}

inline const std::vector<std::string> kCombinedTires = {"car-185-80R14", "military-37x12.5R16.5", "suv-265-70R18",
                                         "car-245-40R18-opentire"};

}  // namespace morvex::test
