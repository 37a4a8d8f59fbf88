#include "files/SignConvention.h"

#include <array>

#include "numerics/LxBasics.h"

namespace morvex {

namespace {

constexpr std::array<std::string_view, 10> kFlipped = {"PKy1", "PVy1", "PVy2", "PVy3",  "PVy4",
                                                       "QBz10", "QDz6", "QDz7", "QDz8", "QDz9"};

}  // namespace

std::optional<TSignConvention> ParseSignConvention(std::string_view text) {
  const std::string lower = AsciiLower(text);
  if (lower == "iso") return TSignConvention::kIso;
  if (lower == "positive-stiffness") return TSignConvention::kPositiveStiffness;
  return std::nullopt;
}

std::string_view SignConventionName(TSignConvention convention) {
  return convention == TSignConvention::kIso ? "iso" : "positive-stiffness";
}

std::string DescribeSignConvention(TSignConvention convention) {
  if (convention == TSignConvention::kIso)
    return "iso (ISO / TYDEX W-axis: positive slip angle gives negative Fy, PKY1 < 0)";
  return "positive-stiffness (positive slip angle gives positive Fy, PKY1 > 0; Fy and Mz are the "
         "negated ISO values)";
}

std::span<const std::string_view> SignFlippedCoefficients() { return kFlipped; }

double SignFactor(std::string_view name) {
  for (std::string_view flipped : kFlipped)
    if (flipped == name) return -1.0;
  return 1.0;
}

TSignConvention ConventionOfSet(const TCoefficientSet& set) {
  double pky1 = 0;
  if (!TryStrToFloat(set.Text("PKy1"), pky1) && !TryStrToFloatPoint(set.Text("PKy1"), pky1)) pky1 = 0;
  return pky1 > 0 ? TSignConvention::kPositiveStiffness : TSignConvention::kIso;
}

}  // namespace morvex
