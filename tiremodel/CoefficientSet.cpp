#include "tiremodel/CoefficientSet.h"

#include <stdexcept>

#include "numerics/LxBasics.h"

namespace morvex {

double TCoefficientSet::Value(std::string_view name) const { return StrToFloat(Text(name)); }

void CopyCoefficients(const TCoefficientSet& from, TCoefficientSet& to) {
  for (const TCoefficientInfo& info : Coefficients()) {
    to.SetText(info.name, from.Text(info.name));
    if (info.HasFreeFlag()) to.SetFree(info.name, from.Free(info.name));
  }
}

TMemoryCoefficientSet::TMemoryCoefficientSet() {
  const auto table = Coefficients();
  for (size_t i = 0; i < table.size(); ++i) {
    texts_[i] = std::string(table[i].default_text);
    free_[i] = table[i].HasFreeFlag();
  }
}

size_t TMemoryCoefficientSet::IndexOf(std::string_view name) {
  const int i = ExactCoefficientIndex(name);
  if (i >= 0) return static_cast<size_t>(i);
  throw std::out_of_range("unknown coefficient " + std::string(name));
}

std::string TMemoryCoefficientSet::Text(std::string_view name) const { return texts_[IndexOf(name)]; }

void TMemoryCoefficientSet::SetText(std::string_view name, const std::string& text) {
  texts_[IndexOf(name)] = text;
}

bool TMemoryCoefficientSet::Free(std::string_view name) const { return free_[IndexOf(name)]; }

void TMemoryCoefficientSet::SetFree(std::string_view name, bool free) {
  const size_t i = IndexOf(name);
  if (Coefficients()[i].HasFreeFlag()) free_[i] = free;
}

}  // namespace morvex
